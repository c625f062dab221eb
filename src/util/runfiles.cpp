#include "util/runfiles.h"

#include <utility>
#include <vector>

#include "util/emptyguard.h"
#include "util/filesystem.h"
#include "util/localpaths.h"
#include "util/shorttext.h"

namespace quorbit {

namespace {

// One of the files of the run, as ProtectRunFiles found it.
struct RunFile {
  std::string_view role;
  std::string entry;     // its directory resolved, plus its name
  std::string resolved;  // through every link
  bool identified = false;
  FileIdentity identity;
};

std::vector<RunFile>& ProtectedFiles() {
  static std::vector<RunFile> files;
  return files;
}

// The directory entry path names: its directory resolved through links, "."
// and "..", its own name as written (a link is itself). Empty when the
// directory cannot be resolved.
std::string EntryPath(std::string_view path) {
  while (path.size() > RootLength(path) && path.back() == kPathSep) path.remove_suffix(1);
  const std::size_t sep = path.rfind(kPathSep);
  const std::string_view name = sep == std::string_view::npos ? path : path.substr(sep + 1);
  if (name.empty() || name == "." || name == "..") return ResolvedPath(path);
  std::string directory =
      ResolvedPath(sep == std::string_view::npos ? std::string_view() : path.substr(0, sep + 1));
  if (directory.empty()) return {};
  if (directory.back() != kPathSep) directory += kPathSep;
  return directory + std::string(name);
}

bool SamePath(std::string_view a, std::string_view b) {
  if (a.empty() || a.size() != b.size()) return false;
  if (!kNamesIgnoreCase) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperLetter(a[i]) != UpperLetter(b[i])) return false;
  }
  return true;
}

}  // namespace

void ProtectRunFiles(std::string_view iniFile, std::string_view runLog, std::string_view debugLog) {
  std::vector<RunFile>& files = ProtectedFiles();
  files.clear();
  const std::pair<std::string_view, std::string_view> named[] = {
      {"INI file", iniFile}, {"run log", runLog}, {"debug log", debugLog}};
  for (const auto& [role, name] : named) {
    if (name.empty()) continue;
    RunFile file;
    file.role = role;
    file.entry = EntryPath(name);
    file.resolved = ResolvedPath(name);
    file.identified = IdentityOf(name, true, file.identity) == 0;
    files.push_back(std::move(file));
  }
}

std::string_view RunFileRole(std::string_view path) {
  const std::vector<RunFile>& files = ProtectedFiles();
  if (files.empty() || path.empty()) return {};
  // The entry itself, and what it leads to when it is a link.
  const std::string entry = EntryPath(path);
  const std::string resolved = ResolvedPath(path);
  FileIdentity identity;
  const bool identified = IdentityOf(path, true, identity) == 0;
  for (const RunFile& file : files) {
    const auto names = [&file](const std::string& p) {
      return SamePath(p, file.entry) || SamePath(p, file.resolved);
    };
    if (names(entry) || names(resolved) ||
        (identified && file.identified && identity == file.identity)) {
      return file.role;
    }
  }
  return {};
}

std::string NotOverwritingLine(std::string_view path) {
  const std::string_view role = RunFileRole(path);
  if (role.empty()) return {};
  return "Not overwriting " + std::string(path) + ": it is this run's " + std::string(role);
}

}  // namespace quorbit
