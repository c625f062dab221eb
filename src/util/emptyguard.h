// The guard in front of emptying a download directory: an assignment that
// starts from a fresh copy clears its directory first, but never when that
// directory holds files the user did not hand over to Quorbit (the INI file
// being run, the logs, the current or home directory, or everything).
#pragma once

#include <string>
#include <string_view>

namespace quorbit {

// Places that must survive, each resolved (see ResolvedPath); an empty text
// stands for none.
struct GuardedPaths {
  std::string home;
  std::string currentDirectory;
  std::string iniFile;
  std::string runLog;
  std::string debugLog;
};

// Why the directory at location (resolved; empty when it could not be) must
// not be emptied, as the end of the line that says so; an empty text when it
// may be emptied.
std::string_view WhyNotEmpty(std::string_view location, const GuardedPaths& guarded);

// The absolute path that path names, through every link, without "." and
// "..": a relative path is taken from the current directory; a path whose
// last parts do not exist yet is resolved through the longest part that
// does, the rest appended as written. Empty when it cannot be resolved.
std::string ResolvedPath(std::string_view path);

// The files of the run that emptying must spare, as named in the settings
// (an empty name: none).
struct RunFiles {
  std::string_view iniFile;
  std::string_view runLog;
  std::string_view debugLog;
};

// Resolves the home directory (HOME, or the account's when HOME is not set),
// the current directory and the run's files.
GuardedPaths GuardedPathsOf(const RunFiles& files);

// Empties location (files and subdirectories) unless it is a guarded place;
// then it stays as it is and the reason is given back (empty when emptied).
std::string_view EmptyUnlessGuarded(std::string_view location, const RunFiles& files);

}  // namespace quorbit
