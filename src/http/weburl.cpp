#include "http/weburl.h"

#include <cctype>

#include "util/shorttext.h"

namespace quorbit {

namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsUnreserved(char c) {
  return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// "%XY" escapes of unreserved characters decoded, the others spelled with
// upper-case digits, so that equal paths are equal texts.
std::string NormalizeEscapes(std::string_view path) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    const int high = path[i] == '%' && i + 2 < path.size() ? HexDigitValue(path[i + 1]) : -1;
    const int low = high >= 0 ? HexDigitValue(path[i + 2]) : -1;
    if (low < 0) {
      out += path[i];
      continue;
    }
    const char decoded = static_cast<char>(high * 16 + low);
    if (IsUnreserved(decoded)) {
      out += decoded;
    } else {
      out += '%';
      out += kDigits[high];
      out += kDigits[low];
    }
    i += 2;
  }
  return out;
}

// Drops the last segment of output and the "/" before it.
void DropLastSegment(std::string& output) {
  const std::size_t slash = output.rfind('/');
  output.erase(slash == std::string::npos ? 0 : slash);
}

// RFC 3986, 5.2.4, step by step over the input buffer.
std::string RemoveDotSegments(std::string_view input) {
  std::string output;
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.remove_prefix(3);
    } else if (input.starts_with("./")) {
      input.remove_prefix(2);
    } else if (input.starts_with("/./")) {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.starts_with("/../")) {
      input.remove_prefix(3);
      DropLastSegment(output);
    } else if (input == "/..") {
      input = "/";
      DropLastSegment(output);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const std::size_t end = input.find('/', 1);
      output += input.substr(0, end);
      input = end == std::string_view::npos ? std::string_view() : input.substr(end);
    }
  }
  return output;
}

// The base page's directory joined with a relative path (RFC 3986, 5.2.3).
std::string MergePaths(const WebUrl& base, std::string_view path) {
  const std::string_view basePath = base.path;
  const std::size_t slash = basePath.rfind('/');
  std::string merged(slash == std::string_view::npos ? std::string_view("/")
                                                     : basePath.substr(0, slash + 1));
  merged += path;
  return merged;
}

}  // namespace

std::size_t SchemeLength(std::string_view text) {
  if (text.empty() || !IsAsciiLetter(text[0])) return 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') return i;
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

UrlReference SplitReference(std::string_view text) {
  UrlReference ref;
  text = text.substr(0, text.find_first_of("?#"));
  if (const std::size_t scheme = SchemeLength(text); scheme > 0) {
    ref.scheme = text.substr(0, scheme);
    text.remove_prefix(scheme + 1);
  }
  if (text.starts_with("//")) {
    text.remove_prefix(2);
    const std::size_t end = text.find('/');
    ref.hasAuthority = true;
    ref.authority = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end);
  }
  ref.path = text;
  return ref;
}

bool ParseAuthority(std::string_view authority, WebUrl& url) {
  if (authority.find('@') != std::string_view::npos) return false;
  std::size_t hostEnd = authority.rfind(':');
  if (authority.starts_with('[')) {  // an IPv6 literal holds colons of its own
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    hostEnd = close + 1 < authority.size() ? close + 1 : std::string_view::npos;
  }
  const std::string_view host = authority.substr(0, hostEnd);
  std::uint32_t port = 0;
  if (hostEnd != std::string_view::npos) {
    const std::string_view digits = authority.substr(hostEnd + 1);
    if (authority[hostEnd] != ':' || digits.size() > 5) return false;
    for (char c : digits) {
      if (!IsAsciiDigit(c)) return false;
      port = port * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (!digits.empty() && (port == 0 || port > 65535)) return false;
  }
  if (host.empty()) return false;
  url.host = host;
  url.port = static_cast<std::uint16_t>(port);
  return true;
}

std::string NormalizePath(std::string_view path) {
  return RemoveDotSegments(NormalizeEscapes(path));
}

std::optional<WebUrl> ResolveReference(std::string_view text, const WebUrl& base) {
  const UrlReference ref = SplitReference(text);
  const bool https = EqualIgnoringCase(ref.scheme, "https");
  if (!ref.scheme.empty() && !https && !EqualIgnoringCase(ref.scheme, "http")) return std::nullopt;
  WebUrl url;
  url.secure = ref.scheme.empty() ? base.secure : https;
  if (ref.hasAuthority) {
    if (!ParseAuthority(ref.authority, url)) return std::nullopt;
    url.path = NormalizePath(ref.path);
  } else {
    if (url.secure != base.secure) return std::nullopt;
    url.host = base.host;
    url.port = base.port;
    if (ref.path.empty()) {
      url.path = base.path;
    } else if (ref.path.starts_with('/')) {
      url.path = NormalizePath(ref.path);
    } else {
      url.path = NormalizePath(MergePaths(base, ref.path));
    }
  }
  if (url.path.empty()) url.path = "/";
  return url;
}

std::string UrlText(const WebUrl& url) {
  std::string text = std::string(SchemePrefix(url.secure)) + url.host;
  if (url.port != 0 && url.port != DefaultPort(url.secure)) text += ":" + std::to_string(url.port);
  return text + url.path;
}

}  // namespace quorbit
