#include "workload/capacity_script.h"

#include "transport/message.h"
#include "workload/script_values.h"

namespace zorv {

std::optional<CapacityScript> parseCapacityScript(std::string_view text, std::string& error) {
  auto values = orderedScriptValues(
      text, {"Range Size:", "Total Write Capacity:", "File Size:", "Sequence:", "Need Read Back:"}, error);
  if (!values) return std::nullopt;
  const auto& v = *values;
  auto range = scriptHex(v[0], "Range Size", error);
  if (!range) return std::nullopt;
  auto total = scriptHex(v[1], "Total Write Capacity", error);
  if (!total) return std::nullopt;
  auto kb = scriptDecimal(trimScriptValue(v[2], " %KB\r\n\t"), "File Size (KB)", 1, kMaxCommandKb, error);
  if (!kb) return std::nullopt;
  auto seq = scriptFlag(v[3], "Sequence", error);
  if (!seq) return std::nullopt;
  auto readBack = scriptFlag(v[4], "Need Read Back", error);
  if (!readBack) return std::nullopt;
  if (*range == 0 || *total == 0) {
    error = "Range Size and Total Write Capacity must not be 0";
    return std::nullopt;
  }
  CapacityScript s;
  s.rangeSize = *range;
  s.totalSectors = *total;
  s.kb = static_cast<uint32_t>(*kb);
  s.sequential = *seq;
  s.readBack = *readBack;
  return s;
}

std::string capacityScriptRefusal(const CapacityScript& s, uint64_t sectors) {
  if (s.rangeSize > sectors)
    return formatText("Range Size 0x%llX lies beyond the drive (0x%llX sectors)",
                      static_cast<unsigned long long>(s.rangeSize), static_cast<unsigned long long>(sectors));
  if (s.rangeSize < s.commandSectors())
    return formatText("Range Size 0x%llX is smaller than one command of %u KB",
                      static_cast<unsigned long long>(s.rangeSize), s.kb);
  return {};
}

}  // namespace zorv
