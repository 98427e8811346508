#include "analysis/file_parsing.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>

#include "diagnostics/report.h"
#include "transport/message.h"

namespace zorv::analysis {

namespace {

constexpr uint16_t kPalloModelClass = 0;

// Reads at most `limit` bytes from the start of the file. False, with the
// reason, when it cannot be read or holds nothing.
bool readBounded(const std::filesystem::path& path, size_t limit, std::string& out, std::string& error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    error = "is a directory";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::strerror(errno);
    return false;
  }
  // Read in pieces up to the limit: the buffer grows with the file, not
  // with the limit.
  out.clear();
  std::error_code sizeError;
  const auto size = std::filesystem::file_size(path, sizeError);
  if (!sizeError) out.reserve(static_cast<size_t>(std::min<uintmax_t>(size, limit)));
  std::array<char, 64 * 1024> piece;
  while (out.size() < limit) {
    in.read(piece.data(), static_cast<std::streamsize>(std::min(piece.size(), limit - out.size())));
    out.append(piece.data(), static_cast<size_t>(in.gcount()));
    if (!in) break;
  }
  if (in.bad()) {
    error = "read error";
    return false;
  }
  if (out.empty()) {
    error = "empty file";
    return false;
  }
  return true;
}

std::string joinRow(const std::vector<std::string>& values) {
  std::string line;
  for (const std::string& v : values) {
    line += CsvField(v);
    line += ',';
  }
  line += "\r\n";
  return line;
}

template <typename MakeValues>
ParseOutcome parseFiles(std::vector<std::string> columns, const std::string& header, size_t readLimit,
                        const std::vector<std::filesystem::path>& files, const std::filesystem::path& csvFile,
                        MakeValues makeValues) {
  ParseOutcome out;
  out.columns = std::move(columns);
  out.csvFile = csvFile;
  std::string csvText;
  // Two runs in the same second share the file; the header goes in once.
  std::error_code ec;
  if (!std::filesystem::exists(csvFile, ec) || std::filesystem::file_size(csvFile, ec) == 0) csvText = header;
  for (const std::filesystem::path& path : files) {
    ParsedFile file;
    file.path = path;
    std::string content;
    if (!readBounded(path, readLimit, content, file.error)) {
      out.listText += kNoFileText;
      out.files.push_back(std::move(file));
      continue;
    }
    file.readable = true;
    file.values = makeValues(path.filename().string(), content);
    std::string line = joinRow(file.values);
    csvText += line;
    out.listText += line;
    out.files.push_back(std::move(file));
  }
  std::ofstream csv(csvFile, std::ios::binary | std::ios::app);
  if (csv) csv << csvText;
  if (csv) csv.close();
  if (!csv) {
    out.csvWritten = false;
    out.csvError = "cannot write " + csvFile.string() + ": " + std::strerror(errno);
  }
  return out;
}

}  // namespace

bool ParseOutcome::allReadable() const {
  for (const ParsedFile& f : files)
    if (!f.readable) return false;
  return true;
}

std::vector<ListColumn> SpiListColumns(ObbProduct product) {
  std::vector<ListColumn> cols{{"File Name", 165}, {"Ttl Bad", 70}};
  for (size_t i = 0; i < kObbPlaneColumns; ++i) cols.push_back({formatText("%02X", static_cast<unsigned>(i)), 30});
  for (const auto* table : {&ObbTableA(product), &ObbTableB(product)})
    for (const ObbField& f : *table)
      if (!f.isGap()) cols.push_back({f.label, 80});
  return cols;
}

std::vector<ListColumn> DevInfoListColumns() {
  std::vector<ListColumn> cols;
  for (const ReportColumn& c : ReportColumns(kPalloModelClass)) cols.push_back({std::string(c.name), c.width});
  return cols;
}

std::string SpiRecordFileName(const DiagClockValue& clock) { return "SPI_OBB_Record" + clock.stamp() + ".csv"; }
std::string DevInfoRecordFileName(const DiagClockValue& clock) {
  return "DevinfoAndSmartReport" + clock.stamp() + ".csv";
}

std::string SpiCsvHeader(ObbProduct product) { return ObbCsvHeader(product); }
std::string DevInfoCsvHeader() { return ReportHeaderLine(kPalloModelClass); }

std::string CsvField(std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(value);
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

ParseOutcome ParseSpiFiles(ObbProduct product, const std::vector<std::filesystem::path>& files,
                           const std::filesystem::path& csvFile) {
  // Only the record area is read: a whole flash image or anything longer
  // costs no more than the area itself.
  return parseFiles(ObbColumnNames(product), SpiCsvHeader(product), ObbLayoutOf(product).areaEnd(), files, csvFile,
                    [product](const std::string& name, const std::string& content) {
                      auto bytes = std::span(reinterpret_cast<const uint8_t*>(content.data()), content.size());
                      std::vector<std::string> values{name};
                      for (int64_t v : ObbRowValues(product, bytes)) values.push_back(std::to_string(v));
                      return values;
                    });
}

ParseOutcome ParseDevInfoFiles(const std::vector<std::filesystem::path>& files, const std::filesystem::path& csvFile) {
  std::vector<std::string> columns;
  for (const ReportColumn& c : ReportColumns(kPalloModelClass)) columns.emplace_back(c.name);
  return parseFiles(std::move(columns), DevInfoCsvHeader(), kRunLogReadLimit, files, csvFile,
                    [](const std::string& name, const std::string& content) {
                      return BuildReportValues(name, content, kPalloModelClass);
                    });
}

std::vector<std::vector<std::string>> ListRowsFromText(std::string_view text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  bool fieldStarted = false;
  auto endField = [&] {
    row.push_back(std::move(field));
    field.clear();
    fieldStarted = false;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
      continue;
    }
    if (c == '"' && !fieldStarted) {
      quoted = true;
      fieldStarted = true;
    } else if (c == ',') {
      endField();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      if (fieldStarted || !field.empty()) endField();
      rows.push_back(std::move(row));
      row.clear();
      ++i;
    } else {
      field += c;
      fieldStarted = true;
    }
  }
  if (fieldStarted || !field.empty()) endField();
  if (!row.empty()) rows.push_back(std::move(row));
  return rows;
}

int64_t ListSortValue(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > (INT64_MAX - 9) / 10) break;  // a longer number keeps its first 18 digits
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

std::vector<size_t> ListSortOrder(const std::vector<std::vector<std::string>>& rows, size_t column, bool ascending) {
  std::vector<int64_t> keys;
  keys.reserve(rows.size());
  for (const auto& row : rows) keys.push_back(column < row.size() ? ListSortValue(row[column]) : 0);
  std::vector<size_t> order(rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return ascending ? keys[a] < keys[b] : keys[b] < keys[a]; });
  return order;
}

}  // namespace zorv::analysis
