#include "ftp/listing.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "util/filemasks.h"
#include "util/shorttext.h"

namespace quorbit {

namespace {

// Windows-style years of two digits below this are 20xx, others 19xx.
constexpr std::uint16_t kTwoDigitYearPivot = 80;
// IIS writes "<DIR>" and ten blanks before a directory's name.
constexpr std::size_t kWindowsDirPadding = 10;

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

// Takes the next column off the front of text: the blanks before it and the
// text up to the next blank, which stays.
std::string_view TakeColumn(std::string_view& text) {
  TakeBlanks(text);
  const std::size_t end = std::min(text.find(' '), text.size());
  const std::string_view column = text.substr(0, end);
  text.remove_prefix(end);
  return column;
}

bool AllDigits(std::string_view text, std::size_t minCount, std::size_t maxCount) {
  return text.size() >= minCount && text.size() <= maxCount && LeadingDigits(text) == text.size();
}

// A size column: digits only, fitting in 63 bits.
bool ParseExactSize(std::string_view text, std::int64_t& size) {
  return !text.empty() && LeadingDigits(text) == text.size() && ParseFileSize(text, size);
}

// A name a listing entry can carry whole, other than the directory itself
// and its parent.
bool IsEntryName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxRemoteName && name != "." && name != "..";
}

// What the first character of a Unix mode column says the entry is.
enum class UnixKind : std::uint8_t { File, Directory, Link, Other };

// A mode column: the type, nine permission characters, and perhaps one mark
// of an access list or security context ("+", ".", "@").
bool TakeUnixMode(std::string_view column, UnixKind& kind) {
  constexpr std::string_view kPermissions = "-rwxsStTlL";
  if (column.size() < 10 || column.size() > 11) return false;
  if (column.substr(1, 9).find_first_not_of(kPermissions) != std::string_view::npos) return false;
  if (column.size() == 11 && std::string_view("+.@").find(column[10]) == std::string_view::npos) {
    return false;
  }
  switch (column.front()) {
    case '-':
      kind = UnixKind::File;
      return true;
    case 'd':
      kind = UnixKind::Directory;
      return true;
    case 'l':
      kind = UnixKind::Link;
      return true;
    case 'b':
    case 'c':
    case 'p':
    case 's':
    case 'D':
      kind = UnixKind::Other;
      return true;
    default:
      return false;
  }
}

bool IsMonthName(std::string_view column) {
  static constexpr std::string_view kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                 "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  const auto upper = UpperStr(column);
  return std::find(std::begin(kMonths), std::end(kMonths), upper) != std::end(kMonths);
}

// "HH:MM", "H:MM" or "HH:MM:SS".
bool IsClockTime(std::string_view column) {
  const std::size_t colon = column.find(':');
  if (colon == std::string_view::npos || !AllDigits(column.substr(0, colon), 1, 2)) return false;
  const std::string_view minutes = column.substr(colon + 1);
  return AllDigits(minutes, 2, 2) ||
         (minutes.size() == 5 && minutes[2] == ':' && AllDigits(minutes.substr(0, 2), 2, 2) &&
          AllDigits(minutes.substr(3), 2, 2));
}

// "YYYY-MM-DD".
bool IsIsoDate(std::string_view column) {
  return column.size() == 10 && column[4] == '-' && column[7] == '-' &&
         AllDigits(column.substr(0, 4), 4, 4) && AllDigits(column.substr(5, 2), 2, 2) &&
         AllDigits(column.substr(8, 2), 2, 2);
}

// The date columns: month, day and time or year ("Dec  8 18:31",
// "Mar 10  2019"), or an ISO date and a time ("2005-04-08 11:22").
bool TakeUnixDate(std::string_view& text) {
  const std::string_view first = TakeColumn(text);
  if (IsIsoDate(first)) return IsClockTime(TakeColumn(text));
  if (!IsMonthName(first)) return false;
  const std::string_view day = TakeColumn(text);
  if (!AllDigits(day, 1, 2) || LeadingNumber(day) < 1 || LeadingNumber(day) > 31) return false;
  const std::string_view timeOrYear = TakeColumn(text);
  return AllDigits(timeOrYear, 4, 4) || IsClockTime(timeOrYear);
}

// The size, the date and, after one blank, the name: what follows the group
// (or the owner, when the group is left out).
bool TakeSizeDateAndName(std::string_view text, std::int64_t& size, std::string_view& name) {
  if (!ParseExactSize(TakeColumn(text), size) || !TakeUnixDate(text) || !TakeChar(text, ' ')) {
    return false;
  }
  name = text;
  return true;
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
  const auto suffix = UpperStr(text.substr(0, 2));
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
  return (entry.attribute & filter) != 0 && MatchFileMask(upperMask, entry.name);
}

}  // namespace

void RemoteListing::Clear() {
  items.clear();
  count = 0;
  cursor = 0;
  mask.clear();
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

bool ParseListLine(std::string_view line, FtpFileRecord& entry) {
  entry = FtpFileRecord{};
  UnixKind kind = UnixKind::Other;
  if (!TakeUnixMode(TakeColumn(line), kind) || kind == UnixKind::Other) return false;
  const std::string_view linkCount = TakeColumn(line);
  const std::string_view owner = TakeColumn(line);
  if (!AllDigits(linkCount, 1, 20) || owner.empty()) return false;
  // With a group, the size is the column after it; without, the group's.
  std::string_view afterGroup = line;
  TakeColumn(afterGroup);
  std::string_view name;
  if (!TakeSizeDateAndName(afterGroup, entry.size, name) &&
      !TakeSizeDateAndName(line, entry.size, name)) {
    return false;
  }
  if (kind == UnixKind::Link) {
    name = name.substr(0, name.find(" -> "));
    entry.link = true;
    entry.size = kUnknownSize;
  }
  if (!IsEntryName(name)) return false;
  entry.name = name;
  entry.attribute = kind == UnixKind::Directory ? kFtpDirectory : kFtpFile;
  return true;
}

bool ParseWindowsListLine(std::string_view line, FtpFileRecord& entry) {
  entry = FtpFileRecord{};
  DateTimeParts parts;
  if (!TakeWindowsDate(line, parts) || !TakeBlanks(line) || !TakeWindowsTime(line, parts) ||
      !TakeBlanks(line)) {
    return false;
  }
  const std::string_view column = TakeUntil(line, ' ');
  if (UpperStr(column) == "<DIR>") {
    entry.attribute = kFtpDirectory;
    // IIS pads "<DIR>" with blanks to the name's column (the first of them
    // went with the column); what lies beyond belongs to the name.
    const std::size_t blanks = std::min(line.find_first_not_of(' '), line.size());
    line.remove_prefix(std::min(blanks, kWindowsDirPadding - 1));
  } else if (ParseExactSize(column, entry.size)) {
    // The size is aligned to the right, so one blank (taken with it) ends it.
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
  if (!line.empty() && IsDigit(line.front())) return ParseWindowsListLine(line, entry);
  return ParseListLine(line, entry);
}

bool ParseMlsdLine(std::string_view line, FtpFileRecord& entry) {
  entry = FtpFileRecord{};
  // The facts end with ";", and one blank separates them from the name.
  std::size_t factsEnd = line.find("; ");
  if (factsEnd != std::string_view::npos) {
    ++factsEnd;
  } else {
    factsEnd = line.find(' ');
  }
  if (factsEnd == std::string_view::npos || !IsEntryName(line.substr(factsEnd + 1))) return false;
  std::string_view facts = line.substr(0, factsEnd);
  std::string type;
  bool sized = false;
  while (!facts.empty()) {
    std::string_view value = TakeUntil(facts, ';');
    const auto fact = UpperStr(TakeUntil(value, '='));
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
  } else if (type == "OS.UNIX=SYMLINK" || type.starts_with("OS.UNIX=SLINK")) {
    entry.attribute = kFtpFile;
    entry.link = true;
    entry.size = kUnknownSize;
  } else {
    return false;
  }
  entry.name = line.substr(factsEnd + 1);
  return true;
}

std::string_view TakeListingLine(std::string_view& text) {
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
  if (pending_.size() > kMaxListingLine) {
    pending_.clear();
    skippingLongLine_ = true;
  }
}

void ListingParser::Finish() {
  std::string_view text(pending_);
  while (!text.empty()) TakeLineIfReady(text, true);
  pending_.clear();
  skippingLongLine_ = false;
}

bool ListingParser::AtLineEnd() const {
  return pending_.empty() || pending_.back() == '\n' || pending_.back() == '\r';
}

bool ListingParser::TakeLineIfReady(std::string_view& text, bool atEnd) {
  if (!atEnd && text.find_first_of("\r\n") == std::string_view::npos) return false;
  const std::string_view line = TakeListingLine(text);
  if (skippingLongLine_) {
    skippingLongLine_ = false;  // the rest of a line too long to be an entry
    return true;
  }
  if (line.size() > kMaxListingLine) return true;
  FtpFileRecord entry;
  const bool parsed =
      format_ == ListingFormat::Mlsd ? ParseMlsdLine(line, entry) : ParseAnyListLine(line, entry);
  if (parsed) listing_.Add(entry);
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
  const auto mask = UpperStr(name);
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

}  // namespace quorbit
