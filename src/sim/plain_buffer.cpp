// READ BUFFER / WRITE BUFFER while no vendor command is pending: one plain
// 512-byte buffer, the same for the ATA commands (E4h/E8h, DMA E9h/EBh) and
// the SCSI ones (3Ch/3Bh, data mode). The vendor protocol hook answers these
// commands itself when a vendor command sector is involved.

#include <algorithm>
#include <cstring>

#include "sim/controller_parts.h"
#include "sim/sim_drive.h"
#include "transport/ata_opcodes.h"
#include "transport/byte_order.h"
#include "transport/scsi_opcodes.h"

namespace zorv::sim::detail {

namespace {

constexpr size_t kBufferSize = 512;

}  // namespace

bool bufferAta(SimDrive& drive, AtaExchange& x) {
  uint8_t op = x.command.regs.command;
  bool read = op == ata::kReadBuffer || op == ata::kReadBufferDma;
  bool write = op == ata::kWriteBuffer || op == ata::kWriteBufferDma;
  if (!read && !write) return false;
  DataDir want = read ? DataDir::In : DataDir::Out;
  if (x.command.dir != want || x.data.size() < kBufferSize) {
    x.reply.abort();
    return true;
  }
  if (read) {
    std::memcpy(x.data.data(), drive.plainBuffer().data(), kBufferSize);
  } else {
    std::memcpy(drive.plainBuffer().data(), x.data.data(), kBufferSize);
  }
  x.reply.bytes = kBufferSize;
  return true;
}

bool bufferScsi(SimDrive& drive, ScsiExchange& x) {
  if (x.cdb.size() < 10) return false;
  const uint8_t* c = x.cdb.data();
  if (c[0] != scsi::kReadBuffer && c[0] != scsi::kWriteBuffer) return false;
  uint8_t mode = c[1] & 0x1F;
  uint8_t bufferId = c[2];
  uint32_t offset = be24(c + 3);
  uint32_t length = be24(c + 6);
  auto invalid = [&]() {
    x.reply.checkCondition(kSenseIllegalRequest, 0x24, 0x00);
    return true;
  };
  if (bufferId != 0) return invalid();

  if (c[0] == scsi::kReadBuffer) {
    if (length > 0 && x.dir != DataDir::In) return invalid();
    length = std::min<uint32_t>(length, static_cast<uint32_t>(x.data.size()));
    if (mode == 0x03) {  // descriptor: byte alignment, 512-byte capacity
      const uint8_t descriptor[4] = {0x00, 0x00, 0x02, 0x00};
      uint32_t n = std::min<uint32_t>(length, 4);
      std::memcpy(x.data.data(), descriptor, n);
      x.reply.bytes = n;
      return true;
    }
    if (mode == 0x00) {  // combined header and data
      uint8_t header[4] = {0x00, 0x00, 0x02, 0x00};
      uint32_t n = std::min<uint32_t>(length, 4);
      std::memcpy(x.data.data(), header, n);
      uint32_t more = std::min<uint32_t>(length - n, kBufferSize);
      std::memcpy(x.data.data() + n, drive.plainBuffer().data(), more);
      x.reply.bytes = n + more;
      return true;
    }
    if (mode != 0x02) return invalid();
    if (offset > kBufferSize) return invalid();
    uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(kBufferSize - offset));
    std::memcpy(x.data.data(), drive.plainBuffer().data() + offset, n);
    x.reply.bytes = n;
    return true;
  }

  // WRITE BUFFER, data mode only; the download modes belong to the microcode hook.
  if (mode != 0x02) return invalid();
  if (offset > kBufferSize || length > kBufferSize - offset) return invalid();
  if (length > 0 && (x.dir != DataDir::Out || x.data.size() < length)) return invalid();
  std::memcpy(drive.plainBuffer().data() + offset, x.data.data(), length);
  x.reply.bytes = length;
  return true;
}

}  // namespace zorv::sim::detail
