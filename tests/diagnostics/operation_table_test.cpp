// What each of the 36 operations puts on the wire: the registers of every
// ATA command, the bytes of every vendor command sector, and the text the
// row writes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <utility>

#include "fake_drive.h"
#include "diagnostics/operation_table.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

using test::FakeDrive;
using test::RecordingPort;
using test::SentCommand;
using test::TestContext;

std::vector<uint8_t> sector(uint8_t code, std::optional<uint8_t> parameter,
                            std::initializer_list<std::pair<size_t, uint8_t>> args = {}) {
  std::vector<uint8_t> s(512, 0xFF);
  const uint8_t sig[] = {'V', 'X', 'A', 'S', 'S', 'D', ' ', ' '};
  std::copy(std::begin(sig), std::end(sig), s.begin());
  s[8] = code;
  if (parameter) s[9] = *parameter;
  for (auto [off, v] : args) s[off] = v;
  return s;
}

struct Expected {
  uint8_t command;
  uint8_t feature = 0;
  uint8_t count = 0;
  std::array<uint8_t, 6> lba{};  // low, mid, high, lowExt, midExt, highExt
  uint8_t device = 0;
  bool out = false;
  uint32_t bytes = 512;
  std::vector<uint8_t> data{};  // the sector of a vendor write
};

Expected write(std::vector<uint8_t> s) { return Expected{0xE8, 0, 1, {}, 0, true, 512, std::move(s)}; }
Expected readBuffer() { return Expected{0xE4, 0, 1}; }
Expected vswitch(uint8_t code, uint8_t value) { return Expected{0xF7, code, value, {}, 0, true, 512}; }

struct RowCase {
  size_t row;
  uint16_t modelClass;
  std::vector<Expected> commands;
  bool onlyPrefix;        // a decoder may read further sectors after these
  std::string text;       // the row's whole text, when it is fixed
};

std::vector<RowCase> rowCases() {
  const std::vector<uint8_t> none;
  return {
      {0, 0, {write(sector(0x30, std::nullopt)), readBuffer(), {0xEC, 0, 1, {}, 0x40}, {0xF7, 0x16, 1, {1, 0, 0}}}, false, ""},
      {1, 0, {write(sector(0x31, 0x01, {{16, 0x12}, {17, 0x34}, {18, 0x56}, {19, 0x78}, {20, 0x01}})), readBuffer()}, true, ""},
      {2, 0,
       {write(sector(0x31, 0x02, {{16, 0x12}, {17, 0x34}, {18, 0x56}, {19, 0x78}, {20, 0}, {21, 0}, {22, 0}, {23, 0x1F}, {24, 0x01}})),
        readBuffer()},
       true, ""},
      {3, 0, {write(sector(0x31, 0x03)), readBuffer()}, true, ""},
      {4, 0,
       {write(sector(0x32, 0x01, {{16, 0}, {17, 3}, {18, 0}, {19, 5}, {20, 0}, {21, 1}, {22, 0}, {23, 2}, {24, 0x1A}, {25, 0x2B}})),
        readBuffer()},
       true, ""},
      {4, 1, {write(sector(0x32, 0x01, {{16, 0}, {17, 7}, {18, 0x1A}, {19, 0x2B}})), readBuffer()}, true, ""},
      {5, 0, {write(sector(0x32, 0x02)), readBuffer()}, true, ""},
      {6, 0, {write(sector(0x33, std::nullopt, {{16, 0}, {17, 3}, {18, 0}, {19, 5}, {20, 0}, {21, 1}, {22, 0}, {23, 2}})), readBuffer()},
       true, ""},
      {7, 0, {write(sector(0x38, std::nullopt)), readBuffer()}, true, ""},
      {8, 0, {write(sector(0x39, std::nullopt)), readBuffer()}, true, ""},
      {12, 0, {write(sector(0x56, 0x01))}, false, "All UDATA initialize Done\r\n"},
      {13, 0, {write(sector(0x56, 0x02))}, false, "Security UDATA initialize Done\r\n"},
      {14, 0, {write(sector(0x56, 0x03))}, false, "SMART UDATA initialize Done\r\n"},
      {15, 0, {write(sector(0x57, 0x02)), readBuffer()}, true, ""},
      {16, 0, {write(sector(0x80, 0x00))}, false, "PreRB3\r\n"},
      {17, 0, {write(sector(0x81, 0x00))}, false, "PreRB3\r\n"},
      {18, 0, {write(sector(0xEB, 0x00))}, false, "Disable Idle GC\r\n"},
      {19, 0, {{0xB0, 0xD0, 1, {0, 0x4F, 0xC2}}}, false, ""},
      {20, 0, {{0xF7, 0x12, 0, {}, 0, false, 65536}}, true, ""},
      {22, 0, {{0xF7, 0x40, 0, {}, 0, false, 65536}}, true, ""},
      {23, 0, {vswitch(0x53, 1)}, false, "Enable Skip Model Name Check\r\n"},
      {24, 0, {vswitch(0x53, 0)}, false, "Disable Skip Model Name Check\r\n"},
      {25, 0, {vswitch(0x60, 1)}, false, "Disable Power Down\r\n"},
      {26, 0, {vswitch(0x60, 0)}, false, "Enable Power Down\r\n"},
      {27, 0, {vswitch(0x60, 0), vswitch(0xC0, 0)}, false, "Enable Power Down\r\nDisable COM Port\r\n"},
      {28, 0, {vswitch(0x60, 1), vswitch(0xC0, 1)}, false, "Disable Power Down\r\nEnable COM Port\r\n"},
      {29, 0, {vswitch(0xD0, 0)}, false, "Disable Abnormal Pf Stop\r\n"},
      {30, 0, {vswitch(0xD0, 1)}, false, "Enable Abnormal Pf Stop\r\n"},
      {31, 0, {vswitch(0xD1, 0)}, false, "Disable Debug Reinit Stop\r\n"},
      {32, 0, {vswitch(0xD1, 1)}, false, "Enable Debug Reinit Stop\r\n"},
      {33, 0, {{0x78, 0, 0, {}, 0, true}}, false, "Get Native Max Address:\r\n000000000000H\r\n"},
      {34, 0, {{0x78, 1, 1, {0x70, 0x59, 0x1C, 0x1D, 0x00, 0x00}, 0, true}}, false,
       "Set Accessible Max Address:\r\n00001D1C5970H\r\n"},
      {35, 0, {{0x78, 2, 1, {}, 0, true}}, false, "Freeze Accessible Max Address\r\n"},
  };
}

DiagInputs typedInputs() {
  DiagInputs in;
  in.channel = "3";
  in.chip = "5";
  in.die = "1";
  in.plane = "2";
  in.block = "1A2B";
  in.raid = "7";
  in.startPpn = "12345678";
  in.endPpn = "1F";
  in.map = "01";
  in.address = "1d1c5970h";
  return in;
}

void expectCommand(const SentCommand& got, const Expected& want, const std::string& where) {
  SCOPED_TRACE(where);
  const auto& cur = got.request.currentTaskFile;
  const auto& prev = got.request.previousTaskFile;
  EXPECT_EQ(got.command(), want.command);
  EXPECT_EQ(cur[0], want.feature);
  EXPECT_EQ(cur[1], want.count);
  EXPECT_EQ(cur[2], want.lba[0]);
  EXPECT_EQ(cur[3], want.lba[1]);
  EXPECT_EQ(cur[4], want.lba[2]);
  EXPECT_EQ(prev[2], want.lba[3]);
  EXPECT_EQ(prev[3], want.lba[4]);
  EXPECT_EQ(prev[4], want.lba[5]);
  EXPECT_EQ(prev[1], 0);  // count (15:8)
  EXPECT_EQ(cur[5], want.device);
  EXPECT_EQ(cur[7], 0);  // data byte
  EXPECT_EQ(got.isDataOut(), want.out);
  EXPECT_EQ(got.request.ataFlags & kAtaFlagsUseDma, 0);
  EXPECT_EQ(got.request.dataTransferLength, want.bytes);
  if (!want.data.empty()) {
    EXPECT_EQ(got.dataOut, want.data);
  }
}

class OperationSendTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(OperationSendTest, SendsTheRowsCommandsAndText) {
  const RowCase& c = GetParam();
  RecordingPort port;
  TestContext tc(port);
  tc.ctx.DriveTable[0].ulSectorsLo = 500118192;  // a 256 GB drive
  FakeDrive drive(port);
  StringSink raw;
  RowMemory memory;
  DiagRun run(tc.ctx, raw, memory);
  run.inputs = typedInputs();
  run.modelClass = c.modelClass;

  std::string text = PerformOperation(run, c.row);

  ASSERT_GE(drive.sent.size(), c.commands.size());
  if (!c.onlyPrefix) {
    EXPECT_EQ(drive.sent.size(), c.commands.size());
  }
  for (size_t i = 0; i < c.commands.size(); ++i) {
    expectCommand(drive.sent[i], c.commands[i], "command " + std::to_string(i));
  }
  if (!c.text.empty()) {
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(raw.text(), c.text);
  }
}

std::string rowLabel(const RowCase& c) {
  return "row" + std::to_string(c.row) + "_class" + std::to_string(c.modelClass);
}
std::string rowName(const ::testing::TestParamInfo<RowCase>& info) { return rowLabel(info.param); }
// The test's printed parameter (and so its CTest name) is the label, never
// the case's bytes, which hold heap addresses that change from run to run.
void PrintTo(const RowCase& c, std::ostream* os) { *os << rowLabel(c); }

INSTANTIATE_TEST_SUITE_P(AllRows, OperationSendTest, ::testing::ValuesIn(rowCases()), rowName);

TEST(OperationTable, HasThirtySixRowsInOrderWithTheirTexts) {
  const auto& list = VendorOperationList();
  ASSERT_EQ(list.size(), 36u);
  for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i].index, i);
  EXPECT_EQ(list[0].text, "30 Info SSD");
  EXPECT_EQ(list[10].text, "51 Restore Binary Into SSD");
  EXPECT_EQ(list[19].text, "B0D0 SMART Read");
  EXPECT_EQ(list[27].text, "F7C000 Disable RS232 Output");
  EXPECT_EQ(list[35].text, "780002 Std ATA FreezeMax Address");
}

TEST(OperationTable, FindsRowsByCodeOrIndex) {
  EXPECT_EQ(findVendorOperation("b0d0"), 19u);
  EXPECT_EQ(findVendorOperation("30"), 0u);        // a code wins over an index
  EXPECT_EQ(findVendorOperation("#30"), 30u);
  EXPECT_EQ(findVendorOperation("780001"), 34u);
  EXPECT_EQ(findVendorOperation("21"), 21u);
  EXPECT_EQ(findVendorOperation("36"), std::nullopt);
  EXPECT_EQ(findVendorOperation("33"), 6u);         // "33 Plane Info", not row 33
  EXPECT_EQ(findVendorOperation("31"), 31u);        // no row's code is 31 alone
  EXPECT_EQ(findVendorOperation("zz"), std::nullopt);
}

TEST(HexBoxes, ReadAsTheBoxesAreRead) {
  EXPECT_EQ(readHexBox(""), 0u);
  EXPECT_EQ(readHexBox("1F"), 0x1Fu);
  EXPECT_EQ(readHexBox("1fzz"), 0x1Fu);
  EXPECT_EQ(readHexBox("  0x200"), 0x200u);
  EXPECT_EQ(readHexBox("G1"), 0u);
  EXPECT_EQ(readHexBox("123456789"), 0xFFFFFFFFu);
  EXPECT_EQ(readAddressBox("1d1c5970h"), 0x1D1C5970u);
  EXPECT_EQ(readAddressBox("1D1C5970"), 0x1D1C5970u);
  EXPECT_EQ(readAddressBox("h1Dh1C"), 0x1D1Cu);
  EXPECT_EQ(readAddressBox(""), 0u);
}

TEST(OperationSectors, EmptyPpnBoxesSendZeroAndTheRangeEndsInBytes20To23) {
  DiagInputs in;
  in.endPpn = "1F";
  auto s = buildOperationSector(2, in, 0);
  ASSERT_TRUE(s);
  EXPECT_EQ(std::vector<uint8_t>(s->bytes.begin() + 16, s->bytes.begin() + 25),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0x1F, 0}));
  EXPECT_FALSE(buildOperationSector(19, in, 0));  // not a vendor sector row
}

TEST(OperationRows, BlockInfoOfClassOneNamesRaidAndBlockFirst) {
  RecordingPort port;
  TestContext tc(port);
  FakeDrive drive(port);
  StringSink raw;
  RowMemory memory;
  DiagRun run(tc.ctx, raw, memory);
  run.inputs = typedInputs();
  run.modelClass = 1;
  std::string text = PerformOperation(run, 4);
  EXPECT_EQ(text.rfind("Raid: 7\r\nBlock: 1A2B\r\n", 0), 0u);
}

TEST(OperationRows, PowerOffRowsAskForAPowerOff) {
  for (size_t row : {16, 17, 18}) {
    RecordingPort port;
    TestContext tc(port);
    FakeDrive drive(port);
    StringSink raw;
    RowMemory memory;
    DiagRun run(tc.ctx, raw, memory);
    PerformOperation(run, row);
    ASSERT_EQ(tc.ui.boxes.size(), 1u);
    EXPECT_EQ(tc.ui.boxes[0].text, "Please Turn Off Drive Immediately");
    EXPECT_EQ(tc.ui.boxes[0].icon, BoxIcon::Information);
  }
}

TEST(OperationRows, GetMaxAddressWaitsAndFillsTheAddressBox) {
  RecordingPort port;
  TestContext tc(port);
  FakeDrive drive(port);
  drive.returnedLba = std::array<uint8_t, 6>{0x00, 0x00, 0x1D, 0x1C, 0x59, 0x6F};
  StringSink raw;
  RowMemory memory;
  DiagRun run(tc.ctx, raw, memory);
  std::string text = PerformOperation(run, 33);
  EXPECT_EQ(text, "Get Native Max Address:\r\n00001D1C596FH\r\n");
  EXPECT_EQ(run.addressBox, "00001D1C596FH");
  EXPECT_EQ(tc.clock.totalSlept(), std::chrono::milliseconds(500));
  ASSERT_EQ(drive.sent.size(), 1u);
  EXPECT_NE(drive.sent[0].request.ataFlags & kAtaFlags48Bit, 0);
}

TEST(OperationRows, FailedGetMaxAddressLeavesTheAddressBoxAlone) {
  RecordingPort port;
  TestContext tc(port);
  FakeDrive drive(port);
  drive.failCommand = 0x78;
  StringSink raw;
  RowMemory memory;
  DiagRun run(tc.ctx, raw, memory);
  PerformOperation(run, 33);
  EXPECT_FALSE(run.addressBox);
  EXPECT_TRUE(run.commandFailed);
}

// A 256 GB drive whose native max address (what GET returns) is its last LBA.
struct MaxAddressRig {
  explicit MaxAddressRig(uint8_t bus = kBusSata) : tc(port, bus), drive(port), run(tc.ctx, raw, memory) {
    tc.ctx.DriveTable[0].ulSectorsLo = 500118192;
    drive.returnedLba = std::array<uint8_t, 6>{0, 0, 0x1D, 0xCF, 0x32, 0xAF};
  }
  std::string set(const std::string& box) {
    run.inputs.address = box;
    return PerformOperation(run, 34);
  }
  size_t sets() const {
    return static_cast<size_t>(std::count_if(drive.sent.begin(), drive.sent.end(), [](const SentCommand& c) {
      return c.command() == 0x78 && c.feature() == 1;
    }));
  }
  RecordingPort port;
  TestContext tc;
  FakeDrive drive;
  StringSink raw;
  RowMemory memory;
  DiagRun run;
};

TEST(SetMaxAddress, RefusesWhatIsNoAddressWithinTheDriveAndSetsNothing) {
  const struct {
    const char* box;
    const char* text;
  } refused[] = {
      {"", "Set Accessible Max Address: no address given\r\n"},
      {" hH ", "Set Accessible Max Address: no address given\r\n"},
      {"12G4", "Set Accessible Max Address: \"12G4\" is not a hexadecimal address\r\n"},
      {"1D1C 5970", "Set Accessible Max Address: \"1D1C 5970\" is not a hexadecimal address\r\n"},
      {"-1", "Set Accessible Max Address: \"-1\" is not a hexadecimal address\r\n"},
      // The sector count is one past the last LBA.
      {"1DCF32B0H",
       "Set Accessible Max Address: 1DCF32B0H is beyond the native max address 00001DCF32AFH\r\n"},
      {"1000000000000",
       "Set Accessible Max Address: 1000000000000H is beyond the native max address 00001DCF32AFH\r\n"},
      {"FFFFFFFFFFFFFFFFFFFF",
       "Set Accessible Max Address: FFFFFFFFFFFFFFFFFFFFH is beyond the native max address "
       "00001DCF32AFH\r\n"},
  };
  for (const auto& c : refused) {
    MaxAddressRig rig;
    EXPECT_EQ(rig.set(c.box), c.text) << c.box;
    EXPECT_EQ(rig.raw.text(), c.text) << c.box;
    EXPECT_EQ(rig.sets(), 0u) << c.box;
    EXPECT_TRUE(rig.run.inputRefused) << c.box;
  }
  // What is not an address is refused before the drive is asked anything.
  MaxAddressRig blank;
  blank.set("");
  EXPECT_TRUE(blank.drive.sent.empty());

  // The native max address itself, typed in any case, with or without "H",
  // goes out alone: up to the capacity the drive reported nothing is asked.
  for (const char* box : {"1dcf32afh", "0x1DCF32AF", " 1DCF32AF "}) {
    MaxAddressRig rig;
    EXPECT_EQ(rig.set(box), "Set Accessible Max Address:\r\n00001DCF32AFH\r\n") << box;
    ASSERT_EQ(rig.drive.sent.size(), 1u) << box;
    EXPECT_EQ(rig.sets(), 1u) << box;
    EXPECT_FALSE(rig.run.inputRefused);
  }
}

TEST(SetMaxAddress, BeyondTheReportedCapacityTheDriveIsAskedFirst) {
  // A drive shrunk earlier reports fewer sectors than it has: its whole
  // capacity can be given back, and no more.
  MaxAddressRig rig;
  rig.tc.ctx.DriveTable[0].ulSectorsLo = 0x1000;
  EXPECT_EQ(rig.set("1DCF32AF"), "Set Accessible Max Address:\r\n00001DCF32AFH\r\n");
  ASSERT_EQ(rig.drive.sent.size(), 2u);
  EXPECT_EQ(rig.drive.sent[0].feature(), 0);  // GET NATIVE MAX ADDRESS
  EXPECT_EQ(rig.drive.sent[1].feature(), 1);
  // What the drive answered is remembered for it.
  EXPECT_EQ(rig.set("1DCF32B0"),
            "Set Accessible Max Address: 1DCF32B0H is beyond the native max address 00001DCF32AFH\r\n");
  EXPECT_EQ(rig.drive.sent.size(), 2u);

  // Another drive's answer does not count for this one.
  rig.tc.ctx.DriveTable[0].strDevicePath = "rec:5";
  rig.drive.returnedLba = std::array<uint8_t, 6>{0, 0, 0, 0, 0x1F, 0xFF};
  rig.run.inputRefused = false;
  EXPECT_EQ(rig.set("2000"),
            "Set Accessible Max Address: 2000H is beyond the native max address 000000001FFFH\r\n");
  EXPECT_EQ(rig.sets(), 1u);
  EXPECT_TRUE(rig.run.inputRefused);

  // A drive that does not answer the question gets no SET either.
  MaxAddressRig silent;
  silent.tc.ctx.DriveTable[0].ulSectorsLo = 0x1000;
  silent.drive.failCommand = 0x78;
  EXPECT_EQ(silent.set("2000"),
            "Set Accessible Max Address: the native max address of the drive could not be read\r\n");
  EXPECT_EQ(silent.sets(), 0u);
  EXPECT_TRUE(silent.run.commandFailed);

  // Behind a USB bridge there is no answer to ask for.
  MaxAddressRig usb(kBusUsb);
  usb.tc.ctx.DriveTable[0].ulSectorsLo = 0x1000;
  EXPECT_EQ(usb.set("1000"),
            "Set Accessible Max Address: 1000H is beyond the last LBA the drive reports, "
            "000000000FFFH (its native max address cannot be read behind a USB bridge)\r\n");
  usb.tc.ctx.DriveTable[0].ulSectorsLo = 0;
  EXPECT_EQ(usb.set("1000"),
            "Set Accessible Max Address: the native max address of the drive is not known\r\n");
  EXPECT_TRUE(usb.port.scsiRequests.empty());
}

TEST(GetMaxAddress, SaysWhenNoAddressCameBack) {
  MaxAddressRig usb(kBusUsb);
  usb.drive.returnedLba.reset();
  usb.run.inputs.address = "1234H";
  EXPECT_EQ(PerformOperation(usb.run, 33),
            "Get Native Max Address:\r\nNot available behind a USB bridge\r\n");
  EXPECT_FALSE(usb.run.addressBox);

  MaxAddressRig failing;
  failing.drive.failCommand = 0x78;
  EXPECT_EQ(PerformOperation(failing.run, 33),
            "Get Native Max Address:\r\nNot available: the command failed\r\n");
  EXPECT_EQ(failing.raw.text().find("000000000000H"), std::string::npos);
}

class RestoreRowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = tempDir.path();
  }
  test::TempDir tempDir;  // unique per test, removed at the end
  std::filesystem::path dir;
};

TEST_F(RestoreRowTest, AnnouncesWholeSectorsOfTheChosenFileAndKeepsIt) {
  auto file = dir / "image.bin";
  std::ofstream(file, std::ios::binary) << std::string(1300, 'A');
  RecordingPort port;
  TestContext tc(port);
  FakeDrive drive(port);
  tc.ui.files.push_back(file.string());
  StringSink raw;
  RowMemory memory;
  DiagRun run(tc.ctx, raw, memory);
  PerformOperation(run, 10);
  ASSERT_GE(drive.sent.size(), 1u);
  expectCommand(drive.sent[0], write(sector(0x51, std::nullopt, {{16, 0x00}, {17, 0x02}})), "request");
  auto* image = std::any_cast<std::vector<uint8_t>>(&memory[10]);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->size(), 1300u);
}

TEST_F(RestoreRowTest, SendsNothingWithoutAFileOrWithOneTooLargeToAnnounce) {
  RecordingPort port;
  TestContext tc(port);
  FakeDrive drive(port);
  StringSink raw;
  RowMemory memory;
  DiagRun run(tc.ctx, raw, memory);
  PerformOperation(run, 10);  // dialog cancelled
  EXPECT_TRUE(drive.sent.empty());
  EXPECT_TRUE(run.inputRefused);

  // An empty file is refused as the SPI flash write refuses one.
  auto empty = dir / "empty.bin";
  std::ofstream(empty, std::ios::binary).flush();
  tc.ui.files.push_back(empty.string());
  run.inputRefused = false;
  EXPECT_EQ(PerformOperation(run, 10), "Nothing to restore: " + empty.string() + " is empty\r\n");
  EXPECT_TRUE(drive.sent.empty());
  EXPECT_TRUE(run.inputRefused);
  EXPECT_EQ(raw.text().find("Restore Bin Success"), std::string::npos);

  auto big = dir / "big.bin";
  {
    std::ofstream out(big, std::ios::binary);
    out.seekp(0xFFFF * 512 + 512);
    out.put('x');
  }
  tc.ui.files.push_back(big.string());
  std::string text = PerformOperation(run, 10);
  EXPECT_TRUE(drive.sent.empty());
  EXPECT_NE(text.find("too large"), std::string::npos);
}

}  // namespace
}  // namespace zorv
