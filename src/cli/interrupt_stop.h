#pragma once
// Ctrl-C as a long command's stop flag: while an InterruptIsStop lives, SIGINT
// raises the flag it was handed instead of ending zorvctl, so the operation
// ends itself (and says so) as its window's stop would.

#include <csignal>

#include <atomic>
#include <cstdint>

namespace zorv::cli {

namespace interrupt_detail {
inline std::atomic<uint8_t>* stopFlag = nullptr;
extern "C" inline void onInterrupt(int) {
  if (stopFlag) stopFlag->store(1);
}
}  // namespace interrupt_detail

class InterruptIsStop {
 public:
  explicit InterruptIsStop(std::atomic<uint8_t>& stop) {
    interrupt_detail::stopFlag = &stop;
    struct sigaction sa {};
    sa.sa_handler = interrupt_detail::onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &previous_);
  }
  ~InterruptIsStop() {
    sigaction(SIGINT, &previous_, nullptr);
    interrupt_detail::stopFlag = nullptr;
  }
  InterruptIsStop(const InterruptIsStop&) = delete;
  InterruptIsStop& operator=(const InterruptIsStop&) = delete;

 private:
  struct sigaction previous_ {};
};

}  // namespace zorv::cli
