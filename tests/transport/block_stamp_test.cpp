#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"
#include "transport/block_stamp.h"

namespace zorv {
namespace {

TEST(BlockStamp, LayoutOfOneBlock) {
  std::vector<uint8_t> b(512);
  StampBlocks(1, 0x12345678, b.data());
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 22),
            (std::vector<uint8_t>{0xAA, 0x55, 0xAA, 0x55, 0x12, 0x34, 0x56, 0x78, 0x01, 0x23, 0x45,
                                  0x67, 0x00, 0x08, 'V', 'X', 'A', 'w', 'D', 'V', 'D', 0x00}));
  // First generated word: state = (L + 1) * 1103515245 + 12345, bits 16..31.
  uint32_t state = (0x12345678u + 1) * 1103515245u + 12345u;
  EXPECT_EQ(b[22] | (b[23] << 8), static_cast<int>(state >> 16));
  EXPECT_EQ(b[510] | (b[511] << 8), stampChecksum(b.data()));
}

TEST(BlockStamp, CheckFindsWrongNumberAndBadSum) {
  test::RecordingPort port;
  test::TestContext t(port);
  std::vector<uint8_t> buf(4 * 512);
  StampBlocks(4, 100, buf.data());
  EXPECT_EQ(CheckStampedBlocks(t.ctx, buf.data(), 100, 4), "");
  EXPECT_EQ(CheckStampedBlocks(t.ctx, buf.data(), 101, 4), "Block No Check Error");

  auto damaged = buf;
  damaged[2 * 512 + 300] ^= 0x40;
  EXPECT_EQ(CheckStampedBlocks(t.ctx, damaged.data(), 100, 4), "Compare Check Sum Error");
  EXPECT_NE(t.pane.text().find("Block 66  Check Sum = "), std::string::npos) << t.pane.text();

  // Signature bytes are not compared: a changed signature with a matching sum
  // passes, the same change without fixing the sum fails on the sum.
  auto resigned = buf;
  resigned[0] = 0x00;
  EXPECT_EQ(CheckStampedBlocks(t.ctx, resigned.data(), 100, 1), "Compare Check Sum Error");
  uint16_t sum = stampChecksum(resigned.data());
  resigned[510] = static_cast<uint8_t>(sum);
  resigned[511] = static_cast<uint8_t>(sum >> 8);
  EXPECT_EQ(CheckStampedBlocks(t.ctx, resigned.data(), 100, 1), "");
}

}  // namespace
}  // namespace zorv
