#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <thread>

#include "sim_test_util.h"

namespace zorv {
namespace {

using test::SimFixture;

// The device ID a device-change handler derives from an interface name:
// drop four characters, cut at the last '#', '#' -> '\', upper case.
std::string deviceId(const std::string& interfaceName) {
  std::string id = interfaceName.substr(4);
  id = id.substr(0, id.rfind('#'));
  std::replace(id.begin(), id.end(), '#', '\\');
  std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return std::toupper(c); });
  return id;
}

std::vector<DeviceEvent> pollNow(DeviceEventSource& source) {
  std::vector<DeviceEvent> events;
  EXPECT_TRUE(source.poll(events, 0));
  return events;
}

TEST(SimHotPlug, UnplugAndPlugFromAnotherProcessReachTheRunningProgram) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  auto watch = sim.port->watchDevices();
  ASSERT_NE(watch, nullptr);
  EXPECT_TRUE(pollNow(*watch).empty()) << "drives present at start are no news";
  test::fillPattern(ctx, 4096, 11);
  ASSERT_TRUE(WriteBlocks(ctx, 777, 8, 512));

  std::string error;
  auto other = sim::SimBay::open(sim.dir.path(), error);  // as `zorvctl sim unplug 0` would
  ASSERT_TRUE(other) << error;
  ASSERT_TRUE(other->unplug(0, error)) << error;
  std::vector<DeviceEvent> events = pollNow(*watch);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, DeviceEventKind::Removal);
  EXPECT_EQ(deviceId(events[0].interfaceName).rfind("SCSI\\DISK&VEN_ORBENNE&PROD_PA256_SSD\\", 0), 0u)
      << events[0].interfaceName;
  EXPECT_FALSE(ReadBlocks(ctx, 777, 8, false));
  uint8_t bus = 0;
  EXPECT_EQ(sim.port->queryBusType("sim:0", bus).error, IoError::NoDevice);
  EXPECT_FALSE(other->unplug(0, error)) << "already out";

  ASSERT_TRUE(other->plug(0, error)) << error;
  events = pollNow(*watch);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, DeviceEventKind::Arrival);
  std::memset(ctx.SectorBuffer.data(), 0, 4096);
  ASSERT_TRUE(ReadBlocks(ctx, 777, 8, false)) << "the same drive, with what was written";
  EXPECT_TRUE(test::hasPattern(ctx, 4096, 11));
  EXPECT_FALSE(other->plug(0, error)) << "already in";
}

TEST(SimHotPlug, EventNamesCarryTheModelSoBrandFilteringWorks) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  auto watch = sim.bay->watch();
  std::string error;
  for (int slot : {0, 1, 2}) ASSERT_TRUE(sim.bay->powerCycle(slot, error)) << error;
  std::vector<DeviceEvent> events = pollNow(*watch);
  ASSERT_EQ(events.size(), 6u);
  for (size_t i = 0; i < 6; i += 2) {
    EXPECT_EQ(events[i].kind, DeviceEventKind::Removal);
    EXPECT_EQ(events[i + 1].kind, DeviceEventKind::Arrival);
    EXPECT_EQ(events[i].interfaceName, events[i + 1].interfaceName);
  }
  std::string sata = deviceId(events[0].interfaceName);
  std::string usb = deviceId(events[2].interfaceName);
  std::string foreign = deviceId(events[4].interfaceName);
  EXPECT_EQ(usb.substr(0, usb.find('\\')), "USBSTOR");
  EXPECT_EQ(sata.substr(0, sata.find('\\')), "SCSI");
  EXPECT_NE(usb.find("VEN_ORBENNE&PROD_TA512_SSD"), std::string::npos) << usb;
  EXPECT_NE(sata.find("ORBENNE"), std::string::npos);
  EXPECT_EQ(foreign.find("ORBENNE"), std::string::npos) << foreign;
  EXPECT_NE(foreign.find("VELDRANE"), std::string::npos) << foreign;
}

TEST(SimHotPlug, PlugANewDriveIntoAnEmptyOrUnpluggedSlot) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  auto watch = sim.bay->watch();
  std::string error;
  sim::DriveRecord d = sim::familyDrive(1, sim::SimBus::Sata, 3);
  d.identity.model = "ORBENNE TM1T SSD";
  ASSERT_TRUE(sim.bay->plug(5, d, error)) << error;
  EXPECT_FALSE(sim.bay->plug(5, d, error)) << "a plugged drive is not replaced";
  std::vector<DeviceEvent> events = pollNow(*watch);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].interfaceName.find("PROD_TM1T_SSD"), std::string::npos);
  ASSERT_TRUE(sim.select(5));
  ASSERT_TRUE(test::sendIdentify(sim.ctx()));
  EXPECT_EQ(test::ataString(sim.ctx(), 27, 20), test::padded("ORBENNE TM1T SSD", 40));

  // Replacing an unplugged drive: a new drive with fresh media.
  test::fillPattern(sim.ctx(), 512, 2);
  ASSERT_TRUE(WriteBlocks(sim.ctx(), 0, 1, 512));
  ASSERT_TRUE(sim.bay->unplug(5, error));
  ASSERT_TRUE(sim.bay->plug(5, sim::foreignDrive(sim::SimBus::Usb), error)) << error;
  ASSERT_TRUE(sim.select(5));
  EXPECT_EQ(sim.ctx().selectedDrive().ucBusType, kBusUsb);
  ASSERT_TRUE(ReadBlocks(sim.ctx(), 0, 1, false));
  for (size_t i = 0; i < 512; ++i) ASSERT_EQ(sim.ctx().SectorBuffer[i], 0);

  sim::DriveRecord bad = sim::familyDrive(0, sim::SimBus::Sata);
  bad.identity.model = std::string(41, 'X');
  EXPECT_FALSE(sim.bay->plug(6, bad, error));
  EXPECT_NE(error.find("model"), std::string::npos);
}

TEST(SimHotPlug, AWaitingPollWakesWhenAnotherThreadUnplugs) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  auto watch = sim.bay->watch();
  std::vector<DeviceEvent> events;
  std::thread waiter([&] { watch->poll(events, 10000); });
  std::string error;
  auto other = sim::SimBay::open(sim.dir.path(), error);
  ASSERT_TRUE(other && other->unplug(1, error)) << error;
  waiter.join();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, DeviceEventKind::Removal);
}

// Two processes and several threads change one bay at once; every change
// lands (no lost update) and the description stays whole.
// Another process through fork(): POSIX systems only.
#ifndef _WIN32
TEST(SimHotPlug, ConcurrentChangersNeverCorruptTheBay) {
  test::TempDir dir;
  std::string error;
  {
    auto bay = sim::SimBay::open(dir.path(), error);
    ASSERT_TRUE(bay) << error;
    for (int slot = 3; slot < 8; ++slot)
      ASSERT_TRUE(bay->plug(slot, sim::familyDrive(0, sim::SimBus::Sata, static_cast<uint32_t>(slot)), error));
  }
  constexpr int kCycles = 15;
  auto cycle = [&](int slot) {
    std::string e;
    auto bay = sim::SimBay::open(dir.path(), e);
    if (!bay) return false;
    for (int i = 0; i < kCycles; ++i)
      if (!bay->unplug(slot, e) || !bay->plug(slot, e)) return false;
    return true;
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(cycle(7) ? 0 : 1);
  bool ok[3] = {};
  std::thread threads[3];
  for (int t = 0; t < 3; ++t) threads[t] = std::thread([&, t] { ok[t] = cycle(3 + t); });
  for (auto& t : threads) t.join();
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (bool b : ok) EXPECT_TRUE(b);

  auto bay = sim::SimBay::open(dir.path(), error);
  ASSERT_TRUE(bay) << error;
  sim::BayRecord record;
  ASSERT_TRUE(bay->snapshot(record, error)) << error;
  for (int slot = 3; slot < 8; ++slot) {
    const sim::SlotRecord& s = record.slots[static_cast<size_t>(slot)];
    EXPECT_TRUE(s.present());
    uint64_t expected = slot == 6 ? 1 : 1 + 2 * kCycles;
    EXPECT_EQ(s.generation, expected) << "slot " << slot;
  }
}

#endif

}  // namespace
}  // namespace zorv
