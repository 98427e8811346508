#pragma once
// The 512-byte stamped block every media-test write carries, and its check.
//
//   0   4  AA 55 AA 55
//   4   4  block number L, big-endian
//   8   4  L >> 4, big-endian
//   12  1  0
//   13  1  L & 0x0F
//   14  7  "VXAwDVD"
//   21  1  0
//   22 488 words 11..254: generator output, little-endian
//   510 2  16-bit little-endian sum of the 255 words at 0..509

#include <cstdint>
#include <string>

namespace zorv {

struct Context;

constexpr size_t kStampedBlockSize = 512;

// Fills count consecutive stamped blocks for block numbers first, first+1, ...
void StampBlocks(uint32_t count, uint32_t first, uint8_t* buffer);

// Checks count blocks at buffer for block numbers first...; returns the empty
// text for good data, else "Block No Check Error" or "Compare Check Sum Error"
// (the latter after printing the block's sums as an alert line).
std::string CheckStampedBlocks(Context& ctx, const uint8_t* buffer, uint32_t first, uint32_t count);
// The same over SectorBuffer.
std::string CheckStampedBlocks(Context& ctx, uint32_t first, uint32_t count);

// Sum of the 255 little-endian words at offsets 0..509 of one block.
uint16_t stampChecksum(const uint8_t* block);

}  // namespace zorv
