// What the local file tests share: a fresh scratch directory per test, and
// helpers to mark files hidden and to read the names a search found.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <string>
#include <vector>

#include "peers/peers.h"
#include "util/localsearch.h"

namespace quorbit {

// Hidden as the platform keeps it: by the attribute on Windows, by the
// leading dot of the name on Linux.
inline void MakeHidden(const std::string& path) {
#ifdef _WIN32
  SetFileAttributesA(path.c_str(), GetFileAttributesA(path.c_str()) | FILE_ATTRIBUTE_HIDDEN);
#else
  (void)path;
#endif
}

inline std::vector<std::string> NamesOf(const std::vector<FoundFile>& found) {
  std::vector<std::string> names;
  for (const FoundFile& f : found) names.push_back(f.name);
  return names;
}

// Every test gets a fresh temporary directory and touches nothing outside it.
class DosFiles : public ::testing::Test {
 protected:
  std::string Path(const std::string& relative) const { return dir / relative; }
  void Write(const std::string& relative, const std::string& content = "data") const {
    WriteFile(Path(relative), content);
  }

  TempDir dir;
  const std::string root_ = dir.Path();
};

}  // namespace quorbit
