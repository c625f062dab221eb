// The local wildcard search, and the size and attributes of one named entry
// as such a search finds it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/fileattributes.h"
#include "util/packeddate.h"
#include "util/shorttext.h"

namespace quorbit {

// One entry of a local wildcard search.
struct FoundFile {
  std::string name;
  std::uint16_t attributes = 0;
  std::uint64_t size = 0;
  PackedDateTime date = 0;
};

// Entries of directory (empty: the current one) whose names match mask
// (MatchFileMask, the rule of remote names too). "." and ".." are never
// returned.
// As in a DOS search, an entry that is hidden, system or a directory is
// returned only when that bit is in wanted; ordinary files always are (read-
// only ones included). Links are described by what they point at. Sorted by
// name (byte order).
std::vector<FoundFile> FindFiles(std::string_view directory, std::string_view mask,
                                 std::uint16_t wanted);

// The size and attributes of the named entry, 0 when missing.
// FileSizeOf looks only for ordinary files (as a search with kAttrArchive),
// FileAttributesOf for any entry.
std::uint64_t FileSizeOf(std::string_view name);
std::uint16_t FileAttributesOf(std::string_view name);

}  // namespace quorbit
