// Dates and times: the packed MS-DOS date and time, its parts, the current
// moment, and text forms made from %-token patterns.
#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>

#include "util/strunit.h"

// Bits 0-4 seconds / 2, 5-10 minutes, 11-15 hours, 16-20 day, 21-24 month,
// 25-31 years since 1980. 0 means "no date".
using PackedDateTime = std::uint32_t;

struct DateTimeParts {
  std::uint16_t year = 0;  // full year, e.g. 2026
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
};

// Seconds are halved (remainder dropped). Gives 0 ("no date") for a year outside
// 1980..2099 or any impossible date or time (month 13, 31 April, hour 24, ...).
PackedDateTime PackDateTime(const DateTimeParts& parts);
// The fields as stored, seconds doubled; out-of-range fields (month and day 0
// of the value 0, say) come back as they are.
DateTimeParts UnpackDateTime(PackedDateTime packed);
// A broken-down time (from localtime_r or gmtime_r) packed as it reads; 0
// outside 1980..2099. A leap second counts as second 59.
PackedDateTime PackBrokenDownTime(const std::tm& time);
DateTimeParts NowParts();
PackedDateTime NowPacked();

// Tokens are found without regard to case; a name token (%ddd%, %mmm%) gives
// the name in the letter case of the token as written. A month outside 1..12
// has no name and leaves an empty text. The result is cut to 255 characters.
Str255 FormatDateParts(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                       std::string_view pattern);
Str255 FormatTimeParts(std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
                       std::string_view pattern);
Str255 FormatDate(PackedDateTime packed, std::string_view pattern);
Str255 FormatTime(PackedDateTime packed, std::string_view pattern);

int WeekdayOf(int year, int month, int day);  // 0 = Sunday .. 6 = Saturday
int MonthFromName(std::string_view text);      // 1..12, 0 when no month name
