// The socket layer over POSIX sockets.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
static_assert(kReceivePeek == MSG_PEEK && kReceiveNoWait == MSG_DONTWAIT);

namespace {

// poll() on one socket for the given events, resumed after signals with the
// time that is left; 1 when any event (or an error or hang-up) is reported.
int PollSocket(SocketHandle socket, short events, int milliseconds) {
  // poll() would pass over a negative descriptor and sleep the whole time.
  if (socket < 0) return -1;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  pollfd entry{socket, events, 0};
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    int result = poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (result < 0 && errno == EINTR) continue;
    if (result > 0 && (entry.revents & POLLNVAL)) return -1;
    return result;
  }
}

}  // namespace

void SocketStartup() {}

SocketHandle OpenSocket(std::int16_t family, std::int16_t type, std::int16_t protocol) {
  SocketHandle s = socket(family, type | SOCK_CLOEXEC, protocol);
  return s < 0 ? kNoSocket : s;
}

std::error_code CloseSocket(SocketHandle socket) {
  return close(socket) == 0 ? std::error_code() : LastSocketError();
}

std::error_code LastSocketError() {
  return {errno, std::system_category()};
}

// A connect interrupted by a signal goes on in the background, as one that
// does not wait does.
bool ConnectInProgress(const std::error_code& error) {
  return error.category() == std::system_category() &&
         (error.value() == EINPROGRESS || error.value() == EINTR);
}

std::error_code ConnectError(SocketHandle socket) {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return LastSocketError();
  return {error, std::system_category()};
}

int ReceiveSocket(SocketHandle socket, void* buffer, int length, int flags) {
  return static_cast<int>(recv(socket, buffer, static_cast<std::size_t>(length), flags));
}

int SendSocket(SocketHandle socket, const void* buffer, int length, int flags) {
  return static_cast<int>(
      send(socket, buffer, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL));
}

int WaitSocket(SocketHandle socket, int milliseconds) {
  return PollSocket(socket, POLLOUT, milliseconds);
}

int WaitSocketReadable(SocketHandle socket, int milliseconds) {
  return PollSocket(socket, POLLIN, milliseconds);
}

std::error_code SetNonBlocking(SocketHandle socket) {
  const int flags = fcntl(socket, F_GETFL);
  if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) return LastSocketError();
  return {};
}

std::error_code SetNoDelay(SocketHandle socket) {
  const int on = 1;
  return setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 ? std::error_code()
                                                                           : LastSocketError();
}

int PendingBytes(SocketHandle socket) {
  int count = 0;
  if (ioctl(socket, FIONREAD, &count) != 0) return 0;
  return count;
}

bool SocketWouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

}  // namespace quorbit
