#include "transport/clock.h"

#include <thread>

namespace zorv {

namespace {

// The thread-safe calendar conversions have other names in the Windows C
// runtime (and the argument order of *_s is reversed).
void toLocal(std::time_t t, std::tm& out) {
#ifdef _WIN32
  localtime_s(&out, &t);
#else
  localtime_r(&t, &out);
#endif
}

void toUtc(std::time_t t, std::tm& out) {
#ifdef _WIN32
  gmtime_s(&out, &t);
#else
  gmtime_r(&t, &out);
#endif
}

std::time_t fromUtc(std::tm& t) {
#ifdef _WIN32
  return _mkgmtime(&t);
#else
  return timegm(&t);
#endif
}

}  // namespace

Clock::TimePoint SystemClock::now() { return std::chrono::steady_clock::now(); }

void SystemClock::sleepFor(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

std::tm SystemClock::localTime() {
  std::time_t t = std::time(nullptr);
  std::tm out{};
  toLocal(t, out);
  return out;
}

std::tm SystemClock::utcTime() {
  std::time_t t = std::time(nullptr);
  std::tm out{};
  toUtc(t, out);
  return out;
}

std::tm ManualClock::defaultStart() {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;  // December
  t.tm_mday = 10;
  t.tm_hour = 9;
  t.tm_min = 30;
  t.tm_sec = 15;
  return t;
}

ManualClock::ManualClock(std::tm start) { wallStart_ = fromUtc(start); }

std::tm ManualClock::localTime() {
  auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now_.time_since_epoch()).count();
  std::time_t t = wallStart_ + static_cast<std::time_t>(elapsed);
  std::tm out{};
  toUtc(t, out);
  return out;
}

void ManualClock::advance(std::chrono::steady_clock::duration d) {
  now_ += d;
  slept_ += std::chrono::duration_cast<std::chrono::milliseconds>(d);
}

}  // namespace zorv
