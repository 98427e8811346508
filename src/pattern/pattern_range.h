#pragma once
// Where the generator's commands go: the range of LBAs and the walk through
// it, one command at a time.
//
// The range runs from start to end (end exclusive). When end lies above
// start it is plain; otherwise it wraps through the end of the drive: start
// .. capacity - 1, then 0 .. end - 1. A command never leaves the range: it is
// cut at end, or at the capacity while a wrapping range has not yet turned.
//
// The walk steps by the shift (or, with "Shift Random", to a random LBA of
// the range) and counts the sectors it has moved; each time they add up to
// the range length a pass has ended, which a capacity loop counts.
//
// "Length Random": each command moves a random number of sectors, 1 .. the
// "Max Rdn Len" (the shift field, which the caption names for this use) but
// at most the sectors per command, and the next command starts where it
// ended (a shift random run jumps as usual). So a sequential pass with
// random lengths covers its range without gaps or overlaps, and the LBA
// stamps it leaves are all read back by a later "Only Read" run (which does
// not check the serial stamps of such a run: the random lengths are not
// repeated).

#include <cstdint>
#include <optional>
#include <string>

#include "mediatest/test_random.h"

namespace zorv {

struct PatternRange {
  uint64_t start = 0;
  uint64_t end = 0;       // exclusive
  uint64_t capacity = 0;  // sectors of the drive
  bool wraps = false;
  uint64_t length = 0;    // sectors in the range

  // The range from start to end on a drive of capacity sectors; nothing when
  // start = end, start >= capacity or end > capacity.
  static std::optional<PatternRange> make(uint64_t start, uint64_t end, uint64_t capacity);

  // Whether count sectors at lba lie inside the range (64-bit, no wrap).
  bool contains(uint64_t lba, uint64_t count) const;
  // An LBA the walk reached brought back into the range: plain, at or past
  // end to start; wrapping, at or past the capacity to 0 and between end and
  // start to start.
  uint64_t clamp(uint64_t lba) const;
  // sectors cut so that a command at lba stays inside the range.
  uint32_t cut(uint64_t lba, uint32_t sectors) const;
  // The LBA at offset (taken modulo the range length) along the range.
  uint64_t at(uint64_t offset) const;
  // The last LBA + 1 any command may touch (the capacity for a wrapping range).
  uint64_t reach() const { return wraps ? capacity : end; }
};

// A random 48-bit number: the low 12 bits of four draws, the first most significant.
uint64_t random48(TestRandom& random);

struct WalkSettings {
  uint32_t sectors = 0x80;  // sectors per command
  uint64_t shift = 0x80;    // LBA step; with lengthRandom the longest random length
  bool shiftRandom = false;
  bool lengthRandom = false;
};

class PatternWalk {
 public:
  // The first command: at the range's start.
  PatternWalk(const PatternRange& range, const WalkSettings& settings, TestRandom& random);

  uint64_t lba() const { return lba_; }
  uint32_t sectors() const { return sectors_; }
  // Moves to the next command. True when the command just done ended a pass
  // of the range.
  bool advance();

 private:
  uint32_t lengthAt(uint64_t lba);

  PatternRange range_;
  WalkSettings settings_;
  TestRandom& random_;
  uint64_t lba_ = 0;
  uint32_t sectors_ = 0;
  int64_t remaining_ = 0;
};

}  // namespace zorv
