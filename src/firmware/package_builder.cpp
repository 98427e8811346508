#include "firmware/package_builder.h"

#include <algorithm>
#include <cstring>

#include "firmware/lh5/decoder.h"
#include "transport/byte_order.h"
#include "transport/message.h"

namespace zorv::firmware {

BuildResult buildPackageContent(std::span<const PackageRow> rows, uint16_t usModelClass) {
  BuildResult r;
  const size_t idLength = idLengthForClass(usModelClass);
  if (rows.size() > static_cast<size_t>(kFirmwareTableRows)) {
    r.error = formatText("a package holds at most %d rows, %zu given", kFirmwareTableRows, rows.size());
    return r;
  }
  uint64_t imageBytes = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const PackageRow& row = rows[i];
    if (row.firmwareId.size() != idLength) {
      r.error = formatText("row %zu: the firmware ID has %zu bytes, model class %u needs %zu", i, row.firmwareId.size(),
                           unsigned{usModelClass}, idLength);
      return r;
    }
    if (std::all_of(row.firmwareId.begin(), row.firmwareId.begin() + 4, [](uint8_t b) { return b == 0; })) {
      r.error = formatText("row %zu: a firmware ID whose first four bytes are zero would be skipped", i);
      return r;
    }
    if (idLength > kEndMarkOffset && std::equal(kEndMark.begin(), kEndMark.end(), row.firmwareId.begin() + kEndMarkOffset)) {
      r.error = formatText("row %zu: a firmware ID with 55 FF 55 FF at bytes 12 to 15 would end the table", i);
      return r;
    }
    if (row.modelName.size() > kModelNameLength || row.modelName.find('\0') != std::string::npos) {
      r.error = formatText("row %zu: the model name must be at most 16 characters", i);
      return r;
    }
    if (row.image.empty() || row.image.size() % kImageUnit != 0) {
      r.error = formatText("row %zu: the image has %zu bytes, not a whole number of 512-byte units", i, row.image.size());
      return r;
    }
    imageBytes += row.image.size();
  }
  const uint64_t tableBytes = rows.size() * kTableEntrySize + kEndMarkSize;
  if (tableBytes + imageBytes > UnpackLimits{}.maxContentSize) {
    r.error = formatText("the content would be %llu bytes, more than a package may hold",
                         static_cast<unsigned long long>(tableBytes + imageBytes));
    return r;
  }

  std::vector<uint8_t>& out = r.bytes;
  out.assign(tableBytes + imageBytes, 0);
  uint32_t unit = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    uint8_t* e = &out[i * kTableEntrySize];
    std::copy(rows[i].firmwareId.begin(), rows[i].firmwareId.end(), e);
    std::memcpy(e + 16, rows[i].modelName.data(), rows[i].modelName.size());
    const uint32_t units = static_cast<uint32_t>(rows[i].image.size() / kImageUnit);
    putLe32(e + 32, unit);
    putLe32(e + 36, units);
    uint8_t* img = &out[tableBytes + uint64_t{unit} * kImageUnit];
    if (usModelClass == 0) {
      std::transform(rows[i].image.begin(), rows[i].image.end(), img, [](uint8_t b) { return static_cast<uint8_t>(~b); });
    } else {
      std::copy(rows[i].image.begin(), rows[i].image.end(), img);
    }
    unit += units;
  }
  std::copy(kEndMark.begin(), kEndMark.end(), &out[rows.size() * kTableEntrySize + kEndMarkOffset]);
  r.ok = true;
  return r;
}

std::vector<uint8_t> wrapContent(std::span<const uint8_t> content, const lh5::EncoderOptions& options) {
  QzHeader h;
  h.origSize = static_cast<uint32_t>(content.size());
  h.sum16 = lh5::byteSum16(content);
  std::vector<uint8_t> stream = lh5::encode(content, options);
  const bool store = stream.size() >= content.size();
  h.compSize = store ? h.origSize : static_cast<uint32_t>(stream.size());
  std::vector<uint8_t> out;
  out.reserve(kQzHeaderSize + h.compSize);
  auto header = encodeQzHeader(h);
  out.insert(out.end(), header.begin(), header.end());
  if (store) {
    out.insert(out.end(), content.begin(), content.end());
  } else {
    out.insert(out.end(), stream.begin(), stream.end());
  }
  return out;
}

BuildResult buildPackage(std::span<const PackageRow> rows, uint16_t usModelClass, const lh5::EncoderOptions& options) {
  BuildResult content = buildPackageContent(rows, usModelClass);
  if (!content.ok) return content;
  BuildResult r;
  r.bytes = wrapContent(content.bytes, options);
  r.ok = true;
  return r;
}

}  // namespace zorv::firmware
