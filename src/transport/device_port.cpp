#include "transport/device_port.h"

namespace zorv {

std::string_view ioErrorName(IoError e) {
  switch (e) {
    case IoError::None: return "ok";
    case IoError::NoDevice: return "no device (unplugged? plug it in and scan again)";
    case IoError::PermissionDenied: return "permission denied (needs root or CAP_SYS_RAWIO)";
    case IoError::Busy: return "device busy (a mounted file system or another program holds it)";
    case IoError::NotSupported: return "not supported";
    case IoError::OsFailure: return "pass-through failed";
    case IoError::Timeout: return "time-out";
  }
  return "unknown";
}

}  // namespace zorv
