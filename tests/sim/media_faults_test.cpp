// What the simulated drive gives the media tests to find: read errors over
// an LBA range, blocks stored damaged after they were written, a write the
// drive answers NOT READY (operation in progress) a number of times, and
// random reads whose latency varies.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <set>

#include "sim_test_util.h"
#include "transport/block_stamp.h"

namespace zorv {
namespace {

using sim::Fault;
using sim::FaultKind;
using test::SimFixture;

void addFault(SimFixture& sim, int slot, Fault f) {
  std::string error;
  ASSERT_TRUE(sim.bay->addFault(slot, f, error)) << error;
}

uint32_t senseInformation(const Context& ctx) {
  return uint32_t{ctx.LastSense[3]} << 24 | uint32_t{ctx.LastSense[4]} << 16 | uint32_t{ctx.LastSense[5]} << 8 |
         ctx.LastSense[6];
}

TEST(SimMediaFaults, ReadErrorRangeFailsEveryReadThatTouchesItUntilCleared) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  addFault(sim, 0, Fault{.kind = FaultKind::ReadError, .lba = 0x1004, .blocks = 4});
  struct Case {
    uint32_t lba, count;
    bool fails;
    uint32_t firstBad;
  };
  for (const Case& c : {Case{0x1000, 4, false, 0}, Case{0x1000, 5, true, 0x1004}, Case{0x1006, 8, true, 0x1006},
                        Case{0x1008, 8, false, 0}, Case{0x1006, 8, true, 0x1006}}) {
    EXPECT_EQ(ReadBlocks(ctx, c.lba, c.count, false), !c.fails) << std::hex << c.lba << "+" << c.count;
    if (!c.fails) continue;
    EXPECT_EQ(lastSenseKey(ctx), 0x03);
    EXPECT_EQ(lastSenseAsc(ctx), 0x11);
    EXPECT_EQ(ctx.LastSense[0] & 0x80, 0x80) << "information valid";
    EXPECT_EQ(senseInformation(ctx), c.firstBad);
  }
  StampBlocks(8, 0x1004, ctx.SectorBuffer.data());
  EXPECT_TRUE(WriteBlocks(ctx, 0x1004, 8, 512)) << "writes are not touched";

  // The DMA path of the SATA drive fails the same way, with the LBA in the registers.
  AtaTaskFile tf = test::dmaExt(false, 0x1003, 2);
  EXPECT_FALSE(SendAtaCommand(ctx, false, tf, true, 1024));

  std::string error;
  ASSERT_TRUE(sim.bay->clearFaults(0, error)) << error;
  EXPECT_TRUE(ReadBlocks(ctx, 0x1000, 16, false));
}

TEST(SimMediaFaults, DamageStoresWrittenBlocksWithOneByteChanged) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  StampBlocks(16, 0x2000, ctx.SectorBuffer.data());
  ASSERT_TRUE(WriteBlocks(ctx, 0x2000, 16, 512));
  addFault(sim, 0, Fault{.kind = FaultKind::Damage, .lba = 0x2008, .blocks = 1});
  ASSERT_TRUE(ReadBlocks(ctx, 0x2000, 16, false));
  EXPECT_EQ(CheckStampedBlocks(ctx, 0x2000, 16), "") << "what was written before stays intact";

  StampBlocks(16, 0x2000, ctx.SectorBuffer.data());
  ASSERT_TRUE(WriteBlocks(ctx, 0x2000, 16, 512)) << "the write itself succeeds";
  std::string error;
  ASSERT_TRUE(sim.bay->clearFaults(0, error)) << error;
  // Cleared, the damage stays on the media until the block is written again.
  ASSERT_TRUE(ReadBlocks(ctx, 0x2000, 16, false));
  EXPECT_EQ(CheckStampedBlocks(ctx, 0x2000, 8), "");
  EXPECT_EQ(CheckStampedBlocks(ctx, ctx.SectorBuffer.data() + 8 * 512, 0x2008, 1), "Compare Check Sum Error")
      << "the block keeps its number; its data no longer fit its sum";
  StampBlocks(1, 0x2008, ctx.SectorBuffer.data());
  ASSERT_TRUE(WriteBlocks(ctx, 0x2008, 1, 512));
  ASSERT_TRUE(ReadBlocks(ctx, 0x2000, 16, false));
  EXPECT_EQ(CheckStampedBlocks(ctx, 0x2000, 16), "");
}

TEST(SimMediaFaults, WriteAnsweredNotReadyInProgressAGivenNumberOfTimes) {
  SimFixture sim(1);  // behind the USB bridge
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  addFault(sim, 1, Fault{.kind = FaultKind::Fail, .opcode = 0x2A, .count = 2, .senseKey = 0x02, .asc = 0x04, .ascq = 0x08});
  StampBlocks(4, 0x300, ctx.SectorBuffer.data());
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(WriteBlocks(ctx, 0x300, 4, 512)) << i;
    EXPECT_EQ(lastSenseKey(ctx), 0x02);
    EXPECT_EQ(lastSenseAsc(ctx), 0x04);
    EXPECT_EQ(ctx.LastSense[13], 0x08);
    EXPECT_TRUE(ReadBlocks(ctx, 0x300, 1, false)) << "reads are served meanwhile";
    StampBlocks(4, 0x300, ctx.SectorBuffer.data());
  }
  EXPECT_TRUE(WriteBlocks(ctx, 0x300, 4, 512));
}

TEST(SimMediaFaults, RandomReadsCostMoreAndVaryWithTheirLba) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  std::string error;
  ASSERT_TRUE(sim.bay->setLatency(0, sim::LatencyModel{100, 0, 2000, 3000}, error)) << error;
  auto readMs = [&](uint32_t lba) {
    auto before = sim.clock.totalSlept();
    EXPECT_TRUE(ReadBlocks(ctx, lba, 8, false));
    return (sim.clock.totalSlept() - before).count();
  };
  ASSERT_TRUE(ReadBlocks(ctx, 0x10000, 8, false));
  // A read that continues the last one pays neither the lookup nor the jitter's
  // floor: command time plus its LBA's share of the jitter.
  std::set<long> seen;
  for (uint32_t lba : {0x10008u, 0x10010u, 0x10018u}) {
    long ms = readMs(lba);
    EXPECT_LE(ms, 3) << std::hex << lba;
  }
  for (uint32_t lba : {0x500u, 0x90000u, 0x1234u, 0x777000u, 0x42u, 0x31337u}) {
    long ms = readMs(lba);
    EXPECT_GE(ms, 2) << std::hex << lba;
    EXPECT_LE(ms, 5) << std::hex << lba;
    seen.insert(ms);
  }
  EXPECT_GT(seen.size(), 1u) << "random reads do not all take the same time";
  EXPECT_EQ(readMs(0x500), readMs(0x500) ) << "the same LBA, read again at random, costs the same";
}

}  // namespace
}  // namespace zorv
