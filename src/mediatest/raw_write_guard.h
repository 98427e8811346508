#pragma once
// The one gate every raw sector write of the tool passes. Before a run: the
// drive is of the family, holds no mounted file system, is not held by
// another program, the range lies on the drive, and on a real device the
// user has given explicit consent. During the run: every command stays
// inside the range the user gave (64-bit arithmetic, no wrap).

#include <cstdint>
#include <string>

#include "discovery/volumes.h"
#include "transport/context.h"

namespace zorv {

struct RawWritePermission {
  // Where the drive's mounted volumes come from (the bay's "mountinfo" for
  // the simulated bay, /proc/self/mountinfo on Linux).
  VolumeMap volumes;
  // The user's explicit consent to destroy data (zorvctl --confirm-data-loss);
  // the simulated bay needs none.
  bool userConsent = false;
};

// A drive of the family: its model begins with an accepted brand word. The
// "Skip Model Name Check" switch lets other drives into the table for
// reading, never for raw writes.
bool isFamilyDrive(const Context& ctx, const DriveEntry& drive);

// Why drive may not be written raw in [first, end); empty when it may.
// Asks the backend whether the drive can be opened exclusively (it cannot
// while mounted or held by another program).
std::string rawWriteRefusal(Context& ctx, const DriveEntry& drive, uint64_t first, uint64_t end,
                            const RawWritePermission& permission);

class RawWriteGuard {
 public:
  RawWriteGuard(uint64_t first, uint64_t end) : first_(first), end_(end) {}
  // Whether count blocks at lba lie inside [first, end).
  bool allows(uint64_t lba, uint64_t count) const { return lba >= first_ && lba < end_ && count <= end_ - lba; }
  uint64_t first() const { return first_; }
  uint64_t end() const { return end_; }

 private:
  uint64_t first_;
  uint64_t end_;
};

}  // namespace zorv
