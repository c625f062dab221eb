// https assignments run by the program itself against nginx with TLS on a
// loopback port, its certificates made by a private CA for the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "peers/peers.h"
#include "peers/webpeers.h"
#include "testsite.h"

namespace {

// A small site over TLS whose first page links to its own https address too,
// and the program's run directory.
struct HttpsSite {
  bool Start(const TestCertificates& certificates, const std::string& certificate) {
    nginx.UseTls(certificates.File(certificate + ".pem"), certificates.File(certificate + ".key"));
    if (!nginx.Start(top / "site")) return false;
    AddSiteFile(top / "site", "index.html",
                "<img src=\"img/a.gif\"><a href=\"p.html\">p</a> <a href=\"" + Server() +
                    "/q.html\">q</a>\n");
    AddSiteFile(top / "site", "p.html", "<p>p</p>\n");
    AddSiteFile(top / "site", "q.html", "<p>q</p>\n");
    AddSiteFile(top / "site", "img/a.gif", "GIF89a");
    return true;
  }

  // Runs one assignment of the URI (PORT: the site's) with more [MAIN] keys.
  ProgramRun Run(const std::string& main, const std::string& uri, const std::string& more = "",
                 int port = 0) {
    WriteFile(top / "run/run.ini",
              "[MAIN]\r\nLOG=run.log\r\n" + main + "[END]\r\n[HTTP]\r\nURI=" + uri +
                  "\r\nPORT=" + std::to_string(port ? port : nginx.Port()) + "\r\n" + more +
                  "LOCATION=store\r\nLEVEL=2\r\nTRANSLATE=YES\r\n[END]\r\n");
    return RunProgram({"/usr/bin/env", "-u", "DISPLAY", QUORBIT_PROGRAM, "--console", "run.ini"},
                      top / "run", 60);
  }

  std::vector<std::string> Log() const { return LogFileTexts(top / "run/run.log"); }
  std::string Server() const { return "https://127.0.0.1:" + std::to_string(nginx.Port()); }

  TempDir top;
  NginxPeer nginx;
};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ProgramHttpsRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certificates = new TestCertificates;
    if (!certificates->Make()) problem = certificates->Problem();
  }
  static void TearDownTestSuite() {
    delete certificates;
    certificates = nullptr;
  }
  void SetUp() override {
    if (!NginxPeer::Installed()) GTEST_SKIP() << "nginx is not installed";
    ASSERT_EQ(problem, "");
    caFile = "CA_FILE=" + certificates->File("ca.pem") + "\r\n";
  }

  static inline TestCertificates* certificates = nullptr;
  static inline std::string problem;
  std::string caFile;
};

const std::set<std::string> kMirrored = {"index.html", "p.html", "q.html", "img/a.gif"};

TEST_F(ProgramHttpsRun, FetchesOnlyWhatItCanTrustOrIsToldNotToCheck) {
  const std::string uri = "https://127.0.0.1/index.html";
  const struct {
    std::string certificate, main, more;
    std::string said;  // a line of the run log
    bool stored;
  } cases[] = {
      {"server", caFile, "", "Finished parsing store/index.html", true},
      {"server", "", "",
       "Certificate of 127.0.0.1 not trusted: unable to get local issuer certificate", false},
      {"stranger", caFile, "", "Certificate of 127.0.0.1 not trusted: IP address mismatch", false},
      {"stranger", "", "VERIFY=no\r\n", "Not verifying certificates for " + uri, true},
      {"server", caFile + "PROXY=127.0.0.1:1\r\n", "",
       "Unable to fetch https addresses through a proxy: " + uri, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    HttpsSite site;
    ASSERT_TRUE(site.Start(*certificates, c.certificate)) << site.nginx.Problem();
    const ProgramRun run = site.Run(c.main, uri, c.more);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Contains(site.Log(), c.said)) << ReadFile(site.top / "run/run.log");
    EXPECT_EQ(run.out.find("Unable to complete download of " + uri) == std::string::npos, c.stored)
        << run.out;
    if (c.stored) {
      EXPECT_EQ(StoredFiles(site.top / "run/store"), kMirrored);
      // Links to the https server itself lead to the stored copies.
      EXPECT_EQ(ReadFile(site.top / "run/store/index.html"),
                "<img src=\"img/a.gif\"><a href=\"p.html\">p</a> <a href=\"q.html\">q</a>\r\n");
    } else {
      EXPECT_EQ(StoredFiles(site.top / "run/store"), std::set<std::string>{});
    }
  }
}

// A redirect from http to https is followed, over TLS checked as any https
// fetch; a refused certificate ends the fetch with its own line only. The
// debug log shows the TLS version and cipher.
TEST_F(ProgramHttpsRun, RedirectFromHttpToHttpsIsFollowedOverCheckedTls) {
  const struct {
    std::string main;
    std::string said;  // a line of the run log
    bool stored;
  } cases[] = {
      {caFile, "Redirected to ", true},
      {"", "Certificate of 127.0.0.1 not trusted: unable to get local issuer certificate", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    HttpsSite site;
    ASSERT_TRUE(site.Start(*certificates, "server")) << site.nginx.Problem();
    PeerProcess plain;
    const int plainPort = StartScriptedServer(
        plain, site.top,
        "expect GET /index.html HTTP/1.1\nexpect_match Host: 127.0.0.1:*\nexpect \n"
        "send HTTP/1.1 301 Moved Permanently\\r\\nLocation: " +
            site.Server() + "/index.html\\r\\nContent-Length: 0\\r\\n\\r\\n\n");
    ASSERT_NE(plainPort, 0);
    const ProgramRun run =
        site.Run(c.main + "DEBUG_LOG=debug.log\r\n", "http://127.0.0.1/index.html", "", plainPort);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(plain.ReadRest(15), "DONE\n");
    const std::vector<std::string> log = site.Log();
    const std::string said = c.stored ? c.said + site.Server() + "/index.html" : c.said;
    EXPECT_TRUE(Contains(log, said)) << ReadFile(site.top / "run/run.log");
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.starts_with("Too many"); }),
              0);
    EXPECT_EQ(StoredFiles(site.top / "run/store"), c.stored ? kMirrored : std::set<std::string>{});
    const std::vector<std::string> debug = LogFileTexts(site.top / "run/debug.log");
    EXPECT_EQ(std::any_of(debug.begin(), debug.end(),
                          [](const std::string& line) { return line.starts_with("C TLSv1."); }),
              c.stored)
        << ReadFile(site.top / "run/debug.log");
  }
}

}  // namespace
