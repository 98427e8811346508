// zorvctl workload run and report show on a simulated bay of two small
// family drives: the drives' lines and verdicts, the exit status of passed,
// failed, stopped and refused runs, and the viewer's lines and picture.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "cli/session.h"
#include "sim/bay_store.h"
#include "sim/sim_bay.h"
#include "support/interrupting_buffer.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

struct Result {
  int code;
  std::string out;
  std::string err;
};

std::string example(const std::string& name) { return std::string(ZORV_SOURCE_DIR) + "/examples/workload/" + name; }

class WorkloadCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::BayRecord record = sim::SimBay::defaultBay();
    record.slots[0].drive->identity.capacity = 0x20000;
    record.slots[1].drive->identity.capacity = 0x20000;
    std::string error;
    ASSERT_TRUE(sim::BayStore::create(bay(), record, error)) << error;
  }
  Result run(const std::vector<std::string>& args, std::ostream* outStream = nullptr) {
    std::vector<std::string> all = {"zorvctl", "--sim", bay()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> v;
    for (const std::string& a : all) v.push_back(a.c_str());
    std::ostringstream out, err;
    int code = cli::runZorvctl(static_cast<int>(v.size()), v.data(), outStream ? *outStream : out, err);
    return {code, out.str(), err.str()};
  }
  std::string bay() const { return (fs::path(tmp.path()) / "a bay").string(); }
  uint64_t sectorsWritten(int slot) {
    std::string error;
    auto b = sim::SimBay::open(bay(), error);
    sim::BayRecord record;
    if (!b || !b->snapshot(record, error)) return ~uint64_t{0};
    return record.slots[static_cast<size_t>(slot)].drive->counters.sectorsWritten;
  }

  test::TempDir tmp;
};

TEST_F(WorkloadCommand, EveryDriveRunsAndADamagedOneFailsAlone) {
  Result r = run({"workload", "run", "--drive", "0,1", "--sc1", example("define.sc1"), "--seed", "4"});
  EXPECT_EQ(r.code, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("[drive 0] Multi-Run SubWindow Done\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[drive 1] Multi-Run SubWindow Done\r\n"), std::string::npos) << r.out;

  ASSERT_EQ(run({"sim", "fault", "1", "corrupt", "--lba", "0x5000", "--blocks", "1"}).code, 0);
  r = run({"workload", "run", "--drive", "0,1", "--sc1", example("define.sc1")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("[drive 0] Multi-Run SubWindow Done\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[drive 1] Check Error @ Multi-Run SubWindow\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[drive 1] Error LBA is : 0000000000005000\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[drive 1] Multi-Run SubWindow Error\r\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("[drive 0] Check Error"), std::string::npos);
}

TEST_F(WorkloadCommand, RefusedInputWritesNothing) {
  const std::string bad = (fs::path(tmp.path()) / "bad script.sc1").string();
  std::ofstream(bad) << "Start LBA: 1000\nEnd LBA: 9000\nFile Size: 64KB\nTotal Write Capacity: 100\n"
                        "Sequence: TRUE\nNeed Read Back: TRUE\nLength Random: FALSE\n";
  const std::string beyond = (fs::path(tmp.path()) / "beyond.sc2").string();
  std::ofstream(beyond) << "Range Size: 20001\nTotal Write Capacity: 100\nFile Size: 4KB\nSequence: TRUE\n"
                           "Need Read Back: FALSE\n";
  const std::string tooMuch = (fs::path(tmp.path()) / "too much.txt").string();
  std::ofstream(tooMuch) << "Need Read Back: TRUE\nLen 512 : 70%\nLen 4096 : 40%\nGap 100% : 100%\nLoop      : 1\n";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--drive", "0", "--sc1", bad}, "The script key \"File Size:\" is missing or out of order"},
      {{"--drive", "0", "--sc2", beyond}, "Range Size 0x20001 lies beyond the drive (0x20000 sectors)"},
      {{"--drive", "0", "--jesd", tooMuch}, "The \"Len\" shares sum to 110 %, more than 100 %"},
      {{"--drive", "0", "--sc1", example("missing.sc1")}, "Open Script File fail"},
      {{"--drive", "2", "--sc1", example("define.sc1")}, "Physical Drive 2 is not a drive of the family"},
      {{"--drive", "0", "--rdnsq", "--seq", "60", "--rnd", "41"}, "--rnd lies between 0 and 40"},
      {{"--drive", "0", "--rdnsq", "--time", "0:00"}, "--time takes HH:MM"},
      {{"--drive", "0", "--rdnsq", "--seq", "0", "--rnd", "0", "--time", "1:00"},
       "The sequential and random areas are empty: nothing to run"},
      {{"--drive", "0", "--sc1", example("define.sc1"), "--loop", "2"}, "--seq, --rnd, --rsv-fill, --loop and --time"},
      {{"--drive", "0"}, "choose one workload"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"workload", "run"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Result r = run(args);
    EXPECT_EQ(r.code, 2) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Multi-Run SubWindow"), std::string::npos) << "no window started";
  }
  EXPECT_EQ(sectorsWritten(0), 0u);
}

TEST_F(WorkloadCommand, CtrlCStopsEveryDrive) {
  test::InterruptingBuffer buffer("Step ");
  std::ostream out(&buffer);
  Result r = run({"workload", "run", "--drive", "0,1", "--rdnsq", "--time", "0:01"}, &out);
  const std::string text = buffer.str();
  EXPECT_EQ(r.code, 1);
  for (const char* line : {"[drive 0] Stopped\r\n", "[drive 0] Multi-Run SubWindow Error\r\n", "[drive 1] Stopped\r\n",
                           "[drive 1] Multi-Run SubWindow Error\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  EXPECT_NE(text.find("[drive 1] MAX_LBA: 00000001FFFF\r\n"), std::string::npos) << "the state once a second";
}

TEST_F(WorkloadCommand, ReportShowPrintsTheViewersLinesAndDrawsTheChart) {
  Result r = run({"workload", "run", "--drive", "1", "--sc2", example("capacity.sc2"), "--report-dir", tmp.path()});
  ASSERT_EQ(r.code, 0) << r.err << r.out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("Speed report: (.*PhyWrRpt_[^\n]*\\.csv)\n"))) << r.out;
  const std::string report = m[1];
  const std::string png = (fs::path(tmp.path()) / "speed chart.png").string();
  r = run({"report", "show", report, "--png", png});
  EXPECT_EQ(r.out.rfind("cnt: 2\r\nTime:Time Pcnt:LBA,Speed(MB/S)\r\nTime:0:0:0 LBA:0x", 0), 0u) << r.out;
#ifdef ZORV_CLI_CHARTS
  EXPECT_EQ(r.code, 0) << r.err;
  std::ifstream in(png, std::ios::binary);
  char magic[8] = {};
  in.read(magic, 8);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
#else
  EXPECT_EQ(r.code, 2) << "built without Qt, --png is refused";
#endif

  r = run({"report", "show", (fs::path(tmp.path()) / "none.csv").string()});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Cannot open the speed report"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace zorv
