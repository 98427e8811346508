#include "platform/linux/linux_port.h"

namespace zorv::platform {

std::unique_ptr<DevicePort> makeLinuxPort(std::string& error) {
  error = "the Linux device backend is not built yet";
  return nullptr;
}

}  // namespace zorv::platform
