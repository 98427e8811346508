#include "discovery/device_backend.h"

#ifdef _WIN32
#include "platform/windows/windows_port.h"
#else
#include "platform/linux/linux_port.h"
#endif
#include "sim/sim_port.h"

namespace zorv {

std::unique_ptr<DevicePort> openDeviceBackend(const std::string& simDir, std::string& error) {
  if (!simDir.empty()) return sim::openSimPort(simDir, error);
#ifdef _WIN32
  return platform::makeWindowsPort(error);
#else
  return platform::makeLinuxPort(error);
#endif
}

}  // namespace zorv
