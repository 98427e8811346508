#include "volume/sc3_script.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <optional>
#include <vector>

namespace zorv {

namespace {

constexpr std::array<std::string_view, 4> kType1Keys = {"Range Size:", "Total Write Capacity:", "File Size:",
                                                        "Sequence:"};
constexpr std::array<std::string_view, 5> kType2Keys = {"Transfer Size:", "To           :", "Total Length :",
                                                        "Test Pattern :", "Run Time     :"};

struct Unit {
  std::string_view name;  // compared without regard to case
  uint64_t factor;
};
constexpr std::array<Unit, 6> kByteUnits = {{{"", 1}, {"B", 1}, {"Byte", 1}, {"KB", 1u << 10}, {"MB", 1u << 20},
                                             {"GB", 1u << 30}}};
constexpr std::array<Unit, 2> kSectorUnits = {{{"", 1}, {"Sec", 1}}};
constexpr std::array<Unit, 2> kMegabyteUnits = {{{"", 1}, {"MB", 1}}};
constexpr std::array<Unit, 2> kMinuteUnits = {{{"", 1}, {"Mins", 1}}};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

std::string quoted(std::string_view key) { return "\"" + std::string(key) + "\""; }

template <size_t N>
std::optional<uint64_t> number(std::string_view key, std::string_view value, const std::array<Unit, N>& units,
                               std::string& error) {
  std::string_view v = trim(value);
  uint64_t n = 0;
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (ec != std::errc() || end == v.data()) {
    error = quoted(key) + " needs a decimal number, not \"" + std::string(v) + "\"";
    return std::nullopt;
  }
  std::string_view unit = trim(v.substr(static_cast<size_t>(end - v.data())));
  for (const Unit& u : units) {
    if (!equalNoCase(unit, u.name)) continue;
    if (n > UINT64_MAX / u.factor) {
      error = quoted(key) + " holds \"" + std::string(v) + "\": too large";
      return std::nullopt;
    }
    return n * u.factor;
  }
  error = quoted(key) + " holds \"" + std::string(v) + "\": not a number in its unit";
  return std::nullopt;
}

// The values of keys that must all appear, in this order.
template <size_t N>
bool valuesOf(std::string_view text, const std::array<std::string_view, N>& keys,
              std::array<std::string_view, N>& values, std::string& error) {
  std::array<size_t, N> at{};
  for (size_t i = 0; i < N; ++i) {
    at[i] = text.find(keys[i]);
    if (at[i] == std::string_view::npos) {
      error = "the script has no " + quoted(keys[i]);
      return false;
    }
    if (i > 0 && at[i] < at[i - 1]) {
      error = "the script has " + quoted(keys[i]) + " before " + quoted(keys[i - 1]);
      return false;
    }
  }
  for (size_t i = 0; i < N; ++i) {
    size_t from = at[i] + keys[i].size();
    size_t to = i + 1 < N ? at[i + 1] : text.size();
    values[i] = text.substr(from, to - from);
  }
  return true;
}

bool parseType1(std::string_view text, Sc3Script& s, std::string& error) {
  std::array<std::string_view, 4> v;
  if (!valuesOf(text, kType1Keys, v, error)) return false;
  auto range = number(kType1Keys[0], v[0], kByteUnits, error);
  if (!range) return false;
  auto total = number(kType1Keys[1], v[1], kByteUnits, error);
  if (!total) return false;
  auto size = number(kType1Keys[2], v[2], kByteUnits, error);
  if (!size) return false;
  s.type = 1;
  s.rangeSize = *range;
  s.totalWriteCapacity = *total;
  s.fileSize = *size;
  s.sequential = equalNoCase(trim(v[3]), "true");
  // The file is written unbuffered: every write a whole number of sectors.
  if (s.fileSize == 0 || s.fileSize % 512 != 0 || s.fileSize > kMaxFileSize) {
    error = "\"File Size:\" must be a multiple of 512 bytes from 512 to " + std::to_string(kMaxFileSize) + " bytes";
    return false;
  }
  // The first phase writes while 18 File Size of the range are still ahead.
  if (s.rangeSize / 18 < s.fileSize) {
    error = "\"Range Size:\" must hold at least 18 times \"File Size:\"";
    return false;
  }
  if (s.totalWriteCapacity < s.fileSize) {
    error = "\"Total Write Capacity:\" must hold at least one \"File Size:\"";
    return false;
  }
  return true;
}

bool parseType2(std::string_view text, Sc3Script& s, std::string& error) {
  std::array<std::string_view, 5> v;
  if (!valuesOf(text, kType2Keys, v, error)) return false;
  auto first = number(kType2Keys[0], v[0], kSectorUnits, error);
  if (!first) return false;
  auto last = number(kType2Keys[1], v[1], kSectorUnits, error);
  if (!last) return false;
  auto length = number(kType2Keys[2], v[2], kMegabyteUnits, error);
  if (!length) return false;
  auto minutes = number(kType2Keys[4], v[4], kMinuteUnits, error);
  if (!minutes) return false;
  s.type = 2;
  s.transferFirst = *first;
  s.transferLast = *last;
  s.totalLengthMB = *length;
  s.randomData = equalNoCase(trim(v[3]), "random");
  s.runMinutes = *minutes;
  if (s.transferFirst == 0 || s.transferLast < s.transferFirst || s.transferLast > kMaxTransferSectors) {
    error = "\"Transfer Size:\" and \"To           :\" must be sizes from 1 to " +
            std::to_string(kMaxTransferSectors) + " sectors, the first not above the last";
    return false;
  }
  constexpr uint64_t kMaxLengthMB = uint64_t{1} << 40;  // far beyond any volume, far below a wrap
  if (s.totalLengthMB == 0 || s.totalLengthMB > kMaxLengthMB) {
    error = "\"Total Length :\" must be at least 1 MB";
    return false;
  }
  constexpr uint64_t kMaxMinutes = 60 * 24 * 366;
  if (s.runMinutes == 0 || s.runMinutes > kMaxMinutes) {
    error = "\"Run Time     :\" must be from 1 to " + std::to_string(kMaxMinutes) + " minutes";
    return false;
  }
  return true;
}

}  // namespace

bool parseSc3(std::string_view text, Sc3Script& script, std::string& error) {
  script = Sc3Script{};
  const size_t range = text.find(kType1Keys[0]);
  const size_t transfer = text.find(kType2Keys[0]);
  if (range == std::string_view::npos && transfer == std::string_view::npos) {
    error = "the script holds neither \"Range Size:\" nor \"Transfer Size:\"";
    return false;
  }
  Sc3Script parsed;
  bool ok = range < transfer ? parseType1(text, parsed, error) : parseType2(text, parsed, error);
  if (ok) script = parsed;
  return ok;
}

bool readSc3File(const std::string& path, Sc3Script& script, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "Open Script File fail";
    return false;
  }
  std::string text(kMaxVolumeScriptBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > kMaxVolumeScriptBytes) {
    error = "the script is longer than " + std::to_string(kMaxVolumeScriptBytes) + " bytes";
    return false;
  }
  return parseSc3(text, script, error);
}

}  // namespace zorv
