#pragma once
// The write tests' answer to a failed write: ask the drive for its sense
// data and send the same write again while the drive says it is busy
// (NOT READY, operation in progress: 2/04h/04h or 2/04h/08h), also when
// REQUEST SENSE itself fails without an answer (a time-out); any other
// failure stands, and so does one where the drive is gone or cannot be
// reached, or refuses REQUEST SENSE with sense data that says no such thing.
//
// Bounded: a drive that stays busy for the long time-out (usTimeoutLong
// seconds) from the first attempt has failed the write, and the stop flag
// ends the retries; a short pause before each retry lets the drive get on
// with what keeps it busy.

#include <array>
#include <chrono>
#include <cstdint>

#include "transport/context.h"

namespace zorv {

constexpr std::chrono::milliseconds kWriteRetryPause{10};

// Sense key 2, additional sense code 04h, qualifier 04h or 08h.
bool isOperationInProgress(const std::array<uint8_t, kSenseLength>& sense);

// Called after a write failed (LastSense holds what the failed command
// returned). True when the same write is to be sent again.
bool shouldRetryWrite(Context& ctx, Clock::TimePoint firstAttempt);

}  // namespace zorv
