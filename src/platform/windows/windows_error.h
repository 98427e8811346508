#pragma once
// Windows error codes as the transport sees them: the system's own text
// (FormatMessage) and the IoError a service engineer acts on.

#include <windows.h>

#include <string>
#include <string_view>

#include "transport/device_port.h"
#include "transport/windows_text.h"

namespace zorv::platform {


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
