#include "mediatest/seq_read_test.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "mediatest/queued_transfers.h"
#include "transport/block_stamp.h"
#include "transport/scsi_command.h"

namespace zorv {

namespace {

class SeqRead : public TransferCompletion {
 public:
  explicit SeqRead(MediaTestRun& run) : run_(run), ctx_(run.ctx) {}

  // A read that failed still counts as transferred; the test fails when
  // the failures pass MaxErr.
  void readFailed(uint32_t lba) {
    ++errors_;
    ++run_.stats.readErrors;
    if (!run_.stopRequested()) PrintError(ctx_, "Read Failed! 0x%X. ErrCnt %d", lba, static_cast<int>(errors_));
    if (errors_ > run_.params.ulMaxErr) run_.fgTestFail = true;
  }

  // Queued reads complete after the command that issued them: their status
  // and, with "Verify", their block stamps are checked here, as the
  // transport checks a plain read.
  bool transferDone(int slot, const QueuedTransfer& t, bool ok) override {
    if (ok && ctx_.fgReadVerify == 1) {
      std::string error = CheckStampedBlocks(ctx_, ctx_.slots[static_cast<size_t>(slot)].buffer.data(), t.lba, t.count);
      if (!error.empty()) {
        ctx_.ui->messageBox(formatText("Error LBA 0x%8X, %s", t.lba, error.c_str()), BoxIcon::Information);
        ok = false;
      }
    }
    if (!ok) readFailed(t.lba);
    return false;
  }

  uint32_t errors() const { return errors_; }

 private:
  MediaTestRun& run_;
  Context& ctx_;
  uint32_t errors_ = 0;
};

void printGroupLine(MediaTestRun& run, uint64_t lba, double rate, double previous) {
  Context& ctx = run.ctx;
  std::string lbaText = formatText("0x%8llX", static_cast<unsigned long long>(lba));
  // The LBA in decimal is printed unsigned: above 2^31 it stays a position.
  const char* format = "%s(%6.llu), %6.1f KB/Sec,  %3.1fX, %3.1frpm";
  double x = rate / run.referenceRate;
  unsigned long long decimal = static_cast<unsigned long long>(lba);
  if (rate < previous) {
    PrintError(ctx, format, lbaText.c_str(), decimal, rate, x, 0.0);
  } else if (run.stats.groups % 5 == 0) {
    PrintHighlight(ctx, format, lbaText.c_str(), decimal, rate, x, 0.0);
  } else {
    PrintMessage(ctx, format, lbaText.c_str(), decimal, rate, x, 0.0);
  }
}

void showProgress(MediaTestRun& run, uint32_t lap, uint32_t laps, uint64_t done, uint64_t range) {
  if (laps == 0 || range == 0) return;
  double share = (static_cast<double>(lap - 1) + static_cast<double>(done) / static_cast<double>(range)) / laps;
  run.progress.setPosition(static_cast<int>(share * 1000.0));
}

}  // namespace

bool SeqReadTest(MediaTestRun& run, uint32_t ulStartLba, uint32_t ulEndLba, uint32_t ulBlks, uint32_t ulLoop,
                 uint32_t ulLength) {
  Context& ctx = run.ctx;
  SeqRead reads(run);
  QueuedTransfers queue(ctx, reads);
  bool queued = ctx._fgNCQEnable == 1;
  if (queued && !queue.open()) {
    run.fgTestFail = true;
    return false;
  }

  PrintMessage(ctx, "--->       Sequential Read       <---");
  run.fgTestFail = false;
  run.stats.rateSum = 0.0;
  run.stats.groups = 0;
  if (!CheckTestRange(ctx, ulStartLba, ulEndLba, ulBlks)) return false;
  run.progress.setRange(0, 1000);

  // The current LBA is kept in 64 bits: rounding up to Align near the top
  // of the 32-bit range ends the lap instead of wrapping to LBA 0.
  const uint64_t end = ulEndLba;
  auto stopped = [&] { return run.stopRequested(); };
  // Transfers still in flight belong to the device until collected: every
  // way out closes the queue.
  auto failed = [&] {
    queue.close();
    return false;
  };
  for (uint32_t lap = 1; lap <= ulLoop; ++lap) {
    double previous = 0.0;
    uint64_t cur = ulStartLba;
    ctx.ulCurLba = ulStartLba;
    if (ulLoop >= 2) PrintHighlight(ctx, "[Lap %3d/%3d]", static_cast<int>(lap), static_cast<int>(ulLoop));
    do {
      uint64_t sectors = 0;
      Clock::TimePoint t0 = ctx.clock->now();
      for (uint32_t i = 0; i < ulLength; ++i) {
        uint32_t count = run.blockCount(ulBlks);
        if (cur + count > end) count = static_cast<uint32_t>(end - cur);
        uint32_t lba = static_cast<uint32_t>(cur);
        ++run.stats.reads;
        if (queued) {
          int slot = queue.acquire();
          if (slot == kNoSlot) {
            if (!stopped()) reads.readFailed(lba);
          } else {
            queue.read(slot, lba, count);
          }
        } else if (!ReadBlocks(ctx, lba, count, false)) {
          reads.readFailed(lba);
        }
        if (run.fgTestFail) return failed();
        if (stopped()) return failed();
        sectors += count;
        run.stats.blocksRead += count;
        cur = roundUpTo(cur + count, run.params.ulAlign);
        ctx.ulCurLba = static_cast<uint32_t>(cur < end ? cur : end);
        if (cur >= end) break;
      }
      double seconds = std::chrono::duration<double>(ctx.clock->now() - t0).count();
      // No measurable time (a clock that did not move) gives a rate of 0.
      double rate = seconds > 0.0 ? 2.0 * static_cast<double>(sectors) / seconds : 0.0;
      printGroupLine(run, cur, rate, previous);
      previous = rate;
      run.stats.rateSum += rate;
      run.stats.lastRate = rate;
      ++run.stats.groups;
      showProgress(run, lap, ulLoop, std::min(cur, end) - ulStartLba, end - ulStartLba);
      if (cur < end && stopped()) return failed();
    } while (cur < end);
    run.stats.averageRate = run.stats.rateSum / run.stats.groups;
    PrintMessage(ctx, "Average Xfer Rate %5.1f KB/Sec,  %3.1fX", run.stats.averageRate,
                 run.stats.averageRate / run.referenceRate);
    if (stopped()) return failed();
  }

  // Every queued read is checked before the verdict on the check sums.
  queue.drain();
  if (ctx.fgReadVerify == 1) {
    if (reads.errors() == 0) {
      PrintMessage(ctx, "Compare Check Sum Pass");
    } else {
      PrintError(ctx, "Compare Check Sum Failed");
    }
  }
  if (run.fgTestFail || stopped()) return failed();
  queue.close();
  return true;
}

}  // namespace zorv
