// The TLS layer under TcpConnection: one client session over a connected,
// non-blocking socket. Each call does what it can without blocking and says
// what it waits for (TlsStep), so that the connection's own bounded waits,
// which notice a stop, do the waiting. tls_openssl.cpp implements it over
// OpenSSL; another backend implements the same functions beside it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "net/sockets.h"

namespace quorbit {

struct TlsSession;  // the backend's

struct TlsOptions {
  // Certificate chain and host name (or IP address) checked against the
  // trusted certificates; false accepts any certificate.
  bool verify = true;
  // A PEM file of certificates trusted beside the system's; empty: none.
  std::string caFile;
  // An established session on another connection to the same server whose
  // TLS session the new one offers to resume (an FTP data channel resumes
  // its control channel's, as servers demand); null: a full handshake. It
  // must outlive the call of NewTlsSession only. A backend takes the session
  // as it stands at that call, so that tickets the server sent after the
  // handshake (TLS 1.3) are included.
  const TlsSession* resumeFrom = nullptr;
};

// What a call achieved: done, or what it needs before it can go on.
enum class TlsStep { Done, WantRead, WantWrite, Closed, Failed };

struct TlsSessionFree {
  void operator()(TlsSession* session) const;
};
using UniqueTlsSession = std::unique_ptr<TlsSession, TlsSessionFree>;

// A session over the socket for host (a name, a dotted or an IPv6 address,
// in brackets or not); empty, with the reason in failure, when the trusted
// certificates cannot be loaded.
UniqueTlsSession NewTlsSession(SocketHandle socket, std::string_view host,
                               const TlsOptions& options, std::string& failure);
// One step of the handshake.
TlsStep TlsHandshake(TlsSession& session);
// The reason of a failed handshake; certificateRefused tells that the peer's
// certificate was not trusted (rather than the handshake itself failing).
std::string TlsFailure(const TlsSession& session, bool& certificateRefused);
// Protocol version and cipher of the established session ("TLSv1.3
// TLS_AES_256_GCM_SHA384").
std::string TlsDescription(const TlsSession& session);
// Up to length bytes of received data into buffer (left in the session with
// peek); got is the count when Done.
TlsStep TlsReceive(TlsSession& session, void* buffer, int length, bool peek, int& got);
// Up to length bytes sent; sent is the count taken when Done. After WantWrite
// the same bytes must be offered again.
TlsStep TlsSend(TlsSession& session, const void* buffer, int length, int& sent);
// Received bytes already decrypted and waiting to be read.
int TlsPending(const TlsSession& session);
// Tells the peer the session ends (its close_notify), without waiting for
// the peer's answer: Done once it has gone to the socket (or when there is
// no session to end), WantWrite when the socket had no room and the call must
// be made again, Failed when it cannot be sent. A later call does nothing more.
TlsStep TlsClose(TlsSession& session);

}  // namespace quorbit
