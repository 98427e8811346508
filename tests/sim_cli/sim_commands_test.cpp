#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>
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

sim::BayRecord snapshot(const std::string& dir) {
  std::string error;
  sim::BayRecord record;
  auto bay = sim::SimBay::open(dir, error);
  EXPECT_TRUE(bay && bay->snapshot(record, error)) << error;
  return record;
}

TEST(SimCommands, CreateMakesTheDefaultBayOnce) {
  test::TempDir tmp;
  std::string dir = tmp.file("bay");
  Result r = zorvctl({"sim", "create", dir});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Slot 0: ORBENNE PA256 SSD"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Slot 1: ORBENNE TA512 SSD"), std::string::npos);
  EXPECT_NE(r.out.find("foreign, SATA"), std::string::npos);
  EXPECT_NE(r.out.find("Slot 7: empty"), std::string::npos);
  r = zorvctl({"sim", "create", dir});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "zorvctl: " + dir + ": already holds a bay\n");
}

TEST(SimCommands, ListNeedsTheBayAndReportsItAsJson) {
  test::TempDir tmp;
  EXPECT_EQ(zorvctl({"sim", "list"}).code, 2);
  Result r = zorvctl({"--sim", tmp.path(), "sim", "list", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["slots"].size(), 8u);
  EXPECT_EQ(j["slots"][0]["state"], "plugged");
  EXPECT_EQ(j["slots"][0]["path"], "sim:0");
  EXPECT_EQ(j["slots"][1]["drive"]["bus"], "usb");
  EXPECT_EQ(j["slots"][1]["drive"]["modelClass"], 1);
  EXPECT_EQ(j["slots"][2]["drive"]["family"], false);
  EXPECT_EQ(j["slots"][3]["state"], "empty");
}

TEST(SimCommands, PlugUnplugAndPlugBack) {
  test::TempDir tmp;
  const std::string& dir = tmp.path();
  Result r = zorvctl({"--sim", dir, "sim", "plug", "4", "--model", "ORBENNE TX4T SSD", "--bus", "ata", "--fw",
                      "T2001C0D", "--serial", "OB9999", "--hwid", "5a0d2109"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Slot 4: ORBENNE TX4T SSD, serial OB9999, firmware T2001C0D, family class 1, ATA, 7814037168 sectors "
            "(3726G), 41 C, sparse media\n");
  sim::BayRecord bay = snapshot(dir);
  ASSERT_TRUE(bay.slots[4].present());
  EXPECT_EQ(bay.slots[4].drive->identity.hwid, (std::vector<uint8_t>{0x5A, 0x0D, 0x21, 0x09}));

  r = zorvctl({"--sim", dir, "sim", "plug", "5", "--model", "KESTRAL K1 SSD", "--capacity", "1000000"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("foreign, SATA, 1000000 sectors"), std::string::npos) << r.out;

  EXPECT_EQ(zorvctl({"--sim", dir, "sim", "plug", "4"}).code, 1) << "already in";
  r = zorvctl({"--sim", dir, "sim", "unplug", "4"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Slot 4: unplugged, ORBENNE TX4T SSD", 0), 0u) << r.out;
  EXPECT_EQ(zorvctl({"--sim", dir, "sim", "unplug", "4"}).code, 1);
  r = zorvctl({"--sim", dir, "sim", "plug", "4"});
  ASSERT_EQ(r.code, 0) << r.err;
  bay = snapshot(dir);
  EXPECT_TRUE(bay.slots[4].present());
  EXPECT_EQ(bay.slots[4].drive->identity.firmware, "T2001C0D") << "the same drive came back";
}

TEST(SimCommands, PlugRefusesBadDescriptions) {
  test::TempDir tmp;
  const std::string& dir = tmp.path();
  const std::vector<std::vector<std::string>> bad = {
      {"sim", "plug", "8"},
      {"sim", "plug", "3", "--class", "2"},
      {"sim", "plug", "3", "--bus", "scsi"},
      {"sim", "plug", "3", "--hwid", "XYZ"},
      {"sim", "plug", "3", "--wwn", "1234"},
      {"sim", "plug", "3", "--latency", "slow"},
  };
  for (auto args : bad) {
    args.insert(args.begin(), {"--sim", dir});
    EXPECT_EQ(zorvctl(args).code, 2) << args[4];
  }
  Result r = zorvctl({"--sim", dir, "sim", "plug", "3", "--fw", "TOOLONGFW"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("firmware: at most 8 characters"), std::string::npos) << r.err;
  r = zorvctl({"--sim", dir, "sim", "plug", "3", "--media", tmp.file("absent.img")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("absent.img"), std::string::npos) << r.err;
  EXPECT_FALSE(snapshot(dir).slots[3].drive.has_value());
}

TEST(SimCommands, FaultsReachTheNextRunOnTheBay) {
  test::TempDir tmp;
  const std::string& dir = tmp.path();
  Result r = zorvctl({"--sim", dir, "sim", "fault", "0", "fail", "--opcode", "0x28", "--count", "2", "--sense", "4/44/0"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Slot 0: fault 1: fail opcode 28h, 2 commands, status 51h error 04h, sense 4/44/00\n");
  ASSERT_EQ(zorvctl({"--sim", dir, "sim", "fault", "0", "corrupt", "--lba", "100h", "--blocks", "8"}).code, 0);
  ASSERT_EQ(zorvctl({"--sim", dir, "sim", "fault", "1", "not-ready", "--ms", "2500"}).code, 0);
  r = zorvctl({"--sim", dir, "sim", "fault", "2", "temperature", "68"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Slot 2: temperature 68 C\n");

  sim::BayRecord bay = snapshot(dir);
  ASSERT_EQ(bay.slots[0].drive->faults.size(), 2u);
  const sim::Fault& fail = bay.slots[0].drive->faults[0];
  EXPECT_EQ(fail.opcode, 0x28);
  EXPECT_EQ(fail.count, 2u);
  EXPECT_EQ(fail.senseKey, 4);
  EXPECT_EQ(fail.asc, 0x44);
  EXPECT_EQ(bay.slots[0].drive->faults[1].lba, 0x100u);
  EXPECT_EQ(bay.slots[0].drive->faults[1].blocks, 8u);
  EXPECT_EQ(bay.slots[1].drive->faults[0].ms, 2500u);
  EXPECT_EQ(bay.slots[2].drive->temperature, 68);

  r = zorvctl({"--sim", dir, "sim", "fault", "0", "clear"});
  ASSERT_EQ(r.code, 0);
  EXPECT_TRUE(snapshot(dir).slots[0].drive->faults.empty());

  uint64_t generation = snapshot(dir).slots[1].generation;
  ASSERT_EQ(zorvctl({"--sim", dir, "sim", "fault", "1", "power-cycle"}).code, 0);
  EXPECT_EQ(snapshot(dir).slots[1].generation, generation + 1);

  const std::vector<std::vector<std::string>> bad = {
      {"sim", "fault", "0", "melt"},
      {"sim", "fault", "0", "fail", "--opcode", "1FF"},
      {"sim", "fault", "0", "fail", "--sense", "3/11"},
      {"sim", "fault", "0", "corrupt"},
      {"sim", "fault", "0", "not-ready"},
      {"sim", "fault", "0", "temperature", "hot"},
      {"sim", "fault", "0", "fail", "--count", "0"},
  };
  for (auto args : bad) {
    std::string what = args[3];
    args.insert(args.begin(), {"--sim", dir});
    EXPECT_EQ(zorvctl(args).code, 2) << what;
  }
  EXPECT_EQ(zorvctl({"--sim", dir, "sim", "fault", "6", "fail"}).code, 1) << "empty slot";
}

// A power loss is set by the download segment it hits; it names no other
// opcode than DOWNLOAD MICROCODE's.
TEST(SimCommands, PowerLossIsSetBySegment) {
  test::TempDir tmp;
  const std::string& dir = tmp.path();
  Result r = zorvctl({"--sim", dir, "sim", "fault", "1", "power-loss", "--count", "3"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Slot 1: fault 1: power-loss when download segment 3 arrives, off until plugged in\n");
  r = zorvctl({"--sim", dir, "sim", "fault", "1", "power-loss", "--opcode", "92"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Slot 1: fault 2: power-loss when download segment 1 arrives (opcode 92h), off until plugged in\n");
  sim::BayRecord bay = snapshot(dir);
  ASSERT_EQ(bay.slots[1].drive->faults.size(), 2u);
  EXPECT_EQ(bay.slots[1].drive->faults[0].kind, sim::FaultKind::PowerLoss);
  EXPECT_EQ(bay.slots[1].drive->faults[0].count, 3u);
  EXPECT_EQ(bay.slots[1].drive->faults[1].opcode, 0x92);
  r = zorvctl({"--sim", dir, "sim", "list"});
  EXPECT_NE(r.out.find("power-loss when download segment 3 arrives"), std::string::npos) << r.out;

  r = zorvctl({"--sim", dir, "sim", "fault", "0", "power-loss", "--opcode", "28"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "zorvctl: sim fault N power-loss --count SEGMENT [--opcode 92|93]\n");
  EXPECT_TRUE(snapshot(dir).slots[0].drive->faults.empty());
}

}  // namespace
}  // namespace zorv

namespace zorv {
namespace {

TEST(SimCommands, ABrokenDriveDoesNotKeepTheBayFromBeingManaged) {
  test::TempDir tmp;
  const std::string& dir = tmp.path();
  ASSERT_EQ(zorvctl({"--sim", dir, "sim", "list"}).code, 0);
  std::filesystem::resize_file(dir + "/slot0/media.img", 4096);
  Result r = zorvctl({"--sim", dir, "scan"});
  EXPECT_EQ(r.code, 2) << "the program refuses the bay";
  EXPECT_NE(r.err.find(dir + "/slot0/media.img: holds 4096 bytes"), std::string::npos) << r.err;
  r = zorvctl({"--sim", dir, "sim", "list"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("cannot be used: slot 0: " + dir + "/slot0/media.img"), std::string::npos) << r.out;
  // Replace the broken drive.
  ASSERT_EQ(zorvctl({"--sim", dir, "sim", "unplug", "0"}).code, 0);
  ASSERT_EQ(zorvctl({"--sim", dir, "sim", "plug", "0", "--model", "ORBENNE PA512 SSD"}).code, 0);
  EXPECT_EQ(zorvctl({"--sim", dir, "scan"}).code, 0);
}

}  // namespace
}  // namespace zorv
