// Each case plays a script on a local scripted server (tests/peers/
// scripted_server.py): what the server sends, and what the client must send
// back. The server's verdict ("DONE" or "MISMATCH ...") is checked at the end.
#include "net/connection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "peers/peers.h"
#include "util/stoprequest.h"

namespace quorbit {

namespace {

class TcpConnectionTest : public ::testing::Test {
 protected:
  TempDir dir;
  PeerProcess server;
  TcpConnection conn;
  int port = 0;

  // Starts the script and connects to it with the debug log open.
  void Play(const std::string& script) {
    port = StartScriptedServer(server, dir, script);
    ASSERT_NE(port, 0);
    conn.OpenDebugLog(dir / "debug.log");
    ASSERT_TRUE(conn.Connect("127.0.0.1", static_cast<std::uint16_t>(port)));
  }

  // Closes the client side and returns what the server reported.
  std::string Verdict() {
    conn.Close();
    return server.ReadRest();
  }

  std::string NextLine() {
    std::string line;
    EXPECT_TRUE(conn.WaitReadable(5));
    EXPECT_TRUE(conn.ReadLine(line, 255));
    return line;
  }

  // Texts of the debug log entries after the banner, without time stamps.
  std::vector<std::string> LogEntries() {
    std::vector<std::string> entries;
    std::string log = ReadFile(dir / "debug.log");
    std::size_t dashes = log.find(std::string(60, '-'));
    std::size_t start = log.find('\n', dashes) + 1;
    for (std::size_t end;
         dashes != std::string::npos && (end = log.find('\n', start)) != std::string::npos;
         start = end + 1) {
      std::string line = log.substr(start, end - start);
      std::size_t text = line.find("  ");
      entries.push_back(text == std::string::npos ? line : line.substr(text + 2));
    }
    return entries;
  }
};

using Entries = std::vector<std::string>;

TEST_F(TcpConnectionTest, CrLfEndsALineAndAnEmptyLineIsALine) {
  Play(R"(send abc\r\n\r\n
expect_close
)");
  EXPECT_EQ(NextLine(), "abc");
  EXPECT_EQ(NextLine(), "");
  std::string line("kept");
  EXPECT_FALSE(conn.ReadLine(line, 255));  // nothing left: the LFs were consumed
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, LfOfACrLfPairArrivingLaterIsDropped) {
  Play(R"(send abc\r
pause 0.5
send \ndef\r\n
expect_close
)");
  EXPECT_EQ(NextLine(), "abc");
  EXPECT_EQ(NextLine(), "def");
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, AStrayLfAloneNeitherWaitsNorFails) {
  Play(R"(send abc\r
pause 0.3
send \n
expect_close
)");
  EXPECT_EQ(NextLine(), "abc");
  ASSERT_TRUE(conn.WaitReadable(5));
  std::string line("kept");
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn.ReadLine(line, 255));
  EXPECT_LT(SecondsSince(start), 5.0);  // not the connection's time-out
  EXPECT_EQ(line, "kept");
  EXPECT_FALSE(conn.Failed());
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, LineInSeveralSegmentsIsWaitedForAndReadWhole) {
  Play(R"(send 220 Ser
pause 0.3
send vice re
pause 0.3
send ady\r\n
expect_close
)");
  EXPECT_EQ(NextLine(), "220 Service ready");
  EXPECT_FALSE(conn.Failed());
  EXPECT_EQ(LogEntries(), (Entries{"C ip 127.0.0.1", "R 220 Service ready"}));
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, LongLineComesIn255BytePiecesAndItsLogEntryIsCut) {
  Play("send " + std::string(300, 'a') + R"(\r\n
expect_close
)");
  EXPECT_EQ(NextLine(), std::string(255, 'a'));
  EXPECT_EQ(NextLine(), std::string(45, 'a'));
  Entries log = LogEntries();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], "R " + std::string(252, 'a'));
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, LfAloneStaysInTheLineAndMaximumLengthCutsTheRest) {
  Play(R"(send ab\ncd\r\n
send abcdefgh\r\nxy\r\n
expect_close
)");
  EXPECT_EQ(NextLine(), "ab\ncd");
  std::string line;
  ASSERT_TRUE(conn.WaitReadable(5));
  EXPECT_TRUE(conn.ReadLine(line, 3));
  EXPECT_EQ(line, "abc");
  EXPECT_EQ(NextLine(), "xy");
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, ReadLineWithNothingPendingReturnsAtOnceAndKeepsTheLine) {
  Play(R"(expect_close
)");
  std::string line("kept");
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn.ReadLine(line, 255));
  EXPECT_LT(SecondsSince(start), 5.0);  // not the connection's time-out
  EXPECT_EQ(line, "kept");
  EXPECT_FALSE(conn.Failed());
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, PeerClosingMidLineGivesWhatArrivedThenReadableWaitEndsPromptly) {
  Play(R"(send 221 Bye
pause 0.3
close
)");
  EXPECT_EQ(NextLine(), "221 Bye");
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn.WaitReadable(10));
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_TRUE(conn.Failed());
  EXPECT_TRUE(conn.PeerClosed());
  EXPECT_EQ(conn.FailureReason(), "closed by the peer");
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, LfOfTheLastLineEndArrivingApartIsNotBlockData) {
  Play(R"(send HTTP/1.1 200 OK\r\n\r
pause 0.3
send \nbody\n
close
)");
  EXPECT_EQ(NextLine(), "HTTP/1.1 200 OK");
  EXPECT_EQ(NextLine(), "");
  char block[16];
  std::uint16_t got = 0;
  ASSERT_TRUE(conn.WaitReadable(5));
  ASSERT_TRUE(conn.ReceiveBlock(block, sizeof block, got));
  EXPECT_EQ(std::string(block, got), "body\n");
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, StalledServerCostsNoProcessorTime) {
  Play(R"(await_close
)");
  auto start = std::chrono::steady_clock::now();
  double cpuStart = ProcessorSeconds();
  EXPECT_FALSE(conn.WaitReadable(3));
  double wall = SecondsSince(start);
  double cpu = ProcessorSeconds() - cpuStart;
  EXPECT_GE(wall, 2.9);
  EXPECT_LT(wall, 8.0);
  EXPECT_LT(cpu, wall / 4);  // a wait that spins takes about all of it
  EXPECT_FALSE(conn.PeerClosed());
}

TEST_F(TcpConnectionTest, TimedOutWaitFailsForGoodUntilInit) {
  Play(R"(expect_close
accept
expect HELLO
expect_close
)");
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn.WaitReadable(1));
  EXPECT_LT(SecondsSince(start), 4.0);
  EXPECT_TRUE(conn.Failed());
  EXPECT_EQ(conn.FailureReason(), "no answer within 1 s");

  // Nothing may reach the socket or the log while failed.
  EXPECT_FALSE(conn.SendLine("QUIT"));
  EXPECT_FALSE(conn.SendByte('\r'));
  std::uint16_t count = 7;
  EXPECT_FALSE(conn.SendBlock("x", 1, count));
  EXPECT_FALSE(conn.ReceiveBlock(nullptr, 10, count));
  EXPECT_FALSE(conn.WaitReadable(5));
  EXPECT_EQ(LogEntries(), (Entries{"C ip 127.0.0.1"}));

  // A new connect closes the old socket but does not clear the state.
  ASSERT_TRUE(conn.Connect("127.0.0.1", static_cast<std::uint16_t>(port)));
  EXPECT_FALSE(conn.SendLine("HELLO"));
  EXPECT_EQ(conn.FailureReason(), "no answer within 1 s");
  conn.Init();
  EXPECT_EQ(conn.FailureReason(), "");
  EXPECT_TRUE(conn.SendLine("HELLO"));
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, LinesWaitedForWithinOneDeadlineEndThereHoweverTheyTrickle) {
  // Each row: what the server sends (a byte every 0.3 s), and the lines
  // AwaitLine gives before the deadline one second on, after which the
  // connection is failed as timed out.
  struct Row {
    const char* trickled;
    Entries lines;
  };
  const Row rows[] = {
      {"a line that never ends", {}},
      {"a\\r\\nb\\r\\nc\\r\\n", {"a"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.trickled);
    TempDir scriptDir;
    PeerProcess peer;
    const int peerPort =
        StartScriptedServer(peer, scriptDir, std::string("trickle 0.3 ") + row.trickled);
    ASSERT_NE(peerPort, 0);
    TcpConnection connection;
    connection.SetTimeout(30);
    ASSERT_TRUE(connection.Connect("127.0.0.1", static_cast<std::uint16_t>(peerPort)));
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(1);
    Entries lines;
    for (std::string line; connection.AwaitLine(line, deadline);) lines.push_back(line);
    EXPECT_LT(SecondsSince(start), 4.0);  // the trickle goes on for longer
    EXPECT_EQ(lines, row.lines);
    EXPECT_TRUE(connection.Failed());
    EXPECT_TRUE(connection.TimedOut());
    connection.Close();
    EXPECT_EQ(peer.ReadRest(), "DONE\n");
  }
}

TEST_F(TcpConnectionTest, ConfiguredTimeoutTakesTheDefaultsPlaceInEveryWait) {
  Play(R"(send begun
await_close
)");
  conn.SetTimeout(1);
  EXPECT_EQ(conn.Timeout(), 1);
  auto start = std::chrono::steady_clock::now();
  std::string line;
  EXPECT_TRUE(conn.WaitReadable(0));
  EXPECT_FALSE(conn.ReadLine(line));  // the rest of the line never comes
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_TRUE(conn.TimedOut());
  conn.SetTimeout(0);
  EXPECT_EQ(conn.Timeout(), DefaultTimeout);
}

TEST_F(TcpConnectionTest, DebugLogTakesAtMostTheLinesItIsGiven) {
  Play(R"(send 1\r\n2\r\n3\r\n4\r\n5\r\n
pause 0.3
send 6\r\n7\r\n
)");
  conn.LogAtMostLines(2);
  for (int i = 0; i < 5; ++i) NextLine();
  conn.LogAtMostLines(1);
  NextLine();
  NextLine();
  EXPECT_EQ(LogEntries(), (Entries{"C ip 127.0.0.1", "R 1", "R 2",
                                   "E Further lines received are left out of this log", "R 6",
                                   "E Further lines received are left out of this log"}));
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, ReceiveBlockTakesAtMostItsLimit) {
  Play("send " + std::string(5000, 'x') + "\nexpect_close\n");
  ASSERT_TRUE(conn.WaitReadable(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // all 5000 bytes in
  char buffer[4096];
  std::uint16_t received = 0;
  EXPECT_TRUE(conn.ReceiveBlock(buffer, 2048, received));
  EXPECT_EQ(received, 2048);
  EXPECT_TRUE(conn.ReceiveBlock(buffer, 2048, received));
  EXPECT_EQ(received, 2048);
  EXPECT_TRUE(conn.ReceiveBlock(buffer, 4096, received));
  EXPECT_EQ(received, 904);
  EXPECT_FALSE(conn.ReceiveBlock(buffer, 4096, received));
  EXPECT_EQ(received, 0);
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, SentLinesAreLoggedWithPasswordsMasked) {
  Play(R"(expect USER anna
expect PASS secret
send 230 Logged in\r\n
expect_close
)");
  EXPECT_TRUE(conn.SendLine("USER anna"));
  EXPECT_TRUE(conn.SendLine({.text = "PASS secret", .logged = "PASS ****"}));
  EXPECT_EQ(NextLine(), "230 Logged in");
  EXPECT_EQ(LogEntries(),
            (Entries{"C ip 127.0.0.1", "S USER anna", "S PASS ****", "R 230 Logged in"}));
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, LineLongerThanAReadPieceGoesOutWholeWithItsLineEnd) {
  const std::string text(600, 'q');
  Play("expect_bytes " + text + R"(\r\n
expect_close
)");
  EXPECT_TRUE(conn.SendLine(text));
  EXPECT_EQ(Verdict(), "DONE\n");  // expect_close: nothing after the CR LF
}

TEST_F(TcpConnectionTest, SendingToAClosedPeerFailsWithoutKillingTheProcess) {
  Play(R"(close
)");
  ASSERT_EQ(server.ReadRest(), "DONE\n");
  // The first sends may still be taken by the local stack; a block send
  // error leaves the connection usable, a line send error fails it.
  std::uint16_t sent = 1;
  for (int i = 0; i < 50 && conn.SendBlock("data", 4, sent); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(sent, 0);
  EXPECT_FALSE(conn.Failed());
  EXPECT_FALSE(conn.SendLine("QUIT"));
  EXPECT_TRUE(conn.Failed());
  // The peer's stack answers what reaches a closed socket with a reset.
  const std::string reason = conn.FailureReason();
  EXPECT_TRUE(reason == "Broken pipe" || reason == "Connection reset by peer") << reason;
}

TEST_F(TcpConnectionTest, AfterOurEndThePeersEndIsToldApart) {
  // Each row: what the server does with our "data" and our end, and what
  // AwaitPeerEnd makes of it (within 300 ms where the peer stays open, until
  // the test has seen it so).
  using End = TcpConnection::PeerEnd;
  struct Row {
    const char* what;
    std::string script;
    End end;
  };
  const std::string seen = dir / "seen";
  const Row rows[] = {
      {"reads to our end, sends a last word, closes",
       "expect_bytes data\nexpect_close\nsend bye\nclose\n", End::Closed},
      {"reads to our end, then keeps its side open",
       "expect_bytes data\nexpect_close\nawait_file " + seen + "\n", End::Open},
      {"closes with our bytes unread", "pause 0.2\nclose\n", End::Broken},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    PeerProcess peer;
    port = StartScriptedServer(peer, dir, row.script);
    ASSERT_NE(port, 0);
    TcpConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", static_cast<std::uint16_t>(port)));
    std::uint16_t sent = 0;
    ASSERT_TRUE(connection.SendBlock("data", 4, sent));
    ASSERT_TRUE(connection.ShutdownSending());
    EXPECT_EQ(connection.AwaitPeerEnd(row.end == End::Open ? 300 : 3000), row.end);
    if (row.end == End::Open) WriteFile(seen, "");
    EXPECT_EQ(connection.Failed(), row.end == End::Broken);
    connection.Close();
    EXPECT_EQ(peer.ReadRest(), "DONE\n");
  }
}

TEST_F(TcpConnectionTest, ConnectByNameLogsNameAndAddress) {
  port = StartScriptedServer(server, dir, "expect_close\n");
  ASSERT_NE(port, 0);
  conn.OpenDebugLog(dir / "debug.log");
  ASSERT_TRUE(conn.Connect("localhost", static_cast<std::uint16_t>(port)));
  EXPECT_EQ(LogEntries(), (Entries{"C localhost, ip 127.0.0.1"}));
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, DottedAddressWithLeadingZerosIsDecimal) {
  port = StartScriptedServer(server, dir, "expect_close\n");
  ASSERT_NE(port, 0);
  conn.OpenDebugLog(dir / "debug.log");
  ASSERT_TRUE(conn.Connect("127.000.000.001", static_cast<std::uint16_t>(port)));
  EXPECT_EQ(LogEntries(), (Entries{"C ip 127.0.0.1"}));
  EXPECT_EQ(Verdict(), "DONE\n");
}

TEST_F(TcpConnectionTest, RefusedConnectIsLoggedWithItsReason) {
  conn.OpenDebugLog(dir / "debug.log");
  EXPECT_FALSE(conn.Connect("127.0.0.1", static_cast<std::uint16_t>(FreeLoopbackPort())));
  EXPECT_EQ(conn.FailureReason(), "Connection refused");
  EXPECT_FALSE(conn.Failed());  // a connect that finds no peer leaves the state alone
  EXPECT_EQ(LogEntries(),
            (Entries{"C ip 127.0.0.1", "E Unable to connect to host: Connection refused"}));
}

TEST_F(TcpConnectionTest, UnknownHostIsLoggedWithItsReason) {
  // A label over 63 characters is refused by the resolver before any query
  // leaves the machine; brackets hold nothing but a numeric IPv6 address.
  const struct {
    std::string host;
    const char* reason;
  } rows[] = {{std::string(70, 'x') + ".invalid", "Name or service not known"},
              {"[localhost]", "brackets hold only an IPv6 address"},
              {"[::1", "brackets hold only an IPv6 address"},
              {"::1::2", "Name or service not known"},
              {"[127.0.0.1]", "brackets hold only an IPv6 address"}};
  conn.OpenDebugLog(dir / "debug.log");
  Entries expected;
  for (const auto& row : rows) {
    EXPECT_FALSE(conn.Connect(row.host, 80)) << row.host;
    EXPECT_EQ(conn.FailureReason(), row.reason) << row.host;
    expected.push_back("E Unable to locate host " + row.host + ": " + row.reason);
  }
  EXPECT_EQ(LogEntries(), expected);
}

TEST_F(TcpConnectionTest, Ipv6AddressBareOrInBracketsIsConnectedAndLogged) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
  conn.OpenDebugLog(dir / "debug.log");
  for (const char* host : {"::1", "[::1]", "[0:0::1]"}) {
    port = StartScriptedServer(server, dir, "send 220 Ready\\r\\n\nexpect_close\n", "::1");
    ASSERT_NE(port, 0);
    ASSERT_TRUE(conn.Connect(host, static_cast<std::uint16_t>(port))) << host;
    EXPECT_EQ(NextLine(), "220 Ready");
    HostAddress peer;
    ASSERT_TRUE(conn.PeerAddress(21, peer));
    EXPECT_NE(peer.family, kInternetFamily);
    EXPECT_EQ(Verdict(), "DONE\n");
  }
  EXPECT_EQ(LogEntries(), (Entries{"C ip ::1", "R 220 Ready", "C ip ::1", "R 220 Ready", "C ip ::1",
                                   "R 220 Ready"}));
}

TEST_F(TcpConnectionTest, AddressesAreTriedInOrderUntilOneAnswers) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
  port = StartScriptedServer(server, dir, "expect_close\n");
  ASSERT_NE(port, 0);
  // A name that resolves to an IPv6 address nobody listens on, then to the
  // server's IPv4 address.
  std::vector<HostAddress> addresses =
      ResolveHost("::1", static_cast<std::uint16_t>(FreeLoopbackPort()), true).addresses;
  for (const HostAddress& address :
       ResolveHost("127.0.0.1", static_cast<std::uint16_t>(port), true).addresses) {
    addresses.push_back(address);
  }
  ASSERT_EQ(addresses.size(), 2u);
  conn.OpenDebugLog(dir / "debug.log");
  ASSERT_TRUE(conn.ConnectToFirst(addresses, "server.test"));
  EXPECT_EQ(conn.FailureReason(), "");  // the refusal of the first is no failure
  // The peer's address with another port is where an FTP data channel goes.
  HostAddress peer;
  ASSERT_TRUE(conn.PeerAddress(21, peer));
  const HostAddress expected = ResolveHost("127.0.0.1", 21, true).addresses.at(0);
  EXPECT_EQ(peer.family, kInternetFamily);
  EXPECT_EQ(std::vector(peer.raw.begin(), peer.raw.begin() + peer.length),
            std::vector(expected.raw.begin(), expected.raw.begin() + expected.length));
  EXPECT_EQ(Verdict(), "DONE\n");

  addresses.pop_back();  // only the silent one: every address has been tried
  EXPECT_FALSE(conn.ConnectToFirst(addresses, "server.test"));
  EXPECT_EQ(LogEntries(),
            (Entries{"C server.test, ip ::1", "C server.test, ip 127.0.0.1",
                     "C server.test, ip ::1", "E Unable to connect to host: Connection refused"}));
}

// 127.0.0.1 and the port, as a data channel is given its address.
HostAddress Loopback(int port) {
  return ResolveHost("127.0.0.1", static_cast<std::uint16_t>(port), true).addresses.front();
}

TEST_F(TcpConnectionTest, DataConnectionOpensAGivenAddressWithoutLogging) {
  port = StartScriptedServer(server, dir, "send 150 Here\\r\\n\nexpect_close\n");
  ASSERT_NE(port, 0);
  DataConnection data;
  data.OpenDebugLog(dir / "debug.log");
  ASSERT_TRUE(data.Open(Loopback(port)));
  std::string line;
  ASSERT_TRUE(data.WaitReadable(5));
  ASSERT_TRUE(data.ReadLine(line, 255));
  data.Close();
  EXPECT_EQ(server.ReadRest(), "DONE\n");
  EXPECT_EQ(LogEntries(), (Entries{"R 150 Here"}));
  EXPECT_FALSE(data.Open(Loopback(FreeLoopbackPort())));
}

// A loopback listener whose queue of connections not yet accepted is full,
// so that a further connect gets no answer until the kernel gives up.
class FullListener {
 public:
  FullListener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 0) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;  // port 0: the tests that need the listener fail
    }
    port_ = ntohs(address.sin_port);
    for (int& filler : fillers_) {
      filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      // Not waited for: each takes its place in the backlog by itself.
      (void)connect(filler, reinterpret_cast<sockaddr*>(&address), length);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ~FullListener() {
    for (int filler : fillers_) close(filler);
    close(listener_);
  }
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;
  std::uint16_t Port() const { return port_; }

 private:
  int listener_ = -1;
  int fillers_[4] = {-1, -1, -1, -1};
  std::uint16_t port_ = 0;
};

TEST_F(TcpConnectionTest, ConnectToASilentListenerEndsAtTheTimeout) {
  FullListener full;
  conn.SetTimeout(1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn.Connect("127.0.0.1", full.Port()));
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(conn.FailureReason(), "no answer within 1 s");
}

// A stop requested while the connection waits on a stalled server ends the
// wait within a fraction of a second, as a failure. Each row: what the
// server does, and the call that stalls on it.
TEST_F(TcpConnectionTest, StopEndsEveryStalledWaitPromptlyAndFailsTheConnection) {
  struct Row {
    const char* what;
    std::string script;  // empty: connect to a listener that never answers
    std::function<bool(TcpConnection&)> stalls;
  };
  FullListener full;
  const std::vector<Row> rows = {
      {"readable wait", "await_close\n", [](TcpConnection& c) { return c.WaitReadable(60); }},
      {"rest of a line", "send 220 no line end yet\nawait_close\n",
       [](TcpConnection& c) {
         std::string line;
         return c.WaitReadable(5) && c.ReadLine(line, 255);
       }},
      {"writable wait", "pause 5\n",
       [](TcpConnection& c) {
         static char block[65535];
         std::uint16_t sent = 0;
         while (c.SendBlock(block, sizeof block, sent)) {
         }
         return false;
       }},
      {"connect", "", [&full](TcpConnection& c) { return c.Connect("127.0.0.1", full.Port()); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    PeerProcess peer;
    TcpConnection connection;
    if (!row.script.empty()) {
      int peerPort = StartScriptedServer(peer, dir, row.script);
      ASSERT_TRUE(connection.Connect("127.0.0.1", static_cast<std::uint16_t>(peerPort)));
    }
    const auto start = std::chrono::steady_clock::now();
    std::thread stopper([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      RequestStop(SIGTERM);
    });
    const double cpuStart = ProcessorSeconds();
    EXPECT_FALSE(row.stalls(connection));
    const double wall = SecondsSince(start);
    stopper.join();
    EXPECT_GE(wall, 0.3);
    EXPECT_LT(wall, 3.0);  // the stalls would last far longer
    EXPECT_LT(ProcessorSeconds() - cpuStart, wall / 4);
    if (!row.script.empty()) {
      EXPECT_TRUE(connection.Failed());
    }
    EXPECT_EQ(connection.FailureReason(), "stopped");
    ClearStopRequest();
  }
}

TEST_F(TcpConnectionTest, BlockCallsFailOnceAStopIsRequestedEvenWithDataAtHand) {
  Play("send " + std::string(100, 'x') + "\nexpect_close\n");
  ASSERT_TRUE(conn.WaitReadable(5));
  RequestStop(SIGINT);
  char buffer[100];
  std::uint16_t count = 0;
  EXPECT_FALSE(conn.ReceiveBlock(buffer, sizeof buffer, count));
  EXPECT_FALSE(conn.SendBlock("x", 1, count));
  EXPECT_TRUE(conn.Failed());
  EXPECT_FALSE(TcpConnection().Connect("127.0.0.1", static_cast<std::uint16_t>(port)));
  ClearStopRequest();
  EXPECT_EQ(Verdict(), "DONE\n");
}

}  // namespace

}  // namespace quorbit
