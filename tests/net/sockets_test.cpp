#include "net/sockets.h"

#include <gtest/gtest.h>

#include <cstring>

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

TEST(ResolveHost, LocalhostGivesLoopbackAddress) {
  EXPECT_EQ(ResolveHost("localhost"), (IpAddress{127, 0, 0, 1}));
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
