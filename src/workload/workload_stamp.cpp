#include "workload/workload_stamp.h"

#include <bit>
#include <cstring>

namespace zorv {

namespace {

// Every sector of every command carries a stamp: on a little-endian host
// the stamp is copied as it is in memory.
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

void putLe64(uint8_t* p, uint64_t v) {
  if constexpr (kLittleEndian) {
    std::memcpy(p, &v, 8);
  } else {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
}

void putLe32(uint8_t* p, uint32_t v) {
  if constexpr (kLittleEndian) {
    std::memcpy(p, &v, 4);
  } else {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
}

uint64_t le64(const uint8_t* p) {
  uint64_t v = 0;
  if constexpr (kLittleEndian) {
    std::memcpy(&v, p, 8);
  } else {
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  }
  return v;
}

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

}  // namespace

void stampWorkloadSectors(uint8_t* buffer, uint64_t lba, uint32_t count, uint32_t batch) {
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* s = buffer + size_t{i} * kWorkloadSectorSize;
    putLe64(s, lba + i);
    putLe32(s + 8, batch);
  }
}

std::optional<StampMismatch> checkWorkloadStamps(const uint8_t* buffer, uint64_t lba, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* s = buffer + size_t{i} * kWorkloadSectorSize;
    uint64_t found = le64(s);
    if (found != lba + i) return StampMismatch{i, found, le32(s + 8)};
  }
  return std::nullopt;
}

}  // namespace zorv
