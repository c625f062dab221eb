// Wall-clock readings for stamps, and the stopwatch and waits, which count on
// a monotonic clock: a change of the time of day (daylight saving, an NTP
// step, a user setting the clock) neither ends nor stretches a wait.
#pragma once

#include <chrono>
#include <cstdint>

#include "util/packeddate.h"

namespace quorbit {

// The local date and time of this moment, from one reading of the clock, so
// that a reading at midnight never pairs one day's date with the next day's
// time.
DateTimeParts LocalDateTimeNow();

// The monotonic clock the stopwatch reads; a test passes its own.
using MonotonicNow = std::chrono::steady_clock::time_point (*)();

struct Stopwatch {
  explicit Stopwatch(MonotonicNow now = &std::chrono::steady_clock::now) : now_(now) { Start(); }
  void Start() { start_ = now_(); }
  // Whole seconds since the last Start.
  std::int32_t Elapsed() const;

 private:
  MonotonicNow now_;
  std::chrono::steady_clock::time_point start_;
};

// Sleeps n seconds on the monotonic clock; returns early, false, once a stop
// is requested.
bool WaitSeconds(std::uint16_t n);

}  // namespace quorbit
