// The connections of HTTP fetches: opening one to a server or its proxy
// (https through a CONNECT tunnel, TLS running inside it), and keeping one
// open for the next request to the same server. A connection whose
// response was read exactly to its end, and which the server keeps open,
// serves the next request to the same server: the next hop of a redirect,
// and, through a KeptConnection, the next fetch of the same assignment.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "http/httpsession.h"
#include "net/connection.h"
#include "util/shorttext.h"

namespace quorbit {

// A connection left open by one fetch for the next fetch of the same
// assignment, and the server it talks to.
struct KeptConnection {
  TcpConnection connection;
  std::string server;  // as ServerKey gives it; empty: none kept
};

// Who a connection talks to: scheme, host (in lower case), port and proxy. A
// connection serves only requests of the same server key.
std::string ServerKey(const HttpSession& session, std::string_view host, std::uint16_t port);

// Bytes at or below 32 and at or above 127 as %XX, so that text taken from a
// URL cannot end or split a request line.
std::string EncodeRequestText(std::string_view text);

// "host:port" as a request names a server: the port only when it is not
// the scheme's default one, unless always is set.
std::string Authority(const HttpSession& session, std::string_view host, std::uint16_t port,
                      bool always);

// A new connection to the server, or to the proxy (through a tunnel for
// https), with TLS for https; the events tell how it went.
bool OpenConnection(HttpSession& session, std::string_view host, std::uint16_t port);

// Closes the connection; the server it talked to is forgotten.
void CloseConnection(HttpSession& session);

// Closes the connection and forgets that it failed: for a connection whose
// end has been accounted for, so that it is not reported as interrupted.
void DropConnection(HttpSession& session);

// Takes the connection kept from an earlier fetch when it talks to server.
void TakeKeptConnection(HttpSession& session, const std::string& server);

// After HttpGet: the open connection goes to the session's keep, or is closed.
void KeepOrClose(HttpSession& session);

// The connection can serve the next request: the answer was read to its
// end (a short unread body is read and dropped now), the server keeps it
// open, and no stop is asked for.
bool StaysOpen(HttpSession& session, const HttpResponse& response);

}  // namespace quorbit
