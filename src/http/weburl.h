// Web addresses as pages name them: whether a link begins with a scheme, the
// parts of an http or https address, and a link resolved against the page it stands
// on (RFC 3986), with "." and ".." segments removed, so that one file on a
// server has one spelling. Pure functions over text: nothing here touches a
// file or the network.
//
//   WebUrl page{"example.org", 8080, "/docs/"};
//   ResolveReference("../img/a.gif?x=1#top", page)
//     -> {"example.org", 8080, "/img/a.gif"}
//   UrlText(*url) -> "http://example.org:8080/img/a.gif"
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorbit {

inline constexpr std::uint16_t kHttpDefaultPort = 80;
inline constexpr std::uint16_t kHttpsDefaultPort = 443;

struct WebUrl {
  std::string host;        // as written (names know no letter case)
  std::uint16_t port = 0;  // 0 when none was written
  std::string path;        // begins with "/"; no dot segments, query or fragment
  bool secure = false;     // https
};

// 443 for https, 80 for http.
constexpr std::uint16_t DefaultPort(bool secure) {
  return secure ? kHttpsDefaultPort : kHttpDefaultPort;
}

// "https://" or "http://".
constexpr std::string_view SchemePrefix(bool secure) {
  return secure ? "https://" : "http://";
}

// The length of the scheme name when text begins with one ("mailto" in
// "mailto:x"): a letter, then letters, digits, "+", "-" or ".", then ":".
// 0 when it does not.
std::size_t SchemeLength(std::string_view text);

// The components of a reference as written (RFC 3986, appendix B); query and
// fragment are left out.
struct UrlReference {
  std::string_view scheme;  // empty when the reference has none
  bool hasAuthority = false;
  std::string_view authority;
  std::string_view path;
};
UrlReference SplitReference(std::string_view text);

// host and port from an authority ("host", "host:8080", "[::1]:80"). False
// for an empty host, a port that is no number from 1 to 65535, or user
// information ("user@host"), which no request here can carry.
bool ParseAuthority(std::string_view authority, WebUrl& url);

// The path with escaped unreserved characters decoded ("%2E" is ".", "%7e"
// is "~"), other escapes written with upper-case digits, and then "." and ".."
// segments removed (RFC 3986, 5.2.4): "/a/b/../c/./d" gives "/a/c/d", and
// ".." above the root stays at the root.
std::string NormalizePath(std::string_view path);

// The http or https address that text names on the page whose address is
// base (its path is the page's directory, ending with "/"). A reference
// without scheme or authority takes the page's scheme, host and port;
// "//host/path" takes the page's scheme; the page's own scheme followed by a
// relative path ("http:a.html") is relative too. Query and fragment are
// dropped. Empty for another scheme, a relative path under the other one of
// the two, or an authority that ParseAuthority refuses.
std::optional<WebUrl> ResolveReference(std::string_view text, const WebUrl& base);

// The scheme's prefix + host, ":" + port when one is set and is not the
// scheme's default, and the path.
std::string UrlText(const WebUrl& url);

}  // namespace quorbit
