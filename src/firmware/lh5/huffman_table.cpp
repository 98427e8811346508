#include "firmware/lh5/huffman_table.h"

#include <algorithm>

namespace zorv::lh5 {

template <int kSymbols, int kRootBits>
bool HuffmanTable<kSymbols, kRootBits>::build(std::span<const uint8_t> lengths) {
  if (lengths.size() != static_cast<size_t>(kSymbols)) return false;
  std::array<uint32_t, kMaxCodeLength + 1> count{};
  for (uint8_t len : lengths) {
    if (len > kMaxCodeLength) return false;
    ++count[len];
  }
  // Complete code: the code space of all used lengths fills 2^16 exactly.
  uint32_t space = 0;
  for (int len = 1; len <= kMaxCodeLength; ++len) space += count[len] << (kMaxCodeLength - len);
  if (space != (uint32_t{1} << kMaxCodeLength)) return false;

  std::copy(lengths.begin(), lengths.end(), lengths_.begin());

  // First code (left-aligned in 16 bits) of each length, canonical order.
  std::array<uint32_t, kMaxCodeLength + 2> start{};
  for (int len = 1; len <= kMaxCodeLength; ++len) start[len + 1] = start[len] + (count[len] << (kMaxCodeLength - len));

  int subTables = 0;
  std::array<int16_t, kRootSize> subOf;
  subOf.fill(-1);
  for (int sym = 0; sym < kSymbols; ++sym) {
    int len = lengths[sym];
    if (len == 0) continue;
    uint32_t code = start[len];  // 16-bit left-aligned
    start[len] += uint32_t{1} << (kMaxCodeLength - len);
    uint16_t entry = static_cast<uint16_t>((len << kLengthShift) | sym);
    if (len <= kRootBits) {
      uint32_t first = code >> kSubBits;
      uint32_t n = uint32_t{1} << (kRootBits - len);
      std::fill_n(root_.begin() + first, n, entry);
    } else {
      uint32_t rootIndex = code >> kSubBits;
      if (subOf[rootIndex] < 0) {
        // Complete codes never need more sub-tables than this; the check
        // keeps a write inside the array whatever happens.
        if (subTables >= kMaxSubTables) return false;
        subOf[rootIndex] = static_cast<int16_t>(subTables);
        root_[rootIndex] = static_cast<uint16_t>(kSubFlag | subTables);
        ++subTables;
      }
      uint32_t base = static_cast<uint32_t>(subOf[rootIndex]) * kSubSize;
      uint32_t first = code & (kSubSize - 1);
      uint32_t n = uint32_t{1} << (kMaxCodeLength - len);
      std::fill_n(sub_.begin() + base + first, n, entry);
    }
  }
  return true;
}

template <int kSymbols, int kRootBits>
bool HuffmanTable<kSymbols, kRootBits>::buildSingle(int symbol) {
  if (symbol < 0 || symbol >= kSymbols) return false;
  lengths_.fill(0);
  root_.fill(static_cast<uint16_t>(symbol));
  return true;
}

template class HuffmanTable<kNC, 12>;
template class HuffmanTable<kNP, 8>;
template class HuffmanTable<kNT, 8>;

}  // namespace zorv::lh5
