#pragma once
// Wall time of a run or of the phases of a frame, on the steady clock.
#include <chrono>

namespace tovimar {

class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  // Seconds since construction or the last Restart.
  double Seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }
  void Restart() { start_ = std::chrono::steady_clock::now(); }
  // Seconds since construction or the last Lap or Restart; starts the next lap.
  double Lap() {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - start_).count();
    start_ = now;
    return seconds;
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

// Adds the time of each phase to one field of a timings struct (seconds as
// double); does nothing without one, so untimed runs do not read the clock.
template <class Timings>
class PhaseClock {
 public:
  explicit PhaseClock(Timings* timings) : timings_(timings) {
    if (timings_) watch_.Restart();
  }
  void Lap(double Timings::*field) {
    if (timings_) timings_->*field += watch_.Lap();
  }

 private:
  Timings* timings_;
  Stopwatch watch_;
};

}  // namespace tovimar
