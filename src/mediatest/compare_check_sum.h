#pragma once
// "Compare Check Sum": reads [first, end) back in commands of ulBlks blocks
// (or random counts, with bursts of full counts) while the transport checks
// the block stamps of every read ("Verify" on).

#include <cstdint>

#include "mediatest/media_test_run.h"

namespace zorv {

// The burst rule: about one command in 20 starts a burst of 5 commands of
// the full count.
constexpr uint32_t kBurstOdds = 20;
constexpr uint32_t kBurstLength = 5;

bool CompareCheckSum(MediaTestRun& run, uint32_t ulBlks, uint32_t first, uint32_t end);

}  // namespace zorv
