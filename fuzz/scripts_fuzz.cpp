// libFuzzer target: any text as each script and report a person may hand the
// tool: the workload scripts (.sc1 define, .sc2 capacity, client workload
// .txt), a workload block, the volume test's .sc3, a speed report, and a
// block-information dump's text read back for the erase statistics.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "diagnostics/erase_stats.h"
#include "volume/sc3_script.h"
#include "workload/capacity_script.h"
#include "workload/define_script.h"
#include "workload/jesd_script.h"
#include "workload/speed_report_view.h"
#include "workload/workload_plan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zorv;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  (void)parseDefineScript(text, error);
  (void)parseCapacityScript(text, error);
  (void)parseJesdScript(text, error);
  (void)parseWorkloadBlock(text, error);
  Sc3Script sc3;
  (void)parseSc3(text, sc3, error);
  (void)parseSpeedReport(text);
  if (std::optional<BlockDumpTable> table = parseBlockDumpText(text, error)) {
    (void)eraseStatisticsText(eraseStatistics(*table));
  }
  return 0;
}
