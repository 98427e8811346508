#include "mediatest/write_retry.h"

#include "transport/scsi_command.h"

namespace zorv {

bool isOperationInProgress(const std::array<uint8_t, kSenseLength>& sense) {
  return (sense[2] & 0x0F) == 0x02 && sense[12] == 0x04 && (sense[13] == 0x04 || sense[13] == 0x08);
}

namespace {

// The last command never reached a drive that could answer later.
bool unreachable(const Context& ctx) {
  const CommandOutcome& o = ctx.lastOutcome;
  if (o.failure == CommandFailure::NotSent) return true;
  if (o.failure != CommandFailure::Io) return false;
  return o.io.error == IoError::NoDevice || o.io.error == IoError::PermissionDenied ||
         o.io.error == IoError::NotSupported;
}

}  // namespace

bool shouldRetryWrite(Context& ctx, Clock::TimePoint firstAttempt) {
  if (ctx.fgStopRequest) return false;
  if (ctx.clock->now() - firstAttempt >= std::chrono::seconds(ctx.usTimeoutLong)) return false;
  // A drive that is gone, or a request that cannot reach it, stays so:
  // asking again only hammers it until the long time-out has passed.
  if (unreachable(ctx)) return false;
  // REQUEST SENSE replies into SectorBuffer; LastSense keeps the sense data
  // of the failed write, or takes REQUEST SENSE's own when the drive refused
  // that too.
  bool senseRead = RequestSense(ctx);
  const bool answered = senseRead || ctx.lastOutcome.failure == CommandFailure::ScsiStatus;
  if (answered && !isOperationInProgress(ctx.LastSense)) return false;
  // No answer at all (a time-out, a busy bus): the drive may still be busy.
  if (!answered && unreachable(ctx)) return false;
  ctx.clock->sleepFor(kWriteRetryPause);
  return !ctx.fgStopRequest;
}

}  // namespace zorv
