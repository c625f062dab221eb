#include "util/directorytrees.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "util/fileattributes.h"
#include "util/filetestsupport.h"
#include "util/localpaths.h"
#include "util/localsearch.h"

namespace quorbit {

namespace {

namespace fs = std::filesystem;

std::string CurrentDirectory() {
  return fs::current_path().string();
}

TEST_F(DosFiles, EnsureDirectoryMakesChainsWithoutMovingTheCurrentDirectory) {
  const std::string before = CurrentDirectory();
  fs::create_directory(Path("a"));
  EXPECT_TRUE(EnsureDirectory(Path("a")));
  EXPECT_TRUE(EnsureDirectory(Path("a/b/c/")));
  EXPECT_TRUE(fs::is_directory(Path("a/b/c")));
  EXPECT_TRUE(EnsureDirectory(Path("site/v1.2/img")));
  EXPECT_TRUE(fs::is_directory(Path("site/v1.2/img")));
  EXPECT_EQ(CurrentDirectory(), before);

  Write("file");
  EXPECT_EQ(EnsureDirectory(Path("file")).error, std::errc::not_a_directory);
  EXPECT_EQ(EnsureDirectory(Path("file/sub")).error, std::errc::not_a_directory);
  EXPECT_EQ(EnsureDirectory(Path("file/sub/deeper")).Reason(), "Not a directory");

  // A chain longer than a short string is made whole, never cut short.
  const std::string part(60, 'd');
  const std::string deep = Path(part + "/" + part + "/" + part + "/" + part + "/" + part);
  ASSERT_GT(deep.size(), 255u);
  EXPECT_TRUE(EnsureDirectory(deep + kPathSep));
  EXPECT_TRUE(fs::is_directory(deep));
  // Nothing stands where a cut at 255 bytes would have put it (unless the
  // cut falls on a separator, where the chain's own directory is).
  const std::string cut = deep.substr(0, 255);
  if (cut.back() != kPathSep && deep[cut.size()] != kPathSep) {
    EXPECT_FALSE(PathExists(cut));
  }

  EXPECT_TRUE(EnsureDirectory(NativePath("/")));
  EXPECT_FALSE(MakeDirectoryPath(NativePath("/")));
  EXPECT_FALSE(MakeDirectoryPath(""));
}

TEST_F(DosFiles, RelativeChainsStartAtTheCurrentDirectory) {
  InDirectory inside(root_);
  EXPECT_TRUE(EnsureDirectory(NativePath("x/y")));
  EXPECT_TRUE(fs::is_directory(Path("x/y")));
  EXPECT_EQ(CurrentDirectory(), fs::canonical(root_).string());
}

TEST_F(DosFiles, DeleteTreeClearsFilesAndDirectoriesButFollowsNoLink) {
  fs::create_directories(Path("tree/sub/deeper"));
  fs::create_directories(Path("outside/inner"));
  Write("outside/keep.txt");
  Write("outside/inner/keep.txt");
  Write("tree/a.txt");
  Write("tree/.hidden");
  MakeHidden(Path("tree/.hidden"));
  Write("tree/readonly.txt");
  SetAttributes(Path("tree/readonly.txt"), kAttrReadOnly);
  Write("tree/sub/b.txt");
  Write("tree/sub/deeper/c.txt");
  std::error_code ec;
  fs::create_directory_symlink(Path("outside"), Path("tree/dirlink"), ec);
  fs::create_directory_symlink(Path("outside"), Path("tree/sub/deeper/dirlink"), ec);
  fs::create_symlink(Path("outside/keep.txt"), Path("tree/filelink"), ec);
#ifdef _WIN32
  // A file without the archive bit stays (where the file system keeps the
  // bit: wine on some file systems reports it for every file).
  Write("tree/noarchive.txt");
  SetFileAttributesA(Path("tree/noarchive.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  std::vector<std::string> kept;
  if ((GetFileAttributesA(Path("tree/noarchive.txt").c_str()) & FILE_ATTRIBUTE_ARCHIVE) == 0) {
    kept.emplace_back("noarchive.txt");
  }
#else
  const std::vector<std::string> kept = {"fifo"};
  ASSERT_EQ(mkfifo(Path("tree/fifo").c_str(), 0600), 0);
#endif

  EXPECT_TRUE(DeleteTree(Path("tree")));

  EXPECT_EQ(DirectoryNames(Path("tree")), kept);
  EXPECT_TRUE(fs::exists(Path("outside/keep.txt")));
  EXPECT_TRUE(fs::exists(Path("outside/inner/keep.txt")));
}

TEST_F(DosFiles, TheRootAndTheEmptyPathAreNeverCleared) {
  fs::create_directory(Path("sub"));
  std::error_code ec;
  fs::create_directory_symlink(NativePath("/"), Path("toroot"), ec);
  for (const std::string& path :
       {std::string(), NativePath("/"), NativePath("//"), NativePath("/tmp/.."), Path("toroot")}) {
    if (path == Path("toroot") && ec) continue;  // no links here
    EXPECT_TRUE(IsFileSystemRoot(path)) << path;
  }
  EXPECT_FALSE(IsFileSystemRoot(root_));
  EXPECT_FALSE(IsFileSystemRoot(Path("missing")));

  // Only with the guard proven may the empty path reach DeleteTree.
  ASSERT_TRUE(IsFileSystemRoot(""));
  Write("sub/survivor.txt");
  InDirectory inside(Path("sub"));
  EXPECT_TRUE(DeleteTree(""));
  EXPECT_TRUE(fs::exists(Path("sub/survivor.txt")));
}

TEST_F(DosFiles, DeleteFileForcedRemovesReadOnlyFiles) {
  Write("readonly.txt");
  SetAttributes(Path("readonly.txt"), kAttrReadOnly);
  EXPECT_EQ(FileAttributesOf(Path("readonly.txt")), kAttrArchive | kAttrReadOnly);
  SetAttributes(Path("readonly.txt"), 0);
  EXPECT_EQ(FileAttributesOf(Path("readonly.txt")), kAttrArchive);
  SetAttributes(Path("readonly.txt"), kAttrReadOnly);

  EXPECT_TRUE(DeleteFileForced(Path("readonly.txt")));
  EXPECT_FALSE(fs::exists(Path("readonly.txt")));
  EXPECT_EQ(DeleteFileForced(Path("readonly.txt")).error, std::errc::no_such_file_or_directory);
}

// Directories below the assignment's are made and entered without ever
// going through a link; the assignment's own directory may be reached
// through the user's links.
TEST_F(DosFiles, DirectoriesBelowTheAssignmentsFollowNoLink) {
  fs::create_directories(Path("dl"));
  fs::create_directories(Path("outside"));
  std::error_code ec;
  fs::create_directory_symlink(Path("outside"), Path("dl/linked"), ec);
  fs::create_directory_symlink(Path("dl"), Path("userlink"), ec);
  const bool links = !ec;
  struct Case {
    const char *root, *path;
    bool made;
    bool refused;
  } cases[] = {
      {"dl", "dl/a/b", true, false},      {"dl/", "dl/a/./c/", true, false},
      {"dl", "dl/linked/x", false, true}, {"dl", "dl/../outside/y", false, true},
      {"dl", "dl2/z", false, true},       {"userlink", "userlink/u", true, false},
  };
  for (const Case& c : cases) {
    if (!links && (std::string_view(c.path).find("link") != std::string_view::npos)) continue;
    std::string refusal;
    EXPECT_EQ(EnsureDirectoryBelow(Path(c.root), Path(c.path), refusal), c.made) << c.path;
    EXPECT_EQ(refusal.empty(), !c.refused) << c.path << ": " << refusal;
    if (c.made) {
      EXPECT_TRUE(fs::is_directory(Path(c.path))) << c.path;
    }
  }
  EXPECT_TRUE(DirectoryNames(Path("outside")).empty());
  EXPECT_FALSE(PathExists(Path("dl2")));
}

}  // namespace

}  // namespace quorbit
