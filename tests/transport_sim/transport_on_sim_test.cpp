// The transport against the simulated bay: the same commands on the SATA
// drive (register image) and the USB drive (SAT CDB through the bridge).

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/sim_fixture.h"
#include "transport/ata_command.h"
#include "transport/block_stamp.h"
#include "transport/ncq_queue.h"
#include "transport/scsi_command.h"

namespace zorv {
namespace {

constexpr int kSataSlot = 0;
constexpr int kUsbSlot = 1;

AtaTaskFile identifyCommand() {
  AtaTaskFile tf;
  tf.ucCommand = 0xEC;
  tf.ucCount = 1;
  tf.ucDevice = 0x40;
  return tf;
}

std::vector<uint8_t> identifyOn(test::SimFixture& sim, int slot) {
  EXPECT_TRUE(sim.select(slot));
  AtaTaskFile tf = identifyCommand();
  EXPECT_TRUE(SendAtaCommand(sim.ctx(), false, tf, false, 512));
  return {sim.ctx().SectorBuffer.data(), sim.ctx().SectorBuffer.data() + 512};
}

TEST(TransportOnSim, IdentifyOnBothPathsReturnsTheDrivesData) {
  test::SimFixture sim;
  ASSERT_TRUE(sim.ok()) << sim.error;
  for (int slot : {kSataSlot, kUsbSlot}) {
    std::vector<uint8_t> id = identifyOn(sim, slot);
    EXPECT_EQ(id[510], 0xA5) << "integrity signature, slot " << slot;
    uint8_t sum = 0;
    for (uint8_t b : id) sum = static_cast<uint8_t>(sum + b);
    EXPECT_EQ(sum, 0) << "integrity checksum, slot " << slot;
    // Model words 27-46 byte-swapped start with the brand.
    std::string model;
    for (int i = 54; i < 62; i += 2) {
      model += static_cast<char>(id[static_cast<size_t>(i) + 1]);
      model += static_cast<char>(id[static_cast<size_t>(i)]);
    }
    EXPECT_EQ(model, "ORBENNE ") << slot;
    EXPECT_EQ(sim.ctx().SectorBuffer[512], 0x00) << "nothing beyond the transfer is touched";
  }
}

TEST(TransportOnSim, WriteThenReadBackOnBothPaths) {
  test::SimFixture sim;
  ASSERT_TRUE(sim.ok()) << sim.error;
  for (int slot : {kSataSlot, kUsbSlot}) {
    ASSERT_TRUE(sim.select(slot));
    Context& ctx = sim.ctx();
    uint32_t lba = 0x1000u + static_cast<uint32_t>(slot) * 0x100;
    StampBlocks(16, lba, ctx.SectorBuffer.data());
    ASSERT_TRUE(WriteBlocks(ctx, lba, 16, 512)) << slot;
    std::memset(ctx.SectorBuffer.data(), 0, 16 * 512);
    ctx.fgReadVerify = 1;
    ASSERT_TRUE(ReadBlocks(ctx, lba, 16, false)) << slot;
    EXPECT_EQ(CheckStampedBlocks(ctx, lba, 16), "");
    ctx.fgReadVerify = 0;
  }
}

TEST(TransportOnSim, ReadDmaExtThroughTheUsbBridgeAtTheSectorLimit) {
  test::SimFixture sim(kUsbSlot);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  StampBlocks(0x80, 0, ctx.SectorBuffer.data());
  ASSERT_TRUE(WriteBlocks(ctx, 0, 0x80, 512));
  std::memset(ctx.SectorBuffer.data(), 0, 0x80 * 512);
  AtaTaskFile tf;
  tf.ucCommand = 0x25;
  tf.ucCount = 0x80;
  tf.ucDevice = 0x40;
  ASSERT_TRUE(SendAtaCommand(ctx, false, tf, true, 0x80 * 512));
  EXPECT_EQ(CheckStampedBlocks(ctx, 0, 0x80), "");
  tf.ucCount = 0x81;
  EXPECT_FALSE(SendAtaCommand(ctx, false, tf, true, 0x81 * 512));
  ASSERT_EQ(sim.ui.boxes.size(), 1u);
  EXPECT_EQ(sim.ui.boxes[0].text, "USB Sector Length Over 0x80, Exit");
}

TEST(TransportOnSim, ErrorsComeBackAsTheDriveReportsThem) {
  test::SimFixture sim;
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  uint64_t capacity = ctx.selectedDrive().sectorCount();
  // Out of range READ(10): ILLEGAL REQUEST, LBA OUT OF RANGE.
  ASSERT_LT(capacity, 0xFFFFFFFFull);
  EXPECT_FALSE(ReadBlocks(ctx, static_cast<uint32_t>(capacity), 1, false));
  EXPECT_EQ(lastSenseKey(ctx), 0x05);
  EXPECT_EQ(lastSenseAsc(ctx), 0x21);
  // An opcode the drive does not know: ATA ERR with ABRT.
  AtaTaskFile tf;
  tf.ucCommand = 0x01;
  EXPECT_FALSE(SendAtaCommand(ctx, false, tf, false, 0));
  EXPECT_NE(sim.pane.text().find("ATA Command Error, Status = 0x51"), std::string::npos) << sim.pane.text();
  // A foreign drive is no family drive: with fgFamilyDrive 0 writes are refused.
  ctx.fgFamilyDrive = 0;
  EXPECT_FALSE(WriteBlocks(ctx, 0, 1, 512));
}

TEST(TransportOnSim, WaitReadyWaitsOutANotReadyPeriod) {
  test::SimFixture sim;
  ASSERT_TRUE(sim.ok()) << sim.error;
  sim::Fault fault;
  fault.kind = sim::FaultKind::NotReady;
  fault.ms = 3000;
  ASSERT_TRUE(sim.bay->addFault(kSataSlot, fault, sim.error)) << sim.error;
  EXPECT_TRUE(WaitReady(sim.ctx()));
  EXPECT_GE(sim.clock.totalSlept(), std::chrono::milliseconds(3000));
  EXPECT_LE(sim.clock.totalSlept(), std::chrono::milliseconds(3500));

  fault.ms = 60000;
  ASSERT_TRUE(sim.bay->addFault(kSataSlot, fault, sim.error)) << sim.error;
  sim.pane.clear();
  EXPECT_FALSE(WaitReady(sim.ctx()));
  EXPECT_EQ(sim.pane.text(), "Over 20 Seconds\n");
}

TEST(TransportOnSim, SixteenQueuedWritesAndReadsOverlap) {
  test::SimFixture sim;
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  ASSERT_TRUE(InitQueue(ctx));
  constexpr uint32_t kBlocks = 64;
  for (uint32_t i = 0; i < 64; ++i) {
    int slot = AcquireSlot(ctx);
    ASSERT_TRUE(QueueWrite(ctx, slot, 0x2000 + i * kBlocks, kBlocks));
  }
  std::vector<bool> seen(64, false);
  for (uint32_t i = 0; i < 64 + kQueueSlots; ++i) {
    int slot = AcquireSlot(ctx);
    NcqSlot& s = ctx.slots[static_cast<size_t>(slot)];
    if (s.request.cdb[0] == 0x28 && s.bytesTransferred == kBlocks * 512) {
      EXPECT_TRUE(s.completedOk);
      EXPECT_EQ(CheckStampedBlocks(ctx, s.buffer.data(), s.lba, kBlocks), "") << std::hex << s.lba;
      seen[(s.lba - 0x2000) / kBlocks] = true;
    }
    if (i < 64) {
      ASSERT_TRUE(QueueRead(ctx, slot, 0x2000 + i * kBlocks, kBlocks));
    }
  }
  CloseQueue(ctx);
  for (uint32_t i = 0; i < 64; ++i) EXPECT_TRUE(seen[i]) << i;
}

}  // namespace
}  // namespace zorv
