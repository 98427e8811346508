#pragma once
// Most-significant-first bit reader over a byte range. Past the end of the
// range it reads zero bytes, so that a decoder can always look ahead a full
// code; consumedBits() tells how far the reader really went, which lets the
// caller tell a stream that was cut short from one that ended cleanly.
//
// The buffer keeps its bits left-aligned in 64 bits: peeking is one shift, and
// one refill covers a literal/length code, a position code and its extra bits.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zorv::lh5 {

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // Makes at least 56 bits available.
  void refill() {
    if (pos_ + 8 <= size_) {
      uint64_t word;
      std::memcpy(&word, data_ + pos_, 8);
      word = __builtin_bswap64(word);
      buffer_ |= word >> count_;
      pos_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    refillSlow();
  }

  // The next n bits (1..32) without consuming them; refill() first.
  uint32_t peek(int n) const { return static_cast<uint32_t>(buffer_ >> (64 - n)); }
  // The next 16 bits as the top of the 64-bit buffer.
  uint64_t window() const { return buffer_; }

  void skip(int n) {
    buffer_ <<= n;
    count_ -= n;
  }

  // Reads n bits (0..32); refills as needed.
  uint32_t bits(int n) {
    if (n == 0) return 0;
    if (count_ < n) refill();
    uint32_t v = peek(n);
    skip(n);
    return v;
  }

  // Bits taken from the stream so far, including the zero bytes read past its
  // end.
  uint64_t consumedBits() const { return uint64_t{pos_} * 8 - static_cast<uint64_t>(count_); }
  uint64_t availableBits() const { return uint64_t{size_} * 8; }
  bool overrun() const { return consumedBits() > availableBits(); }

 private:
  void refillSlow() {
    while (count_ <= 56) {
      uint64_t byte = pos_ < size_ ? data_[pos_] : 0;
      buffer_ |= byte << (56 - count_);
      ++pos_;
      count_ += 8;
    }
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;  // next byte to load; runs past size_ while zeros are fed
  uint64_t buffer_ = 0;
  int count_ = 0;  // valid bits at the top of buffer_
};

}  // namespace zorv::lh5
