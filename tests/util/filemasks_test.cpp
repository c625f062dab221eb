#include "util/filemasks.h"

#include <gtest/gtest.h>

#include <string>

#include "util/filetestsupport.h"
#include "util/localpaths.h"
#include "util/textfiles.h"

namespace quorbit {

namespace {

namespace fs = std::filesystem;

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
  EXPECT_EQ(ShortFileName(root_, "a b.txt"), "a_b.txt");
  EXPECT_EQ(ShortFileName(root_, "index.html"), "index.htm");
  EXPECT_EQ(ShortFileName(root_, "Readme.Markdown"), "Readm~00.Mar");
  EXPECT_EQ(ShortFileName(root_, "my long page.html"), "my_lo~00.htm");
  Write("my_lo~00.htm");
  EXPECT_EQ(ShortFileName(root_, "my long page.html"), "my_lo~01.htm");
  EXPECT_EQ(ShortFileName(root_ + kPathSep, "my.long.page.html"), "my_lo~01.htm");
  // Cuts fall between characters, never inside a UTF-8 sequence.
  EXPECT_EQ(ShortFileName(root_, "\xC3\xA9\xC3\xA9\xC3\xA9.html"), "\xC3\xA9\xC3\xA9~00.htm");
  EXPECT_EQ(ShortFileName(root_, "page.tx\xC3\xA9"), "page.tx");

  // Taken names are looked for in the whole directory, however long its path.
  const std::string part(100, 'q');
  const std::string deep = Path(part + "/" + part + "/" + part);
  TextFile taken(deep + kPathSep + "my_lo~00.htm");
  ASSERT_TRUE(CreateTextFile(taken));
  ASSERT_TRUE(taken.Close());
  EXPECT_EQ(ShortFileName(deep, "my long page.html"), "my_lo~01.htm");
}

}  // namespace

}  // namespace quorbit
