#pragma once
// The three boundaries of a drive split by two percentages: share1 = C x p1
// / 100 and share2 = C x p2 / 100 of the C sectors, the remainder before
// them. A remainder under 1 % of C is not worth an area of its own: it
// becomes 0 and the second share takes the rest. The boundaries are
// remainder, remainder + share1 and remainder + share1 + share2 (never
// beyond C).
//
// The mixed workload uses them as reserve / sequential / random areas (p1
// the sequential, p2 the random percentage); the client workload as its
// three address groups (p1, p2 the LBA-space shares of its second and third
// "Gap" lines).

#include <cstdint>

namespace zorv {

struct Boundaries {
  uint64_t first = 0;   // end of the remainder area: "Rsv Boundary", "Grp1 Boundary"
  uint64_t second = 0;  // "Seq Boundary", "Grp2 Boundary"
  uint64_t third = 0;   // "Rdn Boundary", "Total LBA"
};

// p1 and p2 in percent (fractions allowed); each is taken within [0, 100]
// and p2 within [0, 100 - p1].
Boundaries computeBoundaries(uint64_t sectors, double p1, double p2);

}  // namespace zorv
