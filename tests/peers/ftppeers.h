// Real FTP servers for tests: vsftpd as installed, and proftpd and pure-ftpd,
// which cannot be installed beside it (each Debian package provides
// ftp-server). scripts/install-deps keeps their packages in a cache; the
// tests unpack them (dpkg-deb -x) into the build tree once and run the
// unpacked programs. Each server runs in the foreground on a free port of
// 127.0.0.1 with a configuration of its own, serves a fresh root whose pub/
// anyone may write to, and is stopped when its object goes away.
#pragma once

#include <string>
#include <vector>

#include "peers/peers.h"
#include "peers/webpeers.h"

namespace quorbit {

enum class FtpServerKind { Vsftpd, Proftpd, PureFtpd };

// "vsftpd", "proftpd" or "pure-ftpd".
std::string FtpServerName(FtpServerKind kind);

// Where install-deps keeps the server packages: $QUORBIT_DEB_CACHE, else
// $XDG_CACHE_HOME/quorbit/debs, else ~/.cache/quorbit/debs.
std::string ServerPackageCache();

// The directory that holds the given packages (their usr/ trees) unpacked
// from the cache, unpacking them on first use; empty, with the reason in
// problem, when a package is not in the cache or will not unpack.
std::string UnpackedServerPackages(const std::vector<std::string>& packages, std::string& problem);

class RealFtpServer {
 public:
  explicit RealFtpServer(FtpServerKind kind) : kind_(kind) {}

  // Starts the server; with a certificate and key (PEM files) the login and
  // every data channel must use explicit TLS, without them it speaks plain
  // FTP. False when it did not come up (see Problem); every wait is bounded.
  bool Start(const std::string& certificate = "", const std::string& key = "");
  int Port() const;
  // The login the server accepts.
  std::string User() const;
  std::string Password() const;
  // The local path of pub/ (remote "/pub").
  std::string Pub() const;
  // Creates pub/<name> so that the server's user may write to it; its path.
  std::string MakePubDirectory(const std::string& name) const;
  const std::string& Problem() const { return problem_; }
  // The server's protocol log, where it keeps one (for a failing test's message).
  std::string Log() const;

 private:
  // One try on a free port.
  bool StartProftpd(const std::string& certificate, const std::string& key);
  bool StartPureFtpd(const std::string& certificate, const std::string& key);

  FtpServerKind kind_;
  VsftpdPeer vsftpd_;
  TempDir work_;
  TempDir root_;
  PeerProcess process_;
  int port_ = 0;
  std::string problem_;
};

}  // namespace quorbit
