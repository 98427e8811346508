// An operation works on the drive it started on, whatever happens to the
// drive list meanwhile; the list is disabled while it runs, in both layouts;
// a progress bar never shows another drive's progress; hot-plug rescans and
// File > Exit wait for the operation.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "app/dev_info_page.h"
#include "app/firmware_entry.h"
#include "app/qunzip_page.h"
#include "app/zorv_dlg.h"
#include "discovery/enumerate.h"
#include "discovery/fake_bay.h"
#include "discovery/volumes.h"
#include "fwdl_support.h"
#include "gated_port.h"
#include "qt_environment.h"
#include "sim/sim_port.h"

namespace zorv::app {
namespace {

namespace fs = std::filesystem;
using test::onNextModal;
using test::pumpUntil;

// The default bay (drive 0 SATA, drive 1 USB) seen by the window through a gate.
struct GatedBay {
  GatedBay() {
    if (!sim::SimBay::create(dir.file("bay"), error)) return;
    other = sim::SimBay::open(dir.file("bay"), error);
    if (!other) return;
    // The window waits on the system clock: a short restart keeps the test quick.
    for (int slot : {0, 1})
      other->controller(slot)->withDrive([](sim::SimDrive& d) { d.vendorState()["microcode"]["restartMs"] = 100; });
    inner = sim::openSimPort(dir.file("bay"), error);
    if (inner) gate = std::make_unique<test::GatedPort>(*inner);
  }
  bool ok() const { return gate && other; }
  DlgOptions options(WindowLayout layout) {
    DlgOptions o;
    o.layout = layout;
    o.mountInfoPath = mountInfoPathFor(*inner, dir.file("bay"));
    o.devicePollMs = 0;
    return o;
  }
  std::string firmware(int slot) { return fwdl::driveIn(*other, slot).identity.firmware; }

  test::TempDir dir;
  std::string error;
  std::shared_ptr<sim::SimBay> other;
  std::unique_ptr<DevicePort> inner;
  std::unique_ptr<test::GatedPort> gate;
};

template <class Page>
Page* pageOf(CZorvDlg& dlg) {
  for (int i = 0; i < dlg.tabs()->count(); ++i)
    if (auto* page = qobject_cast<Page*>(dlg.tabs()->widget(i))) return page;
  return nullptr;
}

// What a person does who picks a line: the line changes, then the handler runs.
void pickLine(CZorvDlg& dlg, int line) {
  dlg.driveListWidget()->setCurrentIndex(line);
  Q_EMIT dlg.driveListWidget()->activated(line);
}

void acceptNextBox() {
  onNextModal([](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) box->accept();
  });
}

// While the worker is held in the middle of the operation: the list is
// disabled, a pick changes neither the drive nor the line shown.
void pickTheOtherDriveMidway(CZorvDlg& dlg, test::GatedPort& gate) {
  bool held = pumpUntil([&] { return gate.held(); });
  if (held) {
    EXPECT_FALSE(dlg.driveListWidget()->isEnabled());
    pickLine(dlg, 1);
    EXPECT_EQ(dlg.context().ucSelDrive, 0);
    EXPECT_EQ(dlg.driveListWidget()->currentIndex(), 0);
  }
  gate.open();
  ASSERT_TRUE(held) << "the operation never reached the gate";
}

void expectEverythingWentTo(const test::GatedPort& gate, const std::string& path) {
  std::vector<std::string> paths = gate.pathsSinceGate();
  ASSERT_FALSE(paths.empty());
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(paths[i], path) << "request " << i << " after the gate";
}

TEST(DriveBinding, AFirmwareDownloadKeepsGoingToItsDrive) {
  GatedBay bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  CZorvDlg dlg(*bay.gate, bay.options(WindowLayout::Engineering));
  auto* page = pageOf<CQUnZip>(dlg);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(selectPhysicalDrive(dlg.context(), 0));
  std::string bin = bay.dir.file("pa256 image.bin");
  fwdl::writeBytes(bin, fwdl::imageFor(*bay.other, 0, "S1108A", 4 * 64 * 1024));

  // Held at the second of four segments.
  bay.gate->holdAt(0x93, 2);
  acceptNextBox();
  page->openBin(bin);
  pickTheOtherDriveMidway(dlg, *bay.gate);
  page->waitForWorker();

  ASSERT_TRUE(page->lastDownload());
  EXPECT_TRUE(page->lastDownload()->updated()) << page->boxSink().text().toStdString();
  expectEverythingWentTo(*bay.gate, "sim:0");
  EXPECT_EQ(bay.firmware(0), "S1108A0C");
  EXPECT_EQ(bay.firmware(1), "T1208B1A");
  EXPECT_EQ(dlg.context().ucSelDrive, 0);
  EXPECT_TRUE(dlg.driveListWidget()->isEnabled());
  EXPECT_EQ(dlg.context().fgBusy, 0);
}

TEST(DriveBinding, AMemoryDumpKeepsReadingItsDrive) {
  GatedBay bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  CZorvDlg dlg(*bay.gate, bay.options(WindowLayout::Engineering));
  auto* page = pageOf<CDevInfo>(dlg);
  ASSERT_NE(page, nullptr);
  page->console().setDirectory(bay.dir.path());
  ASSERT_TRUE(selectPhysicalDrive(dlg.context(), 0));
  page->console().onCommandChanged(9);  // "50 Memory Dump"
  page->console().editInputs([](DiagInputs& in) {
    in.startMemory = "1000";
    in.memoryLength = "40000";  // four chunks of 128 sectors
  });

  bay.gate->holdAt(0xE4, 200);  // a READ BUFFER of the second chunk
  qobject_cast<QPushButton*>(page->control(DevInfoControl::GetDevInfo))->click();
  pickTheOtherDriveMidway(dlg, *bay.gate);
  page->waitForRun();

  std::optional<DiagRunResult> run = page->console().lastRun();
  ASSERT_TRUE(run);
  EXPECT_TRUE(run->ok());
  expectEverythingWentTo(*bay.gate, "sim:0");
  size_t dumps = 0;
  for (const auto& f : fs::directory_iterator(bay.dir.path())) {
    if (f.path().filename().string().rfind("MemDmp_", 0) != 0) continue;
    ++dumps;
    EXPECT_EQ(fs::file_size(f.path()), 0x40000u);
  }
  EXPECT_EQ(dumps, 1u);
  EXPECT_EQ(dlg.context().ucSelDrive, 0);
  EXPECT_TRUE(dlg.driveListWidget()->isEnabled());
}

TEST(LongRuns, StopEndsADumpBetweenTwoChunksAndTheRunLogSaysSo) {
  GatedBay bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  CZorvDlg dlg(*bay.gate, bay.options(WindowLayout::Engineering));
  auto* page = pageOf<CDevInfo>(dlg);
  ASSERT_NE(page, nullptr);
  page->console().setDirectory(bay.dir.path());
  ASSERT_TRUE(selectPhysicalDrive(dlg.context(), 0));
  page->console().onCommandChanged(9);  // "50 Memory Dump"
  page->console().editInputs([](DiagInputs& in) {
    in.startMemory = "1000";
    in.memoryLength = "40000";
  });
  EXPECT_FALSE(page->stopButton()->isEnabled());

  bay.gate->holdAt(0xE4, 200);
  qobject_cast<QPushButton*>(page->control(DevInfoControl::GetDevInfo))->click();
  bool held = pumpUntil([&] { return bay.gate->held(); });
  EXPECT_TRUE(page->stopButton()->isEnabled());
  page->stopButton()->click();
  bay.gate->open();
  ASSERT_TRUE(held);
  page->waitForRun();

  std::optional<DiagRunResult> run = page->console().lastRun();
  ASSERT_TRUE(run);
  EXPECT_TRUE(run->stopped);
  EXPECT_FALSE(run->ok());
  EXPECT_NE(run->runText.find("STOP!\r\nFile Name is:\r\nMemDmp_"), std::string::npos) << run->runText;
  std::ifstream log(fs::path(bay.dir.path()) / run->runLogName, std::ios::binary);
  std::string logged((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_EQ(logged, run->runText);
  for (const auto& f : fs::directory_iterator(bay.dir.path())) {
    if (f.path().filename().string().rfind("MemDmp_", 0) != 0) continue;
    EXPECT_EQ(fs::file_size(f.path()), 0x20000u);
  }
  EXPECT_TRUE(pumpUntil([&] { return page->progressBar()->value() == 25; }));
  EXPECT_FALSE(page->stopButton()->isEnabled());
  EXPECT_EQ(dlg.context().fgBusy, 0);
}

// ---- The downloader layout, whose update runs on the GUI thread.

CZorvDlg* gDownloader = nullptr;
std::atomic<int> gListEnabledDuringUpdate{-1};

bool pickDuringUpdate(Context& ctx, ProgressSink& progress, MessageSink&) {
  gListEnabledDuringUpdate = gDownloader->driveListWidget()->isEnabled() ? 1 : 0;
  // A pick that reaches the window while the update shows a box.
  pickLine(*gDownloader, 0);
  progress.setPosition(ctx.ucSelDrive == 1 ? 100 : 1);
  return ctx.ucSelDrive == 1;
}

TEST(DriveBinding, TheDownloaderUpdateKeepsItsDriveAndDisablesTheList) {
  test::FakeBay bay;
  bay.put(0, {kBusSata, test::makeIdentify("ORBENNE PA256", "AA11", "F1", 500118192)});
  bay.put(1, {kBusSata, test::makeIdentify("ORBENNE PA512", "BB22", "F1", 500118192)});
  DlgOptions options;
  options.devicePollMs = 0;
  CZorvDlg dlg(bay, options);
  ASSERT_EQ(dlg.context().ucSelDrive, 1);
  gDownloader = &dlg;
  FirmwareUpdateEntry saved = setFirmwareUpdateEntry(&pickDuringUpdate);
  dlg.fwUpdateButton()->click();
  setFirmwareUpdateEntry(saved);
  gDownloader = nullptr;

  EXPECT_EQ(gListEnabledDuringUpdate, 0);
  EXPECT_EQ(dlg.progressBar()->value(), 100);
  EXPECT_FALSE(dlg.messageBox()->toPlainText().endsWith("Download Fail\n"));
  EXPECT_EQ(dlg.context().ucSelDrive, 1);
  EXPECT_EQ(dlg.driveListWidget()->currentIndex(), 1);
  EXPECT_TRUE(dlg.driveListWidget()->isEnabled());
}

// ---- Progress bars and rescans.

const char* kBrandInterface = "\\\\?\\USBSTOR#Disk&Ven_Orbenne&Prod_PA256#0001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

test::FakeDrive brandDrive(const std::string& serial) {
  return {kBusSata, test::makeIdentify("ORBENNE PA256", serial, "F1", 500118192)};
}

TEST(ProgressBar, ShowsNothingOfAnotherDrive) {
  test::FakeBay bay;
  bay.put(0, brandDrive("AA11"));
  bay.put(2, brandDrive("BB22"));
  DlgOptions options;
  options.devicePollMs = 0;
  CZorvDlg dlg(bay, options);
  QProgressBar* bar = dlg.progressBar();
  ASSERT_EQ(dlg.context().ucSelDrive, 1);

  struct Step {
    const char* what;
    std::function<void()> act;
    int shown;
  };
  const Step steps[] = {
      {"a drive plugged in takes the selection",
       [&] {
         bay.put(5, brandDrive("CC33"));
         bay.pushEvent(DeviceEventKind::Arrival, kBrandInterface);
         dlg.pollDeviceEvents();
       },
       0},
      {"a rescan that keeps the selected drive",
       [&] {
         bay.remove(0);
         bay.pushEvent(DeviceEventKind::Removal, kBrandInterface);
         dlg.pollDeviceEvents();
       },
       100},
      {"the same line picked again", [&] { pickLine(dlg, 1); }, 100},
      {"another line picked", [&] { pickLine(dlg, 0); }, 0},
      {"the selected drive replaced in its slot",
       [&] {
         pickLine(dlg, 1);
         bar->setValue(100);
         bay.put(5, brandDrive("DD44"));
         dlg.onReflashDrive();
       },
       0},
  };
  for (const Step& s : steps) {
    bar->setValue(100);
    s.act();
    EXPECT_EQ(bar->value(), s.shown) << s.what;
  }
}

TEST(ProgressBar, TheFirmwarePageBarIsResetWhenAnUnplugMovesTheSelection) {
  GatedBay bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  CZorvDlg dlg(*bay.gate, bay.options(WindowLayout::Engineering));
  auto* page = pageOf<CQUnZip>(dlg);
  ASSERT_NE(page, nullptr);
  ASSERT_EQ(dlg.context().ucSelDrive, 1);
  page->progressBar()->setValue(100);
  std::string error;
  ASSERT_TRUE(bay.other->unplug(1, error)) << error;
  ASSERT_TRUE(pumpUntil([&] {
    dlg.pollDeviceEvents();
    return dlg.driveListWidget()->count() == 1;
  }));
  EXPECT_EQ(page->progressBar()->value(), 0);
}

TEST(DeviceChanges, WaitForTheOperationAndFollowItsEnd) {
  test::FakeBay bay;
  bay.put(0, brandDrive("AA11"));
  bay.put(2, brandDrive("BB22"));
  DlgOptions options;
  options.devicePollMs = 0;
  CZorvDlg dlg(bay, options);
  std::atomic<bool> release{false};
  ASSERT_TRUE(dlg.runner().start(nullptr, [&] {
    while (!release) QThread::msleep(1);
  }));
  bay.remove(0);
  bay.pushEvent(DeviceEventKind::Removal, kBrandInterface);
  dlg.pollDeviceEvents();
  EXPECT_EQ(dlg.driveListWidget()->count(), 2);
  EXPECT_EQ(dlg.context().ucSelDrive, 1);
  release = true;
  ASSERT_TRUE(dlg.runner().wait());
  // Applied at the end, without waiting for the next look at the devices.
  EXPECT_EQ(dlg.driveListWidget()->count(), 1);
  EXPECT_EQ(dlg.context().ucSelDrive, 0);
}

// ---- File > Exit.

QAction* exitAction(CZorvDlg& dlg) {
  for (QAction* a : dlg.findChildren<QAction*>())
    if (a->text() == "&Exit") return a;
  return nullptr;
}

void answerNextQuestion(QMessageBox::StandardButton answer, QString* text) {
  onNextModal([answer, text](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return;
    *text = box->text();
    box->button(answer)->click();
  });
}

TEST(FileExit, AsksDuringAnOperationThenStopsItAndWaits) {
  test::FakeBay bay;
  bay.put(0, brandDrive("AA11"));
  CZorvDlg dlg(bay, [] {
    DlgOptions o;
    o.layout = WindowLayout::Engineering;
    o.devicePollMs = 0;
    return o;
  }());
  dlg.show();
  QAction* exit = exitAction(dlg);
  ASSERT_NE(exit, nullptr);

  // Idle: the window closes at once.
  exit->trigger();
  EXPECT_FALSE(dlg.isVisible());
  dlg.show();

  // An operation that ends between two commands when asked to.
  ASSERT_TRUE(dlg.runner().start(nullptr, [&] {
    while (!dlg.context().fgStopRequest) QThread::msleep(1);
  }));
  QString question;
  answerNextQuestion(QMessageBox::No, &question);
  exit->trigger();
  EXPECT_EQ(question, "An operation is still running. Stop it and exit?");
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_TRUE(dlg.runner().running());
  EXPECT_EQ(dlg.context().fgStopRequest, 0);

  answerNextQuestion(QMessageBox::Yes, &question);
  exit->trigger();
  EXPECT_FALSE(dlg.runner().running());
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.context().fgBusy, 0);
}

}  // namespace
}  // namespace zorv::app
