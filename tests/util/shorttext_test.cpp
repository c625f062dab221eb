#include "util/shorttext.h"

#include <gtest/gtest.h>

#include <string>

namespace quorbit {

namespace {

const std::string k300(300, 'x');

TEST(ShortStr, CutsAtItsMaximum) {
  Str255 wide(k300);
  EXPECT_EQ(wide.Length(), 255u);
  Str80 narrow(k300);
  EXPECT_EQ(narrow.Length(), 80u);

  narrow = Str80(std::string(79, 'a'));
  narrow += "bcd";
  EXPECT_EQ(narrow.Length(), 80u);
  EXPECT_EQ(narrow.Last(), 'b');
  narrow += 'z';
  EXPECT_EQ(narrow.Last(), 'b');

  Str255 full(std::string(255, 'y'));
  EXPECT_EQ((full + "more").Length(), 255u);
  EXPECT_EQ((full + 'c').Last(), 'y');
}

TEST(ShortStr, ConvertsBetweenCapacities) {
  Str255 wide(std::string(100, 'a'));
  wide += "tail";
  Str80 narrow = wide;
  EXPECT_EQ(narrow.View(), std::string(80, 'a'));
  narrow = "short";
  Str255 back = narrow;
  EXPECT_EQ(back.View(), "short");
}

TEST(ShortStr, PositionsAreOneBased) {
  Str255 s("abcabc");
  EXPECT_EQ(s.Pos('a'), 1u);
  EXPECT_EQ(s.Pos("ca"), 3u);
  EXPECT_EQ(s.Pos('z'), 0u);
  EXPECT_EQ(s.Pos("CA"), 0u);  // exact byte comparison
  EXPECT_EQ(s.Pos(""), 0u);
}

TEST(ShortStr, CopyAndDeleteClampToTheText) {
  Str255 s("abcdef");
  EXPECT_EQ(s.Copy(2, 3).View(), "bcd");
  EXPECT_EQ(s.Copy(0, 2).View(), "ab");
  EXPECT_EQ(s.Copy(4, 1000).View(), "def");
  EXPECT_EQ(s.Copy(6, 1).View(), "f");
  EXPECT_TRUE(s.Copy(7, 1).Empty());

  Str255 d = s;
  d.Delete(7, 1);
  EXPECT_EQ(d.View(), "abcdef");
  d.Delete(0, 2);
  EXPECT_EQ(d.View(), "abcdef");
  d.Delete(2, 2);
  EXPECT_EQ(d.View(), "adef");
  d.Delete(3, 1000);
  EXPECT_EQ(d.View(), "ad");
}

TEST(ShortText, CaseAndNumbers) {
  EXPECT_EQ(UpperStr("aZ9\xe4"), "AZ9\xe4");
  EXPECT_EQ(LowerLetter('Q'), 'q');
  EXPECT_EQ(LowerLetter('\xc4'), '\xc4');

  EXPECT_EQ(IntToText(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(TextToInt("-45"), -45);
  EXPECT_EQ(TextToInt("2147483647"), 2147483647);
  EXPECT_EQ(TextToInt("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", "-", "12a", " 1", "2147483648", "99999999999"}) {
    EXPECT_EQ(TextToInt(bad), 0) << bad;
  }
}

TEST(ShortText, PaddingCutsLongerTexts) {
  EXPECT_EQ(PadLeft("abc", 2, '0'), "ab");
  EXPECT_EQ(PadLeft("7", 3, ' '), "  7");
  EXPECT_EQ(TwoDigits(7), "07");
  EXPECT_EQ(TwoDigits(2026), "20");
}

TEST(ShortText, TrimBlanksRemovesOnlySpacesAndNuls) {
  Str80 s(std::string_view(" \0\tx y\t \0", 9));
  TrimBlanks(s);
  EXPECT_EQ(s.View(), "\tx y\t");
  Str80 blank("   ");
  TrimBlanks(blank);
  EXPECT_TRUE(blank.Empty());
}

TEST(ShortText, EnsureTrailing) {
  Str80 dir("a/b");
  EnsureTrailing(dir, '/');
  EnsureTrailing(dir, '/');
  EXPECT_EQ(dir.View(), "a/b/");
  Str80 empty;
  EnsureTrailing(empty, '/');
  EXPECT_TRUE(empty.Empty());
  Str80 full(std::string(80, 'n'));
  EnsureTrailing(full, '/');
  EXPECT_EQ(full.Length(), 80u);
  EXPECT_EQ(full.Last(), 'n');
}

TEST(ShortText, HexadecimalText) {
  EXPECT_EQ(HexByte(0x0F), "0F");
  EXPECT_EQ(HexByte(0xAB), "AB");
  EXPECT_EQ(HexWord(0x12AB), "12AB");
  EXPECT_EQ(HexLong(0), "00000000");
  EXPECT_EQ(HexLong(0xDEADBEEF), "DEADBEEF");
}

TEST(ShortText, HexValuesOfOddInput) {
  EXPECT_EQ(HexDigitValue('0'), 0);
  EXPECT_EQ(HexDigitValue('9'), 9);
  EXPECT_EQ(HexDigitValue('a'), 10);
  EXPECT_EQ(HexDigitValue('F'), 15);
  EXPECT_EQ(HexDigitValue('G'), -1);
  EXPECT_EQ(HexDigitValue('g'), -1);
  EXPECT_EQ(HexDigitValue(' '), -1);
  EXPECT_EQ(HexDigitValue('\xff'), -1);

  EXPECT_EQ(HexPairValue("2F"), 0x2F);
  EXPECT_EQ(HexPairValue("ff"), 0xFF);
  EXPECT_EQ(HexPairValue("F"), 0x0F);
  EXPECT_EQ(HexPairValue(""), 0);
  EXPECT_EQ(HexPairValue("abc"), 0xAB);
  EXPECT_EQ(HexPairValue("GG"), 0);
  EXPECT_EQ(HexPairValue("G1"), 1);
}

TEST(ReplaceText, FindsAnyCaseAndCanAdaptTheReplacementsCase) {
  struct Case {
    const char *text, *pattern, *replacement;
    bool adaptCase;
    const char* expected;
  };
  for (const Case& c : {
           Case{"%DD%-%dd%-%Dd%", "%dd%", "07", false, "07-07-07"},
           {"abc", "", "x", false, "abc"},
           {"%Mmm%", "%mmm%", "DEC", true, "Dec"},
           {"%MMM%", "%mmm%", "DEC", true, "DEC"},
           {"%mmm%", "%mmm%", "DEC", true, "dec"},
           {"%mMm%", "%mmm%", "DEC", true, "dEc"},
           {"A1b", "a1b", "XYZ", true, "XyZ"},  // non-letters in the match do not count
           {"[m]", "m", "aBc", true, "[aBc]"},  // extra replacement letters keep their case
           // A replacement holding the pattern is not searched again.
           {"%d% and %D%", "%d%", "<%D%>", false, "<%D%> and <%D%>"},
           {"xXx", "x", "xx", false, "xxxxxx"},
       }) {
    std::string s(c.text);
    ReplaceText(s, {.pattern = c.pattern, .replacement = c.replacement, .adaptCase = c.adaptCase});
    EXPECT_EQ(s, c.expected) << c.text << " " << c.pattern;
  }
}

TEST(ReplaceText, GrowsPastAnyFixedWidth) {
  std::string s = std::string(253, '.') + "%y%";
  ReplaceText(s, {.pattern = "%y%", .replacement = "2026"});
  EXPECT_EQ(s.size(), 257u);
  EXPECT_EQ(s.substr(253), "2026");
}

TEST(ShortText, SplitFirst) {
  Str255 line("USER anonymous guest");
  Str80 head;
  SplitFirst(line, ' ', head);
  EXPECT_EQ(head.View(), "USER");
  EXPECT_EQ(line.View(), "anonymous guest");
  SplitFirst(line, ';', head);
  EXPECT_EQ(head.View(), "anonymous guest");
  EXPECT_TRUE(line.Empty());
  Str255 lead(" x");
  SplitFirst(lead, ' ', head);
  EXPECT_TRUE(head.Empty());
  EXPECT_EQ(lead.View(), "x");
}

}  // namespace

}  // namespace quorbit
