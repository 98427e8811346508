// Block I/O: the ATA read/write commands (DMA and PIO, 28- and 48-bit) and
// SCSI READ/WRITE(10/12/16), on the drive's media.

#include <cerrno>

#include "sim/controller_parts.h"
#include "sim/sim_drive.h"
#include "transport/byte_order.h"
#include "transport/scsi_opcodes.h"

namespace zorv::sim::detail {

namespace {

constexpr uint32_t kSector = 512;

struct AtaRw {
  bool write;
  bool ext;      // 48-bit addressing
  bool verify;   // READ VERIFY: no data moves
};

// The read and write opcodes by kind, a table of numbers as the console's.
std::optional<AtaRw> ataRwOf(uint8_t opcode) {
  switch (opcode) {
    case 0x20: case 0x21: case 0xC4: case 0xC8: case 0xC9: return AtaRw{false, false, false};
    case 0x24: case 0x25: case 0x29: return AtaRw{false, true, false};
    case 0x30: case 0x31: case 0xC5: case 0xCA: case 0xCB: return AtaRw{true, false, false};
    case 0x34: case 0x35: case 0x39: return AtaRw{true, true, false};
    case 0x40: case 0x41: return AtaRw{false, false, true};
    case 0x42: return AtaRw{false, true, true};
    default: return std::nullopt;
  }
}

void setErrorLba(AtaReply& reply, bool ext, uint64_t lba) {
  if (ext) {
    reply.regs.setLba48(lba);
  } else {
    reply.regs.setLba28(static_cast<uint32_t>(lba));
  }
}

}  // namespace

bool blockIoAta(SimDrive& drive, AtaExchange& x) {
  std::optional<AtaRw> rw = ataRwOf(x.command.regs.command);
  if (!rw) return false;
  const AtaRegisters& r = x.command.regs;
  uint64_t lba = rw->ext ? r.lba48() : r.lba28();
  uint32_t count = rw->ext ? r.count16() : r.count;
  if (count == 0) count = rw->ext ? 65536 : 256;

  if (lba > drive.userCapacity() || count > drive.userCapacity() - lba) {
    x.reply.fail(kErrorIdnf);
    setErrorLba(x.reply, rw->ext, lba);
    return true;
  }
  if (rw->verify) {
    drive.countRead(count);
    return true;
  }
  size_t bytes = size_t{count} * kSector;
  DataDir want = rw->write ? DataDir::Out : DataDir::In;
  if (x.command.dir != want || x.data.size() < bytes) {
    // The host set up no room (or the wrong direction) for the data phase.
    x.reply.abort();
    return true;
  }
  if (rw->write) {
    int err = drive.writeSectors(lba, count, x.data.data());
    if (err != 0) {
      x.reply.abort();
      setErrorLba(x.reply, rw->ext, lba);
      return true;
    }
    damageWritten(drive, lba, count);
    drive.countWritten(count);
  } else {
    if (std::optional<uint64_t> bad = readErrorAt(drive, lba, count)) {
      x.reply.fail(kErrorUnc);
      setErrorLba(x.reply, rw->ext, *bad);
      return true;
    }
    int err = drive.readSectors(lba, count, x.data.data());
    if (err != 0) {
      x.reply.fail(kErrorUnc);
      setErrorLba(x.reply, rw->ext, lba);
      return true;
    }
    corruptRead(drive, lba, count, x.data.data());
    drive.countRead(count);
  }
  x.reply.bytes = static_cast<uint32_t>(bytes);
  return true;
}

bool decodeScsiTransfer(std::span<const uint8_t> cdb, ScsiTransfer& t) {
  if (cdb.empty()) return false;
  const uint8_t* c = cdb.data();
  switch (c[0]) {
    case scsi::kRead10: case scsi::kWrite10:
      if (cdb.size() < 10) return false;
      t = {c[0] == scsi::kWrite10, be32(c + 2), be16(c + 7)};
      return true;
    case scsi::kRead12: case scsi::kWrite12:
      if (cdb.size() < 12) return false;
      t = {c[0] == scsi::kWrite12, be32(c + 2), be32(c + 6)};
      return true;
    case scsi::kRead16: case scsi::kWrite16:
      if (cdb.size() < 16) return false;
      t = {c[0] == scsi::kWrite16, be64(c + 2), be32(c + 10)};
      return true;
    default:
      return false;
  }
}

bool checkScsiTransfer(SimDrive& drive, const ScsiTransfer& t, DataDir dir, size_t hostBytes, ScsiReply& reply) {
  if (t.lba > drive.userCapacity() || t.count > drive.userCapacity() - t.lba) {
    reply.checkCondition(kSenseIllegalRequest, 0x21, 0x00);  // LOGICAL BLOCK ADDRESS OUT OF RANGE
    return false;
  }
  if (t.count == 0) return true;
  DataDir want = t.write ? DataDir::Out : DataDir::In;
  if (dir != want || hostBytes < uint64_t{t.count} * kSector) {
    reply.checkCondition(kSenseIllegalRequest, 0x24, 0x00);  // INVALID FIELD IN CDB
    return false;
  }
  return true;
}

void finishScsiTransfer(SimDrive& drive, const ScsiTransfer& t, int err, uint8_t* data, ScsiReply& reply) {
  if (err != 0) {
    if (t.write) {
      reply.checkCondition(kSenseMediumError, 0x0C, 0x00);  // WRITE ERROR
    } else {
      reply.checkCondition(kSenseMediumError, 0x11, 0x00);  // UNRECOVERED READ ERROR
    }
    reply.setInformation(static_cast<uint32_t>(t.lba));
    return;
  }
  if (t.write) {
    damageWritten(drive, t.lba, t.count);
    drive.countWritten(t.count);
  } else {
    corruptRead(drive, t.lba, t.count, data);
    drive.countRead(t.count);
  }
  reply.bytes = t.count * kSector;
}

bool blockIoScsi(SimDrive& drive, ScsiExchange& x) {
  ScsiTransfer t;
  if (!decodeScsiTransfer(x.cdb, t)) return false;
  if (!checkScsiTransfer(drive, t, x.dir, x.data.size(), x.reply) || t.count == 0) return true;
  if (!t.write) {
    if (std::optional<uint64_t> bad = readErrorAt(drive, t.lba, t.count)) {
      x.reply.checkCondition(kSenseMediumError, 0x11, 0x00);  // UNRECOVERED READ ERROR
      x.reply.setInformation(static_cast<uint32_t>(*bad));
      return true;
    }
  }
  int err = t.write ? drive.writeSectors(t.lba, t.count, x.data.data()) : drive.readSectors(t.lba, t.count, x.data.data());
  finishScsiTransfer(drive, t, err, x.data.data(), x.reply);
  return true;
}

}  // namespace zorv::sim::detail
