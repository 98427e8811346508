#pragma once
// Windows error codes as the transport sees them: the system's own text
// (FormatMessage) and the IoError a service engineer acts on.

#include <windows.h>

#include <string>
#include <string_view>

#include "transport/device_port.h"

namespace zorv::platform {

// The system's message for `err`, without the trailing period and line
// break; "Windows error N" when the system has none.
std::string windowsErrorText(DWORD err);

// GetLastError of CreateFileW or DeviceIoControl:
//   ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
//   ERROR_DEVICE_NOT_CONNECTED                      -> NoDevice
//   ERROR_ACCESS_DENIED                             -> PermissionDenied ("run as administrator")
//   ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION,
//   ERROR_BUSY                                      -> Busy
//   ERROR_NOT_SUPPORTED, ERROR_INVALID_FUNCTION     -> NotSupported
//   ERROR_SEM_TIMEOUT, WAIT_TIMEOUT                 -> Timeout
//   anything else                                   -> OsFailure
// The detail reads "<what>: <system text> (error N)".
IoOutcome outcomeFromWindowsError(DWORD err, std::string_view what);

}  // namespace zorv::platform
