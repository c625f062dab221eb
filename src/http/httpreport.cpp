#include "http/httpreport.h"

#include <string>

#include "report/runlog.h"
#include "report/transfercounts.h"
#include "util/stoprequest.h"

namespace quorbit {

namespace {

// Screen first, then the run log.
std::string DownloadingText(const HttpResponse& response) {
  std::string text = "Downloading " + response.fileName;
  if (response.contentLength > 0) text += " " + std::to_string(response.contentLength) + " bytes ";
  return text;
}

// 404 and 410 say that the file is not there; any other answer is given as
// the server wrote it.
bool SaysNotFound(std::uint16_t status) {
  return status == 404 || status == 410;
}

// Why no file came: a real not-found answer is "Unable to find"; a server
// that never answered, an answer broken off in its header and any other
// status are said as what they are.
std::string NoFileText(const HttpSession& session, const HttpResponse& response) {
  const std::string failed = "Unable to download " + response.fileName;
  const std::string status = session.StatusLine();
  if (status.empty()) {
    if (StopRequested()) return failed + ": the run was stopped";
    if (session.connection.PeerClosed()) {
      return failed + ": the server closed the connection without an answer";
    }
    return failed + ": no answer from the server";
  }
  if (SaysNotFound(response.status)) return "Unable to find " + response.fileName;
  if (response.status == 200) return failed + ": the answer broke off in its header";
  return failed + ": the server answered " + status;
}

bool IsFailure(HttpFileEvent event) {
  using enum HttpFileEvent;
  return event == NotFound || event == CreateFailed || event == RedirectRefused ||
         event == TooManyRedirects;
}
}  // namespace

void ReportingHttpSession::StatusEvent(HttpStatusEvent event) {
  switch (event) {
    case HttpStatusEvent::Connecting:
      RunLog::Show("Connecting ... ");
      break;
    case HttpStatusEvent::Connected:
      RunLog::ShowAndWrite("Connection established", "Connection established with " + BaseUrl());
      break;
    case HttpStatusEvent::ConnectFailed:
      RunLog::ShowAndWriteFailure("Unable to establish connection",
                                  ConnectFailedLine(BaseUrl(), connection));
      break;
    case HttpStatusEvent::ReadingHeader:
      RunLog::Show("Retrieving file header information");
      break;
    case HttpStatusEvent::TlsFailed:
      RunLog::ShowAndWriteFailure(tlsFailure);
      break;
    case HttpStatusEvent::Interrupted:
      if (fileComplete_) break;
      RunLog::ShowAndWriteFailure("Connection interrupted", "Connection interrupted");
      break;
    default:
      break;
  }
}

void ReportingHttpSession::FileEvent(HttpFileEvent event, const HttpResponse& response) {
  std::string text;
  switch (event) {
    case HttpFileEvent::Downloading:
      text = DownloadingText(response);
      break;
    case HttpFileEvent::NotFound:
      text = NoFileText(*this, response);
      break;
    case HttpFileEvent::CreateFailed:
      text = "Unable to create file on local drive " + response.fileName;
      break;
    case HttpFileEvent::Unchanged:
      text = "Skipping unmodified file " + response.fileName;
      break;
    case HttpFileEvent::Complete:
      text = TransferTimeText(response.transferTime);
      CountHttpFetched();
      fileComplete_ = true;
      break;
    case HttpFileEvent::Redirected:
      text = "Redirected to " + response.location;
      break;
    case HttpFileEvent::RedirectRefused:
      text = "Unable to follow redirect to " + response.location;
      break;
    case HttpFileEvent::TooManyRedirects:
      text = "Too many redirects for " + requested;
      break;
    case HttpFileEvent::Incomplete:  // the caller reports the failed fetch
    default:
      return;
  }
  if (IsFailure(event)) {
    RunLog::ShowAndWriteFailure(text);
  } else {
    RunLog::ShowAndWrite(text, text);
  }
  if (event == HttpFileEvent::NotFound && SaysNotFound(response.status)) {
    RunLog::Write("Server reported: " + StatusLine());
  }
}

void ReportingHttpSession::PercentEvent(std::int32_t percent) {
  progress_.Percent(percent);
}

void ReportingHttpSession::BytesEvent(std::int64_t bytes) {
  progress_.Bytes(bytes);
}

}  // namespace quorbit
