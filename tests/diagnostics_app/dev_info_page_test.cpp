// The diagnostics page as a window: its controls follow the console, a run
// goes to a worker and comes back to the page, the page is an engineering tab.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <filesystem>
#include <functional>

#include "app/dev_info_page.h"
#include "app/qt_environment.h"
#include "support/sim_fixture.h"

namespace zorv::app {
namespace {

using test::pumpUntil;

struct PageFixture : ::testing::Test {
  PageFixture()
      : paneBox(QtMessageSink::makeTextBox(nullptr)),
        pane(paneBox),
        runner(sim.ctx(), driveList),
        services{sim.ctx(), ui, pane, driveList, nullptr, runner},
        page(services) {
    page.console().setDirectory(sim.dir.path());
  }
  ~PageFixture() override { delete paneBox; }

  test::SimFixture sim{0};
  QtUserInterface ui;
  QPlainTextEdit* paneBox;
  QtMessageSink pane;
  DriveListModel driveList;
  OperationRunner runner;
  PageServices services;
  CDevInfo page;
};

TEST_F(PageFixture, ListsTheOperationsAndPreparesTheChosenRow) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  auto* command = qobject_cast<QComboBox*>(page.control(DevInfoControl::Command));
  auto* second = qobject_cast<QComboBox*>(page.control(DevInfoControl::SecondCommand));
  ASSERT_EQ(command->count(), 36);
  EXPECT_EQ(command->itemText(19), "B0D0 SMART Read");
  EXPECT_FALSE(second->isEnabled());

  command->setCurrentIndex(1);
  auto* startPpn = qobject_cast<QLineEdit*>(page.control(DevInfoControl::StartPpn));
  auto* map = qobject_cast<QComboBox*>(page.control(DevInfoControl::Map));
  EXPECT_TRUE(startPpn->isEnabled());
  EXPECT_EQ(startPpn->text(), "200");
  ASSERT_EQ(map->count(), 2);
  EXPECT_EQ(map->currentText(), "00");
  EXPECT_FALSE(page.control(DevInfoControl::Channel)->isEnabled());

  startPpn->setText("1F");
  Q_EMIT startPpn->textEdited("1F");
  EXPECT_EQ(page.console().state().inputs.startPpn, "1F");
}

TEST_F(PageFixture, NumberBoxesTakeOnlyTheirDigitsAndSayWhichBoxRefused) {
  struct Case {
    int row;  // a row that takes the box
    DevInfoControl control;
    const char* typed;
    const char* kept;
    const char* named;
  };
  const Case cases[] = {
      {4, DevInfoControl::Channel, "Q", "", "Channel: hexadecimal digits only"},
      {1, DevInfoControl::StartPpn, "1fG", "1f", "Start PPN: hexadecimal digits only"},
      {34, DevInfoControl::Address, "1DCF32AFH", "1DCF32AFH", "Max Address: hexadecimal digits only"},
      {9, DevInfoControl::MemoryLength, "FFFFFFFFFFFF", "FFFFFFFF", "Memory Length: hexadecimal digits only"},
      {9, DevInfoControl::StartMemory, "XYZ!g", "", "Start Memory: hexadecimal digits only"},
      {9, DevInfoControl::StartMemory, "ZZ10", "10", "Start Memory: hexadecimal digits only"},
  };
  auto* command = qobject_cast<QComboBox*>(page.control(DevInfoControl::Command));
  for (const Case& c : cases) {
    command->setCurrentIndex(c.row);
    auto* edit = qobject_cast<QLineEdit*>(page.control(c.control));
    ASSERT_NE(edit, nullptr);
    SCOPED_TRACE(edit->objectName().toStdString() + " " + c.typed);
    edit->setEnabled(true);  // the slider's address box is enabled by the first tick
    edit->clear();
    QTest::keyClicks(edit, c.typed);
    EXPECT_EQ(edit->text(), c.kept);
    EXPECT_TRUE(edit->toolTip().startsWith(c.named)) << edit->toolTip().toStdString();
  }
  // What the box kept is what the console reads.
  EXPECT_EQ(page.console().state().inputs.startMemory, "10");
}

TEST_F(PageFixture, TheRawDataPaneKeepsItsSpaceInASmallWindow) {
  page.resize(640, 480);
  page.show();
  QApplication::processEvents();
  const int lines = page.rawData()->height() / page.rawData()->fontMetrics().lineSpacing();
  EXPECT_GE(lines, 10) << page.rawData()->height();
  page.hide();
}

TEST_F(PageFixture, GetDevInfoRunsOnAWorkerAndShowsTheText) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  qobject_cast<QComboBox*>(page.control(DevInfoControl::Command))->setCurrentIndex(14);
  qobject_cast<QPushButton*>(page.control(DevInfoControl::GetDevInfo))->click();
  ASSERT_TRUE(pumpUntil([&] { return page.console().lastRun().has_value() && !page.console().state().running; }));
  page.waitForRun();
  ASSERT_TRUE(pumpUntil([&] { return page.rawData()->toPlainText().contains("SMART UDATA initialize Done"); }));
  // The controls come back in a queued call after the text; wait for it.
  EXPECT_TRUE(pumpUntil([&] { return page.control(DevInfoControl::GetDevInfo)->isEnabled(); }));
  auto run = page.console().lastRun();
  EXPECT_TRUE(run->ok());
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(sim.dir.path()) / run->runLogName));
  page.clearMessage()->click();
  EXPECT_TRUE(pumpUntil([&] { return page.rawData()->toPlainText().isEmpty(); }));
}

TEST_F(PageFixture, TheFirstTickSetsTheSliderAndTheClock) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  page.console().onTimerTick();
  ASSERT_TRUE(pumpUntil([&] { return page.percent()->text() == "100%"; }));
  auto* slider = qobject_cast<QSlider*>(page.control(DevInfoControl::Slider));
  EXPECT_EQ(slider->value(), 100);
  EXPECT_FALSE(slider->isEnabled());
  slider->setEnabled(true);
  slider->setValue(50);
  EXPECT_EQ(page.percent()->text(), "50%");
}

TEST(DevInfoRegistration, IsAnEngineeringTab) {
  bool found = false;
  for (const RegisteredPage& p : registeredPages()) found = found || std::string(p.title) == "Dev Info";
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace zorv::app
