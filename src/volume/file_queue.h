#pragma once
// The 16-slot queue of a volume window over its test file: unbuffered
// reads and writes submitted through io_uring (on Windows: overlapped I/O
// with an event per slot), each slot with its own aligned buffer and its own
// result. A transfer takes the next free slot
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

#ifndef _WIN32
#include <liburing.h>
#endif

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "transport/aligned_buffer.h"
#include "volume/native_file.h"

namespace zorv {

class FileQueue {
 public:
  static constexpr int kSlots = 16;

  struct Completion {
    int slot = 0;
    bool write = false;
    uint64_t offset = 0;
    uint32_t length = 0;
    int error =
        0;  // 0, or the system's error (errno / GetLastError; for a short transfer EIO / ERROR_HANDLE_EOF)
  };

  // What close() met.
  struct CloseReport {
    int collected = 0;  // transfers that finished while close waited
    int overdue = 0;    // slots whose transfer took longer than the per-slot wait
    int abandoned = 0;  // transfers that never came back (buffers kept)
  };

  FileQueue();
  ~FileQueue();
  FileQueue(const FileQueue&) = delete;
  FileQueue& operator=(const FileQueue&) = delete;

  // Sets up the queue over an open file and 16 buffers of slotBytes each.
  // False with error when the queue or the buffers cannot be had.
  bool open(NativeFile file, size_t slotBytes, std::string& error);
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
  static const int kShortTransfer;  // the error of a transfer that moved less than asked
  bool submit(int slot, bool write, uint64_t offset, uint32_t length);
  void finish(int slot, int result);
  // The slots' buffers and bookkeeping for a queue over file; false with
  // error when the buffers cannot be had.
  bool prepareSlots(NativeFile file, size_t slotBytes, std::string& error);
  // Collects what has finished; with wait, blocks until at least one has
  // (up to timeout when given). Returns the number collected, the negated
  // system error of a failed wait, 0 on a time-out.
  int collect(bool wait, std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  // Asks the system to give up the transfers still in flight, where it can.
  void cancelInFlight();
  // Frees the system's side of the queue; with abandon it is kept for good,
  // for transfers that never came back.
  void teardown(bool abandon);
#ifdef _WIN32
  struct OverlappedSlots;  // each slot's OVERLAPPED record and event
  std::unique_ptr<OverlappedSlots> overlapped_;
#else
  io_uring ring_{};
#endif
  bool ready_ = false;
  bool abandoned_ = false;
  NativeFile fd_ = kNoFile;
  std::array<Slot, kSlots> slots_{};
  std::array<AlignedBuffer, kSlots> buffers_{};
  int next_ = 0;
  int inFlight_ = 0;
};

}  // namespace zorv
