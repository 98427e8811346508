#include <gtest/gtest.h>

#include <cstring>

#include "sim_test_util.h"

namespace zorv {
namespace {

using sim::Fault;
using sim::FaultKind;
using test::SimFixture;

void addFault(SimFixture& sim, int slot, Fault f) {
  std::string error;
  ASSERT_TRUE(sim.bay->addFault(slot, f, error)) << error;
}

TEST(SimFaults, FailTheNextCommandsOfOneOpcodeWithTheGivenSense) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  addFault(sim, 0, Fault{.kind = FaultKind::Fail, .opcode = 0x28, .count = 2, .senseKey = 0x04, .asc = 0x44, .ascq = 0x00});
  EXPECT_TRUE(TestUnitReady(ctx)) << "another opcode is not touched";
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(ReadBlocks(ctx, 0, 1, false)) << i;
    EXPECT_EQ(lastSenseKey(ctx), 0x04);
    EXPECT_EQ(lastSenseAsc(ctx), 0x44);
  }
  EXPECT_TRUE(ReadBlocks(ctx, 0, 1, false)) << "used up after two";
}

TEST(SimFaults, FailAnyCommandOnTheAtaPathWithStatusAndError) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  addFault(sim, 0, Fault{.kind = FaultKind::Fail, .count = 1, .ataStatus = 0x71, .ataError = 0x40});
  sim.pane.take();
  EXPECT_FALSE(test::sendIdentify(ctx));
  EXPECT_EQ(sim.pane.take(), "ATA Command Error, Status = 0x71\n");
  EXPECT_TRUE(test::sendIdentify(ctx));

  // Behind the bridge the same ATA failure becomes sense data.
  ASSERT_TRUE(sim.select(1));
  addFault(sim, 1, Fault{.kind = FaultKind::Fail, .opcode = 0xEC, .ataStatus = 0x51, .ataError = 0x04});
  EXPECT_FALSE(test::sendIdentify(ctx));
  EXPECT_EQ(lastSenseKey(ctx), 0x0B) << "ABORTED COMMAND";
  EXPECT_EQ(ctx.LastSense[3], 0x04);
  EXPECT_EQ(ctx.LastSense[4], 0x51);
  EXPECT_TRUE(test::sendIdentify(ctx));
}

TEST(SimFaults, TimeOutSpendsTheRequestsTimeOutOnTheClock) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  addFault(sim, 0, Fault{.kind = FaultKind::Timeout, .opcode = 0xEC});
  EXPECT_FALSE(test::sendIdentify(ctx));
  EXPECT_EQ(sim.clock.totalSlept(), std::chrono::seconds(ctx.usTimeoutMid));
  EXPECT_TRUE(test::sendIdentify(ctx));

  addFault(sim, 0, Fault{.kind = FaultKind::Timeout, .waitMs = 1500});
  EXPECT_FALSE(ReadBlocks(ctx, 0, 1, false));
  EXPECT_EQ(sim.clock.totalSlept(), std::chrono::seconds(ctx.usTimeoutMid) + std::chrono::milliseconds(1500));
}

TEST(SimFaults, ShortDataLeavesTheRestOfTheBufferAsTheHostPutIt) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  test::fillPattern(ctx, 8 * 512, 5);
  ASSERT_TRUE(WriteBlocks(ctx, 100, 8, 512));
  addFault(sim, 0, Fault{.kind = FaultKind::Short, .opcode = 0x28, .bytes = 1024});
  std::memset(ctx.SectorBuffer.data(), 0, 8 * 512);
  EXPECT_FALSE(ReadBlocks(ctx, 100, 8, false)) << "a short read has failed";
  EXPECT_EQ(ctx.scsiRequest.bytesTransferred, 1024u);
  EXPECT_TRUE(test::hasPattern(ctx, 1024, 5));
  EXPECT_EQ(ctx.SectorBuffer[1024], 0xFF) << "the transport's pre-fill";
  EXPECT_EQ(ctx.SectorBuffer[8 * 512 - 1], 0xFF);
  ASSERT_TRUE(ReadBlocks(ctx, 100, 8, false));
  EXPECT_EQ(ctx.scsiRequest.bytesTransferred, 8u * 512);

  // IDENTIFY cut short, on the ATA path and behind the bridge.
  for (int slot : {0, 1}) {
    ASSERT_TRUE(sim.select(slot));
    addFault(sim, slot, Fault{.kind = FaultKind::Short, .opcode = 0xEC, .bytes = 256});
    EXPECT_FALSE(test::sendIdentify(ctx)) << slot;
    EXPECT_EQ(test::ataString(ctx, 27, 20).substr(0, 7), "ORBENNE") << "the first 256 bytes arrived";
    for (size_t i = 256; i < 512; ++i) ASSERT_EQ(ctx.SectorBuffer[i], 0xFF) << "slot " << slot << " byte " << i;
  }
}

TEST(SimFaults, CorruptRangeDamagesReadsUntilCleared) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  test::fillPattern(ctx, 16 * 512, 6);
  ASSERT_TRUE(WriteBlocks(ctx, 2000, 16, 512));
  addFault(sim, 0, Fault{.kind = FaultKind::Corrupt, .lba = 2004, .blocks = 2});
  for (int pass = 0; pass < 2; ++pass) {  // lasting, not used up
    ASSERT_TRUE(ReadBlocks(ctx, 2000, 16, false));
    std::vector<uint8_t> got(ctx.SectorBuffer.data(), ctx.SectorBuffer.data() + 16 * 512);
    test::fillPattern(ctx, 16 * 512, 6);
    for (size_t s = 0; s < 16; ++s) {
      bool same = std::memcmp(got.data() + s * 512, ctx.SectorBuffer.data() + s * 512, 512) == 0;
      EXPECT_EQ(same, s != 4 && s != 5) << "sector " << 2000 + s;
    }
  }
  // The DMA path reads the same damage.
  AtaTaskFile tf = test::dmaExt(false, 2005, 1);
  ASSERT_TRUE(SendAtaCommand(ctx, false, tf, true, 512));
  std::vector<uint8_t> dma(ctx.SectorBuffer.data(), ctx.SectorBuffer.data() + 512);
  test::fillPattern(ctx, 16 * 512, 6);
  EXPECT_NE(std::memcmp(dma.data(), ctx.SectorBuffer.data() + 5 * 512, 512), 0);

  std::string error;
  ASSERT_TRUE(sim.bay->clearFaults(0, error)) << error;
  ASSERT_TRUE(ReadBlocks(ctx, 2000, 16, false));
  EXPECT_TRUE(test::hasPattern(ctx, 16 * 512, 6));
}

TEST(SimFaults, NotReadyForAPeriodOrForCommands) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  addFault(sim, 0, Fault{.kind = FaultKind::NotReady, .ms = 5000});
  sim.clock.advance(std::chrono::seconds(30));  // the period starts with the first command, not when set
  EXPECT_FALSE(TestUnitReady(ctx));
  EXPECT_EQ(lastSenseKey(ctx), 0x02);
  EXPECT_EQ(lastSenseAsc(ctx), 0x04);
  sim.clock.advance(std::chrono::milliseconds(4999));
  EXPECT_FALSE(ReadBlocks(ctx, 0, 1, false));
  EXPECT_EQ(lastSenseKey(ctx), 0x02);
  sim.clock.advance(std::chrono::milliseconds(1));
  EXPECT_TRUE(TestUnitReady(ctx));

  addFault(sim, 0, Fault{.kind = FaultKind::NotReady, .count = 2});
  EXPECT_FALSE(TestUnitReady(ctx));
  EXPECT_TRUE(RequestSense(ctx)) << "REQUEST SENSE is answered and does not count";
  EXPECT_EQ(ctx.SectorBuffer[2] & 0x0F, 0x02);
  EXPECT_FALSE(TestUnitReady(ctx));
  EXPECT_TRUE(TestUnitReady(ctx));
}

TEST(SimFaults, TemperatureAndFaultsSetByAnotherProcessReachTheRunningDrive) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  EXPECT_TRUE(ReadBlocks(ctx, 0, 1, false));
  std::string error;
  auto other = sim::SimBay::open(sim.dir.path(), error);  // as zorvctl sim fault would
  ASSERT_TRUE(other) << error;
  ASSERT_TRUE(other->addFault(0, Fault{.kind = FaultKind::Fail, .opcode = 0x28}, error)) << error;
  ASSERT_TRUE(other->setTemperature(0, 71, error)) << error;
  EXPECT_FALSE(ReadBlocks(ctx, 0, 1, false));
  EXPECT_EQ(lastSenseKey(ctx), 0x03) << "the default: MEDIUM ERROR";
  EXPECT_EQ(lastSenseAsc(ctx), 0x11);
  EXPECT_EQ(sim.bay->controller(0)->withDrive([](sim::SimDrive& d) { return d.temperature(); }), 71);
  // Used up here, so gone for the other process too.
  sim::BayRecord record;
  ASSERT_TRUE(other->snapshot(record, error));
  EXPECT_TRUE(record.slots[0].drive->faults.empty());
  EXPECT_EQ(record.slots[0].drive->temperature, 71);
}

TEST(SimFaults, BadFaultsAreRefused) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::string error;
  EXPECT_FALSE(sim.bay->addFault(0, Fault{.kind = FaultKind::Fail, .count = 0}, error));
  EXPECT_FALSE(sim.bay->addFault(0, Fault{.kind = FaultKind::Fail, .opcode = 300}, error));
  EXPECT_FALSE(sim.bay->addFault(0, Fault{.kind = FaultKind::Corrupt, .lba = 1ull << 40}, error));
  EXPECT_FALSE(sim.bay->addFault(5, Fault{}, error)) << "empty slot";
  EXPECT_FALSE(sim.bay->addFault(9, Fault{}, error));
  EXPECT_FALSE(sim.bay->setTemperature(0, 900, error));
}

}  // namespace
}  // namespace zorv
