// libFuzzer target: any bytes as the sectors of a block-information dump and
// as the replies of the FTL queries. The first sector is a group header; the
// records follow as the dump reads them (eight bytes each, 64 a sector, as
// many as the header's valid-byte count says and the input holds).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "diagnostics/ftl_decode.h"

namespace {

uint64_t le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zorv;
  std::span<const uint8_t> bytes(data, size);
  for (uint16_t modelClass : {uint16_t{0}, uint16_t{1}}) {
    BlockDumpHeader header = parseBlockDumpHeader(bytes.first(std::min<size_t>(size, 512)), modelClass);
    BlockRecordLayout layout = blockRecordLayout(header, modelClass);
    (void)bitDefinitionText(layout, header);
    (void)groupHeaderLine(header, modelClass);
    std::span<const uint8_t> records = size > 512 ? bytes.subspan(512) : std::span<const uint8_t>{};
    size_t count = std::min<size_t>(header.validBytes / 8, records.size() / 8);
    uint64_t factor = layout.eraseFactor();
    for (size_t i = 0; i < count; ++i) {
      uint64_t base = factor * (i >= header.dataStart ? header.mlcEraseBase : header.slcEraseBase);
      (void)blockRecordLine(static_cast<uint32_t>(i), le64(&records[8 * i]), layout, base);
    }
    (void)planeInfoText(bytes, modelClass);
  }
  (void)blockInfoText(bytes);
  (void)flashIdText(bytes);
  (void)flashCheckText(bytes);
  (void)badBlockListText(bytes);
  PpnLayout ppn = ppnLayoutFromReply(bytes);
  (void)ppnLayoutText(ppn);
  (void)ppnListLine(1, size > 4 ? static_cast<uint32_t>(le64(data) & 0xFFFFFFFF) : 0, ppn);
  (void)onePpnText(0x12345678, bytes);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)laterBadReportHeader(text);
  return 0;
}
