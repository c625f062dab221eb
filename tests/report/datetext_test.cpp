#include "report/datetext.h"

#include <gtest/gtest.h>

#include <string>

namespace quorbit {

namespace {

DateTimeParts Parts(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                    std::uint16_t hour = 0, std::uint16_t minute = 0, std::uint16_t second = 0) {
  return DateTimeParts{year, month, day, hour, minute, second};
}

void ExpectParts(const DateTimeParts& p, const DateTimeParts& expected) {
  EXPECT_EQ(p.year, expected.year);
  EXPECT_EQ(p.month, expected.month);
  EXPECT_EQ(p.day, expected.day);
  EXPECT_EQ(p.hour, expected.hour);
  EXPECT_EQ(p.minute, expected.minute);
  EXPECT_EQ(p.second, expected.second);
}

TEST(WeekdayOf, KnownDays) {
  EXPECT_EQ(WeekdayOf({2000, 1, 1}), 6);
  EXPECT_EQ(WeekdayOf({2026, 12, 7}), 1);
  EXPECT_EQ(WeekdayOf({2000, 2, 29}), 2);
  EXPECT_EQ(WeekdayOf({1980, 1, 1}), 2);  // remainder below zero before correction
  EXPECT_EQ(WeekdayOf({2099, 12, 31}), 4);
  for (std::uint16_t month = 0; month <= 15; ++month) {  // odd input stays in 0..6
    const int w = WeekdayOf({1980, month, 0});
    EXPECT_GE(w, 0);
    EXPECT_LE(w, 6);
  }
}

TEST(FormatDateParts, FillsNumberAndNameTokens) {
  EXPECT_EQ(FormatDateParts({2026, 12, 7}, "%dd%-%mm%-%yy%"), "07-12-26");
  EXPECT_EQ(FormatDateParts({2026, 12, 7}, "%Ddd% %d% %Mmm% %yyyy%"), "Mon 7 Dec 2026");
  EXPECT_EQ(FormatDateParts({2026, 12, 7}, "%DD%/%MM%/%YYYY%"), "07/12/2026");
  EXPECT_EQ(FormatDateParts({2026, 12, 7}, "%DDD% %mmm% %y% %m%"), "MON dec 2026 12");
  EXPECT_EQ(FormatDateParts({2005, 3, 4}, "%yy%"), "05");
  EXPECT_EQ(FormatDateParts({2026, 12, 7}, "no tokens % here"), "no tokens % here");
}

TEST(FormatDateParts, MonthWithoutNameGivesEmptyText) {
  EXPECT_EQ(FormatDateParts({1980, 0, 0}, "[%mmm%] %dd%.%mm%"), "[] 00.00");
}

TEST(FormatTimeParts, FillsTokens) {
  EXPECT_EQ(FormatTimeParts({.hour = 9, .minute = 5, .second = 3}, "%hh%:%mm%:%ss%"), "09:05:03");
  EXPECT_EQ(FormatTimeParts({.hour = 9, .minute = 5, .second = 3}, "%h%.%m%"), "9.5");
  EXPECT_EQ(FormatTimeParts({.hour = 23, .minute = 59, .second = 58}, "%H%h%MM%m%S%s"),
            "23h59m58s");
}

TEST(Formatters, PatternThatGrowsPastItsRecordsWidthIsKeptWhole) {
  const std::string pattern = std::string(249, '.') + "%y%%y%";
  ASSERT_EQ(pattern.size(), 255u);
  const std::string date = FormatDateParts({2026, 12, 7}, pattern);
  EXPECT_EQ(date.substr(249), "20262026");
}

TEST(PackDateTime, RoundTripsWithEvenSeconds) {
  const PackedDateTime packed = PackDateTime(Parts(2026, 12, 7, 20, 54, 9));
  ExpectParts(UnpackDateTime(packed), Parts(2026, 12, 7, 20, 54, 8));
  EXPECT_EQ(FormatTime(packed, "%hh%:%mm%:%ss%"), "20:54:08");
  EXPECT_EQ(FormatDate(packed, "%dd%-%mm%-%yy%"), "07-12-26");

  for (const DateTimeParts& p : {Parts(1980, 1, 1), Parts(2099, 12, 31, 23, 59, 58),
                                 Parts(2000, 2, 29, 12, 0, 0), Parts(2024, 2, 29, 1, 2, 4)}) {
    ExpectParts(UnpackDateTime(PackDateTime(p)), p);
  }
  // Later moments give larger values, so packed dates compare as numbers.
  EXPECT_LT(PackDateTime(Parts(2026, 12, 7, 23, 59, 58)), PackDateTime(Parts(2026, 12, 8)));
  EXPECT_LT(PackDateTime(Parts(2025, 12, 31)), PackDateTime(Parts(2026, 1, 1)));
}

TEST(PackDateTime, ImpossibleDatesAndTimesGiveZero) {
  for (const DateTimeParts& p :
       {Parts(1979, 12, 31), Parts(2100, 1, 1), Parts(2026, 0, 1), Parts(2026, 13, 1),
        Parts(2026, 1, 0), Parts(2026, 1, 32), Parts(2026, 4, 31), Parts(2026, 2, 29),
        Parts(2100, 2, 29), Parts(2026, 1, 1, 24), Parts(2026, 1, 1, 0, 60),
        Parts(2026, 1, 1, 0, 0, 60), Parts(65535, 65535, 65535, 65535, 65535, 65535)}) {
    EXPECT_EQ(PackDateTime(p), 0u) << p.year << "-" << p.month << "-" << p.day << " " << p.hour
                                   << ":" << p.minute << ":" << p.second;
  }
}

TEST(UnpackDateTime, GivesStoredFieldsOfAnyValue) {
  ExpectParts(UnpackDateTime(0), Parts(1980, 0, 0));
  ExpectParts(UnpackDateTime(0xFFFFFFFFu), Parts(2107, 15, 31, 31, 63, 62));
  EXPECT_EQ(FormatDate(0xFFFFFFFFu, "[%mmm%] %yyyy%"), "[] 2107");
  EXPECT_EQ(FormatDate(0xFFFFFFFFu, "%ddd%").size(), 3u);
  EXPECT_EQ(FormatTime(0xFFFFFFFFu, "%hh%:%mm%:%ss%"), "31:63:62");
}

TEST(NowPacked, IsAValidDate) {
  const PackedDateTime now = NowPacked();
  ASSERT_NE(now, 0u);
  const DateTimeParts p = UnpackDateTime(now);
  EXPECT_EQ(PackDateTime(p), now);
  const DateTimeParts parts = NowParts();
  EXPECT_GE(parts.year, 2020);
}

TEST(MonthFromName, ExactThreeLetterNames) {
  EXPECT_EQ(MonthFromName("dec"), 12);
  EXPECT_EQ(MonthFromName("Jan"), 1);
  EXPECT_EQ(MonthFromName("MAY"), 5);
  for (const char* text : {"", "January", "Sept", "de", " DEC", "D3C"}) {
    EXPECT_EQ(MonthFromName(text), 0) << text;
  }
}

}  // namespace

}  // namespace quorbit
