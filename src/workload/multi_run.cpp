#include "workload/multi_run.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "discovery/enumerate.h"
#include "workload/workload_run.h"

namespace zorv {

namespace {

std::string hex(uint64_t v) { return formatText("%llX", static_cast<unsigned long long>(v)); }
std::string flag(bool b) { return b ? "TRUE" : "FALSE"; }

}  // namespace

std::optional<std::string> readScriptFile(const std::string& path, std::string& error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    error = "Open Script File fail: " + path;
    return std::nullopt;
  }
  if (std::filesystem::file_size(path, ec) > kMaxWorkloadScriptBytes) {
    error = formatText("%s is larger than %zu KiB: not a workload script", path.c_str(), kMaxWorkloadScriptBytes / 1024);
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    error = "Open Script File fail: " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  return text;
}

MultiRunTab::MultiRunTab() = default;

void MultiRunTab::getDrives(Context& ctx) {
  rows_.clear();
  if (ctx.ucDriveCount != kNoDrive) {
    for (int i = 0; i < kMaxDrives && i < ctx.ucDriveCount; ++i) {
      const DriveEntry& d = ctx.DriveTable[static_cast<size_t>(i)];
      if (d.strDevicePath.empty() || !isFamilyDrive(ctx, d)) continue;
      rows_.push_back({d, physicalDriveNumber(ctx, d.strDevicePath), true});
    }
  }
  kind_ = WorkloadKind::RdnSqLoop;
}

std::vector<std::string> MultiRunTab::columns() const {
  std::vector<std::string> c = {"Device ID", "Serial Num", "Physical Drive", "Capacity"};
  switch (kind_) {
    case WorkloadKind::RdnSqLoop: c.insert(c.end(), {"Rsv Boundary", "Seq Boundary", "Rdn Boundary"}); break;
    case WorkloadKind::CapasLoop:
      c.insert(c.end(), {"Max LBA", "LBA Rnage", "Write Sec", "Length KB", "Sequence", "Read Back"});
      break;
    case WorkloadKind::DefineLop:
      c.insert(c.end(), {"Max LBA", "Start LBA", "End LBA", "Write Sec", "Len KB", "Seq", "Rd Back", "Len Rdn"});
      break;
    case WorkloadKind::Jesd219a:
      c.insert(c.end(), {"Grp1 Boundary", "Grp2 Boundary", "Total LBA", "Read Back", "Loop"});
      break;
  }
  return c;
}

Boundaries MultiRunTab::mixedBoundaries(const DriveEntry& d) const {
  return computeBoundaries(d.sectorCount(), sequential_, random_);
}

Boundaries MultiRunTab::clientBoundaries(const DriveEntry& d) const {
  return computeBoundaries(d.sectorCount(), jesdSpace1(jesd_), jesdSpace2(jesd_));
}

std::vector<std::string> MultiRunTab::rowTexts(size_t row) const {
  const MultiRunRow& r = rows_.at(row);
  const uint64_t sectors = r.drive.sectorCount();
  std::vector<std::string> t = {r.drive.strModel, r.drive.strSerial, std::to_string(r.physicalDrive),
                                formatText("%dG", static_cast<int>(sectors >> 21))};
  const std::string maxLba = hex(sectors ? sectors - 1 : 0);
  switch (kind_) {
    case WorkloadKind::RdnSqLoop: {
      Boundaries b = mixedBoundaries(r.drive);
      t.insert(t.end(), {hex(b.first), hex(b.second), hex(b.third)});
      break;
    }
    case WorkloadKind::CapasLoop:
      t.insert(t.end(), {maxLba, hex(capacity_.rangeSize), hex(capacity_.totalSectors), std::to_string(capacity_.kb),
                         flag(capacity_.sequential), flag(capacity_.readBack)});
      break;
    case WorkloadKind::DefineLop:
      t.insert(t.end(), {maxLba, hex(define_.startLba), hex(define_.endLba), hex(define_.totalSectors),
                         std::to_string(define_.kb), flag(define_.sequential), flag(define_.readBack),
                         flag(define_.lengthRandom)});
      break;
    case WorkloadKind::Jesd219a: {
      Boundaries b = clientBoundaries(r.drive);
      t.insert(t.end(), {hex(b.first), hex(b.second), hex(b.third), flag(jesd_.readBack), std::to_string(jesd_.loop)});
      break;
    }
  }
  return t;
}

bool MultiRunTab::setSequentialPercent(int percent) {
  if (percent < 0 || percent > 99) return false;
  sequential_ = percent;
  random_ = 100 - percent;
  kind_ = WorkloadKind::RdnSqLoop;
  return true;
}

bool MultiRunTab::setRandomPercent(int percent) {
  if (percent < 0 || percent > 100 - sequential_) return false;
  random_ = percent;
  kind_ = WorkloadKind::RdnSqLoop;
  return true;
}

std::vector<int> MultiRunTab::randomChoices() const {
  std::vector<int> c;
  for (int p = 0; p <= 100 - sequential_; ++p) c.push_back(p);
  return c;
}

bool MultiRunTab::setLoopText(const std::string& text) {
  bool digits = !text.empty() && text.size() <= 9 &&
                std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  if (!digits) {
    loopText_.clear();
    loops = 0;
    return text.empty();
  }
  loopText_ = text;
  loops = static_cast<uint32_t>(std::stoul(text));
  return true;
}

bool MultiRunTab::openDefineScript(const std::string& text, std::string& error) {
  auto s = parseDefineScript(text, error);
  if (!s) return false;
  define_ = *s;
  kind_ = WorkloadKind::DefineLop;
  return true;
}

bool MultiRunTab::openCapacityScript(const std::string& text, std::string& error) {
  auto s = parseCapacityScript(text, error);
  if (!s) return false;
  capacity_ = *s;
  kind_ = WorkloadKind::CapasLoop;
  return true;
}

bool MultiRunTab::openJesdScript(const std::string& text, std::string& error) {
  auto s = parseJesdScript(text, error);
  if (!s) return false;
  jesd_ = *s;
  jesdText_ = text;
  kind_ = WorkloadKind::Jesd219a;
  return true;
}

WorkloadPlan MultiRunTab::planFor(size_t row) const {
  const MultiRunRow& r = rows_.at(row);
  WorkloadPlan p;
  p.rowIndex = static_cast<int>(row);
  p.kind = kind_;
  p.deviceId = r.drive.strModel;
  p.serial = r.drive.strSerial;
  p.devicePath = r.drive.strDevicePath;
  switch (kind_) {
    case WorkloadKind::RdnSqLoop: {
      Boundaries b = mixedBoundaries(r.drive);
      p.rsvBoundary = b.first;
      p.seqBoundary = b.second;
      p.rdnBoundary = b.third;
      p.rsvFill = reserveFill;
      p.byTime = byTime;
      p.hours = hours;
      p.minutes = minutes;
      p.loops = loops;
      break;
    }
    case WorkloadKind::CapasLoop:
      p.rangeEnd = capacity_.rangeSize;
      p.totalSectors = capacity_.totalSectors;
      p.kb = capacity_.kb;
      p.sequential = capacity_.sequential;
      p.readBack = capacity_.readBack;
      break;
    case WorkloadKind::DefineLop:
      p.rangeStart = define_.startLba;
      p.rangeEnd = define_.endLba;
      p.totalSectors = define_.totalSectors;
      p.kb = define_.kb;
      p.sequential = define_.sequential;
      p.readBack = define_.readBack;
      p.lengthRandom = define_.lengthRandom;
      break;
    case WorkloadKind::Jesd219a: {
      Boundaries b = clientBoundaries(r.drive);
      p.grp1Boundary = b.first;
      p.grp2Boundary = b.second;
      p.totalLba = b.third;
      p.readBack = jesd_.readBack;
      p.loop = jesd_.loop;
      p.scriptText = jesdText_;
      p.script = jesd_;
      break;
    }
  }
  return p;
}

std::optional<std::vector<std::string>> MultiRunTab::buildBlocks(Context& ctx, const RawWritePermission& permission,
                                                                 std::string& error) const {
  std::vector<std::string> blocks;
  if (kind_ == WorkloadKind::RdnSqLoop) {
    if (byTime && hours == 0 && minutes == 0) {
      error = "A timed run needs at least one minute";
      return std::nullopt;
    }
    if (!byTime && loops == 0) {
      error = "Loop must be a number of at least 1";
      return std::nullopt;
    }
    if (hours > 99 || minutes > 99) {
      error = "Hours and Minutes lie between 0 and 99";
      return std::nullopt;
    }
  }
  for (size_t i = 0; i < rows_.size(); ++i) {
    const MultiRunRow& r = rows_[i];
    if (!r.checked) continue;
    WorkloadPlan p = planFor(i);
    std::string why = kind_ == WorkloadKind::CapasLoop   ? capacityScriptRefusal(capacity_, r.drive.sectorCount())
                      : kind_ == WorkloadKind::DefineLop ? defineScriptRefusal(define_, r.drive.sectorCount())
                                                         : std::string();
    if (why.empty()) why = workloadPlanRefusal(p, r.drive);
    if (why.empty()) why = rawWriteRefusal(ctx, r.drive, p.writeFirst(), p.writeEnd(), permission);
    if (!why.empty()) {
      error = formatText("Physical Drive %d (%s): %s", r.physicalDrive, r.drive.strSerial.c_str(), why.c_str());
      return std::nullopt;
    }
    blocks.push_back(workloadBlock(p));
  }
  if (blocks.empty()) {
    error = "No drive is checked";
    return std::nullopt;
  }
  return blocks;
}

}  // namespace zorv
