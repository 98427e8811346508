// Injected faults as the drive meets them, command by command. Faults live in
// the drive's entry of bay.json, so a fault set by another process (zorvctl
// sim fault) reaches a running program, and what a command uses up of a fault
// is written back for the next command, whichever process sends it.

#include <algorithm>
#include <utility>
#include <vector>

#include "sim/controller_parts.h"
#include "sim/sim_drive.h"

namespace zorv::sim::detail {

namespace {

bool matches(const Fault& f, int opcode) { return f.opcode == kAnyOpcode || f.opcode == opcode; }

constexpr int kDownloadMicrocodePio = 0x92;
constexpr int kDownloadMicrocodeDma = 0x93;

// A power-loss fault counts download segments only: the ATA command itself,
// whether it came alone or inside a SAT pass-through (whose CDB never
// matches), so a segment is counted once on either bus.
bool powerLossHits(const Fault& f, Side side, int opcode) {
  return f.kind == FaultKind::PowerLoss && side == Side::Ata &&
         (opcode == kDownloadMicrocodePio || opcode == kDownloadMicrocodeDma) && matches(f, opcode);
}

// Takes one use of fault id: its count drops, and at zero it is gone.
void useUp(SimDrive& drive, uint32_t id) {
  drive.mutate([id](DriveRecord& d) {
    auto it = std::find_if(d.faults.begin(), d.faults.end(), [id](const Fault& f) { return f.id == id; });
    if (it == d.faults.end()) return;
    if (it->count > 1) {
      --it->count;
    } else {
      d.faults.erase(it);
    }
  });
}

void removeFault(SimDrive& drive, uint32_t id) {
  drive.mutate([id](DriveRecord& d) {
    d.faults.erase(std::remove_if(d.faults.begin(), d.faults.end(), [id](const Fault& f) { return f.id == id; }),
                   d.faults.end());
  });
}

}  // namespace

bool notReady(SimDrive& drive, bool consume) {
  if (drive.restarting()) return true;
  // Copy: mutate() replaces the record the loop would walk.
  const std::vector<Fault>& faults = drive.record().faults;
  for (size_t i = 0; i < faults.size(); ++i) {
    if (faults[i].kind != FaultKind::NotReady) continue;
    Fault f = faults[i];
    if (f.ms == 0) {
      if (consume) useUp(drive, f.id);
      return true;
    }
    int64_t now = drive.nowMs();
    // The period starts with the first command that meets it; a start in the
    // future comes from another clock (or a reboot) and starts it again.
    if (!f.startedMs || *f.startedMs > now) {
      drive.mutate([&](DriveRecord& d) {
        for (Fault& g : d.faults)
          if (g.id == f.id) g.startedMs = now;
      });
      return true;
    }
    if (now - *f.startedMs < static_cast<int64_t>(f.ms)) return true;
    removeFault(drive, f.id);
    return notReady(drive, consume);
  }
  return false;
}

Gate gateCommand(SimDrive& drive, Side side, int opcode, bool dataIn, bool checkReadiness) {
  Gate gate;
  if (drive.record().faults.empty() && !drive.restarting()) return gate;  // the usual case: nothing to do

  for (const Fault& f : drive.record().faults) {
    if (!powerLossHits(f, side, opcode)) continue;
    if (f.count > 1) {
      useUp(drive, f.id);
      break;
    }
    // This segment never reaches the controller's memory.
    gate.action = GateAction::PowerLost;
    drive.losePower(f.id);
    return gate;
  }
  for (const Fault& f : drive.record().faults) {
    if ((f.kind == FaultKind::Timeout || f.kind == FaultKind::Fail) && matches(f, opcode)) {
      gate.action = f.kind == FaultKind::Timeout ? GateAction::TimeOut : GateAction::Fail;
      gate.fault = f;
      useUp(drive, f.id);
      return gate;
    }
  }
  if (checkReadiness && notReady(drive, true)) {
    gate.action = GateAction::NotReady;
    return gate;
  }
  if (dataIn) {
    for (const Fault& f : drive.record().faults) {
      if (f.kind == FaultKind::Short && matches(f, opcode)) {
        gate.shortBytes = f.bytes;
        useUp(drive, f.id);
        break;
      }
    }
  }
  return gate;
}

void corruptRead(const SimDrive& drive, uint64_t lba, uint32_t count, uint8_t* data) {
  for (const Fault& f : drive.record().faults) {
    if (f.kind != FaultKind::Corrupt) continue;
    uint64_t first = std::max(lba, f.lba);
    uint64_t end = std::min(lba + count, f.lba + f.blocks);
    for (uint64_t s = first; s < end; ++s) {
      uint8_t* sector = data + (s - lba) * 512;
      for (size_t i = 0; i < 512; ++i) sector[i] ^= 0x5A;
    }
  }
}

std::optional<uint64_t> readErrorAt(const SimDrive& drive, uint64_t lba, uint32_t count) {
  std::optional<uint64_t> first;
  for (const Fault& f : drive.record().faults) {
    if (f.kind != FaultKind::ReadError) continue;
    uint64_t from = std::max(lba, f.lba);
    uint64_t end = std::min(lba + count, f.lba + f.blocks);
    if (from < end && (!first || from < *first)) first = from;
  }
  return first;
}

void damageWritten(SimDrive& drive, uint64_t lba, uint32_t count) {
  // Copy: the ranges, not the record, are needed while the media changes.
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (const Fault& f : drive.record().faults) {
    if (f.kind != FaultKind::Damage) continue;
    uint64_t from = std::max(lba, f.lba);
    uint64_t end = std::min(lba + count, f.lba + f.blocks);
    if (from < end) ranges.emplace_back(from, end);
  }
  uint8_t sector[512];
  for (const auto& [from, end] : ranges) {
    for (uint64_t s = from; s < end; ++s) {
      if (drive.readSectors(s, 1, sector) != 0) continue;
      sector[kDamagedByte] ^= 0x01;
      drive.writeSectors(s, 1, sector);
    }
  }
}

}  // namespace zorv::sim::detail
