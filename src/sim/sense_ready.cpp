// Sense data and readiness: TEST UNIT READY, REQUEST SENSE, INQUIRY, READ
// CAPACITY, START STOP UNIT, SYNCHRONIZE CACHE on the SCSI side, and the ATA
// housekeeping commands a drive accepts without data.

#include <algorithm>
#include <cstring>

#include "sim/controller_parts.h"
#include "sim/media.h"
#include "sim/sim_drive.h"
#include "transport/ata_opcodes.h"
#include "transport/byte_order.h"
#include "transport/scsi_opcodes.h"

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
  putBe32(&sense[3], value);
}

namespace detail {

namespace {

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
    case scsi::kTestUnitReady:  // readiness was checked before the command got here
      return true;
    case scsi::kRequestSense: {  // the drive's present condition
      if (x.cdb.size() < 6) return false;
      SenseBytes s = notReady(drive, false) ? fixedSense(kSenseNotReady, 0x04, 0x01) : fixedSense(kSenseNoSense, 0, 0);
      answer(x, s.data(), s.size(), c[4]);
      return true;
    }
    case scsi::kInquiry:
      if (x.cdb.size() < 6) return false;
      inquiry(drive, x);
      return true;
    case scsi::kReadCapacity10: {
      uint8_t data[8] = {};
      uint64_t last = drive.userCapacity() - 1;
      putBe32(data, last > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(last));
      putBe32(data + 4, 512);
      answer(x, data, sizeof data, 8);
      return true;
    }
    case scsi::kServiceActionIn16: {
      if (x.cdb.size() < 16 || (c[1] & 0x1F) != 0x10) return false;
      uint8_t data[32] = {};
      putBe64(data, drive.userCapacity() - 1);
      putBe32(data + 8, 512);
      answer(x, data, sizeof data, be32(c + 10));
      return true;
    }
    case scsi::kStartStopUnit:
      return true;
    case scsi::kSynchronizeCache10:
    case scsi::kSynchronizeCache16:
      if (drive.media().flush() != 0) x.reply.checkCondition(kSenseMediumError, 0x0C, 0x00);
      return true;
    default:
      return false;
  }
}

bool housekeepingAta(SimDrive& drive, AtaExchange& x) {
  const AtaRegisters& r = x.command.regs;
  switch (r.command) {
    case ata::kFlushCache:
    case ata::kFlushCacheExt:
      if (drive.media().flush() != 0) x.reply.abort();
      return true;
    case ata::kStandbyImmediate: case ata::kIdleImmediate: case ata::kStandby: case ata::kIdle: case ata::kSleep:
      return true;
    case ata::kCheckPowerMode:  // active
      x.reply.regs.count = 0xFF;
      return true;
    case ata::kSetFeatures:
      switch (r.features) {
        case 0x02: case 0x82:  // write cache on / off
          if (!drive.setWriteCache(r.features == 0x02)) x.reply.abort();
          return true;
        case 0x03: case 0x05: case 0x85:
        case 0x10: case 0x90: case 0x55: case 0xAA: case 0x66: case 0xCC:
          return true;
        default:
          x.reply.abort();
          return true;
      }
    case ata::kSetMultipleMode:  // 0 or a power of two up to 16
      if (r.count > 16 || (r.count & (r.count - 1)) != 0) x.reply.abort();
      return true;
    case ata::kInitializeDeviceParameters:
      return true;
    case ata::kExecuteDeviceDiagnostic:  // device 0 passed, ATA signature
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
