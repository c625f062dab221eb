#include "util/emptyguard.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "util/directorytrees.h"
#include "util/filesystem.h"
#include "util/localpaths.h"

namespace quorbit {

namespace {

// True when directory is path itself or one of its ancestors.
bool Holds(std::string_view directory, std::string_view path) {
  if (directory.empty() || path.empty() || !path.starts_with(directory)) return false;
  return path.size() == directory.size() || directory.back() == kPathSep ||
         path[directory.size()] == kPathSep;
}

// Appends the components of a part that does not exist yet to an absolute
// path: "." stays where it is, ".." goes up one (never above the root).
void AppendMissingParts(std::string& path, const std::vector<std::string>& outermostLast) {
  for (auto part = outermostLast.rbegin(); part != outermostLast.rend(); ++part) {
    if (part->empty() || *part == ".") continue;
    if (*part == "..") {
      path.erase(std::max(path.rfind(kPathSep), RootLength(path)));
      continue;
    }
    if (path.back() != kPathSep) path += kPathSep;
    path += *part;
  }
}

std::string ResolvedIfNamed(std::string_view name) {
  return name.empty() ? std::string() : ResolvedPath(name);
}

}  // namespace

std::string_view WhyNotEmpty(std::string_view location, const GuardedPaths& guarded) {
  if (location.empty()) return "its path cannot be resolved";
  if (location.size() == RootLength(location)) return "it is the file system root";
  // The run's own files first: they name what would be lost.
  if (Holds(location, guarded.iniFile)) return "it holds the INI file";
  if (Holds(location, guarded.runLog)) return "it holds the run log";
  if (Holds(location, guarded.debugLog)) return "it holds the debug log";
  if (location == guarded.home) return "it is the home directory";
  if (location == guarded.currentDirectory) return "it is the current directory";
  if (Holds(location, guarded.currentDirectory)) return "it holds the current directory";
  if (Holds(location, guarded.home)) return "it holds the home directory";
  return {};
}

std::string ResolvedPath(std::string_view path) {
  std::string existing(path);
  if (RootLength(existing) == 0) {
    const std::string cwd = CurrentDirectory();
    if (cwd.empty()) return {};
    existing = cwd + kPathSep + existing;
  }
  std::vector<std::string> missing;  // the parts below what exists, outermost last
  for (;;) {
    while (existing.size() > RootLength(existing) && existing.back() == kPathSep) {
      existing.pop_back();
    }
    int error = 0;
    std::string real = RealPath(existing, error);
    if (!real.empty()) {
      AppendMissingParts(real, missing);
      return real;
    }
    const std::size_t sep = existing.rfind(kPathSep);
    if ((error != ENOENT && error != ENOTDIR) || sep == std::string::npos ||
        existing.size() <= RootLength(existing)) {
      return {};
    }
    missing.push_back(existing.substr(sep + 1));
    existing.erase(std::max(sep, RootLength(existing)));
  }
}

GuardedPaths GuardedPathsOf(const RunFiles& files) {
  GuardedPaths guarded;
  guarded.home = ResolvedIfNamed(HomeDirectory());
  guarded.currentDirectory = ResolvedPath("");
  guarded.iniFile = ResolvedIfNamed(files.iniFile);
  guarded.runLog = ResolvedIfNamed(files.runLog);
  guarded.debugLog = ResolvedIfNamed(files.debugLog);
  return guarded;
}

std::string_view EmptyUnlessGuarded(std::string_view location, const RunFiles& files) {
  const std::string_view reason = WhyNotEmpty(ResolvedPath(location), GuardedPathsOf(files));
  if (reason.empty()) DeleteTree(location);
  return reason;
}

}  // namespace quorbit
