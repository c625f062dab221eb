// Wall-clock readings, the stopwatch (whole seconds on the time of day) and
// second-counting waits.
#pragma once

#include <cstdint>

void ClockTime(std::uint16_t& hour, std::uint16_t& minute, std::uint16_t& second,
               std::uint16_t& hundredths);
void ClockDate(std::uint16_t& year, std::uint16_t& month, std::uint16_t& day,
               std::uint16_t& dayOfWeek);  // dayOfWeek: 1 = Sunday .. 7 = Saturday

struct Stopwatch {
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;

  Stopwatch() { Start(); }
  void Start();
  // Whole seconds since the last Start, modulo one day (0..86399).
  std::int32_t Elapsed() const;
};

// Seconds from one time of day to a later one, modulo one day.
std::int32_t SecondsBetween(std::uint16_t h1, std::uint16_t m1, std::uint16_t s1, std::uint16_t h2,
                            std::uint16_t m2, std::uint16_t s2);

// Returns on the n-th change of the clock's second; sleeps meanwhile.
void WaitSeconds(std::uint16_t n);
