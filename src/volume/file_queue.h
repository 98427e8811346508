#pragma once
// The 16-slot queue of a volume window over its test file: unbuffered
// (O_DIRECT) reads and writes submitted through io_uring, each slot with its
// own aligned buffer and its own result. A transfer takes the next free slot
// round robin; finished transfers are collected first, and when all 16 are
// busy the queue waits for one to finish instead of spinning.
//
// Every finished transfer is handed to the completion callback on the
// worker's thread (a write's error, a read to compare). The queue never lets
// go of a slot's buffer while the kernel may still write into it: close()
// waits for every transfer in flight before the buffers are freed and the
// ring is torn down; a transfer that does not come back within a generous
// bound is abandoned with its buffer kept for good (a small leak, never
// memory handed back while a device may still write it).

#include <liburing.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "transport/aligned_buffer.h"

namespace zorv {

class FileQueue {
 public:
  static constexpr int kSlots = 16;

  struct Completion {
    int slot = 0;
    bool write = false;
    uint64_t offset = 0;
    uint32_t length = 0;
    int error = 0;  // 0, or the errno the transfer failed with (EIO for a short one)
  };

  // What close() met.
  struct CloseReport {
    int collected = 0;    // transfers that finished while close waited
    int overdue = 0;      // slots whose transfer took longer than the per-slot wait
    int abandoned = 0;    // transfers that never came back (buffers kept)
  };

  FileQueue() = default;
  ~FileQueue();
  FileQueue(const FileQueue&) = delete;
  FileQueue& operator=(const FileQueue&) = delete;

  // Sets up the ring over fd and 16 buffers of slotBytes each. False with
  // error when the ring or the buffers cannot be had.
  bool open(int fd, size_t slotBytes, std::string& error);
  bool isOpen() const { return ready_; }

  // Handed every finished transfer, on the thread that calls acquire/wait/close.
  std::function<void(const Completion&)> onComplete;

  // The next free slot (collecting finished transfers; waiting when all are
  // busy); -1 when the ring failed.
  int acquire();
  uint8_t* buffer(int slot) { return buffers_[static_cast<size_t>(slot)].data(); }

  // Submits a transfer of length bytes from/to the slot's buffer. False when
  // it could not be submitted (the completion is then reported at once with
  // the error).
  bool write(int slot, uint64_t offset, uint32_t length);
  bool read(int slot, uint64_t offset, uint32_t length);

  int inFlight() const { return inFlight_; }

  // Waits for every transfer in flight; false when the ring could not wait
  // (the errno in waitError).
  bool waitAll(int& waitError);

  // Waits up to perSlot for each busy slot, then on until `bound` for those
  // still out (a transfer on a device that does not answer), abandons what is
  // left and tears the ring down. Safe to call more than once.
  CloseReport close(std::chrono::milliseconds perSlot, std::chrono::milliseconds bound);

 private:
  struct Slot {
    bool busy = false;
    bool write = false;
    uint64_t offset = 0;
    uint32_t length = 0;
  };
  bool submit(int slot, bool write, uint64_t offset, uint32_t length);
  void finish(int slot, int result);
  // Collects what has finished; with wait, blocks until at least one has
  // (up to timeout when given). Returns the number collected, -errno on a
  // failed wait, 0 on a time-out.
  int collect(bool wait, const __kernel_timespec* timeout = nullptr);

  io_uring ring_{};
  bool ready_ = false;
  bool abandoned_ = false;
  int fd_ = -1;
  std::array<Slot, kSlots> slots_{};
  std::array<AlignedBuffer, kSlots> buffers_{};
  int next_ = 0;
  int inFlight_ = 0;
};

}  // namespace zorv
