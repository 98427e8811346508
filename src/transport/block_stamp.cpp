#include "transport/block_stamp.h"

#include <algorithm>
#include <cstring>

#include "transport/byte_order.h"
#include "transport/context.h"

namespace zorv {

namespace {

void stampOne(uint32_t L, uint8_t* b) {
  b[0] = 0xAA; b[1] = 0x55; b[2] = 0xAA; b[3] = 0x55;
  putBe32(b + 4, L);
  putBe32(b + 8, L >> 4);
  b[12] = 0;
  b[13] = static_cast<uint8_t>(L & 0x0F);
  std::memcpy(b + 14, "VXAwDVD", 7);
  b[21] = 0;
  uint32_t state = L + 1;
  for (int word = 11; word <= 254; ++word) {
    state = state * 1103515245u + 12345u;
    putLe16(b + word * 2, static_cast<uint16_t>(state >> 16));
  }
  putLe16(b + 510, stampChecksum(b));
}

}  // namespace

uint16_t stampChecksum(const uint8_t* block) {
  uint32_t sum = 0;
  for (int i = 0; i < 255; ++i) sum += le16(block + 2 * i);
  return static_cast<uint16_t>(sum);
}

void StampBlocks(uint32_t count, uint32_t first, uint8_t* buffer) {
  for (uint32_t i = 0; i < count; ++i) stampOne(first + i, buffer + size_t{i} * kStampedBlockSize);
}

std::string CheckStampedBlocks(Context& ctx, const uint8_t* buffer, uint32_t first, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* b = buffer + size_t{i} * kStampedBlockSize;
    uint32_t number = be32(b + 4);
    if (number != first + i) return "Block No Check Error";
    uint16_t computed = stampChecksum(b);
    uint16_t stored = le16(b + 510);
    if (computed != stored) {
      PrintAlert(ctx, "Block %X  Check Sum = %04X != %04X(should)", first + i, computed, stored);
      return "Compare Check Sum Error";
    }
  }
  return {};
}

std::string CheckStampedBlocks(Context& ctx, uint32_t first, uint32_t count) {
  // Never look past the buffer, whatever count the CDB carried.
  count = std::min<uint32_t>(count, kSectorBufferSize / kStampedBlockSize);
  return CheckStampedBlocks(ctx, ctx.SectorBuffer.data(), first, count);
}

}  // namespace zorv
