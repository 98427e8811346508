#include "platform/windows/overlapped_queue.h"

#include <algorithm>
#include <climits>

#include "platform/windows/windows_error.h"

namespace zorv::platform {

namespace {

constexpr uint8_t kStatusTaskAborted = 0x40;
// The storage stack ends a command at its time-out; the margin covers its
// error handling before a drained transfer is cancelled.
constexpr DWORD kDrainMarginMs = 30000;

// A transfer that failed below the drive (device gone, cancelled, timed out)
// must not read as GOOD: TASK ABORTED with fixed-format sense ABORTED
// COMMAND, and TIMEOUT ON LOGICAL UNIT (3Eh/02h) for a time-out or a
// transfer given up.
void markAborted(ScsiRequest& request, bool timedOut) {
  request.scsiStatus = kStatusTaskAborted;
  request.bytesTransferred = 0;
  request.sense.fill(0);
  request.sense[0] = 0x70;
  request.sense[2] = 0x0B;
  request.sense[7] = kSenseLength - 8;
  if (timedOut) {
    request.sense[12] = 0x3E;
    request.sense[13] = 0x02;
  }
}

}  // namespace

OverlappedQueue::OverlappedQueue(DeviceIo& device) : device_(device) {
  for (Slot& s : slots_) {
    s.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!s.event) eventsMade_ = false;
  }
}

OverlappedQueue::~OverlappedQueue() {
  abandon();
  for (Slot& s : slots_)
    if (s.event) CloseHandle(s.event);
}

IoOutcome OverlappedQueue::handleFor(const std::string& path, int& index) {
  index = -1;
  for (size_t i = 0; i < handles_.size(); ++i)
    if (handles_[i].handle != INVALID_HANDLE_VALUE && handles_[i].path == path) {
      index = static_cast<int>(i);
      return IoOutcome::success();
    }
  DeviceHandle* free = nullptr;
  for (DeviceHandle& h : handles_)
    if (h.handle == INVALID_HANDLE_VALUE) {
      free = &h;
      break;
    }
  if (!free)
    for (DeviceHandle& h : handles_)
      if (h.users == 0) {
        device_.close(h.handle);
        h.handle = INVALID_HANDLE_VALUE;
        free = &h;
        break;
      }
  if (!free) return IoOutcome::failure(IoError::Busy, 0, "too many drives with queued transfers");
  const HANDLE handle = device_.open(path, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_FLAG_OVERLAPPED);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
    return outcomeFromWindowsError(GetLastError(), "open " + path);
  free->path = path;
  free->handle = handle;
  free->users = 0;
  index = static_cast<int>(free - handles_.data());
  return IoOutcome::success();
}

void OverlappedQueue::release(Slot& slot) {
  if (slot.handle >= 0 && handles_[static_cast<size_t>(slot.handle)].users > 0)
    --handles_[static_cast<size_t>(slot.handle)].users;
  slot.handle = -1;
}

IoOutcome OverlappedQueue::submit(const std::string& path, int slot, ScsiRequest& request) {
  if (slot < 0 || slot >= kSlots)
    return IoOutcome::failure(IoError::NotSupported, 0, "queue slot " + std::to_string(slot) + " is outside 0..15");
  if (path.empty()) return IoOutcome::failure(IoError::NoDevice, ERROR_FILE_NOT_FOUND, "no device path");
  std::lock_guard lock(mutex_);
  if (!eventsMade_) return IoOutcome::failure(IoError::OsFailure, 0, "the queue's events could not be created");
  Slot& s = slots_[static_cast<size_t>(slot)];
  if (s.state != State::Idle)
    return IoOutcome::failure(IoError::Busy, 0, "queue slot " + std::to_string(slot) + " has not been collected yet");

  std::string refusal;
  if (!buildScsiPassThroughDirect(request, s.record, refusal))
    return IoOutcome::failure(IoError::NotSupported, 0, refusal);
  int index = -1;
  if (IoOutcome o = handleFor(path, index); !o.ok()) return o;
  DeviceHandle& h = handles_[static_cast<size_t>(index)];

  ZeroMemory(&s.overlapped, sizeof s.overlapped);
  ResetEvent(s.event);
  s.overlapped.hEvent = s.event;
  s.request = &request;
  s.handle = index;
  ++h.users;
  // The header goes in; header and sense area come back.
  if (device_.control(h.handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &s.record, sizeof s.record.header, &s.record,
                      sizeof s.record, nullptr, &s.overlapped)) {
    // Done at once: the record already holds the outcome.
    readScsiPassThroughDirect(s.record, request);
    s.state = State::Complete;
    release(s);
    return IoOutcome::success();
  }
  const DWORD err = GetLastError();
  if (err == ERROR_IO_PENDING) {
    s.state = State::InFlight;
    return IoOutcome::success();
  }
  // Not issued: nothing of the slot is in the driver's hands.
  s.request = nullptr;
  release(s);
  IoOutcome o = outcomeFromWindowsError(err, "SCSI pass-through on " + path);
  if (o.error == IoError::NoDevice && h.users == 0) {
    device_.close(h.handle);
    h.handle = INVALID_HANDLE_VALUE;
  }
  return o;
}

void OverlappedQueue::finish(Slot& slot, bool ok, DWORD error) {
  if (slot.request) {
    if (ok)
      readScsiPassThroughDirect(slot.record, *slot.request);
    else
      markAborted(*slot.request, error == ERROR_SEM_TIMEOUT || error == ERROR_OPERATION_ABORTED);
  }
  slot.request = nullptr;
  slot.state = State::Idle;
  release(slot);
}

bool OverlappedQueue::collect(Slot& slot, bool wait) {
  DWORD bytes = 0;
  const HANDLE handle = handles_[static_cast<size_t>(slot.handle)].handle;
  if (GetOverlappedResult(handle, &slot.overlapped, &bytes, wait ? TRUE : FALSE)) {
    finish(slot, true, 0);
    return true;
  }
  const DWORD err = GetLastError();
  if (!wait && err == ERROR_IO_INCOMPLETE) return false;
  finish(slot, false, err);
  return true;
}

SlotState OverlappedQueue::poll(int slot) {
  if (slot < 0 || slot >= kSlots) return SlotState::Idle;
  std::lock_guard lock(mutex_);
  Slot& s = slots_[static_cast<size_t>(slot)];
  switch (s.state) {
    case State::Idle: return SlotState::Idle;
    case State::Complete:
      s.state = State::Idle;
      s.request = nullptr;
      return SlotState::Complete;
    case State::InFlight: break;
  }
  return collect(s, false) ? SlotState::Complete : SlotState::InFlight;
}

void OverlappedQueue::wait(std::chrono::milliseconds timeout) {
  std::lock_guard lock(mutex_);
  std::array<HANDLE, kSlots> events{};
  DWORD count = 0;
  for (const Slot& s : slots_) {
    if (s.state == State::Complete) return;
    if (s.state == State::InFlight) events[count++] = s.event;
  }
  if (count == 0) return;
  // INFINITE is a DWORD too: a wait is always bounded here.
  const DWORD ms = static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INFINITE - 1));
  (void)WaitForMultipleObjects(count, events.data(), FALSE, ms);
}

// Waits for one transfer out; when the drive outlives the request's own
// time-out and the margin, cancels it, and waits for the driver to let go.
void OverlappedQueue::waitOut(Slot& slot) {
  const uint64_t bound = uint64_t{slot.record.header.TimeOutValue} * 1000 + kDrainMarginMs;
  const DWORD ms = static_cast<DWORD>(std::min<uint64_t>(bound, INFINITE - 1));
  if (WaitForSingleObject(slot.event, ms) != WAIT_OBJECT_0)
    device_.cancel(handles_[static_cast<size_t>(slot.handle)].handle, slot.overlapped);
  collect(slot, true);
}

void OverlappedQueue::drain() {
  std::lock_guard lock(mutex_);
  for (Slot& s : slots_) {
    if (s.state == State::InFlight) waitOut(s);
    s.state = State::Idle;
    s.request = nullptr;
  }
  closeIdleHandles();
}

void OverlappedQueue::abandon() {
  std::lock_guard lock(mutex_);
  for (Slot& s : slots_)
    if (s.state == State::InFlight && WaitForSingleObject(s.event, 0) != WAIT_OBJECT_0)
      device_.cancel(handles_[static_cast<size_t>(s.handle)].handle, s.overlapped);
  // A cancelled transfer still completes (as cancelled, or done if it was
  // too late to stop): only then are the record and the buffer free.
  for (Slot& s : slots_) {
    if (s.state == State::InFlight) {
      ScsiRequest* request = s.request;
      collect(s, true);
      // Given up: it does not count as done, whatever came back.
      if (request) markAborted(*request, true);
    }
    s.state = State::Idle;
    s.request = nullptr;
  }
  closeIdleHandles();
}

void OverlappedQueue::closeIdleHandles() {
  for (DeviceHandle& h : handles_) {
    if (h.handle == INVALID_HANDLE_VALUE || h.users > 0) continue;
    device_.close(h.handle);
    h.handle = INVALID_HANDLE_VALUE;
  }
}

}  // namespace zorv::platform
