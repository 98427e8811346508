#pragma once
// The sequential read test (test code 3310h): reads [ulStartLba, ulEndLba)
// in commands of ulBlks blocks (or a random count), ulLength commands per
// measured group, ulLoop laps; one rate line per group and an average per
// lap; fails when more than ulMaxErr reads fail. "RndBlks", "Verify", "NCQ",
// "Align" and "MaxErr" come from run.params.

#include <cstdint>

#include "mediatest/media_test_run.h"

namespace zorv {

// True when every lap completed without failure; false on failure, stop or
// invalid parameters.
bool SeqReadTest(MediaTestRun& run, uint32_t ulStartLba, uint32_t ulEndLba, uint32_t ulBlks, uint32_t ulLoop,
                 uint32_t ulLength);

}  // namespace zorv
