// Dates and times as text: the current moment, and text forms made from
// %-token patterns.
#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>

#include "util/packeddate.h"
#include "util/shorttext.h"

namespace quorbit {

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
int MonthFromName(std::string_view text);     // 1..12, 0 when no month name

}  // namespace quorbit
