// zorvctl volume on a bay whose family drive carries a mounted ext4 (its
// media a loop device). Needs root and loop devices; skipped without them.

#include <gtest/gtest.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/session.h"
#include "sim/bay_store.h"
#include "sim/sim_bay.h"
#include "support/loop_volume.h"
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

class VolumeCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!volume.ok()) GTEST_SKIP() << volume.skipReason;
    sim::BayRecord record = sim::SimBay::defaultBay();
    sim::DriveRecord& d = *record.slots[0].drive;
    d.media.kind = sim::MediaKind::File;
    d.media.path = volume.device();
    d.identity.capacity = volume.bytes() / 512;
    d.latency = sim::LatencyModel{};
    std::string error;
    ASSERT_TRUE(sim::BayStore::create(bay(), record, error)) << error;
  }
  Result run(const std::vector<std::string>& args, const std::string& interruptAfter = "\x01never") {
    std::vector<std::string> all = {"zorvctl", "--sim", bay()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> v;
    for (const std::string& a : all) v.push_back(a.c_str());
    test::InterruptingBuffer outBuffer(interruptAfter);
    std::ostream out(&outBuffer);
    std::ostringstream err;
    int code = cli::runZorvctl(static_cast<int>(v.size()), v.data(), out, err);
    return {code, outBuffer.str(), err.str()};
  }
  std::string bay() const { return tmp.file("a bay"); }
  std::string script(const std::string& text) {
    const std::string path = tmp.file("script " + std::to_string(++scripts) + ".sc3");
    std::ofstream(path) << text;
    return path;
  }
  std::string mount() const { return volume.mountPoint(); }

  test::LoopVolume volume{64 << 20};
  test::TempDir tmp;
  int scripts = 0;
};

TEST_F(VolumeCommand, ListShowsTheVolumeOfTheFamilyDrive) {
  Result r = run({"volume", "list"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\nDevice ID\tSerial Num\tPhyDrv\tCap(G)\tVol\tResidual(B)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\t0\t0\t" + mount() + "\t"), std::string::npos) << r.out;
}

TEST_F(VolumeCommand, TestRunsTheScriptAndPasses) {
  Result r = run({"volume", "test", "--script",
                  script("Range Size: 4 MB\r\nTotal Write Capacity: 1 MB\r\nFile Size: 32 KB\r\nSequence: true\r\n"),
                  "--volume", mount() + "/"});
  EXPECT_EQ(r.code, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("Type: 1\r\nDisk " + mount() + ":\r\nRangeSize: 0x400000 BYTE\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[" + mount() + "] Throughput: 4 MB \r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[" + mount() + "] Job done. " + mount() + "\r\n"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(mount() + "/test/test.bin"));
  // The next run starts by deleting what this one left.
  r = run({"volume", "list"});
  EXPECT_NE(r.out.find("Delete " + mount() + "/test/test.bin\r\n"), std::string::npos) << r.out;
}

TEST_F(VolumeCommand, EveryVolumeRunsAtOnceAndEachIsReported) {
  // A second volume, on the family's USB drive of slot 1.
  test::LoopVolume second(64 << 20);
  if (!second.ok()) GTEST_SKIP() << second.skipReason;
  sim::BayRecord record = sim::SimBay::defaultBay();
  for (auto [slot, vol] : {std::pair{0, &volume}, std::pair{1, &second}}) {
    sim::DriveRecord& d = *record.slots[static_cast<size_t>(slot)].drive;
    d.media.kind = sim::MediaKind::File;
    d.media.path = vol->device();
    d.identity.capacity = vol->bytes() / 512;
    d.latency = sim::LatencyModel{};
  }
  std::string error;
  fs::remove_all(bay());
  ASSERT_TRUE(sim::BayStore::create(bay(), record, error)) << error;
  Result r = run({"volume", "test", "--script",
                  script("Range Size: 4 MB\r\nTotal Write Capacity: 1 MB\r\nFile Size: 32 KB\r\nSequence: false\r\n")});
  EXPECT_EQ(r.code, 0) << r.err << r.out;
  for (const std::string& m : {mount(), second.mountPoint()}) {
    EXPECT_NE(r.out.find("Disk " + m + ":\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[" + m + "] Job done. " + m + "\r\n"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(m + "/test/test.bin"));
  }
}

TEST_F(VolumeCommand, CtrlCStopsTheWindowsWhichEndTheirTransfersAndSaySo) {
  // Far more than a second of work even on a fast machine (the loop device
  // writes into the page cache), so the stop arrives with transfers to end.
  const std::string big = script("Range Size: 40 MB\nTotal Write Capacity: 200 GB\nFile Size: 1 MB\nSequence: true\n");
  Result r = run({"volume", "test", "--script", big}, "% ");
  EXPECT_EQ(r.code, 1) << r.err << r.out;
  EXPECT_NE(r.out.find("[" + mount() + "] Throughput: "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Error Occurs"), std::string::npos) << r.out;
}

TEST_F(VolumeCommand, UnusableInputStartsNothing) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--script", script("Sequence: true\n")}, "neither"},
      {{"--script", tmp.file("none.sc3")}, "Open Script File fail"},
      {{"--script", script("Range Size: 1 GB\nTotal Write Capacity: 1 MB\nFile Size: 64 KB\nSequence: true\n")},
       "free"},
      {{"--script", script("Range Size: 4 MB\nTotal Write Capacity: 1 MB\nFile Size: 64 KB\nSequence: true\n"),
        "--volume", tmp.path()},
       "not a mounted volume on a drive of the family"},
  };
  for (Case& c : cases) {
    std::vector<std::string> args = {"volume", "test"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Result r = run(args);
    EXPECT_EQ(r.code, 2) << r.out;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(mount() + "/test")) << "nothing started";
  }
}

}  // namespace
}  // namespace zorv
