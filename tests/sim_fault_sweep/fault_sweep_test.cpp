// Every operation that talks to a drive, under every fault the simulated bay
// can inject: a command error (ATA status or, behind the USB bridge, sense
// data), a command that never answers, short data, NOT READY, a medium
// error, data damaged on the way in or out, a power loss during a download
// and the drive pulled out in the middle. One test per operation walks its
// row of the matrix (operation x fault): each cell runs on a fresh bay, and
// the fault must be met; the operation must return within a bound, stop
// sending, say that it failed, never show its success text or verdict, and
// leave the drive's data outside what it may write as it was.
//
// Each operation first runs on an intact drive (it must pass there); the
// commands it sends place the faults that land in its middle and on its
// last command, and the data-in transfers among them place the short
// replies. Cells where a fault cannot apply are left out of the table where
// it is built, each with the reason.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/session.h"
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
#include "transport/ata_opcodes.h"
#include "transport/block_stamp.h"

namespace zorv {
namespace {

using sim::Fault;
using sim::FaultKind;

// Transfers whose length is a limit the drive may stay below (REQUEST
// SENSE): a short reply there is no fault, so they do not count as data-in.
bool fullDataIn(const ScsiRequest& r) {
  return r.dataIn == kScsiDataIn && r.dataTransferLength > 0 && !r.replyMayBeShorter;
}
bool fullDataIn(const AtaPassThroughRequest& r) {
  return (r.ataFlags & kAtaFlagsDataIn) && r.dataTransferLength > 0;
}

// What the fault port counts to place an injection.
enum class Counted { Commands, DataIn };

// Forwards to the bay's port and counts the commands sent; at the armed
// command (before it goes out) it adds a fault to the drive or unplugs it,
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
    meet(fullDataIn(r));
    return inner_.ataPassThrough(path, r);
  }
  bool carriesAtaDataByte() const override { return inner_.carriesAtaDataByte(); }
  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& r) override {
    meet(fullDataIn(r));
    return inner_.scsiPassThrough(path, r);
  }
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& r) override {
    meet(fullDataIn(r));
    return inner_.submitQueued(path, slot, r);
  }
  SlotState pollSlot(int slot) override { return inner_.pollSlot(slot); }
  void waitQueued(std::chrono::milliseconds timeout) override { inner_.waitQueued(timeout); }
  void drainQueue() override { inner_.drainQueue(); }
  void abandonQueue() override { inner_.abandonQueue(); }
  std::unique_ptr<DeviceEventSource> watchDevices() override { return inner_.watchDevices(); }

  void arm(size_t at, Counted counted, std::optional<Fault> fault) {
    std::lock_guard lock(mutex_);
    armAt_ = at;
    counted_ = counted;
    fault_ = fault;
  }
  size_t commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  size_t dataIn() const {
    std::lock_guard lock(mutex_);
    return dataIn_;
  }
  bool fired() const {
    std::lock_guard lock(mutex_);
    return fired_;
  }
  uint32_t faultId() const {
    std::lock_guard lock(mutex_);
    return faultId_;
  }
  // Counts from here: what an operation sent before the part swept is not placed.
  void restartCount() {
    std::lock_guard lock(mutex_);
    commands_ = 0;
    dataIn_ = 0;
  }

 private:
  void meet(bool dataIn) {
    std::lock_guard lock(mutex_);
    ++commands_;
    if (dataIn) ++dataIn_;
    const size_t reached = counted_ == Counted::Commands ? commands_ : dataIn_;
    if (fired_ || armAt_ == 0 || reached != armAt_ || (counted_ == Counted::DataIn && !dataIn)) return;
    fired_ = true;
    std::string error;
    bool done = fault_ ? bay_.addFault(slot_, *fault_, error, &faultId_) : bay_.unplug(slot_, error);
    EXPECT_TRUE(done) << error;
  }

  DevicePort& inner_;
  sim::SimBay& bay_;
  int slot_;
  mutable std::mutex mutex_;
  size_t commands_ = 0;
  size_t dataIn_ = 0;
  size_t armAt_ = 0;
  Counted counted_ = Counted::Commands;
  std::optional<Fault> fault_;  // none: unplug
  bool fired_ = false;
  uint32_t faultId_ = 0;
};

// ---- the faults ---------------------------------------------------------------

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

enum class When { Before, First, Middle, Last };

struct Injection {
  std::string name;
  When when = When::Before;
  Counted counted = Counted::Commands;
  std::optional<Fault> fault;  // none: the drive is unplugged
  bool lasting = false;        // a media fault: stays until cleared, met by the reads of its range
};

// ---- the operations -----------------------------------------------------------

struct Outcome {
  bool succeeded = false;
  std::string text;  // everything the operation showed: pane, boxes, result texts
};

struct RunHooks {
  std::function<void(sim::SimBay&, FaultPort&)> prepare;
  std::function<void(sim::SimBay&, FaultPort&)> after;
};

struct KeyCommand {
  int opcode;
  bool dataIn;  // brings data in: a short reply applies
};

struct SweptOperation {
  std::string name;
  int slot = 0;
  std::vector<KeyCommand> keyCommands;  // the commands the operation depends on
  bool readsRange = false;     // reads [kRangeStart, kRangeEnd) (a medium error there is met)
  bool comparesRange = false;  // compares the data it reads there with what it expects
  bool writesRange = false;    // writes there (data damaged on its way in is met)
  bool downloads = false;      // sends DOWNLOAD MICROCODE segments (a power loss is met)
  std::vector<std::string> successTexts;  // shown only by a success
  std::vector<std::string> failureTexts;  // one of them shows a failure
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

// The fastest latency model: the sweep measures nothing.
void fastDrive(sim::SimBay& bay, int slot) {
  std::string error;
  ASSERT_TRUE(bay.setLatency(slot, *sim::namedLatency("fast"), error)) << error;
}

struct SweepBench {
  explicit SweepBench(int driveSlot) : sim(driveSlot) {
    if (!sim.ok()) return;
    port = std::make_unique<FaultPort>(*sim.port, *sim.bay, driveSlot);
    sim.ctx().port = port.get();
    fastDrive(*sim.bay, driveSlot);
  }
  test::SimFixture sim;
  std::unique_ptr<FaultPort> port;
};

SweptOperation identifyOperation(int slot) {
  SweptOperation op{"Identify" + std::to_string(slot), slot, {{0xEC, true}}};
  op.failureTexts = {"IDENTIFY DEVICE failed"};
  op.run = [slot](const RunHooks& hooks) {
    SweepBench b(slot);
    EXPECT_TRUE(b.sim.ok()) << b.sim.error;
    hooks.prepare(*b.sim.bay, *b.port);
    IdentifyView view;
    Outcome o;
    o.succeeded = view.identify(b.sim.ctx(), b.sim.dir.path()).identified;
    o.text = view.notice() + b.sim.pane.text() + boxesText(b.sim.ui);
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
  in.startMemory = "1000";  // a start of 0 reads as an empty box
  in.memoryLength = "400";
  in.address = "1000000";
  return in;
}

// The rows that write a file the operator chooses into the drive.
constexpr size_t kRestoreRow = 10;
constexpr size_t kSpiFlashWriteRow = 21;

// The texts a row shows when it did what it was asked.
std::vector<std::string> rowSuccessTexts(const VendorOperation& row) {
  std::vector<std::string> out;
  if (!row.message.empty()) out.emplace_back(row.message);
  // A row of two switches has done what it was asked when the second one's
  // message shows.
  if (row.switchCount > 0) out.emplace_back(row.switches[row.switchCount - 1].message);
  if (row.kind == OperationKind::SmartRead) out.emplace_back("S.M.A.R.T. Read Success");
  if (row.kind == OperationKind::MaxAddress && row.feature == 2) out.emplace_back("Freeze Accessible Max Address\r\n");
  if (row.kind == OperationKind::VendorCommand) out.emplace_back("Please Turn Off Drive Immediately");
  if (row.code == 0x50 || row.code == 0x52) out.emplace_back("Memory Dump End");
  if (row.kind == OperationKind::Restore) out.emplace_back("Restore Bin Success");
  if (row.index == kSpiFlashWriteRow) out.emplace_back("Save SPI Flash Success");
  return out;
}

// WRITE BUFFER (E8h) carries the vendor sector out, READ BUFFER (E4h) brings
// the reply in.
std::vector<KeyCommand> rowCommands(const VendorOperation& row) {
  switch (row.kind) {
    case OperationKind::SmartRead: return {{0xB0, true}};
    case OperationKind::MaxAddress: return {{0x78, false}};  // sent as data-out
    case OperationKind::Switches: return {{0xF7, false}};
    case OperationKind::WriteOnly:
    case OperationKind::VendorCommand:
    case OperationKind::Restore: return {{0xE8, false}};
    case OperationKind::Procedure:
      // The SPI flash read and the bad-block list are F7h data-in commands.
      if (row.index == kSpiFlashWriteRow) return {{0xF7, false}};
      if (row.code == ata::kVendorSwitch) return {{0xF7, true}};
      return {{0xE8, false}, {0xE4, true}};
    default: return {{0xE8, false}, {0xE4, true}};
  }
}

// The row that reads the FTL address layout, which the PPN list decodes with.
constexpr size_t kLayoutRow = 3;
constexpr size_t kPpnListRow = 2;

SweptOperation vendorRowOperation(size_t index, int slot) {
  const VendorOperation& row = VendorOperationList()[index];
  SweptOperation op{"Vendor_" + std::string(row.text), slot, rowCommands(row)};
  op.successTexts = rowSuccessTexts(row);
  op.failureTexts = {"Fail", "fail"};
  op.run = [index, slot](const RunHooks& hooks) {
    SweepBench b(slot);
    EXPECT_TRUE(b.sim.ok()) << b.sim.error;
    RowMemory memory;
    StringSink pane;
    DiagRun run(b.sim.ctx(), pane, memory);
    run.inputs = sweepInputs();
    run.modelClass = b.sim.ctx().selectedDrive().usModelClass;
    run.directory = b.sim.dir.path();
    if (index == kPpnListRow) {
      // The list is decoded with the layout the operator reads first.
      PerformOperation(run, kLayoutRow);
      EXPECT_FALSE(run.commandFailed) << pane.text();
      pane.clear();
      b.sim.pane.clear();
      b.port->restartCount();
    }
    if (index == kRestoreRow || index == kSpiFlashWriteRow) {
      // Two sectors of a file to write into the drive.
      const std::string file = b.sim.dir.file("image to write.bin");
      std::vector<char> bytes(1024);
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13);
      std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      b.sim.ui.files.push_back(file);
    } else {
      b.sim.ui.files.push_back(b.sim.dir.file("spi flash.bin"));
    }
    hooks.prepare(*b.sim.bay, *b.port);
    std::string text = PerformOperation(run, index);
    Outcome o;
    o.succeeded = !run.commandFailed && !run.inputRefused && !run.stopped;
    o.text = text + "\n" + pane.text() + boxesText(b.sim.ui) + b.sim.pane.text();
    hooks.after(*b.sim.bay, *b.port);
    return o;
  };
  return op;
}

struct NoProgress : ProgressSink {
  void setRange(int, int) override {}
  void setPosition(int) override {}
};

// The firmware image goes as DOWNLOAD MICROCODE DMA segments; the drive's
// identity comes from a vendor query first.
std::vector<KeyCommand> downloadCommands() { return {{0xE8, false}, {0xE4, true}, {0x93, false}}; }

SweptOperation firmwareBinOperation(int slot) {
  SweptOperation op{"FirmwareBin" + std::to_string(slot), slot, downloadCommands()};
  op.downloads = true;
  op.successTexts = {std::string(firmware::kUpdateDoneText)};
  op.failureTexts = {"Fail", "Error", "Time Out", "Exit"};
  op.run = [slot](const RunHooks& hooks) {
    SweepBench b(slot);
    EXPECT_TRUE(b.sim.ok()) << b.sim.error;
    b.sim.ctx().fgFamilyDrive = 1;
    b.sim.ctx().fgVendorCdbEnable = 1;
    const std::vector<uint8_t> image = fwdl::imageFor(*b.sim.bay, slot, slot == 0 ? "S1108A" : "T1209B", 3 * 65536);
    hooks.prepare(*b.sim.bay, *b.port);
    NoProgress progress;
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
  std::vector<KeyCommand> commands = downloadCommands();
  commands.push_back({0xF7, false});
  SweptOperation op{"FirmwareTab" + std::to_string(slot), slot, commands};
  op.downloads = true;
  op.successTexts = {std::string(firmware::kUpdateDoneText)};
  op.failureTexts = {"Fail", "Error", "Time Out", "Exit"};
  op.run = [slot](const RunHooks& hooks) {
    SweepBench b(slot);
    EXPECT_TRUE(b.sim.ok()) << b.sim.error;
    b.sim.ctx().fgFamilyDrive = 1;
    b.sim.ctx().fgVendorCdbEnable = 1;
    const std::vector<uint8_t> image = fwdl::imageFor(*b.sim.bay, slot, slot == 0 ? "S1108A" : "T1209B", 2 * 65536);
    hooks.prepare(*b.sim.bay, *b.port);
    NoProgress progress;
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

// Block stamps over the range, as a write test leaves them, for a read test
// that checks them.
void stampRange(sim::SimBay& bay, int slot) {
  auto controller = bay.controller(slot);
  ASSERT_TRUE(controller);
  std::vector<uint8_t> data((kRangeEnd - kRangeStart) * 512);
  StampBlocks(static_cast<uint32_t>(kRangeEnd - kRangeStart), static_cast<uint32_t>(kRangeStart), data.data());
  controller->withDrive([&](sim::SimDrive& d) {
    ASSERT_EQ(d.writeSectors(kRangeStart, static_cast<uint32_t>(kRangeEnd - kRangeStart), data.data()), 0);
  });
}

struct MediaCase {
  std::string name;
  uint16_t opCode;
  bool verify;  // read back and compare the block stamps
  uint16_t writeType = kWriteTypePlain;  // queued: the 16-slot queue, for reads too
};

SweptOperation mediaOperation(const MediaCase& c, int slot) {
  const bool writes = isWriteTestCode(c.opCode);
  SweptOperation op{c.name + std::to_string(slot), slot, {}};
  if (writes) op.keyCommands.push_back({0x2A, false});
  if (!writes || c.verify) op.keyCommands.push_back({0x28, true});
  op.readsRange = !writes || c.verify;
  op.comparesRange = c.verify;
  op.writesRange = writes;
  op.failureTexts = {"Fail", "fail", "Error", "error"};
  op.run = [c, slot](const RunHooks& hooks) {
    test::MediaSim m(slot);
    EXPECT_TRUE(m.ok()) << m.sim.error;
    fastDrive(*m.sim.bay, slot);
    if (!isWriteTestCode(c.opCode) && c.verify) stampRange(*m.sim.bay, slot);
    FaultPort port(*m.spy, *m.sim.bay, slot);
    m.sim.ctx().port = &port;
    hooks.prepare(*m.sim.bay, port);
    MediaTestParams p = test::testParams(c.opCode, kRangeStart, kRangeEnd, 0x40, 4);
    p.fgReadVerify = c.verify ? 1 : 0;
    p.usWriteType = c.writeType;
    if (c.writeType == kWriteTypeQueued) p._fgNCQEnable = 1;
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
  // The life query at the end (F7h, data-in) goes only to a SATA drive.
  std::vector<KeyCommand> commands = {{0xEC, true}, {0xE8, false}, {0xE4, true}, {0x2A, false}, {0x28, true}};
  if (slot == 0) commands.push_back({0xF7, true});
  SweptOperation op{"Rma" + std::to_string(slot), slot, commands};
  // The station reads its range back without comparing it: damaged data
  // cannot be seen there, a medium error can.
  op.readsRange = true;
  op.successTexts = {"Testing Pass"};
  op.failureTexts = {"Fail", "Error", "Time Out"};
  op.run = [slot](const RunHooks& hooks) {
    rmatest::StationRun s('A', {}, slot);
    EXPECT_TRUE(s.sim.ok()) << s.sim.error;
    fastDrive(*s.sim.bay, slot);
    FaultPort port(*s.sim.port, *s.sim.bay, slot);
    s.sim.ctx().port = &port;
    hooks.prepare(*s.sim.bay, port);
    Outcome o;
    rma::RunStart start = s.enter(s.sim.ctx().selectedDrive().strSerial);
    std::string error;
    bool cycled = false;
    // The power-cycle wait counts down on timer ticks; the bound is far
    // beyond its longest wait.
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
    EXPECT_NE(s.station().phase(), rma::RmaPhase::WaitingForPowerCycle) << "the power-cycle wait did not end";
    std::optional<rma::RmaVerdict> verdict = s.station().lastVerdict();
    o.succeeded = start == rma::RunStart::Started && verdict && verdict->passed;
    o.text = s.box.text() + boxesText(s.sim.ui) + s.sim.pane.text() + (verdict ? verdict->errorText : "");
    hooks.after(*s.sim.bay, port);
    return o;
  };
  return op;
}

const std::vector<SweptOperation>& allOperations() {
  static const std::vector<SweptOperation> ops = [] {
    std::vector<SweptOperation> v;
    for (int slot : {0, 1}) v.push_back(identifyOperation(slot));
    for (size_t i = 0; i < kVendorOperationCount; ++i) v.push_back(vendorRowOperation(i, 0));
    for (int slot : {0, 1}) {
      v.push_back(firmwareBinOperation(slot));
      v.push_back(firmwareTabOperation(slot));
    }
    const MediaCase media[] = {
        {"SeqRead", kOpSeqRead, false},
        {"SeqReadQueued", kOpSeqRead, false, kWriteTypeQueued},
        {"SeqReadVerify", kOpSeqRead, true},
        {"RandomAccess", kOpRandomAccess, false},
        {"SeqWriteVerify", kOpSeqWrite, true},
        {"RandomWriteVerify", kOpRandomWrite, true},
        {"SeqWriteQueued", kOpSeqWrite, true, kWriteTypeQueued},
    };
    for (int slot : {0, 1}) {
      for (const MediaCase& c : media) v.push_back(mediaOperation(c, slot));
      v.push_back(rmaOperation(slot));
    }
    return v;
  }();
  return ops;
}

// What an operation sends on an intact drive.
struct CleanRun {
  bool passed = false;
  size_t commands = 0;
  size_t dataIn = 0;
};

// ---- the drive's data ---------------------------------------------------------

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

// Whether the fault id is still on the drive untouched: a fault met is used
// up in part or whole (a power loss takes its fault with it).
bool faultUntouched(sim::SimBay& bay, int slot, uint32_t id) {
  std::string error;
  sim::BayRecord record;
  EXPECT_TRUE(bay.snapshot(record, error)) << error;
  const auto& s = record.slots[static_cast<size_t>(slot)];
  if (!s.drive) return false;
  for (const Fault& f : s.drive->faults)
    if (f.id == id) return f.count == kPersistent || f.kind == FaultKind::PowerLoss;
  return false;
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

// ---- the bound --------------------------------------------------------------------

// Every operation here finishes in well under a second of real time (the
// bay's clock is a ManualClock: its waits pass at once). One that has not
// returned after the bound hangs: the whole run stops there, naming the cell,
// rather than waiting for the test driver's time-out.
constexpr std::chrono::seconds kCellBound{60};
// Commands beyond those of a clean run that a failing operation may send.
constexpr size_t kRetryAllowance = 200;

class Watchdog {
 public:
  explicit Watchdog(std::string cell)
      : cell_(std::move(cell)), thread_([this] {
          std::unique_lock lock(mutex_);
          if (!done_cv_.wait_for(lock, kCellBound, [this] { return done_; })) {
            std::fprintf(stderr, "%s: the operation did not return within %lld s\n", cell_.c_str(),
                         static_cast<long long>(kCellBound.count()));
            std::fflush(stderr);
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
  }

 private:
  std::string cell_;
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

CleanRun cleanRunOf(const SweptOperation& op) {
  CleanRun clean;
  Watchdog bound(op.name + " on an intact drive");
  Outcome o = op.run({[&](sim::SimBay& bay, FaultPort&) { writeMarkers(bay, op.slot); },
                      [&](sim::SimBay& bay, FaultPort& port) {
                        clean.commands = port.commands();
                        clean.dataIn = port.dataIn();
                        expectMarkers(bay, op.slot);
                      }});
  clean.passed = o.succeeded;
  EXPECT_TRUE(o.succeeded) << op.name << " fails on an intact drive:\n" << o.text;
  for (const std::string& success : op.successTexts)
    EXPECT_NE(o.text.find(success), std::string::npos) << op.name << " does not show \"" << success << "\"";
  return clean;
}

// ---- the matrix -------------------------------------------------------------------

std::vector<Injection> injectionsFor(const SweptOperation& op) {
  std::vector<Injection> out;
  for (const KeyCommand& k : op.keyCommands) {
    const std::string hex = formatText("%02X", k.opcode);
    out.push_back({"FailOn" + hex, When::Before, Counted::Commands, fail(k.opcode)});
    out.push_back({"SenseErrorOn" + hex, When::Before, Counted::Commands, senseError(k.opcode)});
    out.push_back({"TimeoutOn" + hex, When::Before, Counted::Commands, timeout(k.opcode)});
    // A command that brings no data in cannot come back short.
    if (k.dataIn) out.push_back({"ShortOn" + hex, When::Before, Counted::Commands, shortData(k.opcode)});
  }
  const bool bringsDataIn =
      std::any_of(op.keyCommands.begin(), op.keyCommands.end(), [](const KeyCommand& k) { return k.dataIn; });
  for (When when : {When::First, When::Middle, When::Last}) {
    const std::string at = when == When::First ? "First" : when == When::Middle ? "Middle" : "Last";
    out.push_back({"FailAt" + at, when, Counted::Commands, fail(sim::kAnyOpcode)});
    out.push_back({"SenseErrorAt" + at, when, Counted::Commands, senseError(sim::kAnyOpcode)});
    out.push_back({"TimeoutAt" + at, when, Counted::Commands, timeout(sim::kAnyOpcode)});
    out.push_back({"NotReadyAt" + at, when, Counted::Commands, notReady()});
    out.push_back({"UnplugAt" + at, when, Counted::Commands, std::nullopt});
    // Placed among the data-in transfers: a short reply cannot hit any other,
    // and an operation that brings no data in has nothing to cut short.
    if (bringsDataIn)
      out.push_back({"ShortAt" + at, when, Counted::DataIn, shortData(sim::kAnyOpcode)});
  }
  const Fault range{.lba = kRangeStart, .blocks = kRangeEnd - kRangeStart};
  auto over = [&](FaultKind kind) {
    Fault f = range;
    f.kind = kind;
    return f;
  };
  // Media faults only where the operation reads its range (a medium error)
  // or compares what it read (damaged data): elsewhere nobody could notice.
  if (op.readsRange) {
    out.push_back({"ReadError", When::Before, Counted::Commands, over(FaultKind::ReadError), true});
    out.push_back({"ReadErrorMiddle", When::Middle, Counted::Commands, over(FaultKind::ReadError), true});
  }
  if (op.comparesRange) out.push_back({"Corrupt", When::Before, Counted::Commands, over(FaultKind::Corrupt), true});
  if (op.comparesRange && op.writesRange)
    out.push_back({"Damage", When::Before, Counted::Commands, over(FaultKind::Damage), true});
  // The power goes with a DOWNLOAD MICROCODE segment: only a download meets it.
  if (op.downloads) {
    out.push_back({"PowerLossAtFirstSegment", When::Before, Counted::Commands,
                   Fault{.kind = FaultKind::PowerLoss, .count = 1}});
    out.push_back({"PowerLossAtLastSegment", When::Before, Counted::Commands,
                   Fault{.kind = FaultKind::PowerLoss, .count = 3}});
  }
  return out;
}

std::vector<Injection> cellsOf(const SweptOperation& op) {
  std::vector<Injection> cells = injectionsFor(op);
  for (Injection& inj : cells) {
    // The tab's image has two segments.
    if (inj.name == "PowerLossAtLastSegment" && op.name.rfind("FirmwareTab", 0) == 0) inj.fault->count = 2;
  }
  return cells;
}

// One cell: the operation on a fresh bay with the injection.
void sweepCell(const SweptOperation& op, const CleanRun& clean, const Injection& inj) {
  const size_t total = inj.counted == Counted::Commands ? clean.commands : clean.dataIn;
  ASSERT_GT(total, 0u) << op.name << " brings no data in: short replies do not apply";
  const size_t at = inj.when == When::First ? 1 : inj.when == When::Middle ? (total + 1) / 2 : total;

  uint32_t id = 0;
  bool met = false;
  size_t sent = 0;
  Watchdog bound(op.name + " / " + inj.name);
  Outcome o = op.run({[&](sim::SimBay& bay, FaultPort& port) {
                        writeMarkers(bay, op.slot);
                        std::string error;
                        if (inj.when == When::Before) {
                          ASSERT_TRUE(bay.addFault(op.slot, *inj.fault, error, &id)) << error;
                        } else {
                          port.arm(at, inj.counted, inj.fault);
                        }
                      },
                      [&](sim::SimBay& bay, FaultPort& port) {
                        sent = port.commands();
                        if (inj.lasting) {
                          met = inj.when == When::Before || port.fired();
                        } else if (inj.when == When::Before) {
                          met = !faultUntouched(bay, op.slot, id);
                        } else {
                          met = port.fired() && (!inj.fault || !faultUntouched(bay, op.slot, port.faultId()));
                        }
                        expectMarkers(bay, op.slot);
                      }});
  EXPECT_TRUE(met) << "the fault was never met:\n" << o.text;
  // A failure ends the operation: the retries it allows (ten per firmware
  // segment, the ready wait's polls) stay far below this; a drive that fails
  // everything must not be asked again and again until some time-out.
  EXPECT_LE(sent, clean.commands + kRetryAllowance) << "the operation kept sending after the fault";
  EXPECT_FALSE(o.succeeded) << o.text;
  bool failureShown = false;
  for (const std::string& text : op.failureTexts) failureShown = failureShown || o.text.find(text) != std::string::npos;
  EXPECT_TRUE(failureShown) << "no failure text:\n" << o.text;
  for (const std::string& success : op.successTexts) {
    EXPECT_EQ(o.text.find(success), std::string::npos) << "shows \"" << success << "\":\n" << o.text;
  }
}

// One test per operation, walking its row of the matrix: the clean run that
// places the faults is made once, and a failure names its cell.
class FaultSweep : public ::testing::TestWithParam<size_t> {};

TEST_P(FaultSweep, EveryFaultEndsInAReportedFailure) {
  const SweptOperation& op = allOperations()[GetParam()];
  const CleanRun clean = cleanRunOf(op);
  ASSERT_TRUE(clean.passed) << op.name << " fails on an intact drive";
  ASSERT_GT(clean.commands, 0u);
  for (const Injection& inj : cellsOf(op)) {
    SCOPED_TRACE(op.name + " / " + inj.name);
    sweepCell(op, clean, inj);
  }
}

std::vector<size_t> operationIndices() {
  std::vector<size_t> out(allOperations().size());
  for (size_t i = 0; i < out.size(); ++i) out[i] = i;
  return out;
}

std::string operationName(const ::testing::TestParamInfo<size_t>& info) {
  std::string name;
  for (char c : allOperations()[info.param].name) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultSweep, ::testing::ValuesIn(operationIndices()), operationName);

// ---- the same through zorvctl -------------------------------------------------------

// A command of zorvctl on the drive of slot 0, the command its operation
// depends on, and the text only its success shows.
struct CliOperation {
  std::string name;
  std::vector<std::string> args;
  KeyCommand key;
  std::string successText;
};

// zorvctl runs on the system clock: a command that never answers is given
// up after a short wait instead of its own time-out.
constexpr uint32_t kCliTimeoutMs = 20;

TEST(FaultSweepCli, EveryCommandUnderAFaultExitsOneAndSaysWhy) {
  test::TempDir tmp;
  const std::string bay = tmp.file("bay");
  const std::string package = tmp.file("demo package.qz");
  auto zorvctl = [&](std::vector<std::string> args, std::string& text) {
    std::vector<std::string> all = {"zorvctl", "--sim", bay};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& a : all) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int code = cli::runZorvctl(static_cast<int>(argv.size()), argv.data(), out, err);
    text = out.str() + err.str();
    return code;
  };
  std::string text;
  ASSERT_EQ(zorvctl({"fw", "demo-package", package}, text), 0) << text;

  // IDENTIFY DEVICE is left out here: zorvctl reads it to list the drive
  // first, and a drive that refuses it is not offered at all (exit 2).
  // The download is faulted at the drive's identity query before it: a
  // refused segment is tried ten times with a pause of half a second on the
  // system clock (the download's own sweep above covers the segments).
  const std::vector<CliOperation> operations = {
      {"diag query", {"--drive", "0", "diag", "30", "--dir", tmp.path()}, {0xE4, true}, "sInfoSSD Start Here"},
      {"diag write-only", {"--drive", "0", "diag", "5601", "--dir", tmp.path()}, {0xE8, false}, "initialize Done"},
      {"diag switch", {"--drive", "0", "diag", "F76001", "--dir", tmp.path()}, {0xF7, false}, "Disable Power Down\r\n"},
      {"fw update", {"--drive", "0", "fw", "update", "--package", package}, {0xE4, true}, "Update FW Done"},
      {"test seq-read",
       {"--drive", "0", "test", "seq-read", "--slba", "1000", "--elba", "1800", "--blks", "40", "--length", "1"},
       {0x28, true}, ""},
      {"test seq-write", {"--drive", "0", "test", "seq-write", "--slba", "1000", "--elba", "1800", "--blks", "40"},
       {0x2A, false}, ""},
  };
  for (const CliOperation& op : operations) {
    std::vector<Fault> faults = {fail(op.key.opcode), senseError(op.key.opcode), timeout(op.key.opcode)};
    faults.back().waitMs = kCliTimeoutMs;
    if (op.key.dataIn) faults.push_back(shortData(op.key.opcode));
    for (const Fault& f : faults) {
      SCOPED_TRACE(op.name + " / " + std::string(sim::faultKindName(f.kind)) + (f.senseKey == 0x04 ? " (sense)" : ""));
      std::string error;
      uint32_t id = 0;
      {
        auto opened = sim::SimBay::open(bay, error);
        ASSERT_TRUE(opened) << error;
        ASSERT_TRUE(opened->clearFaults(0, error)) << error;
        ASSERT_TRUE(opened->addFault(0, f, error, &id)) << error;
      }
      {
        Watchdog bound("zorvctl " + op.name);
        EXPECT_EQ(zorvctl(op.args, text), 1) << text;
      }
      {
        auto opened = sim::SimBay::open(bay, error);
        ASSERT_TRUE(opened) << error;
        EXPECT_FALSE(faultUntouched(*opened, 0, id)) << "the fault was never met:\n" << text;
      }
      EXPECT_TRUE(text.find("Fail") != std::string::npos || text.find("fail") != std::string::npos ||
                  text.find("Error") != std::string::npos)
          << "no failure text:\n" << text;
      if (!op.successText.empty()) {
        EXPECT_EQ(text.find(op.successText), std::string::npos) << "shows \"" << op.successText << "\":\n" << text;
      }
    }
  }
}

}  // namespace
}  // namespace zorv
