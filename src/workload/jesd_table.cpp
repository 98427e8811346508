#include "workload/jesd_table.h"

namespace zorv {

namespace {

// The entry for the next placement: random % 500, then onwards while taken.
// Bounded: a full table gives back the drawn entry unchanged.
template <typename Taken>
size_t freeEntry(TestRandom& random, Taken taken) {
  size_t e = random.next() % kJesdTableSize;
  for (size_t tries = 0; tries < kJesdTableSize && taken(e); ++tries) e = (e + 1) % kJesdTableSize;
  return e;
}

}  // namespace

JesdTable buildJesdTable(const JesdScript& script, TestRandom& random) {
  JesdTable table{};
  for (const JesdLength& l : script.lengths) {
    for (uint32_t n = 0; n < l.share * 5; ++n) {
      size_t e = freeEntry(random, [&](size_t i) { return table[i].sectors != 0; });
      table[e].sectors = l.bytes / 512;
    }
  }
  uint8_t group = 0;
  for (const JesdGroup& g : script.groups) {
    ++group;
    for (uint32_t n = 0; n < g.share * 5; ++n) {
      size_t e = freeEntry(random, [&](size_t i) { return table[i].group != 0; });
      table[e].group = group;
    }
  }
  return table;
}

}  // namespace zorv
