// zorvctl across its commands: input a command cannot use (a file that is
// not there, a box left empty, an order the tool refuses) ends with exit
// status 2, never with 0 as if something had been done.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "cli/session.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

TEST(UnusableInput, EveryCommandExitsTwo) {
  test::TempDir tmp;
  const std::string bay = (fs::path(tmp.path()) / "bay").string();
  const std::string missing = tmp.file("no such file");
  const std::string out = tmp.file("out");
  const std::vector<std::vector<std::string>> cases = {
      {"diag", "50", "--dir", tmp.path()},
      {"diag", "3102", "--dir", tmp.path()},
      {"diag", "51", "--dir", tmp.path()},
      {"diag", "F714", "--file", missing, "--dir", tmp.path()},
      {"diag", "780001", "--address", "G", "--dir", tmp.path()},
      {"fw", "append-qz", missing, missing, out},
      {"fw", "lock-model", missing, out, "--brand", "2"},
      {"fw", "make-downloader", missing, missing},
      {"fw", "update", "--bin", missing},
      {"identify", "compare", missing, missing},
      {"buffer", "--load", missing},
      {"ata", "--command", "EC", "--in", missing},
      {"qz", "list", missing, "--class", "0"},
      {"qz", "unpack", missing, tmp.file("unpacked"), "--class", "0"},
  };
  for (const auto& args : cases) {
    std::vector<std::string> all = {"zorvctl", "--sim", bay, "--drive", "0"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& a : all) argv.push_back(a.c_str());
    std::ostringstream o, e;
    int code = cli::runZorvctl(static_cast<int>(argv.size()), argv.data(), o, e);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(code, 2) << shown << "\n" << o.str() << e.str();
  }
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace zorv
