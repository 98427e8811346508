#pragma once
// What the speed report viewer shows of a report: the line count ("cnt: %d"),
// one curve point per line (the number after the last ",", in MB/s; the
// header line gives 0) and the lines as text: "Time:" before each, its first
// "," shown as " LBA:" in a sequential report (the line holds "0x") or
// " Pcnt:" in a random one. Lines end "\r\n"; a line without "," adds no
// point.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

struct SpeedReportView {
  int lineCount = 0;
  std::vector<double> speeds;  // x = index (seconds), y = MB/s
  std::string text;            // the text box: "cnt: %d\r\n", then the lines
};

SpeedReportView parseSpeedReport(std::string_view text);

// The largest report read (a report of 100 days of seconds is far below it).
constexpr uint64_t kMaxSpeedReportBytes = 256ull << 20;

// Reads and parses the file; empty with error set when it cannot be read.
std::optional<SpeedReportView> readSpeedReport(const std::string& path, std::string& error);

}  // namespace zorv
