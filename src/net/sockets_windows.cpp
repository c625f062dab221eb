// The socket layer over Winsock 2.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

#include "net/sockets.h"

namespace quorbit {

static_assert(sizeof(HostAddress::raw) >= sizeof(sockaddr_in6));
static_assert(kInternetFamily == AF_INET && kStreamType == SOCK_STREAM);
static_assert(kReceivePeek == MSG_PEEK);
static_assert(kNoSocket == INVALID_SOCKET);

namespace {

// WSAPoll on one socket for the given events; 1 when any event (or an error
// or hang-up) is reported. A wait longer than WSAPoll takes at once goes on
// with the time that is left.
int PollSocket(SocketHandle socket, short events, int milliseconds) {
  if (socket == kNoSocket) return -1;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  WSAPOLLFD entry{socket, events, 0};
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const int result = WSAPoll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (result < 0 && WSAGetLastError() == WSAEINTR) continue;
    if (result < 0) return -1;
    if (result > 0 && (entry.revents & POLLNVAL)) return -1;
    return result;
  }
}

// Winsock is started once, before its first use, whoever comes first.
bool WinsockStarted() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

}  // namespace

void SocketStartup() {
  WinsockStarted();
}

SocketHandle OpenSocket(std::int16_t family, std::int16_t type, std::int16_t protocol) {
  if (!WinsockStarted()) return kNoSocket;
  // Not inherited by processes the program might start.
  return WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

std::error_code CloseSocket(SocketHandle socket) {
  return closesocket(socket) == 0 ? std::error_code() : LastSocketError();
}

// Winsock's codes are Windows system errors: their message() is the
// system's own text.
std::error_code LastSocketError() {
  return {WSAGetLastError(), std::system_category()};
}

bool ConnectInProgress(const std::error_code& error) {
  const int value = error.value();
  return error.category() == std::system_category() &&
         (value == WSAEWOULDBLOCK || value == WSAEINPROGRESS || value == WSAEINTR);
}

std::error_code ConnectError(SocketHandle socket) {
  int error = 0;
  int length = sizeof error;
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    return LastSocketError();
  }
  return {error, std::system_category()};
}

int ReceiveSocket(SocketHandle socket, void* buffer, int length, int flags) {
  // Winsock has no per-call "do not wait": a receive that would wait is
  // answered as "not yet" without calling it.
  if ((flags & kReceiveNoWait) != 0) {
    flags &= ~kReceiveNoWait;
    if (PollSocket(socket, POLLRDNORM, 0) == 0) {
      WSASetLastError(WSAEWOULDBLOCK);
      return -1;
    }
  }
  return recv(socket, static_cast<char*>(buffer), length, flags);
}

int SendSocket(SocketHandle socket, const void* buffer, int length, int flags) {
  // Winsock raises no signal for a peer that has gone.
  return send(socket, static_cast<const char*>(buffer), length, flags);
}

int WaitSocket(SocketHandle socket, int milliseconds) {
  return PollSocket(socket, POLLWRNORM, milliseconds);
}

int WaitSocketReadable(SocketHandle socket, int milliseconds) {
  return PollSocket(socket, POLLRDNORM, milliseconds);
}

std::error_code SetNonBlocking(SocketHandle socket) {
  u_long on = 1;
  return ioctlsocket(socket, FIONBIO, &on) == 0 ? std::error_code() : LastSocketError();
}

std::error_code SetNoDelay(SocketHandle socket) {
  const BOOL on = TRUE;
  return setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                    sizeof on) == 0
             ? std::error_code()
             : LastSocketError();
}

int PendingBytes(SocketHandle socket) {
  u_long count = 0;
  if (ioctlsocket(socket, FIONREAD, &count) != 0) return 0;
  return static_cast<int>(count);
}

bool SocketWouldBlock() {
  const int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

}  // namespace quorbit
