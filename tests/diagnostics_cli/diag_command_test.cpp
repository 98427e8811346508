// zorvctl diag on a simulated bay: what it prints, the files it leaves, its
// exit status for good runs, failed runs and bad arguments.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/session.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

struct Result {
  int code;
  std::string out;
  std::string err;
};

class DiagCommand : public ::testing::Test {
 protected:
  Result run(std::vector<std::string> args) {
    std::vector<std::string> all = {"zorvctl", "--sim", (fs::path(tmp.path()) / "bay").string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& a : all) argv.push_back(a.c_str());
    std::ostringstream out, err;
    int code = cli::runZorvctl(static_cast<int>(argv.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
  }
  std::vector<fs::path> filesStarting(const std::string& prefix) {
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(tmp.path()))
      if (e.path().filename().string().starts_with(prefix)) found.push_back(e.path());
    return found;
  }
  std::string dir() const { return tmp.path(); }

  test::TempDir tmp;
};

TEST_F(DiagCommand, ListsTheOperations) {
  Result r = run({"diag", "--list"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 36);
  EXPECT_NE(r.out.find("19 B0D0 SMART Read\n"), std::string::npos);
}

TEST_F(DiagCommand, InfoSsdThenSmartWithTheReport) {
  Result r = run({"--drive", "0", "diag", "30", "--second", "B0D0", "--report", "--dir", dir()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("ORBENNEPA256SSD OB2310A00417 238G SATA\r\nPCBA PN    : PA256-2280-A03\r\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("S.M.A.R.T. Read Success\r\n"), std::string::npos);
  EXPECT_TRUE(filesStarting("InfoDumpLog").empty());  // consumed by the report
  auto reports = filesStarting("DevinfoAndSmartReport");
  ASSERT_EQ(reports.size(), 1u);
  std::ifstream in(reports[0], std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_NE(s.str().find(",OB2310A00417,238G,"), std::string::npos) << s.str();
}

TEST_F(DiagCommand, JsonCarriesTheDecodedRecordAndAttributes) {
  Result r = run({"--json", "--drive", "1", "diag", "30", "--second", "19", "--dir", dir()});
  ASSERT_EQ(r.code, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["modelClass"], 1);
  EXPECT_EQ(j["passes"][0]["infoSsd"]["firmwareVersion"], "T1208B");
  EXPECT_EQ(j["passes"][0]["infoSsd"]["hwid"].get<std::string>().substr(0, 8), "5A0D2107");
  EXPECT_EQ(j["passes"][1]["smart"]["checksumValid"], true);
  EXPECT_EQ(j["passes"][1]["smart"]["attributes"].size(), 22u);
  EXPECT_EQ(filesStarting("InfoDumpLog").size(), 1u);
}

TEST_F(DiagCommand, SmartClearAndSwitchesReachTheDrive) {
  ASSERT_EQ(run({"--drive", "0", "diag", "5603", "--dir", dir()}).code, 0);
  Result smart = run({"--json", "--drive", "0", "diag", "B0D0", "--dir", dir()});
  auto attrs = nlohmann::json::parse(smart.out)["passes"][0]["smart"]["attributes"];
  EXPECT_EQ(attrs[2]["id"], 9);
  EXPECT_EQ(attrs[2]["raw"], 0);

  Result sw = run({"--drive", "0", "diag", "F7C001", "--dir", dir()});
  EXPECT_EQ(sw.code, 0);
  EXPECT_NE(sw.out.find("Disable Power Down\r\nEnable COM Port\r\n"), std::string::npos);
  Result list = run({"--json", "sim", "list"});
  auto vendor = nlohmann::json::parse(list.out)["slots"][0]["drive"]["vendor"];
  EXPECT_EQ(vendor["switches"]["rs232Output"], true);
  EXPECT_EQ(vendor["switches"]["powerDownDisabled"], true);
  Result text = run({"sim", "list"});
  EXPECT_NE(text.out.find("switches: powerDownDisabled on rs232Output on\n"), std::string::npos) << text.out;
}

TEST_F(DiagCommand, MaxAddressFromTheSliderRuleAndAFailedSet) {
  // Full capacity from the slider: the native max address, which the drive takes.
  Result full = run({"--drive", "0", "diag", "780001", "--percent", "100", "--dir", dir()});
  EXPECT_EQ(full.code, 0) << full.out;
  EXPECT_NE(full.out.find("Set Accessible Max Address:\r\n00001DCF32AFH\r\n"), std::string::npos) << full.out;

  Result set = run({"--drive", "0", "diag", "780001", "--percent", "50", "--dir", dir()});
  EXPECT_EQ(set.code, 0) << set.err;
  EXPECT_NE(set.out.find("Set Accessible Max Address:\r\n00000EE79958H\r\n"), std::string::npos) << set.out;

  // The drive now reports half its sectors; its whole capacity can be given
  // back by address, and nothing beyond it.
  Result beyond = run({"--drive", "0", "diag", "780001", "--address", "1DCF32B0H", "--dir", dir()});
  EXPECT_EQ(beyond.code, 2);
  EXPECT_NE(beyond.out.find(
                "Set Accessible Max Address: 1DCF32B0H is beyond the native max address 00001DCF32AFH\r\n"),
            std::string::npos)
      << beyond.out;
  EXPECT_EQ(beyond.out.find("ATA Command Error"), std::string::npos);
  Result back = run({"--drive", "0", "diag", "780001", "--address", "1DCF32AFH", "--dir", dir()});
  EXPECT_EQ(back.code, 0) << back.out;
  EXPECT_EQ(run({"--drive", "0", "diag", "780001", "--address", "", "--dir", dir()}).code, 2);

  // A drive that refuses a good address: the run failed.
  ASSERT_EQ(run({"--drive", "0", "diag", "780002", "--dir", dir()}).code, 0);
  Result frozen = run({"--drive", "0", "diag", "780001", "--address", "1000", "--dir", dir()});
  EXPECT_EQ(frozen.code, 1);
  EXPECT_NE(frozen.out.find("ATA Command Error"), std::string::npos);
}

TEST_F(DiagCommand, UnusableInputExitsTwo) {
  // Each of these runs, says why nothing was done, and sends nothing for it.
  const std::vector<std::vector<std::string>> cases = {
      {"--drive", "0", "diag", "50", "--start-mem", "1000", "--dir", dir()},  // no length
      {"--drive", "0", "diag", "F714", "--dir", dir()},                       // SPI write without --file
      {"--drive", "0", "diag", "30", "--second", "51", "--dir", dir()},       // the second pass's file
      {"--drive", "0", "diag", "51", "--file", (fs::path(dir()) / "missing.bin").string(), "--dir", dir()},
  };
  for (const auto& args : cases) {
    Result r = run(args);
    EXPECT_EQ(r.code, 2) << args[3] << "\n" << r.out << r.err;
  }
  Result input = run({"--drive", "0", "diag", "50", "--dir", dir()});
  EXPECT_EQ(input.code, 2);
  EXPECT_NE(input.out.find("Error.... Input Empty"), std::string::npos);
  Result layout = run({"--drive", "0", "diag", "3102", "--dir", dir()});
  EXPECT_EQ(layout.code, 2);
  EXPECT_NE(layout.out.find("Please Read Structure Bit Define First\r\n"), std::string::npos);
  Result restore = run({"--drive", "0", "diag", "51", "--dir", dir()});
  EXPECT_EQ(restore.code, 2);
  EXPECT_NE(restore.err.find("51 needs --file"), std::string::npos) << restore.err;

  std::string empty = (fs::path(dir()) / "empty.bin").string();
  std::ofstream(empty, std::ios::binary).flush();
  Result emptyRestore = run({"--drive", "0", "diag", "51", "--file", empty, "--dir", dir()});
  EXPECT_EQ(emptyRestore.code, 2);
  EXPECT_NE(emptyRestore.out.find("Nothing to restore: " + empty + " is empty\r\n"), std::string::npos);
  EXPECT_EQ(emptyRestore.out.find("Restore Bin Success"), std::string::npos);
}

TEST_F(DiagCommand, BadArgumentsAreUsageErrors) {
  EXPECT_EQ(run({"diag", "ZZ"}).code, 2);
  EXPECT_EQ(run({"diag", "780001"}).code, 2);
  EXPECT_EQ(run({"diag", "780001", "--percent", "101"}).code, 2);
  EXPECT_EQ(run({"diag", "30", "--second", "99"}).code, 2);
  EXPECT_EQ(run({"diag"}).code, 2);
}

TEST_F(DiagCommand, AForeignDriveIsNotOffered) {
  Result r = run({"--drive", "2", "diag", "30", "--dir", dir()});
  EXPECT_EQ(r.code, 2);
}

}  // namespace
}  // namespace zorv
