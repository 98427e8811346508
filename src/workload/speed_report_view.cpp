#include "workload/speed_report_view.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "transport/message.h"

namespace zorv {

SpeedReportView parseSpeedReport(std::string_view text) {
  SpeedReportView view;
  std::vector<std::string_view> lines;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find("\r\n", from);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(from, end - from));
    from = end + 2;
  }
  view.lineCount = static_cast<int>(lines.size());
  view.text = formatText("cnt: %d\r\n", view.lineCount);
  view.speeds.reserve(lines.size());
  for (std::string_view line : lines) {
    if (!line.empty() && line.back() == ',') line.remove_suffix(1);
    size_t firstComma = line.find(',');
    if (firstComma == std::string_view::npos) {
      view.text += "Time:" + std::string(line) + "\r\n";
      continue;
    }
    size_t lastComma = line.rfind(',');
    std::string speed(line.substr(lastComma + 1));
    view.speeds.push_back(std::strtod(speed.c_str(), nullptr));
    const char* mark = line.find("0x") != std::string_view::npos ? " LBA:" : " Pcnt:";
    view.text += "Time:" + std::string(line.substr(0, firstComma)) + mark + std::string(line.substr(firstComma + 1)) +
                 "\r\n";
  }
  return view;
}

std::optional<SpeedReportView> readSpeedReport(const std::string& path, std::string& error) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec)) {
    error = path + " is not a file";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "Cannot open the speed report " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0) {
    error = "Cannot read the speed report " + path;
    return std::nullopt;
  }
  if (static_cast<uint64_t>(size) > kMaxSpeedReportBytes) {
    error = formatText("%s is larger than %llu MiB: not a speed report", path.c_str(),
                       static_cast<unsigned long long>(kMaxSpeedReportBytes >> 20));
    return std::nullopt;
  }
  in.seekg(0);
  std::string text(static_cast<size_t>(size), '\0');
  if (!in.read(text.data(), size)) {
    error = "Cannot read the speed report " + path;
    return std::nullopt;
  }
  return parseSpeedReport(text);
}

}  // namespace zorv
