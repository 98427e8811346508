#include "workload/boundaries.h"

#include <algorithm>
#include <cmath>

namespace zorv {

namespace {

uint64_t shareOf(uint64_t sectors, double percent) {
  long double share = std::floor(static_cast<long double>(sectors) * static_cast<long double>(percent) / 100.0L);
  return std::min<uint64_t>(static_cast<uint64_t>(share), sectors);
}

}  // namespace

Boundaries computeBoundaries(uint64_t sectors, double p1, double p2) {
  p1 = std::clamp(p1, 0.0, 100.0);
  p2 = std::clamp(p2, 0.0, 100.0 - p1);
  const uint64_t share1 = shareOf(sectors, p1);
  uint64_t share2 = std::min(shareOf(sectors, p2), sectors - share1);
  uint64_t remainder = sectors - share1 - share2;
  // Under 1 % of the drive: remainder x 100 < sectors, without the product.
  if (sectors > 0 && remainder <= (sectors - 1) / 100) {
    remainder = 0;
    share2 = sectors - share1;
  }
  return {remainder, remainder + share1, remainder + share1 + share2};
}

}  // namespace zorv
