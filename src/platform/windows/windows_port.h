#pragma once
// The Windows device backend: physical drives as "\\.\PhysicalDrive%d".

#include <memory>
#include <string>

#include "transport/device_port.h"

namespace zorv::platform {

// nullptr with error when the backend cannot serve this system.
std::unique_ptr<DevicePort> makeWindowsPort(std::string& error);

}  // namespace zorv::platform
