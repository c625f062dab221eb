// Wall-clock readings for stamps, and the stopwatch and waits, which count on
// a monotonic clock: a change of the time of day (daylight saving, an NTP
// step, a user setting the clock) neither ends nor stretches a wait.
#pragma once

#include <chrono>
#include <cstdint>

namespace quorbit {

void ClockTime(std::uint16_t& hour, std::uint16_t& minute, std::uint16_t& second,
               std::uint16_t& hundredths);
void ClockDate(std::uint16_t& year, std::uint16_t& month, std::uint16_t& day,
               std::uint16_t& dayOfWeek);  // dayOfWeek: 1 = Sunday .. 7 = Saturday

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
