#pragma once
// Tests on the simulated drive bay: a bay in a fresh temporary directory
// (removed at the end), a ManualClock so that NOT READY periods, restarts and
// latencies are deterministic, a port on it and a Context with a chosen drive
// selected as enumeration would leave it.
//
//   test::SimFixture sim;            // default bay, drive of slot 0 selected
//   ASSERT_TRUE(sim.ok()) << sim.error;
//   SendAtaCommand(sim.ctx(), false, tf, false, 512);
//   sim.bay->addFault(0, fault, error);
//   sim.select(1);                   // the USB drive of the default bay
//
// Default bay: slot 0 "ORBENNE PA256 SSD" (class 0, SATA), slot 1
// "ORBENNE TA512 SSD" (class 1, USB), slot 2 a foreign SATA drive.

#include <filesystem>
#include <memory>
#include <string>

#include "sim/sim_bay.h"
#include "support/test_support.h"
#include "transport/context.h"

namespace zorv::test {

// A fresh, empty temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Fills a drive table entry from the drive in a bay slot the way enumeration
// does (model text without spaces, known model and class, bus type, path
// "sim:n", capacity). False when the slot holds no plugged drive.
bool describeSimDrive(sim::SimBay& bay, int slot, DriveEntry& entry);

class SimFixture {
 public:
  // A default bay; selects the drive of `slot` (-1: none).
  explicit SimFixture(int slot = 0);
  // A bay built from `bay` instead of the default one.
  SimFixture(const sim::BayRecord& bay, int slot);

  bool ok() const { return bay != nullptr; }
  Context& ctx() { return *context; }

  // Empties the drive table and selects the drive in slot as its only entry.
  bool select(int slot);
  // Appends the drive in slot to the drive table and selects it.
  bool add(int slot);

  ManualClock clock;
  TempDir dir;
  std::string error;
  std::shared_ptr<sim::SimBay> bay;
  std::unique_ptr<DevicePort> port;
  RecordingUi ui;
  StringSink pane;
  std::unique_ptr<Context> context;

 private:
  void init(int slot);
};

}  // namespace zorv::test
