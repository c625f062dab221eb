// Web addresses: links resolved against the page they stand on, as rows of
// link, page and the address expected.
#include "http/weburl.h"

#include <gtest/gtest.h>

namespace quorbit {

namespace {

TEST(WebUrl, SchemesAreLettersDigitsAndPlusMinusDotBeforeAColon) {
  const struct {
    const char* text;
    std::size_t length;
  } cases[] = {
      {"http://h/", 4},     {"mailto:a@b", 6}, {"svn+ssh://h", 7},  {"a-b.c:x", 5},
      {"C:/dir/file", 1},   {"1http://h", 0},  {"+x:y", 0},         {"a b:c", 0},
      {"path/x:y.html", 0}, {"noscheme", 0},   {":empty", 0},       {"", 0},
      {"x?:y", 0},          {"x#:y", 0},       {"javascript:", 10},
  };
  for (const auto& c : cases) EXPECT_EQ(SchemeLength(c.text), c.length) << c.text;
}

TEST(WebUrl, AuthoritiesGiveHostAndPortOrAreRefused) {
  const struct {
    const char* authority;
    bool usable;
    const char* host;
    std::uint16_t port;
  } cases[] = {
      {"h", true, "h", 0},
      {"Host.Example:8080", true, "Host.Example", 8080},
      {"h:", true, "h", 0},
      {"h:65535", true, "h", 65535},
      {"[::1]:81", true, "[::1]", 81},
      {"[::1]", true, "[::1]", 0},
      {"[2001:DB8::a]:8080", true, "[2001:DB8::a]", 8080},
      {"", false, "", 0},
      {":80", false, "", 0},
      {"h:0", false, "", 0},
      {"h:65536", false, "", 0},
      {"h:123456", false, "", 0},
      {"h:8x", false, "", 0},
      {"user:pw@h", false, "", 0},
      {"[::1", false, "", 0},
      {"[::1]x", false, "", 0},
      {"[::1]:65536", false, "", 0},
  };
  for (const auto& c : cases) {
    WebUrl url;
    EXPECT_EQ(ParseAuthority(c.authority, url), c.usable) << c.authority;
    if (!c.usable) continue;
    EXPECT_EQ(url.host, c.host) << c.authority;
    EXPECT_EQ(url.port, c.port) << c.authority;
  }
}

TEST(WebUrl, PathsLoseTheirDotSegmentsAndEscapesOfPlainCharacters) {
  const struct {
    const char* path;
    const char* normal;
  } cases[] = {
      {"/a/b/c/./../../g", "/a/g"},  // RFC 3986, 5.2.4
      {"/news/2025/../../img/moon.svg", "/img/moon.svg"},
      {"/../../etc/passwd", "/etc/passwd"},
      {"/a/..", "/"},
      {"/a/.", "/a/"},
      {"/a/./", "/a/"},
      {"/a//b/../c", "/a//c"},
      {"/a/...", "/a/..."},
      {"/a/..b/.c", "/a/..b/.c"},
      {"/%2e%2E/x/%2e/y", "/x/y"},
      {"/%7euser/%41%2fb%2F%20", "/~user/A%2Fb%2F%20"},
      {"/100%/%zz/%4", "/100%/%zz/%4"},
      {"/a\\..\\b", "/a\\..\\b"},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizePath(c.path), c.normal) << c.path;
}

TEST(WebUrl, ReferencesResolveAgainstThePage) {
  const WebUrl page{"h", 8080, "/news/2025/"};
  const struct {
    const char* link;
    const char* url;  // "" when the link names no http address
  } cases[] = {
      {"moon.html", "http://h:8080/news/2025/moon.html"},
      {"../../img/moon.svg?x=1#top", "http://h:8080/img/moon.svg"},
      {"./a/./b/../c.html", "http://h:8080/news/2025/a/c.html"},
      {"../../../../x.html", "http://h:8080/x.html"},
      {"/abs/./p.html", "http://h:8080/abs/p.html"},
      {"", "http://h:8080/news/2025/"},
      {"?page=2", "http://h:8080/news/2025/"},
      {"..", "http://h:8080/news/"},
      {"//other/x/../y", "http://other/y"},
      {"//other", "http://other/"},
      {"//other:8080/y", "http://other:8080/y"},
      {"HTTP://Other:80/y", "http://Other/y"},
      {"http:moon.html", "http://h:8080/news/2025/moon.html"},
      {"http://h", "http://h/"},
      {"https://h/x", "https://h/x"},
      {"HTTPS://h:443/x", "https://h/x"},
      {"https://h:80/x", "https://h:80/x"},
      {"https:moon.html", ""},
      {"mailto:a@h", ""},
      {"javascript:go()", ""},
      {"file:///etc/passwd", ""},
      {"ws://h/s", ""},
      {"tel:+49", ""},
      {"data:text/html,<a href=x>", ""},
      {"http://a@h/x", ""},
      {"//h:x/y", ""},
      {"x:y", ""},
      {"x/a:b.html", "http://h:8080/news/2025/x/a:b.html"},
  };
  for (const auto& c : cases) {
    const std::optional<WebUrl> url = ResolveReference(c.link, page);
    EXPECT_EQ(url ? UrlText(*url) : std::string(), c.url) << c.link;
  }
}

TEST(WebUrl, ReferencesOnAnHttpsPageKeepItsScheme) {
  const WebUrl page{"h", 8443, "/d/", true};
  const struct {
    const char* link;
    const char* url;
  } cases[] = {
      {"a.html", "https://h:8443/d/a.html"},
      {"//o/x", "https://o/x"},
      {"http://h/x", "http://h/x"},
      {"https:a.html", "https://h:8443/d/a.html"},
      {"http:a.html", ""},
  };
  for (const auto& c : cases) {
    const std::optional<WebUrl> url = ResolveReference(c.link, page);
    EXPECT_EQ(url ? UrlText(*url) : std::string(), c.url) << c.link;
  }
}

}  // namespace

}  // namespace quorbit
