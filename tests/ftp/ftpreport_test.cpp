// The FTP reporting session: which lines reach the screen and the run log
// for each event, the server's reply quoted in the log, the progress bar and
// byte counter with repeats filtered, and the transfer counts.
#include "ftp/ftpreport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ftp_test_support.h"
#include "peers/report_capture.h"
#include "report/transfercounts.h"

namespace quorbit {

namespace {

using Lines = std::vector<std::string>;

FtpFileRecord File(const char* name, std::int64_t size = 0, std::int32_t seconds = 0,
                   std::uint8_t direction = 0) {
  FtpFileRecord file;
  file.name = name;
  file.size = size;
  file.transferSeconds = seconds;
  file.direction = direction;
  return file;
}

TEST(ReportingFtpSession, StatusEventsOnScreenAndInTheLog) {
  ReportCapture capture;
  {
    ReportingFtpSession session("");
    using enum FtpStatusEvent;
    for (FtpStatusEvent event :
         {SendingUser, SendingPassword, LoggedIn, PreparingDownload, LoginFailed, PreparingUpload,
          ReadingListing, NoFilesFound, UserRefused, PasswordRefused, Interrupted, DataChannelOpen,
          NotLoggedIn, LocalFileNotCreated, FtpStatusEvent{3}, FtpStatusEvent{99}}) {
      session.StatusEvent(event, {});
    }
    session.StatusEvent(Connecting, "1");
    session.StatusEvent(Connecting, "2");
    session.StatusEvent(OpeningDataChannel, "");
    session.StatusEvent(OpeningDataChannel, "1");
    session.StatusEvent(OpeningDataChannel, "3");
    session.StatusEvent(NoLocalDirectory, "/data/in/");
    session.StatusEvent(TlsRefused, "534 Policy requires SSL.");
    session.StatusEvent(TlsFailed, "TLS handshake with h failed: no answer from the server");
    session.StatusEvent(DeleteFailed, "a.txt: 550 Permission denied.");
  }
  EXPECT_EQ(capture.Memo(), (Lines{"Sending user name",
                                   "Sending password",
                                   "Login successful",
                                   "Preparing to download",
                                   "Login unsuccessful",
                                   "Preparing to upload",
                                   "Retrieving file information",
                                   "Unable to find file",
                                   "User name incorrect",
                                   "Password error",
                                   "Connection interrupted",
                                   "Data channel open",
                                   "Not logged in",
                                   "Establishing connection",
                                   "Establishing connection (try 2)",
                                   "Establishing data channel",
                                   "Establishing data channel",
                                   "Establishing data channel (try 3)",
                                   "Unable to create directory /data/in/",
                                   "Server refused TLS: 534 Policy requires SSL.",
                                   "TLS handshake with h failed: no answer from the server",
                                   "Unable to delete file a.txt: 550 Permission denied."}));
  EXPECT_EQ(
      capture.LogLines(),
      (Lines{"Unable to find file(s) to transfer", "User name incorrect", "Password error",
             "Connection interrupted", "Data channel open", "Not logged in",
             "Establishing connection", "Establishing connection (try 2)",
             "Establishing data channel", "Establishing data channel", "Establishing data channel",
             "Unable to create directory /data/in/", "Server refused TLS: 534 Policy requires SSL.",
             "TLS handshake with h failed: no answer from the server",
             "Unable to delete file a.txt: 550 Permission denied."}));
}

TEST(ReportingFtpSession, BoundsAndFailedListingsAreFailuresOfTheRun) {
  using enum FtpStatusEvent;
  const struct {
    FtpStatusEvent event;
    const char* text;
    const char* line;
  } rows[] = {
      {ReplyFailed, "Reply to LIST longer than 500 lines", "Reply to LIST longer than 500 lines"},
      {ListingCut, "200000 entries",
       "File list cut at 200000 entries, later files not transferred"},
      {ListingFailed, "no data for 120 s", "Unable to read file list: no data for 120 s"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    ClearTransferCounts();
    ReportCapture capture;
    {
      ReportingFtpSession session("");
      session.StatusEvent(row.event, row.text);
    }
    EXPECT_EQ(capture.Memo(), (Lines{row.line}));
    EXPECT_EQ(capture.LogLines(), (Lines{row.line}));
    EXPECT_TRUE(TransferCounts.failed);
  }
  ClearTransferCounts();
}

// The host and the last reply come from a real login attempt: the scripted
// server refuses the password.
TEST(ReportingFtpSession, RefusedPasswordQuotesTheServerInTheLogOnly) {
  ScriptedFtpServer server(kUpToPassword + "send 530 Login incorrect.\\r\\n\n");
  ReportCapture capture;
  {
    ReportingFtpSession session("");
    EXPECT_FALSE(LogIn(session, server.Port()));
    session.StatusEvent(FtpStatusEvent::ChangeDirFailed, {});
    session.FileEvent(FtpFileEvent::DataChannelFailed, File("a.txt"));
    session.Destroy();
  }
  EXPECT_EQ(capture.Memo(),
            (Lines{"Establishing connection", "Connection established", "Sending user name",
                   "Sending password", "Password error", "Login unsuccessful",
                   "Unable to change working directory", "Unable to establish data channel"}));
  EXPECT_EQ(capture.LogLines(),
            (Lines{"Establishing connection", "Connection established with 127.0.0.1",
                   "Password error", "Server reported: 530 Login incorrect.",
                   "Unable to change working directory", "Server reported: 530 Login incorrect.",
                   "Unable to establish data channel", "Server reported: 530 Login incorrect."}));
}

TEST(ReportingFtpSession, UnreachableServerAndLostConnection) {
  ReportCapture capture;
  {
    ReportingFtpSession session("");
    const auto port = static_cast<std::uint16_t>(FreeLoopbackPort());
    EXPECT_FALSE(session.Login({.host = "127.0.0.1",
                                .user = "alice",
                                .password = "x",
                                .port = port,
                                .retryDelay = 1,
                                .tries = 1}));
    session.Control().WaitReadable(1);  // no socket: the connection fails
    session.Destroy();
  }
  EXPECT_EQ(capture.Memo(), (Lines{"Establishing connection", "Unable to establish connection",
                                   "Connection interrupted"}));
  EXPECT_EQ(capture.LogLines(),
            (Lines{"Establishing connection",
                   "Unable to establish connection with 127.0.0.1: Connection refused",
                   "Connection interrupted"}));
}

// The run log says why no connection came; the screen line stays short.
// Each row: the server (a name, or a script played on 127.0.0.1), and the
// reason the run log gives.
TEST(ReportingFtpSession, ConnectFailureSaysWhy) {
  const struct {
    const char* what;
    std::string host;
    const char* script;  // null: nothing listens
    const char* reason;
  } rows[] = {
      // A label over 63 characters is refused before any query leaves the machine.
      {"unknown name", std::string(70, 'x') + ".invalid", nullptr, "Name or service not known"},
      {"server that never greets", "127.0.0.1", "await_close\n", "no answer within 1 s"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ReportCapture capture;
    PeerProcess server;
    int port = FreeLoopbackPort();
    if (row.script) port = StartScriptedServer(server, capture.dir, row.script);
    ASSERT_NE(port, 0);
    {
      ReportingFtpSession session("");
      session.SetTimeout(1);
      EXPECT_FALSE(session.Login({.host = row.host,
                                  .user = "alice",
                                  .password = "x",
                                  .port = static_cast<std::uint16_t>(port),
                                  .retryDelay = 1,
                                  .tries = 1}));
      session.Destroy();
    }
    const Lines log = capture.LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "Unable to establish connection with " + row.host + ": " + row.reason),
              log.end())
        << ::testing::PrintToString(log);
    const Lines memo = capture.Memo();
    EXPECT_NE(std::find(memo.begin(), memo.end(), "Unable to establish connection"), memo.end());
  }
}

TEST(ReportingFtpSession, FileEventsWriteTheSameTextToScreenAndLog) {
  // The longest name a listing gives: its lines are never cut.
  const std::string longName(kMaxRemoteName, 'n');
  ReportCapture capture;
  {
    ReportingFtpSession session("");
    using enum FtpFileEvent;
    session.FileEvent(Downloading, File("r.txt", 1500));
    session.FileEvent(Uploading, File("up.bin", 0));
    session.FileEvent(Downloading, File("big.iso", 4831838208));
    session.FileEvent(Unchanged, File("same.txt"));
    session.FileEvent(Deleting, File("gone.txt"));
    session.FileEvent(Complete, File("r.txt", 1500, 125, 1));
    session.FileEvent(Complete, File("quick", 0, 3));
    session.FileEvent(ZeroBytesSkipped, File("empty.txt"));
    session.FileEvent(DownloadFailed, File("down.txt"));
    session.FileEvent(UploadFailed, File("up.txt"));
    session.FileEvent(SourceKept, File("kept.txt"));
    session.FileEvent(DownloadFailed, File(longName.c_str()));
    session.FileEvent(DownloadRefused, File("refused.txt"));  // nothing: DownloadFailed follows
    session.FileEvent(UploadRefused, File("refused.txt"));    // nothing: UploadFailed follows
  }
  const Lines expected = {"Downloading r.txt 1500 bytes ",
                          "Uploading up.bin 0 bytes ",
                          "Downloading big.iso 4831838208 bytes ",
                          "Skipping unmodified file same.txt",
                          "Deleting file gone.txt",
                          "Transfer time 02:05",
                          "Transfer time 00:03",
                          "Skipping zero byte file empty.txt",
                          "Download failed, down.txt not transferred",
                          "Upload failed, up.txt not transferred",
                          "Not deleting kept.txt: the server did not confirm its size",
                          "Download failed, " + longName + " not transferred"};
  EXPECT_EQ(capture.Memo(), expected);
  EXPECT_EQ(capture.LogLines(), expected);
}

TEST(ReportingFtpSession, CompletedTransfersCountByDirection) {
  ReportCapture capture;
  ClearTransferCounts();
  ReportingFtpSession session("");
  session.FileEvent(FtpFileEvent::Complete, File("up", 1, 0, 0));
  EXPECT_EQ(TransferCounts.FtpUploaded, 1);
  EXPECT_EQ(TransferCounts.FtpDownloaded, 0);
  EXPECT_EQ(ExitStatus(), 2);
  session.FileEvent(FtpFileEvent::Complete, File("down", 1, 0, 1));
  EXPECT_EQ(ExitStatus(), 3);
  session.FileEvent(FtpFileEvent::DownloadFailed, File("failed", 1, 0, 1));
  EXPECT_EQ(TransferCounts.FtpDownloaded, 1);
  EXPECT_EQ(ExitStatus(), 7);
  ClearTransferCounts();
}

// Every line that says something went wrong marks the run as failed; lines
// of progress do not.
TEST(ReportingFtpSession, FailureLinesMarkTheRunAsFailed) {
  ReportCapture capture;
  ReportingFtpSession session("");
  using enum FtpStatusEvent;
  for (const FtpStatusEvent event :
       {ConnectFailed, UserRefused, PasswordRefused, ChangeDirFailed, Interrupted, NotLoggedIn,
        NoLocalDirectory, TlsRefused, TlsFailed, DeleteFailed}) {
    ClearTransferCounts();
    session.StatusEvent(event, "x");
    EXPECT_TRUE(TransferCounts.failed) << FtpStatusEventName(event);
  }
  for (const FtpStatusEvent event : {Connecting, Connected, NoFilesFound, LoggedIn,
                                     OpeningDataChannel, DataChannelOpen, LoginFailed}) {
    ClearTransferCounts();
    session.StatusEvent(event, "1");
    EXPECT_FALSE(TransferCounts.failed) << FtpStatusEventName(event);
  }
  for (const FtpFileEvent event : {FtpFileEvent::DataChannelFailed, FtpFileEvent::DownloadFailed,
                                   FtpFileEvent::UploadFailed, FtpFileEvent::SourceKept}) {
    ClearTransferCounts();
    session.FileEvent(event, File("f"));
    EXPECT_TRUE(TransferCounts.failed) << FtpFileEventName(event);
  }
  for (const FtpFileEvent event : {FtpFileEvent::Downloading, FtpFileEvent::Deleting,
                                   FtpFileEvent::Complete, FtpFileEvent::Unchanged}) {
    ClearTransferCounts();
    session.FileEvent(event, File("f"));
    EXPECT_FALSE(TransferCounts.failed) << FtpFileEventName(event);
  }
  ClearTransferCounts();
}

TEST(ReportingFtpSession, ProgressShowsEachNewValueOnceAndMinusOneHides) {
  ReportCapture capture;
  {
    ReportingFtpSession session("");
    for (std::int32_t v : {0, 37, 37, -5, 38, -1, 38}) session.PercentEvent(v);
    for (std::int64_t v : {0LL, 4096LL, 4096LL, 4831838208LL, -1LL, 4831838208LL}) {
      session.BytesEvent(v);
    }
  }
  // Showing one of the two hides the other first.
  EXPECT_EQ(capture.Display(),
            (Lines{"hide bytes", "percent: 37", "hide bytes", "percent: 38", "hide percent",
                   "hide bytes", "percent: 38", "hide percent", "bytes: Received 4096 bytes",
                   "hide percent", "bytes: Received 4831838208 bytes", "hide bytes", "hide percent",
                   "bytes: Received 4831838208 bytes"}));
}

}  // namespace

}  // namespace quorbit
