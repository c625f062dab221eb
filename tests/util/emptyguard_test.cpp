#include "util/emptyguard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "peers/peers.h"

namespace {

TEST(EmptyGuard, RefusesEveryPlaceThatHoldsWhatTheUserKeeps) {
  const GuardedPaths guarded = {"/home/u", "/home/u/work", "/etc/q/conf/run.ini",
                                "/var/log/q/run.log", "/srv/mirror/dbg/tcp.log"};
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
  for (const Case& c : cases) EXPECT_EQ(WhyNotEmpty(c.location, guarded), c.reason) << c.location;

  // The home directory above a current directory elsewhere is still held.
  const GuardedPaths elsewhere = {"/home/u", "/tmp/run", "", "", ""};
  EXPECT_EQ(WhyNotEmpty("/home", elsewhere), "it holds the home directory");
  EXPECT_EQ(WhyNotEmpty("/tmp/run/store", elsewhere), "");
}

TEST(EmptyGuard, ResolvesLinksDotsAndPartsThatDoNotExistYet) {
  TempDir dir;
  const std::string top = ResolvedPath(dir.Path());
  ASSERT_FALSE(top.empty());
  WriteFile(dir / "real/file.txt", "x");
  ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
  struct Case {
    std::string path, resolved;
  } cases[] = {
      {dir / "real/", top + "/real"},
      {dir / "link", top + "/real"},
      {dir / "link/./../real//file.txt", top + "/real/file.txt"},
      {dir / "link/new.log", top + "/real/new.log"},  // a log before its first line
      {dir / "link/a/b/../c/", top + "/real/a/c"},
      {dir / "real/file.txt/x", top + "/real/file.txt/x"},
      {"/", "/"},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolvedPath(c.path), c.resolved) << c.path;

  InDirectory inside(dir / "real");
  EXPECT_EQ(ResolvedPath(""), top + "/real");
  EXPECT_EQ(ResolvedPath("./"), top + "/real");
  EXPECT_EQ(ResolvedPath("../link/file.txt"), top + "/real/file.txt");
  EXPECT_EQ(ResolvedPath("../../../../../../../../../.."), "/");
}

}  // namespace
