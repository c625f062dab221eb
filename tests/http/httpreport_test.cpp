// The reporting session: which lines reach the screen and the run log, the
// progress bar and byte counter with their repeat suppression, and the
// transfer count.
#include "http/httpreport.h"

#include <gtest/gtest.h>

#include "httptestsupport.h"
#include "report/transfercounts.h"
#include "util/localfiles.h"

namespace {

using Lines = std::vector<std::string>;

HttpResponse ResponseFor(const char* fileName, std::int64_t contentLength = 0,
                         std::int32_t transferTime = 0) {
  HttpResponse response;
  response.fileName = fileName;
  response.contentLength = contentLength;
  response.transferTime = transferTime;
  return response;
}

TEST(ReportingHttpSession, StatusEventsShowShortAndLogLongLines) {
  ReportCapture capture;
  {
    ReportingHttpSession session("");
    session.baseUrl = "http://host.test";
    using enum HttpStatusEvent;
    for (HttpStatusEvent event : {Connecting, Connected, ConnectFailed, ReadingHeader, Interrupted,
                                  HttpStatusEvent{3}, HttpStatusEvent{99}}) {
      session.StatusEvent(event);
    }
  }
  EXPECT_EQ(capture.Memo(),
            (Lines{"Connecting ... ", "Connection established", "Unable to establish connection",
                   "Retrieving file header information", "Connection interrupted"}));
  EXPECT_EQ(capture.LogLines(), (Lines{"Connection established with http://host.test",
                                       "Unable to establish connection with http://host.test",
                                       "Connection interrupted"}));
}

TEST(ReportingHttpSession, FileEventsWriteTheSameTextToScreenAndLog) {
  ReportCapture capture;
  ClearTransferCounts();
  {
    ReportingHttpSession session("");
    session.requested = "http://host.test/a";
    HttpResponse moved;
    moved.location = "http://other.test:8080/b";
    using enum HttpFileEvent;
    session.FileEvent(Redirected, moved);
    session.FileEvent(RedirectRefused, moved);
    session.FileEvent(TooManyRedirects, moved);
    session.FileEvent(Downloading, ResponseFor("a.html", 1500));
    session.FileEvent(Downloading, ResponseFor("b.gif"));
    session.FileEvent(Downloading, ResponseFor("dvd.iso", 5000000000));
    session.FileEvent(CreateFailed, ResponseFor("c.txt"));
    session.FileEvent(Unchanged, ResponseFor("d.txt"));
    session.FileEvent(Incomplete, ResponseFor("e.txt"));  // nothing: the caller reports it
    session.FileEvent(Complete, ResponseFor("f.txt", 0, 3));
    session.FileEvent(Complete, ResponseFor("g.txt", 0, 125));
    session.FileEvent(Complete, ResponseFor("h.txt", 0, 6000));  // 100 minutes keep two digits
  }
  Lines expected = {"Redirected to http://other.test:8080/b",
                    "Unable to follow redirect to http://other.test:8080/b",
                    "Too many redirects for http://host.test/a",
                    "Downloading a.html 1500 bytes ",
                    "Downloading b.gif",
                    "Downloading dvd.iso 5000000000 bytes ",
                    "Unable to create file on local drive c.txt",
                    "Skipping unmodified file d.txt",
                    "Transfer time 00:03",
                    "Transfer time 02:05",
                    "Transfer time 10:00"};
  EXPECT_EQ(capture.Memo(), expected);
  EXPECT_EQ(capture.LogLines(), expected);
  EXPECT_EQ(TransferCounts.HttpFetched, 3);
}

TEST(ReportingHttpSession, NotFoundAddsTheServersStatusLineToTheLogOnly) {
  ReportCapture capture;
  {
    ReportingHttpSession session("");
    session.FileEvent(HttpFileEvent::NotFound, ResponseFor("gone.html"));  // no status line yet
    session.statusLine = "HTTP/1.1 404 Not Found";
    session.FileEvent(HttpFileEvent::NotFound, ResponseFor("lost.html"));
  }
  EXPECT_EQ(capture.Memo(), (Lines{"Unable to find gone.html", "Unable to find lost.html"}));
  EXPECT_EQ(capture.LogLines(), (Lines{"Unable to find gone.html", "Unable to find lost.html",
                                       "Server reported: HTTP/1.1 404 Not Found"}));
}

TEST(ReportingHttpSession, ProgressShowsEachNewValueOnce) {
  ReportCapture capture;
  {
    ReportingHttpSession session("");
    for (int p : {0, 40, 40, 100, -1, 100}) session.PercentEvent(p);
    for (std::int64_t n : {0LL, 2048LL, 2048LL, 5000000000LL, -1LL}) session.BytesEvent(n);
  }
  EXPECT_EQ(capture.sink.calls,
            (Lines{"hide bytes", "percent: 40", "hide bytes", "percent: 100", "hide percent",
                   "hide bytes", "percent: 100", "hide percent", "bytes: Received 2048 bytes",
                   "hide percent", "bytes: Received 5000000000 bytes", "hide bytes"}));
  EXPECT_TRUE(capture.LogLines().empty());
}

TEST(ReportingHttpSession, DownloadIsReportedFromStartToEnd) {
  // 1500 bytes with CONTENT-LENGTH 1500 from a scripted server that closes
  // without waiting for the client.
  ReportCapture capture;
  ClearTransferCounts();
  PeerProcess server;
  int port = StartScriptedServer(server, capture.dir,
                                 "expect GET /f.bin HTTP/1.1\nexpect_match Host: *\nexpect \n"
                                 "send HTTP/1.1 200 OK\\r\\nContent-Length: 1500\\r\\n\\r\\n" +
                                     std::string(1000, 'x') + "\npause 0.2\nsend " +
                                     std::string(500, 'y') + "\nclose\n");
  ASSERT_NE(port, 0);
  Str80 local = capture.dir / "store/";
  ASSERT_TRUE(EnsureDirectory(local));
  HttpResponse response;
  {
    ReportingHttpSession session("");
    EXPECT_TRUE(HttpGet(session, "http://127.0.0.1/f.bin", local, static_cast<std::uint16_t>(port),
                        false, false, response));
  }
  // The stopwatch counts changes of the clock's second: 0.2 s may count as one.
  Lines memo = capture.Memo();
  ASSERT_FALSE(memo.empty());
  const std::string transferTime = memo.back();
  EXPECT_TRUE(transferTime == "Transfer time 00:00" || transferTime == "Transfer time 00:01")
      << transferTime;
  EXPECT_EQ(memo, (Lines{"Connecting ... ", "Connection established",
                         "Retrieving file header information", "Downloading f.bin 1500 bytes ",
                         transferTime}));
  EXPECT_EQ(capture.LogLines(), (Lines{"Connection established with http://127.0.0.1",
                                       "Downloading f.bin 1500 bytes ", transferTime}));
  EXPECT_EQ(capture.Display(),
            (Lines{"hide bytes", "percent: 67", "hide bytes", "percent: 100", "hide percent"}));
  EXPECT_EQ(TransferCounts.HttpFetched, 1);
}

}  // namespace
