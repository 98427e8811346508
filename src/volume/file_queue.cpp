// The queue's bookkeeping, the same on every system; submitting, collecting
// and tearing down are the system's (file_queue_uring.cpp,
// file_queue_windows.cpp).

#include "volume/file_queue.h"

namespace zorv {

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

}  // namespace zorv
