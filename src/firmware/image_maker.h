#pragma once
// Firmware images for tests, demos and engineers, and reading an image's
// identity block.
//
// Identity block (81 bytes at H):
//   model class 0: H = 48 + the little-endian 32-bit value at image bytes 8..11
//   model class 1: H = image length - 512
//   0        HWID (9 or 16 bytes)
//   32 / 40  firmware version, 6 ASCII characters (class 0 / class 1)
//   80       check byte: the 81 bytes add up to 0 modulo 256
// Time stamps are read from T = H (class 0) or T = length - 464 (class 1):
// 12 characters at T+48, 8 at T+64, and the byte at T+80 is shown as the
// HWID check sum.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zorv::firmware {

constexpr size_t kIdentityBlockSize = 81;
constexpr size_t kVersionLength = 6;

// Where the identity block starts in a plain image; nullopt when the image
// is too short to hold it there.
std::optional<size_t> identityBlockPosition(std::span<const uint8_t> image, uint16_t usModelClass);

struct ImageIdentity {
  size_t position = 0;                  // H
  std::array<uint8_t, 16> hwid{};       // zero beyond the ID length
  std::string version;                  // 6 characters
  uint8_t blockSum = 0;                 // sum of the 81 bytes (0 when intact)
  bool sumOk() const { return blockSum == 0; }
};

std::optional<ImageIdentity> readImageIdentity(std::span<const uint8_t> image, uint16_t usModelClass);

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
