#include "pattern/comp_err_log.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "identify/identify_text.h"
#include "transport/message.h"

namespace zorv {

std::string compErrReportHead(const CompErrReport& r) {
  const uint64_t s = r.elapsedSeconds;
  return formatText("CurLBA: 0x%04X%08X\r\nCurSn : 0x%08X\r\nLength: 0x%08X Byte\r\nSpend Time:  %dDay %d:%d:%d\r\nLoop: %d\r\n",
                    static_cast<unsigned>((r.lba >> 32) & 0xFFFF), static_cast<unsigned>(r.lba & 0xFFFFFFFF), r.serial,
                    r.lengthBytes, static_cast<int>(s / 86400), static_cast<int>(s / 3600 % 24),
                    static_cast<int>(s / 60 % 60), static_cast<int>(s % 60), static_cast<int>(r.loop));
}

std::string compErrReportText(const CompErrReport& report, std::span<const uint8_t> data, uint32_t sectorSize) {
  std::string out = compErrReportHead(report);
  if (sectorSize == 0) return out;
  const size_t sectors = data.size() / sectorSize;
  for (size_t i = 0; i < sectors; ++i) {
    const uint64_t lba = report.lba + i;
    out += formatText("\r\nLBA: 0x%04X%08X\r\n", static_cast<unsigned>((lba >> 32) & 0xFFFF),
                      static_cast<unsigned>(lba & 0xFFFFFFFF));
    // The main window's dump, with the file's line ends.
    std::string dump = hexDumpText(data.data() + i * sectorSize, sectorSize, 0, sectorSize);
    for (char c : dump) {
      if (c == '\n') out += '\r';
      out += c;
    }
    out += "\r\n";
  }
  return out;
}

std::string appendCompErrLog(const std::string& directory, const std::string& text) {
  std::filesystem::path path = directory.empty() ? std::filesystem::path(kCompErrLogName)
                                                 : std::filesystem::path(directory) / kCompErrLogName;
  std::ofstream file(path, std::ios::binary | std::ios::app);
  if (!file) return formatText("%s cannot be opened: %s", path.string().c_str(), std::strerror(errno));
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.flush();
  if (!file) return formatText("%s cannot be written: %s", path.string().c_str(), std::strerror(errno));
  return {};
}

}  // namespace zorv
