#include "ftp/listing.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace {

// Windows-style years of two digits below this are 20xx, others 19xx.
constexpr std::uint16_t kTwoDigitYearPivot = 80;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::size_t LeadingDigits(std::string_view text) {
  std::size_t count = 0;
  while (count < text.size() && IsDigit(text[count])) ++count;
  return count;
}

// Takes exactly count digits off the front of text.
bool TakeDigits(std::string_view& text, std::size_t count, std::uint16_t& value) {
  if (LeadingDigits(text.substr(0, count)) != count) return false;
  value = 0;
  for (char c : text.substr(0, count)) value = static_cast<std::uint16_t>(value * 10 + (c - '0'));
  text.remove_prefix(count);
  return true;
}

bool TakeChar(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

// Takes the blanks off the front of text; false when there were none.
bool TakeBlanks(std::string_view& text) {
  const std::size_t count = std::min(text.find_first_not_of(' '), text.size());
  text.remove_prefix(count);
  return count > 0;
}

// Takes text up to the first c (or all of it) off the front of text; the c
// goes with it.
std::string_view TakeUntil(std::string_view& text, char c) {
  const std::size_t end = std::min(text.find(c), text.size());
  const std::string_view head = text.substr(0, end);
  text.remove_prefix(std::min(end + 1, text.size()));
  return head;
}

// A size column: digits only, fitting in 63 bits.
bool ParseExactSize(std::string_view text, std::int64_t& size) {
  return !text.empty() && LeadingDigits(text) == text.size() && ParseFileSize(text, size);
}

// A name a listing entry can carry whole, other than the directory itself
// and its parent.
bool IsEntryName(std::string_view name) {
  return !name.empty() && name.size() <= Str255::kMax && name != "." && name != "..";
}

// "MM-DD-YY" or "MM-DD-YYYY".
bool TakeWindowsDate(std::string_view& text, DateTimeParts& parts) {
  if (!TakeDigits(text, 2, parts.month) || !TakeChar(text, '-') ||
      !TakeDigits(text, 2, parts.day) || !TakeChar(text, '-')) {
    return false;
  }
  const std::size_t yearDigits = LeadingDigits(text);
  if ((yearDigits != 2 && yearDigits != 4) || !TakeDigits(text, yearDigits, parts.year)) {
    return false;
  }
  if (yearDigits == 2) parts.year += parts.year < kTwoDigitYearPivot ? 2000 : 1900;
  return parts.month >= 1 && parts.month <= 12 && parts.day >= 1 && parts.day <= 31;
}

// "HH:MM" followed by "AM" or "PM" (12-hour clock), or alone (24-hour clock).
bool TakeWindowsTime(std::string_view& text, DateTimeParts& parts) {
  if (!TakeDigits(text, 2, parts.hour) || !TakeChar(text, ':') ||
      !TakeDigits(text, 2, parts.minute) || parts.minute > 59) {
    return false;
  }
  const Str255 suffix = UpperStr(text.substr(0, 2));
  if (suffix != "AM" && suffix != "PM") return parts.hour <= 23;
  text.remove_prefix(2);
  if (parts.hour < 1 || parts.hour > 12) return false;
  parts.hour = static_cast<std::uint16_t>(parts.hour % 12 + (suffix == "PM" ? 12 : 0));
  return true;
}

// An MLSD time, "YYYYMMDDHHMMSS" with optional fractions of a second, in
// UTC, as local time; 0 when it is no valid time.
PackedDateTime ParseMlsdTime(std::string_view text) {
  DateTimeParts utc;
  if (!TakeDigits(text, 4, utc.year) || !TakeDigits(text, 2, utc.month) ||
      !TakeDigits(text, 2, utc.day) || !TakeDigits(text, 2, utc.hour) ||
      !TakeDigits(text, 2, utc.minute) || !TakeDigits(text, 2, utc.second)) {
    return 0;
  }
  if (!text.empty() && (text.front() != '.' || LeadingDigits(text.substr(1)) != text.size() - 1)) {
    return 0;
  }
  using namespace std::chrono;
  const year_month_day day{year{utc.year}, month{utc.month}, std::chrono::day{utc.day}};
  if (!day.ok() || utc.hour > 23 || utc.minute > 59 || utc.second > 60) return 0;
  const auto instant = sys_days{day} + hours{utc.hour} + minutes{utc.minute} + seconds{utc.second};
  return PackLocalTime(static_cast<std::time_t>(instant.time_since_epoch().count()));
}

bool Matches(const FtpFileRecord& entry, std::string_view upperMask, std::uint16_t filter) {
  return (entry.attribute & filter) != 0 && MatchFileMask(upperMask, UpperStr(entry.name));
}

}  // namespace

void RemoteListing::Clear() {
  items.clear();
  count = 0;
  cursor = 0;
  mask.Clear();
  filter = 0;
}

bool RemoteListing::Add(const FtpFileRecord& entry) {
  if (Full()) return false;
  items.push_back(entry);
  items.back().listing = this;
  ++count;
  return true;
}

std::uint32_t LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  std::uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
  }
  return value;
}

bool ParseFileSize(std::string_view text, std::int64_t& size) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  size = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (size > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return false;
    size = size * 10 + digit;
  }
  return true;
}

Str255 TakeLine(std::string_view& text) {
  const std::string_view head = text.substr(0, kMaxListingLine);
  if (const std::size_t cr = head.find('\r'); cr != std::string_view::npos) {
    text.remove_prefix(cr + 1);
    return Str255(head.substr(0, cr));
  }
  if (text.size() <= kMaxListingLine) {
    Str255 last(text);
    text = {};
    return last;
  }
  // An over-long line is cut at its last space; the rest starts the next line.
  if (const std::size_t space = head.rfind(' '); space != std::string_view::npos) {
    text.remove_prefix(space + 1);
    return Str255(head.substr(0, space));
  }
  text.remove_prefix(kMaxListingLine + 1);
  return Str255(head);
}

bool ParseListLine(std::string_view text, FtpFileRecord& entry) {
  Str255 line(text);
  if (!line.Empty() && line[0] == '\n') line.Delete(1, 1);
  entry = FtpFileRecord{};
  entry.attribute = !line.Empty() && line[0] == 'd' ? kFtpDirectory : kFtpFile;
  SplitLast(line, ' ', entry.name);

  Str255 timeOrYear, day, month, size;
  for (Str255* column : {&timeOrYear, &day, &month}) {
    SplitLast(line, ' ', *column);
    TrimBlanks(line);
  }
  SplitLast(line, ' ', size);
  return !timeOrYear.Empty() && !day.Empty() && !month.Empty() && !size.Empty() &&
         ParseFileSize(size, entry.size);
}

bool ParseWindowsListLine(std::string_view line, FtpFileRecord& entry) {
  entry = FtpFileRecord{};
  if (!line.empty() && line.front() == '\n') line.remove_prefix(1);
  DateTimeParts parts;
  if (!TakeWindowsDate(line, parts) || !TakeBlanks(line) || !TakeWindowsTime(line, parts) ||
      !TakeBlanks(line)) {
    return false;
  }
  const std::string_view column = TakeUntil(line, ' ');
  TakeBlanks(line);
  if (UpperStr(column) == "<DIR>") {
    entry.attribute = kFtpDirectory;
  } else if (ParseExactSize(column, entry.size)) {
    entry.attribute = kFtpFile;
  } else {
    return false;
  }
  if (!IsEntryName(line)) return false;
  entry.name = line;
  entry.date = PackDateTime(parts);
  return true;
}

bool ParseAnyListLine(std::string_view line, FtpFileRecord& entry) {
  const std::string_view start = line.substr(!line.empty() && line.front() == '\n' ? 1 : 0);
  if (!start.empty() && IsDigit(start.front())) return ParseWindowsListLine(line, entry);
  return ParseListLine(line, entry);
}

bool ParseMlsdLine(std::string_view line, FtpFileRecord& entry) {
  entry = FtpFileRecord{};
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos || !IsEntryName(line.substr(space + 1))) return false;
  std::string_view facts = line.substr(0, space);
  Str255 type;
  bool sized = false;
  while (!facts.empty()) {
    std::string_view value = TakeUntil(facts, ';');
    const Str255 fact = UpperStr(TakeUntil(value, '='));
    if (fact == "TYPE") {
      type = UpperStr(value);
    } else if (fact == "SIZE") {
      sized = ParseExactSize(value, entry.size);
    } else if (fact == "MODIFY") {
      entry.date = ParseMlsdTime(value);
    }
  }
  if (type == "DIR") {
    entry.attribute = kFtpDirectory;
    entry.size = 0;
  } else if (type == "FILE" && sized) {
    entry.attribute = kFtpFile;
  } else {
    return false;
  }
  entry.name = line.substr(space + 1);
  return true;
}

std::string_view TakeMlsdLine(std::string_view& text) {
  const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(std::min(text.find_first_not_of("\r\n", end), text.size()));
  return line;
}

ListingParser::ListingParser(RemoteListing& listing, ListingFormat format)
    : listing_(listing), format_(format) {}

void ListingParser::Feed(std::string_view piece) {
  pending_.append(piece);
  std::string_view text(pending_);
  while (!text.empty() && TakeLineIfReady(text, false)) {
  }
  pending_.erase(0, pending_.size() - text.size());
  if (format_ == ListingFormat::Mlsd && pending_.size() > kMaxMlsdLine) {
    pending_.clear();
    skippingLongLine_ = true;
  }
}

void ListingParser::Finish() {
  std::string_view text(pending_);
  while (!text.empty()) TakeLineIfReady(text, true);
  pending_.clear();
}

bool ListingParser::AtLineEnd() const {
  return pending_.empty() || pending_.back() == '\n' || pending_.back() == '\r';
}

bool ListingParser::TakeLineIfReady(std::string_view& text, bool atEnd) {
  FtpFileRecord entry;
  if (format_ == ListingFormat::Mlsd) {
    if (!atEnd && text.find_first_of("\r\n") == std::string_view::npos) return false;
    const std::string_view line = TakeMlsdLine(text);
    if (skippingLongLine_) {
      skippingLongLine_ = false;  // the rest of a line too long to be an entry
    } else if (line.size() <= kMaxMlsdLine && ParseMlsdLine(line, entry)) {
      listing_.Add(entry);
    }
    return true;
  }
  // A line is complete at its CR, or once it is too long for one line.
  if (!atEnd && text.size() <= kMaxListingLine && text.find('\r') == std::string_view::npos) {
    return false;
  }
  const Str255 line = TakeLine(text);
  if (!line.Empty() && ParseAnyListLine(line, entry)) listing_.Add(entry);
  return true;
}

void ParseListingText(std::string_view text, RemoteListing& listing, ListingFormat format) {
  ListingParser parser(listing, format);
  parser.Feed(text);
  parser.Finish();
}

void StartSearch(RemoteListing& listing, std::string_view mask, std::uint16_t filter) {
  listing.mask = UpperStr(mask);
  listing.filter = filter;
  listing.cursor = 0;
}

bool NextMatch(FtpFileRecord& record) {
  RemoteListing* listing = record.listing;
  if (!listing) return false;
  while (listing->cursor < listing->count) {
    const FtpFileRecord& entry = listing->items[listing->cursor++];
    if (Matches(entry, listing->mask, listing->filter)) {
      record = entry;
      return true;
    }
  }
  return false;
}

bool FindInListing(const RemoteListing& listing, std::string_view name, FtpFileRecord& record) {
  const Str255 mask = UpperStr(name);
  for (std::size_t i = 0; i < listing.count; ++i) {
    if (Matches(listing.items[i], mask, listing.filter)) {
      record = listing.items[i];
      return true;
    }
  }
  return false;
}

void ReleaseListing(FtpFileRecord& record, ListingPtr& listing) {
  listing.reset();
  record.listing = nullptr;
}
