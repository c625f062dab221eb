// The FTP client session. One FtpSession is one conversation with
// one server: the control connection, the passive data channel, the last
// reply line, the transfer type in force and the replies still owed to the
// commands sent, oldest first.
//
// A session never shows or logs anything itself: every event goes to one of
// the four virtual event operations, which a reporting session overrides.
// Calling order: construct (Create), Login; on success WorkingDir, then
// listings and transfers with ChangeDir between them, then Quit; Destroy in
// every case.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/ftpreplies.h"
#include "ftp/listing.h"
#include "net/connection.h"
#include "util/eventnames.h"

namespace quorbit {

// Events of FtpSession::StatusEvent. The numbers are those the reporting
// session decodes.
enum class FtpStatusEvent : std::uint8_t {
  Connecting = 0,  // text: the number of the try
  Connected = 1,
  ConnectFailed = 2,
  NoFilesFound = 4,  // nothing matched the mask
  ReadingListing = 5,
  UserRefused = 7,
  PasswordRefused = 8,
  LocalFileNotCreated = 10,
  ChangeDirFailed = 12,
  SendingUser = 13,
  SendingPassword = 14,
  LoggedIn = 15,
  PreparingDownload = 16,
  LoginFailed = 17,
  PreparingUpload = 20,
  Interrupted = 24,         // the control connection had failed
  OpeningDataChannel = 28,  // text: the number of the try
  DataChannelOpen = 29,
  NotLoggedIn = 30,       // the user name was answered with 530
  NoLocalDirectory = 31,  // text: the directory that is missing and cannot be created
  TlsRefused = 32,        // text: the server's reply to AUTH TLS, PBSZ or PROT
  TlsFailed = 33,         // text: why the handshake or the certificate failed
  DeleteFailed = 34,      // text: the source's name, ": " and why it is still there
  ReplyFailed = 35,       // text: which reply went beyond which bound
  ListingCut = 36,        // text: the bound the listing reached
  ListingFailed = 37,     // text: why no listing could be read
};

inline constexpr std::array<EventName<FtpStatusEvent>, 26> kFtpStatusEventNames = {{
    {FtpStatusEvent::Connecting, "Connecting"},
    {FtpStatusEvent::Connected, "Connected"},
    {FtpStatusEvent::ConnectFailed, "ConnectFailed"},
    {FtpStatusEvent::NoFilesFound, "NoFilesFound"},
    {FtpStatusEvent::ReadingListing, "ReadingListing"},
    {FtpStatusEvent::UserRefused, "UserRefused"},
    {FtpStatusEvent::PasswordRefused, "PasswordRefused"},
    {FtpStatusEvent::LocalFileNotCreated, "LocalFileNotCreated"},
    {FtpStatusEvent::ChangeDirFailed, "ChangeDirFailed"},
    {FtpStatusEvent::SendingUser, "SendingUser"},
    {FtpStatusEvent::SendingPassword, "SendingPassword"},
    {FtpStatusEvent::LoggedIn, "LoggedIn"},
    {FtpStatusEvent::PreparingDownload, "PreparingDownload"},
    {FtpStatusEvent::LoginFailed, "LoginFailed"},
    {FtpStatusEvent::PreparingUpload, "PreparingUpload"},
    {FtpStatusEvent::Interrupted, "Interrupted"},
    {FtpStatusEvent::OpeningDataChannel, "OpeningDataChannel"},
    {FtpStatusEvent::DataChannelOpen, "DataChannelOpen"},
    {FtpStatusEvent::NotLoggedIn, "NotLoggedIn"},
    {FtpStatusEvent::NoLocalDirectory, "NoLocalDirectory"},
    {FtpStatusEvent::TlsRefused, "TlsRefused"},
    {FtpStatusEvent::TlsFailed, "TlsFailed"},
    {FtpStatusEvent::DeleteFailed, "DeleteFailed"},
    {FtpStatusEvent::ReplyFailed, "ReplyFailed"},
    {FtpStatusEvent::ListingCut, "ListingCut"},
    {FtpStatusEvent::ListingFailed, "ListingFailed"},
}};
static_assert(NamesAreDistinct(kFtpStatusEventNames));

constexpr std::string_view FtpStatusEventName(FtpStatusEvent event) {
  return NameOf(kFtpStatusEventNames, event);
}

// Events of FtpSession::FileEvent.
enum class FtpFileEvent : std::uint8_t {
  Downloading = 3,
  DataChannelFailed = 6,  // every try to open it failed
  DownloadRefused = 9,    // RETR was not answered with 125, 150 or 226
  UploadRefused = 11,     // STOR or APPE was not answered with 125 or 150
  Unchanged = 18,         // skipped: same size on both sides
  Uploading = 19,
  Deleting = 21,  // the source, after the transfer
  Complete = 22,
  ZeroBytesSkipped = 23,
  DownloadFailed = 26,
  UploadFailed = 27,
  SourceKept = 35,  // DELETE: the server did not confirm the uploaded size
};

inline constexpr std::array<EventName<FtpFileEvent>, 12> kFtpFileEventNames = {{
    {FtpFileEvent::Downloading, "Downloading"},
    {FtpFileEvent::DataChannelFailed, "DataChannelFailed"},
    {FtpFileEvent::DownloadRefused, "DownloadRefused"},
    {FtpFileEvent::UploadRefused, "UploadRefused"},
    {FtpFileEvent::Unchanged, "Unchanged"},
    {FtpFileEvent::Uploading, "Uploading"},
    {FtpFileEvent::Deleting, "Deleting"},
    {FtpFileEvent::Complete, "Complete"},
    {FtpFileEvent::ZeroBytesSkipped, "ZeroBytesSkipped"},
    {FtpFileEvent::DownloadFailed, "DownloadFailed"},
    {FtpFileEvent::UploadFailed, "UploadFailed"},
    {FtpFileEvent::SourceKept, "SourceKept"},
}};
static_assert(NamesAreDistinct(kFtpFileEventNames));

constexpr std::string_view FtpFileEventName(FtpFileEvent event) {
  return NameOf(kFtpFileEventNames, event);
}

// Transfer types.
constexpr std::uint8_t kTypeAscii = 0;
constexpr std::uint8_t kTypeImage = 1;

// Seconds to wait for the first listing data when none was configured.
constexpr std::uint16_t kDefaultListDelay = 5;
// Longest sleep between two looks at the connections while a transfer is
// quiet: short enough that a reply is noticed promptly.
constexpr int kQuietWaitMilliseconds = 250;
// The longest command line sent: with its CR LF it fills one line of the
// control connection.
constexpr std::size_t kMaxCommandLength = kMaxLinePiece - 2;
// Tries of a data channel open.
constexpr int kDataChannelTries = 3;
// Bounds of one reply, all its lines together: a server that sends line
// after line, or each line slowly, cannot hold a command for longer than the
// session's time-out. A legitimate reply (a long greeting, FEAT, STAT) takes
// a few dozen lines.
constexpr std::size_t kMaxReplyLines = 500;
constexpr std::size_t kMaxReplyBytes = std::size_t{64} * 1024;
// Lines of one reply that reach the debug log.
constexpr std::size_t kLoggedReplyLines = 50;
// Seconds a whole listing may take, however steadily its data trickles in.
constexpr std::uint32_t kDefaultListingTimeLimit = 900;

// Where and as whom a session logs in, and how often it tries.
struct FtpLogin {
  std::string host;  // a name, a dotted address or an IPv6 address (bare or in brackets)
  std::string user;
  std::string password;
  std::uint16_t port = 21;
  std::uint16_t retryDelay = 0;  // seconds after a failed try; 0 means 3
  std::uint16_t tries = 0;       // 0 means 1
};

class FtpSession {
 public:
  // Create: the debug log name may be empty (no debug log).
  explicit FtpSession(std::string_view debugLogName = {});
  virtual ~FtpSession() = default;
  FtpSession(const FtpSession&) = delete;
  FtpSession& operator=(const FtpSession&) = delete;

  // Fresh control connection (with its debug log when the name is not
  // empty), ASCII type, empty last reply, no reply owed.
  void Create(std::string_view debugLogName);
  // Reports a failed control connection (Interrupted) and closes it.
  void Destroy();

  // Before Login: the session speaks explicit FTPS. Right after the greeting
  // it asks for TLS (AUTH TLS), checks the certificate as the options say
  // and asks for protected data channels (PBSZ 0, PROT P), so that the login
  // and every later command and data channel are encrypted. A refusal or a
  // TLS failure ends the login (TlsRefused or TlsFailed, no further tries):
  // nothing is ever sent in the clear instead.
  void UseTls(const TlsOptions& options);

  // Connects and logs in, up to tries times (0 means 1) with retryDelay
  // seconds (0 means 3) after each failed try; once in, reads the features.
  bool Login(const FtpLogin& login);
  // Sends the command line; a "PASS " line reaches the debug log masked.
  // Replies already waiting are taken first: one that answers no command
  // sent so far came before this one and cannot answer it either. A line
  // longer than kMaxCommandLength is not sent at all (false): cut, it would
  // name another file or directory; the wait for its reply then gives 0.
  bool SendCommand(std::string_view line);
  // Waits for the reply to command (its keyword as sent; empty: the oldest
  // reply still owed, such as the greeting or a transfer's final reply) and
  // returns its code, 0 when none came. Replies owed to earlier commands are
  // read past first. A preliminary reply (1xx) is read past too, except the
  // first one to a command that moves data (MovesData), which returns: the
  // data comes before the final reply. The last line of the reply stays in
  // LastReply.
  std::int32_t ReadReply(std::string_view command);
  // Takes the replies already waiting on the control connection (within the
  // bounds of one reply), without waiting for more.
  void DrainReplies();
  // The code of the next reply to a command sent (the oldest one still
  // owed), once it has come whole; -1 when it has not (yet). Never waits.
  std::int32_t WaitingReply();
  // Where a reply stands against its bounds; StartReply begins one.
  struct ReplyBound {
    std::chrono::steady_clock::time_point deadline;
    std::uint32_t seconds = 0;  // from the start to the deadline, for the reason
    std::size_t lines = 0;
    std::size_t bytes = 0;
  };
  ReplyBound StartReply();
  // Whether reading a reply waits for its lines (until the bound's deadline)
  // or takes only what has already come.
  enum class ReplyWait { UntilDeadline, ArrivedOnly };
  // The code of the next whole reply to a command sent, waited for until
  // the bound's deadline, or, without wait, only when it has already come;
  // -1 when there is none. A reply that goes beyond the bound, or a deadline
  // that passes, raises ReplyFailed with the reason and fails the control
  // connection: whatever the server sends next could not be told apart from
  // the rest of that reply.
  std::int32_t NextReply(ReplyBound& bound, ReplyWait wait = ReplyWait::UntilDeadline);
  // Sends "TYPE A" or "TYPE I" when the type differs from the one in force;
  // the type is remembered even when the server refuses it.
  bool SetType(std::uint8_t type);
  // CWD without a trailing "/" (except for "/" itself); an empty path
  // succeeds without a command.
  bool ChangeDir(std::string_view path);
  // The directory named in the 257 reply to PWD; empty when refused.
  std::string WorkingDir();
  // Asks which extensions the server offers (FEAT) and notes whether it
  // lists directories in MLSD form; a server that refuses FEAT has none. A
  // server that offers UTF8 is asked to use it for names (OPTS UTF8 ON); a
  // refusal changes nothing, since names travel as the server's bytes
  // either way.
  void ReadFeatures();
  // True once FEAT announced MLST: listings are then fetched with "MLSD".
  bool ListsWithMlsd() const { return listsWithMlsd_; }
  // True once FEAT announced UTF8.
  bool SpeaksUtf8() const { return speaksUtf8_; }
  void Quit();

  // Sets the type, asks for a passive port (EPSV over IPv6, PASV over IPv4)
  // and connects the data channel to the control connection's peer.
  bool OpenDataChannel(std::uint8_t type);
  // Under TLS, the handshake on the open data channel, resuming the control
  // channel's TLS session; the server starts its side once it has answered
  // the transfer command with its 1xx mark. Raises TlsFailed and closes the
  // channel when it fails. Without TLS there is nothing to do.
  bool SecureDataChannel();
  // Up to three image-type opens for a file transfer, with the events
  // OpeningDataChannel and DataChannelOpen, or DataChannelFailed for the file
  // when all fail.
  bool OpenDataChannelWithRetries(const FtpFileRecord& file);
  void CloseDataChannel();

  const std::string& LastReply() const { return lastReply_; }
  const std::string& Host() const { return host_; }
  std::uint8_t CurrentType() const { return currentType_; }
  // Seconds a listing waits for its first data; 0 means 5.
  void SetListDelay(std::uint16_t seconds);
  std::uint16_t ListDelay() const { return listDelay_; }
  // Seconds that take DefaultTimeout's place for this session (0 means
  // DefaultTimeout): every wait on its connections, a whole reply, and the
  // silence after which a listing or download ends.
  void SetTimeout(std::uint16_t seconds);
  std::uint16_t Timeout() const { return control_.Timeout(); }
  // Seconds a whole listing may take (0 means kDefaultListingTimeLimit).
  void SetListingTimeLimit(std::uint32_t seconds);
  std::uint32_t ListingTimeLimit() const { return listingTimeLimit_; }
  TcpConnection& Control() { return control_; }
  DataConnection& Data() { return data_; }

  // Events; the base session ignores them.
  virtual void StatusEvent(FtpStatusEvent event, std::string_view text);
  virtual void FileEvent(FtpFileEvent event, const FtpFileRecord& file);
  virtual void PercentEvent(std::int32_t percent);
  virtual void BytesEvent(std::int64_t count);

 private:
  enum class TryOutcome { LoggedIn, Failed, TlsFailed };
  // One connection and login try.
  TryOutcome LoginTry(const FtpLogin& login);
  // AUTH TLS, the handshake, PBSZ 0 and PROT P; raises the event that says
  // what failed.
  bool SecureControl();
  // Sends the command line; true when the reply (to the line's first word)
  // is the expected code, else TlsRefused with the reply.
  bool AcceptedForTls(std::string_view line, std::int32_t expected);
  using Answer = ExpectedReplies::Answer;
  // Forgets every owed reply and the reply being read, then owes the
  // greeting: a fresh connection.
  void StartConversation();
  Answer NextAnswer(ReplyBound& bound, ReplyWait wait);
  // The next line of a reply within the bound (or, without wait, only one
  // already arriving); false when there is none, or beyond the bound.
  bool NextReplyLine(ReplyBound& bound, std::string& line, ReplyWait wait);
  // Raises ReplyFailed: the reply (named by the command last sent) and what
  // it went beyond; the control connection is failed.
  void ReplyBeyondBound(std::string_view beyond);
  // Asks for a passive data port; false when the server names none.
  bool RequestPassivePort(bool extended, std::uint16_t& port);
  // Sends USER (and PASS when asked for) and returns the final code.
  std::int32_t SendCredentials(const FtpLogin& login);

  TcpConnection control_;
  DataConnection data_;
  std::string lastReply_;
  std::string host_;
  std::uint8_t currentType_ = kTypeAscii;
  ExpectedReplies expected_;
  // The lines of the reply being read or last read (up to kMaxReplyLines).
  std::vector<std::string> replyLines_;
  std::uint16_t listDelay_ = kDefaultListDelay;
  std::uint32_t listingTimeLimit_ = kDefaultListingTimeLimit;
  std::string lastCommand_;  // the keyword of the last command sent
  // The keyword of the last command, when it was too long to send: no reply
  // is owed to it, so a wait for one ends at once (rather than taking the
  // final reply owed to an earlier command of that keyword).
  std::string unsentCommand_;
  bool listsWithMlsd_ = false;
  bool speaksUtf8_ = false;
  bool useTls_ = false;
  TlsOptions tls_;
};

// The two connections a listing or download reads from, and which of them
// may still bring something: the data until the server closes it, then the
// control connection.
struct TransferChannels {
  FtpSession& session;
  bool dataOpen = true;
  bool controlOpen = true;

  // Up to maxCount bytes of data already received; never waits. Once the
  // data's end (or close_notify) has been read, or the data connection has
  // failed, our end is closed at once and nothing more is read from it: a
  // server may hold its final reply until the client has closed (a lingering
  // close), and a kernel holds the acknowledgement of the end until then.
  bool ReceiveData(void* buffer, std::uint16_t maxCount, std::uint16_t& received);
  // Sleeps until the connection being watched has something to read, or a
  // short while (kQuietWaitMilliseconds). A control connection that is
  // readable with nothing to read has been closed by the server (or broken):
  // nothing more can come from it. Once the data has ended it returns at
  // once, so that the caller looks for a reply that may have come already
  // instead of waiting for it on the control connection.
  void WaitQuietly();
  bool AnyOpen() const { return dataOpen || controlOpen; }

 private:
  void EndData();
};

}  // namespace quorbit
