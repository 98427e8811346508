#include "platform/linux/sat_pass_through.h"

#include <algorithm>

#include "platform/linux/sense.h"

namespace zorv::platform {

namespace {

constexpr uint8_t kAtaPassThrough16 = 0x85;
constexpr uint8_t kCkCond = 0x20;
constexpr uint8_t kTDirFromDevice = 0x08;
constexpr uint8_t kByteBlock = 0x04;
constexpr uint8_t kTLengthInFeatures = 0x01;
constexpr uint8_t kTLengthInCount = 0x02;
constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;
constexpr uint32_t kMaxTimeoutSeconds = 0xFFFFFFFFu / 1000u;

std::string hex2(uint8_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[v >> 4], kDigits[v & 0x0F]};
}

}  // namespace

bool isFpdmaOpcode(uint8_t opcode) {
  // READ/WRITE FPDMA QUEUED, NCQ NON-DATA, SEND/RECEIVE FPDMA QUEUED.
  return opcode == 0x60 || opcode == 0x61 || opcode == 0x63 || opcode == 0x64 || opcode == 0x65;
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
      error = "ATA pass-through: " + std::to_string(length) +
              " bytes is not a whole number of 512-byte sectors";
      return false;
    }
    if (length > kMaxAtaTransferBytes) {
      error = "ATA pass-through: " + std::to_string(length) + " bytes exceeds the 65536 sectors of one command";
      return false;
    }
  }
  const bool fpdma = isFpdmaOpcode(opcode);
  if (fpdma && !dma) {
    error = "ATA pass-through: command " + hex2(opcode) + "h is a queued (FPDMA) command and needs the DMA flag";
    return false;
  }

  uint8_t protocol;
  if (fpdma) {
    protocol = kSatFpdma;
  } else if (length == 0) {
    protocol = kSatNonData;
  } else if (dma) {
    protocol = kSatDma;
  } else {
    protocol = in ? kSatPioDataIn : kSatPioDataOut;
  }

  // Byte 2: OFF_LINE (7-6) = 0, CK_COND (5) = 1 so that the registers always
  // come back, T_TYPE (4) = 0: lengths in 512-byte units, T_DIR (3),
  // BYTE_BLOCK (2) = 1: length in blocks, T_LENGTH (1-0): which register
  // holds the block count (the count register; FEATURES for FPDMA, whose count
  // register carries the tag). No data: T_LENGTH = 0.
  uint8_t byte2 = kCkCond;
  if (length > 0) {
    byte2 |= kByteBlock | (fpdma ? kTLengthInFeatures : kTLengthInCount);
    if (in) byte2 |= kTDirFromDevice;
  }

  SatCommand cmd;
  SatCdb& c = cmd.cdb;
  c[0] = kAtaPassThrough16;
  // Byte 1: MULTIPLE_COUNT (7-5) = 0, PROTOCOL (4-1), EXTEND (0).
  c[1] = static_cast<uint8_t>((protocol << 1) | (ext ? 1 : 0));
  c[2] = byte2;
  // Bytes 3-14: each register's high-order byte (previous task file, only
  // with EXTEND) right before its low-order byte (current task file).
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

// ATA Status Return descriptor (09h), 14 bytes:
//   0  09h            1  0Ch (additional length)
//   2  bit 0 EXTEND   3  ERROR
//   4  COUNT 15:8     5  COUNT 7:0
//   6  LBA 31:24      7  LBA 7:0
//   8  LBA 39:32      9  LBA 15:8
//  10  LBA 47:40     11  LBA 23:16
//  12  DEVICE        13  STATUS
void fromDescriptor(const uint8_t* d, AtaReturn& r) {
  r.extend = d[2] & 0x01;
  r.error = d[3];
  r.count = {d[5], d[4]};
  r.lba = {d[7], d[9], d[11], d[6], d[8], d[10]};
  r.device = d[12];
  r.status = d[13];
  r.complete = true;
}

// Fixed format (SAT): INFORMATION bytes 3-6 = ERROR, STATUS, DEVICE,
// COUNT 7:0; COMMAND-SPECIFIC INFORMATION byte 8 = EXTEND (7),
// COUNT UPPER NONZERO (6), LBA UPPER NONZERO (5), LOG INDEX (3-0); bytes
// 9-11 = LBA 7:0, 15:8, 23:16. Linux before 6.11 wrote the same fields
// five bytes on: ERROR, STATUS, DEVICE, COUNT at 8-11 (INFORMATION left
// zero), the flags byte at 16 and the LBA at 17-19, past the 18 bytes an
// ADDITIONAL SENSE LENGTH of 0Ah covers. Bytes not returned read as unknown.
void fromFixed(const uint8_t* s, size_t length, size_t base, AtaReturn& r) {
  auto at = [&](size_t i, bool& known) -> uint8_t {
    if (i < length) return s[i];
    known = false;
    return 0;
  };
  bool known = true;
  const size_t regs = base == 0 ? 3 : 8;
  const size_t flagsAt = base == 0 ? 8 : 16;
  r.error = at(regs, known);
  r.status = at(regs + 1, known);
  r.device = at(regs + 2, known);
  r.count = {at(regs + 3, known), 0};
  const uint8_t flags = at(flagsAt, known);
  r.extend = flags & 0x80;
  r.lba = {at(flagsAt + 1, known), at(flagsAt + 2, known), at(flagsAt + 3, known), 0, 0, 0};
  // The high-order bytes are not in fixed format; only whether they are zero.
  if (flags & 0x60) known = false;
  r.complete = known;
}

}  // namespace

SenseLayout parseAtaReturn(const uint8_t* sense, size_t length, AtaReturn& out) {
  if (sense == nullptr || length < 8) return SenseLayout::None;
  const uint8_t code = sense[0] & 0x7F;
  // The device's own length bounds what is read, as does the buffer.
  const size_t total = std::min(length, size_t{8} + sense[7]);

  if (code == 0x72 || code == 0x73) {
    const uint8_t* d = findSenseDescriptor(sense, total, kAtaStatusReturnDescriptor);
    if (d == nullptr || d[1] < 0x0C) return SenseLayout::None;
    fromDescriptor(d, out);
    return SenseLayout::Descriptor;
  }
  if (code != 0x70 && code != 0x71) return SenseLayout::None;
  if (total < 8) return SenseLayout::None;

  // A drive that completed a command never reports status 00h (DRDY at
  // least is set), so a zero status byte means "no registers here".
  auto byteAt = [&](size_t i) -> uint8_t { return i < total ? sense[i] : 0; };
  const bool infoEmpty = byteAt(3) == 0 && byteAt(4) == 0 && byteAt(5) == 0 && byteAt(6) == 0;
  if (!infoEmpty && byteAt(4) != 0) {
    fromFixed(sense, total, 0, out);
    return SenseLayout::FixedStandard;
  }
  if (infoEmpty && byteAt(9) != 0) {
    // The pre-6.11 layout can run past ADDITIONAL SENSE LENGTH; read what
    // the kernel actually wrote.
    fromFixed(sense, length, 8, out);
    return SenseLayout::FixedLegacy;
  }
  return SenseLayout::None;
}

void applyAtaReturn(const AtaReturn& r, AtaPassThroughRequest& request) {
  request.currentTaskFile = {r.error, r.count[0], r.lba[0], r.lba[1], r.lba[2], r.device, r.status, 0};
  request.previousTaskFile = {0, r.count[1], r.lba[3], r.lba[4], r.lba[5], 0, 0, 0};
}

}  // namespace zorv::platform
