#pragma once
// What the simulated controller reports about itself through its vendor
// commands and SMART: a flash geometry derived from the drive's identity,
// health counters that "SMART clear" (56h) resets, the 512-byte Info SSD
// record (vendor code 30h), the PCBA sector (F7h 16h) and the SMART data
// sector. Every answer is computed from the same drive state, so the Info
// SSD record, SMART and IDENTIFY agree.
//
// Persistent state: drive.vendorState()["health"] =
//   { "baseline": {powerCycles, powerOnHours, sectorsRead, sectorsWritten},
//     "worstTemp": n, "securityInits": n }

#include <array>
#include <cstdint>
#include <span>

#include "sim/drive_record.h"

namespace zorv::sim {

class SimDrive;

// Flash organisation of a drive, fixed by model class and capacity.
struct FlashGeometry {
  uint16_t channels = 0;
  uint16_t chips = 0;   // per channel
  uint16_t dies = 0;    // per chip
  uint16_t planes = 0;  // per die
  uint16_t blocksPerPlane = 0;
  uint16_t pagesPerBlock = 0;
  uint16_t sectorsPerPage = 0;  // 512-byte sectors
  uint32_t totalBlocks() const { return uint32_t{channels} * chips * dies * planes * blocksPerPlane; }
  uint32_t totalPages() const { return totalBlocks() * pagesPerBlock; }
  uint32_t earlyBadBlocks() const { return totalBlocks() / 512 + 3; }
};
FlashGeometry flashGeometry(const SimIdentity& identity);

// Counters since the last SMART clear.
struct HealthCounters {
  uint64_t powerCycles = 0;
  uint64_t powerOnHours = 0;
  uint64_t sectorsRead = 0;
  uint64_t sectorsWritten = 0;
  int temperature = 0;
  int worstTemperature = 0;
  uint8_t lifeLeft = 100;  // percent
};
// Also records a new worst temperature.
HealthCounters healthCounters(SimDrive& drive);
// 56h 03h (and 01h): the counters start again from now.
void clearSmart(SimDrive& drive);

constexpr size_t kVendorSector = 512;
using SectorBytes = std::array<uint8_t, kVendorSector>;

// Reply of vendor code 30h. A hardware ID shorter than the field (9 bytes in
// class 0, 16 in class 1) is padded with zeros.
SectorBytes infoSsdRecord(SimDrive& drive);
// Reply of F7h 16h: bytes 0-15 the hardware ID (zero after it), bytes 48-67
// the PCBA part number as an ATA string (two characters per word, the first
// in the high byte), space padded; the rest zero.
SectorBytes pcbaSector(const SimIdentity& identity);
// Reply of F7h 16h with count and LBA low B0h: byte 0 01h, byte 1 01h (the
// sector is valid), bytes 20-23 the gigabytes the host wrote since the last
// SMART clear, bytes 36-39 the power-on hours, both big-endian; the rest zero.
SectorBytes lifeSector(SimDrive& drive);
// SMART READ DATA: revision 0010h, the attributes, capabilities, checksum.
SectorBytes smartDataSector(SimDrive& drive);

}  // namespace zorv::sim
