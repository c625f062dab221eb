// One fetch of a URL (with its redirects) as the HTTP client sees it: the
// parts of the address requested, the connection it goes over, what is
// known of the answer, and four event operations through which the fetch
// reports its progress. ReportingHttpSession (httpreport.h) turns the
// events into screen and log lines; HttpGet (httpget.h) runs the fetch.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/responsehead.h"
#include "http/weburl.h"
#include "net/connection.h"
#include "util/eventnames.h"

namespace quorbit {

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

// How far the last response on the connection was read.
enum class ResponseRead : std::uint8_t {
  Partly = 0,  // not even its header whole, or a body that broke off (or ran until the close)
  Header = 1,  // the header to its empty line; a body may follow
  Whole = 2,   // the header and exactly the body its framing announced: the next answer is next
};

struct KeptConnection;  // connectionpool.h

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

  const std::string& BaseUrl() const { return baseUrl; }
  const std::string& Directory() const { return directory; }
  const std::string& StatusLine() const { return statusLine; }

  virtual void StatusEvent(HttpStatusEvent event) = 0;
  virtual void FileEvent(HttpFileEvent event, const HttpResponse& response) = 0;
  virtual void PercentEvent(std::int32_t percent) = 0;
  virtual void BytesEvent(std::int64_t bytes) = 0;
  // Asked before a redirect to target is followed; false ends the fetch
  // there (the owner already has that file).
  virtual bool MayFollow(const WebUrl& target);

  std::string
      baseUrl;  // "http://" or "https://" + host when the URL had that prefix, else the host
  bool secure = false;     // the URL is an https address
  std::string directory;   // begins and ends with "/"
  std::string file;        // after the last "/"; the 8.3 name when short names are used
  std::string statusLine;  // first response line as received
  std::string requested;   // the URL HttpGet was given, before any redirect
  WebUrl address;          // where the last request went; its path with the query
  // The local name fixed by the address first asked for, once a redirect has
  // been followed; empty: the name comes from the address requested.
  std::string storedName;
  // The local file the last body was stored in, or the unchanged copy kept;
  // empty: none. The name in it may be shorter than the response's fileName,
  // cut to fit the longest local path.
  std::string storedPath;
  TcpConnection connection;
  // The server the open connection talks to (ServerKey); empty: none open.
  std::string openServer;
  ResponseRead responseRead = ResponseRead::Partly;
  // Where the connection is left after HttpGet for a later session; none: it is closed.
  KeptConnection* keep = nullptr;
  std::string proxy;  // "host:port" of the proxy; empty: connect directly
  TlsOptions tls;     // how https servers are checked
  // The directory stored files must stay inside (the assignment's); empty:
  // the local directory of the fetch.
  std::string storeRoot;
  // The line that says why the last TLS session did not start (or why the
  // proxy gave no tunnel for it).
  std::string tlsFailure;
  // Seconds a body may stay silent before the transfer counts as broken.
  std::uint16_t bodyIdleSeconds = DefaultTimeout;
  // Seconds from sending a request until its answer's header must be whole.
  std::uint16_t headerSeconds = DefaultTimeout;
  // When the header of the answer to the request just sent must be whole.
  std::chrono::steady_clock::time_point answerDue;
  // Why the last answer could not be used at all (a header without end, a
  // length that is no length); its line has been written. Empty: it could.
  std::string answerFailure;

 private:
  bool done_ = false;
};

// When a header asked for now must be whole.
std::chrono::steady_clock::time_point HeaderDeadline(const HttpSession& session);

}  // namespace quorbit
