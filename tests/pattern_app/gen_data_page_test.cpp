// The Gen Data tab as a window on the simulated bay: its initialisation and
// defaults, Gen Data and the pattern views, a Write and an Only Read run
// through the window's runner with the counters shown, Break, and refusals.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "app/gen_data_page.h"
#include "app/qt_environment.h"
#include "support/sim_fixture.h"

namespace zorv::app {
namespace {

using test::pumpUntil;

struct GenDataFixture : ::testing::Test {
  GenDataFixture()
      : paneBox(QtMessageSink::makeTextBox(nullptr)),
        pane(paneBox),
        runner(sim.ctx(), driveList),
        services{sim.ctx(), ui, pane, driveList, nullptr, runner, sim.dir.file("mountinfo")},
        page(services) {
    sim.ctx().setMessagePane(pane);
    driveList.setEnabled(true);
    page.setLogDirectory(sim.dir.path());
  }
  ~GenDataFixture() override {
    runner.wait();
    delete paneBox;
  }

  void type(const char* name, const char* text) { page.edit(name)->setText(text); }
  std::string box() { return page.messages().text().toStdString(); }
  // A small range with stamps, DMA Ext and Simple Compare.
  void smallRun() {
    page.initialise();
    type("startLba", "100H");
    type("endLba", "300H");
    type("loop", "1");
    page.radio("dmaExt")->click();
    page.radio("simpleCompare")->click();
    page.checkBox("stampRecord")->click();
    page.checkBox("stampLba")->click();
    page.checkBox("stampSerial")->click();
  }
  bool ended() { return page.lastResult().has_value() && !runner.running() && !page.running(); }

  test::SimFixture sim{0};
  QtUserInterface ui;
  QPlainTextEdit* paneBox;
  QtMessageSink pane;
  DriveListModel driveList;
  OperationRunner runner;
  PageServices services;
  CGenDataPage page;
};

TEST_F(GenDataFixture, InitialisesItselfAfterTwoSecondsWithTheDefaults) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  EXPECT_FALSE(page.initialised());
  EXPECT_FALSE(page.genDataButton()->isEnabled());
  ASSERT_TRUE(pumpUntil([&] { return page.initialised(); }));
  EXPECT_EQ(page.edit("value")->text(), "11223344");
  EXPECT_TRUE(page.radio("customValue")->isChecked());
  EXPECT_TRUE(page.radio("dword")->isChecked());
  EXPECT_FALSE(page.radio("increase")->isChecked());
  EXPECT_FALSE(page.radio("decrease")->isChecked());
  EXPECT_EQ(page.edit("text")->text(), "HelloWorld");
  EXPECT_EQ(page.edit("sectorNumber")->text(), "80");
  EXPECT_FALSE(page.checkBox("stampRecord")->isChecked());
  EXPECT_EQ(page.edit("serial")->text(), "00000000");
  EXPECT_EQ(page.edit("shift")->text(), "80");
  EXPECT_EQ(page.edit("loop")->text(), "3");
  EXPECT_TRUE(page.radio("capacityLoop")->isChecked());
  EXPECT_TRUE(page.checkBox("saveLog")->isChecked());
  EXPECT_EQ(page.errLimit()->count(), 10);
  EXPECT_EQ(page.errLimit()->currentText(), "1");
  EXPECT_EQ(page.startSlider()->value(), 0);
  EXPECT_EQ(page.endSlider()->value(), 30);
  const uint64_t capacity = sim.ctx().selectedDrive().sectorCount();
  EXPECT_EQ(page.edit("startLba")->text(), "0H");
  EXPECT_EQ(page.edit("endLba")->text().toStdString(), CGenData::lbaText(capacity * 3 / 10));
  EXPECT_FALSE(page.writeButton()->isEnabled()) << "no pattern yet";
  EXPECT_FALSE(page.readButton()->isEnabled());

  page.startSlider()->setValue(100);
  EXPECT_EQ(page.startSlider()->value(), 99) << "the start slider never shows 100";
  page.endSlider()->setValue(100);
  EXPECT_EQ(page.edit("endLba")->text().toStdString(), CGenData::lbaText(capacity));
}

TEST_F(GenDataFixture, GenDataShowsThePatternAndEnablesWrite) {
  ASSERT_TRUE(sim.ok());
  page.initialise();
  page.radio("increase")->click();
  type("sectorNumber", "200");
  page.genDataButton()->click();
  EXPECT_EQ(page.edit("sectorNumber")->text(), "F9");
  EXPECT_TRUE(page.patternBox()->toPlainText().startsWith("0000:44 33 22 11 45 33 22 11 "));
  EXPECT_TRUE(page.writeButton()->isEnabled());
  page.radio("asciiView")->click();
  EXPECT_TRUE(page.patternBox()->toPlainText().startsWith("0000:D3\"."));

  // A click on the selected "Increase" clears it: no step at all.
  page.radio("increase")->click();
  EXPECT_FALSE(page.radio("increase")->isChecked());
  page.radio("string")->click();
  type("text", "");
  page.genDataButton()->click();
  EXPECT_EQ(box(), "<<Error>>\nString: enter the text to repeat\n");
}

TEST_F(GenDataFixture, WriteThenOnlyReadRunOnTheBay) {
  ASSERT_TRUE(sim.ok());
  smallRun();
  page.genDataButton()->click();
  page.writeButton()->click();
  EXPECT_FALSE(page.genDataButton()->isEnabled()) << "controls are off while the worker runs";
  ASSERT_TRUE(pumpUntil([&] { return ended(); }));
  EXPECT_TRUE(page.lastResult()->passed()) << box();
  EXPECT_NE(box().find("<<Write Data>> LBA: 0000 00000100\n<<Read Data>> LBA: 0000 00000100\n    Compare Good\n"),
            std::string::npos)
      << box();
  EXPECT_EQ(page.edit("totalWr")->text(), QString::number(0x200 * 512));
  EXPECT_EQ(page.edit("loop")->text(), "1") << "the loop count is back for the next run";
  EXPECT_TRUE(page.writeButton()->isEnabled());

  page.checkBox("shiftRandom")->click();
  page.checkBox("onlyRead")->click();
  EXPECT_FALSE(page.checkBox("shiftRandom")->isChecked());
  EXPECT_FALSE(page.checkBox("shiftRandom")->isEnabled());
  EXPECT_EQ(page.edit("offset")->text(), "32");
  EXPECT_FALSE(page.writeButton()->isEnabled());
  EXPECT_TRUE(page.readButton()->isEnabled());
  page.cleanButton()->click();
  EXPECT_EQ(box(), "");
  page.readButton()->click();
  ASSERT_TRUE(pumpUntil([&] { return ended(); }));
  EXPECT_TRUE(page.lastResult()->passed()) << box();
  EXPECT_EQ(page.lastResult()->bytesWritten, 0u);
  EXPECT_EQ(page.edit("totalRd")->text(), QString::number(0x200 * 512));
}

TEST_F(GenDataFixture, BreakEndsTheRunAfterTheCurrentCommand) {
  ASSERT_TRUE(sim.ok());
  smallRun();
  type("loop", "FFFFFFFF");
  page.genDataButton()->click();
  page.writeButton()->click();
  ASSERT_TRUE(page.breakButton()->isEnabled());
  ASSERT_TRUE(pumpUntil([&] { return page.lastResult().has_value() || box().find("Compare Good") != std::string::npos; }));
  page.breakButton()->click();
  ASSERT_TRUE(pumpUntil([&] { return ended(); }));
  EXPECT_TRUE(page.lastResult()->stopped);
  EXPECT_FALSE(page.breakButton()->isEnabled());
  EXPECT_EQ(sim.ctx().fgBusy, 0);
}

TEST_F(GenDataFixture, RefusedRunsSayWhyAndStartNothing) {
  ASSERT_TRUE(sim.ok());
  smallRun();
  page.genDataButton()->click();
  type("endLba", "100H");
  page.writeButton()->click();
  EXPECT_EQ(box(), "<<Error>>\nStart LBA = End LBA\n");
  EXPECT_FALSE(page.running());
  page.cleanButton()->click();
  type("endLba", "300H");
  page.radio("dmaExt")->setChecked(false);
  type("loop", "");
  page.writeButton()->click();
  EXPECT_EQ(box(), "<<Error>>\nLoop: enter a hex loop count\n");
  EXPECT_FALSE(page.lastResult().has_value());
}

}  // namespace
}  // namespace zorv::app
