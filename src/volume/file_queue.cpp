// The queue's bookkeeping, the same on every system; submitting, collecting
// and tearing down are the system's (file_queue_uring.cpp,
// file_queue_windows.cpp).

#include "volume/file_queue.h"

#include <new>

namespace zorv {

bool FileQueue::prepareSlots(NativeFile file, size_t slotBytes, std::string& error) {
  try {
    for (AlignedBuffer& b : buffers_) b.reset(slotBytes);
  } catch (const std::bad_alloc&) {
    error = "no memory for the transfer buffers";
    return false;
  }
  fd_ = file;
  abandoned_ = false;
  next_ = 0;
  inFlight_ = 0;
  slots_ = {};
  return true;
}

void FileQueue::finish(int slot, int result) {
  Slot& s = slots_[static_cast<size_t>(slot)];
  if (!s.busy) return;
  s.busy = false;
  --inFlight_;
  Completion c{slot, s.write, s.offset, s.length, 0};
  if (result < 0) {
    c.error = -result;
  } else if (static_cast<uint32_t>(result) != s.length) {
    c.error = kShortTransfer;  // the file ended or the volume filled up
  }
  if (onComplete) onComplete(c);
}

int FileQueue::acquire() {
  if (!ready_) return -1;
  for (;;) {
    if (inFlight_ > 0) collect(false);
    for (int i = 0; i < kSlots; ++i) {
      const int slot = (next_ + i) % kSlots;
      if (!slots_[static_cast<size_t>(slot)].busy) {
        next_ = (slot + 1) % kSlots;
        return slot;
      }
    }
    if (collect(true) < 0) return -1;
  }
}

bool FileQueue::write(int slot, uint64_t offset, uint32_t length) {
  return ready_ && submit(slot, true, offset, length);
}
bool FileQueue::read(int slot, uint64_t offset, uint32_t length) {
  return ready_ && submit(slot, false, offset, length);
}

bool FileQueue::waitAll(int& waitError) {
  waitError = 0;
  while (ready_ && inFlight_ > 0) {
    const int rc = collect(true);
    if (rc < 0) {
      waitError = -rc;
      return false;
    }
  }
  return true;
}

FileQueue::CloseReport FileQueue::close(std::chrono::milliseconds perSlot, std::chrono::milliseconds bound) {
  CloseReport report;
  if (!ready_) return report;
  auto collectCounted = [&](std::chrono::milliseconds timeout) {
    const int before = inFlight_;
    const int rc = collect(true, timeout);
    report.collected += before - inFlight_;
    return rc;
  };
  // Each busy slot gets its own wait, as a window closing slot by slot would.
  for (int slot = 0; slot < kSlots && inFlight_ > 0; ++slot) {
    while (slots_[static_cast<size_t>(slot)].busy)
      if (collectCounted(perSlot) <= 0) break;
    if (slots_[static_cast<size_t>(slot)].busy) ++report.overdue;
  }
  // Then the rest, up to the bound: the buffers must outlive the transfers.
  auto waitUntil = [&](std::chrono::steady_clock::time_point deadline) {
    while (inFlight_ > 0 && std::chrono::steady_clock::now() < deadline)
      if (collectCounted(std::chrono::milliseconds(100)) < 0) break;
  };
  waitUntil(std::chrono::steady_clock::now() + bound);
  if (inFlight_ > 0) {
    cancelInFlight();
    waitUntil(std::chrono::steady_clock::now() + std::chrono::seconds(1));
  }
  if (inFlight_ > 0) {
    // Never answered: the queue and the buffers stay allocated for good.
    report.abandoned = inFlight_;
    for (AlignedBuffer& b : buffers_) new AlignedBuffer(std::move(b));
    teardown(true);
    abandoned_ = true;
  } else {
    teardown(false);
    for (AlignedBuffer& b : buffers_) b.reset(0);
  }
  ready_ = false;
  inFlight_ = 0;
  slots_ = {};
  return report;
}

}  // namespace zorv
