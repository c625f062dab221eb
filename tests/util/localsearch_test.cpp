#include "util/localsearch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "util/fileattributes.h"
#include "util/filetestsupport.h"
#include "util/localpaths.h"

namespace quorbit {

namespace {

namespace fs = std::filesystem;

TEST_F(DosFiles, SizesAndAttributesOfNamedEntries) {
  Write("five.txt", "12345");
  Write(".hidden", "12345");
  MakeHidden(Path(".hidden"));
  fs::create_directory(Path("dir"));
  EXPECT_EQ(FileSizeOf(Path("five.txt")), 5u);
  EXPECT_EQ(FileSizeOf(Path("dir")), 0u);
  EXPECT_EQ(FileSizeOf(Path(".hidden")), 0u);
  EXPECT_EQ(FileSizeOf(Path("missing")), 0u);
  EXPECT_EQ(FileAttributesOf(Path("dir")), kAttrDirectory);
  EXPECT_EQ(FileAttributesOf(Path(".hidden")), kAttrArchive | kAttrHidden);
  EXPECT_EQ(FileAttributesOf(Path("missing")), 0u);
  EXPECT_TRUE(FileExists(Path("five.txt")));
  EXPECT_FALSE(FileExists(Path("dir")));
}

TEST_F(DosFiles, FindFilesIgnoresCaseAndSortsByName) {
  for (const char* name : {"b.TXT", "A.txt", "ab.txt", "c.dat", "README", ".hidden",
                           "a very long name.html", "\xC3\xBC.txt"}) {
    Write(name, "xyz");
  }
  MakeHidden(Path(".hidden"));
  fs::create_directory(Path("sub"));

  EXPECT_EQ(NamesOf(FindFiles(root_, "*.txt", kAttrArchive)),
            (std::vector<std::string>{"A.txt", "ab.txt", "b.TXT", "\xC3\xBC.txt"}));
  // "?" takes one character, also one of two bytes.
  EXPECT_EQ(NamesOf(FindFiles(root_, "?.TXT", kAttrArchive)),
            (std::vector<std::string>{"A.txt", "b.TXT", "\xC3\xBC.txt"}));
  EXPECT_EQ(NamesOf(FindFiles(root_, "readme", kAttrArchive)), std::vector<std::string>{"README"});
  EXPECT_EQ(NamesOf(FindFiles(root_ + kPathSep, "*.*", kAttrArchive)),
            (std::vector<std::string>{"A.txt", "README", "a very long name.html", "ab.txt", "b.TXT",
                                      "c.dat", "\xC3\xBC.txt"}));
  EXPECT_EQ(FindFiles(root_, "*.*", kAttrAny).size(), 9u);  // with .hidden and sub

  const std::vector<FoundFile> one = FindFiles(root_, "c.dat", kAttrArchive);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].size, 3u);
  EXPECT_EQ(one[0].attributes, kAttrArchive);
  EXPECT_NE(one[0].date, 0u);
}

}  // namespace

}  // namespace quorbit
