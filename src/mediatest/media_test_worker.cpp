#include "mediatest/media_test_worker.h"

#include <chrono>
#include <ctime>

#include "mediatest/random_access_test.h"
#include "mediatest/reference_rate.h"
#include "mediatest/seq_read_test.h"
#include "mediatest/write_tests.h"

namespace zorv {

namespace {

uint32_t secondsNow(Clock& clock) {
  std::tm now = clock.localTime();
  return static_cast<uint32_t>(std::mktime(&now));
}

bool runTest(MediaTestRun& run) {
  const MediaTestParams& p = run.params;
  switch (p.usOpCode) {
    case kOpSeqRead:
      return SeqReadTest(run, p.ulStartLba, p.ulEndLba, p.ulBlks, p.ulLoop, p.ulLength);
    case kOpRandomAccess:
      return RandomAccessTest(run, p.ulStartLba, p.ulLoop, p.ulBlks, kRandomAccessTitle, p.ulEndLba);
    case kOpSeqWrite:
      return SeqWriteRandRangeTest(run, p.ulStartLba, p.ulEndLba, p.ulLoop, p.ulBlks, p.usWriteType);
    case kOpRandomWrite:
      return RandomWriteTest(run, p.ulStartLba, p.ulEndLba, p.ulLoop, p.ulBlks, p.usWriteType);
    default:
      return false;
  }
}

}  // namespace

MediaTestResult MediaTestWorker(Context& parent, const MediaTestJob& job) {
  MediaTestResult result;
  std::atomic<uint8_t>& stop = job.stop ? *job.stop : parent.fgStopRequest;
  MessageSink& sink = job.messages ? *job.messages : parent.messagePane();
  NullProgress noProgress;
  ProgressSink& progress = job.progress ? *job.progress : noProgress;
  const MediaTestParams& p = job.params;

  Context ctx(parent, job.drive, sink, stop);
  ctx.usOpCode = p.usOpCode;
  ctx.fgReadVerify = p.fgReadVerify;
  ctx._fgNCQEnable = p._fgNCQEnable;
  ctx.fgFamilyDrive = isFamilyDrive(ctx, job.drive) ? 1 : 0;

  result.refusal = mediaTestRefusal(p, job.drive.sectorCount());
  if (result.refusal.empty() && isWriteTestCode(p.usOpCode))
    result.refusal = rawWriteRefusal(ctx, job.drive, p.ulStartLba, p.ulEndLba, job.permission);
  if (!result.refusal.empty()) {
    PrintError(ctx, "%s", result.refusal.c_str());
    AppendMessage(ctx, "\r\n\r\n", sink);
    if (job.releasesBusy) parent.fgBusy = 0;
    return result;
  }

  result.started = true;
  TestRandom random(job.seed ? *job.seed : secondsNow(*ctx.clock));
  MediaTestRun run(ctx, p, random, progress);
  RawWriteGuard guard(p.ulStartLba, p.ulEndLba);
  run.writeGuard = &guard;
  run.referenceRate = referenceRate(job.drive.usModelClass);

  Clock::TimePoint t0 = ctx.clock->now();
  result.testPassed = runTest(run);
  result.seconds = std::chrono::duration<double>(ctx.clock->now() - t0).count();
  result.stats = run.stats;
  result.stopped = ctx.fgStopRequest != 0;

  if (result.stopped) {
    PrintAlert(ctx, "STOP!");
  } else {
    PrintCompletion(ctx, "Test Complete");
    PrintCompletion(ctx, "*************************");
  }
  AppendMessage(ctx, "\r\n\r\n", sink);
  if (job.releasesBusy) parent.fgBusy = 0;
  return result;
}

void AbortMediaTest(Context& parent) {
  PrintAlert(parent, "Abort");
  AppendMessage(parent, "\r\n\r\n", parent.messagePane());
}

}  // namespace zorv
