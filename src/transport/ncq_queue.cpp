#include "transport/ncq_queue.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "transport/block_stamp.h"
#include "transport/byte_order.h"
#include "transport/context.h"
#include "transport/scsi_command.h"

namespace zorv {

bool InitQueue(Context& ctx) {
  PrintMessage(ctx, "Init NCQ Func");
  ctx.queueRingPosition = 0;
  bool ok = true;
  try {
    for (NcqSlot& slot : ctx.slots) {
      if (slot.buffer.size() != kSlotBufferSize) slot.buffer.reset(kSlotBufferSize);
      slot.request.clear();
      slot.bytesTransferred = 0;
      slot.lba = 0;
      slot.completedOk = true;
    }
  } catch (const std::bad_alloc&) {
    PrintMessage(ctx, "*** CreateEvent() failed in TargetDisk::Prepare()");
    ok = false;
  }
  ctx.queueOpen = ok;
  PrintMessage(ctx, "Init NCQ Func Finish!! write_ok=%d, %d", ok ? 1 : 0, ok ? 1 : 0);
  return ok;
}

namespace {

// How often a wait for the next completion looks at the stop flag.
constexpr std::chrono::milliseconds kStopCheckInterval{100};
// The kernel ends a command that outlived its time-out a little after the
// time-out itself; the grace lets that aborted completion arrive, which says
// more than giving up on the slot.
constexpr std::chrono::seconds kTimeoutGrace{5};

// Hands out slot pos, whose transfer (if it carried one) has just been collected.
int handOut(Context& ctx, int pos, SlotState state) {
  NcqSlot& slot = ctx.slots[static_cast<size_t>(pos)];
  ctx.lastOutcome = CommandOutcome{};
  if (state == SlotState::Complete) {
    slot.bytesTransferred = slot.request.bytesTransferred;
    slot.completedOk = slot.request.scsiStatus == 0;
    if (!slot.completedOk) {
      std::copy(slot.request.sense.begin(), slot.request.sense.end(), ctx.LastSense.begin());
      ctx.lastOutcome.failure = CommandFailure::ScsiStatus;
      ctx.lastOutcome.scsiStatus = slot.request.scsiStatus;
    } else if (isShortDataIn(slot.request)) {
      // A read that came back short has failed like one the drive refused;
      // no sense data says why.
      slot.completedOk = false;
      ctx.LastSense.fill(0);
      failShortTransfer(ctx, slot.request.bytesTransferred, slot.request.dataTransferLength);
    }
  }
  ctx.currentSlot = pos;
  ctx.queueRingPosition = (pos + 1) % kQueueSlots;
  return pos;
}

}  // namespace

int AcquireSlot(Context& ctx) {
  std::optional<Clock::TimePoint> deadline;
  for (;;) {
    uint32_t longestTimeout = 0;
    for (int i = 0; i < kQueueSlots; ++i) {
      const int pos = (ctx.queueRingPosition + i) % kQueueSlots;
      SlotState state = ctx.port->pollSlot(pos);
      if (state != SlotState::InFlight) return handOut(ctx, pos, state);
      longestTimeout = std::max(longestTimeout, ctx.slots[static_cast<size_t>(pos)].request.timeOutValue);
    }
    // All 16 are in flight: wait for the next completion, a slice at a time
    // so that a stop request ends the wait, and no longer than the transfers'
    // own time-out when the drive has stopped answering.
    if (ctx.fgStopRequest) {
      ctx.lastOutcome = CommandOutcome{};
      ctx.lastOutcome.failure = CommandFailure::Stopped;
      return kNoSlot;
    }
    const Clock::TimePoint now = ctx.clock->now();
    if (!deadline) deadline = now + std::chrono::seconds(longestTimeout) + kTimeoutGrace;
    if (now >= *deadline) {
      ctx.lastOutcome = CommandOutcome{};
      ctx.lastOutcome.failure = CommandFailure::QueueTimeout;
      return kNoSlot;
    }
    ctx.port->waitQueued(std::min<std::chrono::milliseconds>(
        kStopCheckInterval, std::chrono::ceil<std::chrono::milliseconds>(*deadline - now)));
  }
}

namespace {

// Prepares the slot's request; the caller has checked that count blocks fit
// the slot buffer.
ScsiRequest& prepareSlot(Context& ctx, int slot, uint8_t opcode, uint8_t dataIn, uint32_t lba, uint32_t count) {
  NcqSlot& s = ctx.slots[static_cast<size_t>(slot)];
  if (s.buffer.size() != kSlotBufferSize) s.buffer.reset(kSlotBufferSize);
  ScsiRequest& r = s.request;
  r.clear();
  r.cdbLength = 12;
  r.senseInfoLength = kSenseLength;
  r.dataIn = dataIn;
  r.timeOutValue = ctx.usTimeoutShort;
  r.dataBuffer = s.buffer.data();
  r.dataTransferLength = count * 512;
  r.cdb[0] = opcode;
  putBe32(&r.cdb[2], lba);
  putBe16(&r.cdb[7], static_cast<uint16_t>(count));
  return r;
}

bool validSlot(int slot) { return slot >= 0 && slot < kQueueSlots; }

bool fitsSlot(Context& ctx, uint32_t count) {
  return transferFitsBuffer(ctx, uint64_t{count} * 512, kSlotBufferSize);
}

}  // namespace

bool QueueRead(Context& ctx, int slot, uint32_t lba, uint32_t count) {
  if (!validSlot(slot) || !fitsSlot(ctx, count)) return false;
  ctx.currentSlot = slot;
  prepareSlot(ctx, slot, scsi::kRead10, kScsiDataIn, lba, count);
  ctx.slots[static_cast<size_t>(slot)].lba = lba;
  return SendScsiCommand(ctx, false, slot);
}

bool QueueWrite(Context& ctx, int slot, uint32_t lba, uint32_t count) {
  if (!validSlot(slot) || !fitsSlot(ctx, count)) return false;
  ctx.currentSlot = slot;
  ScsiRequest& r = prepareSlot(ctx, slot, scsi::kWrite10, kScsiDataOut, lba, count);
  StampBlocks(r.dataTransferLength / kStampedBlockSize, lba, r.dataBuffer);
  ctx.slots[static_cast<size_t>(slot)].lba = lba;
  return SendScsiCommand(ctx, true, slot);
}

bool QueueWriteFilled(Context& ctx, int slot, uint32_t lba, uint32_t count) {
  if (!validSlot(slot) || !fitsSlot(ctx, count)) return false;
  ctx.currentSlot = slot;
  prepareSlot(ctx, slot, scsi::kWrite10, kScsiDataOut, lba, count);
  ctx.slots[static_cast<size_t>(slot)].lba = lba;
  return SendScsiCommand(ctx, true, slot);
}

void CloseQueue(Context& ctx) {
  PrintMessage(ctx, "Close NCQ Func");
  // After a stop request or a drive that stopped answering, waiting for the
  // outstanding transfers could take as long again as their time-outs.
  if (ctx.fgStopRequest || ctx.lastOutcome.failure == CommandFailure::QueueTimeout) {
    ctx.port->abandonQueue();
  } else {
    ctx.port->drainQueue();
  }
  ctx.queueOpen = false;
}

}  // namespace zorv
