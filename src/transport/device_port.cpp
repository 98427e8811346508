#include "transport/device_port.h"

namespace zorv {

std::string_view ioErrorName(IoError e) {
  switch (e) {
    case IoError::None: return "ok";
    case IoError::NoDevice: return "no device";
    case IoError::PermissionDenied: return "permission denied (needs root or CAP_SYS_RAWIO)";
    case IoError::Busy: return "device busy";
    case IoError::NotSupported: return "not supported";
    case IoError::OsFailure: return "pass-through failed";
    case IoError::Timeout: return "time-out";
  }
  return "unknown";
}

}  // namespace zorv
