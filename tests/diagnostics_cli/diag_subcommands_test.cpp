// zorvctl diag trigger / clean-smart / erase-stats on a simulated bay: the
// window's texts on stdout, the figures as JSON, the picture as a PNG file,
// and the exit status for refused commands and unusable dumps.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/session.h"
#include "sim/sim_bay.h"
#include "sim/sim_port.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

struct Result {
  int code;
  std::string out;
  std::string err;
};

class DiagSubcommands : public ::testing::Test {
 protected:
  Result run(std::vector<std::string> args) {
    std::vector<std::string> all = {"zorvctl", "--sim", bay(), "--drive", "0"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& a : all) argv.push_back(a.c_str());
    std::ostringstream out, err;
    int code = cli::runZorvctl(static_cast<int>(argv.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
  }
  std::string bay() const { return (fs::path(tmp.path()) / "bay").string(); }

  test::TempDir tmp;
};

TEST_F(DiagSubcommands, TriggerAndCleanSmartSayWhatTheWindowSays) {
  Result t = run({"diag", "trigger"});
  EXPECT_EQ(t.code, 0) << t.err;
  EXPECT_EQ(t.out, "Diagnostic Enable.......\n");
  Result c = run({"diag", "clean-smart", "--json"});
  EXPECT_EQ(c.code, 0) << c.err;
  auto j = nlohmann::json::parse(c.out);
  EXPECT_EQ(j["ok"], true);
  EXPECT_EQ(j["pane"], "SMART Clean Good\r\nPlease remove drive, then plug again\r\n");

  // A drive that refuses the sector: exit 1 and no "Good".
  Result fault = run({"sim", "fault", "0", "fail", "--opcode", "E8", "--count", "2"});
  ASSERT_EQ(fault.code, 0) << fault.err << fault.out;
  Result t2 = run({"diag", "trigger"});
  EXPECT_EQ(t2.code, 1);
  EXPECT_NE(t2.out.find("Command Fail"), std::string::npos) << t2.out;
  Result c2 = run({"diag", "clean-smart"});
  EXPECT_EQ(c2.code, 1);
  EXPECT_EQ(c2.out.find("SMART Clean Good"), std::string::npos) << c2.out;
}

// zorvctl draws pictures only where it is built with the window's Qt (the
// sanitizer builds are not); the figures are the same either way.
#ifdef ZORV_CLI_CHARTS
constexpr bool kDrawsPictures = true;
#else
constexpr bool kDrawsPictures = false;
#endif

std::vector<std::string> withPicture(std::vector<std::string> args, const std::string& png) {
  if (kDrawsPictures) {
    args.push_back("--png");
    args.push_back(png);
  }
  return args;
}

TEST_F(DiagSubcommands, EraseStatsGivesTheFiguresAndThePicture) {
  const std::string png = tmp.file("erase stats.png");
  Result r = run(withPicture({"diag", "erase-stats", "--dir", tmp.path(), "--json"}, png));
  ASSERT_EQ(r.code, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["ok"], true);
  EXPECT_EQ(j["groupKind"], "plane");
  EXPECT_EQ(j["geometryChecked"], true);
  EXPECT_GT(j["earlyBad"].get<int>(), 0);
  EXPECT_GT(j["eraseCount"]["stddev"].get<double>(), 0);
  EXPECT_EQ(j["eraseCount"]["histogram"].size(), 20u);
  EXPECT_EQ(j["groups"].size(), 32u);
  const std::string textFile = j["textFile"];
  EXPECT_TRUE(fs::exists(textFile));
  if (kDrawsPictures) {
    std::ifstream in(png, std::ios::binary);
    char signature[8] = {};
    in.read(signature, 8);
    EXPECT_EQ(std::string(signature, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  }

  // The saved dump gives the same figures.
  Result saved = run({"diag", "erase-stats", "--file", textFile, "--json"});
  ASSERT_EQ(saved.code, 0) << saved.err;
  auto k = nlohmann::json::parse(saved.out);
  EXPECT_EQ(k["eraseCount"], j["eraseCount"]);
  EXPECT_EQ(k["invalidPages"], j["invalidPages"]);
  EXPECT_EQ(k["geometryChecked"], false);

  Result text = run({"diag", "erase-stats", "--file", textFile});
  EXPECT_NE(text.out.find("Erase count  : min "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Per plane:\n"), std::string::npos) << text.out;
}

TEST_F(DiagSubcommands, AnUnusableDumpDrawsNothing) {
  const std::string cut = tmp.file("cut.txt");
  std::ofstream(cut, std::ios::binary) << "============Ch 00==Chip 00==Die 00==Plane 00====DataBlkS 0020========\r\n"
                        "Blk 0000 : IvidPNum 0000 wlidx 0003 BLKty 0005 EC 0007\r\n";
  const std::string png = tmp.file("cut.png");
  Result r = run(withPicture({"diag", "erase-stats", "--file", cut}, png));
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err,
            "zorvctl: cut.txt: The dump ends inside group Ch 00 Chip 00 Die 00 Plane 00 before its plane summary: it "
            "is cut short\n");
  EXPECT_FALSE(fs::exists(png));
  Result none = run({"diag", "erase-stats", "--file", tmp.file("none.txt")});
  EXPECT_EQ(none.code, 2);
}

}  // namespace
}  // namespace zorv
