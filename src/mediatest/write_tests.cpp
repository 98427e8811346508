#include "mediatest/write_tests.h"

#include <algorithm>
#include <string>
#include <vector>

#include "mediatest/compare_check_sum.h"
#include "mediatest/queued_transfers.h"
#include "mediatest/write_retry.h"
#include "transport/block_stamp.h"
#include "transport/scsi_command.h"

namespace zorv {

namespace {

std::string lbaText(uint64_t lba) { return formatText("0x%8llX", static_cast<unsigned long long>(lba)); }

// One write with the retry rule. A plain write is stamped again before
// every attempt: the REQUEST SENSE of a retry replies into SectorBuffer and
// overwrites the start of the stamped data. A queued write is issued once
// here; its completion brings its failure and its retries (RangeWrites).
bool writeWithRetry(MediaTestRun& run, uint32_t lba, uint32_t count, uint16_t writeType) {
  Context& ctx = run.ctx;
  ctx.ulCurLba = lba;
  if (writeType != kWriteTypePlain) return WriteByType(run, count, writeType);
  Clock::TimePoint first = ctx.clock->now();
  for (;;) {
    ctx.ulCurLba = lba;
    StampBlocks(count, lba, ctx.SectorBuffer.data());
    if (WriteByType(run, count, writeType)) {
      ++run.stats.writes;
      run.stats.blocksWritten += count;
      return true;
    }
    if (!shouldRetryWrite(ctx, first)) return false;
    ++run.stats.writeRetries;
  }
}

// The queued writes of the range test: failures come back with their
// completion, which also carries the retry of a busy drive.
class RangeWrites : public TransferCompletion {
 public:
  explicit RangeWrites(MediaTestRun& run) : run_(run) {}

  bool transferDone(int, const QueuedTransfer& t, bool ok) override {
    if (ok) {
      ++run_.stats.writes;
      run_.stats.blocksWritten += t.count;
      return false;
    }
    if (shouldRetryWrite(run_.ctx, t.firstSubmitted)) {
      ++run_.stats.writeRetries;
      return true;
    }
    writeFailed(t.lba);
    return false;
  }

  void writeFailed(uint32_t lba) {
    ++run_.stats.writeErrors;
    PrintError(run_.ctx, "Write Failed. 0x%X", lba);
    failed = true;
  }

  bool failed = false;

 private:
  MediaTestRun& run_;
};

// The blocks a lap of the range test wrote, as runs of consecutive LBAs:
// with Align the writes leave gaps that hold no stamps of this lap.
struct Extent {
  uint32_t first;
  uint32_t end;
};

void addExtent(std::vector<Extent>& extents, uint32_t first, uint32_t end) {
  if (!extents.empty() && extents.back().end == first) {
    extents.back().end = end;
  } else {
    extents.push_back({first, end});
  }
}

}  // namespace

bool WriteByType(MediaTestRun& run, uint32_t ulBlks, uint16_t usWriteType) {
  Context& ctx = run.ctx;
  if (ctx.fgFamilyDrive == 0) {
    PrintError(ctx, "It's not SSD disk");
    return false;
  }
  PrintInfo(ctx, "usWriteType = %x, _fgNCQEnable = %x, ulLBA = %x, ulBlks = %x", usWriteType, ctx._fgNCQEnable,
            ctx.ulCurLba, ulBlks);
  if (!run.writeGuard || !run.writeGuard->allows(ctx.ulCurLba, ulBlks)) {
    PrintError(ctx, "Write of 0x%X blocks at 0x%X refused: outside the range of the test", ulBlks, ctx.ulCurLba);
    return false;
  }
  switch (usWriteType) {
    case kWriteTypePlain:
      return WriteBlocks(ctx, ctx.ulCurLba, ulBlks, 512);
    case kWriteTypeQueued: {
      if (!run.queue || !run.queue->isOpen()) break;
      int slot = run.queue->acquire();
      if (slot == kNoSlot) return false;
      return run.queue->write(slot, ctx.ulCurLba, ulBlks);
    }
    default:
      break;
  }
  PrintError(ctx, "Unknow Write Type");
  return false;
}

bool RandomWriteTest(MediaTestRun& run, uint32_t ulStartLba, uint32_t ulEndLba, uint32_t ulLoop, uint32_t ulBlks,
                     uint16_t usWriteType) {
  Context& ctx = run.ctx;
  const MediaTestParams& p = run.params;
  PrintInfo(ctx, " << Random Write Test >>");
  if (ctx.fgReadVerify == 1) PrintCompletion(ctx, "With Check Sum Test");
  if (ulLoop == 0) return true;
  if (ulStartLba >= ulEndLba) {
    PrintError(ctx, "Invalid parameter. (StartLBA > EndLBA)");
    return false;
  }
  run.progress.setRange(0, 1000);
  const uint64_t end = ulEndLba;
  const uint64_t range = end - ulStartLba;
  uint32_t count = std::max<uint32_t>(ulBlks, 1);
  uint32_t failures = 0;
  for (uint32_t n = 1; n <= ulLoop; ++n) {
    uint64_t lba = ulStartLba + scaledDraw(run.random.next(), range);
    if (p.fgRndBlks) count = randomBlockCount(run.random, ulBlks);
    // Rounded up in 64 bits: near the top of the range the start may pass
    // ELBA (or 0xFFFFFFFF), and then nothing is written rather than blocks
    // outside the range (or at LBA 0).
    lba = roundUpTo(roundUpTo(lba, count), p.ulAlign);
    if (lba >= end) {
      ++run.stats.writesSkipped;
      PrintMessage(ctx, " %s, Blocks 0x%2X lies beyond ELBA: not written", lbaText(lba).c_str(), count);
      continue;
    }
    uint32_t blocks = static_cast<uint32_t>(std::min<uint64_t>(count, end - lba));
    uint32_t current = static_cast<uint32_t>(lba);
    ctx.ulCurLba = current;
    PrintHighlight(ctx, " %s, Blocks 0x%2X", lbaText(lba).c_str(), blocks);
    if (run.stopRequested()) return false;
    if (!writeWithRetry(run, current, blocks, usWriteType)) {
      ++run.stats.writeErrors;
      PrintError(ctx, "Write Failed 0x%X", current);
      if (failures + 1 > p.ulMaxErr) PrintError(ctx, "Too many error");
      run.fgTestFail = true;
      return false;
    }
    if (ctx.fgReadVerify == 1 && !CompareCheckSum(run, blocks, current, current + blocks)) {
      PrintError(ctx, "0x%X Check Sum Failed", current);
      PrintError(ctx, "Too many error");
      run.fgTestFail = true;
      return false;
    }
    if (n % 16 == 0) run.progress.setPosition(static_cast<int>(uint64_t{n} * 1000 / ulLoop));
  }
  return true;
}

bool SeqWriteRandRangeTest(MediaTestRun& run, uint32_t ulStartLba, uint32_t ulEndLba, uint32_t ulLoop,
                           uint32_t ulBlks, uint16_t usWriteType) {
  Context& ctx = run.ctx;
  const MediaTestParams& p = run.params;
  PrintInfo(ctx, " << Sequtial Write in Rand Range Test >>");
  RangeWrites writes(run);
  QueuedTransfers queue(ctx, writes);
  if (ctx._fgNCQEnable == 1) {
    if (!queue.open()) {
      PrintMessage(ctx, "Init NCQ fail");
      return false;
    }
    usWriteType = kWriteTypeQueued;
    run.queue = &queue;
  }
  struct QueueRelease {
    MediaTestRun& run;
    ~QueueRelease() { run.queue = nullptr; }
  } release{run};
  if (!CheckTestRange(ctx, ulStartLba, ulEndLba, ulBlks)) return false;
  run.progress.setRange(0, 1000);
  const uint64_t end = ulEndLba;
  std::vector<Extent> extents;
  extents.reserve(64);
  for (uint32_t lap = 1; lap <= ulLoop && !writes.failed && !run.stopRequested(); ++lap) {
    if (ulLoop > 1) PrintHighlight(ctx, "[Lap %3d/%3d]", static_cast<int>(lap), static_cast<int>(ulLoop));
    uint32_t r1 = run.random.next();
    uint32_t r2 = run.random.next();
    const uint64_t range = end - ulStartLba;
    const uint64_t first = ulStartLba + scaledDraw(r1, range) % range;
    const uint64_t last = first + scaledDraw(r2, end - first) % (end - first);
    uint64_t cur = first;
    uint32_t count = ulBlks;
    extents.clear();
    for (;;) {
      if (p.fgRndBlks) count = randomBlockCount(run.random, ulBlks);
      cur = roundUpTo(cur, p.ulAlign);
      if (cur >= last) break;
      if (cur + count >= last) count = static_cast<uint32_t>(last - cur);
      if (run.stopRequested()) {
        writes.failed = true;
        break;
      }
      uint32_t lba = static_cast<uint32_t>(cur);
      uint32_t reported = run.stats.writeErrors;
      if (!writeWithRetry(run, lba, count, usWriteType)) {
        // A queued write refused at once has been reported with its completion.
        if (run.stopRequested()) {
          writes.failed = true;
        } else if (run.stats.writeErrors == reported) {
          writes.writeFailed(lba);
        }
      }
      addExtent(extents, lba, lba + count);
      cur += count;
    }
    if (ctx.fgReadVerify == 1 && !run.stopRequested()) {
      // What was written is read back only once it has landed.
      queue.drain();
      if (extents.empty() && first == last) addExtent(extents, static_cast<uint32_t>(first), static_cast<uint32_t>(last));
      for (const Extent& e : extents) {
        if (!CompareCheckSum(run, ulBlks, e.first, e.end)) writes.failed = true;
      }
    }
    run.progress.setPosition(static_cast<int>(uint64_t{lap} * 1000 / ulLoop));
  }
  queue.close();
  if (writes.failed) run.fgTestFail = true;
  return !writes.failed && !run.stopRequested();
}

}  // namespace zorv
