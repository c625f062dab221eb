#include "ftp/ftpreport.h"

#include "report/runlog.h"
#include "report/transfercounts.h"

namespace {

// text, or text + " (try N)" from the second try on.
Str255 WithTryNumber(std::string_view text, const Str255& tryNumber) {
  if (tryNumber.Empty() || tryNumber == "1") return text;
  Str255 line = Cat(text, " (try ");
  line += tryNumber.View();
  line += ")";
  return line;
}

// name + " " + size + " bytes " after the verb.
Str255 AnnounceText(std::string_view verb, const FtpFileRecord& file) {
  Str255 text = Cat(verb, file.name);
  text += " ";
  text += IntToText(file.size).View();
  text += " bytes ";
  return text;
}

// "Transfer time MM:SS", each part two characters.
// Codes after which the run log also gets the server's last reply.
bool QuotesServerReply(std::uint8_t code) {
  return code == 2 || code == 7 || code == 8 || code == 12;
}

}  // namespace

void ReportingFtpSession::StatusEvent(std::uint8_t code, const Str255& text) {
  switch (code) {
    case 0: {
      const Str255 line = WithTryNumber("Establishing connection", text);
      RunLog::ShowAndWrite(line, line);
      break;
    }
    case 1:
      RunLog::ShowAndWrite("Connection established", Cat("Connection established with ", Host()));
      break;
    case 2:
      RunLog::ShowAndWrite("Unable to establish connection",
                           Cat("Unable to establish connection with ", Host()));
      break;
    case 4:
      RunLog::ShowAndWrite("Unable to find file", "Unable to find file(s) to transfer");
      break;
    case 5:
      RunLog::Show("Retrieving file information");
      break;
    case 7:
      RunLog::ShowAndWrite("User name incorrect", "User name incorrect");
      break;
    case 8:
      RunLog::ShowAndWrite("Password error", "Password error");
      break;
    case 12:
      RunLog::ShowAndWrite("Unable to change working directory",
                           "Unable to change working directory");
      break;
    case 13:
      RunLog::Show("Sending user name");
      break;
    case 14:
      RunLog::Show("Sending password");
      break;
    case 15:
      RunLog::Show("Login successful");
      break;
    case 16:
      RunLog::Show("Preparing to download");
      break;
    case 17:
      RunLog::Show("Login unsuccessful");
      break;
    case 20:
      RunLog::Show("Preparing to upload");
      break;
    case 24:
      RunLog::ShowAndWrite("Connection interrupted", "Connection interrupted");
      break;
    case 28:
      RunLog::ShowAndWrite(WithTryNumber("Establishing data channel", text),
                           "Establishing data channel");
      break;
    case 29:
      RunLog::ShowAndWrite("Data channel open", "Data channel open");
      break;
    case 30:
      RunLog::ShowAndWrite("Not logged in", "Not logged in");
      break;
    case kStatusNoLocalDirectory: {
      const Str255 line = Cat("Unable to create directory ", text);
      RunLog::ShowAndWrite(line, line);
      break;
    }
    default:
      return;
  }
  if (QuotesServerReply(code) && !LastReply().Empty()) {
    RunLog::Write(Cat("Server reported: ", LastReply()));
  }
}

void ReportingFtpSession::FileEvent(std::uint8_t code, const FtpFileRecord& file) {
  Str255 text;
  switch (code) {
    case 3:
      text = AnnounceText("Downloading ", file);
      break;
    case 6:
      text = "Unable to establish data channel";
      break;
    case 18:
      text = Cat("Skipping unmodified file ", file.name);
      break;
    case 19:
      text = AnnounceText("Uploading ", file);
      break;
    case 21:
      text = Cat("Deleting file ", file.name);
      break;
    case 22:
      text = TransferTimeText(file.transferSeconds);
      if (file.direction == 1) CountFtpDownloaded();
      if (file.direction == 0) CountFtpUploaded();
      break;
    case 23:
      text = Cat("Skipping zero byte file ", file.name);
      break;
    case 26:
      text = Cat(Cat("Download failed, ", file.name), " not transferred");
      break;
    case 27:
      text = Cat(Cat("Upload failed, ", file.name), " not transferred");
      break;
    default:
      return;
  }
  RunLog::ShowAndWrite(text, text);
  if (code == 6 && !LastReply().Empty()) RunLog::Write(Cat("Server reported: ", LastReply()));
}

void ReportingFtpSession::PercentEvent(std::int32_t percent) {
  progress_.Percent(percent);
}

void ReportingFtpSession::BytesEvent(std::int64_t count) {
  progress_.Bytes(count);
}
