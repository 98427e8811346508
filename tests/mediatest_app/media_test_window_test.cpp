// The media tests in the engineering window on a simulated bay opened as the
// program opens it: the page is a tab, a run holds the window's drive list,
// and the window's volume map keeps raw writes off a drive with mounted file
// systems.

#include <gtest/gtest.h>

#include <fstream>

#include "app/media_test_page.h"
#include "app/qt_environment.h"
#include "app/zorv_dlg.h"
#include "discovery/volumes.h"
#include "sim/sim_bay.h"
#include "sim/sim_port.h"
#include "support/sim_fixture.h"

namespace zorv::app {
namespace {

using test::pumpUntil;

TEST(MediaTestWindow, ARunHoldsTheDriveListAndMountedDrivesAreNotWritten) {
  test::TempDir dir;
  std::string error;
  const std::string bayDir = dir.file("bay");
  ASSERT_TRUE(sim::SimBay::create(bayDir, error)) << error;
  std::ofstream(bayDir + "/mountinfo") << "1 0 8:1 / /media/pa256 rw - ext4 /dev/sda1 rw\n";
  std::unique_ptr<DevicePort> port = sim::openSimPort(bayDir, error);
  ASSERT_TRUE(port) << error;
  DlgOptions options;
  options.layout = WindowLayout::Engineering;
  options.mountInfoPath = mountInfoPathFor(*port, bayDir);
  options.devicePollMs = 0;
  CZorvDlg window(*port, options);
  window.show();

  auto* page = window.tabs()->findChild<CMediaTestPage*>();
  ASSERT_NE(page, nullptr);
  CEditFuncDialog& dlg = *page->dialog();

  window.driveListWidget()->setCurrentIndex(0);
  window.onDriveSelected(0);
  ASSERT_EQ(window.context().ucSelDrive, 0);
  page->testButton(2)->click();  // Seq Write
  ASSERT_TRUE(dlg.isVisible());
  dlg.edit(EditField::Slba)->setText("1000");
  dlg.edit(EditField::Elba)->setText("2000");
  dlg.sendButton()->click();
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.refusalLabel()->text().toStdString(),
            "Physical Drive 0 holds mounted file systems (/media/pa256): it is never written raw");
  dlg.abortButton()->click();

  page->testButton(0)->click();  // Seq Read
  dlg.edit(EditField::Elba)->setText("400");
  dlg.edit(EditField::Length)->setText("4");
  dlg.sendButton()->click();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_FALSE(window.driveListWidget()->isEnabled()) << "the drive list waits for the run";
  ASSERT_TRUE(pumpUntil([&] { return page->lastResult().has_value() && !window.runner().running(); }));
  EXPECT_TRUE(page->lastResult()->passed());
  EXPECT_TRUE(window.driveListWidget()->isEnabled());
  EXPECT_EQ(window.context().fgBusy, 0);
  ASSERT_TRUE(pumpUntil([&] { return window.pane().text().contains("Test Complete"); }));
  EXPECT_TRUE(window.pane().text().contains("Abort")) << window.pane().text().toStdString();
}

}  // namespace
}  // namespace zorv::app
