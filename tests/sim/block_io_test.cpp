#include <gtest/gtest.h>

#include <cstring>

#include "sim/sim_port.h"
#include "sim_test_util.h"

namespace zorv {
namespace {

using test::SimFixture;

uint64_t capacityOf(SimFixture& sim, int slot) {
  return sim.bay->controller(slot)->withDrive([](sim::SimDrive& d) { return d.capacity(); });
}

TEST(SimBlockIo, UnwrittenSectorsReadAsZerosUpToTheLastLba) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  uint32_t last = static_cast<uint32_t>(capacityOf(sim, 0) - 1);
  for (uint32_t lba : {0u, 12345678u, last - 7}) {
    ASSERT_TRUE(ReadBlocks(ctx, lba, 8, false)) << lba;
    for (size_t i = 0; i < 8 * 512; ++i) ASSERT_EQ(ctx.SectorBuffer[i], 0) << lba << " byte " << i;
    EXPECT_EQ(ctx.scsiRequest.bytesTransferred, 8u * 512);
  }
}

// Every way of writing, read back by every way of reading, on both buses.
enum class Way { Write10, Write12, WriteDmaExt, Read10, ReadDmaExt };

bool transfer(Context& ctx, Way way, uint32_t lba, uint16_t count) {
  AtaTaskFile tf;
  switch (way) {
    case Way::Write10: return WriteBlocks(ctx, lba, count, 512);
    case Way::Write12: return WriteBlocks12(ctx, count, lba, false);
    case Way::Read10: return ReadBlocks(ctx, lba, count, false);
    case Way::WriteDmaExt:
      tf = test::dmaExt(true, lba, count);
      return SendAtaCommand(ctx, true, tf, true, count * 512u);
    case Way::ReadDmaExt:
      tf = test::dmaExt(false, lba, count);
      return SendAtaCommand(ctx, false, tf, true, count * 512u);
  }
  return false;
}

TEST(SimBlockIo, WhatIsWrittenOneWayReadsBackEveryWayOnBothBuses) {
  for (int slot : {0, 1}) {
    SimFixture sim(slot);
    ASSERT_TRUE(sim.ok()) << sim.error;
    Context& ctx = sim.ctx();
    uint32_t seed = 1;
    for (Way writer : {Way::Write10, Way::Write12, Way::WriteDmaExt}) {
      for (Way reader : {Way::Read10, Way::ReadDmaExt}) {
        uint32_t lba = 1000 + seed * 64;
        test::fillPattern(ctx, 16 * 512, seed);
        ASSERT_TRUE(transfer(ctx, writer, lba, 16)) << "slot " << slot << " writer " << int(writer);
        std::memset(ctx.SectorBuffer.data(), 0, 16 * 512);
        ASSERT_TRUE(transfer(ctx, reader, lba, 16)) << "slot " << slot << " reader " << int(reader);
        EXPECT_TRUE(test::hasPattern(ctx, 16 * 512, seed)) << "slot " << slot << " " << int(writer) << "->" << int(reader);
        ++seed;
      }
    }
    // Neighbours of a write stay unwritten.
    ASSERT_TRUE(ReadBlocks(ctx, 1000 + 64 - 1, 1, false));
    for (size_t i = 0; i < 512; ++i) ASSERT_EQ(ctx.SectorBuffer[i], 0);
  }
}

TEST(SimBlockIo, OutOfRangeLbaFailsWithSenseAndAtaStatus) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  uint64_t capacity = capacityOf(sim, 0);

  // The last sector reads; one more does not.
  EXPECT_TRUE(ReadBlocks(ctx, static_cast<uint32_t>(capacity - 1), 1, false));
  EXPECT_FALSE(ReadBlocks(ctx, static_cast<uint32_t>(capacity - 1), 2, false));
  EXPECT_EQ(ctx.LastSense[0], 0x70);
  EXPECT_EQ(lastSenseKey(ctx), 0x05);
  EXPECT_EQ(lastSenseAsc(ctx), 0x21);
  test::fillPattern(ctx, 512, 9);
  EXPECT_FALSE(WriteBlocks(ctx, static_cast<uint32_t>(capacity), 1, 512));
  EXPECT_EQ(lastSenseAsc(ctx), 0x21);

  // ATA path: IDNF, and the failing LBA comes back in the registers.
  sim.pane.take();
  AtaTaskFile tf = test::dmaExt(false, capacity, 1);
  EXPECT_FALSE(SendAtaCommand(ctx, false, tf, true, 512));
  EXPECT_EQ(sim.pane.take(), "ATA Command Error, Status = 0x51\n");
  AtaPassThroughRequest req = buildAtaPassThrough(test::dmaExt(false, capacity, 1), false, true, 512);
  req.dataBuffer = ctx.SectorBuffer.data();
  ASSERT_TRUE(sim.port->ataPassThrough("sim:0", req).ok());
  EXPECT_EQ(req.currentTaskFile[6], 0x51);
  EXPECT_EQ(req.currentTaskFile[0], 0x10) << "IDNF";

  // USB path: the bridge turns IDNF into ILLEGAL REQUEST / LBA OUT OF RANGE.
  ASSERT_TRUE(sim.select(1));
  uint64_t usbCapacity = capacityOf(sim, 1);
  tf = test::dmaExt(false, usbCapacity, 1);
  EXPECT_FALSE(SendAtaCommand(ctx, false, tf, false, 512));
  EXPECT_EQ(lastSenseKey(ctx), 0x05);
  EXPECT_EQ(lastSenseAsc(ctx), 0x21);
  EXPECT_EQ(ctx.LastSense[3], 0x10) << "ATA error register in the INFORMATION field";
  EXPECT_EQ(ctx.LastSense[4], 0x51) << "ATA status";
}

TEST(SimBlockIo, UnsupportedOpcodesAreRefusedOnEveryPath) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();

  // SCSI: INVALID COMMAND OPERATION CODE.
  ctx.CmdBlock.clear();
  ctx.CmdBlock.bytes()[0] = 0x5A;  // MODE SENSE(10): not answered
  EXPECT_FALSE(SendCdb(ctx));
  EXPECT_EQ(lastSenseKey(ctx), 0x05);
  EXPECT_EQ(lastSenseAsc(ctx), 0x20);

  // ATA: ERR with ABRT.
  AtaPassThroughRequest req = buildAtaPassThrough(AtaTaskFile{.ucCommand = 0x61}, false, false, 0);
  ASSERT_TRUE(sim.port->ataPassThrough("sim:0", req).ok());
  EXPECT_EQ(req.currentTaskFile[6], 0x51);
  EXPECT_EQ(req.currentTaskFile[0], 0x04);

  // A USB drive takes no ATA pass-through request at all; a missing drive
  // takes nothing.
  EXPECT_EQ(sim.port->ataPassThrough("sim:1", req).error, IoError::NotSupported);
  EXPECT_EQ(sim.port->ataPassThrough("sim:5", req).error, IoError::NoDevice);
  EXPECT_EQ(sim.port->scsiPassThrough("/dev/sda", ctx.scsiRequest).error, IoError::NoDevice);
}

TEST(SimBlockIo, TransfersLargerThanTheHostBufferAreRefused) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  // A READ(10) of 4096 blocks with only 1 MiB of host buffer behind it.
  ScsiRequest r;
  r.cdbLength = 10;
  r.dataIn = kScsiDataIn;
  r.dataTransferLength = 1 << 20;
  r.dataBuffer = ctx.SectorBuffer.data();
  r.cdb = {0x28, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0};
  ASSERT_TRUE(sim.port->scsiPassThrough("sim:0", r).ok());
  EXPECT_EQ(r.scsiStatus, 0x02);
  EXPECT_EQ(r.sense[2] & 0x0F, 0x05);
  EXPECT_EQ(r.sense[12], 0x24);
  // ATA: a DMA read of 8 sectors into a 512-byte buffer is aborted.
  AtaTaskFile tf = test::dmaExt(false, 0, 8);
  EXPECT_FALSE(SendAtaCommand(ctx, false, tf, true, 512));
}

TEST(SimSense, RequestSenseReturnsFixedFormatOfThePresentCondition) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  ASSERT_TRUE(RequestSense(ctx));
  EXPECT_EQ(ctx.scsiRequest.bytesTransferred, 18u);
  EXPECT_EQ(ctx.SectorBuffer[0], 0x70);
  EXPECT_EQ(ctx.SectorBuffer[7], 10) << "additional sense length";
  EXPECT_EQ(ctx.SectorBuffer[2] & 0x0F, 0x00) << "NO SENSE while ready";

  sim.bay->controller(0)->withDrive([](sim::SimDrive& d) { d.beginNotReady(std::chrono::seconds(2)); });
  EXPECT_FALSE(TestUnitReady(ctx));
  EXPECT_EQ(lastSenseKey(ctx), 0x02);
  EXPECT_EQ(lastSenseAsc(ctx), 0x04);
  ASSERT_TRUE(RequestSense(ctx)) << "answered while not ready";
  EXPECT_EQ(ctx.SectorBuffer[2] & 0x0F, 0x02);
  EXPECT_EQ(ctx.SectorBuffer[12], 0x04);
  EXPECT_EQ(ctx.SectorBuffer[13], 0x01);
  EXPECT_FALSE(test::sendIdentify(ctx)) << "a restarting drive takes no ATA command";

  sim.clock.advance(std::chrono::seconds(2));
  EXPECT_TRUE(TestUnitReady(ctx));
  EXPECT_TRUE(test::sendIdentify(ctx));
}

TEST(SimSense, WaitReadyFollowsARestartOnTheManualClock) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  sim.bay->controller(0)->withDrive([](sim::SimDrive& d) { d.beginNotReady(std::chrono::milliseconds(3200)); });
  EXPECT_TRUE(WaitReady(ctx));
  EXPECT_GE(sim.clock.totalSlept(), std::chrono::milliseconds(3200));
  EXPECT_LT(sim.clock.totalSlept(), std::chrono::milliseconds(4000));

  sim.bay->controller(0)->withDrive([](sim::SimDrive& d) { d.beginNotReady(std::chrono::seconds(60)); });
  EXPECT_FALSE(WaitReady(ctx));
  EXPECT_NE(sim.pane.text().find("Over 20 Seconds"), std::string::npos);
}

TEST(SimBuffer, WriteBufferThenReadBufferReturnsTheSameSectorOnEveryPath) {
  for (int slot : {0, 1}) {
    SimFixture sim(slot);
    ASSERT_TRUE(sim.ok()) << sim.error;
    Context& ctx = sim.ctx();
    test::fillPattern(ctx, 512, 40 + slot);
    AtaTaskFile wb{.ucCount = 1, .ucCommand = 0xE8};
    ASSERT_TRUE(SendAtaCommand(ctx, true, wb, false, 512));
    std::memset(ctx.SectorBuffer.data(), 0, 512);
    AtaTaskFile rb{.ucCount = 1, .ucCommand = 0xE4};
    ASSERT_TRUE(SendAtaCommand(ctx, false, rb, false, 512));
    EXPECT_TRUE(test::hasPattern(ctx, 512, 40 + slot)) << slot;

    // The SCSI READ BUFFER (data mode, offset 256) sees the same buffer.
    ScsiRequest& r = ctx.scsiRequest;
    r.clear();
    r.cdbLength = 10;
    r.dataIn = kScsiDataIn;
    r.dataTransferLength = 256;
    r.dataBuffer = ctx.SectorBuffer.data() + 1024;
    r.cdb = {0x3C, 0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00};
    ASSERT_TRUE(SendScsiCommand(ctx, true, kNoSlot));
    EXPECT_EQ(r.bytesTransferred, 256u);
    EXPECT_EQ(std::memcmp(ctx.SectorBuffer.data() + 1024, ctx.SectorBuffer.data() + 256, 256), 0);
  }
}

TEST(SimBuffer, PowerCycleEmptiesTheBuffer) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  test::fillPattern(ctx, 512, 3);
  AtaTaskFile wb{.ucCount = 1, .ucCommand = 0xE8};
  ASSERT_TRUE(SendAtaCommand(ctx, true, wb, false, 512));
  std::string error;
  ASSERT_TRUE(sim.bay->powerCycle(0, error)) << error;
  AtaTaskFile rb{.ucCount = 1, .ucCommand = 0xE4};
  ASSERT_TRUE(SendAtaCommand(ctx, false, rb, false, 512));
  for (size_t i = 0; i < 512; ++i) ASSERT_EQ(ctx.SectorBuffer[i], 0);
}

}  // namespace
}  // namespace zorv
