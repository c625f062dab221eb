#include "util/fileattributes.h"

#include "util/localpaths.h"
#include "util/systemclock.h"

namespace quorbit {

namespace {

bool LocalTimeOf(PackedDateTime date, std::time_t& t) {
  const DateTimeParts parts = UnpackDateTime(date);
  std::tm tm{};
  tm.tm_year = parts.year - 1900;
  tm.tm_mon = parts.month - 1;
  tm.tm_mday = parts.day;
  tm.tm_hour = parts.hour;
  tm.tm_min = parts.minute;
  tm.tm_sec = parts.second;
  tm.tm_isdst = -1;  // whichever of summer and winter time held on that day
  t = std::mktime(&tm);
  return t != static_cast<std::time_t>(-1);
}

bool IsHiddenName(std::string_view name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

// Opens a regular file for reading; a directory, device or fifo counts as
// no file (and a fifo never blocks the open).
SystemHandle OpenRegular(std::string_view name, EntryStatus& status) {
  SystemHandle file;
  OpenRegularFile(name, file, status);
  return file;
}

}  // namespace

std::uint16_t AttributesFromStatus(const EntryStatus& status, std::string_view name) {
  if (status.hasAttributes) return status.attributes;
  std::uint16_t attributes = status.kind == EntryKind::Directory ? kAttrDirectory
                             : status.kind == EntryKind::Regular ? kAttrArchive
                                                                 : kAttrSystem;
  if (!status.ownerWritable) attributes |= kAttrReadOnly;
  if (IsHiddenName(LastComponent(name))) attributes |= kAttrHidden;
  return attributes;
}

void SetAttributes(std::string_view name, std::uint16_t attributes) {
  SetWritable(name, (attributes & kAttrReadOnly) == 0);
}

bool FileExists(std::string_view name) {
  EntryStatus status;
  return OpenRegular(name, status).Valid();
}

PackedDateTime GetFileDate(std::string_view name) {
  EntryStatus status;
  if (!OpenRegular(name, status).Valid()) return 0;
  return PackLocalTime(status.modified);
}

PackedDateTime PackLocalTime(std::time_t t) {
  std::tm tm{};
  return ToLocalTime(t, tm) ? PackBrokenDownTime(tm) : 0;
}

bool SetFileDate(std::string_view name, PackedDateTime date) {
  EntryStatus status;
  const SystemHandle file = OpenRegular(name, status);
  std::time_t t;
  return file.Valid() && LocalTimeOf(date, t) && SetModifiedTime(file, t) == 0;
}

}  // namespace quorbit
