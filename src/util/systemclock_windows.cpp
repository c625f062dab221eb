// The wall clock and local time over Windows.
#include <time.h>
#include <windows.h>

#include "util/systemclock.h"

namespace quorbit {

namespace {

// 100-nanosecond ticks from 1601-01-01 (the file-time origin) to the epoch.
constexpr unsigned long long kEpochTicks = 116444736000000000ULL;
constexpr unsigned long long kTicksPerSecond = 10000000ULL;

}  // namespace

std::time_t ReadWallClock() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const unsigned long long ticks =
      ((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime) -
      kEpochTicks;
  return static_cast<std::time_t>(ticks / kTicksPerSecond);
}

bool ToLocalTime(std::time_t instant, std::tm& local) {
  return localtime_s(&local, &instant) == 0;
}

}  // namespace quorbit
