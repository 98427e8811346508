#pragma once
// The file parsing runs: chosen SPI flash images become rows of
// "SPI_OBB_Record%02d%02d%02d%02d%02d.csv", chosen run logs rows of
// "DevinfoAndSmartReport%02d%02d%02d%02d%02d.csv" (the record of the
// diagnostics report), one row per file, in the order the files were given.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/obb_record.h"
#include "diagnostics/diag_run.h"

namespace zorv::analysis {

// What an unreadable or empty file contributes to the list text.
constexpr std::string_view kNoFileText = "No File\r\nNo Arg\r\n";
// "Open DevInfo" knows only the Pallo run logs.
constexpr std::string_view kNotSupportText = "Not Support";

// Run logs are text and read whole up to this size; a longer file is read
// up to it (its first runs are the ones the record takes its values from).
constexpr size_t kRunLogReadLimit = size_t{16} << 20;

struct ListColumn {
  std::string title;
  int width = 0;
};

// The list's columns: "File Name" (165), "Ttl Bad" (70), "00".."7F" (30) and
// the labels of table A and B (80).
std::vector<ListColumn> SpiListColumns(ObbProduct product);
// The columns of the model-class-0 report, with its widths.
std::vector<ListColumn> DevInfoListColumns();

std::string SpiRecordFileName(const DiagClockValue& clock);
std::string DevInfoRecordFileName(const DiagClockValue& clock);
// The CSV header of each run (the four plane lines, or the report header).
std::string SpiCsvHeader(ObbProduct product);
std::string DevInfoCsvHeader();

// One field of a CSV row: quoted (with doubled quotes) when it holds a
// comma, a quote or a line break, as is otherwise.
std::string CsvField(std::string_view value);

struct ParsedFile {
  std::filesystem::path path;
  bool readable = false;
  std::string error;                // why it gave no row
  std::vector<std::string> values;  // the row's values (columns below), file name first
};

struct ParseOutcome {
  std::vector<std::string> columns;  // the names of a row's values
  std::vector<ParsedFile> files;
  // The rows as the list shows them: each readable file's CSV row, and
  // kNoFileText for a file that gave none; "\r\n" after each line.
  std::string listText;
  std::filesystem::path csvFile;
  bool csvWritten = true;
  std::string csvError;
  bool allReadable() const;
};

// Reads each file and appends the header (to a new or empty file only) and one
// row per readable file to csvFile. A file is named in its row by its name
// alone, as the run log's time is taken from its name.
ParseOutcome ParseSpiFiles(ObbProduct product, const std::vector<std::filesystem::path>& files,
                           const std::filesystem::path& csvFile);
ParseOutcome ParseDevInfoFiles(const std::vector<std::filesystem::path>& files, const std::filesystem::path& csvFile);

// The lines of list text as list rows: a CSV line split into its fields
// (quoted fields kept whole, quotes undone).
std::vector<std::vector<std::string>> ListRowsFromText(std::string_view listText);

// The value a list column is sorted by: the text's leading decimal integer
// (an optional sign, then digits); text that is not a number counts as 0.
int64_t ListSortValue(std::string_view text);
// The order of rows sorted by that value of one column (a row without the
// column counts as 0); rows of equal value keep their order.
std::vector<size_t> ListSortOrder(const std::vector<std::vector<std::string>>& rows, size_t column, bool ascending);

}  // namespace zorv::analysis
