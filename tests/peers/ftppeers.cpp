#include "peers/ftppeers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

namespace quorbit {

namespace fs = std::filesystem;

namespace {

// The one login of proftpd and pure-ftpd; the templates *.passwd.in hold its
// password as crypt(3) keeps it ("openssl passwd -6 -salt quorbit quorbit").
constexpr const char* kUser = "quorbit";
constexpr const char* kPassword = "quorbit";

// A template of the peers directory with every @NAME@ replaced by its value.
std::string FilledTemplate(const std::string& name,
                           const std::vector<std::pair<std::string, std::string>>& values) {
  std::string text = ReadFile(PeersDir() + "/" + name);
  for (const auto& [key, value] : values) {
    const std::string placeholder = "@" + key + "@";
    for (std::size_t at = 0; (at = text.find(placeholder, at)) != std::string::npos;
         at += value.size()) {
      text.replace(at, placeholder.size(), value);
    }
  }
  return text;
}

// The newest cached package file of the name ("<package>_<version>_<arch>.deb").
std::string CachedPackage(const std::string& package) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = fs::directory_iterator(ServerPackageCache(), ec);
       !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with(package + "_") && name.ends_with(".deb")) {
      found.push_back(it->path().string());
    }
  }
  std::sort(found.begin(), found.end());
  return found.empty() ? "" : found.back();
}

std::string FreshPort(int& port) {
  port = FreeLoopbackPort();
  return std::to_string(port);
}

}  // namespace

std::string FtpServerName(FtpServerKind kind) {
  switch (kind) {
    case FtpServerKind::Vsftpd:
      return "vsftpd";
    case FtpServerKind::Proftpd:
      return "proftpd";
    case FtpServerKind::PureFtpd:
      return "pure-ftpd";
  }
  return "?";
}

std::string ServerPackageCache() {
  if (const char* cache = std::getenv("QUORBIT_DEB_CACHE"); cache && *cache) return cache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) {
    return std::string(xdg) + "/quorbit/debs";
  }
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.cache/quorbit/debs";
}

std::string UnpackedServerPackages(const std::vector<std::string>& packages, std::string& problem) {
  std::vector<std::string> files;
  std::string key;
  for (const std::string& package : packages) {
    const std::string file = CachedPackage(package);
    if (file.empty()) {
      problem = package + " is not in " + ServerPackageCache() + ": run scripts/install-deps";
      return "";
    }
    files.push_back(file);
    key += (key.empty() ? "" : "+") + fs::path(file).stem().string();
  }
  // Named after the package files, so that a newer package is unpacked anew.
  std::string target = std::string(QUORBIT_PEER_PACKAGES_DIR) + "/" + key;
  std::error_code ec;
  if (fs::is_directory(target, ec)) return target;
  // Tests running side by side may unpack at the same time: each unpacks into
  // a directory of its own and renames it into place; the first one wins.
  const std::string scratch = target + ".part" + std::to_string(getpid());
  fs::remove_all(scratch, ec);
  fs::create_directories(scratch, ec);
  for (const std::string& file : files) {
    const ProgramRun run = RunProgram({"dpkg-deb", "-x", file, scratch}, scratch, 60);
    if (run.exitCode != 0) {
      problem = "dpkg-deb could not unpack " + file + ": " + run.err;
      fs::remove_all(scratch, ec);
      return "";
    }
  }
  fs::rename(scratch, target, ec);
  fs::remove_all(scratch, ec);
  if (!fs::is_directory(target, ec)) {
    problem = "could not unpack into " + target;
    return "";
  }
  return target;
}

bool RealFtpServer::Start(const std::string& certificate, const std::string& key) {
  if (kind_ == FtpServerKind::Vsftpd) {
    if (!VsftpdPeer::Installed()) {
      problem_ = "vsftpd is not installed: run scripts/install-deps";
      return false;
    }
    if (vsftpd_.Start(certificate, key)) return true;
    problem_ = vsftpd_.Problem();
    return false;
  }
  if (geteuid() != 0) {
    problem_ =
        FtpServerName(kind_) + " is started as root only (it changes root to the served tree)";
    return false;
  }
  mkdir(Pub().c_str(), 0777);
  chmod(Pub().c_str(), 0777);  // the umask took some bits
  // Another process may take the free port before the server binds it.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool started = kind_ == FtpServerKind::Proftpd ? StartProftpd(certificate, key)
                                                         : StartPureFtpd(certificate, key);
    if (started) return true;
  }
  return false;
}

// proftpd runs as root with a virtual user of uid 0, changed to the root
// directory served; with TLS, mod_tls (from proftpd-mod-crypto) requires it
// for the login and every data channel.
bool RealFtpServer::StartProftpd(const std::string& certificate, const std::string& key) {
  const std::string unpacked =
      UnpackedServerPackages({"proftpd-core", "proftpd-mod-crypto"}, problem_);
  if (unpacked.empty()) return false;
  const std::vector<std::pair<std::string, std::string>> values = {
      {"PORT", FreshPort(port_)}, {"UNPACKED", unpacked},       {"WORK", work_.Path()},
      {"ROOT", root_.Path()},     {"CERTIFICATE", certificate}, {"KEY", key}};
  WriteFile(work_ / "passwd", FilledTemplate("proftpd.passwd.in", values));
  chmod((work_ / "passwd").c_str(), 0600);
  WriteFile(work_ / "group", "root:x:0:\n");
  WriteFile(work_ / "proftpd.conf",
            FilledTemplate("proftpd.conf.in", values) +
                (certificate.empty() ? "" : FilledTemplate("proftpd-tls.conf.in", values)));
  return StartListening(process_,
                        {unpacked + "/usr/sbin/proftpd", "-n", "-q", "-c", work_ / "proftpd.conf"},
                        port_, problem_);
}

// pure-ftpd takes its settings as options: a virtual user (nobody: it refuses
// the uid of root) from a PureDB file made with pure-pw, changed to the root
// directory served ("/./" in its home); with TLS, the login and every data
// channel must use it.
bool RealFtpServer::StartPureFtpd(const std::string& certificate, const std::string& key) {
  const std::string unpacked = UnpackedServerPackages({"pure-ftpd"}, problem_);
  if (unpacked.empty()) return false;
  WriteFile(work_ / "pure.passwd", FilledTemplate("pure-ftpd.passwd.in", {{"ROOT", root_.Path()}}));
  const ProgramRun made = RunProgram(
      {unpacked + "/usr/bin/pure-pw", "mkdb", work_ / "pure.pdb", "-f", work_ / "pure.passwd"},
      work_.Path(), 20);
  if (made.exitCode != 0) {
    problem_ = "pure-pw mkdb failed: " + made.err;
    return false;
  }
  std::vector<std::string> argv = {unpacked + "/usr/sbin/pure-ftpd",
                                   "--bind",
                                   "127.0.0.1," + FreshPort(port_),
                                   "--login",
                                   "puredb:" + work_ / "pure.pdb",
                                   "--noanonymous",
                                   "--dontresolve",
                                   "--pidfile",
                                   work_ / "pure-ftpd.pid"};
  if (!certificate.empty()) {
    argv.insert(argv.end(), {"--tls", "3", "--certfile", certificate + "," + key});
  }
  return StartListening(process_, argv, port_, problem_);
}

int RealFtpServer::Port() const {
  return kind_ == FtpServerKind::Vsftpd ? vsftpd_.Port() : port_;
}

std::string RealFtpServer::User() const {
  return kind_ == FtpServerKind::Vsftpd ? "anonymous" : kUser;
}

std::string RealFtpServer::Password() const {
  return kind_ == FtpServerKind::Vsftpd ? "" : kPassword;
}

std::string RealFtpServer::Pub() const {
  return kind_ == FtpServerKind::Vsftpd ? vsftpd_.Pub() : root_ / "pub";
}

std::string RealFtpServer::MakePubDirectory(const std::string& name) const {
  std::string path = Pub() + "/" + name;
  std::error_code ec;
  fs::create_directories(path, ec);
  chmod(path.c_str(), 0777);
  return path;
}

std::string RealFtpServer::Log() const {
  switch (kind_) {
    case FtpServerKind::Vsftpd:
      return vsftpd_.Log();
    case FtpServerKind::Proftpd:
      return ReadFile(work_ / "system.log") + ReadFile(work_ / "protocol.log") +
             ReadFile(work_ / "tls.log");
    case FtpServerKind::PureFtpd:
      break;  // it logs to syslog only
  }
  return "";
}

}  // namespace quorbit
