#include "http/connectionpool.h"

#include "http/bodyframing.h"
#include "http/headreader.h"
#include "http/urlkey.h"
#include "http/weburl.h"
#include "util/stoprequest.h"

namespace quorbit {

namespace {

// The proxy is "host:port" or "[IPv6 address]:port"; without a port, or with
// one that is no port number, it is asked on port 0, which fails to connect.
bool ConnectSession(HttpSession& session, std::string_view host, std::uint16_t port) {
  if (session.proxy.empty()) return session.connection.Connect(host, port);
  WebUrl proxy;
  if (!ParseAuthority(session.proxy, proxy)) proxy = WebUrl{session.proxy, 0, ""};
  return session.connection.Connect(proxy.host, proxy.port);
}

// The proxy's answer to CONNECT: its head, up to the empty line.
ResponseHead ReadTunnelAnswer(HttpSession& session) {
  HeaderBudget budget{HeaderDeadline(session)};
  std::string text;
  const bool whole = CollectHead(session.connection, budget, text);
  ResponseHead head = ParseResponseHead(text);
  if (!whole) head.response.status = 0;
  return head;
}

// Asks the proxy, already connected, for a tunnel to the server; true when
// it answered with a 2xx status. Otherwise tlsFailure says why.
bool OpenTunnel(HttpSession& session, std::string_view host, std::uint16_t port) {
  TcpConnection& connection = session.connection;
  const std::string authority = Authority(session, host, port, true);
  connection.SendLines({"CONNECT " + authority + " HTTP/1.1", "Host: " + authority, ""});
  const ResponseHead answer = ReadTunnelAnswer(session);
  if (answer.response.status / 100 == 2) return true;
  const std::string said = answer.statusLine.empty() ? "no answer" : answer.statusLine;
  session.tlsFailure = "Proxy refused tunnel to " + authority + ": " + said;
  return false;
}

// TLS with the server, inside a tunnel through the proxy when there is one.
bool StartSecureChannel(HttpSession& session, std::string_view host, std::uint16_t port) {
  if (!session.proxy.empty() && !OpenTunnel(session, host, port)) return false;
  return session.connection.StartTls(host, session.tls, session.tlsFailure);
}

// The server lets the connection serve another request: HTTP/1.1 unless it
// says "close", HTTP/1.0 only when it says "keep-alive".
bool ServerKeepsOpen(std::string_view statusLine, const HttpResponse& response) {
  if (response.connectionClose) return false;
  return statusLine.starts_with("HTTP/1.1") ||
         (statusLine.starts_with("HTTP/1.0") && response.connectionKeepAlive);
}

}  // namespace

std::string ServerKey(const HttpSession& session, std::string_view host, std::uint16_t port) {
  return UrlKey({std::string(host), port, "", session.secure}) + " " + session.proxy;
}

std::string EncodeRequestText(std::string_view text) {
  std::string encoded;
  for (char c : text) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte <= 32 || byte >= 127) {
      encoded += '%';
      encoded += HexByte(byte);
    } else {
      encoded += c;
    }
  }
  return encoded;
}

std::string Authority(const HttpSession& session, std::string_view host, std::uint16_t port,
                      bool always) {
  std::string authority = EncodeRequestText(host);
  if (always || port != DefaultPort(session.secure)) authority += ":" + std::to_string(port);
  return authority;
}

bool OpenConnection(HttpSession& session, std::string_view host, std::uint16_t port) {
  CloseConnection(session);
  session.StatusEvent(HttpStatusEvent::Connecting);
  if (!ConnectSession(session, host, port)) {
    session.StatusEvent(HttpStatusEvent::ConnectFailed);
    return false;
  }
  if (session.secure && !StartSecureChannel(session, host, port)) {
    session.connection.Close();
    session.StatusEvent(HttpStatusEvent::TlsFailed);
    return false;
  }
  session.openServer = ServerKey(session, host, port);
  session.StatusEvent(HttpStatusEvent::Connected);
  return true;
}

void CloseConnection(HttpSession& session) {
  session.connection.Close();
  session.openServer.clear();
}

void DropConnection(HttpSession& session) {
  CloseConnection(session);
  session.connection.ResetState();
}

void TakeKeptConnection(HttpSession& session, const std::string& server) {
  KeptConnection* keep = session.keep;
  if (!session.openServer.empty() || keep == nullptr || keep->server != server) return;
  session.connection.TakeOver(keep->connection);
  session.openServer = server;
  keep->server.clear();
}

void KeepOrClose(HttpSession& session) {
  if (session.keep == nullptr || session.openServer.empty()) {
    CloseConnection(session);
    return;
  }
  session.keep->connection.TakeOver(session.connection);
  session.keep->server = session.openServer;
  session.openServer.clear();
}

bool StaysOpen(HttpSession& session, const HttpResponse& response) {
  if (session.openServer.empty() || session.connection.Failed() || StopRequested() ||
      !ServerKeepsOpen(session.statusLine, response)) {
    return false;
  }
  if (session.responseRead == ResponseRead::Header) {
    const bool skipped = SkipShortBody(session.connection, session.bodyIdleSeconds, response);
    session.responseRead = skipped ? ResponseRead::Whole : ResponseRead::Partly;
  }
  return session.responseRead == ResponseRead::Whole && !session.connection.Failed();
}

}  // namespace quorbit
