#pragma once
// The data pattern of the generator: up to 0x1F200 bytes built from a custom
// value (repeated, optionally increased or decreased per element), a text,
// or random bytes, and its two views (hex dump and text). Pure functions on
// bytes; the tab model (gen_data.h) reads its controls into a PatternRecipe.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mediatest/test_random.h"

namespace zorv {

// The pattern buffer holds at most this many bytes.
constexpr uint32_t kMaxPatternBytes = 0x1F200;
// The longest text the "String" pattern repeats.
constexpr size_t kMaxPatternText = 255;

enum class PatternKind : uint8_t { CustomValue, Random, String };
enum class ElementWidth : uint8_t { Dword, Word, Byte };
enum class ElementStep : uint8_t { None, Increase, Decrease };

// Bytes per element: 4, 2, 1.
constexpr uint32_t elementBytes(ElementWidth width) {
  return width == ElementWidth::Dword ? 4 : width == ElementWidth::Word ? 2 : 1;
}

// Sectors per command the pattern buffer allows: sectors, cut to
// 0x1F200 / sectorSize when the pattern would be longer (0 for a sector size of 0).
uint32_t cutPatternSectors(uint32_t sectors, uint32_t sectorSize);

bool isHexText(std::string_view text);

// The digits of a custom value that are used: a text of odd length loses its
// last character, then at most its first 8, 4 or 2 digits are kept.
std::string keptCustomValue(std::string_view text, ElementWidth width);

// The bytes of hex digits taken from the right end: the last two digits
// become the first byte (the value is stored little-endian). Empty when the
// text is empty, of odd length or not hex.
std::vector<uint8_t> customValueBytes(std::string_view digits);

// Repeats unit over the buffer (nothing when unit is empty).
void fillRepeated(std::span<uint8_t> buffer, std::span<const uint8_t> unit);

// Adds (Increase) or subtracts (Decrease) its index to every little-endian
// element of the buffer, wrapping within the element's width. A trailing
// part shorter than an element is left alone.
void applyElementStep(std::span<uint8_t> buffer, ElementWidth width, ElementStep step);

// Every byte the low 8 bits of the next generator value.
void fillRandom(std::span<uint8_t> buffer, TestRandom& random);

struct PatternRecipe {
  PatternKind kind = PatternKind::CustomValue;
  std::string value = "11223344";  // custom value, hex
  ElementWidth width = ElementWidth::Dword;
  ElementStep step = ElementStep::None;
  std::string text = "HelloWorld";
  uint32_t sectors = 0x80;     // sectors per command as entered
  uint32_t sectorSize = 512;   // the drive's
  uint32_t randomSeed = 1;     // the current time in seconds when Gen Data is pressed
};

struct GeneratedPattern {
  std::string refusal;     // why nothing was generated; empty on success
  std::vector<uint8_t> bytes;
  uint32_t sectors = 0;    // after the 0x1F200 cut
  std::string keptValue;   // the custom value's digits that were used
  bool ok() const { return refusal.empty(); }
};

GeneratedPattern generatePattern(const PatternRecipe& recipe);

// The "Value" view: the hex dump of the main window (16 bytes a line).
std::string patternValueView(std::span<const uint8_t> bytes);
// The "Ascii" view: the bytes as text, 16 a line after the offset, bytes
// that show no glyph as '.'.
std::string patternAsciiView(std::span<const uint8_t> bytes);

}  // namespace zorv
