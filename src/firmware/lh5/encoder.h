#pragma once
// The lh5 encoder: LZSS parsing with hash chains, then blocks whose
// boundaries are chosen by their coded size, each written with its own three
// Huffman codes. Its output decodes with any lh5 decoder.

#include <cstdint>
#include <span>
#include <vector>

namespace zorv::lh5 {

struct EncoderOptions {
  int maxChain = 2048;     // chain entries searched per position
  int niceLength = 256;    // a match this long is taken without searching further
  bool optimalParse = true;  // cost-driven parse instead of lazy matching
};

std::vector<uint8_t> encode(std::span<const uint8_t> input, const EncoderOptions& options = {});

}  // namespace zorv::lh5
