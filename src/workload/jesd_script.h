#pragma once
// The ".txt" script of the client workload (Jesd219a):
//
//   Need Read Back: TRUE
//   Len 512 : 4%        transfer size in bytes : share of the commands
//   Len 4096 : 96%
//   Gap 5% : 50%        share of the LBA space : share of the commands
//   Gap 15% : 30%
//   Gap 80% : 20%
//   Loop      : 2       the drive's capacity is written this many times
//
// In a "Len" or "Gap" line the word, blanks and "%" are dropped and the two
// decimals around ":" are read. The command shares of the "Len" lines, and
// those of the "Gap" lines, must each sum to exactly 100: the 500-entry
// table they fill would otherwise never fill (over 100, its probing would
// not end) or leave entries without a length or a group.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

struct JesdLength {
  uint32_t bytes = 0;
  uint32_t share = 0;  // percent of the commands
};

struct JesdGroup {
  uint32_t space = 0;  // percent of the LBA space
  uint32_t share = 0;  // percent of the commands
};

struct JesdScript {
  bool readBack = false;
  std::vector<JesdLength> lengths;
  std::vector<JesdGroup> groups;  // 1 to 3
  uint32_t loop = 0;
};

constexpr size_t kMaxJesdGroups = 3;

std::optional<JesdScript> parseJesdScript(std::string_view text, std::string& error);

// The LBA-space shares the boundaries take: those of the second and third
// "Gap" lines (0 when absent); the first group covers what they leave.
double jesdSpace1(const JesdScript& script);
double jesdSpace2(const JesdScript& script);

}  // namespace zorv
