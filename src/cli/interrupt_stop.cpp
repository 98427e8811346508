#include "cli/interrupt_stop.h"

namespace zorv::cli {

namespace {

std::atomic<uint8_t>* gStopFlag = nullptr;

extern "C" void onInterrupt(int) {
  if (gStopFlag) gStopFlag->store(1);
}

}  // namespace

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

}  // namespace zorv::cli
