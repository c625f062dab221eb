// Files and directories as the operating system keeps them: the calls the
// local file code needs, each reporting failure as the system's error number
// (0 for success; the portable values of <cerrno> where the failure has one).
// filesystem_posix.cpp implements this for POSIX, filesystem_windows.cpp for
// Windows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace quorbit {

enum class EntryKind { Directory, Regular, Link, Other };

// The attribute bits a file system of the DOS family keeps with each entry:
// read-only, hidden, system, directory and archive.
constexpr std::uint16_t kDosAttributeBits = 0x37;

struct EntryStatus {
  EntryKind kind = EntryKind::Other;
  bool ownerWritable = false;
  std::uint64_t size = 0;
  std::time_t modified = 0;
  // The entry's own attribute bits (kDosAttributeBits) where the file system
  // keeps them (Windows); POSIX keeps none, and they follow from the rest.
  bool hasAttributes = false;
  std::uint16_t attributes = 0;
};

// An open file or directory, closed when its owner goes away.
class SystemHandle {
 public:
  SystemHandle() = default;
  explicit SystemHandle(std::intptr_t native) : native_(native) {}
  ~SystemHandle() { Close(); }
  SystemHandle(const SystemHandle&) = delete;
  SystemHandle& operator=(const SystemHandle&) = delete;
  SystemHandle(SystemHandle&& other) noexcept : native_(other.native_) { other.native_ = kNone; }
  SystemHandle& operator=(SystemHandle&& other) noexcept {
    if (this != &other) {
      Close();
      native_ = other.native_;
      other.native_ = kNone;
    }
    return *this;
  }

  bool Valid() const { return native_ != kNone; }
  std::intptr_t Native() const { return native_; }
  // Closes the handle; false when closing reports an error.
  bool Close();

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t native_ = kNone;
};

// Status of a path; a link is described by
// what it points at when followLinks is set, else as itself.
int StatPath(std::string_view path, bool followLinks, EntryStatus& status);
// True when the path names the root directory of the file system.
bool IsRootDirectory(std::string_view path);
// 0 when the directory may be entered (searched).
int CheckEnterable(std::string_view path);
int MakeDirectory(std::string_view path);
int RemoveFileName(std::string_view path);
// Clears every write permission, or gives the owner write permission back.
int SetWritable(std::string_view path, bool writable);
// Renames a file, replacing an existing file of the new name in one step.
int RenameOver(std::string_view from, std::string_view to);

// Opens a directory for the calls below; entries are named relative to it,
// so a link swapped in on the way is never followed.
int OpenDirectory(std::string_view path, SystemHandle& directory);
// A subdirectory of an open directory, never through a link.
SystemHandle OpenSubdirectory(const SystemHandle& parent, const std::string& name);
// The names in an open directory, "." and ".." left out, sorted.
std::vector<std::string> DirectoryEntries(const SystemHandle& directory);
int StatEntry(const SystemHandle& directory, const std::string& name, bool followLinks,
              EntryStatus& status);
// Removes a file, link or empty directory inside an open directory.
int RemoveEntry(const SystemHandle& directory, const std::string& name, bool isDirectory);

// Makes a subdirectory inside an open directory.
int MakeSubdirectory(const SystemHandle& parent, const std::string& name);
// Creates a file for writing inside an open directory, only when no entry of
// that name exists: a link of that name (dangling or not) makes it fail
// (EEXIST) rather than be followed, so nothing is written where it leads.
int CreateNewEntry(const SystemHandle& directory, const std::string& name, SystemHandle& file);
// Renames an entry of an open directory onto another name in it, replacing
// an existing entry of that name in one step: a link there is replaced
// itself, never what it points at.
int RenameEntry(const SystemHandle& directory, const std::string& from, const std::string& to);
// Writes all count bytes to an open file; 0, or the error that stopped it.
int WriteFileBytes(const SystemHandle& file, const char* bytes, std::size_t count);

// What makes an entry the one it is, whatever path names it: its device (or
// volume) and its number there.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
// The identity of the entry path names: of what a link points at when
// followLinks is set, else of the link itself.
int IdentityOf(std::string_view path, bool followLinks, FileIdentity& identity);

// Opens a regular file for reading without ever blocking on it (a fifo);
// anything but a regular file fails with EISDIR.
int OpenRegularFile(std::string_view path, SystemHandle& file, EntryStatus& status);
// Sets the access and modification time of an open file.
int SetModifiedTime(const SystemHandle& file, std::time_t modified);
// Opens a file for reading a byte stream.
SystemHandle OpenForReading(std::string_view path);
// Reads up to count bytes: the count read, 0 at the end, -1 on an error.
long ReadFileBytes(const SystemHandle& file, char* buffer, std::size_t count);
// The size of an open file; -1 when it cannot be had.
std::int64_t OpenFileSize(const SystemHandle& file);
// Opens a file as a stream with an fopen mode; nullptr, with the reason in
// errno, when that fails. Every stream the program opens is opened here, so
// that names reach the system in its own encoding.
std::FILE* OpenStream(std::string_view path, const char* mode);
// Status of an open stream (a directory opens for reading on some systems).
int StatStream(std::FILE* stream, EntryStatus& status);

// The current and the home directory; empty when unknown.
std::string CurrentDirectory();
std::string HomeDirectory();
// The absolute path without links, "." or ".." of an existing path; empty,
// with the error in error, when it fails.
std::string RealPath(const std::string& path, int& error);

}  // namespace quorbit
