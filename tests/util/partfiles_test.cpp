#include "util/partfiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "util/directorytrees.h"
#include "util/fileattributes.h"
#include "util/filetestsupport.h"
#include "util/localsearch.h"
#include "util/shorttext.h"
#include "util/textfiles.h"

namespace quorbit {

namespace {

namespace fs = std::filesystem;

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

}  // namespace

}  // namespace quorbit
