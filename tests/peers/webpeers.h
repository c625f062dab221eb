// Real web and FTPS peers for tests: nginx serving a directory, tinyproxy in
// front of it, and vsftpd speaking explicit FTPS, each on a free loopback port with its own
// configuration, pid and log files in a temporary directory, and stopped when the object goes away.
#pragma once

#include <string>

#include "peers/peers.h"

namespace quorbit {

// True when something accepts connections on the loopback address ("127.0.0.1"
// or "::1") and port within the time.
bool WaitForListener(int port, int timeoutSeconds = 10, const std::string& address = "127.0.0.1");

// Starts argv, a server that is to listen on the loopback address and port,
// and waits (boundedly) until it does; false with the reason in problem when it
// did not start or listen, and then it is stopped.
bool StartListening(PeerProcess& process, const std::vector<std::string>& argv, int port,
                    std::string& problem, const std::string& address = "127.0.0.1");

// Certificates made with the openssl command in a directory of their own: a
// private CA (ca.pem) and, signed by it, a server certificate for 127.0.0.1,
// ::1 and localhost (server.pem, server.key) and one for another name only
// (stranger.pem, stranger.key).
class TestCertificates {
 public:
  static constexpr const char* kBinary = "/usr/bin/openssl";
  // False when the openssl command failed (see Problem).
  bool Make();
  std::string File(const std::string& name) const { return dir_ / name; }
  const std::string& Problem() const { return problem_; }

 private:
  bool Sign(const std::string& name, const std::string& altNames);
  TempDir dir_;
  std::string problem_;
};

// nginx, HTTP/1.1 with keep-alive, serving root (index.html as directory index).
class NginxPeer {
 public:
  static constexpr const char* kBinary = "/usr/sbin/nginx";
  static bool Installed();

  // Before Start: serve https with this certificate and key (PEM files).
  void UseTls(const std::string& certificate, const std::string& key) {
    certificate_ = certificate;
    key_ = key;
  }

  // Starts nginx listening on the loopback address ("127.0.0.1" or "::1");
  // false when it did not come up (see Problem).
  bool Start(const std::string& root, const std::string& listenAddress = "127.0.0.1");
  int Port() const { return port_; }
  const std::string& Problem() const { return problem_; }
  // The error log, for a failing test's message.
  std::string ErrorLog() const;
  // The access log: one line per request, with its request line in quotes
  // and, last, "conn=" and the serial number of the connection it came on.
  std::string AccessLog() const;
  // How many connections the requests of the access log came on.
  int ConnectionsServed() const;

 private:
  TempDir work_;
  PeerProcess process_;
  int port_ = 0;
  std::string problem_;
  std::string certificate_, key_;
};

// tinyproxy in the foreground, accepting clients from 127.0.0.1 only.
class TinyproxyPeer {
 public:
  static constexpr const char* kBinary = "/usr/bin/tinyproxy";
  static bool Installed();

  // Before Start: the one port CONNECT tunnels may lead to (0: none at all);
  // without it every port is allowed.
  void AllowConnectTo(int port) { connectPort_ = port; }

  bool Start();
  int Port() const { return port_; }
  const std::string& Problem() const { return problem_; }

 private:
  TempDir work_;
  PeerProcess process_;
  int port_ = 0;
  int connectPort_ = -1;  // -1: every port
  std::string problem_;
};

// vsftpd in the foreground: anonymous login (user "anonymous") over explicit
// FTPS only, every data channel encrypted, and each data channel required to
// resume the control channel's TLS session; or, started without a
// certificate, plain FTP only. The root is not writable by the
// server's ftp user (vsftpd demands it); its directory pub/ is, for uploads,
// directories, deletion and renaming.
class VsftpdPeer {
 public:
  static constexpr const char* kBinary = "/usr/sbin/vsftpd";
  static bool Installed();

  // Starts vsftpd with the certificate and key (PEM files; empty: no TLS) on the loopback
  // address ("127.0.0.1" or "::1"); false when it did not come up (see
  // Problem).
  bool Start(const std::string& certificate, const std::string& key,
             const std::string& listenAddress = "127.0.0.1");
  int Port() const { return port_; }
  // The local path of pub/.
  std::string Pub() const { return root_ / "pub"; }
  const std::string& Problem() const { return problem_; }
  // The server's protocol log: every command and reply.
  std::string Log() const;

 private:
  TempDir work_;
  TempDir root_;
  PeerProcess process_;
  int port_ = 0;
  std::string problem_;
};

}  // namespace quorbit
