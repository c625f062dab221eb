// Files and directories over Windows. Paths are 8-bit text in the system's
// ANSI code page, as the INI files that name them are written, so the "A"
// calls are used throughout.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "util/filesystem.h"

namespace {

// What a SystemHandle holds here: the system's handle and, for a directory,
// its path, under which its entries are named.
struct OpenEntry {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string path;
};

OpenEntry& EntryOf(const SystemHandle& handle) {
  return *reinterpret_cast<OpenEntry*>(handle.Native());
}

SystemHandle Own(HANDLE handle, std::string path = {}) {
  if (handle == INVALID_HANDLE_VALUE) return SystemHandle();
  return SystemHandle(reinterpret_cast<std::intptr_t>(new OpenEntry{handle, std::move(path)}));
}

// The system's error as the portable error number the callers know.
int ErrnoFromWindows(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return EINVAL;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

int LastErrorUnless(bool succeeded) {
  return succeeded ? 0 : ErrnoFromWindows(GetLastError());
}

std::time_t TimeFromFileTime(const FILETIME& time) {
  // 100-nanosecond ticks from 1601-01-01 (the file-time origin) to the epoch.
  constexpr unsigned long long kEpochTicks = 116444736000000000ULL;
  const unsigned long long ticks =
      (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<std::time_t>((ticks - kEpochTicks) / 10000000ULL);
}

FILETIME FileTimeFromTime(std::time_t t) {
  const unsigned long long ticks =
      static_cast<unsigned long long>(t) * 10000000ULL + 116444736000000000ULL;
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// A reparse point (junction, symbolic link) described as itself is a link;
// everything else by its directory bit.
EntryStatus StatusOf(DWORD attributes, std::uint64_t size, const FILETIME& written,
                     bool followedLinks) {
  EntryStatus status;
  const bool link = !followedLinks && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  status.kind = link                                           ? EntryKind::Link
                : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Directory
                : (attributes & FILE_ATTRIBUTE_DEVICE) != 0    ? EntryKind::Other
                                                               : EntryKind::Regular;
  status.ownerWritable = (attributes & FILE_ATTRIBUTE_READONLY) == 0;
  status.size = status.kind == EntryKind::Regular ? size : 0;
  status.modified = TimeFromFileTime(written);
  status.attributes = static_cast<std::uint16_t>(attributes & kDosAttributeBits);
  status.hasAttributes = true;
  return status;
}

int StatusOfHandle(HANDLE handle, EntryStatus& status) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return ErrnoFromWindows(GetLastError());
  const std::uint64_t size =
      (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  status = StatusOf(info.dwFileAttributes, size, info.ftLastWriteTime, true);
  return 0;
}

HANDLE OpenExisting(const std::string& path, DWORD access, DWORD flags) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, flags, nullptr);
}

std::string Joined(const std::string& directory, const std::string& name) {
  std::string path = directory;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path + name;
}

// Opens a directory for listing and naming its entries. Without links, the
// handle refuses to let the directory be renamed or removed while it is
// open, so its path keeps naming it.
SystemHandle OpenDirectoryHandle(const std::string& path, bool followLinks) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const HANDLE handle =
      CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
  SystemHandle directory = Own(handle, path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (directory.Valid() &&
      (!GetFileInformationByHandle(handle, &info) ||
       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
       (!followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))) {
    directory.Close();
    SetLastError(ERROR_DIRECTORY);
  }
  return directory;
}

std::string FullPath(std::string_view path) {
  char buffer[MAX_PATH * 2];
  const DWORD length = GetFullPathNameA(std::string(path).c_str(), sizeof buffer, buffer, nullptr);
  return length == 0 || length >= sizeof buffer ? std::string() : std::string(buffer, length);
}

// The absolute path in UTF-16 with the "\\?\" that lifts the classic path
// limit; empty when it cannot be had.
std::wstring LongWidePath(std::string_view path) {
  const int size = static_cast<int>(path.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, path.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), size, wide.data(), length);
  std::wstring full(GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr), L'\0');
  const DWORD written =
      GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (full.empty() || written == 0 || written >= full.size()) return {};
  full.resize(written);
  if (full.starts_with(L"\\\\?\\")) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

void DropTrailingSeparators(std::string& path) {
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
}

}  // namespace

bool SystemHandle::Close() {
  if (!Valid()) return true;
  OpenEntry* entry = &EntryOf(*this);
  const bool closed = CloseHandle(entry->handle) != 0;
  delete entry;
  native_ = kNone;
  return closed;
}

int StatPath(std::string_view path, bool followLinks, EntryStatus& status) {
  const std::string p(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(p.c_str(), GetFileExInfoStandard, &data)) {
    return ErrnoFromWindows(GetLastError());
  }
  if (followLinks && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // What the link points at: its own handle tells.
    SystemHandle target(Own(OpenExisting(p, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS)));
    if (!target.Valid()) return ErrnoFromWindows(GetLastError());
    return StatusOfHandle(EntryOf(target).handle, status);
  }
  const std::uint64_t size =
      (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  status = StatusOf(data.dwFileAttributes, size, data.ftLastWriteTime, followLinks);
  return 0;
}

bool IsRootDirectory(std::string_view path) {
  // The root of a drive or of a volume mounted in a folder.
  std::string full = FullPath(path);
  char volume[MAX_PATH * 2];
  if (full.empty() || !GetVolumePathNameA(full.c_str(), volume, sizeof volume)) return false;
  std::string root(volume);
  DropTrailingSeparators(full);
  DropTrailingSeparators(root);
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, full.c_str(), -1, root.c_str(), -1) ==
         CSTR_EQUAL;
}

int CheckEnterable(std::string_view path) {
  const DWORD attributes = GetFileAttributesA(std::string(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ErrnoFromWindows(GetLastError());
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ENOTDIR;
}

int MakeDirectory(std::string_view path) {
  return LastErrorUnless(CreateDirectoryA(std::string(path).c_str(), nullptr) != 0);
}

int RemoveFileName(std::string_view path) {
  return LastErrorUnless(DeleteFileA(std::string(path).c_str()) != 0);
}

int SetWritable(std::string_view path, bool writable) {
  const std::string p(path);
  DWORD attributes = GetFileAttributesA(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ErrnoFromWindows(GetLastError());
  attributes = writable ? attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}
                        : attributes | FILE_ATTRIBUTE_READONLY;
  return LastErrorUnless(SetFileAttributesA(p.c_str(), attributes) != 0);
}

int RenameOver(std::string_view from, std::string_view to) {
  // A part file's name is longer than its target's and may pass the classic
  // path limit: the rename takes the long form of both paths.
  const std::wstring source = LongWidePath(from), target = LongWidePath(to);
  if (source.empty() || target.empty()) return EINVAL;
  return LastErrorUnless(MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) !=
                         0);
}

int OpenDirectory(std::string_view path, SystemHandle& directory) {
  directory = OpenDirectoryHandle(std::string(path), true);
  return LastErrorUnless(directory.Valid());
}

SystemHandle OpenSubdirectory(const SystemHandle& parent, const std::string& name) {
  return OpenDirectoryHandle(Joined(EntryOf(parent).path, name), false);
}

std::vector<std::string> DirectoryEntries(const SystemHandle& directory) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data{};
  const HANDLE search =
      FindFirstFileExA(Joined(EntryOf(directory).path, "*").c_str(), FindExInfoBasic, &data,
                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string_view name(data.cFileName);
    if (name != "." && name != "..") names.emplace_back(name);
  } while (FindNextFileA(search, &data));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

int StatEntry(const SystemHandle& directory, const std::string& name, bool followLinks,
              EntryStatus& status) {
  return StatPath(Joined(EntryOf(directory).path, name), followLinks, status);
}

int RemoveEntry(const SystemHandle& directory, const std::string& name, bool isDirectory) {
  const std::string path = Joined(EntryOf(directory).path, name);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // A name past the classic path limit (a part file's) in its long form.
    const std::wstring longPath = LongWidePath(path);
    if (!isDirectory && !longPath.empty() && DeleteFileW(longPath.c_str())) return 0;
    return ErrnoFromWindows(GetLastError());
  }
  // A read-only file cannot be deleted on Windows: its attribute goes first.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
  // A junction or a link to a directory is removed as a directory; that
  // removes the link, never what it points at.
  if (isDirectory || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return LastErrorUnless(RemoveDirectoryA(path.c_str()) != 0);
  }
  return LastErrorUnless(DeleteFileA(path.c_str()) != 0);
}

int MakeSubdirectory(const SystemHandle& parent, const std::string& name) {
  return MakeDirectory(Joined(EntryOf(parent).path, name));
}

int CreateNewEntry(const SystemHandle& directory, const std::string& name, SystemHandle& file) {
  // CREATE_NEW fails on any existing entry, a link or junction included;
  // the reparse-point flag makes sure none is ever followed.
  // A part file's name is longer than its target's and may pass the classic
  // path limit: the long form of the path is used.
  const std::wstring path = LongWidePath(Joined(EntryOf(directory).path, name));
  if (path.empty()) return EINVAL;
  file =
      Own(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return LastErrorUnless(file.Valid());
}

int RenameEntry(const SystemHandle& directory, const std::string& from, const std::string& to) {
  const std::string& path = EntryOf(directory).path;
  return RenameOver(Joined(path, from), Joined(path, to));
}

int WriteFileBytes(const SystemHandle& file, const char* bytes, std::size_t count) {
  while (count > 0) {
    DWORD written = 0;
    const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(count, 1U << 30));
    if (!WriteFile(EntryOf(file).handle, bytes, asked, &written, nullptr)) {
      return ErrnoFromWindows(GetLastError());
    }
    if (written == 0) return EIO;
    bytes += written;
    count -= written;
  }
  return 0;
}

int IdentityOf(std::string_view path, bool followLinks, FileIdentity& identity) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const SystemHandle entry(Own(OpenExisting(std::string(path), FILE_READ_ATTRIBUTES, flags)));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!entry.Valid() || !GetFileInformationByHandle(EntryOf(entry).handle, &info)) {
    return ErrnoFromWindows(GetLastError());
  }
  identity = {info.dwVolumeSerialNumber,
              (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return 0;
}

int OpenRegularFile(std::string_view path, SystemHandle& file, EntryStatus& status) {
  const std::string p(path);
  // The date may be set through the same handle where the file allows it.
  HANDLE handle = OpenExisting(p, GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    handle = OpenExisting(p, GENERIC_READ, 0);
  }
  file = Own(handle);
  if (!file.Valid()) return ErrnoFromWindows(GetLastError());
  if (GetFileType(handle) != FILE_TYPE_DISK || StatusOfHandle(handle, status) != 0 ||
      status.kind != EntryKind::Regular) {
    file.Close();
    return EISDIR;
  }
  return 0;
}

int SetModifiedTime(const SystemHandle& file, std::time_t modified) {
  const FILETIME time = FileTimeFromTime(modified);
  return LastErrorUnless(SetFileTime(EntryOf(file).handle, nullptr, &time, &time) != 0);
}

SystemHandle OpenForReading(std::string_view path) {
  return Own(OpenExisting(std::string(path), GENERIC_READ, 0));
}

long ReadFileBytes(const SystemHandle& file, char* buffer, std::size_t count) {
  DWORD got = 0;
  const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(count, 1U << 30));
  if (!ReadFile(EntryOf(file).handle, buffer, asked, &got, nullptr)) return -1;
  return static_cast<long>(got);
}

std::int64_t OpenFileSize(const SystemHandle& file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(EntryOf(file).handle, &size) ? size.QuadPart : -1;
}

int StatStream(std::FILE* stream, EntryStatus& status) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (handle == INVALID_HANDLE_VALUE) return EBADF;
  return StatusOfHandle(handle, status);
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH * 2];
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  return length == 0 || length >= sizeof buffer ? std::string() : std::string(buffer, length);
}

std::string HomeDirectory() {
  const char* profile = std::getenv("USERPROFILE");
  return profile != nullptr ? std::string(profile) : std::string();
}

std::string RealPath(const std::string& path, int& error) {
  // The final path of the opened entry, links resolved, without the "\\?\"
  // that the system puts before it.
  SystemHandle entry(Own(OpenExisting(path, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS)));
  if (!entry.Valid()) {
    error = ErrnoFromWindows(GetLastError());
    return {};
  }
  char buffer[MAX_PATH * 2];
  const DWORD length = GetFinalPathNameByHandleA(EntryOf(entry).handle, buffer, sizeof buffer,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof buffer) {
    error = length == 0 ? ErrnoFromWindows(GetLastError()) : ENAMETOOLONG;
    return {};
  }
  std::string real(buffer, length);
  if (real.starts_with("\\\\?\\UNC\\")) {
    real.replace(0, 8, "\\\\");
  } else if (real.starts_with("\\\\?\\")) {
    real.erase(0, 4);
  }
  error = 0;
  return real;
}
