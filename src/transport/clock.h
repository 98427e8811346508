#pragma once
// Time as operations see it: a steady clock for durations and waits, sleeps,
// and the wall clock for file names and reports. Tests inject a manual clock
// so that nothing really waits.

#include <chrono>
#include <ctime>

namespace zorv {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint now() = 0;
  virtual void sleepFor(std::chrono::milliseconds duration) = 0;
  virtual std::tm localTime() = 0;
  virtual std::tm utcTime() = 0;
};

class SystemClock : public Clock {
 public:
  TimePoint now() override;
  void sleepFor(std::chrono::milliseconds duration) override;
  std::tm localTime() override;
  std::tm utcTime() override;
};

// A clock that only moves when slept on or advanced. Wall time starts at the
// given calendar time and moves with it.
class ManualClock : public Clock {
 public:
  explicit ManualClock(std::tm start = defaultStart());
  TimePoint now() override { return now_; }
  void sleepFor(std::chrono::milliseconds duration) override { advance(duration); }
  std::tm localTime() override;
  std::tm utcTime() override { return localTime(); }
  void advance(std::chrono::steady_clock::duration d);
  std::chrono::milliseconds totalSlept() const { return slept_; }
  static std::tm defaultStart();

 private:
  TimePoint now_{};
  std::chrono::milliseconds slept_{0};
  std::time_t wallStart_{};
};

}  // namespace zorv
