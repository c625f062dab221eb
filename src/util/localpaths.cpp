#include "util/localpaths.h"

#include <algorithm>
#include <string>

namespace quorbit {

std::string LocalPath(std::string_view path) {
  std::string local(path);
  std::replace(local.begin(), local.end(), '\\', kPathSep);
  return local;
}

std::size_t RootLength(std::string_view path) {
  if (kPathSep == '\\' && path.size() >= 2 && path[1] == ':' && UpperLetter(path[0]) >= 'A' &&
      UpperLetter(path[0]) <= 'Z') {
    return path.size() >= 3 && path[2] == kPathSep ? 3 : 2;
  }
  return path.starts_with(kPathSep) ? 1 : 0;
}

std::string_view DirectoryOf(std::string_view path) {
  const std::size_t sep = path.rfind(kPathSep);
  if (sep == std::string_view::npos) return {};
  // A file in a root keeps the root whole: "/", "C:\\".
  return path.substr(0, sep < RootLength(path) ? sep + 1 : sep);
}

std::string_view LastComponent(std::string_view path) {
  std::size_t sep = path.rfind(kPathSep);
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

bool IsFileSystemRoot(std::string_view path) {
  return path.empty() || IsRootDirectory(path);
}

std::string_view OrCurrentDirectory(std::string_view path) {
  return path.empty() ? std::string_view(".") : path;
}

SystemHandle OpenDirectoryAt(std::string_view path) {
  SystemHandle directory;
  OpenDirectory(OrCurrentDirectory(path), directory);
  return directory;
}

}  // namespace quorbit
