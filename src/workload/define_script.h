#pragma once
// The ".sc1" script of the defined-range workload (DefineLop):
//
//   Start LBA: 1000h
//   End LBA: 81000h
//   Total Write Capacity: 100000h
//   File Size: 64KB
//   Sequence: TRUE
//   Need Read Back: TRUE
//   Length Random: FALSE
//
// Range start and end are hexadecimal LBAs, the capacity is in sectors
// (hexadecimal), the file size is the command size in KB (decimal, at most
// the 128 KiB of a slot buffer).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zorv {

struct DefineScript {
  uint64_t startLba = 0;
  uint64_t endLba = 0;
  uint64_t totalSectors = 0;
  uint32_t kb = 0;
  bool sequential = false;
  bool readBack = false;
  bool lengthRandom = false;

  uint32_t commandSectors() const { return kb * 2; }
};

// Empty with error set for a script that cannot run anywhere (keys missing
// or out of order, numbers malformed or out of range, start not below end).
std::optional<DefineScript> parseDefineScript(std::string_view text, std::string& error);

// Why the script cannot run on a drive of sectors sectors; empty when it can.
std::string defineScriptRefusal(const DefineScript& script, uint64_t sectors);

}  // namespace zorv
