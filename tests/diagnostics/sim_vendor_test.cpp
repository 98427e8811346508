// The vendor protocol against the simulated bay: the drive answers what the
// console sends, consistently with its identity, and keeps what it must.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/sim_bay.h"
#include "support/sim_fixture.h"
#include "transport/ata_command.h"
#include "diagnostics/diagnostics_console.h"
#include "diagnostics/info_ssd.h"
#include "diagnostics/operation_table.h"
#include "diagnostics/smart.h"
#include "diagnostics/vendor_command.h"

namespace zorv {
namespace {

using test::SimFixture;

sim::DriveRecord driveIn(SimFixture& sim, int slot) {
  sim::BayRecord rec;
  std::string err;
  EXPECT_TRUE(sim.bay->snapshot(rec, err)) << err;
  return *rec.slots[static_cast<size_t>(slot)].drive;
}

std::span<const uint8_t> reply(SimFixture& sim) { return {sim.ctx().SectorBuffer.data(), 512}; }

class SimVendor : public ::testing::TestWithParam<int> {};

TEST_P(SimVendor, InfoSsdRecordMatchesTheDrive) {
  int slot = GetParam();  // 0: class 0 on SATA, 1: class 1 behind USB
  SimFixture sim(slot);
  ASSERT_TRUE(sim.ok()) << sim.error;
  sim::DriveRecord d = driveIn(sim, slot);
  InfoSsdRecord record;
  ASSERT_TRUE(ReadInfoSsd(sim.ctx(), record).ok());
  uint16_t cls = d.identity.modelClass;
  EXPECT_EQ(cls, slot == 1 ? 1 : 0);
  EXPECT_EQ(record.firmwareVersionField(), d.identity.firmware);
  auto hwid = record.hardwareId(cls);
  EXPECT_EQ(hwid.size(), cls == 1 ? 16u : 9u);
  EXPECT_TRUE(std::equal(d.identity.hwid.begin(), d.identity.hwid.end(), hwid.begin()));
  EXPECT_EQ(record.maxLba(), d.identity.capacity - 1);
  EXPECT_EQ(record.capacityGb(), d.identity.capacity * 512 / 1000000000);
  EXPECT_EQ(record.number(192, 4), d.counters.powerOnHours);
  EXPECT_EQ(record.number(236, 2), static_cast<uint64_t>(d.temperature));
  std::string serial = d.identity.serial;
  EXPECT_EQ(record.firmwareSerial(cls), serial.substr(serial.size() - (cls == 1 ? 8 : 6)));
}

TEST_P(SimVendor, SmartDataHasTheNamedAttributesAndAValidChecksum) {
  int slot = GetParam();
  SimFixture sim(slot);
  ASSERT_TRUE(sim.ok()) << sim.error;
  sim::DriveRecord d = driveIn(sim, slot);
  ASSERT_TRUE(SmartReadData(sim.ctx()));
  auto data = reply(sim);
  uint8_t sum = 0;
  for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  EXPECT_EQ(sum, 0);
  auto attrs = ParseSmartAttributes(data);
  ASSERT_EQ(attrs.size(), 22u);
  for (const SmartAttribute& a : attrs) EXPECT_TRUE(smartAttributeName(a.id)) << int(a.id);
  EXPECT_EQ(attrs[2].raw, d.counters.powerOnHours);
  EXPECT_EQ(attrs[11].id, 0xC2);
  EXPECT_EQ(attrs[11].current, d.temperature);
}

TEST_P(SimVendor, PcbaSectorCarriesThePartNumber) {
  int slot = GetParam();
  SimFixture sim(slot);
  ASSERT_TRUE(sim.ok()) << sim.error;
  bool failed = false;
  EXPECT_EQ(ReadPcbaLine(sim.ctx(), &failed), "PCBA PN    : " + driveIn(sim, slot).identity.pcba + "\r\n");
  EXPECT_FALSE(failed);
  std::string wwn = ReadWwnLine(sim.ctx(), &failed);
  EXPECT_EQ(wwn, "WWN        : " + sim::wwnText(driveIn(sim, slot).identity.wwn) + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(BothClasses, SimVendor, ::testing::Values(0, 1));

TEST(SimVendorProtocol, SmartClearRestartsTheCounters) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::string err;
  ASSERT_TRUE(sim.bay->setTemperature(0, 52, err)) << err;
  ASSERT_TRUE(SmartReadData(sim.ctx()));  // the drive notes its worst temperature
  ASSERT_TRUE(sim.bay->setTemperature(0, 40, err)) << err;
  ASSERT_TRUE(SmartReadData(sim.ctx()));
  EXPECT_EQ(ParseSmartAttributes(reply(sim))[11].worst, 52);
  EXPECT_NE(ParseSmartAttributes(reply(sim))[2].raw, 0u);

  ASSERT_TRUE(SendVendorCommand(sim.ctx(), 0x56, 0x03));
  ASSERT_TRUE(SmartReadData(sim.ctx()));
  auto attrs = ParseSmartAttributes(reply(sim));
  EXPECT_EQ(attrs[2].raw, 0u);   // power-on hours
  EXPECT_EQ(attrs[3].raw, 0u);   // power cycles
  EXPECT_EQ(attrs[11].worst, 40);
  InfoSsdRecord record;
  ASSERT_TRUE(ReadInfoSsd(sim.ctx(), record).ok());
  EXPECT_EQ(record.number(192, 4), 0u);

  // Kept across a power cycle; counting goes on from the clear.
  ASSERT_TRUE(sim.bay->powerCycle(0, err)) << err;
  ASSERT_TRUE(SmartReadData(sim.ctx()));
  EXPECT_EQ(ParseSmartAttributes(reply(sim))[3].raw, 1u);
}

TEST(SimVendorProtocol, UnknownCodesReadAsFfAndThePlainBufferComesBack) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  VendorQueryResult r = VendorQuery(sim.ctx(), 0x99, uint8_t{0x42});
  EXPECT_TRUE(r.ok());
  for (uint8_t b : reply(sim)) ASSERT_EQ(b, 0xFF);
  // A plain write ends the vendor command: the buffer echoes again.
  for (size_t i = 0; i < 512; ++i) sim.ctx().SectorBuffer[i] = static_cast<uint8_t>(i);
  AtaTaskFile w;
  w.ucCommand = 0xE8;
  w.ucCount = 1;
  ASSERT_TRUE(SendAtaCommand(sim.ctx(), true, w, false, 512));
  ASSERT_TRUE(ReadBufferSector(sim.ctx()));
  EXPECT_EQ(reply(sim)[7], 7);
  // A 30h reply is used up by one read; the next read is 0xFF.
  ASSERT_TRUE(VendorQuery(sim.ctx(), 0x30, std::nullopt).ok());
  EXPECT_EQ(reply(sim)[0], 'Z');
  ASSERT_TRUE(ReadBufferSector(sim.ctx()));
  EXPECT_EQ(reply(sim)[0], 0xFF);
}

TEST(SimVendorProtocol, AForeignDriveDoesNotSpeakIt) {
  SimFixture sim(2);
  ASSERT_TRUE(sim.ok()) << sim.error;
  sim.ctx().fgFamilyDrive = 1;  // as if skip-model-check had let it in
  ASSERT_TRUE(VendorQuery(sim.ctx(), 0x30, std::nullopt).ok());
  EXPECT_TRUE(hasVendorSignature(reply(sim)));  // the plain buffer echoes the sector
  EXPECT_FALSE(SendVendorSwitch(sim.ctx(), 0x53, 1));
}

TEST(SimVendorProtocol, SwitchesAreKeptInTheBay) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  StringSink raw;
  RowMemory memory;
  DiagRun run(sim.ctx(), raw, memory);
  PerformOperation(run, 28);  // power down off, RS232 on
  PerformOperation(run, 23);  // skip model name check
  EXPECT_FALSE(run.commandFailed);
  nlohmann::json sw = driveIn(sim, 0).vendor["switches"];
  EXPECT_EQ(sw["powerDownDisabled"], true);
  EXPECT_EQ(sw["rs232Output"], true);
  EXPECT_EQ(sw["skipModelNameCheck"], true);
  PerformOperation(run, 27);
  sw = driveIn(sim, 0).vendor["switches"];
  EXPECT_EQ(sw["powerDownDisabled"], false);
  EXPECT_EQ(sw["rs232Output"], false);
  AtaTaskFile bad;
  bad.ucCommand = 0xF7;
  bad.ucFeature = 0x53;
  bad.ucCount = 2;
  EXPECT_FALSE(SendAtaCommand(sim.ctx(), true, bad, false, 512));
  bad.ucFeature = 0x77;  // no such F7h code
  bad.ucCount = 0;
  EXPECT_FALSE(SendAtaCommand(sim.ctx(), true, bad, false, 512));
}

TEST(SimVendorProtocol, MaxAddressFollowsTheStandard) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  uint64_t capacity = driveIn(sim, 0).identity.capacity;
  StringSink raw;
  RowMemory memory;
  DiagRun run(sim.ctx(), raw, memory);

  PerformOperation(run, 33);
  ASSERT_TRUE(run.addressBox);
  EXPECT_EQ(readAddressBox(*run.addressBox), capacity - 1);

  run.inputs.address = formatText("%llXh", static_cast<unsigned long long>(capacity / 2 - 1));
  PerformOperation(run, 34);
  EXPECT_FALSE(run.commandFailed);
  EXPECT_EQ(driveIn(sim, 0).accessibleMax, capacity / 2);
  AtaTaskFile id;
  id.ucCommand = 0xEC;
  id.ucCount = 1;
  id.ucDevice = 0x40;
  ASSERT_TRUE(SendAtaCommand(sim.ctx(), false, id, false, 512));
  uint32_t lo = static_cast<uint32_t>(sim.ctx().SectorBuffer[200] | sim.ctx().SectorBuffer[201] << 8 |
                                      sim.ctx().SectorBuffer[202] << 16 | sim.ctx().SectorBuffer[203] << 24);
  EXPECT_EQ(lo, capacity / 2);

  // Beyond the native max address GET read: refused before anything is sent.
  run.inputs.address = formatText("%llX", static_cast<unsigned long long>(capacity));
  PerformOperation(run, 34);
  EXPECT_TRUE(run.inputRefused);
  EXPECT_FALSE(run.commandFailed);
  EXPECT_EQ(driveIn(sim, 0).accessibleMax, capacity / 2);

  run.commandFailed = false;
  PerformOperation(run, 35);
  EXPECT_FALSE(run.commandFailed);
  run.inputs.address = formatText("%llX", static_cast<unsigned long long>(capacity - 1));
  PerformOperation(run, 34);  // frozen
  EXPECT_TRUE(run.commandFailed);
  EXPECT_EQ(driveIn(sim, 0).accessibleMax, capacity / 2);

  std::string err;
  ASSERT_TRUE(sim.bay->powerCycle(0, err)) << err;
  run.commandFailed = false;
  PerformOperation(run, 34);  // a power cycle ends the freeze
  EXPECT_FALSE(run.commandFailed);
  uint64_t restored = driveIn(sim, 0).accessibleMax;
  EXPECT_TRUE(restored == 0 || restored == capacity) << restored;  // the whole capacity again
}

TEST(SimVendorProtocol, ConsoleRunReportsTheDrivesSerialCapacityAndTemperature) {
  SimFixture sim(1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  sim::DriveRecord d = driveIn(sim, 1);
  StringSink raw;
  DiagnosticsConsole console(sim.ctx(), raw);
  console.setDirectory(sim.dir.path());
  console.onCommandChanged(0);
  console.onSecondDumpToggled(true);
  console.onSecondCommandChanged(19);
  console.onMakeReportToggled(true);
  auto result = console.RunDiagnostics();
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->ok()) << sim.pane.text();
  EXPECT_EQ(result->modelClass, 1);

  std::ifstream in(std::filesystem::path(sim.dir.path()) / ReportName(console.clock()), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::string report = s.str();
  std::string header = report.substr(0, report.find("\r\n") + 2);
  EXPECT_EQ(header, ReportHeaderLine(1));
  std::string record = report.substr(header.size());
  std::vector<std::string> cols;
  for (size_t p = 0, c; (c = record.find(',', p)) != std::string::npos; p = c + 1) cols.push_back(record.substr(p, c - p));
  ASSERT_EQ(cols.size(), 23u) << record;
  EXPECT_EQ(cols[2], sim.ctx().selectedDrive().strSerial);
  EXPECT_EQ(cols[2], d.identity.serial);
  EXPECT_EQ(cols[3], formatText("%uG", static_cast<unsigned>(d.identity.capacity >> 21)));
  EXPECT_EQ(cols[18], formatText("0x%02X", d.temperature));  // TempN
  EXPECT_EQ(cols[20], "0x64");                               // SSD Life
}

}  // namespace
}  // namespace zorv
