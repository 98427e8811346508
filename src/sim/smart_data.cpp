// Hook family "smart" of the simulated controller: SMART (B0h) with the LBA
// signature 4Fh/C2h. READ DATA (D0h) returns the attribute sector of
// vendor_model.h; ENABLE/DISABLE OPERATIONS (D8h/D9h) and the attribute
// autosave (D2h) are accepted; RETURN STATUS (DAh) reports no threshold
// exceeded. Other subcommands, or a wrong signature, are aborted.

#include <cstring>

#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"
#include "sim/vendor_model.h"
#include "transport/ata_opcodes.h"

namespace zorv::sim {

namespace {

HookResult ata(SimDrive& drive, AtaExchange& x) {
  const AtaRegisters& r = x.command.regs;
  if (r.command != ata::kSmart) return HookResult::NotHandled;
  if (r.lbaMid != 0x4F || r.lbaHigh != 0xC2) {
    x.reply.abort();
    return HookResult::Handled;
  }
  switch (r.features) {
    case 0xD0: {
      if (x.command.dir != DataDir::In || x.data.size() < kVendorSector) {
        x.reply.abort();
        break;
      }
      SectorBytes s = smartDataSector(drive);
      std::memcpy(x.data.data(), s.data(), s.size());
      x.reply.bytes = kVendorSector;
      break;
    }
    case 0xD2:
    case 0xD8:
    case 0xD9:
      break;
    case 0xDA:
      x.reply.regs.lbaMid = 0x4F;
      x.reply.regs.lbaHigh = 0xC2;
      break;
    default:
      x.reply.abort();
      break;
  }
  return HookResult::Handled;
}

}  // namespace

const HookFamily kSmartHooks{"smart", &ata, nullptr, nullptr};

}  // namespace zorv::sim
