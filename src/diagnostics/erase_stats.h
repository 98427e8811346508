#pragma once
// Erase and invalid-page statistics of a block-information dump: the ".txt"
// file that "3202 Dump All Block Info" writes (group header lines, one line
// per block record, and for model class 0 a bad-block summary after every
// plane), read back and summed up per group and for the whole drive.
//
// Bad blocks (types 1 and 2) are counted but left out of the distributions:
// an early bad block was never erased and would pull every figure down.
//
// A dump that is empty, cut short, out of order or holds counts beyond the
// drive's flash geometry is refused with a text that says where and why;
// nothing is summed from it.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/info_ssd.h"
#include "transport/context.h"

namespace zorv {

// The largest dump text read (a drive of 65,535 planes of 8,191 blocks
// writes less than this).
constexpr size_t kMaxBlockDumpTextBytes = 64u << 20;
constexpr size_t kMaxBlockDumpGroups = 4096;
constexpr size_t kMaxRecordsPerGroup = 8191;  // a group's valid byte count is 16 bits
constexpr size_t kEraseHistogramBins = 20;

struct BlockDumpRecord {
  uint32_t index = 0;
  uint32_t invalidPages = 0;
  uint32_t wearLevel = 0;
  uint32_t type = 0;
  uint32_t eraseCount = 0;
  bool bad() const { return type == 1 || type == 2; }
};

struct BlockDumpGroup {
  // Class 0: channel, chip, die, plane. Class 1: RAID group, SLC start,
  // reserved start, non-SLC start.
  std::array<uint32_t, 4> address{};
  uint32_t dataStart = 0;  // "DataBlkS" (class 0)
  std::string label;       // "Ch 00 Chip 00 Die 00 Plane 00" or "Raid 00"
  std::vector<BlockDumpRecord> records;
  // Class 0: the bad-block counts of the group's summary.
  uint32_t summaryEarly = 0;
  uint32_t summaryLater = 0;
  bool hasSummary = false;
};

struct BlockDumpTable {
  uint16_t modelClass = 0;
  std::vector<BlockDumpGroup> groups;
};

// The flash organisation a drive reports in its Info SSD record (bytes
// 40-51: channels, chips, dies, planes, blocks per plane, pages per block).
struct DumpGeometry {
  uint32_t channels = 0;
  uint32_t chips = 0;
  uint32_t dies = 0;
  uint32_t planes = 0;
  uint32_t blocksPerPlane = 0;
  uint32_t pagesPerBlock = 0;
  uint32_t planeCount() const { return channels * chips * dies * planes; }
};
// None when a field is 0 or FFFFh (a record the drive did not fill in).
std::optional<DumpGeometry> dumpGeometry(const InfoSsdRecord& record);

// Parses a dump text. None, with the reason in error, when it is unusable.
std::optional<BlockDumpTable> parseBlockDumpText(std::string_view text, std::string& error);
// Checks a parsed dump against a geometry: every plane there (class 0) and
// no other, every group's block count and every invalid-page count within it. The reason
// of the first violation, or an empty text.
std::string checkDumpGeometry(const BlockDumpTable& table, const DumpGeometry& geometry);

struct HistogramBin {
  uint32_t from = 0;  // inclusive
  uint32_t to = 0;    // inclusive
  uint64_t count = 0;
};

struct Distribution {
  uint64_t count = 0;
  uint32_t min = 0;
  uint32_t max = 0;
  double average = 0;
  double stddev = 0;  // of the population
  std::vector<HistogramBin> histogram;
};

struct GroupStatistics {
  std::string label;
  std::array<uint32_t, 4> address{};
  uint32_t blocks = 0;
  uint32_t earlyBad = 0;
  uint32_t laterBad = 0;
  Distribution eraseCount;
  Distribution invalidPages;
};

struct EraseStatistics {
  uint16_t modelClass = 0;
  // Class 0 groups are planes; class 1 groups are RAID groups across planes.
  bool perPlane = false;
  uint32_t blocks = 0;
  uint32_t earlyBad = 0;
  uint32_t laterBad = 0;
  Distribution eraseCount;
  Distribution invalidPages;
  std::vector<GroupStatistics> groups;
  // Where the dump came from (a file name), for captions.
  std::string source;
  bool geometryChecked = false;
};

// Sorts values into at most `bins` bins of equal whole-number width from
// min to max, and computes the figures.
Distribution distributionOf(const std::vector<uint32_t>& values, size_t bins = kEraseHistogramBins);
// The whole drive's histograms use the same bins for every group, so that
// groups can be compared bin by bin.
EraseStatistics eraseStatistics(const BlockDumpTable& table);

// The figures as text lines ("\r\n"), as the view and zorvctl show them.
std::string eraseStatisticsText(const EraseStatistics& stats);

struct BlockDumpReading {
  std::optional<EraseStatistics> statistics;
  std::string error;                     // why there are none
  std::filesystem::path textFile;        // the dump's ".txt" file, when one was written or read
  bool ok() const { return statistics.has_value(); }
};

// Reads the block-information dump of the selected drive as "3202" does
// (writing its ".txt" and ".bin" files into directory and, for a class-0
// drive, the later-bad report), with the drive's Info SSD record for the
// geometry check, and sums it up. Messages go to pane.
BlockDumpReading ReadEraseStatistics(Context& ctx, MessageSink& pane, const std::filesystem::path& directory,
                                     ProgressSink* progress = nullptr);
// The same from a saved ".txt" dump; geometry, when given, is checked.
BlockDumpReading LoadEraseStatistics(const std::filesystem::path& file,
                                     const std::optional<DumpGeometry>& geometry = std::nullopt);

}  // namespace zorv
