// The repair station on the simulated bay, as a table of runs: each run
// prepares the drive, plays the operator and checks the verdict, the error
// code, the report line and what the drive went through.

#include <gtest/gtest.h>

#include <functional>

#include "diagnostics/vendor_command.h"
#include "rma/rma_errors.h"
#include "rma/write_read_test.h"
#include "rma/station_run.h"
#include "sim/sim_drive.h"
#include "sim/vendor_rma.h"
#include "transport/byte_order.h"

namespace zorv::rmatest {
namespace {

using rma::RmaVerdict;

const std::string kLineStart = "ORBENNEPA256SSD,OB2310A00417,";

struct RunCase {
  const char* name;
  std::function<void(StationRun&)> prepare;
  Operator who;
  std::optional<uint32_t> code;  // nullopt: the run passes (or fails without a code, see line)
  bool passes;
  std::string lineRest;        // the report line after model and serial
  std::string errorText = {};  // when there is no code: the error lines
};

sim::Fault failing(uint8_t opcode) { return sim::Fault{.kind = sim::FaultKind::Fail, .opcode = opcode}; }

const std::vector<RunCase>& runCases() {
  static const std::vector<RunCase> cases = {
      {"Pass",
       {},
       Operator::PowerCycle,
       std::nullopt,
       true,
       "Pass,Pass,Pass,Pass,Remain,Pass,Pass,Pass,Pass,Pass,\r\n"},
      {"PassSeenByRescan",
       {},
       Operator::UnplugThenPlug,
       std::nullopt,
       true,
       "Pass,Pass,Pass,Pass,Remain,Pass,Pass,Pass,Pass,Pass,\r\n"},
      {"SaveSmartRefused",
       [](StationRun& r) { r.onDrive([](sim::SimDrive& d) { sim::rejectVendorCode(d, 0x62, 1); }); },
       Operator::PowerCycle, rma::ulRMA_SMARTErr, false, "Fail\r\n"},
      // The drive keeps earlier limits, so its save would succeed.
      {"LimitsRefused",
       [](StationRun& r) {
         r.onDrive([](sim::SimDrive& d) {
           d.vendorState()["rma"]["limits"] = {1, 1, 1, 1, 1, 1, 1};
           sim::rejectVendorCode(d, 0x61, 1);
         });
       },
       Operator::PowerCycle, rma::ulRMA_SMARTErr, false, "Fail\r\n"},
      {"Temperature4",
       [](StationRun& r) {
         std::string e;
         r.sim.bay->setTemperature(0, 4, e);
       },
       Operator::PowerCycle, rma::ulRMA_TSENSORErr, false, "Pass,Current Temp 4 Fail\r\n"},
      {"Temperature101",
       [](StationRun& r) {
         std::string e;
         r.sim.bay->setTemperature(0, 101, e);
       },
       Operator::PowerCycle, rma::ulRMA_TSENSORErr, false, "Pass,Current Temp 101 Fail\r\n"},
      {"Temperature5",
       [](StationRun& r) {
         std::string e;
         r.sim.bay->setTemperature(0, 5, e);
       },
       Operator::PowerCycle, std::nullopt, true, "Pass,Pass,Pass,Pass,Remain,Pass,Pass,Pass,Pass,Pass,\r\n"},
      {"Temperature100",
       [](StationRun& r) {
         std::string e;
         r.sim.bay->setTemperature(0, 100, e);
       },
       Operator::PowerCycle, std::nullopt, true, "Pass,Pass,Pass,Pass,Remain,Pass,Pass,Pass,Pass,Pass,\r\n"},
      {"ThermalSensorSilent",
       [](StationRun& r) { r.onDrive([](sim::SimDrive& d) { sim::rejectVendorCode(d, 0xF3, 1); }); },
       Operator::PowerCycle, rma::ulRMA_TSENSORErr, false, "Pass,Fail\r\n"},
      {"TblMergeRefused",
       [](StationRun& r) { r.onDrive([](sim::SimDrive& d) { sim::rejectVendorCode(d, 0xB1, 1); }); },
       Operator::PowerCycle, rma::ulRMA_TBL2SPIErr, false, "Pass,Pass,Fail\r\n"},
      {"Preb2Refused",
       [](StationRun& r) { r.onDrive([](sim::SimDrive& d) { sim::rejectVendorCode(d, 0x03, 1); }); },
       Operator::PowerCycle, rma::ulRMA_FENANDErr, false, "Pass,Pass,Pass,Fail\r\n"},
      {"TimeOut",
       {},
       Operator::LeaveAttached,
       rma::ulRMA_WAITRDY_FAIL,
       false,
       "Pass,Pass,Pass,Pass,Remain,Fail\r\n"},
      {"AnotherDriveCameBack",
       {},
       Operator::SwapDrive,
       rma::ulRMA_WAITRDY_FAIL,
       false,
       "Pass,Pass,Pass,Pass,Remain,Fail\r\n"},
      {"SetFlagRefused",
       [](StationRun& r) { r.onDrive([](sim::SimDrive& d) { sim::rejectVendorCode(d, 0xB0, 1); }); },
       Operator::PowerCycle, std::nullopt, false, "Pass,Pass,Pass,Pass,Remain,Pass,Fail\r\n",
       "<<<Error Code Incorrect>>>\r\n<<<< Set RMA Flag Error  >>>>\r\n"},
      {"ObbCheckFails",
       [](StationRun& r) {
         r.onDrive([](sim::SimDrive& d) {
           sim::setObbError(d, std::array<uint8_t, 4>{0x00, 0xA1, 0x02, 0x3C});
         });
       },
       Operator::PowerCycle, rma::ulRMA_OBBErr, false,
       "Pass,Pass,Pass,Pass,Remain,Pass,Pass,OBB err code: 00A1023c Fail\r\n"},
      {"WriteFails",
       [](StationRun& r) {
         std::string e;
         r.sim.bay->addFault(0, failing(0x2A), e);
       },
       Operator::PowerCycle, rma::ulRMA_WrRdErr, false,
       "Pass,Pass,Pass,Pass,Remain,Pass,Pass,Pass,Pass,Fail\r\n"},
      {"ReadFails",
       [](StationRun& r) {
         std::string e;
         r.sim.bay->addFault(0, failing(0x28), e);
       },
       Operator::PowerCycle, rma::ulRMA_WrRdErr, false,
       "Pass,Pass,Pass,Pass,Remain,Pass,Pass,Pass,Pass,Fail\r\n"},
      {"UnpluggedDuringWriteRead",
       [](StationRun& r) {
         r.hooks.startWorker = [&r](std::function<void()> body) {
           std::string e;
           EXPECT_TRUE(r.sim.bay->unplug(0, e)) << e;
           body();
         };
       },
       Operator::PowerCycle, rma::ulRMA_WrRdErr, false,
       "Pass,Pass,Pass,Pass,Remain,Pass,Pass,Pass,Pass,Fail\r\n"},
  };
  return cases;
}

class RmaRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(RmaRun, EndsWithItsVerdictCodeAndReportLine) {
  const RunCase& c = GetParam();
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  if (c.prepare) c.prepare(r);
  std::optional<RmaVerdict> v = r.runThrough("ob2310a00417", c.who);
  ASSERT_TRUE(v) << r.box.text();
  EXPECT_EQ(v->passed, c.passes) << r.box.text();
  EXPECT_EQ(v->errorCode, c.code) << r.box.text();
  EXPECT_EQ(v->reportLine, kLineStart + c.lineRest) << r.box.text();
  EXPECT_TRUE(v->report.written) << v->report.error;
  EXPECT_EQ(r.report(), rma::reportHeader() + kLineStart + c.lineRest);
  EXPECT_EQ(r.station().phase(), rma::RmaPhase::Idle);
  // The timer runs only while the station waits, and is stopped at its end.
  if (!r.timerCalls.empty()) {
    EXPECT_FALSE(r.timerCalls.back());
  }

  const std::string text = r.box.text();
  const std::string boxShown = r.sim.ui.boxes.empty() ? "" : r.sim.ui.boxes.back().text;
  if (c.passes) {
    EXPECT_NE(text.find("Testing Pass\r\n"), std::string::npos) << text;
    EXPECT_EQ(boxShown, "Pass");
  } else if (c.code) {
    const std::string line = rma::errorCodeLine(*c.code);
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), line.size())), line) << text;
    EXPECT_EQ(boxShown, line);
  } else {
    EXPECT_NE(text.find(c.errorText), std::string::npos) << text;
    EXPECT_EQ(boxShown, c.errorText);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, RmaRun, ::testing::ValuesIn(runCases()),
                         [](const ::testing::TestParamInfo<RunCase>& i) {
                           return std::string(i.param.name);
                         });

// What a passing run leaves in the drive: the limits and SMART data
// in SPI flash, the table bad blocks merged, Preb2 done, the RMA flag set and
// cleared again, the whole test range written and read.
TEST(RmaFlow, APassLeavesItsTracesInTheDrive) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  r.options.range = rma::WriteReadRange{};  // the whole GiB
  sim::Counters before = r.sim.bay->controller(0)->withDrive([](sim::SimDrive& d) { return d.counters(); });
  std::optional<RmaVerdict> v = r.runThrough(kSerial);
  ASSERT_TRUE(v && v->passed) << r.box.text();
  r.onDrive([&](sim::SimDrive& d) {
    std::span<uint8_t> spi = d.spiFlash();
    EXPECT_EQ(std::string(spi.begin() + sim::kSpiRmaArea, spi.begin() + sim::kSpiRmaArea + 8), "ZVRMASMT");
    // RmaTime 10, BBLife 30, PELife 30, WorstTemp 100, AvgEC 70, TotalWrtGB 70, POH 1825.
    const uint8_t limits[] = {0, 10, 0, 30, 0, 30, 0, 100, 0, 70, 0, 70, 0x07, 0x21};
    EXPECT_TRUE(std::equal(std::begin(limits), std::end(limits), spi.begin() + sim::kSpiRmaArea + 16));
    EXPECT_EQ(spi[sim::kSpiRmaArea + 0x100], 0x10);  // the SMART data sector's revision
    EXPECT_EQ(std::string(spi.begin() + sim::kSpiObbListArea, spi.begin() + sim::kSpiObbListArea + 8),
              "ZVOBBLST");
    const nlohmann::json& rma = d.vendorState()["rma"];
    EXPECT_EQ(rma.value("preb2", 0), 1);
    EXPECT_EQ(rma.value("merges", 0), 1);
    EXPECT_FALSE(sim::rmaFlag(d));
    sim::Counters after = d.counters();
    EXPECT_EQ(after.sectorsWritten - before.sectorsWritten, 0x200000u);
    EXPECT_EQ(after.sectorsRead - before.sectorsRead, 0x200000u);
    uint8_t sector[512];
    ASSERT_EQ(d.readSectors(0x200FFF, 1, sector), 0);
    for (int i = 0; i < 512; ++i) ASSERT_EQ(sector[i], i % 256) << i;
    ASSERT_EQ(d.readSectors(0xFFF, 1, sector), 0);
    EXPECT_NE(sector[1], 1);  // below the range: untouched
  });
  // A drive of the brand the program is built for reports its life.
  EXPECT_NE(r.box.text().find("Total Wr Giga Byte: 1\r\nPower On Hours: "), std::string::npos)
      << r.box.text();
}

// The life line is asked of drives whose model word names the brand the
// program is built for; a serial number that happens to hold it does not count.
TEST(RmaFlow, TheBrandIsSearchedInTheWholeModelWord) {
  EXPECT_TRUE(rma::lineNamesBuiltBrand("Physical Drive 0 ORBENNEPA256SSD OB2310A00417 238G SATA"));
  EXPECT_TRUE(rma::lineNamesBuiltBrand("Physical Drive 3 XORBENNE OB2310A00417 238G USB"));
  EXPECT_FALSE(rma::lineNamesBuiltBrand("Physical Drive 1 KALDRIXPA256SSD ORBENNE17 238G SATA"));
  EXPECT_FALSE(rma::lineNamesBuiltBrand("Physical Drive 1 orbennepa256 X 238G SATA"));
  EXPECT_FALSE(rma::lineNamesBuiltBrand("ORBENNE"));
  EXPECT_FALSE(rma::lineNamesBuiltBrand(""));
}

// The drive behind a USB bridge takes every command of the flow through ATA
// PASS-THROUGH; the life query, whose count the transport does not let
// through a bridge, is left out without an error box.
TEST(RmaFlow, PassesOnTheUsbDrive) {
  StationRun r('A', {}, 1);
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  std::optional<RmaVerdict> v = r.runThrough("ob2402b00417");
  ASSERT_TRUE(v) << r.box.text();
  EXPECT_TRUE(v->passed) << r.box.text();
  EXPECT_EQ(v->reportLine, "ORBENNETA512SSD,OB2402B00417,Pass,Pass,Pass,Pass,Remain,Pass,Pass,Pass,Pass,Pass,\r\n");
  EXPECT_NE(r.box.text().find("Current Temp 41\r\n"), std::string::npos) << r.box.text();
  EXPECT_NE(r.box.text().find("Testing Read/Write\r\nTesting Pass\r\n"), std::string::npos) << r.box.text();
  ASSERT_EQ(r.sim.ui.boxes.size(), 1u);
  EXPECT_EQ(r.sim.ui.boxes[0].text, "Pass");
}

// The texts of a passing run, in order, as the operator sees them.
TEST(RmaFlow, APassShowsEveryStep) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  ASSERT_TRUE(r.runThrough(kSerial));
  const std::string text = r.box.text();
  size_t at = 0;
  for (const char* step :
       {"Check Modelname and SN\r\n", "Check Set RMA Spec and Save SMART to SPI\r\n", "Current Temp 36\r\n",
        "Check Thermal sensor\r\n", "Check Merge TBL BB into OBB in SPI\r\n", "Check Preb2\r\n",
        "<<<<Please Power Down Drive then Plug Again>>>>\r\n", "Check Device Ready\r\n", "Set RMA Flag\r\n",
        "Check VC OBB\r\n", "Clean RMA Flag\r\n", "Testing Read/Write\r\n", "Testing Pass\r\n"}) {
    size_t found = text.find(step, at);
    ASSERT_NE(found, std::string::npos) << step << " after " << at << " in\n" << text;
    at = found + 1;
  }
  EXPECT_EQ(text.find("Check Modelname and SN\r\n"), 0u)
      << "the box is emptied when the serial numbers match";
}

TEST(RmaFlow, TheWaitCountsDownAndTimesOut) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  r.options.limits.TimeInterval = 62;
  ASSERT_EQ(r.enter(kSerial), rma::RunStart::Started);
  EXPECT_EQ(r.station().phase(), rma::RmaPhase::WaitingForPowerCycle);
  EXPECT_EQ(r.timerCalls, std::vector<bool>{true});
  r.station().tick();
  EXPECT_EQ(r.timeLeft, "Time Left: 1 min, 1 sec\r\n");
  for (int i = 0; i < 60; ++i) r.station().tick();
  EXPECT_EQ(r.timeLeft, "Time Left: 0 min, 1 sec\r\n");
  EXPECT_EQ(r.station().phase(), rma::RmaPhase::WaitingForPowerCycle);
  r.station().tick();
  EXPECT_EQ(r.station().phase(), rma::RmaPhase::Idle);
  EXPECT_EQ(r.timeLeft, "");
  EXPECT_EQ(r.timerCalls, (std::vector<bool>{true, false}));
  ASSERT_GE(r.sim.ui.boxes.size(), 2u);
  EXPECT_EQ(r.sim.ui.boxes[r.sim.ui.boxes.size() - 2].text, "<<<<Time Out>>>>");
  EXPECT_NE(r.box.text().find("<<<<Time Out>>>>\r\n<<<< Error code 00280000: ulRMA_WAITRDY_FAIL >>>>\r\n"),
            std::string::npos);
}

// A drive that stays away is not back: the wait goes on until it returns.
TEST(RmaFlow, ADriveThatStaysAwayKeepsTheWaitGoing) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  ASSERT_EQ(r.enter(kSerial), rma::RunStart::Started);
  std::string e;
  ASSERT_TRUE(r.sim.bay->unplug(0, e)) << e;
  for (int i = 0; i < 5; ++i) r.station().tick();
  EXPECT_EQ(r.station().powerCycleState(), rma::PowerCycleState::RemovalSeen);
  EXPECT_EQ(r.station().secondsLeft(), 195u);
  ASSERT_TRUE(r.sim.bay->plug(0, e)) << e;
  r.station().tick();
  std::optional<RmaVerdict> v = r.station().lastVerdict();
  ASSERT_TRUE(v && v->passed) << r.box.text();
}

// Another drive of the station going and coming does not stand for the
// power cycle of the drive under test.
TEST(RmaFlow, AnotherDrivesPowerCycleIsNotTheOneAwaited) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  ASSERT_EQ(r.enter(kSerial), rma::RunStart::Started);
  std::string e;
  ASSERT_TRUE(r.sim.bay->powerCycle(1, e)) << e;
  for (int i = 0; i < 3; ++i) r.station().tick();
  EXPECT_EQ(r.station().powerCycleState(), rma::PowerCycleState::WaitingForRemoval);
  EXPECT_EQ(r.station().phase(), rma::RmaPhase::WaitingForPowerCycle);
}

// The drive keeps its RMA flag through a power cycle; the OBB check runs
// only while it is set.
TEST(RmaDrive, KeepsTheRmaFlagThroughAPowerCycle) {
  test::SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  EXPECT_FALSE(SendVendorCommand(sim.ctx(), 0xFB, 0));
  ASSERT_TRUE(ReadBufferSector(sim.ctx()));
  EXPECT_EQ(be32(sim.ctx().SectorBuffer.data()), 0xFB000001u);
  ASSERT_TRUE(SendVendorCommand(sim.ctx(), 0xB0, 1));
  std::string e;
  ASSERT_TRUE(sim.bay->powerCycle(0, e)) << e;
  EXPECT_TRUE(SendVendorCommand(sim.ctx(), 0xFB, 0));
  ASSERT_TRUE(SendVendorCommand(sim.ctx(), 0xB0, 0));
  EXPECT_FALSE(SendVendorCommand(sim.ctx(), 0xB0, 2));
  EXPECT_FALSE(SendVendorCommand(sim.ctx(), 0xFB, 0));
}

// The simulated bay's port, but the drive of slot 0 is pulled out just
// before the n-th ATA command reaches it.
class UnplugBeforeCommand : public DevicePort {
 public:
  UnplugBeforeCommand(DevicePort& inner, sim::SimBay& bay, int n) : inner_(inner), bay_(bay), left_(n) {}
  std::string_view name() const override { return inner_.name(); }
  std::string physicalDrivePath(int n) const override { return inner_.physicalDrivePath(n); }
  IoOutcome queryBusType(const std::string& path, uint8_t& bus) override {
    return inner_.queryBusType(path, bus);
  }
  IoOutcome probeExclusive(const std::string& path) override { return inner_.probeExclusive(path); }
  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& r) override {
    if (--left_ == 0) {
      std::string error;
      EXPECT_TRUE(bay_.unplug(0, error)) << error;
    }
    return inner_.ataPassThrough(path, r);
  }
  bool carriesAtaDataByte() const override { return inner_.carriesAtaDataByte(); }
  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& r) override {
    return inner_.scsiPassThrough(path, r);
  }
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& r) override {
    return inner_.submitQueued(path, slot, r);
  }
  SlotState pollSlot(int slot) override { return inner_.pollSlot(slot); }
  void drainQueue() override { inner_.drainQueue(); }
  std::unique_ptr<DeviceEventSource> watchDevices() override { return inner_.watchDevices(); }

 private:
  DevicePort& inner_;
  sim::SimBay& bay_;
  int left_;
};

// A drive pulled out in the middle of the first phase fails the step it was
// in, with that step's code, and the run ends with its line.
TEST(RmaFlow, ADrivePulledOutFailsTheStepItWasIn) {
  // Commands: IDENTIFY, 61h, 62h, F3h (write, read), B1h, 03h.
  const std::pair<int, uint32_t> cases[] = {{3, rma::ulRMA_SMARTErr},
                                            {4, rma::ulRMA_TSENSORErr},
                                            {5, rma::ulRMA_TSENSORErr},
                                            {6, rma::ulRMA_TBL2SPIErr},
                                            {7, rma::ulRMA_FENANDErr}};
  for (const auto& [n, code] : cases) {
    SCOPED_TRACE(n);
    StationRun r;
    ASSERT_TRUE(r.sim.ok()) << r.sim.error;
    UnplugBeforeCommand port(*r.sim.port, *r.sim.bay, n);
    r.sim.ctx().port = &port;
    std::optional<RmaVerdict> v = r.runThrough(kSerial, Operator::LeaveAttached);
    ASSERT_TRUE(v) << r.box.text();
    EXPECT_FALSE(v->passed);
    EXPECT_EQ(v->errorCode, code) << r.box.text();
    EXPECT_TRUE(v->report.written);
    EXPECT_EQ(r.station().phase(), rma::RmaPhase::Idle);
  }
}

}  // namespace
}  // namespace zorv::rmatest
