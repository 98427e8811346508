#pragma once
// The capacity workload's speed report: "PhyWrRpt_<serial>_<MMDDhhmmss>.csv"
// with a header line and one line a second:
//
//   Time,LBA,Speed(MB/S),           sequential: h:m:s,0x<LBA as %04X%08X>,<MB>,
//   Time,Percent,Speed(MB/S),       random:     h:m:s,<percent written>,<MB>,
//
// MB is what was written in that second (bytes >> 20). Lines end "\r\n".

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace zorv {

// The serial's "/", "\\" and control characters become "_".
std::string speedReportName(const std::string& serial, const std::tm& time);
std::string speedReportHeader(bool sequential);
std::string speedReportLine(uint64_t elapsedSeconds, uint64_t lba, uint64_t megabytes);
std::string speedReportLine(uint64_t elapsedSeconds, double percent, uint64_t megabytes);

class SpeedReport {
 public:
  SpeedReport() = default;
  ~SpeedReport();
  SpeedReport(const SpeedReport&) = delete;
  SpeedReport& operator=(const SpeedReport&) = delete;

  // Creates the report in dir (the current directory when empty) and writes
  // its header; false with error set when the file cannot be made.
  bool open(const std::string& dir, const std::string& serial, const std::tm& time, bool sequential,
            std::string& error);
  bool isOpen() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }
  // Appends a line and flushes it, so that the viewer sees it at once.
  void append(const std::string& line);
  void close();

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
};

}  // namespace zorv
