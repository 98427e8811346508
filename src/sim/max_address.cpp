// Hook family "max address" of the simulated controller: ACCESSIBLE MAX
// ADDRESS CONFIGURATION (78h) as ACS-3 has it.
//   Features 0 GET NATIVE MAX ADDRESS: the last LBA of the whole capacity in
//              the returned LBA registers.
//   Features 1 SET ACCESSIBLE MAX ADDRESS: the LBA registers name the last
//              LBA the host may address (persistent); above the native max
//              address, or while frozen, the command is aborted.
//   Features 2 FREEZE ACCESSIBLE MAX ADDRESS: SET is refused until the next
//              power cycle (kept in vendorState()["maxAddress"]["frozenGeneration"],
//              so that every process using the bay sees it until then).
// Other features are aborted. The older 27h/37h are not answered.

#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"
#include "transport/ata_opcodes.h"

namespace zorv::sim {

namespace {

bool frozen(SimDrive& drive) {
  const nlohmann::json& v = drive.vendorState();
  auto m = v.find("maxAddress");
  if (m == v.end() || !m->is_object()) return false;
  auto g = m->find("frozenGeneration");
  return g != m->end() && g->is_number_unsigned() && g->get<uint64_t>() == drive.generation();
}

void freeze(SimDrive& drive) {
  nlohmann::json& v = drive.vendorState();
  if (!v.contains("maxAddress") || !v["maxAddress"].is_object()) v["maxAddress"] = nlohmann::json::object();
  v["maxAddress"]["frozenGeneration"] = drive.generation();
  drive.saveVendorState();
}

HookResult ata(SimDrive& drive, AtaExchange& x) {
  const AtaRegisters& r = x.command.regs;
  if (r.command != ata::kAccessibleMaxAddressConfiguration) return HookResult::NotHandled;
  uint64_t nativeMax = drive.capacity() ? drive.capacity() - 1 : 0;
  switch (r.features) {
    case 0:
      x.reply.regs.setLba48(nativeMax);
      break;
    case 1: {
      uint64_t last = r.lba48();
      if (frozen(drive) || last > nativeMax || !drive.setAccessibleMax(last + 1)) {
        x.reply.abort();
        break;
      }
      x.reply.regs.setLba48(last);
      break;
    }
    case 2:
      freeze(drive);
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
