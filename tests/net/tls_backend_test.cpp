// Each TLS backend against nginx with TLS on a loopback port, through the
// probe program (tests/probes/tls_probe.cpp): the Linux build's own, and the
// Windows build's under wine when QUORBIT_WINDOWS_TLS_PROBE names it (with
// WINEPREFIX naming the wine prefix to use). Both must trust, refuse and
// word their refusals alike.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "peers/peers.h"
#include "peers/webpeers.h"

namespace quorbit {

namespace {

struct Probe {
  std::string name;
  std::vector<std::string> command;  // the probe's argv before its arguments
  std::string pathPrefix;            // turns a Linux path into one the probe opens
};

std::vector<Probe> Probes() {
  std::vector<Probe> probes = {{"native", {QUORBIT_TLS_PROBE}, ""}};
  const char* windows = std::getenv("QUORBIT_WINDOWS_TLS_PROBE");
  if (windows != nullptr && *windows != 0) {
    // wine shows the Linux root as drive Z:.
    probes.push_back({"windows", {"/usr/bin/env", "-u", "DISPLAY", "wine", windows}, "Z:"});
  }
  return probes;
}

TEST(TlsBackend, TrustsRefusesAndExplainsAlike) {
  if (!NginxPeer::Installed()) GTEST_SKIP() << "nginx is not installed";
  TestCertificates certificates;
  ASSERT_TRUE(certificates.Make()) << certificates.Problem();
  TempDir site;
  WriteFile(site / "index.html", "<p>tls</p>\r\n");
  NginxPeer server, stranger;
  server.UseTls(certificates.File("server.pem"), certificates.File("server.key"));
  stranger.UseTls(certificates.File("stranger.pem"), certificates.File("stranger.key"));
  ASSERT_TRUE(server.Start(site.Path())) << server.Problem();
  ASSERT_TRUE(stranger.Start(site.Path())) << stranger.Problem();

  const std::string ca = certificates.File("ca.pem");
  const std::string accepted = "OK\nHTTP/1.1 200 OK\n<p>tls</p>\n";
  const struct {
    const NginxPeer& peer;
    std::string host, caFile, verify;
    std::string said;  // the probe's output, or its start when it ends in ": "
  } cases[] = {
      {server, "127.0.0.1", ca, "yes", accepted},
      {server, "[::1]", ca, "yes", accepted},
      {server, "localhost", ca, "yes", accepted},
      {stranger, "elsewhere.invalid", ca, "yes", accepted},
      {stranger, "127.0.0.1", "-", "no", accepted},
      {server, "127.0.0.1", "-", "yes",
       "Certificate of 127.0.0.1 not trusted: unable to get local issuer certificate\n"},
      {server, "localhost", "-", "yes",
       "Certificate of localhost not trusted: unable to get local issuer certificate\n"},
      {stranger, "127.0.0.1", ca, "yes",
       "Certificate of 127.0.0.1 not trusted: IP address mismatch\n"},
      {stranger, "localhost", ca, "yes",
       "Certificate of localhost not trusted: hostname mismatch\n"},
      {server, "127.0.0.1", ca + ".missing", "yes", "TLS handshake with 127.0.0.1 failed: "},
  };
  for (const Probe& probe : Probes()) {
    for (const auto& c : cases) {
      SCOPED_TRACE(probe.name + " " + c.host + " " + c.caFile + " " + c.verify);
      std::vector<std::string> argv = probe.command;
      argv.insert(argv.end(), {std::to_string(c.peer.Port()), c.host,
                               c.caFile == "-" ? c.caFile : probe.pathPrefix + c.caFile, c.verify});
      ProgramRun run = RunProgram(argv, site.Path(), 60);
      std::erase(run.out, '\r');  // Windows writes text lines with CR LF
      EXPECT_EQ(run.exitCode, 0) << run.err;
      if (c.said.ends_with(": ")) {
        EXPECT_TRUE(run.out.starts_with(c.said) && run.out.size() > c.said.size()) << run.out;
      } else {
        EXPECT_EQ(run.out, c.said) << run.err;
      }
    }
  }
}

}  // namespace

}  // namespace quorbit
