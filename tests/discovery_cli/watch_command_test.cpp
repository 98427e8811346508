#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include "cli/session.h"
#include "sim/sim_bay.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

struct Result {
  int code;
  std::string out;
  std::string err;
};

Result zorvctl(std::vector<std::string> args) {
  args.insert(args.begin(), "zorvctl");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  int code = cli::runZorvctl(static_cast<int>(argv.size()), argv.data(), out, err);
  return {code, out.str(), err.str()};
}

TEST(WatchCommand, FollowsARemovalAndAnArrivalWithTheDriveList) {
  test::TempDir tmp;
  const std::string dir = tmp.file("bay");
  ASSERT_EQ(zorvctl({"sim", "create", dir}).code, 0);

  std::string error;
  auto bay = sim::SimBay::open(dir, error);
  ASSERT_TRUE(bay) << error;

  Result watched;
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    watched = zorvctl({"--sim", dir, "watch", "--changes", "3", "--seconds", "60"});
    done = true;
  });
  // Unplug and plug back until the watcher has seen three changes (it may
  // start watching at any point of a cycle, so they hold a removal followed
  // by an arrival either way).
  bool cycled = true;
  for (int i = 0; i < 200 && !done && cycled; ++i) {
    cycled = bay->unplug(1, error);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cycled = cycled && bay->plug(1, error);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  watcher.join();  // the watch ends by itself after 60 s at the latest
  ASSERT_TRUE(cycled) << error;
  ASSERT_EQ(watched.code, 0) << watched.err;
  const std::string& out = watched.out;
  // Each change is printed and followed by the list of a new enumeration
  // (what it holds depends on the bay at that moment, which this loop keeps
  // changing).
  for (const char* change : {"Removing USBSTOR\\DISK&VEN_ORBENNE&PROD_TA512_SSD",
                             "Adding USBSTOR\\DISK&VEN_ORBENNE&PROD_TA512_SSD"}) {
    const size_t at = out.find(change);
    ASSERT_NE(at, std::string::npos) << change << "\n" << out;
    const size_t list = out.find("Physical Drive 0 ORBENNEPA256SSD", at);
    ASSERT_NE(list, std::string::npos) << change << "\n" << out;
    EXPECT_NE(out.find("--\n", list), std::string::npos) << out;
  }
}

TEST(WatchCommand, NeedsAnEnd) {
  test::TempDir tmp;
  Result r = zorvctl({"--sim", tmp.file("bay"), "watch"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "zorvctl: watch needs --changes or --seconds\n");
}

}  // namespace
}  // namespace zorv
