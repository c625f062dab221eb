// The socket calls that POSIX and Winsock share (the BSD socket API): name
// resolution, connecting and peer addresses, written once for both.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstddef>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

#include "net/sockets.h"

namespace quorbit {

std::error_code ConnectSocket(SocketHandle socket, const HostAddress& address) {
  sockaddr_storage native{};
  std::memcpy(&native, address.raw.data(), address.length);
  return connect(socket, reinterpret_cast<const sockaddr*>(&native), address.length) == 0
             ? std::error_code()
             : LastSocketError();
}

bool SocketPeerAddress(SocketHandle socket, HostAddress& address) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
      (peer.ss_family != AF_INET && peer.ss_family != AF_INET6) ||
      static_cast<std::size_t>(length) > address.raw.size()) {
    return false;
  }
  address = HostAddress{};
  address.family = static_cast<std::int16_t>(peer.ss_family);
  address.length = static_cast<std::uint8_t>(length);
  std::memcpy(address.raw.data(), &peer, static_cast<std::size_t>(length));
  return true;
}

std::error_code ShutdownSocketSending(SocketHandle socket) {
#ifdef _WIN32
  const int sending = SD_SEND;
#else
  const int sending = SHUT_WR;
#endif
  return shutdown(socket, sending) == 0 ? std::error_code() : LastSocketError();
}

void SetAddressPort(HostAddress& address, std::uint16_t port) {
  // sin_port and sin6_port lie at the same place, right after the family.
  static_assert(offsetof(sockaddr_in, sin_port) == offsetof(sockaddr_in6, sin6_port));
  const std::uint16_t networkOrder = htons(port);
  std::memcpy(address.raw.data() + offsetof(sockaddr_in, sin_port), &networkOrder,
              sizeof networkOrder);
}

namespace {

// The resolver's words for its answer; a failure of the system underneath
// is said in the system's words.
std::string ResolverFailure(int answer) {
#ifdef _WIN32
  return gai_strerrorA(answer);
#else
  if (answer == EAI_SYSTEM) return LastSocketError().message();
  return gai_strerror(answer);
#endif
}

}  // namespace

ResolvedHost ResolveHost(std::string_view host, std::uint16_t port, bool numericOnly) {
  ResolvedHost result;
  // Brackets belong to URLs, never to an address; Winsock would take them.
  if (host.find_first_of("[]") != std::string_view::npos) {
    result.failure = "brackets hold only an IPv6 address";
    return result;
  }
  SocketStartup();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (numericOnly ? AI_NUMERICHOST : 0);
  addrinfo* answer = nullptr;
  const int outcome =
      getaddrinfo(std::string(host).c_str(), std::to_string(port).c_str(), &hints, &answer);
  if (outcome != 0) {
    result.failure = ResolverFailure(outcome);
    return result;
  }
  for (const addrinfo* entry = answer; entry; entry = entry->ai_next) {
    if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) ||
        entry->ai_addrlen > sizeof(HostAddress::raw)) {
      continue;
    }
    HostAddress address;
    address.family = static_cast<std::int16_t>(entry->ai_family);
    address.length = static_cast<std::uint8_t>(entry->ai_addrlen);
    std::memcpy(address.raw.data(), entry->ai_addr, entry->ai_addrlen);
    char text[NI_MAXHOST] = {};
    if (getnameinfo(entry->ai_addr, static_cast<socklen_t>(entry->ai_addrlen), text, sizeof text,
                    nullptr, 0, NI_NUMERICHOST) == 0) {
      address.text = text;
    }
    result.addresses.push_back(std::move(address));
  }
  freeaddrinfo(answer);
  if (result.addresses.empty()) result.failure = "no IPv4 or IPv6 address";
  return result;
}

}  // namespace quorbit
