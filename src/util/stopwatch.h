#pragma once

#include <chrono>

namespace boardmill::util {

// Measures durations on the monotonic high-resolution clock, in seconds as nanoseconds / 1e9.
class Stopwatch {
 public:
  using Clock = std::chrono::steady_clock;

  Stopwatch() : start_(Clock::now()) {}

  double ElapsedSeconds() const { return SecondsBetween(start_, Clock::now()); }
  void Restart() { start_ = Clock::now(); }
  // Returns the seconds since the last start and starts again from now.
  double Lap() {
    const Clock::time_point now = Clock::now();
    const double seconds = SecondsBetween(start_, now);
    start_ = now;
    return seconds;
  }

  static double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return static_cast<double>(
               std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count()) /
           1e9;
  }

 private:
  Clock::time_point start_;
};

}  // namespace boardmill::util
