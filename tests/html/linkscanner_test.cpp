// The link scanner: tokens of a stored page and the copy written through a
// temporary file.
#include "html/linkscanner.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>
#include <string>

#include "html/htmlrules.h"
#include "html/scan_helpers.h"
#include "peers/fake_status_sink.h"
#include "peers/peers.h"
#include "report/datetext.h"
#include "util/fileattributes.h"
#include "util/runfiles.h"

namespace quorbit {

namespace {

namespace fs = std::filesystem;

std::string CrLf(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

// Names of the files in dir, sorted.
std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Writes every remaining token back as it came.
void CopyRest(LinkScanner& scanner) {
  std::uint16_t kind = 0;
  std::string text;
  while (scanner.NextToken(kind, text)) scanner.WriteText(text);
}

class LinkScannerTest : public ::testing::Test {
 protected:
  std::string Dir() const { return dir.Path() + "/"; }
  std::string Page(std::string_view content, const std::string& name = "index.html") {
    WriteFile(dir / name, content);
    return dir / name;
  }
  // Copies the page through the scanner unchanged; true when the copy took
  // the page's place.
  bool CopyThrough(const std::string& page, const std::string& directory = {}) {
    LinkScanner scanner;
    if (!scanner.OpenPage(page)) return false;
    scanner.BeginRewrite(directory.empty() ? Dir() : directory);
    CopyRest(scanner);
    bool replaced = scanner.EndRewrite();
    EXPECT_TRUE(scanner.ClosePage());
    return replaced;
  }

  // The name of the temporary file a rewrite of the page goes through.
  std::string CopyNameFor(const std::string& name) {
    const std::string page = Page("text\n", name);
    const std::vector<std::string> before = FilesIn(dir.Path());
    LinkScanner scanner;
    if (!scanner.OpenPage(page) || !scanner.BeginRewrite(Dir())) return "";
    std::vector<std::string> added;
    for (const std::string& file : FilesIn(dir.Path()))
      if (std::find(before.begin(), before.end(), file) == before.end()) added.push_back(file);
    CopyRest(scanner);
    EXPECT_TRUE(scanner.EndRewrite());
    return added.size() == 1 ? added[0] : "";
  }

  TempDir dir;
  InstalledFakeSink memo;
};

TEST_F(LinkScannerTest, CopyTakesThePagesPlaceWithItsDateAndCrLfLines) {
  const std::string page = Page("<base href=\"x\"><a href=\"old.html\">a</a>\nline two\n");
  const PackedDateTime served = PackDateTime({2001, 2, 3, 4, 5, 6});
  ASSERT_TRUE(SetFileDate(page, served));

  LinkScanner scanner;
  ASSERT_TRUE(scanner.OpenPage(page));
  ASSERT_TRUE(scanner.BeginRewrite(Dir()));
  EXPECT_TRUE(PathExists(dir / "index.tmp"));
  std::uint16_t kind = 0;
  std::string text;
  while (scanner.NextToken(kind, text)) {
    if (kind == BaseTag) continue;
    scanner.WriteText(kind == HrefLink ? std::string("href=\"new.html\"") : text);
  }
  EXPECT_TRUE(scanner.EndRewrite());
  EXPECT_TRUE(scanner.ClosePage());

  EXPECT_EQ(ReadFile(page), "<a href=\"new.html\">a</a>\r\nline two\r\n");
  EXPECT_EQ(GetFileDate(page), served);
  EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"index.html"});
}

TEST_F(LinkScannerTest, TemporaryNameIsThePageNameUpToItsFirstDotOrTheFirstFreeOne) {
  EXPECT_EQ(CopyNameFor("a.b.html"), "a.tmp");
  EXPECT_EQ(CopyNameFor("README"), "README.tmp");
  WriteFile(dir / "index.tmp", "taken");
  WriteFile(dir / "index.tm0", "taken");
  EXPECT_EQ(CopyNameFor("index.html"), "index.tm1");
  EXPECT_EQ(ReadFile(dir / "index.tmp"), "taken");
  EXPECT_EQ(ReadFile(dir / "index.html"), "text\r\n");
}

// A page whose path is longer than one token's text is still rewritten in
// its own place, through a copy beside it.
TEST_F(LinkScannerTest, APageDeepInTheTreeIsRewrittenInItsOwnDirectory) {
  std::string directory = Dir();
  while (directory.size() <= 2 * LinkScanner::kTokenTextMax) {
    directory += std::string(60, 'd') + "/";
    fs::create_directory(directory);
  }
  const std::string page = directory + "index.html";
  WriteFile(page, "line\n");
  EXPECT_TRUE(CopyThrough(page, directory));
  EXPECT_EQ(ReadFile(page), "line\r\n");
  EXPECT_EQ(FilesIn(directory), std::vector<std::string>{"index.html"});
}

TEST_F(LinkScannerTest, WithoutAFreeTemporaryNameThePageStaysAsDownloaded) {
  const std::string original = "<a href=\"x.html\">x</a>\nmore\n";
  const std::string page = Page(original);
  WriteFile(dir / "index.tmp", "taken");
  for (char c : std::string_view("0123456789abcdefghijklmnopqrstuvwxyz"))
    WriteFile(dir / (std::string("index.tm") + c), "taken");

  LinkScanner scanner;
  ASSERT_TRUE(scanner.OpenPage(page));
  EXPECT_FALSE(scanner.BeginRewrite(Dir()));
  EXPECT_FALSE(scanner.Rewriting());
  CopyRest(scanner);
  EXPECT_FALSE(scanner.EndRewrite());
  EXPECT_TRUE(scanner.ClosePage());
  EXPECT_EQ(ReadFile(page), original);
  EXPECT_EQ(ReadFile(dir / "index.tmz"), "taken");
  // "tmp" comes round again among tma..tmz: 36 names and the page.
  EXPECT_EQ(FilesIn(dir.Path()).size(), 37u);
}

// What is planted where the copy would go is never written through: a link
// at the temporary name counts as taken (a dangling one too) and stays as
// it is; a page that is one of the run's files, or that lies outside the
// directory given, is not rewritten. Nothing outside the directory changes.
TEST_F(LinkScannerTest, TheCopyIsNeverWrittenThroughALinkNorOverTheRunsFiles) {
  enum class Plant { LinkToFile, DanglingLink, PageIsTheIni, LinkedDirectory };
  struct Case {
    const char* what;
    Plant plant;
    bool replaced;
  } cases[] = {
      {"a link at the temporary name to a file", Plant::LinkToFile, true},
      {"a dangling link at the temporary name", Plant::DanglingLink, true},
      {"the page is the INI file being run", Plant::PageIsTheIni, false},
      {"the page's directory is a link out", Plant::LinkedDirectory, false},
  };
  const std::string original = "<a href=\"x.html\">x</a>\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir outside;
    WriteFile(outside / "victim.txt", "victim");
    fs::remove_all(dir / "site");
    fs::create_directory(dir / "site");
    std::string page = dir / "site/index.html";
    std::error_code ec;
    switch (c.plant) {
      case Plant::LinkToFile:
        fs::create_symlink(outside / "victim.txt", dir / "site/index.tmp", ec);
        break;
      case Plant::DanglingLink:
        fs::create_symlink(outside / "created.txt", dir / "site/index.tmp", ec);
        break;
      case Plant::PageIsTheIni:
        ProtectRunFiles(page, "", "");
        break;
      case Plant::LinkedDirectory:
        fs::create_directory_symlink(outside.Path(), dir / "site/linked", ec);
        page = dir / "site/linked/index.html";
        break;
    }
    ASSERT_FALSE(ec);
    WriteFile(page, original);
    const std::vector<std::string> outsideBefore = FilesIn(outside.Path());
    EXPECT_EQ(CopyThrough(page, Dir() + "site/"), c.replaced);
    ProtectRunFiles("", "", "");
    EXPECT_EQ(ReadFile(page), c.replaced ? CrLf(original) : original);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(page)));
    EXPECT_EQ(FilesIn(outside.Path()), outsideBefore);
    EXPECT_EQ(ReadFile(outside / "victim.txt"), "victim");
    if (c.plant == Plant::LinkToFile || c.plant == Plant::DanglingLink) {
      EXPECT_TRUE(fs::is_symlink(dir / "site/index.tmp"));
    }
  }
  const std::vector<std::string> memoLines = memo.Memo();
  EXPECT_EQ(std::ranges::count(memoLines, "Not overwriting " + (dir / "site/index.html") +
                                              ": it is this run's INI file"),
            1);
  EXPECT_EQ(std::ranges::count(memoLines, "Not writing " + (dir / "site/linked/index.html") +
                                              ": its real path is not inside " + Dir() + "site/"),
            1);
}

TEST_F(LinkScannerTest, PlainTextComesInRunsAndLinksStandAlone) {
  const std::string original =
      "<p>Some text " + std::string(300, 'x') + " <a href=\"a.html\">a</a> end\n";
  LinkScanner scanner;
  ASSERT_TRUE(scanner.OpenPage(Page(original)));
  std::uint16_t kind = 0;
  std::string text;
  std::string joined;
  std::vector<std::uint16_t> kinds;
  while (scanner.NextToken(kind, text)) {
    joined += text;
    kinds.push_back(kind);
  }
  // Two pieces of plain text before the link (the run is longer than one
  // token holds), the link, and the rest of the page in one piece.
  EXPECT_EQ(kinds, (std::vector<std::uint16_t>{PlainText, PlainText, HrefLink, PlainText}));
  EXPECT_EQ(joined, CrLf(original));
}

// The scanner's tokens are the lexer's, one character at a time, with rows
// of plain text joined: the same links in the same places, the same text.
TEST_F(LinkScannerTest, RowsOfPlainTextHoldWhatTheLexerSees) {
  std::vector<std::string> pages = {
      std::string(254, 'x') + "src=\"a.gif\"",   // "s" ends a piece, "rc" comes next
      std::string(253, 'x') + "src=\"a.gif\"s",  // "sr" ends a piece
      std::string(252, 'x') + "<base>\n<b",      // "<" before a piece ends and before a line end
      "s\nh\r\nb\n<\nhs bh <a sb",               // candidates cut by line ends and text
      std::string(600, 'a') + "\n" + std::string(255, 'z') + "href=\"y\"",
  };
  const std::vector<std::string> pieces = {
      "src", "HREF", "background",         "<base", "<", ">", "=", "\"", " ", "\n", "\r\n", "b",
      "h",   "s",    std::string(100, 'L')};
  std::mt19937 random(20261208);
  for (int n = 0; n < 100; ++n) {
    std::string page;
    for (int i = static_cast<int>(random() % 300); i > 0; --i)
      page += pieces[random() % pieces.size()];
    pages.push_back(page);
  }
  for (const std::string& original : pages) {
    SCOPED_TRACE(original);
    const std::vector<Token> expected = ScanText(original);
    LinkScanner scanner;
    ASSERT_TRUE(scanner.OpenPage(Page(original)));
    std::uint16_t kind = 0;
    std::string text;
    std::vector<Token> tokens;
    while (scanner.NextToken(kind, text)) {
      EXPECT_FALSE(text.empty());
      tokens.push_back({kind, text});
    }
    EXPECT_EQ(Show(tokens, PlainText), Show(expected, PlainText));
    EXPECT_EQ(Join(tokens), Join(expected));
  }
}

TEST_F(LinkScannerTest, UnclosedQuoteIsWrittenBackWhole) {
  const std::string shortTail = "<a href=\"open.html>text\n<img src=x.gif>\n";
  std::string longTail = "<p>before</p><a HREF=\"never closed ";
  for (int i = 0; i < 60; ++i) longTail += "word" + std::to_string(i) + " ";
  longTail += "\n<img src=after.gif> end\n";
  for (const std::string& original : {shortTail, longTail}) {
    const std::string page = Page(original);
    EXPECT_TRUE(CopyThrough(page));
    EXPECT_EQ(ReadFile(page), CrLf(original));
  }
  EXPECT_GT(std::ranges::count(memo.Memo(), "LexLib: yytext overflow"), 0);
}

TEST_F(LinkScannerTest, CopyThatCannotBeWrittenWholeLeavesThePageAsStored) {
  // A small page fails only when its copy is finally written, a large one
  // on the way.
  for (std::size_t lines : {500, 10000}) {
    std::string original;
    for (std::size_t i = 0; i < lines; ++i)
      original += "<img src=\"i" + std::to_string(i) + ".gif\"> line\n";
    const std::string page = Page(original);
    const FileSizeLimit limit(original.size() / 2);
    LinkScanner scanner;
    ASSERT_TRUE(scanner.OpenPage(page));
    ASSERT_TRUE(scanner.BeginRewrite(Dir()));
    CopyRest(scanner);
    EXPECT_FALSE(scanner.EndRewrite()) << lines;
    EXPECT_TRUE(scanner.ClosePage());
    EXPECT_EQ(ReadFile(page), original) << lines;
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"index.html"}) << lines;
  }
}

TEST_F(LinkScannerTest, PageReadOnlyInPartStaysAsStored) {
  // The lexer's input ends at a Ctrl-Z standing where a new line begins.
  const std::string withCtrlZ = "one <a href=\"x.html\">\n\x1Atwo\nthree\n";
  const std::string page = Page(withCtrlZ);
  EXPECT_FALSE(CopyThrough(page));
  EXPECT_EQ(ReadFile(page), withCtrlZ);

  // Reading fails at once: the "page" is a directory. The run log says so.
  fs::create_directory(dir / "folder");
  TempDir logDir;
  RunLog::Open(logDir / "run.log");
  EXPECT_FALSE(CopyThrough(dir / "folder"));
  RunLog::Close();
  EXPECT_GT(std::ranges::count(LogFileTexts(logDir / "run.log"), "LexLib: input read error"), 0);
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"folder", "index.html"}));
  EXPECT_GT(std::ranges::count(memo.Memo(), "LexLib: input read error"), 0);
}

}  // namespace

}  // namespace quorbit
