// https assignments run by the program itself against nginx with TLS on a
// loopback port, its certificates made by a private CA for the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "peers/peers.h"
#include "peers/webpeers.h"
#include "testsite.h"

namespace quorbit {

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

// How an assignment reaches the site: directly, or through tinyproxy, which
// opens CONNECT tunnels to the site's port or to none.
enum class Via { Direct, Tunnel, RefusingProxy };

// Starts tinyproxy as the case wants it; the [MAIN] line that names it.
std::string ProxyLine(Via via, TinyproxyPeer& proxy, int sitePort) {
  if (via == Via::Direct) return "";
  proxy.AllowConnectTo(via == Via::Tunnel ? sitePort : 0);
  if (!proxy.Start()) return "";
  return "PROXY=127.0.0.1:" + std::to_string(proxy.Port()) + "\r\n";
}

// Every file of a site comes over one connection: the connection kept open
// serves the next file, inside a proxy's tunnel too. A proxy that refuses
// the tunnel ends the fetch with one line that says so.
TEST_F(ProgramHttpsRun, FetchesWhatItCanTrustDirectlyOrThroughATunnelOnOneConnection) {
  const std::string uri = "https://127.0.0.1/index.html";
  const struct {
    std::string certificate, main, more;
    Via via;
    std::string said;  // a line of the run log; "{port}" stands for the site's port
    bool stored;
  } cases[] = {
      {"server", caFile, "", Via::Direct, "Finished parsing store/index.html", true},
      {"server", "", "", Via::Direct,
       "Certificate of 127.0.0.1 not trusted: unable to get local issuer certificate", false},
      {"stranger", caFile, "", Via::Direct,
       "Certificate of 127.0.0.1 not trusted: IP address mismatch", false},
      {"stranger", "", "VERIFY=no\r\n", Via::Direct, "Not verifying certificates for " + uri, true},
      {"server", caFile, "", Via::Tunnel, "Finished parsing store/index.html", true},
      {"stranger", caFile, "", Via::Tunnel,
       "Certificate of 127.0.0.1 not trusted: IP address mismatch", false},
      {"server", caFile, "", Via::RefusingProxy,
       "Proxy refused tunnel to 127.0.0.1:{port}: HTTP/1.1 403 Access violation", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    if (c.via != Via::Direct && !TinyproxyPeer::Installed()) continue;
    HttpsSite site;
    ASSERT_TRUE(site.Start(*certificates, c.certificate)) << site.nginx.Problem();
    TinyproxyPeer proxy;
    const std::string proxyLine = ProxyLine(c.via, proxy, site.nginx.Port());
    ASSERT_EQ(proxy.Problem(), "");
    const ProgramRun run = site.Run(c.main + proxyLine, uri, c.more);
    EXPECT_EQ(run.exitCode, 0);
    std::string said = c.said;
    if (said.find("{port}") != std::string::npos) {
      said.replace(said.find("{port}"), 6, std::to_string(site.nginx.Port()));
    }
    const std::vector<std::string> log = site.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), said), 1) << ReadFile(site.top / "run/run.log");
    EXPECT_EQ(run.out.find("Unable to complete download of " + uri) == std::string::npos, c.stored)
        << run.out;
    if (c.stored) {
      EXPECT_EQ(StoredFiles(site.top / "run/store"), kMirrored);
      EXPECT_EQ(site.nginx.ConnectionsServed(), 1) << site.nginx.AccessLog();
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

}  // namespace quorbit
