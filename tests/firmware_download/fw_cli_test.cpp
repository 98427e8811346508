// zorvctl fw: the commands, their texts and exit statuses.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>

#include "cli/session.h"
#include "firmware/updater.h"
#include "fwdl_support.h"

namespace zorv::fwdl {
namespace {

namespace fs = std::filesystem;

struct Cli {
  int status = -1;
  std::string out;
  std::string err;
};

Cli zorvctl(std::vector<std::string> args) {
  std::vector<const char*> argv = {"zorvctl"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  Cli c;
  c.status = cli::runZorvctl(static_cast<int>(argv.size()), argv.data(), out, err);
  c.out = out.str();
  c.err = err.str();
  return c;
}

struct CliBay {
  CliBay() {
    bayDir = dir.file("bay");
    if (!sim::SimBay::create(bayDir, error)) return;
    bay = sim::SimBay::open(bayDir, error);
    if (!bay) return;
    for (int slot : {0, 1})
      bay->controller(slot)->withDrive([](sim::SimDrive& d) { d.vendorState()["microcode"]["restartMs"] = 0; });
  }
  std::string file(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string p = dir.file(name);
    writeBytes(p, bytes);
    return p;
  }
  // A class 0 package for the SATA drive (and another model).
  std::string class0Package(const std::string& version) {
    sim::DriveRecord d = driveIn(*bay, 0);
    std::vector<uint8_t> other(9, 0x77);
    return file("c0.qz", packageOf(0, {{other, "PM480", plainImage(0, other, "S9000A")},
                                       {hwidOf(d), "PA256", plainImage(0, hwidOf(d), version)}}));
  }
  std::string firmware(int slot) { return driveIn(*bay, slot).identity.firmware; }

  test::TempDir dir;
  std::string bayDir;
  std::string error;
  std::shared_ptr<sim::SimBay> bay;
};

TEST(FwCli, UpdateFromAPackageChoosesTheDrivesRow) {
  CliBay b;
  ASSERT_TRUE(b.bay) << b.error;
  Cli c = zorvctl({"--sim", b.bayDir, "--drive", "0", "fw", "update", "--package", b.class0Package("S1108A"),
                   "--disable-power-down"});
  EXPECT_EQ(c.status, 0) << c.out << c.err;
  EXPECT_TRUE(contains(c.out, "Current HWID: 5A0C1F03 00000000 00\r\nCorrect Item: 1   TtlFwNum: 2\r\n"
                              "Parsing Success\r\nDisable Power Down\r\n"))
      << c.out;
  EXPECT_TRUE(contains(c.out, "Update FW Done.\r\nPlease Power Off SSD and Power Up again.\n"));
  EXPECT_EQ(b.firmware(0), "S1108A0C");
  EXPECT_EQ(driveIn(*b.bay, 0).vendor["switches"]["powerDownDisabled"], true);

  // Again, as JSON: nothing newer, which is no failure.
  c = zorvctl({"--sim", b.bayDir, "--drive", "0", "--json", "fw", "update", "--package", b.dir.file("c0.qz")});
  EXPECT_EQ(c.status, 0);
  nlohmann::json j = nlohmann::json::parse(c.out);
  EXPECT_EQ(j["updated"], false);
  EXPECT_EQ(j["download"]["upToDate"], true);
  EXPECT_EQ(j["download"]["verdict"], "fw-is-latest");
  EXPECT_EQ(j["download"]["message"], "Drive Fw Version: S110\r\nFW is the Latest\r\n");
}

TEST(FwCli, UpdateFromABinAndFromARow) {
  CliBay b;
  ASSERT_TRUE(b.bay) << b.error;
  std::string bin = b.file("t.bin", imageFor(*b.bay, 1, "T1209B"));
  Cli c = zorvctl({"--sim", b.bayDir, "--drive", "1", "fw", "update", "--bin", bin});
  EXPECT_EQ(c.status, 0) << c.out << c.err;
  EXPECT_EQ(b.firmware(1), "T1209B1A");

  // Row 1 of the class 0 package, without comparing IDs.
  c = zorvctl({"--sim", b.bayDir, "--drive", "0", "fw", "update", "--package", b.class0Package("S1110A"), "--row", "1"});
  EXPECT_EQ(c.status, 0) << c.out << c.err;
  EXPECT_FALSE(contains(c.out, "Current HWID"));
  EXPECT_EQ(b.firmware(0), "S1110A0C");
}

// The closing box, the texts, the JSON and the exit status tell the same
// story: a segment taken on its retry is an update; a drive that does not
// come back ready is not.
TEST(FwCli, TheVerdictFollowsWhatTheDriveDid) {
  CliBay b;
  ASSERT_TRUE(b.bay) << b.error;
  std::string err;
  ASSERT_TRUE(b.bay->addFault(1, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0x93, .count = 1}, err));
  std::string bin = b.file("t.bin", imageFor(*b.bay, 1, "T1209B", 2 * 65536));
  Cli c = zorvctl({"--sim", b.bayDir, "--drive", "1", "--json", "fw", "update", "--bin", bin});
  EXPECT_EQ(c.status, 0) << c.out << c.err;
  nlohmann::json j = nlohmann::json::parse(c.out);
  EXPECT_EQ(j["updated"], true);
  EXPECT_EQ(j["download"]["verdict"], "updated");
  EXPECT_EQ(j["download"]["message"], std::string(firmware::kUpdateDoneText));
  EXPECT_TRUE(contains(j["texts"], "ATA Command Fail\n")) << j["texts"];
  EXPECT_FALSE(contains(j["texts"], "Update Fail")) << j["texts"];
  EXPECT_TRUE(contains(c.err, "box(information): " + std::string(firmware::kUpdateDoneText))) << c.err;
  EXPECT_EQ(b.firmware(1), "T1209B1A");

  ASSERT_TRUE(b.bay->addFault(
      1, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0x00, .count = 2, .senseKey = 0x04, .asc = 0x44}, err));
  bin = b.file("t2.bin", imageFor(*b.bay, 1, "T1210B", 2 * 65536));
  c = zorvctl({"--sim", b.bayDir, "--drive", "1", "--json", "fw", "update", "--bin", bin});
  EXPECT_EQ(c.status, 1) << c.out << c.err;
  j = nlohmann::json::parse(c.out);
  EXPECT_EQ(j["updated"], false);
  EXPECT_EQ(j["download"]["verdict"], "not-ready");
  EXPECT_EQ(j["download"]["message"], std::string(firmware::kUpdateFailedText));
  EXPECT_TRUE(contains(j["texts"], "Drive Not Ready\nTime Out\nUpdate Fail\n")) << j["texts"];
  EXPECT_TRUE(contains(c.err, "box(stop): " + std::string(firmware::kUpdateFailedText))) << c.err;
}

TEST(FwCli, RefusesUnusableRequests) {
  CliBay b;
  ASSERT_TRUE(b.bay) << b.error;
  std::string bin = b.file("t.bin", imageFor(*b.bay, 1, "T1209B"));
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;  // part of stdout
  };
  const std::string pkg = b.class0Package("S1108A");
  const Case cases[] = {
      {{"fw", "update", "--bin", bin, "--rs232"}, 2, ""},
      {{"fw", "update", "--bin", bin, "--package", pkg}, 2, ""},
      {{"fw", "update", "--row", "0"}, 2, ""},
      {{"--drive", "0", "fw", "update", "--package", pkg, "--row", "2"}, 2, ""},
      {{"fw", "update", "--bin", b.dir.file("missing.bin")}, 2, "Open File Error\r\n"},
      {{"fw", "update", "--package", b.dir.file("missing.qz")}, 2, "Open File Fail\r\n"},
      {{"fw", "update", "--package", b.file("bad.qz", std::vector<uint8_t>(40, 0x11))}, 2, "Unzip File Fail\r\n"},
      {{"--drive", "1", "fw", "update", "--bin", b.file("odd.bin", std::vector<uint8_t>(1000, 0xFF))}, 2, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--sim", b.bayDir};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Cli r = zorvctl(args);
    EXPECT_EQ(r.status, c.status) << args.back() << r.out << r.err;
    EXPECT_TRUE(contains(r.out, c.out)) << r.out;
    EXPECT_FALSE(contains(r.out, "Update FW Done."));
  }
  EXPECT_EQ(b.firmware(0), "S1107A0C");
  EXPECT_EQ(b.firmware(1), "T1208B1A");
}

TEST(FwCli, AppendMakeDownloaderAndLockModelWriteExecutables) {
#ifdef _WIN32
  GTEST_SKIP() << "zorvctl opens the device backend for these, which the Windows build does not have yet";
#endif
  CliBay b;
  ASSERT_TRUE(b.bay) << b.error;
  const std::string zorvctlPath = std::string(ZORV_BINARY_DIR) + "/src/cli/zorvctl";
  const std::string exe = b.dir.file("tool");
  fs::copy_file(zorvctlPath, exe);

  // Model lock: the copy accepts only brand 4.
  Cli c = zorvctl({"fw", "lock-model", exe, b.dir.file("locked"), "--brand", "4"});
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.out, "Lock Model Name Done\r\n");
  std::vector<uint8_t> locked = readBytes(b.dir.file("locked"));
  std::optional<size_t> at = firmware::findMarker(locked, firmware::Marker::Brand);
  ASSERT_TRUE(at);
  EXPECT_EQ(locked[*at + 8], 4);
  EXPECT_EQ(locked[*at + 9], 5);
  EXPECT_EQ(zorvctl({"fw", "lock-model", exe, b.dir.file("x"), "--brand", "5"}).status, 2);
  EXPECT_EQ(zorvctl({"fw", "lock-model", b.file("plain", std::vector<uint8_t>(100, 1)), b.dir.file("x"), "--brand", "2"})
                .out,
            "<<<<Lock Model Fail>>>>\r\n");
  EXPECT_FALSE(fs::exists(b.dir.file("x")));

  // Image into the reserved block, once.
  std::string img = b.file("i.bin", std::vector<uint8_t>(4096, 0xA5));
  c = zorvctl({"fw", "make-downloader", exe, img});
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.out, "Open EXE File Ok\nEXE File Seek Ok\nMake File Done\n" + exe + "\n");
  c = zorvctl({"fw", "make-downloader", exe, img});
  EXPECT_EQ(c.status, 2);
  EXPECT_EQ(c.out, "Open EXE File Ok\nEXE File Seek Fail\n");

  // Append QZ: the options byte follows the flag.
  std::string pkg = b.class0Package("S1108A");
  c = zorvctl({"fw", "append-qz", exe, pkg, b.dir.file("upd"), "--skip-model-check"});
  EXPECT_EQ(c.status, 0) << c.err;
  std::vector<uint8_t> upd = readBytes(b.dir.file("upd"));
  auto e = firmware::findEmbeddedPackage(upd);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->options, 0x26);
  EXPECT_EQ(e->markerOffset, fs::file_size(exe) + 1);
  c = zorvctl({"fw", "append-qz", exe, b.file("bad.qz", std::vector<uint8_t>(30, 0)), b.dir.file("upd2")});
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.out, "Open EXE File Success\r\nOpen QZ File Success\r\nUnzip File Fail\r\n");
  // An updater takes no second package: it would only ever run its first.
  c = zorvctl({"fw", "append-qz", b.dir.file("upd"), pkg, b.dir.file("upd3")});
  EXPECT_EQ(c.status, 2);
  EXPECT_EQ(c.out, "The EXE File Already Carries A QZ Package\r\n");
  EXPECT_FALSE(fs::exists(b.dir.file("upd3")));
}

TEST(FwCli, DemoPackageHoldsANewerImageForEveryDrive) {
  CliBay b;
  ASSERT_TRUE(b.bay) << b.error;
  std::string pkg = b.dir.file("demo.qz");
  Cli c = zorvctl({"--sim", b.bayDir, "fw", "demo-package", pkg});
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_TRUE(contains(c.out, "S1107A -> S1108A")) << c.out;
  EXPECT_TRUE(contains(c.out, "T1208B -> T1209B"));
  // Either drive finds its row and takes its image.
  for (int slot : {0, 1}) {
    c = zorvctl({"--sim", b.bayDir, "--drive", std::to_string(slot), "fw", "update", "--package", pkg});
    EXPECT_EQ(c.status, 0) << c.out << c.err;
    EXPECT_TRUE(contains(c.out, "Correct Item: " + std::to_string(slot) + "   TtlFwNum: 2\r\n")) << c.out;
  }
  EXPECT_EQ(b.firmware(0), "S1108A0C");
  EXPECT_EQ(b.firmware(1), "T1209B1A");
}

}  // namespace
}  // namespace zorv::fwdl
