#pragma once
// The client workload's table of 500 commands: each "Len" line places its
// transfer size (in sectors) into share x 5 entries, each "Gap" line its
// group number (1, 2, 3 in line order) into share x 5 entries; an entry is
// drawn as random % 500 and, while already taken, the next one (wrapping) is
// tried. The run takes the entries in order, cycling.

#include <array>
#include <cstdint>

#include "mediatest/test_random.h"
#include "workload/jesd_script.h"

namespace zorv {

struct JesdEntry {
  uint32_t sectors = 0;
  uint8_t group = 0;  // 1..3
};

constexpr size_t kJesdTableSize = 500;
using JesdTable = std::array<JesdEntry, kJesdTableSize>;

// The script's shares sum to 100 (parseJesdScript refuses others), so every
// probe finds a free entry.
JesdTable buildJesdTable(const JesdScript& script, TestRandom& random);

}  // namespace zorv
