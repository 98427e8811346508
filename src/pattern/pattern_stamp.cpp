#include "pattern/pattern_stamp.h"

#include <algorithm>
#include <cstring>

#include "transport/byte_order.h"

namespace zorv {

uint32_t StampLayout::extent() const {
  uint32_t reach = 0;
  if (lba) reach = std::max(reach, kStampLbaBytes);
  if (time) reach = std::max(reach, kStampTimeAt + kStampTimeBytes);
  if (serial) reach = std::max(reach, kStampSerialAt + kStampSerialBytes);
  return reach;
}

std::array<char, kStampTimeBytes> stampTimeDigits(const std::tm& time) {
  const int fields[4] = {time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec};
  std::array<char, kStampTimeBytes> digits{};
  for (size_t i = 0; i < 4; ++i) {
    int v = std::clamp(fields[i], 0, 99);
    digits[2 * i] = static_cast<char>('0' + v / 10);
    digits[2 * i + 1] = static_cast<char>('0' + v % 10);
  }
  return digits;
}

uint32_t stampSectors(uint8_t* data, uint32_t sectors, uint32_t sectorSize, const StampLayout& layout, uint64_t lba,
                      uint32_t serial, const std::array<char, kStampTimeBytes>& time) {
  if (!layout.any()) return serial;
  for (uint32_t s = 0; s < sectors; ++s) {
    uint8_t* p = data + size_t{s} * sectorSize + layout.offset;
    if (layout.lba) {
      uint64_t v = lba + s;
      putLe32(p, static_cast<uint32_t>(v));
      putLe32(p + 4, static_cast<uint32_t>(v >> 32));
    }
    if (layout.time) std::memcpy(p + kStampTimeAt, time.data(), time.size());
    if (layout.serial) putLe32(p + kStampSerialAt, serial);
    ++serial;
  }
  return serial;
}

std::optional<uint32_t> checkStamps(const uint8_t* data, uint32_t sectors, uint32_t sectorSize,
                                    const StampLayout& layout, uint64_t lba, uint32_t serial) {
  if (!layout.checksSomething()) return std::nullopt;
  for (uint32_t s = 0; s < sectors; ++s) {
    const uint8_t* p = data + size_t{s} * sectorSize + layout.offset;
    if (layout.serial && le32(p + kStampSerialAt) != serial + s) return s;
    if (layout.lba && le64(p) != lba + s) return s;
  }
  return std::nullopt;
}

}  // namespace zorv
