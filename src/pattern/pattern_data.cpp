#include "pattern/pattern_data.h"

#include <algorithm>
#include <cstdio>

#include "identify/identify_text.h"
#include "transport/message.h"

namespace zorv {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

uint32_t cutPatternSectors(uint32_t sectors, uint32_t sectorSize) {
  if (sectorSize == 0) return 0;
  if (uint64_t{sectors} * sectorSize > kMaxPatternBytes) return kMaxPatternBytes / sectorSize;
  return sectors;
}

bool isHexText(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return hexDigit(c) >= 0; });
}

std::string keptCustomValue(std::string_view text, ElementWidth width) {
  if (text.size() % 2 != 0) text.remove_suffix(1);
  return std::string(text.substr(0, size_t{elementBytes(width)} * 2));
}

std::vector<uint8_t> customValueBytes(std::string_view digits) {
  if (digits.empty() || digits.size() % 2 != 0 || !isHexText(digits)) return {};
  std::vector<uint8_t> bytes;
  for (size_t i = digits.size(); i >= 2; i -= 2)
    bytes.push_back(static_cast<uint8_t>(hexDigit(digits[i - 2]) << 4 | hexDigit(digits[i - 1])));
  return bytes;
}

void fillRepeated(std::span<uint8_t> buffer, std::span<const uint8_t> unit) {
  if (unit.empty()) return;
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = unit[i % unit.size()];
}

void applyElementStep(std::span<uint8_t> buffer, ElementWidth width, ElementStep step) {
  if (step == ElementStep::None) return;
  const size_t n = elementBytes(width);
  const size_t elements = buffer.size() / n;
  for (size_t e = 0; e < elements; ++e) {
    uint8_t* p = buffer.data() + e * n;
    uint32_t v = 0;
    for (size_t b = 0; b < n; ++b) v |= uint32_t{p[b]} << (8 * b);
    // Unsigned arithmetic wraps; the stored bytes keep the element's width.
    v = step == ElementStep::Increase ? v + static_cast<uint32_t>(e) : v - static_cast<uint32_t>(e);
    for (size_t b = 0; b < n; ++b) p[b] = static_cast<uint8_t>(v >> (8 * b));
  }
}

void fillRandom(std::span<uint8_t> buffer, TestRandom& random) {
  for (uint8_t& b : buffer) b = static_cast<uint8_t>(random.next());
}

GeneratedPattern generatePattern(const PatternRecipe& recipe) {
  GeneratedPattern out;
  if (recipe.sectors == 0) {
    out.refusal = "Sector Number: a sector count of 0 moves no data";
    return out;
  }
  if (recipe.sectorSize == 0 || recipe.sectorSize > kMaxPatternBytes) {
    out.refusal = formatText("The drive's sector size (%u bytes) does not fit the pattern buffer", recipe.sectorSize);
    return out;
  }
  std::vector<uint8_t> unit;
  switch (recipe.kind) {
    case PatternKind::CustomValue:
      out.keptValue = keptCustomValue(recipe.value, recipe.width);
      if (!isHexText(recipe.value) || out.keptValue.empty()) {
        out.refusal = "Custom Value: enter 2 to 8 hex digits (without \"0x\")";
        return out;
      }
      unit = customValueBytes(out.keptValue);
      break;
    case PatternKind::String:
      if (recipe.text.empty()) {
        out.refusal = "String: enter the text to repeat";
        return out;
      }
      if (recipe.text.size() > kMaxPatternText) {
        out.refusal = formatText("String: at most %zu characters (this one has %zu)", kMaxPatternText, recipe.text.size());
        return out;
      }
      unit.assign(recipe.text.begin(), recipe.text.end());
      break;
    case PatternKind::Random:
      break;
  }
  out.sectors = cutPatternSectors(recipe.sectors, recipe.sectorSize);
  out.bytes.assign(size_t{out.sectors} * recipe.sectorSize, 0);
  if (recipe.kind == PatternKind::Random) {
    TestRandom random(recipe.randomSeed);
    fillRandom(out.bytes, random);
  } else {
    fillRepeated(out.bytes, unit);
    if (recipe.kind == PatternKind::CustomValue) applyElementStep(out.bytes, recipe.width, recipe.step);
  }
  return out;
}

std::string patternValueView(std::span<const uint8_t> bytes) {
  return hexDumpText(bytes.data(), bytes.size(), 0, bytes.size());
}

std::string patternAsciiView(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() / 16 * 24);
  for (size_t line = 0; line < bytes.size(); line += 16) {
    char head[24];
    std::snprintf(head, sizeof head, "%04zX:", line);
    out += head;
    for (size_t i = line; i < std::min(bytes.size(), line + 16); ++i) {
      uint8_t b = bytes[i];
      out.push_back(b < 0x20 || b >= 0x7F ? '.' : static_cast<char>(b));
    }
    out += '\n';
  }
  return out;
}

}  // namespace zorv
