// HttpGet against real servers started on free loopback ports: nginx serving
// a generated tree, and tinyproxy in front of it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "http/connectionpool.h"
#include "http/httpreport.h"
#include "httptestsupport.h"
#include "peers/webpeers.h"
#include "util/directorytrees.h"
#include "util/fileattributes.h"
#include "util/localsearch.h"

namespace quorbit {

namespace {

using Events = std::vector<std::string>;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

constexpr std::time_t kPageTime = 1614834368;  // Thu, 04 Mar 2021 05:06:08 GMT

// Servers send LAST-MODIFIED in GMT, and the time is taken as written.
PackedDateTime PackedGmt(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  return PackBrokenDownTime(tm);
}

void SetModified(const std::string& path, std::time_t t) {
  const timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

class RealServers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NginxPeer::Installed()) GTEST_SKIP() << "nginx is not installed at " << NginxPeer::kBinary;
    WriteFile(Served("page.html"), "<html><body>A page<img src=\"a.gif\"></body></html>\n");
    SetModified(Served("page.html"), kPageTime);
    WriteFile(Served("docs/index.html"), "<html>docs</html>\n");
    WriteFile(Served("big.bin"), RandomBytes(1 << 20));
    ASSERT_TRUE(nginx.Start(dir / "www")) << nginx.Problem() << "\n" << nginx.ErrorLog();
    local = dir / "store/";
    ASSERT_TRUE(EnsureDirectory(local));
  }

  std::string Served(const std::string& name) const { return dir / ("www/" + name); }
  std::string Stored(const std::string& name) const { return ReadFile(local + name); }

  bool Get(HttpSession& session, const std::string& path, bool ifModified = false) {
    return HttpGet(session, "http://127.0.0.1" + path, local,
                   static_cast<std::uint16_t>(nginx.Port()), {.ifModified = ifModified}, response);
  }

  TempDir dir;
  NginxPeer nginx;
  std::string local;
  HttpResponse response;
};

TEST_F(RealServers, PageIsStoredWithItsDate) {
  RecordingHttpSession session;
  session.bodyIdleSeconds = 5;
  ASSERT_TRUE(Get(session, "/page.html"));
  EXPECT_EQ(Stored("page.html"), ReadFile(Served("page.html")));
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.contentLength,
            static_cast<std::int64_t>(ReadFile(Served("page.html")).size()));
  EXPECT_EQ(response.contentType, "TEXT/HTML");
  EXPECT_EQ(response.server.rfind("NGINX", 0), 0u);
  EXPECT_NE(response.serverDate, 0u);
  EXPECT_EQ(response.lastModified, PackedGmt(kPageTime));
  EXPECT_EQ(GetFileDate(local + "page.html"), response.lastModified);
  EXPECT_EQ(session.events, (Events{"Connecting", "Connected", "ReadingHeader", "Downloading",
                                    "P100", "Complete", "P-1"}));
  EXPECT_EQ(session.StatusLine(), "HTTP/1.1 200 OK");
}

TEST_F(RealServers, IfModifiedSkipsUnchangedAndFetchesChanged) {
  {
    RecordingHttpSession session;
    ASSERT_TRUE(Get(session, "/page.html", true));
  }
  // A stored copy with the server's date is not fetched again, whatever it holds.
  WriteFile(local + "page.html", "kept");
  ASSERT_TRUE(SetFileDate(local + "page.html", PackedGmt(kPageTime)));
  {
    RecordingHttpSession session;
    EXPECT_TRUE(Get(session, "/page.html", true));
    EXPECT_EQ(session.events, (Events{"Connecting", "Connected", "ReadingHeader", "Unchanged"}));
    EXPECT_EQ(Stored("page.html"), "kept");
  }
  WriteFile(Served("page.html"), "<html>changed</html>\n");
  SetModified(Served("page.html"), kPageTime + 3600);
  {
    RecordingHttpSession session;
    EXPECT_TRUE(Get(session, "/page.html", true));
    EXPECT_TRUE(session.Saw("Complete"));
    EXPECT_EQ(Stored("page.html"), "<html>changed</html>\n");
    EXPECT_EQ(GetFileDate(local + "page.html"), PackedGmt(kPageTime + 3600));
  }
}

TEST_F(RealServers, MissingFileIsReported) {
  ReportCapture capture;
  {
    ReportingHttpSession session("");
    EXPECT_FALSE(Get(session, "/missing.html"));
  }
  EXPECT_EQ(response.status, 404);
  EXPECT_FALSE(PathExists(local + "missing.html"));
  Events memo = capture.Memo();
  ASSERT_FALSE(memo.empty());
  EXPECT_EQ(memo.back(), "Unable to find missing.html");
  Events log = capture.LogLines();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], "Unable to find missing.html");
  EXPECT_EQ(log[2], "Server reported: HTTP/1.1 404 Not Found");
}

TEST_F(RealServers, DirectoryWithoutSlashIsFetchedThroughTheRedirectRule) {
  RecordingHttpSession session;
  ASSERT_TRUE(Get(session, "/docs"));
  EXPECT_EQ(local, dir / "store/docs/");
  EXPECT_EQ(Stored("docs.html"), "<html>docs</html>\n");
}

TEST_F(RealServers, BinaryMebibyteIsStoredByteIdentical) {
  RecordingHttpSession session;
  session.bodyIdleSeconds = 5;
  ASSERT_TRUE(Get(session, "/big.bin"));
  EXPECT_TRUE(Stored("big.bin") == ReadFile(Served("big.bin"))) << "stored copy differs";
  EXPECT_EQ(response.contentLength, 1 << 20);
  Events percents = session.Only('P');
  ASSERT_GE(percents.size(), 2u);
  EXPECT_EQ(percents[percents.size() - 2], "P100");
}

TEST_F(RealServers, FileBeyondFourGibibytesArrivesWholeAndComplete) {
  if (kSanitized) GTEST_SKIP() << "gibibytes through the sanitizer build take too long";
  // Sparse on both sides of the test: a hole, then a marker at the very end.
  const std::string marker = "the last bytes";
  const std::int64_t size = (std::int64_t{1} << 32) + 4099;
  WriteFile(Served("huge.bin"), "");
  std::filesystem::resize_file(Served("huge.bin"),
                               static_cast<std::uintmax_t>(size) - marker.size());
  std::ofstream(Served("huge.bin"), std::ios::binary | std::ios::app) << marker;
  RecordingHttpSession session;
  session.bodyIdleSeconds = 5;
  ASSERT_TRUE(Get(session, "/huge.bin"));
  EXPECT_EQ(response.contentLength, size);
  EXPECT_EQ(static_cast<std::int64_t>(FileSizeOf(local + "huge.bin")), size);
  std::ifstream stored(local + "huge.bin", std::ios::binary);
  stored.seekg(-static_cast<std::streamoff>(marker.size()), std::ios::end);
  std::string last(marker.size(), '\0');
  stored.read(last.data(), static_cast<std::streamsize>(last.size()));
  EXPECT_EQ(last, marker);
  Events tail(session.events.end() - 3, session.events.end());
  EXPECT_EQ(tail, (Events{"P100", "Complete", "P-1"}));
}

TEST_F(RealServers, SameFetchThroughProxyOnAnotherPort) {
  if (!TinyproxyPeer::Installed()) {
    GTEST_SKIP() << "tinyproxy is not installed at " << TinyproxyPeer::kBinary;
  }
  TinyproxyPeer proxy;
  ASSERT_TRUE(proxy.Start()) << proxy.Problem();
  RecordingHttpSession session;
  session.bodyIdleSeconds = 5;
  session.proxy = "127.0.0.1:" + std::to_string(proxy.Port());
  ASSERT_TRUE(Get(session, "/page.html"));
  EXPECT_EQ(Stored("page.html"), ReadFile(Served("page.html")));
  EXPECT_EQ(GetFileDate(local + "page.html"), PackedGmt(kPageTime));
  ASSERT_TRUE(Get(session, "/big.bin"));  // the same session asks the same proxy again
  EXPECT_TRUE(Stored("big.bin") == ReadFile(Served("big.bin"))) << "stored copy differs";
}

// A later session takes over the connection an earlier one kept; each
// session's debug log shows a "C" line only for a connection it made.
TEST_F(RealServers, KeptConnectionServesTheNextSessionAndItsDebugLogSaysSo) {
  KeptConnection kept;
  for (const char* name : {"first", "second"}) {
    RecordingHttpSession session(dir / (std::string(name) + ".log"));
    session.keep = &kept;
    ASSERT_TRUE(Get(session, "/page.html")) << name;
  }
  EXPECT_EQ(nginx.ConnectionsServed(), 1) << nginx.AccessLog();
  auto connectLines = [&](const char* name) {
    const std::vector<std::string> log = LogFileTexts(dir / (std::string(name) + ".log"));
    return std::count_if(log.begin(), log.end(),
                         [](const std::string& line) { return line.starts_with("C "); });
  };
  EXPECT_EQ(connectLines("first"), 1);
  EXPECT_EQ(connectLines("second"), 0);
}

TEST_F(RealServers, PageOverIpv6IsStoredAndTheDebugLogNamesTheAddress) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
  NginxPeer nginx6;
  ASSERT_TRUE(nginx6.Start(dir / "www", "::1")) << nginx6.Problem() << "\n" << nginx6.ErrorLog();
  {
    RecordingHttpSession session(dir / "debug.log");
    ASSERT_TRUE(HttpGet(session, "http://[::1]/page.html", local,
                        static_cast<std::uint16_t>(nginx6.Port()), {}, response));
    EXPECT_EQ(session.BaseUrl(), "http://[::1]");
  }
  EXPECT_EQ(Stored("page.html"), ReadFile(Served("page.html")));
  EXPECT_EQ(GetFileDate(local + "page.html"), PackedGmt(kPageTime));
  const std::vector<std::string> log = LogFileTexts(dir / "debug.log");
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(log[3], "C ip ::1");
  EXPECT_EQ(log[4], "S GET /page.html HTTP/1.1");
  EXPECT_EQ(log[5], "S Host: [::1]:" + std::to_string(nginx6.Port()));
}

}  // namespace

}  // namespace quorbit
