// The sequential read and random access tests on the simulated bay.

#include <gtest/gtest.h>

#include "media_sim.h"
#include "mediatest/seq_read_test.h"
#include "sim/sim_bay.h"
#include "transport/block_stamp.h"
#include "transport/scsi_command.h"

namespace zorv {
namespace {

using sim::Fault;
using sim::FaultKind;
using test::MediaSim;
using test::testParams;

// Writes stamped blocks over [first, end) with plain writes.
void stampRange(Context& ctx, uint32_t first, uint32_t end) {
  for (uint32_t lba = first; lba < end; lba += 0x800) {
    uint32_t n = std::min<uint32_t>(0x800, end - lba);
    StampBlocks(n, lba, ctx.SectorBuffer.data());
    ASSERT_TRUE(WriteBlocks(ctx, lba, n, 512));
  }
}

TEST(SeqRead, GroupLinesAverageAndEndingAsTheWindowShowsThem) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  ASSERT_TRUE(m.setLatency({1000, 0, 0, 0})) << m.sim.error;  // 1 ms a read
  MediaTestParams p = testParams(kOpSeqRead, 0, 0x50, 0x20, 1);
  p.ulLength = 2;
  MediaTestResult r = m.run(p);
  EXPECT_TRUE(r.passed());
  EXPECT_EQ(m.lines.text(),
            "--->       Sequential Read       <---\n"
            "0x      40(    64), 64000.0 KB/Sec,  0.1X, 0.0rpm\n"
            "0x      50(    80), 32000.0 KB/Sec,  0.0X, 0.0rpm\n"
            "Average Xfer Rate 48000.0 KB/Sec,  0.0X\n"
            "Test Complete\n"
            "*************************\n"
            "\r\n\r\n");
  EXPECT_EQ(m.lines.kindOf("0x      40(    64), 64000.0 KB/Sec,  0.1X, 0.0rpm"), MessageKind::Highlight);
  EXPECT_EQ(m.lines.kindOf("0x      50(    80), 32000.0 KB/Sec,  0.0X, 0.0rpm"), MessageKind::Error)
      << "slower than the group before";
  EXPECT_EQ(m.lines.kindOf("Test Complete"), MessageKind::Completion);
  // The last command is shortened to end exactly at ELBA.
  ASSERT_EQ(m.spy->commands.size(), 3u);
  EXPECT_EQ(m.spy->commands[2].lba, 0x40u);
  EXPECT_EQ(m.spy->commands[2].count, 0x10u);
  EXPECT_EQ(r.stats.blocksRead, 0x50u);
  EXPECT_EQ(m.ctx().fgBusy, 0) << "the worker clears fgBusy";
}

TEST(SeqRead, ACallerThatOwnsFgBusyKeepsItUntilItGivesItBack) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  MediaTestJob job;
  job.params = testParams(kOpSeqRead, 0, 0x40, 0x20, 1);
  job.drive = m.ctx().selectedDrive();
  job.messages = &m.lines;
  job.releasesBusy = false;
  for (uint32_t end : {0x40u, 0u}) {  // a run, and a refused one
    job.params.ulEndLba = end;
    m.ctx().fgBusy = 1;
    MediaTestWorker(m.ctx(), job);
    EXPECT_EQ(m.ctx().fgBusy, 1) << end;
  }
}

TEST(SeqRead, AlignRoundsEachCommandsStartAndLapsAreNumbered) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  MediaTestParams p = testParams(kOpSeqRead, 0, 40, 5, 3);
  p.ulAlign = 8;
  p.ulLength = 100;
  ASSERT_TRUE(m.run(p).passed());
  std::vector<uint32_t> starts;
  for (const auto& c : m.spy->commands) {
    if (starts.size() == 5) break;
    starts.push_back(c.lba);
    EXPECT_EQ(c.count, 5u);
  }
  EXPECT_EQ(starts, (std::vector<uint32_t>{0, 8, 16, 24, 32}));
  EXPECT_EQ(m.spy->commands.size(), 15u);
  for (const char* lap : {"[Lap   1/  3]", "[Lap   2/  3]", "[Lap   3/  3]"}) {
    EXPECT_EQ(m.lines.count(lap), 1u) << lap;
    EXPECT_EQ(m.lines.kindOf(lap), MessageKind::Highlight);
  }
}

TEST(SeqRead, ReadErrorsAreCountedAndMoreThanMaxErrFailTheTest) {
  for (bool queued : {false, true}) {
    SCOPED_TRACE(queued ? "queued" : "plain");
    MediaSim m;
    ASSERT_TRUE(m.ok()) << m.sim.error;
    ASSERT_TRUE(m.addFault(Fault{.kind = FaultKind::ReadError, .lba = 0x100, .blocks = 0x30})) << m.sim.error;
    MediaTestParams p = testParams(kOpSeqRead, 0, 0x400, 0x20, 1);
    p.ulLength = 8;
    p._fgNCQEnable = queued ? 1 : 0;
    p.ulMaxErr = 2;
    MediaTestResult r = m.run(p);
    EXPECT_EQ(m.lines.count("Read Failed! 0x100. ErrCnt 1"), 1u);
    EXPECT_EQ(m.lines.count("Read Failed! 0x120. ErrCnt 2"), 1u);
    EXPECT_EQ(r.stats.readErrors, 2u);
    EXPECT_TRUE(r.passed()) << "two failures are within MaxErr 2";
    EXPECT_EQ(m.lines.kindOf("Read Failed! 0x100. ErrCnt 1"), MessageKind::Error);

    MediaSim strict;
    ASSERT_TRUE(strict.addFault(Fault{.kind = FaultKind::ReadError, .lba = 0x100, .blocks = 1}));
    p.ulMaxErr = 0;
    r = strict.run(p);
    EXPECT_FALSE(r.passed()) << "the first failure ends the test";
    EXPECT_EQ(strict.lines.count("Read Failed! 0x100. ErrCnt 1"), 1u);
    EXPECT_EQ(strict.lines.text().find("Average Xfer Rate"), std::string::npos);
    EXPECT_EQ(strict.lines.count("Test Complete"), 1u);
  }
}

TEST(SeqRead, VerifyCatchesADamagedBlockOnThePlainAndTheQueuedPath) {
  for (bool queued : {false, true}) {
    SCOPED_TRACE(queued ? "queued" : "plain");
    MediaSim m;
    ASSERT_TRUE(m.ok()) << m.sim.error;
    ASSERT_TRUE(m.addFault(Fault{.kind = FaultKind::Damage, .lba = 0x155, .blocks = 1})) << m.sim.error;
    stampRange(m.ctx(), 0, 0x400);
    std::string error;
    ASSERT_TRUE(m.sim.bay->clearFaults(m.slot(), error));
    MediaTestParams p = testParams(kOpSeqRead, 0, 0x400, 0x40, 1);
    p.ulLength = 4;
    p.fgReadVerify = 1;
    p._fgNCQEnable = queued ? 1 : 0;
    p.ulMaxErr = 5;
    MediaTestResult r = m.run(p);
    EXPECT_EQ(r.stats.readErrors, 1u);
    EXPECT_EQ(m.lines.count("Read Failed! 0x140. ErrCnt 1"), 1u);
    EXPECT_NE(m.lines.text().find("Block 155  Check Sum = "), std::string::npos);
    ASSERT_FALSE(m.sim.ui.boxes.empty());
    EXPECT_EQ(m.sim.ui.boxes.back().text.substr(0, 21), "Error LBA 0x     140,");
    EXPECT_NE(m.sim.ui.boxes.back().text.find("Compare Check Sum Error"), std::string::npos);
    EXPECT_EQ(m.lines.count("Compare Check Sum Pass"), 0u) << "a check sum that failed is not called a pass";
    EXPECT_EQ(m.lines.count("Compare Check Sum Failed"), 1u);

    MediaSim clean;
    stampRange(clean.ctx(), 0, 0x400);
    r = clean.run(p);
    EXPECT_TRUE(r.passed());
    EXPECT_EQ(clean.lines.count("Compare Check Sum Pass"), 1u);
    if (queued) {
      EXPECT_LT(clean.lines.text().find("Compare Check Sum Pass"), clean.lines.text().find("Close NCQ Func"));
    }
  }
}

TEST(SeqRead, StopEndsTheRunWithStopAndClosesTheQueue) {
  for (bool queued : {false, true}) {
    MediaSim m;
    ASSERT_TRUE(m.ok()) << m.sim.error;
    m.spy->stopAfter = 10;
    MediaTestParams p = testParams(kOpSeqRead, 0, 0x10000, 0x20, 1);
    p.ulLength = 4;
    p._fgNCQEnable = queued ? 1 : 0;
    MediaTestResult r = m.run(p);
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.passed());
    EXPECT_EQ(m.spy->commands.size(), 10u) << "nothing is sent after the stop";
    EXPECT_EQ(m.lines.count("STOP!"), 1u);
    EXPECT_EQ(m.lines.kindOf("STOP!"), MessageKind::Alert);
    EXPECT_EQ(m.lines.count("Test Complete"), 0u);
    EXPECT_EQ(m.lines.count("Close NCQ Func"), queued ? 1u : 0u);
  }
}

TEST(SeqRead, AlignNearTheTopOfThe32BitRangeEndsTheLapInsteadOfWrapping) {
  MediaSim m(0, 0x100000100ull);
  ASSERT_TRUE(m.ok()) << m.sim.error;
  MediaTestParams p = testParams(kOpSeqRead, 0xFFFFFFF0u, 0xFFFFFFFFu, 0x20, 2);
  p.ulLength = 10;
  p.ulAlign = 7;
  m.spy->stopAfter = 50;  // a wrap to LBA 0 would read on and on
  MediaTestResult r = m.run(p);
  EXPECT_TRUE(r.passed());
  ASSERT_EQ(m.spy->commands.size(), 2u) << "one command a lap";
  EXPECT_EQ(m.spy->commands[0].lba, 0xFFFFFFF0u);
  EXPECT_EQ(m.spy->commands[0].count, 0xFu);
  EXPECT_TRUE(m.spy->allInside(0xFFFFFFF0u, 0xFFFFFFFFu));
  EXPECT_EQ(m.lines.count("0x100000003(4294967299),    0.0 KB/Sec,  0.0X, 0.0rpm"), 2u)
      << "the rounded LBA is shown as it is, past 32 bits, not wrapped:\n" << m.lines.text();
}

TEST(SeqRead, InvalidRangeIsRefusedBeforeAnyCommand) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  MediaTestParams p = testParams(kOpSeqRead, 0x100, 0x100, 0x20, 1);
  MediaTestResult r = m.run(p);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(m.lines.text(), "Invalid parameter. (StartLBA > EndLBA)\n\r\n\r\n");
  EXPECT_TRUE(m.spy->commands.empty());
  // Called directly, the routine refuses it the same way.
  TestRandom random;
  NullProgress progress;
  MediaTestRun run(m.ctx(), p, random, progress);
  m.sim.pane.take();
  EXPECT_FALSE(SeqReadTest(run, 0x100, 0x100, 0x20, 1, 1));
  EXPECT_NE(m.sim.pane.text().find("Invalid parameter. (StartLBA > EndLBA)\n"), std::string::npos);
  EXPECT_TRUE(m.spy->commands.empty());
}

TEST(RandomAccess, OverTimeLinesAlternateTheirArrowAndTheSummaryFollows) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  ASSERT_TRUE(m.setLatency({0, 0, 2000, 0}));  // 2 ms for every read that does not follow on
  MediaTestParams p = testParams(kOpRandomAccess, 0x1000, 0x200000, 8, 3);
  p.ulMaxTime = 1;
  p.ulMaxErr = 10;
  MediaTestResult r = m.run(p);
  EXPECT_TRUE(r.passed());
  std::vector<std::string> errors = m.lines.linesOf(MessageKind::Error);
  ASSERT_EQ(errors.size(), 3u) << m.lines.text();
  ASSERT_EQ(m.spy->commands.size(), 3u);
  auto lba = [&](size_t i) { return formatText("0x%8X", m.spy->commands[i].lba); };
  EXPECT_EQ(errors[1], formatText("  2 %s -> %s  2.0ms ", lba(0).c_str(), lba(1).c_str()));
  EXPECT_EQ(errors[2], formatText("  3 %s <- %s  2.0ms ", lba(2).c_str(), lba(1).c_str()));
  EXPECT_EQ(errors[0].substr(0, 14), "  1 " + lba(0)) << "the 1st read: its own LBA first";
  EXPECT_EQ(errors[0].substr(14, 4), " <- ");
  EXPECT_EQ(m.lines.linesOf(MessageKind::Highlight),
            (std::vector<std::string>{"---->   Random Access    <---- Spec Max Time 1ms", " Avg is 2.0ms",
                                      " Max 2.0ms, Min 2.0ms", " Error count : 3, Max error : 10"}));
  EXPECT_DOUBLE_EQ(r.stats.averageMs, 2.0);
}

TEST(RandomAccess, LimitsFailTheTest) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  ASSERT_TRUE(m.setLatency({0, 0, 2000, 0}));
  MediaTestParams p = testParams(kOpRandomAccess, 0x1000, 0x200000, 8, 50);
  p.ulMaxTime = 1;
  MediaTestResult r = m.run(p);
  EXPECT_FALSE(r.passed());
  EXPECT_EQ(m.spy->commands.size(), 1u) << "MaxErr 0: the first slow read ends the test";
  EXPECT_EQ(m.lines.count("Too many error"), 1u);
  EXPECT_EQ(m.lines.count("Test Complete"), 1u);

  MediaSim avg;
  ASSERT_TRUE(avg.setLatency({0, 0, 2000, 0}));
  p.ulMaxTime = 0;
  p.ulAvgTime = 1;
  p.ulLoop = 5;
  r = avg.run(p);
  EXPECT_FALSE(r.passed());
  EXPECT_EQ(avg.lines.count(" Avg is 2.0ms > 1"), 1u);
  EXPECT_EQ(avg.lines.count("---->   Random Access    <---- Spec Max Time 0ms, Avg Time 1ms"), 1u);
  EXPECT_TRUE(avg.lines.linesOf(MessageKind::Error).size() == 1) << "no per-read line without MaxTime";
}

TEST(RandomAccess, NoReadsGiveTheEmptySummary) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  MediaTestResult r = m.run(testParams(kOpRandomAccess, 0, 0x1000, 8, 0));
  EXPECT_TRUE(r.passed());
  EXPECT_EQ(m.lines.count(" Avg is 0.0ms"), 1u);
  EXPECT_EQ(m.lines.count(" Max 0.0ms, Min 10000.0ms"), 1u);
}

TEST(RandomAccess, LbaZeroIsNeverReadAndReadsStayInTheRange) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  MediaTestParams p = testParams(kOpRandomAccess, 0, 3, 4, 300);
  p.fgRndBlks = 1;
  ASSERT_TRUE(m.run(p).passed());
  ASSERT_EQ(m.spy->commands.size(), 300u);
  for (const auto& c : m.spy->commands) {
    ASSERT_NE(c.lba, 0u);
    ASSERT_LE(c.lba + c.count, 3u);
  }
  MediaSim aligned;
  p = testParams(kOpRandomAccess, 0x11, 0x31, 0x10, 200);
  p.ulAlign = 16;
  ASSERT_TRUE(aligned.run(p).passed());
  for (const auto& c : aligned.spy->commands) {
    ASSERT_TRUE(c.lba == 0x20 || c.lba == 0x30) << std::hex << c.lba;
    ASSERT_EQ(c.count, c.lba == 0x20 ? 0x10u : 1u) << "cut at ELBA";
  }
}

TEST(RandomAccess, ReadErrorsAndDamagedBlocksFailTheTestOnBothPaths) {
  for (bool queued : {false, true}) {
    SCOPED_TRACE(queued ? "queued" : "plain");
    MediaSim m;
    ASSERT_TRUE(m.ok()) << m.sim.error;
    ASSERT_TRUE(m.addFault(Fault{.kind = FaultKind::ReadError, .lba = 0, .blocks = 0x100}));
    MediaTestParams p = testParams(kOpRandomAccess, 0, 0x100, 8, 40);
    p._fgNCQEnable = queued ? 1 : 0;
    MediaTestResult r = m.run(p);
    EXPECT_FALSE(r.passed());
    EXPECT_EQ(m.lines.count("Read 10 Failed!"), 1u);
    EXPECT_EQ(m.lines.count(" Max 0.0ms, Min 10000.0ms"), 1u) << "the summary is still printed";

    MediaSim d;
    ASSERT_TRUE(d.addFault(Fault{.kind = FaultKind::Damage, .lba = 0, .blocks = 0x100}));
    stampRange(d.ctx(), 0, 0x100);
    p.fgReadVerify = 1;
    r = d.run(p);
    EXPECT_FALSE(r.passed());
    EXPECT_EQ(d.lines.count(queued ? "Compare Check Sum Error" : "Read 10 Failed!"), 1u) << d.lines.text();
  }
}

TEST(RandomAccess, QueuedReadsOfStampedBlocksPass) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  stampRange(m.ctx(), 0, 0x4000);
  m.spy->commands.clear();
  MediaTestParams p = testParams(kOpRandomAccess, 0, 0x4000, 0x10, 500);
  p._fgNCQEnable = 1;
  p.fgReadVerify = 1;
  p.fgRndBlks = 1;
  MediaTestResult r = m.run(p);
  EXPECT_TRUE(r.passed()) << m.lines.text();
  EXPECT_EQ(r.stats.accessReads, 500u) << "every queued read was collected and timed";
  EXPECT_EQ(m.lines.count("Close NCQ Func"), 1u);
  for (const auto& c : m.spy->commands) ASSERT_TRUE(c.queued);
}

}  // namespace
}  // namespace zorv
