#include "http/httpclient.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <vector>

#include "http/weburl.h"
#include "report/runlog.h"
#include "util/localfiles.h"
#include "util/stoprequest.h"
#include "util/timer.h"

namespace quorbit {

namespace {

using Clock = std::chrono::steady_clock;

// Body bytes taken per receive (ReceiveBlock counts in 16 bits). Large, so
// that a big file costs few system calls; a multiple of the page size, so
// that the file takes whole pages.
constexpr std::uint16_t kBlockSize = 60 * 1024;
constexpr std::size_t kLinePiece = 255;     // longest piece ReadLine hands out
constexpr std::size_t kLocalPathMax = 254;  // longest local file path
// The longest body of an answer that is not stored (a redirect, an error
// page, an unchanged file) that is read and dropped to keep the connection;
// past it a new connection costs less.
constexpr std::int64_t kSkippableBody = std::int64_t{64} * 1024;

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

// "host:port" as a request names a server: the port only when it is not
// the scheme's default one, unless always is set.
Str255 Authority(const HttpSession& session, std::string_view host, std::uint16_t port,
                 bool always) {
  Str255 authority = EncodeRequestText(host);
  if (always || port != DefaultPort(session.secure)) authority += Cat(":", IntToText(port));
  return authority;
}

std::chrono::seconds WholeSeconds(std::uint16_t seconds) {
  return std::chrono::seconds(seconds == 0 ? DefaultTimeout : seconds);
}

// When a header asked for now must be whole.
Clock::time_point HeaderDeadline(const HttpSession& session) {
  return Clock::now() + WholeSeconds(session.headerSeconds);
}

// Request line, "Host: " and the empty line. The port goes into both when it
// is not the default one, so that neither a proxy nor a virtual host loses it.
void SendRequest(HttpSession& session, std::string_view host, std::uint16_t port) {
  const Str255 authority = Authority(session, host, port, false);
  Str255 line("GET ");
  if (!session.proxy.Empty()) line += Cat("HTTP://", authority);
  line += EncodeRequestText(Cat(session.directory, session.file));
  line += " HTTP/1.1";
  session.connection.SendLines({line, Cat("Host: ", authority), ""});
  session.answerDue = HeaderDeadline(session);
}

// Closes the connection and forgets that it failed: for a connection whose
// end has been accounted for, so that it is not reported as interrupted.
void DropConnection(HttpSession& session) {
  session.connection.Close();
  session.connection.ResetState();
  session.openServer.clear();
}

// --- Response header -------------------------------------------------------

// One line, waited for up to the seconds in all (0: DefaultTimeout).
bool AwaitLine(TcpConnection& connection, std::uint16_t seconds, Str255& line) {
  std::string text;
  if (!connection.AwaitLine(text, Clock::now() + WholeSeconds(seconds))) return false;
  line = text;
  return true;
}

// Which bound of a header ran out.
enum class HeaderOverrun : std::uint8_t { None, Lines, Bytes, Time };

// What a header may still take: a server that sends a field a second, or a
// byte at a time, must not hold the fetch for as long as it likes.
struct HeaderBudget {
  Clock::time_point deadline;
  int linesLeft = kHeaderLinesMax;
  std::int64_t bytesLeft = kHeaderBytesMax;
  HeaderOverrun overrun = HeaderOverrun::None;
};

// One piece of a header line, charged to the budget (one byte more for a
// line end).
bool AwaitHeaderPiece(TcpConnection& connection, HeaderBudget& budget, Str255& piece) {
  std::string text;
  if (!connection.AwaitLine(text, budget.deadline)) {
    if (!connection.PeerClosed() && !StopRequested() && Clock::now() >= budget.deadline) {
      budget.overrun = HeaderOverrun::Time;
    }
    return false;
  }
  piece = text;
  budget.bytesLeft -= static_cast<std::int64_t>(piece.Length()) + 1;
  if (budget.bytesLeft < 0) budget.overrun = HeaderOverrun::Bytes;
  return budget.bytesLeft >= 0;
}

// One header line, waited for. A line longer than one piece arrives in
// pieces; its rest is read and dropped (cut tells), so that it is never
// taken for a line of its own (an empty rest would otherwise end the header
// early).
bool ReadHeaderLine(TcpConnection& connection, HeaderBudget& budget, Str255& line, bool& cut) {
  cut = false;
  if (--budget.linesLeft < 0) {
    budget.overrun = HeaderOverrun::Lines;
    return false;
  }
  if (!AwaitHeaderPiece(connection, budget, line)) return false;
  Str255 rest = line;
  while (rest.Length() == kLinePiece) {
    if (!AwaitHeaderPiece(connection, budget, rest)) return false;
    cut = cut || !rest.Empty();
  }
  return true;
}

// The line that says which bound the header from the session's server ran past.
Str255 OverrunText(const HttpSession& session, HeaderOverrun overrun) {
  Str255 text = Cat("Header from ", session.BaseUrl());
  switch (overrun) {
    case HeaderOverrun::Lines:
      text += Cat(" longer than ", IntToText(kHeaderLinesMax)) + " lines";
      break;
    case HeaderOverrun::Bytes:
      text += Cat(" longer than ", IntToText(kHeaderBytesMax)) + " bytes";
      break;
    case HeaderOverrun::Time:
    case HeaderOverrun::None:
      text += Cat(" not complete within ", IntToText(WholeSeconds(session.headerSeconds).count()));
      text += " seconds";
      break;
  }
  return text;
}

// The answer cannot be used at all: its line says why, and the connection,
// out of step with the server now, is closed without a line of its own.
void RefuseAnswer(HttpSession& session, const Str255& reason) {
  session.answerFailure = reason;
  RunLog::ShowAndWriteFailure(reason);
  DropConnection(session);
}

// 204 and 304 answers never have a body, whatever their header says.
bool HasNoBody(const HttpResponse& response) {
  const bool emptyByLength = response.framing == BodyFraming::Length && response.contentLength == 0;
  return response.status == 204 || response.status == 304 || emptyByLength;
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

// The comma-separated list names the token (both upper case).
bool HasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const std::size_t comma = std::min(list.find(','), list.size());
    if (TrimWhiteSpace(list.substr(0, comma)) == token) return true;
    list.remove_prefix(std::min(comma + 1, list.size()));
  }
  return false;
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
    response.connectionClose = HasToken(value, "CLOSE");
    response.connectionKeepAlive = HasToken(value, "KEEP-ALIVE");
  } else if (name == "CONTENT-LENGTH") {
    const std::int64_t length = ParseContentLength(value);
    const bool differs =
        response.framing == BodyFraming::Length && length != response.contentLength;
    if (length < 0 || differs) {
      response.lengthUnusable = true;
      return;
    }
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

// An interim answer (100 Continue, 103 Early Hints) comes before the one
// that answers the request.
bool IsInterim(std::uint16_t status) {
  return status >= 100 && status < 200;
}

// The status line and the fields of one answer, up to its empty line; the
// fields of an interim answer before it are forgotten.
bool ReadAnswerHeader(HttpSession& session, HttpResponse& response, HeaderBudget& budget) {
  const Str255 fileName = response.fileName;
  response = HttpResponse();
  response.fileName = fileName;
  session.statusLine.Clear();
  Str255 line;
  bool cut = false;
  if (!ReadHeaderLine(session.connection, budget, line, cut)) return false;
  session.statusLine = line;
  response.status = StatusCode(line);
  for (;;) {
    if (!ReadHeaderLine(session.connection, budget, line, cut)) return false;
    if (line.Empty()) return true;
    ApplyHeaderField(response, line, cut);
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
  bool trailerRead = false;    // Chunked: the lines after the last chunk, to their empty one
  bool complete = false;       // the framing's own end was reached
};

// Trailer lines no real server sends this many of: past them the body is
// taken to have no end that can be found.
constexpr int kTrailerLinesMax = 64;

// Up to maxCount bytes, waiting (asleep) while none are pending.
Arrival ReceiveSome(BodyReader& body, char* buffer, std::uint16_t maxCount, std::uint16_t& got) {
  for (;;) {
    if (body.connection.ReceiveBlock(buffer, maxCount, got)) return Arrival::Data;
    Arrival arrival = AwaitBodyBytes(body.connection, body.idleSeconds);
    if (arrival != Arrival::Data) return arrival;
  }
}

// Never more than the length: what follows it is no part of the body.
bool NextLengthBlock(BodyReader& body, char* buffer, std::uint16_t& got) {
  if (body.received >= body.length) {
    body.complete = body.received == body.length;
    return false;
  }
  const std::int64_t left = body.length - body.received;
  const auto maxCount = left < kBlockSize ? static_cast<std::uint16_t>(left) : kBlockSize;
  if (ReceiveSome(body, buffer, maxCount, got) != Arrival::Data) return false;
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

// The trailer after the last chunk, up to its empty line: only then does the
// next answer on the connection begin.
bool ReadTrailer(BodyReader& body) {
  Str255 line;
  for (int count = 0; count < kTrailerLinesMax; ++count) {
    if (!ReadChunkLine(body, line)) return false;
    if (line.Empty()) return true;
  }
  return false;
}

// Reads the CR LF that closes the previous chunk's data and the next size
// line. A size of 0 is the last chunk: the body is complete (its trailer is
// read too, for the connection's sake).
bool StartNextChunk(BodyReader& body) {
  Str255 line;
  if (body.chunkSeen && (!ReadChunkLine(body, line) || !line.Empty())) return false;
  if (!ReadChunkLine(body, line)) return false;
  std::int64_t size = ParseChunkSize(line);
  body.complete = size == 0;
  if (body.complete) body.trailerRead = ReadTrailer(body);
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

// Notes a body read exactly to the end its framing gives: the connection is
// then at the next answer.
void NoteBodyEnd(HttpSession& session, const BodyReader& body) {
  const bool framedEnd = body.framing == BodyFraming::Length ||
                         (body.framing == BodyFraming::Chunked && body.trailerRead);
  session.responseRead = body.complete && framedEnd ? ResponseRead::Whole : ResponseRead::Partly;
}

BodyReader ReaderFor(HttpSession& session, const HttpResponse& response) {
  return {session.connection, session.bodyIdleSeconds, response.framing, response.contentLength};
}

// Writes the body to out block by block; true when all of it arrived and
// was written.
bool CopyBody(HttpSession& session, PartFile& out, const HttpResponse& response) {
  BodyReader body = ReaderFor(session, response);
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
  NoteBodyEnd(session, body);
  // The server's close ended the body as it should: no interruption.
  if (body.complete && body.framing == BodyFraming::UntilClose) DropConnection(session);
  return body.complete;
}

// Reads and drops the short body of an answer nothing stores, so that the
// connection can serve the next request; a long body, or one that runs until
// the close, is left unread (and the connection is closed).
void SkipShortBody(HttpSession& session, const HttpResponse& response) {
  if (response.framing == BodyFraming::UntilClose) return;
  if (response.framing == BodyFraming::Length && response.contentLength > kSkippableBody) return;
  BodyReader body = ReaderFor(session, response);
  session.responseRead = ResponseRead::Partly;
  std::vector<char> block(kBlockSize);
  std::int64_t total = 0;
  std::uint16_t got = 0;
  while (total <= kSkippableBody && NextBodyBlock(body, block.data(), got)) total += got;
  NoteBodyEnd(session, body);
}

// Stores the body through a PartFile; the stored copy is replaced, and then
// stamped with LAST-MODIFIED, only when the whole body arrived and was
// written. A body that arrived whole but could not be put in place counts
// as a file that could not be created.
bool StoreBody(HttpSession& session, const Str255& path, HttpResponse& response) {
  PartFile part(path.View(), session.storeRoot);
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

}  // namespace

bool ReceiveBody(HttpSession& session, ShortStrRef localDirectory, const GetOptions& options,
                 HttpResponse& response) {
  EnsureTrailing(localDirectory, kPathSep);
  // Built apart from the caller's variable, which may have no room left for
  // the separator: a name must never be glued onto the directory's own name.
  const Str255 folder = WithTrailingSep(localDirectory.View());
  const bool ok = ReadResponseHeader(session, response, session.file);
  if (!session.storedName.Empty()) response.fileName = session.storedName;
  if (!ok) {
    if (session.answerFailure.Empty() && !IsRedirect(response)) {
      session.FileEvent(HttpFileEvent::NotFound, response);
    }
    return false;
  }
  if (options.shortNames) {
    response.fileName = ShortFileName(folder, response.fileName);
    session.file = response.fileName;
  }
  const Str255 path = JoinLocal(folder, response.fileName, kLocalPathMax);
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

namespace {

// --- Connections -----------------------------------------------------------

// The proxy's answer to CONNECT: its status line, then header lines up to
// the empty one.
bool ReadTunnelAnswer(HttpSession& session, Str255& status) {
  HeaderBudget budget{HeaderDeadline(session)};
  bool cut = false;
  if (!ReadHeaderLine(session.connection, budget, status, cut)) return false;
  Str255 line;
  do {
    if (!ReadHeaderLine(session.connection, budget, line, cut)) return false;
  } while (!line.Empty());
  return true;
}

// Asks the proxy, already connected, for a tunnel to the server; true when
// it answered with a 2xx status. Otherwise tlsFailure says why.
bool OpenTunnel(HttpSession& session, std::string_view host, std::uint16_t port) {
  TcpConnection& connection = session.connection;
  const Str255 authority = Authority(session, host, port, true);
  connection.SendLines({Cat("CONNECT ", authority) + " HTTP/1.1", Cat("Host: ", authority), ""});
  Str255 status;
  if (ReadTunnelAnswer(session, status) && StatusCode(status) / 100 == 2) return true;
  session.tlsFailure = Cat("Proxy refused tunnel to ", authority);
  session.tlsFailure += Cat(": ", status.Empty() ? Str255("no answer") : status);
  return false;
}

void CloseConnection(HttpSession& session) {
  session.connection.Close();
  session.openServer.clear();
}

// TLS with the server, inside a tunnel through the proxy when there is one.
bool StartSecureChannel(HttpSession& session, std::string_view host, std::uint16_t port) {
  if (!session.proxy.Empty() && !OpenTunnel(session, host, port)) return false;
  std::string failure;
  if (session.connection.StartTls(host, session.tls, failure)) return true;
  session.tlsFailure = failure;
  return false;
}

// A new connection to the server, or to the proxy (through a tunnel for
// https), with TLS for https; the events tell how it went.
bool OpenConnection(HttpSession& session, std::string_view host, std::uint16_t port) {
  CloseConnection(session);
  session.StatusEvent(HttpStatusEvent::Connecting);
  if (!ConnectSession(session, host, port)) {
    session.StatusEvent(HttpStatusEvent::ConnectFailed);
    return false;
  }
  if (session.secure && !StartSecureChannel(session, host, port)) {
    session.connection.Close();
    session.StatusEvent(HttpStatusEvent::TlsFailed);
    return false;
  }
  session.openServer = ServerKey(session, host, port);
  session.StatusEvent(HttpStatusEvent::Connected);
  return true;
}

// Takes the connection kept from an earlier fetch when it talks to server.
void TakeKeptConnection(HttpSession& session, const std::string& server) {
  KeptConnection* keep = session.keep;
  if (!session.openServer.empty() || keep == nullptr || keep->server != server) return;
  session.connection.TakeOver(keep->connection);
  session.openServer = server;
  keep->server.clear();
}

// After HttpGet: the open connection goes to the session's keep, or is closed.
void KeepOrClose(HttpSession& session) {
  if (session.keep == nullptr || session.openServer.empty()) {
    CloseConnection(session);
    return;
  }
  session.keep->connection.TakeOver(session.connection);
  session.keep->server = session.openServer;
  session.openServer.clear();
}

// The server lets the connection serve another request: HTTP/1.1 unless it
// says "close", HTTP/1.0 only when it says "keep-alive".
bool ServerKeepsOpen(const Str255& statusLine, const HttpResponse& response) {
  if (response.connectionClose) return false;
  return statusLine.View().starts_with("HTTP/1.1") ||
         (statusLine.View().starts_with("HTTP/1.0") && response.connectionKeepAlive);
}

// The connection can serve the next request: the answer was read to its
// end (a short unread body is read and dropped now), the server keeps it
// open, and no stop is asked for.
bool StaysOpen(HttpSession& session, const HttpResponse& response) {
  if (session.openServer.empty() || session.connection.Failed() || StopRequested() ||
      !ServerKeepsOpen(session.statusLine, response)) {
    return false;
  }
  if (session.responseRead == ResponseRead::Header) SkipShortBody(session, response);
  return session.responseRead == ResponseRead::Whole && !session.connection.Failed();
}

// One request of url, on the connection left open for its server or on a new
// one, its answer stored as ReceiveBody says. An open connection the server
// has closed meanwhile gives no answer at all: the request is then made once
// more on a new connection.
bool RequestOnce(HttpSession& session, std::string_view url, ShortStrRef localDirectory,
                 std::uint16_t port, const GetOptions& options, HttpResponse& response) {
  // The answer of an earlier hop must not be taken for this one's when no
  // answer comes.
  response = HttpResponse();
  const Str255 host = SplitUrl(session, url);
  session.address = {host.Str(), port, Cat(session.directory, session.file).Str(), session.secure};
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
             std::uint16_t port, const GetOptions& options, HttpResponse& response) {
  session.requested = url;
  session.storedName.Clear();
  session.answerFailure.Clear();
  Str255 next(url);
  std::vector<std::string> asked;
  bool stored = false;
  for (int hop = 1;; ++hop) {
    stored = RequestOnce(session, next, localDirectory, port, options, response);
    if (stored || !session.answerFailure.Empty() || !IsRedirect(response) ||
        !FollowRedirect(session, response, hop, next, port, localDirectory, asked)) {
      break;
    }
  }
  KeepOrClose(session);
  return stored;
}

std::string ServerKey(const HttpSession& session, std::string_view host, std::uint16_t port) {
  std::string key(SchemePrefix(session.secure));
  for (char c : host) key += LowerLetter(c);
  return key + ":" + std::to_string(port) + " " + session.proxy.Str();
}

bool ReadResponseHeader(HttpSession& session, HttpResponse& response, std::string_view wantedName) {
  response = HttpResponse();
  response.fileName = StoredFileName(wantedName, session.directory);
  session.answerFailure.Clear();
  session.responseRead = ResponseRead::Partly;
  session.StatusEvent(HttpStatusEvent::ReadingHeader);
  HeaderBudget budget{session.answerDue};
  do {
    if (!ReadAnswerHeader(session, response, budget)) {
      if (budget.overrun != HeaderOverrun::None) {
        RefuseAnswer(session, OverrunText(session, budget.overrun));
      }
      return false;
    }
  } while (IsInterim(response.status));
  if (response.framing == BodyFraming::Chunked) {
    response.contentLength = 0;
  } else if (response.lengthUnusable) {
    RefuseAnswer(session, Cat("Invalid Content-Length from ", session.BaseUrl()));
    return false;
  }
  session.responseRead = HasNoBody(response) ? ResponseRead::Whole : ResponseRead::Header;
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

}  // namespace quorbit
