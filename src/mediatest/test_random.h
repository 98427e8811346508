#pragma once
// The random numbers of the media tests: values 0..32767 from one small
// linear congruential generator per run (s = s x 214013 + 2531011, the value
// is bits 16..30 of the new state). A generator of its own, not rand(): every
// formula of the tests assumes that range, and each run (or drive window)
// keeps its own sequence whatever other threads draw.

#include <cstdint>

namespace zorv {

class TestRandom {
 public:
  static constexpr uint32_t kRange = 32768;  // values are 0 .. kRange - 1

  explicit TestRandom(uint32_t seed = 1) : state_(seed) {}
  void seed(uint32_t seed) { state_ = seed; }
  uint32_t next() {
    state_ = state_ * 214013u + 2531011u;
    return (state_ >> 16) & 0x7FFFu;
  }

 private:
  uint32_t state_;
};

// floor(r / 32768 x range), exact for every 32-bit range (the product stays
// below 2^47).
constexpr uint64_t scaledDraw(uint32_t r, uint64_t range) { return (uint64_t{r} * range) >> 15; }

// The random block count of a command: floor(r / 32768 x blocks) modulo
// blocks, 0 becoming 1; so 1 .. blocks - 1 (1 when blocks is 1). blocks = 0
// has no count and gives 1 (the parameters refuse it before a run).
uint32_t randomBlockCount(TestRandom& random, uint32_t blocks);

}  // namespace zorv
