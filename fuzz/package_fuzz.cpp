// libFuzzer target: any bytes as a firmware package, through the unpack and
// both table readings. Nothing may crash, hang or touch memory out of bounds.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "firmware/package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zorv::firmware;
  std::span<const uint8_t> package(data, size);
  // Small content limit: a 16-byte header must not make every run allocate
  // and fill hundreds of megabytes.
  UnpackLimits limits;
  limits.maxContentSize = size_t{8} << 20;
  std::vector<uint8_t> content;
  UnpackResult r = unpackPackage(package, content, limits);
  // Also read the bytes after the header as a content, so the table parser
  // sees inputs the fuzzer controls directly.
  std::span<const uint8_t> tableInput = r.ok() ? std::span<const uint8_t>(content)
                                               : package.subspan(size < kQzHeaderSize ? size : kQzHeaderSize);
  static FirmwareTable table;
  for (uint16_t cls : {uint16_t{0}, uint16_t{1}}) {
    ParseResult p = parseFirmwareTable(tableInput, cls, table);
    if (p.ok()) {
      for (int i = 0; i < table.fwCount; ++i) {
        std::span<const uint8_t> img = rowImage(tableInput, table.rows[i]);
        if (!img.empty()) (void)img.back();
      }
      (void)selectImageForDrive(table, std::span<const uint8_t>(tableInput.data(), tableInput.size() < 16 ? tableInput.size() : 16),
                                kDownloaderCompareLength);
    }
  }
  return 0;
}
