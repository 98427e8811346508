#include "mediatest/queued_transfers.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "transport/ncq_queue.h"
#include "transport/scsi_command.h"

namespace zorv {

namespace {

// How long one wait for an outstanding completion lasts before the stop flag
// is looked at again, and how long after the transfers' time-out a drain
// still waits for the aborted completions.
constexpr std::chrono::milliseconds kDrainWaitSlice{100};
constexpr std::chrono::seconds kDrainGrace{5};

}  // namespace

bool QueuedTransfers::open() {
  open_ = InitQueue(ctx_);
  busy_.fill(false);
  inFlight_ = 0;
  return open_;
}

void QueuedTransfers::collect(int slot, bool ok) {
  size_t s = static_cast<size_t>(slot);
  busy_[s] = false;
  --inFlight_;
  if (done_.transferDone(slot, transfers_[s], ok)) submit(slot, transfers_[s], false);
}

int QueuedTransfers::acquire() {
  for (;;) {
    int slot = AcquireSlot(ctx_);
    if (slot < 0 || slot >= kQueueSlots) return kNoSlot;
    if (!busy_[static_cast<size_t>(slot)]) return slot;
    collect(slot, ctx_.slots[static_cast<size_t>(slot)].completedOk);
    // A resubmitted transfer keeps the slot; take another one.
    if (!busy_[static_cast<size_t>(slot)]) return slot;
  }
}

bool QueuedTransfers::submit(int slot, const QueuedTransfer& transfer, bool firstAttempt) {
  size_t s = static_cast<size_t>(slot);
  QueuedTransfer& t = transfers_[s];
  if (&t != &transfer) t = transfer;
  for (;;) {
    t.submitted = ctx_.clock->now();
    if (firstAttempt) t.firstSubmitted = t.submitted;
    firstAttempt = false;
    busy_[s] = true;
    ++inFlight_;
    bool issued = !t.write   ? QueueRead(ctx_, slot, t.lba, t.count)
                  : t.filled ? QueueWriteFilled(ctx_, slot, t.lba, t.count)
                             : QueueWrite(ctx_, slot, t.lba, t.count);
    if (issued) return true;
    // Refused at once (LastSense holds why): reported like a failed completion.
    busy_[s] = false;
    --inFlight_;
    if (!done_.transferDone(slot, t, false)) return false;
  }
}

bool QueuedTransfers::read(int slot, uint32_t lba, uint32_t count) {
  if (slot < 0 || slot >= kQueueSlots || busy_[static_cast<size_t>(slot)]) return false;
  QueuedTransfer t;
  t.lba = lba;
  t.count = count;
  return submit(slot, t, true);
}

bool QueuedTransfers::write(int slot, uint32_t lba, uint32_t count) {
  if (slot < 0 || slot >= kQueueSlots || busy_[static_cast<size_t>(slot)]) return false;
  QueuedTransfer t;
  t.write = true;
  t.lba = lba;
  t.count = count;
  return submit(slot, t, true);
}

bool QueuedTransfers::writeFilled(int slot, uint32_t lba, uint32_t count) {
  if (slot < 0 || slot >= kQueueSlots || busy_[static_cast<size_t>(slot)]) return false;
  QueuedTransfer t;
  t.write = true;
  t.filled = true;
  t.lba = lba;
  t.count = count;
  return submit(slot, t, true);
}

void QueuedTransfers::drain() {
  // AcquireSlot hands out idle slots at once; once a whole round of them has
  // come back, the rest are still in flight: wait for the backend instead of
  // polling the idle ones again, and give up like AcquireSlot on a stop
  // request or a drive that stopped answering.
  int idleInARow = 0;
  std::optional<Clock::TimePoint> deadline;
  while (open_ && inFlight_ > 0) {
    int slot = AcquireSlot(ctx_);
    if (slot < 0 || slot >= kQueueSlots) return;
    if (busy_[static_cast<size_t>(slot)]) {
      collect(slot, ctx_.slots[static_cast<size_t>(slot)].completedOk);
      idleInARow = 0;
      deadline.reset();
      continue;
    }
    if (++idleInARow < kQueueSlots) continue;
    idleInARow = 0;
    if (ctx_.fgStopRequest) return;
    const Clock::TimePoint now = ctx_.clock->now();
    if (!deadline) {
      uint32_t longest = 0;
      for (const NcqSlot& s : ctx_.slots) longest = std::max(longest, s.request.timeOutValue);
      deadline = now + std::chrono::seconds(longest) + kDrainGrace;
    }
    if (now >= *deadline) {
      ctx_.lastOutcome = CommandOutcome{};
      ctx_.lastOutcome.failure = CommandFailure::QueueTimeout;
      return;
    }
    ctx_.port->waitQueued(std::min<std::chrono::milliseconds>(
        kDrainWaitSlice, std::chrono::ceil<std::chrono::milliseconds>(*deadline - now)));
  }
}

void QueuedTransfers::close() {
  if (!open_) return;
  drain();
  // Stopped with transfers in flight: CloseQueue waits for them; their
  // outcome is in the slots' requests.
  open_ = false;
  CloseQueue(ctx_);
  for (int slot = 0; slot < kQueueSlots; ++slot) {
    size_t s = static_cast<size_t>(slot);
    if (!busy_[s]) continue;
    busy_[s] = false;
    --inFlight_;
    const ScsiRequest& r = ctx_.slots[s].request;
    bool ok = r.scsiStatus == 0 && !isShortDataIn(r);
    if (!ok) std::copy(r.sense.begin(), r.sense.end(), ctx_.LastSense.begin());
    done_.transferDone(slot, transfers_[s], ok);
  }
}

}  // namespace zorv
