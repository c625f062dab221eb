// Shared support of the FTP tests: a session that records its events, a
// scripted FTP server on 127.0.0.1 and a fixture that logs in to one, and a
// fixture with a real server.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/ftpsession.h"
#include "peers/peers.h"
#include "util/stoprequest.h"

namespace quorbit {

// Events by name: "<name>" or "<name>:<text>" for status events (e.g.
// "Connecting:1", "PreparingDownload"), "<name>:<file name>" for file events
// (e.g. "Complete:a.txt").
// A stop of the run is requested when the event stopAt is recorded.
class RecordingFtpSession : public FtpSession {
 public:
  using FtpSession::FtpSession;
  std::vector<std::string> events;
  std::string stopAt;

  void StatusEvent(FtpStatusEvent event, std::string_view text) override {
    std::string recorded(FtpStatusEventName(event));
    if (!text.empty()) recorded += ":" + std::string(text);
    Record(recorded);
  }
  void FileEvent(FtpFileEvent event, const FtpFileRecord& file) override {
    Record(std::string(FtpFileEventName(event)) + ":" + file.name);
  }

 private:
  void Record(const std::string& event) {
    events.push_back(event);
    if (event == stopAt) RequestStop(SIGTERM);
  }
};

// Forgets a stop request when the test ends, however it ends.
struct StopRequestCleared {
  ~StopRequestCleared() { ClearStopRequest(); }
};

// Plays one script of scripted_server.py, where "data" steps act on the
// passive data connection.
class ScriptedFtpServer {
 public:
  // It listens on listenAddress: "127.0.0.1", or "::1" for IPv6.
  explicit ScriptedFtpServer(std::string_view script,
                             const std::string& listenAddress = "127.0.0.1")
      : port_(static_cast<std::uint16_t>(StartScriptedServer(peer_, dir_, script, listenAddress))) {
  }
  std::uint16_t Port() const { return port_; }
  // What the server printed at its end: "DONE" when every step passed,
  // otherwise the failed step.
  std::string Outcome() { return peer_.ReadRest(); }
  const TempDir& Dir() const { return dir_; }

 private:
  TempDir dir_;
  PeerProcess peer_;
  std::uint16_t port_;
};

// The server's half of a plain login of alice with password s3cret, up to
// the reply to PASS, and with the reply that accepts her and the FEAT that
// follows, which this server does not know (so listings use LIST).
inline const std::string kUpToPassword = R"(send 220 ready\r\n
expect USER alice
send 331 password please\r\n
expect PASS s3cret
)";
inline const std::string kNoFeatures = "expect FEAT\nsend 502 FEAT not implemented\\r\\n\n";
inline const std::string kLoginScript = kUpToPassword + "send 230 logged in\\r\\n\n" + kNoFeatures;

// The server's half of a LIST on a fresh passive data channel, up to its
// first reply.
inline const std::string kListRequest = "expect PASV\npasv\nexpect LIST\n";

inline bool LogIn(FtpSession& session, std::uint16_t port, std::uint16_t tries = 1) {
  return session.Login({.host = "127.0.0.1",
                        .user = "alice",
                        .password = "s3cret",
                        .port = port,
                        .retryDelay = 1,
                        .tries = tries});
}

// A recording session and the scripted server it talks to.
class ScriptedFtpTest : public ::testing::Test {
 protected:
  // Starts a server that plays the whole script.
  void Serve(std::string_view script, const std::string& listenAddress = "127.0.0.1") {
    server = std::make_unique<ScriptedFtpServer>(script, listenAddress);
  }
  // Starts a server that plays the login, the steps and a final QUIT; logs
  // in and forgets the login's events.
  void Start(std::string_view steps) {
    Serve(kLoginScript + std::string(steps) + "expect QUIT\n");
    ASSERT_TRUE(LogIn(session, server->Port()));
    session.events.clear();
  }
  // Quits; what the server made of the conversation ("DONE" when every step
  // passed).
  std::string Finish() {
    session.Quit();
    return server->Outcome();
  }

  std::unique_ptr<ScriptedFtpServer> server;
  RecordingFtpSession session;
};

// A real FTP server (pyftpdlib) that serves home as "/" to alice.
class RealFtpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port = StartScriptedPeer(server, "ftp_server.py", {"alice", "s3cret", home.Path()});
    ASSERT_NE(port, 0);
  }

  TempDir home;
  PeerProcess server;
  int port = 0;
};

}  // namespace quorbit
