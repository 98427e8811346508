#include "sim/vendor_model.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "sim/flash_geometry.h"
#include "sim/sim_drive.h"

namespace zorv::sim {

namespace {

void putBe(SectorBytes& s, size_t offset, size_t width, uint64_t value) {
  for (size_t i = 0; i < width; ++i) s[offset + width - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t clampTo(uint64_t value, size_t width) {
  uint64_t max = width >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * width)) - 1;
  return std::min(value, max);
}

void putBeClamped(SectorBytes& s, size_t offset, size_t width, uint64_t value) {
  putBe(s, offset, width, clampTo(value, width));
}

void putText(SectorBytes& s, size_t offset, size_t width, std::string_view text, char pad) {
  for (size_t i = 0; i < width; ++i) s[offset + i] = static_cast<uint8_t>(i < text.size() ? text[i] : pad);
}

std::string lastChars(const std::string& text, size_t n) {
  return text.size() <= n ? text : text.substr(text.size() - n);
}

uint64_t counterSince(const nlohmann::json& baseline, const char* name, uint64_t now) {
  uint64_t base = baseline.is_object() && baseline.contains(name) && baseline[name].is_number_unsigned()
                      ? baseline[name].get<uint64_t>()
                      : 0;
  return now > base ? now - base : 0;
}

nlohmann::json& healthState(SimDrive& drive) {
  nlohmann::json& v = drive.vendorState();
  if (!v.contains("health") || !v["health"].is_object()) v["health"] = nlohmann::json::object();
  return v["health"];
}

constexpr uint32_t kEnduranceClass0 = 3000;
constexpr uint32_t kEnduranceClass1 = 1000;

}  // namespace

FlashGeometry flashGeometry(const SimIdentity& identity) {
  FlashGeometry g;
  if (identity.modelClass == 1) {
    g = {8, 2, 2, 4, 0, 384, 32};
  } else {
    g = {4, 2, 2, 2, 0, 256, 32};
  }
  // Raw flash about 7 % above the user capacity.
  uint64_t blockSectors = uint64_t{g.pagesPerBlock} * g.sectorsPerPage;
  uint64_t planes = uint64_t{g.channels} * g.chips * g.dies * g.planes;
  uint64_t blocks = (identity.capacity + identity.capacity / 14 + blockSectors - 1) / blockSectors;
  uint64_t perPlane = (blocks + planes - 1) / planes;
  g.blocksPerPlane = static_cast<uint16_t>(std::clamp<uint64_t>(perPlane, 16, 0xFFFF));
  return g;
}

HealthCounters healthCounters(SimDrive& drive) {
  nlohmann::json& h = healthState(drive);
  const nlohmann::json baseline = h.contains("baseline") ? h["baseline"] : nlohmann::json::object();
  Counters c = drive.counters();
  HealthCounters out;
  out.powerCycles = counterSince(baseline, "powerCycles", c.powerCycles);
  out.powerOnHours = counterSince(baseline, "powerOnHours", c.powerOnHours);
  out.sectorsRead = counterSince(baseline, "sectorsRead", c.sectorsRead);
  out.sectorsWritten = counterSince(baseline, "sectorsWritten", c.sectorsWritten);
  out.temperature = drive.temperature();
  int worst = h.contains("worstTemp") && h["worstTemp"].is_number_integer() ? h["worstTemp"].get<int>() : 0;
  if (out.temperature > worst) {
    worst = out.temperature;
    h["worstTemp"] = worst;
    drive.saveVendorState();
  }
  out.worstTemperature = worst;

  FlashGeometry g = flashGeometry(drive.identity());
  uint64_t flashSectors = uint64_t{g.totalBlocks()} * g.pagesPerBlock * g.sectorsPerPage;
  uint64_t averageErase = flashSectors ? out.sectorsWritten * 6 / 5 / flashSectors : 0;
  uint32_t endurance = drive.identity().modelClass == 1 ? kEnduranceClass1 : kEnduranceClass0;
  uint64_t used = std::min<uint64_t>(100, averageErase * 100 / endurance);
  out.lifeLeft = static_cast<uint8_t>(100 - used);
  return out;
}

void clearSmart(SimDrive& drive) {
  nlohmann::json& h = healthState(drive);
  Counters c = drive.counters();
  h["baseline"] = {{"powerCycles", c.powerCycles},
                   {"powerOnHours", c.powerOnHours},
                   {"sectorsRead", c.sectorsRead},
                   {"sectorsWritten", c.sectorsWritten}};
  h["worstTemp"] = drive.temperature();
  drive.saveVendorState();
}

SectorBytes infoSsdRecord(SimDrive& drive) {
  const SimIdentity& id = drive.identity();
  bool class1 = id.modelClass == 1;
  HealthCounters h = healthCounters(drive);
  FlashGeometry g = flashGeometry(id);
  SectorBytes s{};

  putText(s, 0, 8, class1 ? "ZV2262TB" : "ZV2258AB", ' ');
  putText(s, 8, 8, id.firmware, ' ');
  size_t hwidLength = class1 ? 16 : 9;
  for (size_t i = 0; i < hwidLength; ++i) s[16 + i] = i < id.hwid.size() ? id.hwid[i] : 0x00;
  if (!class1) putText(s, 26, 6, lastChars(id.serial, 6), ' ');

  putBeClamped(s, 32, 2, id.capacity * 512 / 1000000000);
  uint64_t user = drive.userCapacity();
  putBe(s, 34, 6, user ? user - 1 : 0);
  putBe(s, 40, 2, g.channels);
  putBe(s, 42, 2, g.chips);
  putBe(s, 44, 2, g.dies);
  putBe(s, 46, 2, g.planes);
  putBe(s, 48, 2, g.blocksPerPlane);
  putBe(s, 50, 2, g.pagesPerBlock);
  putBe(s, 52, 2, g.sectorsPerPage);
  putBe(s, 56, 4, g.totalBlocks());
  putBe(s, 60, 4, g.totalPages());
  putBeClamped(s, 64, 4, user / 8);
  putBeClamped(s, 68, 4, uint64_t{g.totalPages()} * (g.sectorsPerPage / 8) - 1);

  uint64_t blockSectors = uint64_t{g.pagesPerBlock} * g.sectorsPerPage;
  // The erase counts are those of the block table the dump shows.
  const FlashModel flash(drive);
  auto eraseStats = [&](size_t offset, const FlashModel::EraseRange& r) {
    putBeClamped(s, offset, 2, r.min);
    putBeClamped(s, offset + 2, 2, r.max);
    putBeClamped(s, offset + 4, 2, r.average);
    putBeClamped(s, offset + 6, 4, r.blocks);
  };
  const uint32_t everyBlock = 0xFFFF;
  if (class1) {
    eraseStats(96, flash.eraseRange(0, flash.slcStart()));             // L2: the reserved blocks
    eraseStats(106, flash.eraseRange(flash.nonSlcStart(), everyBlock));  // TLC
  } else {
    eraseStats(96, flash.eraseRange(flash.slcStart(), flash.dataStart()));  // FTL tables
    eraseStats(106, flash.eraseRange(flash.slcStart(), everyBlock));        // tables and data
  }
  uint64_t early = g.earlyBadBlocks();
  uint64_t data = std::min<uint64_t>(g.totalBlocks() * 9ull / 10, h.sectorsWritten / std::max<uint64_t>(blockSectors, 1));
  putBeClamped(s, 116, 4, data);
  putBeClamped(s, 120, 4, g.totalBlocks() - early - data);
  // RMA erase counts stay 0 until a drive has been through repair.
  if (class1) {
    FlashModel::EraseRange slc = flash.eraseRange(flash.slcStart(), flash.nonSlcStart());
    putBeClamped(s, 130, 2, slc.min);
    putBeClamped(s, 132, 2, slc.max);
    putBeClamped(s, 134, 2, slc.average);
    putBeClamped(s, 136, 4, slc.blocks);
  }
  putText(s, 144, 32, class1 ? "ZF29F256G08EBHBB TLC" : "ZF29F64G08CBAAA MLC", ' ');
  putBe(s, 176, 2, 0x0102);
  putBe(s, 178, 2, 0x0001);
  putBeClamped(s, 180, 4, early);
  putBeClamped(s, 184, 4, early);
  putBeClamped(s, 188, 4, flash.totalLaterBad());  // later (class 0) / grown (class 1) bad blocks
  putBeClamped(s, 192, 4, h.powerOnHours);
  putBeClamped(s, 196, 4, h.powerCycles);
  putBeClamped(s, 200, 4, h.sectorsRead >> 21);
  putBeClamped(s, 204, 4, h.sectorsWritten >> 21);
  putBe(s, 208, 2, 120);  // write amplification x 100, with and without table writes
  putBe(s, 210, 2, 110);
  uint64_t userWrites8k = h.sectorsWritten / 16;
  putBe(s, 212, 8, userWrites8k);
  putBe(s, 220, 8, userWrites8k * 11 / 10);
  putBe(s, 228, 8, userWrites8k / 10);
  putBeClamped(s, 236, 2, static_cast<uint64_t>(std::max(h.temperature, 0)));
  putBeClamped(s, 238, 2, static_cast<uint64_t>(std::max(h.worstTemperature, 0)));
  if (class1) {
    putBe(s, 240, 2, h.lifeLeft);
    putBe(s, 242, 2, h.lifeLeft);
    putText(s, 252, 8, lastChars(id.serial, 8), ' ');
  }
  return s;
}

SectorBytes pcbaSector(const SimIdentity& identity) {
  SectorBytes s{};
  for (size_t i = 0; i < 16; ++i) s[i] = i < identity.hwid.size() ? identity.hwid[i] : 0x00;
  for (size_t i = 0; i < 20; i += 2) {
    char first = i < identity.pcba.size() ? identity.pcba[i] : ' ';
    char second = i + 1 < identity.pcba.size() ? identity.pcba[i + 1] : ' ';
    s[48 + i] = static_cast<uint8_t>(second);
    s[48 + i + 1] = static_cast<uint8_t>(first);
  }
  return s;
}

SectorBytes lifeSector(SimDrive& drive) {
  HealthCounters h = healthCounters(drive);
  SectorBytes s{};
  s[0] = 0x01;
  s[1] = 0x01;
  putBeClamped(s, 20, 4, h.sectorsWritten * 512 / 1000000000);
  putBeClamped(s, 36, 4, h.powerOnHours);
  return s;
}

SectorBytes smartDataSector(SimDrive& drive) {
  HealthCounters h = healthCounters(drive);
  SectorBytes s{};
  s[0] = 0x10;  // data structure revision 0010h
  struct Attr {
    uint8_t id;
    uint16_t flags;
    uint8_t current;
    uint8_t worst;
    uint64_t raw;
  };
  auto temp = static_cast<uint8_t>(std::clamp(h.temperature, 0, 255));
  auto worstTemp = static_cast<uint8_t>(std::clamp(h.worstTemperature, 0, 255));
  uint64_t hostWrites = h.sectorsWritten >> 21;  // GiB
  uint64_t hostReads = h.sectorsRead >> 21;
  const Attr attrs[] = {
      {0x01, 0x000B, 100, 100, 0},
      {0x05, 0x0033, 100, 100, 0},
      {0x09, 0x0032, 100, 100, h.powerOnHours},
      {0x0C, 0x0032, 100, 100, h.powerCycles},
      {0xAB, 0x0032, 100, 100, 0},
      {0xAC, 0x0032, 100, 100, 0},
      {0xAE, 0x0030, 100, 100, 0},
      {0xB1, 0x0000, 100, 100, 0},
      {0xB5, 0x0032, 100, 100, 0},
      {0xB6, 0x0032, 100, 100, 0},
      {0xBB, 0x0032, 100, 100, 0},
      {0xC2, 0x0022, temp, worstTemp, temp},
      {0xC3, 0x0032, 100, 100, 0},
      {0xC4, 0x0032, 100, 100, 0},
      {0xC9, 0x0032, 100, 100, 0},
      {0xCC, 0x0032, 100, 100, 0},
      {0xE6, 0x0013, 100, 100, 100},
      {0xE7, 0x0013, h.lifeLeft, h.lifeLeft, 0},
      {0xE9, 0x0032, 100, 100, hostWrites * 6 / 5},
      {0xEA, 0x0032, 100, 100, hostReads},
      {0xF1, 0x0032, 100, 100, hostWrites},
      {0xF2, 0x0032, 100, 100, hostReads},
  };
  size_t offset = 2;
  for (const Attr& a : attrs) {
    uint8_t* r = s.data() + offset;
    r[0] = a.id;
    r[1] = static_cast<uint8_t>(a.flags);
    r[2] = static_cast<uint8_t>(a.flags >> 8);
    r[3] = a.current;
    r[4] = a.worst;
    uint64_t raw = std::min<uint64_t>(a.raw, (uint64_t{1} << 48) - 1);
    for (int i = 0; i < 6; ++i) r[5 + i] = static_cast<uint8_t>(raw >> (8 * i));
    offset += 12;
  }
  s[367] = 0x7B;  // off-line data collection capability
  s[368] = 0x03;  // SMART capability: saves data, auto save
  s[370] = 0x01;  // error logging supported
  s[372] = 2;     // short self-test, minutes
  s[373] = 10;    // extended self-test, minutes
  s[375] = 10;
  uint8_t sum = 0;
  for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + s[i]);
  s[511] = static_cast<uint8_t>(0x100 - sum);
  return s;
}

}  // namespace zorv::sim
