// HttpGet against scripted servers: each case states what the server sends
// and what the client must send back, for answers no real server gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "http/connectionpool.h"
#include "http/httpget.h"
#include "httptestsupport.h"
#include "peers/peers.h"
#include "report/transfercounts.h"
#include "util/directorytrees.h"
#include "util/fileattributes.h"

namespace quorbit {

namespace {

using Events = std::vector<std::string>;
using Names = std::vector<std::string>;

// Script steps that send text a byte at a time, 10 ms apart, so that every
// CR arrives apart from the LF after it.
std::string Dribble(std::string_view text) {
  std::string steps;
  for (char c : text) {
    char step[32];
    std::snprintf(step, sizeof step, "send \\x%02X\npause 0.01\n", static_cast<unsigned char>(c));
    steps += step;
  }
  return steps;
}

// The request the client must send for target, directly to the server.
std::string Request(const std::string& target) {
  return "expect GET " + target + " HTTP/1.1\nexpect_match Host: 127.0.0.1:*\nexpect \n";
}

class ScriptedHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    session.bodyIdleSeconds = 2;
    local = dir / "store/";
    ASSERT_TRUE(EnsureDirectory(local));
  }

  void Serve(const std::string& script) {
    port = static_cast<std::uint16_t>(StartScriptedServer(server, dir, script));
    ASSERT_NE(port, 0) << "scripted server did not start";
  }

  // Fetches the path from the scripted server into the store; records the time.
  bool Get(const std::string& path, bool ifModified = false, bool shortNames = false) {
    const auto start = std::chrono::steady_clock::now();
    bool ok = HttpGet(session, "127.0.0.1" + path, local, port,
                      {.ifModified = ifModified, .shortNames = shortNames}, response);
    seconds = SecondsSince(start);
    return ok;
  }

  // "DONE" when the server saw every expected line.
  std::string Verdict() { return server.ReadRest(15); }
  std::string Stored(const std::string& name) { return ReadFile(local + name); }
  // The names in the store, sorted: a partial file under any name shows here.
  Names StoreEntries() const {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(local)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir;
  PeerProcess server;
  RecordingHttpSession session;
  HttpResponse response;
  std::string local;
  std::uint16_t port = 0;
  double seconds = 0;
};

TEST_F(ScriptedHttp, MovedAnswerIsFetchedAgainAsDirectory) {
  // /docs answered 301: the client asks for /docs/ on a new connection and
  // stores the page as docs.html in the subdirectory docs.
  Serve(Request("/docs") +
        "send HTTP/1.1 301 Moved Permanently\\r\\nLocation: /docs/\\r\\nContent-Length: "
        "0\\r\\n\\r\\n\n"
        "accept\n" +
        Request("/docs/") +
        "send HTTP/1.1 200 OK\\r\\nContent-Length: 5\\r\\n\\r\\nhello\n"
        "expect_close\n");
  EXPECT_TRUE(Get("/docs"));
  EXPECT_EQ(Verdict(), "DONE\n");
  EXPECT_EQ(local, dir / "store/docs/");
  EXPECT_EQ(Stored("docs.html"), "hello");
  EXPECT_EQ(session.Directory(), "/docs/");
  EXPECT_EQ(session.BaseUrl(), "127.0.0.1");  // the retry URL has no prefix
  EXPECT_FALSE(session.Saw("NotFound"));
}

TEST_F(ScriptedHttp, RedirectSubdirectoryNamedDotDotStaysInside) {
  Serve(Request("/x/..") +
        "send HTTP/1.1 302 Found\\r\\nContent-Length: 0\\r\\n\\r\\n\n"
        "accept\n" +
        Request("/x/../") + "send HTTP/1.1 200 OK\\r\\nContent-Length: 2\\r\\n\\r\\nok\n");
  EXPECT_TRUE(Get("/x/.."));
  EXPECT_EQ(Verdict(), "DONE\n");
  EXPECT_EQ(local, dir / "store/__/");
  EXPECT_EQ(Stored("...html"), "ok");
}

// The answer to target: a redirect with status and LOCATION.
std::string Redirect(const std::string& target, const std::string& status,
                     const std::string& location) {
  return Request(target) + "send HTTP/1.1 " + status + "\\r\\nLocation: " + location +
         "\\r\\nContent-Length: 0\\r\\n\\r\\n\n";
}

// The redirects of a chain, each answered on a connection of its own.
std::string Chain(std::initializer_list<std::string> answers) {
  std::string script;
  for (const std::string& answer : answers) script += (script.empty() ? "" : "accept\n") + answer;
  return script;
}

TEST_F(ScriptedHttp, RedirectedFileKeepsTheNameOfTheLinkAsked) {
  // Every redirect status leads to the page named, and the body is stored
  // under the name of the address first asked for, in the same directory.
  for (const std::string status : {"301 Moved Permanently", "302 Found", "303 See Other",
                                   "307 Temporary Redirect", "308 Permanent Redirect"}) {
    SCOPED_TRACE(status);
    session.events.clear();
    Serve(Redirect("/old/page.html", status, "../new/Other.html?v=2") + "accept\n" +
          Request("/new/Other.html?v=2") +
          "send HTTP/1.1 200 OK\\r\\nContent-Length: 3\\r\\n\\r\\nnew\n"
          "expect_close\n");
    EXPECT_TRUE(Get("/old/page.html"));
    EXPECT_EQ(Verdict(), "DONE\n");
    EXPECT_EQ(Stored("page.html"), "new");
    EXPECT_EQ(StoreEntries(), Names{"page.html"});
    EXPECT_EQ(response.fileName, "page.html");
    // Its links are read against where it came from.
    EXPECT_EQ(session.Directory(), "/new/");
    EXPECT_EQ(session.address.port, port);
    EXPECT_EQ(session.events,
              (Events{"Connecting", "Connected", "ReadingHeader", "Redirected", "Connecting",
                      "Connected", "ReadingHeader", "Downloading", "P100", "Complete", "P-1"}));
    EXPECT_EQ(session.address.path, "/new/Other.html?v=2");
    std::filesystem::remove(local + "page.html");
  }
}

TEST_F(ScriptedHttp, RedirectsEndAtALoopOrTheSixthHop) {
  struct Row {
    std::string script;
    std::string first;
  };
  const std::string found = "302 Found";
  const Row rows[] = {
      // a -> b -> a: the second request of a is never made.
      {Chain({Redirect("/a", found, "/b"), Redirect("/b", found, "/a")}), "/a"},
      // A redirect to the address itself.
      {Redirect("/self", found, "/self#x"), "/self"},
      // Five hops are followed, the sixth is not.
      {Chain({Redirect("/h0", found, "/h1"), Redirect("/h1", found, "/h2"),
              Redirect("/h2", found, "/h3"), Redirect("/h3", found, "/h4"),
              Redirect("/h4", found, "/h5"), Redirect("/h5", found, "/h6")}),
       "/h0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.first);
    session.events.clear();
    Serve(row.script);
    EXPECT_FALSE(Get(row.first));
    EXPECT_EQ(Verdict(), "DONE\n");
    EXPECT_EQ(session.events.back(), "TooManyRedirects");
    EXPECT_EQ(session.requested, "127.0.0.1" + row.first);
    EXPECT_EQ(StoreEntries(), Names{});
  }
}

TEST_F(ScriptedHttp, RedirectToAnotherSchemeIsRefusedWithoutARequest) {
  Serve(Redirect("/login", "301 Moved Permanently", "ftp://127.0.0.1/login"));
  EXPECT_FALSE(Get("/login"));
  EXPECT_EQ(Verdict(), "DONE\n");
  EXPECT_EQ(session.events.back(), "RedirectRefused");
  EXPECT_EQ(response.location, "ftp://127.0.0.1/login");
  EXPECT_EQ(StoreEntries(), Names{});
}

TEST_F(ScriptedHttp, HttpsToAServerThatSpeaksNoTlsFailsWithoutFallingBackToHttp) {
  // The server answers the TLS hello with plain HTTP and closes: no request
  // may go out in the clear, and the failure names the host and the reason.
  Serve("send HTTP/1.1 400 Bad Request\\r\\n\\r\\n\nclose\n");
  EXPECT_FALSE(HttpGet(session, "https://127.0.0.1/x.html", local, port, {}, response));
  EXPECT_EQ(Verdict(), "DONE\n");
  EXPECT_EQ(session.events.back(), "TlsFailed");
  EXPECT_EQ(std::string_view(session.tlsFailure).substr(0, 37),
            "TLS handshake with 127.0.0.1 failed: ")
      << session.tlsFailure;
  EXPECT_GT(session.tlsFailure.size(), 37u);
  EXPECT_EQ(StoreEntries(), Names{});
}

TEST_F(ScriptedHttp, RedirectWithoutLocationOfAnotherKindIsNotFound) {
  // Only 301 and 302 are read as "the same address as a directory".
  Serve(Request("/docs") + "send HTTP/1.1 307 Temporary Redirect\\r\\n\\r\\n\nexpect_close\n");
  EXPECT_FALSE(Get("/docs"));
  EXPECT_EQ(Verdict(), "DONE\n");
  EXPECT_EQ(session.events.back(), "NotFound");
}

TEST_F(ScriptedHttp, RedirectToAnotherServerIsFollowedThere) {
  PeerProcess other;
  const int otherPort = StartScriptedServer(
      other, dir,
      Request("/site/") + "send HTTP/1.1 200 OK\\r\\nContent-Length: 4\\r\\n\\r\\nsite\n");
  ASSERT_NE(otherPort, 0);
  const std::string there = "http://127.0.0.1:" + std::to_string(otherPort) + "/site/";
  Serve(Redirect("/", "301 Moved Permanently", there));
  EXPECT_TRUE(Get("/"));
  EXPECT_EQ(Verdict(), "DONE\n");
  EXPECT_EQ(other.ReadRest(15), "DONE\n");
  EXPECT_EQ(Stored("index.html"), "site");
  EXPECT_EQ(session.address.port, otherPort);
  EXPECT_EQ(session.BaseUrl(), "http://127.0.0.1");
  EXPECT_EQ(session.Directory(), "/site/");
}

TEST_F(ScriptedHttp, BodyWithoutLengthEndsPromptlyAtClose) {
  session.bodyIdleSeconds = 10;  // far beyond the bound below: an idle wait fails it
  Serve(Request("/plain.txt") +
        "send HTTP/1.1 200 OK\\r\\nContent-Type: text/plain\\r\\n\\r\\n\n"
        "send part one,\n"
        "pause 0.3\n"
        "send  part two\n"
        "close\n");
  EXPECT_TRUE(Get("/plain.txt"));
  EXPECT_EQ(Stored("plain.txt"), "part one, part two");
  EXPECT_LT(seconds, 5.0);  // the close ended it, not the idle time-out
  EXPECT_EQ(session.Only('B'), (Events{"B9", "B18", "B-1"}));
  EXPECT_TRUE(session.Saw("Complete"));
  EXPECT_EQ(response.contentType, "TEXT/PLAIN");
}

TEST_F(ScriptedHttp, ChunkedBodyIsStoredWithoutItsFraming) {
  session.bodyIdleSeconds = 10;  // far beyond the bound below: an idle wait fails it
  // One chunk larger than a block, with binary bytes, then a small one with
  // an extension, then the last chunk and a trailer.
  std::string big;
  for (int i = 0; i < 5000; ++i) big += static_cast<char>(i % 251);
  WriteFile(dir / "chunks.bin",
            "1388\r\n" + big + "\r\n3;name=x\r\nend\r\n0\r\nX-Trailer: 1\r\n\r\n");
  Serve(Request("/c.bin") +
        "send HTTP/1.1 200 OK\\r\\nTransfer-Encoding: chunked\\r\\nContent-Length: 9\\r\\n\\r\\n\n"
        "send_file " +
        dir / "chunks.bin" +
        "\n"
        "await_close\n");
  EXPECT_TRUE(Get("/c.bin"));
  EXPECT_EQ(Stored("c.bin"), big + "end");
  EXPECT_LT(seconds, 5.0);               // the last chunk ended it
  EXPECT_EQ(response.contentLength, 0);  // a length beside chunks is void
  EXPECT_EQ(session.Only('B').back(), "B-1");
  EXPECT_TRUE(session.Saw("B5003"));
}

TEST_F(ScriptedHttp, ChunkedBodyCutShortIsIncomplete) {
  Serve(Request("/c.txt") +
        "send HTTP/1.1 200 OK\\r\\nTransfer-Encoding: chunked\\r\\n\\r\\n\n"
        "send 5\\r\\nhello\\r\\n\n"
        "pause 0.2\n"
        "send 10\\r\\nonly a part\n"
        "close\n");
  EXPECT_FALSE(Get("/c.txt"));
  EXPECT_TRUE(session.Saw("Incomplete"));
  EXPECT_FALSE(session.Saw("Complete"));
  EXPECT_EQ(StoreEntries(), Names{});  // no partial file under any name
}

TEST_F(ScriptedHttp, HeaderSplitAcrossSegmentsIsWaitedFor) {
  Serve(Request("/split.txt") +
        "send HTTP/1.1 20\n"
        "pause 0.3\n"
        "send 0 OK\\r\\nContent-Le\n"
        "pause 0.3\n"
        "send ngth: 4\\r\\nLast-Modified: Sun, 06 Nov 1994 08:49:36 GMT\\r\n"
        "pause 0.3\n"
        "send \\n\\r\\n\n"
        "pause 0.3\n"
        "send body\n"
        "expect_close\n");
  EXPECT_TRUE(Get("/split.txt"));
  EXPECT_EQ(Verdict(), "DONE\n");
  EXPECT_EQ(Stored("split.txt"), "body");
  EXPECT_EQ(response.contentLength, 4);
  EXPECT_NE(response.lastModified, 0u);
  EXPECT_EQ(GetFileDate(local + "split.txt"), response.lastModified);
}

TEST_F(ScriptedHttp, HeaderAndChunkLinesWrittenByteByByte) {
  // Every CR and its LF arrive apart. "content-length:5" has no blank after
  // its colon: the body ends at its length, not at the idle time. The chunk
  // size lines of the second answer arrive the same way.
  Serve(Request("/slow.txt") +
        Dribble("HTTP/1.1 200 OK\r\ncontent-length:5\r\nContent-Type:\ttext/plain \r\n\r\n") +
        "send hello\n"
        "expect_close\n"
        "accept\n" +
        Request("/slow.bin") +
        Dribble("HTTP/1.1 200 OK\r\nTransfer-Encoding:chunked\r\n\r\n2\r\nhi\r\n0\r") +
        "send \\n\\r\\n\n"
        "expect_close\n");
  EXPECT_TRUE(Get("/slow.txt"));
  EXPECT_EQ(Stored("slow.txt"), "hello");
  EXPECT_EQ(response.contentLength, 5);
  EXPECT_EQ(response.contentType, "TEXT/PLAIN");
  EXPECT_TRUE(Get("/slow.bin"));
  EXPECT_EQ(Stored("slow.bin"), "hi");
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(ScriptedHttp, StalledBodyIsIncompleteAndCostsNoProcessorTime) {
  // The stored copy from an earlier run stays as it was, with its own date,
  // so that the next run with IFMOD fetches the file again.
  WriteFile(local + "stall.bin", "good old copy");
  const PackedDateTime oldDate = GetFileDate(local + "stall.bin");
  Serve(Request("/stall.bin") +
        "send HTTP/1.1 200 OK\\r\\nContent-Length: 100\\r\\n"
        "Last-Modified: Sun, 06 Nov 1994 08:49:36 GMT\\r\\n\\r\\n\n"
        "send only part\n"
        "await_close\n");
  double cpuBefore = ProcessorSeconds();
  EXPECT_FALSE(Get("/stall.bin"));
  double cpu = ProcessorSeconds() - cpuBefore;
  EXPECT_GE(seconds, 1.9);
  EXPECT_LT(seconds, 8.0);
  EXPECT_LT(cpu, seconds / 4) << "the wait for body bytes spins";
  EXPECT_EQ(session.events, (Events{"Connecting", "Connected", "ReadingHeader", "Downloading", "P9",
                                    "Incomplete", "P-1"}));
  EXPECT_EQ(Stored("stall.bin"), "good old copy");
  EXPECT_EQ(GetFileDate(local + "stall.bin"), oldDate);
  EXPECT_EQ(StoreEntries(), Names{"stall.bin"});
  session.Done();
  EXPECT_EQ(session.events.back(), "Interrupted");
}

TEST_F(ScriptedHttp, StalledBodyWithoutLengthIsIncompleteAndNotProbed) {
  // The server neither sends nor closes; the client must send nothing while
  // it waits, and give up after its idle time.
  Serve(Request("/stall.txt") +
        "send HTTP/1.1 200 OK\\r\\n\\r\\n\n"
        "send some\n"
        "expect_close\n");
  EXPECT_FALSE(Get("/stall.txt"));
  EXPECT_EQ(Verdict(), "DONE\n");
  EXPECT_TRUE(session.Saw("Incomplete"));
  EXPECT_EQ(StoreEntries(), Names{});
}

TEST_F(ScriptedHttp, LengthBeyondFourGibibytesIsKeptWhole) {
  // 2^32 + 3 announced, 3 bytes sent: incomplete, not a complete 3-byte file.
  Serve(Request("/huge.iso") +
        "send HTTP/1.1 200 OK\\r\\nContent-Length: 4294967299\\r\\n\\r\\nabc\n"
        "close\n");
  EXPECT_FALSE(Get("/huge.iso"));
  EXPECT_EQ(response.contentLength, 4294967299LL);
  EXPECT_EQ(session.events, (Events{"Connecting", "Connected", "ReadingHeader", "Downloading", "P0",
                                    "Incomplete", "P-1"}));
  EXPECT_EQ(StoreEntries(), Names{});
}

TEST_F(ScriptedHttp, Http10BinaryBodyKeepsEveryByte26) {
  std::string binary;
  for (int i = 0; i < 3000; ++i) binary += (i % 3 == 0) ? 'x' : '\x1a';
  WriteFile(dir / "ctrlz.bin", binary);
  // Every segment ends with byte 26; only the close ends the body.
  Serve(Request("/ctrlz.bin") +
        "send HTTP/1.0 200 OK\\r\\nContent-Type: application/octet-stream\\r\\n\\r\\n\n"
        "send ab\\x1a\n"
        "pause 0.3\n"
        "send_file " +
        dir / "ctrlz.bin" +
        "\n"
        "pause 0.3\n"
        "send \\x1a\\x1a\n"
        "close\n");
  EXPECT_TRUE(Get("/ctrlz.bin"));
  EXPECT_EQ(Stored("ctrlz.bin"), "ab\x1a" + binary + "\x1a\x1a");
}

TEST_F(ScriptedHttp, KeepAliveBodyEndsAtItsLength) {
  session.bodyIdleSeconds = 10;  // far beyond the bound below: an idle wait fails it
  // The server keeps the connection open; byte 26 ends a segment mid-body.
  // Three one-byte blocks show the percentages rounded to the nearest.
  Serve(Request("/k.bin") +
        "send HTTP/1.1 200 OK\\r\\nContent-Length: 3\\r\\nConnection: keep-alive\\r\\n\\r\\na\n"
        "pause 0.2\nsend \\x1a\npause 0.2\nsend c\n"
        "expect_close\n");
  EXPECT_TRUE(Get("/k.bin"));
  EXPECT_EQ(Verdict(), "DONE\n");  // and nothing (no probe byte) was sent after the request
  EXPECT_LT(seconds, 5.0);
  EXPECT_EQ(Stored("k.bin"),
            "a\x1a"
            "c");
  EXPECT_EQ(session.Only('P'), (Events{"P33", "P67", "P100", "P-1"}));
}

TEST_F(ScriptedHttp, EmptyBodyWithLengthZeroIsStoredAtOnce) {
  session.bodyIdleSeconds = 10;  // far beyond the bound below: an idle wait fails it
  Serve(Request("/empty.txt") +
        "send HTTP/1.1 200 OK\\r\\nContent-Length: 0\\r\\n\\r\\n\n"
        "expect_close\n");
  EXPECT_TRUE(Get("/empty.txt"));
  EXPECT_LT(seconds, 5.0);
  EXPECT_EQ(StoreEntries(), Names{"empty.txt"});  // renamed into place, nothing else left
  EXPECT_EQ(Stored("empty.txt"), "");
}

TEST_F(ScriptedHttp, CarriageReturnAloneEndsLines) {
  Serve(Request("/cr.txt") +
        "send HTTP/1.1 200 OK\\rContent-Length: 3\\rContent-Type: text/plain\\r\\rabc\n"
        "expect_close\n");
  EXPECT_TRUE(Get("/cr.txt"));
  EXPECT_EQ(Stored("cr.txt"), "abc");
  EXPECT_EQ(response.contentType, "TEXT/PLAIN");
}

TEST_F(ScriptedHttp, RestsOfLongHeaderLinesAreNoFieldsOfTheirOwn) {
  // A 300-byte line whose rest after 255 bytes reads like a length field,
  // and a line of exactly 255 bytes whose empty rest must not end the header.
  std::string tricky = "X-Long: " + std::string(247, 'a') + "Content-Length: 999";
  std::string exact = "X-Exact: " + std::string(246, 'b');
  ASSERT_EQ(tricky.size(), 274u);
  ASSERT_EQ(exact.size(), 255u);
  std::string padded = "X-Pad: " + std::string(293, 'c');
  Serve(Request("/long.txt") + "send HTTP/1.1 200 OK\\r\\n" + tricky + "\\r\\n" + padded +
        "\\r\\n" + exact +
        "\\r\\nContent-Length: 4\\r\\n\\r\\nbody\n"
        "expect_close\n");
  EXPECT_TRUE(Get("/long.txt"));
  EXPECT_EQ(Stored("long.txt"), "body");
  EXPECT_EQ(response.contentLength, 4);
}

TEST_F(ScriptedHttp, LongRequestTargetsGoOutWholeInTheRequestLine) {
  struct Row {
    std::string path;  // 300 characters, beyond any line piece
    std::string stored;
  };
  const Row rows[] = {
      {"/" + std::string(293, 'd') + "/a.txt", "a.txt"},
      {"/q.txt?" + std::string(293, 'k'), "q.txt"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stored);
    ASSERT_EQ(row.path.size(), 300u);
    Serve(Request(row.path) + "send HTTP/1.1 200 OK\\r\\nContent-Length: 2\\r\\n\\r\\nok\n");
    EXPECT_TRUE(Get(row.path));
    EXPECT_EQ(Verdict(), "DONE\n");
    EXPECT_EQ(Stored(row.stored), "ok");
  }
}

TEST_F(ScriptedHttp, EscapedSlashesDoNotLeaveTheDirectory) {
  Serve(Request("/d/..%2F..%2Fescape.txt") +
        "send HTTP/1.1 200 OK\\r\\nContent-Length: 3\\r\\n\\r\\nbad\n");
  EXPECT_TRUE(Get("/d/..%2F..%2Fescape.txt"));
  EXPECT_EQ(Verdict(), "DONE\n");
  EXPECT_FALSE(PathExists(dir / "escape.txt"));
  EXPECT_FALSE(PathExists("/tmp/escape.txt"));
  EXPECT_EQ(response.fileName, ".._.._escape.txt");
  EXPECT_EQ(Stored(".._.._escape.txt"), "bad");
}

TEST_F(ScriptedHttp, LineFeedInLinkIsEncodedInTheRequestLine) {
  Serve(Request("/a%20b%0D%0AX-Injected:%201") + "send HTTP/1.0 404 Not Found\\r\\n\\r\\n\n");
  EXPECT_FALSE(Get("/a b\r\nX-Injected: 1"));
  EXPECT_EQ(Verdict(), "DONE\n");
  EXPECT_EQ(response.status, 404);
  EXPECT_EQ(session.StatusLine(), "HTTP/1.0 404 Not Found");
  EXPECT_EQ(session.events, (Events{"Connecting", "Connected", "ReadingHeader", "NotFound"}));
}

TEST_F(ScriptedHttp, ServerClosingBeforeStatusLineIsReported) {
  Serve("expect_match GET *\nclose\n");
  EXPECT_FALSE(Get("/gone.html"));
  EXPECT_EQ(session.events, (Events{"Connecting", "Connected", "ReadingHeader", "NotFound"}));
  EXPECT_EQ(session.StatusLine(), "");
  session.Done();
  EXPECT_EQ(session.events.back(), "Interrupted");
}

TEST_F(ScriptedHttp, ShortNamesAndIfModifiedWithoutDate) {
  // IFMOD without LAST-MODIFIED always fetches; SHORTNAMES stores an 8.3 name.
  WriteFile(local + "avery~00.htm", "old");
  Serve(Request("/averylongname.html") +
        "send HTTP/1.1 200 OK\\r\\nContent-Length: 3\\r\\n\\r\\nnew\n");
  EXPECT_TRUE(Get("/averylongname.html", true, true));
  EXPECT_EQ(response.fileName, "avery~01.htm");
  EXPECT_EQ(session.file, "avery~01.htm");
  EXPECT_EQ(Stored("avery~01.htm"), "new");
}

// A 200 answer with a body of the length given.
std::string Ok(const std::string& fields, const std::string& body) {
  return "send HTTP/1.1 200 OK\\r\\n" + fields + "Content-Length: " + std::to_string(body.size()) +
         "\\r\\n\\r\\n" + body + "\n";
}

// Two fetches from one server, the connection kept between them: the second
// request goes out on the first one's connection only when its answer was
// read exactly to its end and the server keeps it open; a kept connection
// the server closed while idle is given up and the request made again on a
// new one, but never once an answer has begun to arrive.
TEST_F(ScriptedHttp, ConnectionServesTheNextFetchOnlyWhenItsAnswerEndedCleanly) {
  const struct {
    std::string name, script;
    bool firstStored;
    bool secondStored;
    int connections;
  } rows[] = {
      {"kept", Request("/a") + Ok("", "A") + Request("/b") + Ok("", "B"), true, true, 1},
      {"chunked with a trailer",
       Request("/a") +
           "send HTTP/1.1 200 OK\\r\\nTransfer-Encoding: chunked\\r\\n\\r\\n"
           "1\\r\\nA\\r\\n0\\r\\nX-Checksum: 1\\r\\n\\r\\n\n" +
           Request("/b") + Ok("", "B"),
       true, true, 1},
      {"short error page read past",
       Request("/a") + "send HTTP/1.1 404 Not Found\\r\\nContent-Length: 9\\r\\n\\r\\nnot here!\n" +
           Request("/b") + Ok("", "B"),
       false, true, 1},
      {"HTTP/1.0 keep-alive",
       Request("/a") +
           "send HTTP/1.0 200 OK\\r\\nConnection: Keep-Alive\\r\\nContent-Length: "
           "1\\r\\n\\r\\nA\n" +
           Request("/b") + Ok("", "B"),
       true, true, 1},
      // The client closes at once: expect_close sees no second request.
      {"Connection: close",
       Request("/a") + Ok("Connection: close\\r\\n", "A") + "expect_close\naccept\n" +
           Request("/b") + Ok("", "B"),
       true, true, 2},
      {"HTTP/1.0",
       Request("/a") + "send HTTP/1.0 200 OK\\r\\nContent-Length: 1\\r\\n\\r\\nA\n" +
           "expect_close\naccept\n" + Request("/b") + Ok("", "B"),
       true, true, 2},
      {"long error page left unread",
       Request("/a") + "send HTTP/1.1 404 Not Found\\r\\nContent-Length: 100000\\r\\n\\r\\nnot\n" +
           "expect_close\naccept\n" + Request("/b") + Ok("", "B"),
       false, true, 2},
      {"closed while idle",
       Request("/a") + Ok("", "A") + "close\naccept\n" + Request("/b") + Ok("", "B"), true, true,
       2},
      // Bytes beyond the answer, there before the next request goes out,
      // would be taken for its answer: b must not get the smuggled text.
      {"a second answer nobody asked for",
       Request("/a") +
           "send HTTP/1.1 200 OK\\r\\nContent-Length: 1\\r\\n\\r\\nA"
           "HTTP/1.1 200 OK\\r\\nContent-Length: 5\\r\\n\\r\\nevil!\n"
           "expect_close\naccept\n" +
           Request("/b") + Ok("", "B"),
       true, true, 2},
      {"an error page read past with more behind it",
       Request("/a") +
           "send HTTP/1.1 404 Not Found\\r\\nContent-Length: 9\\r\\n\\r\\nnot here!"
           "HTTP/1.1 200 OK\\r\\nContent-Length: 5\\r\\n\\r\\nevil!\n"
           "expect_close\naccept\n" +
           Request("/b") + Ok("", "B"),
       false, true, 2},
      {"closed with the answer begun",
       Request("/a") + Ok("", "A") + Request("/b") +
           "send HTTP/1.1 200 OK\\r\\nContent-Le\nclose\n",
       true, false, 1},
  };
  KeptConnection kept;
  session.keep = &kept;
  // One session for all rows: the last one leaves its connection failed.
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    session.events.clear();
    for (const char* name : {"a", "b"}) std::filesystem::remove(local + name);
    Serve(row.script);
    EXPECT_EQ(Get("/a"), row.firstStored);
    EXPECT_EQ(Get("/b"), row.secondStored);
    EXPECT_EQ(Verdict(), "DONE\n");
    EXPECT_EQ(Stored("a"), row.firstStored ? "A" : "");
    EXPECT_EQ(Stored("b"), row.secondStored ? "B" : "");
    EXPECT_EQ(std::count(session.events.begin(), session.events.end(), "Connected"),
              row.connections);
  }
}

// Answers that must not be stored as they come, or must not hold the fetch:
// what the server sends, what is stored (nothing: the fetch fails), and the
// line the client writes to say why (empty: none). None of them may end
// with "Connection interrupted", and every one ends within a few seconds.
TEST(ScriptedAnswers, HostileOrOddAnswersEndTheFetchAsTheyShould) {
  const std::string ok = "send HTTP/1.1 200 OK\\r\\n\n";
  const std::string tooSlow = "Header from 127.0.0.1 not complete within 2 seconds";
  const std::string badLength = "Invalid Content-Length from 127.0.0.1";
  const auto withLength = [](const std::string& fields) {
    return "send HTTP/1.1 200 OK\\r\\n" + fields + "\\r\\nhello\nclose\n";
  };
  const struct {
    std::string name, script;
    std::optional<std::string> stored;
    std::string line;
  } rows[] = {
      {"a header field a second without end", ok + "drip 0.3 X-Field: 1\\r\\n\n", std::nullopt,
       tooSlow},
      {"a header line of 100 bytes a second without end",
       ok + "send X-Slow: \ndrip 0.1 aaaaaaaaaa\n", std::nullopt, tooSlow},
      {"a status line that never ends", "drip 0.2 HTTP/1.1 \n", std::nullopt, tooSlow},
      {"header fields without end, fast", ok + "flood X-Field: 1\\r\\n\n", std::nullopt,
       "Header from 127.0.0.1 longer than 1000 lines"},
      {"one header line without end, fast", ok + "send X-Big: \nflood aaaaaaaaaaaaaaaa\n",
       std::nullopt, "Header from 127.0.0.1 longer than 262144 bytes"},
      {"interim answers without end", "flood HTTP/1.1 100 Continue\\r\\n\\r\\n\n", std::nullopt,
       "Header from 127.0.0.1 longer than 1000 lines"},
      {"a negative length", withLength("Content-Length: -5\\r\\n"), std::nullopt, badLength},
      {"a length that is no number", withLength("Content-Length: 5x\\r\\n"), std::nullopt,
       badLength},
      {"a length beyond 63 bits", withLength("Content-Length: 9223372036854775808\\r\\n"),
       std::nullopt, badLength},
      {"two lengths that differ", withLength("Content-Length: 5\\r\\nContent-Length: 3\\r\\n"),
       std::nullopt, badLength},
      {"103 Early Hints before the answer",
       "send HTTP/1.1 103 Early Hints\\r\\nLink: </s.css>; rel=preload\\r\\n\\r\\n\n"
       "pause 0.2\n" +
           ok + "send Content-Length: 2\\r\\n\\r\\nok\n",
       "ok", ""},
      {"two interim answers in the answer's segment",
       "send HTTP/1.1 100 Continue\\r\\n\\r\\nHTTP/1.1 102 Processing\\r\\nX: 1\\r\\n\\r\\n"
       "HTTP/1.1 200 OK\\r\\nContent-Length: 3\\r\\n\\r\\nyes\nclose\n",
       "yes", ""},
      {"an HTTP/1.0 body ended by the close",
       "send HTTP/1.0 200 OK\\r\\nContent-Type: text/plain\\r\\n\\r\\nall of it\nclose\n",
       "all of it", ""},
      {"an empty HTTP/1.0 body ended by the close", "send HTTP/1.0 200 OK\\r\\n\\r\\n\nclose\n", "",
       ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    PeerProcess server;
    const int port = StartScriptedServer(server, dir, Request("/f.txt") + row.script);
    ASSERT_NE(port, 0);
    std::string local = dir / "store/";
    ASSERT_TRUE(EnsureDirectory(local));
    ReportCapture capture;
    ClearTransferCounts();
    HttpResponse response;
    RecordingHttpSession session;
    session.headerSeconds = 2;
    session.bodyIdleSeconds = 2;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        HttpGet(session, "127.0.0.1/f.txt", local, static_cast<std::uint16_t>(port), {}, response),
        row.stored.has_value());
    EXPECT_LT(SecondsSince(start), 6.0);       // the server holds on for 10 s
    EXPECT_EQ(server.ReadRest(15), "DONE\n");  // the client closed, or read all
    if (row.stored) {
      EXPECT_EQ(ReadFile(local + "f.txt"), *row.stored);
    } else {
      EXPECT_TRUE(std::filesystem::is_empty(local));  // no part file either
    }
    EXPECT_EQ(capture.LogLines(), row.line.empty() ? Names{} : Names{row.line});
    EXPECT_EQ(session.answerFailure, row.line);
    EXPECT_EQ(TransferCounts.failed, !row.line.empty());  // the line counts as a failure
    session.Done();
    EXPECT_FALSE(session.Saw("Interrupted"));
  }
}

TEST(ScriptedProxy, RequestLineAndHostCarryTheOriginPort) {
  TempDir dir;
  PeerProcess proxy;
  int proxyPort =
      StartScriptedServer(proxy, dir,
                          "expect GET HTTP://origin.test:8080/a/b.htm?x=1#top HTTP/1.1\n"
                          "expect Host: origin.test:8080\n"
                          "expect \n"
                          "send HTTP/1.1 200 OK\\r\\nContent-Length: 2\\r\\n\\r\\nhi\n"
                          "accept\n"
                          "expect GET HTTP://origin.test/docs/ HTTP/1.1\n"
                          "expect Host: origin.test\n"
                          "expect \n"
                          "send HTTP/1.1 200 OK\\r\\nContent-Length: 2\\r\\n\\r\\nho\n");
  ASSERT_NE(proxyPort, 0);
  std::string local = dir / "store/";
  ASSERT_TRUE(EnsureDirectory(local));
  HttpResponse response;
  {
    RecordingHttpSession session;
    session.proxy = "127.0.0.1:" + std::to_string(proxyPort);
    EXPECT_TRUE(HttpGet(session, "http://origin.test/a/b.htm?x=1#top", local, 8080, {}, response));
    EXPECT_EQ(ReadFile(local + "b.htm"), "hi");
  }
  {
    RecordingHttpSession session;
    session.proxy = "127.0.0.1:" + std::to_string(proxyPort);
    EXPECT_TRUE(HttpGet(session, "origin.test/docs/", local, 80, {}, response));
    EXPECT_EQ(ReadFile(local + "docs.html"), "ho");
  }
  EXPECT_EQ(proxy.ReadRest(15), "DONE\n");

  RecordingHttpSession session;  // without ":" the proxy port is 0
  session.proxy = "127.0.0.1";
  EXPECT_FALSE(HttpGet(session, "origin.test/", local, 80, {}, response));
  EXPECT_EQ(session.events, (Events{"Connecting", "ConnectFailed"}));
}

// An https address through a proxy is asked for as a CONNECT tunnel to its
// server and port; an answer other than 2xx, or none, ends the fetch with
// the line that says why, and nothing goes into the tunnel.
TEST(ScriptedProxy, RefusedTunnelEndsTheFetchWithItsReason) {
  const std::string connect =
      "expect CONNECT origin.test:8443 HTTP/1.1\nexpect Host: origin.test:8443\nexpect \n";
  const struct {
    std::string script, said;
  } rows[] = {
      {connect + "send HTTP/1.1 407 Proxy Authentication Required\\r\\nContent-Length: "
                 "0\\r\\n\\r\\n\nexpect_close\n",
       "Proxy refused tunnel to origin.test:8443: HTTP/1.1 407 Proxy Authentication Required"},
      {connect + "close\n", "Proxy refused tunnel to origin.test:8443: no answer"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.said);
    TempDir dir;
    PeerProcess proxy;
    const int proxyPort = StartScriptedServer(proxy, dir, row.script);
    ASSERT_NE(proxyPort, 0);
    std::string local = dir / "store/";
    ASSERT_TRUE(EnsureDirectory(local));
    HttpResponse response;
    RecordingHttpSession session;
    session.proxy = "127.0.0.1:" + std::to_string(proxyPort);
    EXPECT_FALSE(HttpGet(session, "https://origin.test/a.htm", local, 8443, {}, response));
    EXPECT_EQ(proxy.ReadRest(15), "DONE\n");
    EXPECT_EQ(session.events, (Events{"Connecting", "TlsFailed"}));
    EXPECT_EQ(session.tlsFailure, row.said);
    EXPECT_TRUE(std::filesystem::is_empty(local));
  }
}

TEST(ScriptedProxy, Ipv6ProxyIsReachedAndTheOriginKeepsItsBrackets) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
  TempDir dir;
  PeerProcess proxy;
  int proxyPort = StartScriptedServer(proxy, dir,
                                      "expect GET HTTP://[2001:db8::1]:8080/a.htm HTTP/1.1\n"
                                      "expect Host: [2001:db8::1]:8080\n"
                                      "expect \n"
                                      "send HTTP/1.1 200 OK\\r\\nContent-Length: 2\\r\\n\\r\\nhi\n",
                                      "::1");
  ASSERT_NE(proxyPort, 0);
  std::string local = dir / "store/";
  ASSERT_TRUE(EnsureDirectory(local));
  HttpResponse response;
  RecordingHttpSession session;
  session.proxy = "[::1]:" + std::to_string(proxyPort);
  EXPECT_TRUE(HttpGet(session, "http://[2001:db8::1]/a.htm", local, 8080, {}, response));
  EXPECT_EQ(ReadFile(local + "a.htm"), "hi");
  EXPECT_EQ(proxy.ReadRest(15), "DONE\n");
}

}  // namespace

}  // namespace quorbit
