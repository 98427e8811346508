#pragma once
// Commands a person starts by hand on "the selected drive" (the console, the
// buffer page, the identify page) first ask whether there is one, so that a
// click with no drive attached says why nothing happened.

#include "transport/context.h"

namespace zorv {

// True when a drive is selected; otherwise writes "No drive is selected" on
// the message pane and returns false.
bool checkDriveSelected(Context& ctx);

}  // namespace zorv
