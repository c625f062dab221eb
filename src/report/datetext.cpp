#include "report/datetext.h"

#include <algorithm>
#include <initializer_list>

#include "util/timer.h"

namespace quorbit {

namespace {

constexpr std::string_view kDayNames[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr std::string_view kMonthNames[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// Unpacked values such as month 0 or 15 have no name; they show as empty text.
std::string_view MonthName(std::uint16_t month) {
  return month >= 1 && month <= 12 ? kMonthNames[month - 1] : std::string_view();
}

struct TokenValue {
  std::string_view token;
  std::string value;
  bool isName;  // names take the letter case of the token as written
};

// Replaces each token in the order given, every occurrence of one token before
// the next is looked for.
std::string FillPattern(std::string_view pattern, std::initializer_list<TokenValue> tokens) {
  std::string text(pattern);
  for (const TokenValue& t : tokens) {
    ReplaceText(text, {.pattern = t.token, .replacement = t.value, .adaptCase = t.isName});
  }
  return text;
}

}  // namespace

DateTimeParts NowParts() {
  return LocalDateTimeNow();
}

PackedDateTime NowPacked() {
  return PackDateTime(NowParts());
}

std::string FormatDateParts(const DateTimeParts& date, std::string_view pattern) {
  const std::uint16_t year = date.year;
  const std::uint16_t month = date.month;
  const std::uint16_t day = date.day;
  return FillPattern(pattern, {
                                  {"%ddd%", std::string(kDayNames[WeekdayOf(date)]), true},
                                  {"%dd%", TwoDigits(day), false},
                                  {"%mmm%", std::string(MonthName(month)), true},
                                  {"%mm%", TwoDigits(month), false},
                                  {"%yyyy%", IntToText(year), false},
                                  {"%yy%", TwoDigits(year % 100), false},
                                  {"%d%", IntToText(day), false},
                                  {"%m%", IntToText(month), false},
                                  {"%y%", IntToText(year), false},
                              });
}

std::string FormatTimeParts(const DateTimeParts& time, std::string_view pattern) {
  return FillPattern(pattern, {
                                  {"%hh%", TwoDigits(time.hour), false},
                                  {"%mm%", TwoDigits(time.minute), false},
                                  {"%ss%", TwoDigits(time.second), false},
                                  {"%h%", IntToText(time.hour), false},
                                  {"%m%", IntToText(time.minute), false},
                                  {"%s%", IntToText(time.second), false},
                              });
}

std::string FormatDate(PackedDateTime packed, std::string_view pattern) {
  return FormatDateParts(UnpackDateTime(packed), pattern);
}

std::string FormatTime(PackedDateTime packed, std::string_view pattern) {
  return FormatTimeParts(UnpackDateTime(packed), pattern);
}

int WeekdayOf(const DateTimeParts& date) {
  int year = date.year;
  int month = date.month;
  const int day = date.day;
  if (month == 1 || month == 2) {
    month += 12;
    year -= 1;
  }
  const int c = year / 100;
  const int y = year % 100;
  const int t = static_cast<int>((month - 2) * 2.6001 - 0.2);
  int weekday = (t + day + y + y / 4 + c / 4 - 2 * c) % 7;
  if (weekday < 0) weekday += 7;
  return weekday;
}

int MonthFromName(std::string_view text) {
  const std::string upper = UpperStr(text);
  for (int i = 0; i < 12; ++i) {
    if (upper == kMonthNames[i]) return i + 1;
  }
  return 0;
}

}  // namespace quorbit
