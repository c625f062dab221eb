// The HTTP assignment: fetch the assignment's address into its local
// directory and, for an HTML page, follow its SRC and HREF links, writing a
// copy of each page whose links point at the local copies when TRANSLATE is
// on.
//
// Whatever a page says, nothing is written outside the directory of the
// assignment itself: a link whose local directory would leave it is not
// followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "http/visitedset.h"
#include "http/weburl.h"

namespace quorbit {

// Carries out one assignment at the level given (1 for the assignment
// itself). The task's URI and LOCATION are changed in place: after the fetch
// URI names the file as stored. True when the fetch ended with status 200,
// whatever happened afterwards.
//
// Linked files are fetched level by level, each address once per run (the
// visited set remembers them, and where each was stored): every page within
// LEVEL links of the first one has its links followed, whatever way it is
// met first. With TRANSLATE the stored pages are rewritten at the end, when
// it is known which links were stored where. A stop request ends the
// fetching; pages not yet rewritten stay as downloaded. Every failure is
// written to the run log as well as shown. context gives the proxy, the
// debug log, the trusted certificates and the run's own files.
bool ProcessHttpTask(HttpTask& task, std::uint8_t level, VisitedUrlSet& visited,
                     const RunContext& context);

// Files waiting to be fetched in one assignment. A link met while the queue
// is full (or the visited set is) is not followed; the assignment then says
// how many were left ("Link limit reached: <n> links not followed").
constexpr std::size_t kLinkQueueCapacity = 10000;

// Longest request a link may make ("http://" and host included). A link
// whose request is longer is left as written and not followed: shortened,
// it would name another file.
inline constexpr std::size_t kMaxLinkLength = 80;

// A link attribute as written in a page: head up to and including the
// opening quote, the link (trimmed of blanks and control characters), and
// the tail from the closing quote on.
struct LinkToken {
  std::string head;
  std::string link;
  std::string tail;
};

LinkToken SplitLinkToken(std::string_view text);

// The page a link stands on: the address it was fetched from, where it is
// stored, and the directory that nothing may leave (the assignment's own).
struct PageContext {
  std::string baseUrl;                    // "http://" or "https://" + host, or the host alone
  std::string directory;                  // begins and ends with "/"
  std::string location;                   // local directory of the page
  std::string root;                       // local directory of the assignment
  std::uint16_t port = kHttpDefaultPort;  // the port the page came from
};

// Where a link leads. An in-page anchor ("#..."), a link of a scheme other
// than http and https (mailto:, javascript: ...), one whose server cannot be asked (a
// user name, a bad port) and one whose request would be longer than
// kMaxLinkLength keep their text and are never followed. Every other
// link becomes an absolute address with "." and ".." resolved, which is
// followed unless it ends with "/", names another port than the assignment's
// under the page's own scheme, or its local directory would leave the root or
// not fit. A link under the other scheme that names no port is fetched from
// that scheme's default port (443, 80), one under the page's scheme from the
// assignment's. A fragment ("page.html#x") names a place in the linked file: it is no
// part of the address and is kept apart to be written back after the link.
struct ResolvedLink {
  std::string url;         // the absolute address (with its port), or the link as written
  std::string fragment;    // "#" and what follows it; empty when there is none
  std::string key;         // the visited set's key; empty when the link is no http address
  std::string request;     // the address to fetch, at most kMaxLinkLength characters
  std::string location;    // local directory for the linked file
  std::uint16_t port = 0;  // the port to fetch it from
  bool followable = false;
};

ResolvedLink ResolveLink(std::string_view link, const PageContext& page);

}  // namespace quorbit
