#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>
#include <utility>

#include "net/tls.h"

namespace quorbit {

namespace {

struct ContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

}  // namespace

struct TlsSession {
  std::shared_ptr<SSL_CTX> context;
  std::unique_ptr<SSL, SslFree> ssl;
  SocketHandle socket = kNoSocket;
  std::string failure;  // of the last failed step
  bool verify = true;
  bool closeSent = false;  // our close_notify has gone to the socket
};

namespace {

// The socket's bytes go through the socket layer rather than OpenSSL's own
// socket code, so that a send to a peer that has gone raises no signal and
// "not yet" is told apart from an error the same way as everywhere else.
SocketHandle SocketOf(BIO* bio) {
  return static_cast<const TlsSession*>(BIO_get_data(bio))->socket;
}

int BioWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  const int sent = SendSocket(SocketOf(bio), data, length, 0);
  if (sent < 0 && SocketWouldBlock()) BIO_set_retry_write(bio);
  return sent;
}

int BioRead(BIO* bio, char* buffer, int length) {
  BIO_clear_retry_flags(bio);
  const int got = ReceiveSocket(SocketOf(bio), buffer, length, kReceiveNoWait);
  if (got < 0 && SocketWouldBlock()) BIO_set_retry_read(bio);
  return got;
}

long BioControl(BIO* /*bio*/, int command, long /*number*/, void* /*pointer*/) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* SocketLayerMethod() {
  static BIO_METHOD* method = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quorbit socket");
    BIO_meth_set_write(method, BioWrite);
    BIO_meth_set_read(method, BioRead);
    BIO_meth_set_ctrl(method, BioControl);
    BIO_meth_set_create(method, BioCreate);
  });
  return method;
}

// The first error OpenSSL queued, as text; the queue is left empty.
std::string QueuedError() {
  const unsigned long error = ERR_get_error();
  ERR_clear_error();
  if (error == 0) return {};
  const char* reason = ERR_reason_error_string(error);
  if (reason != nullptr) return reason;
  char text[256];
  ERR_error_string_n(error, text, sizeof text);
  return text;
}

}  // namespace

void TlsSessionFree::operator()(TlsSession* session) const {
  delete session;
}

namespace {

// Settings a session takes over from its context when it is made. The
// system's trusted certificates are looked up by subject in its hashed
// directory as a chain needs them, rather than the whole bundle parsed for
// every context: that costs time and memory.
bool ConfigureContext(SSL_CTX* context, const TlsOptions& options) {
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_verify(context, options.verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  if (!options.verify) return true;
  if (SSL_CTX_set_default_verify_dir(context) != 1) return false;
  return options.caFile.empty() ||
         SSL_CTX_load_verify_locations(context, options.caFile.c_str(), nullptr) == 1;
}

// One context per set of options for the whole run: its trusted
// certificates are loaded once, and sessions made from it can be resumed.
std::shared_ptr<SSL_CTX> SharedContext(const TlsOptions& options) {
  static std::mutex lock;
  static std::map<std::pair<bool, std::string>, std::shared_ptr<SSL_CTX>> contexts;
  const std::lock_guard<std::mutex> guard(lock);
  std::shared_ptr<SSL_CTX>& context = contexts[{options.verify, options.caFile}];
  if (context) return context;
  std::shared_ptr<SSL_CTX> made(SSL_CTX_new(TLS_client_method()), ContextFree());
  if (made && ConfigureContext(made.get(), options)) context = made;
  return made && context ? context : nullptr;
}

// The certificate must name the host asked for: an address as an address, a
// name as a name. A name also goes out as the server name; an address is none.
bool ConfigureHost(SSL* ssl, std::string_view host) {
  const std::string bare(WithoutBrackets(host));
  if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), bare.c_str()) == 1) return true;
  return SSL_set1_host(ssl, bare.c_str()) == 1 && SSL_set_tlsext_host_name(ssl, bare.c_str()) == 1;
}

// A step's outcome; a failed one leaves its reason in the session.
TlsStep StepResult(TlsSession& session, int result) {
  if (result > 0) return TlsStep::Done;
  switch (SSL_get_error(session.ssl.get(), result)) {
    case SSL_ERROR_WANT_READ:
      return TlsStep::WantRead;
    case SSL_ERROR_WANT_WRITE:
      return TlsStep::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
      return TlsStep::Closed;
    default:
      break;
  }
  // An end of the connection without the peer saying so could cut a body
  // short unnoticed: it is a failure, not a close.
  session.failure = QueuedError();
  if (session.failure.empty()) session.failure = "connection closed by peer";
  return TlsStep::Failed;
}

// Offers the other session's TLS session for resumption; a server that does
// not resume it makes a full handshake of it.
bool OfferResumption(SSL* ssl, const TlsSession* from) {
  if (from == nullptr) return true;
  SSL_SESSION* resumable = SSL_get1_session(from->ssl.get());
  if (resumable == nullptr) return true;
  const int offered = SSL_set_session(ssl, resumable);
  SSL_SESSION_free(resumable);
  return offered == 1;
}

}  // namespace

UniqueTlsSession NewTlsSession(SocketHandle socket, std::string_view host,
                               const TlsOptions& options, std::string& failure) {
  UniqueTlsSession session(new TlsSession);
  session->verify = options.verify;
  ERR_clear_error();
  session->context = SharedContext(options);
  if (session->context) session->ssl.reset(SSL_new(session->context.get()));
  if (session->ssl && !OfferResumption(session->ssl.get(), options.resumeFrom)) {
    session->ssl.reset();
  }
  BIO* bio = session->ssl ? BIO_new(SocketLayerMethod()) : nullptr;
  if (bio == nullptr || !ConfigureHost(session->ssl.get(), host)) {
    BIO_free(bio);
    failure = QueuedError();
    if (failure.empty()) failure = "unable to set up TLS";
    return nullptr;
  }
  session->socket = socket;
  BIO_set_data(bio, session.get());
  SSL_set_bio(session->ssl.get(), bio, bio);
  return session;
}

TlsStep TlsHandshake(TlsSession& session) {
  ERR_clear_error();
  return StepResult(session, SSL_connect(session.ssl.get()));
}

std::string TlsFailure(const TlsSession& session, bool& certificateRefused) {
  const long verdict = SSL_get_verify_result(session.ssl.get());
  certificateRefused = session.verify && verdict != X509_V_OK;
  if (certificateRefused) return X509_verify_cert_error_string(verdict);
  return session.failure;
}

std::string TlsDescription(const TlsSession& session) {
  return std::string(SSL_get_version(session.ssl.get())) + " " +
         SSL_get_cipher_name(session.ssl.get());
}

TlsStep TlsReceive(TlsSession& session, void* buffer, int length, bool peek, int& got) {
  ERR_clear_error();
  const int result = peek ? SSL_peek(session.ssl.get(), buffer, length)
                          : SSL_read(session.ssl.get(), buffer, length);
  got = result > 0 ? result : 0;
  return StepResult(session, result);
}

TlsStep TlsSend(TlsSession& session, const void* buffer, int length, int& sent) {
  ERR_clear_error();
  const int result = SSL_write(session.ssl.get(), buffer, length);
  sent = result > 0 ? result : 0;
  return StepResult(session, result);
}

int TlsPending(const TlsSession& session) {
  return SSL_pending(session.ssl.get());
}

// SSL_shutdown is called once more only while its close_notify waits for
// room: called after it has gone, it would read on for the peer's answer.
TlsStep TlsClose(TlsSession& session) {
  if (session.closeSent || !SSL_is_init_finished(session.ssl.get())) return TlsStep::Done;
  ERR_clear_error();
  const int result = SSL_shutdown(session.ssl.get());
  const TlsStep step = result >= 0 ? TlsStep::Done : StepResult(session, result);
  ERR_clear_error();
  if (step == TlsStep::WantWrite) return step;
  session.closeSent = true;
  return step == TlsStep::Done ? step : TlsStep::Failed;
}

}  // namespace quorbit
