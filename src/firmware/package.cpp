#include "firmware/package.h"

#include <algorithm>
#include <cstring>

#include "firmware/printable_text.h"
#include "transport/byte_order.h"
#include "transport/message.h"

namespace zorv::firmware {

std::optional<QzHeader> readQzHeader(std::span<const uint8_t> package) {
  if (package.size() < kQzHeaderSize) return std::nullopt;
  QzHeader h;
  h.origSize = be32(&package[0]);
  h.sum16 = be16(&package[4]);
  h.compSize = be32(&package[6]);
  h.reserved = be16(&package[10]);
  return h;
}

std::array<uint8_t, kQzHeaderSize> encodeQzHeader(const QzHeader& h) {
  std::array<uint8_t, kQzHeaderSize> out{};
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  put32(0, h.origSize);
  out[4] = static_cast<uint8_t>(h.sum16 >> 8);
  out[5] = static_cast<uint8_t>(h.sum16);
  put32(6, h.compSize);
  out[10] = static_cast<uint8_t>(h.reserved >> 8);
  out[11] = static_cast<uint8_t>(h.reserved);
  return out;
}

UnpackResult unpackPackage(std::span<const uint8_t> package, std::vector<uint8_t>& content,
                           const UnpackLimits& limits) {
  UnpackResult r;
  auto fail = [&](UnpackError e, std::string reason) {
    r.error = e;
    r.reason = std::move(reason);
    return r;
  };
  std::optional<QzHeader> header = readQzHeader(package);
  if (!header) return fail(UnpackError::TooShort, formatText("package of %zu bytes is shorter than its 16-byte header", package.size()));
  r.header = *header;
  r.diagnostic += formatText("\r\nulTargetPos=%X\r\nulCompFWStartAddr=%X\r\n", 0u, static_cast<unsigned>(kQzHeaderSize));
  const size_t streamBytes = package.size() - kQzHeaderSize;
  if (header->compSize > streamBytes)
    return fail(UnpackError::Truncated, formatText("package is truncated: the header gives a %u-byte stream, the file holds %zu bytes after the header",
                                                   header->compSize, streamBytes));
  if (header->origSize > limits.maxContentSize)
    return fail(UnpackError::ContentTooLarge, formatText("package content of %u bytes is larger than the %zu bytes accepted",
                                                         header->origSize, limits.maxContentSize));

  std::span<const uint8_t> stream = package.subspan(kQzHeaderSize, header->compSize);
  std::vector<uint8_t> out(header->origSize);
  if (header->stored()) {
    // Nothing to gain from compression: the content is stored as it is.
    std::copy(stream.begin(), stream.end(), out.begin());
  } else {
    lh5::DecodeResult d = lh5::decode(stream, out);
    if (!d.ok()) {
      r.decodeStatus = d.status;
      return fail(UnpackError::BadStream, formatText("lh5 stream: %s after %zu of %u bytes",
                                                     std::string(lh5::describe(d.status)).c_str(), d.produced,
                                                     header->origSize));
    }
  }
  r.computedSum = lh5::byteSum16(out);
  if (r.computedSum != header->sum16) {
    r.diagnostic += formatText("Fail %X %X\r\n", r.computedSum, header->sum16);
    return fail(UnpackError::SumMismatch,
                formatText("sum check failed: the content adds up to %04X, the header says %04X", r.computedSum, header->sum16));
  }
  content.swap(out);
  return r;
}

void FirmwareTable::clear() {
  for (FirmwareRow& row : rows) row = FirmwareRow{};
  fwCount = 0;
}

ParseResult parseFirmwareTable(std::span<const uint8_t> content, uint16_t usModelClass, FirmwareTable& table) {
  ParseResult r;
  table.clear();
  const size_t idLength = idLengthForClass(usModelClass);
  // Offsets and lengths in 512-byte units until the end mark is known.
  std::array<uint32_t, kFirmwareTableRows> units{};
  std::array<uint32_t, kFirmwareTableRows> lengths{};
  int count = 0;
  size_t p = 0;
  for (;; p += kTableEntrySize) {
    if (p + kEndMarkOffset + kEndMark.size() > content.size()) {
      r.error = TableError::PastContent;
      r.reason = formatText("model table runs past the end of the %zu-byte content without an end mark", content.size());
      table.clear();
      return r;
    }
    if (std::memcmp(&content[p + kEndMarkOffset], kEndMark.data(), kEndMark.size()) == 0) break;
    if (p + kTableEntrySize > content.size()) {
      r.error = TableError::PastContent;
      r.reason = formatText("model table entry at %zu runs past the end of the %zu-byte content without an end mark", p,
                            content.size());
      table.clear();
      return r;
    }
    const uint8_t* e = &content[p];
    if (e[0] == 0 && e[1] == 0 && e[2] == 0 && e[3] == 0) continue;
    if (count == kFirmwareTableRows) {
      r.error = TableError::TooManyRows;
      r.reason = formatText("model table has more than %d rows", kFirmwareTableRows);
      table.clear();
      return r;
    }
    FirmwareRow& row = table.rows[count];
    std::copy_n(e, idLength, row.firmwareId.begin());
    const char* name = reinterpret_cast<const char*>(e + 16);
    row.modelName.assign(name, strnlen(name, kModelNameLength));
    units[count] = le32(e + 32);
    lengths[count] = le32(e + 36);
    ++count;
  }
  r.endMark = p;
  const uint64_t imageArea = p + kEndMarkSize;
  for (int i = 0; i < count; ++i) {
    FirmwareRow& row = table.rows[i];
    const uint64_t offset = imageArea + uint64_t{units[i]} * kImageUnit;
    const uint64_t length = uint64_t{lengths[i]} * kImageUnit;
    if (offset + length > content.size()) {
      r.error = TableError::ImageOutside;
      r.badRow = i;
      r.reason = formatText("image of row %d (%s) at %llX, %llX bytes, lies outside the %zu-byte content", i,
                            printableText(row.modelName).c_str(), static_cast<unsigned long long>(offset),
                            static_cast<unsigned long long>(length), content.size());
      table.clear();
      return r;
    }
    row.imageOffset = static_cast<uint32_t>(offset);
    row.imageLength = static_cast<uint32_t>(length);
    // The name comes from the package as it is: shown, it must not act on
    // a terminal or a window.
    r.diagnostic += formatText("Model Name: %s\r\nOffset: %X, length: %X\r\n-------------------------\r\n",
                               printableText(row.modelName).c_str(), row.imageOffset, row.imageLength);
  }
  table.fwCount = count;
  r.rowCount = count;
  return r;
}

std::optional<int> selectImageForDrive(const FirmwareTable& table, std::span<const uint8_t> hwid, size_t compareLength) {
  std::array<uint8_t, kMaxIdLength> id{};
  std::copy_n(hwid.begin(), std::min(hwid.size(), id.size()), id.begin());
  compareLength = std::min(compareLength, id.size());
  const int count = std::clamp(table.fwCount, 0, kFirmwareTableRows);
  for (int i = 0; i < count; ++i) {
    if (std::equal(id.begin(), id.begin() + compareLength, table.rows[i].firmwareId.begin())) return i;
  }
  return std::nullopt;
}

DownloaderSelection selectForDownloader(const FirmwareTable& table, std::span<const uint8_t> hwid,
                                        uint16_t usModelClass) {
  const size_t idLength = std::min(idLengthForClass(usModelClass), hwid.size());
  std::span<const uint8_t> id = hwid.first(idLength);
  DownloaderSelection s;
  s.text = "Current HWID: " + formatIdHex(id) + "\r\n";
  s.row = selectImageForDrive(table, id, kDownloaderCompareLength);
  if (s.row) s.text += formatText("Correct Item: %d   TtlFwNum: %d\r\n", *s.row, table.fwCount);
  return s;
}

std::span<const uint8_t> rowImage(std::span<const uint8_t> content, const FirmwareRow& row) {
  if (uint64_t{row.imageOffset} + row.imageLength > content.size()) return {};
  return content.subspan(row.imageOffset, row.imageLength);
}

std::string formatIdHex(std::span<const uint8_t> id) {
  std::string s;
  for (size_t i = 0; i < id.size(); ++i) {
    s += formatText("%02X", id[i]);
    if ((i + 1) % 4 == 0) s += ' ';
  }
  return s;
}

}  // namespace zorv::firmware
