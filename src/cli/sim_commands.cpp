// zorvctl sim: managing simulated drive bays.
//
//   zorvctl sim create DIR
//   zorvctl --sim DIR sim list
//   zorvctl --sim DIR sim plug N [--model TEXT --serial TEXT --fw TEXT --class 0|1 --bus sata|ata|usb
//                                 --capacity SECTORS --hwid HEX --wwn HEX --pcba TEXT --media PATH
//                                 --latency fast|sata-ssd|usb-ssd|US[,US_PER_MIB[,RANDOM_READ_US[,JITTER_US]]]
//                                 --temperature C]
//   zorvctl --sim DIR sim unplug N
//   zorvctl --sim DIR sim fault N KIND [VALUE] [options]
//   zorvctl --sim DIR sim power-cycle N [--off-seconds S]
//
// For the media tests: read-error --lba L --blocks N (reads there fail),
// damage --lba L --blocks N (blocks written there are stored damaged),
// latency 60,2000,150,400 (random reads cost more and vary), and a write the
// drive answers NOT READY, operation in progress, N times:
//   fail --opcode 2A --sense 2/04/08 --count N
//
// For the firmware download: power-loss --count N (the drive loses its power
// when the Nth DOWNLOAD MICROCODE segment arrives and stays off until
// `sim plug N`).
//
// For the repair station: vendor B1 [--count N] (the drive refuses the next
// command sector with that code), obb-error 00A10203 (the OBB list check
// fails with these four bytes; obb-error none passes again), temperature C.
//
// A running program on the same bay sees plug, unplug and power cycles as
// device arrival and removal, and faults from its next command on.

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>

#include "cli/command_registry.h"
#include "cli/json_text.h"
#include "cli/session.h"
#include "sim/bay_file.h"
#include "sim/sim_bay.h"
#include "sim/sim_drive.h"
#include "sim/vendor_rma.h"

namespace zorv::cli {

namespace {

using nlohmann::json;
using sim::DriveRecord;
using sim::Fault;
using sim::FaultKind;

struct SimOptions {
  std::string dir;
  int slot = -1;
  // plug
  std::string model, serial, firmware, bus, hwid, wwn, pcba, media, latency;
  int modelClass = 0;
  uint64_t capacity = 0;
  int temperature = 0;
  CLI::Option* modelOpt = nullptr;
  CLI::Option* serialOpt = nullptr;
  CLI::Option* firmwareOpt = nullptr;
  CLI::Option* classOpt = nullptr;
  CLI::Option* busOpt = nullptr;
  CLI::Option* capacityOpt = nullptr;
  CLI::Option* hwidOpt = nullptr;
  CLI::Option* wwnOpt = nullptr;
  CLI::Option* pcbaOpt = nullptr;
  CLI::Option* mediaOpt = nullptr;
  CLI::Option* latencyOpt = nullptr;
  CLI::Option* temperatureOpt = nullptr;
  // fault
  std::string kind;
  std::string value;
  std::string opcode, status, error, sense, lba;
  uint32_t count = 1, bytes = 0, waitMs = 0, ms = 0;
  uint64_t blocks = 1;
  unsigned offSeconds = 2;
  CLI::Option* msOpt = nullptr;
  CLI::Option* countOpt = nullptr;
};

bool usage(Session& session, const std::string& text) {
  session.err() << "zorvctl: " << text << '\n';
  session.fail(kExitUsage);
  return false;
}

void failed(Session& session, const std::string& text) {
  session.err() << "zorvctl: " << text << '\n';
  session.fail(kExitFailed);
}

// A hexadecimal byte: "28", "0x28" or "28h".
std::optional<uint32_t> parseHex(std::string text, uint32_t max) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
  if (!text.empty() && (text.back() == 'h' || text.back() == 'H')) text.pop_back();
  if (text.empty() || text.size() > 8) return std::nullopt;
  char* end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 16);
  if (*end != '\0' || v > max) return std::nullopt;
  return static_cast<uint32_t>(v);
}

// A number: decimal, or hexadecimal with "0x" or a trailing "h".
std::optional<uint64_t> parseNumber(std::string text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text = text.substr(2);
    base = 16;
  } else if (!text.empty() && (text.back() == 'h' || text.back() == 'H')) {
    text.pop_back();
    base = 16;
  }
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, base);
  if (*end != '\0' || errno == ERANGE) return std::nullopt;
  return v;
}

std::shared_ptr<sim::SimBay> openBay(Session& session, const char* verb) {
  if (session.simDir.empty()) {
    usage(session, std::string("sim ") + verb + " needs the bay: zorvctl --sim DIR sim " + verb);
    return nullptr;
  }
  std::string error;
  // A drive whose files are damaged must not keep the bay from being managed.
  auto bay = sim::SimBay::open(session.simDir, error, {.requireDrives = false});
  if (!bay) usage(session, error);
  return bay;
}

std::string busText(sim::SimBus bus) {
  switch (bus) {
    case sim::SimBus::Sata: return "SATA";
    case sim::SimBus::Ata: return "ATA";
    case sim::SimBus::Usb: return "USB";
  }
  return "";
}

std::string faultText(const Fault& f) {
  std::ostringstream s;
  char buf[64];
  s << "fault " << f.id << ": " << sim::faultKindName(f.kind);
  bool ranged = f.kind == FaultKind::Corrupt || f.kind == FaultKind::ReadError || f.kind == FaultKind::Damage;
  if (f.kind == FaultKind::PowerLoss) {
    s << " when download segment " << f.count << " arrives";
    if (f.opcode != sim::kAnyOpcode) {
      std::snprintf(buf, sizeof buf, " (opcode %02Xh)", f.opcode);
      s << buf;
    }
  } else if (!ranged && !(f.kind == FaultKind::NotReady && f.ms)) {
    if (f.kind != FaultKind::NotReady) {
      if (f.opcode == sim::kAnyOpcode) {
        s << " any opcode";
      } else {
        std::snprintf(buf, sizeof buf, " opcode %02Xh", f.opcode);
        s << buf;
      }
    }
    s << ", " << f.count << (f.count == 1 ? " command" : " commands");
  }
  switch (f.kind) {
    case FaultKind::Fail:
      std::snprintf(buf, sizeof buf, ", status %02Xh error %02Xh, sense %X/%02X/%02X", f.ataStatus, f.ataError,
                    f.senseKey, f.asc, f.ascq);
      s << buf;
      break;
    case FaultKind::Timeout:
      if (f.waitMs) s << ", host waits " << f.waitMs << " ms";
      break;
    case FaultKind::Short:
      s << ", " << (f.bytes ? std::to_string(f.bytes) + " bytes" : std::string("half the data"));
      break;
    case FaultKind::Corrupt:
    case FaultKind::ReadError:
    case FaultKind::Damage:
      std::snprintf(buf, sizeof buf, " LBA %llXh, %llu blocks", static_cast<unsigned long long>(f.lba),
                    static_cast<unsigned long long>(f.blocks));
      s << buf;
      break;
    case FaultKind::NotReady:
      if (f.ms) s << " for " << f.ms << " ms";
      break;
    case FaultKind::PowerLoss:
      s << ", off until plugged in";
      break;
  }
  return s.str();
}

std::string slotLine(int slot, const sim::SlotRecord& s) {
  std::ostringstream out;
  out << "Slot " << slot << ": ";
  if (!s.drive) {
    out << "empty";
    return out.str();
  }
  const DriveRecord& d = *s.drive;
  const sim::SimIdentity& id = d.identity;
  if (!s.plugged) out << "unplugged, ";
  out << id.model << ", serial " << id.serial << ", firmware " << id.firmware << ", ";
  if (id.family) {
    out << "family class " << id.modelClass;
  } else {
    out << "foreign";
  }
  out << ", " << busText(id.bus) << ", " << id.capacity << " sectors (" << (id.capacity >> 21) << "G), "
      << d.temperature << " C, ";
  out << (d.media.kind == sim::MediaKind::Sparse ? std::string("sparse media") : "media " + d.media.path);
  for (const Fault& f : d.faults) out << "\n        " << faultText(f);
  // The F7h switches the drive keeps (vendor protocol).
  auto sw = d.vendor.find("switches");
  if (sw != d.vendor.end() && sw->is_object() && !sw->empty()) {
    out << "\n        switches:";
    for (auto it = sw->begin(); it != sw->end(); ++it) {
      out << ' ' << it.key() << (it->is_boolean() && it->get<bool>() ? " on" : " off");
    }
  }
  return out.str();
}

bool currentSlot(Session& session, sim::SimBay& bay, int slot, sim::SlotRecord& out) {
  sim::BayRecord record;
  std::string error;
  if (!bay.snapshot(record, error)) {
    failed(session, error);
    return false;
  }
  out = record.slots[static_cast<size_t>(slot)];
  return true;
}

void runCreate(Session& session, const SimOptions& o) {
  std::string error;
  if (!sim::SimBay::create(o.dir, error)) return failed(session, error);
  auto bay = sim::SimBay::open(o.dir, error);
  if (!bay) return failed(session, error);
  sim::BayRecord record;
  if (!bay->snapshot(record, error)) return failed(session, error);
  session.out() << "Bay created in " << o.dir << '\n';
  for (int i = 0; i < sim::kBaySlots; ++i) session.out() << slotLine(i, record.slots[static_cast<size_t>(i)]) << '\n';
}

void runList(Session& session) {
  auto bay = openBay(session, "list");
  if (!bay) return;
  sim::BayRecord record;
  std::string error;
  if (!bay->snapshot(record, error)) return failed(session, error);
  if (session.json) {
    json slots = json::array();
    for (int i = 0; i < sim::kBaySlots; ++i) {
      const sim::SlotRecord& s = record.slots[static_cast<size_t>(i)];
      slots.push_back({{"slot", i},
                       {"path", "sim:" + std::to_string(i)},
                       {"state", !s.drive ? "empty" : s.plugged ? "plugged" : "unplugged"},
                       {"generation", s.generation},
                       {"error", bay->slotError(i)},
                       {"drive", s.drive ? sim::driveToJson(*s.drive) : json(nullptr)}});
    }
    session.out() << jsonText(json{{"dir", bay->dir()}, {"slots", slots}}) << '\n';
    return;
  }
  for (int i = 0; i < sim::kBaySlots; ++i) {
    session.out() << slotLine(i, record.slots[static_cast<size_t>(i)]) << '\n';
    std::string unusable = bay->slotError(i);
    if (!unusable.empty()) session.out() << "        cannot be used: " << unusable << '\n';
  }
}

// A latency model: a named one, or COMMAND_US[,US_PER_MIB[,RANDOM_READ_US[,JITTER_US]]].
std::optional<sim::LatencyModel> parseLatency(const std::string& text) {
  if (auto named = sim::namedLatency(text)) return named;
  uint32_t values[4] = {};
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    size_t comma = text.find(',', start);
    auto v = parseNumber(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (!v || *v > 0xFFFFFFFFu) return std::nullopt;
    values[i] = static_cast<uint32_t>(*v);
    if (comma == std::string::npos) return sim::LatencyModel{values[0], values[1], values[2], values[3]};
    start = comma + 1;
  }
  return std::nullopt;
}

constexpr const char* kLatencyUsage = "fast, sata-ssd, usb-ssd or COMMAND_US[,US_PER_MIB[,RANDOM_READ_US[,JITTER_US]]]";

bool buildDrive(Session& session, SimOptions& o, DriveRecord& d) {
  sim::SimBus bus = sim::SimBus::Sata;
  if (o.busOpt->count()) {
    auto b = sim::parseBus(o.bus);
    if (!b) return usage(session, "--bus: sata, ata or usb");
    bus = *b;
  }
  uint32_t seed = static_cast<uint32_t>(o.slot) + 1;
  if (o.modelOpt->count()) {
    d = sim::driveForModel(o.model, bus, seed);
  } else {
    d = sim::familyDrive(static_cast<uint16_t>(o.modelClass), bus, seed);
  }
  sim::SimIdentity& id = d.identity;
  if (o.classOpt->count()) id.modelClass = static_cast<uint16_t>(o.modelClass);
  if (o.serialOpt->count()) id.serial = o.serial;
  if (o.firmwareOpt->count()) id.firmware = o.firmware;
  if (o.capacityOpt->count()) id.capacity = o.capacity;
  if (o.pcbaOpt->count()) id.pcba = o.pcba;
  if (o.hwidOpt->count()) {
    auto h = sim::parseHexBytes(o.hwid);
    if (!h || h->empty() || h->size() > sim::kMaxHwidBytes) return usage(session, "--hwid: 1 to 16 bytes in hexadecimal");
    id.hwid = *h;
  }
  if (o.wwnOpt->count()) {
    auto w = sim::parseWwn(o.wwn);
    if (!w) return usage(session, "--wwn: 16 hexadecimal digits");
    id.wwn = *w;
  }
  if (o.mediaOpt->count()) {
    d.media = {sim::MediaKind::File, o.media};
    if (!o.capacityOpt->count()) id.capacity = 0;  // the whole file
  }
  if (o.latencyOpt->count()) {
    auto latency = parseLatency(o.latency);
    if (!latency) return usage(session, std::string("--latency: ") + kLatencyUsage);
    d.latency = *latency;
  }
  if (o.temperatureOpt->count()) d.temperature = o.temperature;
  return true;
}

void runPlug(Session& session, SimOptions& o) {
  auto bay = openBay(session, "plug");
  if (!bay) return;
  bool newDrive = false;
  for (CLI::Option* opt : {o.modelOpt, o.serialOpt, o.firmwareOpt, o.classOpt, o.busOpt, o.capacityOpt, o.hwidOpt,
                           o.wwnOpt, o.pcbaOpt, o.mediaOpt, o.latencyOpt, o.temperatureOpt})
    newDrive = newDrive || opt->count() > 0;
  sim::SlotRecord before;
  if (!currentSlot(session, *bay, o.slot, before)) return;
  std::string error;
  bool ok;
  if (!newDrive && before.drive) {
    ok = bay->plug(o.slot, error);  // the drive that was pulled goes back in
  } else {
    DriveRecord d;
    if (!buildDrive(session, o, d)) return;
    ok = bay->plug(o.slot, d, error);
  }
  if (!ok) return failed(session, error);
  sim::SlotRecord after;
  if (!currentSlot(session, *bay, o.slot, after)) return;
  session.out() << slotLine(o.slot, after) << '\n';
}

void runUnplug(Session& session, const SimOptions& o) {
  auto bay = openBay(session, "unplug");
  if (!bay) return;
  std::string error;
  if (!bay->unplug(o.slot, error)) return failed(session, error);
  sim::SlotRecord after;
  if (!currentSlot(session, *bay, o.slot, after)) return;
  session.out() << slotLine(o.slot, after) << '\n';
}

// Faults of the vendor protocol, kept in the drive's vendor state.
void runVendorFault(Session& session, sim::SimBay& bay, const SimOptions& o) {
  std::string slot = "Slot " + std::to_string(o.slot) + ": ";
  auto controller = bay.controller(o.slot);
  if (!controller) return failed(session, slot + "no drive is plugged in");
  if (!controller->withDrive([](sim::SimDrive& d) { return d.identity().family; }))
    return failed(session, slot + "a foreign drive has no vendor protocol");
  if (o.kind == "vendor") {
    auto code = parseHex(o.value, 0xFF);
    if (!code) return (void)usage(session, "sim fault N vendor CODE [--count N]: CODE a byte in hexadecimal");
    controller->withDrive([&](sim::SimDrive& d) { sim::rejectVendorCode(d, static_cast<uint8_t>(*code), o.count); });
    session.out() << slot << "vendor code " << formatText("%02X", *code) << "h refused " << o.count << " time(s)\n";
    return;
  }
  if (o.value == "none") {
    controller->withDrive([](sim::SimDrive& d) { sim::setObbError(d, std::nullopt); });
    session.out() << slot << "OBB check passes\n";
    return;
  }
  auto bytes = o.value.size() == 8 ? sim::parseHexBytes(o.value) : std::nullopt;
  if (!bytes || bytes->size() != 4)
    return (void)usage(session, "sim fault N obb-error XXXXXXXX (four bytes in hexadecimal) | none");
  std::array<uint8_t, 4> error{(*bytes)[0], (*bytes)[1], (*bytes)[2], (*bytes)[3]};
  controller->withDrive([&](sim::SimDrive& d) { sim::setObbError(d, error); });
  session.out() << slot << "OBB check fails with " << sim::toHex(error.data(), error.size()) << '\n';
}

// Pull the drive out, wait, put it back: a removal and an arrival that a
// running program sees, and a new power-on of the drive.
void runPowerCycle(Session& session, const SimOptions& o) {
  auto bay = openBay(session, "power-cycle");
  if (!bay) return;
  std::string error;
  std::string slot = "Slot " + std::to_string(o.slot) + ": ";
  if (o.offSeconds == 0) {
    if (!bay->powerCycle(o.slot, error)) return failed(session, error);
    session.out() << slot << "power cycled\n";
    return;
  }
  if (!bay->unplug(o.slot, error)) return failed(session, error);
  session.out() << slot << "power off for " << o.offSeconds << " s\n" << std::flush;
  std::this_thread::sleep_for(std::chrono::seconds(o.offSeconds));
  if (!bay->plug(o.slot, error)) return failed(session, error);
  session.out() << slot << "power on\n";
}

void runFault(Session& session, SimOptions& o) {
  auto bay = openBay(session, "fault");
  if (!bay) return;
  std::string error;
  std::string slot = "Slot " + std::to_string(o.slot) + ": ";
  if (o.kind == "temperature") {
    auto c = o.value.empty() ? std::nullopt : std::optional<int>(std::atoi(o.value.c_str()));
    if (!c || o.value.find_first_not_of("-0123456789") != std::string::npos)
      return (void)usage(session, "sim fault N temperature CELSIUS");
    if (!bay->setTemperature(o.slot, *c, error)) return failed(session, error);
    session.out() << slot << "temperature " << *c << " C\n";
    return;
  }
  if (o.kind == "power-cycle") {
    if (!bay->powerCycle(o.slot, error)) return failed(session, error);
    session.out() << slot << "power cycled\n";
    return;
  }
  if (o.kind == "latency") {
    auto latency = parseLatency(o.value);
    if (!latency) return (void)usage(session, std::string("sim fault N latency ") + kLatencyUsage);
    if (!bay->setLatency(o.slot, *latency, error)) return failed(session, error);
    session.out() << slot << "latency " << latency->commandUs << " us per command, " << latency->perMiBUs
                  << " us per MiB, " << latency->randomReadUs << " us per random read, jitter up to "
                  << latency->jitterUs << " us\n";
    return;
  }
  if (o.kind == "vendor" || o.kind == "obb-error") return runVendorFault(session, *bay, o);
  if (o.kind == "clear") {
    if (!bay->clearFaults(o.slot, error)) return failed(session, error);
    if (auto controller = bay->controller(o.slot))
      controller->withDrive([](sim::SimDrive& d) { sim::clearVendorFaults(d); });
    session.out() << slot << "faults cleared\n";
    return;
  }
  auto kind = sim::parseFaultKind(o.kind);
  if (!kind)
    return (void)usage(session,
                       "fault kinds: fail, timeout, short, corrupt, read-error, damage, not-ready, power-loss, latency, "
                       "temperature, power-cycle, vendor, obb-error, clear");
  Fault f;
  f.kind = *kind;
  f.count = o.count;
  f.bytes = o.bytes;
  f.waitMs = o.waitMs;
  f.ms = o.ms;
  f.blocks = o.blocks;
  if (!o.opcode.empty()) {
    auto v = parseHex(o.opcode, 0xFF);
    if (!v) return (void)usage(session, "--opcode: a byte in hexadecimal");
    f.opcode = static_cast<int>(*v);
  }
  if (!o.status.empty()) {
    auto v = parseHex(o.status, 0xFF);
    if (!v) return (void)usage(session, "--status: a byte in hexadecimal");
    f.ataStatus = static_cast<uint8_t>(*v);
  }
  if (!o.error.empty()) {
    auto v = parseHex(o.error, 0xFF);
    if (!v) return (void)usage(session, "--error: a byte in hexadecimal");
    f.ataError = static_cast<uint8_t>(*v);
  }
  if (!o.sense.empty()) {
    std::string parts[3];
    std::istringstream in(o.sense);
    int n = 0;
    while (n < 3 && std::getline(in, parts[n], '/')) ++n;
    auto k = n == 3 ? parseHex(parts[0], 0x0F) : std::nullopt;
    auto a = n == 3 ? parseHex(parts[1], 0xFF) : std::nullopt;
    auto q = n == 3 ? parseHex(parts[2], 0xFF) : std::nullopt;
    if (!k || !a || !q || in.peek() != EOF) return (void)usage(session, "--sense: KEY/ASC/ASCQ in hexadecimal, e.g. 3/11/00");
    f.senseKey = static_cast<uint8_t>(*k);
    f.asc = static_cast<uint8_t>(*a);
    f.ascq = static_cast<uint8_t>(*q);
  }
  if (f.kind == FaultKind::Corrupt || f.kind == FaultKind::ReadError || f.kind == FaultKind::Damage) {
    auto v = o.lba.empty() ? std::nullopt : parseNumber(o.lba);
    if (!v) return (void)usage(session, "sim fault N " + o.kind + " --lba LBA [--blocks N]");
    f.lba = *v;
  }
  if (f.kind == FaultKind::PowerLoss && f.opcode != sim::kAnyOpcode && f.opcode != 0x92 && f.opcode != 0x93)
    return (void)usage(session, "sim fault N power-loss --count SEGMENT [--opcode 92|93]");
  if (f.kind == FaultKind::NotReady && !o.msOpt->count() && !o.countOpt->count())
    return (void)usage(session, "sim fault N not-ready --ms MS | --count COMMANDS");
  uint32_t id = 0;
  if (!bay->addFault(o.slot, f, error, &id)) return failed(session, error);
  f.id = id;
  session.out() << slot << faultText(f) << '\n';
}

void install(CLI::App& app, Session& session) {
  auto o = std::make_shared<SimOptions>();
  CLI::App* simCmd = app.add_subcommand("sim", "Simulated drive bays: create, list, plug, unplug, fault, power-cycle");
  simCmd->require_subcommand(1);

  CLI::App* create = simCmd->add_subcommand("create", "Make a default bay in DIR (two family drives, one foreign)");
  create->add_option("dir", o->dir, "The bay's directory")->required();
  create->callback([&session, o] { runCreate(session, *o); });

  CLI::App* list = simCmd->add_subcommand("list", "The bay's eight slots");
  list->add_flag("--json", session.json, "Machine-readable output");
  list->callback([&session] { runList(session); });

  auto slotOption = [o](CLI::App* cmd) {
    cmd->add_option("slot", o->slot, "Slot 0-7 (physical drive sim:N)")->required()->check(CLI::Range(0, 7));
  };

  CLI::App* plug = simCmd->add_subcommand(
      "plug", "Plug a drive into slot N: the one pulled out, or a new one described by the options");
  slotOption(plug);
  o->modelOpt = plug->add_option("--model", o->model, "Model number; a family brand first makes a family drive");
  o->serialOpt = plug->add_option("--serial", o->serial, "Serial number (up to 20 characters)");
  o->firmwareOpt = plug->add_option("--fw", o->firmware, "Firmware version (up to 8 characters)");
  o->classOpt = plug->add_option("--class", o->modelClass, "Model class 0 or 1")->check(CLI::Range(0, 1));
  o->busOpt = plug->add_option("--bus", o->bus, "sata, ata or usb");
  o->capacityOpt = plug->add_option("--capacity", o->capacity, "User sectors")->check(CLI::Range(uint64_t{1}, sim::kMaxCapacity));
  o->hwidOpt = plug->add_option("--hwid", o->hwid, "Hardware ID bytes in hexadecimal, e.g. 5A0C1F03");
  o->wwnOpt = plug->add_option("--wwn", o->wwn, "World wide name, 16 hexadecimal digits");
  o->pcbaOpt = plug->add_option("--pcba", o->pcba, "PCBA part number");
  o->mediaOpt = plug->add_option("--media", o->media, "A file or block device as media (O_DIRECT, io_uring)");
  o->latencyOpt = plug->add_option("--latency", o->latency, kLatencyUsage);
  o->temperatureOpt = plug->add_option("--temperature", o->temperature, "Degrees Celsius")->check(CLI::Range(-60, 200));
  plug->callback([&session, o] { runPlug(session, *o); });

  CLI::App* unplug = simCmd->add_subcommand("unplug", "Pull the drive out of slot N (it keeps its data)");
  slotOption(unplug);
  unplug->callback([&session, o] { runUnplug(session, *o); });

  CLI::App* fault = simCmd->add_subcommand(
      "fault", "Inject a fault into the drive in slot N: fail, timeout, short, corrupt, read-error, damage, "
               "not-ready, power-loss, latency MODEL, temperature C, power-cycle, vendor CODE, obb-error XXXXXXXX, clear");
  slotOption(fault);
  fault->add_option("kind", o->kind, "The fault")->required();
  fault->add_option("value", o->value,
                    "temperature: degrees Celsius; latency: the model (as plug --latency); vendor: the code (hex); "
                    "obb-error: four bytes (hex) or none");
  fault->add_option("--opcode", o->opcode, "Only commands with this ATA or SCSI opcode (hex); default any");
  o->countOpt = fault->add_option("--count", o->count, "Commands the fault applies to (power-loss: the download segment at which the power goes)")->check(CLI::Range(1u, 1000000u));
  fault->add_option("--status", o->status, "fail: ATA status (hex, default 51)");
  fault->add_option("--error", o->error, "fail: ATA error (hex, default 04)");
  fault->add_option("--sense", o->sense, "fail: SCSI sense KEY/ASC/ASCQ (hex, default 3/11/00)");
  fault->add_option("--bytes", o->bytes, "short: bytes returned (default half)");
  fault->add_option("--wait-ms", o->waitMs, "timeout: how long the host waits (default its time-out)");
  fault->add_option("--lba", o->lba, "corrupt, read-error, damage: first LBA (decimal, or hex as 0x.. or ..h)");
  fault->add_option("--blocks", o->blocks, "corrupt, read-error, damage: blocks (default 1)")->check(CLI::Range(uint64_t{1}, sim::kMaxCapacity));
  o->msOpt = fault->add_option("--ms", o->ms, "not-ready: milliseconds from the drive's next command");
  fault->callback([&session, o] { runFault(session, *o); });

  CLI::App* cycle = simCmd->add_subcommand(
      "power-cycle", "Power the drive in slot N off and on again (removal, then arrival after --off-seconds)");
  slotOption(cycle);
  cycle->add_option("--off-seconds", o->offSeconds, "Seconds without power (default 2; 0: at once)")
      ->check(CLI::Range(0u, 3600u));
  cycle->callback([&session, o] { runPowerCycle(session, *o); });
}

}  // namespace

static CommandRegistrar reg{"sim", &install};

}  // namespace zorv::cli
