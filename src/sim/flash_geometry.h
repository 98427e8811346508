#pragma once
// The flash of one simulated drive as its vendor codes show it: the PPN bit
// layout, the block table (type, erase count, invalid pages, wear level of
// every block, with its early and later bad blocks), the FTL map, controller
// memory and the SPI flash image. Everything is derived from the drive's
// identity (the geometry of vendor_model.h, the serial number as seed), its
// health counters and one persistent list, so that every vendor code and
// every F7h transfer tells the same story.
//
// Planes are numbered in bus order, plane fastest:
//   index = ((channel x chips + chip) x dies + die) x planes + plane.
// Model class 0 reports blocks per plane. Model class 1 reports RAID groups:
// group r = chip x dies + die stripes the same block of every plane of every
// channel on that chip and die; a group's block is bad when a member's is.
//
// Persistent state: drive.vendorState()["flash"] =
//   { "laterBad": [[plane, block], ...],   made on first use, then kept
//     "spiImage": true,                    the SPI flash has its factory image
//     "restores": n, "spiSaves": n,        committed 51h restores, F7h 1Bh saves
//     "diagnosticTriggers": n }            57h 01h triggers taken

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_set>
#include <vector>

#include "sim/vendor_model.h"

namespace zorv::sim {

class SimDrive;

// PPN fields in layout order: chan, chip, die, plan, blck, page, au4k, resv, trim.
struct PpnLayout {
  std::array<uint8_t, 9> widths{};

  uint32_t shift(size_t field) const;
  uint32_t mask(size_t field) const;
  // Packs the eight named values (reserved is 0); values are cut to their widths.
  uint32_t encode(const std::array<uint32_t, 9>& fields) const;
  std::array<uint32_t, 9> decode(uint32_t ppn) const;
};

enum BlockType : uint16_t {
  kBlockFree = 0,
  kBlockEarlyBad = 1,
  kBlockLaterBad = 2,
  kBlockData = 3,
  kBlockTable = 4,  // SLC blocks: FTL tables (class 0), SLC cache (class 1)
  kBlockSystem = 5,
};

struct BlockInfo {
  uint16_t invalidPages = 0;
  uint16_t wearLevel = 0;
  uint16_t type = kBlockFree;
  uint32_t eraseCount = 0;
  uint16_t userData = 0;
  uint16_t tableFlag = 0;
};

struct PlaneAddress {
  uint32_t channel = 0;
  uint32_t chip = 0;
  uint32_t die = 0;
  uint32_t plane = 0;
};

// Widths of the 64-bit block record fields, and the record packing.
struct BlockRecordWidths {
  // class 0: user data, table flag, wear level, erase count, invalid pages, block type
  static constexpr std::array<uint8_t, 6> kClass0 = {2, 1, 8, 14, 10, 4};
  // class 1: block type, erase count, invalid pages, wear level
  static constexpr std::array<uint8_t, 4> kClass1 = {4, 14, 10, 8};
};

class FlashModel {
 public:
  explicit FlashModel(SimDrive& drive);

  const FlashGeometry& geometry() const { return g_; }
  uint16_t modelClass() const { return modelClass_; }
  uint32_t planeCount() const { return planes_; }
  PlaneAddress planeAddress(uint32_t index) const;
  std::optional<uint32_t> planeIndex(const PlaneAddress& a) const;

  // Blocks below dataStart use the SLC erase base (class 0: FTL tables from
  // block 2, blocks 0-1 hold the system area).
  uint16_t dataStart() const { return dataStart_; }
  // Class 1 block ranges: reserved from 0, SLC cache, then TLC data.
  uint16_t reservedStart() const { return 0; }
  uint16_t slcStart() const { return slcStart_; }
  uint16_t nonSlcStart() const { return dataStart_; }
  // The reserved range F740 reports.
  uint16_t reserveStartBlock() const;
  uint16_t reserveEndBlock() const;

  uint32_t raidGroups() const { return uint32_t{g_.chips} * g_.dies; }
  uint32_t raidMembers() const { return uint32_t{g_.channels} * g_.planes; }
  uint32_t raidMemberPlane(uint32_t raid, uint32_t member) const;

  // Blocks every plane (class 0) or RAID group (class 1) reports: a dump
  // group's valid byte count is a 16-bit number, so at most 8191 records.
  uint16_t reportedBlocks() const;

  BlockInfo block(uint32_t plane, uint32_t block) const;
  BlockInfo raidBlock(uint32_t raid, uint32_t block) const;
  bool earlyBad(uint32_t plane, uint32_t block) const;
  bool laterBad(uint32_t plane, uint32_t block) const;
  uint32_t earlyBadCount(uint32_t plane) const;
  uint32_t laterBadCount(uint32_t plane) const;
  uint32_t totalEarlyBad() const { return static_cast<uint32_t>(early_.size()); }
  uint32_t totalLaterBad() const { return static_cast<uint32_t>(later_.size()); }

  PpnLayout ppnLayout() const { return layout_; }
  // Where FTL map entry (4 KiB unit) or table entry `index` lives; FFFFFFFFh
  // for a unit beyond the user capacity.
  uint32_t ftlEntry(uint32_t index, bool table) const;

  // Erase counts of the good blocks whose index lies in [first, end) in every
  // plane (class 0) or RAID group (class 1), as the Info SSD record sums them.
  struct EraseRange {
    uint32_t min = 0;
    uint32_t max = 0;
    uint32_t average = 0;
    uint32_t blocks = 0;
  };
  EraseRange eraseRange(uint32_t first, uint32_t end) const;

  // Erase bases as the block dump reports them (the erase count field keeps
  // count - base x 2^(width - 1)).
  uint16_t slcEraseBase() const { return slcBase_; }
  uint16_t mlcEraseBase() const { return mlcBase_; }
  uint8_t eraseCountWidth() const;

  // A few lines of controller health, line ends 0Ah 0Dh as the controller's
  // console writes them.
  std::vector<uint8_t> diagnosticText(SimDrive& drive) const;
  // Controller memory at address, length bytes.
  void readMemory(uint32_t address, std::span<uint8_t> out) const;

  uint64_t seed() const { return seed_; }

 private:
  static uint64_t key(uint32_t plane, uint32_t block) { return uint64_t{plane} << 32 | block; }
  BlockInfo healthyBlock(uint64_t salt, uint32_t block) const;

  FlashGeometry g_;
  uint16_t modelClass_ = 0;
  uint32_t planes_ = 0;
  uint16_t dataStart_ = 0;
  uint16_t slcStart_ = 0;
  uint64_t seed_ = 0;
  uint64_t userUnits_ = 0;
  uint32_t averageErase_ = 0;   // from the sectors written since the last SMART clean-up
  uint32_t lifetimeErase_ = 0;  // and the wear before that
  uint16_t slcBase_ = 0;
  uint16_t mlcBase_ = 0;
  PpnLayout layout_;
  std::unordered_set<uint64_t> early_;
  std::unordered_set<uint64_t> later_;
  std::vector<uint32_t> earlyPerPlane_;
  std::vector<uint32_t> laterPerPlane_;
};

// Marks a block of a plane as later bad (kept in the drive's vendor state).
// False when the address is outside the drive or the block is early bad.
bool addLaterBadBlock(SimDrive& drive, uint32_t plane, uint32_t block);

// The factory SPI flash image: boot header, OBB record area (obb_record_area.h),
// configuration and firmware area.
void writeFactorySpiImage(SimDrive& drive, std::span<uint8_t> image);

constexpr size_t kSpiWindowSize = 64 * 1024;  // what F7h 12h / 14h move

}  // namespace zorv::sim
