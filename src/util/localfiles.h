// File and directory helpers: path splitting, text files that create their
// directories, part files that replace a download's target only when
// complete, directory chains, deletion of files and trees, file dates,
// sizes and attributes, mask matching, 8.3 names and the local wildcard
// search.
//
// Local paths use the platform separator (kPathSep: '\\' on Windows, '/' on
// Linux). A root ("X:\\" on Windows, "/" on Linux) always exists, is never
// created and never cleared. A relative path is taken from the current
// directory, which nothing here changes. Failures are results, never
// exceptions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "util/filesystem.h"
#include "util/packeddate.h"
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

// The outcome of a file operation: success, or the system's reason for the
// failure (a directory where a file was meant fails with EISDIR, one of the
// run's own files with EACCES). True on success; Reason() is the text a log
// line puts after the failed operation.
struct FileResult {
  std::error_code error;
  explicit operator bool() const { return !error; }
  std::string Reason() const { return error.message(); }
};

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

// A local path taken from the INI file or written on another system: every
// "\" becomes the platform separator.
Str255 LocalPath(std::string_view path);

// The length of the root at the start of a local path: on Windows 3 for a
// drive root "C:\\", 2 for a drive "C:", 1 for a leading "\\"; on Linux 1 for
// "/"; 0 for a relative path.
std::size_t RootLength(std::string_view path);

// Renames a file onto target, replacing an existing target in one step;
// false (the target untouched) when that fails or target is one of the
// run's files.
bool RenameReplacing(std::string_view from, std::string_view target);

// "/data/file.txt" gives "/data", "file", ".txt"; "/file.txt" gives the
// directory "/" (on Windows "C:\\file.txt" the directory "C:\\"); without a
// separator the directory is empty. The extension
// is looked for in the last component only.
void SplitFileName(std::string_view path, Str255& directory, Str255& name, Str255& extension);

// A text file bound to a name; closed on destruction.
class TextFile {
 public:
  explicit TextFile(std::string_view name) : name_(name) {}
  ~TextFile() { Close(); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;
  const Str255& Name() const { return name_; }
  std::FILE* Handle() const { return file_; }
  bool IsOpen() const { return file_ != nullptr; }
  // True when the file was closed without error (its buffered data written),
  // or was not open.
  bool Close();
  // Opens with an fopen mode (closing an open file first). A directory is
  // never opened as a file.
  FileResult OpenMode(const char* mode);

 private:
  Str255 name_;
  std::FILE* file_ = nullptr;
};

// The files of this run that nothing the run does may replace, rename or
// delete: the INI file being run, the run log and the debug log. Set once
// when the run starts; an empty name is none. A path names one of them when
// it is the same directory entry (its directory resolved through links, "."
// and "..") or the same file, however it is spelled.
void ProtectRunFiles(std::string_view iniFile, std::string_view runLog, std::string_view debugLog);
// "INI file", "run log" or "debug log" when path names that file of the run;
// empty otherwise.
std::string_view RunFileRole(std::string_view path);
// "Not overwriting <path>: it is this run's <role>"; empty when path names
// none of the run's files.
std::string NotOverwritingLine(std::string_view path);

// The file a download is written to: ".<name>.quorbit-part" beside the
// target, put in the target's place only once the download is complete and
// removed otherwise, so that a broken transfer never replaces or truncates a
// good copy. Its path is no short string, so that the suffix never cuts a
// name that fits as a target.
//
// Nothing is written through a link: the target's directory is reached from
// root (the assignment's directory; empty: the target's own directory)
// through real directories only, the part file is created new (a stale one
// is removed first, a link in its place too, never followed), and the commit
// replaces the entry at the target's name, a link there included. A target
// that is one of the run's files, or that a link or ".." would place outside
// root, is refused with the line that says so (Refusal).
class PartFile {
 public:
  explicit PartFile(std::string_view target, std::string_view root = {});
  // The same with a part file of the caller's choice in the target's
  // directory, which must not exist yet (it is never removed beforehand).
  PartFile(std::string_view target, std::string_view root, std::string_view partName);
  ~PartFile();  // removes the part file unless it was committed
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  const std::string& Path() const { return part_; }
  // Fails where creating the target itself would: no name, or a directory
  // or read-only file of that name; and where it is refused.
  bool Create();
  // Why Create failed when it refused the target; empty otherwise.
  const std::string& Refusal() const { return refusal_; }
  // True when all count bytes were written.
  bool Write(const char* bytes, std::size_t count);
  // Closes the file and renames it onto the target; true when the target is
  // now the complete file. Nothing may be written after it.
  bool Commit();

 private:
  bool OpenTargetDirectory();

  std::string target_;
  std::string root_;
  std::string targetName_;
  std::string partName_;
  std::string part_;
  bool ownPartName_ = true;  // the part file's name is ours: a stale one may go
  SystemHandle directory_;
  SystemHandle file_;
  std::string refusal_;
  bool created_ = false;
  bool committed_ = false;
};

FileResult OpenTextRead(TextFile& file);
FileResult CreateTextFile(TextFile& file);  // creates missing directories
FileResult AppendTextFile(TextFile& file);  // creates the file (and directories) when missing

// Success when the directory exists or was made with its missing parents;
// an entry of its name (or of a parent's) that is no directory fails with
// ENOTDIR.
FileResult EnsureDirectory(std::string_view path);
// The same for a directory inside root (which may be reached through links
// of the user's own): the parts of path below root are made or entered
// without following a link. False when that fails; when a link or ".." would
// lead outside root, refusal gets the line that says so.
bool EnsureDirectoryBelow(std::string_view root, std::string_view path, std::string& refusal);
FileResult MakeDirectoryPath(std::string_view path);
// Deletes a file, clearing a read-only attribute when that is in the way;
// one of the run's files is never deleted (EACCES).
FileResult DeleteFileForced(std::string_view name);
// True when path names the root of the file system (also through "..",
// repeated separators or links), or is empty: such a path is never cleared.
bool IsFileSystemRoot(std::string_view path);
// Clears the directory's contents: files with the archive bit (on Linux every
// regular file), links and junctions (as links, never followed) and
// subdirectories with their contents. Other entries (files without the
// archive bit; fifos, sockets, devices) stay. Always true;
// does nothing for the root or an empty path.
bool DeleteTree(std::string_view directory);
// 0 makes the file writable for its owner; kAttrReadOnly takes every write
// permission away. Other bits are left as they are.
void SetAttributes(std::string_view name, std::uint16_t attributes);
// True for a regular file that can be opened for reading.
bool FileExists(std::string_view name);
PackedDateTime GetFileDate(std::string_view name);  // local time; 0 when not a readable file
// The instant (seconds since the epoch) in local time; 0 outside 1980..2099.
PackedDateTime PackLocalTime(std::time_t t);
bool SetFileDate(std::string_view name, PackedDateTime date);
// The size and attributes of the named entry, 0 when missing.
// FileSizeOf looks only for ordinary files (as a search with kAttrArchive),
// FileAttributesOf for any entry.
std::uint64_t FileSizeOf(std::string_view name);
std::uint16_t FileAttributesOf(std::string_view name);

// Whether the whole name matches the mask, as Windows file systems match:
// letter case ignored, "*" any run of characters, "?" any one character (a
// UTF-8 sequence counts as one), "#" a digit, "@" any character but a
// digit, and a trailing ".*" or "." also accepting names without a dot. So
// "*" and "*.*" take every name, "*.txt" every name ending in ".txt", long
// names, blanks and non-ASCII included.
bool MatchFileMask(std::string_view mask, std::string_view name);
Str255 ShortFileName(std::string_view directory, std::string_view fileName);

// One entry of a local wildcard search.
struct FoundFile {
  Str255 name;
  std::uint16_t attributes = 0;
  std::uint64_t size = 0;
  PackedDateTime date = 0;
};

// Entries of directory (empty: the current one) whose names match mask
// (MatchFileMask, the rule of remote names too). "." and ".." are never
// returned.
// As in a DOS search, an entry that is hidden, system or a directory is
// returned only when that bit is in wanted; ordinary files always are (read-
// only ones included). Links are described by what they point at. Sorted by
// name (byte order).
std::vector<FoundFile> FindFiles(std::string_view directory, std::string_view mask,
                                 std::uint16_t wanted);

}  // namespace quorbit
