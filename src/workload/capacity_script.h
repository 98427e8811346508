#pragma once
// The ".sc2" script of the capacity workload (CapasLoop):
//
//   Range Size: 200000
//   Total Write Capacity: 400000
//   File Size: 128KB
//   Sequence: TRUE
//   Need Read Back: FALSE
//
// The range is [0, Range Size) in sectors, the capacity is in sectors (both
// hexadecimal), the file size is the command size in KB (decimal).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zorv {

struct CapacityScript {
  uint64_t rangeSize = 0;
  uint64_t totalSectors = 0;
  uint32_t kb = 0;
  bool sequential = false;
  bool readBack = false;

  uint32_t commandSectors() const { return kb * 2; }
};

std::optional<CapacityScript> parseCapacityScript(std::string_view text, std::string& error);

// Why the script cannot run on a drive of sectors sectors; empty when it can.
std::string capacityScriptRefusal(const CapacityScript& script, uint64_t sectors);

}  // namespace zorv
