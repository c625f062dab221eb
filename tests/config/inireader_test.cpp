#include "config/inireader.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "peers/peers.h"

namespace quorbit {

namespace {

using namespace std::string_literals;

// Packed 16-bit fields are compared by value (unary +): a reference to one
// would be misaligned.
#pragma pack(push, 1)
struct TestRecord {
  Str80 NAME;
  std::uint16_t PORT;
  std::uint8_t LEVEL;
  std::uint8_t FLAG;
  Str255 LINE[3];
};
#pragma pack(pop)

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SectionDef test("TEST");
    test.AddKey("NAME", kKindText, 80);
    test.AddKey("PORT", kKindWord, 2);
    test.AddKey("LEVEL", kKindByte, 1);
    test.AddKey("FLAG", kKindYesNo, 1);
    for (int i = 0; i < 3; ++i) test.AddKey("LINE", kKindText, 255);
    ASSERT_EQ(test.recordSize, static_cast<std::int32_t>(sizeof(TestRecord)));
    SectionList list;
    list.Add(test);
    list.Add(SectionDef("OTHER"));
    reader.Adopt(list);
  }

  // Writes the file and positions the reader on its first declared section.
  Str255 Open(std::string_view content) {
    WriteFile(path, content);
    EXPECT_TRUE(reader.Open(path));
    return reader.FirstSection();
  }

  // Reads the first section of a file holding content.
  std::int32_t ReadFirst(std::string_view content) {
    EXPECT_EQ(Open(content), "TEST");
    return reader.ReadSection(&record);
  }

  // The result of reading one key line of the test section.
  std::int32_t ReadKey(const std::string& line) {
    return ReadFirst("[TEST]\r\n" + line + "\r\n[END]\r\n");
  }

  TempDir dir;
  std::string path = dir / "test.ini";
  IniReader reader;
  TestRecord record{};
};

TEST_F(IniFileTest, KeyLines) {
  struct Case {
    std::string line;
    std::string name;
    std::uint16_t port;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"  port = 21  ", "", 21},
           {"PORT\t= 21", "", 0},  // the tab belongs to the key
           {"NAME=a=b", "a=b", 0},
           {"NAME= \ta b\t \0"s, "\ta b\t", 0},  // spaces and NULs trimmed, tabs kept
           {"name=Mixed Case", "Mixed Case", 0},
           {"NAME", "", 0},
           {"NAME=" + std::string(100, 'n'), std::string(80, 'n'), 0},
           {";NAME=comment", "", 0},
           {"x;NAME=undeclared", "", 0},
           {"PORTS=abc", "", 0},          // undeclared keys are never checked
           {"[ END ]\r\nPORT=2", "", 2},  // not an end line: the section goes on
       }) {
    EXPECT_EQ(ReadKey(c.line), 0) << c.line;
    EXPECT_EQ(record.NAME.View(), c.name) << c.line;
    EXPECT_EQ(+record.PORT, c.port) << c.line;
  }
  for (std::string end : {"[end]", "  [End]  "}) {
    EXPECT_EQ(ReadFirst("[TEST]\r\n" + end + "\r\nNAME=after\r\n"), 0) << end;
    EXPECT_EQ(record.NAME, "") << end;
  }
}

TEST_F(IniFileTest, MissingEndRunsIntoTheNextSectionOrFailsOnTheLastLine) {
  EXPECT_EQ(ReadFirst("[TEST]\r\nNAME=first\r\n[TEST]\r\nNAME=second\r\nPORT=7\r\n[END]\r\n"), 0);
  EXPECT_EQ(record.NAME, "first");
  EXPECT_EQ(+record.PORT, 7);
  EXPECT_EQ(reader.NextSection(), "");
  // The last line counts whether or not a line end follows it; blank lines count.
  EXPECT_EQ(ReadFirst("[TEST]\r\nNAME=x"), 2);
  EXPECT_EQ(record.NAME, "x");  // what was read before stays
  EXPECT_EQ(ReadFirst("[TEST]\r\nNAME=x\r\n\r\n\r\n"), 4);
  EXPECT_EQ(ReadFirst("[TEST]"), 1);
}

TEST_F(IniFileTest, ValuesOfIntegerAndYesNoKeys) {
  struct Case {
    const char* line;
    std::uint16_t port;
  };
  for (Case c : {Case{"PORT=+21", 21},
                 {"PORT=-1", 65535},
                 {"PORT=$50", 80},
                 {"PORT=x1f", 31},
                 {"PORT=0x1F", 31},
                 {"PORT=0Xff", 255},
                 {"PORT=65617", 81},
                 {"PORT=007", 7},
                 {"PORT=-2147483648", 0},
                 {"PORT=$7FFFFFFF", 65535}}) {
    EXPECT_EQ(ReadKey(c.line), 0) << c.line;
    EXPECT_EQ(+record.PORT, c.port) << c.line;
  }
  EXPECT_EQ(ReadKey("LEVEL=256"), 0);
  EXPECT_EQ(record.LEVEL, 0);
  for (const char* yes : {"FLAG=YES", "FLAG=yes", "FLAG=Yes"}) {
    EXPECT_EQ(ReadKey(yes), 0) << yes;
    EXPECT_EQ(record.FLAG, 1) << yes;
  }
  EXPECT_EQ(ReadKey("FLAG=no"), 0);
  EXPECT_EQ(record.FLAG, 0);

  for (const char* bad :
       {"PORT=", "PORT=12abc", "PORT=1 2", "PORT=+", "PORT=$", "PORT=0x", "PORT=$-1", "PORT=-$1",
        "PORT=0x+1", "PORT=1.5", "PORT=99999999999", "PORT=2147483648", "PORT=-2147483649",
        "PORT=$FFFFFFFF", "FLAG=Y", "FLAG=TRUE", "FLAG=1", "FLAG="}) {
    EXPECT_EQ(ReadFirst(std::string("[TEST]\r\nNAME=n\r\n") + bad + "\r\n[END]\r\n"), 3) << bad;
    EXPECT_EQ(record.NAME, "n") << bad;
  }
}

TEST_F(IniFileTest, RepeatedKeysFillSuccessiveSlotsAndOthersKeepTheirFirstValue) {
  EXPECT_EQ(ReadFirst("[TEST]\r\nLINE=1\r\nNAME=first\r\nLINE=2\r\nNAME=second\r\nLINE=3\r\n"
                      "LINE=4\r\n[END]\r\n"),
            0);
  EXPECT_EQ(record.LINE[0], "1");
  EXPECT_EQ(record.LINE[2], "3");
  EXPECT_EQ(record.NAME, "first");
  // Each section starts from an empty record with all its slots free again.
  EXPECT_EQ(ReadFirst("[TEST]\r\nLINE=x\r\n[END]\r\n"), 0);
  EXPECT_EQ(record.LINE[0], "x");
  EXPECT_EQ(record.LINE[1], "");
}

TEST_F(IniFileTest, ReadingLines) {
  for (std::string eol : {"\r", "\n", "\r\n"}) {
    const std::string file = "; list" + eol + "[TEST]" + eol + "NAME=x" + eol + eol + "PORT=1" +
                             eol + "FLAG=maybe" + eol + "[END]" + eol;
    EXPECT_EQ(ReadFirst(file), 6) << eol.size() << int(eol[0]);
    EXPECT_EQ(record.NAME, "x");
    EXPECT_EQ(+record.PORT, 1);
  }
  // LF CR is two line ends, with an empty line between them.
  EXPECT_EQ(ReadFirst("[TEST]\n\rFLAG=maybe\n\r[END]\n\r"), 3);

  // A line of 300 characters keeps 255; its rest is skipped, not read as a line.
  const std::string longLine = "LINE=" + std::string(250, 'a') + "PORT=9" + std::string(44, 'b');
  EXPECT_EQ(ReadFirst("[TEST]\r\n" + longLine + "\r\nFLAG=maybe\r\n"), 3);
  EXPECT_EQ(record.LINE[0].View(), std::string(250, 'a'));
  EXPECT_EQ(+record.PORT, 0);
  EXPECT_TRUE(reader.CurrentSection()->keys[4].cut);
  // Only blanks beyond 255 characters: nothing of the value is lost.
  const std::string blanks = "LINE=" + std::string(250, 'a') + std::string(10, ' ');
  EXPECT_EQ(ReadFirst("[TEST]\r\n" + blanks + "\r\nLINE=b\r\nNAME=" + std::string(81, 'n') +
                      "\r\n[END]\r\n"),
            0);
  const std::vector<KeyDef>& keys = reader.CurrentSection()->keys;
  EXPECT_FALSE(keys[4].cut);
  EXPECT_FALSE(keys[5].cut);
  EXPECT_TRUE(keys[0].cut);  // NAME holds 80 characters

  // Ctrl-Z ends the file.
  EXPECT_EQ(ReadFirst("[TEST]\r\nNAME=x\x1ay\r\n[END]\r\n"), 2);
  EXPECT_EQ(record.NAME, "x");

  std::string many = "[TEST]\n";
  for (int i = 0; i < 69998; ++i) many += "; filler\n";
  EXPECT_EQ(ReadFirst(many + "PORT=bad\n[END]\n"), 70000);
}

TEST_F(IniFileTest, SectionsAreFoundByUpperCaseNameAndUndeclaredOnesSkippedWhole) {
  EXPECT_EQ(Open("NAME=outside\r\n[SKIP]\r\n[TEST\r\nTEST]\r\n[ other ]\r\n[END]\r\n"
                 "[UNKNOWN]\r\nPORT=bad\r\n[END]\r\n[]\r\n[ test ]\r\nNAME=in\r\n[END]\r\n"),
            "OTHER");
  EXPECT_EQ(reader.NextSection(), "TEST");
  EXPECT_EQ(reader.LineCount(), 11);
  EXPECT_EQ(reader.ReadSection(&record), 0);
  EXPECT_EQ(record.NAME, "in");
  EXPECT_EQ(reader.NextSection(), "");
  // FirstSection starts over and counts lines from the top again.
  EXPECT_EQ(reader.FirstSection(), "OTHER");
  EXPECT_EQ(reader.LineCount(), 5);

  EXPECT_FALSE(reader.Open(dir / "missing.ini"));
  EXPECT_EQ(reader.FirstSection(), "");
  EXPECT_FALSE(reader.Open(dir.Path()));  // a directory is no INI file
}

}  // namespace

}  // namespace quorbit
