#include "transport/ncq_queue.h"

#include <algorithm>

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

int AcquireSlot(Context& ctx) {
  for (int pos = ctx.queueRingPosition;; pos = (pos + 1) % kQueueSlots) {
    SlotState state = ctx.port->pollSlot(pos);
    if (state == SlotState::InFlight) continue;
    NcqSlot& slot = ctx.slots[static_cast<size_t>(pos)];
    if (state == SlotState::Complete) {
      slot.bytesTransferred = slot.request.bytesTransferred;
      slot.completedOk = slot.request.scsiStatus == 0;
      if (!slot.completedOk)
        std::copy(slot.request.sense.begin(), slot.request.sense.end(), ctx.LastSense.begin());
    }
    ctx.currentSlot = pos;
    ctx.queueRingPosition = (pos + 1) % kQueueSlots;
    return pos;
  }
}

namespace {

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
  r.dataTransferLength = std::min<uint32_t>(count * 512, kSlotBufferSize);
  r.cdb[0] = opcode;
  putBe32(&r.cdb[2], lba);
  putBe16(&r.cdb[7], static_cast<uint16_t>(count));
  return r;
}

bool validSlot(int slot) { return slot >= 0 && slot < kQueueSlots; }

}  // namespace

bool QueueRead(Context& ctx, int slot, uint32_t lba, uint32_t count) {
  if (!validSlot(slot)) return false;
  ctx.currentSlot = slot;
  prepareSlot(ctx, slot, scsi::kRead10, kScsiDataIn, lba, count);
  ctx.slots[static_cast<size_t>(slot)].lba = lba;
  return SendScsiCommand(ctx, false, slot);
}

bool QueueWrite(Context& ctx, int slot, uint32_t lba, uint32_t count) {
  if (!validSlot(slot)) return false;
  ctx.currentSlot = slot;
  ScsiRequest& r = prepareSlot(ctx, slot, scsi::kWrite10, kScsiDataOut, lba, count);
  StampBlocks(r.dataTransferLength / kStampedBlockSize, lba, r.dataBuffer);
  ctx.slots[static_cast<size_t>(slot)].lba = lba;
  return SendScsiCommand(ctx, true, slot);
}

void CloseQueue(Context& ctx) {
  PrintMessage(ctx, "Close NCQ Func");
  ctx.port->drainQueue();
  ctx.queueOpen = false;
}

}  // namespace zorv
