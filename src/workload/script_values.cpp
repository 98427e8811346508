#include "workload/script_values.h"

#include <algorithm>
#include <cctype>

#include "transport/message.h"

namespace zorv {

namespace {

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

// Around a number or a flag.
constexpr std::string_view kBlanks = " \t\r\n";

}  // namespace

std::string trimScriptValue(std::string_view value, std::string_view chars) {
  size_t first = value.find_first_not_of(chars);
  if (first == std::string_view::npos) return {};
  size_t last = value.find_last_not_of(chars);
  return std::string(value.substr(first, last - first + 1));
}

std::optional<std::vector<std::string>> orderedScriptValues(std::string_view text,
                                                            const std::vector<std::string_view>& keys,
                                                            std::string& error) {
  std::vector<size_t> at;
  size_t from = 0;
  for (std::string_view key : keys) {
    size_t pos = text.find(key, from);
    if (pos == std::string_view::npos) {
      error = "The script key " + quoted(key) + " is missing or out of order";
      return std::nullopt;
    }
    at.push_back(pos);
    from = pos + key.size();
  }
  // A key found again later would make its value ambiguous.
  for (std::string_view key : keys) {
    size_t first = text.find(key);
    if (text.find(key, first + key.size()) != std::string_view::npos) {
      error = "The script key " + quoted(key) + " appears more than once";
      return std::nullopt;
    }
  }
  std::vector<std::string> values;
  for (size_t i = 0; i < keys.size(); ++i) {
    size_t begin = at[i] + keys[i].size();
    size_t end = i + 1 < keys.size() ? at[i + 1] : text.size();
    values.emplace_back(text.substr(begin, end - begin));
  }
  return values;
}

std::optional<uint64_t> scriptHex(std::string_view value, std::string_view name, std::string& error) {
  // An "h" after the digits is the usual mark of hexadecimal, never a digit.
  std::string v = trimScriptValue(value, " \t\r\nhH");
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) v = v.substr(2);
  bool digits = !v.empty() && v.size() <= 16 &&
                std::all_of(v.begin(), v.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
  if (!digits) {
    error = std::string(name) + " must be a hexadecimal number: " + quoted(value);
    return std::nullopt;
  }
  return std::stoull(v, nullptr, 16);
}

std::optional<uint64_t> scriptDecimal(std::string_view value, std::string_view name, uint64_t min, uint64_t max,
                                      std::string& error) {
  std::string v = trimScriptValue(value, kBlanks);
  bool digits = !v.empty() && v.size() <= 19 &&
                std::all_of(v.begin(), v.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  if (!digits) {
    error = std::string(name) + " must be a decimal number: " + quoted(value);
    return std::nullopt;
  }
  uint64_t n = std::stoull(v);
  if (n < min || n > max) {
    error = formatText("%s must lie between %llu and %llu: %s", std::string(name).c_str(),
                       static_cast<unsigned long long>(min), static_cast<unsigned long long>(max), v.c_str());
    return std::nullopt;
  }
  return n;
}

std::optional<bool> scriptFlag(std::string_view value, std::string_view name, std::string& error) {
  std::string v = trimScriptValue(value, kBlanks);
  std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (v == "TRUE") return true;
  if (v == "FALSE") return false;
  error = std::string(name) + " must be TRUE or FALSE: " + quoted(value);
  return std::nullopt;
}

}  // namespace zorv
