#include "workload/define_script.h"

#include "transport/message.h"
#include "workload/script_values.h"

namespace zorv {

std::optional<DefineScript> parseDefineScript(std::string_view text, std::string& error) {
  auto values = orderedScriptValues(text,
                                    {"Start LBA:", "End LBA:", "Total Write Capacity:", "File Size:", "Sequence:",
                                     "Need Read Back:", "Length Random:"},
                                    error);
  if (!values) return std::nullopt;
  const auto& v = *values;
  DefineScript s;
  auto start = scriptHex(v[0], "Start LBA", error);
  if (!start) return std::nullopt;
  auto end = scriptHex(v[1], "End LBA", error);
  if (!end) return std::nullopt;
  auto total = scriptHex(v[2], "Total Write Capacity", error);
  if (!total) return std::nullopt;
  auto kb = scriptDecimal(trimScriptValue(v[3], " %KBhH\r\n\t"), "File Size (KB)", 1, kMaxCommandKb, error);
  if (!kb) return std::nullopt;
  auto seq = scriptFlag(v[4], "Sequence", error);
  if (!seq) return std::nullopt;
  auto readBack = scriptFlag(v[5], "Need Read Back", error);
  if (!readBack) return std::nullopt;
  auto lengthRandom = scriptFlag(v[6], "Length Random", error);
  if (!lengthRandom) return std::nullopt;
  if (*start >= *end) {
    error = "Start LBA must lie below End LBA";
    return std::nullopt;
  }
  if (*total == 0) {
    error = "Total Write Capacity must not be 0";
    return std::nullopt;
  }
  s.startLba = *start;
  s.endLba = *end;
  s.totalSectors = *total;
  s.kb = static_cast<uint32_t>(*kb);
  s.sequential = *seq;
  s.readBack = *readBack;
  s.lengthRandom = *lengthRandom;
  return s;
}

std::string defineScriptRefusal(const DefineScript& s, uint64_t sectors) {
  if (s.endLba > sectors)
    return formatText("End LBA 0x%llX lies beyond the drive (0x%llX sectors)", static_cast<unsigned long long>(s.endLba),
                      static_cast<unsigned long long>(sectors));
  if (s.endLba - s.startLba < s.commandSectors())
    return formatText("The range 0x%llX-0x%llX is smaller than one command of %u KB",
                      static_cast<unsigned long long>(s.startLba), static_cast<unsigned long long>(s.endLba), s.kb);
  return {};
}

}  // namespace zorv
