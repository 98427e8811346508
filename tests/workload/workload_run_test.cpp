// Drive windows on the simulated bay: each opens its own port and queue and
// runs its plan; a damaged block is found by the read-back of one drive
// while another passes; the sequential range wraps; the capacity workload
// writes its speed report.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "sim/sim_port.h"
#include "support/sim_fixture.h"
#include "workload/multi_run.h"
#include "workload/speed_report_view.h"
#include "workload/workload_run.h"

namespace zorv {
namespace {

constexpr uint64_t kSmallDrive = 0x20000;  // 64 MiB

sim::BayRecord smallBay() {
  sim::BayRecord bay = sim::SimBay::defaultBay();
  bay.slots[0].drive->identity.capacity = kSmallDrive;
  bay.slots[1].drive->identity.capacity = kSmallDrive;
  return bay;
}

std::string example(const std::string& name) {
  std::ifstream in(std::string(ZORV_SOURCE_DIR) + "/examples/workload/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Forwards to the window's own port and keeps the queued writes it carries;
// with a clock, each write takes `perWrite` of its time.
class WriteLog : public DevicePort {
 public:
  WriteLog(std::unique_ptr<DevicePort> inner, std::vector<std::pair<uint32_t, uint32_t>>& writes,
           ManualClock* clock = nullptr, std::chrono::milliseconds perWrite = {})
      : inner_(std::move(inner)), writes_(writes), clock_(clock), perWrite_(perWrite) {}
  std::string_view name() const override { return inner_->name(); }
  std::string physicalDrivePath(int n) const override { return inner_->physicalDrivePath(n); }
  IoOutcome queryBusType(const std::string& p, uint8_t& b) override { return inner_->queryBusType(p, b); }
  IoOutcome ataPassThrough(const std::string& p, AtaPassThroughRequest& r) override {
    return inner_->ataPassThrough(p, r);
  }
  IoOutcome scsiPassThrough(const std::string& p, ScsiRequest& r) override { return inner_->scsiPassThrough(p, r); }
  IoOutcome submitQueued(const std::string& p, int slot, ScsiRequest& r) override {
    if (r.cdb[0] == 0x2A)
      writes_.emplace_back((uint32_t{r.cdb[2]} << 24) | (r.cdb[3] << 16) | (r.cdb[4] << 8) | r.cdb[5],
                           (r.cdb[7] << 8) | r.cdb[8]);
    if (clock_ && r.cdb[0] == 0x2A) clock_->advance(perWrite_);
    return inner_->submitQueued(p, slot, r);
  }
  SlotState pollSlot(int slot) override { return inner_->pollSlot(slot); }
  void waitQueued(std::chrono::milliseconds t) override { inner_->waitQueued(t); }
  void drainQueue() override { inner_->drainQueue(); }

 private:
  std::unique_ptr<DevicePort> inner_;
  std::vector<std::pair<uint32_t, uint32_t>>& writes_;
  ManualClock* clock_;
  std::chrono::milliseconds perWrite_;
};

struct Bay {
  Bay() : sim(smallBay(), 0) {
    sim.select(0);
    sim.add(1);
  }
  // The tab's blocks for the family drives of the bay ("Get Drive" first,
  // which selects the mixed workload, then a script).
  std::vector<std::string> blocks(MultiRunTab& tab) {
    std::string error;
    auto b = tab.buildBlocks(sim.ctx(), {}, error);
    EXPECT_TRUE(b) << error;
    return b ? *b : std::vector<std::string>{};
  }
  WorkloadJob job(const std::string& block, StringSink& box) {
    std::string error;
    auto plan = parseWorkloadBlock(block, error);
    EXPECT_TRUE(plan) << error;
    WorkloadJob j;
    j.plan = *plan;
    for (int i = 0; i < sim.ctx().ucDriveCount; ++i)
      if (sim.ctx().DriveTable[i].strDevicePath == plan->devicePath) j.drive = sim.ctx().DriveTable[i];
    j.openPort = [this](std::string&) { return sim::makeSimPort(sim.bay); };
    j.messages = &box;
    j.seed = 5;
    j.reportDir = sim.dir.path();
    return j;
  }
  test::SimFixture sim;
};

TEST(WorkloadRun, ADamagedBlockFailsOneDriveWhileTheOtherPasses) {
  Bay bay;
  ASSERT_TRUE(bay.sim.ok()) << bay.sim.error;
  ASSERT_TRUE(bay.sim.bay->addFault(1, sim::Fault{.kind = sim::FaultKind::Corrupt, .lba = 0x2345, .blocks = 1},
                                    bay.sim.error));
  MultiRunTab tab;
  tab.getDrives(bay.sim.ctx());
  std::string error;
  ASSERT_TRUE(tab.openDefineScript(example("define.sc1"), error)) << error;
  std::vector<std::string> blocks = bay.blocks(tab);
  ASSERT_EQ(blocks.size(), 2u);
  StringSink box0, box1;
  WorkloadRun run0(bay.sim.ctx(), bay.job(blocks[0], box0));
  WorkloadRun run1(bay.sim.ctx(), bay.job(blocks[1], box1));
  std::thread w0([&] { run0.run(); });
  std::thread w1([&] { run1.run(); });
  w0.join();
  w1.join();

  EXPECT_TRUE(run0.result().passed) << box0.text();
  EXPECT_EQ(run0.result().sectorsWritten, 0x10000u);
  EXPECT_EQ(run0.result().sectorsRead, 0x10000u) << "everything written is read back";
  EXPECT_EQ(box0.text(), "Multi-Run SubWindow Done\r\n");

  EXPECT_FALSE(run1.result().passed);
  EXPECT_FALSE(run1.result().stopped);
  const std::string t = box1.text();
  EXPECT_NE(t.find("Check Error @ Multi-Run SubWindow\r\n"), std::string::npos) << t;
  EXPECT_NE(t.find("Err Stamp LBA: 5A5A5A5A5A5A791F\r\nErr Stamp SN:  5A5A5A5A\r\n"
                   "Err sector offset in this read:  0045\r\n"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("Curnt Read LBA: 0000000000002300\r\nCurnt Read SN:  00000000\r\nCurnt Read SecLen:  0080\r\n"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("Error LBA is : 0000000000002345\r\nCurrent Loop: 0\r\n"), std::string::npos) << t;
  EXPECT_EQ(t.substr(t.size() - 27), "Multi-Run SubWindow Error\r\n");
}

TEST(WorkloadRun, SequentialDefinedRangeWrapsBackToItsStart) {
  Bay bay;
  ASSERT_TRUE(bay.sim.ok()) << bay.sim.error;
  MultiRunTab tab;
  tab.getDrives(bay.sim.ctx());
  std::string error;
  ASSERT_TRUE(tab.openDefineScript(example("define.sc1"), error)) << error;
  std::vector<std::string> blocks = bay.blocks(tab);
  ASSERT_FALSE(blocks.empty());
  StringSink box;
  std::vector<std::pair<uint32_t, uint32_t>> writes;
  WorkloadJob job = bay.job(blocks[0], box);
  job.openPort = [&](std::string&) { return std::make_unique<WriteLog>(sim::makeSimPort(bay.sim.bay), writes); };
  WorkloadRun run(bay.sim.ctx(), job);
  ASSERT_TRUE(run.run().passed) << box.text();
  ASSERT_EQ(writes.size(), 0x200u);
  uint64_t total = 0;
  for (size_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(writes[i].first, 0x1000u + (i % 0x100) * 0x80) << i;
    EXPECT_EQ(writes[i].second, 0x80u);
    total += writes[i].second;
  }
  EXPECT_EQ(total, 0x10000u);
}

TEST(WorkloadRun, MixedAndClientWorkloadsStayInTheirAreas) {
  Bay bay;
  ASSERT_TRUE(bay.sim.ok()) << bay.sim.error;
  MultiRunTab tab;
  tab.getDrives(bay.sim.ctx());
  tab.reserveFill = true;
  std::vector<std::string> blocks = bay.blocks(tab);
  ASSERT_EQ(blocks.size(), 2u);
  StringSink box;
  std::vector<std::pair<uint32_t, uint32_t>> writes;
  WorkloadJob job = bay.job(blocks[0], box);
  job.openPort = [&](std::string&) { return std::make_unique<WriteLog>(sim::makeSimPort(bay.sim.bay), writes); };
  WorkloadRun mixed(bay.sim.ctx(), job);
  ASSERT_TRUE(mixed.run().passed) << box.text();
  // 40 / 40 of 0x20000: two shares of 0xCCCC, reserve [0, 0x6668).
  const Boundaries b = computeBoundaries(kSmallDrive, 40, 40);
  EXPECT_EQ(b.first, 0x6668u);
  uint64_t reserve = 0, sequential = 0, random = 0;
  for (const auto& [lba, count] : writes) {
    ASSERT_LE(uint64_t{lba} + count, kSmallDrive);
    if (lba < b.first) {
      reserve += count;
      EXPECT_LE(uint64_t{lba} + count, b.first);
    } else if (lba < b.second) {
      sequential += count;
      EXPECT_LE(uint64_t{lba} + count, b.second);
    } else {
      random += count;
      EXPECT_LE(count, 8u);
    }
  }
  EXPECT_EQ(reserve, b.first);
  EXPECT_EQ(sequential, b.second - b.first);
  EXPECT_EQ(random, b.third - b.second);
  EXPECT_EQ(mixed.result().sectorsRead, b.third) << "every written sector is read back";
  EXPECT_NE(mixed.stateText().find("Test Done\r\ncurLBA:  "), std::string::npos);
  EXPECT_NE(mixed.stateText().find("Loop Num/Total Loop: 1/1\r\nMAX_LBA: 00000001FFFF\r\nRsvSize: 000000006668\r\n"),
            std::string::npos)
      << mixed.stateText();

  std::string error;
  ASSERT_TRUE(tab.openJesdScript(example("client.txt"), error)) << error;
  blocks = bay.blocks(tab);
  writes.clear();
  StringSink box2;
  job = bay.job(blocks[1], box2);
  job.openPort = [&](std::string&) { return std::make_unique<WriteLog>(sim::makeSimPort(bay.sim.bay), writes); };
  WorkloadRun client(bay.sim.ctx(), job);
  ASSERT_TRUE(client.run().passed) << box2.text();
  EXPECT_EQ(client.result().sectorsWritten, kSmallDrive) << "Loop 1 writes the capacity once";
  const Boundaries g = computeBoundaries(kSmallDrive, 15, 80);
  size_t inGroup[3] = {};
  for (const auto& [lba, count] : writes) {
    int group = lba < g.first ? 0 : lba < g.second ? 1 : 2;
    const uint64_t end = group == 0 ? g.first : group == 1 ? g.second : g.third;
    EXPECT_LE(uint64_t{lba} + count, end) << "a command stays inside its group";
    ++inGroup[group];
  }
  EXPECT_GT(inGroup[0], inGroup[2]) << "group 1 takes half the commands, group 3 a fifth";
}

TEST(WorkloadRun, CapacityWorkloadWritesItsSpeedReport) {
  Bay bay;
  ASSERT_TRUE(bay.sim.ok()) << bay.sim.error;
  MultiRunTab tab;
  tab.getDrives(bay.sim.ctx());
  std::string error;
  ASSERT_TRUE(tab.openCapacityScript(example("capacity.sc2"), error)) << error;
  std::vector<std::string> blocks = bay.blocks(tab);
  StringSink box;
  WorkloadJob job = bay.job(blocks[0], box);
  // 10 ms a command of 128 KiB: 12.8 MB a second, the 64 MiB in about five seconds.
  std::vector<std::pair<uint32_t, uint32_t>> writes;
  job.openPort = [&](std::string&) {
    return std::make_unique<WriteLog>(sim::makeSimPort(bay.sim.bay), writes, &bay.sim.clock,
                                      std::chrono::milliseconds(10));
  };
  WorkloadRun run(bay.sim.ctx(), job);
  ASSERT_TRUE(run.run().passed) << box.text();
  const std::string path = run.result().reportPath;
  ASSERT_FALSE(path.empty());
  const std::string name = std::filesystem::path(path).filename().string();
  EXPECT_TRUE(std::regex_match(name, std::regex("PhyWrRpt_" + bay.sim.ctx().DriveTable[0].strSerial +
                                                "_[0-9]{10}\\.csv")))
      << name;
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  const std::string report = s.str();
  ASSERT_EQ(report.rfind("Time,LBA,Speed(MB/S),\r\n", 0), 0u) << report;
  std::regex line("[0-9]+:[0-9]+:[0-9]+,0x[0-9A-F]{12},[0-9]+,");
  size_t lines = 0;
  uint64_t mb = 0;
  for (size_t from = report.find("\r\n") + 2; from < report.size();) {
    size_t end = report.find("\r\n", from);
    ASSERT_NE(end, std::string::npos);
    std::string l = report.substr(from, end - from);
    EXPECT_TRUE(std::regex_match(l, line)) << l;
    mb += std::stoull(l.substr(l.rfind(',', l.size() - 2) + 1));
    ++lines;
    from = end + 2;
  }
  EXPECT_GE(lines, 5u);
  EXPECT_LE(lines, 6u);
  EXPECT_EQ(mb, 64u) << "the seconds' megabytes add up to what was written";
  auto view = readSpeedReport(path, error);
  ASSERT_TRUE(view) << error;
  EXPECT_EQ(view->speeds.size(), lines + 1);
}

TEST(WorkloadRun, ARangeBeyondTheDriveStartsNothing) {
  Bay bay;
  ASSERT_TRUE(bay.sim.ok()) << bay.sim.error;
  MultiRunTab tab;
  tab.getDrives(bay.sim.ctx());
  std::string error;
  ASSERT_TRUE(tab.openCapacityScript("Range Size: 20001\nTotal Write Capacity: 100\nFile Size: 4KB\nSequence: TRUE\n"
                                     "Need Read Back: FALSE\n",
                                     error));
  EXPECT_FALSE(tab.buildBlocks(bay.sim.ctx(), {}, error));
  EXPECT_NE(error.find("Range Size 0x20001 lies beyond the drive (0x20000 sectors)"), std::string::npos) << error;
  // A window handed such a block refuses it before opening the drive.
  WorkloadPlan plan = tab.planFor(0);
  StringSink box;
  WorkloadJob job = bay.job(workloadBlock(plan), box);
  bool opened = false;
  job.openPort = [&](std::string&) {
    opened = true;
    return sim::makeSimPort(bay.sim.bay);
  };
  WorkloadRun run(bay.sim.ctx(), job);
  EXPECT_FALSE(run.run().started);
  EXPECT_FALSE(opened);
  EXPECT_EQ(box.text(), "LBA 0x20001 lies beyond the drive (0x20000 sectors)\r\nMulti-Run SubWindow Error\r\n");
}

}  // namespace
}  // namespace zorv

namespace zorv {
namespace {

TEST(WorkloadRun, ReadBackWaitsForTheDriveInsteadOfPollingIdleSlots) {
  // With the drive's latency on the bay's manual clock, a wait is the only
  // thing that lets the outstanding writes finish before their read-back.
  Bay bay;
  ASSERT_TRUE(bay.sim.ok()) << bay.sim.error;
  ASSERT_TRUE(bay.sim.bay->setLatency(0, sim::LatencyModel{.commandUs = 0, .perMiBUs = 60000}, bay.sim.error));
  MultiRunTab tab;
  tab.getDrives(bay.sim.ctx());
  std::string error;
  ASSERT_TRUE(tab.openDefineScript(example("define.sc1"), error)) << error;
  std::vector<std::string> blocks = bay.blocks(tab);
  ASSERT_FALSE(blocks.empty());
  StringSink box;
  WorkloadRun run(bay.sim.ctx(), bay.job(blocks[0], box));
  ASSERT_TRUE(run.run().passed) << box.text();
  EXPECT_EQ(run.result().sectorsRead, 0x10000u);
  EXPECT_GT(bay.sim.clock.totalSlept().count(), 0);
}

}  // namespace
}  // namespace zorv
