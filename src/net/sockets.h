// The thin socket layer. Each operation is one call of the
// platform's socket interface (IPv4 and IPv6), so that the connection code above
// it does not depend on the platform. sockets_posix.cpp implements it over
// POSIX sockets, sockets_windows.cpp over Winsock 2; sockets.cpp holds what
// needs no call of the system.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace quorbit {

// The system's socket handle: a descriptor on POSIX, a SOCKET (an unsigned
// handle as wide as a pointer) on Windows.
#ifdef _WIN32
using SocketHandle = std::uintptr_t;
#else
using SocketHandle = int;
#endif
constexpr SocketHandle kNoSocket = static_cast<SocketHandle>(-1);  // all bits set

// Arguments of OpenSocket for the one kind of socket the system uses.
constexpr std::int16_t kInternetFamily = 2;
constexpr std::int16_t kStreamType = 1;

// Flags of ReceiveSocket.
constexpr int kReceiveNormal = 0;
constexpr int kReceivePeek = 2;
constexpr int kReceiveNoWait = 0x40;  // returns at once, also on a blocking socket

// Four address bytes in the order written: 10.1.2.3 is {10, 1, 2, 3}.
using IpAddress = std::array<std::uint8_t, 4>;

// One address to connect to, IPv4 or IPv6, port included: the system's own
// socket address kept as bytes, so that nothing above this layer depends on
// its layout.
struct HostAddress {
  std::int16_t family = 0;                // as OpenSocket takes it
  std::uint8_t length = 0;                // bytes of raw in use
  std::array<std::uint8_t, 28> raw = {};  // room for an IPv6 socket address
  std::string text;                       // numeric form: "127.0.0.1", "::1"
};

// A socket that is closed when its owner goes away or takes another one.
class UniqueSocket {
 public:
  UniqueSocket() = default;
  ~UniqueSocket() { Reset(); }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;

  SocketHandle Get() const { return handle_; }
  // Closes the socket held so far and takes the given one.
  void Reset(SocketHandle handle = kNoSocket);
  // Gives the socket up without closing it: its new owner closes it.
  SocketHandle Release() {
    const SocketHandle handle = handle_;
    handle_ = kNoSocket;
    return handle;
  }

 private:
  SocketHandle handle_ = kNoSocket;
};

// Starts the socket library (Winsock on Windows); nothing to do on Linux.
void SocketStartup();

// Calls that can fail give the system's reason as an error code (empty on
// success) whose message() is the system's own text ("Connection refused");
// calls that give a count or a handle give -1 or kNoSocket instead, and
// LastSocketError() then holds the reason.
SocketHandle OpenSocket(std::int16_t family, std::int16_t type, std::int16_t protocol);
std::error_code CloseSocket(SocketHandle socket);
// The reason of the last socket call that failed on this thread.
std::error_code LastSocketError();
// connect. On a non-blocking socket an error that ConnectInProgress accepts
// means the answer is still to come: the socket becomes writable when it is
// there, and ConnectError tells which it was.
std::error_code ConnectSocket(SocketHandle socket, const HostAddress& address);
bool ConnectInProgress(const std::error_code& error);
// The address of the connected peer (IPv4 or IPv6, text left empty); false
// when there is none.
bool SocketPeerAddress(SocketHandle socket, HostAddress& address);
// Puts the port into the address.
void SetAddressPort(HostAddress& address, std::uint16_t port);
// The outcome of a connect that was in progress: empty when connected.
std::error_code ConnectError(SocketHandle socket);
// recv with kReceiveNormal, kReceivePeek or kReceiveNoWait: count received,
// 0 when the peer has closed, -1 on error (see SocketWouldBlock).
int ReceiveSocket(SocketHandle socket, void* buffer, int length, int flags);
// One send; never raises a signal when the peer has gone. Count sent or -1.
int SendSocket(SocketHandle socket, const void* buffer, int length, int flags);
// Ends the sending side: the peer reads the end of the stream once it has
// every byte sent before; receiving goes on.
std::error_code ShutdownSocketSending(SocketHandle socket);
// Sleeps until the socket can take more data or the milliseconds have passed:
// 1 ready (also when the socket has an error the next send will report),
// 0 time-out, -1 error.
int WaitSocket(SocketHandle socket, int milliseconds);
// The same for received data: 1 when data or the peer's close is there to be
// read, 0 time-out, -1 error.
int WaitSocketReadable(SocketHandle socket, int milliseconds);
std::error_code SetNonBlocking(SocketHandle socket);
// Sends small writes at once instead of holding them for the peer's
// acknowledgement: a request or command written in pieces would otherwise
// wait for the peer's delayed acknowledgement (tens of milliseconds) each time.
std::error_code SetNoDelay(SocketHandle socket);
// Received bytes waiting to be read; 0 when the call fails.
int PendingBytes(SocketHandle socket);
// True when the last failed receive or send only means "not yet": no data
// has arrived, or there is no room to send, on a non-blocking socket.
bool SocketWouldBlock();

// What a look-up of a host found: its addresses, or why there are none (the
// resolver's own words, "Name or service not known").
struct ResolvedHost {
  std::vector<HostAddress> addresses;
  std::string failure;
};

// Every address of the host (IPv6 and IPv4) with the port, in the order the
// resolver prefers. With numericOnly the host must be a numeric address and
// nothing is looked up.
ResolvedHost ResolveHost(std::string_view host, std::uint16_t port, bool numericOnly);
// True when every character is a digit or '.' and there are exactly three dots.
bool IsDottedAddress(std::string_view text);

// A host in brackets is an IPv6 address as addresses in URLs write it: the
// address without them; any other host as it is.
std::string_view WithoutBrackets(std::string_view host);

}  // namespace quorbit
