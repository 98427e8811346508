#include "transport/sat_cdb.h"

#include <algorithm>
#include <iterator>

#include "transport/ata_command.h"
#include "transport/ata_opcodes.h"
#include "transport/scsi_opcodes.h"

namespace zorv {

namespace {

constexpr uint32_t kMaxTimeoutSeconds = 0xFFFFFFFFu / 1000u;

std::string hex2(uint8_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[v >> 4], kDigits[v & 0x0F]};
}

}  // namespace

bool isFpdmaOpcode(uint8_t opcode) {
  return opcode == ata::kReadFpdmaQueued || opcode == ata::kWriteFpdmaQueued || opcode == ata::kNcqNonData ||
         opcode == ata::kSendFpdmaQueued || opcode == ata::kReceiveFpdmaQueued;
}

// CK_COND makes the translation layer answer every command with CHECK
// CONDITION and the registers in the sense data. The transport writes the
// returned LBA bytes back into the caller's task file, and the commands whose
// result lives in the registers (CHECK POWER MODE, the max-address commands,
// which the diagnostics send with a data-out phase) need them; so everything
// but data-in asks for them. A data-in command's result is its data, and it
// goes without, as the field's tools send it: Linux before 6.11 reports the
// last status of a PIO data-in command, which still shows DRQ, as ABORTED
// COMMAND when CK_COND asks for the registers, although every byte arrived.
bool satRequestsRegisters(const AtaPassThroughRequest& request) {
  return !(request.dataTransferLength > 0 && (request.ataFlags & kAtaFlagsDataIn));
}

bool buildSatPassThrough16(const AtaPassThroughRequest& request, SatCommand& out, std::string& error) {
  const auto& cur = request.currentTaskFile;
  const auto& prev = request.previousTaskFile;
  const bool in = request.ataFlags & kAtaFlagsDataIn;
  const bool dataOut = request.ataFlags & kAtaFlagsDataOut;
  const bool ext = request.ataFlags & kAtaFlags48Bit;
  const bool dma = request.ataFlags & kAtaFlagsUseDma;
  const uint32_t length = request.dataTransferLength;
  const uint8_t opcode = cur[6];

  if (in && dataOut) {
    error = "ATA pass-through: both data-in and data-out requested";
    return false;
  }
  if (length > 0) {
    if (!in && !dataOut) {
      error = "ATA pass-through: " + std::to_string(length) + " data bytes without a direction";
      return false;
    }
    if (request.dataBuffer == nullptr) {
      error = "ATA pass-through: " + std::to_string(length) + " data bytes without a buffer";
      return false;
    }
    if (length % 512 != 0) {
      error =
          "ATA pass-through: " + std::to_string(length) + " bytes is not a whole number of 512-byte sectors";
      return false;
    }
    if (length > kMaxAtaTransferBytes) {
      error =
          "ATA pass-through: " + std::to_string(length) + " bytes exceeds the 65536 sectors of one command";
      return false;
    }
  }
  const bool fpdma = isFpdmaOpcode(opcode);
  if (fpdma && !dma) {
    error =
        "ATA pass-through: command " + hex2(opcode) + "h is a queued (FPDMA) command and needs the DMA flag";
    return false;
  }

  sat::Protocol protocol;
  if (fpdma) {
    protocol = sat::kFpdma;
  } else if (length == 0) {
    protocol = sat::kNonData;
  } else if (dma) {
    protocol = sat::kDma;
  } else {
    protocol = in ? sat::kPioDataIn : sat::kPioDataOut;
  }

  // Lengths in 512-byte blocks (T_TYPE 0), counted in the count register
  // (FEATURES for FPDMA, whose count register carries the tag).
  uint8_t byte2 = satRequestsRegisters(request) ? sat::kCkCond : 0;
  if (length > 0) {
    byte2 |= sat::kByteBlock | (fpdma ? sat::kTLengthInFeatures : sat::kTLengthInCount);
    if (in) byte2 |= sat::kTDirFromDevice;
  }

  SatCommand cmd;
  SatCdb& c = cmd.cdb;
  c[0] = scsi::kAtaPassThrough16;
  c[1] = sat::byte1(protocol, ext);
  c[2] = byte2;
  c[3] = ext ? prev[0] : 0;   // FEATURES 15:8
  c[4] = cur[0];              // FEATURES 7:0
  c[5] = ext ? prev[1] : 0;   // COUNT 15:8
  c[6] = cur[1];              // COUNT 7:0
  c[7] = ext ? prev[2] : 0;   // LBA 31:24
  c[8] = cur[2];              // LBA 7:0
  c[9] = ext ? prev[3] : 0;   // LBA 39:32
  c[10] = cur[3];             // LBA 15:8
  c[11] = ext ? prev[4] : 0;  // LBA 47:40
  c[12] = cur[4];             // LBA 23:16
  c[13] = cur[5];             // DEVICE
  c[14] = opcode;             // COMMAND
  c[15] = 0;                  // CONTROL
  // cur[7], the console's data byte, has no place in the CDB: dropped.

  cmd.length = length;
  cmd.direction = length == 0 ? SatDirection::None : (in ? SatDirection::FromDevice : SatDirection::ToDevice);
  cmd.timeoutMs = std::min(request.timeOutValue, kMaxTimeoutSeconds) * 1000u;
  out = cmd;
  return true;
}

namespace {

// How the USB path sends one opcode: the protocol for data-in and for
// data-out (the same for every opcode but the vendor command), EXTEND, and
// whether the transfer is the caller's byte count (PIO) or the count
// register's sectors x 512.
struct UsbRow {
  uint8_t opcode;
  sat::Protocol dataIn;
  sat::Protocol dataOut;
  bool extend;
  bool lengthIsByteCount;
};

using enum sat::Protocol;

constexpr UsbRow kUsbTable[] = {
    // TRIM ranges by DMA; 28-bit image, so at most 255 blocks of ranges.
    {ata::kDataSetManagement, kDma, kDma, false, false},
    // The media and microcode DMA commands go as UDMA with EXTEND. READ DMA
    // and WRITE DMA are 28-bit: their high-order bytes are the task file's,
    // zero unless the caller set them.
    {ata::kReadDmaExt, kUdmaDataIn, kUdmaDataIn, true, false},
    {ata::kReadDma, kUdmaDataIn, kUdmaDataIn, true, false},
    {ata::kWriteDmaExt, kUdmaDataOut, kUdmaDataOut, true, false},
    {ata::kDownloadMicrocodeDma, kUdmaDataOut, kUdmaDataOut, true, false},
    {ata::kWriteDma, kUdmaDataOut, kUdmaDataOut, true, false},
    // DOWNLOAD MICROCODE (PIO) and WRITE BUFFER (the vendor command sector).
    {ata::kDownloadMicrocode, kPioDataOut, kPioDataOut, false, true},
    {ata::kWriteBuffer, kPioDataOut, kPioDataOut, false, true},
    // SMART data and logs, READ BUFFER (the vendor reply), IDENTIFY DEVICE.
    {ata::kSmart, kPioDataIn, kPioDataIn, false, true},
    {ata::kReadBuffer, kPioDataIn, kPioDataIn, false, true},
    {ata::kIdentifyDevice, kPioDataIn, kPioDataIn, false, true},
    // The vendor command moves its data the way the caller says.
    {ata::kVendorSwitch, kPioDataIn, kPioDataOut, false, true},
};

}  // namespace

UsbAtaCdb buildUsbAtaCdb(const AtaTaskFile& tf, bool dataOut, uint32_t byteCount) {
  const UsbRow* row = std::find_if(std::begin(kUsbTable), std::end(kUsbTable),
                                   [&](const UsbRow& r) { return r.opcode == tf.ucCommand; });
  UsbAtaCdb out;
  uint8_t byte1;
  uint8_t byte2;
  if (row == std::end(kUsbTable)) {
    // Not a command the tool moves data with (SET FEATURES, FLUSH CACHE,
    // CHECK POWER MODE, ...): non-data. Protocol 0 would have the bridge
    // reset the device instead of running the command.
    byte1 = sat::byte1(sat::kNonData, isAta48BitOpcode(tf.ucCommand));
    byte2 = sat::kTLengthNone;
  } else {
    byte1 = sat::byte1(dataOut ? row->dataOut : row->dataIn, row->extend);
    byte2 =
        sat::kTTypeSectors | sat::kByteBlock | sat::kTLengthInCount | (dataOut ? 0 : sat::kTDirFromDevice);
    const uint32_t sectors = uint32_t{tf.ucCountExt} * 256 + tf.ucCount;
    out.transferLength = row->lengthIsByteCount ? byteCount : sectors * 512;
  }
  out.cdb = {scsi::kAtaPassThrough16,
             byte1,
             byte2,
             0x00,  // FEATURES 15:8
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
             0x00};  // CONTROL
  return out;
}

}  // namespace zorv
