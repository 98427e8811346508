#pragma once
// The system calls the backend makes on a device: open, device I/O
// control (plain or overlapped), cancel, flush, close. They go through this
// interface so that tests can play the driver.

#include <windows.h>

#include <string>

namespace zorv::platform {

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;
  // CreateFileW for read and write, existing, with `share` and `flags`;
  // INVALID_HANDLE_VALUE with the last error set when it fails.
  virtual HANDLE open(const std::string& path, DWORD share, DWORD flags) = 0;
  virtual void close(HANDLE handle) = 0;
  // DeviceIoControl; with `overlapped`, TRUE when done at once, else FALSE
  // with the last error set (ERROR_IO_PENDING: issued).
  virtual BOOL control(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                       OVERLAPPED* overlapped) = 0;
  // CancelIoEx for one transfer.
  virtual BOOL cancel(HANDLE handle, OVERLAPPED& overlapped) = 0;
  virtual BOOL flush(HANDLE handle) = 0;
};

// The real calls.
class SystemDeviceIo final : public DeviceIo {
 public:
  HANDLE open(const std::string& path, DWORD share, DWORD flags) override;
  void close(HANDLE handle) override;
  BOOL control(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
               OVERLAPPED* overlapped) override;
  BOOL cancel(HANDLE handle, OVERLAPPED& overlapped) override;
  BOOL flush(HANDLE handle) override;
};

}  // namespace zorv::platform
