// The write tests on the simulated bay: stamps, the retry of a busy drive,
// failures, damaged blocks found by Compare Check Sum, the range edges, and
// the guard that keeps raw writes off drives they must not touch.

#include <gtest/gtest.h>

#include <cerrno>
#include <regex>

#include "media_sim.h"
#include "sim/sim_bay.h"
#include "transport/block_stamp.h"
#include "transport/scsi_command.h"

namespace zorv {
namespace {

using sim::Fault;
using sim::FaultKind;
using test::MediaSim;
using test::testParams;

Fault busyWrites(uint32_t times, uint8_t ascq) {
  return Fault{.kind = FaultKind::Fail, .opcode = 0x2A, .count = times, .senseKey = 0x02, .asc = 0x04, .ascq = ascq};
}

size_t linesStartingWith(const test::LineSink& sink, MessageKind kind, const std::string& prefix) {
  size_t n = 0;
  for (const std::string& l : sink.linesOf(kind)) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

TEST(RandomWrite, WritesStartOnMultiplesOfTheCountAndAreReadBack) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  MediaTestParams p = testParams(kOpRandomWrite, 0x1000, 0x80000, 0x20, 100);
  p.fgReadVerify = 1;
  MediaTestResult r = m.run(p);
  EXPECT_TRUE(r.passed()) << m.lines.text();
  EXPECT_EQ(m.spy->writes(), 100u);
  for (const auto& c : m.spy->commands) {
    if (!c.write) continue;
    EXPECT_EQ(c.lba % 0x20, 0u) << std::hex << c.lba;
    EXPECT_EQ(c.count, 0x20u);
  }
  EXPECT_TRUE(m.spy->allInside(0x1000, 0x80000));
  EXPECT_EQ(linesStartingWith(m.lines, MessageKind::Info, "usWriteType = 0, _fgNCQEnable = 0, ulLBA = "), 100u)
      << "every write logs its write-type line";
  EXPECT_EQ(m.lines.count("Compare Check Sum Success"), 100u);
  EXPECT_EQ(m.lines.count("With Check Sum Test"), 1u);
  EXPECT_EQ(m.lines.kindOf("With Check Sum Test"), MessageKind::Completion);
  EXPECT_EQ(m.lines.linesOf(MessageKind::Info).front(), " << Random Write Test >>");
  const auto& first = m.spy->commands.front();
  EXPECT_EQ(m.lines.count(formatText(" 0x%8X, Blocks 0x20", first.lba)), 1u);
  EXPECT_EQ(m.lines.count(formatText("LBA 0x%8X -> 0x%8X", first.lba, first.lba + 0x20)), 1u);
}

TEST(RandomWrite, NoWriteLeavesTheRangeAndNothingWrapsAtTheTopOf32Bits) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  MediaTestParams p = testParams(kOpRandomWrite, 0x1000, 0x1030, 0x20, 200);
  ASSERT_TRUE(m.run(p).passed());
  EXPECT_TRUE(m.spy->allInside(0x1000, 0x1030)) << "a start rounded up to 1020 writes 10 blocks, not 20";
  EXPECT_GT(m.spy->writes(), 0u);

  MediaSim top(0, 0x100000100ull);
  ASSERT_TRUE(top.ok()) << top.sim.error;
  p = testParams(kOpRandomWrite, 0xFFFFFFF0u, 0xFFFFFFFFu, 0x20, 20);
  MediaTestResult r = top.run(p);
  EXPECT_TRUE(r.passed());
  EXPECT_EQ(top.spy->writes(), 0u) << "rounded up to 100000000 the start lies beyond ELBA; never LBA 0";
  EXPECT_EQ(r.stats.writesSkipped, 20u);
  EXPECT_EQ(top.lines.count(" 0x100000000, Blocks 0x20 lies beyond ELBA: not written"), 20u);
}

TEST(RandomWrite, BusyDriveIsAskedForSenseAndTheSameWriteIsSentAgain) {
  for (uint8_t ascq : {0x04, 0x08}) {
    MediaSim m(1);  // behind the USB bridge
    ASSERT_TRUE(m.ok()) << m.sim.error;
    ASSERT_TRUE(m.addFault(busyWrites(3, ascq))) << m.sim.error;
    MediaTestParams p = testParams(kOpRandomWrite, 0x4000, 0x8000, 0x10, 4);
    p.fgReadVerify = 1;
    MediaTestResult r = m.run(p);
    EXPECT_TRUE(r.passed()) << m.lines.text();
    EXPECT_EQ(r.stats.writeRetries, 3u);
    EXPECT_EQ(m.spy->writes(), 7u);
    // The data sent again is the stamped data, not the sense reply that
    // came into the buffer meanwhile.
    EXPECT_EQ(m.lines.count("Compare Check Sum Success"), 4u);
    EXPECT_EQ(m.lines.text().find("Write Failed"), std::string::npos);
  }
}

TEST(RandomWrite, OtherWriteFailuresEndTheTest) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  ASSERT_TRUE(m.addFault(Fault{.kind = FaultKind::Fail, .opcode = 0x2A, .senseKey = 0x03, .asc = 0x0C}));
  MediaTestResult r = m.run(testParams(kOpRandomWrite, 0x4000, 0x8000, 0x10, 10));
  EXPECT_FALSE(r.passed());
  EXPECT_EQ(m.spy->writes(), 1u) << "MEDIUM ERROR is not retried";
  std::vector<std::string> errors = m.lines.linesOf(MessageKind::Error);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0], formatText("Write Failed 0x%X", m.spy->commands[0].lba));
  EXPECT_EQ(errors[1], "Too many error");
  EXPECT_EQ(m.lines.count("Test Complete"), 1u);

  // A drive that stays busy fails the write once the long time-out has passed.
  MediaSim busy;
  ASSERT_TRUE(busy.addFault(busyWrites(100000, 0x08)));
  busy.ctx().usTimeoutLong = 2;
  r = busy.run(testParams(kOpRandomWrite, 0x4000, 0x8000, 0x10, 1));
  EXPECT_FALSE(r.passed());
  EXPECT_EQ(r.stats.writeRetries, 200u) << "2 s of 10 ms pauses";
  EXPECT_EQ(busy.lines.count(formatText("Write Failed 0x%X", busy.spy->commands[0].lba)), 1u);

  // Queued (two writes in flight), the time-out counts from each write's
  // first submission, not from its latest retry: both fail in the end.
  MediaSim busyQueued;
  ASSERT_TRUE(busyQueued.addFault(busyWrites(100000, 0x08)));
  busyQueued.ctx().usTimeoutLong = 2;
  MediaTestParams queued = testParams(kOpSeqWrite, 0x4000, 0x4020, 0x10, 1);
  queued._fgNCQEnable = 1;
  r = busyQueued.run(queued);
  EXPECT_FALSE(r.passed());
  EXPECT_EQ(r.stats.writeErrors, 2u);
  EXPECT_GT(r.stats.writeRetries, 0u);
  EXPECT_LE(r.stats.writeRetries, 400u) << "2 s of 10 ms pauses each";
}

// A REQUEST SENSE that fails says why only when the drive answered it: a
// drive that refuses it with a medium error is not busy, and the write fails
// at once rather than after the long time-out.
TEST(RandomWrite, ADriveThatRefusesRequestSenseTooIsNotAskedAgain) {
  MediaSim refusing;
  ASSERT_TRUE(refusing.ok()) << refusing.sim.error;
  ASSERT_TRUE(refusing.addFault(Fault{.kind = FaultKind::Fail, .count = 100000, .senseKey = 0x03, .asc = 0x0C}));
  MediaTestResult r = refusing.run(testParams(kOpRandomWrite, 0x4000, 0x8000, 0x10, 1));
  EXPECT_FALSE(r.passed());
  EXPECT_EQ(r.stats.writeRetries, 0u);
  EXPECT_EQ(refusing.spy->writes(), 1u);
}

TEST(RandomWrite, ADamagedBlockIsCaughtByCompareCheckSum) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  ASSERT_TRUE(m.addFault(Fault{.kind = FaultKind::Damage, .lba = 0x4000, .blocks = 0x4000}));
  MediaTestParams p = testParams(kOpRandomWrite, 0x4000, 0x8000, 0x10, 10);
  p.fgReadVerify = 1;
  MediaTestResult r = m.run(p);
  EXPECT_FALSE(r.passed());
  uint32_t lba = m.spy->commands[0].lba;
  EXPECT_EQ(m.lines.linesOf(MessageKind::Error),
            (std::vector<std::string>{formatText("LBA %X, Read 10 Failed", lba), "Compare Check Sum Failed",
                                      formatText("0x%X Check Sum Failed", lba), "Too many error"}));
  ASSERT_EQ(m.sim.ui.boxes.size(), 1u);
  EXPECT_EQ(m.sim.ui.boxes[0].text, formatText("Error LBA 0x%8X, Compare Check Sum Error", lba));
  EXPECT_EQ(m.spy->writes(), 1u) << "the test ends after this write";
}

// The laps of a range write as the compare lines name them.
std::vector<std::pair<uint32_t, uint32_t>> comparedRanges(const test::LineSink& sink) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  std::regex re("LBA 0x *([0-9A-F]+) -> 0x *([0-9A-F]+)");
  for (const std::string& l : sink.linesOf(MessageKind::Highlight)) {
    std::smatch m;
    if (std::regex_match(l, m, re))
      out.emplace_back(std::stoul(m[1].str(), nullptr, 16), std::stoul(m[2].str(), nullptr, 16));
  }
  return out;
}

TEST(SeqWriteRandRange, EachLapWritesItsRangeFromFirstToLastAndReadsItBack) {
  for (bool queued : {false, true}) {
    SCOPED_TRACE(queued ? "queued" : "plain");
    MediaSim m;
    ASSERT_TRUE(m.ok()) << m.sim.error;
    MediaTestParams p = testParams(kOpSeqWrite, 0x10000, 0x14000, 0x30, 6);
    p.fgReadVerify = 1;
    p._fgNCQEnable = queued ? 1 : 0;
    MediaTestResult r = m.run(p);
    EXPECT_TRUE(r.passed()) << m.lines.text();
    auto laps = comparedRanges(m.lines);
    ASSERT_EQ(laps.size(), 6u);
    EXPECT_EQ(m.lines.count("Compare Check Sum Success"), 6u);
    EXPECT_EQ(m.lines.count("[Lap   6/  6]"), 1u);
    // The writes of each lap tile [first, last): 30h blocks a command, the
    // last one cut to end exactly at last.
    size_t w = 0;
    std::vector<test::MediaCommand> writes;
    for (const auto& c : m.spy->commands)
      if (c.write) writes.push_back(c);
    for (const auto& [first, last] : laps) {
      uint32_t cur = first;
      while (cur < last) {
        ASSERT_LT(w, writes.size());
        EXPECT_EQ(writes[w].lba, cur);
        EXPECT_EQ(writes[w].count, std::min<uint32_t>(0x30, last - cur)) << "each lap starts with Blks again";
        EXPECT_EQ(writes[w].queued, queued);
        cur += writes[w++].count;
      }
    }
    EXPECT_EQ(w, writes.size());
    EXPECT_TRUE(m.spy->allInside(0x10000, 0x14000));
    EXPECT_EQ(m.lines.count("Close NCQ Func"), queued ? 1u : 0u);
    EXPECT_EQ(m.lines.linesOf(MessageKind::Info).front(), " << Sequtial Write in Rand Range Test >>");
  }
}

TEST(SeqWriteRandRange, AlignGapsAreNotComparedAndTheTopOfThe32BitRangeIsKept) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  MediaTestParams p = testParams(kOpSeqWrite, 0x10000, 0x12000, 5, 4);
  p.ulAlign = 8;
  p.fgReadVerify = 1;
  MediaTestResult r = m.run(p);
  EXPECT_TRUE(r.passed()) << "blocks between aligned writes hold no stamps and are not read back\n" << m.lines.text();
  for (const auto& c : m.spy->commands) {
    if (!c.write) continue;
    EXPECT_EQ(c.lba % 8, 0u);
  }

  MediaSim top(0, 0x100000100ull);
  ASSERT_TRUE(top.ok()) << top.sim.error;
  p = testParams(kOpSeqWrite, 0xFFFFFF00u, 0xFFFFFFFFu, 0x20, 20);
  p.ulAlign = 16;
  p.fgReadVerify = 1;
  r = top.run(p);
  EXPECT_TRUE(r.passed()) << top.lines.text();
  EXPECT_TRUE(top.spy->allInside(0xFFFFFF00u, 0xFFFFFFFFu));
  EXPECT_GT(top.spy->writes(), 0u);
}

TEST(SeqWriteRandRange, FailuresBusyDrivesAndDamageOnThePlainAndTheQueuedPath) {
  for (bool queued : {false, true}) {
    SCOPED_TRACE(queued ? "queued" : "plain");
    MediaTestParams p = testParams(kOpSeqWrite, 0x10000, 0x14000, 0x30, 3);
    p.fgReadVerify = 1;
    p._fgNCQEnable = queued ? 1 : 0;

    MediaSim busy;
    ASSERT_TRUE(busy.addFault(busyWrites(4, 0x08)));
    MediaTestResult r = busy.run(p);
    EXPECT_TRUE(r.passed()) << busy.lines.text();
    EXPECT_EQ(r.stats.writeRetries, 4u);
    EXPECT_EQ(busy.lines.count("Compare Check Sum Success"), 3u);

    MediaSim failing;
    ASSERT_TRUE(failing.addFault(Fault{.kind = FaultKind::Fail, .opcode = 0x2A, .count = 1, .senseKey = 0x03, .asc = 0x0C}));
    r = failing.run(p);
    EXPECT_FALSE(r.passed());
    uint32_t lba = failing.spy->commands[0].lba;
    EXPECT_EQ(failing.lines.count(formatText("Write Failed. 0x%X", lba)), 1u) << failing.lines.text();
    EXPECT_GT(failing.spy->writes(), 1u) << "the lap goes on after a failed write";
    EXPECT_EQ(comparedRanges(failing.lines).size(), 1u) << "the test ends with the lap";

    MediaSim damaged;
    ASSERT_TRUE(damaged.addFault(Fault{.kind = FaultKind::Damage, .lba = 0x10000, .blocks = 0x4000}));
    r = damaged.run(p);
    EXPECT_FALSE(r.passed());
    EXPECT_EQ(damaged.lines.count("Compare Check Sum Failed"), 1u);
  }
}

TEST(WriteGuard, WritesNeverReachAForeignMountedOrUnconsentedDrive) {
  MediaSim foreign(2);
  ASSERT_TRUE(foreign.ok()) << foreign.sim.error;
  MediaTestResult r = foreign.run(testParams(kOpRandomWrite, 0x1000, 0x2000, 0x10, 5));
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.refusal, "It's not SSD disk");
  EXPECT_EQ(foreign.lines.text(), "It's not SSD disk\n\r\n\r\n");
  EXPECT_TRUE(foreign.spy->commands.empty());
  // Reading it is fine.
  EXPECT_TRUE(foreign.run(testParams(kOpRandomAccess, 0x1000, 0x2000, 0x10, 5)).passed());

  MediaSim mounted;
  mounted.permission.volumes = parseVolumeMap("36 25 8:1 / /media/usb rw - ext4 /dev/sda1 rw\n");
  r = mounted.run(testParams(kOpSeqWrite, 0x1000, 0x2000, 0x10, 1));
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.refusal, "Physical Drive 0 holds mounted file systems (/media/usb): it is never written raw");
  EXPECT_EQ(mounted.spy->writes(), 0u);

  MediaSim beyond;
  r = beyond.run(testParams(kOpSeqWrite, 0x1000, 0xFFFFFFF0u, 0x10, 1));
  EXPECT_FALSE(r.started);
  EXPECT_NE(r.refusal.find("lies beyond the end of the drive"), std::string::npos);
}

// A real device as far as the guard can tell.
class RealDevicePort : public test::SpyPort {
 public:
  using SpyPort::SpyPort;
  std::string_view name() const override { return "linux"; }
};

// A drive another program holds exclusively (or whose partitions are
// mounted where the volume map does not show them).
class HeldDevicePort : public test::SpyPort {
 public:
  using SpyPort::SpyPort;
  IoOutcome probeExclusive(const std::string&) override {
    return IoOutcome::failure(IoError::Busy, EBUSY, "held by another program");
  }
};

TEST(WriteGuard, ADriveInUseIsNotWritten) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  HeldDevicePort held(*m.sim.port);
  m.ctx().port = &held;
  MediaTestResult r = m.run(testParams(kOpSeqWrite, 0x1000, 0x2000, 0x10, 1));
  EXPECT_EQ(r.refusal, "Physical Drive 0 is in use (held by another program): it is not written raw");
  EXPECT_TRUE(held.commands.empty());
}

TEST(WriteGuard, ARealDeviceNeedsTheUsersConsent) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  RealDevicePort real(*m.sim.port);
  m.ctx().port = &real;
  MediaTestResult r = m.run(testParams(kOpRandomWrite, 0x1000, 0x2000, 0x10, 3));
  EXPECT_EQ(r.refusal, "Raw writes destroy the data on the drive: they need the user's consent");
  EXPECT_EQ(real.writes(), 0u);
  m.permission.userConsent = true;
  EXPECT_TRUE(m.run(testParams(kOpRandomWrite, 0x1000, 0x2000, 0x10, 3)).passed());
  EXPECT_EQ(real.writes(), 3u);
}

TEST(MediaTestWorker, RunsOnTheDriveItWasHandedWithItsOwnBuffers) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  ASSERT_TRUE(m.sim.add(1));  // the parent now has slot 1 selected
  DriveEntry slot0;
  ASSERT_TRUE(test::describeSimDrive(*m.sim.bay, 0, slot0));
  std::memset(m.ctx().SectorBuffer.data(), 0x3C, 512);
  MediaTestJob job;
  job.params = testParams(kOpSeqWrite, 0x100, 0x900, 0x20, 3);
  job.params.fgReadVerify = 1;
  job.drive = slot0;
  job.messages = &m.lines;
  MediaTestResult r = MediaTestWorker(m.ctx(), job);
  EXPECT_TRUE(r.passed()) << m.lines.text();
  for (const auto& c : m.spy->commands) EXPECT_EQ(c.path, "sim:0");
  EXPECT_EQ(m.ctx().SectorBuffer[0], 0x3C) << "the window's sector buffer is left alone";
  EXPECT_EQ(m.ctx().ucSelDrive, 1);
}

TEST(MediaTestWorker, AbortPrintsAbortAndStartsNothing) {
  MediaSim m;
  ASSERT_TRUE(m.ok()) << m.sim.error;
  m.sim.pane.take();
  AbortMediaTest(m.ctx());
  EXPECT_EQ(m.sim.pane.text(), "Abort\n\r\n\r\n");
  EXPECT_TRUE(m.spy->commands.empty());
}

TEST(MediaTestWorker, StopDuringAWriteTestEndsWithStop) {
  for (bool queued : {false, true}) {
    MediaSim m;
    ASSERT_TRUE(m.ok()) << m.sim.error;
    m.spy->stopAfter = 5;
    MediaTestParams p = testParams(kOpSeqWrite, 0x10000, 0x90000, 0x10, 50);
    p._fgNCQEnable = queued ? 1 : 0;
    MediaTestResult r = m.run(p);
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.passed());
    EXPECT_EQ(m.spy->commands.size(), 5u);
    EXPECT_EQ(m.lines.count("STOP!"), 1u);
    EXPECT_EQ(m.lines.count("Test Complete"), 0u);
  }
}

}  // namespace
}  // namespace zorv
