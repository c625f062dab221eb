// The TLS session over Schannel (SSPI): the handshake tokens, records and
// alerts travel through the socket layer like every other byte, so that the
// connection's bounded waits do all the waiting. Schannel is told to leave
// the certificate alone; the certificate check (certificatecheck_windows)
// judges the chain and the host instead.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "net/certificatecheck_windows.h"
#include "net/tls.h"

namespace quorbit {

namespace {

// One credentials handle for the whole process: Schannel keeps its session
// cache per credentials and target name, so connections to the same server
// (an FTP data channel beside its control channel) can resume a session.
struct Credentials {
  CredHandle handle = {};
  SECURITY_STATUS status = SEC_E_INTERNAL_ERROR;
  ~Credentials() {
    if (status == SEC_E_OK) FreeCredentialsHandle(&handle);
  }
};

constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
constexpr DWORD kOldProtocols =
    SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;

SECURITY_STATUS Acquire(void* data, CredHandle& handle) {
  TimeStamp expiry;
  return AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                   SECPKG_CRED_OUTBOUND, nullptr, data, nullptr, nullptr, &handle,
                                   &expiry);
}

// TLS 1.2 and 1.3 where the system describes credentials the new way; TLS 1.2
// alone where it knows only the old one.
const Credentials& ProcessCredentials() {
  static Credentials credentials;
  static std::once_flag once;
  std::call_once(once, [] {
    TLS_PARAMETERS parameters = {};
    parameters.grbitDisabledProtocols = kOldProtocols;
    SCH_CREDENTIALS current = {};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = kCredentialFlags;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    credentials.status = Acquire(&current, credentials.handle);
    if (credentials.status == SEC_E_OK) return;
    SCHANNEL_CRED old = {};
    old.dwVersion = SCHANNEL_CRED_VERSION;
    old.dwFlags = kCredentialFlags;
    old.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    credentials.status = Acquire(&old, credentials.handle);
  });
  return credentials;
}

constexpr int kReadChunk = 16 * 1024 + 512;  // a whole record with its overhead
constexpr ULONG kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                  ISC_REQ_STREAM | ISC_REQ_USE_SUPPLIED_CREDS;

}  // namespace

struct TlsSession {
  ~TlsSession() {
    if (hasContext) DeleteSecurityContext(&context);
  }

  SocketHandle socket = kNoSocket;
  CtxtHandle context = {};
  bool hasContext = false;
  std::string host;     // without brackets
  std::wstring target;  // the same, as Schannel takes it
  bool verify = true;
  UniqueStore caStore;           // the CA file's certificates; none without one
  bool contextComplete = false;  // the last handshake token made, maybe not yet sent
  bool established = false;
  bool renegotiating = false;     // post-handshake messages partly handed over
  bool certificateAsked = false;  // the server asked for a client certificate
  bool peerClosed = false;        // the peer said the session ends
  bool closing = false;           // our close_notify is queued (maybe not yet sent)
  bool broken = false;            // a failure; what was decrypted before stays readable
  std::string failure;
  bool certificateRefused = false;
  SecPkgContext_StreamSizes sizes = {};
  std::vector<char> received;  // bytes from the socket not yet taken by Schannel
  std::vector<char> plain;     // decrypted bytes not yet read
  std::size_t plainStart = 0;
  std::vector<char> outgoing;  // tokens and records still to be sent
  std::size_t outgoingSent = 0;
  int recordPlainBytes = 0;  // the caller's bytes in the queued record, not yet reported taken
};

void TlsSessionFree::operator()(TlsSession* session) const {
  delete session;
}

namespace {

std::wstring Widened(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return wide;
}

std::string Narrowed(const wchar_t* text) {
  std::string narrow;
  for (; *text != 0; ++text) narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
  return narrow;
}

std::string StatusText(SECURITY_STATUS status) {
  switch (status) {
    case SEC_E_INVALID_TOKEN:
      return "the server's answer is no TLS";
    case SEC_E_ILLEGAL_MESSAGE:
      return "the server sent an alert or an unexpected message";
    case SEC_E_ALGORITHM_MISMATCH:
      return "no protocol version or cipher in common";
    case SEC_E_UNSUPPORTED_FUNCTION:
      return "protocol version not supported";
    case SEC_E_MESSAGE_ALTERED:
    case SEC_E_DECRYPT_FAILURE:
      return "a record failed its integrity check";
    case SEC_E_CONTEXT_EXPIRED:
      return "the session has ended";
    default:
      break;
  }
  char text[48];
  std::snprintf(text, sizeof text, "Schannel error 0x%08lX", static_cast<unsigned long>(status));
  return text;
}

TlsStep Fail(TlsSession& session, std::string reason) {
  session.broken = true;
  if (session.failure.empty()) session.failure = std::move(reason);
  return TlsStep::Failed;
}

// Sends what is queued, as far as the socket takes it.
TlsStep Flush(TlsSession& session) {
  while (session.outgoingSent < session.outgoing.size()) {
    const int length = static_cast<int>(session.outgoing.size() - session.outgoingSent);
    const int sent =
        SendSocket(session.socket, session.outgoing.data() + session.outgoingSent, length, 0);
    if (sent < 0) {
      return SocketWouldBlock() ? TlsStep::WantWrite : Fail(session, "connection closed by peer");
    }
    session.outgoingSent += static_cast<std::size_t>(sent);
  }
  session.outgoing.clear();
  session.outgoingSent = 0;
  return TlsStep::Done;
}

void Queue(TlsSession& session, const void* data, std::size_t length) {
  const char* bytes = static_cast<const char*>(data);
  session.outgoing.insert(session.outgoing.end(), bytes, bytes + length);
}

// Appends what the socket has to the received bytes. An end of the
// connection without the peer saying so could cut a body short unnoticed:
// it is a failure, not a close.
TlsStep ReadMore(TlsSession& session) {
  const std::size_t held = session.received.size();
  session.received.resize(held + kReadChunk);
  const int got =
      ReceiveSocket(session.socket, session.received.data() + held, kReadChunk, kReceiveNoWait);
  session.received.resize(held + static_cast<std::size_t>(std::max(got, 0)));
  if (got > 0) return TlsStep::Done;
  if (got < 0 && SocketWouldBlock()) return TlsStep::WantRead;
  return Fail(session, "connection closed by peer");
}

// Keeps only the received bytes Schannel did not take: the last ones, as many
// as the extra buffer counts (none when it is no extra buffer).
void KeepExtra(TlsSession& session, const SecBuffer& extra) {
  if (extra.BufferType != SECBUFFER_EXTRA || extra.cbBuffer == 0) {
    session.received.clear();
    return;
  }
  const std::size_t kept = std::min<std::size_t>(extra.cbBuffer, session.received.size());
  session.received.erase(session.received.begin(),
                         session.received.end() - static_cast<std::ptrdiff_t>(kept));
}

// One call of InitializeSecurityContext over the received bytes (none for the
// first); its token is queued for sending.
SECURITY_STATUS Initialize(TlsSession& session, bool withInput) {
  SecBuffer in[2] = {};
  in[0].BufferType = SECBUFFER_TOKEN;
  in[0].pvBuffer = session.received.data();
  in[0].cbBuffer = static_cast<unsigned long>(session.received.size());
  in[1].BufferType = SECBUFFER_EMPTY;
  SecBufferDesc input = {SECBUFFER_VERSION, 2, in};
  SecBuffer out[1] = {};
  out[0].BufferType = SECBUFFER_TOKEN;
  SecBufferDesc output = {SECBUFFER_VERSION, 1, out};
  ULONG attributes = 0;
  TimeStamp expiry;
  CredHandle credentials = ProcessCredentials().handle;
  const SECURITY_STATUS status = InitializeSecurityContextW(
      &credentials, session.hasContext ? &session.context : nullptr,
      session.target.empty() ? nullptr : session.target.data(), kContextRequest, 0, 0,
      withInput ? &input : nullptr, 0, &session.context, &output, &attributes, &expiry);
  if (!session.hasContext && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) {
    session.hasContext = true;
  }
  if (out[0].pvBuffer != nullptr) {
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ||
        (FAILED(status) && status != SEC_E_INCOMPLETE_MESSAGE)) {
      // A failing handshake may still have an alert for the peer.
      Queue(session, out[0].pvBuffer, out[0].cbBuffer);
    }
    FreeContextBuffer(out[0].pvBuffer);
  }
  // Bytes Schannel could not use yet are offered again.
  if (withInput && status != SEC_E_INCOMPLETE_MESSAGE && status != SEC_I_INCOMPLETE_CREDENTIALS) {
    KeepExtra(session, in[1]);
  }
  return status;
}

// Asks the certificate check about the peer's certificate; the result is
// left in the session.
bool CertificateAccepted(TlsSession& session) {
  session.certificateRefused = true;
  const CERT_CONTEXT* remote = nullptr;
  if (QueryContextAttributesW(&session.context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) !=
          SEC_E_OK ||
      remote == nullptr) {
    session.failure = "no certificate from the server";
    return false;
  }
  const UniqueCertificate certificate(remote);
  session.failure = CertificateRefusal(
      *certificate, ExpectedPeer{session.host, session.target, session.caStore.get()});
  session.certificateRefused = !session.failure.empty();
  return !session.certificateRefused;
}

// The handshake is through: the record sizes, then the certificate.
TlsStep Established(TlsSession& session) {
  const SECURITY_STATUS status =
      QueryContextAttributesW(&session.context, SECPKG_ATTR_STREAM_SIZES, &session.sizes);
  if (status != SEC_E_OK) return Fail(session, StatusText(status));
  if (session.verify && !CertificateAccepted(session)) {
    session.broken = true;
    return TlsStep::Failed;
  }
  session.established = true;
  return TlsStep::Done;
}

// ---- records ----

// Hands the post-handshake messages the peer sent (session tickets, key
// updates) to Schannel, which may need more of them first; its answer, if
// any, is sent as far as the socket takes it now, the rest before the next
// record. True when nothing more can be done before more bytes arrive.
bool Renegotiate(TlsSession& session) {
  const SECURITY_STATUS status = Initialize(session, true);
  if (status == SEC_E_INCOMPLETE_MESSAGE) {
    session.renegotiating = true;
    return true;
  }
  if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
    Fail(session, StatusText(status));
    return true;
  }
  session.renegotiating = status == SEC_I_CONTINUE_NEEDED;
  Flush(session);
  return false;
}

// The content type of a TLS record that carries an alert.
constexpr char kAlertRecord = 0x15;

// Decrypts every whole record held, so that what is pending is all there is
// to read without waiting on the socket.
void DecryptReceived(TlsSession& session) {
  while (!session.received.empty() && !session.peerClosed && !session.broken) {
    // A step that takes no byte waits for more rather than going round again.
    const std::size_t held = session.received.size();
    if (session.renegotiating) {
      if (Renegotiate(session) || session.received.size() == held) return;
      continue;
    }
    SecBuffer buffers[4] = {};
    buffers[0].BufferType = SECBUFFER_DATA;
    buffers[0].pvBuffer = session.received.data();
    buffers[0].cbBuffer = static_cast<unsigned long>(session.received.size());
    for (int i = 1; i < 4; ++i) buffers[i].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc message = {SECBUFFER_VERSION, 4, buffers};
    const bool alertRecord = session.received[0] == kAlertRecord;
    const SECURITY_STATUS status = DecryptMessage(&session.context, &message, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
      Fail(session, StatusText(status));
      return;
    }
    const SecBuffer* extra = nullptr;
    if (session.plainStart == session.plain.size()) {
      session.plain.clear();
      session.plainStart = 0;
    }
    const std::size_t plainBefore = session.plain.size();
    // The decrypted bytes lie inside the received ones: copy them out before
    // the extra bytes are moved to the front.
    for (const SecBuffer& buffer : buffers) {
      if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
        const char* data = static_cast<const char*>(buffer.pvBuffer);
        session.plain.insert(session.plain.end(), data, data + buffer.cbBuffer);
      } else if (buffer.BufferType == SECBUFFER_EXTRA) {
        extra = &buffer;
      }
    }
    if (extra != nullptr) {
      KeepExtra(session, *extra);
    } else {
      session.received.clear();
    }
    // Some Schannels (wine's) give the peer's close_notify as an empty
    // record rather than as the end of the context: an alert record that
    // yields no data is that end too.
    const bool emptyAlert = alertRecord && session.plain.size() == plainBefore;
    if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && emptyAlert)) {
      session.peerClosed = true;
    }
    if (status == SEC_I_RENEGOTIATE && Renegotiate(session)) return;
    if (session.received.size() == held) return;
  }
}

}  // namespace

UniqueTlsSession NewTlsSession(SocketHandle socket, std::string_view host,
                               const TlsOptions& options, std::string& failure) {
  const Credentials& credentials = ProcessCredentials();
  if (credentials.status != SEC_E_OK) {
    failure = "unable to set up TLS: " + StatusText(credentials.status);
    return nullptr;
  }
  UniqueTlsSession session(new TlsSession);
  session->socket = socket;
  session->host = std::string(WithoutBrackets(host));
  session->target = Widened(session->host);
  session->verify = options.verify;
  if (options.verify && !options.caFile.empty()) {
    session->caStore = LoadCaFile(options.caFile, failure);
    if (!session->caStore) return nullptr;
  }
  return session;
}

TlsStep TlsHandshake(TlsSession& session) {
  if (session.established) return TlsStep::Done;
  if (session.broken) return TlsStep::Failed;
  for (;;) {
    const TlsStep flushed = Flush(session);
    if (flushed != TlsStep::Done) return flushed;
    if (session.contextComplete) return Established(session);
    SECURITY_STATUS status;
    if (!session.hasContext) {
      status = Initialize(session, false);
    } else {
      if (session.received.empty()) {
        const TlsStep read = ReadMore(session);
        if (read != TlsStep::Done) return read;
      }
      const std::size_t held = session.received.size();
      status = Initialize(session, true);
      // A step that takes no byte and has nothing to say waits for more.
      if (status == SEC_I_CONTINUE_NEEDED && session.received.size() == held &&
          session.outgoing.empty()) {
        status = SEC_E_INCOMPLETE_MESSAGE;
      }
    }
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      const TlsStep read = ReadMore(session);
      if (read != TlsStep::Done) return read;
      continue;
    }
    // The last token may still be on its way: the loop sends it first.
    if (status == SEC_E_OK) {
      session.contextComplete = true;
      continue;
    }
    if (status == SEC_I_CONTINUE_NEEDED) continue;
    // A server asking for a client certificate gets none: the same bytes
    // again go on without one, once.
    if (status == SEC_I_INCOMPLETE_CREDENTIALS && !session.certificateAsked) {
      session.certificateAsked = true;
      continue;
    }
    // The alert Schannel may have made for the peer goes out if it can.
    Fail(session, StatusText(status));
    Flush(session);
    return TlsStep::Failed;
  }
}

std::string TlsFailure(const TlsSession& session, bool& certificateRefused) {
  certificateRefused = session.certificateRefused;
  return session.failure;
}

std::string TlsDescription(const TlsSession& session) {
  CtxtHandle context = session.context;
  SecPkgContext_ConnectionInfo connection = {};
  std::string text = "TLS";
  if (QueryContextAttributesW(&context, SECPKG_ATTR_CONNECTION_INFO, &connection) == SEC_E_OK) {
    const DWORD protocol = connection.dwProtocol;
    text = (protocol & SP_PROT_TLS1_3_CLIENT) != 0   ? "TLSv1.3"
           : (protocol & SP_PROT_TLS1_2_CLIENT) != 0 ? "TLSv1.2"
           : (protocol & SP_PROT_TLS1_1_CLIENT) != 0 ? "TLSv1.1"
                                                     : "TLSv1";
  }
  SecPkgContext_CipherInfo cipher = {};
  cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
  if (QueryContextAttributesW(&context, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK &&
      cipher.szCipherSuite[0] != 0) {
    return text + " " + Narrowed(cipher.szCipherSuite);
  }
  char rest[64];
  std::snprintf(rest, sizeof rest, " cipher 0x%X/%lu bits, hash 0x%X, exchange 0x%X",
                connection.aiCipher, static_cast<unsigned long>(connection.dwCipherStrength),
                connection.aiHash, connection.aiExch);
  return text + rest;
}

TlsStep TlsReceive(TlsSession& session, void* buffer, int length, bool peek, int& got) {
  got = 0;
  // An answer to the peer's post-handshake messages that did not fit before.
  Flush(session);
  for (;;) {
    DecryptReceived(session);
    const std::size_t available = session.plain.size() - session.plainStart;
    if (available > 0) {
      got = static_cast<int>(std::min<std::size_t>(available, static_cast<std::size_t>(length)));
      std::memcpy(buffer, session.plain.data() + session.plainStart, static_cast<std::size_t>(got));
      if (!peek) session.plainStart += static_cast<std::size_t>(got);
      return TlsStep::Done;
    }
    if (session.broken) return TlsStep::Failed;
    if (session.peerClosed) return TlsStep::Closed;
    const TlsStep read = ReadMore(session);
    if (read != TlsStep::Done) return read;
  }
}

TlsStep TlsSend(TlsSession& session, const void* buffer, int length, int& sent) {
  sent = 0;
  if (session.broken) return TlsStep::Failed;
  if (session.recordPlainBytes == 0 && length > 0) {
    const SecPkgContext_StreamSizes& sizes = session.sizes;
    const unsigned long taken =
        std::min(static_cast<unsigned long>(length), sizes.cbMaximumMessage);
    std::vector<char> record(sizes.cbHeader + taken + sizes.cbTrailer);
    std::memcpy(record.data() + sizes.cbHeader, buffer, taken);
    SecBuffer buffers[4] = {};
    buffers[0] = {sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
    buffers[1] = {taken, SECBUFFER_DATA, record.data() + sizes.cbHeader};
    buffers[2] = {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER,
                  record.data() + sizes.cbHeader + taken};
    buffers[3].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc message = {SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = EncryptMessage(&session.context, 0, &message, 0);
    if (status != SEC_E_OK) return Fail(session, StatusText(status));
    Queue(session, record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    session.recordPlainBytes = static_cast<int>(taken);
  }
  // After WantWrite the caller offers the same bytes again: the record made
  // of them is already queued and is not made twice.
  const TlsStep step = Flush(session);
  if (step != TlsStep::Done) return step;
  sent = session.recordPlainBytes;
  session.recordPlainBytes = 0;
  return TlsStep::Done;
}

int TlsPending(const TlsSession& session) {
  return static_cast<int>(session.plain.size() - session.plainStart);
}

// The close_notify is made once; a later call sends what the socket did not
// take before.
TlsStep TlsClose(TlsSession& session) {
  if (!session.established || session.broken) return TlsStep::Done;
  if (!session.closing) {
    session.closing = true;
    DWORD shutdown = SCHANNEL_SHUTDOWN;
    SecBuffer token = {sizeof shutdown, SECBUFFER_TOKEN, &shutdown};
    SecBufferDesc control = {SECBUFFER_VERSION, 1, &token};
    if (ApplyControlToken(&session.context, &control) != SEC_E_OK) return TlsStep::Failed;
    Initialize(session, false);
  }
  return Flush(session);
}

}  // namespace quorbit
