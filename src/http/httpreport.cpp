#include "http/httpreport.h"

#include "report/runlog.h"
#include "report/transfercounts.h"

namespace {

// Screen first, then the run log.
Str255 DownloadingText(const HttpResponse& response) {
  Str255 text = Cat("Downloading ", response.fileName);
  if (response.contentLength > 0) {
    text += Cat(" ", IntToText(response.contentLength));
    text += " bytes ";
  }
  return text;
}
}  // namespace

void ReportingHttpSession::StatusEvent(HttpStatusEvent event) {
  switch (event) {
    case HttpStatusEvent::Connecting:
      RunLog::Show("Connecting ... ");
      break;
    case HttpStatusEvent::Connected:
      RunLog::ShowAndWrite("Connection established",
                           Cat("Connection established with ", BaseUrl()));
      break;
    case HttpStatusEvent::ConnectFailed:
      RunLog::ShowAndWrite("Unable to establish connection",
                           Cat("Unable to establish connection with ", BaseUrl()));
      break;
    case HttpStatusEvent::ReadingHeader:
      RunLog::Show("Retrieving file header information");
      break;
    case HttpStatusEvent::TlsFailed:
      RunLog::ShowAndWrite(tlsFailure, tlsFailure);
      break;
    case HttpStatusEvent::Interrupted:
      RunLog::ShowAndWrite("Connection interrupted", "Connection interrupted");
      break;
    default:
      break;
  }
}

void ReportingHttpSession::FileEvent(HttpFileEvent event, const HttpResponse& response) {
  Str255 text;
  switch (event) {
    case HttpFileEvent::Downloading:
      text = DownloadingText(response);
      break;
    case HttpFileEvent::NotFound:
      text = Cat("Unable to find ", response.fileName);
      break;
    case HttpFileEvent::CreateFailed:
      text = Cat("Unable to create file on local drive ", response.fileName);
      break;
    case HttpFileEvent::Unchanged:
      text = Cat("Skipping unmodified file ", response.fileName);
      break;
    case HttpFileEvent::Complete:
      text = TransferTimeText(response.transferTime);
      CountHttpFetched();
      break;
    case HttpFileEvent::Redirected:
      text = Cat("Redirected to ", response.location);
      break;
    case HttpFileEvent::RedirectRefused:
      text = Cat("Unable to follow redirect to ", response.location);
      break;
    case HttpFileEvent::TooManyRedirects:
      text = Cat("Too many redirects for ", requested);
      break;
    case HttpFileEvent::Incomplete:  // the caller reports the failed fetch
    default:
      return;
  }
  RunLog::ShowAndWrite(text, text);
  if (event == HttpFileEvent::NotFound && !StatusLine().Empty()) {
    RunLog::Write(Cat("Server reported: ", StatusLine()));
  }
}

void ReportingHttpSession::PercentEvent(std::int32_t percent) {
  progress_.Percent(percent);
}

void ReportingHttpSession::BytesEvent(std::int64_t bytes) {
  progress_.Bytes(bytes);
}
