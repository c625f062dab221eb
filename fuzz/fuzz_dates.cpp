// Dates as servers send them (DATE and LAST-MODIFIED values) and the text
// forms made from date and time patterns.
//
// Input: four bytes of a packed date (any value, as an unpacked file date
// may be), then text used as a header value and as a pattern.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "http/responsehead.h"
#include "report/datetext.h"

namespace quorbit {

namespace {

// A date read from a server is 0 or a date that packs to itself.
void CheckServerDate(std::string_view text) {
  const PackedDateTime date = ParseHttpDate(UpperStr(text));
  if (date == 0) return;
  FUZZ_CHECK(PackDateTime(UnpackDateTime(date)) == date);
}

void CheckPatterns(PackedDateTime packed, std::string_view pattern) {
  FormatDate(packed, pattern);
  FormatTime(packed, pattern);
  const DateTimeParts parts = UnpackDateTime(packed);
  const int weekday = WeekdayOf(parts);
  FUZZ_CHECK(weekday >= 0 && weekday <= 6);
  const int month = MonthFromName(pattern.substr(0, 3));
  FUZZ_CHECK(month >= 0 && month <= 12);
}

}  // namespace

}  // namespace quorbit

using namespace quorbit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PackedDateTime packed = 0;
  if (size >= sizeof packed) {
    std::memcpy(&packed, data, sizeof packed);
    data += sizeof packed;
    size -= sizeof packed;
  }
  const std::string_view text = AsText(data, size).substr(0, Str255::kMax);
  CheckServerDate(text);
  CheckPatterns(packed, text);
  return 0;
}
