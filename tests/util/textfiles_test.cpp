#include "util/textfiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "util/filetestsupport.h"

namespace quorbit {

namespace {

namespace fs = std::filesystem;

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

  // A name longer than a short string opens that file, not a cut one.
  const std::string part(100, 'p');
  const std::string longName = Path(part + "/" + part + "/" + part + ".log");
  {
    TextFile log(longName);
    ASSERT_TRUE(AppendTextFile(log));
    EXPECT_EQ(log.Name(), longName);
    std::fputs("long\n", log.Handle());
  }
  EXPECT_EQ(ReadFile(longName), NativeLines("long\n"));
  EXPECT_EQ(DirectoryNames(Path(part + "/" + part)), std::vector<std::string>{part + ".log"});
}

}  // namespace

}  // namespace quorbit
