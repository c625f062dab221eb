#include "http/responsehead.h"

#include <algorithm>
#include <charconv>

namespace quorbit {

namespace {

constexpr std::string_view kWhiteSpace = " \t";

std::string_view TrimWhiteSpace(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

// The text before the first c, removed from rest together with that c;
// without c the whole rest.
std::string_view TakeUntil(std::string_view& rest, char c) {
  const std::size_t at = rest.find(c);
  const std::string_view head = rest.substr(0, at);
  rest.remove_prefix(at == std::string_view::npos ? rest.size() : at + 1);
  return head;
}

// The next word after any blanks: asctime pads a one-digit day with one.
std::string_view TakeWord(std::string_view& rest) {
  rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
  return TakeUntil(rest, ' ');
}

// What follows the first blank; without one the whole text.
std::string_view AfterFirstBlank(std::string_view text) {
  const std::size_t blank = text.find(' ');
  return blank == std::string_view::npos ? text : text.substr(blank + 1);
}

// A date or time field for PackDateTime; a value no field can hold stays
// invalid instead of wrapping into a plausible one.
std::uint16_t DateField(std::int32_t value) {
  return value < 0 || value > 0xFFFF ? 0xFFFF : static_cast<std::uint16_t>(value);
}

// The line that starts at pos, and pos moved past its end; false when the
// text ends before the line does.
bool NextLine(std::string_view text, std::size_t& pos, std::string_view& line) {
  const std::size_t end = text.find('\r', pos);
  if (end == std::string_view::npos) return false;
  line = text.substr(pos, end - pos);
  pos = end + 1;
  if (pos < text.size() && text[pos] == '\n') ++pos;
  return true;
}

// A field of one length, or a list of equal ones ("5, 5": repeated fields
// that a proxy joined, which count as the one length). -1 for anything else.
std::int64_t ListedContentLength(std::string_view value) {
  std::int64_t length = -1;
  for (std::size_t start = 0;;) {
    const std::size_t comma = value.find(',', start);
    const std::int64_t one = ParseContentLength(TrimWhiteSpace(
        value.substr(start, comma == std::string_view::npos ? comma : comma - start)));
    if (one < 0 || (length >= 0 && one != length)) return -1;
    length = one;
    if (comma == std::string_view::npos) return length;
    start = comma + 1;
  }
}

void ApplyContentLength(HttpResponse& response, std::string_view value) {
  const std::int64_t length = ListedContentLength(value);
  const bool differs = response.framing == BodyFraming::Length && length != response.contentLength;
  if (length < 0 || differs) {
    response.lengthUnusable = true;
    return;
  }
  response.contentLength = length;
  if (response.framing != BodyFraming::Chunked) response.framing = BodyFraming::Length;
}

// Names are compared, and values kept, in upper case; LOCATION keeps its
// case, since paths know letter case.
void ApplyHeaderField(HttpResponse& response, std::string_view line) {
  const std::optional<HeaderField> field = ParseHeaderField(line);
  if (!field) return;
  const std::string_view fieldName = field->name;
  const std::string_view fieldValue = field->value;
  const std::string name = UpperStr(fieldName);
  const std::string value = UpperStr(fieldValue);
  if (name == "LOCATION") {
    response.location = fieldValue;
    response.locationTooLong = fieldValue.size() > kMaxRedirectLength;
  } else if (name == "SERVER") {
    response.server = value;
  } else if (name == "DATE") {
    response.serverDate = ParseHttpDate(value);
  } else if (name == "CONNECTION") {
    response.connectionClose = HasToken(value, "CLOSE");
    response.connectionKeepAlive = HasToken(value, "KEEP-ALIVE");
  } else if (name == "CONTENT-LENGTH") {
    ApplyContentLength(response, value);
  } else if (name == "CONTENT-TYPE") {
    response.contentType = value;
  } else if (name == "LAST-MODIFIED") {
    response.lastModified = ParseHttpDate(value);
  } else if (name == "TRANSFER-ENCODING" && value.ends_with("CHUNKED")) {
    // Chunks carry their own sizes; a CONTENT-LENGTH beside them is void.
    response.framing = BodyFraming::Chunked;
  }
}

}  // namespace

ResponseHead ParseResponseHead(std::string_view text) {
  ResponseHead head;
  std::size_t pos = 0;
  std::string_view line;
  if (!NextLine(text, pos, line)) {
    head.refusal = HeadRefusal::NoEnd;
    return head;
  }
  head.statusLine = line;
  head.response.status = StatusCode(line);
  for (;;) {
    if (!NextLine(text, pos, line)) {
      head.refusal = HeadRefusal::NoEnd;
      return head;
    }
    if (line.empty()) break;
    ApplyHeaderField(head.response, line);
  }
  head.size = pos;
  HttpResponse& response = head.response;
  if (response.framing == BodyFraming::Chunked) {
    response.contentLength = 0;
  } else if (response.lengthUnusable && !IsInterim(response.status)) {
    head.refusal = HeadRefusal::UnusableLength;
  }
  return head;
}

std::uint16_t StatusCode(std::string_view statusLine) {
  std::string_view rest = AfterFirstBlank(statusLine);
  const auto blank = [](char c) { return c == ' ' || c == '\0'; };
  while (!rest.empty() && blank(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && blank(rest.back())) rest.remove_suffix(1);
  return static_cast<std::uint16_t>(TextToInt(TakeUntil(rest, ' ')));
}

bool HasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const std::size_t comma = std::min(list.find(','), list.size());
    if (TrimWhiteSpace(list.substr(0, comma)) == token) return true;
    list.remove_prefix(std::min(comma + 1, list.size()));
  }
  return false;
}

std::optional<HeaderField> ParseHeaderField(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  if (line.substr(0, colon).find_first_of(kWhiteSpace) != std::string_view::npos) {
    return std::nullopt;
  }
  return HeaderField{line.substr(0, colon), TrimWhiteSpace(line.substr(colon + 1))};
}

// from_chars alone would take a sign and stop at the first stray byte.
std::int64_t ParseContentLength(std::string_view value) {
  std::int64_t length = -1;
  if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) return -1;
  auto parsed = std::from_chars(value.data(), value.data() + value.size(), length);
  return parsed.ec == std::errc() ? length : -1;
}

PackedDateTime ParseHttpDate(std::string_view text) {
  std::string_view rest = AfterFirstBlank(text);  // past the weekday
  const std::string_view first = TakeWord(rest);
  std::int32_t day = 0, month = MonthFromName(first), year = 0;
  std::string_view time;
  if (month != 0) {  // asctime: NOV  6 08:49:37 1994
    day = TextToInt(TakeWord(rest));
    time = TakeWord(rest);
    year = TextToInt(TakeWord(rest));
  } else if (std::string_view word = first; word.find('-') != std::string_view::npos) {
    day = TextToInt(TakeUntil(word, '-'));  // 06-NOV-94
    month = MonthFromName(TakeUntil(word, '-'));
    year = TextToInt(word);
    time = TakeWord(rest);
  } else {  // 06 NOV 1994
    day = TextToInt(first);
    month = MonthFromName(TakeWord(rest));
    year = TextToInt(TakeWord(rest));
    time = TakeWord(rest);
  }
  if (year < 100) year += year > 80 ? 1900 : 2000;
  DateTimeParts parts;
  parts.year = DateField(year);
  parts.month = DateField(month);
  parts.day = DateField(day);
  parts.hour = DateField(TextToInt(TakeUntil(time, ':')));
  parts.minute = DateField(TextToInt(TakeUntil(time, ':')));
  parts.second = DateField(TextToInt(time));
  return PackDateTime(parts);
}

}  // namespace quorbit
