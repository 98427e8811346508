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
// The calls that reach the device go through DeviceIo, so that the slot
// handling can be exercised with a fake driver.

#include <windows.h>

#include <array>
#include <chrono>
#include <mutex>
#include <string>

#include "platform/windows/device_io.h"
#include "platform/windows/scsi_pass_through.h"
#include "transport/device_port.h"

namespace zorv::platform {

class OverlappedQueue {
 public:
  static constexpr int kSlots = 16;
  // Drives with transfers out at the same time.
  static constexpr size_t kMaxHandles = 8;

  explicit OverlappedQueue(DeviceIo& device);
  ~OverlappedQueue();  // abandons what is still out
  OverlappedQueue(const OverlappedQueue&) = delete;
  OverlappedQueue& operator=(const OverlappedQueue&) = delete;

  // The DevicePort queue operations (see transport/device_port.h).
  IoOutcome submit(const std::string& path, int slot, ScsiRequest& request);
  SlotState poll(int slot);
  void wait(std::chrono::milliseconds timeout);
  void drain();
  void abandon();

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

  DeviceIo& device_;
  std::mutex mutex_;
  std::array<Slot, kSlots> slots_{};
  std::array<DeviceHandle, kMaxHandles> handles_{};
  bool eventsMade_ = true;
};

}  // namespace zorv::platform
