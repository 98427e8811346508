#pragma once
// Hash-chain match finder over an input held whole in memory: every position
// is inserted, chains link earlier positions with the same three-byte hash,
// and a search walks a chain within the 8 KiB window.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "firmware/lh5/lh5_format.h"

namespace zorv::lh5 {

struct Match {
  uint32_t length = 0;    // 0 when none of at least kMinMatch bytes was found
  uint32_t distance = 0;  // bytes back minus one (0..8191)
};

class MatchFinder {
 public:
  MatchFinder(std::span<const uint8_t> input, int maxChain, uint32_t niceLength);

  // Inserts positions up to (not including) pos that were not inserted yet.
  void advanceTo(size_t pos);

  // Longest match at pos (inserts everything before pos first). Among equal
  // lengths the nearest wins.
  Match longest(size_t pos);

  // Every improvement along the chain at pos: lengths strictly increasing,
  // each with the nearest distance that reaches it. Returns the count written.
  size_t all(size_t pos, Match* out, size_t capacity);

  uint32_t matchLength(size_t pos, size_t candidate, uint32_t limit) const;

 private:
  static constexpr int kHashBits = 15;
  uint32_t hashAt(size_t pos) const;
  void insert(size_t pos);

  std::span<const uint8_t> in_;
  int maxChain_;
  uint32_t nice_;
  size_t inserted_ = 0;
  std::vector<uint32_t> head_;  // position + 1 of the newest entry; 0 = empty
  std::vector<uint32_t> prev_;  // indexed by position modulo the window
};

}  // namespace zorv::lh5
