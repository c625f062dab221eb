#include "peers/webpeers.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

bool Executable(const char* path) {
  return access(path, X_OK) == 0;
}

bool CanConnect(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// Starts argv and waits for its port; sets problem when either fails.
bool StartListening(PeerProcess& process, const std::vector<std::string>& argv, int port,
                    std::string& problem) {
  if (port == 0) {
    problem = "no free loopback port";
  } else if (!process.Start(argv)) {
    problem = "could not start " + argv[0];
  } else if (!WaitForListener(port)) {
    problem = argv[0] + " did not listen on port " + std::to_string(port);
  } else {
    return true;
  }
  process.Stop();
  return false;
}

}  // namespace

bool WaitForListener(int port, int timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (CanConnect(port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

bool NginxPeer::Installed() {
  return Executable(kBinary);
}

bool NginxPeer::Start(const std::string& root) {
  port_ = FreeLoopbackPort();
  const std::string& w = work_.Path();
  // The tests run as root; nginx would otherwise switch its worker to nobody,
  // who may not read the served tree.
  std::string user = geteuid() == 0 ? "user root;\n" : "";
  // clang-format off
  WriteFile(work_ / "nginx.conf",
            user + "daemon off;\n"
                   "worker_processes 1;\n"
                   "pid " + w + "/nginx.pid;\n"
                   "error_log " + w + "/error.log;\n"
                   "events { worker_connections 64; }\n"
                   "http {\n"
                   "  access_log " + w + "/access.log;\n"
                   "  client_body_temp_path " + w + "/body;\n"
                   "  proxy_temp_path " + w + "/proxy;\n"
                   "  fastcgi_temp_path " + w + "/fastcgi;\n"
                   "  uwsgi_temp_path " + w + "/uwsgi;\n"
                   "  scgi_temp_path " + w + "/scgi;\n"
                   "  types { text/html html htm; image/gif gif; text/plain txt; }\n"
                   "  default_type application/octet-stream;\n"
                   "  keepalive_timeout 65;\n"
                   "  server {\n"
                   "    listen 127.0.0.1:" + std::to_string(port_) + ";\n"
                   "    root " + root + ";\n"
                   "    index index.html;\n"
                   "  }\n"
                   "}\n");
  // clang-format on
  return StartListening(process_,
                        {kBinary, "-p", w, "-e", w + "/error.log", "-c", work_ / "nginx.conf"},
                        port_, problem_);
}

std::string NginxPeer::ErrorLog() const {
  return ReadFile(work_ / "error.log");
}
std::string NginxPeer::AccessLog() const {
  return ReadFile(work_ / "access.log");
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
            "PidFile \"" + work_ / "tinyproxy.pid" + "\"\n");
  // clang-format on
  return StartListening(process_, {kBinary, "-d", "-c", work_ / "tinyproxy.conf"}, port_, problem_);
}
