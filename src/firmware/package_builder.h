#pragma once
// Making firmware packages: the model table, the image area and the header
// around an lh5 stream of our own encoder. Images are given plain; those of
// model class 0 are stored complemented, as the download expects.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "firmware/lh5/encoder.h"
#include "firmware/package.h"

namespace zorv::firmware {

struct PackageRow {
  std::vector<uint8_t> firmwareId;  // exactly the ID length of the model class
  std::string modelName;            // at most 16 characters
  std::vector<uint8_t> image;       // plain image, a whole number of 512-byte units
};

struct BuildResult {
  bool ok = false;
  std::string error;
  std::vector<uint8_t> bytes;
};

// The decompressed content: table entries, end mark, images back to back.
BuildResult buildPackageContent(std::span<const PackageRow> rows, uint16_t usModelClass);

// Header and stream around a content; stored as it is when compression does
// not make it smaller (and so never with a stream that happens to be exactly
// as long as the content, which would read as stored).
std::vector<uint8_t> wrapContent(std::span<const uint8_t> content, const lh5::EncoderOptions& options = {});

BuildResult buildPackage(std::span<const PackageRow> rows, uint16_t usModelClass,
                         const lh5::EncoderOptions& options = {});

}  // namespace zorv::firmware
