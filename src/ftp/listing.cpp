#include "ftp/listing.h"

#include <limits>

namespace {

bool Matches(const FtpFileRecord& entry, std::string_view upperMask, std::uint16_t filter) {
  return (entry.attribute & filter) != 0 && MatchFileMask(upperMask, UpperStr(entry.name));
}

}  // namespace

void RemoteListing::Clear() {
  items.fill(FtpFileRecord{});
  count = 0;
  cursor = 0;
  mask.Clear();
  filter = 0;
}

bool RemoteListing::Add(const FtpFileRecord& entry) {
  if (count >= kMaxListingEntries) return false;
  items[count] = entry;
  items[count].listing = this;
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

void ParseListingText(std::string_view text, RemoteListing& listing) {
  while (!text.empty()) {
    const Str255 line = TakeLine(text);
    FtpFileRecord entry;
    if (!line.Empty() && ParseListLine(line, entry)) listing.Add(entry);
  }
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
