#include "discovery/device_backend.h"

#include "platform/linux/linux_port.h"
#include "sim/sim_port.h"

namespace zorv {

std::unique_ptr<DevicePort> openDeviceBackend(const std::string& simDir, std::string& error) {
  if (!simDir.empty()) return sim::openSimPort(simDir, error);
  return platform::makeLinuxPort(error);
}

}  // namespace zorv
