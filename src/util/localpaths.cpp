#include "util/localpaths.h"

#include <string>

namespace quorbit {

Str255 LocalPath(std::string_view path) {
  Str255 local(path);
  ReplaceChars(local, CharSet("\\"), kPathSep);
  return local;
}

std::size_t RootLength(std::string_view path) {
  if (kPathSep == '\\' && path.size() >= 2 && path[1] == ':' && UpperLetter(path[0]) >= 'A' &&
      UpperLetter(path[0]) <= 'Z') {
    return path.size() >= 3 && path[2] == kPathSep ? 3 : 2;
  }
  return path.starts_with(kPathSep) ? 1 : 0;
}

void SplitFileName(std::string_view path, Str255& directory, Str255& name, Str255& extension) {
  const std::string whole(path);  // the outputs may alias the input
  std::string_view rest(whole);
  const std::size_t sep = rest.rfind(kPathSep);
  const std::size_t nameStart = sep == std::string_view::npos ? 0 : sep + 1;
  const std::size_t dot = rest.rfind('.');
  if (dot != std::string_view::npos && dot >= nameStart) {
    extension = rest.substr(dot);
    rest = rest.substr(0, dot);
  } else {
    extension.Clear();
  }
  name = rest.substr(nameStart);
  directory = DirectoryOf(whole);
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
