#include "util/localfiles.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "util/emptyguard.h"
#include "util/filesystem.h"
#include "util/stoprequest.h"
#include "util/systemclock.h"

namespace quorbit {

namespace {

// Appended, after a leading ".", to a download's target name while it arrives.
constexpr std::string_view kPartSuffix = ".quorbit-part";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view LastComponent(std::string_view path) {
  std::size_t sep = path.rfind(kPathSep);
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

// The current directory stands for an empty path.
std::string_view OrCurrentDirectory(std::string_view path) {
  return path.empty() ? std::string_view(".") : path;
}

bool IsStatDirectory(std::string_view path) {
  EntryStatus status;
  return StatPath(OrCurrentDirectory(path), true, status) == 0 &&
         status.kind == EntryKind::Directory;
}

// The outcome of a system call that reports the system's error number.
FileResult ResultOf(int err) {
  return {err == 0 ? std::error_code() : std::error_code(err, std::generic_category())};
}

bool IsMissing(const FileResult& result) {
  return result.error == std::errc::no_such_file_or_directory;
}

bool IsDenied(const FileResult& result) {
  return result.error == std::errc::permission_denied ||
         result.error == std::errc::operation_not_permitted;
}

// Drops one trailing separator, but keeps a root ("/", "C:\\") whole.
Str255 DropTrailingSep(std::string_view path) {
  if (path.size() > RootLength(path) && path.back() == kPathSep) path.remove_suffix(1);
  return Str255(path);
}

// What making the path the current directory would report; empty is the
// current directory itself.
FileResult DirectoryResult(std::string_view path) {
  EntryStatus status;
  const std::string_view p = OrCurrentDirectory(path);
  if (const int err = StatPath(p, true, status); err != 0) return ResultOf(err);
  if (status.kind != EntryKind::Directory) return ResultOf(ENOTDIR);
  return ResultOf(CheckEnterable(p));
}

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

std::uint16_t AttributesFromStatus(const EntryStatus& status, std::string_view name) {
  if (status.hasAttributes) return status.attributes;
  std::uint16_t attributes = status.kind == EntryKind::Directory ? kAttrDirectory
                             : status.kind == EntryKind::Regular ? kAttrArchive
                                                                 : kAttrSystem;
  if (!status.ownerWritable) attributes |= kAttrReadOnly;
  if (IsHiddenName(LastComponent(name))) attributes |= kAttrHidden;
  return attributes;
}

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

SystemHandle OpenDirectoryAt(std::string_view path) {
  SystemHandle directory;
  OpenDirectory(OrCurrentDirectory(path), directory);
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

// Opens a regular file for reading; a directory, device or fifo counts as
// no file (and a fifo never blocks the open).
SystemHandle OpenRegular(std::string_view name, EntryStatus& status) {
  SystemHandle file;
  OpenRegularFile(name, file, status);
  return file;
}

// The length in bytes of the character at name[at]: a whole UTF-8 sequence,
// or one byte where the name is no valid UTF-8 there.
std::size_t CharLength(std::string_view name, std::size_t at) {
  const auto lead = static_cast<unsigned char>(name[at]);
  const std::size_t length = lead >= 0xF0 && lead < 0xF8 ? 4
                             : lead >= 0xE0              ? 3
                             : lead >= 0xC0              ? 2
                                                         : 1;
  if (at + length > name.size()) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(name[at + i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

// How many bytes of name, from at, the mask character takes: 0 when it does
// not match there. "?" takes any one character, "@" one that is no digit,
// "#" a digit (or itself, so that a name holding "#" is still matched by
// its own spelling); any other character itself, letters without regard to
// case.
std::size_t MaskCharTakes(char pattern, std::string_view name, std::size_t at) {
  const char c = name[at];
  if (pattern == '?' || (pattern == '@' && !IsDigit(c))) return CharLength(name, at);
  if (pattern == '#') return IsDigit(c) || c == '#' ? 1 : 0;
  return UpperLetter(pattern) == UpperLetter(c) ? 1 : 0;
}

// The whole name against the whole mask, "*" taking any run of characters.
// A failed try of a "*" takes one more character and tries again, from the
// last "*" only: what an earlier one took never needs to change.
bool WildcardMatch(std::string_view mask, std::string_view name) {
  std::size_t m = 0, n = 0;
  std::size_t star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      star = m++;
      resume = n;
      continue;
    }
    const std::size_t taken = m < mask.size() ? MaskCharTakes(mask[m], name, n) : 0;
    if (taken > 0) {
      ++m;
      n += taken;
    } else if (star != std::string_view::npos) {
      m = star + 1;
      resume += CharLength(name, resume);
      n = resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

// One of the files of the run, as ProtectRunFiles found it.
struct RunFile {
  std::string_view role;
  std::string entry;     // its directory resolved, plus its name
  std::string resolved;  // through every link
  bool identified = false;
  FileIdentity identity;
};

std::vector<RunFile>& ProtectedFiles() {
  static std::vector<RunFile> files;
  return files;
}

// The directory entry path names: its directory resolved through links, "."
// and "..", its own name as written (a link is itself). Empty when the
// directory cannot be resolved.
std::string EntryPath(std::string_view path) {
  while (path.size() > RootLength(path) && path.back() == kPathSep) path.remove_suffix(1);
  const std::size_t sep = path.rfind(kPathSep);
  const std::string_view name = sep == std::string_view::npos ? path : path.substr(sep + 1);
  if (name.empty() || name == "." || name == "..") return ResolvedPath(path);
  std::string directory =
      ResolvedPath(sep == std::string_view::npos ? std::string_view() : path.substr(0, sep + 1));
  if (directory.empty()) return {};
  if (directory.back() != kPathSep) directory += kPathSep;
  return directory + std::string(name);
}

bool SamePath(std::string_view a, std::string_view b) {
  if (a.empty() || a.size() != b.size()) return false;
  if (!kNamesIgnoreCase) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperLetter(a[i]) != UpperLetter(b[i])) return false;
  }
  return true;
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
  return Cat(Cat("Not writing ", path) + ": its real path is not inside ", OrCurrentDirectory(root))
      .Str();
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

}  // namespace

PackedDateTime PackLocalTime(std::time_t t) {
  std::tm tm{};
  return ToLocalTime(t, tm) ? PackBrokenDownTime(tm) : 0;
}

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

bool RenameReplacing(std::string_view from, std::string_view target) {
  return RunFileRole(target).empty() && RenameOver(from, target) == 0;
}

void ProtectRunFiles(std::string_view iniFile, std::string_view runLog, std::string_view debugLog) {
  std::vector<RunFile>& files = ProtectedFiles();
  files.clear();
  const std::pair<std::string_view, std::string_view> named[] = {
      {"INI file", iniFile}, {"run log", runLog}, {"debug log", debugLog}};
  for (const auto& [role, name] : named) {
    if (name.empty()) continue;
    RunFile file;
    file.role = role;
    file.entry = EntryPath(name);
    file.resolved = ResolvedPath(name);
    file.identified = IdentityOf(name, true, file.identity) == 0;
    files.push_back(std::move(file));
  }
}

std::string_view RunFileRole(std::string_view path) {
  const std::vector<RunFile>& files = ProtectedFiles();
  if (files.empty() || path.empty()) return {};
  // The entry itself, and what it leads to when it is a link.
  const std::string entry = EntryPath(path);
  const std::string resolved = ResolvedPath(path);
  FileIdentity identity;
  const bool identified = IdentityOf(path, true, identity) == 0;
  for (const RunFile& file : files) {
    const auto names = [&file](const std::string& p) {
      return SamePath(p, file.entry) || SamePath(p, file.resolved);
    };
    if (names(entry) || names(resolved) ||
        (identified && file.identified && identity == file.identity)) {
      return file.role;
    }
  }
  return {};
}

std::string NotOverwritingLine(std::string_view path) {
  const std::string_view role = RunFileRole(path);
  if (role.empty()) return {};
  return Cat(Cat("Not overwriting ", path) + ": it is this run's ", role).Str();
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
  if (sep == std::string_view::npos) {
    directory.Clear();
  } else {
    // A file in a root keeps the root whole: "/", "C:\\".
    directory = rest.substr(0, sep < RootLength(rest) ? sep + 1 : sep);
  }
}

bool TextFile::Close() {
  if (!file_) return true;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return closed;
}

FileResult TextFile::OpenMode(const char* mode) {
  Close();
  file_ = OpenStream(name_, mode);
  EntryStatus status;
  if (!file_) {
    // Windows refuses to open a directory as "access denied"; say what it is.
    const int error = errno;
    const bool directory =
        StatPath(name_, true, status) == 0 && status.kind == EntryKind::Directory;
    return ResultOf(directory ? EISDIR : error);
  }
  if (StatStream(file_, status) == 0 && status.kind == EntryKind::Directory) {
    Close();
    return ResultOf(EISDIR);
  }
  return {};
}

PartFile::PartFile(std::string_view target, std::string_view root)
    : PartFile(target, root, "." + std::string(LastComponent(target)) + std::string(kPartSuffix)) {
  ownPartName_ = true;
}

PartFile::PartFile(std::string_view target, std::string_view root, std::string_view partName)
    : target_(target),
      root_(root),
      targetName_(LastComponent(target)),
      partName_(partName),
      ownPartName_(false) {
  part_ = target_.substr(0, target_.size() - targetName_.size()) + partName_;
  if (root_.empty()) root_ = target_.substr(0, target_.size() - targetName_.size());
}

PartFile::~PartFile() {
  if (created_ && !committed_) {
    file_.Close();
    RemoveEntry(directory_, partName_, false);
  }
  ForgetPartFileInProgress(part_);
}

// Opens the target's directory from root, entering no link on the way.
bool PartFile::OpenTargetDirectory() {
  const std::string_view directory =
      std::string_view(target_).substr(0, target_.size() - targetName_.size());
  const auto parts = PartsBelow(root_, directory);
  if (!parts) {
    refusal_ = OutsideLine(target_, root_);
    return false;
  }
  directory_ = OpenBelow(root_, *parts, false, target_, refusal_);
  return directory_.Valid();
}

bool PartFile::Create() {
  if (targetName_.empty() || targetName_ == "." || targetName_ == "..") return false;
  refusal_ = NotOverwritingLine(target_);
  if (!refusal_.empty() || !OpenTargetDirectory()) return false;
  EntryStatus status;
  if (StatEntry(directory_, targetName_, false, status) == 0 &&
      (status.kind == EntryKind::Directory ||
       (status.kind == EntryKind::Regular && !status.ownerWritable))) {
    return false;
  }
  // A part file left by an earlier run goes; whatever stands at its name is
  // removed itself (a link is never followed), and the file made anew.
  if (ownPartName_) RemoveEntry(directory_, partName_, false);
  created_ = CreateNewEntry(directory_, partName_, file_) == 0;
  // Only a file made here, so that a program ended at once removes its own.
  if (created_) NotePartFileInProgress(part_);
  return created_;
}

bool PartFile::Write(const char* bytes, std::size_t count) {
  return file_.Valid() && WriteFileBytes(file_, bytes, count) == 0;
}

bool PartFile::Commit() {
  if (!file_.Valid()) return false;
  const bool closed = file_.Close();
  committed_ = closed && RunFileRole(target_).empty() &&
               RenameEntry(directory_, partName_, targetName_) == 0;
  return committed_;
}

FileResult OpenTextRead(TextFile& file) {
  return file.OpenMode("r");
}

FileResult CreateTextFile(TextFile& file) {
  const FileResult opened = file.OpenMode("w");
  if (!IsMissing(opened)) return opened;
  Str255 directory, name, extension;
  SplitFileName(file.Name(), directory, name, extension);
  if (const FileResult made = EnsureDirectory(directory); !made) return made;
  return file.OpenMode("w");
}

FileResult AppendTextFile(TextFile& file) {
  const FileResult opened = file.OpenMode("a");
  return IsMissing(opened) ? CreateTextFile(file) : opened;
}

FileResult EnsureDirectory(std::string_view path) {
  const Str255 directory = DropTrailingSep(path);
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

FileResult MakeDirectoryPath(std::string_view path) {
  if (path.size() <= RootLength(path)) return ResultOf(EEXIST);  // a root is never made
  Str255 parentPart, name, extension;
  SplitFileName(DropTrailingSep(path), parentPart, name, extension);
  const Str255 parent = DropTrailingSep(parentPart);
  // An empty parent is the current directory, so relative chains start there.
  if (const FileResult found = DirectoryResult(parent); !found) {
    if (!IsMissing(found)) return found;
    if (const FileResult made = MakeDirectoryPath(parent); !made) return made;
  }
  Str255 target = parent;
  EnsureTrailing(target, kPathSep);
  target += name.View();
  target += extension.View();
  const FileResult made = ResultOf(MakeDirectory(target));
  // What stands in the way is no directory, or the chain would have ended
  // above.
  if (made.error == std::errc::file_exists && !IsStatDirectory(target)) return ResultOf(ENOTDIR);
  return made;
}

FileResult DeleteFileForced(std::string_view name) {
  if (!RunFileRole(name).empty()) return ResultOf(EACCES);
  FileResult removed = ResultOf(RemoveFileName(name));
  if (IsDenied(removed)) {
    SetAttributes(name, 0);
    removed = ResultOf(RemoveFileName(name));
  }
  return removed;
}

bool IsFileSystemRoot(std::string_view path) {
  return path.empty() || IsRootDirectory(path);
}

bool DeleteTree(std::string_view directory) {
  if (IsFileSystemRoot(directory)) return true;
  const SystemHandle dir = OpenDirectoryAt(directory);
  if (dir.Valid()) ClearDirectory(dir);
  return true;
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

bool SetFileDate(std::string_view name, PackedDateTime date) {
  EntryStatus status;
  const SystemHandle file = OpenRegular(name, status);
  std::time_t t;
  return file.Valid() && LocalTimeOf(date, t) && SetModifiedTime(file, t) == 0;
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

bool MatchFileMask(std::string_view mask, std::string_view name) {
  if (WildcardMatch(mask, name)) return true;
  // A trailing ".*" or "." also stands for "no extension", so "*.*" takes
  // every name and "*." those without a dot.
  if (mask.ends_with(".*")) {
    mask.remove_suffix(2);
  } else if (mask.ends_with('.')) {
    mask.remove_suffix(1);
  } else {
    return false;
  }
  return name.find('.') == std::string_view::npos && WildcardMatch(mask, name);
}

Str255 ShortFileName(std::string_view directory, std::string_view fileName) {
  const std::size_t dot = fileName.rfind('.');
  Str255 name(fileName.substr(0, dot));
  Str255 extension(dot == std::string_view::npos ? std::string_view() : fileName.substr(dot));
  if (name.Length() <= 8 && extension.Length() <= 4) {
    ReplaceChars(name, CharSet(" "), '_');
    ReplaceChars(extension, CharSet(" "), '_');
    return name + extension.View();
  }
  extension = extension.Copy(1, 4);
  ReplaceChars(name, CharSet(" ."), '_');
  if (name.Length() > 5) {
    name = name.Copy(1, 5) + '~';
    Str255 folder(directory);
    EnsureTrailing(folder, kPathSep);  // so the candidates are looked for inside it
    std::uint16_t n = 0;
    while (n < 99 && FileExists((folder + name.View() + TwoDigits(n).View()) + extension.View())) {
      ++n;
    }
    name += TwoDigits(n).View();
  }
  return name + extension.View();
}

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

}  // namespace quorbit
