// Local paths as the platform spells them: the separator, roots, splitting a
// path into directory, name and extension, and the current directory that an
// empty path stands for.
//
// Local paths use the platform separator (kPathSep: '\\' on Windows, '/' on
// Linux). A root ("X:\\" on Windows, "/" on Linux) always exists, is never
// created and never cleared. A relative path is taken from the current
// directory, which nothing here changes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "util/filesystem.h"
#include "util/shorttext.h"

namespace quorbit {

#ifdef _WIN32
constexpr char kPathSep = '\\';
// Windows names files without regard to letter case, so names taken from
// the command line are upper-cased as the system always showed them.
constexpr bool kNamesIgnoreCase = true;
#else
constexpr char kPathSep = '/';
constexpr bool kNamesIgnoreCase = false;
#endif

// A local path taken from the INI file or written on another system: every
// "\" becomes the platform separator.
std::string LocalPath(std::string_view path);

// The length of the root at the start of a local path: on Windows 3 for a
// drive root "C:\\", 2 for a drive "C:", 1 for a leading "\\"; on Linux 1 for
// "/"; 0 for a relative path.
std::size_t RootLength(std::string_view path);

// The directory part of path: "/data" for "/data/file.txt", the root whole
// for a file in it ("/" for "/file.txt", "C:\\" for "C:\\file.txt" on
// Windows), empty without a separator.
std::string_view DirectoryOf(std::string_view path);

// What follows the last separator; the whole path when it has none.
std::string_view LastComponent(std::string_view path);

// True when path names the root of the file system (also through "..",
// repeated separators or links), or is empty: such a path is never cleared.
bool IsFileSystemRoot(std::string_view path);

// The current directory stands for an empty path.
std::string_view OrCurrentDirectory(std::string_view path);

// The directory path names (empty: the current one), opened for the calls
// relative to it; invalid when it cannot be opened.
SystemHandle OpenDirectoryAt(std::string_view path);

}  // namespace quorbit
