#pragma once
// The identify page's table: the 256 IDENTIFY DEVICE words grouped into 97
// described fields, the cell texts of each field, and the field-by-field
// comparison of two saved IDENTIFY files.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

struct IdentifyWordRow {
  uint16_t usFirstWord;
  uint8_t ucWordCount;
  std::string description;  // title line, then one line per bit or bit range, "\r\n" between lines
};

constexpr int kIdentifyRowCount = 97;
constexpr int kIdentifyWords = 256;

using IdentifyWords = std::array<uint16_t, kIdentifyWords>;

const std::vector<IdentifyWordRow>& identifyWordTable();

// Rows whose words hold ATA strings (serial, firmware, model, media serial).
bool isIdentifyStringRow(const IdentifyWordRow& row);

// Little-endian words of 512 bytes of IDENTIFY data. With fewer bytes (a
// short file) the missing words read as zero.
IdentifyWords identifyWordsFromBytes(const uint8_t* data, size_t size);

// The "Value" cell of one row.
std::string identifyValueText(const IdentifyWordRow& row, const IdentifyWords& words);

// One line of the identify page's list.
struct IdentifyListRow {
  std::string offset;       // "WD Offset"
  std::string length;       // "Length"
  std::string value1;       // "Value 1"
  std::string value2;       // "Value 2" (comparison only)
  std::string description;  // "Description"
};

struct IdentifyColumn {
  int width;
  const char* title;
};
// "WD Offset", "Length", "Value 1", "Value 2", "Description"; the single
// view leaves out "Value 2".
const std::array<IdentifyColumn, 5>& identifyColumns();

std::vector<IdentifyListRow> identifySingleRows(const IdentifyWords& words);
std::vector<IdentifyListRow> identifyCompareRows(const IdentifyWords& first, const IdentifyWords& second);

// The drop-down entries "Item %d offset: %d, " of the rows whose two values
// differ.
std::vector<std::string> identifyDifferences(const std::vector<IdentifyListRow>& compareRows);

// The row number an entry of the drop-down names (the number between "Item "
// and " offset:"); nothing when the text names no row of the table.
std::optional<int> identifyDifferenceRow(std::string_view entry);

}  // namespace zorv
