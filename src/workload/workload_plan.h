#pragma once
// What one drive window runs: the kind and its values, as the tab builds
// them into a text block (one value a line, "\r\n" each) and the window
// parses back:
//
//   <row index>
//   RdnSqLoop   device ID, serial, device path, random boundary (end of the
//               used area), reserve, sequential and random boundaries,
//               RsvFill|RsvRemain, byTime <hours> <minutes> | byLoop <count>
//   CapasLoop   device ID, serial, device path, range size, sectors to write,
//               KB per command, sequence, read back
//   DefineLop   device ID, serial, device path, start, end, sectors to write,
//               KB per command, sequence, read back, length random
//   Jesd219a    device ID, serial, device path, total LBA, group 1 boundary,
//               group 2 boundary, total LBA, read back, loop, the whole script
//
// LBAs and sector counts are hexadecimal, the rest decimal, flags
// "TRUE"/"FALSE".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "workload/jesd_script.h"

namespace zorv {

enum class WorkloadKind { RdnSqLoop, CapasLoop, DefineLop, Jesd219a };

std::string_view workloadKindWord(WorkloadKind kind);

struct WorkloadPlan {
  int rowIndex = 0;
  WorkloadKind kind = WorkloadKind::RdnSqLoop;
  std::string deviceId;
  std::string serial;
  std::string devicePath;

  // RdnSqLoop: reserve [0, rsv), sequential [rsv, seq), random [seq, rdn).
  uint64_t rsvBoundary = 0;
  uint64_t seqBoundary = 0;
  uint64_t rdnBoundary = 0;
  bool rsvFill = false;
  bool byTime = false;
  uint32_t hours = 0;
  uint32_t minutes = 0;
  uint32_t loops = 1;

  // CapasLoop (range [0, size)), DefineLop ([start, end)).
  uint64_t rangeStart = 0;
  uint64_t rangeEnd = 0;
  uint64_t totalSectors = 0;
  uint32_t kb = 0;
  bool sequential = false;
  bool readBack = false;
  bool lengthRandom = false;

  // Jesd219a: group 1 [0, grp1), group 2 [grp1, grp2), group 3 [grp2, total).
  uint64_t grp1Boundary = 0;
  uint64_t grp2Boundary = 0;
  uint64_t totalLba = 0;
  uint32_t loop = 0;
  std::string scriptText;
  JesdScript script;  // parsed from scriptText by parseWorkloadBlock

  // The LBA range the plan writes, [first, end).
  uint64_t writeFirst() const;
  uint64_t writeEnd() const;
};

std::string workloadBlock(const WorkloadPlan& plan);
// Empty with error set for a block that does not describe a runnable plan.
std::optional<WorkloadPlan> parseWorkloadBlock(std::string_view block, std::string& error);

}  // namespace zorv
