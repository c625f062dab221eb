// The HTTP assignment: link resolution on its own, then whole assignments
// against nginx on a loopback port serving generated sites and a real
// documentation tree.
#include "http/httptask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>

#include "http/httptestsupport.h"
#include "peers/webpeers.h"
#include "report/transfercounts.h"
#include "testsite.h"
#include "util/crc32.h"
#include "util/fileattributes.h"
#include "util/stoprequest.h"

namespace quorbit {

namespace {

namespace fs = std::filesystem;

// --- Link resolution -------------------------------------------------------

// A page fetched from http://h/docs/ and stored in /L/ (the assignment's own
// directory unless given).
PageContext Page(std::string_view location = "/L/", std::string_view directory = "/docs/",
                 std::string_view root = "/L/", std::uint16_t port = 80) {
  return {"http://h", std::string(directory), std::string(location), std::string(root), port};
}

std::string CrcDir(std::string_view upperHost) {
  return HexLong(Crc32(upperHost)) + "/";
}

void ExpectFollowed(std::string_view link, const PageContext& page, std::string_view url,
                    std::string_view location) {
  ResolvedLink r = ResolveLink(link, page);
  EXPECT_EQ(r.url, url) << link;
  EXPECT_EQ(r.location, location) << link;
  EXPECT_TRUE(r.followable) << link;
}

// Not followed: written back as url, stored nowhere.
void ExpectNotFollowed(std::string_view link, const PageContext& page, std::string_view url) {
  ResolvedLink r = ResolveLink(link, page);
  EXPECT_EQ(r.url, url) << link;
  EXPECT_FALSE(r.followable) << link;
}

TEST(LinkToken, SplitsAtTheQuotesAndTrimsBlanksAndControlsOffTheLink) {
  LinkToken t = SplitLinkToken("SRC =\n\" \timg/a.gif \x01\"");
  EXPECT_EQ(t.head, "SRC =\n\"");
  EXPECT_EQ(t.link, "img/a.gif");
  EXPECT_EQ(t.tail, "\"");
  t = SplitLinkToken("href=\"\"");
  EXPECT_EQ(t.head, "href=\"");
  EXPECT_EQ(t.link, "");
  EXPECT_EQ(t.tail, "\"");
}

TEST(ResolveLink, RelativeLinksFollowThePagesDirectory) {
  ExpectFollowed("img/logo.gif", Page(), "http://h/docs/img/logo.gif", "/L/img/");
  ExpectFollowed("page.html?x=1", Page(), "http://h/docs/page.html", "/L/");
  ExpectFollowed("a/b/c.gif", Page(), "http://h/docs/a/b/c.gif", "/L/a/b/");
  // Dot segments leave the address and the local directory alike.
  ExpectFollowed("../img.gif", Page("/L/sub/", "/docs/sub/"), "http://h/docs/img.gif", "/L/");
  ExpectFollowed("x/../y/./z.gif", Page(), "http://h/docs/y/z.gif", "/L/y/");
  ExpectFollowed("./%2E%2e/docs/a.gif", Page(), "http://h/docs/a.gif", "/L/%2E%2e/docs/");
  ExpectFollowed("//h/docs/x/../p.html", Page(), "http://h/docs/p.html", "/L/");
  // "\" separates local directories only.
  ExpectFollowed("sub\\p.html", Page(), "http://h/docs/sub\\p.html", "/L/sub/");
  // An escaped "/" is no separator here; the stored name is made safe by
  // the HTTP client.
  ExpectFollowed("..%2F..%2Fetc%2Fpasswd", Page(), "http://h/docs/..%2F..%2Fetc%2Fpasswd", "/L/");
  // The port the page came from is part of the address written back.
  ExpectFollowed("p.html", Page("/L/", "/docs/", "/L/", 8080), "http://h:8080/docs/p.html", "/L/");
}

TEST(ResolveLink, AbsolutePathsOfThePagesServerKeepTheirDirectories) {
  ExpectFollowed("/about.html", Page(), "http://h/about.html", "/L/");
  ExpectFollowed("/docs/faq.html", Page(), "http://h/docs/faq.html", "/L/");
  ExpectFollowed("/other/p.html", Page(), "http://h/other/p.html", "/L/other/");
  ExpectFollowed("http://h/docs/sub/a.html", Page(), "http://h/docs/sub/a.html", "/L/sub/");
  ExpectFollowed("HTTP://H/x/y.html", Page(), "http://H/x/y.html", "/L/x/");
  ExpectFollowed("http://h:8080/x/y.html", Page("/L/", "/docs/", "/L/", 8080),
                 "http://h:8080/x/y.html", "/L/x/");
  // A page at the server's root: every absolute path loses its "/".
  ExpectFollowed("/a/b.html", Page("/L/", "/"), "http://h/a/b.html", "/L/a/");
}

TEST(ResolveLink, OtherServersGoToTheDirectoryNamedByTheirHostsCrc) {
  ExpectFollowed("http://Other.Example/d/x.html", Page(), "http://Other.Example/d/x.html",
                 "/L/" + CrcDir("OTHER.EXAMPLE"));
  ExpectFollowed("//Other.Example/d/x.html", Page(), "http://Other.Example/d/x.html",
                 "/L/" + CrcDir("OTHER.EXAMPLE"));
  // A host that merely begins with the page's host is another server.
  ExpectFollowed("http://h2/x.html", Page(), "http://h2/x.html", "/L/" + CrcDir("H2"));
  ExpectFollowed("http://localhost/a", Page(), "http://localhost/a", "/L/" + CrcDir("LOCALHOST"));
  ExpectFollowed("http://[2001:db8::A]/x.gif", Page(), "http://[2001:db8::A]/x.gif",
                 "/L/" + CrcDir("[2001:DB8::A]"));
}

TEST(ResolveLink, OtherSchemesAnchorsAndDirectoriesAreNeverFollowed) {
  // Links of other schemes, and servers no request can reach, stay as written.
  for (const char* link :
       {"#top", "#a?b", "MailTo:a@b.example?subject=x", "ftp://h/file.txt", "ftps://h/x.html",
        "javascript:void(0)", "data:image/gif;base64,R0lGOD", "tel:+4912345", "file:///etc/x",
        "ws://h/socket", "news:comp.lang", "mailto:x@y.example#z", "http://user@h/x.html",
        "http://h:99999/x.html", "http:///x.html"}) {
    ExpectNotFollowed(link, Page(), link);
    EXPECT_EQ(ResolveLink(link, Page()).fragment, "") << link;
  }
  ExpectNotFollowed("sub/", Page(), "http://h/docs/sub/");
  ExpectNotFollowed("", Page(), "http://h/docs/");
  ExpectNotFollowed("http://h/", Page(), "http://h/");
  // Another port than the assignment's cannot be fetched.
  ExpectNotFollowed("http://h:8080/x.html", Page(), "http://h:8080/x.html");
  EXPECT_EQ(ResolveLink("#top", Page("/L/sub/")).location, "/L/sub/");
}

TEST(ResolveLink, HttpsServersAreFollowedAndStoredApartFromHttpOnes) {
  const PageContext secure{"https://h", "/docs/", "/L/", "/L/", 8443};
  const struct {
    PageContext page;
    const char* link;
    const char* url;
    std::string location;  // "" when the link is not followed
    std::uint16_t port;    // where it is fetched from
  } cases[] = {
      {secure, "p.html", "https://h:8443/docs/p.html", "/L/", 8443},
      {secure, "//h/x/y.html", "https://h/x/y.html", "/L/x/", 8443},
      {secure, "https://h:8443/docs/a.html", "https://h:8443/docs/a.html", "/L/", 8443},
      {secure, "https://h:9443/a.html", "https://h:9443/a.html", "", 9443},
      {secure, "http://h/docs/a.html", "http://h/docs/a.html", "/L/" + CrcDir("H"), 80},
      {Page(), "https://h/docs/a.html", "https://h/docs/a.html", "/L/https_" + CrcDir("H"), 443},
      {Page(), "https://O/b.html", "https://O/b.html", "/L/https_" + CrcDir("O"), 443},
      {Page("/L/", "/docs/", "/L/", 8080), "https://h:8443/a.html", "https://h:8443/a.html",
       "/L/https_" + CrcDir("H"), 8443},
  };
  for (const auto& c : cases) {
    const ResolvedLink r = ResolveLink(c.link, c.page);
    EXPECT_EQ(r.url, c.url) << c.link;
    EXPECT_EQ(r.followable, !c.location.empty()) << c.link;
    if (r.followable) {
      EXPECT_EQ(r.location, c.location) << c.link;
    }
    EXPECT_EQ(r.port, c.port) << c.link;
  }
}

TEST(ResolveLink, AddressesLongerThanARequestAreNotFollowedAndKeepTheirText) {
  const std::string name = std::string(62, 'n') + ".gif";  // "http://h/docs/" + 66 = 80
  ASSERT_EQ(("http://h/docs/" + name).size(), kMaxLinkLength);
  ExpectFollowed(name.substr(1), Page(), "http://h/docs/" + name.substr(1), "/L/");
  ExpectFollowed(name + "?q", Page(), "http://h/docs/" + name, "/L/");
  ExpectNotFollowed("x" + name, Page(), "x" + name);
  ExpectNotFollowed("x" + name + "?q#f", Page(), "x" + name + "?q#f");
}

TEST(ResolveLink, FragmentsAreKeptApartFromTheAddress) {
  const struct {
    const char* link;
    const char* url;
    const char* fragment;
    bool followable;
  } cases[] = {
      {"page.html#x", "http://h/docs/page.html", "#x", true},
      {"sub/p.html?q=1#sec", "http://h/docs/sub/p.html", "#sec", true},
      {"p.html#a?b", "http://h/docs/p.html", "#a?b", true},
      {"http://h/docs/a.html#b", "http://h/docs/a.html", "#b", true},
      {"sub/#frag", "http://h/docs/sub/", "#frag", false},
      {"#top", "#top", "", false},
  };
  for (const auto& c : cases) {
    ResolvedLink r = ResolveLink(c.link, Page());
    EXPECT_EQ(r.url, c.url) << c.link;
    EXPECT_EQ(r.fragment, c.fragment) << c.link;
    EXPECT_EQ(r.followable, c.followable) << c.link;
  }
  EXPECT_EQ(ResolveLink("sub/p.html#x", Page()).location, "/L/sub/");
}

TEST(ResolveLink, OneFileHasOneKeyHowEverItIsSpelled) {
  const std::string key = ResolveLink("img/a.gif", Page()).key;
  EXPECT_EQ(key, "http://h:80/docs/img/a.gif");
  for (const char* link : {"./img/a.gif", "../docs/img/a.gif", "/docs/x/../img/a.gif",
                           "HTTP://H/docs/img/a.gif#f", "//h:80/docs/img/%61.gif?q"}) {
    EXPECT_EQ(ResolveLink(link, Page()).key, key) << link;
  }
  EXPECT_EQ(ResolveLink("/docs/img/A.gif", Page()).key, "http://h:80/docs/img/A.gif");
  EXPECT_EQ(ResolveLink("img/a.gif", Page("/L/", "/docs/", "/L/", 8080)).key,
            "http://h:8080/docs/img/a.gif");
  EXPECT_EQ(ResolveLink("mailto:x@h", Page()).key, "");
}

TEST(ResolveLink, LinksThatWouldLeaveTheAssignmentsDirectoryAreRefused) {
  ExpectNotFollowed("../../../x.html", Page(), "http://h/x.html");
  ExpectNotFollowed("../x.html", Page(), "http://h/x.html");
  ExpectNotFollowed("/../../etc/x", Page(), "http://h/etc/x");
  ExpectNotFollowed("..\\..\\win.html", Page(), "http://h/docs/..\\..\\win.html");
  ExpectNotFollowed("sub/../../x.html", Page(), "http://h/x.html");
  ExpectNotFollowed("http://h/../../etc/passwd", Page(), "http://h/etc/passwd");
  ExpectNotFollowed("/docs/../../up.html", Page(), "http://h/up.html");
  // From a subdirectory one step up is fine, two are not.
  ExpectNotFollowed("../../x.gif", Page("/L/sub/", "/docs/sub/"), "http://h/x.gif");
  // A directory longer than 80 characters is not where the link points.
  const std::string deep = "/L/" + std::string(70, 'd') + "/";
  ExpectNotFollowed("abcdefghijk/x.gif", Page(deep, "/docs/", "/L/"),
                    "http://h/docs/abcdefghijk/x.gif");
  // The current directory as the assignment's directory.
  ExpectNotFollowed("../x.gif", Page("", "/docs/", ""), "http://h/x.gif");
  ExpectFollowed("sub/x.gif", Page("", "/docs/", ""), "http://h/docs/sub/x.gif", "sub/");
  // A root that climbs itself: only what lies below it counts.
  for (const char* root : {"../mirror/", "out/../../"}) {
    ExpectNotFollowed("../x.html", Page(root, "/docs/", root), "http://h/x.html");
    ExpectFollowed("a/../b/x.html", Page(root, "/docs/", root), "http://h/docs/b/x.html",
                   std::string(root) + "b/");
  }
}

// --- Whole assignments -----------------------------------------------------

class HttpAssignment : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NginxPeer::Installed()) GTEST_SKIP() << "nginx is not installed";
    ClearTransferCounts();
    location = top / "a/b/c/loc/";
  }

  void Serve() { ASSERT_TRUE(nginx.Start(top / "site")) << nginx.Problem(); }
  void Add(const std::string& path, std::string_view content) {
    AddSiteFile(top / "site", path, content);
  }

  HttpTask Task(const std::string& path, int level, bool translate, bool ifmod = false,
                bool shortNames = false) {
    HttpTask task{};
    task.NAME = "site";
    task.URI = "http://127.0.0.1/" + path;
    task.LOCATION = location;
    task.LEVEL = static_cast<std::uint8_t>(level);
    task.TRANSLATE = translate;
    task.IFMOD = ifmod;
    task.SHORTNAMES = shortNames;
    task.PORT = static_cast<std::uint16_t>(nginx.Port());
    return task;
  }

  bool Run(HttpTask task) {
    VisitedUrlSet visited;
    return ProcessHttpTask(task, 1, visited, RunContext{});
  }

  // Names of the files downloaded since the memo line numbered from.
  std::vector<std::string> Downloads(std::size_t from = 0) const {
    std::vector<std::string> names;
    const std::vector<std::string> memo = capture.Memo();
    for (std::size_t i = from; i < memo.size(); ++i) {
      if (memo[i].rfind("Downloading ", 0) == 0)
        names.push_back(memo[i].substr(12, memo[i].find(' ', 12) - 12));
    }
    return names;
  }
  bool Shown(const std::string& line) const {
    const std::vector<std::string> memo = capture.Memo();
    return std::find(memo.begin(), memo.end(), line) != memo.end();
  }
  std::string Stored(const std::string& path) const { return ReadFile(location + path); }
  // The site's address as links not followed are written back.
  std::string Server() const { return "http://127.0.0.1:" + std::to_string(nginx.Port()); }

  TempDir top;
  std::string location;
  NginxPeer nginx;
  ReportCapture capture;
};

// index -> img/logo.gif (SRC), p1 and sub/p2 (HREF); p1 -> img/p1.gif, p3;
// sub/p2 -> ../img/logo.gif, ../p4; p3 -> p3.gif, p5. Besides: a BASE tag,
// a BACKGROUND, MAILTO:, FTP://, an anchor, a directory link and a link to
// the page itself.
class LevelSite : public HttpAssignment {
 protected:
  void SetUp() override {
    HttpAssignment::SetUp();
    if (IsSkipped()) return;
    Add("index.html",
        "<html><head><BASE HREF=\"http://127.0.0.1/elsewhere/\"><title>t</title></head>\n"
        "<body background=\"bg.gif\">\n"
        "<img src=\"img/logo.gif\">\n"
        "<a href=\"p1.html\">one</a> <a href=\"sub/p2.html?x=1\">two</a>\n"
        "<a href=\"mailto:someone@example.com?subject=hi\">mail</a> "
        "<a href=\"FTP://127.0.0.1/file.txt\">ftp</a>\n"
        "<a href=\"#top\">top</a> <a href=\"sub/\">dir</a> <a href=\"index.html\">home</a>\n"
        "</body></html>\n");
    Add("p1.html", "<img src=\"img/p1.gif\"><a href=\"p3.html\">three</a>\n");
    Add("sub/p2.html", "<img src=\"../img/logo.gif\"><a href=\"../p4.html\">four</a>\n");
    Add("p3.html", "<img SRC=\"p3.gif\"><a href=\"p5.html\">five</a>\n");
    Add("p4.html", "<p>four</p>\n");
    Add("p5.html", "<p>five</p>\n");
    for (const char* gif : {"img/logo.gif", "img/p1.gif", "p3.gif", "bg.gif"}) Add(gif, "GIF89a");
    Serve();
  }
};

TEST_F(LevelSite, EachLevelFetchesExactlyItsFiles) {
  using Files = std::set<std::string>;
  const Files level1 = {"index.html", "img/logo.gif"};
  Files level2 = level1;
  level2.insert({"p1.html", "img/p1.gif", "sub/p2.html"});
  Files level3 = level2;
  level3.insert({"p3.html", "p3.gif", "p4.html"});

  EXPECT_TRUE(Run(Task("index.html", 1, false)));
  EXPECT_EQ(StoredFiles(location), level1);
  // Nothing else was asked for: no anchor, MAILTO:, FTP://, BACKGROUND or directory.
  EXPECT_EQ(Downloads(), (std::vector<std::string>{"index.html", "logo.gif"}));

  EXPECT_TRUE(Run(Task("index.html", 2, false)));
  EXPECT_EQ(StoredFiles(location), level2);
  EXPECT_TRUE(Run(Task("index.html", 3, false)));
  EXPECT_EQ(StoredFiles(location), level3);
  // Level 1 clears the directory first.
  EXPECT_TRUE(Run(Task("index.html", 1, false)));
  EXPECT_EQ(StoredFiles(location), level1);
}

TEST_F(LevelSite, TranslateRewritesLinksToTheStoredFiles) {
  EXPECT_TRUE(Run(Task("index.html", 2, true)));
  const std::string server = Server();
  EXPECT_EQ(Stored("index.html"),
            "<html><head><title>t</title></head>\r\n"
            "<body background=\"bg.gif\">\r\n"
            "<img src=\"img/logo.gif\">\r\n"
            "<a href=\"p1.html\">one</a> <a href=\"sub/p2.html\">two</a>\r\n"
            "<a href=\"mailto:someone@example.com?subject=hi\">mail</a> "
            "<a href=\"FTP://127.0.0.1/file.txt\">ftp</a>\r\n"
            "<a href=\"#top\">top</a> <a href=\"" +
                server +
                "/sub/\">dir</a> "
                "<a href=\"index.html\">home</a>\r\n"
                "</body></html>\r\n");
  EXPECT_EQ(Stored("p1.html"),
            "<img src=\"img/p1.gif\"><a href=\"" + server + "/p3.html\">three</a>\r\n");
  // Links climb from the page's own directory, locally and on the server.
  EXPECT_EQ(Stored("sub/p2.html"),
            "<img src=\"../img/logo.gif\"><a href=\"" + server + "/p4.html\">four</a>\r\n");
  // Level by level, each file once.
  EXPECT_EQ(Downloads(),
            (std::vector<std::string>{"index.html", "logo.gif", "p1.html", "p2.html", "p1.gif"}));
  for (const std::string page : {"index.html", "p1.html", "sub/p2.html"}) {
    EXPECT_EQ(DanglingLocalLinks(location, page), std::vector<std::string>{}) << page;
    // A rewritten page keeps the server's time stamp.
    EXPECT_EQ(GetFileDate(location + page), ServedDate()) << page;
  }
  EXPECT_EQ(StoredFiles(location).size(), 5u);  // no temporary file left behind

  const std::string loc(location);
  EXPECT_TRUE(Shown("Parsing " + loc + "index.html"));
  EXPECT_TRUE(Shown("Finished parsing " + loc + "sub/p2.html"));
  const std::vector<std::string> log = capture.LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(), "Finished parsing " + loc + "index.html"), log.end());
  const std::vector<std::string>& calls = capture.sink.calls;
  for (const std::string& line :
       {std::string("line1: Processing task site"), std::string("line2: Process 2 level(s)"),
        "line3: Store files in " + loc}) {
    EXPECT_EQ(std::count(calls.begin(), calls.end(), line), 1) << line;
  }
}

// Asks the run to stop once the first page has been read for links.
class StopAfterFirstPage : public FakeStatusSink {
 public:
  void AddMemoLine(std::string_view text) override {
    FakeStatusSink::AddMemoLine(text);
    if (text.starts_with("Finished parsing ")) RequestStop(SIGTERM);
  }
};

TEST_F(LevelSite, AStopRequestEndsTheFetchingAndLeavesThePageAsDownloaded) {
  StopAfterFirstPage sink;
  SetStatusSink(&sink);
  EXPECT_TRUE(Run(Task("index.html", 3, true)));
  SetStatusSink(&capture.sink);
  ClearStopRequest();
  EXPECT_EQ(StoredFiles(location), std::set<std::string>{"index.html"});
  EXPECT_EQ(Stored("index.html"), ReadFile(top / "site/index.html"));
}

TEST_F(LevelSite, IfModifiedSecondRunDownloadsNothingYetParsesAndFollows) {
  EXPECT_TRUE(Run(Task("index.html", 3, true, true)));
  const std::set<std::string> first = StoredFiles(location);
  const std::string index = Stored("index.html");
  const std::size_t mark = capture.Memo().size();
  const std::uint16_t fetched = TransferCounts.HttpFetched;

  EXPECT_TRUE(Run(Task("index.html", 3, true, true)));
  EXPECT_EQ(Downloads(mark), std::vector<std::string>{});
  EXPECT_EQ(TransferCounts.HttpFetched, fetched);
  EXPECT_TRUE(Shown("Skipping unmodified file p3.gif"));
  EXPECT_TRUE(Shown("Finished parsing " + location + "p3.html"));
  EXPECT_EQ(StoredFiles(location), first);
  EXPECT_EQ(Stored("index.html"), index);
}

TEST_F(HttpAssignment, FailuresEndTheAssignmentAndOnlyHtmlIsParsed) {
  Add("notes.txt", "<a href=\"p.html\">p</a>\n");
  Add("p.html", "<p>p</p>\n");
  Serve();
  EXPECT_TRUE(Run(Task("notes.txt", 2, true)));
  EXPECT_EQ(StoredFiles(location), std::set<std::string>{"notes.txt"});
  EXPECT_EQ(Stored("notes.txt"), "<a href=\"p.html\">p</a>\n");

  EXPECT_FALSE(Run(Task("missing.html", 2, true)));
  EXPECT_TRUE(Shown("Unable to complete download of http://127.0.0.1/missing.html"));

  Add("file", "a file where a directory should be");
  location = top / "site/file/loc/";
  EXPECT_FALSE(Run(Task("p.html", 1, false)));
  EXPECT_TRUE(Shown("Unable to create location directory " + location + ": Not a directory"));
}

TEST_F(HttpAssignment, ShortNamesAreStoredAndLinked) {
  Add("index.html",
      "<a href=\"longpagename.html\">x</a><img src=\"longdirectory/longimagename.gif\">\n");
  Add("longpagename.html", "<p>long</p>\n");
  Add("longdirectory/longimagename.gif", "GIF89a");
  Serve();
  EXPECT_TRUE(Run(Task("index.html", 2, true, false, true)));
  EXPECT_EQ(StoredFiles(location),
            (std::set<std::string>{"index.htm", "longp~00.htm", "longdirectory/longi~00.gif"}));
  EXPECT_EQ(Stored("index.htm"),
            "<a href=\"longp~00.htm\">x</a><img src=\"longdirectory/longi~00.gif\">\r\n");
}

TEST_F(HttpAssignment, AnotherServerByNameIsStoredInItsCrcDirectory) {
  // The same nginx as "localhost": another server by name.
  Add("index.html",
      "<a href=\"http://localhost/other.html\">o</a><img src=\"HTTP://LOCALHOST/img/x.gif\">\n");
  Add("other.html", "<img src=\"o.gif\">\n");
  Add("img/x.gif", "GIF89a");
  Add("o.gif", "GIF89a");
  Serve();
  EXPECT_TRUE(Run(Task("index.html", 2, true)));
  const std::string crc = CrcDir("LOCALHOST");
  EXPECT_EQ(StoredFiles(location), (std::set<std::string>{"index.html", crc + "other.html",
                                                          crc + "x.gif", crc + "o.gif"}));
  EXPECT_EQ(Stored("index.html"),
            "<a href=\"" + crc + "other.html\">o</a><img src=\"" + crc + "x.gif\">\r\n");
  EXPECT_EQ(Stored(crc + "other.html"), "<img src=\"o.gif\">\r\n");
}

TEST_F(HttpAssignment, HostilePageCannotWriteOutsideTheLocation) {
  const std::string escape = "/tmp/quorbit-escape-" + fs::path(top.Path()).filename().string();
  std::string climbToRoot;
  for (int i = 0; i < 12; ++i) climbToRoot += "../";
  const std::string hostile =
      "<a href=\"../../../x.html\">1</a>\n"
      "<img src=\"/../../etc/quorbit-escape.gif\">\n"
      "<img src=\"..%2F..%2F..%2Fescaped.gif\">\n"
      "<img src=\"..\\..\\..\\back.gif\">\n"
      "<a href=\"inner/../../../../deep.html\">2</a>\n"
      "<a href=\"http://127.0.0.1/../../../etc/passwd\">3</a>\n"
      "<a href=\"/hostile/../../up.html\">4</a>\n"
      "<img src=\"" +
      climbToRoot + escape.substr(1) +
      "/x.gif\">\n"
      "<a href=\"inner/page.html\">inner</a>\n";
  Add("hostile/index.html", hostile);
  Add("hostile/inner/page.html", "<img src=\"../ok.gif\"><img src=\"../../out.gif\">\n");
  Add("hostile/ok.gif", "GIF89a");
  for (const char* decoy : {"x.html", "up.html", "out.gif", "hostile/out.gif", "back.gif"})
    Add(decoy, "decoy");
  Serve();
  fs::create_directories(location);
  const std::string before = TreeSnapshot(top.Path(), location);

  EXPECT_TRUE(Run(Task("hostile/index.html", 3, true)));
  const std::string server = Server();

  EXPECT_EQ(TreeSnapshot(top.Path(), location), before);
  EXPECT_FALSE(fs::exists("/etc/quorbit-escape.gif"));
  EXPECT_FALSE(fs::exists(escape));
  EXPECT_EQ(StoredFiles(location),
            (std::set<std::string>{"index.html", "inner/page.html", "ok.gif"}));
  const std::string page = Stored("index.html");
  EXPECT_NE(page.find("href=\"" + server + "/x.html\""), std::string::npos);
  EXPECT_NE(page.find("src=\"" + server + "/etc/quorbit-escape.gif\""), std::string::npos);
  EXPECT_NE(page.find("href=\"inner/page.html\""), std::string::npos);
  EXPECT_EQ(Stored("inner/page.html"),
            "<img src=\"../ok.gif\"><img src=\"" + server + "/out.gif\">\r\n");
}

TEST_F(HttpAssignment, PagesEmbeddingEachOtherEndWithoutTranslate) {
  // Two frames that embed each other, and a frame embedding itself under
  // ever new addresses (nginx serves the same page for every depth).
  Add("index.html", "<frame src=\"a.html\"><frame src=\"deep/f.html\">\n");
  Add("a.html", "<frame src=\"b.html\">\n");
  Add("b.html", "<frame src=\"a.html\"><frame src=\"index.html\">\n");
  std::string path = "deep/f.html";
  for (int i = 0; i < 12; ++i, path = "deep/" + path) Add(path, "<frame src=\"deep/f.html\">\n");
  Serve();
  EXPECT_TRUE(Run(Task("index.html", 1, false)));
  // deep/f.html is fetched at levels 2 to 9: at most eight levels below LEVEL.
  const std::set<std::string> stored = StoredFiles(location);
  EXPECT_TRUE(stored.count("a.html") && stored.count("b.html"));
  EXPECT_EQ(
      std::count_if(stored.begin(), stored.end(),
                    [](const std::string& f) { return f.find("f.html") != std::string::npos; }),
      8);
}

// index.html embeds 400 frames, and every one of them 400 frames of its
// own, each under a new address: without a bound this never ends.
class FrameBomb : public HttpAssignment {
 protected:
  static constexpr int kFanOut = 400;
  void SetUp() override {
    HttpAssignment::SetUp();
    if (IsSkipped()) return;
    Add("index.html", Frames(""));
    for (int k = 1; k <= kFanOut; ++k) Add(Name(k), Frames("p" + std::to_string(k) + "/"));
    Serve();
  }
  static std::string Name(int k) { return "p" + std::to_string(k) + ".html"; }
  static std::string Frames(const std::string& directory) {
    std::string page;
    for (int k = 1; k <= kFanOut; ++k) page += "<frame src=\"" + directory + Name(k) + "\">\n";
    return page;
  }
};

// Stops the run once the given number of files have begun to download.
class StopAfterDownloads : public FakeStatusSink {
 public:
  explicit StopAfterDownloads(int downloads) : left_(downloads) {}
  void AddMemoLine(std::string_view text) override {
    FakeStatusSink::AddMemoLine(text);
    if (text.starts_with("Downloading ") && --left_ == 0) RequestStop(SIGTERM);
  }

 private:
  int left_;
};

TEST_F(FrameBomb, FollowingEndsAtTheLinkLimitsAndAStopEndsItAtOnce) {
  const struct {
    std::size_t capacity;   // of the visited set
    int stopAfter;          // downloads begun before a stop; 0: no stop
    std::size_t requests;   // at most this many files asked for
    std::string limitLine;  // the line the log must hold (or begin with, after a stop)
  } cases[] = {
      // The visited set fills first: 199 of the first page's frames are
      // fetched, and none of the 400 of each of them.
      {200, 0, 200, "Link limit reached: 79801 links not followed"},
      // The queue fills first, after some 25 frames; a stop then ends the
      // fetching with the file under way.
      {VisitedUrlSet::kDefaultCapacity, 40, 41, "Link limit reached: "},
  };
  for (const auto& c : cases) {
    ReportCapture report;
    ClearTransferCounts();
    StopAfterDownloads stopping(c.stopAfter);
    if (c.stopAfter != 0) SetStatusSink(&stopping);
    const std::size_t asked = RequestTargets(nginx.AccessLog()).size();
    VisitedUrlSet visited(c.capacity);
    HttpTask task = Task("index.html", 1, false);
    EXPECT_TRUE(ProcessHttpTask(task, 1, visited, RunContext{}));
    ClearStopRequest();
    SetStatusSink(&report.sink);
    const std::size_t requests = RequestTargets(nginx.AccessLog()).size() - asked;
    EXPECT_LE(requests, c.requests) << c.capacity;
    if (c.stopAfter == 0) {
      EXPECT_EQ(requests, c.requests);
    }
    // What waits to be fetched is in the set: the queue stayed within its cap.
    EXPECT_LE(visited.Count(), std::min(c.capacity, kLinkQueueCapacity + requests));
    const std::vector<std::string> log = report.LogLines();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [&](const std::string& line) {
                              return line.starts_with(c.limitLine) &&
                                     (c.stopAfter != 0 || line == c.limitLine);
                            }),
              1)
        << c.capacity;
    EXPECT_TRUE(TransferCounts.failed);
  }
}

// What the site lacks, and which failure lines the run log must hold.
TEST_F(HttpAssignment, EveryFailureReachesTheRunLog) {
  Add("index.html", "<img src=\"gone.gif\"><img src=\"a.gif\">\n");
  Add("a.gif", "GIF89a");
  Add("file", "a file where a directory should be");
  Serve();
  const std::string loc = location;
  const std::string blocked = top / "site/file/loc/";
  const std::string emptied =
      "LOCATION " + loc + " was emptied and is left empty: the download failed";
  const struct {
    std::string path;
    std::string location;
    bool earlierCopy;  // LOCATION holds files of an earlier run
    bool ifmod;
    std::vector<std::string> logged;  // in this order
    bool emptiedLine;
  } cases[] = {
      {"missing.html",
       loc,
       true,
       false,
       {"Unable to find missing.html", "Server reported: HTTP/1.1 404 Not Found",
        "Unable to complete download of http://127.0.0.1/missing.html", emptied},
       true},
      // Nothing was there to lose, or nothing was removed.
      {"missing.html",
       loc,
       false,
       false,
       {"Unable to complete download of http://127.0.0.1/missing.html"},
       false},
      {"missing.html",
       loc,
       true,
       true,
       {"Unable to complete download of http://127.0.0.1/missing.html"},
       false},
      {"index.html",
       loc,
       true,
       false,
       {"Unable to find gone.gif", "Unable to complete download of http://127.0.0.1/gone.gif"},
       false},
      {"index.html",
       blocked,
       false,
       false,
       {"Unable to create location directory " + blocked + ": Not a directory"},
       false},
  };
  for (const auto& c : cases) {
    ReportCapture report;
    ClearTransferCounts();
    if (c.earlierCopy) AddSiteFile(c.location, "old/page.html", "earlier");
    HttpTask task = Task(c.path, 1, false, c.ifmod);
    task.LOCATION = c.location;
    Run(task);
    const std::vector<std::string> log = report.LogLines();
    auto at = log.begin();
    for (const std::string& line : c.logged) {
      at = std::find(at, log.end(), line);
      EXPECT_NE(at, log.end()) << c.path << ": " << line;
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), emptied), c.emptiedLine ? 1 : 0) << c.path;
    for (const std::string& line : report.Memo()) {
      if (line.starts_with("Unable") || line.starts_with("LOCATION")) {
        EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
      }
    }
    EXPECT_TRUE(TransferCounts.failed) << c.path;
  }
}

TEST_F(HttpAssignment, AnchorsIntoAPageFetchItOnceAndKeepTheirFragments) {
  Add("index.html",
      "<a href=\"p.html#one\">1</a> <a href=\"p.html#two\">2</a> "
      "<a href=\"p.html?x=1#three\">3</a> <a href=\"#top\">top</a>\n");
  Add("p.html", "<a name=\"one\">one</a> <a href=\"index.html#top\">back</a>\n");
  Serve();
  EXPECT_TRUE(Run(Task("index.html", 2, true)));
  EXPECT_EQ(Downloads(), (std::vector<std::string>{"index.html", "p.html"}));
  EXPECT_EQ(Stored("index.html"),
            "<a href=\"p.html#one\">1</a> <a href=\"p.html#two\">2</a> "
            "<a href=\"p.html#three\">3</a> <a href=\"#top\">top</a>\r\n");
  EXPECT_EQ(Stored("p.html"), "<a name=\"one\">one</a> <a href=\"index.html#top\">back</a>\r\n");

  // Not followed: the absolute address, with the fragment after it.
  EXPECT_TRUE(Run(Task("index.html", 1, true)));
  const std::string server = Server();
  EXPECT_EQ(Stored("index.html"), "<a href=\"" + server + "/p.html#one\">1</a> <a href=\"" +
                                      server + "/p.html#two\">2</a> <a href=\"" + server +
                                      "/p.html#three\">3</a> <a href=\"#top\">top</a>\r\n");
}

TEST_F(HttpAssignment, PageMetFarOutAndCloserIsFetchedOnceAndFollowedFromCloser) {
  // By way of a.html b.html stands at level 3, where its links are not
  // followed; index.html links it at level 2, where they are.
  Add("index.html", "<a href=\"a.html\">a</a> <a href=\"b.html\">b</a>\n");
  Add("a.html", "<a href=\"b.html\">b</a>\n");
  Add("b.html", "<img src=\"i.gif\"><a href=\"c.html\">c</a>\n");
  Add("c.html", "<p>c</p>\n");
  Add("i.gif", "GIF89a");
  Serve();
  EXPECT_TRUE(Run(Task("index.html", 3, true)));
  EXPECT_EQ(StoredFiles(location),
            (std::set<std::string>{"index.html", "a.html", "b.html", "c.html", "i.gif"}));
  EXPECT_EQ(Downloads(),
            (std::vector<std::string>{"index.html", "a.html", "b.html", "i.gif", "c.html"}));
  EXPECT_EQ(Stored("b.html"), "<img src=\"i.gif\"><a href=\"c.html\">c</a>\r\n");
  EXPECT_EQ(Stored("index.html"), "<a href=\"a.html\">a</a> <a href=\"b.html\">b</a>\r\n");
}

TEST_F(HttpAssignment, FilesOfTheSiteComeOverOneConnection) {
  // A missing file and a directory asked for without its "/" among them:
  // their short answers are read past, and the connection serves on.
  Add("index.html",
      "<img src=\"a.gif\"><a href=\"missing.html\">m</a> <a href=\"docs\">d</a> "
      "<a href=\"p.html\">p</a>\n");
  Add("a.gif", "GIF89a");
  Add("docs/index.html", "<p>docs</p>\n");
  Add("p.html", "<img src=\"a.gif\"><p>p</p>\n");
  Serve();
  EXPECT_TRUE(Run(Task("index.html", 2, true)));
  EXPECT_EQ(StoredFiles(location),
            (std::set<std::string>{"index.html", "a.gif", "docs/docs.html", "p.html"}));
  EXPECT_EQ(RequestTargets(nginx.AccessLog()).size(), 6u) << nginx.AccessLog();
  EXPECT_EQ(nginx.ConnectionsServed(), 1) << nginx.AccessLog();
  const std::vector<std::string> memo = capture.Memo();
  EXPECT_EQ(std::count(memo.begin(), memo.end(), "Connection established"), 1);
}

TEST_F(HttpAssignment, UnreachableLinkDoesNotStopThePage) {
  // The page comes from a scripted server that closes its port after it;
  // the link to the same server then finds the port closed.
  const std::string body = "<img src=\"gone.gif\"> middle <a href=\"#end\">e</a>\\nend\\n";
  PeerProcess server;
  const int port = StartScriptedServer(
      server, top,
      "expect GET /page.html HTTP/1.1\nexpect_match Host: *\nexpect \n"
      "send HTTP/1.1 200 OK\\r\\nContent-Type: text/html\\r\\nContent-Length: " +
          std::to_string(body.size() - 2) + "\\r\\n\\r\\n" + body + "\nclose\n");
  ASSERT_NE(port, 0);
  HttpTask task = Task("page.html", 2, true);
  task.PORT = static_cast<std::uint16_t>(port);
  EXPECT_TRUE(Run(task));
  EXPECT_EQ(server.ReadRest(10), "DONE\n");
  EXPECT_TRUE(Shown("Unable to complete download of http://127.0.0.1/gone.gif"));
  EXPECT_TRUE(Shown("Finished parsing " + location + "page.html"));
  EXPECT_EQ(Stored("page.html"), "<img src=\"http://127.0.0.1:" + std::to_string(port) +
                                     "/gone.gif\"> middle <a href=\"#end\">e</a>\r\nend\r\n");
}

// The Python documentation as installed on this machine: some five hundred
// pages that link each other from many directories and depths.
class PythonDocs : public HttpAssignment {
 protected:
  static constexpr const char* kTree = "/usr/share/doc/python3/html";
  void SetUp() override {
    HttpAssignment::SetUp();
    if (IsSkipped()) return;
    if (!CopyDocTree(kTree, top / "site")) GTEST_SKIP() << kTree << " is not installed";
    Serve();
  }
};

TEST_F(PythonDocs, DeepMirrorAsksForEachFileOnceAndStoresTheWholeCrawl) {
  EXPECT_TRUE(Run(Task("index.html", 30, true)));
  const std::vector<std::string> targets = RequestTargets(nginx.AccessLog());
  EXPECT_EQ(RepeatedOrDottedTargets(targets), std::vector<std::string>{});
  const std::set<std::string> stored = StoredFiles(location);
  EXPECT_EQ(stored, ExpectedCrawl(top / "site", "index.html", 30));
  EXPECT_GT(stored.size(), 500u);
  for (const char* page : {"index.html", "library/os.html", "whatsnew/changelog.html"})
    EXPECT_EQ(DanglingLocalLinks(location, page), std::vector<std::string>{}) << page;
}

// The valgrind manual as installed on this machine: a real tree of pages
// that link each other (and themselves) and embed images.
class DocTree : public HttpAssignment {
 protected:
  static constexpr const char* kTree = "/usr/share/doc/valgrind/html";
  void SetUp() override {
    HttpAssignment::SetUp();
    if (IsSkipped()) return;
    if (!CopyDocTree(kTree, top / "site/manual")) GTEST_SKIP() << kTree << " is not installed";
    Serve();
  }
};

TEST_F(DocTree, LevelsFetchExactlyTheLinkedFiles) {
  for (int level : {1, 2, 3}) {
    EXPECT_TRUE(Run(Task("manual/index.html", level, false)));
    EXPECT_EQ(StoredFiles(location), ExpectedCrawl(top / "site", "manual/index.html", level))
        << "LEVEL " << level;
  }
}

TEST_F(DocTree, TranslatedPagesLinkTheirStoredFiles) {
  EXPECT_TRUE(Run(Task("manual/index.html", 2, true)));
  const std::set<std::string> stored = StoredFiles(location);
  EXPECT_EQ(stored, ExpectedCrawl(top / "site", "manual/index.html", 2));
  // Every link of the first page was fetched and keeps its text.
  std::string original = ReadFile(top / "site/manual/index.html");
  std::string crlf;
  for (char c : original) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(Stored("index.html"), crlf);
  for (const std::string& file : stored) {
    if (file.ends_with(".html")) {
      EXPECT_EQ(DanglingLocalLinks(location, file), std::vector<std::string>{}) << file;
      EXPECT_EQ(GetFileDate(location + file), ServedDate()) << file;
    }
  }
}

// --- Redirects ---------------------------------------------------------------

// The request the client must send for target (any port in Host).
std::string Asked(const std::string& target) {
  return "expect GET " + target + " HTTP/1.1\nexpect_match Host: 127.0.0.1:*\nexpect \n";
}

std::string Answer(std::string_view status, std::string_view fields, std::string_view body) {
  return "send HTTP/1.1 " + std::string(status) + "\\r\\n" + std::string(fields) +
         "Content-Length: " + std::to_string(body.size()) + "\\r\\n\\r\\n" + std::string(body) +
         "\n";
}

TEST(HttpRedirects, SiteMovedToAnotherServerIsMirroredAsTheAssignmentsOwn) {
  // The assignment's address answers 301 to the home page of another server
  // (port): that server is the site. Its page is stored as the address asked
  // for named it, its own links land in LOCATION itself (no directory of
  // another server), and a link that redirects to a file already fetched
  // costs no second request of that file and is rewritten to it.
  TempDir top;
  ReportCapture capture;
  PeerProcess site;
  PeerProcess moved;
  const std::string page =
      "<img src=\"i.gif\"><a href=\"p.html\">p</a><a href=\"/home/old.html\">o</a>";
  const int sitePort = StartScriptedServer(
      site, top,
      Asked("/home/") + Answer("200 OK", "Content-Type: text/html\\r\\n", page) + "accept\n" +
          Asked("/home/i.gif") + Answer("200 OK", "", "gif") + "accept\n" + Asked("/home/p.html") +
          Answer("200 OK", "", "p") + "accept\n" + Asked("/home/old.html") +
          Answer("301 Moved Permanently", "Location: p.html\\r\\n", "") + "expect_close\n");
  ASSERT_NE(sitePort, 0);
  const std::string home = "http://127.0.0.1:" + std::to_string(sitePort) + "/home/";
  const int movedPort = StartScriptedServer(
      moved, top, Asked("/") + Answer("301 Moved Permanently", "Location: " + home + "\\r\\n", ""));
  ASSERT_NE(movedPort, 0);

  const std::string location = top / "loc/";
  HttpTask task{};
  task.URI = "http://127.0.0.1/";
  task.LOCATION = location;
  task.LEVEL = 2;
  task.TRANSLATE = true;
  task.PORT = static_cast<std::uint16_t>(movedPort);
  VisitedUrlSet visited;
  EXPECT_TRUE(ProcessHttpTask(task, 1, visited, RunContext{}));
  EXPECT_EQ(moved.ReadRest(15), "DONE\n");
  EXPECT_EQ(site.ReadRest(15), "DONE\n");
  EXPECT_EQ(StoredFiles(location), (std::set<std::string>{"index.html", "i.gif", "p.html"}));
  EXPECT_EQ(ReadFile(location + "index.html"),
            "<img src=\"i.gif\"><a href=\"p.html\">p</a><a href=\"p.html\">o</a>");
  const std::vector<std::string> log = capture.LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(), "Redirected to " + home), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "Redirected to " + home + "p.html"), log.end());
}

}  // namespace

}  // namespace quorbit
