#include "util/localpaths.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "peers/peers.h"
#include "util/directorytrees.h"
#include "util/shorttext.h"

namespace quorbit {

namespace {

TEST(DosPaths, SplitsDirectoryNameAndExtension) {
  struct Case {
    const char *path, *directory, *name, *extension;
  } cases[] = {
      {"/data/file.txt", "/data", "file", ".txt"},
      {"/file.txt", "/", "file", ".txt"},
      {"file", "", "file", ""},
      {"dir/archive.tar.gz", "dir", "archive.tar", ".gz"},
      {"/a.b/c", "/a.b", "c", ""},  // a dot in a directory is no extension
      {"logs/", "logs", "", ""},    // a directory alone: no name
  };
  for (const Case& c : cases) {
    Str255 directory, name, extension;
    SplitFileName(NativePath(c.path), directory, name, extension);
    EXPECT_EQ(directory.View(), NativePath(c.directory)) << c.path;
    EXPECT_EQ(name.View(), c.name) << c.path;
    EXPECT_EQ(extension.View(), c.extension) << c.path;
  }
  EXPECT_EQ(LocalPath("data\\pages\\index.htm").View(), NativePath("data/pages/index.htm"));
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
    Str255 directory, name, extension;
    SplitFileName(c.path, directory, name, extension);
    EXPECT_EQ(directory.View(), c.directory) << c.path;
  }
#ifdef _WIN32
  EXPECT_FALSE(MakeDirectoryPath("C:\\"));
  EXPECT_FALSE(MakeDirectoryPath("C:"));
#endif
}

}  // namespace

}  // namespace quorbit
