#pragma once
// The OBB record area of a drive's SPI flash: where each product keeps its
// label fields, its per-plane bad-block counts and its extra per-plane
// tables, and how one flash image becomes one row of values.
//
// Every region is 256 bytes; 16-bit values are big-endian.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zorv::analysis {

enum class ObbProduct : uint8_t { Pallo = 0, Tarn = 1 };

constexpr size_t kObbRegionSize = 256;
constexpr size_t kObbPlaneColumns = 128;

// One row of a label table: offset inside its region, length in bytes and
// label. A row labelled "NULL" is a gap and makes no column.
struct ObbField {
  uint16_t offset = 0;
  uint8_t length = 0;
  std::string label;
  bool isGap() const { return label == "NULL"; }
};

struct ObbExtraRegion {
  uint32_t offset = 0;
  std::string_view prefix;  // "AuAvg", "SLC", ...
};

struct ObbLayout {
  uint32_t regionA = 0;
  uint32_t badCounts = 0;
  uint32_t regionB = 0;
  std::span<const ObbExtraRegion> extras;
  // The first byte after the highest region: how much of a file is read.
  size_t areaEnd() const;
};

const ObbLayout& ObbLayoutOf(ObbProduct product);
const std::vector<ObbField>& ObbTableA(ObbProduct product);
const std::vector<ObbField>& ObbTableB(ObbProduct product);

// Channel, chip, die and plane of bad-count column i (0..127).
struct PlaneColumn {
  int channel = 0;
  int chip = 0;
  int die = 0;
  int plane = 0;
};
PlaneColumn PlaneColumnOf(ObbProduct product, size_t index);

// "AuAvg CH0 CP0 DI0 PL0": the label of value i (0..127) of an extra region.
std::string ExtraValueLabel(ObbProduct product, std::string_view prefix, size_t index);

// The value of a label field: the big-endian number of its bytes, reduced to
// its low 32 bits and read as signed; a field of nothing but FFh (erased
// flash) reads 0.
int32_t ObbFieldValue(std::span<const uint8_t> bytes);

// The values of one file's row after its file name: the total of the bad
// counts that are not FFFFh, the 128 bad counts, the fields of table A and B
// (gaps left out) and the extra regions' values. `image` is the file from
// its first byte; bytes past its end read as FFh, as erased flash does.
std::vector<int64_t> ObbRowValues(ObbProduct product, std::span<const uint8_t> image);

// The names of the row's columns, file name first: "File Name", "Ttl Bad",
// "00".."7F", the labels of table A and B, the extra regions' labels.
std::vector<std::string> ObbColumnNames(ObbProduct product);

// The four header lines of the record file, "\r\n" after each.
std::string ObbCsvHeader(ObbProduct product);

}  // namespace zorv::analysis
