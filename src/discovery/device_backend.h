#pragma once
// The device backend a program works on: the simulated drive bay stored in a
// directory (created when missing, `--sim DIR`), or the machine's own drives.
// The window, the one-file updater run without a window and zorvctl all open
// it here, so that `--sim` means the same on every face.

#include <memory>
#include <string>

#include "transport/device_port.h"

namespace zorv {

// The bay in simDir, or the OS backend when simDir is empty. nullptr with
// error set when the backend cannot be used.
std::unique_ptr<DevicePort> openDeviceBackend(const std::string& simDir, std::string& error);

}  // namespace zorv
