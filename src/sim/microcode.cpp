// Hook family "microcode" of the simulated controller: DOWNLOAD MICROCODE
// (92h PIO, 93h DMA) with offsets, the image checks a drive of the family
// makes, activation with its restart, and the hardware ID's last byte
// (F7h 17h stages a sector, F7h 1Bh takes byte 15 of it).
//
// Segments (Features 03h, download with offsets and save):
//   blocks = Count | LBA Low << 8, offset = LBA Mid | LBA High << 8 (512-byte
//   blocks). Offset 0 starts an image; every further segment must continue
//   where the last one ended. Anything else is aborted and the partial image
//   dropped.
// Checks, as the controller's boot code does them (class 0 images arrive
// complemented, as packages store them):
//   identity block (81 bytes, sum 0 modulo 256) at 48 + LE32(bytes 8..11)
//   for class 0, in the image's last 512 bytes for class 1; its hardware ID
//   must be the drive's own, its version printable, and the image length it
//   gives (LE32 at block bytes 20..23) a whole number of blocks that holds
//   the block. A class 0 image is checked as soon as the block has arrived;
//   a class 1 image whenever a segment ends with a complete identity block.
//   A wrong image is aborted and dropped: the old firmware stays.
// Activation: the host moving on to any other command after the whole image
// (as long as its identity block says) has arrived. The drive then takes the
// new version (6 characters; the last two of its 8-character firmware field
// stay) and restarts: NOT READY 2/04/01 for restartMs. An image the host
// leaves incomplete is dropped when it moves on, and so is one lost to power
// loss (unplug, power cycle): the old firmware keeps running.
//
// State: drive.vendorState()["microcode"] = { "updates": n, "restartMs": ms
// (optional, default 2000), "lastVersion": "S1108A" }. The image in transfer
// and a staged HWID sector are volatile.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"

namespace zorv::sim {

namespace {

constexpr uint8_t kDownloadPio = 0x92;
constexpr uint8_t kDownloadDma = 0x93;
constexpr uint8_t kModeOffsetsSave = 0x03;
constexpr uint8_t kVendorSwitch = 0xF7;
constexpr uint8_t kHwidStage = 0x17;
constexpr uint8_t kHwidCommit = 0x1B;
constexpr size_t kBlock = 512;
// 16-bit block offsets address at most this much.
constexpr size_t kMaxImage = size_t{65536} * kBlock;
constexpr size_t kIdentitySize = 81;
constexpr size_t kIdentityLengthAt = 20;
constexpr uint32_t kDefaultRestartMs = 2000;

struct Download {
  std::vector<uint8_t> plain;  // the image as received, class 0 bytes complemented back
  bool verified = false;       // the identity block was found and is this drive's
  size_t length = 0;           // the image length its identity block gives
  std::string version;         // from the identity block
  void reset() {
    plain.clear();
    plain.shrink_to_fit();
    verified = false;
    length = 0;
    version.clear();
  }
  bool pending() const { return !plain.empty(); }
  // The whole image has arrived and its checks passed.
  bool complete() const { return verified && plain.size() == length; }
};

struct HwidStage {
  bool staged = false;
  std::array<uint8_t, kBlock> sector{};
};

size_t idLength(const SimDrive& drive) { return drive.identity().modelClass == 1 ? 16 : 9; }

std::vector<uint8_t> paddedHwid(const SimDrive& drive) {
  std::vector<uint8_t> id(idLength(drive), 0x00);
  const std::vector<uint8_t>& h = drive.identity().hwid;
  std::copy_n(h.begin(), std::min(h.size(), id.size()), id.begin());
  return id;
}

nlohmann::json& state(SimDrive& drive) {
  nlohmann::json& v = drive.vendorState();
  if (!v.contains("microcode") || !v["microcode"].is_object()) v["microcode"] = nlohmann::json::object();
  return v["microcode"];
}

uint32_t restartMs(SimDrive& drive) {
  const nlohmann::json& v = drive.record().vendor;
  if (v.contains("microcode") && v["microcode"].is_object()) {
    const nlohmann::json& m = v["microcode"];
    if (m.contains("restartMs") && m["restartMs"].is_number_unsigned())
      return static_cast<uint32_t>(std::min<uint64_t>(m["restartMs"].get<uint64_t>(), 3600000));
  }
  return kDefaultRestartMs;
}

enum class BlockCheck { Incomplete, Good, Wrong };

size_t declaredLength(const std::vector<uint8_t>& img, size_t h) {
  const uint8_t* p = &img[h + kIdentityLengthAt];
  return size_t{p[0]} | (size_t{p[1]} << 8) | (size_t{p[2]} << 16) | (size_t{p[3]} << 24);
}

// Looks at an identity block at h of the received image; a good one gives
// the image's version and length.
BlockCheck checkBlock(const SimDrive& drive, const std::vector<uint8_t>& img, size_t h, Download& d) {
  if (h + kIdentitySize > img.size()) return BlockCheck::Incomplete;
  uint32_t sum = 0;
  for (size_t i = 0; i < kIdentitySize; ++i) sum += img[h + i];
  const size_t versionAt = h + (drive.identity().modelClass == 1 ? 40 : 32);
  bool printable = std::all_of(img.begin() + static_cast<std::ptrdiff_t>(versionAt),
                               img.begin() + static_cast<std::ptrdiff_t>(versionAt + 6),
                               [](uint8_t c) { return c >= 0x20 && c < 0x7F; });
  if ((sum & 0xFF) != 0 || !printable) return BlockCheck::Wrong;
  std::vector<uint8_t> mine = paddedHwid(drive);
  if (!std::equal(mine.begin(), mine.end(), img.begin() + static_cast<std::ptrdiff_t>(h))) return BlockCheck::Wrong;
  const size_t length = declaredLength(img, h);
  if (length % kBlock != 0 || length > kMaxImage || length < h + kIdentitySize) return BlockCheck::Wrong;
  d.version.assign(reinterpret_cast<const char*>(&img[versionAt]), 6);
  d.length = length;
  return BlockCheck::Good;
}

// After a segment: false when the image is to be refused.
bool examine(const SimDrive& drive, Download& d) {
  const std::vector<uint8_t>& img = d.plain;
  if (drive.identity().modelClass == 0) {
    if (!d.verified) {
      if (img.size() < 12) return true;
      uint64_t h =
          48 + (uint64_t{img[8]} | (uint64_t{img[9]} << 8) | (uint64_t{img[10]} << 16) | (uint64_t{img[11]} << 24));
      if (h + kIdentitySize > kMaxImage) return false;
      BlockCheck c = checkBlock(drive, img, static_cast<size_t>(h), d);
      if (c == BlockCheck::Wrong) return false;
      d.verified = c == BlockCheck::Good;
    }
    // More than the image's own length is no image of this firmware.
    return !d.verified || img.size() <= d.length;
  }
  // Class 1: the block lies in the last 512 bytes, so the image may end
  // after any segment: it has when that block is complete and gives the
  // length received. A complete block (sum 0, printable version) that names
  // another drive marks an image for another drive.
  d.verified = false;
  if (img.size() < kBlock) return true;
  const size_t h = img.size() - kBlock;
  uint32_t sum = 0;
  for (size_t i = 0; i < kIdentitySize; ++i) sum += img[h + i];
  if ((sum & 0xFF) != 0) return true;
  const size_t versionAt = h + 40;
  const bool printable = std::all_of(img.begin() + static_cast<std::ptrdiff_t>(versionAt),
                                     img.begin() + static_cast<std::ptrdiff_t>(versionAt + 6),
                                     [](uint8_t ch) { return ch >= 0x20 && ch < 0x7F; });
  if (!printable || declaredLength(img, h) != img.size()) return true;
  Download seen;
  if (checkBlock(drive, img, h, seen) == BlockCheck::Wrong) return false;
  d.verified = true;
  d.version = seen.version;
  d.length = seen.length;
  return true;
}

HookResult downloadSegment(SimDrive& drive, AtaExchange& x) {
  const AtaRegisters& r = x.command.regs;
  Download& d = drive.runtime<Download>();
  const size_t blocks = size_t{r.count} | (size_t{r.lbaLow} << 8);
  const size_t offset = (size_t{r.lbaMid} | (size_t{r.lbaHigh} << 8)) * kBlock;
  const size_t bytes = blocks * kBlock;
  bool ok = r.features == kModeOffsetsSave && x.command.dir == DataDir::Out && blocks > 0 && x.data.size() >= bytes &&
            offset + bytes <= kMaxImage && (offset == 0 || offset == d.plain.size());
  if (!ok) {
    d.reset();
    x.reply.abort();
    return HookResult::Handled;
  }
  if (offset == 0) d.reset();
  const bool complemented = drive.identity().modelClass == 0;
  d.plain.resize(offset + bytes);
  uint8_t* out = d.plain.data() + offset;
  for (size_t i = 0; i < bytes; ++i) out[i] = complemented ? static_cast<uint8_t>(~x.data[i]) : x.data[i];
  if (!examine(drive, d)) {
    d.reset();
    x.reply.abort();
    return HookResult::Handled;
  }
  x.reply.bytes = static_cast<uint32_t>(bytes);
  return HookResult::Handled;
}

// The host has moved on: a complete image is taken and the drive restarts.
// True when it restarted (the command that arrived meets a drive that is
// not ready).
bool activate(SimDrive& drive) {
  Download& d = drive.runtime<Download>();
  if (!d.pending()) return false;
  bool take = d.complete();
  std::string version = d.version;
  d.reset();
  if (!take) return false;
  std::string firmware = drive.identity().firmware;
  std::string suffix = firmware.size() >= 8 ? firmware.substr(6, 2) : std::string("  ");
  if (!drive.setFirmware(version + suffix)) return false;
  nlohmann::json& s = state(drive);
  uint64_t n = s.contains("updates") && s["updates"].is_number_unsigned() ? s["updates"].get<uint64_t>() : 0;
  s["updates"] = n + 1;
  s["lastVersion"] = version;
  drive.saveVendorState();
  drive.beginNotReady(std::chrono::milliseconds(restartMs(drive)));
  return true;
}

HookResult hwidSwitch(SimDrive& drive, AtaExchange& x) {
  const AtaRegisters& r = x.command.regs;
  HwidStage& stage = drive.runtime<HwidStage>();
  if (x.command.dir != DataDir::Out || x.data.size() < kBlock) {
    x.reply.abort();
    return HookResult::Handled;
  }
  if (r.features == kHwidStage) {
    std::copy_n(x.data.begin(), kBlock, stage.sector.begin());
    stage.staged = true;
    x.reply.bytes = kBlock;
    return HookResult::Handled;
  }
  // 1Bh: the staged sector's byte 15 becomes the hardware ID's last byte.
  if (!stage.staged) {
    x.reply.abort();
    return HookResult::Handled;
  }
  stage.staged = false;
  SimIdentity id = drive.identity();
  id.hwid = paddedHwid(drive);
  id.hwid.back() = stage.sector[15];
  if (!drive.setIdentity(id)) {
    x.reply.abort();
    return HookResult::Handled;
  }
  x.reply.bytes = kBlock;
  return HookResult::Handled;
}

HookResult ata(SimDrive& drive, AtaExchange& x) {
  if (!drive.identity().family) return HookResult::NotHandled;
  const uint8_t op = x.command.regs.command;
  if (op == kDownloadDma || op == kDownloadPio) return downloadSegment(drive, x);
  if (activate(drive)) {
    x.reply.abort();  // busy with its restart
    return HookResult::Handled;
  }
  if (op == kVendorSwitch && (x.command.regs.features == kHwidStage || x.command.regs.features == kHwidCommit))
    return hwidSwitch(drive, x);
  return HookResult::NotHandled;
}

HookResult scsi(SimDrive& drive, ScsiExchange& x) {
  if (!drive.identity().family) return HookResult::NotHandled;
  if (!activate(drive)) return HookResult::NotHandled;
  // REQUEST SENSE and INQUIRY are answered while not ready; the controller
  // reports the restart in their data.
  if (!x.cdb.empty() && (x.cdb[0] == 0x03 || x.cdb[0] == 0x12)) return HookResult::NotHandled;
  x.reply.checkCondition(kSenseNotReady, 0x04, 0x01);
  return HookResult::Handled;
}

}  // namespace

const HookFamily kMicrocodeHooks{"microcode", &ata, &scsi, nullptr};

}  // namespace zorv::sim
