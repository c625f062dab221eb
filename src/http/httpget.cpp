#include "http/httpget.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "http/bodyframing.h"
#include "http/connectionpool.h"
#include "http/headreader.h"
#include "http/urlkey.h"
#include "report/runlog.h"
#include "util/directorytrees.h"
#include "util/fileattributes.h"
#include "util/filemasks.h"
#include "util/localpaths.h"
#include "util/partfiles.h"
#include "util/shorttext.h"
#include "util/stoprequest.h"
#include "util/timer.h"

namespace quorbit {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kLocalPathMax = 254;  // longest local file path

bool IsMovedOrFound(std::uint16_t status) {
  return status == 301 || status == 302;
}

// A 301 or 302 is followed even without LOCATION (as a directory); the other
// redirects only to the address they name.
bool IsRedirect(const HttpResponse& response) {
  const std::uint16_t status = response.status;
  const bool named = !response.location.empty() || response.locationTooLong;
  return IsMovedOrFound(status) || ((status == 303 || status == 307 || status == 308) && named);
}

std::string_view CutAt(std::string_view text, char c) {
  return text.substr(0, text.find(c));
}

// "/docs/" gives "docs.html", "/" gives "index.html".
std::string NameForDirectory(std::string_view directory) {
  if (!directory.empty() && directory.back() == '/') directory.remove_suffix(1);
  std::string_view last = directory.substr(directory.rfind('/') + 1);
  return last.empty() ? std::string("index.html") : std::string(last) + ".html";
}

// folder (ending with the separator) + name, at most limit bytes. The part
// of the name that fits is made safe again, because cutting "..." can leave
// "..". Empty when not even one byte of the name fits, so that nothing is
// ever stored in the folder's parent under a cut name.
std::string JoinLocal(std::string_view folder, std::string_view name, std::size_t limit) {
  if (name.empty() || folder.size() >= limit) return {};
  return std::string(folder) + SafeFileName(name.substr(0, limit - folder.size()));
}

// The local directory of a redirect retry: one subdirectory named after the
// file part. Left as it is when the subdirectory would not fit
// kMaxLocalDirectoryLength.
void ExtendLocalDirectory(std::string& localDirectory, std::string_view name) {
  std::string sub =
      JoinLocal(WithTrailing(localDirectory, kPathSep), name, kMaxLocalDirectoryLength - 1);
  if (sub.empty()) return;
  sub += kPathSep;
  localDirectory = std::move(sub);
}

// Request line, "Host: " and the empty line. The port goes into both when it
// is not the default one, so that neither a proxy nor a virtual host loses it.
void SendRequest(HttpSession& session, std::string_view host, std::uint16_t port) {
  const std::string authority = Authority(session, host, port, false);
  std::string line = "GET ";
  if (!session.proxy.empty()) line += "HTTP://" + authority;
  line += EncodeRequestText(session.directory + session.file);
  line += " HTTP/1.1";
  session.connection.SendLines({line, "Host: " + authority, ""});
  session.answerDue = HeaderDeadline(session);
}

// The answer cannot be used at all: its line says why, and the connection,
// out of step with the server now, is closed without a line of its own.
void RefuseAnswer(HttpSession& session, std::string_view reason) {
  session.answerFailure = reason;
  RunLog::ShowAndWriteFailure(reason);
  DropConnection(session);
}

// 204 and 304 answers never have a body, whatever their header says.
bool HasNoBody(const HttpResponse& response) {
  const bool emptyByLength = response.framing == BodyFraming::Length && response.contentLength == 0;
  return response.status == 204 || response.status == 304 || emptyByLength;
}

// The status line and the fields of one answer, up to its empty line; the
// fields of an interim answer before it are forgotten. When the head breaks
// off, what came of it whole is kept (a status line, the fields before the
// break). refusal says why a whole head cannot be used.
bool ReadAnswerHeader(HttpSession& session, HttpResponse& response, HeaderBudget& budget,
                      HeadRefusal& refusal) {
  std::string text;
  const bool whole = CollectHead(session.connection, budget, text);
  ResponseHead head = ParseResponseHead(text);
  head.response.fileName = response.fileName;
  response = head.response;
  session.statusLine = head.statusLine;
  refusal = head.refusal;
  return whole;
}

void ReportProgress(HttpSession& session, const HttpResponse& response, std::int64_t total) {
  if (response.contentLength > 0) {
    const std::int64_t length = response.contentLength;
    session.PercentEvent(static_cast<std::int32_t>((total * 100 + length / 2) / length));
  } else {
    session.BytesEvent(total);
  }
}

// Writes the body to out block by block; true when all of it arrived and
// was written.
bool CopyBody(HttpSession& session, PartFile& out, const HttpResponse& response) {
  BodyReader body = ReaderFor(session.connection, session.bodyIdleSeconds, response);
  session.responseRead = ResponseRead::Partly;  // until the body has ended
  // On the heap: the assignment's recursion runs on a thread's stack.
  std::vector<char> block(kBlockSize);
  std::int64_t total = 0;
  std::uint16_t got = 0;
  while (NextBodyBlock(body, block.data(), got)) {
    if (!out.Write(block.data(), got)) return false;
    total += got;
    ReportProgress(session, response, total);
  }
  session.responseRead = EndedAsFramed(body) ? ResponseRead::Whole : ResponseRead::Partly;
  // The server's close ended the body as it should: no interruption.
  if (body.complete && body.framing == BodyFraming::UntilClose) DropConnection(session);
  return body.complete;
}

// Stores the body through a PartFile; the stored copy is replaced, and then
// stamped with LAST-MODIFIED, only when the whole body arrived and was
// written. A body that arrived whole but could not be put in place counts
// as a file that could not be created.
bool StoreBody(HttpSession& session, const std::string& path, HttpResponse& response) {
  PartFile part(path, session.storeRoot);
  if (!part.Create()) {
    if (part.Refusal().empty()) {
      session.FileEvent(HttpFileEvent::CreateFailed, response);
    } else {
      RunLog::ShowAndWriteFailure(part.Refusal());
    }
    return false;
  }
  session.FileEvent(HttpFileEvent::Downloading, response);
  Stopwatch watch;
  watch.Start();
  const bool complete = CopyBody(session, part, response);
  response.transferTime = watch.Elapsed();
  const bool stored = complete && part.Commit();
  if (stored) {
    session.FileEvent(HttpFileEvent::Complete, response);
  } else {
    session.FileEvent(complete ? HttpFileEvent::CreateFailed : HttpFileEvent::Incomplete, response);
  }
  if (response.contentLength > 0) {
    session.PercentEvent(kProgressEnd);
  } else {
    session.BytesEvent(kProgressEnd);
  }
  if (stored && response.lastModified != 0) SetFileDate(path, response.lastModified);
  return stored;
}

bool RemoteChanged(const HttpResponse& response, std::string_view path) {
  return response.lastModified == 0 || response.lastModified != GetFileDate(path);
}

// One request of url, on the connection left open for its server or on a new
// one, its answer stored as ReceiveBody says. An open connection the server
// has closed meanwhile gives no answer at all: the request is then made once
// more on a new connection.
bool RequestOnce(HttpSession& session, std::string_view url, std::string& localDirectory,
                 std::uint16_t port, const GetOptions& options, HttpResponse& response) {
  // The answer of an earlier hop must not be taken for this one's when no
  // answer comes.
  response = HttpResponse();
  const std::string host = SplitUrl(session, url);
  session.address = {host, port, session.directory + session.file, session.secure};
  const std::string server = ServerKey(session, host, port);
  if (session.openServer != server) CloseConnection(session);
  TakeKeptConnection(session, server);
  // Bytes that came unasked for would be taken for the answer to this request.
  if (session.connection.BytesWaiting()) CloseConnection(session);
  const bool reused = !session.openServer.empty();
  if (!reused && !OpenConnection(session, host, port)) return false;
  SendRequest(session, host, port);
  // A kept connection the server has closed or reset ends before the answer
  // is due; one that stays silent until then is a server too slow to answer.
  if (reused && !session.connection.WaitReadableUntil(session.answerDue) &&
      Clock::now() < session.answerDue) {
    session.connection.ResetState();
    session.openServer.clear();
    if (StopRequested() || !OpenConnection(session, host, port)) return false;
    SendRequest(session, host, port);
  }
  const bool stored = ReceiveBody(session, localDirectory, options, response);
  if (!StaysOpen(session, response)) CloseConnection(session);
  return stored;
}

// The address requested, with "/" added: what a 301 or 302 without LOCATION
// is taken to mean.
WebUrl DirectoryForm(const WebUrl& address) {
  return {address.host, address.port, address.path + "/", address.secure};
}

bool IsDirectoryForm(const WebUrl& target, const WebUrl& address) {
  return UrlKey(target) == UrlKey(DirectoryForm(address));
}

// Where the redirect just answered leads; empty when it cannot be followed.
std::optional<WebUrl> NextAddress(const HttpSession& session, const HttpResponse& response) {
  if (response.locationTooLong) return std::nullopt;
  if (response.location.empty()) return DirectoryForm(session.address);
  return RedirectTarget(response.location, session.address);
}

// Follows the redirect just answered (its hop number given): a redirect to
// the address as a directory, in the first place, stores the file in a
// subdirectory of that name, as a directory page; any other keeps the name
// the first address gave. Sets url and port to the next request; false (the
// reason raised) when the chain ends here.
bool FollowRedirect(HttpSession& session, HttpResponse& response, int hop, std::string& url,
                    std::uint16_t& port, std::string& localDirectory,
                    std::vector<std::string>& asked) {
  if (response.location.empty() && !response.locationTooLong && session.file.empty()) return false;
  const std::optional<WebUrl> target = NextAddress(session, response);
  const std::string text = target ? UrlText(*target) : std::string(response.location);
  if (!target || text.size() > kMaxRedirectLength) {
    response.location = text;
    session.FileEvent(HttpFileEvent::RedirectRefused, response);
    return false;
  }
  asked.push_back(UrlKey(session.address));
  if (hop > kMaxRedirects ||
      std::find(asked.begin(), asked.end(), UrlKey(*target)) != asked.end()) {
    session.FileEvent(HttpFileEvent::TooManyRedirects, response);
    return false;
  }
  port = target->port;
  if (session.storedName.empty() && IsDirectoryForm(*target, session.address)) {
    // As a retry of the same request: the URL keeps the form it was given in.
    ExtendLocalDirectory(localDirectory, session.file);
    EnsureDirectory(localDirectory);
    url =
        std::string(session.secure ? SchemePrefix(true) : "") + session.address.host + target->path;
    return true;
  }
  if (session.storedName.empty()) session.storedName = response.fileName;
  response.location = text;
  session.FileEvent(HttpFileEvent::Redirected, response);
  url = std::string(SchemePrefix(target->secure)) + target->host + target->path;
  return session.MayFollow(*target);
}

}  // namespace

std::string SplitUrl(HttpSession& session, std::string_view url) {
  session.baseUrl.clear();
  session.secure = UpperStr(url.substr(0, 8)) == "HTTPS://";
  const std::string_view prefix = SchemePrefix(session.secure);
  if (UpperStr(url.substr(0, prefix.size())) == UpperStr(prefix)) {
    url.remove_prefix(prefix.size());
    session.baseUrl = prefix;
  }
  const std::size_t first = url.find('/');
  std::string host(url.substr(0, first));
  if (first == std::string_view::npos) {
    session.directory = "/";
    session.file.clear();
  } else {
    const std::size_t last = url.rfind('/');
    session.directory = url.substr(first, last - first + 1);
    session.file = url.substr(last + 1);
  }
  session.baseUrl += host;
  return host;
}

bool HttpGet(HttpSession& session, std::string_view url, std::string& localDirectory,
             std::uint16_t port, const GetOptions& options, HttpResponse& response) {
  session.requested = url;
  session.storedName.clear();
  session.answerFailure.clear();
  std::string next(url);
  std::vector<std::string> asked;
  bool stored = false;
  for (int hop = 1;; ++hop) {
    stored = RequestOnce(session, next, localDirectory, port, options, response);
    if (stored || !session.answerFailure.empty() || !IsRedirect(response) ||
        !FollowRedirect(session, response, hop, next, port, localDirectory, asked)) {
      break;
    }
  }
  KeepOrClose(session);
  return stored;
}

bool ReadResponseHeader(HttpSession& session, HttpResponse& response, std::string_view wantedName) {
  response = HttpResponse();
  response.fileName = StoredFileName(wantedName, session.directory);
  session.answerFailure.clear();
  session.responseRead = ResponseRead::Partly;
  session.StatusEvent(HttpStatusEvent::ReadingHeader);
  HeaderBudget budget{session.answerDue};
  HeadRefusal refusal = HeadRefusal::None;
  do {
    if (!ReadAnswerHeader(session, response, budget, refusal)) {
      if (budget.overrun != HeaderOverrun::None) {
        RefuseAnswer(session,
                     OverrunText(session.BaseUrl(), budget.overrun, session.headerSeconds));
      }
      return false;
    }
  } while (IsInterim(response.status));
  if (refusal == HeadRefusal::UnusableLength) {
    RefuseAnswer(session, "Invalid Content-Length from " + session.BaseUrl());
    return false;
  }
  session.responseRead = HasNoBody(response) ? ResponseRead::Whole : ResponseRead::Header;
  return response.status == 200;
}

bool ReceiveBody(HttpSession& session, std::string& localDirectory, const GetOptions& options,
                 HttpResponse& response) {
  localDirectory = WithTrailing(localDirectory, kPathSep);
  const std::string& folder = localDirectory;
  session.storedPath.clear();
  const bool ok = ReadResponseHeader(session, response, session.file);
  if (!session.storedName.empty()) response.fileName = session.storedName;
  if (!ok) {
    if (session.answerFailure.empty() && !IsRedirect(response)) {
      session.FileEvent(HttpFileEvent::NotFound, response);
    }
    return false;
  }
  if (options.shortNames) {
    response.fileName = ShortFileName(folder, response.fileName);
    session.file = response.fileName;
  }
  const std::string path = JoinLocal(folder, response.fileName, kLocalPathMax);
  session.storedPath = path;
  if (options.ifModified && !RemoteChanged(response, path)) {
    session.FileEvent(HttpFileEvent::Unchanged, response);
    return true;
  }
  bool declaredEmpty = response.framing == BodyFraming::Length && response.contentLength == 0;
  // A body that runs until the close is empty when the close comes at once.
  if (!declaredEmpty && !session.connection.WaitReadable(session.bodyIdleSeconds) &&
      !(response.framing == BodyFraming::UntilClose && session.connection.PeerClosed())) {
    return false;
  }
  return StoreBody(session, path, response);
}

std::optional<WebUrl> RedirectTarget(std::string_view location, const WebUrl& from) {
  // Resolved against the path: a query of the address answered is none of
  // the next one's.
  const WebUrl base{from.host, from.port, std::string(CutAt(from.path, '?')), from.secure};
  std::optional<WebUrl> target = ResolveReference(location, base);
  if (!target) return std::nullopt;
  if (target->port == 0) target->port = DefaultPort(target->secure);
  const std::string_view beforeFragment = CutAt(location, '#');
  const std::size_t query = beforeFragment.find('?');
  if (query != std::string_view::npos) target->path += beforeFragment.substr(query);
  return target;
}

std::string StoredFileName(std::string_view wantedName, std::string_view urlDirectory) {
  const std::string name =
      wantedName.empty() ? NameForDirectory(urlDirectory) : std::string(wantedName);
  return SafeFileName(DecodeEscapes(CutAt(CutAt(name, '?'), '#')));
}

std::string SafeFileName(std::string_view name) {
  if (name == "." || name == "..") return std::string(name.size(), '_');
  std::string safe(name);
  for (char& c : safe) {
    if (c == '/' || c == '\\' || c == '\0') c = '_';
  }
  return safe;
}

std::string DecodeEscapes(std::string_view text) {
  std::string decoded(text);
  // Each round removes a "%" or shortens the text, so the loop ends; a "%"
  // that a pair decodes to is decoded in turn.
  for (std::size_t at = decoded.find('%'); at != std::string::npos; at = decoded.find('%', at)) {
    const std::uint8_t byte = HexPairValue(std::string_view(decoded).substr(at + 1, 2));
    decoded.erase(at + 1, 2);
    decoded[at] = static_cast<char>(byte);
  }
  return decoded;
}

}  // namespace quorbit
