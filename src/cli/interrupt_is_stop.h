#pragma once
// Ctrl-C raises a stop flag for as long as this object lives; the running
// operation ends itself at its next check. The previous handler comes back
// afterwards.

#include <atomic>
#include <csignal>
#include <cstdint>

namespace zorv::cli {

class InterruptIsStop {
 public:
  explicit InterruptIsStop(std::atomic<uint8_t>& stop) {
    flag() = &stop;
    struct sigaction sa {};
    sa.sa_handler = &InterruptIsStop::onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &previous_);
  }
  ~InterruptIsStop() {
    sigaction(SIGINT, &previous_, nullptr);
    flag() = nullptr;
  }
  InterruptIsStop(const InterruptIsStop&) = delete;
  InterruptIsStop& operator=(const InterruptIsStop&) = delete;

 private:
  static std::atomic<uint8_t>*& flag() {
    static std::atomic<uint8_t>* stop = nullptr;
    return stop;
  }
  static void onInterrupt(int) {
    if (std::atomic<uint8_t>* stop = flag()) stop->store(1);
  }

  struct sigaction previous_ {};
};

}  // namespace zorv::cli
