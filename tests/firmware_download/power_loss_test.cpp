// Power lost in the middle of a firmware download, at every segment: the
// drive comes back with its old firmware, the tool reports the failure and
// never the new version, and a second update after the power-on succeeds.
// Both ways to an image (a package row, a raw image file) on both buses.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "diagnostics/info_ssd.h"
#include "firmware/download.h"
#include "firmware/package_download.h"
#include "firmware/package_session.h"
#include "fwdl_support.h"
#include "transport/device_port.h"

namespace zorv::fwdl {
namespace {

using firmware::DownloadVerdict;
using test::SimFixture;

// Two full segments and a two-block rest: the power can go at segment 1, 2 or 3.
constexpr size_t kImageSize = 2 * 65536 + 1024;
constexpr uint32_t kSegments = 3;

enum class Source { Package, Bin };

struct PowerLossCase {
  int slot;  // 0: class 0 on SATA; 1: class 1 behind a USB bridge
  Source source;
  uint32_t segment;
};

std::string caseName(const ::testing::TestParamInfo<PowerLossCase>& i) {
  const PowerLossCase& c = i.param;
  return std::string(c.slot == 0 ? "Sata" : "Usb") + (c.source == Source::Package ? "Package" : "Bin") + "Segment" +
         std::to_string(c.segment);
}

std::vector<PowerLossCase> everyBoundary() {
  std::vector<PowerLossCase> cases;
  for (int slot : {0, 1})
    for (Source source : {Source::Package, Source::Bin})
      for (uint32_t s = 1; s <= kSegments; ++s) cases.push_back({slot, source, s});
  return cases;
}

struct Progress : ProgressSink {
  void setRange(int, int) override {}
  void setPosition(int p) override { positions.push_back(p); }
  std::vector<int> positions;
};

class PowerLossDuringDownload : public ::testing::TestWithParam<PowerLossCase> {
 protected:
  void SetUp() override {
    const PowerLossCase& c = GetParam();
    ASSERT_TRUE(sim.select(c.slot)) << sim.error;
    sim.ctx().fgFamilyDrive = 1;
    sim.ctx().fgVendorCdbEnable = 1;
    const sim::DriveRecord d = driveIn(*sim.bay, c.slot);
    cls = d.identity.modelClass;
    oldFirmware = d.identity.firmware;
    newVersion = c.slot == 0 ? "S1108A" : "T1209B";
    const std::vector<uint8_t> plain = plainImage(cls, hwidOf(d), newVersion, kImageSize);
    if (c.source == Source::Package) {
      std::vector<uint8_t> other(cls == 1 ? 16 : 9, 0x77);
      path = sim.dir.file("update package.qz");
      writeBytes(path, packageOf(cls, {{other, "PM480", plainImage(cls, other, "S9000A", 4096)},
                                       {hwidOf(d), c.slot == 0 ? "PA256" : "TA512", plain}}));
    } else {
      path = sim.dir.file("update image.bin");
      writeBytes(path, storedForm(cls, plain));
    }
  }

  // What the tab's start does with the package's row for this drive or with
  // the opened file.
  std::optional<firmware::DownloadResult> update() {
    StringSink box;
    progress.positions.clear();
    std::vector<uint8_t> bytes;
    firmware::QzPackageTab tab;
    std::span<const uint8_t> image;
    if (GetParam().source == Source::Package) {
      if (!tab.loadFile(sim.ctx(), path, box)) return std::nullopt;
      std::optional<int> row = firmware::chooseQzRowForDrive(sim.ctx(), tab, box);
      if (!row) return std::nullopt;
      image = tab.image(*row);
    } else {
      std::optional<std::vector<uint8_t>> read = firmware::readBinFile(sim.ctx(), path, box);
      if (!read) return std::nullopt;
      bytes = std::move(*read);
      image = bytes;
    }
    firmware::TabDownloadResult r = firmware::runTabDownload(sim.ctx(), image, {}, box, progress);
    return r.download;
  }

  std::string versionReported() {
    InfoSsdRecord record;
    if (!ReadInfoSsd(sim.ctx(), record).ok()) return "(no record)";
    return record.firmwareVersion();
  }

  SimFixture sim{-1};
  Progress progress;
  uint16_t cls = 0;
  std::string oldFirmware;
  std::string newVersion;
  std::string path;
};

TEST_P(PowerLossDuringDownload, OldFirmwareRunsAndTheSecondUpdateSucceeds) {
  const PowerLossCase& c = GetParam();
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::string error;
  ASSERT_TRUE(sim.bay->addFault(c.slot, sim::Fault{.kind = sim::FaultKind::PowerLoss, .count = c.segment}, error))
      << error;

  // The power goes: a failure with its text, never success, never the new version.
  std::optional<firmware::DownloadResult> r = update();
  ASSERT_TRUE(r.has_value()) << sim.pane.text();
  EXPECT_FALSE(r->updated());
  EXPECT_EQ(r->verdict, DownloadVerdict::RetriesExhausted) << sim.pane.text();
  EXPECT_EQ(r->messageText, "Retry 10 Times, Exit\r\n" + std::string(firmware::kUpdateFailedText));
  ASSERT_FALSE(sim.ui.boxes.empty());
  EXPECT_EQ(sim.ui.boxes.back().text, r->messageText);
  EXPECT_EQ(sim.ui.boxes.back().icon, BoxIcon::Stop);
  EXPECT_FALSE(contains(sim.pane.text(), "Update FW Done."));
  EXPECT_FALSE(contains(sim.pane.text(), newVersion));
  // The segments before the one the power took were taken, each counted
  // once on either bus; then the bar went back to 0.
  ASSERT_FALSE(progress.positions.empty());
  EXPECT_EQ(progress.positions.back(), 0);
  EXPECT_EQ(progress.positions.size() - 1, c.segment - 1);

  // The drive stays off until it is powered on again.
  sim::BayRecord bay;
  ASSERT_TRUE(sim.bay->snapshot(bay, error)) << error;
  EXPECT_FALSE(bay.slots[static_cast<size_t>(c.slot)].plugged);
  EXPECT_TRUE(bay.slots[static_cast<size_t>(c.slot)].drive->faults.empty());
  EXPECT_EQ(versionReported(), "(no record)");

  // Powered on: the old firmware runs.
  ASSERT_TRUE(sim.bay->plug(c.slot, error)) << error;
  EXPECT_EQ(driveIn(*sim.bay, c.slot).identity.firmware, oldFirmware);
  EXPECT_EQ(versionReported(), oldFirmware.substr(0, 6));

  // The second update takes.
  sim.ui.boxes.clear();
  r = update();
  ASSERT_TRUE(r.has_value()) << sim.pane.text();
  EXPECT_TRUE(r->updated()) << sim.pane.text();
  EXPECT_EQ(r->messageText, firmware::kUpdateDoneText);
  EXPECT_EQ(driveIn(*sim.bay, c.slot).identity.firmware, newVersion + oldFirmware.substr(6, 2));
  EXPECT_EQ(versionReported(), newVersion);
}

INSTANTIATE_TEST_SUITE_P(EverySegment, PowerLossDuringDownload, ::testing::ValuesIn(everyBoundary()), caseName);

// The power goes after the last segment was taken, before the drive moved
// on to the new image (the host's next command starts it): the complete
// image dies with the controller's memory, the tool waits in vain for the
// new version and says so, and the old firmware runs after the power-on.
class UnplugAfterSegments : public DevicePort {
 public:
  UnplugAfterSegments(DevicePort& inner, sim::SimBay& bay, int slot, int segments)
      : inner_(inner), bay_(bay), slot_(slot), left_(segments) {}
  std::string_view name() const override { return inner_.name(); }
  std::string physicalDrivePath(int n) const override { return inner_.physicalDrivePath(n); }
  IoOutcome queryBusType(const std::string& path, uint8_t& busType) override { return inner_.queryBusType(path, busType); }
  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& request) override {
    const bool segment = request.currentTaskFile[6] == 0x93;  // before the reply overwrites the registers
    IoOutcome o = inner_.ataPassThrough(path, request);
    if (segment) segmentDone();
    return o;
  }
  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& request) override {
    IoOutcome o = inner_.scsiPassThrough(path, request);
    if (request.cdb[0] == 0x85 && request.cdb[14] == 0x93) segmentDone();
    return o;
  }
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& request) override {
    return inner_.submitQueued(path, slot, request);
  }
  SlotState pollSlot(int slot) override { return inner_.pollSlot(slot); }
  void drainQueue() override { inner_.drainQueue(); }

 private:
  void segmentDone() {
    std::string error;
    if (--left_ == 0) {
      EXPECT_TRUE(bay_.unplug(slot_, error)) << error;
    }
  }
  DevicePort& inner_;
  sim::SimBay& bay_;
  int slot_;
  int left_;
};

TEST(PowerLossAfterTheLastSegment, TheImageIsLostAndTheToolSaysTheUpdateFailed) {
  for (int slot : {0, 1}) {
    SCOPED_TRACE(slot);
    SimFixture sim(slot);
    ASSERT_TRUE(sim.ok()) << sim.error;
    const std::string before = driveIn(*sim.bay, slot).identity.firmware;
    const std::string version = slot == 0 ? "S1108A" : "T1209B";
    const std::vector<uint8_t> image = imageFor(*sim.bay, slot, version, kImageSize);
    UnplugAfterSegments port(*sim.port, *sim.bay, slot, static_cast<int>(kSegments));
    Context ctx(port, sim.ui, sim.clock, sim.pane);
    ctx.DriveTable = sim.ctx().DriveTable;
    ctx.ucDriveCount = sim.ctx().ucDriveCount;
    ctx.ucSelDrive = sim.ctx().ucSelDrive;
    ctx.fgFamilyDrive = 1;
    ctx.fgVendorCdbEnable = 1;
    Progress progress;
    firmware::DownloadRequest request;
    request.image = image;

    firmware::DownloadResult r = firmware::downloadFirmware(ctx, request, progress);
    EXPECT_FALSE(r.updated());
    EXPECT_EQ(r.verdict, DownloadVerdict::NotReady) << sim.pane.text();
    EXPECT_EQ(r.messageText, firmware::kUpdateFailedText);
    EXPECT_FALSE(contains(sim.pane.text(), "Update FW Done."));

    std::string error;
    ASSERT_TRUE(sim.bay->plug(slot, error)) << error;
    EXPECT_EQ(driveIn(*sim.bay, slot).identity.firmware, before);
    r = firmware::downloadFirmware(sim.ctx(), request, progress);
    EXPECT_TRUE(r.updated()) << sim.pane.text();
    EXPECT_EQ(driveIn(*sim.bay, slot).identity.firmware.substr(0, 6), version);
  }
}

}  // namespace
}  // namespace zorv::fwdl
