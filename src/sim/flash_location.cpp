// Hook family "flash location" of the simulated controller: F7h with
// Features 31h and LBA low 2, the any-ATA console's flash-location query.
// Count names an allocation unit; the 512-byte reply gives where it lives as
// seven little-endian words (channel, chip, plane, block, page, AU within
// the page, trim flag), the rest zero. The placement is a fixed function of
// the unit: four channels, two chips, two planes, 256 pages per block, four
// units per page, blocks from 100h on, nothing trimmed.

#include <algorithm>

#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"
#include "transport/ata_opcodes.h"
#include "transport/byte_order.h"

namespace zorv::sim {

namespace {

constexpr uint8_t kFlashLocationFeature = 0x31;
constexpr uint8_t kFlashLocationSubcode = 0x02;

void putWord(std::span<uint8_t> out, int word, uint32_t value) {
  putLe16(&out[static_cast<size_t>(2 * word)], static_cast<uint16_t>(value));
}

HookResult flashLocationAta(SimDrive& drive, AtaExchange& x) {
  const AtaRegisters& r = x.command.regs;
  if (r.command != ata::kVendorSwitch || r.features != kFlashLocationFeature || r.lbaLow != kFlashLocationSubcode) {
    return HookResult::NotHandled;
  }
  if (!drive.identity().family || x.command.dir != DataDir::In || x.data.size() < 512) {
    x.reply.abort();
    return HookResult::Handled;
  }
  const uint32_t unit = r.count;
  std::fill(x.data.begin(), x.data.begin() + 512, uint8_t{0});
  putWord(x.data, 0, unit & 0x3);               // channel
  putWord(x.data, 1, (unit >> 2) & 0x1);        // chip
  putWord(x.data, 2, (unit >> 3) & 0x1);        // plane
  putWord(x.data, 3, 0x100 + (unit >> 4));      // block
  putWord(x.data, 4, (unit * 5) & 0xFF);        // page
  putWord(x.data, 5, unit & 0x3);               // allocation unit within the page
  putWord(x.data, 6, 0);                        // trimmed
  x.reply.bytes = 512;
  return HookResult::Handled;
}

}  // namespace

const HookFamily kFlashLocationHooks{"flash location", &flashLocationAta, nullptr, nullptr};

}  // namespace zorv::sim
