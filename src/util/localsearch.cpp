#include "util/localsearch.h"

#include <string>

#include "util/filemasks.h"
#include "util/filesystem.h"
#include "util/localpaths.h"

namespace quorbit {

namespace {

// A DOS search takes ordinary files always, and hidden, system and directory
// entries only when asked for.
bool SearchSelects(std::uint16_t attributes, std::uint16_t wanted) {
  constexpr std::uint16_t kSpecial = kAttrHidden | kAttrSystem | kAttrDirectory;
  return (attributes & kSpecial & ~wanted) == 0;
}

// Describes path (relative to the open directory, or as given without one)
// by what a link points at; a dangling link is described as itself.
bool DescribeEntry(const SystemHandle* directory, std::string_view path, FoundFile& found) {
  const std::string p(path);
  const auto stat = [&](bool followLinks, EntryStatus& status) {
    return directory ? StatEntry(*directory, p, followLinks, status)
                     : StatPath(p, followLinks, status);
  };
  EntryStatus status;
  if (stat(true, status) != 0 && stat(false, status) != 0) return false;
  found.name = path;
  found.attributes = AttributesFromStatus(status, path);
  found.size = status.kind == EntryKind::Regular ? status.size : 0;
  found.date = PackLocalTime(status.modified);
  return true;
}

}  // namespace

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): directory, then a mask in it
std::vector<FoundFile> FindFiles(std::string_view directory, std::string_view mask,
                                 std::uint16_t wanted) {
  std::vector<FoundFile> found;
  const SystemHandle dir = OpenDirectoryAt(directory);
  if (!dir.Valid()) return found;
  for (const std::string& name : DirectoryEntries(dir)) {
    FoundFile entry;
    if (MatchFileMask(mask, name) && DescribeEntry(&dir, name, entry) &&
        SearchSelects(entry.attributes, wanted)) {
      found.push_back(entry);
    }
  }
  return found;
}

// A single named path is one file on a file system that tells letter cases
// apart, so these look the name up directly instead of searching.
std::uint64_t FileSizeOf(std::string_view name) {
  FoundFile found;
  if (!DescribeEntry(nullptr, name, found) || !SearchSelects(found.attributes, kAttrArchive))
    return 0;
  return found.size;
}

std::uint16_t FileAttributesOf(std::string_view name) {
  FoundFile found;
  return DescribeEntry(nullptr, name, found) ? found.attributes : 0;
}

}  // namespace quorbit
