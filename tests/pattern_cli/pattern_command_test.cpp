// zorvctl pattern on a simulated bay: the tab's lines and the counters on
// stdout, the error log in the current directory, the exit status of good,
// failed, stopped and refused runs, and the generated pattern in a file.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <unistd.h>

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

// The log goes to the current directory: each test runs in its own.
class PatternCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::create_directories(work());
    fs::current_path(work());
  }
  void TearDown() override { fs::current_path(previous_); }

  Result run(const std::vector<std::string>& args, std::ostream* out = nullptr) {
    std::vector<std::string> all = {"zorvctl", "--sim", (fs::path(tmp.path()) / "a bay").string(), "--drive", "0"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> v;
    for (const std::string& a : all) v.push_back(a.c_str());
    std::ostringstream own, err;
    std::ostream& o = out ? *out : own;
    int code = cli::runZorvctl(static_cast<int>(v.size()), v.data(), o, err);
    return {code, out ? "" : own.str(), err.str()};
  }
  fs::path work() const { return fs::path(tmp.path()) / "work dir"; }
  std::string log() const {
    std::ifstream in(work() / "CompErrLog.txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  test::TempDir tmp;
  fs::path previous_;
};

const std::vector<std::string> kRange = {"--start-lba", "0x100", "--end-lba", "300H", "--loop", "1"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(PatternCommand, WriteThenReadBackPass) {
  Result w = run(with({"pattern", "write", "--command", "dma-ext", "--compare", "simple", "--stamp-lba",
                       "--stamp-serial", "--stamp-time", "--seed", "3"},
                      kRange));
  EXPECT_EQ(w.code, 0) << w.err << w.out;
  EXPECT_EQ(w.out.substr(0, 87),
            "<<Write Data>> LBA: 0000 00000100\r\n<<Read Data>> LBA: 0000 00000100\r\n    Compare Good\r\n");
  EXPECT_NE(w.out.find("Total Rd: 262144  Total Wr: 262144  "), std::string::npos) << w.out;
  Result r = run(with({"pattern", "read", "--command", "scsi", "--quiet"}, kRange));
  EXPECT_EQ(r.code, 0) << r.err << r.out;
  EXPECT_EQ(r.out.find("<<Read Data>>"), std::string::npos) << "--quiet";
  EXPECT_NE(r.out.find("Total Rd: 262144  Total Wr: 0  "), std::string::npos);
  EXPECT_FALSE(fs::exists(work() / "CompErrLog.txt"));

  // Read with the serial stamp checked from another first serial: every command fails.
  r = run(with({"pattern", "read", "--command", "dma", "--serial", "1", "--err-limit", "3", "--json"}, kRange));
  EXPECT_EQ(r.code, 1);
  json j = json::parse(r.out);
  EXPECT_EQ(j["verdict"], "failed");
  EXPECT_EQ(j["errors"]["compare"], 3);
  EXPECT_EQ(j["errorLimitReached"], true);
  EXPECT_EQ(j["firstErrorLba"], 0x100);
  EXPECT_NE(j["box"].get<std::string>().find("Error Time Over \r\n"), std::string::npos);
  EXPECT_EQ(log().substr(0, 24), "CurLBA: 0x000000000100\r\n");
}

TEST_F(PatternCommand, DamagedDriveFailsWithTheErrorLine) {
  Result f = run({"sim", "fault", "0", "damage", "--lba", "0x2A0"});
  ASSERT_EQ(f.code, 0) << f.err;

  Result w = run(with({"pattern", "write", "--command", "dma", "--compare", "total", "--string", "Zorv"}, kRange));
  EXPECT_EQ(w.code, 1) << w.err;
  EXPECT_NE(w.out.find("<<Read Data>> LBA: 0000 00000280\r\n!!!!Err LBA: 0x0280, length: 0x10000!!!!\r\nError Time Over \r\n"),
            std::string::npos)
      << w.out;
  EXPECT_NE(log().find("\r\nLBA: 0x0000000002A0\r\n"), std::string::npos);
}

TEST_F(PatternCommand, BadInputIsRefusedAndWritesNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"--start-lba", "100", "--end-lba", "100"}, "<<Error>>\r\nStart LBA = End LBA\r\n", ""},
      {{"--start-lba", "", "--end-lba", "100"}, "<<Error>>\r\nStart LBA: enter a hex LBA\r\n", ""},
      {{"--start-lba", "1G0", "--end-lba", "300"}, "<<Error>>\r\nStart LBA: enter a hex LBA\r\n", ""},
      {{"--sectors", "0"}, "<<Error>>\r\nSector Number: a sector count of 0 moves no data\r\n", ""},
      {{"--value", "xyz"}, "<<Error>>\r\nCustom Value: enter 2 to 8 hex digits (without \"0x\")\r\n", ""},
      {{"--string", std::string(256, 's')}, "<<Error>>\r\nString: at most 255 characters (this one has 256)\r\n", ""},
      {{"--shift", ""}, "<<Error>>\r\nShft Addr/ Max Rdn Len: enter a hex number of sectors\r\n", ""},
      {{"--err-limit", "11"}, "", "zorvctl: --err-limit: 1 to 10\n"},
      {{"--width", "qword"}, "", "zorvctl: --width: one of dword, word, byte\n"},
      {{"--start-pct", "100"}, "", "zorvctl: --start-pct: a percentage from 0 to below 100 (one decimal at most): 100\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"pattern", "write", "--command", "dma-ext", "--loop", "1"};
    if (std::find(c.args.begin(), c.args.end(), "--start-lba") == c.args.end() &&
        std::find(c.args.begin(), c.args.end(), "--start-pct") == c.args.end())
      args = with(args, {"--start-lba", "100", "--end-lba", "300"});
    Result r = run(with(args, c.args));
    EXPECT_EQ(r.code, 2) << c.out << c.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
  // Nothing was written: the stamps a write would have left are not there.
  Result r = run(with({"pattern", "read", "--command", "dma-ext", "--stamp-lba"}, kRange));
  EXPECT_EQ(r.code, 1);
}

TEST_F(PatternCommand, CtrlCStopsTheRunAfterTheCurrentCommand) {
  test::InterruptingBuffer buffer("<<Write Data>> LBA: 0000 00000180");
  std::ostream out(&buffer);
  Result r = run({"pattern", "write", "--command", "scsi", "--start-lba", "0", "--end-lba", "4000", "--loop", "FFFF"},
                 &out);
  EXPECT_EQ(r.code, 1) << r.err;
  std::string text = buffer.str();
  EXPECT_EQ(text.find("<<Write Data>> LBA: 0000 00000200"), std::string::npos) << text;
  EXPECT_NE(text.find("Total Wr: 262144  "), std::string::npos) << "the command under way ends" << text;
}

TEST_F(PatternCommand, GenWritesThePatternIntoAFile) {
  fs::path file = work() / "pattern file.bin";
  Result r = run({"pattern", "gen", "--sectors", "200", "--value", "0xAABB", "--width", "word", "--increase", "--out",
                  file.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(fs::file_size(file), 0x1F200u);
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes(6);
  in.read(bytes.data(), 6);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), (std::vector<uint8_t>{0xBB, 0xAA, 0xBC, 0xAA, 0xBD, 0xAA}));
  r = run({"pattern", "gen", "--sectors", "1", "--string", "Hi", "--ascii"});
  EXPECT_EQ(r.out.substr(0, 22), "0000:HiHiHiHiHiHiHiHi\n");
}

}  // namespace
}  // namespace zorv
