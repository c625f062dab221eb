#include "util/localfiles.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "peers/peers.h"
#include "util/filesystem.h"
#include "util/systemclock.h"

namespace quorbit {

namespace {

namespace fs = std::filesystem;

std::string CurrentDirectory() {
  return fs::current_path().string();
}

// Hidden as the platform keeps it: by the attribute on Windows, by the
// leading dot of the name on Linux.
void MakeHidden(const std::string& path) {
#ifdef _WIN32
  SetFileAttributesA(path.c_str(), GetFileAttributesA(path.c_str()) | FILE_ATTRIBUTE_HIDDEN);
#else
  (void)path;
#endif
}

std::vector<std::string> NamesOf(const std::vector<FoundFile>& found) {
  std::vector<std::string> names;
  for (const FoundFile& f : found) names.push_back(f.name.Str());
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

TEST(DosPaths, SplitsDirectoryNameAndExtension) {
  struct Case {
    const char *path, *directory, *name, *extension;
  } cases[] = {
      {"/data/file.txt", "/data", "file", ".txt"},
      {"/file.txt", "/", "file", ".txt"},
      {"file", "", "file", ""},
      {"dir/archive.tar.gz", "dir", "archive.tar", ".gz"},
      {"/a.b/c", "/a.b", "c", ""},  // a dot in a directory is no extension
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

TEST(DosMasks, MatchWholeNamesAsWindowsDoes) {
  struct Case {
    const char *mask, *name;
    bool matches;
  } cases[] = {
      {"*.*", "README", true},
      {"*.*", "INDEX.HTM", true},
      {"*.*", "INDEX.HTML", true},
      {"*.*", "LONGNAME9.TXT", true},
      {"*.*", "notes for the team.txt", true},
      {"*", "  lead.txt", true},
      {"*.*", "semi;colon.txt", true},
      {"*",
       "\xC3\xBCn\xC3\xAF"
       "code.txt",
       true},
      {"*.*", "archive.tar.gz", true},
      {"*.TXT", "ABCDEFGH.TXT", true},
      {"*.TXT", "ABCDEFGHI.TXT", true},
      {"*.txt", "100%.TXT", true},
      {"*.TXT", "A.TX", false},
      {"*.TXT", "A.TXT.BAK", false},
      {"*.", "README", true},
      {"*.", "A.TXT", false},
      {"DATA##.TXT", "DATA01.TXT", true},
      {"DATA##.TXT", "DATA1.TXT", false},
      {"DATA##.TXT", "DATAAB.TXT", false},
      {"ISSUE#12.TXT", "ISSUE#12.TXT", true},
      {"LOG@.TXT", "LOGA.TXT", true},
      {"LOG@.TXT", "LOG1.TXT", false},
      // "?" is one character, a UTF-8 sequence counting as one.
      {"AB?.TXT", "AB.TXT", false},
      {"AB?.TXT", "ABC.TXT", true},
      {"?N?CODE.TXT",
       "\xC3\xBCn\xC3\xAF"
       "code.txt",
       true},
      {"*?CODE.TXT",
       "\xC3\xBC"
       "code.txt",
       true},
      {"FILE.", "FILE", true},
      {"FILE", "FILES", false},
      {"FILE", "file", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchFileMask(c.mask, c.name), c.matches) << c.mask << " " << c.name;
  }
}

TEST_F(DosFiles, ShortNamesAvoidTakenNames) {
  EXPECT_EQ(ShortFileName(root_, "a b.txt").View(), "a_b.txt");
  EXPECT_EQ(ShortFileName(root_, "index.html").View(), "index.htm");
  EXPECT_EQ(ShortFileName(root_, "Readme.Markdown").View(), "Readm~00.Mar");
  EXPECT_EQ(ShortFileName(root_, "my long page.html").View(), "my_lo~00.htm");
  Write("my_lo~00.htm");
  EXPECT_EQ(ShortFileName(root_, "my long page.html").View(), "my_lo~01.htm");
  EXPECT_EQ(ShortFileName(root_ + kPathSep, "my.long.page.html").View(), "my_lo~01.htm");
}

TEST_F(DosFiles, OpenFailuresCarryTheSystemsReason) {
  Write("plain");
  TextFile missing(Path("missing.txt"));
  EXPECT_EQ(OpenTextRead(missing).error, std::errc::no_such_file_or_directory);
  TextFile noDirectory(Path("nodir/file.txt"));
  EXPECT_EQ(OpenTextRead(noDirectory).error, std::errc::no_such_file_or_directory);
  TextFile underFile(Path("plain/file.txt"));
  EXPECT_FALSE(OpenTextRead(underFile));
  TextFile directory(root_);
  EXPECT_EQ(OpenTextRead(directory).error, std::errc::is_a_directory);
  EXPECT_FALSE(directory.IsOpen());
}

TEST_F(DosFiles, TextFilesCreateTheirDirectories) {
  const std::string name = Path("logs/v1.0/run.log");
  {
    TextFile log(name);
    ASSERT_TRUE(AppendTextFile(log));
    std::fputs("one\n", log.Handle());
  }
  {
    TextFile log(name);
    ASSERT_TRUE(AppendTextFile(log));
    std::fputs("two\n", log.Handle());
  }
  EXPECT_EQ(ReadFile(Path("logs/v1.0/run.log")), NativeLines("one\ntwo\n"));

  TextFile fresh(Path("new/deeper/ini.txt"));
  ASSERT_TRUE(CreateTextFile(fresh));
  EXPECT_TRUE(fresh.IsOpen());
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

// A download is written to ".<name>.quorbit-part" beside its target and
// takes the target's place only when committed; the part file never stays.
TEST_F(DosFiles, PartFilesReplaceTheirTargetOnlyWhenCommitted) {
  enum class Before { Nothing, OldCopy, Directory, ReadOnlyCopy };
  struct Case {
    const char* what;
    std::string name;
    Before before;
    bool commit;
    bool created;
    const char* after;  // the target's content afterwards, nullptr when missing
  } cases[] = {
      {"created and committed", "new.txt", Before::Nothing, true, true, "new"},
      {"committed over a copy", "copy.txt", Before::OldCopy, true, true, "new"},
      {"abandoned", "broken.txt", Before::Nothing, false, true, nullptr},
      {"abandoned over a copy", "kept.txt", Before::OldCopy, false, true, "old"},
      {"target is a directory", "dir", Before::Directory, true, false, nullptr},
      {"target is read-only", "locked.txt", Before::ReadOnlyCopy, true, false, "old"},
      // The part's path is longer than a short string; the name must still work.
      {"name fills a short string", std::string(Str255::kMax - root_.size() - 1, 'n'),
       Before::Nothing, true, true, "new"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string target = Path(c.name);
    if (c.before == Before::Directory) fs::create_directory(target);
    if (c.before == Before::OldCopy || c.before == Before::ReadOnlyCopy) Write(c.name, "old");
    if (c.before == Before::ReadOnlyCopy) SetAttributes(target, kAttrReadOnly);
    {
      PartFile part(target);
      EXPECT_EQ(part.Path(), Path("." + c.name + ".quorbit-part"));
      ASSERT_EQ(part.Create(), c.created);
      if (c.created) {
        EXPECT_TRUE(part.Write("new", 3));
        EXPECT_TRUE(PathExists(part.Path()));
        if (c.commit) {
          EXPECT_TRUE(part.Commit());
        }
      }
    }
    EXPECT_FALSE(PathExists(Path("." + c.name + ".quorbit-part")));
    if (c.after) {
      EXPECT_EQ(ReadFile(target), c.after);
    } else if (c.before == Before::Directory) {
      EXPECT_TRUE(fs::is_directory(target));
    } else {
      EXPECT_FALSE(PathExists(target));
    }
  }
  EXPECT_FALSE(PartFile("").Create());
}

// A link planted in a download directory never makes a download write
// where it leads. Each row plants one (or a stale part file) in the
// assignment's directory "dl" and says whether the download is stored;
// nothing outside "dl" is ever written, created or removed.
TEST_F(DosFiles, PartFilesNeverWriteThroughAPlantedLink) {
  enum class Plant { StalePart, LinkAtPart, DanglingLinkAtPart, LinkAtTarget, LinkedSubdirectory };
  struct Case {
    const char* what;
    Plant plant;
    const char* target;  // below "dl"
    bool stored;
  } cases[] = {
      {"a stale part file is replaced", Plant::StalePart, "a.txt", true},
      {"a link at the part name is replaced, not followed", Plant::LinkAtPart, "a.txt", true},
      {"a dangling link at the part name creates nothing", Plant::DanglingLinkAtPart, "a.txt",
       true},
      {"a link at the stored name is replaced itself", Plant::LinkAtTarget, "a.txt", true},
      {"a subdirectory that is a link is never entered", Plant::LinkedSubdirectory, "sub/a.txt",
       false},
      {"a path that climbs out is refused", Plant::StalePart, "../outside/a.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Path("dl"));
    fs::remove_all(Path("outside"));
    fs::create_directory(Path("dl"));
    fs::create_directory(Path("outside"));
    Write("outside/victim.txt", "victim");
    const std::string part = Path("dl/.a.txt.quorbit-part");
    std::error_code ec;
    switch (c.plant) {
      case Plant::StalePart:
        Write("dl/.a.txt.quorbit-part", "stale");
        break;
      case Plant::LinkAtPart:
        fs::create_symlink(Path("outside/victim.txt"), part, ec);
        break;
      case Plant::DanglingLinkAtPart:
        fs::create_symlink(Path("outside/created.txt"), part, ec);
        break;
      case Plant::LinkAtTarget:
        fs::create_symlink(Path("outside/victim.txt"), Path("dl/a.txt"), ec);
        break;
      case Plant::LinkedSubdirectory:
        fs::create_directory_symlink(Path("outside"), Path("dl/sub"), ec);
        break;
    }
    if (ec) continue;  // no links here
    const std::string target = Path("dl/" + std::string(c.target));
    {
      PartFile download(target, Path("dl"));
      ASSERT_EQ(download.Create(), c.stored);
      if (c.stored) {
        EXPECT_TRUE(download.Write("new", 3));
        EXPECT_TRUE(download.Commit());
      } else {
        EXPECT_EQ(download.Refusal(),
                  "Not writing " + target + ": its real path is not inside " + Path("dl"));
      }
    }
    if (c.stored) {
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
      EXPECT_EQ(ReadFile(target), "new");
      EXPECT_FALSE(PathExists(part));
    }
    EXPECT_EQ(DirectoryNames(Path("outside")), std::vector<std::string>{"victim.txt"});
    EXPECT_EQ(ReadFile(Path("outside/victim.txt")), "victim");
  }
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

// The run's own files (the INI file, the run log, the debug log) are never
// replaced, renamed onto or deleted, whatever spelling names them.
TEST_F(DosFiles, TheRunsOwnFilesAreNeverReplacedOrDeleted) {
  Write("t.ini", "[MAIN]");
  Write("run.log", "log");
  fs::create_directory(Path("sub"));
  std::error_code ec;
  fs::create_directory_symlink(root_, Path("alias"), ec);
  const bool links = !ec;
  fs::create_symlink(Path("t.ini"), Path("link.ini"), ec);
  fs::create_hard_link(Path("t.ini"), Path("hard.ini"), ec);
  const bool hardLinks = !ec;
  ProtectRunFiles(Path("t.ini"), Path("run.log"), Path("logs/debug.log"));
  struct Unprotect {
    ~Unprotect() { ProtectRunFiles("", "", ""); }
  } unprotect;

  struct Case {
    std::string path;
    const char* role;  // empty: free to write
    bool needsLinks;
  } cases[] = {
      {Path("t.ini"), "INI file", false},
      {Path("sub/../t.ini"), "INI file", false},
      {root_ + kPathSep + "." + kPathSep + "t.ini", "INI file", false},
      {Path("alias/t.ini"), "INI file", true},
      {Path("link.ini"), "INI file", true},
      {Path("hard.ini"), hardLinks ? "INI file" : "", false},
      {Path("run.log"), "run log", false},
      {Path("logs/debug.log"), "debug log", false},  // not made yet
      {Path("other.txt"), "", false},
      {Path("sub/t.ini"), "", false},
#ifdef _WIN32
      {Path("T.INI"), "INI file", false},
#endif
  };
  for (const Case& c : cases) {
    if (c.needsLinks && !links) continue;
    SCOPED_TRACE(c.path);
    EXPECT_EQ(RunFileRole(c.path), c.role);
    if (*c.role == '\0') {
      EXPECT_EQ(NotOverwritingLine(c.path), "");
      continue;
    }
    const std::string line = NotOverwritingLine(c.path);
    EXPECT_EQ(line, "Not overwriting " + c.path + ": it is this run's " + c.role);
    const std::string before = PathExists(c.path) ? ReadFile(c.path) : "";
    {
      PartFile download(c.path);
      EXPECT_FALSE(download.Create());
      EXPECT_EQ(download.Refusal(), line);
    }
    Write("new.txt", "new");
    EXPECT_FALSE(RenameReplacing(Path("new.txt"), c.path));
    EXPECT_EQ(DeleteFileForced(c.path).error, std::errc::permission_denied);
    if (!before.empty()) {
      EXPECT_EQ(ReadFile(c.path), before);
    }
  }
  EXPECT_EQ(ReadFile(Path("t.ini")), "[MAIN]");
  EXPECT_FALSE(PathExists(Path("logs")));

  ProtectRunFiles("", "", "");
  EXPECT_EQ(RunFileRole(Path("t.ini")), "");
  EXPECT_EQ(DeleteFileForced(Path("other.txt")).error, std::errc::no_such_file_or_directory);
}

TEST_F(DosFiles, DatesRoundTripInLocalTime) {
  EXPECT_EQ(GetFileDate(Path("missing")), 0u);
  EXPECT_EQ(GetFileDate(root_), 0u);
  EXPECT_FALSE(SetFileDate(Path("missing"), 1));

  Write("dated.txt");
  DateTimeParts parts;
  parts.year = 2024, parts.month = 3, parts.day = 15;
  parts.hour = 13, parts.minute = 45, parts.second = 31;
  const PackedDateTime date = PackDateTime(parts);
  ASSERT_TRUE(SetFileDate(Path("dated.txt"), date));
  EXPECT_EQ(GetFileDate(Path("dated.txt")), date);

  EntryStatus status;
  ASSERT_EQ(StatPath(Path("dated.txt"), true, status), 0);
  std::tm local{};
  ASSERT_TRUE(ToLocalTime(status.modified, local));
  EXPECT_EQ(local.tm_hour, 13);
  EXPECT_EQ(local.tm_sec, 30);
}

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

// Names as FTP servers send them (UTF-8) are created, found, opened, renamed
// and deleted under the same characters, on Windows through the wide calls.
TEST_F(DosFiles, AwkwardNamesTravelWholeThroughEveryCall) {
  for (const std::string name : {"\xC3\xBCn\xC3\xAF"
                                 "code.txt",
                                 "notes for the team.txt", "100%.txt", "semi;colon.txt"}) {
    SCOPED_TRACE(name);
    const std::string target = Path(name);
    {
      PartFile part(target);
      ASSERT_TRUE(part.Create());
      EXPECT_TRUE(part.Write("new", 3));
      EXPECT_TRUE(part.Commit());
    }
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(NamesOf(FindFiles(root_, "*", kAttrArchive)), std::vector<std::string>{name});
    EXPECT_EQ(FileSizeOf(target), 3u);
    TextFile text(target);
    EXPECT_TRUE(OpenTextRead(text));
    EXPECT_TRUE(text.Close());

    const std::string renamed = Path("moved " + name);
    EXPECT_TRUE(RenameReplacing(target, renamed));
    EXPECT_EQ(DirectoryNames(root_), std::vector<std::string>{"moved " + name});
    EXPECT_TRUE(DeleteFileForced(renamed));
    EXPECT_TRUE(DirectoryNames(root_).empty());
  }
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
