#pragma once
// SMART READ DATA and the tool's attribute name table.
//
// SMART data sector (512 bytes): bytes 2-361 hold 30 attribute records of
// 12 bytes; byte 511 is the checksum that makes the sector's byte sum 0.
// Attribute record: 0 id, 1-2 flags, 3 current, 4 worst, 5-8 raw (31:0),
// 9-10 raw (47:32), 11 threshold byte.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

struct Context;

struct SmartAttributeName {
  uint8_t id;
  std::string_view name;
};

constexpr size_t kSmartAttributeNameCount = 22;
extern const std::array<SmartAttributeName, kSmartAttributeNameCount> SmartAttributeNames;

// Rows of the name table the report reads.
constexpr size_t kSmartRowTemperature = 11;
constexpr size_t kSmartRowLifeLeft = 17;
constexpr size_t kSmartRowFlashWrites = 18;
constexpr size_t kSmartRowFlashReads = 19;

struct SmartDataLabel {
  uint16_t offset;
  std::string_view label;
};
extern const std::array<SmartDataLabel, 18> SmartDataLabels;

constexpr size_t kSmartSectorSize = 512;
constexpr size_t kSmartAttributeStart = 2;    // SmartDataLabels[1]
constexpr size_t kSmartAttributeEnd = 362;    // SmartDataLabels[2]
constexpr size_t kSmartAttributeRecordSize = 12;

struct SmartAttribute {
  uint8_t id = 0;
  uint16_t flags = 0;
  uint8_t current = 0;
  uint8_t worst = 0;
  uint64_t raw = 0;  // 48 bits
  uint8_t threshold = 0;
};

// The name of an id in the table (first occurrence), if any.
std::optional<std::string_view> smartAttributeName(uint8_t id);

// Every record of the attribute area with a non-zero id, in order.
std::vector<SmartAttribute> ParseSmartAttributes(std::span<const uint8_t> data);

// The value that makes the byte sum of bytes 0-511 zero.
uint8_t smartChecksum(std::span<const uint8_t> data);

// The decode text: start marker, seven lines per record whose id is in the
// name table (once per matching row), end marker. Reads nothing outside data.
std::string DecodeSmartData(std::span<const uint8_t> data);

// SMART READ DATA (B0h/D0h) into the start of SectorBuffer.
bool SmartReadData(Context& ctx);

}  // namespace zorv
