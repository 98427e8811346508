#pragma once
// Firmware packages (".qz"): a 16-byte header (big-endian sizes and sum), an
// lh5 stream, and inside it the model table that names one image per drive
// model. Unpacking, table parsing and image selection are pure functions over
// bytes; the package tab and the downloaders build on them.
//
// Header:
//   0  4  origSize  bytes of the decompressed content
//   4  2  sum16     16-bit sum of the decompressed bytes
//   6  4  compSize  bytes of the stream after the header (= origSize: stored)
//  10  2  reserved
//  12  4  reserved (0)
// Model table entry (48 bytes, little-endian numbers):
//   0 16  firmware ID (first 9 or 16 bytes significant)
//  16 16  model name, NUL-padded
//  32  4  image offset in 512-byte units from the image area
//  36  4  image length in 512-byte units
// An entry with 55h FFh 55h FFh at bytes 12..15 ends the table; the image
// area starts 16 bytes after it. An entry whose first four bytes are zero is
// skipped.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/lh5/decoder.h"

namespace zorv::firmware {

constexpr size_t kQzHeaderSize = 16;
constexpr size_t kTableEntrySize = 48;
constexpr size_t kEndMarkSize = 16;
constexpr size_t kImageUnit = 512;
constexpr int kFirmwareTableRows = 256;
constexpr size_t kMaxIdLength = 16;
constexpr size_t kModelNameLength = 16;
constexpr std::array<uint8_t, 4> kEndMark = {0x55, 0xFF, 0x55, 0xFF};
constexpr size_t kEndMarkOffset = 12;  // of the end mark within its entry

// Bytes of a firmware ID (and of a drive's HWID) for a model class.
constexpr size_t idLengthForClass(uint16_t usModelClass) { return usModelClass == 1 ? 16 : 9; }

struct QzHeader {
  uint32_t origSize = 0;
  uint16_t sum16 = 0;
  uint32_t compSize = 0;
  uint16_t reserved = 0;
  bool stored() const { return compSize == origSize; }
};

std::optional<QzHeader> readQzHeader(std::span<const uint8_t> package);
std::array<uint8_t, kQzHeaderSize> encodeQzHeader(const QzHeader& header);

enum class UnpackError {
  None,
  TooShort,         // shorter than the header
  Truncated,        // the stream runs past the end of the file
  ContentTooLarge,  // origSize above the limit
  BadStream,        // the lh5 stream is malformed or cut short
  SumMismatch,      // the decompressed bytes do not add up to sum16
};

struct UnpackLimits {
  // Packages carry a few firmware images; a header that asks for more than
  // this is refused before anything is allocated.
  size_t maxContentSize = size_t{256} << 20;
};

struct UnpackResult {
  UnpackError error = UnpackError::None;
  lh5::DecodeStatus decodeStatus = lh5::DecodeStatus::Ok;
  QzHeader header;
  uint16_t computedSum = 0;
  std::string diagnostic;  // the unpack's formatted texts ("\r\nulTargetPos=...", "Fail %X %X\r\n")
  std::string reason;      // one line saying why it failed; empty on success
  bool ok() const { return error == UnpackError::None; }
};

// Checks the header, decompresses the stream into a new buffer of origSize
// bytes and checks the sum. On success the buffer replaces `content`; on
// failure `content` is left as it was. A stored package (compSize equal to
// origSize) is copied unchanged and checked the same way.
UnpackResult unpackPackage(std::span<const uint8_t> package, std::vector<uint8_t>& content,
                           const UnpackLimits& limits = {});

struct FirmwareRow {
  std::array<uint8_t, kMaxIdLength> firmwareId{};  // zero beyond the ID length
  uint32_t imageOffset = 0;                        // bytes into the decompressed content
  uint32_t imageLength = 0;                        // bytes
  std::string modelName;                           // at most 16 characters
};

struct FirmwareTable {
  std::array<FirmwareRow, kFirmwareTableRows> rows{};
  // Rows in use. Kept wider than a byte so that a full table of 256 rows is
  // not counted as empty.
  int fwCount = 0;
  void clear();
};

enum class TableError {
  None,
  PastContent,   // the table runs past the end of the content without an end mark
  TooManyRows,   // more rows than the table holds
  ImageOutside,  // a row's image does not lie within the content
};

struct ParseResult {
  TableError error = TableError::None;
  int rowCount = 0;
  int badRow = -1;         // the row whose image lies outside, for ImageOutside
  size_t endMark = 0;      // position of the end mark
  std::string diagnostic;  // "Model Name: ...\r\nOffset: ..., length: ...\r\n------...\r\n" per row
  std::string reason;
  bool ok() const { return error == TableError::None; }
};

// Fills `table` from the decompressed content. The table is cleared first;
// on failure it is left cleared.
ParseResult parseFirmwareTable(std::span<const uint8_t> content, uint16_t usModelClass, FirmwareTable& table);

// The first row whose firmware ID equals the HWID (zero-filled to 16 bytes)
// over the first compareLength bytes (at most 16).
std::optional<int> selectImageForDrive(const FirmwareTable& table, std::span<const uint8_t> hwid,
                                       size_t compareLength);

// Compare lengths: the package tab leaves out the HWID's last byte (a
// difference there is handled by the download); the one-file downloader
// compares the zero-filled HWID over 15 bytes.
constexpr size_t tabCompareLength(uint16_t usModelClass) { return idLengthForClass(usModelClass) - 1; }
constexpr size_t kDownloaderCompareLength = 15;

// The one-file downloader's selection: the HWID (its model class's ID
// length, zero-filled to 16 bytes) against each row over 15 bytes. `text` is
// "Current HWID: ...\r\n" followed, on a match, by "Correct Item: %d
// TtlFwNum: %d\r\n"; the caller writes it and reports a miss.
struct DownloaderSelection {
  std::optional<int> row;
  std::string text;
};
DownloaderSelection selectForDownloader(const FirmwareTable& table, std::span<const uint8_t> hwid,
                                        uint16_t usModelClass);

// The image bytes of a row (empty when the row lies outside the content).
std::span<const uint8_t> rowImage(std::span<const uint8_t> content, const FirmwareRow& row);

// ID bytes as two upper-case hex digits each with a blank after every fourth
// byte ("01020304 05060708 09").
std::string formatIdHex(std::span<const uint8_t> id);

}  // namespace zorv::firmware
