// Vendor codes of the flash organisation: FTL layout and lookups (31h), block
// information (32h), plane information (33h), flash ID (38h), flash check
// (39h), memory and SPI dumps (50h, 52h), restore (51h, 55h) and the
// diagnostic dump (57h). Every answer comes from the drive's FlashModel
// (flash_geometry.h).
//
// Replies (numbers big-endian unless noted):
//   31h 01h  bytes 0-15: channel, chip, die, plane, block, page, 4 KiB unit,
//            trim of FTL entry (bytes 16-19; byte 20: 0 map, 1 table)
//   31h 02h  entries bytes 16-19 .. 20-23 (byte 24: map/table), at most
//            4096: 126 PPNs per sector from byte 0, byte 507 their count,
//            bytes 510-511 ABh CDh when another sector follows
//   31h 03h  widths of chan, chip, die, plan, blck, page, au4k, resv, trim in
//            bytes 1, 3, ..., 17
//   32h 01h  invalid pages, wear level, type, erase count, user data, table
//            flag of one block (class 0: channel 17, chip 19, die 21, plane
//            23, block 24-25; class 1: RAID 17, block 18-19)
//   32h 02h  every block: per plane (class 0) or RAID group (class 1) a
//            header sector and the 8-byte little-endian records
//   33h      the plane's allocation state (channel 17, chip 19, die 21, plane 23)
//   38h      channels, chips, then per chip: channel, chip, six ID bytes
//   39h      maker text, page size (K), pages per block, blocks per CE,
//            Gbit per CE, total GiB
//   50h/52h  bytes 16-19 address, 20-21 sectors (1-128): controller memory
//            or SPI flash (FFh past its end)
//   51h      restore request, bytes 16-17 the whole sectors announced; 55h
//            51h opens the stream, 55h 00h closes it. The stream's sectors
//            are written to the SPI flash from offset 0 when it closes, and
//            only when at least the announced sectors arrived; a final
//            sector for a remainder is taken as well. Sectors past the image
//            are dropped.
//   57h 01h  diagnostics trigger: counted in "diagnosticTriggers", no reply
//   57h 02h  bytes 0-3 the text length (little-endian), the text from the
//            second sector on

#include <algorithm>
#include <array>
#include <cstring>

#include "sim/flash_geometry.h"
#include "sim/sim_drive.h"
#include "sim/vendor_protocol.h"
#include "transport/byte_order.h"

namespace zorv::sim {

namespace {

constexpr size_t kSector = 512;
constexpr uint32_t kMaxPpnEntries = 4096;
constexpr size_t kPpnsPerSector = 126;
constexpr uint16_t kMaxDumpChunk = 128;

using Sector = std::array<uint8_t, kSector>;

// Fields of a reply sector; 16-bit fields take the low half of the value.
void putBe16(Sector& s, size_t offset, uint32_t value) { zorv::putBe16(&s[offset], static_cast<uint16_t>(value)); }
void putBe32(Sector& s, size_t offset, uint32_t value) { zorv::putBe32(&s[offset], value); }

uint16_t clamp16(uint32_t v) { return static_cast<uint16_t>(std::min<uint32_t>(v, 0xFFFF)); }

// ---- 31h ----------------------------------------------------------------------

void ftlOne(const FlashModel& m, const VendorSector& s, VendorReply& reply) {
  bool table = s.byte(20) == 1;
  std::array<uint32_t, 9> f = m.ppnLayout().decode(m.ftlEntry(s.be32(16), table));
  Sector out{};
  const size_t order[8] = {0, 1, 2, 3, 4, 5, 6, 8};
  for (size_t i = 0; i < 8; ++i) putBe16(out, 2 * i, f[order[i]]);
  reply.append(out);
}

void ftlList(const FlashModel& m, const VendorSector& s, VendorReply& reply) {
  uint32_t start = s.be32(16);
  uint32_t end = s.be32(20);
  bool table = s.byte(24) == 1;
  uint32_t count = end >= start ? std::min<uint32_t>(end - start, kMaxPpnEntries - 1) + 1 : 0;
  uint32_t done = 0;
  do {
    Sector out{};
    uint32_t here = std::min<uint32_t>(count - done, kPpnsPerSector);
    for (uint32_t i = 0; i < here; ++i) putBe32(out, 4 * i, m.ftlEntry(start + done + i, table));
    out[507] = static_cast<uint8_t>(here);
    done += here;
    if (done < count) {
      out[510] = 0xAB;
      out[511] = 0xCD;
    }
    reply.append(out);
  } while (done < count);
}

void ftlLayout(const FlashModel& m, VendorReply& reply) {
  Sector out{};
  PpnLayout l = m.ppnLayout();
  for (size_t k = 0; k < 9; ++k) out[1 + 2 * k] = l.widths[k];
  reply.append(out);
}

// ---- 32h ----------------------------------------------------------------------

std::optional<uint32_t> addressedPlane(const FlashModel& m, const VendorSector& s) {
  return m.planeIndex({s.byte(17), s.byte(19), s.byte(21), s.byte(23)});
}

void blockInfo(const FlashModel& m, const VendorSector& s, VendorReply& reply) {
  std::optional<BlockInfo> b;
  if (m.modelClass() == 1) {
    uint32_t raid = s.byte(17);
    uint32_t block = s.be16(18);
    if (raid < m.raidGroups() && block < m.reportedBlocks()) b = m.raidBlock(raid, block);
  } else {
    auto plane = addressedPlane(m, s);
    uint32_t block = s.be16(24);
    if (plane && block < m.reportedBlocks()) b = m.block(*plane, block);
  }
  if (!b) return;  // no such block: the reply reads as FFh
  Sector out{};
  putBe16(out, 0, b->invalidPages);
  putBe16(out, 2, b->wearLevel);
  putBe16(out, 4, b->type);
  putBe16(out, 6, clamp16(b->eraseCount));
  putBe16(out, 8, b->userData);
  putBe16(out, 10, b->tableFlag);
  reply.append(out);
}

uint64_t packRecord(const BlockInfo& b, uint16_t modelClass, uint32_t stored) {
  auto pack = [](std::span<const uint8_t> widths, std::span<const uint64_t> values) {
    uint64_t r = 0;
    unsigned shift = 0;
    for (size_t i = 0; i < widths.size(); ++i) {
      uint64_t max = (uint64_t{1} << widths[i]) - 1;
      r |= std::min(values[i], max) << shift;
      shift += widths[i];
    }
    return r;
  };
  if (modelClass == 1) {
    const uint64_t v[4] = {b.type, stored, b.invalidPages, b.wearLevel};
    return pack(BlockRecordWidths::kClass1, v);
  }
  const uint64_t v[6] = {b.userData, b.tableFlag, b.wearLevel, stored, b.invalidPages, b.type};
  return pack(BlockRecordWidths::kClass0, v);
}

// The whole dump: for every group a header sector and its record sectors.
void blockDump(const FlashModel& m, VendorReply& reply) {
  const bool class1 = m.modelClass() == 1;
  const uint32_t groups = class1 ? m.raidGroups() : m.planeCount();
  const uint32_t blocks = m.reportedBlocks();
  const uint32_t recordSectors = (blocks * 8 + kSector - 1) / kSector;
  uint32_t countdown = groups * (1 + recordSectors);
  const uint32_t half = uint32_t{1} << (m.eraseCountWidth() - 1);
  for (uint32_t g = 0; g < groups; ++g) {
    Sector h{};
    if (class1) {
      putBe16(h, 2, m.slcStart());
      putBe16(h, 4, m.reservedStart());
      putBe16(h, 6, g);
      putBe16(h, 10, m.nonSlcStart());
      const auto& w = BlockRecordWidths::kClass1;
      h[21] = w[0];
      h[23] = w[1];
      h[25] = w[2];
      h[27] = w[3];
    } else {
      PlaneAddress a = m.planeAddress(g);
      putBe16(h, 0, a.channel);
      putBe16(h, 2, a.chip);
      putBe16(h, 4, a.die);
      putBe16(h, 6, a.plane);
      putBe16(h, 10, m.dataStart());
      const auto& w = BlockRecordWidths::kClass0;
      h[17] = w[0];
      h[19] = w[1];
      h[21] = w[2];
      h[25] = w[3];
      h[27] = w[4];
      h[29] = w[5];
    }
    putBe16(h, 8, blocks * 8);
    putBe16(h, 12, clamp16(countdown));
    putBe16(h, 32, m.slcEraseBase());
    putBe16(h, 34, m.mlcEraseBase());
    reply.append(h);
    --countdown;
    Sector r{};
    size_t used = 0;
    for (uint32_t b = 0; b < blocks; ++b) {
      BlockInfo info = class1 ? m.raidBlock(g, b) : m.block(g, b);
      uint32_t base = (b < (class1 ? m.nonSlcStart() : m.dataStart()) ? m.slcEraseBase() : m.mlcEraseBase()) * half;
      uint32_t stored = info.eraseCount > base ? info.eraseCount - base : 0;
      uint64_t record = packRecord(info, m.modelClass(), stored);
      for (int i = 0; i < 8; ++i) r[used + static_cast<size_t>(i)] = static_cast<uint8_t>(record >> (8 * i));
      used += 8;
      if (used == kSector || b + 1 == blocks) {
        reply.append(r);
        --countdown;
        r.fill(0);
        used = 0;
      }
    }
  }
}

// ---- 33h, 38h, 39h ------------------------------------------------------------

void planeInfo(const FlashModel& m, const VendorSector& s, VendorReply& reply) {
  auto plane = addressedPlane(m, s);
  if (!plane) return;
  const bool class1 = m.modelClass() == 1;
  const uint32_t raid = (m.planeAddress(*plane).chip * m.geometry().dies) + m.planeAddress(*plane).die;
  const uint32_t blocks = m.reportedBlocks();
  auto info = [&](uint32_t b) { return class1 ? m.raidBlock(raid, b) : m.block(*plane, b); };

  // Allocation state derived from the block table.
  std::vector<uint32_t> freeBlocks;
  uint32_t freeCount = 0;
  uint32_t minEc = 0xFFFFFFFF, maxEc = 0, minBlock = 0, maxBlock = 0, gcSource = 0, mostInvalid = 0;
  uint32_t active = 0xFFFF;
  for (uint32_t b = 0; b < blocks; ++b) {
    BlockInfo i = info(b);
    if (i.type == kBlockFree) {
      ++freeCount;
      if (freeBlocks.size() < 16) freeBlocks.push_back(b);
    }
    if (i.type == kBlockData) {
      if (active == 0xFFFF) active = b;
      if (i.invalidPages > mostInvalid) {
        mostInvalid = i.invalidPages;
        gcSource = b;
      }
    }
    if (i.type == kBlockEarlyBad || i.type == kBlockLaterBad) continue;
    if (i.eraseCount < minEc) {
      minEc = i.eraseCount;
      minBlock = b;
    }
    if (i.eraseCount > maxEc) {
      maxEc = i.eraseCount;
      maxBlock = b;
    }
  }
  auto freeAt = [&](size_t k) { return k < freeBlocks.size() ? freeBlocks[k] : 0xFFFF; };
  std::vector<uint32_t> f;
  uint32_t pages = m.geometry().pagesPerBlock;
  if (!class1) {
    f = {m.dataStart(), blocks ? blocks - 1 : 0, 0, pages, 2, m.dataStart() ? m.dataStart() - 1u : 0u, 2};
    for (size_t k = 0; k < 8; ++k) f.push_back(freeAt(k));
    f.insert(f.end(), {freeCount, active, pages / 3, gcSource, freeAt(8), pages / 5, minBlock, maxBlock});
    for (size_t k = 0; k < 8; ++k) f.push_back(0xFFFF);
    f.insert(f.end(), {minEc == 0xFFFFFFFF ? 0 : minEc, 0, 0, 4, 1});
  } else {
    for (size_t k = 0; k < 6; ++k) f.push_back(m.slcStart() + static_cast<uint32_t>(k));
    for (size_t k = 0; k < 6; ++k) f.push_back(freeAt(k));
    f.insert(f.end(), {0, 0, std::min<uint32_t>(freeCount, 6)});
    for (size_t k = 0; k < 3; ++k) f.push_back(gcSource);
    for (size_t k = 0; k < 7; ++k) f.push_back(freeAt(6 + k));
    f.insert(f.end(), {0, freeCount});
    for (size_t k = 0; k < 3; ++k) f.push_back(maxBlock);
    f.insert(f.end(), {freeCount, 0});
  }
  Sector out{};
  for (size_t i = 0; i < f.size() && 2 * i + 1 < kSector; ++i) putBe16(out, 2 * i, clamp16(f[i]));
  reply.append(out);
}

void flashId(const FlashModel& m, VendorReply& reply) {
  const FlashGeometry& g = m.geometry();
  static constexpr std::array<uint8_t, 6> kClass0Id = {0x5D, 0x64, 0x44, 0x4B, 0xA9, 0x00};
  static constexpr std::array<uint8_t, 6> kClass1Id = {0x5D, 0xC4, 0x08, 0x32, 0xA6, 0x00};
  const auto& id = m.modelClass() == 1 ? kClass1Id : kClass0Id;
  Sector out{};
  putBe16(out, 0, g.channels);
  putBe16(out, 2, g.chips);
  size_t offset = 4;
  for (uint32_t c = 0; c < g.channels; ++c) {
    for (uint32_t k = 0; k < g.chips && offset + 10 <= kSector; ++k) {
      putBe16(out, offset, c);
      putBe16(out, offset + 2, k);
      std::copy(id.begin(), id.end(), out.begin() + static_cast<std::ptrdiff_t>(offset + 4));
      offset += 10;
    }
  }
  reply.append(out);
}

void flashCheck(const FlashModel& m, VendorReply& reply) {
  const FlashGeometry& g = m.geometry();
  Sector out{};
  const char maker[17] = "ZEFRANE FLASH   ";
  std::memcpy(out.data(), maker, 16);
  uint64_t blockBytes = uint64_t{g.pagesPerBlock} * g.sectorsPerPage * 512;
  uint32_t blocksPerCe = uint32_t{g.dies} * g.planes * g.blocksPerPlane;
  putBe16(out, 16, g.sectorsPerPage / 2);
  putBe16(out, 18, g.pagesPerBlock);
  putBe32(out, 20, blocksPerCe);
  putBe16(out, 24, clamp16(static_cast<uint32_t>(std::min<uint64_t>(blocksPerCe * blockBytes * 8 >> 30, 0xFFFF))));
  putBe16(out, 26, clamp16(static_cast<uint32_t>(std::min<uint64_t>(g.totalBlocks() * blockBytes >> 30, 0xFFFF))));
  reply.append(out);
}

// ---- 50h, 52h -----------------------------------------------------------------

bool dump(SimDrive& drive, const FlashModel& m, const VendorSector& s, VendorReply& reply) {
  uint32_t address = s.be32(16);
  uint16_t sectors = s.be16(20);
  if (sectors == 0 || sectors > kMaxDumpChunk) return false;
  reply.bytes.resize(size_t{sectors} * kSector, 0xFF);
  std::span<uint8_t> out(reply.bytes);
  if (s.code() == 0x50) {
    m.readMemory(address, out);
    return true;
  }
  std::span<uint8_t> spi = drive.spiFlash();
  for (size_t i = 0; i < out.size(); ++i) {
    uint64_t a = uint64_t{address} + i;
    if (a < spi.size()) out[i] = spi[a];
  }
  return true;
}

// ---- 51h, 55h: restore --------------------------------------------------------

struct RestoreState {
  bool requested = false;  // a 51h request announced the sectors
  bool streaming = false;  // between the 55h markers
  uint32_t announced = 0;
  uint32_t received = 0;
  std::vector<uint8_t> image;
};

nlohmann::json& flashState(SimDrive& drive) {
  nlohmann::json& v = drive.vendorState();
  if (!v.contains("flash") || !v["flash"].is_object()) v["flash"] = nlohmann::json::object();
  return v["flash"];
}

void countIn(SimDrive& drive, const char* name) {
  nlohmann::json& f = flashState(drive);
  uint64_t n = f.contains(name) && f[name].is_number_unsigned() ? f[name].get<uint64_t>() : 0;
  f[name] = n + 1;
}

void takeRestoreSector(SimDrive& drive, std::span<const uint8_t> data) {
  RestoreState& r = drive.runtime<RestoreState>();
  size_t room = drive.spiFlash().size() > r.image.size() ? drive.spiFlash().size() - r.image.size() : 0;
  r.image.insert(r.image.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(room, data.size())));
  ++r.received;
}

bool restoreMarker(SimDrive& drive, const VendorSector& s, VendorReply& reply) {
  RestoreState& r = drive.runtime<RestoreState>();
  if (s.parameter() == 0x51) {
    r.streaming = true;
    r.received = 0;
    r.image.clear();
    return true;
  }
  if (s.parameter() != 0x00) {
    reply.reject = true;
    return true;
  }
  if (r.streaming && r.requested && r.received >= r.announced) {
    std::span<uint8_t> spi = drive.spiFlash();
    std::copy(r.image.begin(), r.image.end(), spi.begin());
    countIn(drive, "restores");
  }
  r = RestoreState{};
  return true;
}

// ---- 57h ----------------------------------------------------------------------

void diagnostic(SimDrive& drive, const FlashModel& m, VendorReply& reply) {
  std::vector<uint8_t> text = m.diagnosticText(drive);
  Sector first{};
  uint32_t length = static_cast<uint32_t>(text.size());
  for (int i = 0; i < 4; ++i) first[static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
  reply.append(first);
  reply.append(text);
  // The last text sector is padded with NULs, as the controller sends it.
  reply.bytes.resize((reply.bytes.size() + kSector - 1) / kSector * kSector, 0x00);
}

bool command(SimDrive& drive, const VendorSector& s, VendorReply& reply) {
  const uint8_t code = s.code();
  RestoreState& restore = drive.runtime<RestoreState>();
  // Between the markers every sector but the closing one is data, even one
  // that happens to begin with the signature.
  if (restore.streaming && !(code == 0x55 && (s.parameter() == 0x00 || s.parameter() == 0x51))) {
    takeRestoreSector(drive, s.bytes);
    return true;
  }
  switch (code) {
    case 0x31: case 0x32: case 0x33: case 0x38: case 0x39: case 0x50: case 0x52: case 0x57: break;
    case 0x51:
      restore = RestoreState{};
      restore.requested = true;
      restore.announced = s.be16(16);
      return true;
    case 0x55:
      return restoreMarker(drive, s, reply);
    default:
      return false;
  }
  FlashModel m(drive);
  switch (code) {
    case 0x31:
      switch (s.parameter()) {
        case 0x01: ftlOne(m, s, reply); return true;
        case 0x02: ftlList(m, s, reply); return true;
        case 0x03: ftlLayout(m, reply); return true;
        default: reply.reject = true; return true;
      }
    case 0x32:
      switch (s.parameter()) {
        case 0x01: blockInfo(m, s, reply); return true;
        case 0x02: blockDump(m, reply); return true;
        default: reply.reject = true; return true;
      }
    case 0x33: planeInfo(m, s, reply); return true;
    case 0x38: flashId(m, reply); return true;
    case 0x39: flashCheck(m, reply); return true;
    case 0x50:
    case 0x52:
      if (!dump(drive, m, s, reply)) reply.reject = true;
      return true;
    case 0x57:
      if (s.parameter() == 0x02) {
        diagnostic(drive, m, reply);
      } else if (s.parameter() == 0x01) {
        // The trigger arms the controller's diagnostics; nothing is returned.
        countIn(drive, "diagnosticTriggers");
        drive.saveVendorState();
      } else {
        reply.reject = true;
      }
      return true;
    default:
      return false;
  }
}

bool rawSector(SimDrive& drive, std::span<const uint8_t, kVendorSectorBytes> data) {
  if (!drive.runtime<RestoreState>().streaming) return false;
  takeRestoreSector(drive, data);
  return true;
}

}  // namespace

const VendorCodeFamily kVendorFlashCodes{"flash", &command, &rawSector};

}  // namespace zorv::sim
