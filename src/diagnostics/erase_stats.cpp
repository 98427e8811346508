#include "diagnostics/erase_stats.h"

#include <algorithm>
#include <any>
#include <cmath>
#include <fstream>
#include <set>

#include "diagnostics/diag_run.h"
#include "diagnostics/ftl_operations.h"
#include "diagnostics/operation_table.h"
#include "discovery/drive_selected.h"
#include "transport/message.h"

namespace zorv {

namespace {

constexpr std::string_view kGroupMark = "============";

std::vector<std::string_view> tokens(std::string_view line) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '=')) ++pos;
    size_t end = pos;
    while (end < line.size() && line[end] != ' ' && line[end] != '=') ++end;
    if (end > pos) out.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

// minDigits to 8 hexadecimal digits; anything else is no number. The dump
// writes its numbers with a fixed width, so a number with fewer digits was
// cut off, not written small.
std::optional<uint32_t> hexToken(std::string_view t, size_t minDigits) {
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.remove_prefix(2);
  if (t.size() < std::max<size_t>(minDigits, 1) || t.size() > 8) return std::nullopt;
  uint32_t v = 0;
  for (char c : t) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  return v;
}

std::string shown(std::string_view line) {
  std::string s(line.substr(0, 60));
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  return line.size() > 60 ? s + "..." : s;
}

// A group header line of either class; the class is 0 or 1, or none.
std::optional<BlockDumpGroup> groupHeader(std::string_view line, uint16_t& modelClass) {
  if (!line.starts_with(kGroupMark)) return std::nullopt;
  std::vector<std::string_view> t = tokens(line);
  static constexpr std::array<std::string_view, 5> kClass0 = {"Ch", "Chip", "Die", "Plane", "DataBlkS"};
  static constexpr std::array<std::string_view, 4> kClass1 = {"Raid", "SlcStr", "RsvStr", "NonSlcStr"};
  BlockDumpGroup g;
  if (t.size() == 10) {
    for (size_t i = 0; i < kClass0.size(); ++i) {
      auto v = hexToken(t[2 * i + 1], i < 4 ? 2 : 4);
      if (t[2 * i] != kClass0[i] || !v) return std::nullopt;
      if (i < 4) g.address[i] = *v; else g.dataStart = *v;
    }
    modelClass = 0;
    g.label = formatText("Ch %02X Chip %02X Die %02X Plane %02X", g.address[0], g.address[1], g.address[2], g.address[3]);
    return g;
  }
  if (t.size() == 8) {
    for (size_t i = 0; i < kClass1.size(); ++i) {
      auto v = hexToken(t[2 * i + 1], i == 0 ? 2 : 4);
      if (t[2 * i] != kClass1[i] || !v) return std::nullopt;
      g.address[i] = *v;
    }
    g.dataStart = g.address[3];
    modelClass = 1;
    g.label = formatText("Raid %02X", g.address[0]);
    return g;
  }
  return std::nullopt;
}

// "Blk %04X : IvidPNum %04X wlidx %04X BLKty %04X EC %04X"
std::optional<BlockDumpRecord> recordLine(std::string_view line) {
  std::vector<std::string_view> t = tokens(line);
  if (t.size() != 11 || t[0] != "Blk" || t[2] != ":" || t[3] != "IvidPNum" || t[5] != "wlidx" || t[7] != "BLKty" ||
      t[9] != "EC")
    return std::nullopt;
  auto index = hexToken(t[1], 4);
  auto invalid = hexToken(t[4], 4);
  auto wear = hexToken(t[6], 4);
  auto type = hexToken(t[8], 4);
  auto ec = hexToken(t[10], 4);
  if (!index || !invalid || !wear || !type || !ec) return std::nullopt;
  return BlockDumpRecord{*index, *invalid, *wear, *type, *ec};
}

// "<label>: 0x%04X" of the plane summary.
std::optional<uint32_t> summaryValue(std::string_view line, std::string_view label) {
  if (!line.starts_with(label)) return std::nullopt;
  std::vector<std::string_view> t = tokens(line.substr(label.size()));
  if (t.size() != 1 || !t[0].starts_with("0x")) return std::nullopt;
  return hexToken(t[0], 4);
}

struct Bins {
  uint32_t low = 0;
  uint32_t width = 1;
  size_t count = 0;
};

Bins binsFor(uint32_t min, uint32_t max, size_t wanted) {
  Bins b;
  b.low = min;
  uint64_t span = uint64_t{max} - min + 1;
  wanted = std::max<size_t>(wanted, 1);
  b.width = static_cast<uint32_t>((span + wanted - 1) / wanted);
  b.count = static_cast<size_t>((span + b.width - 1) / b.width);
  return b;
}

Distribution summarize(const std::vector<uint32_t>& values, const Bins& bins) {
  Distribution d;
  for (size_t i = 0; i < bins.count; ++i) {
    uint64_t from = uint64_t{bins.low} + uint64_t{bins.width} * i;
    uint64_t to = std::min<uint64_t>(from + bins.width - 1, 0xFFFFFFFFu);
    d.histogram.push_back({static_cast<uint32_t>(from), static_cast<uint32_t>(to), 0});
  }
  if (values.empty()) return d;
  d.count = values.size();
  d.min = *std::min_element(values.begin(), values.end());
  d.max = *std::max_element(values.begin(), values.end());
  // Welford's running mean and squared deviations: no loss for large counts.
  double mean = 0;
  double m2 = 0;
  uint64_t n = 0;
  for (uint32_t v : values) {
    ++n;
    double delta = v - mean;
    mean += delta / static_cast<double>(n);
    m2 += delta * (v - mean);
    if (v >= bins.low && bins.count > 0) {
      size_t i = std::min<size_t>((v - bins.low) / bins.width, bins.count - 1);
      ++d.histogram[i].count;
    }
  }
  d.average = mean;
  d.stddev = std::sqrt(m2 / static_cast<double>(n));
  return d;
}

Bins binsOf(const std::vector<uint32_t>& values, size_t wanted) {
  if (values.empty()) return Bins{};
  auto [lo, hi] = std::minmax_element(values.begin(), values.end());
  return binsFor(*lo, *hi, wanted);
}

std::string figures(const char* name, const Distribution& d) {
  if (d.count == 0) return formatText("%s: no good blocks\r\n", name);
  return formatText("%s: min %u, max %u, average %.1f, standard deviation %.1f\r\n", name, d.min, d.max, d.average,
                    d.stddev);
}

}  // namespace

std::optional<DumpGeometry> dumpGeometry(const InfoSsdRecord& record) {
  DumpGeometry g;
  uint32_t* fields[] = {&g.channels, &g.chips, &g.dies, &g.planes, &g.blocksPerPlane, &g.pagesPerBlock};
  for (size_t i = 0; i < std::size(fields); ++i) {
    uint64_t v = record.number(40 + 2 * i, 2);
    if (v == 0 || v == 0xFFFF) return std::nullopt;
    *fields[i] = static_cast<uint32_t>(v);
  }
  return g;
}

std::optional<BlockDumpTable> parseBlockDumpText(std::string_view text, std::string& error) {
  auto fail = [&](std::string why) -> std::optional<BlockDumpTable> {
    error = std::move(why);
    return std::nullopt;
  };
  if (text.size() > kMaxBlockDumpTextBytes)
    return fail(formatText("The block-information dump is larger than %zu MiB: it is no dump of one drive",
                           kMaxBlockDumpTextBytes >> 20));
  BlockDumpTable table;
  std::optional<uint16_t> cls;
  std::set<std::string> labels;
  // Where a class-0 plane summary stands: 0 none yet, 1-4 its lines read.
  int summaryLine = 0;
  uint32_t totalEarly = 0;
  uint32_t totalLater = 0;
  size_t lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;

    BlockDumpGroup* group = table.groups.empty() ? nullptr : &table.groups.back();
    if (summaryLine > 0) {
      static constexpr std::array<std::string_view, 4> kLabels = {"Early Bad:", "Later Bad:", "Total Early Bad:",
                                                                  "Total Later Bad:"};
      auto v = summaryValue(line, kLabels[static_cast<size_t>(summaryLine - 1)]);
      if (!v) return fail(formatText("Line %zu: \"%s\" where the plane summary's \"%s\" line belongs", lineNo,
                                     shown(line).c_str(), std::string(kLabels[static_cast<size_t>(summaryLine - 1)]).c_str()));
      uint32_t early = 0, later = 0;
      for (const BlockDumpRecord& r : group->records) {
        early += r.type == 1;
        later += r.type == 2;
      }
      uint32_t expected[] = {early, later, totalEarly + early, totalLater + later};
      if (*v != expected[summaryLine - 1])
        return fail(formatText("Line %zu: the summary of %s says 0x%04X where its block records give 0x%04X", lineNo,
                               group->label.c_str(), *v, expected[summaryLine - 1]));
      if (summaryLine == 1) group->summaryEarly = *v;
      if (summaryLine == 2) group->summaryLater = *v;
      if (summaryLine == 4) {
        totalEarly += early;
        totalLater += later;
        group->hasSummary = true;
        summaryLine = 0;
      } else {
        ++summaryLine;
      }
      continue;
    }
    uint16_t lineClass = 0;
    if (auto header = groupHeader(line, lineClass)) {
      if (cls && *cls != lineClass)
        return fail(formatText("Line %zu: a model class %u group header in a class %u dump", lineNo, lineClass, *cls));
      cls = lineClass;
      if (group && group->records.empty())
        return fail(formatText("Line %zu: group %s holds no block records", lineNo, group->label.c_str()));
      if (group && *cls == 0 && !group->hasSummary)
        return fail(formatText("Line %zu: group %s ends without its plane summary", lineNo, group->label.c_str()));
      if (table.groups.size() == kMaxBlockDumpGroups)
        return fail(formatText("Line %zu: more than %zu groups: no drive has that many planes", lineNo, kMaxBlockDumpGroups));
      if (!labels.insert(header->label).second)
        return fail(formatText("Line %zu: group %s appears twice", lineNo, header->label.c_str()));
      table.groups.push_back(std::move(*header));
      continue;
    }
    if (auto record = recordLine(line)) {
      if (!group) return fail(formatText("Line %zu: a block record before any group header", lineNo));
      if (group->hasSummary)
        return fail(formatText("Line %zu: a block record after the plane summary of %s", lineNo, group->label.c_str()));
      if (record->index != group->records.size())
        return fail(formatText("Line %zu: block 0x%04X of %s where block 0x%04zX belongs (a line is missing or repeated)",
                               lineNo, record->index, group->label.c_str(), group->records.size()));
      if (group->records.size() == kMaxRecordsPerGroup)
        return fail(formatText("Line %zu: %s holds more than %zu blocks, more than a group can report", lineNo,
                               group->label.c_str(), kMaxRecordsPerGroup));
      group->records.push_back(*record);
      continue;
    }
    if (line == "Current Plane:" && group && *cls == 0 && !group->hasSummary) {
      if (group->records.empty())
        return fail(formatText("Line %zu: group %s holds no block records", lineNo, group->label.c_str()));
      summaryLine = 1;
      continue;
    }
    return fail(formatText("Line %zu is no line of a block-information dump: \"%s\"", lineNo, shown(line).c_str()));
  }
  if (table.groups.empty()) return fail("The block-information dump holds no block records");
  const BlockDumpGroup& last = table.groups.back();
  if (last.records.empty()) return fail("The dump ends at the header of group " + last.label + ": it is cut short");
  if (*cls == 0 && !last.hasSummary)
    return fail("The dump ends inside group " + last.label + " before its plane summary: it is cut short");
  // Every plane (or RAID group) reports the same blocks: a group with fewer
  // is the tail of a dump that was cut short.
  for (const BlockDumpGroup& g : table.groups) {
    if (g.records.size() != table.groups.front().records.size())
      return fail(formatText("Group %s holds %zu blocks, group %s %zu: the dump is incomplete", g.label.c_str(),
                             g.records.size(), table.groups.front().label.c_str(), table.groups.front().records.size()));
  }
  table.modelClass = *cls;
  return table;
}

std::string checkDumpGeometry(const BlockDumpTable& table, const DumpGeometry& g) {
  if (table.modelClass == 0) {
    // A dump holds every plane of the drive: one with fewer was cut short
    // at a plane's end.
    if (table.groups.size() != g.planeCount())
      return formatText("The dump holds %zu planes; the drive has %u", table.groups.size(), g.planeCount());
    for (const BlockDumpGroup& grp : table.groups) {
      const uint32_t limits[] = {g.channels, g.chips, g.dies, g.planes};
      static const char* const kNames[] = {"channel", "chip", "die", "plane"};
      for (size_t i = 0; i < 4; ++i) {
        if (grp.address[i] >= limits[i])
          return formatText("Group %s: %s %02X is beyond the drive's %u %ss", grp.label.c_str(), kNames[i],
                            grp.address[i], limits[i], kNames[i]);
      }
    }
  }
  for (const BlockDumpGroup& grp : table.groups) {
    if (grp.records.size() > g.blocksPerPlane)
      return formatText("Group %s holds %zu blocks; a plane of the drive has %u", grp.label.c_str(), grp.records.size(),
                        g.blocksPerPlane);
    for (const BlockDumpRecord& r : grp.records) {
      if (r.invalidPages > g.pagesPerBlock)
        return formatText("Group %s, block 0x%04X: 0x%04X invalid pages in a block of 0x%04X pages", grp.label.c_str(),
                          r.index, r.invalidPages, g.pagesPerBlock);
    }
  }
  return {};
}

Distribution distributionOf(const std::vector<uint32_t>& values, size_t bins) {
  return summarize(values, binsOf(values, bins));
}

EraseStatistics eraseStatistics(const BlockDumpTable& table) {
  EraseStatistics s;
  s.modelClass = table.modelClass;
  s.perPlane = table.modelClass == 0;
  std::vector<uint32_t> erase;
  std::vector<uint32_t> invalid;
  for (const BlockDumpGroup& g : table.groups) {
    for (const BlockDumpRecord& r : g.records) {
      ++s.blocks;
      s.earlyBad += r.type == 1;
      s.laterBad += r.type == 2;
      if (r.bad()) continue;
      erase.push_back(r.eraseCount);
      invalid.push_back(r.invalidPages);
    }
  }
  const Bins eraseBins = binsOf(erase, kEraseHistogramBins);
  const Bins invalidBins = binsOf(invalid, kEraseHistogramBins);
  s.eraseCount = summarize(erase, eraseBins);
  s.invalidPages = summarize(invalid, invalidBins);
  for (const BlockDumpGroup& g : table.groups) {
    GroupStatistics gs;
    gs.label = g.label;
    gs.address = g.address;
    std::vector<uint32_t> ge;
    std::vector<uint32_t> gi;
    for (const BlockDumpRecord& r : g.records) {
      ++gs.blocks;
      gs.earlyBad += r.type == 1;
      gs.laterBad += r.type == 2;
      if (r.bad()) continue;
      ge.push_back(r.eraseCount);
      gi.push_back(r.invalidPages);
    }
    gs.eraseCount = summarize(ge, eraseBins);
    gs.invalidPages = summarize(gi, invalidBins);
    s.groups.push_back(std::move(gs));
  }
  return s;
}

std::string eraseStatisticsText(const EraseStatistics& s) {
  std::string out;
  if (!s.source.empty()) out += "Block information: " + s.source + "\r\n";
  out += formatText("Blocks: %u, early bad %u, later bad %u, good %llu\r\n", s.blocks, s.earlyBad, s.laterBad,
                    static_cast<unsigned long long>(s.eraseCount.count));
  out += figures("Erase count  ", s.eraseCount);
  out += figures("Invalid pages", s.invalidPages);
  if (!s.geometryChecked) out += "Flash geometry not checked: no Info SSD record of the drive\r\n";
  out += s.perPlane ? "Per plane:\r\n" : "Per RAID group:\r\n";
  for (const GroupStatistics& g : s.groups) {
    const Distribution& e = g.eraseCount;
    out += formatText("%s: bad %u/%u, EC min %u max %u avg %.1f sd %.1f, invalid pages avg %.1f\r\n", g.label.c_str(),
                      g.earlyBad, g.laterBad, e.min, e.max, e.average, e.stddev, g.invalidPages.average);
  }
  return out;
}

BlockDumpReading ReadEraseStatistics(Context& ctx, MessageSink& pane, const std::filesystem::path& directory,
                                     ProgressSink* progress) {
  BlockDumpReading reading;
  if (!checkDriveSelected(ctx)) {
    reading.error = "No drive is selected";
    return reading;
  }
  InfoSsdRecord info;
  std::optional<DumpGeometry> geometry;
  if (ReadInfoSsd(ctx, info).ok()) geometry = dumpGeometry(info);

  RowMemory memory;
  DiagRun run(ctx, pane, memory);
  run.modelClass = ctx.selectedDrive().usModelClass;
  run.directory = directory;
  run.clock = run.now();
  run.progress = progress;
  PerformOperation(run, kDumpAllBlockInfoRow);
  const auto* dump = std::any_cast<BlockDumpResult>(&memory[kDumpAllBlockInfoRow]);
  if (!run.replyRead) {
    reading.error = "3202 Dump All Block Info Fail: the drive did not answer";
  } else if (run.stopped) {
    reading.error = "The dump was stopped: nothing is drawn from a part of it";
  } else if (!dump) {
    reading.error = "The block-information dump was not read whole: nothing is drawn from it";
  }
  if (!reading.error.empty()) return reading;
  reading.textFile = dump->textFile;
  std::string error;
  std::optional<BlockDumpTable> table = parseBlockDumpText(dump->text, error);
  if (table && geometry) error = checkDumpGeometry(*table, *geometry);
  if (!table || !error.empty()) {
    reading.error = error;
    return reading;
  }
  reading.statistics = eraseStatistics(*table);
  reading.statistics->source = dump->textFile.filename().string();
  reading.statistics->geometryChecked = geometry.has_value();
  return reading;
}

BlockDumpReading LoadEraseStatistics(const std::filesystem::path& file, const std::optional<DumpGeometry>& geometry) {
  BlockDumpReading reading;
  reading.textFile = file;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    reading.error = "Cannot read " + file.string() + ": no such file";
    return reading;
  }
  uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size > kMaxBlockDumpTextBytes) {
    reading.error = ec ? "Cannot read " + file.string() + ": " + ec.message()
                       : formatText("%s is larger than %zu MiB: it is no block-information dump", file.string().c_str(),
                                    kMaxBlockDumpTextBytes >> 20);
    return reading;
  }
  std::ifstream in(file, std::ios::binary);
  std::string text(static_cast<size_t>(size), '\0');
  if (!in || !in.read(text.data(), static_cast<std::streamsize>(text.size()))) {
    reading.error = "Cannot read " + file.string();
    return reading;
  }
  std::string error;
  std::optional<BlockDumpTable> table = parseBlockDumpText(text, error);
  if (table && geometry) error = checkDumpGeometry(*table, *geometry);
  if (!table || !error.empty()) {
    reading.error = file.filename().string() + ": " + error;
    return reading;
  }
  reading.statistics = eraseStatistics(*table);
  reading.statistics->source = file.filename().string();
  reading.statistics->geometryChecked = geometry.has_value();
  return reading;
}

}  // namespace zorv
