// The long dump rows show how far they are and end between two commands
// when the operator stops them, saying so in their text (and so in the run log).

#include <gtest/gtest.h>

#include <filesystem>

#include "scripted_drive.h"
#include "support/sim_fixture.h"
#include "diagnostics/operation_table.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using test::Sector;

constexpr size_t kRowDumpAll = 5, kRowMemory = 9;

class RecordingProgress : public ProgressSink {
 public:
  void setRange(int, int) override {}
  void setPosition(int position) override { positions.push_back(position); }
  std::vector<int> positions;
};

class StoppedDumps : public ::testing::Test {
 protected:
  StoppedDumps() {
    run().progress = &progress;
    // The operator presses Stop while the drive answers command number stopAt.
    auto answer = drive.port.ata;
    drive.port.ata = [this, answer](AtaPassThroughRequest& r) {
      IoOutcome out = answer(r);
      if (stopAt && drive.sent.size() == *stopAt) drive.tc.ctx.fgStopRequest = 1;
      return out;
    };
  }
  DiagRun& run() { return scripted.run; }
  size_t reads() const { return drive.withCommand(0xE4).size(); }
  std::vector<fs::path> files() const {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir.path())) out.push_back(e.path());
    return out;
  }

  test::ScriptedDrive drive;
  test::TempDir dir;
  test::ScriptedRun scripted{drive, dir.path()};
  RecordingProgress progress;
  std::optional<size_t> stopAt;
};

TEST_F(StoppedDumps, AMemoryDumpShowsItsProgressChunkByChunk) {
  run().inputs.startMemory = "1000";
  run().inputs.memoryLength = "40000";  // four chunks
  std::string text = PerformOperation(run(), kRowMemory);
  EXPECT_NE(text.find("Memory Dump End"), std::string::npos);
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 25, 50, 75, 100}));
  EXPECT_FALSE(run().stopped);
}

TEST_F(StoppedDumps, AStoppedMemoryDumpEndsAfterTheChunkInProgress) {
  run().inputs.startMemory = "1000";
  run().inputs.memoryLength = "40000";
  stopAt = 1 + 128 + 1 + 50;  // within the second chunk's reads
  std::string text = PerformOperation(run(), kRowMemory);

  EXPECT_TRUE(run().stopped);
  EXPECT_EQ(reads(), 256u);
  EXPECT_EQ(drive.withCommand(0xE8).size(), 2u);
  ASSERT_EQ(files().size(), 1u);
  const std::string name = files()[0].filename().string();
  EXPECT_EQ(fs::file_size(files()[0]), 2u * 128 * 512);
  EXPECT_EQ(text, "STOP!\r\nFile Name is:\r\n" + name + "\r\n");
  EXPECT_TRUE(scripted.pane.text().ends_with(text)) << scripted.pane.text();
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 25}));
}

Sector groupHeader(uint16_t records, uint16_t countdown) {
  Sector h{};
  h[8] = static_cast<uint8_t>(records * 8 >> 8);
  h[9] = static_cast<uint8_t>(records * 8);
  h[11] = 0x20;
  h[12] = static_cast<uint8_t>(countdown >> 8);
  h[13] = static_cast<uint8_t>(countdown);
  const uint8_t widths[6] = {2, 1, 8, 14, 10, 4};
  const size_t at[6] = {17, 19, 21, 25, 27, 29};
  for (size_t i = 0; i < 6; ++i) h[at[i]] = widths[i];
  return h;
}

TEST_F(StoppedDumps, AStoppedBlockDumpReadsNoFurtherGroupAndMakesNoReport) {
  // Three groups of one header and one record sector each.
  for (int g = 0; g < 3; ++g) {
    drive.replies.push_back(groupHeader(1, 7));
    drive.replies.push_back(Sector{});
  }
  drive.replies.push_back(test::filledSector(0xFF));
  stopAt = 3;  // the query, the first header, the first group's records
  std::string text = PerformOperation(run(), kRowDumpAll);

  EXPECT_TRUE(run().stopped);
  EXPECT_EQ(reads(), 3u);  // the first group and the header of the second
  EXPECT_TRUE(text.ends_with("STOP!\r\n")) << text;
  EXPECT_EQ(scripted.pane.text().find("Dump Block Info Ok"), std::string::npos);
  EXPECT_FALSE(fs::exists(fs::path(dir.path()) / "LtrBadRptSNum__SN0042__1210.csv"));
  EXPECT_EQ(progress.positions, (std::vector<int>{14}));
}

TEST_F(StoppedDumps, AnUnstoppedBlockDumpEndsAtAHundred) {
  drive.replies.push_back(groupHeader(1, 3));
  drive.replies.push_back(Sector{});
  drive.replies.push_back(test::filledSector(0xFF));
  PerformOperation(run(), kRowDumpAll);
  EXPECT_FALSE(run().stopped);
  EXPECT_NE(scripted.pane.text().find("Dump Block Info Ok"), std::string::npos);
  ASSERT_FALSE(progress.positions.empty());
  EXPECT_EQ(progress.positions.back(), 100);
}

}  // namespace
}  // namespace zorv
