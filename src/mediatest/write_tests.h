#pragma once
// The write tests: WriteByType (one write at ulCurLba, plain or queued), the
// random write test (test code 3650h) and the sequential write inside a
// random range (test code 3640h). Every block written carries its stamp;
// with "Verify" what was written is read back by CompareCheckSum. Writes
// pass run.writeGuard: nothing is written outside [SLBA, ELBA).

#include <cstdint>

#include "mediatest/media_test_run.h"

namespace zorv {

// Writes ulBlks blocks at ctx.ulCurLba: write type 0 a plain WRITE(10) from
// SectorBuffer (stamped by the caller), 3 a queued WRITE(10) on run.queue
// (the slot buffer is stamped by QueueWrite). Prints its write-type line on
// every call.
bool WriteByType(MediaTestRun& run, uint32_t ulBlks, uint16_t usWriteType);

bool RandomWriteTest(MediaTestRun& run, uint32_t ulStartLba, uint32_t ulEndLba, uint32_t ulLoop, uint32_t ulBlks,
                     uint16_t usWriteType);

bool SeqWriteRandRangeTest(MediaTestRun& run, uint32_t ulStartLba, uint32_t ulEndLba, uint32_t ulLoop,
                           uint32_t ulBlks, uint16_t usWriteType);

}  // namespace zorv
