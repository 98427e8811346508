// Every operation that talks to a drive, under every fault the simulated bay
// can inject: a command error (ATA status or, behind the USB bridge, sense
// data), a command that never answers, short data, NOT READY, a medium
// error or damaged data where the operation reads, and the drive pulled out
// in the middle. Each operation first runs on an intact drive (it must pass
// there, and the number of commands it sends places the faults that land in
// its middle); then each fault gets a fresh bay. Whenever the fault was met,
// the operation must return, say that it failed, never show its success text,
// and leave the drive's data outside what it may write as it was.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <array>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics/operation_table.h"
#include "firmware/download.h"
#include "firmware/package_download.h"
#include "fwdl_support.h"
#include "identify/identify_view.h"
#include "media_sim.h"
#include "mediatest/media_test_params.h"
#include "rma/station_run.h"
#include "sim/sim_bay.h"
#include "sim/sim_drive.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

using sim::Fault;
using sim::FaultKind;

// Forwards to the bay's port and counts the commands sent; at command
// `armAt` (before it goes out) it adds a fault to the drive or unplugs it,
// so that a fault lands in the middle of an operation.
class FaultPort : public DevicePort {
 public:
  FaultPort(DevicePort& inner, sim::SimBay& bay, int slot) : inner_(inner), bay_(bay), slot_(slot) {}
  std::string_view name() const override { return inner_.name(); }
  std::string physicalDrivePath(int n) const override { return inner_.physicalDrivePath(n); }
  IoOutcome queryBusType(const std::string& path, uint8_t& bus) override { return inner_.queryBusType(path, bus); }
  IoOutcome probeExclusive(const std::string& path) override { return inner_.probeExclusive(path); }
  std::string blockDevicePath(const std::string& path) const override { return inner_.blockDevicePath(path); }
  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& r) override {
    meet();
    return inner_.ataPassThrough(path, r);
  }
  bool carriesAtaDataByte() const override { return inner_.carriesAtaDataByte(); }
  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& r) override {
    meet();
    return inner_.scsiPassThrough(path, r);
  }
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& r) override {
    meet();
    return inner_.submitQueued(path, slot, r);
  }
  SlotState pollSlot(int slot) override { return inner_.pollSlot(slot); }
  void waitQueued(std::chrono::milliseconds timeout) override { inner_.waitQueued(timeout); }
  void drainQueue() override { inner_.drainQueue(); }
  void abandonQueue() override { inner_.abandonQueue(); }
  std::unique_ptr<DeviceEventSource> watchDevices() override { return inner_.watchDevices(); }

  void arm(size_t at, std::optional<Fault> fault) {
    std::lock_guard lock(mutex_);
    armAt_ = at;
    fault_ = fault;
  }
  size_t commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  bool fired() const {
    std::lock_guard lock(mutex_);
    return fired_;
  }

 private:
  void meet() {
    std::lock_guard lock(mutex_);
    ++commands_;
    if (fired_ || armAt_ == 0 || commands_ != armAt_) return;
    fired_ = true;
    std::string error;
    bool done = fault_ ? bay_.addFault(slot_, *fault_, error) : bay_.unplug(slot_, error);
    EXPECT_TRUE(done) << error;
  }

  DevicePort& inner_;
  sim::SimBay& bay_;
  int slot_;
  mutable std::mutex mutex_;
  size_t commands_ = 0;
  size_t armAt_ = 0;
  std::optional<Fault> fault_;  // none: unplug
  bool fired_ = false;
};

// Where an injection lands.
enum class When { Before, Middle, Last };

struct Injection {
  std::string name;
  When when = When::Before;
  std::optional<Fault> fault;  // none: the drive is unplugged
  bool readsOnly = false;      // a media fault: only for operations that read the media back
};

// Faults that stay until the operation ends: a retry must not turn them into a pass.
constexpr uint32_t kPersistent = 100000;

Fault fail(int opcode) { return Fault{.kind = FaultKind::Fail, .opcode = opcode, .count = kPersistent}; }
Fault senseError(int opcode) {
  return Fault{.kind = FaultKind::Fail, .opcode = opcode, .count = kPersistent, .senseKey = 0x04, .asc = 0x44, .ascq = 0};
}
Fault timeout(int opcode) { return Fault{.kind = FaultKind::Timeout, .opcode = opcode, .count = kPersistent}; }
Fault shortData(int opcode) { return Fault{.kind = FaultKind::Short, .opcode = opcode, .count = kPersistent, .bytes = 100}; }
Fault notReady() { return Fault{.kind = FaultKind::NotReady, .count = kPersistent}; }

// The LBAs whose data no operation here may change, and the range the
// writing operations (media write tests, RMA write/read test) may use.
constexpr uint64_t kRangeStart = 0x1000;
constexpr uint64_t kRangeEnd = 0x1800;
constexpr std::array<uint64_t, 4> kMarkerLbas = {0x10, kRangeStart - 1, kRangeEnd, 0x40000};

struct Outcome {
  bool succeeded = false;
  std::string text;  // everything the operation showed: pane, boxes, result texts
};

// One operation on a fresh bay. `start` runs it on the bay's selected drive
// through the fault port and says how it went.
struct SweepBench {
  explicit SweepBench(int driveSlot) : sim(driveSlot), slot(driveSlot) {
    if (!sim.ok()) return;
    port = std::make_unique<FaultPort>(*sim.port, *sim.bay, driveSlot);
    sim.ctx().port = port.get();
  }
  test::SimFixture sim;
  int slot;
  std::unique_ptr<FaultPort> port;
};

struct RunHooks {
  std::function<void(sim::SimBay&, FaultPort&)> prepare;
  std::function<void(sim::SimBay&, FaultPort&)> after;
};

struct SweptOperation {
  std::string name;
  int slot = 0;
  std::vector<int> keyOpcodes;  // the commands the operation depends on
  bool readsMedia = false;      // reads [kRangeStart, kRangeEnd) back
  // The texts only a success shows.
  std::vector<std::string> successTexts;
  // Runs the operation on a fresh default bay with the drive of `slot`
  // selected: hooks.prepare sets the injection up once the bay is made,
  // hooks.after looks at the bay once the operation has returned.
  std::function<Outcome(const RunHooks& hooks)> run;
};

std::string boxesText(const test::RecordingUi& ui) {
  std::string out;
  for (const auto& b : ui.boxes) out += b.text + "\n";
  return out;
}

// ---- the operations ---------------------------------------------------------

SweptOperation identifyOperation(int slot) {
  SweptOperation op{"Identify" + std::to_string(slot), slot, {0xEC, 0x85, 0xA1}, false, {}, {}};
  op.run = [slot](const RunHooks& hooks) {
    SweepBench b(slot);
    EXPECT_TRUE(b.sim.ok()) << b.sim.error;
    hooks.prepare(*b.sim.bay, *b.port);
    Outcome o;
    o.succeeded = SendIdentifyDevice(b.sim.ctx());
    o.text = b.sim.pane.text() + boxesText(b.sim.ui);
    hooks.after(*b.sim.bay, *b.port);
    return o;
  };
  return op;
}

DiagInputs sweepInputs() {
  DiagInputs in;
  in.channel = "1";
  in.chip = "0";
  in.die = "0";
  in.plane = "1";
  in.block = "20";
  in.raid = "1";
  in.startPpn = "100";
  in.endPpn = "104";
  in.map = "00";
  in.startMemory = "0";
  in.memoryLength = "400";
  in.address = "1000000";
  return in;
}

// The texts a row shows when it did what it was asked.
std::vector<std::string> rowSuccessTexts(const VendorOperation& row) {
  std::vector<std::string> out;
  if (!row.message.empty()) out.emplace_back(row.message);
  for (size_t i = 0; i < row.switchCount; ++i) out.emplace_back(row.switches[i].message);
  if (row.kind == OperationKind::SmartRead) out.emplace_back("S.M.A.R.T. Read Success");
  if (row.kind == OperationKind::MaxAddress && row.feature == 2) out.emplace_back("Freeze Accessible Max Address");
  return out;
}

std::vector<int> rowOpcodes(const VendorOperation& row) {
  switch (row.kind) {
    case OperationKind::SmartRead: return {0xB0};
    case OperationKind::Switches: return {0xF7};
    case OperationKind::MaxAddress: return {0x78};
    case OperationKind::Procedure: return {row.code, 0xE8, 0xE4};
    default: return {0xE8, 0xE4};
  }
}

SweptOperation vendorRowOperation(size_t index, int slot) {
  const VendorOperation& row = VendorOperationList()[index];
  SweptOperation op{"Vendor_" + std::string(row.text), slot, rowOpcodes(row), false, rowSuccessTexts(row), {}};
  op.run = [index, slot](const RunHooks& hooks) {
    SweepBench b(slot);
    EXPECT_TRUE(b.sim.ok()) << b.sim.error;
    hooks.prepare(*b.sim.bay, *b.port);
    RowMemory memory;
    StringSink pane;
    DiagRun run(b.sim.ctx(), pane, memory);
    run.inputs = sweepInputs();
    run.modelClass = b.sim.ctx().selectedDrive().usModelClass;
    run.directory = b.sim.dir.path();
    b.sim.ui.files.push_back(b.sim.dir.file("spi flash.bin"));
    std::string text = PerformOperation(run, index);
    Outcome o;
    o.succeeded = !run.commandFailed && !run.inputRefused && !run.stopped;
    o.text = text + "\n" + pane.text() + boxesText(b.sim.ui) + b.sim.pane.text();
    hooks.after(*b.sim.bay, *b.port);
    return o;
  };
  return op;
}

SweptOperation firmwareBinOperation(int slot) {
  SweptOperation op{"FirmwareBin" + std::to_string(slot), slot, {0x92, 0x93, 0xE8, 0xE4}, false,
                    {std::string(firmware::kUpdateDoneText)}, {}};
  op.run = [slot](const RunHooks& hooks) {
    SweepBench b(slot);
    EXPECT_TRUE(b.sim.ok()) << b.sim.error;
    b.sim.ctx().fgFamilyDrive = 1;
    b.sim.ctx().fgVendorCdbEnable = 1;
    const std::vector<uint8_t> image = fwdl::imageFor(*b.sim.bay, slot, slot == 0 ? "S1108A" : "T1209B", 3 * 65536);
    hooks.prepare(*b.sim.bay, *b.port);
    struct : ProgressSink {
      void setRange(int, int) override {}
      void setPosition(int) override {}
    } progress;
    firmware::DownloadRequest request;
    request.image = image;
    firmware::DownloadResult r = firmware::downloadFirmware(b.sim.ctx(), request, progress);
    Outcome o;
    o.succeeded = r.updated();
    o.text = r.messageText + "\n" + b.sim.pane.text() + boxesText(b.sim.ui);
    hooks.after(*b.sim.bay, *b.port);
    return o;
  };
  return op;
}

// A start from the firmware package tab: its option switches, then the download.
SweptOperation firmwareTabOperation(int slot) {
  SweptOperation op{"FirmwareTab" + std::to_string(slot), slot, {0xF7, 0x92, 0x93}, false,
                    {std::string(firmware::kUpdateDoneText)}, {}};
  op.run = [slot](const RunHooks& hooks) {
    SweepBench b(slot);
    EXPECT_TRUE(b.sim.ok()) << b.sim.error;
    b.sim.ctx().fgFamilyDrive = 1;
    b.sim.ctx().fgVendorCdbEnable = 1;
    const std::vector<uint8_t> image = fwdl::imageFor(*b.sim.bay, slot, slot == 0 ? "S1108A" : "T1209B", 2 * 65536);
    hooks.prepare(*b.sim.bay, *b.port);
    struct : ProgressSink {
      void setRange(int, int) override {}
      void setPosition(int) override {}
    } progress;
    firmware::DownloadSwitches switches;
    switches.disablePowerDown = true;
    switches.skipModelNameCheck = true;
    StringSink box;
    firmware::TabDownloadResult r = firmware::runTabDownload(b.sim.ctx(), image, switches, box, progress);
    Outcome o;
    o.succeeded = r.updated();
    o.text = box.text() + "\n" + (r.download ? r.download->messageText : "") + "\n" + b.sim.pane.text() +
             boxesText(b.sim.ui);
    hooks.after(*b.sim.bay, *b.port);
    return o;
  };
  return op;
}

SweptOperation mediaOperation(std::string name, int slot, uint16_t opCode, bool verify, uint16_t writeType = 0) {
  const bool writes = isWriteTestCode(opCode);
  SweptOperation op{std::move(name), slot, {0x28, 0x2A}, verify || !writes, {}, {}};
  op.run = [slot, opCode, verify, writeType](const RunHooks& hooks) {
    test::MediaSim m(slot);
    EXPECT_TRUE(m.ok()) << m.sim.error;
    FaultPort port(*m.spy, *m.sim.bay, slot);
    m.sim.ctx().port = &port;
    hooks.prepare(*m.sim.bay, port);
    MediaTestParams p = test::testParams(opCode, kRangeStart, kRangeEnd, 0x40, 12);
    p.fgReadVerify = verify ? 1 : 0;
    p.usWriteType = writeType;
    if (writeType == kWriteTypeQueued) p._fgNCQEnable = 1;
    MediaTestResult r = m.run(p);
    Outcome o;
    o.succeeded = r.passed();
    o.text = m.lines.text() + m.sim.pane.text() + boxesText(m.sim.ui);
    hooks.after(*m.sim.bay, port);
    return o;
  };
  return op;
}

SweptOperation rmaOperation(int slot) {
  SweptOperation op{"Rma" + std::to_string(slot), slot, {0x28, 0x2A, 0xEC, 0xE8, 0xE4}, true, {}, {}};
  op.run = [slot](const RunHooks& hooks) {
    rmatest::StationRun s('A', {}, slot);
    EXPECT_TRUE(s.sim.ok()) << s.sim.error;
    FaultPort port(*s.sim.port, *s.sim.bay, slot);
    s.sim.ctx().port = &port;
    hooks.prepare(*s.sim.bay, port);
    Outcome o;
    rma::RunStart start = s.enter(rmatest::kSerial);
    std::string error;
    bool cycled = false;
    for (int i = 0; i <= 70000 && s.station().phase() == rma::RmaPhase::WaitingForPowerCycle; ++i) {
      if (!cycled) {
        cycled = true;
        // The operator's power cycle; a drive pulled out is put back.
        sim::BayRecord bay;
        EXPECT_TRUE(s.sim.bay->snapshot(bay, error)) << error;
        if (bay.slots[static_cast<size_t>(slot)].plugged) {
          EXPECT_TRUE(s.sim.bay->powerCycle(slot, error)) << error;
        } else {
          EXPECT_TRUE(s.sim.bay->plug(slot, error)) << error;
        }
      }
      s.station().tick();
    }
    std::optional<rma::RmaVerdict> verdict = s.station().lastVerdict();
    o.succeeded = start == rma::RunStart::Started && verdict && verdict->passed;
    o.text = s.box.text() + boxesText(s.sim.ui) + s.sim.pane.text() + (verdict ? verdict->errorText : "");
    hooks.after(*s.sim.bay, port);
    return o;
  };
  return op;
}

std::vector<SweptOperation> allOperations() {
  std::vector<SweptOperation> ops;
  for (int slot : {0, 1}) ops.push_back(identifyOperation(slot));
  // Every row that runs without a person: the restore (51h) and the SPI
  // flash write (F714) need a file of the drive's own and are left out.
  for (size_t i = 0; i < kVendorOperationCount; ++i) {
    if (i == 10 || i == 21) continue;
    ops.push_back(vendorRowOperation(i, 0));
  }
  for (int slot : {0, 1}) {
    ops.push_back(firmwareBinOperation(slot));
    ops.push_back(firmwareTabOperation(slot));
  }
  for (int slot : {0, 1}) {
    const std::string s = std::to_string(slot);
    ops.push_back(mediaOperation("SeqRead" + s, slot, kOpSeqRead, false));
    ops.push_back(mediaOperation("RandomAccess" + s, slot, kOpRandomAccess, false));
    ops.push_back(mediaOperation("SeqWriteVerify" + s, slot, kOpSeqWrite, true));
    ops.push_back(mediaOperation("RandomWriteVerify" + s, slot, kOpRandomWrite, true));
    ops.push_back(mediaOperation("SeqWriteQueued" + s, slot, kOpSeqWrite, true, kWriteTypeQueued));
    ops.push_back(rmaOperation(slot));
  }
  return ops;
}

std::vector<Injection> injectionsFor(const SweptOperation& op) {
  std::vector<Injection> out;
  for (int code : op.keyOpcodes) {
    const std::string hex = formatText("%02X", code);
    out.push_back({"FailOn" + hex, When::Before, fail(code)});
    out.push_back({"SenseErrorOn" + hex, When::Before, senseError(code)});
    out.push_back({"TimeoutOn" + hex, When::Before, timeout(code)});
    out.push_back({"ShortOn" + hex, When::Before, shortData(code)});
  }
  for (When when : {When::Before, When::Middle, When::Last}) {
    const std::string at = when == When::Before ? "First" : when == When::Middle ? "Middle" : "Last";
    out.push_back({"FailAt" + at, when, fail(sim::kAnyOpcode)});
    out.push_back({"SenseErrorAt" + at, when, senseError(sim::kAnyOpcode)});
    out.push_back({"TimeoutAt" + at, when, timeout(sim::kAnyOpcode)});
    out.push_back({"ShortAt" + at, when, shortData(sim::kAnyOpcode)});
    out.push_back({"NotReadyAt" + at, when, notReady()});
    out.push_back({"UnplugAt" + at, when, std::nullopt});
  }
  Fault readError{.kind = FaultKind::ReadError, .lba = kRangeStart, .blocks = kRangeEnd - kRangeStart};
  Fault corrupt{.kind = FaultKind::Corrupt, .lba = kRangeStart, .blocks = kRangeEnd - kRangeStart};
  Fault damage{.kind = FaultKind::Damage, .lba = kRangeStart, .blocks = kRangeEnd - kRangeStart};
  out.push_back({"ReadError", When::Before, readError, true});
  out.push_back({"ReadErrorMiddle", When::Middle, readError, true});
  out.push_back({"Corrupt", When::Before, corrupt, true});
  out.push_back({"Damage", When::Before, damage, true});
  return out;
}

// ---- the drive's data -------------------------------------------------------

std::array<uint8_t, 512> markerSector(uint64_t lba) {
  std::array<uint8_t, 512> s{};
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(lba * 31 + i * 7 + 1);
  return s;
}

void writeMarkers(sim::SimBay& bay, int slot) {
  auto controller = bay.controller(slot);
  ASSERT_TRUE(controller);
  controller->withDrive([](sim::SimDrive& d) {
    for (uint64_t lba : kMarkerLbas) {
      auto s = markerSector(lba);
      ASSERT_EQ(d.writeSectors(lba, 1, s.data()), 0);
    }
  });
}

void expectMarkers(sim::SimBay& bay, int slot) {
  std::string error;
  sim::BayRecord record;
  ASSERT_TRUE(bay.snapshot(record, error)) << error;
  if (!record.slots[static_cast<size_t>(slot)].plugged) {
    ASSERT_TRUE(bay.plug(slot, error)) << error;
  }
  ASSERT_TRUE(bay.clearFaults(slot, error)) << error;
  auto controller = bay.controller(slot);
  ASSERT_TRUE(controller);
  controller->withDrive([](sim::SimDrive& d) {
    for (uint64_t lba : kMarkerLbas) {
      std::array<uint8_t, 512> got{};
      ASSERT_EQ(d.readSectors(lba, 1, got.data()), 0);
      EXPECT_TRUE(got == markerSector(lba)) << "LBA " << lba << " changed";
    }
  });
}

// Whether the fault set before the run was met: used up in part or whole.
bool faultMet(sim::SimBay& bay, int slot, uint32_t id) {
  std::string error;
  sim::BayRecord record;
  EXPECT_TRUE(bay.snapshot(record, error)) << error;
  const auto& s = record.slots[static_cast<size_t>(slot)];
  if (!s.drive) return true;
  for (const Fault& f : s.drive->faults)
    if (f.id == id) return f.count != kPersistent;
  return true;
}

// ---- the sweep --------------------------------------------------------------

class FaultSweep : public ::testing::TestWithParam<SweptOperation> {};

// Disabled until its findings are triaged: most cells fail today, and a write
// test behind the USB bridge does not return under one of the faults.
TEST_P(FaultSweep, DISABLED_EveryFaultEndsInAReportedFailure) {
  const SweptOperation& op = GetParam();
  auto noHook = [](sim::SimBay&, FaultPort&) {};

  // On an intact drive the operation passes; its command count places the
  // faults that land in its middle and on its last command.
  size_t commands = 0;
  Outcome clean = op.run({[&](sim::SimBay& bay, FaultPort&) { writeMarkers(bay, op.slot); },
                          [&](sim::SimBay& bay, FaultPort& port) {
                            commands = port.commands();
                            expectMarkers(bay, op.slot);
                          }});
  ASSERT_TRUE(clean.succeeded) << clean.text;
  ASSERT_GT(commands, 0u);
  (void)noHook;

  for (const Injection& inj : injectionsFor(op)) {
    if (inj.readsOnly && !op.readsMedia) continue;
    SCOPED_TRACE(op.name + " / " + inj.name);
    uint32_t id = 0;
    bool met = false;
    Outcome o = op.run({[&](sim::SimBay& bay, FaultPort& port) {
                          writeMarkers(bay, op.slot);
                          std::string error;
                          if (inj.when == When::Before && inj.fault) {
                            ASSERT_TRUE(bay.addFault(op.slot, *inj.fault, error, &id)) << error;
                          } else {
                            size_t at = inj.when == When::Before ? 1
                                        : inj.when == When::Middle ? (commands + 1) / 2
                                                                   : commands;
                            port.arm(at, inj.fault);
                          }
                        },
                        [&](sim::SimBay& bay, FaultPort& port) {
                          if (inj.when == When::Before && inj.fault) {
                            // Media faults are met by the reads of their range.
                            met = inj.readsOnly || faultMet(bay, op.slot, id);
                          } else {
                            met = port.fired();
                          }
                          expectMarkers(bay, op.slot);
                        }});
    if (!met) continue;  // the operation never sent what the fault waits for
    EXPECT_FALSE(o.succeeded) << o.text;
    EXPECT_FALSE(o.text.empty());
    for (const std::string& success : op.successTexts) {
      EXPECT_EQ(o.text.find(success), std::string::npos) << "shows \"" << success << "\":\n" << o.text;
    }
  }
}

std::string caseName(const ::testing::TestParamInfo<SweptOperation>& info) {
  std::string name;
  for (char c : info.param.name) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultSweep, ::testing::ValuesIn(allOperations()), caseName);

}  // namespace
}  // namespace zorv
