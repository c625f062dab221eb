#include "peers/webpeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

namespace quorbit {

namespace {

bool Executable(const char* path) {
  return access(path, X_OK) == 0;
}

bool CanConnect(int port, const std::string& address) {
  const bool v6 = address.find(':') != std::string::npos;
  int s = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in a{};
  sockaddr_in6 a6{};
  a.sin_family = AF_INET;
  a6.sin6_family = AF_INET6;
  a.sin_port = a6.sin6_port = htons(static_cast<std::uint16_t>(port));
  bool ok = false;
  if (v6) {
    ok = inet_pton(AF_INET6, address.c_str(), &a6.sin6_addr) == 1 &&
         connect(s, reinterpret_cast<sockaddr*>(&a6), sizeof a6) == 0;
  } else {
    ok = inet_pton(AF_INET, address.c_str(), &a.sin_addr) == 1 &&
         connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  close(s);
  return ok;
}

}  // namespace

bool StartListening(PeerProcess& process, const std::vector<std::string>& argv, int port,
                    std::string& problem, const std::string& address) {
  if (port == 0) {
    problem = "no free loopback port";
  } else if (!process.Start(argv)) {
    problem = "could not start " + argv[0];
  } else if (!WaitForListener(port, 10, address)) {
    problem = argv[0] + " did not listen on port " + std::to_string(port);
  } else {
    return true;
  }
  process.Stop();
  return false;
}

bool WaitForListener(int port, int timeoutSeconds, const std::string& address) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (CanConnect(port, address)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

bool NginxPeer::Installed() {
  return Executable(kBinary);
}

bool NginxPeer::Start(const std::string& root, const std::string& listenAddress) {
  port_ = FreeLoopbackPort();
  const std::string listenOn =
      listenAddress.find(':') != std::string::npos ? "[" + listenAddress + "]" : listenAddress;
  const std::string& w = work_.Path();
  // The tests run as root; nginx would otherwise switch its worker to nobody,
  // who may not read the served tree.
  std::string user = geteuid() == 0 ? "user root;\n" : "";
  const std::string tls = certificate_.empty() ? ""
                                               : " ssl;\n"
                                                 "    ssl_certificate " +
                                                     certificate_ +
                                                     ";\n"
                                                     "    ssl_certificate_key " +
                                                     key_;
  // clang-format off
  WriteFile(work_ / "nginx.conf",
            user + "daemon off;\n"
                   "worker_processes 1;\n"
                   "pid " + w + "/nginx.pid;\n"
                   "error_log " + w + "/error.log;\n"
                   "events { worker_connections 64; }\n"
                   "http {\n"
                   "  log_format withconnection '$remote_addr [$time_local] \"$request\" "
                   "$status $body_bytes_sent conn=$connection';\n"
                   "  access_log " + w + "/access.log withconnection;\n"
                   "  client_body_temp_path " + w + "/body;\n"
                   "  proxy_temp_path " + w + "/proxy;\n"
                   "  fastcgi_temp_path " + w + "/fastcgi;\n"
                   "  uwsgi_temp_path " + w + "/uwsgi;\n"
                   "  scgi_temp_path " + w + "/scgi;\n"
                   "  types { text/html html htm; image/gif gif; text/plain txt; }\n"
                   "  default_type application/octet-stream;\n"
                   "  keepalive_timeout 65;\n"
                   "  server {\n"
                   "    listen " + listenOn + ":" + std::to_string(port_) + tls + ";\n"
                   "    root " + root + ";\n"
                   "    index index.html;\n"
                   "  }\n"
                   "}\n");
  // clang-format on
  return StartListening(process_,
                        {kBinary, "-p", w, "-e", w + "/error.log", "-c", work_ / "nginx.conf"},
                        port_, problem_, listenAddress);
}

std::string NginxPeer::ErrorLog() const {
  return ReadFile(work_ / "error.log");
}
// nginx writes a request's line once it has sent the answer, so a client
// can be done before the line of its last request is there: the log is
// read until it has stayed the same for a moment (at most a few seconds).
std::string NginxPeer::AccessLog() const {
  std::string log = ReadFile(work_ / "access.log");
  for (int settled = 0, tries = 0; settled < 2 && tries < 60; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string again = ReadFile(work_ / "access.log");
    settled = again == log ? settled + 1 : 0;
    log = std::move(again);
  }
  return log;
}

int NginxPeer::ConnectionsServed() const {
  static const std::regex serial(" conn=([0-9]+)$");
  std::set<std::string> serials;
  std::istringstream log(AccessLog());
  std::smatch match;
  for (std::string line; std::getline(log, line);) {
    if (std::regex_search(line, match, serial)) serials.insert(match[1].str());
  }
  return static_cast<int>(serials.size());
}

bool TestCertificates::Make() {
  if (!Executable(kBinary)) {
    problem_ = "openssl is not installed";
    return false;
  }
  const ProgramRun run = RunProgram(
      {kBinary, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
       "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=Quorbit Test CA"},
      dir_.Path());
  if (run.exitCode != 0) {
    problem_ = "openssl could not make the CA: " + run.err;
    return false;
  }
  return Sign("server", "IP:127.0.0.1,IP:::1,DNS:localhost") &&
         Sign("stranger", "DNS:elsewhere.invalid");
}

bool TestCertificates::Sign(const std::string& name, const std::string& altNames) {
  WriteFile(dir_ / (name + ".ext"), "subjectAltName=" + altNames + "\nbasicConstraints=CA:FALSE\n");
  const ProgramRun request =
      RunProgram({kBinary, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                  "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name},
                 dir_.Path());
  const ProgramRun sign = RunProgram(
      {kBinary, "x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
       "-CAcreateserial", "-days", "2", "-extfile", name + ".ext", "-out", name + ".pem"},
      dir_.Path());
  if (request.exitCode == 0 && sign.exitCode == 0) return true;
  problem_ = "openssl could not sign " + name + ": " + request.err + sign.err;
  return false;
}

bool TinyproxyPeer::Installed() {
  return Executable(kBinary);
}

bool TinyproxyPeer::Start() {
  port_ = FreeLoopbackPort();
  // clang-format off
  WriteFile(work_ / "tinyproxy.conf",
            "Port " + std::to_string(port_) + "\n"
            "Listen 127.0.0.1\n"
            "Timeout 30\n"
            "MaxClients 16\n"
            "Allow 127.0.0.1\n"
            "LogFile \"" + work_ / "tinyproxy.log" + "\"\n"
            "LogLevel Info\n"
            "PidFile \"" + work_ / "tinyproxy.pid" + "\"\n" +
            (connectPort_ < 0 ? "" : "ConnectPort " + std::to_string(connectPort_) + "\n"));
  // clang-format on
  return StartListening(process_, {kBinary, "-d", "-c", work_ / "tinyproxy.conf"}, port_, problem_);
}

bool VsftpdPeer::Installed() {
  return Executable(kBinary);
}

bool VsftpdPeer::Start(const std::string& certificate, const std::string& key,
                       const std::string& listenAddress) {
  port_ = FreeLoopbackPort();
  const bool v6 = listenAddress.find(':') != std::string::npos;
  const std::string empty = work_ / "empty";
  mkdir(empty.c_str(), 0755);
  mkdir(Pub().c_str(), 0777);
  chmod(root_.Path().c_str(), 0755);
  chmod(Pub().c_str(), 0777);  // the umask took some bits
  // Without a certificate: plain FTP only.
  // clang-format off
  const std::string tls = certificate.empty() ? "ssl_enable=NO\n" :
                          "ssl_enable=YES\n"
                          "allow_anon_ssl=YES\n"
                          "force_anon_logins_ssl=YES\n"
                          "force_anon_data_ssl=YES\n"
                          "require_ssl_reuse=YES\n"
                          "ssl_ciphers=HIGH\n"
                          "rsa_cert_file=" + certificate + "\n"
                          "rsa_private_key_file=" + key + "\n";
  // clang-format on
  const std::string listen = v6 ? "listen=NO\nlisten_ipv6=YES\nlisten_address6=" + listenAddress
                                : "listen=YES\nlisten_address=" + listenAddress;
  // clang-format off
  WriteFile(work_ / "vsftpd.conf",
            listen + "\n"
            "listen_port=" + std::to_string(port_) + "\n"
            "background=NO\n"
            "anonymous_enable=YES\n"
            "no_anon_password=YES\n"
            "local_enable=NO\n"
            "anon_root=" + root_.Path() + "\n"
            "write_enable=YES\n"
            "anon_upload_enable=YES\n"
            "anon_mkdir_write_enable=YES\n"
            "anon_other_write_enable=YES\n"
            "anon_umask=022\n" + tls +
            "pasv_enable=YES\n"
            "pasv_address=127.0.0.1\n"
            "seccomp_sandbox=NO\n"
            "secure_chroot_dir=" + empty + "\n"
            "max_per_ip=0\n"
            "log_ftp_protocol=YES\n"
            "xferlog_enable=YES\n"
            "xferlog_std_format=NO\n"
            "vsftpd_log_file=" + (work_ / "vsftpd.log") + "\n");
  // clang-format on
  return StartListening(process_, {kBinary, work_ / "vsftpd.conf"}, port_, problem_, listenAddress);
}

std::string VsftpdPeer::Log() const {
  return ReadFile(work_ / "vsftpd.log");
}

}  // namespace quorbit
