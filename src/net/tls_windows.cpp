// TLS on Windows until the Schannel backend is in place: every handshake
// fails with a reason, so an https or FTPS assignment reports a failure and
// never sends anything in the clear.
#include "net/tls.h"

struct TlsSession {
  std::string failure = "TLS not available in this build";
};

void TlsSessionFree::operator()(TlsSession* session) const {
  delete session;
}

UniqueTlsSession NewTlsSession(SocketHandle /*socket*/, std::string_view /*host*/,
                               const TlsOptions& /*options*/, std::string& /*failure*/) {
  return UniqueTlsSession(new TlsSession);
}

TlsStep TlsHandshake(TlsSession& /*session*/) {
  return TlsStep::Failed;
}

std::string TlsFailure(const TlsSession& session, bool& certificateRefused) {
  certificateRefused = false;
  return session.failure;
}

std::string TlsDescription(const TlsSession& /*session*/) {
  return {};
}

TlsStep TlsReceive(TlsSession& /*session*/, void* /*buffer*/, int /*length*/, bool /*peek*/,
                   int& got) {
  got = 0;
  return TlsStep::Failed;
}

TlsStep TlsSend(TlsSession& /*session*/, const void* /*buffer*/, int /*length*/, int& sent) {
  sent = 0;
  return TlsStep::Failed;
}

int TlsPending(const TlsSession& /*session*/) {
  return 0;
}

void TlsClose(TlsSession& /*session*/) {}
