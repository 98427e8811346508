#include <gtest/gtest.h>

#include <QLabel>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <filesystem>
#include <fstream>

#include "app/firmware_entry.h"
#include "app/zorv_dlg.h"
#include "discovery/fake_bay.h"
#include "qt_environment.h"
#include "support/sim_fixture.h"

namespace zorv::app {
namespace {

using test::FakeBay;
using test::FakeDrive;
using test::makeIdentify;

FakeDrive drive(const std::string& model, const std::string& serial, uint64_t sectors, const std::string& fw = "F1") {
  FakeDrive d;
  d.identify = makeIdentify(model, serial, fw, sectors, "");
  return d;
}

const char* kBrandInterface = "\\\\?\\USBSTOR#Disk&Ven_Orbenne&Prod_PA256#0001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

struct TempDir {
  test::TempDir dir;  // unique per test, removed at the end
  std::filesystem::path path{dir.path()};
};

DlgOptions manualPolling(WindowLayout layout = WindowLayout::Downloader) {
  DlgOptions o;
  o.layout = layout;
  o.devicePollMs = 0;
  return o;
}

QStringList comboLines(QComboBox* combo) {
  QStringList out;
  for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
  return out;
}

TEST(DownloaderWindow, OpensWithTitleListAndInformationBlocks) {
  FakeBay bay;
  bay.put(0, drive("ORBENNE PA256", "AA11", 500118192, "R1"));
  bay.put(1, drive("OTHERCO DISK", "ZZ", 1000));
  bay.put(3, drive("ORBENNE TA1T", "BB22", 1953525168, "R2"));
  TempDir dir;
  std::ofstream(dir.path / "mountinfo") << "1 0 8:49 / /media/orb\\040d rw - ext4 /dev/sdd1 rw\n"
                                           "2 0 8:50 / /media/e rw - ext4 /dev/sdd2 rw\n";
  DlgOptions options = manualPolling();
  options.mountInfoPath = (dir.path / "mountinfo").string();
  CZorvDlg dlg(bay, options);

  EXPECT_EQ(dlg.windowTitle(), "Firmware Downloader Ver 1.7");
  EXPECT_EQ(comboLines(dlg.driveListWidget()),
            (QStringList{"Physical Drive 0 ORBENNEPA256 238G R1", "Physical Drive 3 ORBENNETA1T 931G R2"}));
  EXPECT_EQ(dlg.driveListWidget()->currentIndex(), 1);
  EXPECT_TRUE(dlg.driveListWidget()->isEnabled());
  EXPECT_EQ(dlg.context().ucSelDrive, 1);
  EXPECT_EQ(dlg.context().ucDriveCount, 2);

  QString box = dlg.messageBox()->toPlainText();
  EXPECT_TRUE(box.startsWith("ORBENNEPA256-256\nVer: R1      \nSN:  AA11\nDisk 0\n--------End Of Drive Info-------\n"
                             "ORBENNETA1T-1000\nVer: R2      \nSN:  BB22\nDisk 3\n"
                             "Contains volume: /media/orb d /media/e\n--------End Of Drive Info-------\n"))
      << box.toStdString();
  // The pane's lines go to the message page, not into the message box.
  EXPECT_FALSE(box.contains("Model Name")) << box.toStdString();
  EXPECT_TRUE(dlg.mainMessage()->sink().text().contains("Model Name      : ORBENNE TA1T"));
  EXPECT_TRUE(dlg.mainMessage()->isHidden());
  EXPECT_TRUE(dlg.messageBox()->isReadOnly());
  // The box asks for a fixed-pitch face; which one the machine draws is its own.
  EXPECT_TRUE(dlg.messageBox()->font().fixedPitch());
  EXPECT_EQ(dlg.messageBox()->font().styleHint(), QFont::Monospace);

  EXPECT_EQ(dlg.fwUpdateButton()->text(), "FW Update");
  EXPECT_EQ(dlg.progressBar()->minimum(), 0);
  EXPECT_EQ(dlg.progressBar()->maximum(), 100);
  EXPECT_EQ(dlg.progressBar()->value(), 0);
  EXPECT_TRUE(dlg.findChild<QRadioButton*>("radio1227")->isHidden());
  EXPECT_TRUE(dlg.findChild<QRadioButton*>("radio1233")->isHidden());
  // Start-up defaults.
  EXPECT_EQ(dlg.context().fgVendorCdbEnable, 1);
  EXPECT_EQ(dlg.context().ucBrandFirst, 2);
  EXPECT_EQ(dlg.context().usTimeoutLong, 255);
}

TEST(DownloaderWindow, FwUpdateReportsDownloadFailWithoutAPackage) {
  FakeBay bay;
  bay.put(0, drive("ORBENNE PA256", "AA11", 500118192));
  CZorvDlg dlg(bay, manualPolling());
  FirmwareUpdateEntry saved = setFirmwareUpdateEntry(nullptr);
  dlg.progressBar()->setValue(40);
  dlg.fwUpdateButton()->click();
  EXPECT_TRUE(dlg.messageBox()->toPlainText().endsWith("Download Fail\n"));
  EXPECT_EQ(dlg.progressBar()->value(), 0);
  EXPECT_EQ(dlg.context().fgBusy, 0);

  // A registered update runs with the window's progress bar and message box; busy refuses.
  static int runs = 0;
  setFirmwareUpdateEntry([](Context& ctx, ProgressSink& progress, MessageSink& box) {
    ++runs;
    EXPECT_EQ(ctx.fgBusy, 1);
    progress.setPosition(100);
    box.append("Update FW Done.\r\n");
    return true;
  });
  dlg.fwUpdateButton()->click();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(dlg.progressBar()->value(), 100);
  EXPECT_TRUE(dlg.messageBox()->toPlainText().endsWith("Download Fail\nUpdate FW Done.\n"));
  dlg.context().fgBusy = 1;
  dlg.fwUpdateButton()->click();
  EXPECT_EQ(runs, 1);
  setFirmwareUpdateEntry(saved);
}

TEST(DownloaderWindow, NoDriveOfTheBrandLeavesTheListEmpty) {
  FakeBay bay;
  bay.put(2, drive("OTHERCO DISK", "ZZ", 1000));
  CZorvDlg dlg(bay, manualPolling());
  EXPECT_EQ(dlg.driveListWidget()->count(), 0);
  EXPECT_EQ(dlg.messageBox()->toPlainText(), "");
  EXPECT_EQ(dlg.context().ucSelDrive, kNoDrive);
  FirmwareUpdateEntry saved = setFirmwareUpdateEntry(nullptr);
  dlg.fwUpdateButton()->click();
  EXPECT_EQ(dlg.messageBox()->toPlainText(), "Download Fail\n");
  setFirmwareUpdateEntry(saved);
}

TEST(DownloaderWindow, SaysWhyWhenDrivesCannotBeOpened) {
  FakeBay bay;
  FakeDrive denied;
  denied.openError = IoError::PermissionDenied;
  bay.put(0, denied);
  bay.put(1, denied);
  CZorvDlg dlg(bay, manualPolling());
  EXPECT_EQ(dlg.driveListWidget()->count(), 0);
  EXPECT_EQ(dlg.messageBox()->toPlainText(),
            "No permission to use rec:0, rec:1: run as root or with CAP_SYS_RAWIO (the group zorv may open the family's drives: README, \"Installing\")\n");
}

TEST(DownloaderWindow, EscSetsTheStopFlagAndEnterNeverClosesOrUpdates) {
  FakeBay bay;
  bay.put(0, drive("ORBENNE PA256", "AA11", 500118192));
  CZorvDlg dlg(bay, manualPolling());
  FirmwareUpdateEntry saved = setFirmwareUpdateEntry(nullptr);
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  dlg.fwUpdateButton()->setFocus();
  QString before = dlg.messageBox()->toPlainText();
  QTest::keyClick(&dlg, Qt::Key_Escape);
  EXPECT_EQ(dlg.context().fgStopRequest, 1);
  EXPECT_TRUE(dlg.isVisible());
  QTest::keyClick(dlg.fwUpdateButton(), Qt::Key_Return);
  QTest::keyClick(dlg.driveListWidget(), Qt::Key_Enter);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.messageBox()->toPlainText(), before);
  setFirmwareUpdateEntry(saved);
}

TEST(DownloaderWindow, DroppedFileBecomesTheUpperCaseBaseName) {
  FakeBay bay;
  CZorvDlg dlg(bay, manualPolling());
  auto drop = [&dlg](const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &enter);
    QDropEvent event(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &event);
    return enter.isAccepted();
  };
  EXPECT_TRUE(drop({QUrl::fromLocalFile("/tmp/fw.dir/Image.v2.bin")}));
  EXPECT_EQ(dlg.currentFileBaseName(), "/TMP/FW.DIR/IMAGE.V2");
  drop({QUrl::fromLocalFile("/tmp/fw.dir/noext")});
  EXPECT_EQ(dlg.currentFileBaseName(), "/TMP/FW.DIR/NOEXT");
  EXPECT_FALSE(drop({QUrl::fromLocalFile("/tmp/a.bin"), QUrl::fromLocalFile("/tmp/b.bin")}));
  EXPECT_EQ(dlg.currentFileBaseName(), "/TMP/FW.DIR/NOEXT");
  dlg.context().fgBusy = 1;
  EXPECT_FALSE(drop({QUrl::fromLocalFile("/tmp/c.bin")}));
  EXPECT_EQ(dlg.currentFileBaseName(), "/TMP/FW.DIR/NOEXT");
}

TEST(DownloaderWindow, PickingALineSelectsThatDrive) {
  FakeBay bay;
  bay.put(0, drive("ORBENNE PA256", "AA11", 500118192, "R0"));
  bay.put(4, drive("ORBENNE PA512", "BB11", 500118192, "R4"));
  CZorvDlg dlg(bay, manualPolling());
  dlg.pane().clear();
  const QString box = dlg.messageBox()->toPlainText();
  dlg.driveListWidget()->setCurrentIndex(0);
  Q_EMIT dlg.driveListWidget()->activated(0);
  EXPECT_EQ(dlg.context().ucSelDrive, 0);
  EXPECT_EQ(dlg.pane().text(), "Model Name      : ORBENNE PA256" + QString(27, ' ') + "\nFirmware Version: R0      \n\n\n");
  EXPECT_EQ(dlg.messageBox()->toPlainText(), box);
  EXPECT_TRUE(dlg.driveListWidget()->isEnabled());
}

// The rescans write to the pane (the message page); the message box keeps
// the drive blocks of the opening pass and the verdicts written since.
TEST(DownloaderWindow, ArrivalAndRemovalOfTheBrandRescan) {
  FakeBay bay;
  bay.put(0, drive("ORBENNE PA256", "AA11", 500118192));
  CZorvDlg dlg(bay, manualPolling());
  ASSERT_TRUE(dlg.watchingDevices());
  ASSERT_EQ(dlg.driveListWidget()->count(), 1);
  FirmwareUpdateEntry saved = setFirmwareUpdateEntry(nullptr);
  dlg.fwUpdateButton()->click();
  setFirmwareUpdateEntry(saved);
  const QString box = dlg.messageBox()->toPlainText();
  ASSERT_TRUE(box.startsWith("ORBENNEPA256-256\nVer: F1      \nSN:  AA11\nDisk 0\n")) << box.toStdString();
  ASSERT_TRUE(box.endsWith("--------End Of Drive Info-------\nDownload Fail\n")) << box.toStdString();

  bay.put(2, drive("ORBENNE PA512", "BB22", 500118192));
  bay.pushEvent(DeviceEventKind::Arrival, kBrandInterface);
  dlg.pollDeviceEvents();
  EXPECT_EQ(comboLines(dlg.driveListWidget()),
            (QStringList{"Physical Drive 0 ORBENNEPA256 AA11 238G SATA", "Physical Drive 2 ORBENNEPA512 BB22 238G SATA"}));
  EXPECT_EQ(dlg.context().ucSelDrive, 1);

  // Another maker's device does not touch the list.
  bay.remove(0);
  bay.pushEvent(DeviceEventKind::Removal, "\\\\?\\SCSI#Disk&Ven_Otherco&Prod_X#1#{g}");
  dlg.pollDeviceEvents();
  EXPECT_EQ(dlg.driveListWidget()->count(), 2);

  // While an operation runs the rescan waits for it.
  bay.pushEvent(DeviceEventKind::Removal, kBrandInterface);
  dlg.context().fgBusy = 1;
  dlg.pollDeviceEvents();
  EXPECT_EQ(dlg.driveListWidget()->count(), 2);
  dlg.context().fgBusy = 0;
  dlg.pollDeviceEvents();
  EXPECT_EQ(comboLines(dlg.driveListWidget()), QStringList{"Physical Drive 2 ORBENNEPA512 BB22 238G SATA"});

  bay.remove(2);
  bay.pushEvent(DeviceEventKind::Removal, kBrandInterface);
  dlg.pollDeviceEvents();
  EXPECT_EQ(dlg.driveListWidget()->count(), 0);
  EXPECT_EQ(dlg.pane().text(), "No VXA Device Attached\n\n\n");
  EXPECT_EQ(dlg.messageBox()->toPlainText(), box);
}

TEST(DownloaderWindow, OpensWithoutDeviceNotifications) {
  FakeBay bay;
  bay.watchable = false;
  bay.put(0, drive("ORBENNE PA256", "AA11", 500118192));
  CZorvDlg dlg(bay, manualPolling());
  EXPECT_FALSE(dlg.watchingDevices());
  EXPECT_EQ(dlg.driveListWidget()->count(), 1);
}

QWidget* makeTestPage(PageServices& services, QWidget* parent) {
  auto* page = new QLabel(QString("drives: %1").arg(services.driveList.count()), parent);
  page->setObjectName("testPage");
  return page;
}
PageRegistrar gTestPage{100000, "Test Page", &makeTestPage};

TEST(EngineeringWindow, TabsHoldThePaneFirstAndRegisteredPages) {
  FakeBay bay;
  bay.put(1, drive("ORBENNE PA256", "AA11", 500118192));
  bay.put(2, drive("OTHERCO DISK", "ZZ11", 1000));
  CZorvDlg dlg(bay, manualPolling(WindowLayout::Engineering));
  EXPECT_EQ(dlg.windowTitle(), "Zorv");
  ASSERT_GE(dlg.tabs()->count(), 2);
  EXPECT_EQ(dlg.tabs()->tabText(0), "Message");
  EXPECT_EQ(dlg.tabs()->tabText(dlg.tabs()->count() - 1), "Test Page");
  EXPECT_EQ(comboLines(dlg.driveListWidget()), QStringList{"Physical Drive 1 ORBENNEPA256 AA11 238G SATA"});
  EXPECT_TRUE(dlg.mainMessage()->sink().text().startsWith("Model Name      : ORBENNE PA256"));

  // "Reflash Drive" with "Skip Model Name Check" accepts every drive that answers.
  dlg.skipModelCheckBox()->setChecked(true);
  dlg.onReflashDrive();
  EXPECT_EQ(dlg.context().fgSkipModelCheck, 1);
  EXPECT_EQ(dlg.driveListWidget()->count(), 2);
}

}  // namespace
}  // namespace zorv::app
