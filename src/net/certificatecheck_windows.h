// Windows only: the check of a server's certificate with the system's chain
// engine (CryptoAPI), beside the certificates of a CA file. The TLS session
// over Schannel asks it once the handshake is through.
#pragma once

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <memory>
#include <string>

namespace quorbit {

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

// The certificates of a PEM file in a store of their own; null, with the
// reason in failure, when the file cannot be read or holds none.
UniqueStore LoadCaFile(const std::string& path, std::string& failure);

// Who the server must prove to be, and the extra roots it may chain to.
struct ExpectedPeer {
  std::string host;              // a name or an address literal, without brackets
  std::wstring target;           // the same, as the chain policy takes it
  HCERTSTORE caStore = nullptr;  // the CA file's certificates; none without one
};

// Checks the certificate's chain against the system's roots and the CA file,
// and the host name or address against the certificate. Empty when it is
// accepted; otherwise the reason, in the words OpenSSL uses for the same
// finding, so that both builds write the same lines.
std::string CertificateRefusal(const CERT_CONTEXT& certificate, const ExpectedPeer& peer);

}  // namespace quorbit
