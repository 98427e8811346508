// libFuzzer target: any bytes as the records the tool reads back from files
// and drives: a run log (the Info SSD and SMART report of both model
// classes), an SPI image's OBB record area (both products), a SMART data
// sector and an Info SSD record.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "analysis/obb_record.h"
#include "diagnostics/info_ssd.h"
#include "diagnostics/report.h"
#include "diagnostics/smart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zorv;
  std::span<const uint8_t> bytes(data, size);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (uint16_t modelClass : {uint16_t{0}, uint16_t{1}}) (void)BuildReportValues("run.log", text, modelClass);
  using analysis::ObbProduct;
  for (ObbProduct product : {ObbProduct::Pallo, ObbProduct::Tarn}) (void)analysis::ObbRowValues(product, bytes);
  (void)ParseSmartAttributes(bytes);
  (void)DecodeSmartData(bytes);
  (void)InfoSsdRecord(bytes);
  return 0;
}
