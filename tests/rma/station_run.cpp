#include "rma/station_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/sim_drive.h"

namespace zorv::rmatest {

StationRun::StationRun(char variant, std::string ownPath, int driveSlot) : sim(driveSlot), slot(driveSlot) {
  options.variant = variant;
  options.ownPath = std::move(ownPath);
  options.reportDirectory = sim.dir.path();
  // The table of runs writes 1 MiB; the whole range has a test of its own.
  options.range.totalLength = 0x800;
  hooks.timer = [this](bool on) { timerCalls.push_back(on); };
  hooks.timeLeft = [this](std::string_view text) { timeLeft = std::string(text); };
}

rma::RmaStation& StationRun::station() {
  if (!station_) {
    station_ = std::make_unique<rma::RmaStation>(sim.ctx(), box, options, hooks);
    station_->open();
  }
  return *station_;
}

std::optional<rma::RmaVerdict> StationRun::runThrough(const std::string& serial, Operator who) {
  std::string error;
  if (enter(serial) != rma::RunStart::Started) return std::nullopt;
  bool acted = false;
  // At most the time allowed and a tick to spare: the wait always ends.
  for (int i = 0; i <= 70000 && station().phase() == rma::RmaPhase::WaitingForPowerCycle; ++i) {
    if (!acted) {
      acted = true;
      switch (who) {
        case Operator::PowerCycle:
          // Off and on between two ticks: only hot plug tells the station.
          EXPECT_TRUE(sim.bay->powerCycle(slot, error)) << error;
          break;
        case Operator::UnplugThenPlug:
          EXPECT_TRUE(sim.bay->unplug(slot, error)) << error;
          station().tick();
          ++ticks;
          EXPECT_TRUE(sim.bay->plug(slot, error)) << error;
          break;
        case Operator::SwapDrive: {
          EXPECT_TRUE(sim.bay->unplug(slot, error)) << error;
          station().tick();
          ++ticks;
          sim::DriveRecord other = sim::familyDrive(0, sim::SimBus::Sata, 77);
          other.identity.serial = "OB2310A00999";
          EXPECT_TRUE(sim.bay->plug(slot, other, error)) << error;
          break;
        }
        case Operator::LeaveAttached: break;
      }
    }
    station().tick();
    ++ticks;
  }
  return station().lastVerdict();
}

void StationRun::onDrive(const std::function<void(sim::SimDrive&)>& f) {
  auto controller = sim.bay->controller(slot);
  ASSERT_TRUE(controller);
  controller->withDrive(f);
}

std::string StationRun::reportPath() const {
  return (std::filesystem::path(sim.dir.path()) / rma::reportFileName(const_cast<ManualClock&>(sim.clock).utcTime()))
      .string();
}

std::string StationRun::report() const {
  std::ifstream in(reportPath(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace zorv::rmatest
