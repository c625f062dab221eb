#include "net/sockets.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace quorbit {

// Names that look almost like addresses must go to the resolver; only the
// predicate is checked here, nothing is looked up or connected.
TEST(IsDottedAddress, ExactlyThreeDotsAndDigitsOnly) {
  EXPECT_TRUE(IsDottedAddress("192.168.0.1"));
  EXPECT_TRUE(IsDottedAddress("127.000.000.001"));
  EXPECT_FALSE(IsDottedAddress("1.2.3.4.5"));
  EXPECT_FALSE(IsDottedAddress("10.0.0.1a"));
  EXPECT_FALSE(IsDottedAddress("10.0.1"));
  EXPECT_FALSE(IsDottedAddress("localhost"));
  EXPECT_FALSE(IsDottedAddress(""));
}

// Each row: what is resolved, whether only numeric addresses are taken, and
// the numeric texts of the addresses found (nothing leaves the machine); a
// host without any says why.
TEST(ResolveHost, NamesAndNumericAddressesOfBothFamilies) {
  const struct {
    const char* host;
    bool numericOnly;
    std::vector<std::string> texts;
  } cases[] = {
      {"127.0.0.1", true, {"127.0.0.1"}},
      {"::1", true, {"::1"}},
      {"0:0:0:0:0:0:0:1", true, {"::1"}},
      {"localhost", true, {}},  // a name is no numeric address
      {"[::1]", true, {}},      // brackets belong to URLs, not to addresses
      {"::1::2", true, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> texts;
    const ResolvedHost resolved = ResolveHost(c.host, 80, c.numericOnly);
    for (const HostAddress& address : resolved.addresses) {
      texts.push_back(address.text);
      EXPECT_EQ(address.family == kInternetFamily, address.text.find(':') == std::string::npos);
    }
    EXPECT_EQ(texts, c.texts) << c.host;
    EXPECT_EQ(resolved.failure.empty(), !c.texts.empty()) << c.host << ": " << resolved.failure;
  }
  std::vector<std::string> local;
  for (const HostAddress& address : ResolveHost("localhost", 80, false).addresses)
    local.push_back(address.text);
  EXPECT_NE(std::find(local.begin(), local.end(), "127.0.0.1"), local.end());
}

TEST(UniqueSocket, ClosesWhatItHolds) {
  SocketHandle raw;
  {
    UniqueSocket owner;
    owner.Reset(OpenSocket(kInternetFamily, kStreamType, 0));
    raw = owner.Get();
    ASSERT_NE(raw, kNoSocket);
  }
  EXPECT_TRUE(CloseSocket(raw));  // already closed by the owner
}

// A loopback port nobody listens on: bound once to find it, then let go.
std::uint16_t ClosedLoopbackPort() {
  UniqueSocket probe;
  probe.Reset(OpenSocket(kInternetFamily, kStreamType, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(probe.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

// A failing call says why in the system's own words, never as an unknown
// error; a name the resolver cannot find says why in the resolver's.
TEST(SocketErrors, RefusedConnectAndUnknownNameSayWhy) {
  const std::uint16_t port = ClosedLoopbackPort();
  ASSERT_NE(port, 0);
  const ResolvedHost loopback = ResolveHost("127.0.0.1", port, true);
  ASSERT_EQ(loopback.addresses.size(), 1u);
  UniqueSocket socket;
  socket.Reset(OpenSocket(kInternetFamily, kStreamType, 0));
  ASSERT_NE(socket.Get(), kNoSocket);
  ASSERT_FALSE(SetNonBlocking(socket.Get()));
  std::error_code error = ConnectSocket(socket.Get(), loopback.addresses[0]);
  if (ConnectInProgress(error)) {
    ASSERT_EQ(WaitSocket(socket.Get(), 10000), 1);
    error = ConnectError(socket.Get());
  }
#ifdef _WIN32
  EXPECT_EQ(error.value(), WSAECONNREFUSED);
#else
  EXPECT_EQ(error, std::errc::connection_refused);
  EXPECT_EQ(error.message(), "Connection refused");
#endif
  EXPECT_EQ(error.message().find("nknown"), std::string::npos) << error.message();

  // A label over 63 characters is refused before any query leaves the machine.
  const ResolvedHost unknown = ResolveHost(std::string(70, 'x') + ".invalid", 80, false);
  EXPECT_TRUE(unknown.addresses.empty());
#ifndef _WIN32
  EXPECT_EQ(unknown.failure, "Name or service not known");
#endif
  EXPECT_FALSE(unknown.failure.empty());
}

TEST(Waits, ClosedDescriptorFailsAtOnceInsteadOfSleeping) {
  EXPECT_EQ(WaitSocket(kNoSocket, 60000), -1);
  EXPECT_EQ(WaitSocketReadable(kNoSocket, 60000), -1);
}

}  // namespace quorbit
