#pragma once
// The update "FW Update" runs: the package appended to a program file.

#include <string>

#include "transport/context.h"
#include "transport/user_interface.h"

namespace zorv::app {

// Runs the package appended to the file at ownPath for the selected drive.
// False when the update failed; a drive that already runs the package's
// firmware or a newer one ("FW is the Latest") is no failure. A failure the
// download and the row selection do not explain themselves is explained in
// box.
bool runEmbeddedUpdate(Context& ctx, ProgressSink& progress, MessageSink& box, const std::string& ownPath);

}  // namespace zorv::app
