#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "sim/bay_store.h"
#include "sim/sim_port.h"
#include "sim_test_util.h"

namespace zorv {
namespace {

using nlohmann::json;
using test::TempDir;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// One run of the program: a bay, a port and a context on slot `slot`.
struct ProgramRun {
  ProgramRun(const std::string& dir, ManualClock& clock, int slot) {
    bay = sim::SimBay::open(dir, error, {&clock});
    if (!bay) return;
    port = sim::makeSimPort(bay);
    ctx = std::make_unique<Context>(*port, ui, clock, pane);
    ctx->DriveTable[0].strDevicePath = "sim:" + std::to_string(slot);
    ctx->DriveTable[0].ucBusType = kBusSata;
    ctx->ucDriveCount = 1;
    ctx->ucSelDrive = 0;
    ctx->fgFamilyDrive = 1;
  }
  std::string error;
  std::shared_ptr<sim::SimBay> bay;
  std::unique_ptr<DevicePort> port;
  test::RecordingUi ui;
  StringSink pane;
  std::unique_ptr<Context> ctx;
};

TEST(SimPersistence, WhatARunWritesIsThereInTheNextRun) {
  TempDir dir;
  ManualClock clock;
  sim::Counters before;
  uint8_t spiByte = 0;
  {
    ProgramRun run(dir.path(), clock, 0);
    ASSERT_TRUE(run.bay) << run.error;
    before = run.bay->controller(0)->withDrive([](sim::SimDrive& d) { return d.counters(); });
    test::fillPattern(*run.ctx, 64 * 512, 77);
    ASSERT_TRUE(WriteBlocks(*run.ctx, 400000000, 64, 512));
    bool ok = run.bay->controller(0)->withDrive([&](sim::SimDrive& d) {
      d.vendorState()["testFamily"] = {{"cleared", true}};
      spiByte = static_cast<uint8_t>(d.spiFlash()[100] ^ 0xA5);
      d.spiFlash()[100] = spiByte;
      return d.setFirmware("S1108A01") && d.saveVendorState();
    });
    ASSERT_TRUE(ok);
  }
  ProgramRun run(dir.path(), clock, 0);
  ASSERT_TRUE(run.bay) << run.error;
  std::memset(run.ctx->SectorBuffer.data(), 0, 64 * 512);
  ASSERT_TRUE(ReadBlocks(*run.ctx, 400000000, 64, false));
  EXPECT_TRUE(test::hasPattern(*run.ctx, 64 * 512, 77));
  ASSERT_TRUE(test::sendIdentify(*run.ctx));
  EXPECT_EQ(test::ataString(*run.ctx, 23, 4), "S1108A01");
  run.bay->controller(0)->withDrive([&](sim::SimDrive& d) {
    EXPECT_EQ(d.vendorState()["testFamily"]["cleared"], true);
    EXPECT_EQ(d.spiFlash()[100], spiByte);
    sim::Counters after = d.counters();
    EXPECT_EQ(after.sectorsWritten, before.sectorsWritten + 64);
    EXPECT_GE(after.commands, before.commands + 1);
  });
}

TEST(SimPersistence, CountersOfTwoProcessesAddUp) {
  TempDir dir;
  ManualClock clock;
  ProgramRun a(dir.path(), clock, 0);
  ProgramRun b(dir.path(), clock, 0);
  ASSERT_TRUE(a.bay && b.bay);
  uint64_t base = a.bay->controller(0)->withDrive([](sim::SimDrive& d) { return d.counters().sectorsRead; });
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ReadBlocks(*a.ctx, 0, 8, false));
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(ReadBlocks(*b.ctx, 0, 2, false));
  std::string error;
  ASSERT_TRUE(a.bay->flush(error)) << error;
  ASSERT_TRUE(b.bay->flush(error)) << error;
  sim::BayRecord record;
  ASSERT_TRUE(a.bay->snapshot(record, error)) << error;
  EXPECT_EQ(record.slots[0].drive->counters.sectorsRead, base + 3 * 8 + 5 * 2);
}

TEST(SimPersistence, AnEmptyDirectoryGetsTheDefaultBay) {
  TempDir dir;
  ManualClock clock;
  ProgramRun run(dir.path(), clock, 0);
  ASSERT_TRUE(run.bay) << run.error;
  sim::BayRecord record;
  std::string error;
  ASSERT_TRUE(run.bay->snapshot(record, error));
  ASSERT_TRUE(record.slots[0].present() && record.slots[1].present() && record.slots[2].present());
  EXPECT_EQ(record.slots[0].drive->identity.modelClass, 0);
  EXPECT_EQ(record.slots[0].drive->identity.bus, sim::SimBus::Sata);
  EXPECT_EQ(record.slots[1].drive->identity.modelClass, 1);
  EXPECT_EQ(record.slots[1].drive->identity.bus, sim::SimBus::Usb);
  EXPECT_FALSE(record.slots[2].drive->identity.family);
  EXPECT_EQ(record.slots[2].drive->identity.model.rfind("ORBENNE", 0), std::string::npos);
  for (int i = 3; i < 8; ++i) EXPECT_FALSE(record.slots[static_cast<size_t>(i)].drive.has_value());
}

struct BadBayCase {
  const char* what;
  std::function<void(const std::string& dir)> spoil;
  const char* file;      // the file the error names
  const char* mention;   // and the field or reason
};

void editJson(const std::string& dir, const std::function<void(json&)>& edit) {
  json j = json::parse(readFile(dir + "/bay.json"));
  edit(j);
  writeFile(dir + "/bay.json", j.dump(2));
}

TEST(SimPersistence, BadBayFilesGiveAClearErrorAndAreNotOverwritten) {
  const BadBayCase cases[] = {
      {"missing description", [](const std::string& d) { std::filesystem::remove(d + "/bay.json"); }, "bay.json",
       "missing"},
      {"truncated description",
       [](const std::string& d) {
         std::string text = readFile(d + "/bay.json");
         writeFile(d + "/bay.json", text.substr(0, text.size() / 2));
       },
       "bay.json", "not valid JSON"},
      {"number beyond any integer or double",
       [](const std::string& d) {
         std::string text = readFile(d + "/bay.json");
         size_t at = text.find("\"nextDriveId\": ") + 15;
         writeFile(d + "/bay.json", text.substr(0, at) + "5001e8192" + text.substr(text.find_first_of(",\n", at)));
       },
       "bay.json", "not valid JSON"},
      {"capacity of the wrong type",
       [](const std::string& d) { editJson(d, [](json& j) { j["slots"][0]["drive"]["capacity"] = "lots"; }); },
       "bay.json", "slots[0].drive.capacity: expected an unsigned integer"},
      {"serial missing",
       [](const std::string& d) { editJson(d, [](json& j) { j["slots"][1]["drive"].erase("serial"); }); }, "bay.json",
       "slots[1].drive.serial: missing"},
      {"unknown bus",
       [](const std::string& d) { editJson(d, [](json& j) { j["slots"][2]["drive"]["bus"] = "scsi"; }); }, "bay.json",
       "slots[2].drive.bus"},
      {"seven slots", [](const std::string& d) { editJson(d, [](json& j) { j["slots"].erase(7); }); }, "bay.json",
       "slots: expected an array of 8 slots"},
      {"fault of an unknown kind",
       [](const std::string& d) {
         editJson(d, [](json& j) { j["slots"][0]["drive"]["faults"] = {{{"id", 1}, {"kind", "melt"}}}; });
       },
       "bay.json", "slots[0].drive.faults[0].kind"},
      {"media file of the wrong size",
       [](const std::string& d) { std::filesystem::resize_file(d + "/slot0/media.img", 4096); }, "slot0/media.img",
       "4096 bytes"},
      {"SPI flash image truncated",
       [](const std::string& d) { std::filesystem::resize_file(d + "/slot1/spi.bin", 1000); }, "slot1/spi.bin",
       "1000 bytes"},
  };
  for (const BadBayCase& c : cases) {
    TempDir dir;
    {
      std::string error;
      ASSERT_TRUE(sim::SimBay::open(dir.path(), error)) << error;  // made, with its drive files
    }
    c.spoil(dir.path());
    std::string spoiledPath = dir.file(c.file);
    bool exists = std::filesystem::exists(spoiledPath);
    std::string spoiled = exists ? readFile(spoiledPath) : std::string();
    std::string error;
    EXPECT_EQ(sim::SimBay::open(dir.path(), error), nullptr) << c.what;
    EXPECT_NE(error.find(spoiledPath), std::string::npos) << c.what << ": " << error;
    EXPECT_NE(error.find(c.mention), std::string::npos) << c.what << ": " << error;
    EXPECT_EQ(std::filesystem::exists(spoiledPath), exists) << c.what;
    if (exists) {
      EXPECT_EQ(readFile(spoiledPath), spoiled) << c.what << ": the file was rewritten";
    }
    std::string portError;
    EXPECT_EQ(sim::openSimPort(dir.path(), portError), nullptr) << c.what;
    EXPECT_EQ(portError, error);
  }
}

TEST(SimPersistence, ABayEditedBadlyMidRunKeepsTheDrivesAsTheyWere) {
  test::SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::string path = sim.dir.file("bay.json");
  std::string good = readFile(path);
  writeFile(path, "{ \"format\": ");
  // Announce a change, as a process that wrote the file would.
  {
    std::fstream seq(sim.dir.file("bay.seq"), std::ios::in | std::ios::out | std::ios::binary);
    uint64_t n = 0;
    seq.read(reinterpret_cast<char*>(&n), sizeof n);
    ++n;
    seq.seekp(0);
    seq.write(reinterpret_cast<const char*>(&n), sizeof n);
  }
  EXPECT_TRUE(test::sendIdentify(sim.ctx()));
  EXPECT_TRUE(ReadBlocks(sim.ctx(), 0, 1, false));
  EXPECT_NE(sim.bay->lastError().find("bay.json: not valid JSON"), std::string::npos) << sim.bay->lastError();
  EXPECT_EQ(readFile(path), "{ \"format\": ");
  writeFile(path, good);
}

}  // namespace
}  // namespace zorv
