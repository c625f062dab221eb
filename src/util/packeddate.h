// The packed MS-DOS date and time: the one date type of file dates, server
// dates and log stamps, and its parts.
#pragma once

#include <cstdint>
#include <ctime>

namespace quorbit {

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

// The fields of a broken-down time as they are (no range check).
DateTimeParts PartsOfBrokenDownTime(const std::tm& time);

// Seconds are halved (remainder dropped). Gives 0 ("no date") for a year outside
// 1980..2099 or any impossible date or time (month 13, 31 April, hour 24, ...).
PackedDateTime PackDateTime(const DateTimeParts& parts);
// The fields as stored, seconds doubled; out-of-range fields (month and day 0
// of the value 0, say) come back as they are.
DateTimeParts UnpackDateTime(PackedDateTime packed);
// A broken-down time (from localtime_r or gmtime_r) packed as it reads; 0
// outside 1980..2099. A leap second counts as second 59.
PackedDateTime PackBrokenDownTime(const std::tm& time);

}  // namespace quorbit
