// zorvctl run as its own process (posix_spawn): POSIX systems only.
#ifndef _WIN32

// zorvctl rma, fw rma-variant and sim power-cycle: the station headless on
// a bay, with a person (here: another thread, or another process) power
// cycling the drive while it waits.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/session.h"
#include "rma/rma_report.h"
#include "sim/sim_bay.h"
#include "sim/sim_drive.h"
#include "support/sim_fixture.h"

extern char** environ;

namespace zorv {
namespace {

namespace fs = std::filesystem;

const std::string kZorvctl = std::string(ZORV_BINARY_DIR) + "/src/cli/zorvctl";

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

Ran zorvctl(std::vector<std::string> args) {
  args.insert(args.begin(), "zorvctl");
  std::vector<const char*> v;
  for (const std::string& a : args) v.push_back(a.c_str());
  std::ostringstream out, err;
  Ran r;
  r.status = cli::runZorvctl(static_cast<int>(v.size()), v.data(), out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Another program, as its own process, output to files.
Ran runProgram(const test::TempDir& dir, const std::vector<std::string>& argv) {
  Ran r;
  const std::string out = dir.file("stdout"), err = dir.file("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int rc = 0;
  if (spawned != 0 || ::waitpid(pid, &rc, 0) != pid) return r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

struct Station {
  Station() {
    bay = dir.file("bay");
    EXPECT_EQ(zorvctl({"sim", "create", bay}).status, 0);
  }
  std::vector<std::string> rma(std::vector<std::string> more) {
    std::vector<std::string> a = {"--sim", bay, "--drive", "0", "rma", "--report-dir", dir.path()};
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  std::string reportPath() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return dir.file(rma::reportFileName(utc));
  }
  test::TempDir dir;
  std::string bay;
};

constexpr const char* kPassLine =
    "ORBENNEPA256SSD,OB2310A00417,Pass,Pass,Pass,Pass,Remain,Pass,Pass,Pass,Pass,Pass,\r\n";

// A person power cycles the drive once the station asks for it (the drive
// has been through Preb2 then); the station sees it through hot plug.
TEST(RmaCommand, PassesWhenTheDriveIsPowerCycled) {
  Station s;
  std::string error;
  auto bay = sim::SimBay::open(s.bay, error);
  ASSERT_TRUE(bay) << error;
  std::thread person([&] {
    for (int i = 0; i < 3000; ++i) {
      sim::BayRecord now;
      std::string e;
      bool asked = bay->snapshot(now, e) && now.slots[0].drive &&
                   now.slots[0].drive->vendor.contains("rma") &&
                   now.slots[0].drive->vendor["rma"].value("preb2", 0) == 1;
      if (asked) {
        EXPECT_TRUE(bay->powerCycle(0, e)) << e;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  Ran r = zorvctl(s.rma({"--serial", "ob2310a00417", "--time-interval", "30"}));
  person.join();
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("<<<<Please Power Down Drive then Plug Again>>>>\r\n"), std::string::npos) << r.out;
  EXPECT_NE(
      r.out.find(
          "Check Device Ready\r\nSet RMA Flag\r\nCheck VC OBB\r\nClean RMA Flag\r\nTesting Read/Write\r\n"),
      std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Testing Pass\r\n"), std::string::npos);
  EXPECT_NE(r.err.find("box(information): Pass"), std::string::npos) << r.err;
  EXPECT_EQ(slurp(s.reportPath()), rma::reportHeader() + kPassLine);
}

TEST(RmaCommand, ATimeOutFailsWithItsCodeAndLine) {
  Station s;
  Ran r = zorvctl(s.rma({"--serial", "OB2310A00417", "--time-interval", "1"}));
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("Time Left: 0 min, 0 sec\r\n<<<<Time Out>>>>\r\n<<<< Error code 00280000: "
                       "ulRMA_WAITRDY_FAIL >>>>\r\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("zorvctl: RMA failed: error code 00280000\n"), std::string::npos) << r.err;
  EXPECT_EQ(slurp(s.reportPath()),
            rma::reportHeader() + "ORBENNEPA256SSD,OB2310A00417,Pass,Pass,Pass,Pass,Remain,Fail\r\n");
}

TEST(RmaCommand, AFailedStepEndsAtOnceWithItsCode) {
  Station s;
  ASSERT_EQ(zorvctl({"--sim", s.bay, "sim", "fault", "0", "temperature", "4"}).status, 0);
  Ran r = zorvctl(s.rma({"--serial", "OB2310A00417"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Current Temp 4\r\n<<<< Error code 00281000: ulRMA_TSENSORErr >>>>\r\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(slurp(s.reportPath()),
            rma::reportHeader() + "ORBENNEPA256SSD,OB2310A00417,Pass,Current Temp 4 Fail\r\n");
}

TEST(RmaCommand, RefusesWhatNoDriveCanBe) {
  Station s;
  for (std::vector<std::string> bad :
       {std::vector<std::string>{"--serial", "OB2310A0041\xC3\xA9"},
        std::vector<std::string>{"--serial", "OB2310A00417", "--time-interval", "0"}}) {
    Ran r = zorvctl(s.rma(bad));
    EXPECT_EQ(r.status, 2) << r.out << r.err;
  }
  Ran r = zorvctl(s.rma({"--serial", "OB2310A0041"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("differs in length"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(s.reportPath()));
}

TEST(SimCommand, PowerCycleAndTheStationsFaults) {
  Station s;
  Ran r = zorvctl({"--sim", s.bay, "sim", "power-cycle", "0", "--off-seconds", "0"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Slot 0: power cycled\n");
  r = zorvctl({"--sim", s.bay, "sim", "power-cycle", "0", "--off-seconds", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Slot 0: power off for 1 s\nSlot 0: power on\n");
  EXPECT_EQ(zorvctl({"--sim", s.bay, "sim", "power-cycle", "5"}).status, 1);
  EXPECT_EQ(zorvctl({"--sim", s.bay, "sim", "power-cycle", "9"}).status, 2);

  r = zorvctl({"--sim", s.bay, "sim", "fault", "0", "obb-error", "00a1023c"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Slot 0: OBB check fails with 00A1023C\n");
  EXPECT_EQ(zorvctl({"--sim", s.bay, "sim", "fault", "0", "obb-error", "00a102"}).status, 2);
  r = zorvctl({"--sim", s.bay, "sim", "fault", "0", "vendor", "B1", "--count", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Slot 0: vendor code B1h refused 2 time(s)\n");
  EXPECT_EQ(zorvctl({"--sim", s.bay, "sim", "fault", "2", "vendor", "B1"}).status, 1);  // a foreign drive
  EXPECT_EQ(zorvctl({"--sim", s.bay, "sim", "fault", "0", "clear"}).status, 0);
  std::string error;
  auto bay = sim::SimBay::open(s.bay, error);
  ASSERT_TRUE(bay) << error;
  EXPECT_FALSE(bay->controller(0)->withDrive(
      [](sim::SimDrive& d) { return d.vendorState()["rma"].contains("rejects"); }));
}

// The letter lives in the program's own bytes: a copy with 'B' runs the
// firmware step from the package appended to it.
TEST(RmaVariant, ACopyWithBUpdatesTheFirmware) {
  Station s;
  const std::string copyB = s.dir.file("station B");
  Ran r = zorvctl({"fw", "rma-variant", kZorvctl, copyB, "--letter", "B"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Set RMA Variant Done\r\n");
  std::string original = slurp(kZorvctl), copy = slurp(copyB);
  ASSERT_EQ(original.size(), copy.size());
  size_t differences = 0;
  for (size_t i = 0; i < copy.size(); ++i) differences += original[i] != copy[i];
  EXPECT_EQ(differences, 1u);
  EXPECT_NE(copy.find(std::string("FALLOW") + "MEREB"), std::string::npos);
  EXPECT_EQ(zorvctl({"fw", "rma-variant", kZorvctl, s.dir.file("x"), "--letter", "b"}).status, 2);
  EXPECT_EQ(zorvctl({"fw", "rma-variant", s.dir.file("missing"), s.dir.file("x"), "--letter", "B"}).status,
            2);

  const std::string package = s.dir.file("demo.qz"), updater = s.dir.file("station B with package");
  ASSERT_EQ(zorvctl({"--sim", s.bay, "fw", "demo-package", package}).status, 0);
  ASSERT_EQ(zorvctl({"fw", "append-qz", copyB, package, updater}).status, 0);
  r = runProgram(s.dir, {updater, "--sim", s.bay, "--drive", "0", "rma", "--serial", "OB2310A00417",
                         "--report-dir", s.dir.path(), "--time-interval", "1"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;  // nobody power cycles the drive
  EXPECT_NE(r.out.find("Update FW, Please Wait.........\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Update FW Success\r\n<<<<Please Remove Drive then Plug Again>>>>\r\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(slurp(s.reportPath()),
            rma::reportHeader() + "ORBENNEPA256SSD,OB2310A00417,Pass,Pass,Pass,Pass,Updated,Fail\r\n");

  // The program as built leaves the firmware alone.
  r = zorvctl(s.rma({"--serial", "OB2310A00417", "--time-interval", "1"}));
  EXPECT_EQ(r.out.find("Update FW"), std::string::npos);
}

}  // namespace
}  // namespace zorv

#endif
