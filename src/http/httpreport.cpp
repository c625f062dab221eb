#include "http/httpreport.h"

#include "report/logunit.h"
#include "report/transfercounts.h"

namespace {

// Screen first, then the run log.
void ShowAndWrite(std::string_view screenText, std::string_view logText) {
  RunLog::Show(screenText);
  RunLog::Write(logText);
}

Str255 DownloadingText(const HttpResponse& response) {
  Str255 text = Cat("Downloading ", response.fileName);
  if (response.contentLength > 0) {
    text += Cat(" ", IntToText(response.contentLength));
    text += " bytes ";
  }
  return text;
}

// "Transfer time MM:SS"; a time of 100 minutes or more keeps two digits.
Str255 TransferTimeText(std::int32_t seconds) {
  Str255 text = Cat("Transfer time ", TwoDigits(static_cast<std::uint16_t>(seconds / 60)));
  text += ':';
  text += TwoDigits(static_cast<std::uint16_t>(seconds % 60));
  return text;
}

}  // namespace

void ReportingHttpSession::StatusEvent(std::uint8_t code) {
  switch (code) {
    case HttpStatus::Connecting:
      RunLog::Show("Connecting ... ");
      break;
    case HttpStatus::Connected:
      ShowAndWrite("Connection established", Cat("Connection established with ", BaseUrl()));
      break;
    case HttpStatus::ConnectFailed:
      ShowAndWrite("Unable to establish connection",
                   Cat("Unable to establish connection with ", BaseUrl()));
      break;
    case HttpStatus::ReadingHeader:
      RunLog::Show("Retrieving file header information");
      break;
    case HttpStatus::Interrupted:
      ShowAndWrite("Connection interrupted", "Connection interrupted");
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
  ShowAndWrite(text, text);
  if (code == HttpFile::NotFound && !StatusLine().Empty()) {
    RunLog::Write(Cat("Server reported: ", StatusLine()));
  }
}

void ReportingHttpSession::PercentEvent(std::int32_t percent) {
  if (percent == kProgressEnd) {
    StatusDisplay::HidePercent();
  } else if (percent <= 0 || percent == lastPercent_) {
    return;
  } else {
    StatusDisplay::ShowPercent(percent);
  }
  lastPercent_ = static_cast<std::uint8_t>(percent);
}

void ReportingHttpSession::BytesEvent(std::int32_t bytes) {
  if (bytes == kProgressEnd) {
    StatusDisplay::HideByteCount();
  } else if (bytes <= 0 || bytes == lastByteCount_) {
    return;
  } else {
    StatusDisplay::ShowByteCount(bytes);
  }
  lastByteCount_ = bytes;
}
