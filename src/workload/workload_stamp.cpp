#include "workload/workload_stamp.h"

#include <cstring>

namespace zorv {

namespace {

void putLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

}  // namespace

void stampWorkloadSectors(uint8_t* buffer, uint64_t lba, uint32_t count, uint32_t batch) {
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* s = buffer + size_t{i} * kWorkloadSectorSize;
    putLe64(s, lba + i);
    s[8] = static_cast<uint8_t>(batch);
    s[9] = static_cast<uint8_t>(batch >> 8);
    s[10] = static_cast<uint8_t>(batch >> 16);
    s[11] = static_cast<uint8_t>(batch >> 24);
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
