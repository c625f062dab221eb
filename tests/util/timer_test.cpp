#include "util/timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "peers/peers.h"
#include "util/stoprequest.h"

namespace quorbit {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A monotonic clock the test moves by hand.
SteadyClock::time_point fakeNow;
SteadyClock::time_point FakeNow() {
  return fakeNow;
}

// Each row moves the stopwatch's clock after Start and says what it reads.
// The time of day plays no part: a wall clock that jumps back an hour or on
// by a day leaves the monotonic one where it was, so a row that moves it by
// one second reads 1 whatever the wall clock did meanwhile.
struct StopwatchRow {
  const char* what;
  std::chrono::milliseconds moved;
  std::int32_t elapsed;
};

TEST(Stopwatch, CountsWholeSecondsOnTheMonotonicClock) {
  const StopwatchRow rows[] = {
      {"no time", std::chrono::milliseconds(0), 0},
      {"under a second", std::chrono::milliseconds(999), 0},
      {"one second while the wall clock went back an hour", std::chrono::milliseconds(1000), 1},
      {"past midnight of the wall clock", std::chrono::minutes(2), 120},
      {"more than a day", std::chrono::hours(25), 90000},
  };
  for (const StopwatchRow& row : rows) {
    fakeNow = SteadyClock::time_point{} + std::chrono::hours(2) + std::chrono::minutes(30);
    Stopwatch watch(&FakeNow);
    fakeNow += row.moved;
    EXPECT_EQ(watch.Elapsed(), row.elapsed) << row.what;
    EXPECT_EQ(watch.Elapsed(), row.elapsed) << row.what << ": reading does not restart it";
    watch.Start();
    EXPECT_EQ(watch.Elapsed(), 0) << row.what;
  }
}

TEST(Clock, ReadingsAreInRange) {
  const DateTimeParts now = LocalDateTimeNow();
  EXPECT_LT(now.hour, 24);
  EXPECT_LT(now.minute, 60);
  EXPECT_LE(now.second, 60);
  EXPECT_GE(now.year, 2020);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
}

TEST(WaitSeconds, ZeroReturnsAtOnce) {
  const auto start = SteadyClock::now();
  EXPECT_TRUE(WaitSeconds(0));
  EXPECT_LT(SteadyClock::now() - start, std::chrono::milliseconds(500));
}

// Sleeps the seconds asked for rather than spinning; the bounds leave room
// for a busy machine.
TEST(WaitSeconds, SleepsTheSecondsAskedFor) {
  const double cpuStart = ProcessorSeconds();
  const auto start = SteadyClock::now();
  EXPECT_TRUE(WaitSeconds(1));
  const double wall = SecondsSince(start);
  const double cpu = ProcessorSeconds() - cpuStart;
  EXPECT_GE(wall, 1.0);
  EXPECT_LE(wall, 5.0);
  EXPECT_LT(cpu, 0.5 * wall);
}

TEST(WaitSeconds, EndsSoonAfterAStopIsRequested) {
  ClearStopRequest();
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    RequestStop(15);
  });
  const auto start = SteadyClock::now();
  EXPECT_FALSE(WaitSeconds(30));
  stopper.join();
  EXPECT_LT(SecondsSince(start), 10.0);
  ClearStopRequest();
}

}  // namespace

}  // namespace quorbit
