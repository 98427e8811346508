// Hook family "vendor protocol" of the simulated controller: the 512-byte
// vendor command sector over WRITE BUFFER (E8h) / READ BUFFER (E4h) (see
// vendor_protocol.h), and the F7h codes that are not flash transfers: the
// PCBA sector (16h; with count and LBA low B0h the life sector) and the
// switches.
//
// F7h switches: Features = switch, Count = 0 or 1, data-out (the 512 bytes
// carry nothing). State: drive.vendorState()["switches"] =
//   { "skipModelNameCheck": 53h, "powerDownDisabled": 60h, "rs232Output": C0h,
//     "abnormalPfStop": D0h, "debugReinitStop": D1h } (booleans).

#include <algorithm>
#include <array>
#include <cstring>

#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"
#include "sim/vendor_model.h"
#include "sim/vendor_protocol.h"
#include "sim/vendor_rma.h"
#include "transport/ata_opcodes.h"

namespace zorv::sim {

std::span<const VendorCodeFamily* const> vendorCodeFamilies() {
  // Flash first: during a restore stream it takes every sector as data.
  static const std::array<const VendorCodeFamily*, 3> kFamilies = {&kVendorFlashCodes, &kVendorInfoCodes,
                                                                    &kVendorRmaCodes};
  return kFamilies;
}

namespace {

constexpr std::array<uint8_t, 8> kSignature = {0x56, 0x58, 0x41, 0x53, 0x53, 0x44, 0x20, 0x20};

// The command sector being answered; gone at the next power cycle.
struct VendorSession {
  bool active = false;
  std::vector<uint8_t> reply;
  size_t position = 0;
};

struct SwitchName {
  uint8_t code;
  const char* name;
};
constexpr SwitchName kSwitches[] = {
    {0x53, "skipModelNameCheck"}, {0x60, "powerDownDisabled"}, {0xC0, "rs232Output"},
    {0xD0, "abnormalPfStop"},     {0xD1, "debugReinitStop"},
};

constexpr uint8_t kLifeSectorKey = 0xB0;

HookResult writeBuffer(SimDrive& drive, AtaExchange& x) {
  if (x.command.dir != DataDir::Out || x.data.size() < kVendorSectorBytes) return HookResult::NotHandled;
  VendorSession& session = drive.runtime<VendorSession>();
  std::span<const uint8_t, kVendorSectorBytes> sector(x.data.data(), kVendorSectorBytes);
  if (!std::equal(kSignature.begin(), kSignature.end(), sector.begin())) {
    for (const VendorCodeFamily* f : vendorCodeFamilies()) {
      if (f->rawSector && f->rawSector(drive, sector)) {
        x.reply.bytes = kVendorSectorBytes;
        return HookResult::Handled;
      }
    }
    session.active = false;
    return HookResult::NotHandled;
  }
  VendorReply reply;
  VendorSector command{sector};
  if (takeVendorReject(drive, command.code())) {
    reply.reject = true;
  } else {
    for (const VendorCodeFamily* f : vendorCodeFamilies()) {
      if (f->command && f->command(drive, command, reply)) break;
    }
  }
  session.active = !reply.reject || !reply.bytes.empty();
  session.position = 0;
  session.reply = std::move(reply.bytes);
  if (reply.reject) {
    x.reply.abort();
  } else {
    x.reply.bytes = kVendorSectorBytes;
  }
  return HookResult::Handled;
}

HookResult readBuffer(SimDrive& drive, AtaExchange& x) {
  VendorSession& session = drive.runtime<VendorSession>();
  if (!session.active) return HookResult::NotHandled;
  if (x.command.dir != DataDir::In || x.data.size() < kVendorSectorBytes) {
    x.reply.abort();
    return HookResult::Handled;
  }
  uint8_t* out = x.data.data();
  std::memset(out, 0xFF, kVendorSectorBytes);
  if (session.position < session.reply.size()) {
    size_t n = std::min(kVendorSectorBytes, session.reply.size() - session.position);
    std::memcpy(out, session.reply.data() + session.position, n);
    session.position += kVendorSectorBytes;
  }
  x.reply.bytes = kVendorSectorBytes;
  return HookResult::Handled;
}

HookResult vendorF7(SimDrive& drive, AtaExchange& x) {
  const AtaRegisters& r = x.command.regs;
  if (r.features == 0x16) {
    if (x.command.dir != DataDir::In || x.data.size() < kVendorSectorBytes) {
      x.reply.abort();
      return HookResult::Handled;
    }
    // Count and LBA low B0h ask for the life sector instead of the PCBA one.
    SectorBytes s = r.count == kLifeSectorKey && r.lbaLow == kLifeSectorKey ? lifeSector(drive)
                                                                          : pcbaSector(drive.identity());
    std::memcpy(x.data.data(), s.data(), s.size());
    x.reply.bytes = kVendorSectorBytes;
    return HookResult::Handled;
  }
  for (const SwitchName& sw : kSwitches) {
    if (sw.code != r.features) continue;
    if (x.command.dir == DataDir::In || r.count > 1) {
      x.reply.abort();
      return HookResult::Handled;
    }
    nlohmann::json& v = drive.vendorState();
    if (!v.contains("switches") || !v["switches"].is_object()) v["switches"] = nlohmann::json::object();
    v["switches"][sw.name] = r.count == 1;
    drive.saveVendorState();
    x.reply.bytes = static_cast<uint32_t>(std::min(x.data.size(), kVendorSectorBytes));
    return HookResult::Handled;
  }
  return HookResult::NotHandled;
}

HookResult ata(SimDrive& drive, AtaExchange& x) {
  // A foreign drive knows none of this: plain buffer, F7h unsupported.
  if (!drive.identity().family) return HookResult::NotHandled;
  switch (x.command.regs.command) {
    case ata::kWriteBuffer: return writeBuffer(drive, x);
    case ata::kReadBuffer: return readBuffer(drive, x);
    case ata::kVendorSwitch: return vendorF7(drive, x);
    default: return HookResult::NotHandled;
  }
}

}  // namespace

const HookFamily kVendorProtocolHooks{"vendor protocol", &ata, nullptr, nullptr};

}  // namespace zorv::sim
