#include "util/localpaths.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "peers/peers.h"
#include "util/directorytrees.h"
#include "util/shorttext.h"

namespace quorbit {

namespace {

TEST(DosPaths, SplitsDirectoryAndLastComponent) {
  struct Case {
    const char *path, *directory, *last;
  } cases[] = {
      {"/data/file.txt", "/data", "file.txt"},
      {"/file.txt", "/", "file.txt"},
      {"file", "", "file"},
      {"dir/archive.tar.gz", "dir", "archive.tar.gz"},
      {"/a.b/c", "/a.b", "c"},
      {"logs/", "logs", ""},  // a directory alone: no name
  };
  for (const Case& c : cases) {
    const std::string path = NativePath(c.path);
    EXPECT_EQ(DirectoryOf(path), NativePath(c.directory)) << c.path;
    EXPECT_EQ(LastComponent(path), c.last) << c.path;
  }
  EXPECT_EQ(LocalPath("data\\pages\\index.htm"), NativePath("data/pages/index.htm"));
  // A path past any record's width is converted whole.
  EXPECT_EQ(LocalPath(std::string(300, 'd') + "\\f"), NativePath(std::string(300, 'd') + "/f"));
}

// Drive letters are roots on Windows only; on Linux "C:" is a name.
TEST(DosPaths, DriveRootsKeepTheirSeparator) {
  struct Case {
    const char* path;
    std::size_t rootLength;
    const char* directory;
  } cases[] = {
#ifdef _WIN32
      {"C:\\file.txt", 3, "C:\\"}, {"c:\\data\\file.txt", 3, "c:\\data"},
      {"C:file.txt", 2, ""},       {"\\file.txt", 1, "\\"},
#else
      {"C:/file.txt", 0, "C:"},
      {"/file.txt", 1, "/"},
#endif
      {"file.txt", 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RootLength(c.path), c.rootLength) << c.path;
    EXPECT_EQ(DirectoryOf(c.path), c.directory) << c.path;
  }
#ifdef _WIN32
  EXPECT_FALSE(MakeDirectoryPath("C:\\"));
  EXPECT_FALSE(MakeDirectoryPath("C:"));
#endif
}

}  // namespace

}  // namespace quorbit
