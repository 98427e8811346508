#include "firmware/image_identity.h"

#include <algorithm>

#include "firmware/package.h"

namespace zorv::firmware {

namespace {

uint8_t plainByte(std::span<const uint8_t> image, size_t i, ImageForm form) {
  return form == ImageForm::Stored ? static_cast<uint8_t>(~image[i]) : image[i];
}

}  // namespace

std::optional<size_t> identityBlockPosition(std::span<const uint8_t> image, uint16_t usModelClass, ImageForm form) {
  // Only class 0 images are stored complemented.
  if (usModelClass == 1) form = ImageForm::Plain;
  uint64_t h;
  if (usModelClass == 1) {
    if (image.size() < 512) return std::nullopt;
    h = image.size() - 512;
  } else {
    if (image.size() < 12) return std::nullopt;
    h = 48;
    for (size_t i = 0; i < 4; ++i) h += uint64_t{plainByte(image, 8 + i, form)} << (8 * i);
  }
  if (h + kIdentityBlockSize > image.size()) return std::nullopt;
  return static_cast<size_t>(h);
}

std::optional<ImageIdentity> readImageIdentity(std::span<const uint8_t> image, uint16_t usModelClass,
                                               ImageForm form) {
  std::optional<size_t> h = identityBlockPosition(image, usModelClass, form);
  if (!h) return std::nullopt;
  if (usModelClass == 1) form = ImageForm::Plain;
  ImageIdentity id;
  id.position = *h;
  uint32_t sum = 0;
  for (size_t i = 0; i < kIdentityBlockSize; ++i) {
    id.block[i] = plainByte(image, *h + i, form);
    sum += id.block[i];
  }
  id.blockSum = static_cast<uint8_t>(sum);
  std::copy_n(id.block.begin(), idLengthForClass(usModelClass), id.hwid.begin());
  id.version.assign(reinterpret_cast<const char*>(id.block.data() + identityVersionOffset(usModelClass)),
                    kVersionLength);
  for (size_t i = 0; i < 4; ++i) id.declaredLength |= uint32_t{id.block[kIdentityLengthOffset + i]} << (8 * i);
  return id;
}

}  // namespace zorv::firmware
