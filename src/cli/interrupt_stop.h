#pragma once
// Ctrl-C during a long zorvctl command: while an InterruptIsStop lives,
// SIGINT raises the given stop flag instead of ending the program, so the
// running operation ends itself between two commands as the window's stop
// would end it. The previous handler comes back with its end.

#include <atomic>
#include <csignal>
#include <cstdint>

namespace zorv::cli {

class InterruptIsStop {
 public:
  explicit InterruptIsStop(std::atomic<uint8_t>& stop);
  ~InterruptIsStop();
  InterruptIsStop(const InterruptIsStop&) = delete;
  InterruptIsStop& operator=(const InterruptIsStop&) = delete;

 private:
#ifdef _WIN32
  void (*previous_)(int) = SIG_DFL;
#else
  struct sigaction previous_ {};
#endif
};

}  // namespace zorv::cli
