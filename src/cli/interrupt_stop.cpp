#include "cli/interrupt_stop.h"

namespace zorv::cli {

namespace {

std::atomic<uint8_t>* gStopFlag = nullptr;

extern "C" void onInterrupt(int) {
#ifdef _WIN32
  // The Windows C runtime resets the handler before calling it.
  std::signal(SIGINT, onInterrupt);
#endif
  if (gStopFlag) gStopFlag->store(1);
}

}  // namespace

#ifdef _WIN32
// The C runtime turns the console's Ctrl-C into SIGINT.
InterruptIsStop::InterruptIsStop(std::atomic<uint8_t>& stop) {
  gStopFlag = &stop;
  previous_ = std::signal(SIGINT, onInterrupt);
}

InterruptIsStop::~InterruptIsStop() {
  std::signal(SIGINT, previous_ == SIG_ERR ? SIG_DFL : previous_);
  gStopFlag = nullptr;
}
#else
InterruptIsStop::InterruptIsStop(std::atomic<uint8_t>& stop) {
  gStopFlag = &stop;
  struct sigaction sa {};
  sa.sa_handler = onInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &previous_);
}

InterruptIsStop::~InterruptIsStop() {
  sigaction(SIGINT, &previous_, nullptr);
  gStopFlag = nullptr;
}
#endif

}  // namespace zorv::cli
