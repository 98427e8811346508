#include "mediatest/random_access_test.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <string>

#include "mediatest/queued_transfers.h"
#include "transport/block_stamp.h"
#include "transport/scsi_command.h"

namespace zorv {

namespace {

std::string lbaText(uint32_t lba) { return formatText("0x%8X", lba); }

class RandomAccess : public TransferCompletion {
 public:
  explicit RandomAccess(MediaTestRun& run) : run_(run), ctx_(run.ctx) {}

  // One read done: its time against the limits, its data against the stamps.
  void account(uint32_t n, uint32_t previousLba, uint32_t lba, uint32_t count, double ms, const uint8_t* data) {
    MediaTestStats& s = run_.stats;
    ++s.accessReads;
    sumMs_ += ms;
    s.maxMs = std::max(s.maxMs, ms);
    s.minMs = std::min(s.minMs, ms);
    const MediaTestParams& p = run_.params;
    if (p.ulMaxTime != 0 && ms > p.ulMaxTime) {
      ++s.overTime;
      std::string prev = lbaText(previousLba), cur = lbaText(lba);
      if (n % 2 == 0) {
        PrintError(ctx_, "%3d %s -> %s %4.1fms %s", static_cast<int>(n), prev.c_str(), cur.c_str(), ms, "");
      } else {
        PrintError(ctx_, "%3d %s <- %s %4.1fms %s", static_cast<int>(n), cur.c_str(), prev.c_str(), ms, "");
      }
    }
    if (s.overTime > p.ulMaxErr) {
      PrintError(ctx_, "Too many error");
      failed = true;
      return;
    }
    if (ctx_.fgReadVerify == 1) {
      std::string error = CheckStampedBlocks(ctx_, data, lba, count);
      if (!error.empty()) {
        PrintError(ctx_, "%s", error.c_str());
        ++s.readErrors;
        failed = true;
      }
    }
  }

  void readFailed() {
    PrintError(ctx_, "Read 10 Failed!");
    ++run_.stats.readErrors;
    failed = true;
  }

  // A queued read's time runs from its submission to the collection of its
  // completion; its data are checked in the slot's buffer.
  bool transferDone(int slot, const QueuedTransfer& t, bool ok) override {
    if (failed) return false;  // the test has ended; late completions are only collected
    if (!ok) {
      readFailed();
      return false;
    }
    const Note& note = notes_[static_cast<size_t>(slot)];
    double ms = std::chrono::duration<double, std::milli>(ctx_.clock->now() - t.submitted).count();
    account(note.n, note.previousLba, t.lba, t.count, ms, ctx_.slots[static_cast<size_t>(slot)].buffer.data());
    return false;
  }

  void noteQueued(int slot, uint32_t n, uint32_t previousLba) { notes_[static_cast<size_t>(slot)] = {n, previousLba}; }
  double sumMs() const { return sumMs_; }

  bool failed = false;

 private:
  struct Note {
    uint32_t n = 0;
    uint32_t previousLba = 0;
  };
  MediaTestRun& run_;
  Context& ctx_;
  std::array<Note, kQueueSlots> notes_{};
  double sumMs_ = 0.0;
};

}  // namespace

bool RandomAccessTest(MediaTestRun& run, uint32_t ulStartLba, uint32_t ulLoop, uint32_t ulBlks, std::string_view title,
                      uint32_t ulEndLba) {
  Context& ctx = run.ctx;
  const MediaTestParams& p = run.params;
  std::string titleText(title);
  if (p.ulAvgTime != 0) {
    PrintHighlight(ctx, "---->   %s    <---- Spec Max Time %dms, Avg Time %dms", titleText.c_str(),
                   static_cast<int>(p.ulMaxTime), static_cast<int>(p.ulAvgTime));
  } else {
    PrintHighlight(ctx, "---->   %s    <---- Spec Max Time %dms", titleText.c_str(), static_cast<int>(p.ulMaxTime));
  }
  // Without a range there is nothing to draw from.
  if (ulStartLba >= ulEndLba) {
    PrintError(ctx, "Invalid parameter. (StartLBA > EndLBA)");
    run.fgTestFail = true;
    return false;
  }
  const uint64_t range = uint64_t{ulEndLba} - ulStartLba;
  ctx.ulCurLba = 0;
  RandomAccess reads(run);
  QueuedTransfers queue(ctx, reads);
  bool queued = ctx._fgNCQEnable == 1;
  if (queued && !queue.open()) reads.failed = true;
  uint32_t previousLba = static_cast<uint32_t>(ulStartLba + scaledDraw(run.random.next(), range));
  run.fgTestFail = false;
  run.progress.setRange(0, 1000);

  for (uint32_t n = 1; n <= ulLoop && !reads.failed; ++n) {
    uint32_t count = 0;
    uint64_t lba = 0;
    // LBA 0 is never read, and a start rounded up to Align beyond the range
    // is drawn again too (the parameters guarantee that one LBA fits).
    do {
      count = run.blockCount(ulBlks);
      if (run.stopRequested()) break;
      lba = roundUpTo(ulStartLba + scaledDraw(run.random.next(), range), p.ulAlign);
    } while (lba == 0 || lba >= ulEndLba);
    if (run.stopRequested()) {
      reads.failed = true;
      break;
    }
    count = static_cast<uint32_t>(std::min<uint64_t>(count, ulEndLba - lba));
    uint32_t current = static_cast<uint32_t>(lba);
    ctx.ulCurLba = current;
    ++run.stats.reads;
    run.stats.blocksRead += count;
    if (queued) {
      int slot = queue.acquire();
      if (slot == kNoSlot) {
        if (!run.stopRequested()) reads.readFailed();
        reads.failed = true;
        break;
      }
      reads.noteQueued(slot, n, previousLba);
      queue.read(slot, current, count);
    } else {
      Clock::TimePoint t0 = ctx.clock->now();
      bool ok = ReadBlocks(ctx, current, count, false);
      double ms = std::chrono::duration<double, std::milli>(ctx.clock->now() - t0).count();
      if (!ok) {
        reads.readFailed();
        break;
      }
      reads.account(n, previousLba, current, count, ms, ctx.SectorBuffer.data());
    }
    previousLba = current;
    if (n % 64 == 0) run.progress.setPosition(static_cast<int>(uint64_t{n} * 1000 / ulLoop));
  }
  queue.drain();
  if (run.stopRequested()) reads.failed = true;
  if (reads.failed) run.fgTestFail = true;
  queue.close();

  MediaTestStats& s = run.stats;
  // The average over no read at all is shown as 0.0.
  s.averageMs = s.accessReads ? reads.sumMs() / s.accessReads : 0.0;
  if (p.ulAvgTime != 0 && s.averageMs > p.ulAvgTime) {
    PrintError(ctx, " Avg is %3.1fms > %d", s.averageMs, static_cast<int>(p.ulAvgTime));
    run.fgTestFail = true;
  } else {
    PrintHighlight(ctx, " Avg is %3.1fms", s.averageMs);
  }
  PrintHighlight(ctx, " Max %3.1fms, Min %3.1fms", s.maxMs, s.minMs);
  PrintHighlight(ctx, " Error count : %d, Max error : %d", static_cast<int>(s.overTime), static_cast<int>(p.ulMaxErr));
  return !run.fgTestFail;
}

}  // namespace zorv
