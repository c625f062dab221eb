#include "ftp/ftpsession.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "util/shorttext.h"
#include "util/stoprequest.h"
#include "util/timer.h"

namespace quorbit {

namespace {

constexpr std::uint16_t kDefaultRetryDelay = 3;
constexpr std::string_view kPasswordCommand = "PASS ";
// What the debug log shows in place of a PASS command.
constexpr std::string_view kMaskedPassword = "PASS ****";

// A feature line of a FEAT reply, " NAME" or " NAME parameters", names the
// feature, in any letter case.
bool AnnouncesFeature(std::string_view line, std::string_view name) {
  const std::string_view text = line.substr(std::min(line.find_first_not_of(' '), line.size()));
  return EqualIgnoringCase(text.substr(0, name.size()), name) &&
         (text.size() == name.size() || text[name.size()] == ' ');
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  return suffix.size() <= text.size() &&
         EqualIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace

// --- Session -----------------------------------------------------------------

FtpSession::FtpSession(std::string_view debugLogName) {
  Create(debugLogName);
}

void FtpSession::Create(std::string_view debugLogName) {
  control_.Init();
  lastCommand_.clear();
  unsentCommand_.clear();
  currentType_ = kTypeAscii;
  control_.OpenDebugLog(debugLogName);
  control_.AcceptBareLineFeed(true);
  lastReply_.clear();
  StartConversation();
  listsWithMlsd_ = false;
  speaksUtf8_ = false;
}

void FtpSession::Destroy() {
  if (control_.Failed()) StatusEvent(FtpStatusEvent::Interrupted, {});
  control_.Close();
  control_.Done();
}

void FtpSession::StatusEvent(FtpStatusEvent, std::string_view) {}
void FtpSession::FileEvent(FtpFileEvent, const FtpFileRecord&) {}
void FtpSession::PercentEvent(std::int32_t) {}
void FtpSession::BytesEvent(std::int64_t) {}

void FtpSession::SetListDelay(std::uint16_t seconds) {
  listDelay_ = seconds == 0 ? kDefaultListDelay : seconds;
}

void FtpSession::SetTimeout(std::uint16_t seconds) {
  control_.SetTimeout(seconds);
  data_.SetTimeout(seconds);
}

void FtpSession::SetListingTimeLimit(std::uint32_t seconds) {
  listingTimeLimit_ = seconds == 0 ? kDefaultListingTimeLimit : seconds;
}

void FtpSession::StartConversation() {
  expected_.StartConversation();
  replyLines_.clear();
}

bool FtpSession::SendCommand(std::string_view line) {
  DrainReplies();
  lastCommand_ = line.substr(0, line.find(' '));
  unsentCommand_.clear();
  if (line.size() > kMaxCommandLength) {
    unsentCommand_ = lastCommand_;
    return false;
  }
  expected_.Owe(lastCommand_);
  if (line.starts_with(kPasswordCommand))
    return control_.SendLine({.text = line, .logged = kMaskedPassword});
  return control_.SendLine(line);
}

std::int32_t FtpSession::ReadReply(std::string_view command) {
  if (!unsentCommand_.empty() && command == unsentCommand_) return 0;
  const std::uint64_t serial = expected_.SerialFor(command);
  if (serial == 0) return 0;
  ReplyBound bound = StartReply();
  for (;;) {
    const Answer answer = NextAnswer(bound, ReplyWait::UntilDeadline);
    if (answer.code < 0) return 0;
    if (answer.to.serial == serial && EndsCommandWait(answer)) return answer.code;
  }
}

std::int32_t FtpSession::NextReply(ReplyBound& bound, ReplyWait wait) {
  return NextAnswer(bound, wait).code;
}

std::int32_t FtpSession::WaitingReply() {
  ReplyBound bound = StartReply();
  return NextReply(bound, ReplyWait::ArrivedOnly);
}

FtpSession::Answer FtpSession::NextAnswer(ReplyBound& bound, ReplyWait wait) {
  std::string line;
  // With nothing owed, a line out of turn is taken when it has come, never
  // waited for.
  const auto lineWait = [&] { return expected_.AnyOwed() ? wait : ReplyWait::ArrivedOnly; };
  while (NextReplyLine(bound, line, lineWait())) {
    if (!expected_.InReply()) replyLines_.clear();
    ExpectedReplies::Taken taken = expected_.Take(line);
    if (taken.step == ReplyAssembler::Step::PassedOver) continue;
    if (replyLines_.size() < kMaxReplyLines) replyLines_.push_back(line);
    if (taken.answer.code < 0) continue;
    lastReply_ = line;
    return std::move(taken.answer);
  }
  return {};
}

FtpSession::ReplyBound FtpSession::StartReply() {
  control_.LogAtMostLines(kLoggedReplyLines);
  return ReplyBound{control_.TimeoutDeadline(), Timeout()};
}

bool FtpSession::NextReplyLine(ReplyBound& bound, std::string& line, ReplyWait wait) {
  if (control_.Failed()) return false;
  const bool got = wait == ReplyWait::UntilDeadline ? control_.AwaitLine(line, bound.deadline)
                                                    : control_.ReadLineBefore(line, bound.deadline);
  if (!got) {
    if (control_.Failed() && control_.TimedOut()) {
      ReplyBeyondBound("not complete within " + std::to_string(bound.seconds) + " s");
    }
    return false;
  }
  ++bound.lines;
  bound.bytes += line.size();
  if (bound.lines > kMaxReplyLines) {
    ReplyBeyondBound("longer than " + std::to_string(kMaxReplyLines) + " lines");
    return false;
  }
  if (bound.bytes > kMaxReplyBytes) {
    ReplyBeyondBound("longer than " + std::to_string(kMaxReplyBytes) + " bytes");
    return false;
  }
  return true;
}

// The reply is named by the command it answers: the oldest one owed.
void FtpSession::ReplyBeyondBound(std::string_view beyond) {
  control_.MarkFailed();
  const std::string_view command =
      expected_.AnyOwed() ? expected_.OldestCommand() : std::string_view(lastCommand_);
  const std::string reply = command.empty() ? "Greeting" : "Reply to " + std::string(command);
  StatusEvent(FtpStatusEvent::ReplyFailed, reply + " " + std::string(beyond));
}

void FtpSession::DrainReplies() {
  ReplyBound bound = StartReply();
  while (NextAnswer(bound, ReplyWait::ArrivedOnly).code >= 0) {
  }
}

std::int32_t FtpSession::SendCredentials(const FtpLogin& login) {
  StatusEvent(FtpStatusEvent::SendingUser, {});
  SendCommand("USER " + login.user);
  std::int32_t code = ReadReply("USER");
  if (code != 331 && code != 230) {
    StatusEvent(code == 530 ? FtpStatusEvent::NotLoggedIn : FtpStatusEvent::UserRefused, {});
  }
  if (code == 331) {
    StatusEvent(FtpStatusEvent::SendingPassword, {});
    SendCommand(std::string(kPasswordCommand) + login.password);
    code = ReadReply("PASS");
    if (code != 230) StatusEvent(FtpStatusEvent::PasswordRefused, {});
  }
  return code;
}

void FtpSession::UseTls(const TlsOptions& options) {
  useTls_ = true;
  tls_ = options;
}

bool FtpSession::AcceptedForTls(std::string_view line, std::int32_t expected) {
  SendCommand(line);
  if (ReadReply(line.substr(0, line.find(' '))) == expected) return true;
  StatusEvent(FtpStatusEvent::TlsRefused, lastReply_);
  return false;
}

bool FtpSession::SecureControl() {
  if (!AcceptedForTls("AUTH TLS", 234)) return false;
  std::string failure;
  if (!control_.StartTls(host_, tls_, failure)) {
    StatusEvent(FtpStatusEvent::TlsFailed, failure);
    return false;
  }
  // No buffer size for TLS records; then every data channel is private.
  return AcceptedForTls("PBSZ 0", 200) && AcceptedForTls("PROT P", 200);
}

FtpSession::TryOutcome FtpSession::LoginTry(const FtpLogin& login) {
  control_.ResetState();
  lastCommand_.clear();
  unsentCommand_.clear();
  StartConversation();
  // A greeting that ran beyond its bounds has failed the connection.
  if (!control_.Connect(host_, login.port) || ReadReply("") != 220 || control_.Failed()) {
    StatusEvent(FtpStatusEvent::ConnectFailed, {});
    return TryOutcome::Failed;
  }
  StatusEvent(FtpStatusEvent::Connected, {});
  if (useTls_ && !SecureControl()) {
    // The server cannot be talked to safely: closed before anything else
    // is sent, and not tried again.
    control_.Close();
    return TryOutcome::TlsFailed;
  }
  bool loggedIn = SendCredentials(login) == 230;
  StatusEvent(loggedIn ? FtpStatusEvent::LoggedIn : FtpStatusEvent::LoginFailed, {});
  if (loggedIn) ReadFeatures();
  return loggedIn ? TryOutcome::LoggedIn : TryOutcome::Failed;
}

bool FtpSession::Login(const FtpLogin& login) {
  const std::uint16_t tries = login.tries == 0 ? 1 : login.tries;
  const std::uint16_t retryDelay = login.retryDelay == 0 ? kDefaultRetryDelay : login.retryDelay;
  host_ = login.host;
  for (std::uint16_t attempt = 1; attempt <= tries && !StopRequested(); ++attempt) {
    StatusEvent(FtpStatusEvent::Connecting, std::to_string(attempt));
    const TryOutcome outcome = LoginTry(login);
    if (outcome == TryOutcome::LoggedIn) return true;
    if (outcome == TryOutcome::TlsFailed) return false;
    SocketStartup();
    // A stop ends the tries at once, without the delay.
    if (!StopRequested()) WaitSeconds(retryDelay);
  }
  return false;
}

bool FtpSession::SetType(std::uint8_t type) {
  if (type == currentType_) return true;
  SendCommand(type == kTypeAscii ? "TYPE A" : "TYPE I");
  std::int32_t code = ReadReply("TYPE");
  currentType_ = type;
  return code == 200;
}

// A refused CWD still succeeds when the server already is in a directory of
// that name (the working directory ends with the path, in any letter case).
bool FtpSession::ChangeDir(std::string_view path) {
  if (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path.empty()) return true;
  SendCommand("CWD " + std::string(path));
  if (ReadReply("CWD") == 250) return true;
  return EndsWithIgnoringCase(WorkingDir(), path);
}

std::string FtpSession::WorkingDir() {
  SendCommand("PWD");
  if (ReadReply("PWD") != 257) return {};
  return QuotedDirectory(lastReply_);
}

// The features come one a line between "211-" and the line "211 ".
void FtpSession::ReadFeatures() {
  listsWithMlsd_ = false;
  speaksUtf8_ = false;
  SendCommand("FEAT");
  if (ReadReply("FEAT") != 211) return;
  // Between the first line and the last, which carry the code.
  for (std::size_t i = 1; i + 1 < replyLines_.size(); ++i) {
    const std::string& line = replyLines_[i];
    listsWithMlsd_ = listsWithMlsd_ || AnnouncesFeature(line, "MLST");
    speaksUtf8_ = speaksUtf8_ || AnnouncesFeature(line, "UTF8");
  }
  if (speaksUtf8_) {
    SendCommand("OPTS UTF8 ON");
    ReadReply("OPTS");
  }
}

void FtpSession::Quit() {
  SendCommand("QUIT");
}

// --- Data channel ------------------------------------------------------------

bool FtpSession::RequestPassivePort(bool extended, std::uint16_t& port) {
  if (extended) {
    SendCommand("EPSV");
    return ReadReply("EPSV") == 229 && ParseExtendedPassiveReply(lastReply_, port);
  }
  SendCommand("PASV");
  if (ReadReply("PASV") != 227) return false;
  port = ParsePassiveReply(lastReply_).port;
  return true;
}

// The data connection goes to the server the control connection talks to, on
// the port the reply names; the address in a 227 reply is not trusted, so a
// server cannot send the client's connection to a third host. PASV can name
// IPv4 addresses only, so an IPv6 control connection asks with EPSV, whose
// reply names just the port.
bool FtpSession::OpenDataChannel(std::uint8_t type) {
  if (!SetType(type)) return false;
  HostAddress server;
  std::uint16_t port = 0;
  if (!control_.PeerAddress(0, server) ||
      !RequestPassivePort(server.family != kInternetFamily, port)) {
    return false;
  }
  SetAddressPort(server, port);
  data_.Init();
  return data_.Open(server);
}

bool FtpSession::SecureDataChannel() {
  if (!useTls_) return true;
  TlsOptions options = tls_;
  options.resumeFrom = control_.Tls();
  std::string failure;
  if (data_.StartTls(host_, options, failure)) return true;
  StatusEvent(FtpStatusEvent::TlsFailed, failure);
  CloseDataChannel();
  return false;
}

bool FtpSession::OpenDataChannelWithRetries(const FtpFileRecord& file) {
  for (int attempt = 1; attempt <= kDataChannelTries; ++attempt) {
    StatusEvent(FtpStatusEvent::OpeningDataChannel, std::to_string(attempt));
    if (OpenDataChannel(kTypeImage)) {
      StatusEvent(FtpStatusEvent::DataChannelOpen, {});
      return true;
    }
  }
  FileEvent(FtpFileEvent::DataChannelFailed, file);
  return false;
}

void FtpSession::CloseDataChannel() {
  data_.Close();
  data_.Done();
}

bool TransferChannels::ReceiveData(void* buffer, std::uint16_t maxCount, std::uint16_t& received) {
  received = 0;
  if (!dataOpen) return false;
  DataConnection& data = session.Data();
  if (data.ReceiveBlock(buffer, maxCount, received)) return true;
  if (data.PeerClosed() || data.Failed()) EndData();
  return false;
}

void TransferChannels::EndData() {
  dataOpen = false;
  session.CloseDataChannel();
}

void TransferChannels::WaitQuietly() {
  if (dataOpen && (session.Data().PeerClosed() || session.Data().Failed())) {
    EndData();
    return;
  }
  // What wakes the data connection is read by the next ReceiveData: data,
  // or the end that closes it.
  if (dataOpen) {
    WaitSocketReadable(session.Data().Handle(), kQuietWaitMilliseconds);
    return;
  }
  if (!controlOpen) return;
  const SocketHandle socket = session.Control().Handle();
  const int ready = WaitSocketReadable(socket, kQuietWaitMilliseconds);
  controlOpen = ready == 0 || (ready > 0 && PendingBytes(socket) > 0);
}

}  // namespace quorbit
