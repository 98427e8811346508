#pragma once
// The stamp record the generator writes into every sector of a command, at
// byte o (the "Offset") of the sector:
//
//   o .. o+7        the sector's LBA: low 32 bits, then high 32 bits, little-endian
//   o+0x10 .. +0x17 the local time as 8 digits: day, hour, minute, second ("%02d")
//   o+0x20 .. +0x23 a serial number, little-endian, one more for every sector
//
// and the check of what was read back: the LBA and serial stamps must run on
// from what the command expects (the time is not checked).

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>

namespace zorv {

constexpr uint32_t kStampLbaBytes = 8;
constexpr uint32_t kStampTimeAt = 0x10;
constexpr uint32_t kStampTimeBytes = 8;
constexpr uint32_t kStampSerialAt = 0x20;
constexpr uint32_t kStampSerialBytes = 4;
constexpr uint32_t kDefaultStampOffset = 32;

struct StampLayout {
  bool record = false;  // "Stamp Record"
  uint32_t offset = kDefaultStampOffset;
  bool lba = false;     // "Current LBA Addrs (4B)"
  bool time = false;    // "Time (Big Endian)"
  bool serial = false;  // "Serial Number"

  bool any() const { return record && (lba || time || serial); }
  bool checksSomething() const { return record && (lba || serial); }
  // Bytes past the offset that the enabled stamps reach (0 when none is on).
  uint32_t extent() const;
};

// The eight time digits of a calendar time.
std::array<char, kStampTimeBytes> stampTimeDigits(const std::tm& time);

// Stamps sectors consecutive sectors of data: the first gets lba and serial,
// each next one lba + 1 and serial + 1. The caller has checked that the
// stamps fit the sector (offset + extent() <= sectorSize). Returns the serial
// after the last sector.
uint32_t stampSectors(uint8_t* data, uint32_t sectors, uint32_t sectorSize, const StampLayout& layout, uint64_t lba,
                      uint32_t serial, const std::array<char, kStampTimeBytes>& time);

// Checks the LBA and serial stamps of sectors sectors read from lba, the
// first expected to carry serial. The index of the first sector whose stamps
// differ, or nothing when all match.
std::optional<uint32_t> checkStamps(const uint8_t* data, uint32_t sectors, uint32_t sectorSize,
                                    const StampLayout& layout, uint64_t lba, uint32_t serial);

}  // namespace zorv
