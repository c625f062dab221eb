// How requests name servers, and which connections count as one server's.
#include "http/connectionpool.h"

#include <gtest/gtest.h>

#include <string>

#include "httptestsupport.h"

namespace quorbit {

namespace {

TEST(EncodeRequestText, EscapesBytesThatCouldBreakTheRequest) {
  EXPECT_EQ(EncodeRequestText("/a b\r\nHost: x"), "/a%20b%0D%0AHost:%20x");
  EXPECT_EQ(EncodeRequestText("/\x7F\xE9?q=1#f%41"), "/%7F%E9?q=1#f%41");
  EXPECT_EQ(EncodeRequestText(std::string(100, ' ')).size(), 300u);  // none cut
}

TEST(Authority, NamesThePortOnlyWhenItIsNotTheSchemesDefault) {
  RecordingHttpSession session;
  EXPECT_EQ(Authority(session, "a.test", 80, false), "a.test");
  EXPECT_EQ(Authority(session, "a.test", 8080, false), "a.test:8080");
  EXPECT_EQ(Authority(session, "a.test", 80, true), "a.test:80");  // CONNECT always names it
  EXPECT_EQ(Authority(session, "[::1]", 443, false), "[::1]:443");
  session.secure = true;
  EXPECT_EQ(Authority(session, "[::1]", 443, false), "[::1]");
  EXPECT_EQ(Authority(session, "a b", 443, false), "a%20b");
}

// A connection serves only requests to the same scheme, host, port and proxy;
// host names know no letter case.
TEST(ServerKey, OneConnectionPerSchemeHostPortAndProxy) {
  RecordingHttpSession a, b;
  EXPECT_EQ(ServerKey(a, "Host.TEST", 80), ServerKey(b, "host.test", 80));
  EXPECT_EQ(ServerKey(a, "[FE80::1]", 80), ServerKey(b, "[fe80::1]", 80));
  EXPECT_NE(ServerKey(a, "host.test", 80), ServerKey(b, "host.test", 8080));
  b.secure = true;
  EXPECT_NE(ServerKey(a, "host.test", 443), ServerKey(b, "host.test", 443));
  b.secure = false;
  b.proxy = "cache:3128";
  EXPECT_NE(ServerKey(a, "host.test", 80), ServerKey(b, "host.test", 80));
}

}  // namespace

}  // namespace quorbit
