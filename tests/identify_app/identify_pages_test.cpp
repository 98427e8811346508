// The identify page, the buffer viewer page, the buffer editor and the
// any-ATA console as windows, on the simulated bay.

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QKeyEvent>
#include <QTest>

#include <filesystem>

#include "app/edit_ata_dialog.h"
#include "app/edit_buf_dialog.h"
#include "app/identify_page.h"
#include "app/page_registry.h"
#include "app/record_buf_page.h"
#include "qt_environment.h"
#include "support/sim_fixture.h"

namespace zorv::app {
namespace {

int lineCount(const QString& text) { return text.isEmpty() ? 0 : static_cast<int>(text.count('\n')) + 1; }

class Pages : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.ok()) << sim.error;
    runner = std::make_unique<OperationRunner>(sim.ctx(), driveList);
    oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(sim.dir.path());
  }
  void TearDown() override { std::filesystem::current_path(oldCwd); }
  test::SimFixture sim{0};
  DriveListModel driveList;
  std::unique_ptr<OperationRunner> runner;
  std::filesystem::path oldCwd;
};

TEST_F(Pages, BothPagesAreRegistered) {
  bool identify = false, buffer = false;
  for (const RegisteredPage& p : registeredPages()) {
    identify = identify || std::string(p.title) == "Identify";
    buffer = buffer || std::string(p.title) == "Buffer";
  }
  EXPECT_TRUE(identify);
  EXPECT_TRUE(buffer);
}

TEST_F(Pages, IdentifyFillsTheListAndComparesFiles) {
  CIdentify page(sim.ctx(), sim.ui, *runner);
  EXPECT_TRUE(page.differences()->isHidden());
  QTest::mouseClick(page.identifyButton(), Qt::LeftButton);
  ASSERT_EQ(page.list()->rowCount(), 97);
  ASSERT_EQ(page.list()->columnCount(), 4);
  EXPECT_EQ(page.list()->horizontalHeaderItem(0)->text(), "WD Offset");
  EXPECT_EQ(page.list()->horizontalHeaderItem(3)->text(), "Description");
  EXPECT_EQ(page.list()->item(40, 0)->text(), "88");
  EXPECT_TRUE(page.list()->item(40, 2)->text().contains("407FH\n0100 0000 0111 1111b"));
  // The value column is as wide as a bit pattern, not as the 40-character
  // model string, which is shown in lines of that width.
  const QFontMetrics metrics(page.list()->font());
  EXPECT_LE(page.list()->columnWidth(2), metrics.horizontalAdvance(QString(26, 'W')));
  EXPECT_GE(page.list()->columnWidth(2), metrics.horizontalAdvance("0100 0000 0111 1111b"));
  const DriveEntry& drive = sim.ctx().selectedDrive();
  std::string file = "Identify_" + drive.strModel + "_" + drive.strSerial + ".bin";
  ASSERT_TRUE(std::filesystem::exists(file));

  // A second drive's file differs in its strings, capacity and checksum.
  ASSERT_TRUE(sim.select(1));
  QTest::mouseClick(page.identifyButton(), Qt::LeftButton);
  std::string other = "Identify_" + sim.ctx().selectedDrive().strModel + "_" +
                      sim.ctx().selectedDrive().strSerial + ".bin";
  ASSERT_TRUE(std::filesystem::exists(other));

  sim.ui.files = {file, other};
  QTest::mouseClick(page.compareButton(), Qt::LeftButton);
  ASSERT_EQ(page.list()->columnCount(), 5);
  EXPECT_EQ(page.list()->horizontalHeaderItem(3)->text(), "Value 2");
  EXPECT_FALSE(page.differences()->isHidden());
  EXPECT_EQ(page.differences()->currentText(), "Quick View Of Different Items..");
  ASSERT_GT(page.differences()->count(), 3);
  EXPECT_EQ(page.differences()->itemText(0), "Item 4 offset: 10, ");

  int last = page.differences()->count() - 1;
  page.differences()->setCurrentIndex(last);
  Q_EMIT page.differences()->activated(last);
  ASSERT_EQ(page.list()->selectionModel()->selectedRows().size(), 1);
  EXPECT_EQ(page.list()->selectionModel()->selectedRows()[0].row(), 96);

  // A cancelled choice leaves the comparison as it is; Identify hides it.
  QTest::mouseClick(page.compareButton(), Qt::LeftButton);
  EXPECT_EQ(page.list()->columnCount(), 5);
  QTest::mouseClick(page.identifyButton(), Qt::LeftButton);
  EXPECT_TRUE(page.differences()->isHidden());
  EXPECT_EQ(page.list()->columnCount(), 4);
}

TEST_F(Pages, IdentifyFailureLeavesTheListEmpty) {
  sim.ctx().ucSelDrive = kNoDrive;
  CIdentify page(sim.ctx(), sim.ui, *runner);
  QTest::mouseClick(page.identifyButton(), Qt::LeftButton);
  EXPECT_EQ(page.list()->rowCount(), 0);
  EXPECT_EQ(page.notice()->text(), "No drive is selected");
}

TEST_F(Pages, IdentifySaysWhyTheListIsEmptyOrWhatIsMissing) {
  CIdentify page(sim.ctx(), sim.ui, *runner);
  QTest::mouseClick(page.identifyButton(), Qt::LeftButton);
  EXPECT_TRUE(page.notice()->isHidden()) << page.notice()->text().toStdString();

  struct Case {
    sim::Fault fault;
    int rows;
    const char* said;
  };
  const Case cases[] = {
      {{.kind = sim::FaultKind::Timeout, .opcode = 0xEC}, 0, "IDENTIFY DEVICE failed: "},
      {{.kind = sim::FaultKind::Fail, .opcode = 0xEC}, 0, "IDENTIFY DEVICE failed: "},
      {{.kind = sim::FaultKind::Short, .opcode = 0xEC, .bytes = 200},
       0,
       "IDENTIFY DEVICE failed: the drive returned 200 of 512 bytes"},
  };
  for (const Case& c : cases) {
    std::string error;
    ASSERT_TRUE(sim.bay->addFault(0, c.fault, error)) << error;
    QTest::mouseClick(page.identifyButton(), Qt::LeftButton);
    EXPECT_EQ(page.list()->rowCount(), c.rows);
    EXPECT_FALSE(page.notice()->isHidden());
    EXPECT_TRUE(page.notice()->text().startsWith(c.said)) << page.notice()->text().toStdString();
  }

  // The next whole reply clears the notice.
  QTest::mouseClick(page.identifyButton(), Qt::LeftButton);
  EXPECT_EQ(page.list()->rowCount(), 97);
  EXPECT_TRUE(page.notice()->isHidden());
}

TEST_F(Pages, TheirDriveCommandsHoldTheDriveAndTheList) {
  // Every command is looked at on its way to the bay.
  test::RecordingPort observer;
  std::vector<bool> held;
  observer.ata = [&](AtaPassThroughRequest& r) {
    held.push_back(sim.ctx().fgBusy == 1 && !driveList.isEnabled());
    return sim.port->ataPassThrough("sim:0", r);
  };
  sim.ctx().port = &observer;
  CIdentify identify(sim.ctx(), sim.ui, *runner);
  CRecordBuf buffer(sim.ctx(), *runner);

  identify.identifyButton()->click();
  buffer.readButton()->click();
  buffer.writeButton()->click();
  ASSERT_GE(held.size(), 3u);
  for (size_t i = 0; i < held.size(); ++i) EXPECT_TRUE(held[i]) << "command " << i;
  EXPECT_EQ(sim.ctx().fgBusy, 0);
  EXPECT_TRUE(driveList.isEnabled());

  // Nothing is sent while another operation holds the drive.
  sim.ctx().fgBusy = 1;
  size_t before = held.size();
  identify.identifyButton()->click();
  buffer.readButton()->click();
  buffer.writeButton()->click();
  EXPECT_EQ(held.size(), before);
  sim.ctx().fgBusy = 0;
  sim.ctx().port = sim.port.get();
}

TEST_F(Pages, BufferViewerEditsAndButtons) {
  for (int i = 0; i < 0x400; ++i) sim.ctx().SectorBuffer[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  CRecordBuf page(sim.ctx(), *runner);
  EXPECT_EQ(CRecordBuf::activeDumpPane(), &page.viewer().dumpPane());
  EXPECT_EQ(page.startEdit()->text(), "0000");
  EXPECT_EQ(page.lengthEdit()->text(), "0200");
  EXPECT_EQ(page.startEdit()->maxLength(), 4);
  EXPECT_EQ(lineCount(page.dumpBox()->toPlainText()), 32);
  EXPECT_TRUE(page.refreshTimer().isActive());
  EXPECT_EQ(page.refreshTimer().interval(), 500);

  page.startEdit()->clear();
  QTest::keyClicks(page.startEdit(), "012F");
  EXPECT_EQ(page.startEdit()->text(), "0120");
  EXPECT_TRUE(page.dumpBox()->toPlainText().startsWith("0120:20 21 22"));

  // The refresh follows SectorBuffer.
  sim.ctx().SectorBuffer[0x120] = 0xAB;
  page.onRefresh();
  EXPECT_TRUE(page.dumpBox()->toPlainText().startsWith("0120:AB 21"));

  page.lengthEdit()->clear();
  QTest::keyClicks(page.lengthEdit(), "FFFF");
  EXPECT_TRUE(page.viewer().fgRefreshStopped());
  ASSERT_EQ(sim.ui.boxes.size(), 1u);
  EXPECT_EQ(lineCount(page.dumpBox()->toPlainText()), 4096);
  sim.ctx().SectorBuffer[0x120] = 0xCD;
  page.onRefresh();
  EXPECT_TRUE(page.dumpBox()->toPlainText().startsWith("0120:AB"));

  page.lengthEdit()->clear();
  QTest::keyClicks(page.lengthEdit(), "0020");
  EXPECT_FALSE(page.viewer().fgRefreshStopped());
  QTest::mouseClick(page.clearButton(), Qt::LeftButton);
  EXPECT_EQ(sim.ctx().SectorBuffer[0x120], 0);
  EXPECT_EQ(sim.ctx().SectorBuffer[0x13F], 0);
  EXPECT_EQ(sim.ctx().SectorBuffer[0x140], 0x40);

  // WRITE BUFFER then READ BUFFER through the drive.
  for (int i = 0; i < 512; ++i) sim.ctx().SectorBuffer[static_cast<size_t>(i)] = 0x5A;
  QTest::mouseClick(page.writeButton(), Qt::LeftButton);
  std::fill(sim.ctx().SectorBuffer.data(), sim.ctx().SectorBuffer.data() + 512, uint8_t{0});
  QTest::mouseClick(page.readButton(), Qt::LeftButton);
  EXPECT_EQ(sim.ctx().SectorBuffer[511], 0x5A);
}

TEST_F(Pages, BufferFieldsTakeHexDigitsOnly) {
  CRecordBuf page(sim.ctx(), *runner);
  page.startEdit()->clear();
  QTest::keyClicks(page.startEdit(), "ZZ10");
  EXPECT_EQ(page.startEdit()->text(), "10");
  EXPECT_TRUE(page.startEdit()->toolTip().startsWith("Start Addr.: hexadecimal digits only"));

  CEditBufDlg dlg(sim.ctx(), &page.viewer().dumpPane());
  dlg.valueEdit()->clear();
  QTest::keyClicks(dlg.valueEdit(), "ZZ");
  EXPECT_EQ(dlg.valueEdit()->text(), "");
  QTest::keyClicks(dlg.valueEdit(), "a5");
  EXPECT_EQ(dlg.valueEdit()->text(), "a5");
}

TEST_F(Pages, BufferEditorGridEnterSaveAndKeys) {
  for (int i = 0; i < 0x400; ++i) sim.ctx().SectorBuffer[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  CRecordBuf page(sim.ctx(), *runner);
  CEditBufDlg dlg(sim.ctx(), &page.viewer().dumpPane());
  dlg.show();
  ASSERT_EQ(dlg.grid()->rowCount(), 32);
  ASSERT_EQ(dlg.grid()->columnCount(), 17);
  EXPECT_EQ(dlg.grid()->horizontalHeaderItem(0)->text(), "0");
  EXPECT_EQ(dlg.grid()->horizontalHeaderItem(16)->text(), "16");
  EXPECT_EQ(dlg.grid()->item(1, 0)->text(), "0010");
  EXPECT_EQ(dlg.grid()->item(1, 2)->text(), "11");
  EXPECT_EQ(dlg.startEdit()->text(), "0000");
  EXPECT_EQ(dlg.endEdit()->text(), "0200");
  EXPECT_EQ(dlg.valueEdit()->text(), "00");

  dlg.startEdit()->clear();
  QTest::keyClicks(dlg.startEdit(), "0123");
  EXPECT_EQ(dlg.startEdit()->text(), "0120");
  EXPECT_EQ(dlg.grid()->item(0, 0)->text(), "0120");

  dlg.grid()->item(0, 1)->setText("EE");
  QTest::mouseClick(dlg.enterButton(), Qt::LeftButton);
  EXPECT_EQ(sim.ctx().SectorBuffer[0x120], 0xEE);

  dlg.endEdit()->setText("0130");
  dlg.valueEdit()->setText("77");
  QTest::mouseClick(dlg.saveButton(), Qt::LeftButton);
  EXPECT_EQ(sim.ctx().SectorBuffer[0x12F], 0x77);
  EXPECT_EQ(sim.ctx().SectorBuffer[0x130], 0x30);
  EXPECT_EQ(dlg.grid()->item(0, 16)->text(), "77");
  EXPECT_EQ(dlg.grid()->item(1, 1)->text(), "30");

  QTest::keyClick(&dlg, Qt::Key_Escape);
  QTest::keyClick(&dlg, Qt::Key_Return);
  EXPECT_TRUE(dlg.isVisible());
  QTest::mouseClick(dlg.quitButton(), Qt::LeftButton);
  EXPECT_FALSE(dlg.isVisible());
}

TEST_F(Pages, ConsoleSendsAndCloses) {
  CRecordBuf page(sim.ctx(), *runner);
  sim.ctx().CmdBlock.clear();
  sim.ctx().CmdBlock.ucCommand = 0xF7;
  sim.ctx().fgBusy = 1;
  {
    CEditAta console(sim.ctx());
    EXPECT_TRUE(console.dataOutBox()->isChecked());
    EXPECT_EQ(console.edit(kEditCommand)->text(), "F7");
    EXPECT_EQ(console.edit(kEditCommand)->maxLength(), 4);
    console.show();
    console.edit(kEditCommand)->clear();
    QTest::keyClicks(console.edit(kEditCommand), "ec");
    EXPECT_EQ(console.edit(kEditCommand)->text(), "EC");
    console.edit(kEditSectorCnt)->setText("1");
    console.dataOutBox()->setChecked(false);
    QTest::mouseClick(console.sendButton(), Qt::LeftButton);
    EXPECT_TRUE(console.lastSendOk());
    EXPECT_EQ(console.result(), QDialog::Accepted);
    EXPECT_FALSE(console.isVisible());
  }
  EXPECT_EQ(sim.pane.take(), "   Data In, DataCnt = 512(0x200)Bytes\nATA Command Success\n\n\n");
  EXPECT_EQ(sim.ctx().fgBusy, 0);
  // The dump of the viewer page shows what came in.
  EXPECT_TRUE(page.dumpBox()->toPlainText().startsWith("0000:40 00"));

  CEditAta again(sim.ctx());
  EXPECT_EQ(again.edit(kEditCommand)->text(), "EC");
  again.show();
  QTest::keyClick(&again, Qt::Key_Escape);
  EXPECT_EQ(again.result(), QDialog::Rejected);
  EXPECT_EQ(sim.pane.take(), "Abort\n\n\n");
}

}  // namespace
}  // namespace zorv::app
