#include "diagnostics/report.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "transport/message.h"
#include "diagnostics/info_ssd.h"
#include "diagnostics/smart.h"

namespace zorv {

namespace {

constexpr ReportColumn kClass0Columns[] = {
    {"FileName", 120}, {"Time", 90},     {"Serial", 90},   {"Capacity", 80}, {"Ers(Min)", 80}, {"Ers(Max)", 80},
    {"Ers(AVG)", 80},  {"OBB Cnt", 80},  {"LBB Cnt", 80},  {"Tal Rd", 80},   {"Tal Wr", 80},   {"WA(TBL)", 80},
    {"TempN", 80},     {"TempW", 80},    {"SSD Life", 80}, {"Flash Wr", 80}, {"Flash Rd", 80},
};

constexpr ReportColumn kClass1Columns[] = {
    {"FileName", 120},    {"Time", 90},         {"Serial", 90},       {"Capacity", 80},     {"L2 Ers(Min)", 80},
    {"L2 Ers(Max)", 80},  {"L2 Ers(AVG)", 80},  {"TLC Ers(Min)", 80}, {"TLC Ers(Max)", 80}, {"TLC Ers(AVG)", 80},
    {"SLC Ers(Min)", 80}, {"SLC Ers(Max)", 80}, {"SLC Ers(AVG)", 80}, {"OBB Cnt", 80},      {"GBB Cnt", 80},
    {"Tal Rd", 80},       {"Tal Wr", 80},       {"WA(TBL)", 80},      {"TempN", 80},        {"TempW", 80},
    {"SSD Life", 80},     {"Flash Wr", 80},     {"Flash Rd", 80},
};

// The label table rows whose values fill the Info SSD columns.
constexpr size_t kClass0Sources[] = {24, 25, 26, 38, 39, 42, 43, 44};
constexpr size_t kClass1Sources[] = {18, 19, 20, 22, 23, 24, 31, 32, 33, 40, 41, 44, 45, 46};

static_assert(std::size(kClass0Columns) == 4 + std::size(kClass0Sources) + 5);
static_assert(std::size(kClass1Columns) == 4 + std::size(kClass1Sources) + 5);

constexpr std::string_view kRunLogPrefix = "InfoDumpLog";
constexpr std::string_view kRunLogSuffix = ".txt";

// The rest of the line that starts at pos, and the position after its "\r\n".
std::string_view restOfLine(std::string_view text, size_t pos, size_t& next) {
  size_t end = text.find("\r\n", pos);
  if (end == std::string_view::npos) {
    next = text.size();
    return text.substr(pos);
  }
  next = end + 2;
  return text.substr(pos, end - pos);
}

bool isWordEnd(char c) { return c == ' ' || c == '\r' || c == '\n'; }

std::string_view nextWord(std::string_view text, size_t& pos) {
  size_t start = pos;
  while (pos < text.size() && !isWordEnd(text[pos])) ++pos;
  std::string_view word = text.substr(start, pos - start);
  if (pos < text.size() && text[pos] == ' ') ++pos;
  return word;
}

}  // namespace

std::span<const ReportColumn> ReportColumns(uint16_t modelClass) {
  if (modelClass == 1) return kClass1Columns;
  return kClass0Columns;
}

std::string ReportHeaderLine(uint16_t modelClass) {
  std::string out;
  for (const ReportColumn& c : ReportColumns(modelClass)) {
    out += c.name;
    out += ',';
  }
  out += "\r\n";
  return out;
}

std::string RunLogName(const DiagClockValue& clock) { return "InfoDumpLog" + clock.stamp() + ".txt"; }

std::string ReportName(const DiagClockValue& clock) {
  return formatText("DevinfoAndSmartReport%02d%02d.csv", clock.month(), clock.day());
}

std::string driveDescriptionFromListLine(std::string_view line) {
  constexpr std::string_view kPrefix = "Physical Drive ";
  if (line.substr(0, kPrefix.size()) != kPrefix) return std::string(line);
  size_t pos = kPrefix.size();
  while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') ++pos;
  if (pos < line.size() && line[pos] == ' ') ++pos;
  return std::string(line.substr(pos));
}

std::vector<std::string> BuildReportValues(std::string_view fileName, std::string_view text, uint16_t modelClass) {
  std::vector<std::string> values;
  values.emplace_back(fileName);
  std::string_view stem = fileName.substr(0, fileName.find('.'));
  values.emplace_back(stem.size() > kRunLogPrefix.size() ? stem.substr(kRunLogPrefix.size()) : std::string_view{});

  // The description line reads "model serial capacity bus".
  size_t pos = text.find(' ');
  pos = pos == std::string_view::npos ? text.size() : pos + 1;
  values.emplace_back(nextWord(text, pos));
  values.emplace_back(nextWord(text, pos));

  auto table = InfoSsdLabelTable(modelClass);
  std::span<const size_t> sources = modelClass == 1 ? std::span<const size_t>(kClass1Sources)
                                                    : std::span<const size_t>(kClass0Sources);
  for (size_t row : sources) {
    std::string_view label = table[row].label;
    size_t at = text.find(label, pos);
    if (at == std::string_view::npos) {
      values.emplace_back();
      continue;
    }
    values.emplace_back(restOfLine(text, at + label.size(), pos));
  }

  auto lineAfter = [&](std::string_view key, size_t from, size_t& next) -> std::optional<std::string> {
    size_t at = text.find(key, from);
    if (at == std::string_view::npos) return std::nullopt;
    return "0x" + std::string(restOfLine(text, at + key.size(), next));
  };
  for (size_t row : {kSmartRowTemperature, kSmartRowLifeLeft, kSmartRowFlashWrites, kSmartRowFlashReads}) {
    bool temperature = row == kSmartRowTemperature;
    size_t at = text.find(SmartAttributeNames[row].name, pos);
    std::optional<std::string> now;
    std::optional<std::string> worst;
    if (at != std::string_view::npos) {
      size_t next = pos;
      now = lineAfter("Now:      ", at, next);
      if (now) {
        pos = next;
        if (temperature) {
          worst = lineAfter("Worst:    ", pos, next);
          if (worst) pos = next;
        }
      }
    }
    values.push_back(now.value_or(""));
    if (temperature) values.push_back(worst.value_or(""));
  }
  return values;
}

std::string BuildReportRecord(std::string_view fileName, std::string_view text, uint16_t modelClass) {
  std::string out;
  for (const std::string& v : BuildReportValues(fileName, text, modelClass)) {
    out += v;
    out += ',';
  }
  return out;
}

bool AppendRunLog(const std::filesystem::path& file, std::string_view text, std::string& error) {
  std::ofstream out(file, std::ios::binary | std::ios::app);
  if (!out) {
    error = std::strerror(errno);
    return false;
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) {
    error = std::strerror(errno ? errno : EIO);
    return false;
  }
  return true;
}

ReportOutcome MakeReport(const std::filesystem::path& directory, const DiagClockValue& clock, uint16_t modelClass) {
  namespace fs = std::filesystem;
  ReportOutcome outcome;
  outcome.reportFile = directory / ReportName(clock);

  std::error_code ec;
  bool exists = fs::exists(outcome.reportFile, ec);
  std::ofstream report(outcome.reportFile, std::ios::binary | std::ios::app);
  if (!report) {
    outcome.reportWritable = false;
    return outcome;
  }
  if (!exists) report << ReportHeaderLine(modelClass);
  report.flush();

  std::vector<fs::path> logs;
  fs::directory_iterator it(directory, ec);
  fs::directory_iterator end;
  while (!ec && it != end) {
    std::string name = it->path().filename().string();
    std::error_code typeError;
    // A run log is a file; a link that leads nowhere counts as one that cannot be read.
    bool candidate = it->is_regular_file(typeError) || it->is_symlink(typeError);
    if (candidate && name.size() >= kRunLogPrefix.size() + kRunLogSuffix.size() && name.starts_with(kRunLogPrefix) &&
        name.ends_with(kRunLogSuffix)) {
      logs.push_back(it->path());
    }
    it.increment(ec);
  }
  if (ec) outcome.scratch = formatText("Find next error %d\r\n", ec.value());
  // Oldest first: the names carry month, day and time.
  std::sort(logs.begin(), logs.end());

  for (const fs::path& log : logs) {
    std::ifstream in(log, std::ios::binary);
    std::ostringstream content;
    if (in) content << in.rdbuf();
    if (!in || in.bad()) {
      ++outcome.skipped;
    } else {
      report << BuildReportRecord(log.filename().string(), content.str(), modelClass) << "\r\n";
      report.flush();
      if (!report) {
        // A run log is only given up once its record is in the report.
        outcome.reportWritable = false;
        break;
      }
      ++outcome.records;
    }
    in.close();
    fs::remove(log, ec);
  }
  return outcome;
}

}  // namespace zorv
