#pragma once
// The identity block every firmware image carries, and where to find it.
//
// Identity block (81 bytes at H):
//   model class 0: H = 48 + the little-endian 32-bit value at image bytes 8..11
//   model class 1: H = image length - 512
//   0        HWID (9 or 16 bytes)
//   20       image length in bytes, little-endian 32-bit: a drive activates
//            an image only once this many bytes have arrived
//   32 / 40  firmware version, 6 ASCII characters (class 0 / class 1)
//   80       check byte: the 81 bytes add up to 0 modulo 256
// Time stamps are read from T = H (class 0) or T = length - 464 (class 1):
// 12 characters at T+48, 8 at T+64, and the byte at T+80 is shown as the
// HWID check sum.
//
// Images travel in two forms: plain, and stored as packages hold them (model
// class 0 complemented byte by byte). The readers take either, so that a
// stored image never has to be copied to be inspected.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zorv::firmware {

constexpr size_t kIdentityBlockSize = 81;
constexpr size_t kVersionLength = 6;
constexpr size_t kIdentityLengthOffset = 20;

enum class ImageForm { Plain, Stored };

// Offset of the version within the block.
constexpr size_t identityVersionOffset(uint16_t usModelClass) { return usModelClass == 1 ? 40 : 32; }
// T, the base of the time stamps, for a block at h.
constexpr size_t timeStampBase(size_t h, uint16_t usModelClass) { return usModelClass == 1 ? h + 48 : h; }

// Where the identity block starts; nullopt when the image is too short to
// hold it there. For class 1 the stamps (up to T+80) also lie inside.
std::optional<size_t> identityBlockPosition(std::span<const uint8_t> image, uint16_t usModelClass,
                                            ImageForm form = ImageForm::Plain);

struct ImageIdentity {
  size_t position = 0;                            // H
  std::array<uint8_t, kIdentityBlockSize> block{};  // plain bytes
  std::array<uint8_t, 16> hwid{};                 // zero beyond the ID length
  std::string version;                            // 6 characters
  uint32_t declaredLength = 0;                    // block bytes 20..23
  uint8_t blockSum = 0;                           // sum of the 81 bytes (0 when intact)
  bool sumOk() const { return blockSum == 0; }
};

std::optional<ImageIdentity> readImageIdentity(std::span<const uint8_t> image, uint16_t usModelClass,
                                               ImageForm form = ImageForm::Plain);

}  // namespace zorv::firmware
