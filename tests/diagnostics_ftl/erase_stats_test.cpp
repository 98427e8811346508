// Erase statistics of block-information dumps: the figures of a small dump
// worked out by hand, the refusal of every kind of unusable dump, the
// geometry check, and the dump of both simulated drive classes read whole
// (a plausible, non-uniform table with worn, fresh and bad blocks).

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "diagnostics/erase_stats.h"
#include "diagnostics/info_ssd.h"
#include "support/sim_fixture.h"
#include "transport/message.h"

namespace zorv {
namespace {

std::string header0(int ch, int plane) {
  return formatText("============Ch %02X==Chip 00==Die 00==Plane %02X====DataBlkS 0002========\r\n", ch, plane);
}
std::string record(int blk, int invalid, int type, int ec) {
  return formatText("Blk %04X : IvidPNum %04X wlidx 0003 BLKty %04X EC %04X\r\n", blk, invalid, type, ec);
}
std::string summary(int early, int later, int totalEarly, int totalLater) {
  return formatText("Current Plane:\r\nEarly Bad: 0x%04X\r\nLater Bad: 0x%04X\r\nTotal Early Bad: 0x%04X\r\n"
                    "Total Later Bad: 0x%04X\r\n",
                    early, later, totalEarly, totalLater);
}

// Two planes of four blocks; plane 1 holds an early and a later bad block.
std::string smallDump() {
  return header0(0, 0) + record(0, 0, 5, 10) + record(1, 4, 3, 20) + record(2, 8, 3, 30) + record(3, 0, 0, 40) +
         summary(0, 0, 0, 0) + header0(0, 1) + record(0, 2, 5, 50) + record(1, 0, 1, 0) + record(2, 0, 2, 700) +
         record(3, 6, 3, 60) + summary(1, 1, 1, 1);
}

TEST(EraseStats, FiguresOfASmallDumpLeaveBadBlocksOut) {
  std::string error;
  auto table = parseBlockDumpText(smallDump(), error);
  ASSERT_TRUE(table) << error;
  EraseStatistics s = eraseStatistics(*table);
  EXPECT_EQ(s.modelClass, 0);
  EXPECT_TRUE(s.perPlane);
  EXPECT_EQ(s.blocks, 8u);
  EXPECT_EQ(s.earlyBad, 1u);
  EXPECT_EQ(s.laterBad, 1u);
  // Good blocks' erase counts: 10 20 30 40 50 60.
  EXPECT_EQ(s.eraseCount.count, 6u);
  EXPECT_EQ(s.eraseCount.min, 10u);
  EXPECT_EQ(s.eraseCount.max, 60u);
  EXPECT_DOUBLE_EQ(s.eraseCount.average, 35.0);
  EXPECT_NEAR(s.eraseCount.stddev, std::sqrt(1750.0 / 6), 1e-9);
  // 51 values in 20 bins: width 3, 17 bins; every value in its own bin.
  ASSERT_EQ(s.eraseCount.histogram.size(), 17u);
  EXPECT_EQ(s.eraseCount.histogram.front().from, 10u);
  EXPECT_EQ(s.eraseCount.histogram.front().to, 12u);
  EXPECT_EQ(s.eraseCount.histogram.back().to, 60u);
  uint64_t total = 0;
  for (const HistogramBin& b : s.eraseCount.histogram) total += b.count;
  EXPECT_EQ(total, 6u);
  EXPECT_EQ(s.invalidPages.max, 8u);
  EXPECT_DOUBLE_EQ(s.invalidPages.average, 20.0 / 6);

  ASSERT_EQ(s.groups.size(), 2u);
  EXPECT_EQ(s.groups[1].label, "Ch 00 Chip 00 Die 00 Plane 01");
  EXPECT_EQ(s.groups[1].earlyBad, 1u);
  EXPECT_EQ(s.groups[1].laterBad, 1u);
  EXPECT_EQ(s.groups[1].eraseCount.count, 2u);
  EXPECT_DOUBLE_EQ(s.groups[1].eraseCount.average, 55.0);
  // Groups share the drive's bins, so that they can be compared.
  ASSERT_EQ(s.groups[0].eraseCount.histogram.size(), s.eraseCount.histogram.size());
  EXPECT_EQ(s.groups[0].eraseCount.histogram[0].count, 1u);

  std::string text = eraseStatisticsText(s);
  EXPECT_NE(text.find("Blocks: 8, early bad 1, later bad 1, good 6\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Erase count  : min 10, max 60, average 35.0, standard deviation 17.1\r\n"), std::string::npos)
      << text;
}

TEST(EraseStats, ARaidGroupDumpHasNoPlaneSummaries) {
  std::string dump = "============Raid 00===SlcStr 0004===RsvStr 0000===NonSlcStr 0040========\r\n" +
                     record(0, 0, 5, 7) + record(1, 3, 3, 900) +
                     "============Raid 01===SlcStr 0004===RsvStr 0000===NonSlcStr 0040========\r\n" +
                     record(0, 1, 3, 8) + record(1, 0, 1, 0);
  std::string error;
  auto table = parseBlockDumpText(dump, error);
  ASSERT_TRUE(table) << error;
  EraseStatistics s = eraseStatistics(*table);
  EXPECT_EQ(s.modelClass, 1);
  EXPECT_FALSE(s.perPlane);
  EXPECT_EQ(s.groups[1].label, "Raid 01");
  EXPECT_EQ(s.eraseCount.count, 3u);
  EXPECT_EQ(s.eraseCount.max, 900u);
}

TEST(EraseStats, UnusableDumpsAreRefusedWithTheReason) {
  const std::string good = smallDump();
  const std::string firstPlane = header0(0, 0) + record(0, 0, 5, 10) + record(1, 4, 3, 20);
  struct Case {
    const char* what;
    std::string text;
    const char* reason;
  };
  const Case cases[] = {
      {"empty", "", "holds no block records"},
      {"blank lines only", "\r\n\r\n", "holds no block records"},
      {"a header alone", header0(0, 0), "ends at the header of group Ch 00 Chip 00 Die 00 Plane 00"},
      {"cut before the summary", firstPlane, "before its plane summary: it is cut short"},
      {"cut inside a line", good.substr(0, good.find("Blk 0002 : IvidPNum 0000 wlidx 0003 BLKty 0002") + 20),
       "Line 14 is no line of a block-information dump: \"Blk 0002 : IvidPNum \""},
      {"a record before any header", record(0, 0, 3, 1) + good, "Line 1: a block record before any group header"},
      {"a missing record", header0(0, 0) + record(0, 0, 3, 1) + record(2, 0, 3, 1) + summary(0, 0, 0, 0),
       "block 0x0002 of Ch 00 Chip 00 Die 00 Plane 00 where block 0x0001 belongs"},
      {"a summary that disagrees", header0(0, 0) + record(0, 0, 1, 0) + summary(0, 0, 0, 0),
       "says 0x0000 where its block records give 0x0001"},
      {"a shorter plane", good + header0(1, 0) + record(0, 0, 3, 5) + summary(0, 0, 1, 1),
       "Group Ch 01 Chip 00 Die 00 Plane 00 holds 1 blocks, group Ch 00 Chip 00 Die 00 Plane 00 4"},
      {"a plane twice", good + header0(0, 1), "group Ch 00 Chip 00 Die 00 Plane 01 appears twice"},
      {"classes mixed", good + "============Raid 00===SlcStr 0004===RsvStr 0000===NonSlcStr 0040========\r\n",
       "a model class 1 group header in a class 0 dump"},
      {"a foreign line", good + "hello\r\n", "Line 21 is no line of a block-information dump: \"hello\""},
      {"a number that is none", header0(0, 0) + "Blk 0000 : IvidPNum 00G0 wlidx 0003 BLKty 0003 EC 0001\r\n",
       "Line 2 is no line"},
      {"a number too wide", header0(0, 0) + "Blk 0000 : IvidPNum 123456789 wlidx 0 BLKty 3 EC 1\r\n",
       "Line 2 is no line"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(parseBlockDumpText(c.text, error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
}

TEST(EraseStats, CountsBeyondTheGeometryAreRefused) {
  std::string error;
  auto table = parseBlockDumpText(smallDump(), error);
  ASSERT_TRUE(table) << error;
  const DumpGeometry fits{1, 1, 1, 2, 4, 8};
  EXPECT_EQ(checkDumpGeometry(*table, fits), "");
  struct Case {
    DumpGeometry g;
    const char* reason;
  };
  const Case cases[] = {
      {{1, 1, 1, 1, 4, 8}, "The dump holds 2 planes; the drive has 1"},
      {{1, 1, 1, 2, 3, 8}, "holds 4 blocks; a plane of the drive has 3"},
      {{1, 1, 1, 2, 4, 7}, "block 0x0002: 0x0008 invalid pages in a block of 0x0007 pages"},
      {{1, 1, 1, 4, 4, 8}, "The dump holds 2 planes; the drive has 4"},
  };
  for (const Case& c : cases) {
    std::string why = checkDumpGeometry(*table, c.g);
    if (*c.reason == 0) {
      EXPECT_EQ(why, "");
    } else {
      EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
  }
  auto beyond = parseBlockDumpText(header0(0, 0) + record(0, 0, 3, 1) + summary(0, 0, 0, 0) + header0(2, 0) +
                                       record(0, 0, 3, 1) + summary(0, 0, 0, 0),
                                   error);
  ASSERT_TRUE(beyond) << error;
  EXPECT_EQ(checkDumpGeometry(*beyond, DumpGeometry{2, 1, 1, 1, 4, 8}),
            "Group Ch 02 Chip 00 Die 00 Plane 00: channel 02 is beyond the drive's 2 channels");
}

TEST(EraseStats, EveryCutOrDamagedByteIsRefusedOrLeavesWholePlanes) {
  const std::string good = smallDump();
  for (size_t cut = 0; cut < good.size(); ++cut) {
    std::string text = good.substr(0, cut);
    std::string error;
    auto table = parseBlockDumpText(text, error);
    if (table) {
      // Only a cut right after a plane's summary leaves a dump that reads
      // whole; the drive's geometry tells that one from a smaller drive.
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      size_t last = text.rfind("Total Later Bad: 0x");
      EXPECT_EQ(last + 23, text.size()) << cut << ": " << text.substr(text.size() - std::min<size_t>(text.size(), 30));
      if (table->groups.size() < 2) {
        EXPECT_NE(checkDumpGeometry(*table, DumpGeometry{1, 1, 1, 2, 4, 8}), "") << cut;
      }
    } else {
      EXPECT_FALSE(error.empty()) << cut;
    }
  }
  for (size_t at = 0; at < good.size(); ++at) {
    for (char c : {'\0', 'Z', '\n', '9', ' '}) {
      std::string text = good;
      text[at] = c;
      std::string error;
      auto table = parseBlockDumpText(text, error);
      EXPECT_TRUE(table.has_value() || !error.empty()) << at;
    }
  }
}

TEST(EraseStats, SavedFilesThatAreNoDumpsAreRefused) {
  test::TempDir dir;
  BlockDumpReading missing = LoadEraseStatistics(dir.file("none.txt"));
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.error.find("no such file"), std::string::npos) << missing.error;
  std::ofstream(dir.file("short dump.txt"), std::ios::binary) << header0(0, 0) << record(0, 0, 3, 1);
  BlockDumpReading cut = LoadEraseStatistics(dir.file("short dump.txt"));
  EXPECT_FALSE(cut.ok());
  EXPECT_EQ(cut.error,
            "short dump.txt: The dump ends inside group Ch 00 Chip 00 Die 00 Plane 00 before its plane summary: it is "
            "cut short");
  std::ofstream(dir.file("ok.txt"), std::ios::binary) << smallDump();
  BlockDumpReading ok = LoadEraseStatistics(dir.file("ok.txt"), DumpGeometry{1, 1, 1, 2, 4, 8});
  ASSERT_TRUE(ok.ok()) << ok.error;
  EXPECT_TRUE(ok.statistics->geometryChecked);
  EXPECT_EQ(ok.statistics->source, "ok.txt");
}

class EraseStatsOnSim : public ::testing::TestWithParam<int> {};

TEST_P(EraseStatsOnSim, TheDriveTableIsReadWholeAndLooksWorn) {
  test::SimFixture sim(GetParam());
  ASSERT_TRUE(sim.ok()) << sim.error;
  InfoSsdRecord info;
  ASSERT_TRUE(ReadInfoSsd(sim.ctx(), info).ok());
  auto geometry = dumpGeometry(info);
  ASSERT_TRUE(geometry);

  BlockDumpReading r = ReadEraseStatistics(sim.ctx(), sim.pane, sim.dir.path());
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_TRUE(std::filesystem::exists(r.textFile));
  EXPECT_NE(sim.pane.text().find("Dump Block Info Ok\r\n"), std::string::npos);
  const EraseStatistics& s = *r.statistics;
  EXPECT_TRUE(s.geometryChecked);
  EXPECT_EQ(s.modelClass, GetParam());
  uint32_t groups = GetParam() == 1 ? geometry->chips * geometry->dies : geometry->planeCount();
  EXPECT_EQ(s.groups.size(), groups);
  EXPECT_EQ(s.blocks, groups * std::min<uint32_t>(geometry->blocksPerPlane, 8191));
  if (GetParam() == 0) {
    EXPECT_EQ(s.earlyBad, info.number(180, 4));
    // The Info SSD record's erase figures for tables and data are those of
    // the same table (the dump adds two low system blocks per plane).
    EXPECT_EQ(s.eraseCount.max, info.number(108, 2));
    EXPECT_NEAR(s.eraseCount.average, static_cast<double>(info.number(110, 2)), s.eraseCount.average / 100 + 1);
  }
  EXPECT_GT(s.earlyBad, 0u);
  EXPECT_GT(s.laterBad, 0u);
  // Not one flat band: fresh spares far below the average, worn blocks far
  // above it, and invalid pages from none to nearly a whole block.
  const Distribution& e = s.eraseCount;
  EXPECT_LT(e.min, e.average / 10);
  EXPECT_GT(e.max, e.average * 1.5);
  EXPECT_GT(e.stddev, e.average / 5);
  EXPECT_EQ(s.invalidPages.min, 0u);
  EXPECT_GT(s.invalidPages.max, geometry->pagesPerBlock / 2);
  EXPECT_LE(s.invalidPages.max, geometry->pagesPerBlock);
  size_t filled = 0;
  for (const HistogramBin& b : e.histogram) filled += b.count > 0;
  EXPECT_GE(filled, 8u);
}

INSTANTIATE_TEST_SUITE_P(BothClasses, EraseStatsOnSim, ::testing::Values(0, 1));

TEST(EraseStats, ADriveThatDoesNotAnswerDrawsNothing) {
  test::SimFixture sim;
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::string error;
  // Every READ BUFFER fails: the dump's reply never arrives.
  ASSERT_TRUE(sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0xE4, .count = 100}, error))
      << error;
  BlockDumpReading r = ReadEraseStatistics(sim.ctx(), sim.pane, sim.dir.path());
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.error, "3202 Dump All Block Info Fail: the drive did not answer");

  test::SimFixture none(-1);
  BlockDumpReading nothing = ReadEraseStatistics(none.ctx(), none.pane, none.dir.path());
  EXPECT_EQ(nothing.error, "No drive is selected");
}

}  // namespace
}  // namespace zorv
