#pragma once
// The controller's 512-byte status record (reply of vendor code 30h), its
// label tables for the two model classes, and the text the diagnostics
// console prints from it.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "diagnostics/vendor_command.h"

namespace zorv {

struct Context;

constexpr size_t kInfoSsdRecordSize = 512;
constexpr uint8_t kInfoSsdCode = 0x30;

// One field: bytes [offset, offset + width), printed as text or as hex digit
// pairs. Reserved spans carry the label "NULL" and are not printed.
struct InfoSsdField {
  uint16_t offset;
  uint16_t width;
  std::string_view label;
  bool text;
  bool reserved() const { return label == "NULL"; }
};

// The fields of a model class in table order (class 0: 51 rows ending at 240,
// class 1: 57 rows ending at 260). Any class other than 1 reads as class 0.
std::span<const InfoSsdField> InfoSsdLabelTable(uint16_t modelClass);

// Record offsets other subsystems read directly.
constexpr size_t kInfoSsdFirmwareOffset = 8;  // 8-byte field; the version proper is 6 characters
constexpr size_t kInfoSsdFirmwareLength = 6;
constexpr size_t kInfoSsdHwIdOffset = 16;
size_t hardwareIdLength(uint16_t modelClass);  // 9 (class 0) or 16 (class 1)

class InfoSsdRecord {
 public:
  InfoSsdRecord() { bytes_.fill(0xFF); }
  // Copies up to 512 bytes; the rest stays 0xFF.
  explicit InfoSsdRecord(std::span<const uint8_t> bytes);

  const std::array<uint8_t, kInfoSsdRecordSize>& bytes() const { return bytes_; }

  // Bytes 16 onward, 9 or 16 of them by model class.
  std::span<const uint8_t> hardwareId(uint16_t modelClass) const;
  // Bytes 8-13 as six characters (NULs kept), as the firmware download compares them.
  std::string firmwareVersion() const;
  // The whole 8-byte "FW version : " field as characters.
  std::string firmwareVersionField() const;
  // Firmware serial: bytes 26-31 (class 0) or 252-259 (class 1).
  std::string firmwareSerial(uint16_t modelClass) const;
  // Big-endian number of up to 8 bytes at offset (0 outside the record).
  uint64_t number(size_t offset, size_t width) const;
  uint16_t capacityGb() const { return static_cast<uint16_t>(number(32, 2)); }
  uint64_t maxLba() const { return number(34, 6); }

  // Field bytes of table row `row` of the class; empty when out of range.
  std::span<const uint8_t> field(uint16_t modelClass, size_t row) const;

 private:
  std::array<uint8_t, kInfoSsdRecordSize> bytes_;
};

// "0x" + "%02X" per byte with a blank after every odd byte index.
std::string infoSsdHexText(std::span<const uint8_t> bytes);

// "--------sInfoSSD Start Here\r\n", one line per printed field, and
// "--------sInfoSSD End Here\r\n". Text fields keep every byte, NULs included.
std::string DecodeInfoSsdFields(const InfoSsdRecord& record, uint16_t modelClass);

// "WWN        : " + IDENTIFY words 108-111 as "%04X" each + "\r\n".
std::string wwnLine(std::span<const uint8_t> identify);
// "PCBA PN    : " + the text of words 24-33 (bytes 48-67, swapped), cut at
// the first NUL, trimmed, + "\r\n".
std::string pcbaLine(std::span<const uint8_t> reply);

// Vendor query 30h (parameter 0) into record; record holds what the drive
// returned (0xFF where nothing) also when a command failed.
VendorQueryResult ReadInfoSsd(Context& ctx, InfoSsdRecord& record);

// The two reads that follow an Info SSD query: IDENTIFY DEVICE for the WWN
// and F7h 16h for the PCBA part number. A read that fails gives its line
// with "Read Fail" in place of the value, and sets `failed`.
std::string ReadWwnLine(Context& ctx, bool* failed = nullptr);
std::string ReadPcbaLine(Context& ctx, bool* failed = nullptr);

}  // namespace zorv
