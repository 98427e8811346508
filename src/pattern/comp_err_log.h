#pragma once
// "CompErrLog.txt", the generator's error log: one report per command that
// failed its compare (or, with a failed transfer, the transfer's report
// without data), appended to the file in the log directory (the current
// directory unless a caller chooses another), which is created when missing.

#include <cstdint>
#include <span>
#include <string>

namespace zorv {

constexpr const char* kCompErrLogName = "CompErrLog.txt";

struct CompErrReport {
  uint64_t lba = 0;        // of the command
  uint32_t serial = 0;     // at the start of the command
  uint32_t lengthBytes = 0;
  uint64_t elapsedSeconds = 0;  // of the run
  uint32_t loop = 0;            // the loop counter
};

// The report's head: "CurLBA: 0x%04X%08X\r\nCurSn : 0x%08X\r\nLength: 0x%08X
// Byte\r\nSpend Time:  %dDay %d:%d:%d\r\nLoop: %d\r\n".
std::string compErrReportHead(const CompErrReport& report);

// Head, then for every sector as read "\r\nLBA: 0x%04X%08X\r\n", its hex
// dump (lines ending "\r\n") and "\r\n".
std::string compErrReportText(const CompErrReport& report, std::span<const uint8_t> data, uint32_t sectorSize);

// Appends text to "CompErrLog.txt" in directory (empty: the current
// directory). Empty on success, else why it could not.
std::string appendCompErrLog(const std::string& directory, const std::string& text);

}  // namespace zorv
