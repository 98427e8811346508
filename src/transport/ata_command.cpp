#include "transport/ata_command.h"

#include <algorithm>
#include <cstring>

#include "transport/context.h"
#include "transport/scsi_command.h"

namespace zorv {

namespace {

constexpr uint8_t kOpReadDma = 0xC8;
constexpr uint8_t kOpWriteDma = 0xCA;
constexpr uint32_t kUsbMaxSectors = 0x80;

// SAT protocol/EXTEND byte (CDB byte 1) and whether the transfer length is
// the caller's byte count (PIO) rather than sectors x 512.
struct UsbProtocol {
  uint8_t byte1;
  bool lengthIsByteCount;
};

UsbProtocol usbProtocolFor(uint8_t opcode, bool dataOut) {
  switch (opcode) {
    case 0x06: return {0x0C, false};                     // DMA
    case 0x25: case 0xC8: return {0x15, false};          // UDMA data-in, extended
    case 0x35: case 0x93: case 0xCA: return {0x17, false};  // UDMA data-out, extended
    case 0x92: case 0xE8: return {0x0A, true};           // PIO data-out
    case 0xB0: case 0xE4: case 0xEC: return {0x08, true};  // PIO data-in
    case 0xF7: return {static_cast<uint8_t>(dataOut ? 0x0A : 0x08), true};
    default: return {0x00, false};
  }
}

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

UsbAtaCdb buildUsbAtaCdb(const AtaTaskFile& tf, bool dataOut, uint32_t byteCount) {
  UsbAtaCdb out;
  uint32_t sectors = uint32_t{tf.ucCountExt} * 256 + tf.ucCount;
  UsbProtocol proto = usbProtocolFor(tf.ucCommand, dataOut);
  // Byte 2: OFF_LINE=0, CK_COND=0, T_TYPE=1, T_DIR (1 = from device),
  // BYTE_BLOCK=1, T_LENGTH=2 (the length is in the count field, in blocks).
  out.cdb = {0x85,
             proto.byte1,
             static_cast<uint8_t>(dataOut ? 0x16 : 0x1E),
             0x00,
             tf.ucFeature,
             tf.ucCountExt,
             tf.ucCount,
             tf.ucLbaLowExt,
             tf.ucLbaLow,
             tf.ucLbaMidExt,
             tf.ucLbaMid,
             tf.ucLbaHighExt,
             tf.ucLbaHigh,
             tf.ucDevice,
             tf.ucCommand,
             0x00};
  out.transferLength = proto.lengthIsByteCount ? byteCount : sectors * 512;
  return out;
}

namespace {

bool sendAtaPath(Context& ctx, bool dataOut, AtaTaskFile& tf, bool useDma, uint32_t byteCount) {
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

  uint8_t status = req.currentTaskFile[6];
  if (status & 0x01) {
    PrintMessage(ctx, "ATA Command Error, Status = 0x%02X", status);
    ctx.lastOutcome = CommandOutcome{};
    ctx.lastOutcome.failure = CommandFailure::AtaError;
    ctx.lastOutcome.ataStatus = status;
    ctx.lastOutcome.ataError = req.currentTaskFile[0];
    ctx.lastOutcome.reported = true;
    return false;
  }
  ctx.lastOutcome = CommandOutcome{};
  tf.ucLbaLow = req.currentTaskFile[2];
  tf.ucLbaMid = req.currentTaskFile[3];
  tf.ucLbaHigh = req.currentTaskFile[4];
  tf.ucLbaLowExt = req.previousTaskFile[2];
  tf.ucLbaMidExt = req.previousTaskFile[3];
  tf.ucLbaHighExt = req.previousTaskFile[4];
  return true;
}

bool sendUsbPath(Context& ctx, bool dataOut, AtaTaskFile& tf, uint32_t byteCount) {
  uint32_t sectors = uint32_t{tf.ucCountExt} * 256 + tf.ucCount;
  bool dmaWithoutCount = (tf.ucCommand == kOpWriteDma || tf.ucCommand == kOpReadDma) && sectors == 0;
  if (sectors > kUsbMaxSectors || dmaWithoutCount) {
    ctx.ui->messageBox("USB Sector Length Over 0x80, Exit", BoxIcon::Stop);
    ctx.lastOutcome = CommandOutcome::notSent("more than 128 sectors behind a USB bridge", true);
    return false;
  }
  if (!transferFitsBuffer(ctx, byteCount, kSectorBufferSize)) return false;
  if (!dataOut) std::memset(ctx.SectorBuffer.data(), 0xFF, byteCount);

  UsbAtaCdb usb = buildUsbAtaCdb(tf, dataOut, byteCount);
  ScsiRequest& req = ctx.scsiRequest;
  req.clear();
  req.cdbLength = 16;
  req.senseInfoLength = kSenseLength;
  req.dataIn = dataOut ? kScsiDataOut : kScsiDataIn;
  req.dataTransferLength = usb.transferLength;
  req.timeOutValue = ctx.usTimeoutShort;
  req.dataBuffer = ctx.SectorBuffer.data();
  req.cdb = usb.cdb;
  return SendScsiCommand(ctx, false, -1);
}

}  // namespace

bool ataDataByteTravels(const Context& ctx) {
  if (!ctx.hasSelectedDrive()) return false;
  const uint8_t bus = ctx.DriveTable[ctx.ucSelDrive].ucBusType;
  return (bus == kBusAta || bus == kBusSata) && ctx.port->carriesAtaDataByte();
}

bool SendAtaCommand(Context& ctx, bool dataOut, AtaTaskFile& taskFile, bool useDma, uint32_t byteCount) {
  if (!ctx.hasSelectedDrive()) {
    ctx.lastOutcome = CommandOutcome::notSent("no drive selected", false);
    return false;
  }
  switch (ctx.selectedDrive().ucBusType) {
    case kBusAta:
    case kBusSata:
      return sendAtaPath(ctx, dataOut, taskFile, useDma, byteCount);
    case kBusUsb:
      return sendUsbPath(ctx, dataOut, taskFile, byteCount);
    default:
      ctx.lastOutcome = CommandOutcome::notSent("the drive's bus type takes no ATA command", false);
      return false;
  }
}

}  // namespace zorv
