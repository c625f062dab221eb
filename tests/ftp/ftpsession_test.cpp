// The FTP session against scripted servers: each case states the lines the
// server sends and the commands the client must answer with.
#include "ftp/ftpsession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ftp/listingfetch.h"
#include "ftp_test_support.h"

namespace quorbit {

namespace {

using Clock = std::chrono::steady_clock;
using Events = std::vector<std::string>;

// --- Login -------------------------------------------------------------------

class FtpLoginTest : public ScriptedFtpTest {};

TEST_F(FtpLoginTest, MultiLineGreetingAndContinuedLoginReply) {
  // A reply of several lines ends at its last line, however late that
  // comes: USER goes out only after the whole greeting.
  Serve(R"(send 220-Welcome to the test server\r\n
pause 0.3
send 220-Second line\r\n220 ready\r\n
expect USER alice
send 331 password please\r\n
expect PASS s3cret
send 230-Welcome, alice\r\n230 logged in\r\n
expect FEAT
send 502 FEAT not implemented\r\n
expect PWD
send 257 "/home/alice" is the current directory\r\n
)");
  ASSERT_TRUE(LogIn(session, server->Port()));
  EXPECT_EQ(session.events,
            (Events{"Connecting:1", "Connected", "SendingUser", "SendingPassword", "LoggedIn"}));
  EXPECT_EQ(session.WorkingDir(), "/home/alice");
  EXPECT_EQ(server->Outcome(), "DONE\n");
}

TEST_F(FtpLoginTest, UserAnsweredWith230NeedsNoPassword) {
  Serve(R"(send 220 ready\r\n
expect USER alice
send 230 no password needed\r\n
)" + kNoFeatures +
        "expect QUIT\n");
  ASSERT_TRUE(LogIn(session, server->Port()));
  EXPECT_EQ(session.events, (Events{"Connecting:1", "Connected", "SendingUser", "LoggedIn"}));
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpLoginTest, UserRefusedWith530IsTriedAgainAfterTheDelay) {
  Serve(R"(send 220 ready\r\n
expect USER alice
send 530 not allowed\r\n
accept
send 220 ready\r\n
expect USER alice
send 530 not allowed\r\n
)");
  const auto start = Clock::now();
  EXPECT_FALSE(LogIn(session, server->Port(), 2));
  EXPECT_LT(SecondsSince(start), 4.0);
  EXPECT_EQ(session.events,
            (Events{"Connecting:1", "Connected", "SendingUser", "NotLoggedIn", "LoginFailed",
                    "Connecting:2", "Connected", "SendingUser", "NotLoggedIn", "LoginFailed"}));
  EXPECT_EQ(server->Outcome(), "DONE\n");
}

TEST_F(FtpLoginTest, TryAfterALostConnectionStartsAfresh) {
  // The first connection ends before the USER reply; the second try must
  // not inherit that failure.
  Serve(R"(send 220 ready\r\n
expect USER alice
close
accept
send 220 ready\r\n
expect USER alice
send 230 welcome back\r\n
)" + kNoFeatures);
  EXPECT_TRUE(LogIn(session, server->Port(), 2));
  EXPECT_EQ(session.events,
            (Events{"Connecting:1", "Connected", "SendingUser", "UserRefused", "LoginFailed",
                    "Connecting:2", "Connected", "SendingUser", "LoggedIn"}));
  EXPECT_EQ(server->Outcome(), "DONE\n");
}

TEST_F(FtpLoginTest, PasswordRefused) {
  Serve(kUpToPassword + "send 530 Login incorrect.\\r\\n\n");
  EXPECT_FALSE(LogIn(session, server->Port()));
  EXPECT_EQ(session.events, (Events{"Connecting:1", "Connected", "SendingUser", "SendingPassword",
                                    "PasswordRefused", "LoginFailed"}));
  EXPECT_EQ(session.LastReply(), "530 Login incorrect.");
  EXPECT_EQ(server->Outcome(), "DONE\n");
}

TEST_F(FtpLoginTest, UnexpectedUserReplyAndGreeting) {
  Serve(R"(send 220 ready\r\n
expect USER alice
send 501 bad user name\r\n
accept
send 421 too many users\r\n
)");
  EXPECT_FALSE(LogIn(session, server->Port(), 2));
  EXPECT_EQ(session.events, (Events{"Connecting:1", "Connected", "SendingUser", "UserRefused",
                                    "LoginFailed", "Connecting:2", "ConnectFailed"}));
  EXPECT_EQ(session.Host(), "127.0.0.1");
  EXPECT_EQ(server->Outcome(), "DONE\n");
}

TEST_F(FtpLoginTest, NoTriesAndNoDelayMeanOneTryAndThreeSeconds) {
  const int port = FreeLoopbackPort();  // nobody listens: the connect fails
  const auto start = Clock::now();
  EXPECT_FALSE(session.Login({.host = "127.0.0.1",
                              .user = "alice",
                              .password = "x",
                              .port = static_cast<std::uint16_t>(port)}));
  const double seconds = SecondsSince(start);
  EXPECT_GT(seconds, 1.9);
  EXPECT_LT(seconds, 4.5);
  EXPECT_EQ(session.events, (Events{"Connecting:1", "ConnectFailed"}));
}

TEST(FtpFeaturesTest, AfterLoginTheyDecideBetweenMlsdAndListAndAskForUtf8) {
  struct Row {
    std::string login;  // the server's answer to PASS
    const char* reply;  // its answer to FEAT
    bool mlsd;
    bool utf8;
    const char* opts;  // its answer to OPTS UTF8 ON, when asked
  };
  const Row rows[] = {
      {"230 logged in\\r\\n",
       "211-Features:\\r\\n MDTM\\r\\n MLST type*;size*;modify*;\\r\\n SIZE\\r\\n211 End\\r\\n",
       true, false, nullptr},
      // A second welcome that came before FEAT answers nothing; feature
      // names in any case.
      {"230 logged in\\r\\n230 more welcome\\r\\n",
       "211-Extensions:\\r\\n mlst type*;\\r\\n211 END\\r\\n", true, false, nullptr},
      {"230 logged in\\r\\n", "211-Features:\\r\\n MLSTX\\r\\n UTF8\\r\\n211 End\\r\\n", false,
       true, "200 Always in UTF8 mode.\\r\\n"},
      // Refusing UTF8 is no failure: names still travel as the server's bytes.
      {"230 logged in\\r\\n", "211-Features:\\n MLST type*;\\n utf8\\n211 End\\n", true, true,
       "501 Option not understood\\r\\n"},
      {"230 logged in\\r\\n", "211 No features\\r\\n", false, false, nullptr},
      {"230 logged in\\r\\n", "500 Unknown command\\r\\n", false, false, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reply);
    RecordingFtpSession fresh;
    const std::string opts =
        row.opts ? std::string("expect OPTS UTF8 ON\nsend ") + row.opts + "\n" : std::string();
    ScriptedFtpServer peer(kUpToPassword + "send " + row.login + "\nexpect FEAT\nsend " +
                           row.reply + "\n" + opts +
                           "expect PWD\nsend 257 \"/\" is current\\r\\n\n");
    ASSERT_TRUE(LogIn(fresh, peer.Port()));
    EXPECT_EQ(fresh.ListsWithMlsd(), row.mlsd);
    EXPECT_EQ(fresh.SpeaksUtf8(), row.utf8);
    // The whole reply was taken: PWD gets its own answer.
    EXPECT_EQ(fresh.WorkingDir(), "/");
    EXPECT_EQ(peer.Outcome(), "DONE\n");
  }
}

TEST_F(FtpLoginTest, DebugLogShowsTheConversationButNotThePassword) {
  Serve(kLoginScript + "expect QUIT\n");
  const std::string logName = server->Dir() / "debug.log";
  {
    RecordingFtpSession logged(logName);
    ASSERT_TRUE(LogIn(logged, server->Port()));
    logged.Quit();
    logged.Destroy();
  }
  EXPECT_EQ(server->Outcome(), "DONE\n");
  const std::string log = ReadFile(logName);
  for (const char* line : {"TCP/IP debug log", "C ip 127.0.0.1", "R 220 ready", "S USER alice",
                           "R 331 password please", "S PASS ****", "R 230 logged in", "S QUIT"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << " missing from\n" << log;
  }
  EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
}

TEST_F(FtpLoginTest, ServerRefusingTlsGetsNoLoginAndNoFurtherTry) {
  // Under TLS nothing but AUTH TLS may be sent in the clear: a refusal ends
  // the login at once, and the server sees the connection close.
  Serve(R"(send 220 ready\r\n
expect AUTH TLS
send 500 AUTH not understood\r\n
expect_close
)");
  const std::string logName = server->Dir() / "debug.log";
  {
    RecordingFtpSession secure(logName);
    secure.UseTls({});
    EXPECT_FALSE(LogIn(secure, server->Port(), 3));
    EXPECT_EQ(secure.events,
              (Events{"Connecting:1", "Connected", "TlsRefused:500 AUTH not understood"}));
    secure.Destroy();
  }
  EXPECT_EQ(server->Outcome(), "DONE\n");
  const std::string log = ReadFile(logName);
  EXPECT_EQ(log.find("S USER"), std::string::npos) << log;
  EXPECT_EQ(log.find("S PASS"), std::string::npos) << log;
}

// --- Type and directories ----------------------------------------------------

class FtpSessionTest : public ScriptedFtpTest {};

TEST_F(FtpSessionTest, TypeAndDirectoryCommands) {
  Start(R"(expect TYPE I
send 500 Unknown type\r\n
expect CWD pub
send 250 ok\r\n
expect CWD /
send 250 ok\r\n
expect CWD Data
send 550 no such directory\r\n
expect PWD
send 257 "/home/alice/DATA" is current\r\n
expect CWD other
send 550 no such directory\r\n
expect PWD
send 257 "/home/alice" is current\r\n
expect PWD
send 257 no quotes here\r\n
expect PWD
send 550 not allowed\r\n
expect PWD
send 257 "/home/alice" is current\r\n
expect CWD pub
send 250 ok\r\n
)");
  // A refused type still counts as the type in force: no second TYPE I.
  EXPECT_FALSE(session.SetType(kTypeImage));
  EXPECT_EQ(session.CurrentType(), kTypeImage);
  EXPECT_TRUE(session.SetType(kTypeImage));

  EXPECT_TRUE(session.ChangeDir("pub/"));
  EXPECT_TRUE(session.ChangeDir("/"));
  EXPECT_TRUE(session.ChangeDir(""));
  EXPECT_TRUE(session.ChangeDir("Data"));  // already there, in another letter case
  EXPECT_FALSE(session.ChangeDir("other"));

  EXPECT_EQ(session.WorkingDir(), "257 no quotes here");
  EXPECT_EQ(session.WorkingDir(), "");

  // A path too long for one command line never goes out cut, naming another
  // directory: the change fails, and the next command gets its own reply.
  EXPECT_FALSE(session.ChangeDir("/" + std::string(kMaxCommandLength, 'd')));
  EXPECT_TRUE(session.ChangeDir("pub"));
  EXPECT_EQ(Finish(), "DONE\n");
}

// --- Replies, each matched to its command -------------------------------------

// The reply the client must take: the command it answers (its keyword, or
// empty for the oldest reply still owed), the code and the last line.
struct TakenReply {
  const char* command;
  std::int32_t code;
  const char* lastLine;
};

struct ReplyRow {
  const char* name;
  const char* command;  // what the client sends
  std::string script;   // what the server does from then on, up to the PWD below
  std::vector<TakenReply> replies;
};

// The client's next command, whose answer comes apart from any reply before
// it, so that a reply left behind would pass for it.
const std::string kNextPwd = "expect PWD\npause 0.2\nsend 257 \"/next\" is current\\r\\n\n";

const ReplyRow kReplyRows[] = {
    {"multi-line reply whose inner lines look like codes and ends late",
     "PWD",
     "expect PWD\nsend 257-Inner lines:\\r\\n230 another code\\r\\n\\r\\n257-same code\\r\\n\n"
     "pause 0.2\nsend 257 \"/multi\" is current\\r\\n\n" +
         kNextPwd,
     {{"PWD", 257, "257 \"/multi\" is current"}}},
    {"preliminary reply, then the final one",
     "SIZE a.txt",
     "expect SIZE a.txt\nsend 110 working on it\\r\\n\npause 0.2\nsend 213 100\\r\\n\n" + kNextPwd,
     {{"SIZE", 213, "213 100"}}},
    {"two replies in one segment: the second answers nothing",
     "PWD",
     "expect PWD\nsend 257 \"/first\" is current\\r\\n500 stray\\r\\n\n" + kNextPwd,
     {{"PWD", 257, "257 \"/first\" is current"}}},
    {"multi-line reply split over segments, one of them within a line",
     "PWD",
     "expect PWD\nsend 257-Here it\\r\\n\npause 0.2\nsend 257-comes\\r\\n25\npause 0.2\n"
     "send 7 \"/split\" ok\\r\\n\n" +
         kNextPwd,
     {{"PWD", 257, "257 \"/split\" ok"}}},
    {"lines ended by a bare LF",
     "PWD",
     "expect PWD\nsend 257-one\\n\\n257 \"/lf\" is current\\n\n" + kNextPwd,
     {{"PWD", 257, "257 \"/lf\" is current"}}},
    {"text without a code before the reply",
     "NOOP",
     "expect NOOP\nsend \\r\\nnot a reply\\r\\n\npause 0.2\nsend 200 ok\\r\\n\n" + kNextPwd,
     {{"NOOP", 200, "200 ok"}}},
    {"stray reply sent before the command",
     "NOOP",
     "send 421 stray\\r\\n\nexpect NOOP\nsend 200 ok\\r\\n\n" + kNextPwd,
     {{"NOOP", 200, "200 ok"}}},
    {"transfer mark and final reply in one segment",
     "RETR a.txt",
     "expect RETR a.txt\nsend 150 Opening\\r\\n226 Done\\r\\n\n" + kNextPwd,
     {{"RETR", 150, "150 Opening"}, {"", 226, "226 Done"}}},
    {"final reply of a transfer still owed when the next command goes out",
     "RETR a.txt",
     "expect RETR a.txt\nsend 150 Opening\\r\\n\nexpect PWD\nsend 226 Done\\r\\n\npause 0.2\n"
     "send 257 \"/next\" is current\\r\\n\n",
     {{"RETR", 150, "150 Opening"}}},
};

TEST(FtpReplyTest, EachReplyAnswersTheCommandSent) {
  for (const ReplyRow& row : kReplyRows) {
    SCOPED_TRACE(row.name);
    ScriptedFtpServer server(kLoginScript + row.script + "expect QUIT\n");
    RecordingFtpSession session;
    session.SetTimeout(3);
    ASSERT_TRUE(LogIn(session, server.Port()));
    // A reply the server sends before it reads the command is here by then.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    session.SendCommand(row.command);
    for (const TakenReply& taken : row.replies) {
      EXPECT_EQ(session.ReadReply(taken.command), taken.code) << taken.command;
      EXPECT_EQ(session.LastReply(), taken.lastLine);
    }
    session.SendCommand("PWD");
    EXPECT_EQ(session.ReadReply("PWD"), 257);
    EXPECT_EQ(session.LastReply(), "257 \"/next\" is current");
    EXPECT_FALSE(session.Control().Failed());
    session.Quit();
    EXPECT_EQ(server.Outcome(), "DONE\n");
  }
}

// --- Data channel ------------------------------------------------------------

class FtpDataChannelTest : public ScriptedFtpTest {};

TEST_F(FtpDataChannelTest, ThreeFailedTriesRaiseDataChannelFailed) {
  // Refused twice, then a 227 without an address (port 0 cannot be reached).
  Start(R"(expect TYPE I
send 200 Type set to I\r\n
expect PASV
send 502 no passive mode\r\n
expect PASV
send 425 cannot open data connection\r\n
expect PASV
send 227 nothing to parse\r\n
)");
  FtpFileRecord file;
  file.name = "file.txt";
  EXPECT_FALSE(session.OpenDataChannelWithRetries(file));
  EXPECT_EQ(session.events, (Events{"OpeningDataChannel:1", "OpeningDataChannel:2",
                                    "OpeningDataChannel:3", "DataChannelFailed:file.txt"}));
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpDataChannelTest, OpensOnFirstTryWithEvents28And29) {
  Start(R"(expect TYPE I
send 200 Type set to I\r\n
expect PASV
pasv
data expect_bytes payload
)");
  ASSERT_TRUE(session.OpenDataChannelWithRetries(FtpFileRecord{}));
  EXPECT_EQ(session.events, (Events{"OpeningDataChannel:1", "DataChannelOpen"}));
  std::uint16_t sent = 0;
  EXPECT_TRUE(session.Data().SendBlock("payload", 7, sent));
  EXPECT_EQ(Finish(), "DONE\n");
  session.CloseDataChannel();
}

TEST_F(FtpDataChannelTest, PassiveReplyNamingAnotherHostConnectsToTheServer) {
  // The reply names 127.0.0.2, where nothing listens; the data connection
  // must go to the control connection's peer, 127.0.0.1, on the given port.
  Start(R"(timeout 5
expect PASV
pasv 227 Entering Passive Mode (127,0,0,2,{p1},{p2})
data send hello\r\n
data close
)");
  ASSERT_TRUE(session.OpenDataChannel(kTypeAscii));
  ASSERT_TRUE(session.Data().WaitReadable(5));
  char buffer[16];
  std::uint16_t received = 0;
  ASSERT_TRUE(session.Data().ReceiveBlock(buffer, sizeof buffer, received));
  EXPECT_EQ(std::string_view(buffer, received), "hello\r\n");
  session.CloseDataChannel();
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpDataChannelTest, Ipv6ControlConnectionAsksWithEpsv) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
  Serve(kLoginScript + R"(expect EPSV
pasv 229 Entering Extended Passive Mode (|||{port}|)
data send hello\r\n
data close
expect EPSV
send 229 Entering Extended Passive Mode (|||0|)\r\n
expect QUIT
)",
        "::1");
  ASSERT_TRUE(session.Login({.host = "[::1]",
                             .user = "alice",
                             .password = "s3cret",
                             .port = server->Port(),
                             .retryDelay = 1,
                             .tries = 1}));
  ASSERT_TRUE(session.OpenDataChannel(kTypeAscii));
  ASSERT_TRUE(session.Data().WaitReadable(5));
  char buffer[16];
  std::uint16_t received = 0;
  ASSERT_TRUE(session.Data().ReceiveBlock(buffer, sizeof buffer, received));
  EXPECT_EQ(std::string_view(buffer, received), "hello\r\n");
  session.CloseDataChannel();
  EXPECT_FALSE(session.OpenDataChannel(kTypeAscii));  // no port to connect to
  EXPECT_EQ(Finish(), "DONE\n");
}

// --- Listings ----------------------------------------------------------------

// How a finished listing ends: the data connection closes, then 226 follows.
const std::string kListingDone = R"(data close
send 226 done\r\n
)";

class FtpListingTest : public ScriptedFtpTest {
 protected:
  // Fetches the listing of the current directory and looks for the first
  // entry that mask and filter select.
  bool Fetch(std::string_view mask, std::uint16_t filter = kFilterAny) {
    return FetchListing(session, mask, filter, record, listing);
  }
  // Serves text as the listing and then the steps that end it, then answers
  // PWD so that the test can see that the session goes on. The answer comes
  // apart from any reply before it, so that a stray reply cannot pass for it.
  void StartWithListing(const std::string& text, const std::string& ending = kListingDone) {
    WriteFile(files / "listing.txt", text);
    Start(kListRequest + R"(send 150 ok\r\n
data send_file )" +
          (files / "listing.txt") + "\n" + ending + R"(expect PWD
pause 0.2
send 257 "/big" is current\r\n
)");
  }

  TempDir files;
  FtpFileRecord record;
  ListingPtr listing;
};

TEST_F(FtpListingTest, ListRefusedIsFinalAndTheSessionGoesOn) {
  Start(kListRequest + R"(send 550 No files found\r\n
expect PWD
send 257 "/empty" is current\r\n
)");
  const auto start = Clock::now();
  EXPECT_FALSE(Fetch("*.*"));
  EXPECT_LT(SecondsSince(start), 5.0);
  ASSERT_NE(listing, nullptr);
  EXPECT_EQ(record.listing, listing.get());
  EXPECT_EQ(listing->count, 0);
  EXPECT_FALSE(session.Control().Failed());
  EXPECT_EQ(session.WorkingDir(), "/empty");
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpListingTest, EmptyListingEndsAfterTheListDelay) {
  // The data connection stays open without data; 226 comes at once.
  session.SetListDelay(2);
  Start(kListRequest + R"(send 150 Here comes the directory listing\r\n
data accept
send 226 Directory send OK\r\n
data await_close
expect PWD
send 257 "/" is current\r\n
)");
  const auto start = Clock::now();
  EXPECT_FALSE(Fetch("*.*"));
  const double seconds = SecondsSince(start);
  EXPECT_GT(seconds, 1.0);
  EXPECT_LT(seconds, 8.0);  // the server keeps the data connection open
  EXPECT_EQ(session.WorkingDir(), "/");
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpListingTest, EmptyListingsLateReplyDoesNotAnswerTheNextCommand) {
  session.SetListDelay(2);
  Start(kListRequest + R"(send 150 Here comes the directory listing\r\n
data accept
data close
pause 0.5
send 226 Directory send OK\r\n
pause 0.3
expect PWD
send 257 "/" is current\r\n
)");
  EXPECT_FALSE(Fetch("*.*"));
  EXPECT_EQ(session.WorkingDir(), "/");
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpListingTest, ListDelayZeroMeansFive) {
  EXPECT_EQ(session.ListDelay(), 5);
  session.SetListDelay(7);
  EXPECT_EQ(session.ListDelay(), 7);
  session.SetListDelay(0);
  EXPECT_EQ(session.ListDelay(), 5);
}

TEST_F(FtpListingTest, SymlinksTotalAndLongNamesInPieces) {
  const std::string longName = std::string(120, 'a') + " " + std::string(120, 'b');
  session.SetListDelay(2);
  Start(kListRequest + R"(send 150 Opening ASCII mode data connection\r\n
data send total 4\r\n
data send drwxr-xr-x    2 ftp   ftp     4096 Jan  5 12:00 pub\r\n
pause 0.2
data send lrwxrwxrwx    1 ftp   ftp        7 Feb 28  2021 current -> pub/v2\r\n-rw-r--r--    1 ftp   ftp      812 Mar  1 09:30 notes for the team.txt\r\n-rw-r--r--    1 ftp   ftp     1234 Mar  1 09:30 )" +
        longName + R"(\r\n-rw-r--r--    1 ftp   ftp      100 Mar  1 09:30 last
pause 0.2
data send .txt\r\n
data close
send 226 Transfer complete\r\n
)");
  ASSERT_TRUE(Fetch("LAST.TXT", kFilterFiles));
  EXPECT_EQ(record.name, "last.txt");
  EXPECT_EQ(record.size, 100);

  struct Expected {
    std::string name;
    std::uint16_t attribute;
    std::int64_t size;
  };
  // The link keeps its own name, of unknown size; names keep their blanks,
  // also on a line beyond 255 characters.
  const std::vector<Expected> expected = {{"pub", kFtpDirectory, 4096},
                                          {"current", kFtpFile, kUnknownSize},
                                          {"notes for the team.txt", kFtpFile, 812},
                                          {longName, kFtpFile, 1234},
                                          {"last.txt", kFtpFile, 100}};
  ASSERT_EQ(listing->count, expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(listing->items[i].name, expected[i].name) << i;
    EXPECT_EQ(listing->items[i].attribute, expected[i].attribute) << i;
    EXPECT_EQ(listing->items[i].size, expected[i].size) << i;
  }
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpListingTest, StalledListingSleepsWhileItWaits) {
  // A stall in the data, then a late 226 after the data connection closed.
  Start(kListRequest + R"(send 150 ok\r\n
data send -rw-r--r-- 1 u g 10 Jan 5 12:00 one.txt\r\n
pause 1.5
data send -rw-r--r-- 1 u g 20 Jan 5 12:00 two.txt\r\n
data close
pause 1.5
send 226 done\r\n
)");
  const auto start = Clock::now();
  const double processorBefore = ProcessorSeconds();
  ASSERT_TRUE(Fetch("two.txt", kFilterFiles));
  EXPECT_GT(SecondsSince(start), 2.5);
  EXPECT_LT(ProcessorSeconds() - processorBefore, 0.75);  // a spin takes about 3 s
  EXPECT_EQ(listing->count, 2);
  EXPECT_EQ(record.size, 20);
  EXPECT_EQ(Finish(), "DONE\n");
}

// A listing of count short lines of files named f0, f1, ...
std::string ShortLines(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += "-rw-r--r-- 1 u g 1 Jan 5 12:00 f" + std::to_string(i) + "\r\n";
  }
  return text;
}

TEST_F(FtpListingTest, AHundredThousandFilesAreAllListed) {
  StartWithListing(ShortLines(100000));
  ASSERT_TRUE(Fetch("f99999", kFilterFiles));
  EXPECT_EQ(listing->count, 100000u);
  EXPECT_EQ(listing->items[12345].name, "f12345");
  EXPECT_TRUE(listing->fetched);
  EXPECT_TRUE(session.events.empty());
  EXPECT_EQ(session.WorkingDir(), "/big");
  EXPECT_EQ(Finish(), "DONE\n");
}

TEST_F(FtpListingTest, ListingBeyondItsBoundKeepsItsFirstEntriesAndTheSessionGoesOn) {
  // Listing data that never ends; the server answers the client's close of
  // the data connection only late.
  StartWithListing(ShortLines(10), R"(data flood -rw-r--r-- 1 u g 1 Jan 5 12:00 more\r\n
pause 0.5
send 426 Connection closed\r\n
)");
  const auto start = Clock::now();
  ASSERT_TRUE(Fetch("*", kFilterFiles));
  EXPECT_LT(SecondsSince(start), 10.0);
  ASSERT_EQ(listing->count, kMaxListingEntries);
  EXPECT_EQ(listing->items[9].name, "f9");
  EXPECT_EQ(listing->items[kMaxListingEntries - 1].name, "more");
  EXPECT_EQ(session.events,
            (Events{"ListingCut:" + std::to_string(kMaxListingEntries) + " entries"}));
  EXPECT_EQ(session.WorkingDir(), "/big");
  EXPECT_EQ(Finish(), "DONE\n");
}

}  // namespace

}  // namespace quorbit
