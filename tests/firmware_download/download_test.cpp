// The download procedure against the simulated bay: what it checks, what it
// sends (segment by segment), how it waits for the restart, and that every
// failure ends in a failure verdict with the image left as it was.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

#include "firmware/download.h"
#include "firmware/image_maker.h"
#include "fwdl_support.h"
#include "sim/sim_port.h"
#include "transport/ata_command.h"
#include "diagnostics/info_ssd.h"

namespace zorv::fwdl {
namespace {

using firmware::DownloadResult;
using firmware::DownloadVerdict;
using test::SimFixture;

// ---- checkImage on hand-made identity blocks.

std::array<uint8_t, 81> block(uint16_t cls, std::vector<uint8_t> hwid, const char* version, bool fixSum = true) {
  std::array<uint8_t, 81> b{};
  std::copy(hwid.begin(), hwid.end(), b.begin());
  std::memcpy(&b[cls == 1 ? 40 : 32], version, 6);
  uint32_t sum = 0;
  for (size_t i = 0; i < 80; ++i) sum += b[i];
  b[80] = static_cast<uint8_t>(0x100 - (sum & 0xFF) + (fixSum ? 0 : 1));
  return b;
}

struct CheckCase {
  const char* name;
  uint16_t cls;
  int idDiffer;  // -1 none, else the byte that differs
  const char* drive;
  const char* image;
  uint8_t compareLength;
  uint8_t expected;
};
// Printed (and so in the CTest name) by its name, never by its bytes.
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class CheckImage : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckImage, GivesTheResultBits) {
  const CheckCase& c = GetParam();
  const size_t n = c.cls == 1 ? 16 : 9;
  std::vector<uint8_t> hwid(n);
  for (size_t i = 0; i < n; ++i) hwid[i] = static_cast<uint8_t>(0x40 + i);
  std::vector<uint8_t> drive = hwid;
  if (c.idDiffer >= 0) drive[static_cast<size_t>(c.idDiffer)] ^= 0x01;
  auto b = block(c.cls, hwid, c.image);
  EXPECT_EQ(firmware::checkImage(b, c.cls, drive, c.drive, c.compareLength), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckImage,
    ::testing::Values(
        CheckCase{"Older", 0, -1, "S1107A", "S1108A", 6, 0x00},
        CheckCase{"SixthSmallerDownloads", 1, -1, "T1208A", "T1208B", 6, 0x00},
        CheckCase{"Equal", 0, -1, "S1108A", "S1108A", 6, 0x04},
        CheckCase{"FifthGreaterWhateverTheSixth", 0, -1, "S1109A", "S1108Z", 6, 0x04},
        CheckCase{"FirstSmallerEndsTheCompare", 1, -1, "A9999Z", "B0000A", 6, 0x00},
        CheckCase{"ImageVersionStartingWithZeroAlwaysGoes", 0, -1, "Z9999Z", "01000A", 6, 0x00},
        CheckCase{"CompareLengthFiveIgnoresTheSixth", 0, -1, "S1108Z", "S1108A", 5, 0x04},
        CheckCase{"CompareLengthFiveNewerFifth", 0, -1, "S1107Z", "S1108A", 5, 0x00},
        CheckCase{"CompareLengthZeroNeverLatest", 0, -1, "S1109A", "S1108A", 0, 0x00},
        CheckCase{"CompareLengthBeyondSixReadsSix", 0, -1, "S1108A", "S1108A", 31, 0x04},
        CheckCase{"LastIdByteOnly", 0, 8, "S1107A", "S1108A", 6, 0x08},
        CheckCase{"LastIdByteAndLatest", 1, 15, "T1209B", "T1208B", 6, 0x0C},
        CheckCase{"EarlierIdByte", 0, 3, "S1107A", "S1108A", 6, 0x10},
        CheckCase{"EarlierIdByteClass1", 1, 14, "S1107A", "S1108A", 6, 0x10}),
    [](const ::testing::TestParamInfo<CheckCase>& i) { return std::string(i.param.name); });

TEST(CheckImageSum, ABlockThatDoesNotAddUpIsRefused) {
  std::vector<uint8_t> hwid(9, 0x11);
  auto b = block(0, hwid, "S1108A", false);
  EXPECT_EQ(firmware::checkImage(b, 0, hwid, "S1107A", 6), firmware::kCheckSumBad);
  EXPECT_EQ(firmware::checkImage(std::span<const uint8_t>(b.data(), 40), 0, hwid, "S1107A", 6),
            firmware::kCheckSumBad);
}

// ---- A port that records what reaches the simulated drive.

class RecordingSimPort : public DevicePort {
 public:
  explicit RecordingSimPort(DevicePort& inner) : inner_(inner) {}
  std::string_view name() const override { return inner_.name(); }
  std::string physicalDrivePath(int n) const override { return inner_.physicalDrivePath(n); }
  IoOutcome queryBusType(const std::string& path, uint8_t& busType) override { return inner_.queryBusType(path, busType); }
  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& request) override {
    ata.push_back(request);
    events.push_back(formatText("ATA %02X", request.currentTaskFile[6]));
    return inner_.ataPassThrough(path, request);
  }
  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& request) override {
    scsi.push_back(request);
    events.push_back(formatText("SCSI %02X", request.cdb[0]));
    return inner_.scsiPassThrough(path, request);
  }
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& request) override {
    return inner_.submitQueued(path, slot, request);
  }
  SlotState pollSlot(int slot) override { return inner_.pollSlot(slot); }
  void drainQueue() override { inner_.drainQueue(); }

  // Register images of DOWNLOAD MICROCODE DMA, from either path.
  struct Segment {
    uint8_t features, count, lbaLow, lbaMid, lbaHigh, device;
    uint32_t length;
    bool dma;
  };
  std::vector<Segment> segments() const {
    std::vector<Segment> out;
    for (const AtaPassThroughRequest& r : ata) {
      const auto& t = r.currentTaskFile;
      if (t[6] == 0x93)
        out.push_back({t[0], t[1], t[2], t[3], t[4], t[5], r.dataTransferLength, (r.ataFlags & kAtaFlagsUseDma) != 0});
    }
    for (const ScsiRequest& r : scsi) {
      const auto& c = r.cdb;
      if (c[0] == 0x85 && c[14] == 0x93)
        out.push_back({c[4], c[6], c[8], c[10], c[12], c[13], r.dataTransferLength, (c[1] & 0x1E) == 0x16});
    }
    return out;
  }
  // F7h features in the order sent.
  std::vector<uint8_t> switches() const {
    std::vector<uint8_t> out;
    for (const AtaPassThroughRequest& r : ata)
      if (r.currentTaskFile[6] == 0xF7) out.push_back(r.currentTaskFile[0]);
    for (const ScsiRequest& r : scsi)
      if (r.cdb[0] == 0x85 && r.cdb[14] == 0xF7) out.push_back(r.cdb[4]);
    return out;
  }

  std::vector<AtaPassThroughRequest> ata;
  std::vector<ScsiRequest> scsi;
  // Commands ("ATA 93", "SCSI 00") and, through PacedClock, sleeps ("sleep
  // 500"), in the order they happened.
  std::vector<std::string> events;

 private:
  DevicePort& inner_;
};

// The operation's clock: every sleep is logged beside the commands, then
// passed on to the bay's manual clock, which is all that moves.
class PacedClock : public Clock {
 public:
  PacedClock(ManualClock& inner, std::vector<std::string>& events) : inner_(inner), events_(events) {}
  TimePoint now() override { return inner_.now(); }
  void sleepFor(std::chrono::milliseconds d) override {
    events_.push_back("sleep " + std::to_string(d.count()));
    inner_.sleepFor(d);
  }
  std::tm localTime() override { return inner_.localTime(); }
  std::tm utcTime() override { return inner_.utcTime(); }

 private:
  ManualClock& inner_;
  std::vector<std::string>& events_;
};

// A simulated bay whose transport goes through a recording port.
struct Bench {
  explicit Bench(int slot) : sim(slot) {
    if (!sim.ok()) return;
    recorder = std::make_unique<RecordingSimPort>(*sim.port);
    clock = std::make_unique<PacedClock>(sim.clock, recorder->events);
    ctx = std::make_unique<Context>(*recorder, sim.ui, *clock, sim.pane);
    ctx->DriveTable = sim.ctx().DriveTable;
    ctx->ucDriveCount = sim.ctx().ucDriveCount;
    ctx->ucSelDrive = sim.ctx().ucSelDrive;
    ctx->fgFamilyDrive = 1;
    ctx->fgVendorCdbEnable = 1;
  }
  DownloadResult download(const std::vector<uint8_t>& image, uint8_t compareLength = 6) {
    firmware::DownloadRequest request;
    request.image = image;
    request.versionCompareLength = compareLength;
    return firmware::downloadFirmware(*ctx, request, progress);
  }
  std::string firmware(int slot) { return driveIn(*sim.bay, slot).identity.firmware; }
  std::vector<std::string> boxes() const {
    std::vector<std::string> out;
    for (const auto& b : sim.ui.boxes) out.push_back(b.text);
    return out;
  }

  struct Progress : ProgressSink {
    void setRange(int, int) override {}
    void setPosition(int p) override { positions.push_back(p); }
    std::vector<int> positions;
  } progress;
  SimFixture sim;
  std::unique_ptr<RecordingSimPort> recorder;
  std::unique_ptr<PacedClock> clock;
  std::unique_ptr<Context> ctx;
};

class DownloadOnBothPaths : public ::testing::TestWithParam<int> {};

// Slot 0: class 0 on SATA (images complemented); slot 1: class 1 behind USB.
TEST_P(DownloadOnBothPaths, UpdatesTheDriveAndWaitsForItsRestart) {
  const int slot = GetParam();
  Bench b(slot);
  ASSERT_TRUE(b.sim.ok()) << b.sim.error;
  const std::string version = slot == 0 ? "S1108A" : "T1209B";
  const std::vector<uint8_t> image = imageFor(*b.sim.bay, slot, version, 3 * 65536 + 1024);
  const std::vector<uint8_t> before = image;
  const auto slept = b.sim.clock.totalSlept();

  DownloadResult r = b.download(image);
  EXPECT_EQ(r.verdict, DownloadVerdict::Updated) << b.sim.pane.text();
  EXPECT_TRUE(r.updated());
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(image, before);

  // Four segments: three full ones and the two-block rest, at their offsets.
  auto segs = b.recorder->segments();
  ASSERT_EQ(segs.size(), 4u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(segs[i].features, 0x03);
    EXPECT_EQ(segs[i].count, 0x80);
    EXPECT_EQ(segs[i].lbaLow, 0x00);
    EXPECT_EQ(segs[i].lbaMid, static_cast<uint8_t>(i * 0x80));
    EXPECT_EQ(segs[i].lbaHigh, static_cast<uint8_t>(i * 0x80 >> 8));
    EXPECT_EQ(segs[i].device, 0x40);
    EXPECT_EQ(segs[i].length, 65536u);
    EXPECT_TRUE(segs[i].dma);
  }
  EXPECT_EQ(segs[3].count, 2);
  EXPECT_EQ(segs[3].lbaMid, 0x80);
  EXPECT_EQ(segs[3].lbaHigh, 0x01);
  EXPECT_EQ(segs[3].length, 1024u);
  EXPECT_EQ(b.progress.positions, (std::vector<int>{33, 66, 99, 100}));

  // The drive restarted: the ready wait polled through its NOT READY time.
  EXPECT_GE(b.sim.clock.totalSlept() - slept, std::chrono::milliseconds(2000 + 4 * 300));
  const std::string pane = b.sim.pane.text();
  EXPECT_TRUE(contains(pane, "Time Stamp: 2025 0115 0930\r\n")) << pane;
  EXPECT_TRUE(contains(pane, "Ext Time Stamp: 0001 A2B3\r\n"));
  EXPECT_TRUE(contains(pane, "Check Sum of HWID: "));
  EXPECT_TRUE(contains(pane, "Check Sum of Main: "));
  EXPECT_TRUE(contains(pane, "Downloading......\r\n"));
  EXPECT_TRUE(contains(pane, "Update FW Done.\r\nPlease Power Off SSD and Power Up again.\n"));
  EXPECT_FALSE(contains(pane, "Update Fail"));
  EXPECT_EQ(b.boxes(), (std::vector<std::string>{"Update FW Done.\r\nPlease Power Off SSD and Power Up again."}));

  // IDENTIFY and the Info SSD record report the new version.
  EXPECT_EQ(b.firmware(slot).substr(0, 6), version);
  InfoSsdRecord record;
  ASSERT_TRUE(ReadInfoSsd(*b.ctx, record).ok());
  EXPECT_EQ(record.firmwareVersion(), version);
  AtaTaskFile tf;
  tf.ucCommand = 0xEC;
  tf.ucCount = 1;
  tf.ucDevice = 0x40;
  ASSERT_TRUE(SendAtaCommand(*b.ctx, false, tf, false, 512));
  char fw[9] = {};
  for (int i = 0; i < 8; i += 2) {
    fw[i] = static_cast<char>(b.ctx->SectorBuffer[46 + i + 1]);
    fw[i + 1] = static_cast<char>(b.ctx->SectorBuffer[46 + i]);
  }
  EXPECT_EQ(std::string(fw, 6), version);

  // The same image again is not newer.
  b.sim.ui.boxes.clear();
  r = b.download(image);
  EXPECT_EQ(r.verdict, DownloadVerdict::FwIsLatest);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(b.boxes(), (std::vector<std::string>{"Drive Fw Version: " + version.substr(0, 4) + "\r\nFW is the Latest\r\n"}));
}

INSTANTIATE_TEST_SUITE_P(Slots, DownloadOnBothPaths, ::testing::Values(0, 1));

TEST(Download, OneFullSegmentIsCount80hLbaLow0) {
  Bench b(0);
  ASSERT_TRUE(b.sim.ok()) << b.sim.error;
  DownloadResult r = b.download(imageFor(*b.sim.bay, 0, "S1108A", 65536));
  EXPECT_TRUE(r.updated());
  auto segs = b.recorder->segments();
  ASSERT_EQ(segs.size(), 1u);
  EXPECT_EQ(segs[0].count, 0x80);
  EXPECT_EQ(segs[0].lbaLow, 0x00);
  EXPECT_EQ(segs[0].lbaMid, 0x00);
}

// Every stop before the transfer: the verdict, the reply window's text,
// nothing sent, the image untouched and the drive's firmware as it was.
struct RefusalCase {
  const char* name;
  int slot;
  std::function<std::vector<uint8_t>(sim::SimBay&, int)> image;
  DownloadVerdict verdict;
  const char* reply;
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, SendsNothingAndKeepsTheImage) {
  const RefusalCase& c = GetParam();
  Bench b(c.slot);
  ASSERT_TRUE(b.sim.ok()) << b.sim.error;
  const std::string firmwareBefore = b.firmware(c.slot);
  const std::vector<uint8_t> image = c.image(*b.sim.bay, c.slot);
  const std::vector<uint8_t> before = image;
  DownloadResult r = b.download(image);
  EXPECT_EQ(r.verdict, c.verdict) << firmware::downloadVerdictName(r.verdict);
  EXPECT_EQ(r.code, 2);
  EXPECT_FALSE(r.updated());
  EXPECT_EQ(b.boxes(), (std::vector<std::string>{c.reply}));
  EXPECT_TRUE(b.recorder->segments().empty());
  EXPECT_TRUE(b.recorder->switches().empty());
  EXPECT_EQ(image, before);
  EXPECT_EQ(b.firmware(c.slot), firmwareBefore);
}

std::vector<uint8_t> otherHardware(sim::SimBay& bay, int slot) {
  sim::DriveRecord d = driveIn(bay, slot);
  std::vector<uint8_t> id = hwidOf(d);
  id[1] ^= 0x40;
  return storedForm(d.identity.modelClass, plainImage(d.identity.modelClass, id, "S1199A"));
}

std::vector<uint8_t> brokenSum(sim::SimBay& bay, int slot) {
  sim::DriveRecord d = driveIn(bay, slot);
  uint16_t cls = d.identity.modelClass;
  std::vector<uint8_t> plain = plainImage(cls, hwidOf(d), "S1199A");
  size_t h = *firmware::identityBlockPosition(plain, cls);
  plain[h + 20] ^= 0x01;
  return storedForm(cls, plain);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refusal,
    ::testing::Values(
        RefusalCase{"OtherHardwareClass0", 0, otherHardware, DownloadVerdict::FwIdError, "FW ID Error\r\n"},
        RefusalCase{"OtherHardwareClass1", 1, otherHardware, DownloadVerdict::FwIdError, "FW ID Error\r\n"},
        RefusalCase{"SumClass0", 0, brokenSum, DownloadVerdict::ChecksumError, "Check Sum Error\r\n"},
        RefusalCase{"SumClass1", 1, brokenSum, DownloadVerdict::ChecksumError, "Check Sum Error\r\n"},
        RefusalCase{"Empty", 1,
                    [](sim::SimBay&, int) { return std::vector<uint8_t>(); }, DownloadVerdict::ImageSizeError,
                    "Image Size Error: 0 bytes is not a whole number of 512-byte blocks up to 33554432\r\n"},
        RefusalCase{"IdentityBlockBeyondTheEnd", 0,
                    [](sim::SimBay&, int) {
                      std::vector<uint8_t> plain(1024, 0xFF);
                      plain[8] = 0xF0;  // H = 48 + 3F0h: the block would run past the image
                      plain[9] = 0x03;
                      return storedForm(0, plain);
                    },
                    DownloadVerdict::ChecksumError, "Check Sum Error\r\n"},
        RefusalCase{"PartialLastBlock", 0,
                    [](sim::SimBay& bay, int slot) {
                      std::vector<uint8_t> img = imageFor(bay, slot, "S1199A");
                      img.resize(img.size() - 100);
                      return img;
                    },
                    DownloadVerdict::ImageSizeError,
                    "Image Size Error: 65436 bytes is not a whole number of 512-byte blocks up to 33554432\r\n"}),
    [](const ::testing::TestParamInfo<RefusalCase>& i) { return std::string(i.param.name); });

TEST(Download, DriveErrorWhenTheInfoSsdSectorIsRefused) {
  Bench b(0);
  ASSERT_TRUE(b.sim.ok()) << b.sim.error;
  std::string err;
  ASSERT_TRUE(b.sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0xE8}, err)) << err;
  DownloadResult r = b.download(imageFor(*b.sim.bay, 0, "S1108A"));
  EXPECT_EQ(r.verdict, DownloadVerdict::DriveError);
  EXPECT_EQ(b.boxes(), (std::vector<std::string>{"Drive Error\r\n"}));
  EXPECT_TRUE(b.recorder->segments().empty());
}

TEST(Download, RewritesTheHwidLastByteThenDownloadsWhateverTheVersions) {
  for (int slot : {0, 1}) {
    SCOPED_TRACE(slot);
    Bench b(slot);
    ASSERT_TRUE(b.sim.ok()) << b.sim.error;
    sim::DriveRecord d = driveIn(*b.sim.bay, slot);
    const uint16_t cls = d.identity.modelClass;
    std::vector<uint8_t> id = hwidOf(d);
    id.back() = 0xA7;
    // An older version than the drive's: the HWID rewrite skips the compare.
    std::vector<uint8_t> image = storedForm(cls, plainImage(cls, id, cls == 0 ? "S1100A" : "T1200B"));
    DownloadResult r = b.download(image);
    EXPECT_TRUE(r.updated()) << firmware::downloadVerdictName(r.verdict) << b.sim.pane.text();
    EXPECT_EQ(r.checkBits & firmware::kCheckIdLastByte, firmware::kCheckIdLastByte);
    EXPECT_EQ(b.recorder->switches(), (std::vector<uint8_t>{0x16, 0x17, 0x1B}));
    EXPECT_EQ(hwidOf(driveIn(*b.sim.bay, slot)), id);
    EXPECT_EQ(b.firmware(slot).substr(0, 6), cls == 0 ? "S1100A" : "T1200B");
  }
}

// A refused segment is sent again after 500 ms; once the drive has taken it
// and comes back with the new version, the update is done: the earlier
// refusal left nothing behind.
TEST(Download, ASegmentTakenOnItsRetryIsAnUpdate) {
  Bench b(0);
  ASSERT_TRUE(b.sim.ok()) << b.sim.error;
  std::string err;
  ASSERT_TRUE(b.sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0x93, .count = 1}, err));
  DownloadResult r = b.download(imageFor(*b.sim.bay, 0, "S1108A", 2 * 65536));
  EXPECT_EQ(r.verdict, DownloadVerdict::Updated) << b.sim.pane.text();
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.updated());
  EXPECT_EQ(b.recorder->segments().size(), 3u);  // the first one twice
  const std::string pane = b.sim.pane.text();
  EXPECT_TRUE(contains(pane, "\nATA Command Fail\nUpdate FW Done.\r\nPlease Power Off SSD and Power Up again.\n"))
      << pane;
  EXPECT_FALSE(contains(pane, "Update Fail"));
  EXPECT_EQ(b.boxes(), (std::vector<std::string>{std::string(firmware::kUpdateDoneText)}));
  EXPECT_EQ(b.firmware(0), "S1108A0C");

  // The pauses: 500 ms between a refusal and the retry, 300 ms after every
  // segment taken.
  const std::vector<std::string>& e = b.recorder->events;
  auto first = std::find(e.begin(), e.end(), "ATA 93");
  ASSERT_GE(std::distance(first, e.end()), 6);
  EXPECT_EQ(std::vector<std::string>(first, first + 6),
            (std::vector<std::string>{"ATA 93", "sleep 500", "ATA 93", "sleep 300", "ATA 93", "sleep 300"}));
}

TEST(Download, TheRetryLineSaysWhyTheSegmentFailed) {
  Bench b(0);
  ASSERT_TRUE(b.sim.ok()) << b.sim.error;
  std::string err;
  ASSERT_TRUE(
      b.sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Timeout, .opcode = 0x93, .count = 1}, err));
  b.download(imageFor(*b.sim.bay, 0, "S1108A", 65536));
  const std::string pane = b.sim.pane.text();
  EXPECT_TRUE(contains(pane, "ATA Command Fail\nCause: time-out: the drive did not answer\n")) << pane;
}

TEST(Download, TenFailedAttemptsStopTheTransfer) {
  Bench b(1);
  ASSERT_TRUE(b.sim.ok()) << b.sim.error;
  std::string err;
  ASSERT_TRUE(b.sim.bay->addFault(1, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0x93, .count = 10}, err));
  const std::string before = b.firmware(1);
  std::vector<uint8_t> image = imageFor(*b.sim.bay, 1, "T1209B");
  DownloadResult r = b.download(image);
  EXPECT_EQ(r.verdict, DownloadVerdict::RetriesExhausted);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(b.recorder->segments().size(), 10u);
  const std::string pane = b.sim.pane.text();
  size_t fails = 0;
  for (size_t at = 0; (at = pane.find("ATA Command Fail\n", at)) != std::string::npos; ++at) ++fails;
  EXPECT_EQ(fails, 10u);
  EXPECT_TRUE(contains(pane, "Retry 10 Times, Exit\n"));
  EXPECT_FALSE(contains(pane, "Update FW Done."));
  // The failure has its box, as a success has, and the bar is back at 0.
  ASSERT_FALSE(b.sim.ui.boxes.empty());
  EXPECT_EQ(b.sim.ui.boxes.back().text, "Retry 10 Times, Exit\r\n" + std::string(firmware::kUpdateFailedText));
  EXPECT_EQ(b.sim.ui.boxes.back().icon, BoxIcon::Stop);
  ASSERT_FALSE(b.progress.positions.empty());
  EXPECT_EQ(b.progress.positions.back(), 0);
  EXPECT_EQ(b.firmware(1), before);
}

TEST(Download, ADriveThatStaysNotReadyTimesOut) {
  Bench b(0);
  ASSERT_TRUE(b.sim.ok()) << b.sim.error;
  b.sim.bay->controller(0)->withDrive([](sim::SimDrive& d) { d.vendorState()["microcode"]["restartMs"] = 60000; });
  DownloadResult r = b.download(imageFor(*b.sim.bay, 0, "S1108A"));
  EXPECT_EQ(r.verdict, DownloadVerdict::NotReady);
  EXPECT_EQ(r.code, 0);
  const std::string pane = b.sim.pane.text();
  EXPECT_TRUE(contains(pane, "Over 20 Seconds\nTime Out\nUpdate Fail\n")) << pane;
  EXPECT_EQ(b.boxes(), (std::vector<std::string>{std::string(firmware::kUpdateFailedText)}));
}

// After the transfer the drive must come back ready and name the image's
// version. A drive that answers TEST UNIT READY with an error, or not at
// all, or comes back with its old firmware, has not been updated.
struct RestartCase {
  const char* name;
  int slot;
  std::optional<sim::Fault> fault;
  size_t imageSize;  // of an image whose identity block says 4 segments
  DownloadVerdict verdict;
  const char* cause;  // the pane line before "Time Out"
};

class AfterTheTransfer : public ::testing::TestWithParam<RestartCase> {};

TEST_P(AfterTheTransfer, OnlyADriveReadyWithTheNewVersionIsUpdated) {
  const RestartCase& c = GetParam();
  Bench b(c.slot);
  ASSERT_TRUE(b.sim.ok()) << b.sim.error;
  std::string err;
  if (c.fault) {
    ASSERT_TRUE(b.sim.bay->addFault(c.slot, *c.fault, err)) << err;
  }
  const std::string version = c.slot == 0 ? "S1108A" : "T1209B";
  std::vector<uint8_t> image = imageFor(*b.sim.bay, c.slot, version, 4 * 65536);
  image.resize(c.imageSize);
  DownloadResult r = b.download(image);
  EXPECT_EQ(r.verdict, c.verdict) << firmware::downloadVerdictName(r.verdict) << b.sim.pane.text();
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(r.updated());
  const std::string pane = b.sim.pane.text();
  EXPECT_TRUE(contains(pane, std::string(c.cause) + "\nTime Out\nUpdate Fail\n")) << pane;
  EXPECT_FALSE(contains(pane, "Update FW Done."));
  EXPECT_EQ(b.boxes(), (std::vector<std::string>{std::string(firmware::kUpdateFailedText)}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AfterTheTransfer,
    ::testing::Values(
        RestartCase{"TestUnitReadyAnswers4h44h00h", 0,
                    sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0x00, .count = 2, .senseKey = 0x04, .asc = 0x44},
                    4 * 65536, DownloadVerdict::NotReady, "Drive Not Ready"},
        RestartCase{"TestUnitReadyTimesOutBehindUsb", 1,
                    sim::Fault{.kind = sim::FaultKind::Timeout, .opcode = 0x00, .count = 2}, 4 * 65536,
                    DownloadVerdict::NotReady, "Drive Not Ready"},
        // One segment of four: the drive never activates it and stays ready
        // with its old firmware.
        RestartCase{"OldVersionAfterAnImageCutShort", 0, std::nullopt, 65536, DownloadVerdict::VersionNotTaken,
                    "Drive Fw Version: S1107A, Image: S1108A"}),
    [](const ::testing::TestParamInfo<RestartCase>& i) { return std::string(i.param.name); });

TEST(Download, OptionSwitchesGoInOrderAndARefusalStops) {
  Bench b(0);
  ASSERT_TRUE(b.sim.ok()) << b.sim.error;
  StringSink box;
  firmware::DownloadSwitches all{true, true, true, true};
  EXPECT_TRUE(firmware::sendDownloadSwitches(*b.ctx, all, box));
  EXPECT_EQ(box.text(),
            "Disable Power Down\r\nEnable Abnormal Debug\r\nEnable RS232\r\nEnable Skip Model Name Check\r\n");
  EXPECT_EQ(b.recorder->switches(), (std::vector<uint8_t>{0x60, 0xD0, 0xC0, 0x53}));

  box.clear();
  std::string err;
  ASSERT_TRUE(b.sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0xF7, .count = 1}, err));
  firmware::DownloadSwitches two{false, true, false, true};
  EXPECT_FALSE(firmware::sendDownloadSwitches(*b.ctx, two, box));
  EXPECT_EQ(box.text(), "Enable Abnormal Debug Fail\r\n");
}

TEST(Download, ClearSmartAndPreRb3) {
  Bench b(1);
  ASSERT_TRUE(b.sim.ok()) << b.sim.error;
  StringSink box;
  EXPECT_TRUE(firmware::clearSmartData(*b.ctx, box));
  EXPECT_TRUE(firmware::preReboot(*b.ctx, box));
  EXPECT_EQ(box.text(), "Clear SMART Done\r\nPreRB3 Done\r\n");
  EXPECT_EQ(b.boxes(), (std::vector<std::string>{"Please Turn Off Drive Immediately"}));
  EXPECT_EQ(driveIn(*b.sim.bay, 1).vendor["upkeep"]["preReboot"], "80/00");

  std::string err;
  ASSERT_TRUE(b.sim.bay->addFault(1, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0xE8, .count = 2}, err));
  box.clear();
  b.sim.ui.boxes.clear();
  EXPECT_FALSE(firmware::clearSmartData(*b.ctx, box));
  EXPECT_FALSE(firmware::preReboot(*b.ctx, box));
  EXPECT_EQ(box.text(), "Clear SMART Fail\r\nPreRB3 Fail\r\n");
  EXPECT_TRUE(b.boxes().empty());
}

}  // namespace
}  // namespace zorv::fwdl
