#include "http/httpclient.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <vector>

#include "http/weburl.h"
#include "report/timer.h"
#include "util/localfiles.h"

namespace {

// Body bytes taken per receive (ReceiveBlock counts in 16 bits). Large, so
// that a big file costs few system calls; a multiple of the page size, so
// that the file takes whole pages.
constexpr std::uint16_t kBlockSize = 60 * 1024;
constexpr std::size_t kLinePiece = 255;     // longest piece ReadLine hands out
constexpr std::size_t kLocalPathMax = 254;  // longest local file path

bool IsMovedOrFound(std::uint16_t status) {
  return status == 301 || status == 302;
}

// A 301 or 302 is followed even without LOCATION (as a directory); the other
// redirects only to the address they name.
bool IsRedirect(const HttpResponse& response) {
  const std::uint16_t status = response.status;
  const bool named = !response.location.Empty() || response.locationCut;
  return IsMovedOrFound(status) || ((status == 303 || status == 307 || status == 308) && named);
}

// The text before the first c, removed from rest together with that c;
// without c the whole rest.
Str255 TakeUntil(Str255& rest, char c) {
  Str255 head;
  SplitFirst(rest, c, head);
  return head;
}

std::string_view CutAt(std::string_view text, char c) {
  return text.substr(0, text.find(c));
}

// A date or time field for PackDateTime; a value no field can hold stays
// invalid instead of wrapping into a plausible one.
std::uint16_t DateField(std::int32_t value) {
  return value < 0 || value > 0xFFFF ? 0xFFFF : static_cast<std::uint16_t>(value);
}

// --- Names and paths -------------------------------------------------------

// "/docs/" gives "docs.html", "/" gives "index.html".
Str255 NameForDirectory(std::string_view directory) {
  if (!directory.empty() && directory.back() == '/') directory.remove_suffix(1);
  std::string_view last = directory.substr(directory.rfind('/') + 1);
  return last.empty() ? Str255("index.html") : Cat(last, ".html");
}

// folder (ending with the separator) + name, at most limit bytes. The part
// of the name that fits is made safe again, because cutting "..." can leave
// "..". Empty when not even one byte of the name fits, so that nothing is
// ever stored in the folder's parent under a cut name.
Str255 JoinLocal(const Str255& folder, std::string_view name, std::size_t limit) {
  if (name.empty() || folder.Length() >= limit) return Str255();
  return folder + SafeFileName(name.substr(0, limit - folder.Length())).View();
}

Str255 WithTrailingSep(std::string_view directory) {
  Str255 folder(directory);
  EnsureTrailing(folder, kPathSep);
  return folder;
}

// The local directory of a redirect retry: one subdirectory named after the
// file part. Left as it is when the caller's variable has no room for it.
void ExtendLocalDirectory(ShortStrRef localDirectory, std::string_view name) {
  Str255 sub = JoinLocal(WithTrailingSep(localDirectory.View()), name, localDirectory.max - 1);
  if (sub.Empty()) return;
  sub += kPathSep;
  localDirectory.Assign(sub);
}

// --- Request ---------------------------------------------------------------

// The proxy is "host:port" or "[IPv6 address]:port"; without a port, or with
// one that is no port number, it is asked on port 0, which fails to connect.
bool ConnectSession(HttpSession& session, std::string_view host, std::uint16_t port) {
  if (session.proxy.Empty()) return session.connection.Connect(host, port);
  WebUrl proxy;
  if (!ParseAuthority(session.proxy.View(), proxy)) proxy = WebUrl{session.proxy.Str(), 0, ""};
  return session.connection.Connect(proxy.host, proxy.port);
}

// Request line, "Host: " and the empty line. The port goes into both when it
// is not the default one, so that neither a proxy nor a virtual host loses it.
void SendRequest(HttpSession& session, std::string_view host, std::uint16_t port) {
  Str255 authority = EncodeRequestText(host);
  if (port != DefaultPort(session.secure)) authority += Cat(":", IntToText(port));
  Str255 line("GET ");
  if (!session.proxy.Empty()) line += Cat("HTTP://", authority);
  line += EncodeRequestText(Cat(session.directory, session.file));
  line += " HTTP/1.1";
  session.connection.SendLine(line);
  session.connection.SendLine(Cat("Host: ", authority));
  session.connection.SendLine("");
}

// --- Response header -------------------------------------------------------

// One line, waited for up to the seconds (0: DefaultTimeout). The LF of a
// CR LF pair can arrive apart from its CR: a read that finds only that LF
// takes it and gives no line, and the line itself is then waited for again.
bool AwaitLine(TcpConnection& connection, std::uint16_t seconds, Str255& line) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!connection.WaitReadable(seconds)) return false;
    if (connection.ReadLine(line)) return true;
  }
  return false;
}

// One header line, waited for. A line longer than one piece arrives in
// pieces; its rest is read and dropped (cut tells), so that it is never
// taken for a line of its own (an empty rest would otherwise end the header
// early).
bool ReadHeaderLine(TcpConnection& connection, Str255& line, bool& cut) {
  cut = false;
  if (!AwaitLine(connection, 0, line)) return false;
  Str255 rest = line;
  while (rest.Length() == kLinePiece) {
    if (!AwaitLine(connection, 0, rest)) return false;
    cut = cut || !rest.Empty();
  }
  return true;
}

std::uint16_t StatusCode(std::string_view statusLine) {
  Str255 rest(statusLine);
  rest.Delete(1, rest.Pos(' '));
  TrimBlanks(rest);
  return static_cast<std::uint16_t>(TextToInt(TakeUntil(rest, ' ')));
}

constexpr std::string_view kWhiteSpace = " \t";

std::string_view TrimWhiteSpace(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

// Names are compared, and values kept, in upper case; LOCATION keeps its
// case, since paths know letter case.
void ApplyHeaderField(HttpResponse& response, std::string_view line, bool cut) {
  std::string_view fieldName, fieldValue;
  if (!ParseHeaderField(line, fieldName, fieldValue)) return;
  const Str255 name = UpperStr(fieldName);
  const Str255 value = UpperStr(fieldValue);
  if (name == "LOCATION") {
    response.location = fieldValue;
    response.locationCut = cut;
  } else if (name == "SERVER") {
    response.server = value;
  } else if (name == "DATE") {
    response.serverDate = ParseHttpDate(value);
  } else if (name == "CONNECTION") {
    response.connectionClose = value == "CLOSE";
  } else if (name == "CONTENT-LENGTH") {
    const std::int64_t length = ParseContentLength(value);
    if (length < 0) return;  // unusable: the body runs until the close
    response.contentLength = length;
    if (response.framing != BodyFraming::Chunked) response.framing = BodyFraming::Length;
  } else if (name == "CONTENT-TYPE") {
    response.contentType = value;
  } else if (name == "LAST-MODIFIED") {
    response.lastModified = ParseHttpDate(value);
  } else if (name == "TRANSFER-ENCODING" && value.View().ends_with("CHUNKED")) {
    // Chunks carry their own sizes; a CONTENT-LENGTH beside them is void.
    response.framing = BodyFraming::Chunked;
  }
}

// --- Body ------------------------------------------------------------------

enum class Arrival { Data, Closed, Idle };

// Waits for body bytes; a failed wait is an orderly end when the server
// closed the connection, and a stall otherwise.
Arrival AwaitBodyBytes(TcpConnection& connection, std::uint16_t seconds) {
  if (connection.WaitReadable(seconds)) return Arrival::Data;
  return connection.PeerClosed() ? Arrival::Closed : Arrival::Idle;
}

// Reads a body as its framing says, one block at a time.
struct BodyReader {
  TcpConnection& connection;
  std::uint16_t idleSeconds;
  BodyFraming framing;
  std::int64_t length;         // Length: bytes announced
  std::int64_t received = 0;   // Length: bytes read so far
  std::int64_t chunkLeft = 0;  // Chunked: bytes left in the current chunk
  bool chunkSeen = false;      // Chunked: a chunk's data (and its CR LF) came before
  bool complete = false;       // the framing's own end was reached
};

// Up to maxCount bytes, waiting (asleep) while none are pending.
Arrival ReceiveSome(BodyReader& body, char* buffer, std::uint16_t maxCount, std::uint16_t& got) {
  for (;;) {
    if (body.connection.ReceiveBlock(buffer, maxCount, got)) return Arrival::Data;
    Arrival arrival = AwaitBodyBytes(body.connection, body.idleSeconds);
    if (arrival != Arrival::Data) return arrival;
  }
}

bool NextLengthBlock(BodyReader& body, char* buffer, std::uint16_t& got) {
  if (body.received >= body.length) {
    body.complete = body.received == body.length;
    return false;
  }
  if (ReceiveSome(body, buffer, kBlockSize, got) != Arrival::Data) return false;
  body.received += got;
  return true;
}

bool NextCloseBlock(BodyReader& body, char* buffer, std::uint16_t& got) {
  Arrival arrival = ReceiveSome(body, buffer, kBlockSize, got);
  body.complete = arrival == Arrival::Closed;
  return arrival == Arrival::Data;
}

bool ReadChunkLine(BodyReader& body, Str255& line) {
  return AwaitLine(body.connection, body.idleSeconds, line);
}

// Reads the CR LF that closes the previous chunk's data and the next size
// line. A size of 0 is the last chunk: the body is complete.
bool StartNextChunk(BodyReader& body) {
  Str255 line;
  if (body.chunkSeen && (!ReadChunkLine(body, line) || !line.Empty())) return false;
  if (!ReadChunkLine(body, line)) return false;
  std::int64_t size = ParseChunkSize(line);
  body.complete = size == 0;
  if (size <= 0) return false;
  body.chunkLeft = size;
  body.chunkSeen = true;
  return true;
}

bool NextChunkedBlock(BodyReader& body, char* buffer, std::uint16_t& got) {
  if (body.chunkLeft == 0 && !StartNextChunk(body)) return false;
  std::uint16_t maxCount =
      body.chunkLeft < kBlockSize ? static_cast<std::uint16_t>(body.chunkLeft) : kBlockSize;
  if (ReceiveSome(body, buffer, maxCount, got) != Arrival::Data) return false;
  body.chunkLeft -= got;
  return true;
}

// The next block of body bytes; false when the body has ended, complete or not.
bool NextBodyBlock(BodyReader& body, char* buffer, std::uint16_t& got) {
  switch (body.framing) {
    case BodyFraming::Length:
      return NextLengthBlock(body, buffer, got);
    case BodyFraming::Chunked:
      return NextChunkedBlock(body, buffer, got);
    case BodyFraming::UntilClose:
      break;
  }
  return NextCloseBlock(body, buffer, got);
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
  BodyReader body{session.connection, session.bodyIdleSeconds, response.framing,
                  response.contentLength};
  // On the heap: the assignment's recursion runs on a thread's stack.
  std::vector<char> block(kBlockSize);
  std::int64_t total = 0;
  std::uint16_t got = 0;
  while (NextBodyBlock(body, block.data(), got)) {
    if (!out.Write(block.data(), got)) return false;
    total += got;
    ReportProgress(session, response, total);
  }
  return body.complete;
}

// Stores the body through a PartFile; the stored copy is replaced, and then
// stamped with LAST-MODIFIED, only when the whole body arrived and was
// written. A body that arrived whole but could not be put in place counts
// as a file that could not be created.
bool StoreBody(HttpSession& session, const Str255& path, HttpResponse& response) {
  PartFile part(path.View());
  if (!part.Create()) {
    session.FileEvent(HttpFileEvent::CreateFailed, response);
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

}  // namespace

bool ReceiveBody(HttpSession& session, ShortStrRef localDirectory, bool ifModified, bool shortNames,
                 HttpResponse& response) {
  EnsureTrailing(localDirectory, kPathSep);
  // Built apart from the caller's variable, which may have no room left for
  // the separator: a name must never be glued onto the directory's own name.
  const Str255 folder = WithTrailingSep(localDirectory.View());
  const bool ok = ReadResponseHeader(session, response, session.file);
  if (!session.storedName.Empty()) response.fileName = session.storedName;
  if (!ok) {
    if (!IsRedirect(response)) session.FileEvent(HttpFileEvent::NotFound, response);
    return false;
  }
  if (shortNames) {
    response.fileName = ShortFileName(folder, response.fileName);
    session.file = response.fileName;
  }
  const Str255 path = JoinLocal(folder, response.fileName, kLocalPathMax);
  if (ifModified && !RemoteChanged(response, path)) {
    session.FileEvent(HttpFileEvent::Unchanged, response);
    return true;
  }
  bool declaredEmpty = response.framing == BodyFraming::Length && response.contentLength == 0;
  if (!declaredEmpty && !session.connection.WaitReadable(session.bodyIdleSeconds)) return false;
  return StoreBody(session, path, response);
}

namespace {

// One request of url on its own connection, its answer stored as ReceiveBody
// says.
bool RequestOnce(HttpSession& session, std::string_view url, ShortStrRef localDirectory,
                 std::uint16_t port, bool ifModified, bool shortNames, HttpResponse& response) {
  // The answer of an earlier hop must not be taken for this one's when no
  // answer comes.
  response = HttpResponse();
  const Str255 host = SplitUrl(session, url);
  session.address = {host.Str(), port, Cat(session.directory, session.file).Str(), session.secure};
  if (session.secure && !session.proxy.Empty()) {
    session.tlsFailure = Cat("Unable to fetch https addresses through a proxy: ", url);
    session.StatusEvent(HttpStatusEvent::TlsFailed);
    return false;
  }
  session.StatusEvent(HttpStatusEvent::Connecting);
  if (!ConnectSession(session, host, port)) {
    session.StatusEvent(HttpStatusEvent::ConnectFailed);
    return false;
  }
  if (session.secure && !session.connection.StartTls(host, session.tls, session.tlsFailure)) {
    session.StatusEvent(HttpStatusEvent::TlsFailed);
    return false;
  }
  session.StatusEvent(HttpStatusEvent::Connected);
  SendRequest(session, host, port);
  const bool stored = ReceiveBody(session, localDirectory, ifModified, shortNames, response);
  session.connection.Close();
  return stored;
}

// One spelling per address of a redirect chain: host names know no case.
std::string ChainKey(const WebUrl& url) {
  std::string key;
  for (char c : url.host) key += LowerLetter(c);
  return std::string(SchemePrefix(url.secure)) + key + ":" + std::to_string(url.port) + url.path;
}

// The address requested, with "/" added: what a 301 or 302 without LOCATION
// is taken to mean.
WebUrl DirectoryForm(const WebUrl& address) {
  return {address.host, address.port, address.path + "/", address.secure};
}

bool IsDirectoryForm(const WebUrl& target, const WebUrl& address) {
  return ChainKey(target) == ChainKey(DirectoryForm(address));
}

// Where the redirect just answered leads; empty when it cannot be followed.
std::optional<WebUrl> NextAddress(const HttpSession& session, const HttpResponse& response) {
  if (response.locationCut) return std::nullopt;
  if (response.location.Empty()) return DirectoryForm(session.address);
  return RedirectTarget(response.location, session.address);
}

// Follows the redirect just answered (its hop number given): a redirect to
// the address as a directory, in the first place, stores the file in a
// subdirectory of that name, as a directory page; any other keeps the name
// the first address gave. Sets url and port to the next request; false (the
// reason raised) when the chain ends here.
bool FollowRedirect(HttpSession& session, HttpResponse& response, int hop, Str255& url,
                    std::uint16_t& port, ShortStrRef localDirectory,
                    std::vector<std::string>& asked) {
  if (response.location.Empty() && !response.locationCut && session.file.Empty()) return false;
  const std::optional<WebUrl> target = NextAddress(session, response);
  const std::string text = target ? UrlText(*target) : std::string(response.location);
  if (!target || text.size() > Str255::kMax) {
    response.location = text;
    session.FileEvent(HttpFileEvent::RedirectRefused, response);
    return false;
  }
  asked.push_back(ChainKey(session.address));
  if (hop > kMaxRedirects ||
      std::find(asked.begin(), asked.end(), ChainKey(*target)) != asked.end()) {
    session.FileEvent(HttpFileEvent::TooManyRedirects, response);
    return false;
  }
  port = target->port;
  if (session.storedName.Empty() && IsDirectoryForm(*target, session.address)) {
    // As a retry of the same request: the URL keeps the form it was given in.
    ExtendLocalDirectory(localDirectory, session.file);
    EnsureDirectory(localDirectory.View());
    url = Cat(session.secure ? SchemePrefix(true) : "", session.address.host) + target->path;
    return true;
  }
  if (session.storedName.Empty()) session.storedName = response.fileName;
  response.location = text;
  session.FileEvent(HttpFileEvent::Redirected, response);
  url = Cat(SchemePrefix(target->secure), target->host) + target->path;
  return session.MayFollow(*target);
}

}  // namespace

HttpSession::HttpSession(std::string_view debugLogName) {
  connection.OpenDebugLog(debugLogName);
}

void HttpSession::Done() {
  if (done_) return;
  done_ = true;
  if (connection.Failed()) StatusEvent(HttpStatusEvent::Interrupted);
  connection.Done();
}

Str255 SplitUrl(HttpSession& session, std::string_view url) {
  session.baseUrl.Clear();
  session.secure = UpperStr(url.substr(0, 8)) == "HTTPS://";
  const std::string_view prefix = SchemePrefix(session.secure);
  if (UpperStr(url.substr(0, prefix.size())).View() == UpperStr(prefix).View()) {
    url.remove_prefix(prefix.size());
    session.baseUrl = prefix;
  }
  const std::size_t first = url.find('/');
  Str255 host(url.substr(0, first));
  if (first == std::string_view::npos) {
    session.directory = "/";
    session.file.Clear();
  } else {
    const std::size_t last = url.rfind('/');
    session.directory = url.substr(first, last - first + 1);
    session.file = url.substr(last + 1);
  }
  session.baseUrl += host;
  return host;
}

bool HttpSession::MayFollow(const WebUrl& /*target*/) {
  return true;
}

bool HttpGet(HttpSession& session, std::string_view url, ShortStrRef localDirectory,
             std::uint16_t port, bool ifModified, bool shortNames, HttpResponse& response) {
  session.requested = url;
  session.storedName.Clear();
  Str255 next(url);
  std::vector<std::string> asked;
  for (int hop = 1;; ++hop) {
    if (RequestOnce(session, next, localDirectory, port, ifModified, shortNames, response)) {
      return true;
    }
    if (!IsRedirect(response) ||
        !FollowRedirect(session, response, hop, next, port, localDirectory, asked)) {
      return false;
    }
  }
}

bool ReadResponseHeader(HttpSession& session, HttpResponse& response, std::string_view wantedName) {
  response = HttpResponse();
  response.fileName = StoredFileName(wantedName, session.directory);
  session.statusLine.Clear();
  session.StatusEvent(HttpStatusEvent::ReadingHeader);
  Str255 line;
  bool cut = false;
  if (!ReadHeaderLine(session.connection, line, cut)) return false;
  session.statusLine = line;
  response.status = StatusCode(line);
  for (;;) {
    if (!ReadHeaderLine(session.connection, line, cut)) return false;
    if (line.Empty()) break;
    ApplyHeaderField(response, line, cut);
  }
  if (response.framing == BodyFraming::Chunked) response.contentLength = 0;
  return response.status == 200;
}

bool ParseHeaderField(std::string_view line, std::string_view& name, std::string_view& value) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  if (line.substr(0, colon).find_first_of(kWhiteSpace) != std::string_view::npos) return false;
  name = line.substr(0, colon);
  value = TrimWhiteSpace(line.substr(colon + 1));
  return true;
}

// from_chars alone would take a sign and stop at the first stray byte.
std::int64_t ParseContentLength(std::string_view value) {
  std::int64_t length = -1;
  if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) return -1;
  auto parsed = std::from_chars(value.data(), value.data() + value.size(), length);
  return parsed.ec == std::errc() ? length : -1;
}

std::int64_t ParseChunkSize(std::string_view line) {
  if (line.empty() || !std::isxdigit(static_cast<unsigned char>(line.front()))) return -1;
  std::int64_t size = -1;
  auto parsed = std::from_chars(line.data(), line.data() + line.size(), size, 16);
  return parsed.ec == std::errc() ? size : -1;
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

Str255 StoredFileName(std::string_view wantedName, std::string_view urlDirectory) {
  const Str255 name = wantedName.empty() ? NameForDirectory(urlDirectory) : Str255(wantedName);
  return SafeFileName(DecodeEscapes(CutAt(CutAt(name, '?'), '#')));
}

Str255 SafeFileName(std::string_view name) {
  Str255 safe(name);
  ReplaceChars(safe, CharSet(std::string_view("/\\\0", 3)), '_');
  if (safe == "." || safe == "..") ReplaceChars(safe, CharSet("."), '_');
  return safe;
}

Str255 DecodeEscapes(std::string_view text) {
  Str255 decoded(text);
  // Each round removes a "%" or shortens the text, so the loop ends.
  for (std::size_t p = decoded.Pos('%'); p != 0; p = decoded.Pos('%')) {
    const std::uint8_t byte = HexPairValue(decoded.Copy(p + 1, 2));
    decoded.Delete(p + 1, 2);
    decoded[p - 1] = static_cast<char>(byte);
  }
  return decoded;
}

Str255 EncodeRequestText(std::string_view text) {
  Str255 encoded;
  for (char c : text) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte <= 32 || byte >= 127) {
      encoded += '%';
      encoded += HexByte(byte);
    } else {
      encoded += c;
    }
  }
  return encoded;
}

PackedDateTime ParseHttpDate(std::string_view text) {
  Str255 rest(text);
  rest.Delete(1, rest.Pos(' '));  // the weekday
  Str255 word = TakeUntil(rest, ' ');
  std::int32_t day, month, year;
  if (word.Pos('-')) {  // 06-NOV-94
    day = TextToInt(TakeUntil(word, '-'));
    month = MonthFromName(TakeUntil(word, '-'));
    year = TextToInt(word);
  } else {  // 06 NOV 1994
    day = TextToInt(word);
    month = MonthFromName(TakeUntil(rest, ' '));
    year = TextToInt(TakeUntil(rest, ' '));
  }
  if (year < 100) year += year > 80 ? 1900 : 2000;
  DateTimeParts parts;
  parts.year = DateField(year);
  parts.month = DateField(month);
  parts.day = DateField(day);
  parts.hour = DateField(TextToInt(TakeUntil(rest, ':')));
  parts.minute = DateField(TextToInt(TakeUntil(rest, ':')));
  parts.second = DateField(TextToInt(TakeUntil(rest, ' ')));
  return PackDateTime(parts);
}
