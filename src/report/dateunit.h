// Dates and times: the packed MS-DOS date and time, its parts, the current
// moment, and text forms made from %-token patterns.
#pragma once

#include <cstdint>
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

PackedDateTime PackDateTime(const DateTimeParts& parts);  // 0 for an impossible date
DateTimeParts UnpackDateTime(PackedDateTime packed);      // fields as stored, seconds even
DateTimeParts NowParts();
PackedDateTime NowPacked();

Str255 FormatDateParts(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                       std::string_view pattern);
Str255 FormatTimeParts(std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
                       std::string_view pattern);
Str255 FormatDate(PackedDateTime packed, std::string_view pattern);
Str255 FormatTime(PackedDateTime packed, std::string_view pattern);

int WeekdayOf(int year, int month, int day);  // 0 = Sunday .. 6 = Saturday
int MonthFromName(std::string_view text);      // 1..12, 0 when no month name
