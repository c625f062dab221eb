// The HTTP client: fetches one http or https URL with an HTTP/1.1 GET, directly
// or through a proxy (https through a CONNECT tunnel, TLS running inside it), and stores the body
// in a local directory. Reads the status line and the header fields it needs, can skip a file whose
// LAST-MODIFIED equals the stored copy's date, can store under 8.3 names, follows redirects (a 301
// or 302 without LOCATION, or one to the same address with a "/" added, is fetched as a directory),
// and stamps the stored file with LAST-MODIFIED. A body is written to ".<name>.quorbit-part" beside
// the stored copy and replaces it only when complete, so a broken transfer leaves the old copy as
// it was.
//
// A connection whose response was read exactly to its end, and which the server keeps open, serves
// the next request to the same server: the next hop of a redirect, and, through a KeptConnection,
// the next fetch of the same assignment, unless bytes nobody asked for wait on it: they would be
// taken for the next answer, so the connection is closed instead. A request on such a connection
// that fails before any response byte (the server closed it while it was idle) is made once more
// on a fresh connection.
//
// A header is bounded in lines, bytes and time (the whole of it, from the request on); interim
// (1xx) answers before it are passed over. A header past its bounds, or one whose CONTENT-LENGTH
// gives no length, fails the fetch with a run-log line that says why, written here.
//
// Progress goes out through four event operations; ReportingHttpSession
// (httpreport.h) turns them into screen and log lines.
//
// Whatever a server or a page supplies is made harmless before it is used:
// the request target goes out percent-encoded where a byte could break the
// request, and a stored name never leaves the local directory.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "http/weburl.h"
#include "net/connection.h"
#include "report/datetext.h"
#include "util/eventnames.h"
#include "util/shorttext.h"

namespace quorbit {

// How the end of a body is known.
enum class BodyFraming : std::uint8_t {
  UntilClose = 0,  // no length given: the server closes after the last byte
  Length = 1,      // CONTENT-LENGTH bytes (possibly none)
  Chunked = 2,     // TRANSFER-ENCODING chunked: size lines, ended by a 0 chunk
};

// Values of the last response read; cleared at the start of each header read.
struct HttpResponse {
  Str255 fileName;                 // local name (no directory) the body is stored under
  Str255 contentType;              // upper case
  std::int64_t contentLength = 0;  // 0: not given (or chunked)
  PackedDateTime lastModified = 0;
  bool connectionClose = false;      // CONNECTION named CLOSE
  bool connectionKeepAlive = false;  // CONNECTION named KEEP-ALIVE (an HTTP/1.0 server keeps it)
  std::uint16_t status = 0;
  PackedDateTime serverDate = 0;
  Str255 server;                  // upper case
  std::int32_t transferTime = 0;  // whole seconds spent receiving the body
  BodyFraming framing = BodyFraming::UntilClose;
  // A CONTENT-LENGTH that gives no length (see ParseContentLength), or two
  // that differ: where the body ends cannot be known.
  bool lengthUnusable = false;
  // LOCATION as written; once a redirect is followed or refused, the address
  // it led to. locationCut: the line was too long to hold the whole address.
  Str255 location;
  bool locationCut = false;
};

// Events of HttpSession::StatusEvent. The numbers are those the reporting
// session decodes.
enum class HttpStatusEvent : std::uint8_t {
  Connecting = 0,
  Connected = 1,
  ConnectFailed = 2,
  ReadingHeader = 5,
  Interrupted = 10,  // the connection failed during the fetch
  TlsFailed = 14,    // no TLS session: HttpSession::tlsFailure says why
};

inline constexpr std::array<EventName<HttpStatusEvent>, 6> kHttpStatusEventNames = {{
    {HttpStatusEvent::Connecting, "Connecting"},
    {HttpStatusEvent::Connected, "Connected"},
    {HttpStatusEvent::ConnectFailed, "ConnectFailed"},
    {HttpStatusEvent::ReadingHeader, "ReadingHeader"},
    {HttpStatusEvent::Interrupted, "Interrupted"},
    {HttpStatusEvent::TlsFailed, "TlsFailed"},
}};
static_assert(NamesAreDistinct(kHttpStatusEventNames));

constexpr std::string_view HttpStatusEventName(HttpStatusEvent event) {
  return NameOf(kHttpStatusEventNames, event);
}

// Events of HttpSession::FileEvent.
enum class HttpFileEvent : std::uint8_t {
  Downloading = 3,   // the body starts
  NotFound = 4,      // the status was not 200
  Incomplete = 6,    // the body ended early
  CreateFailed = 7,  // the local file could not be written
  Unchanged = 8,     // skipped: LAST-MODIFIED equals the stored copy's date
  Complete = 9,
  Redirected = 11,        // a redirect is followed to response.location
  RedirectRefused = 12,   // response.location is no http or https address
  TooManyRedirects = 13,  // a sixth redirect, or one back to an address of the chain
};

inline constexpr std::array<EventName<HttpFileEvent>, 9> kHttpFileEventNames = {{
    {HttpFileEvent::Downloading, "Downloading"},
    {HttpFileEvent::NotFound, "NotFound"},
    {HttpFileEvent::Incomplete, "Incomplete"},
    {HttpFileEvent::CreateFailed, "CreateFailed"},
    {HttpFileEvent::Unchanged, "Unchanged"},
    {HttpFileEvent::Complete, "Complete"},
    {HttpFileEvent::Redirected, "Redirected"},
    {HttpFileEvent::RedirectRefused, "RedirectRefused"},
    {HttpFileEvent::TooManyRedirects, "TooManyRedirects"},
}};
static_assert(NamesAreDistinct(kHttpFileEventNames));

constexpr std::string_view HttpFileEventName(HttpFileEvent event) {
  return NameOf(kHttpFileEventNames, event);
}

// Redirects followed for one file before it counts as failed.
inline constexpr int kMaxRedirects = 5;

// Bounds of one answer's header, interim (1xx) answers before it included;
// the time is the session's headerSeconds. Far beyond what real servers
// send; a server that goes on past them never ends its header.
inline constexpr int kHeaderLinesMax = 1000;
inline constexpr std::int64_t kHeaderBytesMax = std::int64_t{256} * 1024;

// How far the last response on the connection was read.
enum class ResponseRead : std::uint8_t {
  Partly = 0,  // not even its header whole, or a body that broke off (or ran until the close)
  Header = 1,  // the header to its empty line; a body may follow
  Whole = 2,   // the header and exactly the body its framing announced: the next answer is next
};

// A connection left open by one fetch for the next fetch of the same
// assignment, and the server it talks to.
struct KeptConnection {
  TcpConnection connection;
  std::string server;  // as ServerKey gives it; empty: none kept
};

// One fetch (with its redirects): the parts of the URL requested, the
// connection and the event operations. Done must be called by the owner
// while the derived object still exists (its destructor may do it), because
// it may raise an event.
class HttpSession {
 public:
  // Opens the TCP/IP debug log of the connection unless the name is empty.
  explicit HttpSession(std::string_view debugLogName);
  virtual ~HttpSession() = default;
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // Raises StatusEvent Interrupted when the connection had failed, then
  // stops its debug log. Only the first call does anything.
  void Done();

  Str255 BaseUrl() const { return baseUrl; }
  Str255 Directory() const { return directory; }
  Str255 StatusLine() const { return statusLine; }

  virtual void StatusEvent(HttpStatusEvent event) = 0;
  virtual void FileEvent(HttpFileEvent event, const HttpResponse& response) = 0;
  virtual void PercentEvent(std::int32_t percent) = 0;
  virtual void BytesEvent(std::int64_t bytes) = 0;
  // Asked before a redirect to target is followed; false ends the fetch
  // there (the owner already has that file).
  virtual bool MayFollow(const WebUrl& target);

  Str255 baseUrl;  // "http://" or "https://" + host when the URL had that prefix, else the host
  bool secure = false;  // the URL is an https address
  Str255 directory;     // begins and ends with "/"
  Str255 file;          // after the last "/"; the 8.3 name when short names are used
  Str255 statusLine;    // first response line as received
  Str255 requested;     // the URL HttpGet was given, before any redirect
  WebUrl address;       // where the last request went; its path with the query
  // The local name fixed by the address first asked for, once a redirect has
  // been followed; empty: the name comes from the address requested.
  Str255 storedName;
  TcpConnection connection;
  // The server the open connection talks to (ServerKey); empty: none open.
  std::string openServer;
  ResponseRead responseRead = ResponseRead::Partly;
  // Where the connection is left after HttpGet for a later session; none: it is closed.
  KeptConnection* keep = nullptr;
  Str255 proxy;    // "host:port" of the proxy; empty: connect directly
  TlsOptions tls;  // how https servers are checked
  // The directory stored files must stay inside (the assignment's); empty:
  // the local directory of the fetch.
  std::string storeRoot;
  // The line that says why the last TLS session did not start (or why the
  // proxy gave no tunnel for it).
  Str255 tlsFailure;
  // Seconds a body may stay silent before the transfer counts as broken.
  std::uint16_t bodyIdleSeconds = DefaultTimeout;
  // Seconds from sending a request until its answer's header must be whole.
  std::uint16_t headerSeconds = DefaultTimeout;
  // When the header of the answer to the request just sent must be whole.
  std::chrono::steady_clock::time_point answerDue;
  // Why the last answer could not be used at all (a header without end, a
  // length that is no length); its line has been written. Empty: it could.
  Str255 answerFailure;

 private:
  bool done_ = false;
};

// Who a connection talks to: scheme, host (in lower case), port and proxy. A
// connection serves only requests of the same server key.
std::string ServerKey(const HttpSession& session, std::string_view host, std::uint16_t port);

// Splits the URL into the session's baseUrl, secure, directory and file;
// returns the host. A port written in the URL stays part of the host.
Str255 SplitUrl(HttpSession& session, std::string_view url);

// What a GET does with the file besides fetching it.
struct GetOptions {
  bool ifModified = false;  // keep the stored file when the server's copy is not newer
  bool shortNames = false;  // store under an 8.3 name
};

// Fetches url into localDirectory (the caller's variable: it gains a trailing
// separator, and a redirect to the same address as a directory extends it by
// one subdirectory). Other redirects (301, 302, 303, 307, 308) are followed
// up to kMaxRedirects times, on whatever http or https server and port they
// name, and the file keeps the name of url. An https address is fetched over
// TLS as the session's tls options say; there is never a fallback to http. True when the body was
// stored completely or skipped as unchanged (ifModified). Afterwards the connection is closed, or,
// when it may serve another request, left in the session's keep.
bool HttpGet(HttpSession& session, std::string_view url, ShortStrRef localDirectory,
             std::uint16_t port, const GetOptions& options, HttpResponse& response);

// A header line split at its first colon: the field name before it and the
// value after it without the blanks and tabs around it, both as written.
// False for a line that is no field: no colon, or a name that is empty or
// holds white space (a folded continuation line, "NAME : value").
bool ParseHeaderField(std::string_view line, std::string_view& name, std::string_view& value);

// A CONTENT-LENGTH value: decimal digits only; -1 for anything else (a
// sign, a list) or a number beyond 63 bits. An answer with such a value has no
// body length anyone can know, and cannot be used.
std::int64_t ParseContentLength(std::string_view value);

// The hexadecimal size at the start of a chunk-size line (an extension
// after it is ignored); -1 when there is none or it is too large to count.
std::int64_t ParseChunkSize(std::string_view line);

// Reads the response to the request already sent on the session's connection
// and stores its body in localDirectory (which gains a trailing separator)
// under the session's stored name or else its file part. True when the body was stored completely
// or skipped as unchanged (ifModified).
bool ReceiveBody(HttpSession& session, ShortStrRef localDirectory, const GetOptions& options,
                 HttpResponse& response);

// Clears the response, derives its fileName from wantedName (or from the
// session's directory), waits for and reads the status line and the header
// up to its empty line, passing over interim (1xx) answers. True when the
// header is whole and the status is 200. A header past its bounds (see
// kHeaderLinesMax) or with an unusable CONTENT-LENGTH sets answerFailure.
bool ReadResponseHeader(HttpSession& session, HttpResponse& response, std::string_view wantedName);

// The address a LOCATION value names, resolved against the address it
// answers; its query is kept. Empty for another scheme or no usable server.
std::optional<WebUrl> RedirectTarget(std::string_view location, const WebUrl& from);

// The local name for a file part (empty: named after the directory, "/docs/"
// gives "docs.html", "/" gives "index.html"): query and fragment cut, %XX
// escapes decoded, made safe with SafeFileName.
Str255 StoredFileName(std::string_view wantedName, std::string_view urlDirectory);

// "/", "\" and NUL become "_"; "." and ".." become "_" and "__".
Str255 SafeFileName(std::string_view name);

// Replaces each "%" and the two characters after it by the byte they give in
// hexadecimal, for as long as the text contains a "%".
Str255 DecodeEscapes(std::string_view text);

// Bytes at or below 32 and at or above 127 as %XX, so that text taken from a
// URL cannot end or split a request line.
Str255 EncodeRequestText(std::string_view text);

// Date of an upper-case DATE or LAST-MODIFIED value, in the forms
// "SUN, 06 NOV 1994 08:49:37 GMT" and "SUNDAY, 06-NOV-94 08:49:37 GMT"; the
// time as written, without zone conversion. 0 when it makes no valid date.
PackedDateTime ParseHttpDate(std::string_view text);

}  // namespace quorbit
