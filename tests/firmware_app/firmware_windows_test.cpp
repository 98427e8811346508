// The firmware windows on a simulated bay: the package page (CQUnZip), the
// downloader's "FW Update" running an appended package, and the model-lock
// dialog (CAdminZorv).

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QTest>

#include <filesystem>

#include "app/admin_zorv_dialog.h"
#include "app/firmware_entry.h"
#include "app/firmware_update_entry.h"
#include "app/qunzip_page.h"
#include "app/zorv_dlg.h"
#include "discovery/enumerate.h"
#include "discovery/volumes.h"
#include "firmware/updater.h"
#include "fwdl_support.h"
#include "qt_environment.h"
#include "sim/sim_port.h"
#include "support/test_support.h"

namespace zorv::app {
namespace {

using fwdl::contains;
using fwdl::driveIn;
using test::onNextModal;
using test::pumpUntil;

// A bay directory the window opens, and a second handle the test looks through.
struct BayDir {
  BayDir() {
    if (!sim::SimBay::create(dir.file("bay"), error)) return;
    other = sim::SimBay::open(dir.file("bay"), error);
    if (!other) return;
    // The window uses the system clock: a short restart keeps the test quick.
    for (int slot : {0, 1})
      other->controller(slot)->withDrive([](sim::SimDrive& d) { d.vendorState()["microcode"]["restartMs"] = 100; });
    port = sim::openSimPort(dir.file("bay"), error);
  }
  bool ok() const { return port && other; }
  DlgOptions options(WindowLayout layout) {
    DlgOptions o;
    o.layout = layout;
    o.mountInfoPath = mountInfoPathFor(*port, dir.file("bay"));
    o.devicePollMs = 0;
    return o;
  }
  // Both drives' rows, 16-byte IDs, class 0 image complemented.
  std::vector<uint8_t> package(const std::string& v0, const std::string& v1) {
    std::vector<firmware::PackageRow> rows;
    for (int slot : {0, 1}) {
      sim::DriveRecord d = driveIn(*other, slot);
      firmware::PackageRow row;
      row.firmwareId = fwdl::hwidOf(d);
      row.firmwareId.resize(16, 0);
      row.modelName = slot == 0 ? "PA256" : "TA512";
      row.image = fwdl::imageFor(*other, slot, slot == 0 ? v0 : v1);
      rows.push_back(std::move(row));
    }
    return fwdl::packageOf(1, rows);
  }
  std::string firmware(int slot) { return driveIn(*other, slot).identity.firmware; }

  test::TempDir dir;
  std::unique_ptr<DevicePort> port;
  std::shared_ptr<sim::SimBay> other;
  std::string error;
};

CQUnZip* firmwarePage(CZorvDlg& dlg) {
  for (int i = 0; i < dlg.tabs()->count(); ++i)
    if (auto* page = qobject_cast<CQUnZip*>(dlg.tabs()->widget(i))) return page;
  return nullptr;
}

// Accepts the next message box and keeps its text.
void acceptNextBox(QString* text) {
  onNextModal([text](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      if (text) *text = box->text();
      box->accept();
    }
  });
}

TEST(FirmwarePage, OpenQzListsTheRowsAndDownloadQzUpdatesTheDrive) {
  BayDir bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  CZorvDlg dlg(*bay.port, bay.options(WindowLayout::Engineering));
  CQUnZip* page = firmwarePage(dlg);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(selectPhysicalDrive(dlg.context(), 1));  // class 1, behind USB

  // Download QZ with nothing loaded.
  page->downloadQzButton()->click();
  EXPECT_EQ(page->boxSink().text(), "No QZ code\n");

  std::string path = bay.dir.file("demo.qz");
  fwdl::writeBytes(path, bay.package("S1108A", "T1209B"));
  ASSERT_TRUE(page->loadQz(path));
  QTreeWidget* list = page->list();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->headerItem()->text(0), "Firmware ID");
  EXPECT_EQ(list->headerItem()->text(1), "Offset");
  EXPECT_EQ(list->headerItem()->text(2), "Model Name");
  EXPECT_EQ(list->topLevelItem(1)->text(0), "5A0D2107 00000000 00000000 00000000 ");
  EXPECT_EQ(list->topLevelItem(0)->text(1), "00000070");
  EXPECT_EQ(list->topLevelItem(1)->text(2), "TA512");
  // At least the widths of the list; the Firmware ID column widens to its
  // 16-byte IDs instead of cutting them.
  EXPECT_GE(list->columnWidth(0), 260);
  EXPECT_GE(list->columnWidth(0), QFontMetrics(list->font()).horizontalAdvance(list->topLevelItem(1)->text(0)));
  EXPECT_EQ(list->columnWidth(1), 90);
  EXPECT_EQ(list->columnWidth(2), 150);
  // What the package would put on the drive is shown before a download.
  EXPECT_EQ(list->headerItem()->text(3), "FW Version");
  EXPECT_EQ(list->topLevelItem(1)->text(3), "T1209B");

  page->boxSink().clear();
  dlg.tabs()->setCurrentWidget(page);
  QString closing;
  acceptNextBox(&closing);
  page->downloadQzButton()->click();
  EXPECT_EQ(dlg.tabs()->currentIndex(), 0);  // the first tab comes to the front
  EXPECT_TRUE(page->running());
  EXPECT_FALSE(page->downloadQzButton()->isEnabled());
  page->waitForWorker();
  ASSERT_TRUE(pumpUntil([&] { return page->downloadQzButton()->isEnabled(); }));
  ASSERT_TRUE(page->lastDownload());
  EXPECT_TRUE(page->lastDownload()->updated()) << dlg.mainMessage()->sink().text().toStdString();
  EXPECT_EQ(closing, "Update FW Done.\r\nPlease Power Off SSD and Power Up again.");
  EXPECT_EQ(page->boxSink().text(),
            "Current HWID: 5A0D2107 00000000 00000000 00000000 \nCorrect Item: 1   TtlFwNum: 2\nParsing Success\n");
  EXPECT_EQ(page->progressBar()->value(), 100);
  // The message page, brought to the front, shows the transfer on its bar.
  EXPECT_EQ(dlg.mainMessage()->progressBar()->value(), 100);
  EXPECT_EQ(dlg.mainMessage()->progressBar()->alignment(), page->progressBar()->alignment());
  EXPECT_EQ(bay.firmware(1), "T1209B1A");
  EXPECT_EQ(dlg.context().fgBusy, 0);
}

// "Download QZ" reads the IDs as long as the drive selected when it runs
// needs them, not as the drive selected at "Open QZ" did: opened for the
// class 0 drive, the package's first row (alike in its first nine bytes)
// would be taken for the class 1 drive.
TEST(FirmwarePage, DownloadQzUsesTheDriveSelectedWhenItRuns) {
  BayDir bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  CZorvDlg dlg(*bay.port, bay.options(WindowLayout::Engineering));
  CQUnZip* page = firmwarePage(dlg);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(selectPhysicalDrive(dlg.context(), 0));

  std::vector<uint8_t> id = fwdl::hwidOf(driveIn(*bay.other, 1));
  std::vector<uint8_t> decoy = id;
  decoy[12] = 0xEE;
  std::vector<firmware::PackageRow> rows = {{decoy, "DECOY", fwdl::plainImage(1, decoy, "T1209B")},
                                            {id, "TA512", fwdl::plainImage(1, id, "T1209B")}};
  std::string path = bay.dir.file("two.qz");
  fwdl::writeBytes(path, fwdl::packageOf(1, rows));
  ASSERT_TRUE(page->loadQz(path));
  EXPECT_EQ(page->list()->topLevelItem(1)->text(0), "5A0D2107 00000000 00");

  ASSERT_TRUE(selectPhysicalDrive(dlg.context(), 1));
  QString closing;
  acceptNextBox(&closing);
  page->downloadQzButton()->click();
  page->waitForWorker();
  ASSERT_TRUE(page->lastDownload());
  EXPECT_TRUE(page->lastDownload()->updated()) << firmware::downloadVerdictName(page->lastDownload()->verdict);
  EXPECT_EQ(page->boxSink().text(),
            "Current HWID: 5A0D2107 00000000 00000000 00000000 \nCorrect Item: 1   TtlFwNum: 2\nParsing Success\n");
  EXPECT_EQ(page->list()->topLevelItem(1)->text(0), "5A0D2107 00000000 00000000 00000000 ");
  EXPECT_GE(page->list()->columnWidth(0), 260);
  EXPECT_EQ(bay.firmware(1), "T1209B1A");
}

// Model names are shown with their non-printable bytes escaped.
TEST(FirmwarePage, ModelNamesShowNonPrintableBytesEscaped) {
  BayDir bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  CZorvDlg dlg(*bay.port, bay.options(WindowLayout::Engineering));
  CQUnZip* page = firmwarePage(dlg);
  ASSERT_NE(page, nullptr);
  std::vector<uint8_t> id(9, 0x21);
  std::string path = bay.dir.file("odd.qz");
  fwdl::writeBytes(path, fwdl::packageOf(0, {{id, "PA\x1B[2J\x07", fwdl::plainImage(0, id, "S2000A", 4096)}}));
  ASSERT_TRUE(page->loadQz(path));
  EXPECT_EQ(page->list()->topLevelItem(0)->text(2), "PA\\x1B[2J\\x07");
}

TEST(FirmwarePage, OptionBoxesGoFirstAndMakeFwDownloaderWritesAnExecutable) {
  BayDir bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  CZorvDlg dlg(*bay.port, bay.options(WindowLayout::Engineering));
  CQUnZip* page = firmwarePage(dlg);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(selectPhysicalDrive(dlg.context(), 0));
  std::string path = bay.dir.file("demo.qz");
  fwdl::writeBytes(path, bay.package("S1108A", "T1209B"));
  ASSERT_TRUE(page->loadQz(path));  // read with class 0: the class 0 row is row 0

  // A double-click with two option boxes ticked: the switches, then the row's image.
  page->rs232Box()->setChecked(true);
  page->disablePowerDownBox()->setChecked(true);
  acceptNextBox(nullptr);
  Q_EMIT page->list()->itemDoubleClicked(page->list()->topLevelItem(0), 0);
  page->waitForWorker();
  ASSERT_TRUE(page->lastDownload());
  EXPECT_TRUE(page->lastDownload()->updated());
  EXPECT_EQ(page->boxSink().text(), "Disable Power Down\nEnable RS232\n");
  EXPECT_EQ(bay.firmware(0), "S1108A0C");

  // "Make FW Downloader": the option boxes are cleared and the image goes into
  // the chosen executable; nothing reaches the drive.
  std::vector<uint8_t> exe(4 * 32768, 0x90);
  std::vector<uint8_t> mark = {'F', 'i', 'n', 'd', 'M', 'e', '1', 'S', 't'};
  std::copy(mark.begin(), mark.end(), exe.begin() + 40000);
  std::string exePath = bay.dir.file("dl.exe");
  fwdl::writeBytes(exePath, exe);
  page->makeFwDownloaderBox()->setChecked(true);
  page->rs232Box()->setChecked(true);
  onNextModal([exePath](QWidget* w) {
    if (auto* fd = qobject_cast<QFileDialog*>(w)) {
      fd->selectFile(QString::fromStdString(exePath));
      QMetaObject::invokeMethod(fd, "accept");
    }
  });
  Q_EMIT page->list()->itemDoubleClicked(page->list()->topLevelItem(1), 0);
  EXPECT_FALSE(page->rs232Box()->isChecked());
  page->waitForWorker();
  ASSERT_TRUE(page->lastImageWrite());
  EXPECT_EQ(*page->lastImageWrite(), firmware::ImageWriteStatus::Written);
  std::vector<uint8_t> written = fwdl::readBytes(exePath);
  std::span<const uint8_t> image = page->packageTab().image(1);
  EXPECT_EQ(written[40000] | written[40001] << 8 | written[40002] << 16, static_cast<int>(image.size()));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), written.begin() + 40004));
  EXPECT_EQ(bay.firmware(1), "T1208B1A");
}

TEST(FirmwarePage, OpenBinClearSmartAndPreRb3) {
  BayDir bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  CZorvDlg dlg(*bay.port, bay.options(WindowLayout::Engineering));
  CQUnZip* page = firmwarePage(dlg);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(selectPhysicalDrive(dlg.context(), 1));
  std::string bin = bay.dir.file("t.bin");
  fwdl::writeBytes(bin, fwdl::imageFor(*bay.other, 1, "T1209B"));

  page->openBin(bay.dir.file("missing.bin"));
  EXPECT_EQ(page->boxSink().text(), "Open File Error\n");
  page->skipModelNameCheckBox()->setChecked(true);
  acceptNextBox(nullptr);
  page->openBin(bin);
  EXPECT_FALSE(page->skipModelNameCheckBox()->isChecked());  // "Open Bin" clears the boxes
  page->waitForWorker();
  ASSERT_TRUE(page->lastDownload());
  EXPECT_TRUE(page->lastDownload()->updated());
  EXPECT_EQ(bay.firmware(1), "T1209B1A");

  page->boxSink().clear();
  page->clearSmartButton()->click();
  QString box;
  acceptNextBox(&box);
  page->preRb3Button()->click();
  EXPECT_EQ(page->boxSink().text(), "Clear SMART Done\nPreRB3 Done\n");
  EXPECT_EQ(box, "Please Turn Off Drive Immediately");
}

// ---- The downloader's "FW Update" with a package appended to a program.

std::string gUpdaterPath;

bool runUpdaterFile(Context& ctx, ProgressSink& progress, MessageSink& box) {
  return runEmbeddedUpdate(ctx, progress, box, gUpdaterPath);
}

TEST(DownloaderFwUpdate, RunsThePackageAndReportsTheOutcome) {
  BayDir bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  gUpdaterPath = bay.dir.file("updater");
  fwdl::writeBytes(gUpdaterPath, firmware::appendPackageBytes(std::vector<uint8_t>(5000, 0x7F),
                                                              bay.package("S1108A", "T1209B"), 0x06));
  FirmwareUpdateEntry saved = setFirmwareUpdateEntry(&runUpdaterFile);
  CZorvDlg dlg(*bay.port, bay.options(WindowLayout::Downloader));
  ASSERT_EQ(dlg.context().ucSelDrive, 1);

  const QString blocks = dlg.messageBox()->toPlainText();
  QString closing;
  acceptNextBox(&closing);
  dlg.fwUpdateButton()->click();
  EXPECT_EQ(closing, "Update FW Done.\r\nPlease Power Off SSD and Power Up again.");
  EXPECT_EQ(dlg.progressBar()->value(), 100);
  // The pane's lines go to the message page; the box keeps the drive blocks.
  EXPECT_TRUE(dlg.pane().text().contains("Correct Item: 1   TtlFwNum: 2")) << dlg.pane().text().toStdString();
  EXPECT_EQ(dlg.messageBox()->toPlainText(), blocks);
  EXPECT_EQ(bay.firmware(1), "T1209B1A");

  // Again: the drive is current, which is no failure.
  acceptNextBox(&closing);
  dlg.fwUpdateButton()->click();
  EXPECT_EQ(closing, "Drive Fw Version: T120\r\nFW is the Latest\r\n");
  EXPECT_EQ(dlg.messageBox()->toPlainText(), blocks);

  // A drive that answers TEST UNIT READY with an error after the transfer
  // has not come back ready: a failure in the window too.
  std::string err;
  ASSERT_TRUE(bay.other->addFault(
      0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0x00, .count = 2, .senseKey = 0x04, .asc = 0x44}, err));
  dlg.driveListWidget()->setCurrentIndex(0);
  dlg.onDriveSelected(0);
  ASSERT_EQ(dlg.context().ucSelDrive, 0);
  acceptNextBox(&closing);
  dlg.fwUpdateButton()->click();
  EXPECT_EQ(closing, QString::fromUtf8(firmware::kUpdateFailedText.data(), firmware::kUpdateFailedText.size()));
  EXPECT_EQ(dlg.messageBox()->toPlainText(), blocks + "Download Fail\n");
  EXPECT_TRUE(dlg.pane().text().endsWith("Drive Not Ready\nTime Out\nUpdate Fail\n")) << dlg.pane().text().toStdString();
  setFirmwareUpdateEntry(saved);
}

// The engineering window's "Update Firmware": the same update, on a worker,
// with the message pane as its message box and the pane's bar as its bar.
TEST(EngineeringUpdateFirmware, RunsThePackageOnAWorkerAndUpdatesTheDrive) {
  BayDir bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  gUpdaterPath = bay.dir.file("updater");
  fwdl::writeBytes(gUpdaterPath, firmware::appendPackageBytes(std::vector<uint8_t>(5000, 0x7F),
                                                              bay.package("S1108A", "T1209B"), 0x06));
  FirmwareUpdateEntry saved = setFirmwareUpdateEntry(&runUpdaterFile);
  CZorvDlg dlg(*bay.port, bay.options(WindowLayout::Engineering));
  ASSERT_EQ(dlg.context().ucSelDrive, 1);
  QString closing;
  acceptNextBox(&closing);
  dlg.menuAction(kCmdUpdateFirmware, true)->trigger();
  EXPECT_TRUE(dlg.runner().running()) << "the update runs on the runner's worker";
  ASSERT_TRUE(test::pumpUntil([&] { return !dlg.runner().running(); }, std::chrono::seconds(60)));
  EXPECT_EQ(closing, "Update FW Done.\r\nPlease Power Off SSD and Power Up again.");
  EXPECT_EQ(bay.firmware(1), "T1209B1A");
  EXPECT_EQ(dlg.mainMessage()->progressBar()->value(), 100);
  EXPECT_FALSE(dlg.pane().text().contains("Download Fail")) << dlg.pane().text().toStdString();
  EXPECT_EQ(dlg.context().fgBusy, 0);
  setFirmwareUpdateEntry(saved);
}

TEST(DownloaderFwUpdate, AProgramWithoutPackageSaysDownloadFail) {
  BayDir bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  // The registered entry reads this test program, which carries no package.
  CZorvDlg dlg(*bay.port, bay.options(WindowLayout::Downloader));
  QString verdict;
  acceptNextBox(&verdict);
  dlg.fwUpdateButton()->click();
  // The program is named by its real path, not by the kernel's link to it.
  const QString own = QCoreApplication::applicationFilePath();
  ASSERT_FALSE(own.isEmpty());
  EXPECT_EQ(verdict, "no firmware package is appended to " + own + "\r\nDownload Fail");
  EXPECT_TRUE(dlg.messageBox()->toPlainText().endsWith("no firmware package is appended to " + own +
                                                        "\nDownload Fail\n"))
      << dlg.messageBox()->toPlainText().toStdString();
  EXPECT_EQ(bay.firmware(1), "T1208B1A");
}

// ---- CAdminZorv.

TEST(ModelLockDialog, ListsTheAcceptedBrandsAndLocksACopy) {
  test::RecordingPort port;
  test::TestContext t(port);
  test::TempDir dir;
  std::vector<uint8_t> exe(3000, 0x11);
  std::vector<uint8_t> name = {'Z', 'E', 'P', 'H', 'A', 'R', 'I', 'N'};
  std::copy(name.begin(), name.end(), exe.begin() + 1000);
  std::string in = dir.file("tool");
  fwdl::writeBytes(in, exe);

  t.ctx.ucBrandFirst = 2;
  t.ctx.ucBrandEnd = 3;
  {
    CAdminZorv dlg(t.ctx);
    ASSERT_EQ(dlg.modelName()->count(), 1);
    EXPECT_EQ(dlg.modelName()->itemText(0), "ORBENNE");
    EXPECT_EQ(dlg.modelName()->currentIndex(), 0);
    pumpUntil([&] { return !dlg.textBox()->toPlainText().isEmpty(); });
    EXPECT_EQ(dlg.textBox()->toPlainText(), "ORBENNE\n");
    EXPECT_EQ(dlg.selectedBrandIndex(), 2);
    t.ui.files = {in, dir.file("locked")};
    dlg.modelLockButton()->click();
    pumpUntil([&] { return dlg.textBox()->toPlainText().contains("Done"); });
    EXPECT_EQ(dlg.textBox()->toPlainText(), "ORBENNE\nLock Model Name Done\n");
    std::vector<uint8_t> locked = fwdl::readBytes(dir.file("locked"));
    EXPECT_EQ(locked[1008], 2);
    EXPECT_EQ(locked[1009], 3);
  }
  // A program that accepts every brand: the first entry locks to brand 0.
  t.ctx.ucBrandFirst = 0;
  t.ctx.ucBrandEnd = 5;
  CAdminZorv dlg(t.ctx);
  EXPECT_EQ(dlg.modelName()->count(), 5);
  t.ui.files = {in, dir.file("locked0")};
  dlg.modelLockButton()->click();
  std::vector<uint8_t> locked = fwdl::readBytes(dir.file("locked0"));
  ASSERT_EQ(locked.size(), exe.size());
  EXPECT_EQ(locked[1008], 0);
  EXPECT_EQ(locked[1009], 1);
  t.ui.files = {dir.file("plain")};
  fwdl::writeBytes(dir.file("plain"), std::vector<uint8_t>(100, 0));
  t.ui.files.push_back(dir.file("x"));
  dlg.modelLockButton()->click();
  pumpUntil([&] { return dlg.textBox()->toPlainText().contains("Fail"); });
  EXPECT_TRUE(dlg.textBox()->toPlainText().endsWith("<<<<Lock Model Fail>>>>\n"));
}

TEST(ModelLockDialog, CancelAndEscapeCloseIt) {
  test::RecordingPort port;
  test::TestContext t(port);
  for (bool escape : {false, true}) {
    CAdminZorv dlg(t.ctx);
    dlg.show();
    ASSERT_TRUE(dlg.isVisible());
    if (escape) {
      dlg.textBox()->setFocus();
      QTest::keyClick(dlg.textBox(), Qt::Key_Escape);
    } else {
      dlg.cancelButton()->click();
    }
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
  }
}

}  // namespace
}  // namespace zorv::app
