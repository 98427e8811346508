#pragma once
// Most-significant-first bit writer into a growing byte vector; the last byte
// is padded with zero bits.

#include <cstdint>
#include <vector>

namespace zorv::lh5 {

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

  // Writes the low n bits (0..32) of value, most significant first.
  void put(int n, uint32_t value) {
    if (n == 0) return;
    buffer_ = (buffer_ << n) | (value & ((uint64_t{1} << n) - 1));
    count_ += n;
    while (count_ >= 8) {
      count_ -= 8;
      out_.push_back(static_cast<uint8_t>(buffer_ >> count_));
    }
  }

  void flush() {
    if (count_ > 0) out_.push_back(static_cast<uint8_t>(buffer_ << (8 - count_)));
    count_ = 0;
    buffer_ = 0;
  }

 private:
  std::vector<uint8_t>& out_;
  uint64_t buffer_ = 0;
  int count_ = 0;
};

}  // namespace zorv::lh5
