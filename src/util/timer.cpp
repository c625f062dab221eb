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

}  // namespace

DateTimeParts LocalDateTimeNow() {
  std::tm local{};
  ToLocalTime(ReadWallClock(), local);
  return PartsOfBrokenDownTime(local);
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
