#include "transport/device_port.h"

namespace zorv {

std::string_view ioErrorName(IoError e) {
  switch (e) {
    case IoError::None: return "ok";
    case IoError::NoDevice: return "no device (unplugged? plug it in and scan again)";
#ifdef _WIN32
    case IoError::PermissionDenied: return "permission denied (run as administrator)";
#else
    case IoError::PermissionDenied: return "permission denied (needs root or CAP_SYS_RAWIO)";
#endif
    case IoError::Busy: return "device busy (a mounted file system or another program holds it)";
    case IoError::NotSupported: return "not supported";
    case IoError::OsFailure: return "pass-through failed";
    case IoError::Timeout: return "time-out";
  }
  return "unknown";
}

std::string scsiRequestProblem(const ScsiRequest& request) {
  if (request.cdbLength < 1 || request.cdbLength > request.cdb.size())
    return "SCSI pass-through: CDB length " + std::to_string(request.cdbLength) + " is outside 1..16";
  if (request.dataTransferLength > 0 && request.dataBuffer == nullptr)
    return "SCSI pass-through: " + std::to_string(request.dataTransferLength) +
           " data bytes without a buffer";
  return {};
}

}  // namespace zorv
