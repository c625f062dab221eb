#include "util/packeddate.h"

#include <algorithm>

namespace quorbit {

namespace {

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

DateTimeParts PartsOfBrokenDownTime(const std::tm& time) {
  DateTimeParts parts;
  parts.year = static_cast<std::uint16_t>(time.tm_year + 1900);
  parts.month = static_cast<std::uint16_t>(time.tm_mon + 1);
  parts.day = static_cast<std::uint16_t>(time.tm_mday);
  parts.hour = static_cast<std::uint16_t>(time.tm_hour);
  parts.minute = static_cast<std::uint16_t>(time.tm_min);
  parts.second = static_cast<std::uint16_t>(time.tm_sec);
  return parts;
}

PackedDateTime PackBrokenDownTime(const std::tm& time) {
  // Checked before narrowing, so that no far-off year wraps into the range.
  if (time.tm_year < 80 || time.tm_year > 199) return 0;
  DateTimeParts parts = PartsOfBrokenDownTime(time);
  parts.second = std::min<std::uint16_t>(parts.second, 59);
  return PackDateTime(parts);
}

}  // namespace quorbit
