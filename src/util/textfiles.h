// Text files bound to a name, created with the directories they need.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "util/fileresult.h"

namespace quorbit {

// A text file bound to a name; closed on destruction.
class TextFile {
 public:
  explicit TextFile(std::string_view name) : name_(name) {}
  ~TextFile() { Close(); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;
  const std::string& Name() const { return name_; }
  std::FILE* Handle() const { return file_; }
  bool IsOpen() const { return file_ != nullptr; }
  // True when the file was closed without error (its buffered data written),
  // or was not open.
  bool Close();
  // Opens with an fopen mode (closing an open file first). A directory is
  // never opened as a file.
  FileResult OpenMode(const char* mode);

 private:
  std::string name_;  // whole, however long: a cut name would be another file
  std::FILE* file_ = nullptr;
};

FileResult OpenTextRead(TextFile& file);
FileResult CreateTextFile(TextFile& file);  // creates missing directories
FileResult AppendTextFile(TextFile& file);  // creates the file (and directories) when missing

}  // namespace quorbit
