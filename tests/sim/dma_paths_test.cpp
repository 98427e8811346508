// READ DMA / WRITE DMA (28-bit) and their EXT forms on both buses of the bay:
// the register image on the SATA drive, the SAT CDB through the USB bridge,
// with LBA bits 24-27 in the device register, and the bridge's 128 sectors.

#include <gtest/gtest.h>

#include <cstring>

#include "sim_test_util.h"

namespace zorv {
namespace {

AtaTaskFile dma28(bool write, uint32_t lba, uint8_t count) {
  AtaTaskFile tf;
  tf.ucCommand = write ? 0xCA : 0xC8;
  tf.ucCount = count;
  tf.ucLbaLow = static_cast<uint8_t>(lba);
  tf.ucLbaMid = static_cast<uint8_t>(lba >> 8);
  tf.ucLbaHigh = static_cast<uint8_t>(lba >> 16);
  tf.ucDevice = static_cast<uint8_t>(0x40 | ((lba >> 24) & 0x0F));
  return tf;
}

TEST(SimDmaPaths, Dma28AndDmaExtMeetAtTheSameSectorsOnBothBuses) {
  for (int slot : {0, 1}) {
    test::SimFixture sim(slot);
    ASSERT_TRUE(sim.ok()) << sim.error;
    Context& ctx = sim.ctx();
    const uint32_t lba = 0x0ABCDEF0;  // bits 24-27 travel in the device register
    test::fillPattern(ctx, 0x80 * 512, 11 + slot);
    AtaTaskFile w = dma28(true, lba, 0x80);
    ASSERT_TRUE(SendAtaCommand(ctx, true, w, true, 0x80 * 512)) << "slot " << slot;

    // READ DMA EXT of the same place sees it; READ(10) too.
    std::memset(ctx.SectorBuffer.data(), 0, 0x80 * 512);
    AtaTaskFile r = test::dmaExt(false, lba, 0x80);
    ASSERT_TRUE(SendAtaCommand(ctx, false, r, true, 0x80 * 512)) << slot;
    EXPECT_TRUE(test::hasPattern(ctx, 0x80 * 512, 11 + slot)) << slot;
    std::memset(ctx.SectorBuffer.data(), 0, 512);
    ASSERT_TRUE(ReadBlocks(ctx, lba, 1, false));
    EXPECT_TRUE(test::hasPattern(ctx, 512, 11 + slot)) << slot;

    // READ DMA of the sectors just before: never written.
    AtaTaskFile before = dma28(false, lba - 8, 8);
    ASSERT_TRUE(SendAtaCommand(ctx, false, before, true, 8 * 512)) << slot;
    for (size_t i = 0; i < 8 * 512; ++i) ASSERT_EQ(ctx.SectorBuffer[i], 0) << slot;
    AtaTaskFile back = dma28(false, lba, 0x80);
    ASSERT_TRUE(SendAtaCommand(ctx, false, back, true, 0x80 * 512)) << slot;
    EXPECT_TRUE(test::hasPattern(ctx, 0x80 * 512, 11 + slot)) << slot;
    EXPECT_TRUE(sim.ui.boxes.empty());
  }
}

TEST(SimDmaPaths, MoreThan128SectorsGoOnlyToTheSataDrive) {
  for (int slot : {0, 1}) {
    test::SimFixture sim(slot);
    ASSERT_TRUE(sim.ok()) << sim.error;
    Context& ctx = sim.ctx();
    test::fillPattern(ctx, 0xF9 * 512, 5);
    AtaTaskFile w = dma28(true, 0x1000, 0xF9);
    const bool sent = SendAtaCommand(ctx, true, w, true, 0xF9 * 512);
    if (slot == 0) {
      EXPECT_TRUE(sent);
      EXPECT_TRUE(sim.ui.boxes.empty());
    } else {
      EXPECT_FALSE(sent);
      ASSERT_EQ(sim.ui.boxes.size(), 1u);
      EXPECT_EQ(sim.ui.boxes[0].text, "USB Sector Length Over 0x80, Exit");
      ASSERT_TRUE(ReadBlocks(ctx, 0x1000, 1, false));
      for (size_t i = 0; i < 512; ++i) ASSERT_EQ(ctx.SectorBuffer[i], 0) << "nothing was written";
    }
  }
}

}  // namespace
}  // namespace zorv
