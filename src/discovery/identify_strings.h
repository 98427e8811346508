#pragma once
// The texts enumeration builds from IDENTIFY DEVICE data. ATA strings hold two
// characters per 16-bit word, high byte first, so every word is swapped.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace zorv {

constexpr size_t kIdentifySize = 512;
using IdentifyData = std::array<uint8_t, kIdentifySize>;

// len bytes from offset with each word's two bytes swapped (len is even).
std::string swappedField(const IdentifyData& id, size_t offset, size_t len);
std::string cutAtNul(std::string text);

// Words 27-46 cut at the first NUL, spaces kept ("Model Name      : ").
std::string modelField(const IdentifyData& id);
// The same with every space removed (drive list, brand check).
std::string modelText(const IdentifyData& id);
// Words 10-19 cut at the first NUL, every pair of spaces removed.
std::string serialText(const IdentifyData& id);
// Words 23-26 cut at the first NUL.
std::string firmwareText(const IdentifyData& id);
// Words 100-101 and 102-103.
uint32_t sectorsLo(const IdentifyData& id);
uint32_t sectorsHi(const IdentifyData& id);
// "%dG": the sector count / 2^21 as a 32-bit signed number.
std::string capacityText(uint32_t lo, uint32_t hi);
// Sectors x 512 / 10^9, truncated.
uint64_t capacityDecimalGB(uint64_t sectors);
// The two characters of word 135, swapped, without NULs.
std::string word135Text(const IdentifyData& id);

}  // namespace zorv
