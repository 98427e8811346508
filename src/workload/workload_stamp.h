#pragma once
// The stamp every sector a workload writes carries: bytes 0..7 the sector's
// LBA (64-bit little-endian), bytes 8..11 the window's batch number
// (little-endian; it grows by one after each read-back batch), bytes 12..511
// the window's random data, left as they are. The read-back check compares
// the LBA only.

#include <cstdint>
#include <optional>

namespace zorv {

constexpr uint32_t kWorkloadSectorSize = 512;

// Writes the stamps of count sectors from lba into buffer.
void stampWorkloadSectors(uint8_t* buffer, uint64_t lba, uint32_t count, uint32_t batch);

struct StampMismatch {
  uint32_t offset = 0;     // sector within the read
  uint64_t foundLba = 0;   // what the sector carries
  uint32_t foundBatch = 0;
};

// The first sector of count read from lba that does not carry its own LBA.
std::optional<StampMismatch> checkWorkloadStamps(const uint8_t* buffer, uint64_t lba, uint32_t count);

}  // namespace zorv
