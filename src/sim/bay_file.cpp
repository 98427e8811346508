#include "sim/bay_file.h"

#include <limits>

namespace zorv::sim {

namespace {

using nlohmann::json;

constexpr const char* kFormat = "zorv-sim-bay";
constexpr int kVersion = 1;

// Reads fields of one object, naming the first bad one in error.
class FieldReader {
 public:
  FieldReader(const json& obj, std::string path, std::string& error) : obj_(obj), path_(std::move(path)), error_(error) {}

  bool fail(const char* key, const std::string& what) {
    if (error_.empty()) error_ = field(key) + ": " + what;
    return false;
  }
  std::string field(const char* key) const { return path_.empty() ? key : path_ + "." + key; }

  const json* find(const char* key, bool required) {
    auto it = obj_.find(key);
    if (it == obj_.end()) {
      if (required) fail(key, "missing");
      return nullptr;
    }
    return &*it;
  }

  bool string(const char* key, std::string& out, bool required = true) {
    const json* v = find(key, required);
    if (!v) return !required;
    if (!v->is_string()) return fail(key, "expected a string");
    out = v->get<std::string>();
    return true;
  }

  bool boolean(const char* key, bool& out, bool required = true) {
    const json* v = find(key, required);
    if (!v) return !required;
    if (!v->is_boolean()) return fail(key, "expected true or false");
    out = v->get<bool>();
    return true;
  }

  template <class T>
  bool unsignedInt(const char* key, T& out, bool required = true, uint64_t max = std::numeric_limits<T>::max()) {
    const json* v = find(key, required);
    if (!v) return !required;
    if (!v->is_number_unsigned()) return fail(key, "expected an unsigned integer");
    uint64_t x = v->get<uint64_t>();
    if (x > max) return fail(key, "must be at most " + std::to_string(max));
    out = static_cast<T>(x);
    return true;
  }

  bool signedInt(const char* key, int& out, int min, int max, bool required = true) {
    const json* v = find(key, required);
    if (!v) return !required;
    if (!v->is_number_integer()) return fail(key, "expected an integer");
    int64_t x = v->get<int64_t>();
    if (x < min || x > max) return fail(key, "must be " + std::to_string(min) + " to " + std::to_string(max));
    out = static_cast<int>(x);
    return true;
  }

  bool object(const char* key, const json*& out, bool required = true) {
    out = find(key, required);
    if (!out) return !required;
    if (!out->is_object()) {
      out = nullptr;
      return fail(key, "expected an object");
    }
    return true;
  }

 private:
  const json& obj_;
  std::string path_;
  std::string& error_;
};

bool parseFault(const json& j, const std::string& path, Fault& f, std::string& error) {
  if (!j.is_object()) {
    error = path + ": expected an object";
    return false;
  }
  FieldReader r(j, path, error);
  std::string kind;
  if (!r.string("kind", kind)) return false;
  auto k = parseFaultKind(kind);
  if (!k) return r.fail("kind", "unknown fault kind \"" + kind + "\"");
  f.kind = *k;
  int opcode = kAnyOpcode;
  bool ok = r.unsignedInt("id", f.id) && r.signedInt("opcode", opcode, -1, 255, false) &&
            r.unsignedInt("count", f.count, false) && r.unsignedInt("ataStatus", f.ataStatus, false) &&
            r.unsignedInt("ataError", f.ataError, false) && r.unsignedInt("senseKey", f.senseKey, false, 0x0F) &&
            r.unsignedInt("asc", f.asc, false) && r.unsignedInt("ascq", f.ascq, false) &&
            r.unsignedInt("bytes", f.bytes, false) && r.unsignedInt("waitMs", f.waitMs, false) &&
            r.unsignedInt("lba", f.lba, false, kMaxCapacity) && r.unsignedInt("blocks", f.blocks, false) &&
            r.unsignedInt("ms", f.ms, false);
  if (!ok) return false;
  f.opcode = opcode;
  if (const json* s = r.find("startedMs", false)) {
    if (!s->is_null()) {
      if (!s->is_number_integer()) return r.fail("startedMs", "expected an integer or null");
      f.startedMs = s->get<int64_t>();
    }
  }
  return true;
}

bool parseDrive(const json& j, const std::string& path, DriveRecord& d, std::string& error) {
  FieldReader r(j, path, error);
  SimIdentity& id = d.identity;
  std::string bus, wwn, hwid;
  bool ok = r.unsignedInt("id", d.id) && r.string("model", id.model) && r.string("serial", id.serial) &&
            r.string("firmware", id.firmware) && r.boolean("family", id.family) &&
            r.unsignedInt("modelClass", id.modelClass, true, 1) && r.string("bus", bus) &&
            r.unsignedInt("capacity", id.capacity, true, kMaxCapacity) && r.string("wwn", wwn) &&
            r.string("hwid", hwid) && r.string("pcba", id.pcba, false) && r.string("word135", id.word135, false);
  if (!ok) return false;
  auto b = parseBus(bus);
  if (!b) return r.fail("bus", "expected \"sata\", \"ata\" or \"usb\"");
  id.bus = *b;
  auto w = parseWwn(wwn);
  if (!w) return r.fail("wwn", "expected 16 hexadecimal digits");
  id.wwn = *w;
  auto h = parseHexBytes(hwid);
  if (!h || h->size() > kMaxHwidBytes) return r.fail("hwid", "expected up to 16 bytes as hexadecimal digits");
  id.hwid = *h;
  std::string bad = validateIdentity(id);
  if (!bad.empty()) {
    error = path + "." + bad;
    return false;
  }

  const json* media = nullptr;
  if (!r.object("media", media)) return false;
  {
    FieldReader m(*media, path + ".media", error);
    std::string kind;
    if (!m.string("kind", kind)) return false;
    if (kind == "sparse") {
      d.media.kind = MediaKind::Sparse;
    } else if (kind == "file") {
      d.media.kind = MediaKind::File;
      if (!m.string("path", d.media.path)) return false;
      if (d.media.path.empty()) return m.fail("path", "must not be empty");
    } else {
      return m.fail("kind", "expected \"sparse\" or \"file\"");
    }
  }

  const json* latency = nullptr;
  if (!r.object("latency", latency, false)) return false;
  if (latency) {
    FieldReader l(*latency, path + ".latency", error);
    if (!l.unsignedInt("commandUs", d.latency.commandUs) || !l.unsignedInt("perMiBUs", d.latency.perMiBUs) ||
        !l.unsignedInt("randomReadUs", d.latency.randomReadUs, false) ||
        !l.unsignedInt("jitterUs", d.latency.jitterUs, false))
      return false;
  }

  if (!r.unsignedInt("accessibleMax", d.accessibleMax, false, id.capacity)) return false;
  if (!r.signedInt("temperature", d.temperature, -60, 200, false)) return false;
  if (!r.boolean("writeCache", d.writeCacheEnabled, false)) return false;

  const json* counters = nullptr;
  if (!r.object("counters", counters, false)) return false;
  if (counters) {
    FieldReader c(*counters, path + ".counters", error);
    Counters& k = d.counters;
    if (!c.unsignedInt("powerCycles", k.powerCycles, false) || !c.unsignedInt("powerOnHours", k.powerOnHours, false) ||
        !c.unsignedInt("commands", k.commands, false) || !c.unsignedInt("sectorsRead", k.sectorsRead, false) ||
        !c.unsignedInt("sectorsWritten", k.sectorsWritten, false))
      return false;
  }

  if (const json* faults = r.find("faults", false)) {
    if (!faults->is_array()) return r.fail("faults", "expected an array");
    size_t i = 0;
    for (const json& fj : *faults) {
      Fault f;
      if (!parseFault(fj, path + ".faults[" + std::to_string(i) + "]", f, error)) return false;
      d.faults.push_back(f);
      ++i;
    }
  }
  if (!r.unsignedInt("nextFaultId", d.nextFaultId, false)) return false;
  for (const Fault& f : d.faults)
    if (f.id >= d.nextFaultId) d.nextFaultId = f.id + 1;

  if (const json* vendor = r.find("vendor", false)) {
    if (!vendor->is_object()) return r.fail("vendor", "expected an object");
    d.vendor = *vendor;
  }
  return true;
}

}  // namespace

bool parseBayDescription(const std::string& text, const std::string& fileName, BayRecord& out, std::string& error) {
  error.clear();
  json root;
  try {
    root = json::parse(text);
  } catch (const json::parse_error& e) {
    error = fileName + ": not valid JSON (byte " + std::to_string(e.byte) + ")";
    return false;
  } catch (const json::exception& e) {
    // A number no integer or double holds ends the parse with out_of_range.
    error = fileName + ": not valid JSON (" + e.what() + ")";
    return false;
  }
  std::string fieldError;
  auto failWith = [&]() {
    error = fileName + ": " + fieldError;
    return false;
  };
  if (!root.is_object()) {
    fieldError = "expected an object at the top";
    return failWith();
  }
  FieldReader top(root, "", fieldError);
  std::string format;
  int version = 0;
  if (!top.string("format", format)) return failWith();
  if (format != kFormat) {
    top.fail("format", std::string("expected \"") + kFormat + "\"");
    return failWith();
  }
  if (!top.signedInt("version", version, kVersion, kVersion)) return failWith();
  BayRecord bay;
  if (!top.unsignedInt("nextDriveId", bay.nextDriveId)) return failWith();
  const json* slots = top.find("slots", true);
  if (!slots) return failWith();
  if (!slots->is_array() || slots->size() != kBaySlots) {
    top.fail("slots", "expected an array of 8 slots");
    return failWith();
  }
  for (int i = 0; i < kBaySlots; ++i) {
    const json& sj = (*slots)[static_cast<size_t>(i)];
    std::string path = "slots[" + std::to_string(i) + "]";
    if (!sj.is_object()) {
      fieldError = path + ": expected an object";
      return failWith();
    }
    FieldReader sr(sj, path, fieldError);
    SlotRecord& s = bay.slots[static_cast<size_t>(i)];
    if (!sr.boolean("plugged", s.plugged) || !sr.unsignedInt("generation", s.generation)) return failWith();
    const json* dj = sr.find("drive", true);
    if (!dj) return failWith();
    if (dj->is_null()) {
      if (s.plugged) {
        sr.fail("plugged", "true for a slot without a drive");
        return failWith();
      }
      continue;
    }
    if (!dj->is_object()) {
      sr.fail("drive", "expected an object or null");
      return failWith();
    }
    DriveRecord d;
    if (!parseDrive(*dj, path + ".drive", d, fieldError)) return failWith();
    if (d.id >= bay.nextDriveId) bay.nextDriveId = d.id + 1;
    s.drive = std::move(d);
  }
  out = std::move(bay);
  return true;
}

json faultToJson(const Fault& f) {
  json j = {{"id", f.id}, {"kind", std::string(faultKindName(f.kind))}, {"opcode", f.opcode}, {"count", f.count}};
  switch (f.kind) {
    case FaultKind::Fail:
      j["ataStatus"] = f.ataStatus;
      j["ataError"] = f.ataError;
      j["senseKey"] = f.senseKey;
      j["asc"] = f.asc;
      j["ascq"] = f.ascq;
      break;
    case FaultKind::Timeout: j["waitMs"] = f.waitMs; break;
    case FaultKind::Short: j["bytes"] = f.bytes; break;
    case FaultKind::Corrupt:
    case FaultKind::ReadError:
    case FaultKind::Damage:
      j["lba"] = f.lba;
      j["blocks"] = f.blocks;
      break;
    case FaultKind::PowerLoss: break;
    case FaultKind::NotReady:
      j["ms"] = f.ms;
      j["startedMs"] = f.startedMs ? json(*f.startedMs) : json(nullptr);
      break;
  }
  return j;
}

json driveToJson(const DriveRecord& d) {
  const SimIdentity& id = d.identity;
  json media = {{"kind", d.media.kind == MediaKind::Sparse ? "sparse" : "file"}};
  if (d.media.kind == MediaKind::File) media["path"] = d.media.path;
  json faults = json::array();
  for (const Fault& f : d.faults) faults.push_back(faultToJson(f));
  return json{
      {"id", d.id},
      {"model", id.model},
      {"serial", id.serial},
      {"firmware", id.firmware},
      {"family", id.family},
      {"modelClass", id.modelClass},
      {"bus", std::string(busName(id.bus))},
      {"capacity", id.capacity},
      {"wwn", wwnText(id.wwn)},
      {"hwid", toHex(id.hwid.data(), id.hwid.size())},
      {"pcba", id.pcba},
      {"word135", id.word135},
      {"media", media},
      {"latency",
       {{"commandUs", d.latency.commandUs},
        {"perMiBUs", d.latency.perMiBUs},
        {"randomReadUs", d.latency.randomReadUs},
        {"jitterUs", d.latency.jitterUs}}},
      {"accessibleMax", d.accessibleMax},
      {"temperature", d.temperature},
      {"writeCache", d.writeCacheEnabled},
      {"counters",
       {{"powerCycles", d.counters.powerCycles},
        {"powerOnHours", d.counters.powerOnHours},
        {"commands", d.counters.commands},
        {"sectorsRead", d.counters.sectorsRead},
        {"sectorsWritten", d.counters.sectorsWritten}}},
      {"faults", faults},
      {"nextFaultId", d.nextFaultId},
      {"vendor", d.vendor},
  };
}

std::string serializeBayDescription(const BayRecord& bay) {
  json slots = json::array();
  for (const SlotRecord& s : bay.slots) {
    slots.push_back({{"plugged", s.plugged && s.drive.has_value()},
                     {"generation", s.generation},
                     {"drive", s.drive ? driveToJson(*s.drive) : json(nullptr)}});
  }
  json root = {{"format", kFormat}, {"version", kVersion}, {"nextDriveId", bay.nextDriveId}, {"slots", slots}};
  // Vendor state may carry any bytes its owners put in strings; never throw on them.
  return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace zorv::sim
