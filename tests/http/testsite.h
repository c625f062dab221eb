// Web sites for the HTTP assignment tests: generated pages and copied
// documentation trees under a served root, the stored tree read back, a
// snapshot of everything around it, and the files a crawl must store.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "report/datetext.h"

namespace quorbit {

// The time every site file is stamped with: 3 Feb 2001 04:05:06 UTC, which a
// stored copy carries as 03-02-01 04:05:06 (servers send GMT, taken as written).
PackedDateTime ServedDate();

// Writes root/path (making its directories) and stamps it with ServedDate.
void AddSiteFile(const std::string& root, const std::string& path, std::string_view content);

// Copies a directory tree under to, points every absolute web address in its
// pages at "localhost" (so a crawl never leaves this machine), and stamps
// every file. False when from is not a directory.
bool CopyDocTree(const std::string& from, const std::string& to);

// Regular files below dir, as paths relative to it.
std::set<std::string> StoredFiles(const std::string& dir);

// Every entry below root except skip and what lies below it: path, kind,
// size, time and a hash of the contents, one line each.
std::string TreeSnapshot(const std::string& root, const std::string& skip);

struct PageLink {
  bool embedded;  // SRC (else HREF)
  std::string value;
};
// The double-quoted SRC and HREF values of a page, found the way the page
// tokens are: names anywhere, in any case, white space around "=".
std::vector<PageLink> PageLinks(const std::string& html);

// Files below start's directory that a crawl of root from start must store
// (as paths relative to that directory): SRC links from every page, HREF
// links from pages above lastLevel; only relative links to files of the site.
std::set<std::string> ExpectedCrawl(const std::string& root, const std::string& start,
                                    int lastLevel);

// Relative links of the stored page that name no stored file (anchors,
// queries and addresses with a scheme are left out).
std::vector<std::string> DanglingLocalLinks(const std::string& storeDir, const std::string& page);

// The request targets of an nginx access log, in the order requested.
std::vector<std::string> RequestTargets(const std::string& accessLog);

// The targets requested more than once, and those holding a "." or ".."
// segment: what a crawl that asks for each file once never sends.
std::vector<std::string> RepeatedOrDottedTargets(const std::vector<std::string>& targets);

}  // namespace quorbit
