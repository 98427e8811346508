#include "pattern/pattern_range.h"

#include <algorithm>

namespace zorv {

std::optional<PatternRange> PatternRange::make(uint64_t start, uint64_t end, uint64_t capacity) {
  if (start == end || start >= capacity || end > capacity) return std::nullopt;
  PatternRange r;
  r.start = start;
  r.end = end;
  r.capacity = capacity;
  r.wraps = end < start;
  r.length = r.wraps ? (capacity - start) + end : end - start;
  return r;
}

bool PatternRange::contains(uint64_t lba, uint64_t count) const {
  if (!wraps) return lba >= start && lba < end && count <= end - lba;
  if (lba >= start) return lba < capacity && count <= capacity - lba;
  return lba < end && count <= end - lba;
}

uint64_t PatternRange::clamp(uint64_t lba) const {
  if (!wraps) return lba >= end || lba < start ? start : lba;
  if (lba >= capacity) return end > 0 ? 0 : start;
  if (lba >= end && lba < start) return start;
  return lba;
}

uint32_t PatternRange::cut(uint64_t lba, uint32_t sectors) const {
  uint64_t limit = !wraps || lba < end ? end : capacity;
  if (lba >= limit) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(sectors, limit - lba));
}

uint64_t PatternRange::at(uint64_t offset) const {
  if (length == 0) return start;
  offset %= length;
  if (!wraps) return start + offset;
  return offset < end ? offset : start + (offset - end);
}

uint64_t random48(TestRandom& random) {
  uint64_t n = 0;
  for (int i = 0; i < 4; ++i) n = n << 12 | (random.next() & 0xFFF);
  return n;
}

PatternWalk::PatternWalk(const PatternRange& range, const WalkSettings& settings, TestRandom& random)
    : range_(range), settings_(settings), random_(random) {
  lba_ = range_.start;
  remaining_ = static_cast<int64_t>(range_.length);
  sectors_ = lengthAt(lba_);
}

uint32_t PatternWalk::lengthAt(uint64_t lba) {
  uint32_t sectors = settings_.sectors;
  if (settings_.lengthRandom) {
    uint64_t longest = settings_.shift == 0 ? sectors : std::min<uint64_t>(settings_.shift, sectors);
    sectors = static_cast<uint32_t>(scaledDraw(random_.next(), longest)) + 1;
  }
  // Every command is cut at the edge of the range, the first included: no
  // sector outside it is touched, and the next command has its full length
  // again.
  return range_.cut(lba, sectors);
}

bool PatternWalk::advance() {
  bool passEnded = false;
  const uint32_t done = sectors_;
  remaining_ -= done;
  if (remaining_ <= 0) {
    remaining_ = static_cast<int64_t>(range_.length);
    passEnded = true;
  }
  uint64_t next;
  if (settings_.shiftRandom) {
    next = range_.at(random48(random_));
  } else {
    next = lba_ + (settings_.lengthRandom ? done : settings_.shift);
  }
  lba_ = range_.clamp(next);
  sectors_ = lengthAt(lba_);
  return passEnded;
}

}  // namespace zorv
