#include "report/timer.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "util/systemclock.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr long kNanosPerSecond = 1000000000L;

// One reading of the local wall clock: the broken-down local time and the
// nanoseconds into the current second.
struct LocalReading {
  std::tm fields{};
  long nanoseconds = 0;
};

LocalReading ReadLocalClock() {
  LocalReading r;
  const WallClockReading now = ReadWallClock();
  ToLocalTime(now.seconds, r.fields);
  r.nanoseconds = now.nanoseconds;
  return r;
}

std::int64_t SecondOfDay(std::uint16_t h, std::uint16_t m, std::uint16_t s) {
  return std::int64_t{h} * 3600 + std::int64_t{m} * 60 + s;
}

// Sleeps until the wall clock's second is due to change. Waking a little
// early is harmless: the caller reads the clock again and sleeps the rest.
void SleepToNextSecond(const LocalReading& now) {
  std::this_thread::sleep_for(std::chrono::nanoseconds(kNanosPerSecond - now.nanoseconds));
}

}  // namespace

void ClockTime(std::uint16_t& hour, std::uint16_t& minute, std::uint16_t& second,
               std::uint16_t& hundredths) {
  const LocalReading now = ReadLocalClock();
  hour = static_cast<std::uint16_t>(now.fields.tm_hour);
  minute = static_cast<std::uint16_t>(now.fields.tm_min);
  second = static_cast<std::uint16_t>(now.fields.tm_sec);
  hundredths = static_cast<std::uint16_t>(now.nanoseconds / 10000000L);
}

void ClockDate(std::uint16_t& year, std::uint16_t& month, std::uint16_t& day,
               std::uint16_t& dayOfWeek) {
  const LocalReading now = ReadLocalClock();
  year = static_cast<std::uint16_t>(now.fields.tm_year + 1900);
  month = static_cast<std::uint16_t>(now.fields.tm_mon + 1);
  day = static_cast<std::uint16_t>(now.fields.tm_mday);
  dayOfWeek = static_cast<std::uint16_t>(now.fields.tm_wday + 1);
}

void Stopwatch::Start() {
  std::uint16_t hundredths = 0;
  ClockTime(hour, minute, second, hundredths);
}

std::int32_t Stopwatch::Elapsed() const {
  std::uint16_t h = 0, m = 0, s = 0, hundredths = 0;
  ClockTime(h, m, s, hundredths);
  return SecondsBetween(hour, minute, second, h, m, s);
}

std::int32_t SecondsBetween(std::uint16_t h1, std::uint16_t m1, std::uint16_t s1, std::uint16_t h2,
                            std::uint16_t m2, std::uint16_t s2) {
  std::int64_t diff = (SecondOfDay(h2, m2, s2) - SecondOfDay(h1, m1, s1)) % kSecondsPerDay;
  if (diff < 0) diff += kSecondsPerDay;
  return static_cast<std::int32_t>(diff);
}

void WaitSeconds(std::uint16_t n) {
  if (n == 0) return;
  LocalReading now = ReadLocalClock();
  int remembered = now.fields.tm_sec;
  while (n > 0) {
    SleepToNextSecond(now);
    now = ReadLocalClock();
    if (now.fields.tm_sec != remembered) {
      remembered = now.fields.tm_sec;
      --n;
    }
  }
}
