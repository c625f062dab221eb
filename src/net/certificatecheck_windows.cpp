// The certificate check with CryptoAPI's chain engine: the chain is built
// from what is at hand (the server's intermediates, the CA file), then judged
// by the SSL policy, then an address literal is matched against the
// certificate's address names, which the policy does not look at.
#include "net/certificatecheck_windows.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "util/filesystem.h"

namespace quorbit {

namespace {

struct ChainFree {
  void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};
using UniqueChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

// The reason a chain or host check failed.
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
bool EndsInCaFile(HCERTSTORE caStore, const CERT_CHAIN_CONTEXT& chain) {
  if (caStore == nullptr || chain.cChain == 0) return false;
  const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[0];
  if (simple.cElement == 0) return false;
  const CERT_CONTEXT* root = simple.rgpElement[simple.cElement - 1]->pCertContext;
  UniqueCertificate match(
      CertFindCertificateInStore(caStore, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr));
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

}  // namespace

UniqueStore LoadCaFile(const std::string& path, std::string& failure) {
  std::string text;
  if (std::FILE* file = OpenStream(path, "rb")) {
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
      text.append(buffer, got);
    }
    std::fclose(file);
  } else {
    failure = "unable to read " + path;
    return nullptr;
  }
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
  failure = "no certificate in " + path;
  return nullptr;
}

std::string CertificateRefusal(const CERT_CONTEXT& certificate, const ExpectedPeer& peer) {
  // The intermediates the server sent and the CA file's certificates help
  // build the chain.
  UniqueStore helpers(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (helpers) {
    CertAddStoreToCollection(helpers.get(), certificate.hCertStore, 0, 0);
    if (peer.caStore != nullptr) CertAddStoreToCollection(helpers.get(), peer.caStore, 0, 0);
  }
  CERT_CHAIN_PARA chainPara = {};
  chainPara.cbSize = sizeof chainPara;
  const CERT_CHAIN_CONTEXT* built = nullptr;
  // Only what is at hand: no fetching of missing certificates or revocation
  // lists, which could wait on the network beyond the connection's limits.
  if (!CertGetCertificateChain(nullptr, &certificate, nullptr, helpers.get(), &chainPara,
                               CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &built)) {
    return "unable to build the certificate chain";
  }
  UniqueChain chain(built);
  const std::vector<BYTE> address = AddressBytes(peer.host);
  // A root from the CA file is trusted as a system root is.
  const bool caFileRoot = EndsInCaFile(peer.caStore, *chain);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = caFileRoot ? kIgnoreUnknownCa : 0;
  // A name is matched here; an address below, against the address names.
  std::wstring target = peer.target;
  ssl.pwszServerName = address.empty() ? target.data() : nullptr;
  CERT_CHAIN_POLICY_PARA policyPara = {};
  policyPara.cbSize = sizeof policyPara;
  policyPara.dwFlags = caFileRoot ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
  policyPara.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policyPara, &status)) {
    return "unable to check the certificate chain";
  }
  const DWORD error = status.dwError != 0 ? status.dwError : ChainError(*chain, caFileRoot);
  if (error != 0) return RefusalText(error, *chain, certificate);
  if (!address.empty() && !NamesAddress(certificate, address)) return "IP address mismatch";
  return {};
}

}  // namespace quorbit
