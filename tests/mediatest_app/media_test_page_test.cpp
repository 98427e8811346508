// The media-test dialog and page as a window on the simulated bay: the
// controls of each test code, Send and its refusals, a run through the
// window's operation runner, Stop and Abort, and the consent a raw write
// needs on a real device.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <fstream>
#include <string>
#include <vector>

#include "app/media_test_page.h"
#include "app/qt_environment.h"
#include "support/sim_fixture.h"
#include "transport/message.h"

namespace zorv::app {
namespace {

using test::pumpUntil;

// Answers the yes/no questions itself and keeps them.
class AnsweringUi : public QtUserInterface {
 public:
  bool askYesNo(std::string_view text, std::string_view, BoxIcon) override {
    questions.emplace_back(text);
    return answer;
  }
  std::vector<std::string> questions;
  bool answer = false;
};

// A real device as far as the write guard can tell; counts media commands.
class RealDevicePort : public DevicePort {
 public:
  explicit RealDevicePort(DevicePort& inner) : inner_(inner) {}
  std::string_view name() const override { return "linux"; }
  std::string physicalDrivePath(int n) const override { return inner_.physicalDrivePath(n); }
  IoOutcome queryBusType(const std::string& path, uint8_t& bus) override {
    return inner_.queryBusType(path, bus);
  }
  IoOutcome probeExclusive(const std::string& path) override { return inner_.probeExclusive(path); }
  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& r) override {
    return inner_.ataPassThrough(path, r);
  }
  bool carriesAtaDataByte() const override { return inner_.carriesAtaDataByte(); }
  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& r) override {
    ++scsiCommands;
    return inner_.scsiPassThrough(path, r);
  }
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& r) override {
    ++scsiCommands;
    return inner_.submitQueued(path, slot, r);
  }
  SlotState pollSlot(int slot) override { return inner_.pollSlot(slot); }
  void waitQueued(std::chrono::milliseconds timeout) override { inner_.waitQueued(timeout); }
  void drainQueue() override { inner_.drainQueue(); }
  void abandonQueue() override { inner_.abandonQueue(); }

  std::atomic<int> scsiCommands{0};

 private:
  DevicePort& inner_;
};

struct PageFixture : ::testing::Test {
  PageFixture()
      : paneBox(QtMessageSink::makeTextBox(nullptr)),
        pane(paneBox),
        runner(sim.ctx(), driveList),
        services{sim.ctx(), ui, pane, driveList, nullptr, runner, sim.dir.file("mountinfo")},
        page(services) {
    sim.ctx().setMessagePane(pane);
    driveList.setEnabled(true);
  }
  ~PageFixture() override {
    page.dialog()->hide();
    runner.wait();
    delete paneBox;
  }

  CEditFuncDialog& dlg() { return *page.dialog(); }
  void type(EditField f, const char* text) { dlg().edit(f)->setText(text); }
  QString paneText() { return pane.text(); }
  bool runEnded() { return page.lastResult().has_value() && !runner.running(); }

  test::SimFixture sim{0};
  AnsweringUi ui;
  QPlainTextEdit* paneBox;
  QtMessageSink pane;
  DriveListModel driveList;
  OperationRunner runner;
  PageServices services;
  CMediaTestPage page;
};

TEST_F(PageFixture, EachTestCodeShowsItsFieldsAndFirstDefaults) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  const QString lastLba = QString::number(sim.ctx().selectedDrive().sectorCount() - 1, 16).toUpper();
  struct Case {
    int button;
    const char* loop;
    const char* length;
    const char* align;
    bool verify;
    const char* status;
  };
  const Case cases[] = {
      {0, "1", "", "", false, ""},
      {1, "1", "", "", false, ""},
      {2, "1", "128", "0", true, "<< Seq Write >>"},
      {3, "100", "128", "0", true, "<< Random Write >>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    page.testButton(c.button)->click();
    ASSERT_TRUE(dlg().isVisible());
    for (int f = 0; f < kEditFieldCount; ++f) {
      auto field = static_cast<EditField>(f);
      QLineEdit* edit = dlg().edit(field);
      EXPECT_EQ(edit->isEnabled(), CEditFunc::fieldEnabled(field)) << f;
      EXPECT_EQ(edit->maxLength(), editFieldSpec(field).textLimit) << f;
    }
    EXPECT_TRUE(dlg().edit(EditField::Slba)->isEnabled());
    EXPECT_TRUE(dlg().edit(EditField::Align)->isEnabled());
    EXPECT_FALSE(dlg().edit(EditField::MaxErr)->isEnabled());
    EXPECT_EQ(dlg().edit(EditField::Slba)->text(), "0");
    EXPECT_EQ(dlg().edit(EditField::Elba)->text(), lastLba);
    EXPECT_EQ(dlg().edit(EditField::Blks)->text(), "20");
    EXPECT_EQ(dlg().edit(EditField::Loop)->text(), c.loop);
    EXPECT_EQ(dlg().edit(EditField::Length)->text(), c.length);
    EXPECT_EQ(dlg().edit(EditField::Align)->text(), c.align);
    EXPECT_EQ(dlg().edit(EditField::PreRead)->text(), "");
    EXPECT_FALSE(dlg().checkBox(CheckItem::RndBlks)->isChecked());
    EXPECT_EQ(dlg().checkBox(CheckItem::Verify)->isChecked(), c.verify);
    EXPECT_TRUE(dlg().checkBox(CheckItem::Ncq)->isChecked());
    EXPECT_EQ(dlg().checkBox(CheckItem::Ncq)->text(), "NCQ");
    EXPECT_TRUE(dlg().group(ButtonGroup::Item)->isEnabled());
    for (ButtonGroup g : {ButtonGroup::Type, ButtonGroup::Sector, ButtonGroup::Close, ButtonGroup::Data}) {
      EXPECT_FALSE(dlg().group(g)->isEnabled());
      EXPECT_TRUE(dlg().radioButton(g, 0)->isChecked());
    }
    EXPECT_EQ(dlg().statusLabel()->text(), c.status);
    dlg().abortButton()->click();
    EXPECT_FALSE(dlg().isVisible());
  }
  EXPECT_EQ(paneText().count("Abort"), 4);
  EXPECT_FALSE(page.lastResult().has_value()) << "Abort starts nothing";
  EXPECT_EQ(page.history().currentPosition(), -1);
}

TEST_F(PageFixture, EditBoxesTakeOnlyTheirRadixAndLimit) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  page.testButton(0)->click();
  struct Case {
    EditField field;
    const char* typed;
    const char* shown;
  };
  const Case cases[] = {
      {EditField::Slba, "1g2Fx", "12F"},           // hex
      {EditField::Elba, "123456789", "12345678"},  // 8 characters
      {EditField::Blks, "fffff", "ffff"},
      {EditField::Loop, "1A2", "12"},  // decimal
      {EditField::Align, "123", "12"},
  };
  for (const Case& c : cases) {
    QLineEdit* edit = dlg().edit(c.field);
    edit->clear();
    QTest::keyClicks(edit, c.typed);
    EXPECT_EQ(edit->text(), c.shown) << c.typed;
  }
  // What the boxes show is what Send reads.
  dlg().sendButton()->click();
  EXPECT_TRUE(dlg().isVisible());
  EXPECT_EQ(dlg().refusalLabel()->text().toStdString(),
            "Blks: at most 800 blocks per command (1 MiB, the sector buffer and a queue slot)");
  type(EditField::Blks, "20");
  type(EditField::Length, "2");
  type(EditField::Elba, "FFFFFFFF");
  dlg().sendButton()->click();
  EXPECT_TRUE(dlg().isVisible());
  EXPECT_EQ(dlg().refusalLabel()->text().toStdString(),
            QString("ELBA: 0xFFFFFFFF lies beyond the end of the drive (0x%1 sectors)")
                .arg(QString::number(sim.ctx().selectedDrive().sectorCount(), 16).toUpper())
                .toStdString());
}

TEST_F(PageFixture, ARefusedSendKeepsTheDialogOpenWithTheReason) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  page.testButton(0)->click();
  dlg().sendButton()->click();  // the read tests' "Length" starts empty
  EXPECT_TRUE(dlg().isVisible());
  EXPECT_EQ(dlg().refusalLabel()->text().toStdString(), "Length: at least 1 read command per measured group");
  type(EditField::Length, "4");
  type(EditField::Slba, "100");
  type(EditField::Elba, "100");
  dlg().sendButton()->click();
  EXPECT_TRUE(dlg().isVisible());
  EXPECT_EQ(dlg().refusalLabel()->text().toStdString(), "Invalid parameter. (StartLBA > EndLBA)");
  EXPECT_FALSE(runner.running());
  EXPECT_FALSE(paneText().contains("Sequential Read"));
  EXPECT_EQ(page.history().currentPosition(), -1) << "refused input is not stored";
}

TEST_F(PageFixture, EnterIsSendAndEscIsAbort) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  page.testButton(0)->click();
  QTest::keyClick(&dlg(), Qt::Key_Return);
  EXPECT_TRUE(dlg().isVisible());
  EXPECT_FALSE(dlg().refusalLabel()->text().isEmpty())
      << "Enter sent the first defaults, which the sequential read refuses";
  QTest::keyClick(&dlg(), Qt::Key_Escape);
  EXPECT_FALSE(dlg().isVisible());
  EXPECT_TRUE(pumpUntil([&] { return paneText().contains("Abort"); }));
  EXPECT_FALSE(runner.running());
}

TEST_F(PageFixture, SendRunsTheSequentialReadOnTheRunnerToTestComplete) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  page.testButton(0)->click();
  type(EditField::Elba, "200");
  type(EditField::Length, "4");
  dlg().sendButton()->click();
  EXPECT_FALSE(dlg().isVisible());
  // The runner holds the drive and the list from Send on.
  EXPECT_TRUE(runner.running());
  EXPECT_FALSE(driveList.isEnabled());
  EXPECT_EQ(sim.ctx().fgBusy, 1);
  EXPECT_TRUE(page.stopButton()->isEnabled());
  EXPECT_FALSE(page.testButton(1)->isEnabled());
  EXPECT_FALSE(page.openDialog(kOpRandomAccess)) << "no dialog while a test runs";
  EXPECT_FALSE(dlg().isVisible());

  ASSERT_TRUE(pumpUntil([&] { return runEnded(); }));
  EXPECT_TRUE(page.lastResult()->passed());
  EXPECT_EQ(page.lastResult()->stats.blocksRead, 0x200u);
  EXPECT_TRUE(driveList.isEnabled());
  EXPECT_EQ(sim.ctx().fgBusy, 0);
  EXPECT_FALSE(page.stopButton()->isEnabled());
  ASSERT_TRUE(pumpUntil([&] { return paneText().contains("*************************"); }));
  QString text = paneText();
  EXPECT_TRUE(text.contains("--->       Sequential Read       <---")) << text.toStdString();
  EXPECT_TRUE(text.contains("Average Xfer Rate")) << text.toStdString();
  EXPECT_TRUE(text.contains("Test Complete\n*************************")) << text.toStdString();

  // The Enter key's repeat opens the sent values again.
  ASSERT_EQ(page.history().currentPosition(), 0);
  ASSERT_TRUE(repeatMediaTest(services));
  EXPECT_EQ(dlg().edit(EditField::Elba)->text(), "200");
  EXPECT_EQ(dlg().edit(EditField::Length)->text(), "4");
  dlg().sendButton()->click();
  ASSERT_TRUE(pumpUntil([&] { return runEnded() && !dlg().isVisible(); }));
  EXPECT_EQ(page.history().currentPosition(), 0) << "an unchanged repeat is not stored again";
}

TEST_F(PageFixture, StopEndsTheRunWithStop) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  ASSERT_TRUE(openMediaTestDialog(services, kOpSeqRead));
  type(EditField::Loop, "99999999");
  type(EditField::Length, "1");
  dlg().sendButton()->click();
  ASSERT_TRUE(runner.running());
  ASSERT_TRUE(pumpUntil([&] { return paneText().contains("KB/Sec"); }));
  page.stopButton()->click();
  ASSERT_TRUE(pumpUntil([&] { return runEnded(); }));
  EXPECT_TRUE(page.lastResult()->stopped);
  EXPECT_FALSE(page.lastResult()->passed());
  ASSERT_TRUE(pumpUntil([&] { return paneText().contains("STOP!"); }));
  EXPECT_FALSE(paneText().contains("Test Complete"));
  EXPECT_TRUE(driveList.isEnabled());
}

TEST_F(PageFixture, TheDialogDoesNotOpenWithoutADriveOrForAnotherCode) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  EXPECT_FALSE(openMediaTestDialog(services, 0x3300));
  sim.ctx().ucSelDrive = kNoDrive;
  EXPECT_FALSE(openMediaTestDialog(services, kOpSeqRead));
  EXPECT_FALSE(dlg().isVisible());
  EXPECT_TRUE(pumpUntil([&] { return paneText().contains("No drive is selected"); }));
  EXPECT_FALSE(repeatMediaTest(services)) << "no history entry yet";
}

TEST_F(PageFixture, AWriteTestAsksForConsentOnlyOnARealDevice) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  RealDevicePort real(*sim.port);
  struct Case {
    bool realDevice;
    bool answer;
    bool runs;
  };
  const Case cases[] = {{false, false, true}, {true, false, false}, {true, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "real " << c.realDevice << " answer " << c.answer);
    sim.ctx().port = c.realDevice ? static_cast<DevicePort*>(&real) : sim.port.get();
    ui.questions.clear();
    ui.answer = c.answer;
    real.scsiCommands = 0;
    ASSERT_TRUE(openMediaTestDialog(services, kOpRandomWrite));
    type(EditField::Slba, "1000");
    type(EditField::Elba, "2000");
    type(EditField::Loop, "5");
    dlg().sendButton()->click();
    EXPECT_EQ(ui.questions.size(), c.realDevice ? 1u : 0u);
    if (c.realDevice) {
      EXPECT_EQ(ui.questions[0],
                "Random Write destroys the data of Physical Drive 0 from LBA 0x1000 to 0x2000.\nGo on?");
    }
    if (!c.runs) {
      EXPECT_TRUE(dlg().isVisible());
      EXPECT_EQ(dlg().refusalLabel()->text().toStdString(), "Not started: raw writes need your consent");
      EXPECT_FALSE(runner.running());
      EXPECT_EQ(real.scsiCommands, 0);
      dlg().abortButton()->click();
      continue;
    }
    EXPECT_FALSE(dlg().isVisible());
    ASSERT_TRUE(pumpUntil([&] { return runEnded(); }));
    EXPECT_TRUE(page.lastResult()->passed()) << paneText().toStdString();
    if (c.realDevice) {
      EXPECT_GT(real.scsiCommands, 0);
    }
  }
  sim.ctx().port = sim.port.get();
}

TEST_F(PageFixture, ADriveWithMountedFileSystemsIsRefusedBeforeAnyQuestion) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::ofstream(services.mountInfoPath) << "1 0 8:1 / /media/pa256 rw - ext4 /dev/sda1 rw\n";
  RealDevicePort real(*sim.port);
  sim.ctx().port = &real;
  ui.answer = true;
  ASSERT_TRUE(openMediaTestDialog(services, kOpSeqWrite));
  type(EditField::Slba, "1000");
  type(EditField::Elba, "2000");
  dlg().sendButton()->click();
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(dlg().isVisible());
  EXPECT_EQ(dlg().refusalLabel()->text().toStdString(),
            "Physical Drive 0 holds mounted file systems (/media/pa256): it is never written raw");
  EXPECT_FALSE(runner.running());
  EXPECT_EQ(real.scsiCommands, 0);
  EXPECT_TRUE(driveList.isEnabled());
  sim.ctx().port = sim.port.get();
}

TEST(MediaTestRegistration, IsAnEngineeringTab) {
  bool found = false;
  for (const RegisteredPage& p : registeredPages()) found = found || std::string(p.title) == "Media Test";
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace zorv::app
