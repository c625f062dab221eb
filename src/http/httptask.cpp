#include "http/httptask.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "html/htmlrules.h"
#include "html/linkscanner.h"
#include "http/connectionpool.h"
#include "http/httpget.h"
#include "http/httpreport.h"
#include "http/urlkey.h"
#include "net/connection.h"
#include "report/runlog.h"
#include "util/crc32.h"
#include "util/directorytrees.h"
#include "util/emptyguard.h"
#include "util/fileattributes.h"
#include "util/localpaths.h"
#include "util/localsearch.h"
#include "util/shorttext.h"
#include "util/stoprequest.h"

namespace quorbit {

namespace {

bool HoldsEntries(std::string_view directory) {
  return !FindFiles(directory, "*", kAttrDirectory | kAttrHidden | kAttrSystem).empty();
}

// A fresh copy starts from an empty LOCATION, unless that would destroy files
// the user keeps there: then the screen and the run log say why. True when
// files of an earlier copy were removed.
bool EmptyLocationUnlessGuarded(std::string_view location, const RunContext& context) {
  const bool held = HoldsEntries(location);
  const std::string_view reason = EmptyUnlessGuarded(
      location, {context.iniFile, context.settings.LOG, context.settings.DEBUG_LOG});
  if (reason.empty()) return held;
  const std::string line = Cat("Not emptying LOCATION ", location, ": ", reason);
  RunLog::ShowAndWrite(line, line);
  return false;
}

// The earlier copy is gone and no new one came: the morning's reader must
// not take the empty directory for a site that has become empty.
void ReportEmptiedLocation(std::string_view location) {
  if (HoldsEntries(location)) return;
  RunLog::ShowAndWriteFailure(Cat("LOCATION ", location) +
                              " was emptied and is left empty: the download failed");
}

// A followed link becomes the URI and LOCATION of an assignment record: the
// limits must let both fit whole.
static_assert(kMaxLinkLength <= decltype(HttpTask::URI)::kMax);
static_assert(kMaxLocalDirectoryLength <= decltype(HttpTask::LOCATION)::kMax);

// SRC links (images, frames) are followed below the last HREF level too, but
// a chain of pages that embed each other under ever new addresses has to end
// somewhere: at most this many levels below LEVEL. Real framesets nest two or
// three deep, so eight keeps every real page whole.
constexpr int kEmbedDepthBeyondLevel = 8;
// Levels are counted in 8 bits; no fetch may go beyond this one.
constexpr int kLastPossibleLevel = 255;

constexpr std::string_view kHttpPrefix = "HTTP://";
constexpr std::string_view kHttpsPrefix = "HTTPS://";
// Separators of local directories in a link: "\" separates like "/".
constexpr std::string_view kLinkSeparators = "/\\";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         UpperStr(text.substr(0, prefix.size())) == UpperStr(prefix);
}

void ReportUncreatableLocation(std::string_view location, const FileResult& made) {
  RunLog::ShowAndWriteFailure("Unable to create location directory " + std::string(location) +
                              ": " + made.Reason());
}

// --- Addresses ---------------------------------------------------------------

// The page's own address: its host, the port it was fetched from, and its
// directory.
WebUrl PageAddress(const PageContext& page) {
  std::string_view host = page.baseUrl;
  const bool secure = StartsWithNoCase(host, kHttpsPrefix);
  if (secure) host.remove_prefix(kHttpsPrefix.size());
  if (StartsWithNoCase(host, kHttpPrefix)) host.remove_prefix(kHttpPrefix.size());
  WebUrl base{std::string(host), page.port, std::string(page.directory), secure};
  ParseAuthority(host, base);  // a port written with the host is not the one asked
  base.port = page.port;
  return base;
}

// A link under the page's scheme that names no port is fetched from the
// assignment's port, as is every file of the assignment; one that names
// another port cannot be. A link under the other scheme goes to the port it
// names or else to that scheme's default one.
std::uint16_t LinkPort(const WebUrl& url, const WebUrl& page) {
  if (url.port != 0) return url.port;
  return url.secure == page.secure ? page.port : DefaultPort(url.secure);
}

bool Reachable(const WebUrl& url, const WebUrl& page) {
  return url.secure != page.secure || LinkPort(url, page) == page.port;
}

bool SameServer(const WebUrl& url, const WebUrl& page) {
  return url.secure == page.secure && EqualIgnoringCase(url.host, page.host) &&
         Reachable(url, page);
}

// The local subdirectory of another server's files: the CRC-32 of its
// upper-cased host, for https servers after a prefix that no http server's
// name has.
std::string ServerDirectory(const WebUrl& url) {
  const std::string crc(HexLong(Crc32(UpperStr(url.host))));
  return url.secure ? "https_" + crc : crc;
}

// The visited set's key; the port is the one the address is fetched from.
std::string VisitedKey(const WebUrl& url, std::uint16_t port) {
  return UrlKey({url.host, url.port != 0 ? url.port : port, url.path, url.secure});
}

// The request for an address; the port goes to the connection apart.
std::string RequestText(const WebUrl& url) {
  return std::string(SchemePrefix(url.secure)) + url.host + url.path;
}

// The key of the assignment's own address ("http://" may be left out).
std::string StartKey(std::string_view uri, std::uint16_t port) {
  WebUrl scheme;
  scheme.secure = StartsWithNoCase(uri, kHttpsPrefix);
  if (scheme.secure) uri.remove_prefix(kHttpsPrefix.size());
  if (StartsWithNoCase(uri, kHttpPrefix)) uri.remove_prefix(kHttpPrefix.size());
  const std::optional<WebUrl> url = ResolveReference("//" + std::string(uri), scheme);
  return url ? VisitedKey(*url, port) : std::string();
}

// --- Local paths -----------------------------------------------------------

bool IsLinkSeparator(char c) {
  return kLinkSeparators.find(c) != std::string_view::npos;
}

// location (which begins with root) with "." and ".." resolved below root;
// empty when it climbs out of root. Only the part after root is resolved:
// root itself stays as written, so that the file system reads it alike for
// every file of the assignment.
std::optional<std::string> PlaceBelowRoot(std::string_view location, std::string_view root) {
  if (!StartsWith(location, root)) return std::nullopt;
  std::vector<std::string_view> parts;
  std::string_view rest = location.substr(root.size());
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find_first_of(kLinkSeparators), rest.size());
    const std::string_view part = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (part.empty() || part == ".") continue;
    if (part != "..") {
      parts.push_back(part);
    } else if (parts.empty()) {
      return std::nullopt;
    } else {
      parts.pop_back();
    }
  }
  std::string placed(root);
  if (!placed.empty() && !IsLinkSeparator(placed.back())) placed += kPathSep;
  for (std::string_view part : parts) {
    placed += part;
    placed += kPathSep;
  }
  return placed;
}

// The local directory of a link: the page's own directory followed by the
// link's path (for absolute paths too, less the page's directory where it
// begins with it). Another server's files go to its ServerDirectory. Empty when the directory would
// leave the root or not fit.
std::optional<std::string> LinkLocation(const UrlReference& ref, const WebUrl& url,
                                        const PageContext& page) {
  std::string location(page.location);
  std::string_view path = ref.path;
  if (ref.hasAuthority && !SameServer(url, PageAddress(page))) {
    location += ServerDirectory(url);
    location += kPathSep;
    path = {};
  }
  if (StartsWithNoCase(path, page.directory)) path.remove_prefix(page.directory.size());
  const std::size_t last = path.find_last_of(kLinkSeparators);
  if (last != std::string_view::npos) {
    location += kPathSep;
    location += path.substr(0, last);
  }
  std::optional<std::string> placed = PlaceBelowRoot(location, page.root);
  if (!placed || placed->size() > kMaxLocalDirectoryLength) return std::nullopt;
  return placed;
}

// A local path made absolute (from the current directory) with "." and ".."
// resolved, so that two spellings of one file compare equal.
std::string AbsoluteLocalPath(std::string_view path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(std::string(path), error);
  return (error ? std::filesystem::path(std::string(path)) : absolute).lexically_normal().string();
}

// The stored file as a link from the page's directory sees it.
std::string LocalLink(std::string_view pageDirectory, std::string_view storedPath) {
  return std::filesystem::path(storedPath)
      .lexically_relative(std::string(pageDirectory))
      .generic_string();
}

// --- Following links -------------------------------------------------------

// A file still to be fetched: its assignment record and level.
struct QueuedFetch {
  HttpTask task;
  std::uint8_t level;
  std::string key;
};

// A stored HTML page, to be rewritten when every file has been fetched.
// Kept for every page of the assignment: its texts take only their length.
struct StoredPage {
  std::string file;       // as the page is opened
  std::string directory;  // absolute, for the links written into it
  PageContext context;
};

// What the fetches of one assignment share.
struct AssignmentRun {
  const RunContext& context;
  VisitedUrlSet& visited;
  std::string root;  // nothing is stored outside it
  std::deque<QueuedFetch> queue;
  // By absolute path: a file stored over a page replaces it here too.
  std::map<std::string, StoredPage> pages;
  // Addresses whose redirect led to a known one (perhaps still queued): their
  // file is that address's file, once every fetch is done.
  std::vector<std::pair<std::string, std::string>> aliases;
  // The connection the last fetch left open, for the next fetch from its server.
  KeptConnection kept;
  // Links to new addresses met while the queue or the visited set was full.
  std::uint64_t linksNotFollowed = 0;
};

// HREF links only from pages above the last level; SRC links from every
// level, within the embedding bound.
bool LevelAllows(const HttpTask& task, std::uint8_t level, std::uint16_t kind) {
  const int lastLevel = task.LEVEL;
  if (kind == SrcLink) {
    return level < std::min(lastLevel + kEmbedDepthBeyondLevel, kLastPossibleLevel);
  }
  return level < lastLevel;
}

// Queues the link's file unless its address is known already.
void QueueLink(AssignmentRun& run, const HttpTask& task, std::uint8_t level,
               const PageContext& page, std::uint16_t kind, std::string_view text) {
  if (!LevelAllows(task, level, kind)) return;
  const ResolvedLink link = ResolveLink(SplitLinkToken(text).link, page);
  if (!link.followable || run.visited.Contains(link.key)) return;
  if (run.queue.size() >= kLinkQueueCapacity || run.visited.Full()) {
    ++run.linksNotFollowed;
    return;
  }
  if (std::string refusal; !EnsureDirectoryBelow(run.root, link.location, refusal)) {
    if (!refusal.empty()) RunLog::ShowAndWriteFailure(refusal);
    return;
  }
  run.visited.Add(link.key);
  HttpTask linkTask = task;
  linkTask.URI = link.request;
  linkTask.LOCATION = link.location;
  linkTask.PORT = link.port;
  run.queue.push_back({linkTask, static_cast<std::uint8_t>(level + 1), link.key});
}

// Reads the stored page (file, named storedName in the log lines) for its
// links and queues the files they name.
void ScanPage(AssignmentRun& run, const HttpTask& task, std::uint8_t level, const PageContext& page,
              const std::string& file, std::string_view storedName) {
  auto scanner = std::make_unique<LinkScanner>();
  if (!scanner->OpenPage(file)) {
    RunLog::ShowAndWriteFailure(Cat("Unable to find/open ", task.LOCATION, storedName));
    return;
  }
  const std::string parsing = Cat("Parsing ", task.LOCATION, storedName);
  RunLog::ShowAndWrite(parsing, parsing);
  std::uint16_t kind = 0;
  std::string text;
  while (!StopRequested() && scanner->NextToken(kind, text)) {
    if (kind == SrcLink || kind == HrefLink) QueueLink(run, task, level, page, kind, text);
  }
  scanner->ClosePage();
  const std::string finished = Cat("Finished parsing ", task.LOCATION, storedName);
  RunLog::ShowAndWrite(finished, finished);
  if (task.TRANSLATE) {
    const std::string path = AbsoluteLocalPath(file);
    run.pages[path] = {file, AbsoluteLocalPath(task.LOCATION), page};
  }
}

// Writes the link back: to the local copy when its address was stored,
// otherwise to the server.
void WriteLink(LinkScanner& scanner, const VisitedUrlSet& visited, const StoredPage& page,
               std::string_view text) {
  const LinkToken token = SplitLinkToken(text);
  const ResolvedLink link = ResolveLink(token.link, page.context);
  const std::string_view stored = link.key.empty() ? "" : visited.StoredPath(link.key);
  // Written in pieces, so that a long address can never cut off the quote.
  scanner.WriteText(token.head);
  scanner.WriteText(stored.empty() ? link.url : LocalLink(page.directory, stored));
  scanner.WriteText(link.fragment);
  scanner.WriteText(token.tail);
}

// Replaces the page by a copy whose links point at the stored files; BASE
// tags are left out, so that the copy's links are read from its own place.
void RewritePage(const VisitedUrlSet& visited, const StoredPage& page) {
  auto scanner = std::make_unique<LinkScanner>();
  bool replaced = false;
  if (scanner->OpenPage(page.file) && scanner->BeginRewrite(page.context.location)) {
    std::uint16_t kind = 0;
    std::string text;
    while (scanner->NextToken(kind, text)) {
      if (kind == SrcLink || kind == HrefLink) {
        WriteLink(*scanner, visited, page, text);
      } else if (kind != BaseTag) {
        scanner->WriteText(text);
      }
    }
    replaced = scanner->EndRewrite();
  }
  scanner->ClosePage();
  if (!replaced) RunLog::ShowAndWriteFailure(Cat("Unable to rewrite ", page.file));
}

void ShowAssignment(const HttpTask& task) {
  const int levels = task.LEVEL;
  StatusDisplay::SetLine(1, Cat("Processing task ", task.NAME));
  StatusDisplay::SetLine(2, Cat("Process ", IntToText(levels)) + " level(s)");
  StatusDisplay::SetLine(3, Cat("Store files in ", task.LOCATION));
}

// The session of one fetch. Given the visited set, it follows no redirect
// to an address already known: that file is fetched once per run.
class FetchSession : public ReportingHttpSession {
 public:
  FetchSession(std::string_view debugLog, const VisitedUrlSet* known)
      : ReportingHttpSession(debugLog), known_(known) {}

  bool MayFollow(const WebUrl& target) override {
    const std::string targetKey = VisitedKey(target, target.port);
    if (known_ == nullptr || !known_->Contains(targetKey)) return true;
    knownTarget = targetKey;
    return false;
  }

  std::string knownTarget;  // the known address a redirect led to

 private:
  const VisitedUrlSet* known_;
};

// One fetch: the session lives until the page has been read for links.
struct Fetch {
  Fetch(std::string_view debugLog, const VisitedUrlSet* known) : session(debugLog, known) {}
  FetchSession session;
  HttpResponse response;
};

// Records where the address (when it has a key) was stored.
void RecordStored(VisitedUrlSet& visited, const std::string& key, const std::string& stored) {
  if (key.empty()) return;
  visited.Add(key);
  visited.SetStoredPath(key, stored);
}

// Fetches one file into the task's LOCATION and records where it went, under
// the address asked for and the one a redirect led to; an HTML page is read
// for links, whose files join the queue. A redirect leads the task to the
// server it names: the page's links are read as that server's, and the
// files they name are fetched from it. A linked file (not the assignment's
// own) that redirects to a known address is that address's file. True when
// the fetch ended with status 200.
bool FetchFile(AssignmentRun& run, HttpTask& task, std::uint8_t level, const std::string& key,
               bool linked) {
  if (const FileResult made = EnsureDirectory(task.LOCATION); !made) {
    ReportUncreatableLocation(task.LOCATION, made);
    return false;
  }
  auto fetch =
      std::make_unique<Fetch>(run.context.settings.DEBUG_LOG, linked ? &run.visited : nullptr);
  FetchSession& session = fetch->session;
  session.proxy = run.context.settings.PROXY.Str();
  session.keep = &run.kept;
  session.storeRoot = run.root;
  session.tls = {VerifiesCertificates(task), run.context.settings.CA_FILE.Str()};
  std::string location = task.LOCATION.Str();
  const bool got =
      HttpGet(session, task.URI, location, task.PORT,
              {.ifModified = task.IFMOD != 0, .shortNames = task.SHORTNAMES != 0}, fetch->response);
  // A redirect to the address as a directory has extended the location, within
  // the width of LOCATION.
  task.LOCATION = location;
  if (!got) {
    if (!session.knownTarget.empty()) {
      run.aliases.emplace_back(key, session.knownTarget);
      return false;
    }
    RunLog::ShowAndWriteFailure(Cat("Unable to complete download of ", task.URI));
    return false;
  }
  const HttpResponse& response = fetch->response;
  if (response.status != 200) return false;
  const std::uint16_t port = session.address.port;
  task.PORT = port;
  task.URI = session.BaseUrl() + session.Directory() + response.fileName;
  const std::string stored = AbsoluteLocalPath(session.storedPath);
  RecordStored(run.visited, key, stored);
  RecordStored(run.visited, VisitedKey(session.address, port), stored);
  run.pages.erase(stored);
  if (response.contentType.find("HTML") == std::string::npos) return true;
  const PageContext page{session.BaseUrl(), session.Directory(), location, run.root, port};
  ScanPage(run, task, level, page, session.storedPath, response.fileName);
  return true;
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
  resolved.url = linkText;
  resolved.location = page.location;
  if (StartsWith(linkText, "#")) return resolved;  // a place in the page itself
  const std::size_t hash = linkText.find('#');
  const std::string_view address = linkText.substr(0, hash);
  const std::optional<WebUrl> url = ResolveReference(address, PageAddress(page));
  if (!url) return resolved;  // another scheme, or no server that can be asked
  const std::string request = RequestText(*url);
  // Cut to the longest request it would be another address.
  if (request.size() > kMaxLinkLength) return resolved;
  resolved.url = UrlText(*url);
  if (hash != std::string_view::npos) resolved.fragment = linkText.substr(hash);
  const WebUrl base = PageAddress(page);
  resolved.port = LinkPort(*url, base);
  resolved.key = VisitedKey(*url, resolved.port);
  resolved.request = request;
  const std::optional<std::string> location = LinkLocation(SplitReference(address), *url, page);
  if (location) resolved.location = *location;
  resolved.followable = location && Reachable(*url, base) && !url->path.ends_with('/');
  return resolved;
}

bool ProcessHttpTask(HttpTask& task, std::uint8_t level, VisitedUrlSet& visited,
                     const RunContext& context) {
  if (level == 1) ShowAssignment(task);
  if (level == 1 && !VerifiesCertificates(task)) {
    LogNotVerifying(task.URI);
  }
  if (const FileResult made = EnsureDirectory(task.LOCATION); !made) {
    ReportUncreatableLocation(task.LOCATION, made);
    return false;
  }
  const bool emptied =
      level == 1 && !task.IFMOD && EmptyLocationUnlessGuarded(task.LOCATION, context);
  AssignmentRun run{context, visited, WithTrailing(task.LOCATION, kPathSep), {}, {}, {}, {}, 0};
  const std::string key = StartKey(task.URI, task.PORT);
  if (!key.empty()) visited.Add(key);
  const bool stored = FetchFile(run, task, level, key, false);
  if (!stored && emptied) ReportEmptiedLocation(run.root);
  // Level by level: every file is met first by its shortest way.
  while (!run.queue.empty() && !StopRequested()) {
    QueuedFetch next = std::move(run.queue.front());
    run.queue.pop_front();
    FetchFile(run, next.task, next.level, next.key, true);
  }
  if (run.linksNotFollowed != 0) {
    RunLog::ShowAndWriteFailure(Cat("Link limit reached: ", std::to_string(run.linksNotFollowed)) +
                                " links not followed");
  }
  for (const auto& [alias, target] : run.aliases) {
    RecordStored(visited, alias, std::string(visited.StoredPath(target)));
  }
  for (const auto& [path, page] : run.pages) {
    if (StopRequested()) break;
    RewritePage(visited, page);
  }
  return stored;
}

}  // namespace quorbit
