// Sense data and readiness: TEST UNIT READY, REQUEST SENSE, INQUIRY, READ
// CAPACITY, START STOP UNIT, SYNCHRONIZE CACHE on the SCSI side, and the ATA
// housekeeping commands a drive accepts without data.

#include <algorithm>
#include <cstring>

#include "sim/controller_parts.h"
#include "sim/media.h"
#include "sim/sim_drive.h"

namespace zorv::sim {

SenseBytes fixedSense(uint8_t key, uint8_t asc, uint8_t ascq) {
  SenseBytes s{};
  s[0] = 0x70;  // current error, fixed format
  s[2] = key & 0x0F;
  s[7] = kFixedSenseLength - 8;  // additional sense length
  s[12] = asc;
  s[13] = ascq;
  return s;
}

void ScsiReply::setInformation(uint32_t value) {
  sense[0] |= 0x80;  // VALID
  sense[3] = static_cast<uint8_t>(value >> 24);
  sense[4] = static_cast<uint8_t>(value >> 16);
  sense[5] = static_cast<uint8_t>(value >> 8);
  sense[6] = static_cast<uint8_t>(value);
}

namespace detail {

namespace {

uint32_t be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
void putBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
void putBe64(uint8_t* p, uint64_t v) {
  putBe32(p, static_cast<uint32_t>(v >> 32));
  putBe32(p + 4, static_cast<uint32_t>(v));
}

void putPadded(uint8_t* p, size_t n, std::string_view text) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
}

// Copies an answer of `size` bytes, cut to the allocation length and the
// host buffer.
void answer(ScsiExchange& x, const uint8_t* bytes, size_t size, uint32_t allocation) {
  if (allocation > 0 && x.dir != DataDir::In) {
    x.reply.checkCondition(kSenseIllegalRequest, 0x24, 0x00);
    return;
  }
  size_t n = std::min({size, size_t{allocation}, x.data.size()});
  std::memcpy(x.data.data(), bytes, n);
  x.reply.bytes = static_cast<uint32_t>(n);
}

void inquiry(SimDrive& drive, ScsiExchange& x) {
  const uint8_t* c = x.cdb.data();
  uint32_t allocation = be16(c + 3);
  const SimIdentity& id = drive.identity();
  uint8_t page[64] = {};
  if (c[1] & 0x01) {  // vital product data
    switch (c[2]) {
      case 0x00: {
        const uint8_t supported[] = {0x00, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83};
        answer(x, supported, sizeof supported, allocation);
        return;
      }
      case 0x80: {
        page[1] = 0x80;
        page[3] = 20;
        putPadded(page + 4, 20, id.serial);
        answer(x, page, 24, allocation);
        return;
      }
      case 0x83: {
        page[1] = 0x83;
        page[3] = 12;
        page[4] = 0x01;  // binary
        page[5] = 0x03;  // NAA, associated with the logical unit
        page[7] = 8;
        putBe64(page + 8, id.wwn);
        answer(x, page, 16, allocation);
        return;
      }
      default:
        x.reply.checkCondition(kSenseIllegalRequest, 0x24, 0x00);
        return;
    }
  }
  if (c[2] != 0) {
    x.reply.checkCondition(kSenseIllegalRequest, 0x24, 0x00);
    return;
  }
  page[2] = 0x06;  // SPC-4
  page[3] = 0x02;
  page[4] = 31;
  page[7] = 0x02;  // command queueing
  putPadded(page + 8, 8, "ATA");
  putPadded(page + 16, 16, std::string_view(id.model).substr(0, std::min<size_t>(16, id.model.size())));
  std::string_view fw = id.firmware;
  putPadded(page + 32, 4, fw.size() > 4 ? fw.substr(fw.size() - 4) : fw);
  answer(x, page, 36, allocation);
}

}  // namespace

bool senseReadyScsi(SimDrive& drive, ScsiExchange& x) {
  const uint8_t* c = x.cdb.data();
  switch (c[0]) {
    case 0x00:  // TEST UNIT READY: readiness was checked before the command got here
      return true;
    case 0x03: {  // REQUEST SENSE: the drive's present condition
      if (x.cdb.size() < 6) return false;
      SenseBytes s = notReady(drive, false) ? fixedSense(kSenseNotReady, 0x04, 0x01) : fixedSense(kSenseNoSense, 0, 0);
      answer(x, s.data(), s.size(), c[4]);
      return true;
    }
    case 0x12:
      if (x.cdb.size() < 6) return false;
      inquiry(drive, x);
      return true;
    case 0x25: {  // READ CAPACITY(10)
      uint8_t data[8] = {};
      uint64_t last = drive.userCapacity() - 1;
      putBe32(data, last > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(last));
      putBe32(data + 4, 512);
      answer(x, data, sizeof data, 8);
      return true;
    }
    case 0x9E: {  // SERVICE ACTION IN(16)
      if (x.cdb.size() < 16 || (c[1] & 0x1F) != 0x10) return false;
      uint8_t data[32] = {};
      putBe64(data, drive.userCapacity() - 1);
      putBe32(data + 8, 512);
      answer(x, data, sizeof data, be32(c + 10));
      return true;
    }
    case 0x1B:  // START STOP UNIT
      return true;
    case 0x35:
    case 0x91:  // SYNCHRONIZE CACHE(10/16)
      if (drive.media().flush() != 0) x.reply.checkCondition(kSenseMediumError, 0x0C, 0x00);
      return true;
    default:
      return false;
  }
}

bool housekeepingAta(SimDrive& drive, AtaExchange& x) {
  const AtaRegisters& r = x.command.regs;
  switch (r.command) {
    case 0xE7:
    case 0xEA:  // FLUSH CACHE (EXT)
      if (drive.media().flush() != 0) x.reply.abort();
      return true;
    case 0xE0: case 0xE1: case 0xE2: case 0xE3: case 0xE6:  // power modes
      return true;
    case 0xE5:  // CHECK POWER MODE: active
      x.reply.regs.count = 0xFF;
      return true;
    case 0xEF:  // SET FEATURES
      switch (r.features) {
        case 0x02: case 0x82: case 0x03: case 0x05: case 0x85:
        case 0x10: case 0x90: case 0x55: case 0xAA: case 0x66: case 0xCC:
          return true;
        default:
          x.reply.abort();
          return true;
      }
    case 0xC6:  // SET MULTIPLE MODE: 0 or a power of two up to 16
      if (r.count > 16 || (r.count & (r.count - 1)) != 0) x.reply.abort();
      return true;
    case 0x91:  // INITIALIZE DEVICE PARAMETERS
      return true;
    case 0x90:  // EXECUTE DEVICE DIAGNOSTIC: device 0 passed, ATA signature
      x.reply.error = kErrorAmnf;
      x.reply.regs.count = 0x01;
      x.reply.regs.lbaLow = 0x01;
      x.reply.regs.lbaMid = 0x00;
      x.reply.regs.lbaHigh = 0x00;
      return true;
    default:
      return false;
  }
}

}  // namespace detail
}  // namespace zorv::sim
