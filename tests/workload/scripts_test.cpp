// The workload scripts, the boundaries, the client workload's table and the
// workload blocks: what the tab reads and computes before any window opens.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "workload/boundaries.h"
#include "workload/capacity_script.h"
#include "workload/define_script.h"
#include "workload/jesd_script.h"
#include "workload/jesd_table.h"
#include "workload/multi_run.h"
#include "workload/workload_plan.h"

namespace zorv {
namespace {

std::string example(const std::string& name) {
  std::ifstream in(std::string(ZORV_SOURCE_DIR) + "/examples/workload/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Boundaries, SplitTheDriveByTwoPercentages) {
  struct Case {
    uint64_t sectors;
    double p1, p2;
    Boundaries expected;
  };
  const Case cases[] = {
      {1000000, 40, 40, {200000, 600000, 1000000}},
      // The remainder (5,000) is under 1 %: no reserve, the random area takes the rest.
      {1000000, 60, 39.5, {0, 600000, 1000000}},
      // The client workload: "Gap" lines 5:50, 15:30, 80:20 take 15 and 80.
      {1000000, 15, 80, {50000, 200000, 1000000}},
      {1000000, 0, 100, {0, 0, 1000000}},
      {1000000, 40, 0, {600000, 1000000, 1000000}},
  };
  for (const Case& c : cases) {
    Boundaries b = computeBoundaries(c.sectors, c.p1, c.p2);
    EXPECT_EQ(b.first, c.expected.first) << c.p1 << " " << c.p2;
    EXPECT_EQ(b.second, c.expected.second) << c.p1 << " " << c.p2;
    EXPECT_EQ(b.third, c.expected.third) << c.p1 << " " << c.p2;
  }
}

TEST(DefineScript, ReadsItsKeysInOrderAndSizesInKb) {
  std::string error;
  auto s = parseDefineScript(example("define.sc1"), error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->startLba, 0x1000u);
  EXPECT_EQ(s->endLba, 0x9000u);
  EXPECT_EQ(s->totalSectors, 0x10000u);
  EXPECT_EQ(s->kb, 64u);
  EXPECT_EQ(s->commandSectors(), 128u) << "\"64KB\" is 128 sectors a command";
  EXPECT_TRUE(s->sequential);
  EXPECT_TRUE(s->readBack);
  EXPECT_FALSE(s->lengthRandom);

  // A hexadecimal LBA ending in B keeps its digit; no blank after the colon is needed.
  s = parseDefineScript("Start LBA:10\nEnd LBA: 3FFFFB\nTotal Write Capacity: 100\nFile Size: 4 KB\n"
                        "Sequence: false\nNeed Read Back: FALSE\nLength Random: TRUE\n",
                        error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->startLba, 0x10u);
  EXPECT_EQ(s->endLba, 0x3FFFFBu);
  EXPECT_EQ(s->commandSectors(), 8u);
  EXPECT_FALSE(s->sequential);
  EXPECT_TRUE(s->lengthRandom);
}

TEST(Scripts, BadInputIsRefusedWithAClearMessage) {
  const std::string good = example("define.sc1");
  struct Case {
    std::string text;
    std::string message;
  };
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  const Case cases[] = {
      {"End LBA: 9000h\r\nStart LBA: 1000h\r\nTotal Write Capacity: 10000h\r\nFile Size: 64KB\r\n"
       "Sequence: TRUE\r\nNeed Read Back: TRUE\r\nLength Random: FALSE\r\n",
       "The script key \"End LBA:\" is missing or out of order"},
      {replaced("Sequence: TRUE\r\n", ""), "The script key \"Sequence:\" is missing or out of order"},
      {replaced("9000h", "90G0h"), "End LBA must be a hexadecimal number"},
      {replaced("64KB", "256KB"), "File Size (KB) must lie between 1 and 128"},
      {replaced("64KB", "0KB"), "File Size (KB) must lie between 1 and 128"},
      {replaced("9000h", "1000h"), "Start LBA must lie below End LBA"},
      {replaced("Need Read Back: TRUE", "Need Read Back: YES"), "Need Read Back must be TRUE or FALSE"},
      {replaced("10000h", "FFFFFFFFFFFFFFFFF"), "Total Write Capacity must be a hexadecimal number"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(parseDefineScript(c.text, error));
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
  }
  std::string error;
  auto sc2 = parseCapacityScript(example("capacity.sc2"), error);
  ASSERT_TRUE(sc2) << error;
  EXPECT_EQ(sc2->rangeSize, 0x8000u);
  EXPECT_EQ(sc2->commandSectors(), 256u);
  EXPECT_EQ(capacityScriptRefusal(*sc2, 0x7FFF), "Range Size 0x8000 lies beyond the drive (0x7FFF sectors)");
  EXPECT_EQ(capacityScriptRefusal(*sc2, 0x8000), "");
  auto sc1 = parseDefineScript(good, error);
  ASSERT_TRUE(sc1);
  EXPECT_EQ(defineScriptRefusal(*sc1, 0x8FFF), "End LBA 0x9000 lies beyond the drive (0x8FFF sectors)");
}

TEST(JesdScript, FillsTheTableByItsShares) {
  std::string error;
  auto s = parseJesdScript(example("client.txt"), error);
  ASSERT_TRUE(s) << error;
  EXPECT_TRUE(s->readBack);
  ASSERT_EQ(s->lengths.size(), 4u);
  EXPECT_EQ(s->lengths[1].bytes, 4096u);
  EXPECT_EQ(s->lengths[1].share, 60u);
  ASSERT_EQ(s->groups.size(), 3u);
  EXPECT_EQ(s->groups[2].space, 80u);
  EXPECT_EQ(s->loop, 1u);

  TestRandom random(7);
  JesdTable table = buildJesdTable(*s, random);
  size_t groups[4] = {};
  size_t bySize[257] = {};
  for (const JesdEntry& e : table) {
    ASSERT_GE(e.group, 1);
    ASSERT_LE(e.group, 3);
    ++groups[e.group];
    ASSERT_GT(e.sectors, 0u) << "Len shares summing to 100 fill all 500 entries";
    ++bySize[e.sectors];
  }
  EXPECT_EQ(groups[1], 250u);
  EXPECT_EQ(groups[2], 150u);
  EXPECT_EQ(groups[3], 100u);
  EXPECT_EQ(bySize[1], 50u);
  EXPECT_EQ(bySize[8], 300u);
  EXPECT_EQ(bySize[32], 100u);
  EXPECT_EQ(bySize[128], 50u);
}

TEST(JesdScript, SharesOtherThanAHundredAndBadLinesAreRefused) {
  struct Case {
    std::string text;
    std::string message;
  };
  const std::string head = "Need Read Back: FALSE\nLen 4096 : 100%\n";
  const Case cases[] = {
      {"Need Read Back: FALSE\nLen 512 : 60%\nLen 4096 : 50%\nGap 100% : 100%\nLoop      : 1\n",
       "The \"Len\" shares sum to 110 %, more than 100 %: the table of 500 commands would never fill"},
      {head + "Gap 5% : 60%\nGap 15% : 30%\nGap 80% : 20%\nLoop      : 1\n",
       "The \"Gap\" shares sum to 110 %, more than 100 %"},
      {head + "Gap 5% : 50%\nGap 15% : 30%\nLoop      : 1\n", "The \"Gap\" shares sum to 80 %, less than 100 %"},
      {head + "Gap 100% : 100%\n", "The script key \"Loop      :\" is missing"},
      {"Len 4096 : 100%\nGap 100% : 100%\nLoop : 1\n", "The script key \"Need Read Back:\" is missing"},
      {head + "Gap 100% : 100%\nLoop      : 0\n", "Loop must lie between 1 and 1000000"},
      {"Need Read Back: FALSE\nLen 1000 : 100%\nGap 100% : 100%\nLoop : 1\n",
       "A \"Len\" transfer size must be a multiple of 512 bytes"},
      {"Need Read Back: FALSE\nLen 262144 : 100%\nGap 100% : 100%\nLoop : 1\n", "The \"Len\" line"},
      {head + "Gap 100% : 100%\nLen 512 : 0%\nLoop : 1\n", "A \"Len\" line follows the \"Gap\" lines"},
      {head + "Gap 10% : 25%\nGap 10% : 25%\nGap 10% : 25%\nGap 70% : 25%\nLoop : 1\n", "More than three \"Gap\" lines"},
      {head + "Gap 100% 100%\nLoop : 1\n", "A \"Gap\" line needs two numbers"},
      {head + "Gap 100% : 100%\nspeed: fast\nLoop : 1\n", "An unexpected line in the script"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(parseJesdScript(c.text, error)) << c.text;
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
  }
}

TEST(WorkloadBlock, EveryKindComesBackAsItWasBuilt) {
  WorkloadPlan mixed;
  mixed.rowIndex = 2;
  mixed.deviceId = "ORBENNE PA256 SSD";
  mixed.serial = "SN1";
  mixed.devicePath = "sim:0";
  mixed.rsvBoundary = 200000;
  mixed.seqBoundary = 600000;
  mixed.rdnBoundary = 1000000;
  mixed.byTime = true;
  mixed.hours = 1;
  mixed.minutes = 10;
  std::string block = workloadBlock(mixed);
  EXPECT_EQ(block, "2\r\nRdnSqLoop\r\nORBENNE PA256 SSD\r\nSN1\r\nsim:0\r\nF4240\r\n30D40\r\n927C0\r\nF4240\r\n"
                   "RsvRemain\r\nbyTime\r\n1\r\n10\r\n");
  std::string error;
  auto back = parseWorkloadBlock(block, error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->seqBoundary, 600000u);
  EXPECT_TRUE(back->byTime);
  EXPECT_EQ(back->minutes, 10u);

  WorkloadPlan client;
  client.kind = WorkloadKind::Jesd219a;
  client.devicePath = "sim:1";
  client.grp1Boundary = 50000;
  client.grp2Boundary = 200000;
  client.totalLba = 1000000;
  client.readBack = true;
  client.loop = 1;
  client.scriptText = example("client.txt");
  back = parseWorkloadBlock(workloadBlock(client), error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->grp2Boundary, 200000u);
  EXPECT_EQ(back->script.groups.size(), 3u);
  EXPECT_EQ(back->scriptText, client.scriptText);

  EXPECT_FALSE(parseWorkloadBlock("0\r\nCapasLoop\r\nM\r\nS\r\nsim:0\r\n8000\r\n", error));
  EXPECT_EQ(error, "The workload block ends before its sectors to write");
  EXPECT_FALSE(parseWorkloadBlock("0\r\nFastLoop\r\nM\r\nS\r\nsim:0\r\n", error));
  EXPECT_EQ(error, "Unknown workload kind \"FastLoop\"");
}

TEST(MultiRunTab, PercentagesKeepTheSharesAtAHundred) {
  MultiRunTab tab;
  EXPECT_EQ(tab.sequentialPercent(), 40);
  EXPECT_EQ(tab.randomPercent(), 40);
  EXPECT_EQ(tab.reservePercent(), 20);
  ASSERT_TRUE(tab.setSequentialPercent(60));
  EXPECT_EQ(tab.randomChoices().size(), 41u);
  EXPECT_EQ(tab.randomChoices().back(), 40);
  EXPECT_EQ(tab.randomPercent(), 40) << "the random list's last entry is chosen";
  EXPECT_EQ(tab.reservePercent(), 0);
  EXPECT_FALSE(tab.setRandomPercent(41));
  ASSERT_TRUE(tab.setRandomPercent(30));
  EXPECT_EQ(tab.reservePercent(), 10);
  EXPECT_FALSE(tab.setSequentialPercent(100));
  EXPECT_FALSE(tab.setLoopText("12a"));
  EXPECT_EQ(tab.loopText(), "") << "any other character clears the edit";
  EXPECT_TRUE(tab.setLoopText("25"));
  EXPECT_EQ(tab.loops, 25u);

  std::string error;
  EXPECT_FALSE(tab.openJesdScript("Need Read Back: TRUE\nLen 512 : 100%\nGap 100% : 101%\nLoop : 1\n", error));
  EXPECT_EQ(tab.kind(), WorkloadKind::RdnSqLoop) << "a refused script changes nothing";
  ASSERT_TRUE(tab.openCapacityScript(example("capacity.sc2"), error)) << error;
  EXPECT_EQ(tab.kind(), WorkloadKind::CapasLoop);
  EXPECT_EQ(tab.columns(), (std::vector<std::string>{"Device ID", "Serial Num", "Physical Drive", "Capacity", "Max LBA",
                                                     "LBA Rnage", "Write Sec", "Length KB", "Sequence", "Read Back"}));
}

}  // namespace
}  // namespace zorv
