// The reporting session: which lines reach the screen and the run log, the
// progress bar and byte counter with their repeat suppression, and the
// transfer count.
#include "http/httpreport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "httptestsupport.h"
#include "report/transfercounts.h"
#include "util/directorytrees.h"
#include "util/stoprequest.h"

namespace quorbit {

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

// The run log says why no connection came; the screen line stays short.
TEST(ReportingHttpSession, ConnectFailureSaysWhy) {
  const struct {
    std::string host;
    const char* reason;
  } rows[] = {
      {"127.0.0.1", "Connection refused"},
      // A label over 63 characters is refused before any query leaves the machine.
      {std::string(70, 'x') + ".invalid", "Name or service not known"},
  };
  for (const auto& row : rows) {
    ReportCapture capture;
    {
      ReportingHttpSession session("");
      session.baseUrl = "http://" + row.host;
      EXPECT_FALSE(
          session.connection.Connect(row.host, static_cast<std::uint16_t>(FreeLoopbackPort())));
      session.StatusEvent(HttpStatusEvent::ConnectFailed);
    }
    EXPECT_EQ(capture.Memo(), (Lines{"Unable to establish connection"}));
    EXPECT_EQ(capture.LogLines(), (Lines{"Unable to establish connection with http://" + row.host +
                                         ": " + row.reason}));
  }
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

TEST(ReportingHttpSession, FailureLinesMarkTheRunFailed) {
  using enum HttpStatusEvent;
  using enum HttpFileEvent;
  const struct {
    bool status;  // a status event, else a file event
    std::uint8_t event;
    bool failed;
  } cases[] = {
      {true, std::uint8_t(Connecting), false},       {true, std::uint8_t(Connected), false},
      {true, std::uint8_t(ConnectFailed), true},     {true, std::uint8_t(ReadingHeader), false},
      {true, std::uint8_t(Interrupted), true},       {true, std::uint8_t(TlsFailed), true},
      {false, std::uint8_t(Downloading), false},     {false, std::uint8_t(NotFound), true},
      {false, std::uint8_t(Incomplete), false},      {false, std::uint8_t(CreateFailed), true},
      {false, std::uint8_t(Unchanged), false},       {false, std::uint8_t(Complete), false},
      {false, std::uint8_t(Redirected), false},      {false, std::uint8_t(RedirectRefused), true},
      {false, std::uint8_t(TooManyRedirects), true},
  };
  ReportCapture capture;
  for (const auto& c : cases) {
    ClearTransferCounts();
    ReportingHttpSession session("");
    session.tlsFailure = "TLS handshake with h failed: test";
    if (c.status) {
      session.StatusEvent(HttpStatusEvent{c.event});
    } else {
      session.FileEvent(HttpFileEvent{c.event}, ResponseFor("a.html"));
    }
    EXPECT_EQ(TransferCounts.failed, c.failed) << int(c.event) << (c.status ? " status" : " file");
  }
}

// Asks the run to stop once the client waits for the header.
class StopWhileWaitingForTheHeader : public FakeStatusSink {
 public:
  void AddMemoLine(std::string_view text) override {
    FakeStatusSink::AddMemoLine(text);
    if (text == "Retrieving file header information") RequestStop(SIGTERM);
  }
};

// What the server does after the request, and the line (on screen and in the
// run log) that must say so; "Unable to find" only for a real not-found answer.
TEST(ReportingHttpSession, AFetchThatBringsNoFileSaysWhatHappened) {
  const struct {
    const char* serves;
    const char* line;
    const char* reported;  // the log's extra line, "" for none
    bool stop = false;
  } cases[] = {
      {"close\n", "Unable to download f.html: the server closed the connection without an answer",
       ""},
      {"await_close\n", "Unable to download f.html: the run was stopped", "", true},
      {"send HTTP/1.1 404 Not Found\\r\\nContent-Length: 0\\r\\n\\r\\n\n", "Unable to find f.html",
       "Server reported: HTTP/1.1 404 Not Found"},
      {"send HTTP/1.1 410 Gone\\r\\nContent-Length: 0\\r\\n\\r\\n\n", "Unable to find f.html",
       "Server reported: HTTP/1.1 410 Gone"},
      {"send HTTP/1.1 500 Internal Server Error\\r\\nContent-Length: 0\\r\\n\\r\\n\n",
       "Unable to download f.html: the server answered HTTP/1.1 500 Internal Server Error", ""},
      {"send HTTP/1.1 403 Forbidden\\r\\n\\r\\n\n",
       "Unable to download f.html: the server answered HTTP/1.1 403 Forbidden", ""},
      {"send HTTP/1.1 200 OK\\r\\nContent-Le\nclose\n",
       "Unable to download f.html: the answer broke off in its header", ""},
      {"send SSH-2.0-OpenSSH_9.2\\r\\n\nclose\n",
       "Unable to download f.html: the server answered SSH-2.0-OpenSSH_9.2", ""},
  };
  for (const auto& c : cases) {
    ReportCapture capture;
    StopWhileWaitingForTheHeader stopping;
    if (c.stop) SetStatusSink(&stopping);
    ClearTransferCounts();
    PeerProcess server;
    const int port = StartScriptedServer(
        server, capture.dir,
        std::string("expect GET /f.html HTTP/1.1\nexpect_match Host: *\nexpect \n") + c.serves);
    ASSERT_NE(port, 0);
    std::string local = capture.dir / "store/";
    HttpResponse response;
    {
      ReportingHttpSession session("");
      EXPECT_FALSE(HttpGet(session, "http://127.0.0.1/f.html", local,
                           static_cast<std::uint16_t>(port), {}, response));
    }
    ClearStopRequest();
    const Lines memo = c.stop ? stopping.Memo() : capture.Memo();
    SetStatusSink(&capture.sink);
    EXPECT_NE(std::find(memo.begin(), memo.end(), c.line), memo.end()) << c.serves;
    const Lines log = capture.LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), c.line), log.end()) << c.serves;
    const bool reported = std::any_of(log.begin(), log.end(), [](const std::string& line) {
      return line.starts_with("Server reported: ");
    });
    EXPECT_EQ(reported, *c.reported != 0) << c.serves;
    if (*c.reported) {
      EXPECT_NE(std::find(log.begin(), log.end(), c.reported), log.end()) << c.serves;
    }
    EXPECT_TRUE(TransferCounts.failed) << c.serves;
  }
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
  std::string local = capture.dir / "store/";
  ASSERT_TRUE(EnsureDirectory(local));
  HttpResponse response;
  {
    ReportingHttpSession session("");
    EXPECT_TRUE(HttpGet(session, "http://127.0.0.1/f.bin", local, static_cast<std::uint16_t>(port),
                        {}, response));
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

TEST(ReportingHttpSession, ABodyEndedByTheServersCloseIsNoInterruption) {
  ReportCapture capture;
  ClearTransferCounts();
  PeerProcess server;
  const int port = StartScriptedServer(
      server, capture.dir,
      "expect GET /a.txt HTTP/1.1\nexpect_match Host: *\nexpect \n"
      "send HTTP/1.0 200 OK\\r\\nContent-Type: text/plain\\r\\n\\r\\nhello\nclose\n");
  ASSERT_NE(port, 0);
  std::string local = capture.dir / "store/";
  ASSERT_TRUE(EnsureDirectory(local));
  HttpResponse response;
  {
    ReportingHttpSession session("");
    EXPECT_TRUE(HttpGet(session, "http://127.0.0.1/a.txt", local, static_cast<std::uint16_t>(port),
                        {}, response));
  }
  const Lines memo = capture.Memo();
  EXPECT_EQ(std::count(memo.begin(), memo.end(), "Connection interrupted"), 0);
  EXPECT_EQ(TransferCounts.HttpFetched, 1);
  EXPECT_FALSE(TransferCounts.failed);
}

}  // namespace

}  // namespace quorbit
