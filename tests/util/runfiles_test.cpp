#include "util/runfiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "util/directorytrees.h"
#include "util/filetestsupport.h"
#include "util/localpaths.h"
#include "util/partfiles.h"

namespace quorbit {

namespace {

namespace fs = std::filesystem;

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

}  // namespace

}  // namespace quorbit
