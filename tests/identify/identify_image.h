#pragma once
// Builds 512-byte IDENTIFY DEVICE images for the tests.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorv::test {

struct IdentifyImage {
  std::array<uint8_t, 512> bytes{};

  IdentifyImage& word(int w, uint16_t v) {
    bytes[2 * w] = static_cast<uint8_t>(v & 0xFF);
    bytes[2 * w + 1] = static_cast<uint8_t>(v >> 8);
    return *this;
  }
  // An ATA string: two characters per word, the first in the high byte,
  // padded with spaces.
  IdentifyImage& text(int firstWord, int words, std::string_view s) {
    for (int i = 0; i < words * 2; ++i) {
      char c = i < static_cast<int>(s.size()) ? s[i] : ' ';
      bytes[2 * firstWord + (i ^ 1)] = static_cast<uint8_t>(c);
    }
    return *this;
  }
};

}  // namespace zorv::test
