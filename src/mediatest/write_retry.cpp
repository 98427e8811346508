#include "mediatest/write_retry.h"

#include "transport/scsi_command.h"

namespace zorv {

bool isOperationInProgress(const std::array<uint8_t, kSenseLength>& sense) {
  return (sense[2] & 0x0F) == 0x02 && sense[12] == 0x04 && (sense[13] == 0x04 || sense[13] == 0x08);
}

bool shouldRetryWrite(Context& ctx, Clock::TimePoint firstAttempt) {
  if (ctx.fgStopRequest) return false;
  if (ctx.clock->now() - firstAttempt >= std::chrono::seconds(ctx.usTimeoutLong)) return false;
  // REQUEST SENSE replies into SectorBuffer; LastSense keeps the sense data
  // of the failed write unless REQUEST SENSE fails as well.
  bool senseRead = RequestSense(ctx);
  if (senseRead && !isOperationInProgress(ctx.LastSense)) return false;
  ctx.clock->sleepFor(kWriteRetryPause);
  return !ctx.fgStopRequest;
}

}  // namespace zorv
