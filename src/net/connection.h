// One outgoing TCP connection with bounded waits, CR-terminated
// line reading, line and block sending, a sticky failure state and an
// optional per-connection TCP/IP debug log.
//
// Calling order: Init, optionally OpenDebugLog, Connect (or Open of a
// DataConnection), waits, reads and sends, Close, Done. After the first
// error the connection is Failed for good: every wait, read and send then
// returns false at once without touching the socket and without logging.
//
// Waits sleep in poll() and never spin. Once a stop of the run is requested
// (util/stoprequest.h), every wait, connect and block transfer ends within a
// fraction of a second as a failure and the connection is Failed. A readable wait ends early, as
// not readable, when the peer has closed the connection and nothing is left to read; the connection
// is then Failed, as it would be had the wait run out, because nothing can arrive any more.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "net/sockets.h"
#include "net/tls.h"
#include "report/runlog.h"

namespace quorbit {

// Seconds of every writable wait, of a readable wait asked for 0 seconds,
// and of the wait for the rest of a line that has begun to arrive, unless a
// connection is given a time of its own (SetTimeout).
constexpr std::uint8_t DefaultTimeout = 120;

// The longest line a read hands out at once, and the longest piece a read
// peeks at: a longer line comes in pieces of this length. No line is cut to
// it silently: the rest is the next piece.
constexpr std::size_t kMaxLinePiece = 255;

enum class ConnectionState : std::int32_t { Usable = 0, Failed = 2 };

// The run-log line of an assignment that talks TLS without checking
// certificates (VERIFY=NO), written once when it starts.
void LogNotVerifying(std::string_view address);

class TcpConnection {
 public:
  TcpConnection() { Init(); }
  virtual ~TcpConnection() = default;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Usable again, debug log not open.
  void Init();
  // Stops debug logging; the socket stays as it is (Close closes it).
  void Done();
  // Opens the debug log (with its banner) unless the name is empty.
  void OpenDebugLog(std::string_view fileName);
  // The seconds that take DefaultTimeout's place in every wait of this
  // connection (0: DefaultTimeout again). Kept across Init: it is the
  // owner's choice, not the state of one connection.
  void SetTimeout(std::uint16_t seconds);
  std::uint16_t Timeout() const { return timeout_; }
  // From now on an LF alone ends a line too, as CR LF and CR do (servers
  // that write their lines with bare LF). Kept across Init, like the
  // time-out.
  void AcceptBareLineFeed(bool accept) { bareLineFeedEnds_ = accept; }
  // Now plus the connection's time-out: the deadline of one whole exchange
  // (a reply of many lines, a header).
  std::chrono::steady_clock::time_point TimeoutDeadline() const;

  // A new socket connected to the host, given as a dotted address, an IPv6
  // address (bare or in brackets: "[::1]") or a name to look up; the name's
  // addresses are tried in turn. Non-blocking afterwards. The state is not
  // reset.
  virtual bool Connect(std::string_view host, std::uint16_t port);
  // Connects to the first of the addresses that answers, trying them in
  // order within DefaultTimeout in all; name is the host name for the debug
  // log, empty for a numeric address.
  bool ConnectToFirst(const std::vector<HostAddress>& addresses, std::string_view name);
  // Starts TLS over the connected socket and completes the handshake
  // within DefaultTimeout; every later wait, read and send then goes through
  // the session. On failure the socket is closed (as after a failed Connect,
  // the state is left as it was) and failure is the run-log line that says why ("Certificate of
  // <host> not trusted: ..." or "TLS handshake with <host> failed: ...").
  bool StartTls(std::string_view host, const TlsOptions& options, std::string& failure);
  // Ends a TLS session politely, then closes the socket. Bytes already
  // received and not read (a TLS 1.3 server's late session tickets) are
  // taken first: a close with unread bytes would reset the connection, and
  // the reset could destroy data the peer has not read yet.
  void Close();
  bool Failed() const { return state_ == ConnectionState::Failed; }
  // Why the connection failed ("Connection refused", "no answer within
  // 30 s", "closed by the peer", "stopped"), or why the last connect found
  // no peer; empty while nothing has failed. The first reason of a failure
  // stays: what follows from it says nothing new.
  const std::string& FailureReason() const { return failure_; }
  // Failed for good from now on: for an owner that finds the peer out of
  // step (a reply beyond its bounds), so that nothing more is read or sent.
  void MarkFailed(std::string_view reason = "out of step with the peer") { Fail(reason); }
  // Usable again with a fresh socket to come, the debug log kept: for a new
  // attempt after a failed one, which must not inherit its failure.
  void ResetState();
  // Takes over the other connection's socket (and TLS session) with its
  // state, closing the one held so far; the other is left without a socket,
  // usable for a new one. Each keeps its own debug log: a connection kept
  // open for later requests passes from one owner to the next.
  void TakeOver(TcpConnection& other);
  SocketHandle Handle() const { return socket_.Get(); }
  // The address of the peer (IPv4 or IPv6) with the given port: where an
  // FTP passive data channel goes. False when not connected.
  bool PeerAddress(std::uint16_t port, HostAddress& address) const;
  // The peer closed the connection (an orderly end, under TLS the peer's
  // close_notify): seen by the last readable wait that failed, or by a
  // block receive that found the end of the data.
  bool PeerClosed() const { return peerClosed_; }
  // The TLS session running over the socket; null without one.
  const TlsSession* Tls() const { return tls_.get(); }

  // True when bytes are pending within the seconds (0: DefaultTimeout).
  // Otherwise the connection is Failed.
  bool WaitReadable(std::uint16_t seconds);
  // The same, waiting until a point in time: a caller that bounds a whole
  // exchange of many lines hands its one deadline to every wait.
  bool WaitReadableUntil(std::chrono::steady_clock::time_point deadline);
  // One line, ended by CR (an LF right after the CR is consumed too; an LF
  // alone is no line end unless AcceptBareLineFeed), of at most kMaxLinePiece bytes: a longer line
  // comes in pieces of that length. Bytes beyond maxLength (which is at most kMaxLinePiece: a
  // caller that keeps only the start of a line) are consumed and lost. False at once, line
  // untouched, when nothing is pending: callers wait first. A line that has begun to arrive is
  // waited for up to DefaultTimeout; if the peer closes before its CR, what arrived is the line.
  // The LF of the last line's CR LF, arriving alone, is taken and gives no line (false): a caller
  // that wants the next line waits again.
  bool ReadLine(std::string& line, std::size_t maxLength = kMaxLinePiece);
  // One whole line, waited for until the deadline, whether nothing or part
  // of it has arrived: for a reply or header whose every line must come
  // within one bound, however slowly each line trickles in. False when the
  // deadline passes (the connection is then Failed, as the line was cut),
  // when the peer has closed with nothing more to read, or on an error.
  bool AwaitLine(std::string& line, std::chrono::steady_clock::time_point deadline,
                 std::size_t maxLength = kMaxLinePiece);
  // ReadLine, with the wait for the rest of a begun line ending at the
  // deadline instead of after the connection's time-out.
  bool ReadLineBefore(std::string& line, std::chrono::steady_clock::time_point deadline,
                      std::size_t maxLength = kMaxLinePiece);
  // The last failed wait or line read ran out of time (rather than finding
  // the peer gone or an error).
  bool TimedOut() const { return timedOut_; }
  // From now on at most count received lines go to the debug log, then one
  // entry saying that the rest is left out; the next call counts afresh.
  // A server sending line after line then cannot fill the disk.
  void LogAtMostLines(std::size_t count);
  // Bytes have arrived that nothing has read yet (the LF that ends the last
  // line read does not count); never waits. A connection about to carry a
  // new request must have none: they would be taken for its answer.
  bool BytesWaiting();
  // text + CR + LF, whole, in one send; logs "S " + text, or for a
  // LoggedLine "S " + logged, where the text must not reach the log (a
  // password).
  struct LoggedLine {
    std::string_view text;
    std::string_view logged;
  };
  bool SendLine(std::string_view text);
  bool SendLine(const LoggedLine& line);
  // The lines, each + CR + LF and whole, in one send, and
  // "S " + each in the debug log: a request of several lines leaves in one
  // segment instead of waiting for the peer to acknowledge its first line.
  bool SendLines(std::initializer_list<std::string_view> lines);
  // The bytes in one send; true only when all of them went out.
  bool SendText(std::string_view text);
  bool SendByte(std::uint8_t value);
  // Up to maxCount of the bytes already received; never waits. The LF of a
  // CR LF pair whose CR ended the last line read (and arrived apart from it)
  // is not data and is skipped.
  bool ReceiveBlock(void* buffer, std::uint16_t maxCount, std::uint16_t& received);
  // One send of count bytes once there is room; sent is exactly what the
  // socket took: 0 on error, which does not fail the connection, and 0 when
  // there was no room after all (a TLS record begun and not yet finished: the
  // caller offers the same bytes again).
  bool SendBlock(const void* buffer, std::uint16_t count, std::uint16_t& sent);
  // The last block send took nothing only because there was no room after
  // all (rather than an error, or no room within the time-out).
  bool NoRoomAfterAll() const { return wouldBlock_; }

  // Ends what we send, leaving the receiving side open: under TLS our
  // close_notify, then the end of the stream, which the peer reads once it
  // has every byte sent before. Waits for room within the time-out. False
  // when the end could not be sent (the connection is then Failed).
  bool ShutdownSending();
  // How the peer's side of the connection stands: still open, closed in
  // order (the end of the stream) or broken (reset, an error, or a stop).
  enum class PeerEnd { Open, Closed, Broken };
  // After ShutdownSending: waits up to the milliseconds for the peer to end
  // its side, reading past what it sends meanwhile (under TLS its
  // close_notify and late session tickets, never looked into). A peer that
  // closes with bytes of ours unread resets the connection instead, so an
  // orderly close tells that it read everything to our end. Broken also
  // fails the connection.
  PeerEnd AwaitPeerEnd(int milliseconds);

 protected:
  // Connects the fresh socket without blocking, giving up at the deadline;
  // closes it on failure, with the reason in FailureReason.
  bool ConnectTo(const HostAddress& address, std::chrono::steady_clock::time_point deadline);

  LogFile debugLog_;
  ConnectionState state_ = ConnectionState::Usable;
  UniqueSocket socket_;
  UniqueTlsSession tls_;  // set while TLS runs over the socket
  bool peerClosed_ = false;
  bool timedOut_ = false;
  // The last line ended with a CR that was the last byte received so far, so
  // an LF arriving next still belongs to that line end.
  bool lfMayFollow_ = false;
  bool bareLineFeedEnds_ = false;
  std::string failure_;

 private:
  bool wouldBlock_ = false;
  // The system's reason for the last receive or send that failed.
  std::error_code lastError_;
  bool sendWantsRead_ = false;  // the last send waits for the TLS session to read
  std::uint16_t timeout_ = DefaultTimeout;
  // Received lines the debug log still takes, and whether the line saying
  // that the rest is left out has been written.
  std::size_t linesToLog_ = std::numeric_limits<std::size_t>::max();
  bool leftOutNoted_ = false;

  using Clock = std::chrono::steady_clock;
  enum class Arrival { Data, Closed, TimedOut, Error, Stopped };

  Arrival AwaitData(Clock::time_point deadline);
  // Sleeps until the socket is readable (or writable), in slices that notice
  // a stop; false at the deadline, on a stop or an error.
  bool AwaitSocket(bool readable, Clock::time_point deadline) const;
  // Why connecting the fresh socket failed; empty once it is connected.
  std::string ConnectFailure(const HostAddress& address, Clock::time_point deadline) const;
  // Why the last receive or send failed.
  std::string BrokenReason() const;
  // Fails the connection for the way a wait for data ended.
  void FailOn(Arrival arrival, Clock::duration waited);
  bool Handshake(std::string& reason);
  // The socket calls, through the TLS session while one runs: the same
  // results as ReceiveSocket and SendSocket, with LastWouldBlock for
  // "not yet".
  int Receive(void* buffer, int length, int flags);
  int Send(const void* buffer, int length);
  int Pending() const;
  bool LastWouldBlock() const { return wouldBlock_; }
  // Sleeps until the last send can go on: until the socket has room, or,
  // when the TLS session needs to read first, until it has data; within the
  // time-out. False on time-out (nothing fails), on an error or a stop (the
  // connection is then Failed).
  bool AwaitRoom();
  void DropSocket();
  // Takes the bytes received on the socket so far and not read, unseen.
  void DiscardUnread();
  // Fails the connection when a stop is requested; true when it has failed.
  bool FailedOrStopping();
  // Once there is room, one send: the count taken, 0 when no room came (or
  // there was none after all), -1 on error.
  int SendOnce(const void* buffer, int count);
  // SendOnce, repeated within the time-out while it finds no room after
  // all: a TLS record that could be sent only in part is finished.
  int SendWhole(const void* buffer, int count);
  bool Discard(int count);
  void LogReceived(std::string_view line);
  void SkipLateLineFeed();
  void Fail(std::string_view reason);
};

// The FTP data channel: connected to an address the caller already has.
class DataConnection : public TcpConnection {
 public:
  // Connects (within DefaultTimeout) and is non-blocking afterwards; writes
  // no debug line.
  bool Open(const HostAddress& address);
};

// The run-log line of a connection to the server that could not be made,
// with the connection's reason when it has one.
std::string ConnectFailedLine(std::string_view server, const TcpConnection& connection);

}  // namespace quorbit
