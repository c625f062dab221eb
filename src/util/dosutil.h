// File and directory helpers: path splitting, text files that create their
// directories, directory chains, deletion of files and trees, file dates,
// sizes and attributes, 8.3 mask matching, 8.3 names and the local wildcard
// search.
//
// Local paths use the platform separator (kPathSep, '/' on Linux). Failures
// are results, never exceptions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "report/dateunit.h"
#include "util/strunit.h"

constexpr char kPathSep = '/';

// Error code of the last file operation: 0 success, 2 file not found,
// 3 path not found, 5 access denied, other values as the system gives them.
extern int IoCode;

// Attribute bits as the rest of the system knows them.
constexpr std::uint16_t kAttrReadOnly = 1;
constexpr std::uint16_t kAttrHidden = 2;
constexpr std::uint16_t kAttrSystem = 4;
constexpr std::uint16_t kAttrDirectory = 16;
constexpr std::uint16_t kAttrArchive = 32;
constexpr std::uint16_t kAttrAny = 0x3F;

// A local path taken from the INI file or written on another system: every
// "\" becomes the platform separator.
Str255 LocalPath(std::string_view path);

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
  void Close();
  // Opens with an fopen mode; returns and sets IoCode.
  int OpenMode(const char* mode);

 private:
  Str255 name_;
  std::FILE* file_ = nullptr;
};

int OpenTextRead(TextFile& file);
int CreateTextFile(TextFile& file);  // creates missing directories
int AppendTextFile(TextFile& file);  // creates the file (and directories) when missing

bool EnsureDirectory(std::string_view path);
bool MakeDirectoryPath(std::string_view path);
int DeleteFileForced(std::string_view name);
bool DeleteTree(std::string_view directory);
void SetAttributes(std::string_view name, std::uint16_t attributes);
bool FileExists(std::string_view name);
PackedDateTime GetFileDate(std::string_view name);
bool SetFileDate(std::string_view name, PackedDateTime date);
std::uint32_t FileSizeOf(std::string_view name);
std::uint16_t FileAttributesOf(std::string_view name);

bool MatchFileMask(std::string_view mask, std::string_view name);
Str255 ExpandMask(std::string_view maskName, std::string_view maskExtension, int nameWidth,
                  int extensionWidth);
Str255 ShortFileName(std::string_view directory, std::string_view fileName);

// One entry of a local wildcard search.
struct FoundFile {
  Str255 name;
  std::uint16_t attributes = 0;
  std::uint32_t size = 0;
  PackedDateTime date = 0;
};

// Entries of directory whose names match mask the way the original file
// system matched: letter case ignored, "*" any run, "?" any one character,
// "*.*" every name. Only entries having one of the wanted attribute bits
// (or plain files when wanted includes kAttrArchive) are returned, sorted by
// name.
std::vector<FoundFile> FindFiles(std::string_view directory, std::string_view mask,
                                 std::uint16_t wanted);
