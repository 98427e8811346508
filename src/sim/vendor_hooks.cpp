#include "sim/vendor_hooks.h"

#include <array>

namespace zorv::sim {

std::span<const HookFamily* const> hookFamilies() {
  static const std::array<const HookFamily*, 6> kFamilies = {
      &kFlashDumpHooks,     &kMicrocodeHooks,      &kMaxAddressHooks,
      &kSmartHooks,         &kFlashLocationHooks,  &kVendorProtocolHooks,
  };
  return kFamilies;
}

HookResult runAtaHooks(SimDrive& drive, AtaExchange& x) {
  for (const HookFamily* f : hookFamilies())
    if (f->ata && f->ata(drive, x) == HookResult::Handled) return HookResult::Handled;
  return HookResult::NotHandled;
}

HookResult runScsiHooks(SimDrive& drive, ScsiExchange& x) {
  for (const HookFamily* f : hookFamilies())
    if (f->scsi && f->scsi(drive, x) == HookResult::Handled) return HookResult::Handled;
  return HookResult::NotHandled;
}

void runPowerOnHooks(SimDrive& drive) {
  for (const HookFamily* f : hookFamilies())
    if (f->powerOn) f->powerOn(drive);
}

}  // namespace zorv::sim
