#include "report/timer.h"

#include <gtest/gtest.h>

#include <chrono>

#include "peers/peers.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

TEST(SecondsBetween, CountsOnTheTimeOfDayModuloOneDay) {
  EXPECT_EQ(SecondsBetween(9, 59, 50, 10, 0, 10), 20);
  EXPECT_EQ(SecondsBetween(23, 59, 50, 0, 0, 10), 20);
  EXPECT_EQ(SecondsBetween(23, 59, 0, 0, 0, 0), 60);
  EXPECT_EQ(SecondsBetween(10, 20, 30, 10, 0, 10), 85180);
  EXPECT_EQ(SecondsBetween(10, 20, 30, 10, 20, 30), 0);
  EXPECT_EQ(SecondsBetween(0, 0, 0, 23, 59, 59), 86399);
}

TEST(Stopwatch, StartsWhenCreatedAndReadsRepeatedly) {
  Stopwatch watch;
  const std::int32_t first = watch.Elapsed();
  EXPECT_GE(first, 0);
  EXPECT_LE(first, 1);
  EXPECT_GE(watch.Elapsed(), first);  // reading does not restart it
}

TEST(Clock, ReadingsAreInRange) {
  std::uint16_t h, m, s, hundredths, year, month, day, dayOfWeek;
  ClockTime(h, m, s, hundredths);
  ClockDate(year, month, day, dayOfWeek);
  EXPECT_LT(h, 24);
  EXPECT_LT(m, 60);
  EXPECT_LE(s, 60);
  EXPECT_LT(hundredths, 100);
  EXPECT_GE(year, 2020);
  EXPECT_GE(month, 1);
  EXPECT_LE(month, 12);
  EXPECT_GE(day, 1);
  EXPECT_LE(day, 31);
  EXPECT_GE(dayOfWeek, 1);
  EXPECT_LE(dayOfWeek, 7);
}

TEST(WaitSeconds, ZeroReturnsAtOnce) {
  const auto start = SteadyClock::now();
  WaitSeconds(0);
  EXPECT_LT(SteadyClock::now() - start, std::chrono::milliseconds(5));
}

// Ends on the next change of the second, so within one second, and sleeps
// rather than spinning meanwhile.
TEST(WaitSeconds, OneEndsOnTheNextSecondWithoutSpinning) {
  std::uint16_t h, m, before, after, hundredths;
  const double cpuStart = ProcessorSeconds();
  const auto start = SteadyClock::now();
  ClockTime(h, m, before, hundredths);
  WaitSeconds(1);
  ClockTime(h, m, after, hundredths);
  const double wall = SecondsSince(start);
  const double cpu = ProcessorSeconds() - cpuStart;

  EXPECT_NE(after, before);
  // Bounds leave room for a busy machine; a wait that spun or counted a
  // second too many would still break them.
  EXPECT_LE(wall, 1.3);
  EXPECT_LT(hundredths, 50);  // returned soon after the change
  EXPECT_LT(cpu, 0.2 * wall + 0.005);
}

TEST(WaitSeconds, CountsEveryChangeOfTheSecond) {
  WaitSeconds(1);  // start just after a change, so the count is exact
  const auto start = SteadyClock::now();
  WaitSeconds(2);
  const double wall = SecondsSince(start);
  EXPECT_GT(wall, 1.9);
  EXPECT_LT(wall, 2.5);
}

}  // namespace
