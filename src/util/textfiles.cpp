#include "util/textfiles.h"

#include <cerrno>

#include "util/directorytrees.h"
#include "util/filesystem.h"
#include "util/localpaths.h"

namespace quorbit {

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
    return FileResultOf(directory ? EISDIR : error);
  }
  if (StatStream(file_, status) == 0 && status.kind == EntryKind::Directory) {
    Close();
    return FileResultOf(EISDIR);
  }
  return {};
}

FileResult OpenTextRead(TextFile& file) {
  return file.OpenMode("r");
}

FileResult CreateTextFile(TextFile& file) {
  const FileResult opened = file.OpenMode("w");
  if (!IsMissing(opened)) return opened;
  if (const FileResult made = EnsureDirectory(DirectoryOf(file.Name())); !made) return made;
  return file.OpenMode("w");
}

FileResult AppendTextFile(TextFile& file) {
  const FileResult opened = file.OpenMode("a");
  return IsMissing(opened) ? CreateTextFile(file) : opened;
}

}  // namespace quorbit
