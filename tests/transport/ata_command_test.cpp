#include <gtest/gtest.h>

#include <cstring>

#include "support/test_support.h"
#include "transport/ata_command.h"

namespace zorv {
namespace {

using test::RecordingPort;
using test::TestContext;

TEST(AtaPassThrough, FlagsByDirectionDmaAnd48Bit) {
  struct Case {
    uint8_t opcode;
    bool out, dma;
    uint16_t flags;
  } cases[] = {
      {0xEC, false, false, 0x03}, {0xE8, true, false, 0x05}, {0xC8, false, true, 0x13},
      {0xCA, true, true, 0x15},   {0x25, false, false, 0x0B}, {0x25, false, true, 0x1B},
      {0x35, true, true, 0x1D},   {0xCE, true, false, 0x0D},
  };
  for (const auto& c : cases) {
    AtaTaskFile tf;
    tf.ucCommand = c.opcode;
    EXPECT_EQ(buildAtaPassThrough(tf, c.out, c.dma, 512).ataFlags, c.flags) << std::hex << int(c.opcode);
  }
}

TEST(AtaPassThrough, TheFortyEightBitFlagGoesWithExactlyTheListedOpcodes) {
  // Row: high nibble of the opcode; column: low nibble. 'X': sent 48-bit.
  const char* const kTable[16] = {
      "......X....X....",  // 0x
      "................",  // 1x
      "....XX...XXX...X",  // 2x
      "....XX...XXX.X.X",  // 3x
      "..X..X.X........",  // 4x
      ".X.....X........",  // 5x
      "XX.XXX..........",  // 6x
      ".......XX.......",  // 7x
      "................",  // 8x
      "................",  // 9x
      "................",  // Ax
      "....X...........",  // Bx
      "..............X.",  // Cx
      "................",  // Dx
      "................",  // Ex
      "................",  // Fx
  };
  for (int op = 0; op < 256; ++op) {
    const bool listed = kTable[op >> 4][op & 0x0F] == 'X';
    AtaTaskFile tf;
    tf.ucCommand = static_cast<uint8_t>(op);
    EXPECT_EQ(isAta48BitOpcode(static_cast<uint8_t>(op)), listed) << std::hex << op;
    EXPECT_EQ((buildAtaPassThrough(tf, false, false, 512).ataFlags & kAtaFlags48Bit) != 0, listed)
        << std::hex << op;
  }
}

TEST(AtaPassThrough, RegisterImagesCarryDataByteAndPreviousHalves) {
  AtaTaskFile tf = test::identifyTaskFile();
  tf.ucDataByte = 0x5A;
  tf.ucFeature = 0x01;
  tf.ucCountExt = 0x02;
  tf.ucLbaLowExt = 0x03;
  tf.ucLbaMidExt = 0x04;
  tf.ucLbaHighExt = 0x05;
  AtaPassThroughRequest r = buildAtaPassThrough(tf, false, false, 512);
  EXPECT_EQ(r.currentTaskFile, (std::array<uint8_t, 8>{0x01, 0x01, 0, 0, 0, 0x40, 0xEC, 0x5A}));
  EXPECT_EQ(r.previousTaskFile, (std::array<uint8_t, 8>{0, 0x02, 0x03, 0x04, 0x05, 0, 0, 0}));
}

class SendAtaCommandTest : public ::testing::Test {
 protected:
  RecordingPort port;
};

TEST_F(SendAtaCommandTest, AtaPathWritesBackLbaAndKeepsOtherBytes) {
  TestContext t(port, kBusSata);
  port.ata = [](AtaPassThroughRequest& r) {
    r.currentTaskFile = {0x00, 0x07, 0x11, 0x22, 0x33, 0xE0, 0x50, 0};
    r.previousTaskFile = {0, 0, 0x44, 0x55, 0x66, 0, 0, 0};
    return IoOutcome{};
  };
  AtaTaskFile tf = test::identifyTaskFile();
  ASSERT_TRUE(SendAtaCommand(t.ctx, false, tf, false, 512));
  EXPECT_EQ(tf.ucLbaLow, 0x11);
  EXPECT_EQ(tf.ucLbaMid, 0x22);
  EXPECT_EQ(tf.ucLbaHigh, 0x33);
  EXPECT_EQ(tf.ucLbaLowExt, 0x44);
  EXPECT_EQ(tf.ucLbaMidExt, 0x55);
  EXPECT_EQ(tf.ucLbaHighExt, 0x66);
  EXPECT_EQ(tf.ucCount, 1);
  EXPECT_EQ(tf.ucDevice, 0x40);
  EXPECT_EQ(tf.ucCommand, 0xEC);
  ASSERT_EQ(port.ataRequests.size(), 1u);
  EXPECT_EQ(port.ataRequests[0].timeOutValue, 30u);
}

// A read that came back short has failed, whatever the status says: the
// bytes not returned keep their 0xFF fill and are no data.
TEST_F(SendAtaCommandTest, ShortReadFailsAndLeavesFFInRequestedRange) {
  TestContext t(port, kBusSata);
  std::memset(t.ctx.SectorBuffer.data(), 0, 1024);
  port.ata = [](AtaPassThroughRequest& r) {
    std::memset(r.dataBuffer, 0x12, 100);
    r.bytesTransferred = 100;
    r.currentTaskFile[6] = 0x50;
    return IoOutcome{};
  };
  AtaTaskFile tf = test::identifyTaskFile();
  EXPECT_FALSE(SendAtaCommand(t.ctx, false, tf, false, 512));
  EXPECT_NE(t.pane.text().find("Short Transfer, 100 of 512 Bytes"), std::string::npos) << t.pane.text();
  EXPECT_EQ(t.ctx.lastOutcome.failure, CommandFailure::ShortTransfer);
  EXPECT_TRUE(t.ctx.lastOutcome.reported);
  EXPECT_EQ(t.ctx.SectorBuffer[99], 0x12);
  EXPECT_EQ(t.ctx.SectorBuffer[100], 0xFF);
  // Where the length is only the most the command may return, the same reply
  // is whole.
  std::memset(t.ctx.SectorBuffer.data(), 0, 1024);
  EXPECT_TRUE(SendAtaCommand(t.ctx, false, tf, false, 512, true));
  EXPECT_EQ(t.ctx.SectorBuffer[99], 0x12);
  EXPECT_EQ(t.ctx.SectorBuffer[100], 0xFF);
  EXPECT_EQ(t.ctx.SectorBuffer[511], 0xFF);
  EXPECT_EQ(t.ctx.SectorBuffer[512], 0x00);
}

TEST_F(SendAtaCommandTest, ErrorStatusIsReportedAndLbaNotWrittenBack) {
  // ERR, and a device fault without ERR: both fail the command.
  for (uint8_t status : {uint8_t{0x51}, uint8_t{0x70}}) {
    TestContext t(port, kBusAta);
    port.ata = [status](AtaPassThroughRequest& r) {
      r.currentTaskFile = {0x04, 0, 0x99, 0x99, 0x99, 0, status, 0};
      return IoOutcome{};
    };
    AtaTaskFile tf = test::identifyTaskFile();
    EXPECT_FALSE(SendAtaCommand(t.ctx, false, tf, false, 512));
    EXPECT_EQ(t.pane.text(), formatText("ATA Command Error, Status = 0x%02X\n", status));
    EXPECT_EQ(tf.ucLbaLow, 0);
  }
}

TEST_F(SendAtaCommandTest, RefusalsSendNothing) {
  {
    TestContext t(port, kBusSata);
    t.ctx.fgFamilyDrive = 0;
    AtaTaskFile tf;
    tf.ucCommand = 0xE8;
    EXPECT_FALSE(SendAtaCommand(t.ctx, true, tf, false, 512));
    EXPECT_EQ(t.pane.text(), "ATA: It's not SSD disk\n");
  }
  for (uint8_t bus : {uint8_t{0}, uint8_t{kBusScsi}, uint8_t{kBusAtapi}, uint8_t{kBusRaid}}) {
    TestContext t(port, bus);
    AtaTaskFile tf = test::identifyTaskFile();
    EXPECT_FALSE(SendAtaCommand(t.ctx, false, tf, false, 512));
    EXPECT_EQ(t.pane.text(), "");
  }
  {
    TestContext t(port, kBusSata);
    t.ctx.ucSelDrive = kNoDrive;
    AtaTaskFile tf = test::identifyTaskFile();
    EXPECT_FALSE(SendAtaCommand(t.ctx, false, tf, false, 512));
  }
  EXPECT_TRUE(port.ataRequests.empty());
  EXPECT_TRUE(port.scsiRequests.empty());
}

TEST_F(SendAtaCommandTest, UsbSectorLimit) {
  struct Case {
    uint8_t opcode, countExt, count;
    bool sent;
  } cases[] = {
      {0x25, 0x00, 0x80, true},  {0x25, 0x00, 0x81, false}, {0x25, 0x01, 0x00, false},
      {0xC8, 0x00, 0x00, false}, {0xCA, 0x00, 0x00, false}, {0x25, 0x00, 0x00, true},
      // A non-data command's count register holds a parameter, not sectors.
      {0xEF, 0x00, 0xFE, true},  {0xEA, 0x12, 0x34, true},
  };
  for (const auto& c : cases) {
    RecordingPort p;
    TestContext t(p, kBusUsb);
    AtaTaskFile tf;
    tf.ucCommand = c.opcode;
    tf.ucCount = c.count;
    tf.ucCountExt = c.countExt;
    EXPECT_EQ(SendAtaCommand(t.ctx, false, tf, true, 0x10000), c.sent);
    EXPECT_EQ(p.scsiRequests.size(), c.sent ? 1u : 0u);
    if (!c.sent) {
      ASSERT_EQ(t.ui.boxes.size(), 1u);
      EXPECT_EQ(t.ui.boxes[0].text, "USB Sector Length Over 0x80, Exit");
      EXPECT_EQ(t.ui.boxes[0].icon, BoxIcon::Stop);
    } else {
      EXPECT_EQ(p.scsiRequests[0].timeOutValue, 7u);
      EXPECT_EQ(p.scsiRequests[0].cdbLength, 16);
      const bool nonData = c.opcode == 0xEF || c.opcode == 0xEA;
      EXPECT_EQ(p.scsiRequests[0].dataTransferLength, nonData ? 0u : uint32_t{c.count} * 512);
    }
  }
}

TEST_F(SendAtaCommandTest, UsbFailureKeepsSense) {
  TestContext t(port, kBusUsb);
  port.scsi = [](ScsiRequest& r) {
    r.scsiStatus = 2;
    r.sense[0] = 0x70;
    r.sense[2] = 0x05;
    r.sense[12] = 0x24;
    return IoOutcome{};
  };
  AtaTaskFile tf = test::identifyTaskFile();
  EXPECT_FALSE(SendAtaCommand(t.ctx, false, tf, false, 512));
  EXPECT_EQ(t.ctx.LastSense[2], 0x05);
  EXPECT_EQ(t.ctx.LastSense[12], 0x24);
}

}  // namespace
}  // namespace zorv
