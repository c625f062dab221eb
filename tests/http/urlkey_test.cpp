// The keys that tell addresses and servers apart: a server's connection, a
// redirect chain's addresses and the visited set must agree on which
// spellings are one address.
#include "http/urlkey.h"

#include <gtest/gtest.h>

#include <string>

namespace quorbit {

namespace {

TEST(UrlKey, OneKeyPerAddressHoweverItIsSpelt) {
  const struct {
    WebUrl a, b;
    bool same;
  } rows[] = {
      {{"Example.ORG", 80, "/a.html"}, {"example.org", 80, "/a.html"}, true},
      {{"[::1]", 8080, "/x"}, {"[::1]", 8080, "/x"}, true},
      {{"[FE80::1]", 80, "/"}, {"[fe80::1]", 80, "/"}, true},
      {{"example.org", 80, "/FAQ.html"}, {"example.org", 80, "/faq.html"}, false},
      {{"example.org", 80, "/"}, {"example.org", 8080, "/"}, false},
      {{"example.org", 443, "/", true}, {"example.org", 443, "/", false}, false},
      {{"example.org", 80, "/a?x=1"}, {"example.org", 80, "/a?x=2"}, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(UrlKey(row.a) == UrlKey(row.b), row.same) << UrlKey(row.a) << " " << UrlKey(row.b);
  }
  EXPECT_EQ(UrlKey({"Host.Test", 8080, "/Dir/"}), "http://host.test:8080/Dir/");
  EXPECT_EQ(UrlKey({"[::1]", 443, "", true}), "https://[::1]:443");
}

}  // namespace

}  // namespace quorbit
