#pragma once
// What a media test works with while it runs: the drive's context (its own
// buffers and queue, the stop flag, the message sink), the parameters the
// dialog read, the run's random numbers, the progress sink, the write guard,
// and the figures it gathers for the summary.

#include <cstdint>

#include "mediatest/media_test_params.h"
#include "mediatest/raw_write_guard.h"
#include "mediatest/test_random.h"
#include "transport/context.h"
#include "transport/user_interface.h"

namespace zorv {

class QueuedTransfers;

struct MediaTestStats {
  uint64_t reads = 0;           // read commands issued (plain or queued)
  uint64_t writes = 0;          // write commands that completed
  uint64_t blocksRead = 0;
  uint64_t blocksWritten = 0;
  uint32_t readErrors = 0;      // failed reads, stamp mismatches included
  uint32_t writeErrors = 0;
  uint32_t writeRetries = 0;    // writes sent again after NOT READY (operation in progress)
  uint32_t writesSkipped = 0;   // random writes whose rounded LBA fell on or beyond ELBA
  uint32_t compares = 0;        // Compare Check Sum runs
  uint32_t compareFailures = 0;
  // Sequential read: measured groups and their rates as printed (KB/Sec figure).
  uint32_t groups = 0;
  double rateSum = 0.0;
  double lastRate = 0.0;
  double averageRate = 0.0;
  // Random access: access times in milliseconds.
  uint32_t accessReads = 0;
  uint32_t overTime = 0;
  double maxMs = 0.0;
  double minMs = 10000.0;
  double averageMs = 0.0;
};

struct MediaTestRun {
  MediaTestRun(Context& c, const MediaTestParams& p, TestRandom& r, ProgressSink& s)
      : ctx(c), params(p), random(r), progress(s) {}

  Context& ctx;
  const MediaTestParams& params;  // the dialog's values
  TestRandom& random;
  ProgressSink& progress;
  // Raw writes are refused without a guard.
  const RawWriteGuard* writeGuard = nullptr;
  // The reference 1X rate of the sequential read (reference_rate.h).
  double referenceRate = 1.0;
  // The open queue of a queued write test (write type 3).
  QueuedTransfers* queue = nullptr;
  bool fgTestFail = false;
  MediaTestStats stats;

  bool stopRequested() const { return ctx.fgStopRequest.load() != 0; }
  // blocks, or with "RndBlks" a random count below it.
  uint32_t blockCount(uint32_t blocks) { return params.fgRndBlks ? randomBlockCount(random, blocks) : blocks; }
};

// n rounded up to a multiple of m (m = 0: n), in 64 bits: near the top of
// the 32-bit LBAs the result passes 0xFFFFFFFF instead of wrapping to 0.
constexpr uint64_t roundUpTo(uint64_t n, uint64_t m) { return m == 0 ? n : (n + m - 1) / m * m; }

}  // namespace zorv
