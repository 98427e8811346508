#include "firmware/lh5/match_finder.h"

#include <algorithm>
#include <cstring>

namespace zorv::lh5 {

MatchFinder::MatchFinder(std::span<const uint8_t> input, int maxChain, uint32_t niceLength)
    : in_(input),
      maxChain_(maxChain),
      nice_(std::min<uint32_t>(niceLength, kMaxMatch)),
      head_(size_t{1} << kHashBits, 0),
      prev_(kDicSize, 0) {}

uint32_t MatchFinder::hashAt(size_t pos) const {
  uint32_t v = (uint32_t{in_[pos]} << 16) | (uint32_t{in_[pos + 1]} << 8) | in_[pos + 2];
  return (v * 2654435761u) >> (32 - kHashBits);
}

void MatchFinder::insert(size_t pos) {
  if (pos + kMinMatch > in_.size()) return;
  uint32_t h = hashAt(pos);
  prev_[pos & (kDicSize - 1)] = head_[h];
  head_[h] = static_cast<uint32_t>(pos + 1);
}

void MatchFinder::advanceTo(size_t pos) {
  for (; inserted_ < pos; ++inserted_) insert(inserted_);
}

uint32_t MatchFinder::matchLength(size_t pos, size_t candidate, uint32_t limit) const {
  const uint8_t* a = in_.data() + pos;
  const uint8_t* b = in_.data() + candidate;
  uint32_t len = 0;
  while (len + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + len, 8);
    std::memcpy(&y, b + len, 8);
    if (x != y) return len + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
    len += 8;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

Match MatchFinder::longest(size_t pos) {
  Match best;
  Match buf[kMaxMatch];
  size_t n = all(pos, buf, kMaxMatch);
  if (n) best = buf[n - 1];
  return best;
}

size_t MatchFinder::all(size_t pos, Match* out, size_t capacity) {
  advanceTo(pos);
  size_t count = 0;
  if (pos + kMinMatch > in_.size() || capacity == 0) return 0;
  const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, in_.size() - pos));
  const size_t lowest = pos > kDicSize ? pos - kDicSize : 0;
  uint32_t bestLen = kMinMatch - 1;
  uint32_t cand = head_[hashAt(pos)];
  for (int chain = maxChain_; cand != 0 && chain > 0; --chain) {
    size_t c = cand - 1;
    if (c < lowest) break;
    // The byte just past the best so far must match for an improvement.
    if (in_[c + bestLen] == in_[pos + bestLen] || bestLen >= limit) {
      uint32_t len = matchLength(pos, c, limit);
      if (len > bestLen) {
        bestLen = len;
        out[count++] = Match{len, static_cast<uint32_t>(pos - c - 1)};
        if (len >= nice_ || len >= limit || count == capacity) break;
      }
    }
    uint32_t next = prev_[c & (kDicSize - 1)];
    // A stale slot (overwritten by a newer position) ends the chain.
    if (next == 0 || next - 1 >= c) break;
    cand = next;
  }
  return count;
}

}  // namespace zorv::lh5
