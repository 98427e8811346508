#include "workload/workload_plan.h"

#include <vector>

#include "transport/message.h"
#include "workload/script_values.h"

namespace zorv {

namespace {

std::string hex(uint64_t v) { return formatText("%llX", static_cast<unsigned long long>(v)); }
std::string flag(bool b) { return b ? "TRUE" : "FALSE"; }

// The block's lines; the client workload's script is whatever follows its
// fixed lines.
class BlockReader {
 public:
  BlockReader(std::string_view text, std::string& error) : text_(text), error_(error) {}

  std::optional<std::string> line(const char* what) {
    if (pos_ >= text_.size()) {
      error_ = formatText("The workload block ends before its %s", what);
      return std::nullopt;
    }
    size_t end = text_.find("\r\n", pos_);
    if (end == std::string_view::npos) end = text_.size();
    std::string l(text_.substr(pos_, end - pos_));
    pos_ = std::min(text_.size(), end + 2);
    return l;
  }
  std::optional<uint64_t> hexLine(const char* what) {
    auto l = line(what);
    return l ? scriptHex(*l, what, error_) : std::nullopt;
  }
  std::optional<uint64_t> decLine(const char* what, uint64_t max) {
    auto l = line(what);
    return l ? scriptDecimal(*l, what, 0, max, error_) : std::nullopt;
  }
  std::optional<bool> flagLine(const char* what) {
    auto l = line(what);
    return l ? scriptFlag(*l, what, error_) : std::nullopt;
  }
  std::string_view rest() const { return text_.substr(pos_); }

 private:
  std::string_view text_;
  std::string& error_;
  size_t pos_ = 0;
};

bool fail(std::string& error, const std::string& text) {
  error = text;
  return false;
}

bool readRdnSq(BlockReader& r, WorkloadPlan& p, std::string& error) {
  auto used = r.hexLine("random boundary");
  auto rsv = used ? r.hexLine("reserve boundary") : std::nullopt;
  auto seq = rsv ? r.hexLine("sequential boundary") : std::nullopt;
  auto rdn = seq ? r.hexLine("random boundary") : std::nullopt;
  auto fill = rdn ? r.line("reserve fill") : std::nullopt;
  auto mode = fill ? r.line("loop or time") : std::nullopt;
  if (!mode) return false;
  if (*fill != "RsvFill" && *fill != "RsvRemain") return fail(error, "Reserve fill must be RsvFill or RsvRemain");
  if (!(*rsv <= *seq && *seq <= *rdn && *rdn == *used)) return fail(error, "The boundaries are out of order");
  p.rsvBoundary = *rsv;
  p.seqBoundary = *seq;
  p.rdnBoundary = *rdn;
  p.rsvFill = *fill == "RsvFill";
  if (*mode == "byTime") {
    auto h = r.decLine("hours", 99);
    auto m = h ? r.decLine("minutes", 99) : std::nullopt;
    if (!m) return false;
    if (*h == 0 && *m == 0) return fail(error, "A timed run needs at least one minute");
    p.byTime = true;
    p.hours = static_cast<uint32_t>(*h);
    p.minutes = static_cast<uint32_t>(*m);
  } else if (*mode == "byLoop") {
    auto n = r.decLine("loop count", 0xFFFFFFFFu);
    if (!n) return false;
    if (*n == 0) return fail(error, "The loop count must be at least 1");
    p.loops = static_cast<uint32_t>(*n);
  } else {
    return fail(error, "The run must be byTime or byLoop");
  }
  return true;
}

bool readCommandValues(BlockReader& r, WorkloadPlan& p, std::string& error) {
  auto total = r.hexLine("sectors to write");
  auto kb = total ? r.decLine("KB per command", kMaxCommandKb) : std::nullopt;
  auto seq = kb ? r.flagLine("sequence") : std::nullopt;
  auto rb = seq ? r.flagLine("read back") : std::nullopt;
  if (!rb) return false;
  if (*total == 0 || *kb == 0) return fail(error, "The sectors to write and the command size must not be 0");
  p.totalSectors = *total;
  p.kb = static_cast<uint32_t>(*kb);
  p.sequential = *seq;
  p.readBack = *rb;
  if (p.rangeEnd - p.rangeStart < uint64_t{p.kb} * 2) return fail(error, "The range is smaller than one command");
  return true;
}

}  // namespace

std::string_view workloadKindWord(WorkloadKind kind) {
  switch (kind) {
    case WorkloadKind::RdnSqLoop: return "RdnSqLoop";
    case WorkloadKind::CapasLoop: return "CapasLoop";
    case WorkloadKind::DefineLop: return "DefineLop";
    case WorkloadKind::Jesd219a: return "Jesd219a";
  }
  return "";
}

uint64_t WorkloadPlan::writeFirst() const { return kind == WorkloadKind::DefineLop ? rangeStart : 0; }

uint64_t WorkloadPlan::writeEnd() const {
  switch (kind) {
    case WorkloadKind::RdnSqLoop: return rdnBoundary;
    case WorkloadKind::CapasLoop:
    case WorkloadKind::DefineLop: return rangeEnd;
    case WorkloadKind::Jesd219a: return totalLba;
  }
  return 0;
}

std::string workloadBlock(const WorkloadPlan& p) {
  std::vector<std::string> lines = {std::to_string(p.rowIndex), std::string(workloadKindWord(p.kind)), p.deviceId,
                                    p.serial, p.devicePath};
  switch (p.kind) {
    case WorkloadKind::RdnSqLoop:
      lines.insert(lines.end(), {hex(p.rdnBoundary), hex(p.rsvBoundary), hex(p.seqBoundary), hex(p.rdnBoundary),
                                 p.rsvFill ? "RsvFill" : "RsvRemain"});
      if (p.byTime) {
        lines.insert(lines.end(), {"byTime", std::to_string(p.hours), std::to_string(p.minutes)});
      } else {
        lines.insert(lines.end(), {"byLoop", std::to_string(p.loops)});
      }
      break;
    case WorkloadKind::CapasLoop:
      lines.insert(lines.end(), {hex(p.rangeEnd), hex(p.totalSectors), std::to_string(p.kb), flag(p.sequential),
                                 flag(p.readBack)});
      break;
    case WorkloadKind::DefineLop:
      lines.insert(lines.end(), {hex(p.rangeStart), hex(p.rangeEnd), hex(p.totalSectors), std::to_string(p.kb),
                                 flag(p.sequential), flag(p.readBack), flag(p.lengthRandom)});
      break;
    case WorkloadKind::Jesd219a:
      lines.insert(lines.end(), {hex(p.totalLba), hex(p.grp1Boundary), hex(p.grp2Boundary), hex(p.totalLba),
                                 flag(p.readBack), std::to_string(p.loop)});
      break;
  }
  std::string block;
  for (const std::string& l : lines) block += l + "\r\n";
  if (p.kind == WorkloadKind::Jesd219a) block += p.scriptText;
  return block;
}

std::optional<WorkloadPlan> parseWorkloadBlock(std::string_view block, std::string& error) {
  BlockReader r(block, error);
  WorkloadPlan p;
  auto row = r.decLine("row index", 1000);
  auto kind = row ? r.line("kind") : std::nullopt;
  auto id = kind ? r.line("device ID") : std::nullopt;
  auto serial = id ? r.line("serial") : std::nullopt;
  auto path = serial ? r.line("device path") : std::nullopt;
  if (!path) return std::nullopt;
  p.rowIndex = static_cast<int>(*row);
  p.deviceId = *id;
  p.serial = *serial;
  p.devicePath = *path;
  bool ok = false;
  if (*kind == "RdnSqLoop") {
    p.kind = WorkloadKind::RdnSqLoop;
    ok = readRdnSq(r, p, error);
  } else if (*kind == "CapasLoop") {
    p.kind = WorkloadKind::CapasLoop;
    auto size = r.hexLine("range size");
    if (!size) return std::nullopt;
    p.rangeEnd = *size;
    ok = readCommandValues(r, p, error);
  } else if (*kind == "DefineLop") {
    p.kind = WorkloadKind::DefineLop;
    auto start = r.hexLine("start LBA");
    auto end = start ? r.hexLine("end LBA") : std::nullopt;
    if (!end) return std::nullopt;
    if (*start >= *end) return fail(error, "Start LBA must lie below End LBA"), std::nullopt;
    p.rangeStart = *start;
    p.rangeEnd = *end;
    ok = readCommandValues(r, p, error);
    auto lr = ok ? r.flagLine("length random") : std::nullopt;
    ok = lr.has_value();
    if (ok) p.lengthRandom = *lr;
  } else if (*kind == "Jesd219a") {
    p.kind = WorkloadKind::Jesd219a;
    auto total = r.hexLine("total LBA");
    auto g1 = total ? r.hexLine("group 1 boundary") : std::nullopt;
    auto g2 = g1 ? r.hexLine("group 2 boundary") : std::nullopt;
    auto total2 = g2 ? r.hexLine("total LBA") : std::nullopt;
    auto rb = total2 ? r.flagLine("read back") : std::nullopt;
    auto loop = rb ? r.decLine("loop", 1000000) : std::nullopt;
    if (!loop) return std::nullopt;
    if (!(*g1 <= *g2 && *g2 <= *total && *total == *total2 && *total > 0))
      return fail(error, "The group boundaries are out of order"), std::nullopt;
    p.totalLba = *total;
    p.grp1Boundary = *g1;
    p.grp2Boundary = *g2;
    p.readBack = *rb;
    p.loop = static_cast<uint32_t>(*loop);
    p.scriptText = std::string(r.rest());
    auto script = parseJesdScript(p.scriptText, error);
    if (!script) return std::nullopt;
    p.script = *script;
    ok = true;
  } else {
    error = "Unknown workload kind \"" + *kind + "\"";
    return std::nullopt;
  }
  if (!ok) return std::nullopt;
  return p;
}

}  // namespace zorv
