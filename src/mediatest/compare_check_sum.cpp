#include "mediatest/compare_check_sum.h"

#include <algorithm>

#include "transport/scsi_command.h"

namespace zorv {

bool CompareCheckSum(MediaTestRun& run, uint32_t ulBlks, uint32_t first, uint32_t end) {
  Context& ctx = run.ctx;
  ++run.stats.compares;
  PrintHighlight(ctx, "Compare Check Sum");
  PrintHighlight(ctx, "LBA 0x%8X -> 0x%8X", first, end);
  const uint32_t full = std::max<uint32_t>(ulBlks, 1);
  uint64_t cur = first;
  ctx.ulCurLba = first;
  uint32_t count = full;
  uint32_t countdown = 0;
  while (cur < end) {
    uint32_t drawn = run.params.fgRndBlks ? randomBlockCount(run.random, full) : count;
    if (countdown == 0) {
      if (scaledDraw(run.random.next(), kBurstOdds) == 0) {
        countdown = kBurstLength - 1;
        count = full;
      } else {
        count = drawn;
      }
    } else {
      --countdown;
      count = full;
    }
    count = static_cast<uint32_t>(std::min<uint64_t>(count, end - cur));
    uint32_t lba = static_cast<uint32_t>(cur);
    ctx.ulCurLba = lba;
    ++run.stats.reads;
    if (!ReadBlocks(ctx, lba, count, false)) {
      ++run.stats.readErrors;
      ++run.stats.compareFailures;
      PrintError(ctx, "LBA %X, Read 10 Failed", lba);
      PrintError(ctx, "Compare Check Sum Failed");
      return false;
    }
    run.stats.blocksRead += count;
    cur += count;
  }
  PrintHighlight(ctx, "Compare Check Sum Success");
  return true;
}

}  // namespace zorv
