// The volume test tab and its windows, offscreen, on a simulated family drive
// whose media is a loop device with a mounted ext4. Needs root and loop
// devices; skipped without them.

#include <gtest/gtest.h>

#include <fstream>

#include "app/lgrw_page.h"
#include "app/qt_environment.h"
#include "sim/sim_bay.h"
#include "support/loop_volume.h"
#include "support/sim_fixture.h"

namespace zorv::app {
namespace {

using test::pumpUntil;

// Keeps the message boxes instead of showing them.
class KeepingUi : public QtUserInterface {
 public:
  void messageBox(std::string_view text, BoxIcon, std::string_view) override { boxes.emplace_back(text); }
  std::vector<std::string> boxes;
};

sim::BayRecord bayOn(const test::LoopVolume& volume) {
  sim::BayRecord record = sim::SimBay::defaultBay();
  if (!volume.ok()) return record;
  sim::DriveRecord& d = *record.slots[0].drive;
  d.media.kind = sim::MediaKind::File;
  d.media.path = volume.device();
  d.identity.capacity = volume.bytes() / 512;
  d.latency = sim::LatencyModel{};
  return record;
}

struct LgrwFixture : ::testing::Test {
  LgrwFixture()
      : paneBox(QtMessageSink::makeTextBox(nullptr)),
        pane(paneBox),
        runner(sim.ctx(), driveList),
        services{sim.ctx(), ui, pane, driveList, nullptr, runner, ""},
        page(services) {}
  ~LgrwFixture() override {
    for (CLGRWSUB* w : page.openWindows()) w->close();
    delete paneBox;
  }
  std::string script(const char* name, const char* text) {
    const std::string path = sim.dir.file(name);
    std::ofstream(path) << text;
    return path;
  }

  test::LoopVolume volume{64 << 20};
  test::SimFixture sim{bayOn(volume), 0};
  KeepingUi ui;
  QPlainTextEdit* paneBox;
  QtMessageSink pane;
  DriveListModel driveList;
  OperationRunner runner;
  PageServices services;
  CLgrw page;
};

TEST_F(LgrwFixture, ParseLoadRunAndCloseAWindowPerVolume) {
  if (!volume.ok()) GTEST_SKIP() << volume.skipReason;
  ASSERT_TRUE(sim.ok()) << sim.error;
  EXPECT_TRUE(page.findChild<QPushButton*>("test")->isHidden());
  page.parseVolumes();
  ASSERT_EQ(page.list()->topLevelItemCount(), 1);
  EXPECT_EQ(page.list()->topLevelItem(0)->text(4).toStdString(), volume.mountPoint());
  EXPECT_FALSE(page.runButton()->isEnabled()) << "no script yet";

  // A bad script changes nothing and says why.
  EXPECT_FALSE(page.loadScript(script("bad.sc3", "File Size: 64 KB\nRange Size: 8 MB\n")));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0], "the script has no \"Total Write Capacity:\"");
  EXPECT_EQ(page.list()->columnCount(), 6);
  EXPECT_FALSE(page.runButton()->isEnabled());

  ASSERT_TRUE(page.loadScript(
      script("good.sc3", "Range Size: 4 MB\nTotal Write Capacity: 1 MB\nFile Size: 32 KB\nSequence: true\n")));
  EXPECT_EQ(page.scriptName()->text(), "good.sc3");
  EXPECT_EQ(page.list()->columnCount(), 10);
  EXPECT_EQ(page.list()->headerItem()->text(6), "Rnage Sector");
  EXPECT_EQ(page.list()->topLevelItem(0)->text(6), "8192");
  ASSERT_TRUE(pumpUntil([&] { return page.box().text().contains("RangeSize: 0x400000 BYTE"); }));

  page.runButton()->click();
  std::vector<CLGRWSUB*> windows = page.openWindows();
  ASSERT_EQ(windows.size(), 1u);
  CLGRWSUB* w = windows[0];
  EXPECT_TRUE(w->windowTitle().startsWith(QString::fromStdString(volume.mountPoint() + " <")));
  EXPECT_FALSE(page.parsingDriveButton()->isEnabled()) << "no parse deletes a running test's file";
  ASSERT_TRUE(pumpUntil([&] { return w->box().text().contains("Job done."); }, std::chrono::seconds(30)))
      << w->box().text().toStdString();
  EXPECT_TRUE(w->run().passed());
  EXPECT_EQ(w->progressBar()->value(), 100);
  w->close();
  ASSERT_TRUE(pumpUntil([&] { return page.parsingDriveButton()->isEnabled(); }));
  EXPECT_TRUE(page.runButton()->isEnabled());
}

TEST_F(LgrwFixture, AScriptBeyondTheFreeSpaceStartsNoWindow) {
  if (!volume.ok()) GTEST_SKIP() << volume.skipReason;
  ASSERT_TRUE(sim.ok()) << sim.error;
  page.parseVolumes();
  ASSERT_TRUE(page.loadScript(
      script("big.sc3", "Range Size: 1 GB\nTotal Write Capacity: 1 MB\nFile Size: 32 KB\nSequence: true\n")));
  page.runButton()->click();
  EXPECT_TRUE(page.openWindows().empty());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].find("Disk " + volume.mountPoint() + ": the script needs"), std::string::npos) << ui.boxes[0];
}

}  // namespace
}  // namespace zorv::app
