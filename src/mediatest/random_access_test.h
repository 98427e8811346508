#pragma once
// The random access test (test code 3321h): ulLoop reads of ulBlks blocks (or
// a random count) at random LBAs of [ulStartLba, ulEndLba), each timed;
// maximum, minimum and average access time against the "MaxTime" and
// "AvgTime" limits of run.params, over-time reads against "MaxErr", and
// with "Verify" the stamps of the data read.

#include <cstdint>
#include <string_view>

#include "mediatest/media_test_run.h"

namespace zorv {

inline constexpr std::string_view kRandomAccessTitle = "Random Access";

// True unless the test failed (a read failed, too many slow reads, a stamp
// mismatch, the average over its limit, the stop flag).
bool RandomAccessTest(MediaTestRun& run, uint32_t ulStartLba, uint32_t ulLoop, uint32_t ulBlks, std::string_view title,
                      uint32_t ulEndLba);

}  // namespace zorv
