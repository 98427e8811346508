#include "platform/windows/windows_error.h"

#include "transport/windows_text.h"

namespace zorv::platform {

namespace {

constexpr const char* kNeedsAdministrator = "run as administrator";

}  // namespace

IoOutcome outcomeFromWindowsError(DWORD err, std::string_view what) {
  std::string detail(what);
  if (!detail.empty()) detail += ": ";
  detail += windowsErrorText(err) + " (error " + std::to_string(err) + ")";
  const int code = static_cast<int>(err);
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:  // a USB drive pulled out
      return IoOutcome::failure(IoError::NoDevice, code, detail);
    case ERROR_ACCESS_DENIED:
      return IoOutcome::failure(IoError::PermissionDenied, code, detail + " (" + kNeedsAdministrator + ")");
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
      return IoOutcome::failure(IoError::Busy, code, detail);
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return IoOutcome::failure(IoError::NotSupported, code, detail);
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT:
      return IoOutcome::failure(IoError::Timeout, code, detail);
    default:
      return IoOutcome::failure(IoError::OsFailure, code, detail);
  }
}

}  // namespace zorv::platform
