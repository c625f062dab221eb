#include "util/timer.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "util/stoprequest.h"
#include "util/systemclock.h"

namespace quorbit {

namespace {

// Longest sleep of a wait between two looks at the stop request.
constexpr std::chrono::milliseconds kStopLookInterval{100};

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

std::int32_t Stopwatch::Elapsed() const {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now_() - start_).count();
  return static_cast<std::int32_t>(seconds);
}

bool WaitSeconds(std::uint16_t n) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(n);
  for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
    if (StopRequested()) return false;
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, kStopLookInterval));
  }
  return !StopRequested();
}

}  // namespace quorbit
