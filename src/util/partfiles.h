// Files that take their target's place in one step: a download written
// beside its target and put there only once complete, and a rename that
// replaces its target. Neither ever replaces one of the run's own files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "util/filesystem.h"

namespace quorbit {

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
  struct Named {
    std::string_view target;
    std::string_view root;
    std::string_view partName;
  };
  explicit PartFile(const Named& named);
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

// Renames a file onto target, replacing an existing target in one step;
// false (the target untouched) when that fails or target is one of the
// run's files.
bool RenameReplacing(std::string_view from, std::string_view target);

}  // namespace quorbit
