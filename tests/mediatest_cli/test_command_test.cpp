// zorvctl test on a simulated bay: the lines on stdout, the summary, the
// exit status of passed, failed, stopped and refused runs.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/session.h"
#include "support/interrupting_buffer.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Result {
  int code;
  std::string out;
  std::string err;
};

class TestCommand : public ::testing::Test {
 protected:
  std::vector<const char*> argv(std::vector<std::string>& all, const std::vector<std::string>& args) {
    all = {"zorvctl", "--sim", bay()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> v;
    for (const std::string& a : all) v.push_back(a.c_str());
    return v;
  }
  Result run(const std::vector<std::string>& args) {
    std::vector<std::string> all;
    std::vector<const char*> v = argv(all, args);
    std::ostringstream out, err;
    int code = cli::runZorvctl(static_cast<int>(v.size()), v.data(), out, err);
    return {code, out.str(), err.str()};
  }
  std::string bay() const { return (fs::path(tmp.path()) / "a bay").string(); }

  test::TempDir tmp;
};

TEST_F(TestCommand, SequentialReadPrintsTheWindowsLinesAndPasses) {
  Result r = run({"--drive", "0", "test", "seq-read", "--elba", "0x400", "--length", "4", "--no-ncq"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 38), "--->       Sequential Read       <---\n");
  EXPECT_NE(r.out.find("0x     400(  1024), "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Average Xfer Rate "), std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.size() - 44), "Test Complete\n*************************\n\r\n\r\n");
}

TEST_F(TestCommand, JsonSummaryOfAWriteTestAndItsFailureOnADamagedDrive) {
  Result r = run({"--drive", "0", "test", "rnd-write", "--slba", "1000", "--elba", "2000", "--loop", "4", "--seed", "5",
                  "--json"});
  ASSERT_EQ(r.code, 0) << r.err << r.out;
  json j = json::parse(r.out);
  EXPECT_EQ(j["test"], "rnd-write");
  EXPECT_EQ(j["verdict"], "passed");
  EXPECT_EQ(j["drive"], 0);
  EXPECT_EQ(j["writes"], 4);
  EXPECT_EQ(j["compares"], 4) << "write tests verify by default";
  EXPECT_EQ(j["parameters"]["elba"], 0x2000);
  EXPECT_NE(j["pane"].get<std::string>().find("Compare Check Sum Success"), std::string::npos);

  ASSERT_EQ(run({"sim", "fault", "0", "damage", "--lba", "0x1000", "--blocks", "0x1000"}).code, 0);
  r = run({"--drive", "0", "test", "rnd-write", "--slba", "1000", "--elba", "2000", "--loop", "4", "--seed", "5",
           "--json"});
  EXPECT_EQ(r.code, 1);
  j = json::parse(r.out);
  EXPECT_EQ(j["verdict"], "failed");
  EXPECT_EQ(j["errors"]["compare"], 1);
  EXPECT_NE(r.err.find("box(information): Error LBA 0x"), std::string::npos) << r.err;

  r = run({"--drive", "0", "test", "rnd-write", "--slba", "1000", "--elba", "2000", "--loop", "4", "--no-verify"});
  EXPECT_EQ(r.code, 0) << "without read-back the damage goes unseen";
}

TEST_F(TestCommand, ReadErrorsFoundByTheSequentialRead) {
  ASSERT_EQ(run({"sim", "fault", "1", "read-error", "--lba", "0x200", "--blocks", "4"}).code, 0);
  Result r = run({"--drive", "1", "test", "seq-read", "--elba", "400", "--length", "8", "--max-err", "1"});
  EXPECT_EQ(r.code, 0) << "one failure is within --max-err 1";
  EXPECT_NE(r.out.find("Read Failed! 0x200. ErrCnt 1\n"), std::string::npos) << r.out;
  r = run({"--drive", "1", "test", "seq-read", "--elba", "400", "--length", "8"});
  EXPECT_EQ(r.code, 1);
}

TEST_F(TestCommand, SlowRandomReadsOfTheLatencyModelFailTheTimeLimit) {
  Result set = run({"sim", "fault", "0", "latency", "0,0,3000,2000"});
  ASSERT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(set.out, "Slot 0: latency 0 us per command, 0 us per MiB, 3000 us per random read, jitter up to 2000 us\n");
  Result r = run({"--drive", "0", "test", "rnd-access", "--elba", "100000", "--loop", "20", "--max-time", "2",
                  "--max-err", "20", "--no-ncq", "--json"});
  EXPECT_EQ(r.code, 0) << r.err;
  json j = json::parse(r.out);
  EXPECT_EQ(j["errors"]["overTime"], 20) << "every random read takes 3 ms or more";
  EXPECT_GE(j["accessMs"]["min"].get<double>(), 3.0);
  r = run({"--drive", "0", "test", "rnd-access", "--elba", "100000", "--loop", "20", "--max-time", "2", "--no-ncq"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("Too many error\n"), std::string::npos);
  EXPECT_EQ(run({"sim", "fault", "0", "latency", "fast,1"}).code, 2);
}

TEST_F(TestCommand, CtrlCStopsTheRunWhichPrintsStop) {
  std::vector<std::string> all;
  std::vector<const char*> v =
      argv(all, {"--drive", "0", "test", "seq-read", "--elba", "100", "--length", "2", "--loop", "1000000"});
  test::InterruptingBuffer buffer("[Lap   3/");
  std::ostream out(&buffer);
  std::ostringstream err;
  int code = cli::runZorvctl(static_cast<int>(v.size()), v.data(), out, err);
  EXPECT_EQ(code, 1);
  std::string text = buffer.str();
  EXPECT_NE(text.find("STOP!\n"), std::string::npos) << text.substr(0, 2000);
  EXPECT_EQ(text.find("[Lap   4/"), std::string::npos) << "the lap that was running ended the run";
  EXPECT_EQ(text.find("Test Complete"), std::string::npos);
  // The handler is gone with the run.
#ifdef _WIN32
  auto now = std::signal(SIGINT, SIG_DFL);
  EXPECT_EQ(now, SIG_DFL);
#else
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
#endif
}

TEST_F(TestCommand, RefusedInputAndDrivesExitWithUsage) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"test", "seq-write", "--slba", "100", "--elba", "100"}, "Invalid parameter. (StartLBA > EndLBA)"},
      {{"test", "seq-read", "--elba", "100"}, "Length: at least 1 read command per measured group"},
      {{"test", "rnd-write", "--blks", "0"}, "Blks: at least 1 block per command"},
      {{"test", "rnd-write", "--blks", "10000"}, "--blks holds at most 4 characters: 10000"},
      {{"test", "rnd-access", "--slba", "xyz"}, "SLBA: \"xyz\" is not a hexadecimal number"},
      {{"test", "seq-scan"}, "test: seq-read, rnd-access, seq-write or rnd-write"},
      {{"--skip-model-check", "--drive", "2", "test", "rnd-write"}, "It's not SSD disk"},
  };
  for (const Case& c : cases) {
    Result r = run(c.args);
    EXPECT_EQ(r.code, 2) << c.message;
    EXPECT_NE(r.err.find(std::string("zorvctl: ") + c.message + "\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Test Complete"), std::string::npos);
  }
  // A drive with a mounted file system is never written raw.
  std::ofstream(fs::path(bay()) / "mountinfo") << "36 25 8:1 / /media/my\\040disk rw - ext4 /dev/sda1 rw\n";
  Result r = run({"--drive", "0", "test", "seq-write", "--elba", "1000"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Physical Drive 0 holds mounted file systems (/media/my disk)"), std::string::npos) << r.err;
  EXPECT_EQ(run({"--drive", "0", "test", "rnd-access", "--elba", "1000", "--loop", "5"}).code, 0)
      << "reading it is fine";
}

}  // namespace
}  // namespace zorv
