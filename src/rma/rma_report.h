#pragma once
// The day's report of the repair station: "RmaReport<MMDD>.csv" (the UTC
// month and day) in the report directory. A new file gets the header line
// first; every run that reaches a verdict appends its line. The file is only
// ever appended to, under an exclusive lock, header and line in one write, so
// two stations sharing a directory never interleave or lose lines.

#include <ctime>
#include <string>

namespace zorv::rma {

// "RmaReport%02d%02d.csv" of the date's month and day.
std::string reportFileName(const std::tm& utcDate);
// The twelve column names, each followed by ",", then "\r\n".
const std::string& reportHeader();

struct ReportWrite {
  std::string path;
  bool written = false;
  std::string error;  // why it was not written
};

// Appends line (which ends in "\r\n") to the day's report in directory.
ReportWrite appendReportLine(const std::string& directory, const std::tm& utcDate, const std::string& line);

}  // namespace zorv::rma
