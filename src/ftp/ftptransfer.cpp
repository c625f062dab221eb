#include "ftp/ftptransfer.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ftp/listingfetch.h"
#include "net/sockets.h"
#include "report/runlog.h"
#include "util/directorytrees.h"
#include "util/fileattributes.h"
#include "util/localpaths.h"
#include "util/localsearch.h"
#include "util/partfiles.h"
#include "util/runfiles.h"
#include "util/stoprequest.h"
#include "util/textfiles.h"
#include "util/timer.h"

namespace quorbit {

namespace {

// Bytes moved per block, in both directions (ReceiveBlock and SendBlock
// count in 16 bits). Large, so that a big file costs few system calls; a
// multiple of the page size, so that the file is read and written in whole
// pages.
constexpr std::uint16_t kTransferBlock = 60 * 1024;
// Quiet looks at the data connection of a confirmed download that has
// brought every listed byte, before it counts as ended although the server
// keeps it open (servers close it at the end of the file; this bounds the
// wait for one that does not).
constexpr int kQuietLooksBeforeDataEnd = 4;
// How long the end of an upload's data connection may follow the server's
// final reply.
constexpr auto kDataEndAfterReply = std::chrono::seconds(1);

using Clock = std::chrono::steady_clock;

using Block = std::vector<char>;

// The longest local path a transfer uses: the local file layer keeps names
// of at most this length.
constexpr std::size_t kMaxLocalPath = 255;

// Replies that end a transfer early, and the ones that confirm it.
bool IsAbortReply(std::int32_t code) {
  return code == 425 || code == 426 || code == 451;
}
bool ConfirmsTransfer(std::int32_t code) {
  return code == 226 || code == 250;
}

// The code of a whole reply already waiting on the control connection; -1
// when none is there. Never waits.
std::int32_t WaitingReplyCode(FtpSession& session) {
  return session.WaitingReply();
}

bool HasLineBreak(std::string_view name) {
  return name.find_first_of("\r\n") != std::string_view::npos;
}

bool ConnectionFailed(FtpSession& session) {
  return session.Data().Failed() || session.Control().Failed();
}

// True, with the line that says so, when the local file is one of the run's
// own, which nothing may replace or delete.
bool IsRunFile(std::string_view localPath) {
  const std::string line = NotOverwritingLine(localPath);
  if (!line.empty()) RunLog::ShowAndWriteFailure(line);
  return !line.empty();
}

// local directory + name, unless that is longer than kMaxLocalPath: the
// local file layer would keep a cut path, which names another file.
bool JoinLocalPath(std::string_view directory, std::string_view name, std::string& path) {
  if (directory.size() + name.size() > kMaxLocalPath) return false;
  path = std::string(directory) + std::string(name);
  return true;
}

// "<name>: <reason>", the text of a DeleteFailed event.
std::string DeleteFailureText(std::string_view name, std::string_view reason) {
  return std::string(name) + ": " + std::string(reason);
}

// The directory part of a local pattern including its separator, and the mask
// after it; without a separator the directory is empty.
struct DirectoryAndMask {
  std::string_view directory;
  std::string_view mask;
};
DirectoryAndMask SplitLocalPattern(std::string_view pattern) {
  const std::size_t sep = pattern.rfind(kPathSep);
  if (sep == std::string_view::npos) return {{}, pattern};
  return {pattern.substr(0, sep + 1), pattern.substr(sep + 1)};
}

// Closes the data channel when a transfer step ends, on every path.
class DataChannelGuard {
 public:
  explicit DataChannelGuard(FtpSession& session) : session_(session) {}
  ~DataChannelGuard() { session_.CloseDataChannel(); }
  DataChannelGuard(const DataChannelGuard&) = delete;
  DataChannelGuard& operator=(const DataChannelGuard&) = delete;

 private:
  FtpSession& session_;
};

// --- Download ------------------------------------------------------------------

struct ReceiveOutcome {
  std::int64_t received = 0;
  bool confirmed = false;  // 226 or 250 arrived
  bool dataEnded = false;  // the data connection ended after the confirmation
  bool abandoned = false;  // a write error, or a stop request
};

// Complete means: confirmed by the server, and the data connection ended
// with exactly the listed size. Fewer bytes are a broken transfer; more mean
// the listing did not describe this file (it grew, or its size was misread),
// so the copy cannot be trusted either. A file of unknown size (a link that
// SIZE did not measure) is what the server sent before it closed the data
// connection.
bool IsComplete(const ReceiveOutcome& outcome, const FtpFileRecord& file) {
  return outcome.confirmed && outcome.dataEnded && !outcome.abandoned &&
         (outcome.received == file.size || file.size == kUnknownSize);
}

void ReportReceived(FtpSession& session, const FtpFileRecord& file, std::int64_t received) {
  if (file.size > 0) {
    session.PercentEvent(ProgressPercent(received, file.size));
  } else {
    session.BytesEvent(received);
  }
}

// Receives the file into part until the server has confirmed it and the data
// connection has ended, an abort reply arrives, more than the listed size
// arrives, a connection fails or both close, no data comes for the idle
// limit, or a stop is requested. A confirmation may come before the data has
// all been read, so the data is read on to its end.
ReceiveOutcome ReceiveFile(FtpSession& session, const FtpFileRecord& file, PartFile& part,
                           bool complete) {
  ReceiveOutcome outcome;
  outcome.confirmed = complete;
  TransferChannels channels{session};
  Stopwatch idle;
  Block block(kTransferBlock);
  int quietLooksWithAllData = 0;
  for (;;) {
    // Data that keeps coming never waits, so a stop is looked for here.
    if (StopRequested()) {
      outcome.abandoned = true;
      return outcome;
    }
    std::uint16_t count = 0;
    if (channels.ReceiveData(block.data(), kTransferBlock, count)) {
      idle.Start();
      if (!part.Write(block.data(), count)) {
        outcome.abandoned = true;
        return outcome;
      }
      outcome.received += count;
      ReportReceived(session, file, outcome.received);
      if (file.size != kUnknownSize && outcome.received > file.size) return outcome;
      continue;
    }
    const std::int32_t code = WaitingReplyCode(session);
    if (ConfirmsTransfer(code)) outcome.confirmed = true;
    if (code == 551 || IsAbortReply(code)) return outcome;
    const bool allListed = outcome.received == file.size;
    outcome.dataEnded =
        !channels.dataOpen || (allListed && quietLooksWithAllData >= kQuietLooksBeforeDataEnd);
    if ((outcome.confirmed && outcome.dataEnded) || ConnectionFailed(session) ||
        idle.Elapsed() > session.Timeout() || !channels.AnyOpen()) {
      return outcome;
    }
    if (code == -1) {
      channels.WaitQuietly();
      if (outcome.confirmed && allListed) ++quietLooksWithAllData;
    }
  }
}

// One matching remote file: RETR into a temporary file, confirmed, then put
// in place. False when the file failed (the caller reports it).
bool FetchFile(FtpSession& session, FtpFileRecord& file, std::string_view localDirectory,
               bool deleteAfter) {
  std::string target;
  if (!IsSafeLocalName(file.name) || !JoinLocalPath(localDirectory, file.name, target)) {
    return false;
  }
  session.DrainReplies();
  if (!session.OpenDataChannelWithRetries(file)) return false;
  DataChannelGuard channel(session);

  session.SendCommand("RETR " + file.name);
  const std::int32_t code = session.ReadReply("RETR");
  if (code != 125 && code != 150 && code != 226) {
    session.FileEvent(FtpFileEvent::DownloadRefused, file);
    return false;
  }
  // A transfer given up leaves its final reply owed: the session takes it
  // before the reply to the next command.
  if (!session.SecureDataChannel()) return false;

  file.direction = 1;
  session.FileEvent(FtpFileEvent::Downloading, file);
  PartFile part(target);
  if (!part.Create()) {
    session.StatusEvent(FtpStatusEvent::LocalFileNotCreated, {});
    session.CloseDataChannel();
    return false;
  }

  Stopwatch transferTime;
  const ReceiveOutcome outcome = ReceiveFile(session, file, part, code == 226);
  file.transferSeconds = transferTime.Elapsed();
  if (file.size > 0) {
    session.PercentEvent(kProgressEnd);
  } else {
    session.BytesEvent(kProgressEnd);
  }
  session.CloseDataChannel();

  const bool succeeded = IsComplete(outcome, file) && !ConnectionFailed(session) && part.Commit();
  if (!succeeded) return false;
  if (file.size == kUnknownSize) file.size = outcome.received;
  session.FileEvent(FtpFileEvent::Complete, file);
  if (deleteAfter) {
    session.FileEvent(FtpFileEvent::Deleting, file);
    std::string refusal;
    if (!DeleteRemote(session, file.name, refusal)) {
      session.StatusEvent(FtpStatusEvent::DeleteFailed, DeleteFailureText(file.name, refusal));
    }
  }
  return true;
}

// --- Upload ----------------------------------------------------------------------

// A final reply (2xx to 5xx) already waiting on the control connection; -1
// when none is there. Marks and other text lines are read past. Never waits.
std::int32_t WaitingFinalReply(FtpSession& session) {
  for (;;) {
    const std::int32_t code = WaitingReplyCode(session);
    if (code == -1 || code >= 200) return code;
  }
}

// Waits until the data connection can take more bytes, watching the control
// connection meanwhile, so that a server that answers and stops reading does
// not hold the upload for the whole send time. The code of a final reply
// that arrived first; -1 when there is room (or the wait ran out, which the
// next send then reports).
std::int32_t AwaitRoomOrReply(FtpSession& session) {
  const auto deadline = Clock::now() + std::chrono::seconds(session.Timeout());
  for (;;) {
    const std::int32_t code = WaitingFinalReply(session);
    if (code != -1) return code;
    if (WaitSocket(session.Data().Handle(), kQuietWaitMilliseconds) != 0 || StopRequested() ||
        Clock::now() >= deadline) {
      return -1;
    }
  }
}

// Sends all count bytes, continuing after partial sends. A send that finds
// no room after all (under TLS: a record went out in part, and only the same
// bytes offered again finish it) is repeated once there is room, as long as
// bytes keep going out within the session's time-out. A send that fails, or
// has waited the whole time for room, means a broken or stalled connection:
// the upload fails rather than repeating it. A final reply that arrives
// meanwhile ends the sending (earlyCode).
bool SendAll(FtpSession& session, const char* bytes, std::size_t count, std::int32_t& earlyCode) {
  DataConnection& data = session.Data();
  const auto stall = std::chrono::seconds(session.Timeout());
  auto stalledAt = Clock::now() + stall;
  while (count > 0) {
    earlyCode = AwaitRoomOrReply(session);
    if (earlyCode != -1) return false;
    std::uint16_t sent = 0;
    const auto piece = static_cast<std::uint16_t>(count);
    if (!data.SendBlock(bytes, piece, sent)) {
      if (data.NoRoomAfterAll() && !data.Failed() && !StopRequested() && Clock::now() < stalledAt) {
        continue;
      }
      return false;
    }
    stalledAt = Clock::now() + stall;
    bytes += sent;
    count -= sent;
  }
  return true;
}

struct SendOutcome {
  bool wholeFileSent = false;
  std::int32_t earlyCode = -1;  // a final reply that came before the data's end, -1 when none
};

// Sends the file in blocks until its end, a final reply from the server, a
// failed connection or a stop.
SendOutcome SendFile(FtpSession& session, TextFile& source, std::uint64_t localSize) {
  SendOutcome outcome;
  Block block(kTransferBlock);
  std::int64_t sent = 0;
  std::size_t count = std::fread(block.data(), 1, kTransferBlock, source.Handle());
  while (count > 0) {
    if (ConnectionFailed(session) || StopRequested() ||
        !SendAll(session, block.data(), count, outcome.earlyCode)) {
      return outcome;
    }
    sent += static_cast<std::int64_t>(count);
    session.PercentEvent(ProgressPercent(sent, static_cast<std::int64_t>(localSize)));
    count = std::fread(block.data(), 1, kTransferBlock, source.Handle());
  }
  outcome.wholeFileSent = !std::ferror(source.Handle()) && !ConnectionFailed(session);
  return outcome;
}

// With every byte handed to the data connection: whether the server is still
// receiving. A server learns that a file has ended only when we close our
// side, so a final reply already waiting, or a data connection the server
// has closed or reset, means that it stopped taking the file before it had
// all of it (it may never have read a byte).
bool ServerStillReceiving(FtpSession& session, std::int32_t& earlyCode) {
  earlyCode = WaitingFinalReply(session);
  if (earlyCode != -1) return false;
  char unexpected = 0;
  std::uint16_t got = 0;
  session.Data().ReceiveBlock(&unexpected, 1, got);
  return !session.Data().Failed() && !session.Data().PeerClosed();
}

// Ends the file for the server: our sending side is shut down (under TLS
// after our close_notify), and the server's end of the data connection is
// waited for, within the session's time-out. Only an orderly end tells that
// the server read the file to its end: a server that closes with bytes of
// ours unread resets the connection, and one that answers while it keeps the
// data connection open has not taken the end of the file. Its end and its
// reply travel on two connections, so a reply that comes first leaves the
// end a short while to follow.
bool ServerReadToTheEnd(FtpSession& session) {
  DataConnection& data = session.Data();
  if (!data.ShutdownSending()) return false;
  const auto deadline = Clock::now() + std::chrono::seconds(session.Timeout());
  auto afterReply = Clock::time_point::max();
  for (;;) {
    const TcpConnection::PeerEnd end = data.AwaitPeerEnd(kQuietWaitMilliseconds);
    if (end != TcpConnection::PeerEnd::Open) return end == TcpConnection::PeerEnd::Closed;
    const auto now = Clock::now();
    if (afterReply == Clock::time_point::max() &&
        WaitSocketReadable(session.Control().Handle(), 0) > 0) {
      afterReply = now + kDataEndAfterReply;
    }
    if (now >= deadline || now >= afterReply) return false;
  }
}

// The SIZE reply for the file in the server's current directory; -1 when
// the server does not give one. Asked in binary type: the size of a file in
// ASCII type depends on its line ends, and some servers (proftpd) refuse it.
std::int64_t SizeReplyOf(FtpSession& session, std::string_view name) {
  session.DrainReplies();
  session.SetType(kTypeImage);
  session.SendCommand("SIZE " + std::string(name));
  if (session.ReadReply("SIZE") == 213) {
    const std::string_view reply = session.LastReply();
    std::int64_t size = -1;
    const char* end = reply.data() + reply.size();
    const char* digits = reply.size() > 4 ? reply.data() + 4 : end;
    const auto [stop, error] = std::from_chars(digits, end, size);
    if (error == std::errc() && size >= 0 && (stop == end || *stop == ' ' || *stop == '\r')) {
      return size;
    }
  }
  return -1;
}

// The size the server gives for the file in its current directory: the
// SIZE reply, or, when the server does not answer SIZE, the file's entry in
// a fresh listing (MLSD or LIST). -1 when neither tells.
std::int64_t ServerSizeOf(FtpSession& session, std::string_view name) {
  if (const std::int64_t size = SizeReplyOf(session, name); size >= 0) return size;
  FtpFileRecord entry;
  ListingPtr listing;
  FetchListing(session, "*", kFilterFiles, entry, listing);
  std::int64_t size = -1;
  for (std::size_t i = 0; listing && i < listing->count; ++i) {
    const FtpFileRecord& item = listing->items[i];
    if ((item.attribute & kFilterFiles) != 0 && item.name == name) size = item.size;
  }
  ReleaseListing(entry, listing);
  return size;
}

// DELETE after a complete upload: the local source goes only once the server
// confirms that it holds the file with the local size; otherwise it stays,
// and the line says so.
void DeleteUploadedSource(FtpSession& session, FtpFileRecord source, const FoundFile& local,
                          std::string_view localPath) {
  source.name = local.name;
  if (ServerSizeOf(session, local.name) != static_cast<std::int64_t>(local.size)) {
    session.FileEvent(FtpFileEvent::SourceKept, source);
    return;
  }
  session.FileEvent(FtpFileEvent::Deleting, source);
  if (const FileResult deleted = DeleteFileForced(localPath); !deleted) {
    session.StatusEvent(FtpStatusEvent::DeleteFailed,
                        DeleteFailureText(local.name, deleted.Reason()));
  }
}

// One local file: opened before the server is asked to store it (so that a
// file that cannot be read never truncates the server's copy), sent to its
// end, read by the server to that end, and only then confirmed by the
// final reply. False when the file failed.
bool StoreFile(FtpSession& session, FtpFileRecord& record, const FoundFile& local,
               std::string_view localPath, const UploadJob& job) {
  if (HasLineBreak(local.name)) return false;  // would split the command line
  TextFile source(localPath);
  if (!source.OpenMode("rb")) return false;
  session.DrainReplies();
  if (!session.OpenDataChannelWithRetries(record)) return false;
  DataChannelGuard channel(session);

  const std::string_view command = job.append ? "APPE" : "STOR";
  session.SendCommand(std::string(command) + " " + std::string(local.name));
  const std::int32_t code = session.ReadReply(command);
  if (code != 125 && code != 150) {
    // A refusal is the final reply: nothing else will come for this file.
    session.FileEvent(FtpFileEvent::UploadRefused, record);
    return false;
  }
  if (!session.SecureDataChannel()) return false;

  record.direction = 0;
  session.FileEvent(FtpFileEvent::Uploading, record);
  Stopwatch transferTime;
  const SendOutcome outcome = SendFile(session, source, local.size);
  record.transferSeconds = transferTime.Elapsed();
  source.Close();
  session.PercentEvent(kProgressEnd);
  std::int32_t earlyCode = outcome.earlyCode;
  // The server learns of the file's end from ours, and sends its final
  // reply once it has read to there: one that came before confirms nothing.
  const bool sentToTheEnd = outcome.wholeFileSent && ServerStillReceiving(session, earlyCode) &&
                            ServerReadToTheEnd(session);
  session.CloseDataChannel();
  const std::int32_t finalCode = earlyCode != -1 ? earlyCode : session.ReadReply("");
  if (!sentToTheEnd || !ConfirmsTransfer(finalCode)) return false;

  session.FileEvent(FtpFileEvent::Complete, record);
  if (job.deleteAfter && !IsRunFile(localPath)) {
    DeleteUploadedSource(session, record, local, localPath);
  }
  return true;
}

}  // namespace

bool DeleteRemote(FtpSession& session, std::string_view name, std::string& refusal) {
  session.DrainReplies();
  session.SendCommand("DELE " + std::string(name));
  const std::int32_t code = session.ReadReply("DELE");
  if (code == 250) return true;
  refusal = code == 0 ? "no reply" : session.LastReply();
  return false;
}

std::int64_t LinkedFileSize(FtpSession& session, std::string_view name) {
  const std::int64_t size = SizeReplyOf(session, name);
  return size >= 0 ? size : kUnknownSize;
}

bool IsUnchanged(std::int64_t remoteSize, std::string_view localPath) {
  return remoteSize > 0 && FileSizeOf(localPath) == static_cast<std::uint64_t>(remoteSize);
}

bool PrepareLocalDirectory(FtpSession& session, std::string_view directory) {
  if (directory.empty()) return true;
  const FileResult made = EnsureDirectory(directory);
  if (made) return true;
  session.StatusEvent(FtpStatusEvent::NoLocalDirectory,
                      std::string(directory) + ": " + made.Reason());
  return false;
}

std::int32_t ProgressPercent(std::int64_t done, std::int64_t total) {
  if (total <= 0) return 100;
  const double percent =
      std::nearbyint(100.0 * static_cast<double>(done) / static_cast<double>(total));
  return percent >= 100.0 ? 100 : static_cast<std::int32_t>(percent);
}

bool IsSafeLocalName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && !HasLineBreak(name) &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

void Download(FtpSession& session, const DownloadJob& job) {
  const std::string_view remotePattern = job.remotePattern;
  const std::string_view localDirectory = job.localDirectory;
  session.StatusEvent(FtpStatusEvent::PreparingDownload, {});
  session.DrainReplies();
  if (!PrepareLocalDirectory(session, localDirectory)) return;
  // The directory is what stands before the last "/" (empty for "/" and a
  // mask: the current directory), the mask what follows it.
  std::string_view mask = remotePattern;
  if (const std::size_t slash = remotePattern.rfind('/'); slash != std::string_view::npos) {
    mask = remotePattern.substr(slash + 1);
    if (!session.ChangeDir(remotePattern.substr(0, slash))) {
      session.StatusEvent(FtpStatusEvent::ChangeDirFailed, {});
      return;
    }
  }

  session.StatusEvent(FtpStatusEvent::ReadingListing, {});
  const std::string_view localDir = localDirectory;
  FtpFileRecord file;
  ListingPtr listing;
  const bool anyFound = FetchListing(session, mask, kFilterFiles, file, listing);
  // Nothing found means nothing there only when the listing was read.
  const bool listingRead = listing->fetched;
  for (bool found = anyFound; found && !StopRequested(); found = NextMatch(file)) {
    // A link's listed size is its target's path length: SIZE measures what
    // the server sends for it; without SIZE the transfer tells.
    if (file.link) file.size = LinkedFileSize(session, file.name);
    std::string localPath;
    const bool pathFits = JoinLocalPath(localDir, file.name, localPath);
    if (job.onlyChanged && pathFits && IsUnchanged(file.size, localPath)) {
      session.FileEvent(FtpFileEvent::Unchanged, file);
      continue;
    }
    if (file.size == 0) {
      if (!file.name.empty()) session.FileEvent(FtpFileEvent::ZeroBytesSkipped, file);
      continue;
    }
    if (pathFits && IsRunFile(localPath)) continue;
    if (!FetchFile(session, file, localDir, job.deleteAfter)) {
      session.FileEvent(FtpFileEvent::DownloadFailed, file);
    }
  }
  ReleaseListing(file, listing);
  if (!anyFound && listingRead) session.StatusEvent(FtpStatusEvent::NoFilesFound, {});
}

void Upload(FtpSession& session, const UploadJob& job) {
  session.StatusEvent(FtpStatusEvent::PreparingUpload, {});
  session.DrainReplies();
  const DirectoryAndMask parts = SplitLocalPattern(job.localPattern);
  const std::string localDir(parts.directory);
  const std::vector<FoundFile> files = FindFiles(localDir, parts.mask, kAttrArchive);
  if (files.empty()) {
    session.StatusEvent(FtpStatusEvent::NoFilesFound, {});
    return;
  }
  if (!job.remoteDirectory.empty() && !session.ChangeDir(job.remoteDirectory)) {
    session.StatusEvent(FtpStatusEvent::ChangeDirFailed, {});
    return;
  }

  FtpFileRecord record;
  ListingPtr listing;
  for (const FoundFile& local : files) {
    if (StopRequested()) break;
    std::string localPath;
    const bool pathFits = JoinLocalPath(localDir, local.name, localPath);
    const bool onServer = job.onlyChanged && pathFits &&
                          LookupRemote(session, local.name, kFilterFiles, record, listing);
    if (!onServer) {
      record.name = local.name;
      record.size = static_cast<std::int64_t>(local.size);
      record.date = local.date;
    }
    if (onServer && IsUnchanged(record.size, localPath)) {
      session.FileEvent(FtpFileEvent::Unchanged, record);
      continue;
    }
    if (!pathFits || !StoreFile(session, record, local, localPath, job)) {
      session.FileEvent(FtpFileEvent::UploadFailed, record);
    }
  }
  ReleaseListing(record, listing);
}

}  // namespace quorbit
