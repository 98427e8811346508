#pragma once
// Decoding table for one canonical Huffman code of the lh5 stream (codes of
// at most 16 bits, assigned in order of length, then of symbol).
//
// Two levels: the first `kRootBits` bits index the root table; a code longer
// than that leads to a sub-table indexed by the following bits. An entry holds
// the symbol and its code length, so one lookup and one shift decode a symbol.
//
// Building refuses lengths over 16 and any set of lengths that is not a
// complete code (every 16-bit pattern decodes to exactly one symbol): a table
// that built successfully can never send the decoder astray.

#include <array>
#include <cstdint>
#include <span>

#include "firmware/lh5/bit_reader.h"
#include "firmware/lh5/lh5_format.h"

namespace zorv::lh5 {

template <int kSymbols, int kRootBits>
class HuffmanTable {
 public:
  static constexpr int kSubBits = kMaxCodeLength - kRootBits;
  static constexpr int kRootSize = 1 << kRootBits;
  static constexpr int kSubSize = 1 << kSubBits;
  // At most one sub-table per root entry that long codes pass through, and
  // no more such entries than there are symbols.
  static constexpr int kMaxSubTables = kSymbols < kRootSize ? kSymbols : kRootSize;

  // Builds from code lengths (0 = unused). False when a length exceeds 16 or
  // the lengths do not form a complete code.
  bool build(std::span<const uint8_t> lengths);

  // Every pattern decodes to `symbol` with no bits (a block that uses a single
  // symbol). False when the symbol is out of the alphabet.
  bool buildSingle(int symbol);

  // Decodes one symbol; at least 16 bits must be available in the reader.
  int decode(BitReader& in) const {
    uint32_t top = static_cast<uint32_t>(in.window() >> (64 - kMaxCodeLength));
    uint16_t e = root_[top >> kSubBits];
    if (e & kSubFlag) e = sub_[(e & kValueMask) * kSubSize + (top & (kSubSize - 1))];
    in.skip(e >> kLengthShift);
    return e & kValueMask;
  }

  int length(int symbol) const { return lengths_[symbol]; }

 private:
  static constexpr uint16_t kValueMask = 0x1FF;
  static constexpr int kLengthShift = 10;
  static constexpr uint16_t kSubFlag = 0x200;
  static_assert(kSymbols <= kValueMask + 1);

  std::array<uint16_t, kRootSize> root_{};
  std::array<uint16_t, kMaxSubTables * kSubSize> sub_{};
  std::array<uint8_t, kSymbols> lengths_{};
};

using LiteralTable = HuffmanTable<kNC, 12>;
using PositionTable = HuffmanTable<kNP, 8>;
using CodeLengthTable = HuffmanTable<kNT, 8>;

extern template class HuffmanTable<kNC, 12>;
extern template class HuffmanTable<kNP, 8>;
extern template class HuffmanTable<kNT, 8>;

}  // namespace zorv::lh5
