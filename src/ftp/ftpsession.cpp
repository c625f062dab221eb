#include "ftp/ftpsession.h"

#include <algorithm>
#include <initializer_list>

#include "report/timer.h"
#include "util/stoprequest.h"

namespace {

// Passes of the reply wait, each up to DefaultTimeout.
constexpr int kReplyPasses = 121;
constexpr std::uint16_t kDefaultRetryDelay = 3;
constexpr std::string_view kPasswordCommand = "PASS ";
// What the debug log shows in place of a PASS command.
constexpr std::string_view kMaskedPassword = "PASS ****";
// Lines and waits a FEAT reply may take before it is given up.
constexpr int kMaxFeatureSteps = 256;

// A 4xx or 5xx reply refuses the command: no further reply to it follows.
bool IsNegativeReply(std::int32_t code) {
  return code >= 400 && code <= 599;
}

// Any line of a multi-line 211 reply but its last ("211 ...").
bool ContinuesFeatures(std::string_view line) {
  return !(line.starts_with("211") && (line.size() == 3 || line[3] == ' '));
}

// A feature line " MLST type*;size*;...": the server lists with MLSD.
bool AnnouncesMlst(std::string_view line) {
  const Str255 feature = UpperStr(line.substr(std::min(line.find_first_not_of(' '), line.size())));
  return feature == "MLST" || feature.View().starts_with("MLST ");
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  if (suffix.size() > text.size()) return false;
  return UpperStr(text.substr(text.size() - suffix.size())) == UpperStr(suffix).View();
}

}  // namespace

// --- Reply code table --------------------------------------------------------

int ReplyCodeTable::IndexOf(std::string_view command) const {
  for (std::size_t i = 0; i < count; ++i) {
    if (entries[i].command == command) return static_cast<int>(i);
  }
  return -1;
}

void ReplyCodeTable::AddCommand(std::string_view command) {
  if (IndexOf(command) >= 0 || count >= kMaxCommands) return;
  entries[count] = Entry{};
  entries[count].command = command;
  ++count;
}

void ReplyCodeTable::AddCode(std::string_view command, std::int32_t code) {
  const int index = IndexOf(command);
  if (index < 0) return;
  Entry& entry = entries[index];
  if (entry.codeCount >= kMaxCodes) return;
  for (std::size_t i = 0; i < entry.codeCount; ++i) {
    if (entry.codes[i] == code) return;
  }
  entry.codes[entry.codeCount++] = code;
}

int ReplyCodeTable::Lookup(std::string_view command, std::int32_t code) const {
  const int index = command.empty() ? -1 : IndexOf(command);
  if (index < 0) return 0;
  const Entry& entry = entries[index];
  for (std::size_t i = 0; i < entry.codeCount; ++i) {
    if (entry.codes[i] == code) return 1;
  }
  return -1;
}

ReplyCodeTable StandardReplyCodes() {
  struct Row {
    std::string_view command;
    std::initializer_list<std::int32_t> codes;
  };
  static const Row rows[] = {
      {"CWD", {250, 500, 501, 502, 421, 530, 550}},
      {"TYPE", {200, 500, 501, 504, 421, 530}},
      {"USER", {230, 530, 500, 501, 421, 331, 332}},
      {"PASS", {230, 202, 530, 500, 501, 503, 421, 332}},
      {"LIST", {150, 125}},
      {"MLSD", {150, 125}},
      {"FEAT", {211, 202}},
  };
  ReplyCodeTable table;
  for (const Row& row : rows) {
    table.AddCommand(row.command);
    for (std::int32_t code : row.codes) table.AddCode(row.command, code);
  }
  return table;
}

// --- Reply lines -------------------------------------------------------------

std::int32_t ReplyCode(std::string_view line) {
  std::string_view digits = line.substr(0, 3);
  if (digits.empty()) return -1;
  std::int32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

PassiveAddress ParsePassiveReply(std::string_view reply) {
  Str255 rest(reply);
  rest.Delete(1, rest.Pos('('));
  rest.Delete(rest.Pos(')'), rest.Length());

  std::uint8_t fields[6] = {};
  for (std::uint8_t& field : fields) {
    Str255 head;
    SplitFirst(rest, ',', head);
    field = static_cast<std::uint8_t>(LeadingNumber(head));
  }
  PassiveAddress result;
  result.address = {fields[0], fields[1], fields[2], fields[3]};
  result.port = static_cast<std::uint16_t>(fields[4] * 256 + fields[5]);
  return result;
}

// --- Session -----------------------------------------------------------------

FtpSession::FtpSession(std::string_view debugLogName) {
  Create(debugLogName);
}

void FtpSession::Create(std::string_view debugLogName) {
  control_.Init();
  // The passive data channel goes to the control peer's IPv4 address.
  control_.KeepToIpv4();
  currentType_ = kTypeAscii;
  control_.OpenDebugLog(debugLogName);
  lastReply_.Clear();
  replyTable_ = StandardReplyCodes();
  listsWithMlsd_ = false;
}

void FtpSession::Destroy() {
  if (control_.Failed()) StatusEvent(FtpStatusEvent::Interrupted, {});
  control_.Close();
  control_.Done();
}

void FtpSession::StatusEvent(FtpStatusEvent, const Str255&) {}
void FtpSession::FileEvent(FtpFileEvent, const FtpFileRecord&) {}
void FtpSession::PercentEvent(std::int32_t) {}
void FtpSession::BytesEvent(std::int64_t) {}

void FtpSession::SetListDelay(std::uint16_t seconds) {
  listDelay_ = seconds == 0 ? kDefaultListDelay : seconds;
}

bool FtpSession::SendCommand(std::string_view line) {
  if (line.starts_with(kPasswordCommand)) return control_.SendLine(line, kMaskedPassword);
  return control_.SendLine(line);
}

// Reads past replies that do not answer command until one does. A command
// missing from the table takes the first reply; a refusal (4xx, 5xx) always
// ends the wait, since no other reply to the command will follow it.
std::int32_t FtpSession::ReadReply(std::string_view command) {
  std::int32_t result = 0;
  int state = -1;
  for (int pass = 0; pass < kReplyPasses && state == -1; ++pass) {
    if (!control_.WaitReadable(0)) continue;
    Str255 line;
    while (state != 1 && control_.ReadLine(line)) {
      lastReply_ = line;
      result = ReplyCode(line);
      state = replyTable_.Lookup(command, result);
      if (state == -1 && IsNegativeReply(result)) state = 1;
    }
  }
  return result;
}

void FtpSession::DrainReplies() {
  Str255 line;
  while (control_.ReadLine(line)) {
  }
}

std::int32_t FtpSession::SendCredentials(std::string_view user, std::string_view password) {
  StatusEvent(FtpStatusEvent::SendingUser, {});
  SendCommand(Cat("USER ", user));
  std::int32_t code = ReadReply("USER");
  if (code != 331 && code != 230) {
    StatusEvent(code == 530 ? FtpStatusEvent::NotLoggedIn : FtpStatusEvent::UserRefused, {});
  }
  if (code == 331) {
    StatusEvent(FtpStatusEvent::SendingPassword, {});
    SendCommand(Cat(kPasswordCommand, password));
    code = ReadReply("PASS");
    if (code != 230) StatusEvent(FtpStatusEvent::PasswordRefused, {});
  }
  return code;
}

bool FtpSession::LoginTry(std::string_view user, std::uint16_t port, std::string_view password) {
  control_.ResetState();
  if (!control_.Connect(host_, port) || ReadReply("") != 220) {
    StatusEvent(FtpStatusEvent::ConnectFailed, {});
    return false;
  }
  StatusEvent(FtpStatusEvent::Connected, {});
  bool loggedIn = SendCredentials(user, password) == 230;
  StatusEvent(loggedIn ? FtpStatusEvent::LoggedIn : FtpStatusEvent::LoginFailed, {});
  DrainReplies();
  if (loggedIn) ReadFeatures();
  return loggedIn;
}

bool FtpSession::Login(std::string_view host, std::string_view user, std::uint16_t port,
                       std::uint16_t retryDelay, std::uint16_t tries, std::string_view password) {
  if (tries == 0) tries = 1;
  if (retryDelay == 0) retryDelay = kDefaultRetryDelay;
  host_ = host;
  for (std::uint16_t attempt = 1; attempt <= tries && !StopRequested(); ++attempt) {
    StatusEvent(FtpStatusEvent::Connecting, IntToText(attempt));
    if (LoginTry(user, port, password)) return true;
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
  DrainReplies();
  if (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path.empty()) return true;
  SendCommand(Cat("CWD ", path));
  if (ReadReply("CWD") == 250) return true;
  return EndsWithIgnoringCase(WorkingDir(), path);
}

Str255 FtpSession::WorkingDir() {
  DrainReplies();
  SendCommand("PWD");
  if (ReadReply("PWD") != 257) return {};
  Str255 directory = lastReply_;
  directory.Delete(1, directory.Pos('"'));
  directory.Delete(directory.Pos('"'), directory.Length());
  return directory;
}

// The features come one a line between "211-" and the line "211 ".
void FtpSession::ReadFeatures() {
  listsWithMlsd_ = false;
  SendCommand("FEAT");
  if (ReadReply("FEAT") != 211) return;
  bool continued = ContinuesFeatures(lastReply_);
  for (int step = 0; continued && step < kMaxFeatureSteps; ++step) {
    Str255 line;
    if (!control_.ReadLine(line)) {
      if (!control_.WaitReadable(0)) return;
      continue;
    }
    if (AnnouncesMlst(line)) listsWithMlsd_ = true;
    continued = ContinuesFeatures(line);
  }
}

void FtpSession::Quit() {
  SendCommand("QUIT");
}

// --- Data channel ------------------------------------------------------------

// The data connection goes to the server the control connection talks to, on
// the port the 227 reply names; the address in the reply is not trusted, so
// a server cannot send the client's connection to a third host.
bool FtpSession::OpenDataChannel(std::uint8_t type) {
  if (!SetType(type)) return false;
  SendCommand("PASV");
  if (ReadReply("PASV") != 227) return false;
  const PassiveAddress passive = ParsePassiveReply(lastReply_);
  IpAddress server;
  if (!control_.PeerAddress(server)) return false;
  data_.Init();
  return data_.Open(MakeSocketAddress(server, passive.port));
}

bool FtpSession::OpenDataChannelWithRetries(const FtpFileRecord& file) {
  for (int attempt = 1; attempt <= kDataChannelTries; ++attempt) {
    StatusEvent(FtpStatusEvent::OpeningDataChannel, IntToText(attempt));
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
