#include "platform/windows/windows_port.h"

namespace zorv::platform {

std::unique_ptr<DevicePort> makeWindowsPort(std::string& error) {
  error = "no Windows device backend in this build: use --sim DIR";
  return nullptr;
}

}  // namespace zorv::platform
