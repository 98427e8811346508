#pragma once
// Firmware images for tests, demos and engineers: plain images with an
// intact identity block (firmware/image_identity.h) that gives their HWID,
// version, time stamps and length.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/image_identity.h"

namespace zorv::firmware {

struct ImageSpec {
  uint16_t usModelClass = 0;
  std::vector<uint8_t> hwid;   // 9 bytes (class 0) or 16 (class 1)
  std::string version;         // exactly 6 printable ASCII characters
  size_t size = 256 * 1024;    // a whole number of 512-byte units, 4 KiB to 64 MiB
  uint64_t seed = 0;           // 0: derived from the other fields
  std::string timeStamp = "202501150930";  // 12 characters
  std::string extTimeStamp = "0001A2B3";   // 8 characters
};

constexpr size_t kMinImageSize = 4096;
constexpr size_t kMaxImageSize = size_t{64} << 20;

struct MadeImage {
  bool ok = false;
  std::string error;
  std::vector<uint8_t> image;  // plain (not complemented)
};

// A plain image: vector table, identity block, code-like content (16-bit
// instruction words in functions, literal pools, strings, tables), a main
// check byte and FFh padding. The same recipe always gives the same bytes.
MadeImage makeImage(const ImageSpec& recipe);

// Parses "0123AB..." (blanks, ':' and '-' between digit pairs are allowed).
std::optional<std::vector<uint8_t>> parseHex(std::string_view text);

}  // namespace zorv::firmware
