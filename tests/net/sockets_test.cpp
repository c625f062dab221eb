#include "net/sockets.h"

#include <gtest/gtest.h>

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
// the numeric texts of the addresses found (nothing leaves the machine).
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
    for (const HostAddress& address : ResolveHost(c.host, 80, c.numericOnly)) {
      texts.push_back(address.text);
      EXPECT_EQ(address.family == kInternetFamily, address.text.find(':') == std::string::npos);
    }
    EXPECT_EQ(texts, c.texts) << c.host;
  }
  std::vector<std::string> local;
  for (const HostAddress& address : ResolveHost("localhost", 80, false))
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
  EXPECT_EQ(CloseSocket(raw), -1);  // already closed by the owner
}

TEST(Waits, ClosedDescriptorFailsAtOnceInsteadOfSleeping) {
  EXPECT_EQ(WaitSocket(kNoSocket, 60000), -1);
  EXPECT_EQ(WaitSocketReadable(kNoSocket, 60000), -1);
}

}  // namespace quorbit
