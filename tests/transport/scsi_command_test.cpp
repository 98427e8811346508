#include <gtest/gtest.h>

#include <cstring>

#include "support/test_support.h"
#include "transport/ata_command.h"
#include "transport/block_stamp.h"
#include "transport/scsi_command.h"

namespace zorv {
namespace {

using test::RecordingPort;
using test::TestContext;

using Cdb12 = std::array<uint8_t, 12>;

Cdb12 first12(const ScsiRequest& r) {
  Cdb12 out{};
  std::memcpy(out.data(), r.cdb.data(), 12);
  return out;
}

TEST(BlockPrimitives, CdbsDirectionsAndLengths) {
  RecordingPort port;
  TestContext t(port);
  Context& ctx = t.ctx;

  ASSERT_TRUE(ReadBlocks(ctx, 0x12345678, 8, false));
  ASSERT_TRUE(ReadBlocks(ctx, 0x12345678, 8, true));
  ASSERT_TRUE(WriteBlocks(ctx, 0x01020304, 0x0102, 512));
  ASSERT_TRUE(WriteBlocks12(ctx, 0x10, 0xA0B0C0D0, true));
  ASSERT_TRUE(RequestSense(ctx));
  ASSERT_TRUE(TestUnitReady(ctx));
  ctx.CmdBlock.clear();
  ctx.CmdBlock.bytes()[0] = 0x12;
  ctx.CmdBlock.bytes()[4] = 0x24;
  ASSERT_TRUE(SendCdb(ctx));

  struct Expected {
    Cdb12 cdb;
    uint8_t dataIn;
    uint32_t length;
    uint32_t timeout;
  } expected[] = {
      {{0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 8, 0, 0, 0}, kScsiDataIn, 4096, 7},
      {{0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 8, 0, 0x74, 0x47}, kScsiDataIn, 4096, 7},
      {{0x2A, 0, 0x01, 0x02, 0x03, 0x04, 0, 0x01, 0x02, 0, 0, 0}, kScsiDataOut, 0x102 * 512, 255},
      {{0xAA, 0, 0xA0, 0xB0, 0xC0, 0xD0, 0, 0, 0, 0x10, 0x80, 0}, kScsiDataOut, 0x10 * 512, 255},
      {{0x03, 0, 0, 0, 0x12, 0, 0, 0, 0, 0, 0, 0}, kScsiDataIn, 18, 7},
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kScsiDataOut, 0, 7},
      {{0x12, 0, 0, 0, 0x24, 0, 0, 0, 0, 0, 0, 0}, kScsiDataIn, 256, 7},
  };
  ASSERT_EQ(port.scsiRequests.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const ScsiRequest& r = port.scsiRequests[i];
    EXPECT_EQ(first12(r), expected[i].cdb) << i;
    EXPECT_EQ(r.cdbLength, 12) << i;
    EXPECT_EQ(r.senseInfoLength, 18) << i;
    EXPECT_EQ(r.dataIn, expected[i].dataIn) << i;
    EXPECT_EQ(r.dataTransferLength, expected[i].length) << i;
    EXPECT_EQ(r.timeOutValue, expected[i].timeout) << i;
  }
}

TEST(BlockPrimitives, CdbTagSwitchMarksWrites) {
  RecordingPort port;
  TestContext t(port);
  t.ctx.fgCdbTag = 1;
  ASSERT_TRUE(WriteBlocks(t.ctx, 0, 1, 512));
  ASSERT_TRUE(WriteBlocks12(t.ctx, 1, 0, false));
  EXPECT_EQ(port.scsiRequests[0].cdb[10], 0x74);
  EXPECT_EQ(port.scsiRequests[0].cdb[11], 0x47);
  EXPECT_EQ(port.scsiRequests[1].cdb[10], 0x74);  // the tag overrides the streaming byte
  EXPECT_EQ(port.scsiRequests[1].cdb[11], 0x47);
}

TEST(ScsiTimeouts, ChosenByOpcode) {
  RecordingPort port;
  TestContext t(port);
  struct Case {
    uint8_t b0, b1, b2;
    uint32_t timeout;
  } cases[] = {
      {0x04, 0, 0, 255},    {0x2A, 0, 0, 255},    {0x53, 0, 0, 255}, {0xAA, 0, 0, 255},
      {0xFC, 0, 0, 255},    {0x2F, 0, 0, 30},     {0x35, 0, 0, 30},  {0x5B, 0, 0, 30},
      {0xA1, 0, 0, 30},     {0xA6, 0, 0, 30},     {0x1B, 0, 0, 40},  {0x1B, 1, 0, 7},
      {0xF3, 0x0C, 0x05, 255}, {0xF3, 0x0C, 0x04, 7}, {0x85, 0, 0, 7}, {0x28, 0, 0, 7},
  };
  for (const auto& c : cases) {
    uint8_t cdb[16] = {c.b0, c.b1, c.b2};
    EXPECT_EQ(scsiTimeoutFor(t.ctx, cdb), c.timeout) << std::hex << int(c.b0);
  }
  t.ctx.usTimeoutShort = 50;
  uint8_t ssu[16] = {0x1B};
  EXPECT_EQ(scsiTimeoutFor(t.ctx, ssu), 50u);
}

TEST(SendScsiCommand, Refusals) {
  RecordingPort port;
  TestContext t(port);
  Context& ctx = t.ctx;

  // Vendor CDB while vendor CDBs are disabled: silent.
  ctx.fgVendorCdbEnable = 0;
  ctx.CmdBlock.clear();
  ctx.CmdBlock.bytes()[0] = 0xF3;
  EXPECT_FALSE(SendCdb(ctx));
  EXPECT_TRUE(t.ui.boxes.empty());

  // Data-out without a family drive: a box with the opcode, nothing sent.
  ctx.fgFamilyDrive = 0;
  EXPECT_FALSE(WriteBlocks(ctx, 0, 1, 512));
  ASSERT_EQ(t.ui.boxes.size(), 1u);
  EXPECT_EQ(t.ui.boxes[0].text, "ATAPI: It's not SSD disk, 2A");
  EXPECT_EQ(t.ui.boxes[0].icon, BoxIcon::Information);
  EXPECT_TRUE(port.scsiRequests.empty());

  // ...but zero-length data-out and reads still go.
  EXPECT_TRUE(TestUnitReady(ctx));
  EXPECT_TRUE(ReadBlocks(ctx, 0, 1, false));
  EXPECT_EQ(port.scsiRequests.size(), 2u);
}

TEST(SendScsiCommand, FailureKeepsSenseAndReadsArePreFilled) {
  RecordingPort port;
  TestContext t(port);
  std::memset(t.ctx.SectorBuffer.data(), 0, 2048);
  port.scsi = [](ScsiRequest& r) {
    std::memset(r.dataBuffer, 0x11, 512);  // the device returns one block of two
    r.scsiStatus = 2;
    r.sense[0] = 0x70;
    r.sense[2] = 0x03;
    r.sense[12] = 0x11;
    return IoOutcome{};
  };
  EXPECT_FALSE(ReadBlocks(t.ctx, 5, 2, false));
  EXPECT_EQ(lastSenseKey(t.ctx), 3);
  EXPECT_EQ(lastSenseAsc(t.ctx), 0x11);
  EXPECT_EQ(t.ctx.SectorBuffer[511], 0x11);
  EXPECT_EQ(t.ctx.SectorBuffer[512], 0xFF);
  EXPECT_EQ(t.ctx.SectorBuffer[1024], 0x00);

  port.scsi = [](ScsiRequest&) { return IoOutcome::failure(IoError::NoDevice); };
  t.ctx.LastSense.fill(0xEE);
  EXPECT_FALSE(TestUnitReady(t.ctx));
  EXPECT_EQ(t.ctx.LastSense[2], 0);  // the cleared request's sense: nothing stale
}

// A data-in transfer that moved less than it asked for has failed, the
// missing bytes keeping their fill; REQUEST SENSE and a typed-in CDB only
// name the most they may return.
TEST(SendScsiCommand, ShortReadFailsUnlessTheLengthIsALimit) {
  RecordingPort port;
  TestContext t(port);
  port.scsi = [](ScsiRequest& r) {
    std::memset(r.dataBuffer, 0x11, 8);
    r.bytesTransferred = 8;
    return IoOutcome{};
  };
  EXPECT_FALSE(ReadBlocks(t.ctx, 5, 2, false));
  EXPECT_EQ(t.ctx.lastOutcome.failure, CommandFailure::ShortTransfer);
  EXPECT_NE(t.pane.text().find("Short Transfer, 8 of 1024 Bytes"), std::string::npos) << t.pane.text();
  EXPECT_EQ(t.ctx.SectorBuffer[7], 0x11);
  EXPECT_EQ(t.ctx.SectorBuffer[8], 0xFF);
  EXPECT_EQ(t.ctx.SectorBuffer[1023], 0xFF);

  EXPECT_TRUE(RequestSense(t.ctx));
  t.ctx.CmdBlock.clear();
  t.ctx.CmdBlock.bytes()[0] = 0x12;
  t.ctx.CmdBlock.bytes()[4] = 0x08;
  EXPECT_TRUE(SendCdb(t.ctx));
  // A write moves no data in: nothing to come back short.
  EXPECT_TRUE(WriteBlocks(t.ctx, 5, 2, 512));
}

// Behind a USB bridge the ATA command's short reply is caught on the SCSI
// side, with the same words.
TEST(SendScsiCommand, ShortAtaReplyBehindUsbFails) {
  RecordingPort port;
  TestContext t(port, kBusUsb);
  port.scsi = [](ScsiRequest& r) {
    r.bytesTransferred = 256;
    return IoOutcome{};
  };
  AtaTaskFile tf = test::identifyTaskFile();
  EXPECT_FALSE(SendAtaCommand(t.ctx, false, tf, false, 512));
  EXPECT_NE(t.pane.text().find("Short Transfer, 256 of 512 Bytes"), std::string::npos) << t.pane.text();
  EXPECT_EQ(t.ctx.SectorBuffer[256], 0xFF);
}

TEST(SendScsiCommand, ReadVerifyChecksStamps) {
  RecordingPort port;
  TestContext t(port);
  t.ctx.fgReadVerify = 1;
  t.ctx.ulCurLba = 0x40;
  bool corrupt = false;
  port.scsi = [&](ScsiRequest& r) {
    uint32_t lba = (uint32_t{r.cdb[2]} << 24) | (uint32_t{r.cdb[3]} << 16) | (uint32_t{r.cdb[4]} << 8) | r.cdb[5];
    StampBlocks(r.dataTransferLength / 512, lba, r.dataBuffer);
    if (corrupt) r.dataBuffer[512 + 100] ^= 1;
    return IoOutcome{};
  };
  EXPECT_TRUE(ReadBlocks(t.ctx, 0x40, 4, false));
  EXPECT_TRUE(t.ui.boxes.empty());
  corrupt = true;
  EXPECT_FALSE(ReadBlocks(t.ctx, 0x40, 4, false));
  ASSERT_EQ(t.ui.boxes.size(), 1u);
  EXPECT_EQ(t.ui.boxes[0].text, "Error LBA 0x      40, Compare Check Sum Error");
  EXPECT_NE(t.pane.text().find("Block 41  Check Sum = "), std::string::npos);
}

TEST(WaitReady, Outcomes) {
  // Each entry answers one TEST UNIT READY: 0 ready, else NOT READY/04.
  struct Case {
    const char* name;
    int notReadyCount;  // TURs that fail with 2/04 before success (-1: never ready)
    uint8_t senseKey;   // sense of the failing TURs
    bool stopAfterFirst;
    bool result;
    const char* pane;
  } cases[] = {
      {"ready at once", 0, 2, false, true, ""},
      {"other sense ends the wait", 1, 6, false, true, ""},
      {"ready after three passes", 3, 2, false, true, ""},
      {"never ready", -1, 2, false, false, "Over 20 Seconds\n"},
      {"stop request", -1, 2, true, false, ""},
  };
  for (const auto& c : cases) {
    RecordingPort port;
    TestContext t(port);
    int turs = 0;
    port.scsi = [&](ScsiRequest& r) {
      if (r.cdb[0] == 0x00) {
        ++turs;
        if (c.stopAfterFirst) t.ctx.fgStopRequest = 1;
        if (c.notReadyCount < 0 || turs <= c.notReadyCount) {
          r.scsiStatus = 2;
          r.sense[0] = 0x70;
          r.sense[2] = c.senseKey;
          r.sense[12] = 0x04;
        }
      }
      return IoOutcome{};
    };
    EXPECT_EQ(WaitReady(t.ctx), c.result) << c.name;
    EXPECT_EQ(t.pane.text(), c.pane) << c.name;
    if (std::string(c.name) == "never ready") {
      EXPECT_EQ(turs, 43) << "the first TUR and 42 passes";
      EXPECT_EQ(t.clock.totalSlept(), std::chrono::milliseconds(42 * 500));
    }
    if (std::string(c.name) == "other sense ends the wait") {
      EXPECT_EQ(turs, 1);
    }
  }
}

TEST(WaitReady, RequestSenseFailureEndsTheWait) {
  RecordingPort port;
  TestContext t(port);
  port.scsi = [](ScsiRequest& r) {
    r.scsiStatus = 2;
    r.sense[2] = 2;
    r.sense[12] = 4;
    return r.cdb[0] == 0x03 ? IoOutcome::failure(IoError::OsFailure) : IoOutcome{};
  };
  EXPECT_FALSE(WaitReady(t.ctx));
  EXPECT_EQ(t.pane.text(), "Request Sense Command Error\n");
}

}  // namespace
}  // namespace zorv
