#pragma once
// The media tests' side of the 16-slot queue: what each slot carries, so that
// a completion that AcquireSlot collects is matched to its LBA, count and
// start time and reported to the test, whose reads and writes are thereby
// checked even though they complete after the command that issued them.
// Holds no buffers of its own (the slots have theirs) and allocates nothing
// per transfer.

#include <array>
#include <cstdint>

#include "transport/context.h"

namespace zorv {

struct QueuedTransfer {
  bool write = false;
  bool filled = false;  // a write of the slot buffer as the caller filled it (no block stamps)
  uint32_t lba = 0;
  uint32_t count = 0;
  Clock::TimePoint submitted{};
  Clock::TimePoint firstSubmitted{};  // of the first attempt, for the retry limit
};

class TransferCompletion {
 public:
  // A transfer of slot has completed (ok: GOOD status). For a failed one
  // LastSense holds its sense data. The slot's buffer holds a read's data.
  // Returning true resubmits the same transfer on the same slot (a write the
  // drive refused while busy).
  virtual bool transferDone(int slot, const QueuedTransfer& transfer, bool ok) = 0;

 protected:
  ~TransferCompletion() = default;
};

class QueuedTransfers {
 public:
  QueuedTransfers(Context& ctx, TransferCompletion& done) : ctx_(ctx), done_(done) {}
  QueuedTransfers(const QueuedTransfers&) = delete;
  QueuedTransfers& operator=(const QueuedTransfers&) = delete;
  ~QueuedTransfers() { close(); }

  // InitQueue.
  bool open();
  bool isOpen() const { return open_; }
  // A slot for the next transfer: AcquireSlot, with the completion the slot
  // carried reported first. kNoSlot when the queue gave none (stopped).
  int acquire();
  // QueueRead / QueueWrite on a slot acquire() just returned. A transfer the
  // backend refused at once is reported as failed here (false).
  bool read(int slot, uint32_t lba, uint32_t count);
  bool write(int slot, uint32_t lba, uint32_t count);
  // Writes the slot buffer as the caller filled it (QueueWriteFilled); a
  // resubmission writes the same buffer again.
  bool writeFilled(int slot, uint32_t lba, uint32_t count);
  // Collects every outstanding completion (the queue stays open), so that
  // what was written can be read back or every read has been checked.
  void drain();
  // drain, then CloseQueue. Does nothing when the queue is not open.
  void close();
  int inFlight() const { return inFlight_; }

 private:
  // Stamps the submission (and on the first attempt the first submission)
  // and queues the transfer.
  bool submit(int slot, const QueuedTransfer& transfer, bool firstAttempt);
  void collect(int slot, bool ok);

  Context& ctx_;
  TransferCompletion& done_;
  std::array<QueuedTransfer, kQueueSlots> transfers_{};
  std::array<bool, kQueueSlots> busy_{};
  int inFlight_ = 0;
  bool open_ = false;
};

}  // namespace zorv
