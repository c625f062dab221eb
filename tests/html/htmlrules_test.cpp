#include "html/htmlrules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "html/scan_helpers.h"
#include "peers/fake_status_sink.h"

namespace quorbit {

namespace {

// Every line end (CR LF, LF CR, CR, LF or NUL) as one line feed, the way the
// lexer reads them.
std::string OneLineFeedPerLineEnd(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\r' && c != '\n' && c != '\0') {
      out += c;
      continue;
    }
    out += '\n';
    char partner = c == '\r' ? '\n' : c == '\n' ? '\r' : '\0';
    if (partner && i + 1 < text.size() && text[i + 1] == partner) ++i;
  }
  return out;
}

// Writing every token back must reproduce the page apart from the form of
// its line ends.
std::vector<Token> ScanRoundTrip(std::string_view page) {
  std::vector<Token> tokens = ScanText(page);
  EXPECT_EQ(OneLineFeedPerLineEnd(Join(tokens)), OneLineFeedPerLineEnd(page));
  return tokens;
}

std::string Links(std::string_view page) {
  return Show(ScanRoundTrip(page), PlainText);
}

TEST(HtmlTokens, KindsAndTheirExactTexts) {
  EXPECT_EQ(Links("<BASE HREF=\"http://x/\"><img src = \"a.gif\"><A HREF=\"b.html\">"
                  "<body BackGround=\"c.jpg\">"),
            "5[<BASE HREF=\"http://x/\">] 2[src = \"a.gif\"] 3[HREF=\"b.html\"] "
            "4[BackGround=\"c.jpg\"]");
  // Names are found anywhere, in any case, with white space over lines.
  EXPECT_EQ(Links("datasrc=\"x\" hReF\t=\r\n\"y\""), "2[src=\"x\"] 3[hReF\t=\n\"y\"]");
  EXPECT_EQ(Links("<BASE\r\n  href=\"h\">"), "5[<BASE\n  href=\"h\">]");
  EXPECT_EQ(Links("<basefont size=3>x"), "5[<basefont size=3>]");
  // Single-quoted or unquoted values, and names without a quoted
  // assignment, are plain text.
  for (std::string page : {"<img src='a.gif'>", "<a href=b.html>", "SRC x", "src =", "src = x\"y\"",
                           "BACKGROUND color", "<BASE>", "<base", "href\"x\""})
    EXPECT_EQ(Links(page), "") << page;
  EXPECT_EQ(ScanText("src='a'").size(), 7u);
}

TEST(HtmlTokens, LineEnds) {
  EXPECT_EQ(Join(ScanText("a\r\nb\n\rc\rd\ne\r\rf")), "a\r\nb\r\nc\r\nd\r\ne\r\n\r\nf");
  EXPECT_EQ(Join(ScanText("last\n")), "last\r\n");
  EXPECT_TRUE(ScanText("").empty());
  // A CR LF pair split by the read buffer is still one line end.
  std::string split = std::string(TextReader::kBufferSize - 1, 'a') + "\r\nb";
  EXPECT_EQ(Join(ScanText(split)), std::string(TextReader::kBufferSize - 1, 'a') + "\r\nb");
  // A Ctrl-Z at the start of a line ends the page.
  EXPECT_EQ(Join(ScanText("a\x1a"
                          "b\r\n\x1a"
                          "rest")),
            "a\x1a"
            "b\r\n");
}

TEST(HtmlTokens, LongLinesStayWholeWithTheirLinks) {
  // The tag starts on either side of the end of the first 255 characters.
  for (std::size_t before = 250; before <= 255; ++before) {
    std::string line =
        std::string(before, 'x') + "<a href=\"far/away.html\">" + std::string(50, 'y');
    std::vector<Token> tokens = ScanText(line + "\n");
    EXPECT_EQ(Join(tokens), line + "\r\n");
    EXPECT_EQ(Show(tokens, PlainText), "3[href=\"far/away.html\"]") << before;
  }
}

TEST(HtmlTokens, UnclosedQuotes) {
  InstalledFakeSink memo;
  // The page ends within the limit: single characters.
  EXPECT_EQ(Links("<a href=\"abc\r\ndef"), "");
  std::string fits = "href=\"" + std::string(248, 'p') + "\"";
  EXPECT_EQ(Links(fits), "3[" + fits + "]");
  EXPECT_TRUE(memo.Memo().empty());
  // Beyond the limit: plain text, and a complete link further on is found.
  EXPECT_EQ(Links("href=\"" + std::string(249, 'p') + "\""), "");
  EXPECT_EQ(Links("<a href=\"" + std::string(300, 'v') + "\n<img src=\"in.gif\">"),
            "2[src=\"in.gif\"]");
  EXPECT_EQ(memo.Memo(), std::vector<std::string>(2, "LexLib: yytext overflow"));
}

TEST(HtmlRoundTrip, InstalledDocumentationPages) {
  namespace fs = std::filesystem;
  int pages = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator("/usr/share/doc", ec);
       it != fs::recursive_directory_iterator() && pages < 300; it.increment(ec)) {
    if (ec || it->path().extension() != ".html" || !it->is_regular_file(ec)) continue;
    std::string page = ReadFile(it->path().string());
    if (page.find('\x1a') != std::string::npos) continue;
    SCOPED_TRACE(it->path().string());
    ScanRoundTrip(page);
    ++pages;
  }
  if (pages == 0) GTEST_SKIP() << "no HTML documentation installed";
}

TEST(HtmlRoundTrip, GeneratedPages) {
  const std::vector<std::string> pieces = {
      "src", "SRC", "href", "HrEf", "background", "<base", "<BASEFONT",
      "<",   ">",   "=",    " ",    "\t",         "\"",    "'",
      "\r",  "\n",  "\r\n", "\n\r", "a.gif",      "<img ", std::string(120, 'L')};
  std::mt19937 random(20240611);
  for (int n = 0; n < 200; ++n) {
    std::string page;
    for (int i = static_cast<int>(random() % 400); i > 0; --i)
      page += random() % 8 ? pieces[random() % pieces.size()]
                           : std::string(1, static_cast<char>(1 + random() % 255));
    if (page.find('\x1a') != std::string::npos) continue;
    SCOPED_TRACE(page);
    for (const Token& t : ScanRoundTrip(page)) {
      if (t.kind == PlainText) continue;
      EXPECT_EQ(t.text.back(), t.kind == BaseTag ? '>' : '"');
    }
  }
}

}  // namespace

}  // namespace quorbit
