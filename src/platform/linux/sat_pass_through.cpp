#include "platform/linux/sat_pass_through.h"

#include <algorithm>

#include "platform/linux/sense.h"

namespace zorv::platform {

namespace {

constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;

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
  r.lowKnown = true;
  r.highKnown = true;
}

// Fixed format (SAT): INFORMATION bytes 3-6 = ERROR, STATUS, DEVICE,
// COUNT 7:0; COMMAND-SPECIFIC INFORMATION byte 8 = EXTEND (7),
// COUNT UPPER NONZERO (6), LBA UPPER NONZERO (5), LOG INDEX (3-0); bytes
// 9-11 = LBA 7:0, 15:8, 23:16. Linux before 6.11 wrote the same fields
// five bytes on: ERROR, STATUS, DEVICE, COUNT at 8-11 (INFORMATION left
// zero), the flags byte at 16 and the LBA at 17-19, past the 18 bytes an
// ADDITIONAL SENSE LENGTH of 0Ah covers. Registers whose bytes were not
// returned keep what they held and are marked unknown.
void fromFixed(const uint8_t* s, size_t length, size_t base, AtaReturn& r) {
  bool known = true;
  auto take = [&](size_t i, uint8_t& field) {
    if (i < length)
      field = s[i];
    else
      known = false;
  };
  const size_t regs = base == 0 ? 3 : 8;
  const size_t flagsAt = base == 0 ? 8 : 16;
  take(regs, r.error);
  take(regs + 1, r.status);
  take(regs + 2, r.device);
  take(regs + 3, r.count[0]);
  uint8_t flags = r.extend ? 0x80 : 0x00;
  take(flagsAt, flags);
  take(flagsAt + 1, r.lba[0]);
  take(flagsAt + 2, r.lba[1]);
  take(flagsAt + 3, r.lba[2]);
  r.lowKnown = known;
  r.extend = flags & 0x80;
  // The high-order bytes are not in fixed format; only whether they are
  // zero. Zero ones are known.
  const bool countUpper = flags & 0x40;
  const bool lbaUpper = flags & 0x20;
  if (!countUpper) r.count[1] = 0;
  if (!lbaUpper) r.lba[3] = r.lba[4] = r.lba[5] = 0;
  r.highKnown = known && !countUpper && !lbaUpper;
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

AtaReturn AtaReturn::sent(const AtaPassThroughRequest& request) {
  const auto& cur = request.currentTaskFile;
  const auto& prev = request.previousTaskFile;
  AtaReturn r;
  r.extend = request.ataFlags & kAtaFlags48Bit;
  r.error = cur[0];
  r.count = {cur[1], prev[1]};
  r.lba = {cur[2], cur[3], cur[4], prev[2], prev[3], prev[4]};
  r.device = cur[5];
  r.status = cur[6];
  return r;
}

void applyAtaReturn(const AtaReturn& r, AtaPassThroughRequest& request) {
  request.currentTaskFile = {r.error, r.count[0], r.lba[0], r.lba[1], r.lba[2], r.device, r.status, 0};
  request.previousTaskFile = {0, r.count[1], r.lba[3], r.lba[4], r.lba[5], 0, 0, 0};
}

}  // namespace zorv::platform
