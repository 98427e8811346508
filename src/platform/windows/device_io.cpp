#include "platform/windows/device_io.h"

#include "transport/windows_text.h"

namespace zorv::platform {

HANDLE SystemDeviceIo::open(const std::string& path, DWORD share, DWORD flags) {
  return CreateFileW(wideText(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, flags,
                     nullptr);
}

void SystemDeviceIo::close(HANDLE handle) { CloseHandle(handle); }

BOOL SystemDeviceIo::control(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                             DWORD* returned, OVERLAPPED* overlapped) {
  return DeviceIoControl(handle, code, in, inSize, out, outSize, returned, overlapped);
}

BOOL SystemDeviceIo::cancel(HANDLE handle, OVERLAPPED& overlapped) { return CancelIoEx(handle, &overlapped); }

BOOL SystemDeviceIo::flush(HANDLE handle) { return FlushFileBuffers(handle); }

}  // namespace zorv::platform
