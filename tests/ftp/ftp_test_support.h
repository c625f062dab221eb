// Shared support of the FTP tests: a session that records its events, and a
// scripted FTP server on 127.0.0.1 (tests/peers/ftp_script_server.py).
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/ftplib.h"
#include "peers/peers.h"

// Events as short texts: "S<code>" or "S<code>:<text>" for status events,
// "F<code>:<file name>" for file events.
class RecordingSession : public FtpSession {
 public:
  using FtpSession::FtpSession;
  std::vector<std::string> events;

  void StatusEvent(std::uint8_t code, const Str255& text) override {
    std::string event = "S" + std::to_string(code);
    if (!text.Empty()) event += ":" + text.Str();
    events.push_back(event);
  }
  void FileEvent(std::uint8_t code, const FtpFileRecord& file) override {
    events.push_back("F" + std::to_string(code) + ":" + file.name.Str());
  }
};

// Plays one script of ftp_script_server.py (the format of scripted_server.py,
// where "data" steps act on the passive data connection).
class ScriptedFtpServer {
 public:
  explicit ScriptedFtpServer(std::string_view script) {
    const std::string path = dir_ / "script.txt";
    WriteFile(path, script);
    port_ = static_cast<std::uint16_t>(StartScriptedPeer(peer_, "ftp_script_server.py", {path}));
  }
  std::uint16_t Port() const { return port_; }
  // What the server printed at its end: "DONE" when every step passed,
  // otherwise the failed step.
  std::string Outcome() { return peer_.ReadRest(); }
  const TempDir& Dir() const { return dir_; }

 private:
  TempDir dir_;
  PeerProcess peer_;
  std::uint16_t port_ = 0;
};

// The server's half of a plain login of alice with password s3cret.
constexpr std::string_view kLoginScript = R"(send 220 ready\r\n
expect USER alice
send 331 password please\r\n
expect PASS s3cret
send 230 logged in\r\n
)";

inline bool LogIn(FtpSession& session, std::uint16_t port, std::uint16_t tries = 1) {
  return session.Login("127.0.0.1", "alice", port, 1, tries, "s3cret");
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
