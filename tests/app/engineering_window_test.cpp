// The engineering window on a simulated bay opened as the program opens it:
// its menus, what every menu command does to the drive, the refusals while
// an operation holds the drive, tab switching and the Enter key.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTest>
#include <QThread>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/edit_ata_dialog.h"
#include "app/erase_stats_view.h"
#include "app/firmware_entry.h"
#include "app/media_test_page.h"
#include "qt_environment.h"
#include "app/zorv_dlg.h"
#include <nlohmann/json.hpp>

#include "sim/sim_bay.h"
#include "sim/sim_controller.h"
#include "sim/sim_drive.h"
#include "sim/sim_port.h"
#include "support/sim_fixture.h"

namespace zorv::app {
namespace {

namespace fs = std::filesystem;
using test::onNextModal;
using test::pumpUntil;

class EngineeringMenus : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    bayDir = dir.file("bay");
    ASSERT_TRUE(sim::SimBay::create(bayDir, error)) << error;
    port = sim::openSimPort(bayDir, error);
    ASSERT_TRUE(port) << error;
    DlgOptions options;
    options.layout = WindowLayout::Engineering;
    options.devicePollMs = 0;
    options.dumpDirectory = dir.path();
    window = std::make_unique<CZorvDlg>(*port, options);
    window->show();
    // The class-0 SATA drive of slot 0.
    window->driveListWidget()->setCurrentIndex(0);
    window->onDriveSelected(0);
    ASSERT_EQ(window->context().ucSelDrive, 0);
  }
  void TearDown() override { window.reset(); }

  QString pane() { return window->pane().text(); }
  CMediaTestPage* mediaPage() { return window->tabs()->findChild<CMediaTestPage*>(); }
  uint64_t triggersTaken() {
    // The bay is opened afresh, as zorvctl would see it from another process.
    std::string error;
    auto bay = sim::SimBay::open(bayDir, error);
    if (!bay) return ~0ull;
    return bay->controller(0)->withDrive([](sim::SimDrive& d) -> uint64_t {
      const nlohmann::json& v = d.vendorState();
      if (!v.contains("flash") || !v["flash"].contains("diagnosticTriggers")) return 0;
      return v["flash"]["diagnosticTriggers"].get<uint64_t>();
    });
  }

  test::TempDir dir;
  std::string bayDir;
  std::unique_ptr<DevicePort> port;
  std::unique_ptr<CZorvDlg> window;
};

QStringList titles(const QList<QAction*>& actions) {
  QStringList out;
  for (QAction* a : actions)
    if (!a->isSeparator()) out << a->text();
  return out;
}

QMenu* submenu(const QList<QAction*>& actions, const QString& title) {
  for (QAction* a : actions)
    if (a->text() == title) return a->menu();
  return nullptr;
}

TEST_F(EngineeringMenus, MenusAsTheEngineerKnowsThem) {
  QMenuBar* bar = window->mainMenu();
  EXPECT_EQ(titles(bar->actions()), (QStringList{"  F&ile  ", "  &Vendor  ", "  &Func  ", "Diagnostic"}));
  EXPECT_EQ(titles(submenu(bar->actions(), "  F&ile  ")->actions()), QStringList{"&Exit"});
  QMenu* vendor = submenu(bar->actions(), "  &Vendor  ");
  EXPECT_EQ(titles(vendor->actions()), (QStringList{"&1  ATA", "&2  DrawData"}));
  EXPECT_EQ(titles(submenu(vendor->actions(), "&1  ATA")->actions()), QStringList{"&1  Any ATA"});
  QMenu* func = submenu(bar->actions(), "  &Func  ");
  EXPECT_EQ(titles(func->actions()), (QStringList{"&1  Read", "&2  Write"}));
  EXPECT_EQ(titles(submenu(func->actions(), "&1  Read")->actions()), (QStringList{"&1  Seq Read", "&2  Rnd Access"}));
  EXPECT_EQ(titles(submenu(func->actions(), "&2  Write")->actions()), (QStringList{"&1  Seq Write", "&2  Rnd Write"}));
  EXPECT_EQ(titles(submenu(bar->actions(), "Diagnostic")->actions()), QStringList{"Trigger"});

  QMenuBar* second = window->secondMenu();
  EXPECT_EQ(titles(second->actions()), (QStringList{"Update Firmware", "Diagnostic", "RMA"}));
  EXPECT_EQ(titles(submenu(second->actions(), "Diagnostic")->actions()), QStringList{"Trigger"});
  EXPECT_EQ(titles(submenu(second->actions(), "RMA")->actions()), QStringList{"Clean SMART"});

  for (int id : {kCmdExit, kCmdAnyAta, kCmdDrawData, kCmdSeqRead, kCmdRndAccess, kCmdSeqWrite, kCmdRndWrite,
                 kCmdDiagnosticTrigger})
    EXPECT_NE(window->menuAction(id), nullptr) << id;
  for (int id : {kCmdUpdateFirmware, kCmdDiagnosticTrigger, kCmdCleanSmart})
    EXPECT_NE(window->menuAction(id, true), nullptr) << id;
}

TEST_F(EngineeringMenus, AnyAtaHoldsTheDriveWhileTheConsoleIsOpen) {
  window->pane().append("old text\r\n");
  window->context().CmdBlock.ucCommand = 0x25;
  bool seen = false;
  onNextModal([&](QWidget* w) {
    auto* console = qobject_cast<CEditAta*>(w);
    ASSERT_NE(console, nullptr);
    seen = true;
    EXPECT_EQ(window->context().fgBusy, 1);
    EXPECT_EQ(window->context().usOpCode, 0x25B0);
    EXPECT_FALSE(window->driveListWidget()->isEnabled());
    EXPECT_EQ(pane(), "");
    EXPECT_EQ(console->edit(7)->text(), "00") << "CmdBlock is cleared before the console opens";
    console->edit(2)->setText("01");
    console->edit(7)->setText("EC");
    console->sendButton()->click();
  });
  window->menuAction(kCmdAnyAta)->trigger();
  EXPECT_TRUE(seen);
  EXPECT_EQ(window->context().fgBusy, 0);
  EXPECT_TRUE(window->driveListWidget()->isEnabled());
  EXPECT_TRUE(pane().contains("ATA Command Success")) << pane().toStdString();
}

TEST_F(EngineeringMenus, DrawDataChartsTheSelectedDriveAndSavesThePicture) {
  const QString png = QString::fromStdString(dir.file("erase stats.png"));
  bool seen = false;
  onNextModal([&](QWidget* w) {
    auto* view = qobject_cast<CEraseStatsView*>(w);
    ASSERT_NE(view, nullptr);
    seen = true;
    EXPECT_EQ(window->context().fgBusy, 1);
    ASSERT_TRUE(view->statistics().has_value()) << view->status()->text().toStdString();
    EXPECT_TRUE(view->chart()->hasStatistics());
    EXPECT_TRUE(view->statistics()->perPlane);
    EXPECT_GT(view->statistics()->eraseCount.stddev, 0);
    EXPECT_TRUE(view->saveButton()->isEnabled());
    EXPECT_EQ(view->progressBar()->value(), 100);
    EXPECT_TRUE(view->saveAsPng(png));
    // A saved dump that was cut short draws nothing and says why.
    const std::string cut = dir.file("cut.txt");
    std::ofstream(cut) << "============Ch 00==Chip 00==Die 00==Plane 00====DataBlkS 0020========\r\n";
    EXPECT_FALSE(view->openDump(cut));
    EXPECT_FALSE(view->chart()->hasStatistics());
    EXPECT_FALSE(view->saveButton()->isEnabled());
    EXPECT_TRUE(view->status()->text().contains("cut short")) << view->status()->text().toStdString();
    view->reject();
  });
  window->menuAction(kCmdDrawData)->trigger();
  EXPECT_TRUE(seen);
  EXPECT_EQ(window->context().fgBusy, 0);
  EXPECT_TRUE(fs::exists(png.toStdString()));
  bool dumped = false;
  for (const auto& e : fs::directory_iterator(dir.path()))
    dumped = dumped || e.path().filename().string().starts_with("BlkInfoSNum__");
  EXPECT_TRUE(dumped);
  EXPECT_TRUE(pane().contains("Dump Block Info Ok"));
}

TEST_F(EngineeringMenus, MediaTestMenusOpenTheDialogForTheirTest) {
  CMediaTestPage* page = mediaPage();
  ASSERT_NE(page, nullptr);
  const struct {
    int command;
    uint16_t code;
    const char* status;
  } cases[] = {{kCmdSeqRead, 0x3310, ""},
               {kCmdRndAccess, 0x3321, ""},
               {kCmdSeqWrite, 0x3640, "<< Seq Write >>"},
               {kCmdRndWrite, 0x3650, "<< Random Write >>"}};
  for (const auto& c : cases) {
    window->menuAction(c.command)->trigger();
    EXPECT_TRUE(page->dialog()->isVisible()) << c.command;
    EXPECT_EQ(window->context().usOpCode, c.code);
    EXPECT_EQ(page->dialog()->statusLabel()->text(), c.status);
    page->dialog()->abortButton()->click();
    EXPECT_FALSE(page->dialog()->isVisible());
  }
}

TEST_F(EngineeringMenus, MenuCommandsDoNothingWhileAnOperationHoldsTheDrive) {
  static std::atomic<int> updates{0};
  FirmwareUpdateEntry saved = setFirmwareUpdateEntry([](Context&, ProgressSink&, MessageSink&) {
    ++updates;
    return true;
  });
  std::atomic<bool> release{false};
  ASSERT_TRUE(window->runner().start(nullptr, [&] {
    while (!release) QThread::msleep(1);
  }));
  window->pane().clear();
  window->context().usOpCode = 0x1234;
  bool modalOpened = false;
  QTimer watchdog;
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    if (QWidget* m = QApplication::activeModalWidget()) {
      modalOpened = true;
      m->close();
    }
  });
  watchdog.start(20);
  for (int id : {kCmdAnyAta, kCmdDrawData, kCmdSeqRead, kCmdRndAccess, kCmdSeqWrite, kCmdRndWrite,
                 kCmdDiagnosticTrigger})
    window->menuAction(id)->trigger();
  for (int id : {kCmdUpdateFirmware, kCmdDiagnosticTrigger, kCmdCleanSmart}) window->menuAction(id, true)->trigger();
  QTest::keyClick(window.get(), Qt::Key_Return);
  pumpUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_FALSE(modalOpened);
  EXPECT_FALSE(mediaPage()->dialog()->isVisible());
  EXPECT_EQ(updates, 0);
  EXPECT_EQ(window->context().usOpCode, 0x1234);
  EXPECT_EQ(pane(), "");
  EXPECT_TRUE(window->isVisible());
  release = true;
  ASSERT_TRUE(pumpUntil([&] { return !window->runner().running(); }));
  EXPECT_EQ(triggersTaken(), 0u);
  setFirmwareUpdateEntry(saved);
}

TEST_F(EngineeringMenus, UpdateFirmwareRunsTheDownloadersUpdateOnAWorker) {
  static std::thread::id updateThread;
  FirmwareUpdateEntry saved = setFirmwareUpdateEntry([](Context& ctx, ProgressSink& progress, MessageSink& box) {
    updateThread = std::this_thread::get_id();
    EXPECT_EQ(ctx.fgBusy, 1);
    progress.setPosition(40);
    box.append("Segment sent\r\n");
    return false;
  });
  window->tabs()->setCurrentIndex(window->tabs()->count() - 1);
  window->menuAction(kCmdUpdateFirmware, true)->trigger();
  EXPECT_EQ(window->tabs()->currentIndex(), 0) << "the first page shows the update";
  ASSERT_TRUE(pumpUntil([&] { return !window->runner().running(); }));
  EXPECT_NE(updateThread, std::this_thread::get_id());
  EXPECT_TRUE(pane().endsWith("Segment sent\nDownload Fail\n")) << pane().toStdString();
  EXPECT_EQ(window->mainMessage()->progressBar()->value(), 40);
  EXPECT_EQ(window->context().fgBusy, 0);
  setFirmwareUpdateEntry(saved);
}

TEST_F(EngineeringMenus, TriggerAndCleanSmartReachTheDrive) {
  window->tabs()->setCurrentIndex(window->tabs()->count() - 1);
  window->pane().clear();
  window->menuAction(kCmdDiagnosticTrigger)->trigger();
  EXPECT_EQ(window->tabs()->currentIndex(), 0);
  window->menuAction(kCmdDiagnosticTrigger, true)->trigger();
  EXPECT_EQ(pane(), "Diagnostic Enable.......\nDiagnostic Enable.......\n");
  window->pane().clear();
  window->menuAction(kCmdCleanSmart, true)->trigger();
  EXPECT_EQ(pane(), "SMART Clean Good\nPlease remove drive, then plug again\n");
  EXPECT_EQ(window->context().fgBusy, 0);
  window.reset();  // the bay is the window's until it closes
  EXPECT_EQ(triggersTaken(), 2u);
}

TEST_F(EngineeringMenus, SwitchingTabsLeavesOnePageVisibleFillingTheDisplayArea) {
  QTabWidget* tabs = window->tabs();
  ASSERT_GE(tabs->count(), 3);
  auto* stack = tabs->findChild<QStackedWidget*>();
  ASSERT_NE(stack, nullptr);
  for (int i : {2, 0, tabs->count() - 1, 1}) {
    tabs->setCurrentIndex(i);
    QApplication::processEvents();
    int visible = 0;
    for (int j = 0; j < tabs->count(); ++j) visible += tabs->widget(j)->isVisible() ? 1 : 0;
    EXPECT_EQ(visible, 1) << i;
    EXPECT_TRUE(tabs->widget(i)->isVisible()) << i;
    EXPECT_EQ(tabs->widget(i)->geometry(), stack->contentsRect()) << i;
  }
}

TEST_F(EngineeringMenus, EnterRepeatsTheCurrentMediaTestUnlessAPageTookIt) {
  CMediaTestPage* page = mediaPage();
  ASSERT_NE(page, nullptr);
  CEditFuncDialog& dlg = *page->dialog();
  // Nothing to repeat yet.
  QTest::keyClick(window.get(), Qt::Key_Return);
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_TRUE(window->isVisible());

  window->menuAction(kCmdRndAccess)->trigger();
  ASSERT_TRUE(dlg.isVisible());
  dlg.edit(EditField::Elba)->setText("400");
  dlg.edit(EditField::Loop)->setText("3");
  dlg.sendButton()->click();
  ASSERT_TRUE(pumpUntil([&] { return page->lastResult().has_value() && !window->runner().running(); }));

  window->context().usOpCode = 0;
  QTest::keyClick(window.get(), Qt::Key_Return);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(window->context().usOpCode, 0x3321);
  EXPECT_EQ(dlg.edit(EditField::Loop)->text(), "3");
  EXPECT_EQ(dlg.edit(EditField::Elba)->text(), "400");
  dlg.abortButton()->click();

  // Enter in a text field of a page is that page's.
  QLineEdit* field = nullptr;
  for (int i = 0; i < window->tabs()->count() && !field; ++i) {
    window->tabs()->setCurrentIndex(i);
    QApplication::processEvents();
    for (QLineEdit* e : window->tabs()->widget(i)->findChildren<QLineEdit*>())
      if (!field && e->isVisible() && e->isEnabled() && !e->isReadOnly()) field = e;
  }
  ASSERT_NE(field, nullptr);
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  field->setFocus();
  ASSERT_EQ(window->focusWidget(), field);
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace zorv::app
