#pragma once
// Run logs ("InfoDumpLog%02d%02d%02d%02d%02d.txt", one per run and second)
// and the report that condenses them ("DevinfoAndSmartReport%02d%02d.csv").

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diag_run.h"

namespace zorv {

struct ReportColumn {
  std::string_view name;
  int width;  // where a report is shown in a list
};

// The header columns of a model class (17 for class 0, 23 for class 1).
std::span<const ReportColumn> ReportColumns(uint16_t modelClass);
// Each column name followed by ",", then "\r\n".
std::string ReportHeaderLine(uint16_t modelClass);

std::string RunLogName(const DiagClockValue& clock);
std::string ReportName(const DiagClockValue& clock);

// The run text's first line: the drive list line without its leading
// "Physical Drive %d " (model, serial, capacity and bus).
std::string driveDescriptionFromListLine(std::string_view listLine);

// The values of one run log, in the column order of the model class.
std::vector<std::string> BuildReportValues(std::string_view fileName, std::string_view text, uint16_t modelClass);
// The same joined: every value followed by "," (no line end).
std::string BuildReportRecord(std::string_view fileName, std::string_view text, uint16_t modelClass);

// Appends text to the run log file (created when missing). False with the
// system's error text in `error` when it cannot be written.
bool AppendRunLog(const std::filesystem::path& file, std::string_view text, std::string& error);

struct ReportOutcome {
  std::filesystem::path reportFile;
  int records = 0;                  // run logs turned into records
  int skipped = 0;                  // run logs that could not be read
  bool reportWritable = true;       // false when the report file could not be written
  std::string scratch;              // "Find next error %d\r\n" when the listing failed
};

// Appends the header (for a new report file) and one record per
// "InfoDumpLog*.txt" in directory, deleting each run log it has consumed
// (also those that could not be read).
ReportOutcome MakeReport(const std::filesystem::path& directory, const DiagClockValue& clock, uint16_t modelClass);

}  // namespace zorv
