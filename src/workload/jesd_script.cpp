#include "workload/jesd_script.h"

#include <algorithm>

#include "transport/message.h"
#include "workload/script_values.h"

namespace zorv {

namespace {

constexpr size_t kMaxLengthLines = 64;

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t from = 0;
  while (from <= text.size()) {
    size_t nl = text.find('\n', from);
    if (nl == std::string_view::npos) nl = text.size();
    lines.push_back(text.substr(from, nl - from));
    from = nl + 1;
  }
  return lines;
}

// "Loop" followed by blanks and ":".
bool isLoopKey(std::string_view line, size_t& valueAt) {
  std::string_view t = line.substr(std::min(line.find_first_not_of(" \t"), line.size()));
  if (t.rfind("Loop", 0) != 0) return false;
  size_t colon = t.find_first_not_of(" \t", 4);
  if (colon == std::string_view::npos || t[colon] != ':') return false;
  valueAt = line.size() - t.size() + colon + 1;
  return true;
}

// The two numbers of a "Len" or "Gap" line, without the word, blanks and "%".
bool lineNumbers(std::string_view line, std::string_view word, uint64_t max1, uint64_t& first, uint64_t& second,
                 std::string& error) {
  std::string s(line);
  s.erase(s.find(word), word.size());
  s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t' || c == '%' || c == '\r'; }),
          s.end());
  size_t colon = s.find(':');
  if (colon == std::string::npos) {
    error = "A \"" + std::string(word) + "\" line needs two numbers around \":\": \"" + std::string(line) + "\"";
    return false;
  }
  std::string name = "The \"" + std::string(word) + "\" line \"" + trimScriptValue(line, " \t\r") + "\"";
  auto a = scriptDecimal(s.substr(0, colon), name, 0, max1, error);
  if (!a) return false;
  auto b = scriptDecimal(s.substr(colon + 1), name + " share", 0, 100, error);
  if (!b) return false;
  first = *a;
  second = *b;
  return true;
}

template <typename T>
bool sharesMakeHundred(const std::vector<T>& items, const char* word, std::string& error) {
  uint32_t sum = 0;
  for (const T& i : items) sum += i.share;
  if (sum == 100) return true;
  error = sum > 100 ? formatText("The \"%s\" shares sum to %u %%, more than 100 %%: the table of 500 commands would never fill",
                                 word, sum)
                    : formatText("The \"%s\" shares sum to %u %%, less than 100 %%: part of the table of 500 commands "
                                 "would have no %s",
                                 word, sum, word[0] == 'L' ? "length" : "address group");
  return false;
}

}  // namespace

std::optional<JesdScript> parseJesdScript(std::string_view text, std::string& error) {
  constexpr std::string_view kReadBack = "Need Read Back:";
  std::vector<std::string_view> lines = splitLines(text);
  size_t i = 0;
  while (i < lines.size() && lines[i].find(kReadBack) == std::string_view::npos) ++i;
  if (i == lines.size()) {
    error = "The script key \"Need Read Back:\" is missing";
    return std::nullopt;
  }
  JesdScript s;
  std::string_view rb = lines[i].substr(lines[i].find(kReadBack) + kReadBack.size());
  auto readBack = scriptFlag(rb, "Need Read Back", error);
  if (!readBack) return std::nullopt;
  s.readBack = *readBack;
  bool loopSeen = false;
  for (++i; i < lines.size() && !loopSeen; ++i) {
    std::string_view line = lines[i];
    size_t valueAt = 0;
    if (isLoopKey(line, valueAt)) {
      auto loop = scriptDecimal(line.substr(valueAt), "Loop", 1, 1000000, error);
      if (!loop) return std::nullopt;
      s.loop = static_cast<uint32_t>(*loop);
      loopSeen = true;
    } else if (line.find("Len") != std::string_view::npos) {
      if (!s.groups.empty()) {
        error = "A \"Len\" line follows the \"Gap\" lines: the keys are out of order";
        return std::nullopt;
      }
      if (s.lengths.size() == kMaxLengthLines) {
        error = formatText("More than %zu \"Len\" lines", kMaxLengthLines);
        return std::nullopt;
      }
      uint64_t bytes = 0, share = 0;
      if (!lineNumbers(line, "Len", uint64_t{kMaxCommandKb} * 1024, bytes, share, error)) return std::nullopt;
      if (bytes == 0 || bytes % 512 != 0) {
        error = formatText("A \"Len\" transfer size must be a multiple of 512 bytes: %llu",
                           static_cast<unsigned long long>(bytes));
        return std::nullopt;
      }
      s.lengths.push_back({static_cast<uint32_t>(bytes), static_cast<uint32_t>(share)});
    } else if (line.find("Gap") != std::string_view::npos) {
      if (s.groups.size() == kMaxJesdGroups) {
        error = "More than three \"Gap\" lines";
        return std::nullopt;
      }
      uint64_t space = 0, share = 0;
      if (!lineNumbers(line, "Gap", 100, space, share, error)) return std::nullopt;
      s.groups.push_back({static_cast<uint32_t>(space), static_cast<uint32_t>(share)});
    } else if (!trimScriptValue(line, " \t\r").empty()) {
      error = "An unexpected line in the script: \"" + trimScriptValue(line, " \t\r") + "\"";
      return std::nullopt;
    }
  }
  if (!loopSeen) {
    error = "The script key \"Loop      :\" is missing or out of order";
    return std::nullopt;
  }
  if (s.lengths.empty() || s.groups.empty()) {
    error = "The script needs at least one \"Len\" line and one \"Gap\" line";
    return std::nullopt;
  }
  if (!sharesMakeHundred(s.lengths, "Len", error) || !sharesMakeHundred(s.groups, "Gap", error)) return std::nullopt;
  if (jesdSpace1(s) + jesdSpace2(s) > 100) {
    error = "The LBA-space shares of the second and third \"Gap\" lines sum to more than 100 %";
    return std::nullopt;
  }
  return s;
}

double jesdSpace1(const JesdScript& s) { return s.groups.size() > 1 ? s.groups[1].space : 0; }
double jesdSpace2(const JesdScript& s) { return s.groups.size() > 2 ? s.groups[2].space : 0; }

}  // namespace zorv
