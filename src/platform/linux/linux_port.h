#pragma once
// The Linux device backend: SG_IO on /dev/sdX (ATA commands as SAT ATA
// PASS-THROUGH(16)), bus type from sysfs, queued transfers on /dev/sgN,
// hot plug from udev.

#include <memory>
#include <string>

#include "transport/device_port.h"

namespace zorv::platform {

// Where the backend looks; tests point both at a temporary directory.
struct LinuxPortOptions {
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
};

// Never fails to construct on Linux; error is set when it does.
std::unique_ptr<DevicePort> makeLinuxPort(std::string& error);
std::unique_ptr<DevicePort> makeLinuxPort(const LinuxPortOptions& options, std::string& error);

}  // namespace zorv::platform
