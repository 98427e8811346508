// The engineering window's maintenance commands on the simulated bay: the
// diagnostics trigger reaches the controller as 57h 01h, the SMART clean-up
// resets the counters, and a drive that refuses either is not reported as
// having taken it.

#include <gtest/gtest.h>

#include "diagnostics/smart.h"
#include "diagnostics/vendor_maintenance.h"
#include "sim/sim_bay.h"
#include "sim/sim_controller.h"
#include "sim/sim_drive.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

uint64_t triggersTaken(test::SimFixture& sim) {
  return sim.bay->controller(0)->withDrive([](sim::SimDrive& d) -> uint64_t {
    const nlohmann::json& v = d.vendorState();
    if (!v.contains("flash") || !v["flash"].contains("diagnosticTriggers")) return 0;
    return v["flash"]["diagnosticTriggers"].get<uint64_t>();
  });
}

TEST(VendorMaintenance, TriggerIsOneCommandSectorAndSaysWhetherItWasTaken) {
  test::SimFixture sim;
  ASSERT_TRUE(sim.ok()) << sim.error;
  EXPECT_TRUE(TriggerDiagnostic(sim.ctx()));
  EXPECT_EQ(sim.pane.take(), "Diagnostic Enable.......\n");
  EXPECT_EQ(triggersTaken(sim), 1u);
  // Written as the controller expects it: WRITE BUFFER, one sector, PIO.
  EXPECT_EQ(sim.ctx().CmdBlock.ucCommand, 0xE8);
  EXPECT_EQ(sim.ctx().CmdBlock.ucCount, 1);
  EXPECT_EQ(sim.ctx().SectorBuffer.data()[8], 0x57);
  EXPECT_EQ(sim.ctx().SectorBuffer.data()[9], 0x01);

  std::string error;
  ASSERT_TRUE(sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0xE8}, error)) << error;
  EXPECT_FALSE(TriggerDiagnostic(sim.ctx()));
  EXPECT_NE(sim.pane.take().find("Command Fail\n"), std::string::npos);
  EXPECT_EQ(triggersTaken(sim), 1u);
}

TEST(VendorMaintenance, CleanSmartResetsTheCountersOrSaysItFailed) {
  test::SimFixture sim;
  ASSERT_TRUE(sim.ok()) << sim.error;
  auto powerOnHours = [&] {
    EXPECT_TRUE(SmartReadData(sim.ctx()));
    for (const SmartAttribute& a : ParseSmartAttributes(std::span<const uint8_t>(sim.ctx().SectorBuffer.data(), 512)))
      if (a.id == 9) return a.raw;
    return uint64_t{~0ull};
  };
  ASSERT_GT(powerOnHours(), 0u);
  std::string error;
  ASSERT_TRUE(sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0xE8}, error)) << error;
  sim.pane.clear();
  EXPECT_FALSE(CleanSmart(sim.ctx()));
  std::string failed = sim.pane.take();
  EXPECT_NE(failed.find("SMART Clean Fail\r\n"), std::string::npos) << failed;
  EXPECT_EQ(failed.find("SMART Clean Good"), std::string::npos) << failed;
  EXPECT_GT(powerOnHours(), 0u);

  sim.pane.clear();
  EXPECT_TRUE(CleanSmart(sim.ctx()));
  EXPECT_EQ(sim.pane.take(), "SMART Clean Good\r\nPlease remove drive, then plug again\r\n");
  EXPECT_EQ(powerOnHours(), 0u);
}

TEST(VendorMaintenance, NothingIsSentWithoutADrive) {
  test::SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  EXPECT_FALSE(TriggerDiagnostic(sim.ctx()));
  EXPECT_FALSE(CleanSmart(sim.ctx()));
  EXPECT_EQ(sim.pane.text(), "No drive is selected\nNo drive is selected\n");
}

}  // namespace
}  // namespace zorv
