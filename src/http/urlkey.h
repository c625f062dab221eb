// One spelling of an address for comparing addresses: the connection pool's
// servers, a redirect chain's addresses and the run's visited set all key
// on it, so that one server or one file is known by one key.
//
//   UrlKey({"WWW.Example.org", 80, "/A.html"}) -> "http://www.example.org:80/A.html"
#pragma once

#include <string>

#include "http/weburl.h"

namespace quorbit {

// The scheme's prefix, the host in lower case (host names know no letter
// case; an IPv6 literal keeps its brackets), ":" and the port, always
// written (a default port is no different from the same port written out),
// then the path as it is (paths know letter case: FAQ.html and faq.html are
// two files).
std::string UrlKey(const WebUrl& url);

}  // namespace quorbit
