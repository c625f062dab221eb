// Dates and times as text: the current moment, and text forms made from
// %-token patterns.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "util/packeddate.h"
#include "util/shorttext.h"

namespace quorbit {

DateTimeParts NowParts();
PackedDateTime NowPacked();

// Tokens are found without regard to case; a name token (%ddd%, %mmm%) gives
// the name in the letter case of the token as written. A month outside 1..12
// has no name and leaves an empty text.
std::string FormatDateParts(const DateTimeParts& date, std::string_view pattern);
std::string FormatTimeParts(const DateTimeParts& time, std::string_view pattern);
std::string FormatDate(PackedDateTime packed, std::string_view pattern);
std::string FormatTime(PackedDateTime packed, std::string_view pattern);

int WeekdayOf(const DateTimeParts& date);  // 0 = Sunday .. 6 = Saturday
int MonthFromName(std::string_view text);  // 1..12, 0 when no month name

}  // namespace quorbit
