#include "platform/windows/device_names.h"

namespace zorv::platform {

std::string physicalDriveName(int n) {
  if (n < 0 || n >= kPhysicalDrives) return {};
  return "\\\\.\\PhysicalDrive" + std::to_string(n);
}

std::string volumeName(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return {};
  return std::string("\\\\.\\") + letter + ':';
}

}  // namespace zorv::platform
