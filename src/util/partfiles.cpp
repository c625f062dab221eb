#include "util/partfiles.h"

#include "util/directorytrees.h"
#include "util/localpaths.h"
#include "util/runfiles.h"
#include "util/stoprequest.h"

namespace quorbit {

namespace {

// Appended, after a leading ".", to a download's target name while it arrives.
constexpr std::string_view kPartSuffix = ".quorbit-part";

}  // namespace

PartFile::PartFile(std::string_view target, std::string_view root)
    : PartFile(Named{.target = target,
                     .root = root,
                     .partName = Cat(".", LastComponent(target), kPartSuffix)}) {
  ownPartName_ = true;
}

PartFile::PartFile(const Named& named)
    : target_(named.target),
      root_(named.root),
      targetName_(LastComponent(named.target)),
      partName_(named.partName),
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

bool PartFile::Create() {
  if (targetName_.empty() || targetName_ == "." || targetName_ == "..") return false;
  refusal_ = NotOverwritingLine(target_);
  if (!refusal_.empty()) return false;
  directory_ = OpenParentBelow(root_, target_, refusal_);
  if (!directory_.Valid()) return false;
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

bool RenameReplacing(std::string_view from, std::string_view target) {
  return RunFileRole(target).empty() && RenameOver(from, target) == 0;
}

}  // namespace quorbit
