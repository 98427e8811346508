// The multi-run tab and its drive windows on a simulated bay of two small
// family drives, and the speed report viewer tab.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineSeries>
#include <QTest>

#include <fstream>
#include <string>

#include "app/multi_run_page.h"
#include "app/qt_environment.h"
#include "app/speed_report_page.h"
#include "support/sim_fixture.h"

namespace zorv::app {
namespace {

using test::pumpUntil;

std::string example(const std::string& name) { return std::string(ZORV_SOURCE_DIR) + "/examples/workload/" + name; }

sim::BayRecord smallBay() {
  sim::BayRecord bay = sim::SimBay::defaultBay();
  bay.slots[0].drive->identity.capacity = 0x20000;
  bay.slots[1].drive->identity.capacity = 0x20000;
  return bay;
}

struct Pages : ::testing::Test {
  Pages()
      : paneBox(QtMessageSink::makeTextBox(nullptr)),
        pane(paneBox),
        runner(sim.ctx(), driveList),
        services{sim.ctx(), ui, pane, driveList, nullptr, runner, sim.dir.file("mountinfo")} {
    sim.select(0);
    sim.add(1);
  }
  ~Pages() override { delete paneBox; }

  QStringList headers(QTreeWidget* list) {
    QStringList h;
    for (int i = 0; i < list->columnCount(); ++i) h << list->headerItem()->text(i);
    return h;
  }

  test::SimFixture sim{smallBay(), -1};
  QtUserInterface ui;
  QPlainTextEdit* paneBox;
  QtMessageSink pane;
  DriveListModel driveList;
  OperationRunner runner;
  PageServices services;
};

TEST_F(Pages, MultiRunTabListsDrivesAndKeepsThePercentagesAtAHundred) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  CMultiRun tab(services);
  tab.onGetDrive();
  ASSERT_EQ(tab.list()->topLevelItemCount(), 2);
  EXPECT_EQ(headers(tab.list()), (QStringList{"Device ID", "Serial Num", "Physical Drive", "Capacity", "Rsv Boundary",
                                              "Seq Boundary", "Rdn Boundary"}));
  EXPECT_EQ(tab.list()->topLevelItem(0)->text(4), "6668");
  EXPECT_EQ(tab.reserveText()->text(), "20");

  tab.sequentialCombo()->setCurrentIndex(60);
  Q_EMIT tab.sequentialCombo()->activated(60);
  EXPECT_EQ(tab.randomCombo()->count(), 41);
  EXPECT_EQ(tab.randomCombo()->currentText(), "40") << "the last entry is chosen";
  EXPECT_EQ(tab.reserveText()->text(), "0");
  EXPECT_EQ(tab.list()->topLevelItem(0)->text(4), "0");

  QTest::keyClicks(tab.loopEdit(), "2x");
  EXPECT_EQ(tab.loopEdit()->text(), "") << "a character other than a digit clears the edit";

  const std::string bad = sim.dir.file("too much.txt");
  std::ofstream(bad) << "Need Read Back: TRUE\nLen 512 : 100%\nGap 5% : 60%\nGap 95% : 60%\nLoop      : 1\n";
  EXPECT_FALSE(tab.openJesdScript(bad));
  EXPECT_TRUE(tab.messageBox()->toPlainText().contains("The \"Gap\" shares sum to 120 %, more than 100 %"))
      << tab.messageBox()->toPlainText().toStdString();
  EXPECT_EQ(headers(tab.list()).size(), 7) << "a refused script leaves the list as it was";
}

TEST_F(Pages, RunOpensAWindowPerCheckedDriveAndOneDrivesDamageFailsItAlone) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  ASSERT_TRUE(sim.bay->addFault(1, sim::Fault{.kind = sim::FaultKind::Corrupt, .lba = 0x4000, .blocks = 1}, sim.error));
  CMultiRun tab(services);
  tab.onGetDrive();
  ASSERT_TRUE(tab.openDefineScript(example("define.sc1")));
  EXPECT_EQ(headers(tab.list()).at(5), "Start LBA");
  EXPECT_EQ(tab.list()->topLevelItem(1)->text(8), "64");
  ASSERT_TRUE(tab.onRun());
  ASSERT_EQ(tab.windows().size(), 2u);
  ASSERT_TRUE(pumpUntil([&] { return tab.windows()[0]->verdictBox() && tab.windows()[1]->verdictBox(); },
                        std::chrono::seconds(30)));
  CMutiRunSub& good = *tab.windows()[0];
  CMutiRunSub& bad = *tab.windows()[1];
  EXPECT_EQ(good.windowTitle(), "Multi-Run SubWindow");
  EXPECT_EQ(good.verdictBox()->text(), "Multi-Run SubWindow Done");
  EXPECT_EQ(bad.verdictBox()->text(), "Multi-Run SubWindow Error");
  EXPECT_TRUE(bad.messages().text().contains("Error LBA is : 0000000000004000\nCurrent Loop: "))
      << bad.messages().text().toStdString();
  EXPECT_TRUE(good.stateBox()->toPlainText().startsWith("DlgIndex: 0\ncurLBA:  "))
      << good.stateBox()->toPlainText().toStdString();

  // Unchecked drives get no window; a range beyond a drive opens none.
  tab.list()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  const std::string beyond = sim.dir.file("beyond.sc2");
  std::ofstream(beyond) << "Range Size: 20001\nTotal Write Capacity: 100\nFile Size: 4KB\nSequence: TRUE\n"
                           "Need Read Back: FALSE\n";
  ASSERT_TRUE(tab.openCapacityScript(beyond));
  tab.list()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  EXPECT_FALSE(tab.onRun());
  EXPECT_EQ(tab.windows().size(), 2u);
  EXPECT_TRUE(tab.messageBox()->toPlainText().contains("Range Size 0x20001 lies beyond the drive (0x20000 sectors)"));
}

TEST_F(Pages, SpeedReportViewerDrawsTheCurveAndKeepsReflashing) {
  const std::string report = sim.dir.file("PhyWrRpt_SN_1210101010.csv");
  std::ofstream(report, std::ios::binary) << "Time,LBA,Speed(MB/S),\r\n0:0:1,0x000000001000,120,\r\n";
  CPfDiag viewer(services);
  viewer.keepReflash()->setChecked(true);
  ASSERT_TRUE(viewer.openFile(report));
  EXPECT_EQ(viewer.textBox()->toPlainText(), "cnt: 2\nTime:Time Pcnt:LBA,Speed(MB/S)\nTime:0:0:1 LBA:0x000000001000,120\n");
  auto* series = qobject_cast<QLineSeries*>(viewer.chartView()->chart()->series().at(0));
  ASSERT_NE(series, nullptr);
  EXPECT_EQ(series->count(), 2);
  EXPECT_EQ(series->at(1).y(), 120);
  EXPECT_EQ(series->color(), QColor(0, 255, 0));
  EXPECT_EQ(viewer.chartView()->chart()->axes(Qt::Horizontal).at(0)->titleText(), "Second");
  EXPECT_EQ(viewer.chartView()->chart()->axes(Qt::Vertical).at(0)->titleText(), "MB/S");
  EXPECT_FALSE(viewer.openButton()->isEnabled());
  EXPECT_TRUE(viewer.refreshTimer().isActive());
  EXPECT_EQ(viewer.refreshTimer().interval(), 10000);

  std::ofstream(report, std::ios::binary | std::ios::app) << "0:0:2,0x000000002000,130,\r\n";
  viewer.refresh();
  EXPECT_EQ(viewer.shown()->speeds.size(), 3u) << "each tick reads the file again";

  viewer.keepReflash()->setChecked(false);
  std::ofstream(report, std::ios::binary | std::ios::app) << "0:0:3,0x000000003000,140,\r\n";
  viewer.refresh();
  EXPECT_EQ(viewer.shown()->speeds.size(), 4u) << "the tick that stops still draws";
  EXPECT_TRUE(viewer.openButton()->isEnabled());
  EXPECT_FALSE(viewer.refreshTimer().isActive());

  EXPECT_FALSE(viewer.openFile(sim.dir.file("none.csv")));
  EXPECT_EQ(viewer.shown()->speeds.size(), 4u) << "an unreadable file changes nothing shown";
}

}  // namespace
}  // namespace zorv::app
