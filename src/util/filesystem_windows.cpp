// Files and directories over Windows. Paths are UTF-8 above this file, as
// every other text of the program; here they become UTF-16 for the wide
// ("W") calls, so that any name the file system holds can be reached, and
// names read back become UTF-8 again. Text that is no valid UTF-8 (or
// UTF-16) fails with EILSEQ rather than naming some other file.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "util/filesystem.h"

namespace quorbit {

namespace {

// path as UTF-16; false when it is no valid UTF-8.
bool ToWide(std::string_view path, std::wstring& wide) {
  wide.clear();
  if (path.empty()) return true;
  const int size = static_cast<int>(path.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide.resize(static_cast<std::size_t>(length));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, wide.data(),
                             length) == length;
}

// UTF-16 text as UTF-8; false when it holds an unpaired surrogate.
bool ToUtf8(std::wstring_view wide, std::string& text) {
  text.clear();
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr,
                                         0, nullptr, nullptr);
  if (length <= 0) return false;
  text.resize(static_cast<std::size_t>(length));
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, text.data(), length,
                             nullptr, nullptr) == length;
}

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
    case ERROR_NO_UNICODE_TRANSLATION:
      return EILSEQ;
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

HANDLE OpenExisting(std::string_view path, DWORD access, DWORD flags) {
  std::wstring wide;
  if (!ToWide(path, wide)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
  std::wstring wide;
  if (!ToWide(path, wide)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return SystemHandle();
  }
  const HANDLE handle =
      CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
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

// The absolute path in UTF-16; empty when it cannot be had.
std::wstring FullWidePath(std::string_view path) {
  std::wstring wide;
  if (!ToWide(path, wide) || wide.empty()) return {};
  std::wstring full(GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr), L'\0');
  const DWORD written =
      GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (full.empty() || written == 0 || written >= full.size()) return {};
  full.resize(written);
  return full;
}

// The absolute path in UTF-16 with the "\\?\" that lifts the classic path
// limit; empty when it cannot be had.
std::wstring LongWidePath(std::string_view path) {
  std::wstring full = FullWidePath(path);
  if (full.empty()) return {};
  if (full.starts_with(L"\\\\?\\")) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

void DropTrailingSeparators(std::wstring& path) {
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
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
  std::wstring p;
  if (!ToWide(path, p)) return EILSEQ;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &data)) {
    return ErrnoFromWindows(GetLastError());
  }
  if (followLinks && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // What the link points at: its own handle tells.
    SystemHandle target(Own(OpenExisting(path, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS)));
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
  std::wstring full = FullWidePath(path);
  wchar_t volume[MAX_PATH * 2];
  if (full.empty() || !GetVolumePathNameW(full.c_str(), volume, MAX_PATH * 2)) return false;
  std::wstring root(volume);
  DropTrailingSeparators(full);
  DropTrailingSeparators(root);
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, full.c_str(), -1, root.c_str(), -1) ==
         CSTR_EQUAL;
}

// The attributes of path; INVALID_FILE_ATTRIBUTES, with the reason as the
// last error, when they cannot be had.
DWORD AttributesOfPath(std::string_view path) {
  std::wstring wide;
  if (!ToWide(path, wide)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return INVALID_FILE_ATTRIBUTES;
  }
  return GetFileAttributesW(wide.c_str());
}

int CheckEnterable(std::string_view path) {
  const DWORD attributes = AttributesOfPath(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return ErrnoFromWindows(GetLastError());
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ENOTDIR;
}

int MakeDirectory(std::string_view path) {
  std::wstring wide;
  if (!ToWide(path, wide)) return EILSEQ;
  return LastErrorUnless(CreateDirectoryW(wide.c_str(), nullptr) != 0);
}

int RemoveFileName(std::string_view path) {
  std::wstring wide;
  if (!ToWide(path, wide)) return EILSEQ;
  return LastErrorUnless(DeleteFileW(wide.c_str()) != 0);
}

int SetWritable(std::string_view path, bool writable) {
  std::wstring p;
  if (!ToWide(path, p)) return EILSEQ;
  DWORD attributes = GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ErrnoFromWindows(GetLastError());
  attributes = writable ? attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}
                        : attributes | FILE_ATTRIBUTE_READONLY;
  return LastErrorUnless(SetFileAttributesW(p.c_str(), attributes) != 0);
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
  std::wstring pattern;
  if (!ToWide(Joined(EntryOf(directory).path, "*"), pattern)) return names;
  WIN32_FIND_DATAW data{};
  const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    // A name that cannot be spelled in UTF-8 (an unpaired surrogate) could
    // not be reached by the other calls either: it is left out.
    std::string name;
    if (ToUtf8(data.cFileName, name) && name != "." && name != "..") {
      names.push_back(std::move(name));
    }
  } while (FindNextFileW(search, &data));
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
  std::wstring wide;
  if (!ToWide(path, wide)) return EILSEQ;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // A name past the classic path limit (a part file's) in its long form.
    const std::wstring longPath = LongWidePath(path);
    if (!isDirectory && !longPath.empty() && DeleteFileW(longPath.c_str())) return 0;
    return ErrnoFromWindows(GetLastError());
  }
  // A read-only file cannot be deleted on Windows: its attribute goes first.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesW(wide.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
  // A junction or a link to a directory is removed as a directory; that
  // removes the link, never what it points at.
  if (isDirectory || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return LastErrorUnless(RemoveDirectoryW(wide.c_str()) != 0);
  }
  return LastErrorUnless(DeleteFileW(wide.c_str()) != 0);
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
  const SystemHandle entry(Own(OpenExisting(path, FILE_READ_ATTRIBUTES, flags)));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!entry.Valid() || !GetFileInformationByHandle(EntryOf(entry).handle, &info)) {
    return ErrnoFromWindows(GetLastError());
  }
  identity = {info.dwVolumeSerialNumber,
              (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return 0;
}

int OpenRegularFile(std::string_view path, SystemHandle& file, EntryStatus& status) {
  const std::string_view p = path;
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
  return Own(OpenExisting(path, GENERIC_READ, 0));
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
  wchar_t buffer[MAX_PATH * 2];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH * 2, buffer);
  std::string current;
  if (length == 0 || length >= MAX_PATH * 2 || !ToUtf8({buffer, length}, current)) return {};
  return current;
}

std::string HomeDirectory() {
  const wchar_t* profile = _wgetenv(L"USERPROFILE");
  std::string home;
  if (profile == nullptr || !ToUtf8(profile, home)) return {};
  return home;
}

std::FILE* OpenStream(std::string_view path, const char* mode) {
  std::wstring wide, wideMode;
  if (!ToWide(path, wide) || !ToWide(mode, wideMode)) {
    errno = EILSEQ;
    return nullptr;
  }
  return _wfopen(wide.c_str(), wideMode.c_str());
}

std::string RealPath(const std::string& path, int& error) {
  // The final path of the opened entry, links resolved, without the "\\?\"
  // that the system puts before it.
  SystemHandle entry(Own(OpenExisting(path, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS)));
  if (!entry.Valid()) {
    error = ErrnoFromWindows(GetLastError());
    return {};
  }
  wchar_t buffer[MAX_PATH * 2];
  const DWORD length = GetFinalPathNameByHandleW(EntryOf(entry).handle, buffer, MAX_PATH * 2,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  std::string real;
  if (length == 0 || length >= MAX_PATH * 2 || !ToUtf8({buffer, length}, real)) {
    error = length == 0              ? ErrnoFromWindows(GetLastError())
            : length >= MAX_PATH * 2 ? ENAMETOOLONG
                                     : EILSEQ;
    return {};
  }
  if (real.starts_with("\\\\?\\UNC\\")) {
    real.replace(0, 8, "\\\\");
  } else if (real.starts_with("\\\\?\\")) {
    real.erase(0, 4);
  }
  error = 0;
  return real;
}

}  // namespace quorbit
