// Files and directories over POSIX.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "util/filesystem.h"

namespace quorbit {

namespace {

int Fd(const SystemHandle& handle) {
  return static_cast<int>(handle.Native());
}

int ErrnoUnless(bool succeeded) {
  return succeeded ? 0 : errno;
}

EntryStatus StatusOf(const struct stat& st) {
  EntryStatus status;
  status.kind = S_ISDIR(st.st_mode)   ? EntryKind::Directory
                : S_ISREG(st.st_mode) ? EntryKind::Regular
                : S_ISLNK(st.st_mode) ? EntryKind::Link
                                      : EntryKind::Other;
  status.ownerWritable = (st.st_mode & S_IWUSR) != 0;
  status.size = static_cast<std::uint64_t>(st.st_size);
  status.modified = st.st_mtim.tv_sec;
  return status;
}

// fstatat relative to a directory descriptor (AT_FDCWD for plain paths).
int StatAt(int dirFd, const std::string& path, bool followLinks, EntryStatus& status) {
  struct stat st;
  if (::fstatat(dirFd, path.c_str(), &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) != 0) return errno;
  status = StatusOf(st);
  return 0;
}

}  // namespace

bool SystemHandle::Close() {
  if (!Valid()) return true;
  const int rc = ::close(Fd(*this));
  native_ = kNone;
  return rc == 0;
}

int StatPath(std::string_view path, bool followLinks, EntryStatus& status) {
  return StatAt(AT_FDCWD, std::string(path), followLinks, status);
}

bool IsRootDirectory(std::string_view path) {
  struct stat st, root;
  return ::stat(std::string(path).c_str(), &st) == 0 && ::stat("/", &root) == 0 &&
         st.st_dev == root.st_dev && st.st_ino == root.st_ino;
}

int CheckEnterable(std::string_view path) {
  return ErrnoUnless(::access(std::string(path).c_str(), X_OK) == 0);
}

int MakeDirectory(std::string_view path) {
  return ErrnoUnless(::mkdir(std::string(path).c_str(), 0777) == 0);
}

int RemoveFileName(std::string_view path) {
  return ErrnoUnless(::unlink(std::string(path).c_str()) == 0);
}

int SetWritable(std::string_view path, bool writable) {
  const std::string p(path);
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return errno;
  mode_t mode = st.st_mode & 07777;
  mode = writable ? mode | S_IWUSR : mode & ~(S_IWUSR | S_IWGRP | S_IWOTH);
  return ErrnoUnless(::chmod(p.c_str(), mode) == 0);
}

int RenameOver(std::string_view from, std::string_view to) {
  return ErrnoUnless(::rename(std::string(from).c_str(), std::string(to).c_str()) == 0);
}

int OpenDirectory(std::string_view path, SystemHandle& directory) {
  directory = SystemHandle(::open(std::string(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return ErrnoUnless(directory.Valid());
}

SystemHandle OpenSubdirectory(const SystemHandle& parent, const std::string& name) {
  return SystemHandle(
      ::openat(Fd(parent), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::vector<std::string> DirectoryEntries(const SystemHandle& directory) {
  std::vector<std::string> names;
  const int copy = ::dup(Fd(directory));  // the stream takes over the descriptor it is given
  if (copy < 0) return names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(copy), ::closedir);
  if (!dir) {
    ::close(copy);
    return names;
  }
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view name(entry->d_name);
    if (name != "." && name != "..") names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

int StatEntry(const SystemHandle& directory, const std::string& name, bool followLinks,
              EntryStatus& status) {
  return StatAt(Fd(directory), name, followLinks, status);
}

int RemoveEntry(const SystemHandle& directory, const std::string& name, bool isDirectory) {
  return ErrnoUnless(::unlinkat(Fd(directory), name.c_str(), isDirectory ? AT_REMOVEDIR : 0) == 0);
}

int MakeSubdirectory(const SystemHandle& parent, const std::string& name) {
  return ErrnoUnless(::mkdirat(Fd(parent), name.c_str(), 0777) == 0);
}

int CreateNewEntry(const SystemHandle& directory, const std::string& name, SystemHandle& file) {
  file =
      SystemHandle(::openat(Fd(directory), name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666));
  return ErrnoUnless(file.Valid());
}

int RenameEntry(const SystemHandle& directory, const std::string& from, const std::string& to) {
  return ErrnoUnless(::renameat(Fd(directory), from.c_str(), Fd(directory), to.c_str()) == 0);
}

int WriteFileBytes(const SystemHandle& file, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t written = ::write(Fd(file), bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return 0;
}

int IdentityOf(std::string_view path, bool followLinks, FileIdentity& identity) {
  struct stat st;
  const std::string p(path);
  if ((followLinks ? ::stat(p.c_str(), &st) : ::lstat(p.c_str(), &st)) != 0) return errno;
  identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return 0;
}

int OpenRegularFile(std::string_view path, SystemHandle& file, EntryStatus& status) {
  file =
      SystemHandle(::open(std::string(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.Valid()) return errno;
  struct stat st;
  if (::fstat(Fd(file), &st) != 0 || !S_ISREG(st.st_mode)) {
    file.Close();
    return EISDIR;
  }
  status = StatusOf(st);
  return 0;
}

int SetModifiedTime(const SystemHandle& file, std::time_t modified) {
  const timespec times[2] = {{modified, 0}, {modified, 0}};
  return ErrnoUnless(::futimens(Fd(file), times) == 0);
}

SystemHandle OpenForReading(std::string_view path) {
  return SystemHandle(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC));
}

long ReadFileBytes(const SystemHandle& file, char* buffer, std::size_t count) {
  ssize_t got;
  do {
    got = ::read(Fd(file), buffer, count);
  } while (got < 0 && errno == EINTR);
  return static_cast<long>(got);
}

std::int64_t OpenFileSize(const SystemHandle& file) {
  struct stat st;
  return ::fstat(Fd(file), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

int StatStream(std::FILE* stream, EntryStatus& status) {
  struct stat st;
  if (::fstat(::fileno(stream), &st) != 0) return errno;
  status = StatusOf(st);
  return 0;
}

std::string CurrentDirectory() {
  std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  return cwd ? std::string(cwd.get()) : std::string();
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return {};
  return found->pw_dir;
}

std::FILE* OpenStream(std::string_view path, const char* mode) {
  return std::fopen(std::string(path).c_str(), mode);
}

std::string RealPath(const std::string& path, int& error) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  error = real ? 0 : errno;
  return real ? std::string(real.get()) : std::string();
}

}  // namespace quorbit
