#pragma once
// Constants of the lh5 stream: LZSS over an 8 KiB window, each block coded
// with three static Huffman codes (code lengths, literals/lengths, positions),
// bits packed most-significant first.

#include <cstddef>
#include <cstdint>

namespace zorv::lh5 {

constexpr int kDicBits = 13;
constexpr size_t kDicSize = size_t{1} << kDicBits;  // 8,192-byte window
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 256;

// Literal/length alphabet: 0..255 literal bytes, 256 + (length - 3) matches.
constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1;  // 510
constexpr int kCBits = 9;
// Position alphabet: code j stands for distances with j significant bits.
constexpr int kNP = kDicBits + 1;  // 14
constexpr int kPBits = 4;
// Code-length alphabet: 0..2 are runs of zero lengths, 3..18 lengths 1..16.
constexpr int kNT = 16 + 3;  // 19
constexpr int kTBits = 5;
constexpr int kTSpecial = 3;  // after three code-length lengths, a 2-bit run of zeros

constexpr int kMaxCodeLength = 16;

// The first code of the literal/length alphabet that is a match.
constexpr int kFirstMatchCode = 256;

}  // namespace zorv::lh5
