#include "transport/ata_command.h"

#include <algorithm>
#include <cstring>

#include "transport/ata_opcodes.h"
#include "transport/context.h"
#include "transport/sat_cdb.h"
#include "transport/scsi_command.h"

namespace zorv {

namespace {

constexpr uint32_t kUsbMaxSectors = 0x80;

}  // namespace

bool isAta48BitOpcode(uint8_t opcode) {
  static constexpr uint8_t k48[] = {0x06, 0x0B, 0x24, 0x25, 0x29, 0x2A, 0x2B, 0x2F, 0x34, 0x35,
                                    0x39, 0x3A, 0x3B, 0x3D, 0x3F, 0x42, 0x45, 0x47, 0x51, 0x57,
                                    0x60, 0x61, 0x63, 0x64, 0x65, 0x77, 0x78, 0xB4, 0xCE};
  return std::find(std::begin(k48), std::end(k48), opcode) != std::end(k48);
}

AtaPassThroughRequest buildAtaPassThrough(const AtaTaskFile& tf, bool dataOut, bool useDma, uint32_t byteCount) {
  AtaPassThroughRequest r;
  r.ataFlags = kAtaFlagsDrdyRequired | (dataOut ? kAtaFlagsDataOut : kAtaFlagsDataIn);
  if (useDma) r.ataFlags |= kAtaFlagsUseDma;
  if (isAta48BitOpcode(tf.ucCommand)) r.ataFlags |= kAtaFlags48Bit;
  r.dataTransferLength = byteCount;
  r.currentTaskFile = {tf.ucFeature, tf.ucCount,  tf.ucLbaLow,  tf.ucLbaMid,
                       tf.ucLbaHigh, tf.ucDevice, tf.ucCommand, tf.ucDataByte};
  r.previousTaskFile = {0, tf.ucCountExt, tf.ucLbaLowExt, tf.ucLbaMidExt, tf.ucLbaHighExt, 0, 0, 0};
  return r;
}

namespace {

bool sendAtaPath(Context& ctx, bool dataOut, AtaTaskFile& tf, bool useDma, uint32_t byteCount, bool mayBeShorter) {
  if (dataOut && ctx.fgFamilyDrive == 0) {
    PrintMessage(ctx, "ATA: It's not SSD disk");
    ctx.lastOutcome = CommandOutcome::notSent("not a drive of the family", true);
    return false;
  }
  if (!transferFitsBuffer(ctx, byteCount, kSectorBufferSize)) return false;
  if (!dataOut) std::memset(ctx.SectorBuffer.data(), 0xFF, byteCount);

  AtaPassThroughRequest req = buildAtaPassThrough(tf, dataOut, useDma, byteCount);
  req.dataBuffer = ctx.SectorBuffer.data();
  req.timeOutValue = ctx.usTimeoutMid;

  IoOutcome outcome = ctx.port->ataPassThrough(ctx.selectedDrive().strDevicePath, req);
  if (!outcome.ok()) {
    ctx.lastOutcome = CommandOutcome{};
    ctx.lastOutcome.failure = CommandFailure::Io;
    ctx.lastOutcome.io = std::move(outcome);
    return false;
  }
  ctx.lastAtaReply = {true, req.currentTaskFile, req.previousTaskFile};

  // A device fault fails the command as ERR does, whatever ERR says.
  uint8_t status = req.currentTaskFile[6];
  if (status & (ata::kStatusErr | ata::kStatusDf)) {
    PrintMessage(ctx, "ATA Command Error, Status = 0x%02X", status);
    ctx.lastOutcome = CommandOutcome{};
    ctx.lastOutcome.failure = CommandFailure::AtaError;
    ctx.lastOutcome.ataStatus = status;
    ctx.lastOutcome.ataError = req.currentTaskFile[0];
    ctx.lastOutcome.reported = true;
    return false;
  }
  if (!dataOut && !mayBeShorter && failShortTransfer(ctx, req.bytesTransferred, byteCount)) return false;
  ctx.lastOutcome = CommandOutcome{};
  ctx.lastOutcome.bytesMoved = req.bytesTransferred;
  tf.ucLbaLow = req.currentTaskFile[2];
  tf.ucLbaMid = req.currentTaskFile[3];
  tf.ucLbaHigh = req.currentTaskFile[4];
  tf.ucLbaLowExt = req.previousTaskFile[2];
  tf.ucLbaMidExt = req.previousTaskFile[3];
  tf.ucLbaHighExt = req.previousTaskFile[4];
  return true;
}

bool sendUsbPath(Context& ctx, bool dataOut, AtaTaskFile& tf, uint32_t byteCount, bool mayBeShorter) {
  UsbAtaCdb usb = buildUsbAtaCdb(tf, dataOut, byteCount);
  // The count register limits a transfer; a non-data command (no transfer
  // length) uses it for its own parameters.
  const bool hasData = usb.transferLength > 0;
  uint32_t sectors = uint32_t{tf.ucCountExt} * 256 + tf.ucCount;
  bool dmaWithoutCount = (tf.ucCommand == ata::kWriteDma || tf.ucCommand == ata::kReadDma) && sectors == 0;
  if ((hasData && sectors > kUsbMaxSectors) || dmaWithoutCount) {
    ctx.ui->messageBox("USB Sector Length Over 0x80, Exit", BoxIcon::Stop);
    ctx.lastOutcome = CommandOutcome::notSent("more than 128 sectors behind a USB bridge", true);
    return false;
  }
  if (!transferFitsBuffer(ctx, byteCount, kSectorBufferSize)) return false;
  if (!dataOut) std::memset(ctx.SectorBuffer.data(), 0xFF, byteCount);

  ScsiRequest& req = ctx.scsiRequest;
  req.clear();
  req.cdbLength = 16;
  req.senseInfoLength = kSenseLength;
  req.dataIn = dataOut ? kScsiDataOut : kScsiDataIn;
  req.dataTransferLength = usb.transferLength;
  req.timeOutValue = ctx.usTimeoutShort;
  req.dataBuffer = ctx.SectorBuffer.data();
  req.cdb = usb.cdb;
  req.replyMayBeShorter = mayBeShorter;
  if (!SendScsiCommand(ctx, false, -1)) return false;
  ctx.lastOutcome.bytesMoved = req.bytesTransferred;
  return true;
}

}  // namespace

bool ataDataByteTravels(const Context& ctx) {
  if (!ctx.hasSelectedDrive()) return false;
  const uint8_t bus = ctx.DriveTable[ctx.ucSelDrive].ucBusType;
  return (bus == kBusAta || bus == kBusSata) && ctx.port->carriesAtaDataByte();
}

bool SendAtaCommand(Context& ctx, bool dataOut, AtaTaskFile& taskFile, bool useDma, uint32_t byteCount,
                    bool replyMayBeShorter) {
  ctx.lastAtaReply.valid = false;
  if (!ctx.hasSelectedDrive()) {
    ctx.lastOutcome = CommandOutcome::notSent("no drive selected", false);
    return false;
  }
  switch (ctx.selectedDrive().ucBusType) {
    case kBusAta:
    case kBusSata:
      return sendAtaPath(ctx, dataOut, taskFile, useDma, byteCount, replyMayBeShorter);
    case kBusUsb:
      return sendUsbPath(ctx, dataOut, taskFile, byteCount, replyMayBeShorter);
    default:
      ctx.lastOutcome = CommandOutcome::notSent("the drive's bus type takes no ATA command", false);
      return false;
  }
}

}  // namespace zorv
