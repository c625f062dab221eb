// The wall clock and local time as the operating system keeps them.
// systemclock_posix.cpp implements this for POSIX, systemclock_windows.cpp
// for Windows. Monotonic time and
// sleeping come from std::chrono and std::this_thread, which are the same
// everywhere.
#pragma once

#include <ctime>

namespace quorbit {

// Seconds since the epoch.
std::time_t ReadWallClock();

// The local broken-down time of an instant; false when it cannot be had.
bool ToLocalTime(std::time_t instant, std::tm& local);

}  // namespace quorbit
