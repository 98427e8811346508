#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

#include "cli/session.h"
#include "discovery/enumerate.h"
#include "sim/sim_bay.h"
#include "sim/sim_port.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

using test::SimFixture;

const std::vector<std::string> kDefaultLines = {
    "Physical Drive 0 ORBENNEPA256SSD OB2310A00417 238G SATA",
    "Physical Drive 1 ORBENNETA512SSD OB2402B00417 476G USB",
};

TEST(SimBayEnumeration, TheDefaultBayListsItsTwoFamilyDrives) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  DriveListModel list;
  EnumerateDrives(sim.ctx(), list);
  EXPECT_EQ(list.lines(), kDefaultLines);
  EXPECT_EQ(sim.ctx().ucSelDrive, 1);
  EXPECT_EQ(sim.ctx().DriveTable[0].strKnownModel, "PA256");
  EXPECT_EQ(sim.ctx().DriveTable[0].usModelClass, 0);
  EXPECT_EQ(sim.ctx().DriveTable[1].strKnownModel, "TA512");
  EXPECT_EQ(sim.ctx().DriveTable[1].usModelClass, 1);
  EXPECT_EQ(sim.ctx().DriveTable[1].ucBusType, kBusUsb);

  sim.ctx().fgSkipModelCheck = 1;
  EnumerateDrives(sim.ctx(), list);
  ASSERT_EQ(list.count(), 3);
  EXPECT_EQ(list.line(2), "Physical Drive 2 VELDRANEVS240SSD VD00090311 223G SATA");
}

TEST(SimBayEnumeration, UnplugAndPlugArriveAsDeviceChanges) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  DriveListModel list;
  EnumerateDrives(sim.ctx(), list);
  std::unique_ptr<DeviceEventSource> events = sim.port->watchDevices();
  ASSERT_NE(events, nullptr);
  auto handle = [&] {
    std::vector<DeviceEvent> got;
    EXPECT_TRUE(events->poll(got, 0));
    int runs = 0;
    for (const DeviceEvent& e : got) runs += OnDeviceChange(sim.ctx(), e, list);
    return runs;
  };

  std::string error;
  ASSERT_TRUE(sim.bay->unplug(0, error)) << error;
  EXPECT_EQ(handle(), 1);
  EXPECT_EQ(list.lines(), std::vector<std::string>{kDefaultLines[1]});
  EXPECT_EQ(sim.ctx().ucSelDrive, 0);

  // The foreign drive comes and goes without a rescan.
  ASSERT_TRUE(sim.bay->unplug(2, error)) << error;
  EXPECT_EQ(handle(), 0);

  ASSERT_TRUE(sim.bay->plug(0, error)) << error;
  EXPECT_EQ(handle(), 1);
  EXPECT_EQ(list.lines(), kDefaultLines);
}

TEST(SimBayEnumeration, ProbeFindsTheFamilyDriveOfASlot) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::string serial, model;
  EXPECT_TRUE(ProbePhysicalDrive(sim.ctx(), 1, serial, model));
  EXPECT_EQ(model, "ORBENNE TA512 SSD" + std::string(23, ' '));
  EXPECT_EQ(serial, "OB2402B00417" + std::string(8, ' '));
  EXPECT_EQ(sim.ctx().selectedDrive().strDevicePath, "sim:1");
  EXPECT_FALSE(ProbePhysicalDrive(sim.ctx(), 2, serial, model));
  EXPECT_FALSE(ProbePhysicalDrive(sim.ctx(), 5, serial, model));
  EXPECT_EQ(sim.ctx().selectedDrive().strDevicePath, "sim:1");
}

struct CliRun {
  int status;
  std::string out, err;
};

CliRun zorvctl(std::vector<std::string> args) {
  args.insert(args.begin(), "zorvctl");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  int status = cli::runZorvctl(static_cast<int>(argv.size()), argv.data(), out, err);
  return {status, out.str(), err.str()};
}

TEST(ZorvctlScan, PaneTextThenDriveLines) {
  test::TempDir dir;
  std::string bay = dir.file("bay");
  CliRun r = zorvctl({"--sim", bay, "scan"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string model0 = "ORBENNE PA256 SSD" + std::string(23, ' ');
  std::string model1 = "ORBENNE TA512 SSD" + std::string(23, ' ');
  EXPECT_EQ(r.out, "Model Name      : " + model0 + "\r\nFirmware Version: S1107A0C\r\n\n\n" +
                       "Model Name      : " + model1 + "\r\nFirmware Version: T1208B1A\r\n\n\n" + kDefaultLines[0] +
                       "\n" + kDefaultLines[1] + "\n");

  r = zorvctl({"--sim", bay, "scan", "--skip-model-check", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["drives"].size(), 3u);
  EXPECT_EQ(j["drives"][2]["physicalDrive"], 2);
  EXPECT_EQ(j["drives"][1]["bus"], "USB");
  EXPECT_EQ(j["drives"][1]["knownModel"], "TA512");
  EXPECT_EQ(j["drives"][1]["modelClass"], 1);
  EXPECT_EQ(j["selected"], 2);
  EXPECT_EQ(j["skipModelCheck"], true);

  r = zorvctl({"--sim", bay, "--drive", "0", "--json", "scan"});
  EXPECT_EQ(nlohmann::json::parse(r.out)["selected"], 0);
  r = zorvctl({"--sim", bay, "--drive", "2", "scan"});
  EXPECT_EQ(r.status, 2);
}

TEST(ZorvctlScan, EmptyBaySaysNoDevice) {
  test::TempDir dir;
  std::string bay = dir.file("bay");
  ASSERT_EQ(zorvctl({"--sim", bay, "scan"}).status, 0);
  std::string error;
  auto handle = sim::SimBay::open(bay, error);
  ASSERT_NE(handle, nullptr) << error;
  ASSERT_TRUE(handle->unplug(0, error) && handle->unplug(1, error)) << error;
  CliRun r = zorvctl({"--sim", bay, "scan"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "No VXA Device Attached\r\n\n\n");
}

TEST(ZorvctlInfo, InformationBlocksWithTheBayVolumes) {
  test::TempDir dir;
  std::string bay = dir.file("bay");
  ASSERT_EQ(zorvctl({"--sim", bay, "scan"}).status, 0);
  std::ofstream(bay + "/mountinfo") << "1 0 8:17 / /media/t512 rw - ext4 /dev/sdb1 rw\n"
                                        "2 0 8:18 / /media/t512b rw - ext4 /dev/sdb2 rw\n";
  CliRun r = zorvctl({"--sim", bay, "info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("Model Name")),
            "ORBENNEPA256SSD-256GB\r\nVer: S1107A0C\r\nSN:  OB2310A00417\r\nDisk 0\r\n"
            "--------End Of Drive Info-------\r\n"
            "ORBENNETA512SSD-512GB\r\nVer: T1208B1A\r\nSN:  OB2402B00417\r\nDisk 1\r\n"
            "Contains volume: /media/t512 /media/t512b\r\n--------End Of Drive Info-------\r\n");

  r = zorvctl({"--sim", bay, "info", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["drives"].size(), 2u);
  EXPECT_EQ(j["drives"][0]["capacityGB"], 256);
  EXPECT_EQ(j["drives"][0]["word135"], "GB");
  EXPECT_TRUE(j["drives"][0]["volumes"].empty());
  EXPECT_EQ(j["drives"][1]["volumes"], (std::vector<std::string>{"/media/t512", "/media/t512b"}));
  EXPECT_EQ(j["drives"][1]["line"], "Physical Drive 1 ORBENNETA512SSD 476G T1208B1A");
  EXPECT_EQ(j["title"], "Firmware Downloader Ver 1.7");
}

}  // namespace
}  // namespace zorv
