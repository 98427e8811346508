#pragma once
// Building Huffman codes for the encoder: optimal code lengths limited to 16
// bits, and the canonical codes the decoder assigns to those lengths.

#include <cstdint>
#include <span>

namespace zorv::lh5 {

// Fills lengths (same size as freq) with code lengths of at most maxLength
// bits for the symbols whose frequency is non-zero (others get 0). Returns
// the number of used symbols. With fewer than two used symbols every length
// is 0: the block then names its single symbol instead of a code.
int buildCodeLengths(std::span<const uint32_t> freq, std::span<uint8_t> lengths, int maxLength = 16);

// Canonical codes for the lengths: shorter codes first, equal lengths in
// symbol order.
void buildCanonicalCodes(std::span<const uint8_t> lengths, std::span<uint16_t> codes);

}  // namespace zorv::lh5
