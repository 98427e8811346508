#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "discovery/drive_list.h"
#include "identify/ata_console.h"
#include "identify/identify_text.h"
#include "identify_image.h"
#include "support/test_support.h"

namespace zorv {
namespace {

TEST(ConsoleFields, HexParsingStopsAtTheFirstNonHexCharacter) {
  EXPECT_EQ(parseHexField(""), 0);
  EXPECT_EQ(parseHexField("00"), 0);
  EXPECT_EQ(parseHexField("ec"), 0xEC);
  EXPECT_EQ(parseHexField("1G2"), 0x1);
  EXPECT_EQ(parseHexField("Z1"), 0);
  EXPECT_EQ(parseHexField("FFFF"), 0xFFFF);
  EXPECT_EQ(parseHexField("12345"), 0x1234);  // the edit holds 4 characters
  EXPECT_EQ(parseHexField("ABC", 2), 0xAB);
}

TEST(ConsoleFields, RegisterMapping) {
  std::array<std::string, kConsoleEditCount> edits = {"1D", "0234", "5678", "9ABC", "DEF0", "1357", "E0", "0125"};
  AtaTaskFile tf = consoleTaskFile(edits);
  EXPECT_EQ(tf.ucDataByte, 0x1D);
  EXPECT_EQ(tf.ucFeature, 0x34);  // one register: the high byte is dropped
  EXPECT_EQ(tf.ucCount, 0x78);
  EXPECT_EQ(tf.ucCountExt, 0x56);
  EXPECT_EQ(tf.ucLbaLow, 0xBC);
  EXPECT_EQ(tf.ucLbaLowExt, 0x9A);
  EXPECT_EQ(tf.ucLbaMid, 0xF0);
  EXPECT_EQ(tf.ucLbaMidExt, 0xDE);
  EXPECT_EQ(tf.ucLbaHigh, 0x57);
  EXPECT_EQ(tf.ucLbaHighExt, 0x13);
  EXPECT_EQ(tf.ucDevice, 0xE0);
  EXPECT_EQ(tf.ucCommand, 0x25);
  EXPECT_EQ(tf.ucUnused8 | tf.ucUnused9 | tf.ucUnused14 | tf.ucUnused15, 0);

  std::array<std::string, kConsoleEditCount> empty{};
  AtaTaskFile zero = consoleTaskFile(empty);
  const AtaTaskFile cleared{};
  EXPECT_EQ(std::memcmp(&zero, &cleared, sizeof zero), 0);
}

struct PlanCase {
  uint8_t op;
  uint8_t feature;
  bool out;
  bool dma;
  bool lengthFromFeature;
};

// Every opcode the console knows, with its final direction and DMA flag.
// The count is 2 sectors and Features 08h, so a length of 1024 comes from
// the count and 4096 from Features.
const PlanCase kListed[] = {
    // Reads with DMA.
    {0x25, 0, false, true, false}, {0xC7, 0, false, true, false}, {0xC8, 0, false, true, false},
    {0xC9, 0, false, true, false}, {0x2A, 0, false, true, false}, {0x47, 0, false, true, false},
    // PIO writes.
    {0x30, 0, true, false, false}, {0x31, 0, true, false, false}, {0x32, 0, true, false, false},
    {0x33, 0, true, false, false}, {0x38, 0, true, false, false}, {0x3C, 0, true, false, false},
    {0x92, 0, true, false, false}, {0xC5, 0, true, false, false}, {0xCD, 0, true, false, false},
    {0xE8, 0, true, false, false}, {0xE9, 0, true, false, false}, {0xF1, 0, true, false, false},
    {0xF2, 0, true, false, false}, {0xF4, 0, true, false, false}, {0xF6, 0, true, false, false},
    {0x0B, 0, true, false, false}, {0x34, 0, true, false, false}, {0x39, 0, true, false, false},
    {0x3B, 0, true, false, false}, {0x3F, 0, true, false, false}, {0x45, 0, true, false, false},
    {0x51, 0, true, false, false}, {0x63, 0, true, false, false}, {0x77, 0, true, false, false},
    {0xB4, 0, true, false, false}, {0xCE, 0, true, false, false},
    // DMA writes.
    {0x35, 0, true, true, false}, {0xCA, 0, true, true, false}, {0xCB, 0, true, true, false},
    {0xCC, 0, true, true, false}, {0x06, 0, true, true, false}, {0x3A, 0, true, true, false},
    {0x3D, 0, true, true, false}, {0x57, 0, true, true, false},
    // PIO reads.
    {0x24, 0, false, false, false}, {0x29, 0, false, false, false}, {0x2B, 0, false, false, false},
    {0x2F, 0, false, false, false}, {0x42, 0, false, false, false}, {0x78, 0, false, false, false},
    // Queued: the sector count is in Features.
    {0x60, 0, false, true, true}, {0x65, 0, false, true, true}, {0x61, 0, true, true, true},
    {0x64, 0, true, true, true},
    // Direction from Features.
    {0xB0, 0xD6, true, false, false}, {0xB0, 0xD5, false, false, false}, {0xB0, 0xD0, false, false, false},
    {0xF9, 0x01, true, false, false}, {0xF9, 0x03, true, false, false}, {0xF9, 0x02, false, false, false},
    {0xF9, 0x00, false, false, false},
};

TEST(ConsolePlan, ListedOpcodesIgnoreTheDataOutBox) {
  for (const PlanCase& c : kListed) {
    for (bool checked : {false, true}) {
      AtaTaskFile tf;
      tf.ucCommand = c.op;
      tf.ucFeature = c.feature ? c.feature : 0x08;
      tf.ucCount = 2;
      ConsoleTransfer t = planConsoleTransfer(tf, checked);
      SCOPED_TRACE(::testing::Message() << std::hex << "opcode " << int(c.op) << " feature " << int(tf.ucFeature)
                                        << " box " << checked);
      EXPECT_EQ(t.dataOut, c.out);
      EXPECT_EQ(t.dma, c.dma);
      EXPECT_EQ(t.length, c.lengthFromFeature ? 4096u : 1024u);
    }
  }
}

TEST(ConsolePlan, OtherOpcodesFollowTheDataOutBox) {
  std::set<uint8_t> listed;
  for (const PlanCase& c : kListed) listed.insert(c.op);
  for (int op = 0; op < 256; ++op) {
    if (listed.count(static_cast<uint8_t>(op))) continue;
    for (bool checked : {false, true}) {
      AtaTaskFile tf;
      tf.ucCommand = static_cast<uint8_t>(op);
      tf.ucFeature = 0x08;
      tf.ucCount = 0x03;
      tf.ucCountExt = 0x01;
      ConsoleTransfer t = planConsoleTransfer(tf, checked);
      EXPECT_EQ(t.dataOut, checked) << std::hex << op;
      EXPECT_FALSE(t.dma) << std::hex << op;
      EXPECT_EQ(t.length, 0x103u * 512) << std::hex << op;
    }
  }
}

TEST(ConsolePlan, LengthIsWhatTheRegistersAskFor) {
  AtaTaskFile tf;
  tf.ucCommand = 0x25;
  tf.ucCount = 0x00;
  tf.ucCountExt = 0x08;  // 2048 sectors: exactly 1 MiB
  EXPECT_EQ(planConsoleTransfer(tf, false).length, kSectorBufferSize);
  tf.ucCount = 0xFF;
  tf.ucCountExt = 0xFF;
  EXPECT_EQ(planConsoleTransfer(tf, false).length, 0xFFFFu * 512) << "not cut to the buffer behind the drive's back";
}

class ConsoleSend : public ::testing::Test {
 protected:
  void SetUp() override {
    port.ata = [this](AtaPassThroughRequest& r) {
      r.currentTaskFile[6] = status;
      if (reply && r.dataBuffer && !(r.ataFlags & kAtaFlagsDataOut)) {
        std::memcpy(r.dataBuffer, reply->data(), std::min<size_t>(r.dataTransferLength, reply->size()));
      }
      return IoOutcome{};
    };
  }
  bool send(std::array<std::string, kConsoleEditCount> edits, bool dataOut = false) {
    console.edits = std::move(edits);
    console.dataOut = dataOut;
    return console.send(t.ctx);
  }

  uint8_t status = 0x50;
  const std::array<uint8_t, 512>* reply = nullptr;
  test::RecordingPort port;
  test::TestContext t{port};
  AnyAtaConsole console;
};

TEST_F(ConsoleSend, OpeningShowsCmdBlockAndChecksDataOutForVendorOpcode) {
  t.ctx.CmdBlock.ucFeature = 0x31;
  t.ctx.CmdBlock.ucCount = 0x05;
  t.ctx.CmdBlock.ucLbaLow = 0x02;
  t.ctx.CmdBlock.ucDevice = 0x40;
  t.ctx.CmdBlock.ucCommand = 0xF7;
  t.ctx.fgStopRequest = 1;
  console.open(t.ctx);
  const std::array<std::string, kConsoleEditCount> expected = {"00", "31", "05", "02", "00", "00", "40", "F7"};
  EXPECT_EQ(console.edits, expected);
  EXPECT_TRUE(console.dataOut);
  EXPECT_EQ(t.ctx.fgBusy, 1);
  EXPECT_EQ(t.ctx.fgStopRequest, 0);

  t.ctx.CmdBlock.ucCommand = 0xEC;
  console.open(t.ctx);
  EXPECT_FALSE(console.dataOut);
}

TEST_F(ConsoleSend, IdentifyDeviceIsPioDataInWithoutDecode) {
  test::IdentifyImage id;
  reply = &id.bytes;
  t.ctx.fgBusy = 1;
  ASSERT_TRUE(send({"00", "00", "01", "00", "00", "00", "40", "EC"}));
  ASSERT_EQ(port.ataRequests.size(), 1u);
  EXPECT_EQ(port.ataRequests[0].ataFlags, 0x03);
  EXPECT_EQ(port.ataRequests[0].dataTransferLength, 512u);
  EXPECT_EQ(t.pane.text(), "   Data In, DataCnt = 512(0x200)Bytes\nATA Command Success\n\n\n");
  EXPECT_EQ(t.ctx.fgBusy, 0);
}

TEST_F(ConsoleSend, IdentifyPacketDeviceIsDecoded) {
  test::IdentifyImage id;
  id.word(53, 0x0004).word(88, 0x407F);
  reply = &id.bytes;
  ASSERT_TRUE(send({"00", "00", "01", "00", "00", "00", "00", "A1"}));
  std::string text = t.pane.text();
  size_t data = text.find("   Data In, DataCnt = 512(0x200)Bytes\n");
  size_t decode = text.find(" Ultra DMA mode 6 supported.\n");
  size_t success = text.find("ATA Command Success\n");
  ASSERT_NE(decode, std::string::npos);
  EXPECT_LT(data, decode);
  EXPECT_LT(decode, success);
}

TEST_F(ConsoleSend, ReadDmaExtWith256SectorsIs48BitDma) {
  ASSERT_TRUE(send({"00", "00", "0100", "0000", "0000", "0000", "40", "25"}));
  const AtaPassThroughRequest& r = port.ataRequests.at(0);
  EXPECT_EQ(r.ataFlags, 0x1B);
  EXPECT_EQ(r.dataTransferLength, 131072u);
  EXPECT_EQ(r.currentTaskFile[1], 0x00);
  EXPECT_EQ(r.previousTaskFile[1], 0x01);
  EXPECT_EQ(t.pane.text(), "   Data In, DataCnt = 131072(0x20000)Bytes\nATA Command Success\n\n\n");
}

TEST_F(ConsoleSend, WriteFpdmaLengthComesFromFeatures) {
  ASSERT_TRUE(send({"00", "08", "0040", "0000", "0000", "0000", "40", "61"}));
  const AtaPassThroughRequest& r = port.ataRequests.at(0);
  EXPECT_EQ(r.ataFlags, 0x1D);
  EXPECT_EQ(r.dataTransferLength, 4096u);
  EXPECT_EQ(t.pane.text(), "   Data Out, DataCnt = 4096(0x1000)Bytes\nATA Command Success\n\n\n");
}

TEST_F(ConsoleSend, UnlistedOpcodeIsDataInUnlessTheBoxIsChecked) {
  ASSERT_TRUE(send({"00", "00", "0000", "0000", "0000", "0000", "00", "E0"}));
  EXPECT_EQ(port.ataRequests.at(0).ataFlags, 0x03);
  EXPECT_EQ(port.ataRequests.at(0).dataTransferLength, 0u);
  EXPECT_EQ(t.pane.text(), "ATA Command Success\n\n\n");  // no data line for length 0

  ASSERT_TRUE(send({"00", "00", "01", "00", "00", "00", "00", "F7"}, true));
  EXPECT_EQ(port.ataRequests.at(1).ataFlags, 0x05);
}

TEST_F(ConsoleSend, FlashLocationQueryFollowsF7Feature31) {
  std::array<uint8_t, 512> data{};
  const uint16_t words[7] = {0x0001, 0x0002, 0x0003, 0x1234, 0x00FF, 0xABCD, 0x0000};
  for (int i = 0; i < 7; ++i) {
    data[2 * i] = static_cast<uint8_t>(words[i]);
    data[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
  }
  reply = &data;
  ASSERT_TRUE(send({"00", "31", "07", "00", "00", "00", "00", "F7"}, false));
  ASSERT_EQ(port.ataRequests.size(), 2u);
  const AtaPassThroughRequest& q = port.ataRequests[1];
  const std::array<uint8_t, 8> current = {0x31, 0x07, 0x02, 0x00, 0x00, 0x00, 0xF7, 0x00};
  EXPECT_EQ(q.currentTaskFile, current);
  EXPECT_EQ(q.ataFlags, 0x03);
  EXPECT_EQ(q.dataTransferLength, 512u);
  EXPECT_EQ(t.pane.text(),
            "   Data In, DataCnt = 3584(0xE00)Bytes\n"
            "channel, chip, plan, block, page, auLoc, trim\n"
            "0x0001, 0x0002, 0x0003, 0x1234, 0x00FF,0xABCD,0x0000\n"
            "ATA Command Success\n\n\n");
}

TEST_F(ConsoleSend, DeviceErrorReportsOnlyTheTransportMessage) {
  status = 0x51;
  t.ctx.fgBusy = 1;
  EXPECT_FALSE(send({"00", "31", "01", "00", "00", "00", "00", "F7"}));
  EXPECT_EQ(port.ataRequests.size(), 1u);  // no query after a failure
  EXPECT_EQ(t.pane.text(), "ATA Command Error, Status = 0x51\n\n\n");
  EXPECT_EQ(t.ctx.fgBusy, 0);
}

TEST_F(ConsoleSend, DriveListIsDisabledWhileTheConsoleIsOpen) {
  DriveListModel list;
  DriveListAttachment attach(t.ctx, list);
  console.open(t.ctx);
  EXPECT_FALSE(list.isEnabled());
  console.abort(t.ctx);
  EXPECT_TRUE(list.isEnabled());

  // Without an attached drive the list stays disabled.
  t.ctx.ucDriveCount = kNoDrive;
  console.open(t.ctx);
  console.abort(t.ctx);
  EXPECT_FALSE(list.isEnabled());
}

TEST_F(ConsoleSend, CmdBlockKeepsTheCommandForTheNextOpening) {
  ASSERT_TRUE(send({"00", "00", "01", "00", "00", "00", "40", "EC"}));
  AnyAtaConsole next;
  next.open(t.ctx);
  EXPECT_EQ(next.edits[kEditCommand], "EC");
  EXPECT_EQ(next.edits[kEditSectorCnt], "01");
}

TEST_F(ConsoleSend, AbortSendsNothingAndRefreshesTheDump) {
  StringSink dumpSink;
  DumpPane dump{&dumpSink, 0x10, 0x20};
  t.ctx.fgBusy = 1;
  console.abort(t.ctx, &dump);
  EXPECT_TRUE(port.ataRequests.empty());
  EXPECT_EQ(t.pane.text(), "Abort\n\n\n");
  EXPECT_EQ(t.ctx.fgBusy, 0);
  const std::string dumped = dumpSink.text();
  EXPECT_EQ(dumped.substr(0, 5), "0010:");
  EXPECT_EQ(std::count(dumped.begin(), dumped.end(), '\n'), 2);
}

TEST_F(ConsoleSend, DataInLandsInTheDumpAfterSend) {
  std::array<uint8_t, 512> data{};
  data[0] = 0x5A;
  reply = &data;
  StringSink dumpSink;
  DumpPane dump{&dumpSink, 0, 0x200};
  console.edits = {"00", "00", "01", "00", "00", "00", "00", "E4"};
  ASSERT_TRUE(console.send(t.ctx, &dump));
  EXPECT_EQ(dumpSink.text().substr(0, 8), "0000:5A ");
}

TEST_F(ConsoleSend, ARequestLargerThanTheSectorBufferIsRefusedBeforeSending) {
  t.ctx.fgBusy = 1;
  EXPECT_FALSE(send({"00", "00", "0801", "00", "00", "00", "40", "25"}));
  EXPECT_TRUE(port.ataRequests.empty());
  EXPECT_EQ(t.pane.text(), "Data Length 1049088(0x100200) Bytes Over Buffer Size 0x100000, Not Sent\n\n\n");
  EXPECT_EQ(t.ctx.fgBusy, 0);
}

TEST_F(ConsoleSend, ACommandThatCouldNotBeSentSaysWhy) {
  port.ata = [](AtaPassThroughRequest&) {
    return IoOutcome::failure(IoError::PermissionDenied, 1, "SG_IO rec:0");
  };
  EXPECT_FALSE(send({"00", "00", "01", "00", "00", "00", "40", "EC"}));
  EXPECT_EQ(t.pane.text(), "Cause: " + std::string(ioErrorName(IoError::PermissionDenied)) + ": SG_IO rec:0\n\n\n");
}

// A port that translates the register image into a SCSI CDB, as the Linux
// backend does, has no field for the reserved data byte.
class CdbOnlyPort : public test::RecordingPort {
 public:
  bool carriesAtaDataByte() const override { return false; }
};

TEST(ConsoleDataByte, ADataByteThatCannotTravelIsReported) {
  struct Case {
    const char* name;
    bool cdbOnlyPort;
    uint8_t bus;
    const char* dataByte;
    bool reported;
  } cases[] = {
      {"register image on SATA", false, kBusSata, "5A", false},
      {"CDB-only backend", true, kBusSata, "5A", true},
      {"USB bridge", false, kBusUsb, "5A", true},
      {"zero data byte", true, kBusSata, "00", false},
  };
  for (const Case& c : cases) {
    test::RecordingPort plain;
    CdbOnlyPort cdbOnly;
    test::RecordingPort& port = c.cdbOnlyPort ? cdbOnly : plain;
    test::TestContext t(port, c.bus);
    AnyAtaConsole console;
    console.edits = {c.dataByte, "00", "01", "00", "00", "00", "40", "EC"};
    EXPECT_TRUE(console.send(t.ctx)) << c.name;
    const std::string expected = c.reported ? std::string("Data Byte ") + c.dataByte +
                                                  " cannot reach this drive (no register for it on its path), "
                                                  "sent without it\n"
                                            : std::string();
    EXPECT_EQ(t.pane.text(), expected + "   Data In, DataCnt = 512(0x200)Bytes\nATA Command Success\n\n\n")
        << c.name;
  }
}

}  // namespace
}  // namespace zorv
