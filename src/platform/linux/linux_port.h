#pragma once
// The Linux device backend: SG_IO on /dev/sdX (ATA commands as SAT ATA
// PASS-THROUGH(16)), bus type from sysfs, queued transfers on /dev/sgN.

#include <memory>
#include <string>

#include "transport/device_port.h"

namespace zorv::platform {

// Never fails to construct on Linux; error is set when it does.
std::unique_ptr<DevicePort> makeLinuxPort(std::string& error);

}  // namespace zorv::platform
