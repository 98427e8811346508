#pragma once
// The reference 1X rate of the sequential read's "X" column, per model
// class, in the unit of the rate figure the test prints (which counts 2 per
// 512-byte block moved, so the figure is four times the KiB per second).
//
// 1X is the payload rate of the drive class's interface:
//   class 0 (SATA 3 Gb/s generation): 300,000 KiB/s -> figure 1,200,000
//   class 1 (SATA 6 Gb/s generation): 600,000 KiB/s -> figure 2,400,000
// so the X figure says how much of its link a drive fills. A drive outside
// the known models counts as class 0.

#include <cstdint>

namespace zorv {

constexpr double kReferenceRateClass0 = 1'200'000.0;
constexpr double kReferenceRateClass1 = 2'400'000.0;

constexpr double referenceRate(uint16_t modelClass) {
  return modelClass == 1 ? kReferenceRateClass1 : kReferenceRateClass0;
}

}  // namespace zorv
