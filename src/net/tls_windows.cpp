// The TLS session over Schannel (SSPI): the handshake tokens, records and
// alerts travel through the socket layer like every other byte, so that the
// connection's bounded waits do all the waiting. Schannel is told to leave
// the certificate alone; the chain and the host are checked here with the
// system's chain engine, beside the certificates of the CA file.
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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "net/tls.h"

namespace quorbit {

namespace {

struct StoreClose {
  void operator()(void* store) const { CertCloseStore(store, 0); }
};
using UniqueStore = std::unique_ptr<void, StoreClose>;

struct CertificateFree {
  void operator()(const CERT_CONTEXT* certificate) const {
    CertFreeCertificateContext(certificate);
  }
};
using UniqueCertificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

struct ChainFree {
  void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};
using UniqueChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

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

// ---- certificate check ----

// The reason a chain or host check failed, in the words OpenSSL uses for the
// same finding, so that both builds write the same lines.
std::string RefusalText(DWORD error, const CERT_CHAIN_CONTEXT& chain,
                        const CERT_CONTEXT& certificate) {
  const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[0];
  switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDCA):
      if ((simple.TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) != 0 ||
          error == static_cast<DWORD>(CERT_E_CHAINING)) {
        return "unable to get local issuer certificate";
      }
      return simple.cElement == 1 ? "self-signed certificate"
                                  : "self-signed certificate in certificate chain";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      return "hostname mismatch";
    case static_cast<DWORD>(CERT_E_EXPIRED):
      return CertVerifyTimeValidity(nullptr, certificate.pCertInfo) < 0
                 ? "certificate is not yet valid"
                 : "certificate has expired";
    case static_cast<DWORD>(CERT_E_REVOKED):
      return "certificate revoked";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
      return "unsupported certificate purpose";
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
      return "certificate signature failure";
    default:
      break;
  }
  char text[48];
  std::snprintf(text, sizeof text, "certificate not accepted (0x%08lX)",
                static_cast<unsigned long>(error));
  return text;
}

// The certificates of a PEM file in a store of their own; empty when the file
// cannot be read or holds none.
UniqueStore LoadCaFile(const std::string& path, std::string& failure) {
  std::ifstream file(std::filesystem::path(Widened(path)), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  UniqueStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  int loaded = 0;
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  for (std::size_t begin = text.find(kBegin); store && begin != std::string::npos;
       begin = text.find(kBegin, begin + 1)) {
    const std::size_t end = text.find(kEnd, begin);
    if (end == std::string::npos) break;
    const std::string pem = text.substr(begin, end + kEnd.size() - begin);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                             der.data(), &size, nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      ++loaded;
    }
  }
  if (loaded > 0) return store;
  failure = file ? "no certificate in " + path : "unable to read " + path;
  return nullptr;
}

// The address bytes of an IPv4 or IPv6 literal; empty for a name.
std::vector<BYTE> AddressBytes(const std::string& host) {
  IN_ADDR v4;
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&v4);
    return {bytes, bytes + sizeof v4};
  }
  IN6_ADDR v6;
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&v6);
    return {bytes, bytes + sizeof v6};
  }
  return {};
}

// True when the certificate's subject alternative names hold the address.
bool NamesAddress(const CERT_CONTEXT& certificate, const std::vector<BYTE>& address) {
  const CERT_INFO& info = *certificate.pCertInfo;
  const CERT_EXTENSION* extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info.cExtension, info.rgExtension);
  if (extension == nullptr) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                           &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
            entry.IPAddress.cbData == address.size() &&
            std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
  }
  LocalFree(names);
  return found;
}

// SECURITY_FLAG_IGNORE_UNKNOWN_CA of the WinINet header, which is not needed
// otherwise.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;

// True when the chain ends at one of the CA file's certificates.
bool EndsInCaFile(const TlsSession& session, const CERT_CHAIN_CONTEXT& chain) {
  if (!session.caStore || chain.cChain == 0) return false;
  const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[0];
  if (simple.cElement == 0) return false;
  const CERT_CONTEXT* root = simple.rgpElement[simple.cElement - 1]->pCertContext;
  UniqueCertificate match(CertFindCertificateInStore(session.caStore.get(), X509_ASN_ENCODING, 0,
                                                     CERT_FIND_EXISTING, root, nullptr));
  return match != nullptr;
}

// What the chain's own status holds against it. Not every SSL policy check
// refuses a chain that ends short of any root (wine's does not), so the
// chain's status is looked at too.
DWORD ChainError(const CERT_CHAIN_CONTEXT& chain, bool caFileRoot) {
  const DWORD status = chain.TrustStatus.dwErrorStatus;
  if ((status & CERT_TRUST_IS_PARTIAL_CHAIN) != 0) return static_cast<DWORD>(CERT_E_CHAINING);
  if ((status & CERT_TRUST_IS_UNTRUSTED_ROOT) != 0 && !caFileRoot) {
    return static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
  }
  return 0;
}

// Checks the peer's certificate chain against the system's roots and the CA
// file, and the host name or address against the certificate. The result is
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
  UniqueCertificate certificate(remote);
  // The intermediates the server sent and the CA file's certificates help
  // build the chain.
  UniqueStore helpers(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (helpers) {
    CertAddStoreToCollection(helpers.get(), certificate->hCertStore, 0, 0);
    if (session.caStore) CertAddStoreToCollection(helpers.get(), session.caStore.get(), 0, 0);
  }
  CERT_CHAIN_PARA chainPara = {};
  chainPara.cbSize = sizeof chainPara;
  const CERT_CHAIN_CONTEXT* built = nullptr;
  // Only what is at hand: no fetching of missing certificates or revocation
  // lists, which could wait on the network beyond the connection's limits.
  if (!CertGetCertificateChain(nullptr, certificate.get(), nullptr, helpers.get(), &chainPara,
                               CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &built)) {
    session.failure = "unable to build the certificate chain";
    return false;
  }
  UniqueChain chain(built);
  const std::vector<BYTE> address = AddressBytes(session.host);
  // A root from the CA file is trusted as a system root is.
  const bool caFileRoot = EndsInCaFile(session, *chain);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = caFileRoot ? kIgnoreUnknownCa : 0;
  // A name is matched here; an address below, against the address names.
  ssl.pwszServerName = address.empty() ? session.target.data() : nullptr;
  CERT_CHAIN_POLICY_PARA policyPara = {};
  policyPara.cbSize = sizeof policyPara;
  policyPara.dwFlags = caFileRoot ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
  policyPara.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policyPara, &status)) {
    session.failure = "unable to check the certificate chain";
    return false;
  }
  const DWORD error = status.dwError != 0 ? status.dwError : ChainError(*chain, caFileRoot);
  if (error != 0) {
    session.failure = RefusalText(error, *chain, *certificate);
    return false;
  }
  if (!address.empty() && !NamesAddress(*certificate, address)) {
    session.failure = "IP address mismatch";
    return false;
  }
  session.certificateRefused = false;
  return true;
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
