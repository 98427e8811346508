#include <gtest/gtest.h>

#include <fstream>

#include "app/firmware_entry.h"
#include "app/zorv_dlg.h"
#include "discovery/volumes.h"
#include "qt_environment.h"
#include "sim/sim_bay.h"
#include "sim/sim_port.h"
#include "support/sim_fixture.h"

namespace zorv::app {
namespace {

using test::pumpUntil;

QStringList comboLines(QComboBox* combo) {
  QStringList out;
  for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
  return out;
}

// A bay in a directory, opened as the program opens it; the test changes it
// through a second handle, as `zorvctl sim` in another process would.
struct BayDir {
  BayDir() {
    if (!sim::SimBay::create(dir.file("bay"), error)) return;
    std::ofstream(dir.file("bay") + "/mountinfo") << "1 0 8:1 / /media/pa256 rw - ext4 /dev/sda1 rw\n";
    port = sim::openSimPort(dir.file("bay"), error);
    other = sim::SimBay::open(dir.file("bay"), error);
  }
  bool ok() const { return port && other; }
  DlgOptions options(WindowLayout layout = WindowLayout::Downloader) {
    DlgOptions o;
    o.layout = layout;
    o.mountInfoPath = mountInfoPathFor(*port, dir.file("bay"));
    o.devicePollMs = 20;
    return o;
  }
  test::TempDir dir;
  std::unique_ptr<DevicePort> port;
  std::shared_ptr<sim::SimBay> other;
  std::string error;
};

TEST(SimBayWindow, DownloaderListsTheBayAndFollowsPlugAndUnplug) {
  BayDir bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  CZorvDlg dlg(*bay.port, bay.options());
  dlg.show();

  EXPECT_EQ(dlg.windowTitle(), "Firmware Downloader Ver 1.7");
  EXPECT_EQ(comboLines(dlg.driveListWidget()), (QStringList{"Physical Drive 0 ORBENNEPA256SSD 238G S1107A0C",
                                                             "Physical Drive 1 ORBENNETA512SSD 476G T1208B1A"}));
  EXPECT_EQ(dlg.driveListWidget()->currentIndex(), 1);
  QString box = dlg.messageBox()->toPlainText();
  EXPECT_TRUE(box.startsWith("ORBENNEPA256SSD-256GB\nVer: S1107A0C\nSN:  OB2310A00417\nDisk 0\n"
                             "Contains volume: /media/pa256\n--------End Of Drive Info-------\n"
                             "ORBENNETA512SSD-512GB\nVer: T1208B1A\nSN:  OB2402B00417\nDisk 1\n"
                             "--------End Of Drive Info-------\n"))
      << box.toStdString();
  EXPECT_TRUE(box.endsWith("--------End Of Drive Info-------\n")) << box.toStdString();
  EXPECT_TRUE(dlg.pane().text().endsWith("Model Name      : ORBENNE TA512 SSD" + QString(23, ' ') +
                                         "\nFirmware Version: T1208B1A\n\n\n"))
      << dlg.pane().text().toStdString();
  ASSERT_TRUE(dlg.watchingDevices());

  // Unplugged while the window is open: the timer's rescan drops it.
  std::string error;
  ASSERT_TRUE(bay.other->unplug(1, error)) << error;
  ASSERT_TRUE(pumpUntil([&] { return dlg.driveListWidget()->count() == 1; }));
  EXPECT_EQ(dlg.driveListWidget()->itemText(0), "Physical Drive 0 ORBENNEPA256SSD OB2310A00417 238G SATA");
  EXPECT_EQ(dlg.context().ucSelDrive, 0);

  ASSERT_TRUE(bay.other->unplug(0, error)) << error;
  ASSERT_TRUE(pumpUntil([&] { return dlg.driveListWidget()->count() == 0; }));
  EXPECT_EQ(dlg.pane().text(), "No VXA Device Attached\n\n\n");
  // The drive blocks of the opening pass stay where they were.
  EXPECT_EQ(dlg.messageBox()->toPlainText(), box);
  EXPECT_EQ(dlg.context().fgFamilyDrive, 0);

  ASSERT_TRUE(bay.other->plug(1, error)) << error;
  ASSERT_TRUE(pumpUntil([&] { return dlg.driveListWidget()->count() == 1; }));
  EXPECT_EQ(dlg.driveListWidget()->itemText(0), "Physical Drive 1 ORBENNETA512SSD OB2402B00417 476G USB");

  // Without a package the update fails as the program says.
  FirmwareUpdateEntry saved = setFirmwareUpdateEntry(nullptr);
  dlg.fwUpdateButton()->click();
  EXPECT_TRUE(dlg.messageBox()->toPlainText().endsWith("Download Fail\n"));
  setFirmwareUpdateEntry(saved);
}

TEST(SimBayWindow, EngineeringLayoutRescansIntoThePane) {
  BayDir bay;
  ASSERT_TRUE(bay.ok()) << bay.error;
  CZorvDlg dlg(*bay.port, bay.options(WindowLayout::Engineering));
  EXPECT_EQ(dlg.windowTitle(), "Zorv");
  EXPECT_EQ(dlg.tabs()->tabText(0), "Message");
  EXPECT_EQ(comboLines(dlg.driveListWidget()),
            (QStringList{"Physical Drive 0 ORBENNEPA256SSD OB2310A00417 238G SATA",
                         "Physical Drive 1 ORBENNETA512SSD OB2402B00417 476G USB"}));
  EXPECT_TRUE(dlg.mainMessage()->sink().text().startsWith("Model Name      : ORBENNE PA256 SSD"));
  dlg.skipModelCheckBox()->setChecked(true);
  dlg.onReflashDrive();
  EXPECT_EQ(dlg.driveListWidget()->count(), 3);
}

}  // namespace
}  // namespace zorv::app
