#include "report/dateunit.h"

#include <algorithm>
#include <initializer_list>

#include "report/timer.h"

namespace {

constexpr std::string_view kDayNames[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr std::string_view kMonthNames[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

constexpr std::uint16_t kFirstYear = 1980;
constexpr std::uint16_t kLastYear = 2099;

// Within 1980..2099 every year divisible by 4 is a leap year (2000 included).
std::uint16_t DaysInMonth(std::uint16_t year, std::uint16_t month) {
  static constexpr std::uint16_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && year % 4 == 0) return 29;
  return kDays[month - 1];
}

bool IsPackable(const DateTimeParts& p) {
  if (p.year < kFirstYear || p.year > kLastYear) return false;
  if (p.month < 1 || p.month > 12) return false;
  if (p.day < 1 || p.day > DaysInMonth(p.year, p.month)) return false;
  return p.hour < 24 && p.minute < 60 && p.second < 60;
}

// Unpacked values such as month 0 or 15 have no name; they show as empty text.
std::string_view MonthName(std::uint16_t month) {
  return month >= 1 && month <= 12 ? kMonthNames[month - 1] : std::string_view();
}

struct TokenValue {
  std::string_view token;
  Str255 value;
  bool isName;  // names take the letter case of the token as written
};

// Replaces each token in the order given, every occurrence of one token before
// the next is looked for.
Str255 FillPattern(std::string_view pattern, std::initializer_list<TokenValue> tokens) {
  Str255 text(pattern);
  for (const TokenValue& t : tokens) ReplaceText(text, t.token, t.value, t.isName);
  return text;
}

}  // namespace

PackedDateTime PackDateTime(const DateTimeParts& p) {
  if (!IsPackable(p)) return 0;
  return static_cast<PackedDateTime>(p.year - kFirstYear) << 25 |
         static_cast<PackedDateTime>(p.month) << 21 | static_cast<PackedDateTime>(p.day) << 16 |
         static_cast<PackedDateTime>(p.hour) << 11 | static_cast<PackedDateTime>(p.minute) << 5 |
         static_cast<PackedDateTime>(p.second / 2);
}

DateTimeParts UnpackDateTime(PackedDateTime packed) {
  DateTimeParts p;
  p.year = static_cast<std::uint16_t>(kFirstYear + (packed >> 25));
  p.month = static_cast<std::uint16_t>((packed >> 21) & 0x0F);
  p.day = static_cast<std::uint16_t>((packed >> 16) & 0x1F);
  p.hour = static_cast<std::uint16_t>((packed >> 11) & 0x1F);
  p.minute = static_cast<std::uint16_t>((packed >> 5) & 0x3F);
  p.second = static_cast<std::uint16_t>((packed & 0x1F) * 2);
  return p;
}

DateTimeParts NowParts() {
  // The date is read on both sides of the time, so that a reading taken
  // across midnight never pairs one day's date with the next day's time.
  DateTimeParts p;
  std::uint16_t dayOfWeek = 0, hundredths = 0;
  std::uint16_t dayAfter = 0;
  do {
    ClockDate(p.year, p.month, p.day, dayOfWeek);
    ClockTime(p.hour, p.minute, p.second, hundredths);
    std::uint16_t yearAfter = 0, monthAfter = 0;
    ClockDate(yearAfter, monthAfter, dayAfter, dayOfWeek);
  } while (dayAfter != p.day);
  return p;
}

PackedDateTime NowPacked() { return PackDateTime(NowParts()); }

Str255 FormatDateParts(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                       std::string_view pattern) {
  return FillPattern(pattern, {
                                  {"%ddd%", kDayNames[WeekdayOf(year, month, day)], true},
                                  {"%dd%", TwoDigits(day), false},
                                  {"%mmm%", MonthName(month), true},
                                  {"%mm%", TwoDigits(month), false},
                                  {"%yyyy%", IntToText(year), false},
                                  {"%yy%", TwoDigits(year % 100), false},
                                  {"%d%", IntToText(day), false},
                                  {"%m%", IntToText(month), false},
                                  {"%y%", IntToText(year), false},
                              });
}

Str255 FormatTimeParts(std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
                       std::string_view pattern) {
  return FillPattern(pattern, {
                                  {"%hh%", TwoDigits(hour), false},
                                  {"%mm%", TwoDigits(minute), false},
                                  {"%ss%", TwoDigits(second), false},
                                  {"%h%", IntToText(hour), false},
                                  {"%m%", IntToText(minute), false},
                                  {"%s%", IntToText(second), false},
                              });
}

Str255 FormatDate(PackedDateTime packed, std::string_view pattern) {
  const DateTimeParts p = UnpackDateTime(packed);
  return FormatDateParts(p.year, p.month, p.day, pattern);
}

Str255 FormatTime(PackedDateTime packed, std::string_view pattern) {
  const DateTimeParts p = UnpackDateTime(packed);
  return FormatTimeParts(p.hour, p.minute, p.second, pattern);
}

int WeekdayOf(int year, int month, int day) {
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
  const Str255 upper = UpperStr(text);
  for (int i = 0; i < 12; ++i) {
    if (upper.View() == kMonthNames[i]) return i + 1;
  }
  return 0;
}

PackedDateTime PackBrokenDownTime(const std::tm& time) {
  // Checked before narrowing, so that no far-off year wraps into the range.
  if (time.tm_year < 80 || time.tm_year > 199) return 0;
  DateTimeParts parts;
  parts.year = static_cast<std::uint16_t>(time.tm_year + 1900);
  parts.month = static_cast<std::uint16_t>(time.tm_mon + 1);
  parts.day = static_cast<std::uint16_t>(time.tm_mday);
  parts.hour = static_cast<std::uint16_t>(time.tm_hour);
  parts.minute = static_cast<std::uint16_t>(time.tm_min);
  parts.second = static_cast<std::uint16_t>(std::min(time.tm_sec, 59));
  return PackDateTime(parts);
}
