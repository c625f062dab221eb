#include "util/directorytrees.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

#include "util/fileattributes.h"
#include "util/localpaths.h"
#include "util/runfiles.h"

namespace quorbit {

namespace {

bool IsStatDirectory(std::string_view path) {
  EntryStatus status;
  return StatPath(OrCurrentDirectory(path), true, status) == 0 &&
         status.kind == EntryKind::Directory;
}

bool IsDenied(const FileResult& result) {
  return result.error == std::errc::permission_denied ||
         result.error == std::errc::operation_not_permitted;
}

// Drops one trailing separator, but keeps a root ("/", "C:\\") whole.
std::string_view DropTrailingSep(std::string_view path) {
  if (path.size() > RootLength(path) && path.back() == kPathSep) path.remove_suffix(1);
  return path;
}

// What making the path the current directory would report; empty is the
// current directory itself.
FileResult DirectoryResult(std::string_view path) {
  EntryStatus status;
  const std::string_view p = OrCurrentDirectory(path);
  if (const int err = StatPath(p, true, status); err != 0) return FileResultOf(err);
  if (status.kind != EntryKind::Directory) return FileResultOf(ENOTDIR);
  return FileResultOf(CheckEnterable(p));
}

// The parts of path below root, in order; nullopt when path does not begin
// with root (as a whole directory).
std::optional<std::vector<std::string>> PartsBelow(std::string_view root, std::string_view path) {
  while (root.size() > RootLength(root) && root.back() == kPathSep) root.remove_suffix(1);
  if (!path.starts_with(root)) return std::nullopt;
  std::string_view rest = path.substr(root.size());
  if (!rest.empty() && rest.front() != kPathSep && !root.empty() && root.back() != kPathSep) {
    return std::nullopt;  // "/data2" is not inside "/data"
  }
  std::vector<std::string> parts;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find(kPathSep), rest.size());
    const std::string_view part = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (!part.empty() && part != ".") parts.emplace_back(part);
  }
  return parts;
}

std::string OutsideLine(std::string_view path, std::string_view root) {
  return "Not writing " + std::string(path) + ": its real path is not inside " +
         std::string(OrCurrentDirectory(root));
}

// Opens the directory at root + parts, entering every part below root
// without following a link; a missing part is made when make is set.
// Fails with refusal set when a part is a link or "..".
SystemHandle OpenBelow(std::string_view root, const std::vector<std::string>& parts, bool make,
                       std::string_view path, std::string& refusal) {
  SystemHandle directory;
  if (OpenDirectory(OrCurrentDirectory(root), directory) != 0) return {};
  for (const std::string& part : parts) {
    const bool climbs = part == "..";
    SystemHandle sub = climbs ? SystemHandle() : OpenSubdirectory(directory, part);
    if (!sub.Valid() && !climbs && make) {
      MakeSubdirectory(directory, part);
      sub = OpenSubdirectory(directory, part);
    }
    if (!sub.Valid()) {
      EntryStatus status;
      if (climbs ||
          (StatEntry(directory, part, false, status) == 0 && status.kind == EntryKind::Link)) {
        refusal = OutsideLine(path, root);
      }
      return {};
    }
    directory = std::move(sub);
  }
  return directory;
}

// Removes the contents of an open directory without ever following a link:
// every entry is examined and opened relative to its parent directory.
// Errors are ignored; what cannot be removed stays.
void ClearDirectory(const SystemHandle& directory) {
  for (const std::string& name : DirectoryEntries(directory)) {
    EntryStatus status;
    if (StatEntry(directory, name, false, status) != 0) continue;
    if (status.kind == EntryKind::Directory) {
      // Closed before the removal: Windows removes no directory still open.
      if (const SystemHandle sub = OpenSubdirectory(directory, name); sub.Valid()) {
        ClearDirectory(sub);
      }
      RemoveEntry(directory, name, true);
    } else if (status.kind == EntryKind::Link ||
               (AttributesFromStatus(status, name) & kAttrArchive) != 0) {
      // A read-only file goes as well: on Linux its directory's permission
      // decides, on Windows the removal clears the attribute first.
      RemoveEntry(directory, name, false);
    }
  }
}

}  // namespace

FileResult EnsureDirectory(std::string_view path) {
  const std::string_view directory = DropTrailingSep(path);
  const FileResult found = DirectoryResult(directory);
  if (IsMissing(found)) return MakeDirectoryPath(directory);
  return found;  // access denied, or no directory: nothing is made
}

bool EnsureDirectoryBelow(std::string_view root, std::string_view path, std::string& refusal) {
  if (root.empty()) return static_cast<bool>(EnsureDirectory(path));
  const auto parts = PartsBelow(root, path);
  if (!parts) {
    refusal = OutsideLine(path, root);
    return false;
  }
  return EnsureDirectory(root) && OpenBelow(root, *parts, true, path, refusal).Valid();
}

SystemHandle OpenParentBelow(std::string_view root, std::string_view path, std::string& refusal) {
  const std::string_view directory = path.substr(0, path.size() - LastComponent(path).size());
  const auto parts = PartsBelow(root, directory);
  if (!parts) {
    refusal = OutsideLine(path, root);
    return {};
  }
  return OpenBelow(root, *parts, false, path, refusal);
}

FileResult MakeDirectoryPath(std::string_view path) {
  if (path.size() <= RootLength(path)) return FileResultOf(EEXIST);  // a root is never made
  const std::string target(DropTrailingSep(path));
  const std::string_view parent = DropTrailingSep(DirectoryOf(target));
  // An empty parent is the current directory, so relative chains start there.
  if (const FileResult found = DirectoryResult(parent); !found) {
    if (!IsMissing(found)) return found;
    if (const FileResult made = MakeDirectoryPath(parent); !made) return made;
  }
  const FileResult made = FileResultOf(MakeDirectory(target));
  // What stands in the way is no directory, or the chain would have ended
  // above.
  if (made.error == std::errc::file_exists && !IsStatDirectory(target)) {
    return FileResultOf(ENOTDIR);
  }
  return made;
}

FileResult DeleteFileForced(std::string_view name) {
  if (!RunFileRole(name).empty()) return FileResultOf(EACCES);
  FileResult removed = FileResultOf(RemoveFileName(name));
  if (IsDenied(removed)) {
    SetAttributes(name, 0);
    removed = FileResultOf(RemoveFileName(name));
  }
  return removed;
}

bool DeleteTree(std::string_view directory) {
  if (IsFileSystemRoot(directory)) return true;
  const SystemHandle dir = OpenDirectoryAt(directory);
  if (dir.Valid()) ClearDirectory(dir);
  return true;
}

}  // namespace quorbit
