// Hostile FTP servers, one row each: what the server sends, and what the
// client must do about it. Every reply, listing and download has a bound in
// lines, bytes and time, and a run never waits on a server for longer than
// its configured times (short ones here). When a bound is reached the
// client says why, and the debug log does not grow with what the server
// sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/ftptransfer.h"
#include "ftp/listingfetch.h"
#include "ftp_test_support.h"

namespace quorbit {

namespace {

using Events = std::vector<std::string>;

// The times the session is given in these rows, in seconds.
constexpr std::uint16_t kTimeout = 2;
constexpr std::uint32_t kListingLimit = 4;
constexpr std::uint16_t kListDelay = 1;

std::string Repeat(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

// A reply of many "NNN-" lines, each begun at once and finished slowly
// (about a second a line), never reaching its last line in the test's time.
std::string TrickledLines(const std::string& code) {
  return "trickle 0.05 " + Repeat(code + "-still working\\r\\n", 40) + "\n";
}

const std::string kFileLine = "-rw-r--r--    1 ftp ftp      100 Jan  5 12:00 a.txt";

enum class Action {
  Login,     // log in (and fail)
  List,      // log in, then list the directory
  Download,  // log in, then download every file
};

struct Row {
  const char* name;
  std::string script;  // the whole script of the server
  Action action;
  Events events;  // what the client reports (after the login, but for Login)
  // How long the client may take for its action: room for a busy machine,
  // yet short of the server's own time limit (10 s), which a client that
  // waited for the server would reach.
  double maxSeconds;
  // The whole listing's time limit: rows that must reach a bound of size
  // get time enough for it on a slow (sanitizer) build.
  std::uint32_t listingLimit = kListingLimit;
};

const Row kRows[] = {
    {"greeting of lines that each take a second, one after the other",
     TrickledLines("220"),
     Action::Login,
     {"Connecting:1", "ReplyFailed:Greeting not complete within 2 s", "ConnectFailed"},
     6},
    {"reply to PASS of lines that each take a second",
     kUpToPassword + TrickledLines("150"),
     Action::Login,
     {"Connecting:1", "Connected", "SendingUser", "SendingPassword",
      "ReplyFailed:Reply to PASS not complete within 2 s", "PasswordRefused", "LoginFailed"},
     6},
    {"reply to LIST of lines that each take a second",
     kLoginScript + kListRequest + TrickledLines("110"),
     Action::List,
     {"ReplyFailed:Reply to LIST not complete within 2 s", "ListingFailed:no usable reply to LIST"},
     4},
    {"flood of 110- lines before the reply to LIST",
     kLoginScript + kListRequest + "flood 110-still working\\r\\n\n",
     Action::List,
     {"ReplyFailed:Reply to LIST longer than 500 lines", "ListingFailed:no usable reply to LIST"},
     3},
    {"reply to LIST as one endless line",
     kLoginScript + kListRequest + "flood " + std::string(64, 'x') + "\n",
     Action::List,
     {"ReplyFailed:Reply to LIST longer than 65536 bytes", "ListingFailed:no usable reply to LIST"},
     3},
    {"listing data that stalls after its first line",
     kLoginScript + kListRequest + "send 150 ok\\r\\n\ndata send " + kFileLine +
         "\\r\\n\nawait_close\n",
     Action::List,
     {"ListingFailed:no data for 2 s"},
     6},
    {"listing data trickling a byte every 0.2 s, never quiet for long",
     kLoginScript + kListRequest + "send 150 ok\\r\\n\ndata trickle 0.2 " + Repeat(kFileLine, 10) +
         "\n",
     Action::List,
     {"ListingFailed:not complete within 4 s"},
     8},
    {"listing that never ends, cut at its bound of entries",
     kLoginScript + kListRequest +
         "send 150 ok\\r\\n\ndata flood -rw-r--r-- 1 u g 1 Jan 5 12:00 a\\r\\n\npause 0.3\n" +
         "send 426 Connection closed\\r\\n\n",
     Action::List,
     {"ListingCut:200000 entries"},
     90,
     60},
    {"listing data that never ends and holds no entry, cut at its bound of bytes",
     kLoginScript + kListRequest + "send 150 ok\\r\\n\ndata flood " + std::string(250, 'x') +
         "\\r\\n\npause 0.3\nsend 426 Connection closed\\r\\n\n",
     Action::List,
     {"ListingCut:67108864 bytes"},
     90,
     60},
    // A lingering close: the server ends its side of the data connection and
    // sends 226 only once the client has closed its own.
    {"listing whose 226 waits for the client's close",
     kLoginScript + kListRequest + "send 150 ok\\r\\n\ndata send " + kFileLine +
         "\\r\\n\ndata shutdown\ntimeout 1\ndata expect_close\nsend 226 done\\r\\n\n",
     Action::List,
     {},
     3},
    {"empty listing whose 226 waits for the client's close",
     kLoginScript + kListRequest +
         "send 150 ok\\r\\n\ndata shutdown\ntimeout 1\ndata expect_close\nsend 226 done\\r\\n\n",
     Action::List,
     {},
     3},
    {"data connection of a listing that stays silent beyond LIST_DELAY",
     kLoginScript + kListRequest + "send 150 ok\\r\\n\ndata accept\nawait_close\n",
     Action::Download,
     {"PreparingDownload", "ReadingListing", "ListingFailed:no data within 1 s"},
     4.5},
    {"no data channel for the listing",
     kLoginScript + Repeat("expect PASV\nsend 502 no passive mode\\r\\n\n", 3),
     Action::Download,
     {"PreparingDownload", "ReadingListing", "ListingFailed:no data channel"},
     1},
    {"LIST refused",
     kLoginScript + kListRequest + "send 550 Permission denied\\r\\n\n",
     Action::Download,
     {"PreparingDownload", "ReadingListing", "ListingFailed:550 Permission denied"},
     1},
    {"download whose data stalls",
     kLoginScript + kListRequest + "send 150 ok\\r\\n\ndata send " + kFileLine +
         "\\r\\n\ndata close\nsend 226 done\\r\\n\nexpect TYPE I\nsend 200 ok\\r\\n\n" +
         "expect PASV\npasv\nexpect RETR a.txt\nsend 150 ok\\r\\n\ndata send "
         "0123456789\nawait_close\n",
     Action::Download,
     {"PreparingDownload", "ReadingListing", "OpeningDataChannel:1", "DataChannelOpen",
      "Downloading:a.txt", "DownloadFailed:a.txt"},
     7},
};

// Entries of the debug log that record received lines.
std::size_t ReceivedEntries(const std::string& log) {
  std::size_t count = 0;
  for (std::size_t at = log.find("  R "); at != std::string::npos; at = log.find("  R ", at + 1)) {
    ++count;
  }
  return count;
}

TEST(FtpBoundsTest, HostileServersAreBoundedAndSaidSo) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    ScriptedFtpServer server(row.script);
    RecordingFtpSession session(dir / "debug.log");
    session.SetTimeout(kTimeout);
    session.SetListingTimeLimit(row.listingLimit);
    session.SetListDelay(kListDelay);

    const bool login = row.action == Action::Login;
    auto start = std::chrono::steady_clock::now();
    const bool loggedIn = LogIn(session, server.Port());
    EXPECT_EQ(loggedIn, !login);
    if (!login) {
      session.events.clear();
      start = std::chrono::steady_clock::now();
    }
    if (row.action == Action::List) {
      FtpFileRecord record;
      ListingPtr listing;
      FetchListing(session, "*", kFilterFiles, record, listing);
    } else if (row.action == Action::Download) {
      Download(session, {.remotePattern = "*", .localDirectory = dir.Path() + "/"});
    }
    EXPECT_LT(SecondsSince(start), row.maxSeconds);
    EXPECT_EQ(session.events, row.events);

    session.Destroy();
    EXPECT_EQ(server.Outcome(), "DONE\n");
    EXPECT_LT(ReceivedEntries(ReadFile(dir / "debug.log")), 2 * kLoggedReplyLines);
  }
}

}  // namespace

}  // namespace quorbit
