// The files of this run that nothing the run does may replace, rename or
// delete: the INI file being run, the run log and the debug log.
#pragma once

#include <string>
#include <string_view>

namespace quorbit {

// Set once when the run starts; an empty name is none. A path names one of
// them when it is the same directory entry (its directory resolved through
// links, "." and "..") or the same file, however it is spelled.
void ProtectRunFiles(std::string_view iniFile, std::string_view runLog, std::string_view debugLog);
// "INI file", "run log" or "debug log" when path names that file of the run;
// empty otherwise.
std::string_view RunFileRole(std::string_view path);
// "Not overwriting <path>: it is this run's <role>"; empty when path names
// none of the run's files.
std::string NotOverwritingLine(std::string_view path);

}  // namespace quorbit
