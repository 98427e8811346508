#include "transport/scsi_command.h"

#include <algorithm>
#include <cstring>

#include "transport/block_stamp.h"
#include "transport/byte_order.h"
#include "transport/context.h"

namespace zorv {

namespace {

constexpr uint8_t kSenseNotReady = 0x02;
constexpr uint8_t kAscLunNotReady = 0x04;

// Clears the shared request and sets what every block primitive sets; the
// caller has checked that length fits SectorBuffer.
ScsiRequest& prepareShared(Context& ctx, uint8_t dataIn, uint64_t length) {
  ScsiRequest& r = ctx.scsiRequest;
  r.clear();
  r.cdbLength = 12;
  r.senseInfoLength = kSenseLength;
  r.dataIn = dataIn;
  r.dataTransferLength = static_cast<uint32_t>(length);
  r.dataBuffer = ctx.SectorBuffer.data();
  return r;
}

void keepSense(Context& ctx, const ScsiRequest& req) {
  std::copy(req.sense.begin(), req.sense.end(), ctx.LastSense.begin());
}

void noteIoFailure(Context& ctx, IoOutcome&& outcome) {
  ctx.lastOutcome = CommandOutcome{};
  ctx.lastOutcome.failure = CommandFailure::Io;
  ctx.lastOutcome.io = std::move(outcome);
}

void putTag(ScsiRequest& r, bool tag) {
  if (tag) {
    r.cdb[10] = 0x74;
    r.cdb[11] = 0x47;
  }
}

}  // namespace

bool isShortDataIn(const ScsiRequest& request) {
  return request.dataIn == kScsiDataIn && !request.replyMayBeShorter &&
         request.bytesTransferred < request.dataTransferLength;
}

uint32_t scsiTimeoutFor(const Context& ctx, const uint8_t* cdb) {
  // The time-out classes by opcode, a table taken whole: most of its
  // commands the tool never sends, so they stay numbers.
  switch (cdb[0]) {
    case 0x04: case 0x2A: case 0x53: case 0xAA: case 0xFC:
      return ctx.usTimeoutLong;
    case 0x2F: case 0x35: case 0x5B: case 0xA1: case 0xA6:
      return ctx.usTimeoutMid;
    case 0x1B:
      if (cdb[1] == 0) return ctx.usTimeoutShort > 40 ? ctx.usTimeoutShort : 40;
      return ctx.usTimeoutShort;
    case 0xF3:
      if (cdb[1] == 0x0C && cdb[2] == 0x05) return ctx.usTimeoutLong;
      return ctx.usTimeoutShort;
    default:
      return ctx.usTimeoutShort;
  }
}

bool SendScsiCommand(Context& ctx, bool preFill, int slot) {
  if (!ctx.hasSelectedDrive()) {
    ctx.lastOutcome = CommandOutcome::notSent("no drive selected", false);
    return false;
  }
  bool slotGiven = slot >= 0 && slot < kQueueSlots;
  bool queued = slotGiven && ctx._fgNCQEnable == 1;
  // A queued primitive prepared the slot's own request; with the queue off it
  // runs synchronously on that same request.
  ScsiRequest& req = slotGiven ? ctx.slots[static_cast<size_t>(slot)].request : ctx.scsiRequest;

  uint8_t opcode = req.cdb[0];
  if (opcode == scsi::kVendorCdb && ctx.fgVendorCdbEnable == 0) {
    ctx.lastOutcome = CommandOutcome::notSent("vendor CDBs are switched off", false);
    return false;
  }
  if (ctx.fgFamilyDrive == 0 && req.dataIn == kScsiDataOut && req.dataTransferLength != 0) {
    ctx.ui->messageBox(formatText("ATAPI: It's not SSD disk, %02X", opcode), BoxIcon::Information);
    ctx.lastOutcome = CommandOutcome::notSent("not a drive of the family", true);
    return false;
  }
  // Both SectorBuffer and the slot buffers hold 1 MiB.
  if (!transferFitsBuffer(ctx, req.dataTransferLength, kSectorBufferSize)) return false;
  req.timeOutValue = scsiTimeoutFor(ctx, req.cdb.data());
  if (preFill && req.dataIn == kScsiDataIn && req.dataBuffer)
    std::memset(req.dataBuffer, 0xFF, req.dataTransferLength);

  const std::string& path = ctx.selectedDrive().strDevicePath;
  if (queued) {
    IoOutcome outcome = ctx.port->submitQueued(path, slot, req);
    if (!outcome.ok()) {
      keepSense(ctx, req);
      noteIoFailure(ctx, std::move(outcome));
      return false;
    }
    // Issued: the completion is collected by AcquireSlot.
    ctx.lastOutcome = CommandOutcome{};
    return true;
  }

  IoOutcome outcome = ctx.port->scsiPassThrough(path, req);
  if (!outcome.ok()) {
    keepSense(ctx, req);
    noteIoFailure(ctx, std::move(outcome));
    return false;
  }
  if (req.scsiStatus != 0) {
    keepSense(ctx, req);
    ctx.lastOutcome = CommandOutcome{};
    ctx.lastOutcome.failure = CommandFailure::ScsiStatus;
    ctx.lastOutcome.scsiStatus = req.scsiStatus;
    return false;
  }
  if (slotGiven) ctx.slots[static_cast<size_t>(slot)].bytesTransferred = req.bytesTransferred;
  if (isShortDataIn(req) && failShortTransfer(ctx, req.bytesTransferred, req.dataTransferLength)) return false;

  if (ctx.fgReadVerify == 1 && opcode == scsi::kRead10 && !slotGiven) {
    uint32_t first = be32(&req.cdb[2]);
    uint32_t count = be16(&req.cdb[7]);
    std::string error = CheckStampedBlocks(ctx, first, count);
    if (!error.empty()) {
      ctx.ui->messageBox(formatText("Error LBA 0x%8X, %s", ctx.ulCurLba, error.c_str()), BoxIcon::Information);
      ctx.lastOutcome = CommandOutcome{};
      ctx.lastOutcome.failure = CommandFailure::ReadCheck;
      ctx.lastOutcome.reported = true;
      return false;
    }
  }
  ctx.lastOutcome = CommandOutcome{};
  return true;
}

bool ReadBlocks(Context& ctx, uint32_t lba, uint32_t count, bool tag) {
  count &= 0xFFFFFF;
  const uint64_t bytes = uint64_t{count} * 512;
  if (!transferFitsBuffer(ctx, bytes, kSectorBufferSize)) return false;
  ScsiRequest& r = prepareShared(ctx, kScsiDataIn, bytes);
  r.cdb[0] = scsi::kRead10;
  putBe32(&r.cdb[2], lba);
  putBe16(&r.cdb[7], static_cast<uint16_t>(count));
  putTag(r, tag);
  return SendScsiCommand(ctx, true, kNoSlot);
}

bool WriteBlocks(Context& ctx, uint32_t lba, uint32_t count, uint16_t unitSize) {
  const uint64_t bytes = uint64_t{count} * unitSize;
  if (!transferFitsBuffer(ctx, bytes, kSectorBufferSize)) return false;
  ScsiRequest& r = prepareShared(ctx, kScsiDataOut, bytes);
  r.cdb[0] = scsi::kWrite10;
  putBe32(&r.cdb[2], lba);
  putBe16(&r.cdb[7], static_cast<uint16_t>(count));
  putTag(r, ctx.fgCdbTag);
  return SendScsiCommand(ctx, true, kNoSlot);
}

bool WriteBlocks12(Context& ctx, uint32_t count, uint32_t lba, bool streaming) {
  const uint64_t bytes = uint64_t{count} * 512;
  if (!transferFitsBuffer(ctx, bytes, kSectorBufferSize)) return false;
  ScsiRequest& r = prepareShared(ctx, kScsiDataOut, bytes);
  r.cdb[0] = scsi::kWrite12;
  putBe32(&r.cdb[2], lba);
  putBe32(&r.cdb[6], count);
  r.cdb[10] = streaming ? 0x80 : 0x00;
  putTag(r, ctx.fgCdbTag);
  return SendScsiCommand(ctx, true, kNoSlot);
}

bool RequestSense(Context& ctx) {
  ScsiRequest& r = prepareShared(ctx, kScsiDataIn, kSenseLength);
  r.cdb[0] = scsi::kRequestSense;
  r.cdb[4] = kSenseLength;
  r.replyMayBeShorter = true;
  return SendScsiCommand(ctx, true, kNoSlot);
}

bool TestUnitReady(Context& ctx) {
  ScsiRequest& r = prepareShared(ctx, kScsiDataOut, 0);
  r.cdb[0] = scsi::kTestUnitReady;
  return SendScsiCommand(ctx, false, kNoSlot);
}

bool SendCdb(Context& ctx) {
  ScsiRequest& r = prepareShared(ctx, kScsiDataIn, 256);
  std::memcpy(r.cdb.data(), ctx.CmdBlock.bytes(), 12);
  // 256 bytes hold the reply of any CDB typed in; the CDB's own length decides.
  r.replyMayBeShorter = true;
  return SendScsiCommand(ctx, true, kNoSlot);
}

uint8_t lastSenseKey(const Context& ctx) { return ctx.LastSense[2] & 0x0F; }
uint8_t lastSenseAsc(const Context& ctx) { return ctx.LastSense[12]; }

bool WaitReady(Context& ctx) {
  using namespace std::chrono_literals;
  if (TestUnitReady(ctx)) return true;
  for (int pass = 0;; ++pass) {
    if (ctx.fgStopRequest) return false;
    if (pass / 2 > 20) {
      PrintMessage(ctx, "Over %d Seconds", 20);
      return false;
    }
    // REQUEST SENSE lands in SectorBuffer; LastSense still holds what the
    // failed TEST UNIT READY returned.
    if (!RequestSense(ctx)) {
      PrintMessage(ctx, "Request Sense Command Error");
      return false;
    }
    if (!(lastSenseKey(ctx) == kSenseNotReady && lastSenseAsc(ctx) == kAscLunNotReady)) return true;
    for (int i = 0; i < 5; ++i) {
      ctx.clock->sleepFor(100ms);
      if (ctx.fgStopRequest) return false;
    }
    if (TestUnitReady(ctx)) return true;
  }
}

}  // namespace zorv
