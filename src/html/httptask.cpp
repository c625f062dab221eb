#include "html/httptask.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

#include "html/htmlpars.h"
#include "html/htmlunit.h"
#include "http/httpreport.h"
#include "report/logunit.h"
#include "util/crcunit.h"
#include "util/dosutil.h"
#include "util/emptyguard.h"

namespace {

// SRC links (images, frames) are followed below the last HREF level too, but
// a chain of pages that embed each other under ever new addresses has to end
// somewhere: at most this many levels below LEVEL. Real framesets nest two or
// three deep, so eight keeps every real page whole.
constexpr int kEmbedDepthBeyondLevel = 8;
// Levels are counted in 8 bits; no call may go beyond this one.
constexpr int kLastPossibleLevel = 255;

constexpr std::string_view kHttpPrefix = "HTTP://";
constexpr std::string_view kSeparator(&kPathSep, 1);

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// prefix + value, cut to N characters as a whole.
template <std::size_t N>
ShortStr<N> Joined(std::string_view prefix, std::string_view value) {
  ShortStr<N> text(prefix);
  text += value;
  return text;
}

// --- Local paths -----------------------------------------------------------

// The path as the file system resolves it when no part is a link: "." and
// empty parts dropped, each ".." taking away the part before it. A relative
// path keeps the ".." that climb above its start; "/.." is "/".
Str255 NormalPath(std::string_view path) {
  const bool absolute = StartsWith(path, kSeparator);
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    const std::size_t end = path.find(kPathSep);
    const std::string_view part = path.substr(0, end);
    path = end == std::string_view::npos ? std::string_view() : path.substr(end + 1);
    if (part.empty() || part == ".") continue;
    if (part != "..") {
      parts.push_back(part);
    } else if (!parts.empty() && parts.back() != "..") {
      parts.pop_back();
    } else if (!absolute) {
      parts.push_back(part);
    }
  }
  Str255 normal;
  if (absolute) normal += kPathSep;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) normal += kPathSep;
    normal += parts[i];
  }
  return normal;
}

// True when path, once resolved, is root or lies below it.
bool WithinDirectory(std::string_view path, std::string_view root) {
  const Str255 inner = NormalPath(path);
  const Str255 outer = NormalPath(root);
  if (outer.Empty()) {  // the current directory
    return !StartsWith(inner, kSeparator) && inner.View() != ".." &&
           !StartsWith(inner, Cat("..", kSeparator));
  }
  if (outer.View() == kSeparator) return StartsWith(inner, kSeparator);
  return inner.View() == outer.View() || StartsWith(inner, outer + kPathSep);
}

// --- Link resolution -------------------------------------------------------

// True when the upper-cased link names the page's own server: it begins with
// the base URL, and the host ends there (so "http://host10" is not "http://host1").
bool NamesPageServer(std::string_view upperLink, std::string_view upperBase) {
  return StartsWith(upperLink, upperBase) &&
         (upperLink.size() == upperBase.size() || upperLink[upperBase.size()] == '/');
}

// A link into the page's own server loses the server part and the page's
// directory; a link to another server stays whole, and its file goes to a
// subdirectory named by the CRC-32 of that server's upper-cased host.
void ReduceToPagePath(Str255& link, const PageContext& page, Str80& location) {
  const Str255 upperLink = UpperStr(link);
  const Str255 upperBase = UpperStr(page.baseUrl);
  const Str255 upperDirectory = UpperStr(page.directory);
  if (NamesPageServer(upperLink, upperBase)) {
    link.Delete(1, upperBase.Length());
    if (StartsWith(UpperStr(link), upperDirectory)) {
      link.Delete(1, upperDirectory.Length());
      if (StartsWith(link, "/")) link.Delete(1, 1);
    }
  } else if (StartsWith(upperLink, upperDirectory)) {
    link.Delete(1, upperDirectory.Length());
  } else if (StartsWith(upperLink, kHttpPrefix)) {
    std::string_view host = upperLink.View().substr(kHttpPrefix.size());
    host = host.substr(0, host.find('/'));
    location += HexLong(Crc32(host)).View();
    location += kPathSep;
  }
}

// The local directory follows the link's path from the page's directory,
// for absolute paths too; "\" separates like "/".
void AppendLinkDirectory(Str80& location, std::string_view link) {
  Str255 path(link);
  ReplaceChars(path, CharSet("/\\"), kPathSep);
  const std::size_t last = path.View().rfind(kPathSep);
  if (last == std::string_view::npos) return;
  std::string_view directory = path.View().substr(0, last);
  if (StartsWith(directory, kSeparator)) directory.remove_prefix(1);
  EnsureTrailing(location, kPathSep);
  location += directory;
  EnsureTrailing(location, kPathSep);
}

Str255 AbsoluteAddress(std::string_view link, const PageContext& page) {
  Str255 url = page.baseUrl;
  if (!StartsWith(link, "/")) url += page.directory.View();
  url += link;
  return url;
}

// A directory cut at its maximum no longer ends with the separator and is
// not where the link points; one that climbs out of the root is refused.
bool SafeLocation(const Str80& location, const Str80& root) {
  return location.Last() == kPathSep && WithinDirectory(location, root);
}

// --- Following links -------------------------------------------------------

// What the pages of one assignment share while its links are followed.
struct AssignmentRun {
  VisitedUrlSet& visited;
  Str80 root;                     // nothing is stored outside it
  std::vector<Str255> openPages;  // resolved paths of the pages being scanned
  // The level each page was scanned at, by the CRC-32 of its visited key.
  std::unordered_map<std::uint32_t, std::uint8_t> pageLevels;
};

// What one fetch came to.
enum class Fetched : std::uint8_t {
  Nothing,  // not stored (or not with status 200)
  File,     // stored
  Page,     // stored, and scanned for links as an HTML page
};

// True when the page under key was scanned further from the first page than
// level. Links are followed depth first, so a page may be met first by a long
// way and later by a shorter one; from there its links reach further, and
// it is fetched again so that every file within LEVEL links is stored.
bool ScannedFurtherOut(const AssignmentRun& run, std::string_view key, std::uint8_t level) {
  const auto found = run.pageLevels.find(Crc32(key));
  return found != run.pageLevels.end() && found->second > level;
}

// The name HttpGet will store the link's file under: the last part of its
// path (the default name for a bare host), made safe, and in 8.3 form when
// short names are used.
Str255 ExpectedFileName(const HttpTask& linkTask) {
  std::string_view url = linkTask.URI;
  if (StartsWith(UpperStr(url), kHttpPrefix)) url.remove_prefix(kHttpPrefix.size());
  const std::size_t first = url.find('/');
  const std::size_t last = url.rfind('/');
  Str255 name = first == std::string_view::npos
                    ? StoredFileName("", "/")
                    : StoredFileName(url.substr(last + 1), url.substr(first, last - first + 1));
  if (linkTask.SHORTNAMES) name = ShortFileName(linkTask.LOCATION, name);
  return name;
}

// True when the link would be stored over a page that is still being scanned
// (this one or one further up the chain).
bool LandsOnOpenPage(const AssignmentRun& run, const HttpTask& linkTask) {
  const Str255 path = NormalPath(Cat(linkTask.LOCATION, ExpectedFileName(linkTask)));
  return std::any_of(run.openPages.begin(), run.openPages.end(),
                     [&](const Str255& open) { return open.View() == path.View(); });
}

// The visited set's key for an address: host names know no letter case, but
// paths on the servers of this system do (FAQ.html and faq.html are two
// files), so only the scheme and host are upper-cased.
Str255 VisitedKey(std::string_view url) {
  Str255 key(url);
  const std::size_t hostStart = StartsWith(UpperStr(key), kHttpPrefix) ? kHttpPrefix.size() : 0;
  const std::size_t hostEnd = std::min(key.View().find('/', hostStart), key.Length());
  for (std::size_t i = 0; i < hostEnd; ++i) key[i] = UpperLetter(key[i]);
  return key;
}

// HREF links only from pages above the last level; SRC links from every
// level, within the embedding bound.
bool LevelAllows(const HttpTask& task, std::uint8_t level, std::uint16_t kind) {
  const int lastLevel = task.LEVEL;
  if (kind == SrcLink) {
    return level < std::min(lastLevel + kEmbedDepthBeyondLevel, kLastPossibleLevel);
  }
  return level < lastLevel;
}

// The link's local directory as seen from the page: relative, with "/".
Str255 LocalLinkDirectory(std::string_view linkLocation, std::string_view pageLocation) {
  std::string_view directory = linkLocation;
  if (StartsWith(directory, pageLocation)) directory.remove_prefix(pageLocation.size());
  Str255 local(directory);
  ReplaceChars(local, CharSet(kSeparator), '/');
  if (StartsWith(local, "/")) local.Delete(1, 1);
  return local;
}

Fetched ProcessAtLevel(AssignmentRun& run, HttpTask& task, std::uint8_t level);

void FollowLink(AssignmentRun& run, const HttpTask& task, std::uint8_t level,
                const PageContext& page, LinkScanner& scanner, std::uint16_t kind,
                std::string_view text) {
  const LinkToken token = SplitLinkToken(text);
  const ResolvedLink resolved = ResolveLink(token.link, page);
  HttpTask linkTask = task;
  linkTask.URI = resolved.url;
  linkTask.LOCATION = resolved.location;
  const Str255 key = VisitedKey(resolved.url);
  const auto linkLevel = static_cast<std::uint8_t>(level + 1);
  const bool known = run.visited.Contains(key);
  const bool wanted = resolved.followable && (!known || ScannedFurtherOut(run, key, linkLevel));
  // A page still being scanned is not fetched again: storing over it would
  // garble its own scan, and pages that embed each other would never end.
  const bool open = wanted && LandsOnOpenPage(run, linkTask);
  Fetched fetched = Fetched::Nothing;
  if (wanted && !open && LevelAllows(task, level, kind) && EnsureDirectory(linkTask.LOCATION)) {
    scanner.SuspendScan();
    fetched = ProcessAtLevel(run, linkTask, linkLevel);
    scanner.ResumeScan();
  }
  if (!task.TRANSLATE) return;
  // Written in pieces, so that a long address can never cut off the quote.
  scanner.WriteText(token.head);
  if (resolved.followable && (known || open || fetched != Fetched::Nothing)) {
    if (!known && fetched != Fetched::Nothing) run.visited.Add(key);
    if (fetched == Fetched::Page) run.pageLevels[Crc32(key)] = linkLevel;
    scanner.WriteText(LocalLinkDirectory(linkTask.LOCATION, task.LOCATION));
    scanner.WriteText(AfterLast(linkTask.URI, '/', 1));
  } else {
    scanner.WriteText(resolved.url);
  }
  scanner.WriteText(resolved.fragment);
  scanner.WriteText(token.tail);
}

void ScanPage(AssignmentRun& run, HttpTask& task, std::uint8_t level, const HttpSession& session,
              const Str255& storedName) {
  auto scanner = std::make_unique<LinkScanner>();
  const Str255 page = Cat(task.LOCATION, storedName);
  if (!scanner->OpenPage(page)) {
    RunLog::Show(Cat(Joined<100>("Unable to find/open ", task.LOCATION), storedName));
    return;
  }
  const Str255 parsing = Cat(Joined<88>("Parsing ", task.LOCATION), storedName);
  RunLog::ShowAndWrite(parsing, parsing);
  const bool copying = task.TRANSLATE && scanner->BeginRewrite(task.LOCATION);
  const PageContext context{session.BaseUrl(), session.Directory(), task.LOCATION, run.root};
  run.openPages.push_back(NormalPath(page));
  std::uint16_t kind = 0;
  Str255 text;
  while (scanner->NextToken(kind, text)) {
    if (kind == SrcLink || kind == HrefLink) {
      FollowLink(run, task, level, context, *scanner, kind, text);
    } else if (kind != BaseTag) {
      scanner->WriteText(text);
    }
  }
  run.openPages.pop_back();
  const bool replaced = copying && scanner->EndRewrite();
  if (task.TRANSLATE && !replaced) RunLog::Show(Cat("Unable to rewrite ", page));
  scanner->ClosePage();
  const Str255 finished = Cat(Joined<97>("Finished parsing ", task.LOCATION), storedName);
  RunLog::ShowAndWrite(finished, finished);
}

void ShowAssignment(const HttpTask& task) {
  const int levels = task.LEVEL;
  StatusDisplay::SetLine(1, Joined<96>("Processing task ", task.NAME));
  StatusDisplay::SetLine(2, Cat("Process ", IntToText(levels)) + " level(s)");
  StatusDisplay::SetLine(3, Joined<95>("Store files in ", task.LOCATION));
}

// One fetch: the session lives until the page and its links are done.
struct Fetch {
  explicit Fetch(std::string_view debugLog) : session(debugLog) {}
  ReportingHttpSession session;
  HttpResponse response;
};

Fetched ProcessAtLevel(AssignmentRun& run, HttpTask& task, std::uint8_t level) {
  if (level == 1) ShowAssignment(task);
  if (!EnsureDirectory(task.LOCATION)) {
    RunLog::Show(Joined<116>("Unable to create location directory ", task.LOCATION));
    return Fetched::Nothing;
  }
  if (level == 1 && !task.IFMOD)
    EmptyLocationUnlessGuarded(task.LOCATION, {LoadedIniFile, Settings.LOG, Settings.DEBUG_LOG});
  auto fetch = std::make_unique<Fetch>(Settings.DEBUG_LOG);
  if (!Settings.PROXY.Empty()) fetch->session.proxy = Settings.PROXY;
  const std::uint16_t port = task.PORT;
  if (!HttpGet(fetch->session, task.URI, task.LOCATION, port, task.IFMOD != 0, task.SHORTNAMES != 0,
               fetch->response)) {
    RunLog::Show(Joined<111>("Unable to complete download of ", task.URI));
    return Fetched::Nothing;
  }
  const HttpResponse& response = fetch->response;
  if (response.status != 200) return Fetched::Nothing;
  task.URI =
      fetch->session.BaseUrl() + fetch->session.Directory().View() + response.fileName.View();
  if (response.contentType.Pos("HTML") == 0) return Fetched::File;
  ScanPage(run, task, level, fetch->session, response.fileName);
  return Fetched::Page;
}

}  // namespace

LinkToken SplitLinkToken(std::string_view text) {
  LinkToken token;
  const std::size_t open = text.find('"');
  if (open == std::string_view::npos) {
    token.head = text;
    return token;
  }
  const std::size_t close = text.find('"', open + 1);
  token.head = text.substr(0, open + 1);
  std::string_view link = text.substr(
      open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
  if (close != std::string_view::npos) token.tail = text.substr(close);
  auto blankOrControl = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!link.empty() && blankOrControl(link.front())) link.remove_prefix(1);
  while (!link.empty() && blankOrControl(link.back())) link.remove_suffix(1);
  token.link = link;
  return token;
}

ResolvedLink ResolveLink(std::string_view linkText, const PageContext& page) {
  ResolvedLink resolved;
  resolved.location = page.location;
  if (StartsWith(linkText, "#")) {  // a place in the page itself
    resolved.url = linkText;
    return resolved;
  }
  const std::size_t hash = linkText.find('#');
  if (hash != std::string_view::npos) {
    resolved.fragment = linkText.substr(hash);
    linkText = linkText.substr(0, hash);
  }
  Str255 link(linkText.substr(0, linkText.find('?')));
  ReduceToPagePath(link, page, resolved.location);
  const Str255 upper = UpperStr(link);
  const bool otherScheme = StartsWith(upper, "MAILTO:") || StartsWith(upper, "FTP://");
  if (!otherScheme && !StartsWith(upper, kHttpPrefix)) {
    AppendLinkDirectory(resolved.location, link);
    link = AbsoluteAddress(link, page);
  }
  resolved.url = link;
  resolved.followable =
      !otherScheme && link.Last() != '/' && SafeLocation(resolved.location, page.root);
  return resolved;
}

bool ProcessHttpTask(HttpTask& task, std::uint8_t level, VisitedUrlSet& visited) {
  AssignmentRun run{visited, task.LOCATION, {}, {}};
  return ProcessAtLevel(run, task, level) != Fetched::Nothing;
}
