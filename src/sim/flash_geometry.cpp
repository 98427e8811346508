#include "sim/flash_geometry.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/obb_record_area.h"
#include "sim/sim_drive.h"

namespace zorv::sim {

namespace {

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t mix(uint64_t a, uint64_t b) { return mix(a ^ mix(b)); }
uint64_t mix(uint64_t a, uint64_t b, uint64_t c) { return mix(mix(a, b), c); }

uint8_t bitsFor(uint32_t count) { return count <= 1 ? 0 : static_cast<uint8_t>(std::bit_width(count - 1)); }

uint64_t textSeed(const std::string& text, uint64_t salt) {
  uint64_t h = 0xCBF29CE484222325ull ^ salt;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001B3ull;
  return mix(h);
}

nlohmann::json& flashState(SimDrive& drive) {
  nlohmann::json& v = drive.vendorState();
  if (!v.contains("flash") || !v["flash"].is_object()) v["flash"] = nlohmann::json::object();
  return v["flash"];
}

// The block offsets a drive's system area, tables and data start at.
constexpr uint16_t kSystemBlocks = 2;
constexpr uint16_t kTableBlocksClass0 = 0x20;
constexpr uint16_t kSlcStartClass1 = 4;
constexpr uint16_t kTlcStartClass1 = 0x40;
constexpr uint8_t kEraseCountWidth = 14;

const char* controllerName(uint16_t modelClass) { return modelClass == 1 ? "ZV2262TB" : "ZV2258AB"; }

}  // namespace

// ---- PPN layout ----------------------------------------------------------------

uint32_t PpnLayout::shift(size_t field) const {
  uint32_t s = 0;
  for (size_t k = 0; k < std::min<size_t>(field, 8); ++k) s += widths[k];
  return s;
}

uint32_t PpnLayout::mask(size_t field) const {
  uint32_t w = widths[field];
  if (field == 8) {
    if (w == 0) return 0;
    return w >= 32 ? 0xFFFFFFFFu : ~((uint32_t{1} << (32 - w)) - 1);
  }
  uint32_t s = shift(field);
  uint32_t m = 0;
  for (uint32_t b = s; b < s + w && b < 32; ++b) m |= uint32_t{1} << b;
  return m;
}

uint32_t PpnLayout::encode(const std::array<uint32_t, 9>& fields) const {
  uint32_t ppn = 0;
  for (size_t k = 0; k < 9; ++k) {
    if (k == 7) continue;
    uint32_t s = k == 8 ? 32 - std::min<uint32_t>(widths[8], 32) : shift(k);
    if (s >= 32) continue;
    ppn |= (fields[k] << s) & mask(k);
  }
  return ppn;
}

std::array<uint32_t, 9> PpnLayout::decode(uint32_t ppn) const {
  std::array<uint32_t, 9> out{};
  for (size_t k = 0; k < 9; ++k) {
    uint32_t s = k == 8 ? 32 - std::min<uint32_t>(widths[8], 32) : shift(k);
    out[k] = s >= 32 ? 0 : (ppn & mask(k)) >> s;
  }
  return out;
}

// ---- The model ----------------------------------------------------------------

FlashModel::FlashModel(SimDrive& drive) {
  const SimIdentity& id = drive.identity();
  g_ = flashGeometry(id);
  modelClass_ = id.modelClass == 1 ? 1 : 0;
  planes_ = uint32_t{g_.channels} * g_.chips * g_.dies * g_.planes;
  seed_ = textSeed(id.serial, modelClass_);
  uint16_t blocks = reportedBlocks();
  if (modelClass_ == 1) {
    slcStart_ = std::min<uint16_t>(kSlcStartClass1, blocks / 8);
    dataStart_ = std::min<uint16_t>(kTlcStartClass1, blocks / 4);
  } else {
    slcStart_ = kSystemBlocks;
    dataStart_ = std::min<uint16_t>(kTableBlocksClass0, blocks / 4);
  }
  userUnits_ = drive.userCapacity() / 8;

  HealthCounters h = healthCounters(drive);
  uint64_t flashSectors = uint64_t{g_.totalBlocks()} * g_.pagesPerBlock * g_.sectorsPerPage;
  averageErase_ = static_cast<uint32_t>(std::min<uint64_t>(flashSectors ? h.sectorsWritten * 6 / 5 / flashSectors : 0, 60000));
  // The flash was worn before the counters started (factory tests, use
  // before the last SMART clean-up): the block table shows that wear too.
  lifetimeErase_ = averageErase_ + 150 + static_cast<uint32_t>(seed_ % 350);
  slcBase_ = static_cast<uint16_t>((lifetimeErase_ / 2) >> (kEraseCountWidth - 1));
  mlcBase_ = static_cast<uint16_t>((lifetimeErase_ * 9 / 10) >> (kEraseCountWidth - 1));

  // PPN layout: every field as wide as its count needs, trim in the top bit.
  std::array<uint8_t, 9>& w = layout_.widths;
  w = {bitsFor(g_.channels), bitsFor(g_.chips), bitsFor(g_.dies), bitsFor(g_.planes), bitsFor(g_.blocksPerPlane),
       bitsFor(g_.pagesPerBlock), bitsFor(std::max<uint32_t>(g_.sectorsPerPage / 8, 1)), 0, 1};
  uint32_t used = 0;
  for (size_t k = 0; k < 7; ++k) used += w[k];
  if (used > 31) w[4] = static_cast<uint8_t>(w[4] - std::min<uint32_t>(w[4], used - 31));
  used = 0;
  for (size_t k = 0; k < 7; ++k) used += w[k];
  w[7] = static_cast<uint8_t>(31 - std::min<uint32_t>(used, 31));

  // Early bad blocks: as many as the Info SSD record reports, spread over the
  // planes, never in the system area.
  earlyPerPlane_.assign(planes_, 0);
  laterPerPlane_.assign(planes_, 0);
  uint32_t wanted = g_.earlyBadBlocks();
  uint32_t span = blocks > kSystemBlocks ? blocks - kSystemBlocks : 0;
  for (uint64_t k = 0; early_.size() < wanted && span > 0 && k < uint64_t{wanted} * 8; ++k) {
    uint64_t r = mix(seed_, 0xEB, k);
    uint32_t plane = static_cast<uint32_t>(r % planes_);
    uint32_t block = kSystemBlocks + static_cast<uint32_t>((r >> 32) % span);
    if (early_.insert(key(plane, block)).second) ++earlyPerPlane_[plane];
  }

  // Later bad blocks: kept in the drive's state once made.
  nlohmann::json& state = flashState(drive);
  if (!state.contains("laterBad") || !state["laterBad"].is_array()) {
    nlohmann::json list = nlohmann::json::array();
    uint32_t dataSpan = blocks > dataStart_ ? blocks - dataStart_ : 0;
    uint32_t count = (modelClass_ == 1 ? 2 : 1) + static_cast<uint32_t>(seed_ % 3);
    for (uint64_t k = 0; list.size() < count && dataSpan > 0 && k < 64; ++k) {
      uint64_t r = mix(seed_, 0x1B, k);
      uint32_t plane = static_cast<uint32_t>(r % planes_);
      uint32_t block = dataStart_ + static_cast<uint32_t>((r >> 32) % dataSpan);
      if (early_.count(key(plane, block))) continue;
      nlohmann::json entry = nlohmann::json::array({plane, block});
      if (std::find(list.begin(), list.end(), entry) == list.end()) list.push_back(entry);
    }
    state["laterBad"] = list;
  }
  for (const nlohmann::json& e : state["laterBad"]) {
    if (!e.is_array() || e.size() != 2 || !e[0].is_number_unsigned() || !e[1].is_number_unsigned()) continue;
    uint64_t plane = e[0].get<uint64_t>();
    uint64_t block = e[1].get<uint64_t>();
    if (plane >= planes_ || block >= blocks) continue;
    uint64_t k = key(static_cast<uint32_t>(plane), static_cast<uint32_t>(block));
    if (early_.count(k)) continue;
    if (later_.insert(k).second) ++laterPerPlane_[plane];
  }
}

PlaneAddress FlashModel::planeAddress(uint32_t index) const {
  PlaneAddress a;
  a.plane = index % g_.planes;
  index /= g_.planes;
  a.die = index % g_.dies;
  index /= g_.dies;
  a.chip = index % g_.chips;
  a.channel = index / g_.chips;
  return a;
}

std::optional<uint32_t> FlashModel::planeIndex(const PlaneAddress& a) const {
  if (a.channel >= g_.channels || a.chip >= g_.chips || a.die >= g_.dies || a.plane >= g_.planes) return std::nullopt;
  return ((a.channel * g_.chips + a.chip) * g_.dies + a.die) * g_.planes + a.plane;
}

uint16_t FlashModel::reserveStartBlock() const { return modelClass_ == 1 ? reservedStart() : kSystemBlocks; }

uint16_t FlashModel::reserveEndBlock() const {
  uint16_t end = modelClass_ == 1 ? slcStart_ : dataStart_;
  return end ? static_cast<uint16_t>(end - 1) : 0;
}

uint32_t FlashModel::raidMemberPlane(uint32_t raid, uint32_t member) const {
  uint32_t channel = member / g_.planes;
  uint32_t plane = member % g_.planes;
  uint32_t chip = raid / g_.dies;
  uint32_t die = raid % g_.dies;
  return ((channel * g_.chips + chip) * g_.dies + die) * g_.planes + plane;
}

uint16_t FlashModel::reportedBlocks() const { return std::min<uint16_t>(g_.blocksPerPlane, 0xFFF8 / 8); }

uint8_t FlashModel::eraseCountWidth() const { return kEraseCountWidth; }

bool FlashModel::earlyBad(uint32_t plane, uint32_t block) const { return early_.count(key(plane, block)) != 0; }
bool FlashModel::laterBad(uint32_t plane, uint32_t block) const { return later_.count(key(plane, block)) != 0; }
uint32_t FlashModel::earlyBadCount(uint32_t plane) const { return plane < planes_ ? earlyPerPlane_[plane] : 0; }
uint32_t FlashModel::laterBadCount(uint32_t plane) const { return plane < planes_ ? laterPerPlane_[plane] : 0; }

BlockInfo FlashModel::healthyBlock(uint64_t salt, uint32_t block) const {
  const uint64_t h = mix(seed_, salt, block);
  const uint64_t shape = mix(h, 0xEC);
  // A value in [0, 1) from 16 bits of x.
  auto unit = [](uint64_t x, int shift) { return static_cast<double>((x >> shift) & 0xFFFF) / 65536.0; };
  // Three of them averaged: most blocks near the middle, few at the ends.
  const double bell = (unit(shape, 0) + unit(shape, 16) + unit(shape, 32)) / 3;
  const double avg = lifetimeErase_;
  BlockInfo b;
  uint32_t burnIn = 3 + static_cast<uint32_t>(h % 5);
  double erase = burnIn;
  if (block < (modelClass_ == 1 ? slcStart_ : kSystemBlocks)) {
    b.type = kBlockSystem;
  } else if (block < dataStart_) {
    // SLC table blocks are rewritten far more often than data blocks.
    b.type = kBlockTable;
    b.tableFlag = 1;
    erase += avg * (2 + bell);
    b.invalidPages = static_cast<uint16_t>((h >> 20) % 16);
  } else {
    // Wear levelling keeps most blocks near the average; blocks holding
    // static data lag behind, a few hot blocks run ahead, and spares that
    // replaced bad blocks are still almost fresh.
    uint64_t kind = (shape >> 48) % 100;
    double factor = kind < 4 ? 0.02 * unit(h, 44) : kind < 16 ? 0.25 + 0.3 * bell : kind < 90 ? 0.8 + 0.4 * bell
                                                                                         : 1.35 + 0.6 * bell;
    erase += avg * factor;
    if ((h >> 12) % 4 == 0) {
      b.type = kBlockFree;
    } else {
      b.type = kBlockData;
      b.userData = 1;
      // Most data blocks hold few stale pages; the garbage collector's
      // candidates hold many.
      double u = unit(h, 20);
      b.invalidPages = static_cast<uint16_t>(u * u * std::max<uint32_t>(g_.pagesPerBlock, 1));
    }
  }
  // The dump keeps an erase count as count - base x 2^(width - 1) in its
  // field: every count stays where the field can carry it.
  const uint64_t base = uint64_t{block < dataStart_ ? slcBase_ : mlcBase_} << (kEraseCountWidth - 1);
  const uint64_t limit = base + (uint64_t{1} << kEraseCountWidth) - 1;
  b.eraseCount = static_cast<uint32_t>(std::clamp<uint64_t>(static_cast<uint64_t>(erase), base, limit));
  b.wearLevel = static_cast<uint16_t>(std::min<uint64_t>(uint64_t{b.eraseCount} * 16 / (lifetimeErase_ * 2 + 1), 0xFF));
  return b;
}

BlockInfo FlashModel::block(uint32_t plane, uint32_t blk) const {
  if (earlyBad(plane, blk)) {
    BlockInfo b;
    b.type = kBlockEarlyBad;
    return b;
  }
  BlockInfo b = healthyBlock(uint64_t{plane} + 1, blk);
  if (laterBad(plane, blk)) {
    b.type = kBlockLaterBad;
    b.userData = 0;
    b.invalidPages = 0;
  }
  return b;
}

BlockInfo FlashModel::raidBlock(uint32_t raid, uint32_t blk) const {
  bool early = false;
  bool later = false;
  for (uint32_t m = 0; m < raidMembers(); ++m) {
    uint32_t plane = raidMemberPlane(raid, m);
    early = early || earlyBad(plane, blk);
    later = later || laterBad(plane, blk);
  }
  if (early) {
    BlockInfo b;
    b.type = kBlockEarlyBad;
    return b;
  }
  BlockInfo b = healthyBlock(0x10000 + uint64_t{raid}, blk);
  b.userData = 0;
  b.tableFlag = 0;
  if (later) {
    b.type = kBlockLaterBad;
    b.invalidPages = 0;
  }
  return b;
}

FlashModel::EraseRange FlashModel::eraseRange(uint32_t first, uint32_t end) const {
  EraseRange r;
  const bool class1 = modelClass_ == 1;
  const uint32_t groups = class1 ? raidGroups() : planes_;
  end = std::min<uint32_t>(end, reportedBlocks());
  uint64_t sum = 0;
  for (uint32_t g = 0; g < groups; ++g) {
    for (uint32_t b = first; b < end; ++b) {
      BlockInfo i = class1 ? raidBlock(g, b) : block(g, b);
      if (i.type == kBlockEarlyBad || i.type == kBlockLaterBad) continue;
      r.min = r.blocks == 0 ? i.eraseCount : std::min(r.min, i.eraseCount);
      r.max = std::max(r.max, i.eraseCount);
      sum += i.eraseCount;
      ++r.blocks;
    }
  }
  r.average = r.blocks ? static_cast<uint32_t>(sum / r.blocks) : 0;
  return r;
}

uint32_t FlashModel::ftlEntry(uint32_t index, bool table) const {
  const uint32_t units = std::max<uint32_t>(g_.sectorsPerPage / 8, 1);
  const uint32_t pages = std::max<uint32_t>(g_.pagesPerBlock, 1);
  const uint32_t blocks = reportedBlocks();
  std::array<uint32_t, 9> f{};
  uint32_t plane = 0;
  uint32_t block = 0;
  if (table) {
    uint32_t tableBlocks = dataStart_ > kSystemBlocks ? dataStart_ - kSystemBlocks : 1;
    plane = index % planes_;
    uint32_t row = index / planes_;
    f[5] = row % pages;
    block = kSystemBlocks + (row / pages) % tableBlocks;
  } else {
    if (index >= userUnits_) return 0xFFFFFFFFu;
    f[6] = index % units;
    uint32_t stripe = index / units;
    plane = stripe % planes_;
    uint32_t row = stripe / planes_;
    f[5] = row % pages;
    uint32_t dataSpan = blocks > dataStart_ ? blocks - dataStart_ : 1;
    uint64_t r = mix(seed_, 0xF7, uint64_t{row / pages} << 32 | plane);
    block = dataStart_ + static_cast<uint32_t>(r % dataSpan);
    for (int tries = 0; tries < 16 && (earlyBad(plane, block) || laterBad(plane, block)); ++tries) {
      block = dataStart_ + (block - dataStart_ + 1) % dataSpan;
    }
  }
  PlaneAddress a = planeAddress(plane);
  f[0] = a.channel;
  f[1] = a.chip;
  f[2] = a.die;
  f[3] = a.plane;
  f[4] = block;
  return layout_.encode(f);
}

std::vector<uint8_t> FlashModel::diagnosticText(SimDrive& drive) const {
  const SimIdentity& id = drive.identity();
  HealthCounters h = healthCounters(drive);
  std::string text;
  char line[160];
  auto add = [&](const char* s) {
    text += s;
    text += "\n\r";
  };
  std::snprintf(line, sizeof line, "%s diagnostic log", controllerName(modelClass_));
  add(line);
  std::snprintf(line, sizeof line, "FW %s  SN %s", id.firmware.c_str(), id.serial.c_str());
  add(line);
  std::snprintf(line, sizeof line, "CH %u CE %u DIE %u PLANE %u BLOCK %u PAGE %u", g_.channels, g_.chips, g_.dies,
                g_.planes, g_.blocksPerPlane, g_.pagesPerBlock);
  add(line);
  std::snprintf(line, sizeof line, "Early bad %u, later bad %u", totalEarlyBad(), totalLaterBad());
  add(line);
  std::snprintf(line, sizeof line, "Average erase count %u", lifetimeErase_);
  add(line);
  std::snprintf(line, sizeof line, "Power cycles %llu, power-on hours %llu, temperature %d C",
                static_cast<unsigned long long>(h.powerCycles), static_cast<unsigned long long>(h.powerOnHours),
                h.temperature);
  add(line);
  for (uint32_t p = 0; p < planes_; ++p) {
    PlaneAddress a = planeAddress(p);
    std::snprintf(line, sizeof line, "CH%u CE%u DIE%u PL%u: early bad %u, later bad %u", a.channel, a.chip, a.die,
                  a.plane, earlyPerPlane_[p], laterPerPlane_[p]);
    add(line);
  }
  add("End of log");
  return {text.begin(), text.end()};
}

void FlashModel::readMemory(uint32_t address, std::span<uint8_t> out) const {
  // Boot ROM at 0, SRAM at 2000_0000h; nothing answers elsewhere.
  constexpr uint32_t kRomEnd = 0x10000;
  constexpr uint32_t kSramStart = 0x20000000;
  constexpr uint32_t kSramEnd = 0x20040000;
  const std::string rom = std::string(controllerName(modelClass_)) + " BOOTROM";
  for (size_t i = 0; i < out.size(); ++i) {
    uint32_t a = address + static_cast<uint32_t>(i);
    uint8_t v = 0;
    if (a < rom.size()) {
      v = static_cast<uint8_t>(rom[a]);
    } else if (a < kRomEnd) {
      v = static_cast<uint8_t>(mix(modelClass_ + 0x2258, a / 8) >> (8 * (a % 8)));
    } else if (a >= kSramStart && a < kSramEnd) {
      v = static_cast<uint8_t>(mix(seed_, a / 8) >> (8 * (a % 8)));
    }
    out[i] = v;
  }
}

bool addLaterBadBlock(SimDrive& drive, uint32_t plane, uint32_t block) {
  FlashModel model(drive);
  if (plane >= model.planeCount() || block >= model.reportedBlocks() || model.earlyBad(plane, block)) return false;
  if (model.laterBad(plane, block)) return true;
  flashState(drive)["laterBad"].push_back(nlohmann::json::array({plane, block}));
  return true;
}

void writeFactorySpiImage(SimDrive& drive, std::span<uint8_t> image) {
  const SimIdentity& id = drive.identity();
  FlashGeometry g = flashGeometry(id);
  std::fill(image.begin(), image.end(), uint8_t{0xFF});
  auto put = [&](size_t offset, const std::string& text, size_t width, char pad) {
    for (size_t i = 0; i < width && offset + i < image.size(); ++i)
      image[offset + i] = static_cast<uint8_t>(i < text.size() ? text[i] : pad);
  };
  auto putBe = [&](size_t offset, uint32_t value, size_t width) {
    for (size_t i = 0; i < width && offset + i < image.size(); ++i)
      image[offset + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
  };
  if (image.size() < 0x50000) return;
  // Boot header.
  put(0x00, "ZVSPIBT1", 8, ' ');
  image[0x08] = static_cast<uint8_t>(id.modelClass);
  put(0x10, id.firmware, 8, ' ');
  put(0x20, id.serial, 20, ' ');
  for (size_t i = 0; i < 16; ++i) image[0x40 + i] = i < id.hwid.size() ? id.hwid[i] : 0x00;
  put(0x60, id.model, 40, ' ');
  putBe(0x90, 0x10000, 4);  // firmware area offset
  putBe(0x94, 0x40000, 4);  // and length
  uint32_t sum = 0;
  for (size_t i = 0; i < 0xFC; ++i) sum += image[i];
  putBe(0xFC, sum, 4);
  // Configuration block.
  put(0x1000, "ZVCONFIG", 8, ' ');
  putBe(0x1008, g.channels, 2);
  putBe(0x100A, g.chips, 2);
  putBe(0x100C, g.dies, 2);
  putBe(0x100E, g.planes, 2);
  putBe(0x1010, g.blocksPerPlane, 2);
  putBe(0x1012, g.pagesPerBlock, 2);
  putBe(0x1014, g.sectorsPerPage, 2);
  put(0x1020, id.pcba, 20, ' ');
  // Burn-in record area (below the configuration block).
  writeObbRecordArea(FlashModel(drive), image);
  // Firmware area.
  uint64_t fw = textSeed(id.firmware, 0xF1);
  for (size_t a = 0x10000; a < 0x50000; ++a) image[a] = static_cast<uint8_t>(mix(fw, a / 8) >> (8 * (a % 8)));
}

}  // namespace zorv::sim
