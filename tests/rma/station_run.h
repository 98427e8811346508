#pragma once
// One station on a fresh default bay, with the drive of slot 0
// ("ORBENNE PA256 SSD", serial OB2310A00417; or the USB drive of slot 1) selected, its report going to
// the bay's temporary directory and its timer, "Time Left" box and worker
// recorded. runThrough() plays the operator: enters the serial number, power
// cycles the drive when asked and ticks the timer until the run has ended.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rma/rma_station.h"
#include "support/sim_fixture.h"

namespace zorv::rmatest {

inline constexpr const char* kSerial = "OB2310A00417";

// What the operator does when the station asks for the power cycle.
enum class Operator { PowerCycle, UnplugThenPlug, LeaveAttached, SwapDrive };

struct StationRun {
  explicit StationRun(char variant = 'A', std::string ownPath = {}, int driveSlot = 0);

  // The station, made on first use with the options as they are then.
  rma::RmaStation& station();
  rma::RunStart enter(const std::string& serial) { return station().runRma(serial); }
  // Enters serial, then ticks (acting as `who` while the station waits) until
  // the run has ended; the verdict, if it reached one.
  std::optional<rma::RmaVerdict> runThrough(const std::string& serial, Operator who = Operator::PowerCycle);
  // Calls f with the drive under test.
  void onDrive(const std::function<void(sim::SimDrive&)>& f);
  std::string reportPath() const;
  std::string report() const;  // the report file's text ("" when missing)

  test::SimFixture sim;
  StringSink box;
  rma::RmaStationOptions options;
  rma::RmaStationHooks hooks;
  std::vector<bool> timerCalls;
  std::string timeLeft;
  int ticks = 0;
  int slot = 0;  // the drive under test

 private:
  std::unique_ptr<rma::RmaStation> station_;
};

}  // namespace zorv::rmatest
