#include "rma/power_cycle_wait.h"

#include "transport/message.h"

namespace zorv::rma {

WaitStep PowerCycleWait::tick(bool present, bool removalReported) {
  if (state_ == PowerCycleState::DriveBack) return WaitStep::Back;
  if (remaining_ == 0) return WaitStep::TimedOut;
  if (state_ == PowerCycleState::WaitingForRemoval && (!present || removalReported))
    state_ = PowerCycleState::RemovalSeen;
  if (state_ == PowerCycleState::RemovalSeen && present) {
    state_ = PowerCycleState::DriveBack;
    return WaitStep::Back;
  }
  --remaining_;
  return remaining_ == 0 ? WaitStep::TimedOut : WaitStep::Waiting;
}

std::string PowerCycleWait::timeLeftText() const {
  return formatText("Time Left: %d min, %d sec\r\n", static_cast<int>(remaining_ / 60),
                    static_cast<int>(remaining_ % 60));
}

}  // namespace zorv::rma
