#include "workload/speed_report.h"

#include <cerrno>
#include <cstring>

#include "transport/message.h"

namespace zorv {

namespace {

std::string elapsedText(uint64_t s) {
  return formatText("%llu:%llu:%llu", static_cast<unsigned long long>(s / 3600),
                    static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
}

}  // namespace

std::string speedReportName(const std::string& serial, const std::tm& t) {
  // The serial number comes from the drive: it must not lead the file elsewhere.
  std::string name = serial;
  for (char& c : name)
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
  return formatText("PhyWrRpt_%s_%02d%02d%02d%02d%02d.csv", name.c_str(), t.tm_mon + 1, t.tm_mday, t.tm_hour,
                    t.tm_min, t.tm_sec);
}

std::string speedReportHeader(bool sequential) {
  return sequential ? "Time,LBA,Speed(MB/S),\r\n" : "Time,Percent,Speed(MB/S),\r\n";
}

std::string speedReportLine(uint64_t elapsedSeconds, uint64_t lba, uint64_t megabytes) {
  return formatText("%s,0x%04X%08X,%llu,\r\n", elapsedText(elapsedSeconds).c_str(),
                    static_cast<unsigned>((lba >> 32) & 0xFFFF), static_cast<unsigned>(lba & 0xFFFFFFFFu),
                    static_cast<unsigned long long>(megabytes));
}

std::string speedReportLine(uint64_t elapsedSeconds, double percent, uint64_t megabytes) {
  return formatText("%s,%.f,%llu,\r\n", elapsedText(elapsedSeconds).c_str(), percent,
                    static_cast<unsigned long long>(megabytes));
}

SpeedReport::~SpeedReport() { close(); }

bool SpeedReport::open(const std::string& dir, const std::string& serial, const std::tm& time, bool sequential,
                       std::string& error) {
  close();
  std::string name = speedReportName(serial, time);
  path_ = dir.empty() ? name : dir + "/" + name;
  file_ = std::fopen(path_.c_str(), "wb");
  if (!file_) {
    error = "Cannot create the speed report " + path_ + ": " + std::strerror(errno);
    return false;
  }
  append(speedReportHeader(sequential));
  return true;
}

void SpeedReport::append(const std::string& line) {
  if (!file_) return;
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

void SpeedReport::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace zorv
