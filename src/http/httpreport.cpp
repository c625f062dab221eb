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

void ReportingHttpSession::StatusEvent(std::uint8_t code) {
  switch (code) {
    case HttpStatus::Connecting:
      RunLog::Show("Connecting ... ");
      break;
    case HttpStatus::Connected:
      RunLog::ShowAndWrite("Connection established",
                           Cat("Connection established with ", BaseUrl()));
      break;
    case HttpStatus::ConnectFailed:
      RunLog::ShowAndWrite("Unable to establish connection",
                           Cat("Unable to establish connection with ", BaseUrl()));
      break;
    case HttpStatus::ReadingHeader:
      RunLog::Show("Retrieving file header information");
      break;
    case HttpStatus::Interrupted:
      RunLog::ShowAndWrite("Connection interrupted", "Connection interrupted");
      break;
    default:
      break;
  }
}

void ReportingHttpSession::FileEvent(std::uint8_t code, const HttpResponse& response) {
  Str255 text;
  switch (code) {
    case HttpFile::BodyStarts:
      text = DownloadingText(response);
      break;
    case HttpFile::NotFound:
      text = Cat("Unable to find ", response.fileName);
      break;
    case HttpFile::CreateFailed:
      text = Cat("Unable to create file on local drive ", response.fileName);
      break;
    case HttpFile::Unchanged:
      text = Cat("Skipping unmodified file ", response.fileName);
      break;
    case HttpFile::Complete:
      text = TransferTimeText(response.transferTime);
      CountHttpFetched();
      break;
    default:
      return;
  }
  RunLog::ShowAndWrite(text, text);
  if (code == HttpFile::NotFound && !StatusLine().Empty()) {
    RunLog::Write(Cat("Server reported: ", StatusLine()));
  }
}

void ReportingHttpSession::PercentEvent(std::int32_t percent) {
  progress_.Percent(percent);
}

void ReportingHttpSession::BytesEvent(std::int64_t bytes) {
  progress_.Bytes(bytes);
}
