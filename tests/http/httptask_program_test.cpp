// HTTP assignments run by the program itself from an INI file, against nginx
// on a loopback port: stored files, rewritten pages and the run log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "peers/peers.h"
#include "peers/webpeers.h"
#include "testsite.h"

namespace quorbit {

namespace {

// The wanted lines, in this order, among the lines (others may come between).
::testing::AssertionResult InOrder(const std::vector<std::string>& lines,
                                   const std::vector<std::string>& wanted) {
  auto at = lines.begin();
  for (const std::string& line : wanted) {
    at = std::find(at, lines.end(), line);
    if (at == lines.end())
      return ::testing::AssertionFailure() << "missing or out of order: " << line;
  }
  return ::testing::AssertionSuccess();
}

class ProgramHttpRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NginxPeer::Installed()) GTEST_SKIP() << "nginx is not installed";
    AddSiteFile(top / "site", "index.html", "<img src=\"img/a.gif\"><a href=\"p.html\">p</a>\n");
    AddSiteFile(top / "site", "p.html", "<a href=\"q.html\">q</a>\n");
    AddSiteFile(top / "site", "q.html", "<p>q</p>\n");
    AddSiteFile(top / "site", "img/a.gif", "GIF89a");
    AddSiteFile(top / "site", "h/index.html",
                "<a href=\"../../../x.html\">x</a><img src=\"/../../../etc/x.gif\">\n");
    ASSERT_TRUE(nginx.Start(top / "site")) << nginx.Problem();
  }

  // An [HTTP] section for the site.
  std::string Assignment(const std::string& name, const std::string& path,
                         const std::string& location, int level) const {
    return "[HTTP]\r\nNAME=" + name + "\r\nURI=http://127.0.0.1/" + path +
           "\r\nLOCATION=" + location + "\r\nLEVEL=" + std::to_string(level) +
           "\r\nTRANSLATE=YES\r\nPORT=" + std::to_string(nginx.Port()) + "\r\n[END]\r\n";
  }

  ProgramRun Run(const std::string& assignments) {
    WriteFile(top / "run/run.ini", "[MAIN]\r\nLOG=run.log\r\n[END]\r\n" + assignments);
    return RunProgram({"/usr/bin/env", "-u", "DISPLAY", QUORBIT_PROGRAM, "--console", "run.ini"},
                      top / "run", 60);
  }

  std::string Server() const { return "http://127.0.0.1:" + std::to_string(nginx.Port()); }

  TempDir top;
  NginxPeer nginx;
};

TEST_F(ProgramHttpRun, MirrorsAndRewritesTheSiteAndLogsEachPage) {
  const ProgramRun run = Run(Assignment("Mirror", "index.html", "store", 2));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(ReadFile(top / "run/store/index.html"),
            "<img src=\"img/a.gif\"><a href=\"p.html\">p</a>\r\n");
  EXPECT_EQ(ReadFile(top / "run/store/p.html"), "<a href=\"" + Server() + "/q.html\">q</a>\r\n");
  EXPECT_EQ(StoredFiles(top / "run/store"),
            (std::set<std::string>{"index.html", "p.html", "img/a.gif"}));
  EXPECT_TRUE(InOrder(
      LogFileTexts(top / "run/run.log"),
      {"Using ini file run.ini", "Processing task Mirror", "Process 2 level(s)",
       "Store files in store/", "Parsing store/index.html", "Finished parsing store/index.html",
       "Parsing store/p.html", "Finished parsing store/p.html", std::string(60, '-')}));
}

TEST_F(ProgramHttpRun, FailedAssignmentLeavesTheNextOneToRunAndNothingEscapes) {
  const ProgramRun run = Run(Assignment("Missing", "missing.html", "gone", 1) +
                             Assignment("Hostile", "h/index.html", "deep/store", 3));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("Unable to complete download of http://127.0.0.1/missing.html"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(InOrder(
      LogFileTexts(top / "run/run.log"),
      {"Processing task Missing", "Unable to find missing.html",
       "Unable to complete download of http://127.0.0.1/missing.html", "Processing task Hostile",
       "Parsing deep/store/index.html", "Finished parsing deep/store/index.html"}));
  EXPECT_EQ(
      ReadFile(top / "run/deep/store/index.html"),
      "<a href=\"" + Server() + "/x.html\">x</a><img src=\"" + Server() + "/etc/x.gif\">\r\n");
  EXPECT_EQ(StoredFiles(top / "run"),
            (std::set<std::string>{"run.ini", "run.log", "deep/store/index.html"}));
}

// LOCATION is emptied at the start of an assignment without IFMOD, but never
// when it holds files the user keeps there: then every file stays, the screen
// and the run log say why, and the page is still fetched into it.
TEST_F(ProgramHttpRun, EmptiesLocationOnlyWhenItHoldsNothingOfTheUsers) {
  struct Case {
    std::string workdir;  // where the program runs, below the case's directory
    std::string ini;      // the INI file as named on the command line
    std::string log, debugLog, location;
    std::vector<std::string> kept;  // files placed before the run that must stay
    std::string said;               // the line that explains, empty when emptied
    std::string stored;             // where the page lands
  } cases[] = {
      // clang-format off
      {".", "run.ini", "run.log", "", ".", {"notes.txt", "old/page.html"},
       "Not emptying LOCATION ./: it holds the INI file", "index.html"},
      {"sub", "run.ini", "run.log", "", "..", {"notes.txt", "sub/notes.txt"},
       "Not emptying LOCATION ../: it holds the INI file", "index.html"},
      {".", "run.ini", "logs/run.log", "", "logs", {"logs/older.log"},
       "Not emptying LOCATION logs/: it holds the run log", "logs/index.html"},
      {".", "run.ini", "run.log", "", "here", {"notes.txt", "old/page.html"},
       "Not emptying LOCATION here/: it holds the INI file", "index.html"},
      {".", "conf/run.ini", "run.log", "", "conf", {"conf/other.ini"},
       "Not emptying LOCATION conf/: it holds the INI file", "conf/index.html"},
      {".", "run.ini", "run.log", "dbg/tcp.log", "dbg", {"dbg/keep.txt"},
       "Not emptying LOCATION dbg/: it holds the debug log", "dbg/index.html"},
      {".", "run.ini", "run.log", "", "mirror", {}, "", "mirror/index.html"},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    TempDir dir;
    const std::string workdir = dir / c.workdir;
    std::string ini = "[MAIN]\r\nLOG=" + c.log + "\r\nDEBUG_LOG=" + c.debugLog + "\r\n[END]\r\n";
    ini += "[HTTP]\r\nURI=http://127.0.0.1/index.html\r\nLOCATION=" + c.location +
           "\r\nPORT=" + std::to_string(nginx.Port()) + "\r\n[END]\r\n";
    WriteFile(workdir + "/" + c.ini, ini);
    for (const std::string& file : c.kept) WriteFile(dir / file, "mine " + file);
    WriteFile(dir / "mirror/sub/old.html", "from the last run");
    ASSERT_EQ(::symlink(dir.Path().c_str(), (dir / "here").c_str()), 0);

    const ProgramRun run =
        RunProgram({"/usr/bin/env", "-u", "DISPLAY", QUORBIT_PROGRAM, "--console", c.ini}, workdir,
                   60, {"HOME=" + (top / "home")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadFile(dir / c.stored), "<img src=\"img/a.gif\"><a href=\"p.html\">p</a>\n");
    EXPECT_EQ(ReadFile(workdir + "/" + c.ini), ini);
    for (const std::string& file : c.kept) EXPECT_EQ(ReadFile(dir / file), "mine " + file);
    const std::vector<std::string> log = LogFileTexts(workdir + "/" + c.log);
    if (c.said.empty()) {
      EXPECT_FALSE(PathExists(dir / "mirror/sub"));
      EXPECT_EQ(run.out.find("Not emptying"), std::string::npos) << run.out;
    } else {
      EXPECT_NE(run.out.find(c.said), std::string::npos) << run.out;
      EXPECT_NE(std::find(log.begin(), log.end(), c.said), log.end());
    }
  }
}

// A server cannot write the run's own files, nor anywhere a link planted in
// LOCATION leads: a page that names the INI file and the run log is stored
// beside them without touching them, and links at a part name, at the
// rewrite's temporary name and at a subdirectory are never followed. Each
// refusal is one line in the run log.
TEST_F(ProgramHttpRun, NeitherTheRunsFilesNorPlantedLinksAreWrittenThrough) {
  AddSiteFile(top / "site", "trap/index.html", "<img src=\"run.ini\"><img src=\"run.log\">\n");
  AddSiteFile(top / "site", "trap/run.ini", "[MAIN]\r\nLOG=elsewhere.log\r\n[END]\r\n");
  AddSiteFile(top / "site", "trap/run.log", "forged\n");
  TempDir outside;
  WriteFile(outside / "victim.txt", "victim");
  const std::string store = top / "run/store";
  std::filesystem::create_directories(store);
  std::filesystem::create_directory_symlink(outside.Path(), store + "/img");
  std::filesystem::create_symlink(outside / "victim.txt", store + "/.index.html.quorbit-part");
  std::filesystem::create_symlink(outside / "created.html", store + "/index.tmp");
  const auto assignment = [this](const std::string& path, const std::string& location) {
    return "[HTTP]\r\nURI=http://127.0.0.1/" + path + "\r\nLOCATION=" + location +
           "\r\nLEVEL=1\r\nTRANSLATE=YES\r\nIFMOD=YES\r\nPORT=" + std::to_string(nginx.Port()) +
           "\r\n[END]\r\n";
  };
  const std::string ini = "[MAIN]\r\nLOG=run.log\r\n[END]\r\n" +
                          assignment("trap/index.html", ".") + assignment("index.html", "store");
  WriteFile(top / "run/run.ini", ini);
  const ProgramRun run = RunProgram(
      {"/usr/bin/env", "-u", "DISPLAY", QUORBIT_PROGRAM, "--console", "run.ini"}, top / "run", 60);

  EXPECT_EQ(ReadFile(top / "run/run.ini"), ini);
  EXPECT_FALSE(PathExists(top / "run/elsewhere.log"));
  EXPECT_EQ(DirectoryNames(outside.Path()), std::vector<std::string>{"victim.txt"});
  EXPECT_EQ(ReadFile(outside / "victim.txt"), "victim");
  EXPECT_TRUE(
      std::filesystem::is_regular_file(std::filesystem::symlink_status(store + "/index.html")));
  EXPECT_EQ(ReadFile(store + "/index.html"), "<img src=\"" + Server() + "/img/a.gif\"><a href=\"" +
                                                 Server() + "/p.html\">p</a>\r\n");
  const std::vector<std::string> log = LogFileTexts(top / "run/run.log");
  EXPECT_EQ(std::count(log.begin(), log.end(), "forged"), 0);
  const auto said = [&log](const std::string& line) {
    return std::count(log.begin(), log.end(), line);
  };
  EXPECT_EQ(said("Not overwriting ./run.ini: it is this run's INI file"), 1) << run.out;
  EXPECT_EQ(said("Not overwriting ./run.log: it is this run's run log"), 1) << run.out;
  EXPECT_EQ(said("Not writing store/img/: its real path is not inside store/"), 1) << run.out;
}

TEST_F(ProgramHttpRun, EachFileIsRequestedOnceByItsPlainAddressAndOtherSchemesStayAsWritten) {
  // A stylesheet and an image met from three directories by relative,
  // absolute and network-path links with dot segments; links of other
  // schemes; a link above LOCATION.
  const std::string site = top / "site";
  const std::string otherSchemes =
      "<a href=\"ftps://127.0.0.1/x.html\">s</a> <a href=\"javascript:void(0)\">j</a>\r\n"
      "<img src=\"data:image/gif;base64,R0lGODlh\"> <a href=\"tel:+4912345\">t</a>\r\n"
      "<a href=\"file:///etc/passwd\">f</a> <a href=\"ws://127.0.0.1/s\">w</a>\r\n"
      "<a href=\"mailto:a@b.example?subject=hi\">m</a> <a href=\"ftp://127.0.0.1/f\">f</a>\r\n";
  AddSiteFile(site, "w/index.html",
              "<link href=\"css/site.css\"><img src=\"./img/moon.svg\">\r\n"
              "<a href=\"news/2025/moon.html\">news</a> <a href=\"docs/guide.html\">guide</a>\r\n"
              "<a href=\"//127.0.0.1/w/docs/./guide.html\">again</a>\r\n" +
                  otherSchemes);
  AddSiteFile(site, "w/news/2025/moon.html",
              "<link href=\"../../css/site.css\"><img src=\"../../img/moon.svg\">\n"
              "<a href=\"../../index.html\">home</a> <a href=\"./../2025/moon.html\">self</a>\n"
              "<a href=\"../../../above.html\">above</a>\n");
  AddSiteFile(site, "w/docs/guide.html",
              "<link href=\"/w/css/site.css\"><img src=\"../img/./moon.svg\">\n"
              "<a href=\"../news/2025/../2025/moon.html\">news</a>\n");
  AddSiteFile(site, "w/css/site.css", "body {}");
  AddSiteFile(site, "w/img/moon.svg", "<svg/>");
  AddSiteFile(site, "above.html", "<p>above</p>");

  const ProgramRun run = Run(Assignment("Moon", "w/index.html", "store", 4));
  EXPECT_EQ(run.exitCode, 0);
  const std::vector<std::string> targets = RequestTargets(nginx.AccessLog());
  EXPECT_EQ(RepeatedOrDottedTargets(targets), std::vector<std::string>{});
  EXPECT_EQ(std::set<std::string>(targets.begin(), targets.end()),
            (std::set<std::string>{"/w/index.html", "/w/css/site.css", "/w/img/moon.svg",
                                   "/w/news/2025/moon.html", "/w/docs/guide.html"}));
  const std::string store = top / "run/store";
  const std::set<std::string> pages = {"index.html", "news/2025/moon.html", "docs/guide.html"};
  std::set<std::string> files = pages;
  files.insert({"css/site.css", "img/moon.svg"});
  EXPECT_EQ(StoredFiles(store), files);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(top / "run"))
    EXPECT_EQ(entry.path().filename().string().find(':'), std::string::npos) << entry.path();
  for (const std::string& page : pages)
    EXPECT_EQ(DanglingLocalLinks(store, page), std::vector<std::string>{}) << page;

  EXPECT_NE(ReadFile(store + "/index.html").find(otherSchemes), std::string::npos);
  EXPECT_EQ(ReadFile(store + "/news/2025/moon.html"),
            "<link href=\"../../css/site.css\"><img src=\"../../img/moon.svg\">\r\n"
            "<a href=\"../../index.html\">home</a> <a href=\"moon.html\">self</a>\r\n"
            "<a href=\"" +
                Server() + "/above.html\">above</a>\r\n");
  EXPECT_EQ(ReadFile(store + "/docs/guide.html"),
            "<link href=\"../css/site.css\"><img src=\"../img/moon.svg\">\r\n"
            "<a href=\"../news/2025/moon.html\">news</a>\r\n");
}

}  // namespace

}  // namespace quorbit
