// Directory chains made on demand, directories below an assignment's made or
// entered without going through a link, and the deletion of files and whole
// trees. Failures are results, never exceptions.
#pragma once

#include <string>
#include <string_view>

#include "util/fileresult.h"
#include "util/filesystem.h"

namespace quorbit {

// Success when the directory exists or was made with its missing parents;
// an entry of its name (or of a parent's) that is no directory fails with
// ENOTDIR.
FileResult EnsureDirectory(std::string_view path);
// The same for a directory inside root (which may be reached through links
// of the user's own): the parts of path below root are made or entered
// without following a link. False when that fails; when a link or ".." would
// lead outside root, refusal gets the line that says so.
bool EnsureDirectoryBelow(std::string_view root, std::string_view path, std::string& refusal);
// The directory that holds path (what comes before its last separator),
// opened from root without entering a link below root; nothing is made.
// Invalid when that fails; when a link or ".." would lead outside root,
// refusal gets the line that says so, naming path.
SystemHandle OpenParentBelow(std::string_view root, std::string_view path, std::string& refusal);
FileResult MakeDirectoryPath(std::string_view path);

// Deletes a file, clearing a read-only attribute when that is in the way;
// one of the run's files is never deleted (EACCES).
FileResult DeleteFileForced(std::string_view name);
// Clears the directory's contents: files with the archive bit (on Linux every
// regular file), links and junctions (as links, never followed) and
// subdirectories with their contents. Other entries (files without the
// archive bit; fifos, sockets, devices) stay. Always true;
// does nothing for the root or an empty path.
bool DeleteTree(std::string_view directory);

}  // namespace quorbit
