// Why a command failed is kept beside LastSense, and a transfer larger than
// its buffer is refused before anything is sent.

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "transport/ata_command.h"
#include "transport/scsi_command.h"

namespace zorv {
namespace {

using test::RecordingPort;
using test::TestContext;

// What the system needs for raw access, as this system's permission error says it.
const std::string_view kNoPermission = ioErrorName(IoError::PermissionDenied);

TEST(CommandOutcome, TheReasonOfEachFailureIsKeptAndWorded) {
  struct Case {
    const char* name;
    uint8_t bus;
    std::function<IoOutcome(AtaPassThroughRequest&)> ata;
    std::function<IoOutcome(ScsiRequest&)> scsi;
    CommandFailure failure;
    std::string text;
    std::string pane;  // after PrintFailureCause
  } cases[] = {
      {"no permission", kBusSata,
       [](AtaPassThroughRequest&) {
         return IoOutcome::failure(IoError::PermissionDenied, 1, "SG_IO /dev/sda");
       },
       nullptr, CommandFailure::Io, std::string(kNoPermission) + ": SG_IO /dev/sda",
       "Cause: " + std::string(kNoPermission) + ": SG_IO /dev/sda\n"},
      {"time-out", kBusSata,
       [](AtaPassThroughRequest&) { return IoOutcome::failure(IoError::Timeout, 110, "the drive did not answer"); },
       nullptr, CommandFailure::Io, "time-out: the drive did not answer",
       "Cause: time-out: the drive did not answer\n"},
      {"gone behind USB", kBusUsb, nullptr,
       [](ScsiRequest&) { return IoOutcome::failure(IoError::NoDevice, 19); }, CommandFailure::Io,
       "no device (unplugged? plug it in and scan again)", "Cause: no device (unplugged? plug it in and scan again)\n"},
      {"busy", kBusSata, [](AtaPassThroughRequest&) { return IoOutcome::failure(IoError::Busy, 16); }, nullptr,
       CommandFailure::Io, "device busy (a mounted file system or another program holds it)",
       "Cause: device busy (a mounted file system or another program holds it)\n"},
      {"sense behind USB", kBusUsb, nullptr,
       [](ScsiRequest& r) {
         r.scsiStatus = 2;
         r.sense[2] = 0x04;
         r.sense[12] = 0x44;
         r.sense[13] = 0x00;
         return IoOutcome{};
       },
       CommandFailure::ScsiStatus, "SCSI status 02h, sense 4/44/00", "Cause: SCSI status 02h, sense 4/44/00\n"},
      // The drive's own refusal has its status line already; no second line.
      {"ATA error", kBusSata,
       [](AtaPassThroughRequest& r) {
         r.currentTaskFile[6] = 0x51;
         r.currentTaskFile[0] = 0x04;
         return IoOutcome{};
       },
       nullptr, CommandFailure::AtaError, "ATA status 51h, error 04h", "ATA Command Error, Status = 0x51\n"},
      {"bus without ATA", kBusScsi, nullptr, nullptr, CommandFailure::NotSent,
       "not sent: the drive's bus type takes no ATA command",
       "Cause: not sent: the drive's bus type takes no ATA command\n"},
  };
  for (const Case& c : cases) {
    RecordingPort port;
    port.ata = c.ata;
    port.scsi = c.scsi;
    TestContext t(port, c.bus);
    AtaTaskFile tf = test::identifyTaskFile();
    EXPECT_FALSE(SendAtaCommand(t.ctx, false, tf, false, 512)) << c.name;
    EXPECT_EQ(t.ctx.lastOutcome.failure, c.failure) << c.name;
    EXPECT_EQ(commandFailureText(t.ctx), c.text) << c.name;
    PrintFailureCause(t.ctx);
    EXPECT_EQ(t.pane.text(), c.pane) << c.name;

    // The next command that succeeds leaves nothing to say.
    port.ata = nullptr;
    port.scsi = nullptr;
    t.ctx.DriveTable[0].ucBusType = kBusSata;
    EXPECT_TRUE(SendAtaCommand(t.ctx, false, tf, false, 512)) << c.name;
    EXPECT_TRUE(t.ctx.lastOutcome.ok()) << c.name;
    EXPECT_EQ(commandFailureText(t.ctx), "") << c.name;
  }
}

TEST(CommandOutcome, ScsiFailuresAreKeptToo) {
  RecordingPort port;
  TestContext t(port);
  port.scsi = [](ScsiRequest&) { return IoOutcome::failure(IoError::PermissionDenied, 1, "SG_IO /dev/sdb"); };
  EXPECT_FALSE(ReadBlocks(t.ctx, 0, 8, false));
  EXPECT_EQ(commandFailureText(t.ctx), std::string(kNoPermission) + ": SG_IO /dev/sdb");
  port.scsi = nullptr;
  t.ctx.fgVendorCdbEnable = 0;
  t.ctx.CmdBlock.clear();
  t.ctx.CmdBlock.bytes()[0] = 0xF3;
  EXPECT_FALSE(SendCdb(t.ctx));
  EXPECT_EQ(commandFailureText(t.ctx), "not sent: vendor CDBs are switched off");
  EXPECT_TRUE(TestUnitReady(t.ctx));
  EXPECT_TRUE(t.ctx.lastOutcome.ok());
}

TEST(OversizedTransfers, AreRefusedBeforeSendingWithAClearMessage) {
  constexpr const char* kTooLarge = "Data Length 1049088(0x100200) Bytes Over Buffer Size 0x100000, Not Sent\n";
  struct Case {
    const char* name;
    uint8_t bus;
    uint8_t opcode;
    uint16_t sectors;  // in the count registers
    uint32_t bytes;
    bool dataOut;
  } cases[] = {
      {"ATA read of 2049 sectors", kBusSata, 0x25, 2049, 2049 * 512, false},
      {"ATA write of 2049 sectors", kBusSata, 0x35, 2049, 2049 * 512, true},
      {"USB PIO read past the buffer", kBusUsb, 0xEC, 1, 2049 * 512, false},
  };
  for (const Case& c : cases) {
    RecordingPort port;
    TestContext t(port, c.bus);
    AtaTaskFile tf;
    tf.ucCommand = c.opcode;
    tf.ucCount = static_cast<uint8_t>(c.sectors);
    tf.ucCountExt = static_cast<uint8_t>(c.sectors >> 8);
    t.ctx.SectorBuffer[0] = 0x12;
    EXPECT_FALSE(SendAtaCommand(t.ctx, c.dataOut, tf, true, c.bytes)) << c.name;
    EXPECT_TRUE(port.ataRequests.empty()) << c.name;
    EXPECT_TRUE(port.scsiRequests.empty()) << c.name;
    EXPECT_EQ(t.pane.text(), kTooLarge) << c.name;
    EXPECT_EQ(t.ctx.SectorBuffer[0], 0x12) << "no pre-fill either: " << c.name;
    PrintFailureCause(t.ctx);
    EXPECT_EQ(t.pane.text(), kTooLarge) << "the refusal said it already: " << c.name;
  }

  // Exactly 1 MiB still goes.
  RecordingPort port;
  port.ata = [](AtaPassThroughRequest& r) {
    r.currentTaskFile[6] = 0x50;
    return IoOutcome{};
  };
  TestContext t(port, kBusSata);
  AtaTaskFile tf;
  tf.ucCommand = 0x25;
  tf.ucCountExt = 0x08;
  EXPECT_TRUE(SendAtaCommand(t.ctx, false, tf, true, 1 << 20));
  ASSERT_EQ(port.ataRequests.size(), 1u);
  EXPECT_EQ(port.ataRequests[0].dataTransferLength, 1u << 20);
}

TEST(OversizedTransfers, BlockPrimitivesRefuseThemToo) {
  RecordingPort port;
  TestContext t(port);
  EXPECT_TRUE(ReadBlocks(t.ctx, 0, 2048, false));
  EXPECT_FALSE(ReadBlocks(t.ctx, 0, 2049, false));
  // 0x800000 blocks would wrap a 32-bit byte count to 0.
  EXPECT_FALSE(ReadBlocks(t.ctx, 0, 0x800000, false));
  EXPECT_FALSE(WriteBlocks(t.ctx, 0, 0x800000, 512));
  EXPECT_FALSE(WriteBlocks12(t.ctx, 0x00800000, 0, false));
  EXPECT_EQ(port.scsiRequests.size(), 1u);
  EXPECT_EQ(t.pane.text(),
            "Data Length 1049088(0x100200) Bytes Over Buffer Size 0x100000, Not Sent\n"
            "Data Length 4294967296(0x100000000) Bytes Over Buffer Size 0x100000, Not Sent\n"
            "Data Length 4294967296(0x100000000) Bytes Over Buffer Size 0x100000, Not Sent\n"
            "Data Length 4294967296(0x100000000) Bytes Over Buffer Size 0x100000, Not Sent\n");
}

}  // namespace
}  // namespace zorv
