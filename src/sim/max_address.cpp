// Hook family "max address" of the simulated controller: ACCESSIBLE MAX
// ADDRESS CONFIGURATION (78h) as ACS-3 has it.
//   Features 0 GET NATIVE MAX ADDRESS: the last LBA of the whole capacity in
//              the returned LBA registers.
//   Features 1 SET ACCESSIBLE MAX ADDRESS: the LBA registers name the last
//              LBA the host may address (persistent); above the native max
//              address, or while frozen, the command is aborted.
//   Features 2 FREEZE ACCESSIBLE MAX ADDRESS: SET is refused until the next
//              power cycle.
// Other features are aborted. The older 27h/37h are not answered.

#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"

namespace zorv::sim {

namespace {

struct MaxAddressFreeze {
  bool frozen = false;
};

HookResult ata(SimDrive& drive, AtaExchange& x) {
  const AtaRegisters& r = x.command.regs;
  if (r.command != 0x78) return HookResult::NotHandled;
  uint64_t nativeMax = drive.capacity() ? drive.capacity() - 1 : 0;
  switch (r.features) {
    case 0:
      x.reply.regs.setLba48(nativeMax);
      break;
    case 1: {
      uint64_t last = r.lba48();
      if (drive.runtime<MaxAddressFreeze>().frozen || last > nativeMax || !drive.setAccessibleMax(last + 1)) {
        x.reply.abort();
        break;
      }
      x.reply.regs.setLba48(last);
      break;
    }
    case 2:
      drive.runtime<MaxAddressFreeze>().frozen = true;
      break;
    default:
      x.reply.abort();
      break;
  }
  return HookResult::Handled;
}

}  // namespace

const HookFamily kMaxAddressHooks{"max address", &ata, nullptr, nullptr};

}  // namespace zorv::sim
