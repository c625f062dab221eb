// The HTTP assignment: fetch the assignment's address into its local
// directory and, for an HTML page, follow its SRC and HREF links by calling
// itself for each, writing a copy of the page whose links point at the local
// copies when TRANSLATE is on.
//
// Whatever a page says, nothing is written outside the directory of the
// assignment itself: a link whose local directory would leave it is not
// followed.
#pragma once

#include <cstdint>
#include <string_view>

#include "config/iniunit.h"
#include "html/visitedset.h"
#include "util/strunit.h"

// Carries out one assignment at the level given (1 for the assignment
// itself). The task's URI and LOCATION are changed in place: after a fetch
// URI names the file as stored. True when the fetch ended with status 200,
// whatever happened afterwards. With TRANSLATE an address in the visited set
// is not fetched again, except a page that is met closer to the first page
// than it was scanned at: its links then reach further.
bool ProcessHttpTask(HttpTask& task, std::uint8_t level, VisitedUrlSet& visited);

// A link attribute as written in a page: head up to and including the
// opening quote, the link (trimmed of blanks and control characters), and
// the tail from the closing quote on.
struct LinkToken {
  Str255 head;
  Str255 link;
  Str255 tail;
};

LinkToken SplitLinkToken(std::string_view text);

// The page a link stands on: the address it was fetched from, where it is
// stored, and the directory that nothing may leave (the assignment's own).
struct PageContext {
  Str255 baseUrl;    // "http://" + host, or the host alone
  Str255 directory;  // begins and ends with "/"
  Str80 location;    // local directory of the page
  Str80 root;        // local directory of the assignment
};

// Where a link leads. An in-page anchor ("#...") keeps its text and is never
// followed; MAILTO: and FTP:// links keep their text (without a query) and
// are never followed; every other link becomes an absolute address, which is
// followed unless it ends with "/" or its local directory would leave the
// root (or was cut short). A fragment ("page.html#x") names a place in the
// linked file: it is no part of the address (never requested, never a key of
// the visited set), and is kept apart to be written back after the link.
struct ResolvedLink {
  Str255 url;
  Str255 fragment;  // "#" and what follows it; empty when there is none
  Str80 location;   // local directory for the linked file
  bool followable = false;
};

ResolvedLink ResolveLink(std::string_view link, const PageContext& page);
