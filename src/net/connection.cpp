#include "net/connection.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "util/stoprequest.h"

namespace quorbit {

namespace {

constexpr std::size_t kLogEntryMax = 254;  // longest "R " entry

// The four dot-separated decimal numbers, each kept to its low byte.
IpAddress ParseDottedAddress(std::string_view text) {
  IpAddress address = {};
  std::size_t part = 0;
  for (char c : text) {
    if (c == '.') {
      ++part;
    } else if (part < address.size()) {
      address[part] = static_cast<std::uint8_t>(address[part] * 10 + (c - '0'));
    }
  }
  return address;
}

std::string DottedText(const IpAddress& address) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

// The addresses to try for the host: a dotted address as its four decimal
// numbers, an IPv6 address as written, a name as the resolver finds it
// (named is then true). None, with the reason, when there is none;
// brackets hold an IPv6 address and nothing else.
ResolvedHost AddressesOf(std::string_view host, std::uint16_t port, bool& named) {
  named = false;
  if (IsDottedAddress(host)) return ResolveHost(DottedText(ParseDottedAddress(host)), port, true);
  const std::string_view bare = WithoutBrackets(host);
  if (bare.find(':') != std::string_view::npos) return ResolveHost(bare, port, true);
  if (bare.size() != host.size()) return ResolveHost(host, port, true);  // refused for them
  named = true;
  return ResolveHost(host, port, false);
}

// The reason of a wait that ran out, in whole seconds rounded up.
std::string NoAnswerWithin(std::chrono::steady_clock::duration waited) {
  const auto seconds = std::chrono::ceil<std::chrono::seconds>(waited).count();
  return "no answer within " + std::to_string(std::max<long long>(seconds, 0)) + " s";
}

constexpr std::string_view kStopped = "stopped";
constexpr std::string_view kNotConnected = "not connected";

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<long long>(left.count(), 0));
}

// Waits sleep in slices of this length at most, so that a request to stop
// is noticed within a fraction of a second even while a server stalls.
constexpr int kWaitSliceMs = 250;

int NextSliceUntil(std::chrono::steady_clock::time_point deadline) {
  return std::min(MillisecondsUntil(deadline), kWaitSliceMs);
}

// text + CR + LF, whole: a line cut here would go out without its end and
// run into the next one. A protocol with a line limit checks it before
// sending.
std::string LineToSend(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line += text;
  line += "\r\n";
  return line;
}

}  // namespace

void LogNotVerifying(std::string_view address) {
  RunLog::Write("Not verifying certificates for " + std::string(address));
}

std::string ConnectFailedLine(std::string_view server, const TcpConnection& connection) {
  std::string line = "Unable to establish connection with " + std::string(server);
  if (!connection.FailureReason().empty()) line += ": " + connection.FailureReason();
  return line;
}

void TcpConnection::Init() {
  state_ = ConnectionState::Usable;
  peerClosed_ = false;
  timedOut_ = false;
  lfMayFollow_ = false;
  sendWantsRead_ = false;
  failure_.clear();
  lastError_.clear();
  debugLog_.Init();
}

void TcpConnection::SetTimeout(std::uint16_t seconds) {
  timeout_ = seconds == 0 ? DefaultTimeout : seconds;
}

TcpConnection::Clock::time_point TcpConnection::TimeoutDeadline() const {
  return Clock::now() + std::chrono::seconds(timeout_);
}

void TcpConnection::LogAtMostLines(std::size_t count) {
  linesToLog_ = count;
  leftOutNoted_ = false;
}

void TcpConnection::LogReceived(std::string_view line) {
  if (linesToLog_ > 0) {
    --linesToLog_;
    debugLog_.WriteLine(("R " + std::string(line)).substr(0, kLogEntryMax));
  } else if (!leftOutNoted_) {
    leftOutNoted_ = true;
    debugLog_.WriteLine("E Further lines received are left out of this log");
  }
}

void TcpConnection::Done() {
  debugLog_.Done();
}

void TcpConnection::ResetState() {
  DropSocket();
  state_ = ConnectionState::Usable;
  peerClosed_ = false;
  timedOut_ = false;
  lfMayFollow_ = false;
  failure_.clear();
  lastError_.clear();
}

void TcpConnection::TakeOver(TcpConnection& other) {
  Close();
  socket_.Reset(other.socket_.Release());
  tls_ = std::move(other.tls_);
  state_ = other.state_;
  peerClosed_ = other.peerClosed_;
  timedOut_ = other.timedOut_;
  lfMayFollow_ = other.lfMayFollow_;
  failure_ = other.failure_;
  other.ResetState();
}

bool TcpConnection::PeerAddress(std::uint16_t port, HostAddress& address) const {
  if (socket_.Get() == kNoSocket || !SocketPeerAddress(socket_.Get(), address)) return false;
  SetAddressPort(address, port);
  return true;
}

void TcpConnection::OpenDebugLog(std::string_view fileName) {
  if (!fileName.empty()) debugLog_.Open(fileName, "TCP/IP debug log");
}

bool TcpConnection::Connect(std::string_view host, std::uint16_t port) {
  DropSocket();
  bool named = false;
  const ResolvedHost resolved = AddressesOf(host, port, named);
  if (resolved.addresses.empty()) {
    failure_ = resolved.failure;
    debugLog_.WriteLine("E Unable to locate host " + std::string(host) + ": " + failure_);
    return false;
  }
  return ConnectToFirst(resolved.addresses, named ? host : std::string_view());
}

bool TcpConnection::ConnectToFirst(const std::vector<HostAddress>& addresses,
                                   std::string_view name) {
  std::string entry("C ");
  if (!name.empty()) entry += std::string(name) + ", ";
  entry += "ip ";
  const auto deadline = Clock::now() + std::chrono::seconds(timeout_);
  bool tried = false;
  tls_.reset();
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    // A family the system cannot open (IPv6 switched off) is passed over.
    socket_.Reset(OpenSocket(addresses[i].family, kStreamType, 0));
    if (socket_.Get() == kNoSocket) {
      failure_ = LastSocketError().message();
      continue;
    }
    tried = true;
    debugLog_.WriteLine(entry + addresses[i].text);
    // Each address gets an equal share of the time left, so that one that
    // never answers leaves time for the others.
    const auto share = (deadline - Clock::now()) / static_cast<int>(addresses.size() - i);
    if (ConnectTo(addresses[i], Clock::now() + share)) return true;
  }
  if (addresses.empty()) failure_ = "no address to connect to";
  if (tried) debugLog_.WriteLine("E Unable to connect to host: " + failure_);
  return false;
}

bool TcpConnection::ConnectTo(const HostAddress& address, Clock::time_point deadline) {
  const std::string failure = ConnectFailure(address, deadline);
  if (failure.empty()) {
    if (!Failed()) failure_.clear();
    return true;
  }
  failure_ = failure;
  socket_.Reset();
  return false;
}

std::string TcpConnection::ConnectFailure(const HostAddress& address,
                                          Clock::time_point deadline) const {
  if (StopRequested()) return std::string(kStopped);
  const auto waited = deadline - Clock::now();
  // Connecting without blocking lets the wait for the peer's answer notice
  // a stop and end at the deadline.
  std::error_code error = SetNonBlocking(socket_.Get());
  if (!error) error = SetNoDelay(socket_.Get());
  if (!error) error = ConnectSocket(socket_.Get(), address);
  if (ConnectInProgress(error)) {
    if (!AwaitSocket(false, deadline)) {
      if (StopRequested()) return std::string(kStopped);
      if (Clock::now() >= deadline) return NoAnswerWithin(waited);
      return LastSocketError().message();
    }
    error = ConnectError(socket_.Get());
  }
  return error ? error.message() : std::string();
}

bool TcpConnection::AwaitSocket(bool readable, Clock::time_point deadline) const {
  for (;;) {
    if (StopRequested()) return false;
    const int slice = NextSliceUntil(deadline);
    int ready =
        readable ? WaitSocketReadable(socket_.Get(), slice) : WaitSocket(socket_.Get(), slice);
    if (ready != 0) return ready > 0;
    if (Clock::now() >= deadline) return false;
  }
}

bool TcpConnection::StartTls(std::string_view host, const TlsOptions& options,
                             std::string& failure) {
  std::string reason;
  tls_ = NewTlsSession(socket_.Get(), host, options, reason);
  if (tls_ && Handshake(reason)) {
    debugLog_.WriteLine("C " + TlsDescription(*tls_));
    return true;
  }
  bool refused = false;
  if (tls_ && reason.empty()) reason = TlsFailure(*tls_, refused);
  failure = (refused ? "Certificate of " : "TLS handshake with ") + std::string(host) +
            (refused ? " not trusted: " : " failed: ") + reason;
  debugLog_.WriteLine("E " + failure);
  DropSocket();
  return false;
}

// Steps through the handshake, sleeping while it waits for the peer; reason
// is set only for an end the session itself cannot tell.
bool TcpConnection::Handshake(std::string& reason) {
  const auto deadline = Clock::now() + std::chrono::seconds(timeout_);
  for (;;) {
    const TlsStep step = TlsHandshake(*tls_);
    if (step == TlsStep::Done) return true;
    if (step != TlsStep::WantRead && step != TlsStep::WantWrite) return false;
    if (!AwaitSocket(step == TlsStep::WantRead, deadline)) {
      reason = StopRequested() ? "stopped" : "no answer from the server";
      return false;
    }
  }
}

int TcpConnection::Receive(void* buffer, int length, int flags) {
  if (!tls_) {
    const int got = ReceiveSocket(socket_.Get(), buffer, length, flags);
    wouldBlock_ = got < 0 && SocketWouldBlock();
    if (got < 0 && !wouldBlock_) lastError_ = LastSocketError();
    return got;
  }
  int got = 0;
  const TlsStep step = TlsReceive(*tls_, buffer, length, flags == kReceivePeek, got);
  wouldBlock_ = step == TlsStep::WantRead || step == TlsStep::WantWrite;
  if (step == TlsStep::Done) return got;
  if (step != TlsStep::Closed) {
    // The session alone knows whether its socket or its records failed.
    if (!wouldBlock_) lastError_.clear();
    return -1;
  }
  // The peer's close_notify is answered at once: a peer may wait for the
  // answer before it goes on (an FTP server sends its 226 only then).
  TlsClose(*tls_);
  return 0;
}

int TcpConnection::Send(const void* buffer, int length) {
  sendWantsRead_ = false;
  if (!tls_) {
    const int sent = SendSocket(socket_.Get(), buffer, length, 0);
    wouldBlock_ = sent < 0 && SocketWouldBlock();
    if (sent < 0 && !wouldBlock_) lastError_ = LastSocketError();
    return sent;
  }
  int sent = 0;
  const TlsStep step = TlsSend(*tls_, buffer, length, sent);
  wouldBlock_ = step == TlsStep::WantRead || step == TlsStep::WantWrite;
  sendWantsRead_ = step == TlsStep::WantRead;
  if (step != TlsStep::Done && !wouldBlock_) lastError_.clear();
  return step == TlsStep::Done ? sent : -1;
}

int TcpConnection::Pending() const {
  return tls_ ? TlsPending(*tls_) : PendingBytes(socket_.Get());
}

void TcpConnection::Close() {
  if (tls_) {
    TlsClose(*tls_);
    DiscardUnread();
  }
  DropSocket();
}

void TcpConnection::DiscardUnread() {
  char scratch[16 * 1024];
  for (int left = PendingBytes(socket_.Get()); left > 0;) {
    const int got =
        ReceiveSocket(socket_.Get(), scratch, std::min<int>(left, sizeof scratch), kReceiveNoWait);
    if (got <= 0) return;
    left -= got;
  }
}

void TcpConnection::DropSocket() {
  sendWantsRead_ = false;
  tls_.reset();
  socket_.Reset();
}

TcpConnection::Arrival TcpConnection::AwaitData(Clock::time_point deadline) {
  // Bytes the TLS session has already taken from the socket show in no wait
  // on the socket.
  if (tls_ && TlsPending(*tls_) > 0) return Arrival::Data;
  for (;;) {
    if (StopRequested()) return Arrival::Stopped;
    int ready = WaitSocketReadable(socket_.Get(), NextSliceUntil(deadline));
    if (ready < 0) {
      lastError_ = LastSocketError();
      return Arrival::Error;
    }
    if (ready == 0) {
      if (Clock::now() >= deadline) return Arrival::TimedOut;
      continue;
    }
    // Readable with nothing to read means the peer closed or the socket has
    // an error; a peek of one byte tells which.
    char probe;
    int got = Receive(&probe, 1, kReceivePeek);
    if (got > 0) return Arrival::Data;
    if (got == 0) return Arrival::Closed;
    if (!LastWouldBlock()) return Arrival::Error;
    if (Clock::now() >= deadline) return Arrival::TimedOut;
  }
}

bool TcpConnection::WaitReadable(std::uint16_t seconds) {
  if (seconds == 0) seconds = timeout_;
  return WaitReadableUntil(Clock::now() + std::chrono::seconds(seconds));
}

bool TcpConnection::WaitReadableUntil(Clock::time_point deadline) {
  if (FailedOrStopping()) return false;
  if (Pending() > 0) return true;
  const auto waited = deadline - Clock::now();
  Arrival arrival = AwaitData(deadline);
  if (arrival == Arrival::Data) return true;
  peerClosed_ = arrival == Arrival::Closed;
  FailOn(arrival, waited);
  return false;
}

void TcpConnection::FailOn(Arrival arrival, Clock::duration waited) {
  timedOut_ = arrival == Arrival::TimedOut;
  switch (arrival) {
    case Arrival::Closed:
      Fail("closed by the peer");
      break;
    case Arrival::TimedOut:
      Fail(NoAnswerWithin(waited));
      break;
    case Arrival::Stopped:
      Fail(kStopped);
      break;
    default:
      Fail(BrokenReason());
      break;
  }
}

std::string TcpConnection::BrokenReason() const {
  if (socket_.Get() == kNoSocket) return std::string(kNotConnected);
  if (lastError_) return lastError_.message();
  return tls_ ? "the TLS session broke off" : "connection broken";
}

void TcpConnection::Fail(std::string_view reason) {
  if (!Failed() || failure_.empty()) failure_ = reason;
  state_ = ConnectionState::Failed;
}

bool TcpConnection::Discard(int count) {
  char scratch[kMaxLinePiece];
  while (count > 0) {
    int got = Receive(scratch, count, kReceiveNormal);
    if (got <= 0) return false;
    count -= got;
  }
  return true;
}

bool TcpConnection::ReadLine(std::string& line, std::size_t maxLength) {
  return ReadLineBefore(line, TimeoutDeadline(), maxLength);
}

bool TcpConnection::AwaitLine(std::string& line, Clock::time_point deadline,
                              std::size_t maxLength) {
  // Two rounds: the LF of the last line's CR LF, arriving alone, gives no
  // line the first time.
  const auto waited = deadline - Clock::now();
  for (int round = 0; round < 2; ++round) {
    if (FailedOrStopping()) return false;
    if (Pending() <= 0) {
      const Arrival arrival = AwaitData(deadline);
      if (arrival != Arrival::Data) {
        peerClosed_ = arrival == Arrival::Closed;
        FailOn(arrival, waited);
        return false;
      }
    }
    if (ReadLineBefore(line, deadline, maxLength)) return true;
  }
  return false;
}

bool TcpConnection::ReadLineBefore(std::string& line, Clock::time_point deadline,
                                   std::size_t maxLength) {
  // Nothing pending shows in the first peek: it finds no bytes and no line
  // has begun, so the call returns at once.
  if (Failed()) return false;

  const auto waited = deadline - Clock::now();
  maxLength = std::min(maxLength, kMaxLinePiece);
  std::string text;
  bool begun = false;  // bytes of this line (not just a leftover LF) were taken
  bool firstPiece = true;
  for (;;) {
    char piece[kMaxLinePiece];
    int got = Receive(piece, static_cast<int>(kMaxLinePiece - text.size()), kReceivePeek);
    if (got == 0) break;  // peer closed: what arrived is the line
    if (got < 0) {
      if (!LastWouldBlock()) {
        Fail(BrokenReason());
        return false;
      }
      // Nothing more yet. Without a begun line there is no line to wait for.
      if (!begun) return false;
      Arrival arrival = AwaitData(deadline);
      if (arrival == Arrival::Data) continue;
      if (arrival == Arrival::Closed) break;
      FailOn(arrival, waited);
      return false;
    }

    std::string_view data(piece, static_cast<std::size_t>(got));
    // The LF of a CR LF pair whose CR ended the previous line.
    const bool pairedLineFeed = firstPiece && data.front() == '\n';
    if (pairedLineFeed && bareLineFeedEnds_ && lfMayFollow_) {
      lfMayFollow_ = false;
      firstPiece = false;
      if (!Discard(1)) {
        Fail(BrokenReason());
        return false;
      }
      continue;
    }
    std::size_t end = data.find_first_of(bareLineFeedEnds_ ? "\r\n" : "\r");
    bool ended = end != std::string_view::npos;
    std::string_view kept = ended ? data.substr(0, end) : data;
    std::size_t consume = data.size();
    const bool endsWithCr = ended && data[end] == '\r';
    if (ended)
      consume = end + 1 + (endsWithCr && end + 1 < data.size() && data[end + 1] == '\n' ? 1 : 0);
    lfMayFollow_ = endsWithCr && end + 1 == data.size();
    if (pairedLineFeed && !bareLineFeedEnds_ && !kept.empty()) kept.remove_prefix(1);
    firstPiece = false;

    std::size_t room = maxLength > text.size() ? maxLength - text.size() : 0;
    text += kept.substr(0, room);
    begun = begun || ended || !kept.empty();
    if (!Discard(static_cast<int>(consume))) {
      Fail(BrokenReason());
      return false;
    }
    if (ended || text.size() >= kMaxLinePiece) break;
  }
  if (!begun) return false;

  LogReceived(text);
  line = std::move(text);
  return true;
}

bool TcpConnection::AwaitRoom() {
  // Without a socket there is nothing to wait for (poll would sleep out the
  // whole time on it).
  if (socket_.Get() == kNoSocket) {
    Fail(kNotConnected);
    return false;
  }
  const auto deadline = TimeoutDeadline();
  for (;;) {
    if (StopRequested()) {
      Fail(kStopped);
      return false;
    }
    const int slice = NextSliceUntil(deadline);
    const int ready = sendWantsRead_ ? WaitSocketReadable(socket_.Get(), slice)
                                     : WaitSocket(socket_.Get(), slice);
    if (ready < 0) Fail(LastSocketError().message());
    if (ready != 0 || Clock::now() >= deadline) return ready > 0;
  }
}

int TcpConnection::SendOnce(const void* buffer, int count) {
  if (!AwaitRoom()) {
    wouldBlock_ = false;
    return 0;
  }
  int sent = Send(buffer, count);
  if (sent < 0 && LastWouldBlock()) return 0;  // no room after all: nothing sent
  return sent;
}

int TcpConnection::SendWhole(const void* buffer, int count) {
  const auto deadline = TimeoutDeadline();
  for (;;) {
    const int sent = SendOnce(buffer, count);
    if (sent != 0 || !LastWouldBlock() || Failed() || Clock::now() >= deadline) return sent;
  }
}

bool TcpConnection::SendLine(std::string_view text) {
  return SendLine({.text = text, .logged = text});
}

bool TcpConnection::SendLine(const LoggedLine& line) {
  const std::string_view text = line.text;
  const std::string_view logText = line.logged;
  if (Failed()) return false;
  bool sent = SendText(LineToSend(text));
  debugLog_.WriteLine("S " + std::string(logText));
  return sent;
}

bool TcpConnection::SendLines(std::initializer_list<std::string_view> lines) {
  if (Failed()) return false;
  std::string text;
  for (std::string_view line : lines) {
    text += LineToSend(line);
    debugLog_.WriteLine("S " + std::string(line));
  }
  const int count = static_cast<int>(text.size());
  const int sent = SendWhole(text.data(), count);
  if (sent < 0) Fail(BrokenReason());
  return sent == count;
}

bool TcpConnection::SendText(std::string_view text) {
  if (Failed()) return false;
  const int count = static_cast<int>(text.size());
  int sent = SendWhole(text.data(), count);
  if (sent < 0) Fail(BrokenReason());
  return sent == count;
}

bool TcpConnection::SendByte(std::uint8_t value) {
  if (Failed()) return false;
  int sent = SendWhole(&value, 1);
  if (sent < 0) Fail(BrokenReason());
  return sent == 1;
}

void TcpConnection::SkipLateLineFeed() {
  char first;
  if (Receive(&first, 1, kReceivePeek) != 1) return;
  lfMayFollow_ = false;
  if (first == '\n') Discard(1);
}

bool TcpConnection::BytesWaiting() {
  if (Failed() || socket_.Get() == kNoSocket) return false;
  if (lfMayFollow_) SkipLateLineFeed();
  if (Pending() > 0) return true;
  // A TLS record not yet taken from the socket shows only to a peek.
  char probe;
  return Receive(&probe, 1, kReceivePeek) > 0;
}

bool TcpConnection::FailedOrStopping() {
  if (StopRequested()) Fail(kStopped);
  return Failed();
}

bool TcpConnection::ReceiveBlock(void* buffer, std::uint16_t maxCount, std::uint16_t& received) {
  if (FailedOrStopping()) return false;
  received = 0;
  if (lfMayFollow_) SkipLateLineFeed();
  // One receive that does not wait: it takes what is pending (up to
  // maxCount), and finds nothing (or the peer's close, 0) otherwise.
  int got = Receive(buffer, maxCount, kReceiveNoWait);
  if (got < 0) {
    if (!LastWouldBlock()) Fail(BrokenReason());
    return false;
  }
  if (got == 0) peerClosed_ = true;
  received = static_cast<std::uint16_t>(got);
  return received > 0;
}

bool TcpConnection::SendBlock(const void* buffer, std::uint16_t count, std::uint16_t& sent) {
  if (FailedOrStopping()) return false;
  int result = SendOnce(buffer, count);
  sent = static_cast<std::uint16_t>(result > 0 ? result : 0);
  return sent > 0;
}

bool TcpConnection::ShutdownSending() {
  if (FailedOrStopping() || socket_.Get() == kNoSocket) {
    Fail(kNotConnected);
    return false;
  }
  const auto deadline = TimeoutDeadline();
  for (TlsStep step = tls_ ? TlsClose(*tls_) : TlsStep::Done; step != TlsStep::Done;
       step = TlsClose(*tls_)) {
    sendWantsRead_ = false;
    if (step != TlsStep::WantWrite) {
      Fail("the TLS session could not be ended");
      return false;
    }
    if (!AwaitRoom() || Clock::now() >= deadline) {
      Fail("no room to send within " + std::to_string(timeout_) + " s");
      return false;
    }
  }
  if (const std::error_code error = ShutdownSocketSending(socket_.Get())) {
    Fail(error.message());
    return false;
  }
  return true;
}

// The socket is read directly, below any TLS session: after our close_notify
// nothing the peer sends is data, and only the stream's end matters.
TcpConnection::PeerEnd TcpConnection::AwaitPeerEnd(int milliseconds) {
  if (FailedOrStopping() || socket_.Get() == kNoSocket) {
    Fail(kNotConnected);
    return PeerEnd::Broken;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  char scratch[4096];
  for (;;) {
    const int got = ReceiveSocket(socket_.Get(), scratch, sizeof scratch, kReceiveNoWait);
    if (got == 0) {
      peerClosed_ = true;
      return PeerEnd::Closed;
    }
    if (got < 0 && !SocketWouldBlock()) {
      Fail(LastSocketError().message());
      return PeerEnd::Broken;
    }
    if (FailedOrStopping()) return PeerEnd::Broken;
    if (Clock::now() >= deadline) return PeerEnd::Open;
    if (got < 0 && WaitSocketReadable(socket_.Get(), NextSliceUntil(deadline)) < 0) {
      Fail(LastSocketError().message());
      return PeerEnd::Broken;
    }
  }
}

bool DataConnection::Open(const HostAddress& address) {
  tls_.reset();
  socket_.Reset(OpenSocket(address.family, kStreamType, 0));
  if (socket_.Get() == kNoSocket) {
    failure_ = LastSocketError().message();
    return false;
  }
  return ConnectTo(address, TimeoutDeadline());
}

}  // namespace quorbit
