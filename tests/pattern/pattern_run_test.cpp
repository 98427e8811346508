// The generator's workers on the simulated bay: write, read back and compare
// with every command on both buses, the read-only check, damaged blocks
// found, logged and counted up to the error limit, failed transfers counted,
// the range kept, and refusals that send nothing.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "pattern/comp_err_log.h"
#include "pattern/gen_data.h"
#include "pattern/pattern_worker.h"
#include "support/sim_fixture.h"
#include "transport/ata_command.h"
#include "transport/scsi_command.h"

namespace zorv {
namespace {

constexpr int kSata = 0;
constexpr int kUsb = 1;
constexpr int kForeign = 2;

sim::BayRecord smallBay(uint64_t capacity) {
  sim::BayRecord bay = sim::SimBay::defaultBay();
  if (capacity)
    for (int slot : {kSata, kUsb}) bay.slots[static_cast<size_t>(slot)].drive->identity.capacity = capacity;
  return bay;
}

// A bay whose two family drives hold `capacity` sectors (0: as built), the
// tab initialised for the selected drive with a range, and the run's box,
// counters and log directory.
struct PatternBay {
  explicit PatternBay(int slot = kSata, uint64_t capacity = 0x4000) : sim(smallBay(capacity), slot) {
    if (!sim.ok()) return;
    const DriveEntry& d = sim.ctx().selectedDrive();
    tab.initialise(d.sectorCount(), d.usSectorSize);
    GenDataControls& c = tab.controls;
    c.startLba = "100H";
    c.endLba = "500H";
    c.loop = "1";
    c.command = PatternCommand::DmaExt;
    c.compare = CompareKind::Simple;
    tab.setStampRecord(true);
    c.stampLba = c.stampTime = c.stampSerial = true;
  }

  PatternResult run(uint32_t seed = 1) {
    if (!tab.controls.onlyRead && !tab.writeEnabled()) {
      EXPECT_EQ(tab.genData(5), "");
    }
    CGenData::RunSetup setup = tab.runParameters();
    EXPECT_TRUE(setup.ok()) << setup.refusal;
    return run(setup.params, seed);
  }
  PatternResult run(const PatternRunParams& params, uint32_t seed = 1) {
    PatternJob job;
    job.params = params;
    job.drive = sim.ctx().selectedDrive();
    job.messages = &box;
    job.counters = &counters;
    job.seed = seed;
    job.logDirectory = logs.path();
    job.stop = stop;
    sim.ctx().fgBusy = 1;
    return PatternWorker(sim.ctx(), job);
  }
  bool addFault(sim::Fault fault, int slot = kSata) { return sim.bay->addFault(slot, fault, sim.error); }
  std::string log() const {
    std::ifstream in(logs.file(kCompErrLogName), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool logExists() const { return std::ifstream(logs.file(kCompErrLogName)).good(); }
  // Sectors at lba, read with READ(10), all zero (never written).
  bool untouched(uint32_t lba, uint32_t count) {
    if (!ReadBlocks(sim.ctx(), lba, count, false)) return false;
    for (size_t i = 0; i < size_t{count} * 512; ++i)
      if (sim.ctx().SectorBuffer[i] != 0) return false;
    return true;
  }

  test::SimFixture sim;
  test::TempDir logs;
  StringSink box;
  PatternCounters counters;
  std::atomic<uint8_t>* stop = nullptr;
  CGenData tab;
};

sim::Fault damageAt(uint64_t lba) {
  sim::Fault f;
  f.kind = sim::FaultKind::Damage;
  f.lba = lba;
  f.blocks = 1;
  return f;
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(PatternRun, WritesReadsAndComparesWithEveryCommandOnBothBuses) {
  for (int slot : {kSata, kUsb}) {
    for (PatternCommand command : {PatternCommand::Dma, PatternCommand::DmaExt, PatternCommand::ScsiPass}) {
      for (CompareKind compare : {CompareKind::Simple, CompareKind::Total}) {
        PatternBay bay(slot);
        ASSERT_TRUE(bay.sim.ok()) << bay.sim.error;
        bay.tab.controls.command = command;
        bay.tab.controls.compare = compare;
        PatternResult r = bay.run();
        SCOPED_TRACE(testing::Message() << "slot " << slot << " command " << int(command) << " compare " << int(compare));
        EXPECT_TRUE(r.passed()) << bay.box.text();
        EXPECT_EQ(r.commands, 8u);
        EXPECT_EQ(r.bytesWritten, 0x400u * 512);
        EXPECT_EQ(r.bytesRead, 0x400u * 512);
        EXPECT_EQ(bay.counters.peek().totalWritten, 0x400u * 512);
        std::string box = bay.box.text();
        EXPECT_EQ(box.substr(0, 87),
                  "<<Write Data>> LBA: 0000 00000100\r\n<<Read Data>> LBA: 0000 00000100\r\n    Compare Good\r\n");
        EXPECT_EQ(countOf(box, "    Compare Good\r\n"), 8u);
        EXPECT_NE(box.find("<<Write Data>> LBA: 0000 00000480\r\n"), std::string::npos);
        EXPECT_TRUE(bay.untouched(0x500, 1)) << "nothing past the end";
        EXPECT_TRUE(bay.untouched(0xFF, 1)) << "nothing before the start";
        EXPECT_TRUE(bay.sim.ui.boxes.empty());

        // What was written reads back with its stamps.
        bay.box.clear();
        bay.tab.setOnlyRead(true);
        r = bay.run();
        EXPECT_TRUE(r.passed()) << bay.box.text();
        EXPECT_EQ(r.bytesWritten, 0u);
        EXPECT_EQ(r.bytesRead, 0x400u * 512);
        EXPECT_EQ(bay.box.text().find("<<Write"), std::string::npos);
      }
    }
  }
}

TEST(PatternRun, DamagedBlockIsFoundReportedAndLoggedWithItsSectors) {
  PatternBay bay;
  ASSERT_TRUE(bay.sim.ok());
  ASSERT_TRUE(bay.addFault(damageAt(0x234))) << bay.sim.error;
  PatternResult r = bay.run();
  EXPECT_FALSE(r.passed());
  EXPECT_TRUE(r.errorLimitReached) << "Err Limit 1: the first mismatch ends the run";
  EXPECT_EQ(r.commands, 3u);
  EXPECT_EQ(r.firstErrorLba, 0x200u);
  std::string box = bay.box.text();
  EXPECT_TRUE(box.ends_with(
            "<<Read Data>> LBA: 0000 00000200\r\n!!!!Err LBA: 0x0200, length: 0x10000!!!!\r\nError Time Over \r\n"))
      << box;

  std::string log = bay.log();
  EXPECT_TRUE(log.starts_with(
            "CurLBA: 0x000000000200\r\nCurSn : 0x00000100\r\nLength: 0x00010000 Byte\r\nSpend Time:  0Day 0:0:0\r\n"
            "Loop: 1\r\n\r\nLBA: 0x000000000200\r\n0000:"));
  EXPECT_EQ(countOf(log, "\r\nLBA: 0x"), 0x80u);
  // Sector 0x234 as read: its serial stamp (offset 32 + 0x20) carries the damage.
  size_t at = log.find("\r\nLBA: 0x000000000234\r\n");
  ASSERT_NE(at, std::string::npos);
  std::string dump = log.substr(at + 23, log.find("\r\n\r\n", at + 23) - at - 23);
  EXPECT_NE(dump.find("0040:35 01 00 00 "), std::string::npos) << dump;  // serial 0x134, first byte flipped
  EXPECT_EQ(countOf(dump, "\r\n"), 31u) << "32 lines of 16 bytes";
}

TEST(PatternRun, ErrorsAreCountedUpToTheErrLimit) {
  struct Case {
    int errLimitIndex;
    CompareKind compare;
    uint32_t errors;
    bool limitReached;
    uint64_t commands;
  };
  const Case cases[] = {{1, CompareKind::Simple, 2, true, 3},
                        {9, CompareKind::Simple, 3, false, 8},
                        {2, CompareKind::Total, 3, true, 8}};
  for (const Case& c : cases) {
    PatternBay bay;
    ASSERT_TRUE(bay.sim.ok());
    for (uint64_t lba : {0x180, 0x190, 0x210, 0x4FF}) ASSERT_TRUE(bay.addFault(damageAt(lba)));
    bay.tab.controls.errLimitIndex = c.errLimitIndex;
    bay.tab.controls.compare = c.compare;
    PatternResult r = bay.run();
    EXPECT_EQ(r.errors, c.errors) << c.errLimitIndex;
    EXPECT_EQ(r.compareErrors, c.errors);
    EXPECT_EQ(r.errorLimitReached, c.limitReached) << c.errLimitIndex;
    EXPECT_EQ(r.commands, c.commands);
    EXPECT_EQ(countOf(bay.box.text(), "!!!!Err LBA"), c.errors);
    EXPECT_EQ(countOf(bay.box.text(), "Error Time Over \r\n"), c.limitReached ? 1u : 0u);
    EXPECT_EQ(countOf(bay.log(), "CurLBA: "), c.errors);
  }
}

TEST(PatternRun, FailedTransfersAreCountedReportedAndLeftOutOfTheTotals) {
  // No compare: the write is not read back, so only the command's own
  // status tells that it failed.
  PatternBay bay;
  ASSERT_TRUE(bay.sim.ok());
  sim::Fault fail;
  fail.kind = sim::FaultKind::Fail;
  fail.opcode = 0x35;
  fail.count = 2;
  ASSERT_TRUE(bay.addFault(fail));
  bay.tab.controls.compare = CompareKind::None;
  bay.tab.controls.errLimitIndex = 4;
  PatternResult r = bay.run();
  EXPECT_FALSE(r.passed());
  EXPECT_EQ(r.writeFailures, 2u);
  EXPECT_EQ(r.errors, 2u);
  EXPECT_EQ(r.commands, 8u);
  EXPECT_EQ(r.bytesWritten, 6u * 0x10000);
  EXPECT_EQ(bay.counters.peek().totalWritten, 6u * 0x10000);
  EXPECT_EQ(bay.counters.peek().totalRead, 0u);
  std::string box = bay.box.text();
  EXPECT_NE(box.find("<<Write Data>> LBA: 0000 00000100\r\n!!!!Write Failed LBA: 0x000000000100, length: 0x10000!!!!\r\n"),
            std::string::npos)
      << box;
  EXPECT_NE(box.find("!!!!Write Failed LBA: 0x000000000180"), std::string::npos);
  EXPECT_EQ(bay.log().substr(0, 38), "Write Failed\r\nCurLBA: 0x000000000100\r\n");

  // A failed read, with the error limit at 1: the run ends there.
  PatternBay reads;
  ASSERT_TRUE(reads.sim.ok());
  sim::Fault unreadable;
  unreadable.kind = sim::FaultKind::ReadError;
  unreadable.lba = 0x300;
  ASSERT_TRUE(reads.addFault(unreadable));
  r = reads.run();
  EXPECT_EQ(r.readFailures, 1u);
  EXPECT_EQ(r.compareErrors, 0u) << "a failed read is not compared";
  EXPECT_TRUE(r.errorLimitReached);
  EXPECT_EQ(r.bytesRead, 4u * 0x10000);
  EXPECT_NE(reads.box.text().find("!!!!Read Failed LBA: 0x000000000300, length: 0x10000!!!!\r\nError Time Over \r\n"),
            std::string::npos);
}

TEST(PatternRun, UsbBridgeTakesAtMost128SectorsACommand) {
  PatternBay bay(kUsb);
  ASSERT_TRUE(bay.sim.ok());
  bay.tab.controls.sectorNumber = "F9";
  bay.tab.controls.command = PatternCommand::Dma;
  PatternResult r = bay.run();
  EXPECT_EQ(r.writeFailures, 1u);
  EXPECT_TRUE(r.errorLimitReached);
  ASSERT_EQ(bay.sim.ui.boxes.size(), 1u);
  EXPECT_EQ(bay.sim.ui.boxes[0].text, "USB Sector Length Over 0x80, Exit");
  EXPECT_TRUE(bay.untouched(0x100, 0x80));
  // The same through WRITE(10) needs no ATA pass-through and goes.
  bay.tab.controls.command = PatternCommand::ScsiPass;
  EXPECT_TRUE(bay.run().passed()) << bay.box.text();
}

TEST(PatternRun, DmaReachesTheFirst2To28SectorsOnlyDmaExtGoesBeyond) {
  PatternBay bay(kSata, 0);
  ASSERT_TRUE(bay.sim.ok());
  ASSERT_GT(bay.sim.ctx().selectedDrive().sectorCount(), 0x10000100u);
  bay.tab.controls.startLba = "FFFFF80H";
  bay.tab.controls.endLba = "10000080H";
  bay.tab.controls.command = PatternCommand::Dma;
  PatternResult r = bay.run();
  EXPECT_FALSE(r.started);
  EXPECT_EQ(bay.box.text(),
            "<<Error>>\r\nDMA addresses LBAs below 0x10000000 only; the range reaches 0x10000080: choose DMA Ext\r\n");
  EXPECT_TRUE(bay.untouched(0xFFFFF80, 0x80));
  bay.box.clear();
  bay.tab.controls.command = PatternCommand::DmaExt;
  r = bay.run();
  EXPECT_TRUE(r.passed()) << bay.box.text();
  EXPECT_NE(bay.box.text().find("<<Write Data>> LBA: 0000 10000000\r\n"), std::string::npos);
  EXPECT_FALSE(bay.untouched(0x10000000, 1));
}

TEST(PatternRun, WrappingRangeRunsThroughTheEndOfTheDrive) {
  PatternBay bay(kSata, 0x1000);
  ASSERT_TRUE(bay.sim.ok());
  bay.tab.controls.startLba = "F00H";
  bay.tab.controls.endLba = "100H";
  bay.tab.controls.disableMessage = true;
  PatternResult r = bay.run();
  EXPECT_TRUE(r.passed()) << bay.box.text();
  EXPECT_EQ(r.bytesWritten, 0x200u * 512);
  EXPECT_EQ(bay.box.text(), "") << "Disable Message";
  EXPECT_TRUE(bay.untouched(0x100, 0x700));
  EXPECT_TRUE(bay.untouched(0x800, 0x700));
  EXPECT_FALSE(bay.untouched(0xFFF, 1));
  EXPECT_FALSE(bay.untouched(0, 1));
}

TEST(PatternRun, LoopKindsAndStopping) {
  PatternBay bay;
  ASSERT_TRUE(bay.sim.ok());
  bay.tab.controls.loop = "5";
  bay.tab.controls.loopKind = LoopKind::Command;
  EXPECT_EQ(bay.run().commands, 5u);
  bay.tab.controls.loopKind = LoopKind::Capacity;
  bay.tab.controls.loop = "2";
  EXPECT_EQ(bay.run().commands, 16u);
  bay.tab.controls.shiftRandom = true;
  bay.tab.controls.lengthRandom = true;
  bay.tab.controls.compare = CompareKind::Total;
  PatternResult r = bay.run();
  EXPECT_TRUE(r.passed()) << bay.box.text();
  EXPECT_EQ(r.bytesWritten, r.bytesRead);

  // The stop flag ends the run after the command under way.
  std::atomic<uint8_t> stop{1};
  bay.stop = &stop;
  r = bay.run();
  EXPECT_EQ(r.commands, 1u);
  EXPECT_TRUE(r.stopped);
  EXPECT_FALSE(r.passed() && !r.stopped);
}

TEST(PatternRun, RefusedRunsSendNothing) {
  struct Case {
    const char* what;
    int slot;
    void (*change)(PatternRunParams&);
    const char* box;
  };
  const Case cases[] = {
      {"start = end", kSata, [](PatternRunParams& p) { p.endLba = p.startLba; }, "<<Error>>\r\nStart LBA = End LBA\r\n"},
      {"no command", kSata, [](PatternRunParams& p) { p.command = PatternCommand::None; },
       "<<Error>>\r\nChoose the command: DMA, DMA Ext or SCSI Pass\r\n"},
      {"0 sectors", kSata, [](PatternRunParams& p) { p.sectors = 0; },
       "<<Error>>\r\nSector Number: a sector count of 0 moves no data\r\n"},
      {"beyond the drive", kSata, [](PatternRunParams& p) { p.endLba = 0x4001; },
       "<<Error>>\r\nStart LBA 0x100 or End LBA 0x4001 lies beyond the drive (0x4000 sectors)\r\n"},
      {"stamps past the sector", kSata, [](PatternRunParams& p) { p.stamps.offset = 480; },
       "<<Error>>\r\nOffset 480 leaves no room for the stamps (36 bytes) in a 512-byte sector\r\n"},
      {"loop 0", kSata, [](PatternRunParams& p) { p.loop = 0; }, "<<Error>>\r\nLoop: a loop count of 0 runs nothing\r\n"},
      {"foreign drive", kForeign, [](PatternRunParams&) {}, "<<Error>>\r\nIt's not SSD disk\r\n"},
  };
  for (const Case& c : cases) {
    PatternBay bay(c.slot);
    ASSERT_TRUE(bay.sim.ok());
    bay.sim.ctx().fgSkipModelCheck = 1;
    ASSERT_EQ(bay.tab.genData(1), "");
    CGenData::RunSetup setup = bay.tab.runParameters();
    ASSERT_TRUE(setup.ok());
    c.change(setup.params);
    PatternResult r = bay.run(setup.params);
    EXPECT_FALSE(r.started) << c.what;
    EXPECT_EQ(bay.box.text(), c.box) << c.what;
    EXPECT_EQ(r.commands, 0u);
    EXPECT_TRUE(bay.untouched(0x100, 0x80)) << c.what;
    EXPECT_EQ(bay.sim.ctx().fgBusy, 0) << c.what;
  }
}

// The bay's drive as a real device would look to the write guard.
class RealDevice : public DevicePort {
 public:
  explicit RealDevice(DevicePort& inner) : inner_(inner) {}
  std::string_view name() const override { return "linux"; }
  std::string physicalDrivePath(int n) const override { return inner_.physicalDrivePath(n); }
  IoOutcome queryBusType(const std::string& path, uint8_t& bus) override { return inner_.queryBusType(path, bus); }
  IoOutcome probeExclusive(const std::string& path) override { return inner_.probeExclusive(path); }
  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& r) override {
    return inner_.ataPassThrough(path, r);
  }
  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& r) override { return inner_.scsiPassThrough(path, r); }
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& r) override {
    return inner_.submitQueued(path, slot, r);
  }
  SlotState pollSlot(int slot) override { return inner_.pollSlot(slot); }
  void drainQueue() override { inner_.drainQueue(); }

 private:
  DevicePort& inner_;
};

TEST(PatternRun, RealDeviceIsWrittenOnlyWithConsentAndReadWithout) {
  PatternBay bay;
  ASSERT_TRUE(bay.sim.ok());
  RealDevice real(*bay.sim.port);
  bay.sim.ctx().port = &real;
  PatternResult r = bay.run();
  EXPECT_FALSE(r.started);
  EXPECT_EQ(bay.box.text(), "<<Error>>\r\nRaw writes destroy the data on the drive: they need the user's consent\r\n");
  EXPECT_TRUE(bay.untouched(0x100, 0x80));
  bay.tab.setOnlyRead(true);
  bay.tab.controls.stampSerial = false;
  bay.tab.controls.stampLba = false;
  EXPECT_TRUE(bay.run().started) << "reading needs no consent";
}

TEST(PatternRun, SaveLogOffWritesNoFile) {
  PatternBay bay;
  ASSERT_TRUE(bay.sim.ok());
  ASSERT_TRUE(bay.addFault(damageAt(0x100)));
  bay.tab.controls.saveLog = false;
  PatternResult r = bay.run();
  EXPECT_EQ(r.errors, 1u);
  EXPECT_FALSE(bay.logExists());
}

}  // namespace
}  // namespace zorv
