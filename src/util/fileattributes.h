// Attributes and dates of local files: the DOS attribute bits as the rest of
// the system knows them, read-only set and cleared, whether a file can be
// read, and file dates read and set in local time.
#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>

#include "util/filesystem.h"
#include "util/packeddate.h"

namespace quorbit {

// Attribute bits as the rest of the system knows them. On Windows the file
// system's own. On Linux: directory and regular file (archive) from the file
// type, read-only when the owner lacks write permission, hidden when the name
// starts with '.', system for anything that is neither a regular file nor a
// directory.
constexpr std::uint16_t kAttrReadOnly = 1;
constexpr std::uint16_t kAttrHidden = 2;
constexpr std::uint16_t kAttrSystem = 4;
constexpr std::uint16_t kAttrDirectory = 16;
constexpr std::uint16_t kAttrArchive = 32;
constexpr std::uint16_t kAttrAny = 0x3F;

// The attribute bits of the entry named name with that status: the file
// system's own where it keeps them, else the Linux mapping above.
std::uint16_t AttributesFromStatus(const EntryStatus& status, std::string_view name);

// 0 makes the file writable for its owner; kAttrReadOnly takes every write
// permission away. Other bits are left as they are.
void SetAttributes(std::string_view name, std::uint16_t attributes);
// True for a regular file that can be opened for reading.
bool FileExists(std::string_view name);
PackedDateTime GetFileDate(std::string_view name);  // local time; 0 when not a readable file
// The instant (seconds since the epoch) in local time; 0 outside 1980..2099.
PackedDateTime PackLocalTime(std::time_t t);
bool SetFileDate(std::string_view name, PackedDateTime date);

}  // namespace quorbit
