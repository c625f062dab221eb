#include "util/emptyguard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "peers/peers.h"

namespace quorbit {

namespace {

TEST(EmptyGuard, RefusesEveryPlaceThatHoldsWhatTheUserKeeps) {
  const GuardedPaths guarded = {NativePath("/home/u"), NativePath("/home/u/work"),
                                NativePath("/etc/q/conf/run.ini"), NativePath("/var/log/q/run.log"),
                                NativePath("/srv/mirror/dbg/tcp.log")};
  struct Case {
    const char *location, *reason;
  } cases[] = {
      {"/", "it is the file system root"},
      {"/home/u", "it is the home directory"},
      {"/home/u/work", "it is the current directory"},
      {"/home", "it holds the current directory"},
      {"/etc/q/conf", "it holds the INI file"},
      {"/etc", "it holds the INI file"},
      {"/var/log/q", "it holds the run log"},
      {"/var/log", "it holds the run log"},
      {"/srv/mirror", "it holds the debug log"},
      {"", "its path cannot be resolved"},
      // Below the current directory, beside the files, or sharing only a
      // prefix of a name: an earlier mirror, emptied as before.
      {"/home/u/work/mirror", ""},
      {"/etc/q/conf/sub", ""},
      {"/home/u/wor", ""},
      {"/var/log/q2", ""},
      {"/srv/mirror/pages", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WhyNotEmpty(NativePath(c.location), guarded), c.reason) << c.location;
  }

  // The home directory above a current directory elsewhere is still held.
  const GuardedPaths elsewhere = {NativePath("/home/u"), NativePath("/tmp/run"), "", "", ""};
  EXPECT_EQ(WhyNotEmpty(NativePath("/home"), elsewhere), "it holds the home directory");
  EXPECT_EQ(WhyNotEmpty(NativePath("/tmp/run/store"), elsewhere), "");
}

TEST(EmptyGuard, ResolvesLinksDotsAndPartsThatDoNotExistYet) {
  TempDir dir;
  const std::string top = ResolvedPath(dir.Path());
  ASSERT_FALSE(top.empty());
  WriteFile(dir / "real/file.txt", "x");
  std::error_code ec;
  std::filesystem::create_directory_symlink(dir / "real", dir / "link", ec);
  if (ec) GTEST_SKIP() << "no directory links here: " << ec.message();
  const std::string real = top + NativePath("/real");
  struct Case {
    std::string path, resolved;
  } cases[] = {
      {dir / "real/", real},
      {dir / "link", real},
      {dir / "link/./../real//file.txt", real + NativePath("/file.txt")},
      {dir / "link/new.log", real + NativePath("/new.log")},  // a log before its first line
      {dir / "link/a/b/../c/", real + NativePath("/a/c")},
      {dir / "real/file.txt/x", real + NativePath("/file.txt/x")},
      {NativePath("/"), NativePath("/")},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolvedPath(c.path), c.resolved) << c.path;

  InDirectory inside(dir / "real");
  EXPECT_EQ(ResolvedPath(""), real);
  EXPECT_EQ(ResolvedPath("./"), real);
  EXPECT_EQ(ResolvedPath(NativePath("../link/file.txt")), real + NativePath("/file.txt"));
  EXPECT_EQ(ResolvedPath(NativePath("../../../../../../../../../..")), NativePath("/"));
}

}  // namespace

}  // namespace quorbit
