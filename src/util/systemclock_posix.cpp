// The wall clock and local time over POSIX.
#include <time.h>

#include "util/systemclock.h"

namespace quorbit {

std::time_t ReadWallClock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec;
}

bool ToLocalTime(std::time_t instant, std::tm& local) {
  return localtime_r(&instant, &local) != nullptr;
}

}  // namespace quorbit
