#include "ftp/ftpreport.h"

#include <string>

#include "report/runlog.h"
#include "report/transfercounts.h"
#include "util/shorttext.h"

namespace quorbit {

namespace {

// text, or text + " (try N)" from the second try on.
std::string WithTryNumber(std::string_view text, std::int32_t tryNumber) {
  std::string line(text);
  if (tryNumber > 1) line += " (try " + std::to_string(tryNumber) + ")";
  return line;
}

// name + " " + size + " bytes " after the verb.
std::string AnnounceText(std::string_view verb, const FtpFileRecord& file) {
  const std::string size = file.size == kUnknownSize ? "?" : std::to_string(file.size);
  return std::string(verb) + file.name + " " + size + " bytes ";
}

// Status events after which the run log also gets the server's last reply.
bool QuotesServerReply(FtpStatusEvent event) {
  return event == FtpStatusEvent::ConnectFailed || event == FtpStatusEvent::UserRefused ||
         event == FtpStatusEvent::PasswordRefused || event == FtpStatusEvent::ChangeDirFailed;
}

// File events whose line says that the file was not transferred or its
// source not deleted.
bool IsFileFailure(FtpFileEvent event) {
  return event == FtpFileEvent::DataChannelFailed || event == FtpFileEvent::DownloadFailed ||
         event == FtpFileEvent::UploadFailed || event == FtpFileEvent::SourceKept;
}

}  // namespace

void ReportingFtpSession::StatusEvent(FtpStatusEvent event, std::string_view text) {
  switch (event) {
    case FtpStatusEvent::Connecting: {
      const std::string line = WithTryNumber("Establishing connection", TextToInt(text));
      RunLog::ShowAndWrite(line, line);
      break;
    }
    case FtpStatusEvent::Connected:
      RunLog::ShowAndWrite("Connection established", Cat("Connection established with ", Host()));
      break;
    case FtpStatusEvent::ConnectFailed:
      RunLog::ShowAndWriteFailure("Unable to establish connection",
                                  ConnectFailedLine(Host(), Control()));
      break;
    case FtpStatusEvent::NoFilesFound:
      RunLog::ShowAndWrite("Unable to find file", "Unable to find file(s) to transfer");
      break;
    case FtpStatusEvent::ReadingListing:
      RunLog::Show("Retrieving file information");
      break;
    case FtpStatusEvent::UserRefused:
      RunLog::ShowAndWriteFailure("User name incorrect");
      break;
    case FtpStatusEvent::PasswordRefused:
      RunLog::ShowAndWriteFailure("Password error");
      break;
    case FtpStatusEvent::ChangeDirFailed:
      RunLog::ShowAndWriteFailure("Unable to change working directory");
      break;
    case FtpStatusEvent::SendingUser:
      RunLog::Show("Sending user name");
      break;
    case FtpStatusEvent::SendingPassword:
      RunLog::Show("Sending password");
      break;
    case FtpStatusEvent::LoggedIn:
      RunLog::Show("Login successful");
      break;
    case FtpStatusEvent::PreparingDownload:
      RunLog::Show("Preparing to download");
      break;
    case FtpStatusEvent::LoginFailed:
      RunLog::Show("Login unsuccessful");
      break;
    case FtpStatusEvent::PreparingUpload:
      RunLog::Show("Preparing to upload");
      break;
    case FtpStatusEvent::Interrupted:
      RunLog::ShowAndWriteFailure("Connection interrupted");
      break;
    case FtpStatusEvent::OpeningDataChannel:
      RunLog::ShowAndWrite(WithTryNumber("Establishing data channel", TextToInt(text)),
                           "Establishing data channel");
      break;
    case FtpStatusEvent::DataChannelOpen:
      RunLog::ShowAndWrite("Data channel open", "Data channel open");
      break;
    case FtpStatusEvent::NotLoggedIn:
      RunLog::ShowAndWriteFailure("Not logged in");
      break;
    case FtpStatusEvent::NoLocalDirectory:
      RunLog::ShowAndWriteFailure(Cat("Unable to create directory ", text));
      break;
    case FtpStatusEvent::TlsRefused:
      RunLog::ShowAndWriteFailure(Cat("Server refused TLS: ", text));
      break;
    case FtpStatusEvent::TlsFailed:
      RunLog::ShowAndWriteFailure(text);
      break;
    case FtpStatusEvent::DeleteFailed:
      RunLog::ShowAndWriteFailure(Cat("Unable to delete file ", text));
      break;
    case FtpStatusEvent::ReplyFailed:
      RunLog::ShowAndWriteFailure(text);
      break;
    case FtpStatusEvent::ListingCut:
      RunLog::ShowAndWriteFailure(Cat("File list cut at ", text, ", later files not transferred"));
      break;
    case FtpStatusEvent::ListingFailed:
      RunLog::ShowAndWriteFailure(Cat("Unable to read file list: ", text));
      break;
    case FtpStatusEvent::LocalFileNotCreated:  // the "Download failed" line follows
    default:
      return;
  }
  if (QuotesServerReply(event) && !LastReply().empty()) {
    RunLog::Write(Cat("Server reported: ", LastReply()));
  }
}

void ReportingFtpSession::FileEvent(FtpFileEvent event, const FtpFileRecord& file) {
  std::string text;
  switch (event) {
    case FtpFileEvent::Downloading:
      text = AnnounceText("Downloading ", file);
      break;
    case FtpFileEvent::DataChannelFailed:
      text = "Unable to establish data channel";
      break;
    case FtpFileEvent::Unchanged:
      text = Cat("Skipping unmodified file ", file.name);
      break;
    case FtpFileEvent::Uploading:
      text = AnnounceText("Uploading ", file);
      break;
    case FtpFileEvent::Deleting:
      text = Cat("Deleting file ", file.name);
      break;
    case FtpFileEvent::Complete:
      text = TransferTimeText(file.transferSeconds);
      if (file.direction == 1) CountFtpDownloaded();
      if (file.direction == 0) CountFtpUploaded();
      break;
    case FtpFileEvent::ZeroBytesSkipped:
      text = Cat("Skipping zero byte file ", file.name);
      break;
    case FtpFileEvent::DownloadFailed:
      text = Cat("Download failed, ", file.name, " not transferred");
      break;
    case FtpFileEvent::UploadFailed:
      text = Cat("Upload failed, ", file.name, " not transferred");
      break;
    case FtpFileEvent::SourceKept:
      text = Cat("Not deleting ", file.name, ": the server did not confirm its size");
      break;
    case FtpFileEvent::DownloadRefused:  // the "... failed" line follows
    case FtpFileEvent::UploadRefused:
    default:
      return;
  }
  if (IsFileFailure(event)) {
    RunLog::ShowAndWriteFailure(text);
  } else {
    RunLog::ShowAndWrite(text, text);
  }
  if (event == FtpFileEvent::DataChannelFailed && !LastReply().empty()) {
    RunLog::Write(Cat("Server reported: ", LastReply()));
  }
}

void ReportingFtpSession::PercentEvent(std::int32_t percent) {
  progress_.Percent(percent);
}

void ReportingFtpSession::BytesEvent(std::int64_t count) {
  progress_.Bytes(count);
}

}  // namespace quorbit
