#pragma once
// The 16 queue slots on Windows: each has its own pass-through record, its
// own OVERLAPPED with a manual-reset event, and the request it serves. A
// transfer is issued with an overlapped SCSI pass-through on a handle kept
// open for the drive while transfers are out; its completion is collected
// with GetOverlappedResult without waiting.
//
// The driver writes the record, the OVERLAPPED and the request's data
// buffer until the transfer completes, so a slot is never given up before
// that: draining waits, abandoning cancels and then waits.
//
// The calls that reach the device go through OverlappedDevice, so that the
// slot handling can be exercised with a fake one.

#include <windows.h>

#include <array>
#include <chrono>
#include <mutex>
#include <string>

#include "platform/windows/scsi_pass_through.h"
#include "transport/device_port.h"

namespace zorv::platform {

class OverlappedDevice {
 public:
  virtual ~OverlappedDevice() = default;
  // CreateFileW for read and write, shared, existing, FILE_FLAG_OVERLAPPED;
  // INVALID_HANDLE_VALUE with the last error set when it fails.
  virtual HANDLE open(const std::string& path) = 0;
  virtual void close(HANDLE handle) = 0;
  // DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT) on `overlapped`, the
  // header as input, header and sense area as output. As DeviceIoControl:
  // TRUE when done at once, else FALSE with the last error set
  // (ERROR_IO_PENDING: issued).
  virtual BOOL passThrough(HANDLE handle, ScsiPassThroughRecord& record, OVERLAPPED& overlapped) = 0;
  // CancelIoEx for this transfer.
  virtual BOOL cancel(HANDLE handle, OVERLAPPED& overlapped) = 0;
};

// The real calls.
class SystemOverlappedDevice final : public OverlappedDevice {
 public:
  HANDLE open(const std::string& path) override;
  void close(HANDLE handle) override;
  BOOL passThrough(HANDLE handle, ScsiPassThroughRecord& record, OVERLAPPED& overlapped) override;
  BOOL cancel(HANDLE handle, OVERLAPPED& overlapped) override;
};

class OverlappedQueue {
 public:
  static constexpr int kSlots = 16;
  // Drives with transfers out at the same time.
  static constexpr size_t kMaxHandles = 8;

  explicit OverlappedQueue(OverlappedDevice& device);
  ~OverlappedQueue();  // abandons what is still out
  OverlappedQueue(const OverlappedQueue&) = delete;
  OverlappedQueue& operator=(const OverlappedQueue&) = delete;

  // The DevicePort queue operations (see transport/device_port.h).
  IoOutcome submit(const std::string& path, int slot, ScsiRequest& request);
  SlotState poll(int slot);
  void wait(std::chrono::milliseconds timeout);
  void drain();
  void abandon();

  // Handles kept open (for tests: they are closed when the queue ends).
  size_t openHandles() const;

 private:
  enum class State : uint8_t { Idle, InFlight, Complete };
  struct Slot {
    State state = State::Idle;
    ScsiPassThroughRecord record{};
    OVERLAPPED overlapped{};
    HANDLE event = nullptr;
    int handle = -1;  // index into handles_
    ScsiRequest* request = nullptr;
  };
  struct DeviceHandle {
    std::string path;
    HANDLE handle = INVALID_HANDLE_VALUE;
    int users = 0;
  };

  IoOutcome handleFor(const std::string& path, int& index);
  void release(Slot& slot);
  bool collect(Slot& slot, bool wait);
  void finish(Slot& slot, bool ok, DWORD error);
  void waitOut(Slot& slot);
  void closeIdleHandles();

  OverlappedDevice& device_;
  mutable std::mutex mutex_;
  std::array<Slot, kSlots> slots_{};
  std::array<DeviceHandle, kMaxHandles> handles_{};
  bool eventsMade_ = true;
};

}  // namespace zorv::platform
