// Fetches /index.html over TLS from a server on 127.0.0.1 through
// TcpConnection, as the program's own https fetches do, and prints what came
// of it: the failure line the program would log, or "OK", the status line and
// the first line of the body. Built for each platform, so that one test
// table checks every TLS backend (the Windows one under wine).
//
//   tls_probe <port> <host name for TLS> <CA file or -> <verify: yes|no>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/connection.h"

namespace quorbit {

namespace {

// The next line, waiting for it; empty when none comes.
std::string NextLine(TcpConnection& connection) {
  std::string line;
  while (connection.WaitReadable(10)) {
    if (connection.ReadLine(line)) return line;
  }
  return {};
}

}  // namespace

}  // namespace quorbit

using namespace quorbit;

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: tls_probe port host cafile|- yes|no\n");
    return 2;
  }
  SocketStartup();
  const std::string host = argv[2];
  TlsOptions options;
  options.caFile = std::string(argv[3]) == "-" ? "" : argv[3];
  options.verify = std::string(argv[4]) == "yes";
  TcpConnection connection;
  if (!connection.Connect("127.0.0.1", static_cast<std::uint16_t>(std::atoi(argv[1])))) {
    std::printf("no connection\n");
    return 1;
  }
  std::string failure;
  if (!connection.StartTls(host, options, failure)) {
    std::printf("%s\n", failure.c_str());
    return 0;
  }
  connection.SendLine("GET /index.html HTTP/1.0");
  connection.SendLine("Host: " + host);
  connection.SendLine("");
  std::string status = NextLine(connection);
  std::string line = status;
  while (!line.empty()) line = NextLine(connection);  // the header
  const std::string body = NextLine(connection);
  connection.Close();
  std::printf("OK\n%s\n%s\n", status.c_str(), body.c_str());
  return 0;
}
