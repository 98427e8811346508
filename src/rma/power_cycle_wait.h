#pragma once
// The wait for the operator's power cycle, one step per timer tick: first
// the drive under test has to go (its removal seen by a rescan or reported by
// hot plug in between), then a drive has to come back in its place, all
// within the time allowed.

#include <cstdint>
#include <string>

namespace zorv::rma {

enum class PowerCycleState : uint8_t {
  WaitingForRemoval = 0,
  RemovalSeen = 1,
  DriveBack = 2,
};

enum class WaitStep : uint8_t {
  Waiting,   // one second less; show timeLeftText()
  TimedOut,  // the time ran out
  Back,      // removal seen, and a drive is back in the place of the drive under test
};

class PowerCycleWait {
 public:
  PowerCycleWait() = default;
  explicit PowerCycleWait(uint32_t seconds) : remaining_(seconds) {}

  // One tick. present: the rescan found a drive in the place of the drive
  // under test; removalReported: hot plug reported its removal since the
  // last tick (it may have come back before this rescan).
  WaitStep tick(bool present, bool removalReported);

  PowerCycleState state() const { return state_; }
  uint32_t remainingSeconds() const { return remaining_; }
  // "Time Left: %d min, %d sec\r\n".
  std::string timeLeftText() const;

 private:
  PowerCycleState state_ = PowerCycleState::WaitingForRemoval;
  uint32_t remaining_ = 0;
};

}  // namespace zorv::rma
