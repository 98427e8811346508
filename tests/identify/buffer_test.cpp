#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "identify/buffer_editor.h"
#include "identify/sector_buffer_window.h"
#include "support/test_support.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

size_t lineCount(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class BufferPages : public ::testing::Test {
 protected:
  void SetUp() override {
    for (size_t i = 0; i < 0x20000; ++i) t.ctx.SectorBuffer[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    dir = tempDir.path();
  }
  std::string cellAt(uint32_t offset) { return formatText("%02X", t.ctx.SectorBuffer[offset]); }

  test::RecordingPort port;
  test::TestContext t{port};
  StringSink dumpSink;
  test::TempDir tempDir;  // unique per test, removed at the end
  std::filesystem::path dir;
};

TEST_F(BufferPages, EditorOpensOnTheFirst512Bytes) {
  BufferEditor ed;
  ed.open(t.ctx);
  EXPECT_EQ(ed.startText, "0000");
  EXPECT_EQ(ed.endText, "0200");
  EXPECT_EQ(ed.valueText, "00");
  EXPECT_EQ(ed.addresses[0], "0000");
  EXPECT_EQ(ed.addresses[31], "01F0");
  EXPECT_EQ(ed.cells[0][0], cellAt(0));
  EXPECT_EQ(ed.cells[31][15], cellAt(0x1FF));
}

TEST_F(BufferPages, EditorStartAddressIsAlignedAndFollowed) {
  BufferEditor ed;
  ed.open(t.ctx);
  EXPECT_EQ(ed.startAddressChanged(t.ctx, "0123"), "0120");
  EXPECT_EQ(ed.startText, "0120");
  EXPECT_EQ(ed.shownAddress(), 0x120u);
  EXPECT_EQ(ed.addresses[0], "0120");
  EXPECT_EQ(ed.cells[0][3], cellAt(0x123));
  // While typing, a shorter address is shown as it is; the grid always says
  // where its rows are.
  EXPECT_EQ(ed.startAddressChanged(t.ctx, "12"), "12");
  EXPECT_EQ(ed.addresses[0], "0012");
  // The highest address stays inside the buffer.
  ed.startAddressChanged(t.ctx, "FFFF");
  EXPECT_EQ(ed.addresses[31], "101E0");
  EXPECT_EQ(ed.cells[31][15], cellAt(0x101EF));
}

TEST_F(BufferPages, EditorEnterStoresTheGridWhereItIsShown) {
  StringSink sink;
  DumpPane dump{&sink, 0x100, 0x20};
  BufferEditor ed;
  ed.open(t.ctx);
  ed.startAddressChanged(t.ctx, "0100");
  const uint8_t before0FF = t.ctx.SectorBuffer[0xFF];
  const uint8_t before300 = t.ctx.SectorBuffer[0x300];
  ed.cells[0][0] = "AB";
  ed.cells[0][1] = "c";
  ed.cells[0][2] = "";
  ed.cells[0][3] = "7Z";
  ed.cells[31][15] = "12";
  ed.enter(t.ctx, &dump);
  EXPECT_EQ(t.ctx.SectorBuffer[0x100], 0xAB);
  EXPECT_EQ(t.ctx.SectorBuffer[0x101], 0x0C);
  EXPECT_EQ(t.ctx.SectorBuffer[0x102], 0x00);
  EXPECT_EQ(t.ctx.SectorBuffer[0x103], 0x07);
  EXPECT_EQ(t.ctx.SectorBuffer[0x2FF], 0x12);
  EXPECT_EQ(t.ctx.SectorBuffer[0xFF], before0FF);
  EXPECT_EQ(t.ctx.SectorBuffer[0x300], before300);
  EXPECT_EQ(sink.text().substr(0, 9), "0100:AB 0");
}

TEST_F(BufferPages, EditorSaveFillsTheRange) {
  StringSink sink;
  DumpPane dump{&sink, 0, 0x40};
  BufferEditor ed;
  ed.open(t.ctx);
  ed.startAddressChanged(t.ctx, "0010");
  ed.endText = "0032";
  ed.valueText = "AB";
  const uint8_t after = t.ctx.SectorBuffer[0x32];
  ed.save(t.ctx, &dump);
  for (uint32_t i = 0x10; i < 0x32; ++i) ASSERT_EQ(t.ctx.SectorBuffer[i], 0xAB) << i;
  EXPECT_EQ(t.ctx.SectorBuffer[0x32], after);
  EXPECT_EQ(ed.addresses[0], "0010");
  EXPECT_EQ(ed.cells[2][1], "AB");          // cell 0x21 of the 0x22 filled
  EXPECT_EQ(ed.cells[2][2], cellAt(0x32));  // the first one after the range
  EXPECT_EQ(lineCount(sink.text()), 4u);
  EXPECT_EQ(sink.text().substr(0, 5), "0000:");

  // Start equal to or above the end fills nothing.
  std::vector<uint8_t> before(t.ctx.SectorBuffer.data(), t.ctx.SectorBuffer.data() + 0x300);
  ed.startText = "0040";
  ed.endText = "0040";
  ed.save(t.ctx, &dump);
  ed.endText = "0020";
  ed.save(t.ctx, &dump);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), t.ctx.SectorBuffer.data()));
}

TEST_F(BufferPages, ViewerOpensOnTheFirst512Bytes) {
  BufferViewer v(t.ctx, dumpSink);
  v.open();
  EXPECT_EQ(v.startText(), "0000");
  EXPECT_EQ(v.lengthText(), "0200");
  EXPECT_EQ(v.ulBufStart(), 0u);
  EXPECT_EQ(v.ulBufLength(), 0x200u);
  EXPECT_FALSE(v.fgRefreshStopped());
  v.refreshTick();
  EXPECT_EQ(lineCount(dumpSink.text()), 32u);
}

TEST_F(BufferPages, ViewerEditRules) {
  BufferViewer v(t.ctx, dumpSink);
  v.open();
  EXPECT_EQ(v.startChanged("012F"), "0120");
  EXPECT_EQ(v.ulBufStart(), 0x120u);
  EXPECT_EQ(dumpSink.text().substr(0, 5), "0120:");

  // Shorter or longer texts change nothing.
  EXPECT_EQ(v.startChanged("12"), "12");
  EXPECT_EQ(v.startChanged("01230"), "01230");
  EXPECT_EQ(v.ulBufStart(), 0x120u);
  EXPECT_EQ(v.lengthChanged("400"), "400");
  EXPECT_EQ(v.ulBufLength(), 0x200u);

  EXPECT_EQ(v.lengthChanged("0105"), "0100");
  EXPECT_EQ(v.ulBufLength(), 0x100u);
  EXPECT_EQ(lineCount(dumpSink.text()), 16u);
  EXPECT_TRUE(t.ui.boxes.empty());
}

TEST_F(BufferPages, ViewerLongWindowStopsTheRefresh) {
  BufferViewer v(t.ctx, dumpSink);
  v.open();
  EXPECT_EQ(v.lengthChanged("FFFF"), "FFFF");
  EXPECT_EQ(v.ulBufLength(), 0x10000u);
  EXPECT_TRUE(v.fgRefreshStopped());
  ASSERT_EQ(t.ui.boxes.size(), 1u);
  EXPECT_EQ(t.ui.boxes[0].text, "Reflash Size > 512 Byte\r\nAuto Reflash Stop");
  EXPECT_EQ(lineCount(dumpSink.text()), 4096u);

  dumpSink.clear();
  v.refreshTick();
  EXPECT_EQ(dumpSink.text(), "");
  // The dump still follows the edits and buttons.
  v.startChanged("0010");
  EXPECT_EQ(lineCount(dumpSink.text()), 4096u);

  EXPECT_EQ(v.lengthChanged("0200"), "0200");
  EXPECT_FALSE(v.fgRefreshStopped());
  dumpSink.clear();
  v.refreshTick();
  EXPECT_EQ(lineCount(dumpSink.text()), 32u);
  EXPECT_EQ(t.ui.boxes.size(), 1u);

  // Just over the limit stops it too.
  v.lengthChanged("0210");
  EXPECT_TRUE(v.fgRefreshStopped());
  EXPECT_EQ(t.ui.boxes.size(), 2u);
}

TEST_F(BufferPages, ViewerClearZeroesOnlyTheWindow) {
  BufferViewer v(t.ctx, dumpSink);
  v.open();
  v.startChanged("0100");
  v.lengthChanged("0200");
  const uint8_t before = t.ctx.SectorBuffer[0xFF];
  const uint8_t after = t.ctx.SectorBuffer[0x300];
  v.clearBuffer();
  for (uint32_t i = 0x100; i < 0x300; ++i) ASSERT_EQ(t.ctx.SectorBuffer[i], 0) << i;
  EXPECT_EQ(t.ctx.SectorBuffer[0xFF], before);
  EXPECT_EQ(t.ctx.SectorBuffer[0x300], after);
  EXPECT_EQ(dumpSink.text().substr(0, 20), "0100:00 00 00 00 00 ");
}

TEST_F(BufferPages, ViewerWriteAndReadBuffer) {
  std::vector<uint8_t> sent;
  port.ata = [&](AtaPassThroughRequest& r) {
    if (r.ataFlags & kAtaFlagsDataOut) {
      sent.assign(r.dataBuffer, r.dataBuffer + r.dataTransferLength);
    } else {
      std::fill(r.dataBuffer, r.dataBuffer + r.dataTransferLength, 0x3C);
    }
    r.currentTaskFile[6] = 0x50;
    return IoOutcome{};
  };
  BufferViewer v(t.ctx, dumpSink);
  v.open();
  t.ctx.CmdBlock.ucFeature = 0x99;
  ASSERT_TRUE(v.writeBuffer());
  const AtaPassThroughRequest& w = port.ataRequests.at(0);
  const std::array<uint8_t, 8> writeRegs = {0, 1, 0, 0, 0, 0, 0xE8, 0};
  EXPECT_EQ(w.currentTaskFile, writeRegs);
  EXPECT_EQ(w.ataFlags, 0x05);
  EXPECT_EQ(w.dataTransferLength, 512u);
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), t.ctx.SectorBuffer.data()));

  ASSERT_TRUE(v.readBuffer());
  const AtaPassThroughRequest& r = port.ataRequests.at(1);
  const std::array<uint8_t, 8> readRegs = {0, 1, 0, 0, 0, 0, 0xE4, 0};
  EXPECT_EQ(r.currentTaskFile, readRegs);
  EXPECT_EQ(r.ataFlags, 0x03);
  EXPECT_EQ(t.ctx.SectorBuffer[511], 0x3C);
  EXPECT_NE(t.ctx.SectorBuffer[512], 0x3C);
  EXPECT_EQ(dumpSink.text().substr(0, 8), "0000:3C ");

  // Without a family drive the transport refuses the write.
  t.ctx.fgFamilyDrive = 0;
  EXPECT_FALSE(v.writeBuffer());
  EXPECT_EQ(port.ataRequests.size(), 2u);
}

std::vector<uint8_t> readAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(BufferPages, ViewerSaveAsksBeforeReplacing) {
  BufferViewer v(t.ctx, dumpSink);
  v.open();
  v.startChanged("0020");
  v.lengthChanged("0040");
  std::filesystem::path file = dir / "window.bin";
  t.ui.files = {file.string()};
  ASSERT_TRUE(v.saveFile());
  EXPECT_EQ(readAll(file), std::vector<uint8_t>(t.ctx.SectorBuffer.data() + 0x20, t.ctx.SectorBuffer.data() + 0x60));
  EXPECT_TRUE(t.ui.boxes.empty());

  v.lengthChanged("0010");
  t.ui.files = {file.string()};
  EXPECT_FALSE(v.saveFile());  // "no"
  ASSERT_EQ(t.ui.boxes.size(), 1u);
  EXPECT_EQ(t.ui.boxes[0].text, file.string() + "   already exists.\nDo you want to replace it?");
  EXPECT_EQ(readAll(file).size(), 0x40u);

  t.ui.files = {file.string()};
  t.ui.answers = {true};
  ASSERT_TRUE(v.saveFile());
  EXPECT_EQ(readAll(file).size(), 0x10u);

  EXPECT_FALSE(v.saveFile());  // cancelled
  t.ui.files = {(dir / "no" / "such" / "dir.bin").string()};
  EXPECT_FALSE(v.saveFile());
}

TEST_F(BufferPages, ViewerLoadStopsAtTheEndOfTheSectorBuffer) {
  BufferViewer v(t.ctx, dumpSink);
  v.open();
  v.startChanged("0100");
  std::filesystem::path small = dir / "small.bin";
  std::ofstream(small, std::ios::binary) << "HELLO";
  t.ui.files = {small.string()};
  const uint8_t after = t.ctx.SectorBuffer[0x105];
  ASSERT_TRUE(v.loadFile());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.ctx.SectorBuffer.data() + 0x100), 5), "HELLO");
  EXPECT_EQ(t.ctx.SectorBuffer[0x105], after);
  EXPECT_EQ(dumpSink.text().substr(0, 20), "0100:48 45 4C 4C 4F ");

  // A file larger than the room from the highest start: the rest is not read.
  v.startChanged("FFF0");
  std::filesystem::path big = dir / "big.bin";
  std::vector<uint8_t> bigData(kSectorBufferSize);
  for (size_t i = 0; i < bigData.size(); ++i) bigData[i] = static_cast<uint8_t>(i % 251);
  std::ofstream(big, std::ios::binary).write(reinterpret_cast<const char*>(bigData.data()),
                                             static_cast<std::streamsize>(bigData.size()));
  t.ui.files = {big.string()};
  ASSERT_TRUE(v.loadFile());
  const size_t room = kSectorBufferSize - 0xFFF0;
  EXPECT_EQ(t.ctx.SectorBuffer[0xFFF0], bigData[0]);
  EXPECT_EQ(t.ctx.SectorBuffer[kSectorBufferSize - 1], bigData[room - 1]);

  t.ui.files = {(dir / "missing.bin").string()};
  EXPECT_FALSE(v.loadFile());
  t.ui.files = {dir.string()};
  EXPECT_FALSE(v.loadFile());
  EXPECT_FALSE(v.loadFile());  // cancelled
}

}  // namespace
}  // namespace zorv
