// Hook family "flash dumps" of the simulated controller: the F7h transfers
// of the SPI flash and the bad-block list.
//
//   F7h 12h  data-in 64 KiB: the first 64 KiB of the SPI flash
//   F7h 14h  data-out 64 KiB: staged in controller memory (gone at power off)
//   F7h 1Bh  data-out: the staged image is written to the SPI flash; with
//            no image staged (or a hardware ID sector staged after it, 17h)
//            the command is left to the microcode family
//   F7h 40h  data-in 64 KiB: reserved block range, RAID groups R, planes P,
//            then R x P bad-block counts (early and later), plane fastest;
//            all big-endian 16-bit words
//
// At power-on a drive whose SPI flash has never been written gets its
// factory image (flash_geometry.h).

#include <algorithm>
#include <cstring>

#include "sim/flash_geometry.h"
#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"
#include "transport/ata_opcodes.h"
#include "transport/byte_order.h"

namespace zorv::sim {

namespace {

constexpr uint8_t kFeatureHwidStage = 0x17;
constexpr uint8_t kFeatureSave = 0x1B;

struct SpiStage {
  bool staged = false;
  std::vector<uint8_t> image;
};

nlohmann::json& flashState(SimDrive& drive) {
  nlohmann::json& v = drive.vendorState();
  if (!v.contains("flash") || !v["flash"].is_object()) v["flash"] = nlohmann::json::object();
  return v["flash"];
}

void putBe16(std::span<uint8_t> out, size_t offset, uint32_t value) {
  if (offset + 1 >= out.size()) return;
  zorv::putBe16(&out[offset], static_cast<uint16_t>(value));
}

void badBlockList(SimDrive& drive, std::span<uint8_t> out) {
  FlashModel m(drive);
  std::fill(out.begin(), out.end(), uint8_t{0});
  bool class1 = m.modelClass() == 1;
  const FlashGeometry& g = m.geometry();
  uint32_t groups = class1 ? m.raidGroups() : uint32_t{g.channels} * g.chips * g.dies;
  uint32_t planes = class1 ? m.raidMembers() : g.planes;
  putBe16(out, 0, m.reserveStartBlock());
  putBe16(out, 2, m.reserveEndBlock());
  putBe16(out, 4, groups);
  putBe16(out, 6, planes);
  size_t offset = 8;
  for (uint32_t r = 0; r < groups; ++r) {
    for (uint32_t p = 0; p < planes; ++p, offset += 2) {
      uint32_t plane = class1 ? m.raidMemberPlane(r, p) : r * planes + p;
      putBe16(out, offset, std::min<uint32_t>(m.earlyBadCount(plane) + m.laterBadCount(plane), 0xFFFF));
    }
  }
}

HookResult ata(SimDrive& drive, AtaExchange& x) {
  const AtaRegisters& r = x.command.regs;
  if (r.command != ata::kVendorSwitch || !drive.identity().family) return HookResult::NotHandled;
  const uint8_t feature = r.features;
  SpiStage& stage = drive.runtime<SpiStage>();
  // F7h 1Bh saves whatever was staged last; a hardware ID sector staged
  // (17h) after the image is newer, and 1Bh is then the microcode family's.
  if (feature == kFeatureHwidStage) stage = SpiStage{};
  if (feature == kFeatureSave && !stage.staged) return HookResult::NotHandled;
  if (feature != 0x12 && feature != 0x14 && feature != kFeatureSave && feature != 0x40) return HookResult::NotHandled;
  std::span<uint8_t> spi = drive.spiFlash();
  const bool in = feature == 0x12 || feature == 0x40;
  if (x.command.dir != (in ? DataDir::In : DataDir::Out) || x.data.empty() || spi.size() < kSpiWindowSize) {
    x.reply.abort();
    return HookResult::Handled;
  }
  const size_t n = std::min(x.data.size(), kSpiWindowSize);
  switch (feature) {
    case 0x12:
      std::memcpy(x.data.data(), spi.data(), n);
      break;
    case 0x14:
      stage.image.assign(spi.begin(), spi.begin() + static_cast<std::ptrdiff_t>(kSpiWindowSize));
      std::memcpy(stage.image.data(), x.data.data(), n);
      stage.staged = true;
      break;
    case kFeatureSave: {
      std::copy(stage.image.begin(), stage.image.end(), spi.begin());
      stage = SpiStage{};
      nlohmann::json& f = flashState(drive);
      uint64_t saves = f.contains("spiSaves") && f["spiSaves"].is_number_unsigned() ? f["spiSaves"].get<uint64_t>() : 0;
      f["spiSaves"] = saves + 1;
      x.reply.bytes = static_cast<uint32_t>(std::min<size_t>(x.data.size(), 512));
      return HookResult::Handled;
    }
    case 0x40:
      badBlockList(drive, x.data.first(n));
      break;
  }
  x.reply.bytes = static_cast<uint32_t>(n);
  return HookResult::Handled;
}

void powerOn(SimDrive& drive) {
  if (!drive.identity().family || drive.spiFlash().empty()) return;
  const nlohmann::json& f = flashState(drive);
  if (f.contains("spiImage") && f["spiImage"] == true) return;
  writeFactorySpiImage(drive, drive.spiFlash());
  // Making the image reads the flash model, which may save the vendor state
  // and so replace it: the flag goes into the state as it is now.
  flashState(drive)["spiImage"] = true;
}

}  // namespace

const HookFamily kFlashDumpHooks{"flash dumps", &ata, nullptr, &powerOn};

}  // namespace zorv::sim
