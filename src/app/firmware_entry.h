#pragma once
// The firmware update that "FW Update" (and the engineering window's "Update
// Firmware") runs: the package appended to the program's own file. The
// firmware code provides it by registering, in a file of src/app:
//   static zorv::app::FirmwareUpdateRegistrar reg{&runUpdate};
// Without one, or without a package, the update fails and the window
// reports "Download Fail".

#include "transport/context.h"
#include "transport/user_interface.h"

namespace zorv::app {

// Returns false when the update failed; a drive that already runs the
// package's firmware or a newer one is no failure. Runs on the thread the
// window gives it; progress goes to the window's progress bar (range 0-100),
// text to box or the pane.
using FirmwareUpdateEntry = bool (*)(Context& ctx, ProgressSink& progress, MessageSink& box);

struct FirmwareUpdateRegistrar {
  explicit FirmwareUpdateRegistrar(FirmwareUpdateEntry entry);
};

FirmwareUpdateEntry firmwareUpdateEntry();
// Replaces the entry (nullptr: none); returns the one it replaced.
FirmwareUpdateEntry setFirmwareUpdateEntry(FirmwareUpdateEntry entry);
// Runs the registered entry; false when none is registered.
bool runFirmwareUpdate(Context& ctx, ProgressSink& progress, MessageSink& box);

}  // namespace zorv::app
