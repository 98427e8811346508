// The identify page, the console and the buffer viewer against the
// simulated bay, on the SATA drive (slot 0) and behind the USB bridge (slot 1).

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "identify/ata_console.h"
#include "identify/sector_buffer_window.h"
#include "identify/identify_text.h"
#include "identify/identify_view.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

class SimIdentify : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.ok()) << sim.error; }
  test::SimFixture sim{GetParam()};
};

TEST_P(SimIdentify, IdentifyPageShowsAndSavesTheDrivesData) {
  IdentifyView view;
  IdentifyView::IdentifyResult r = view.identify(sim.ctx(), sim.dir.path());
  ASSERT_TRUE(r.identified);
  ASSERT_TRUE(r.saved);
  const DriveEntry& drive = sim.ctx().selectedDrive();
  // As paths: Windows writes either separator.
  EXPECT_EQ(std::filesystem::path(r.fileName), std::filesystem::path(sim.dir.file(identifyFileName(drive.strModel, drive.strSerial))));
  ASSERT_EQ(view.rows().size(), 97u);
  EXPECT_EQ(view.rows()[7].value1.substr(0, 13), GetParam() == 0 ? "ORBENNE PA256" : "ORBENNE TA512");
  EXPECT_EQ(view.rows()[40].value1.substr(15, 5), "407FH");

  // The saved file is the drive's data: it compares equal to itself.
  IdentifyView compare;
  ASSERT_TRUE(compare.compareFiles(r.fileName, r.fileName));
  EXPECT_TRUE(compare.differences().empty());
}

TEST_P(SimIdentify, DecodeCoversTransferModesAndEverySataLine) {
  ASSERT_TRUE(SendIdentifyDevice(sim.ctx()));
  DecodeIdentifyText(sim.ctx());
  const std::string text = sim.pane.text();
  for (const char* line :
       {" PIO = MODE 4\n", " Multi Word DMA Mode 2 supported.\n", " Ultra DMA mode 6 supported.\n",
        " Current mode = Ultra DMA Mode 6\n", " Support SATA Genation 1\n", " Support SATA Genation 2\n",
        " Support HIPM(Host Initiating Power Management)\n", " Support Phy Event Counters\n",
        " Support Zero Power\n", " Support DIPM(Device Initiating Power Management)\n",
        " Support AN(Asynchronous Notification)\n", " Support SSP(Software Settings Preservation)\n",
        " Enabled DIPM(Device Initiating Power Management)\n", " Enabled AN(Asynchronous Notification)\n",
        " Enabled SSP(Software Settings Preservation)\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
}

TEST_P(SimIdentify, ConsoleFlashLocationQuery) {
  AnyAtaConsole console;
  sim.ctx().CmdBlock.clear();
  console.open(sim.ctx());
  console.edits[kEditFeatures] = "31";
  console.edits[kEditSectorCnt] = "13";
  console.edits[kEditSectorNum] = "02";
  console.edits[kEditCommand] = "F7";
  ASSERT_TRUE(console.send(sim.ctx())) << sim.pane.text();
  EXPECT_EQ(sim.pane.text(),
            "   Data In, DataCnt = 9728(0x2600)Bytes\n"
            "channel, chip, plan, block, page, auLoc, trim\n"
            "0x0003, 0x0000, 0x0000, 0x0101, 0x005F,0x0003,0x0000\n"
            "ATA Command Success\n\n\n");
  EXPECT_EQ(sim.ctx().fgBusy, 0);
}

TEST_P(SimIdentify, BufferViewerRoundTripsTheControllersBuffer) {
  StringSink dump;
  BufferViewer viewer(sim.ctx(), dump);
  viewer.open();
  for (int i = 0; i < 512; ++i) sim.ctx().SectorBuffer[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 3);
  ASSERT_TRUE(viewer.writeBuffer());
  viewer.clearBuffer();
  EXPECT_EQ(sim.ctx().SectorBuffer[511], 0);
  ASSERT_TRUE(viewer.readBuffer());
  for (int i = 0; i < 512; ++i) ASSERT_EQ(sim.ctx().SectorBuffer[static_cast<size_t>(i)], static_cast<uint8_t>(i * 3));
  EXPECT_EQ(dump.text().substr(0, 14), "0000:00 03 06 ");
}

INSTANTIATE_TEST_SUITE_P(Drives, SimIdentify, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& p) { return p.param == 0 ? "Sata" : "Usb"; });

TEST(SimConsole, ReadDmaExtOf256SectorsOnTheSataDrive) {
  test::SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  AnyAtaConsole console;
  console.open(sim.ctx());
  console.edits = {"00", "00", "0100", "0000", "0000", "0000", "40", "25"};
  ASSERT_TRUE(console.send(sim.ctx())) << sim.pane.text();
  EXPECT_EQ(sim.pane.text(), "   Data In, DataCnt = 131072(0x20000)Bytes\nATA Command Success\n\n\n");
}

TEST(SimConsole, UsbBridgeRefusesMoreThan128Sectors) {
  test::SimFixture sim(1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  AnyAtaConsole console;
  console.open(sim.ctx());
  console.edits = {"00", "00", "0100", "0000", "0000", "0000", "40", "25"};
  EXPECT_FALSE(console.send(sim.ctx()));
  ASSERT_EQ(sim.ui.boxes.size(), 1u);
  EXPECT_EQ(sim.ui.boxes[0].text, "USB Sector Length Over 0x80, Exit");
  EXPECT_EQ(sim.pane.text(), "\n\n");
  EXPECT_EQ(sim.ctx().fgBusy, 0);
}

}  // namespace
}  // namespace zorv
