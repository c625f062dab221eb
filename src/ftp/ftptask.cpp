#include "ftp/ftptask.h"

#include <algorithm>
#include <string>
#include <vector>

#include "ftp/ftpreport.h"
#include "ftp/ftptransfer.h"
#include "ftp/listingfetch.h"
#include "net/connection.h"
#include "report/runlog.h"
#include "report/transfercounts.h"
#include "util/fileattributes.h"
#include "util/localpaths.h"
#include "util/localsearch.h"
#include "util/shorttext.h"
#include "util/stoprequest.h"
#include "util/stringset.h"

namespace quorbit {

namespace {

constexpr std::string_view kEveryFile = "*.*";

// The path up to and including its last separator; empty when it has none
// (the current directory).
std::string DirectoryPart(std::string_view path, char separator) {
  const std::size_t last = path.rfind(separator);
  return std::string(last == std::string_view::npos ? std::string_view()
                                                    : path.substr(0, last + 1));
}

// A remote path as the server wants it: "\" read as "/".
std::string RemotePath(std::string_view path) {
  std::string result(path);
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

// The ordinary local file of exactly that name in the directory. The search
// would take the name as a mask (ignoring letter case, reading "*" and "?"
// as wildcards), so only an entry of the very name counts.
bool FindLocalFile(std::string_view directory, std::string_view name, FoundFile& found) {
  for (const FoundFile& file : FindFiles(directory, name, kAttrArchive)) {
    if (file.name == name) {
      found = file;
      return true;
    }
  }
  return false;
}

bool SameSize(const FoundFile& local, const FtpFileRecord& remote) {
  return local.size == static_cast<std::uint64_t>(remote.size);
}

// Every file of the current remote directory, whatever its name: a
// synchronise asks which names are on the other side, so no mask may leave
// one out.
std::vector<FtpFileRecord> RemoteFiles(FtpSession& session) {
  FtpFileRecord record;
  ListingPtr listing;
  FetchListing(session, kEveryFile, kFilterFiles, record, listing);
  std::vector<FtpFileRecord> files;
  for (std::size_t i = 0; i < listing->count; ++i) {
    FtpFileRecord file = listing->items[i];
    file.listing = nullptr;
    // Sizes are compared, and a link's listed size is no file's.
    if (file.link) file.size = LinkedFileSize(session, file.name);
    if ((file.attribute & kFilterFiles) != 0) files.push_back(file);
  }
  return files;
}

// The text without the blanks (spaces and NULs) at either end.
std::string_view WithoutBlanks(std::string_view text) {
  constexpr std::string_view kBlanks(" \0", 2);
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Takes the field up to the next comma (or the rest) off the front of rest,
// without the blanks around it.
std::string TakeField(std::string_view& rest) {
  const std::size_t comma = std::min(rest.find(','), rest.size());
  const std::string_view field = rest.substr(0, comma);
  rest.remove_prefix(std::min(comma + 1, rest.size()));
  return std::string(WithoutBlanks(field));
}

bool IsKnownDirection(std::string_view direction) {
  return direction == "UP" || direction == "DOWN" || direction == "SYNCH";
}

// Whether the line names its remote directory from the root, so that it does
// not depend on the directory the server is in: the destination of an UP or
// SYNCH line, the directory part of a DOWN line's source (a DOWN source of
// "/" and a mask stays in the current directory).
bool NamesRemoteDirectoryFromRoot(const TransferLine& line) {
  if (line.direction == "DOWN") {
    const std::string directory = DirectoryPart(RemotePath(line.source), '/');
    return directory.size() > 1 && directory[0] == '/';
  }
  const std::string destination =
      line.direction == "UP" ? RemotePath(line.destination) : line.destination;
  return destination.starts_with('/');
}

// Why the line cannot run as written; empty when it can. inHome: the server
// is in the login directory, where relative remote paths start.
std::string ReasonToSkip(const TransferLine& line, bool cut, bool inHome, bool homeKnown) {
  if (cut) return "the line is longer than 255 characters";
  if (!IsKnownDirection(line.direction)) {
    return line.direction.empty() ? "no direction" : "unknown direction " + line.direction;
  }
  if (inHome || NamesRemoteDirectoryFromRoot(line)) return {};
  return homeKnown ? "unable to return to the login directory" : "the login directory is not known";
}

void ReportSkippedLine(std::size_t slot, std::string_view reason) {
  RunLog::ShowAndWriteFailure("Skipping transfer line " + std::to_string(slot + 1) + ": " +
                              std::string(reason));
}

void RunTransferLine(FtpSession& session, const TransferLine& line) {
  if (line.direction == "UP") {
    const std::string source(LocalPath(line.source));
    const std::string destination = WithTrailing(RemotePath(line.destination), '/');
    StatusDisplay::SetLine(2, "Attempting to upload " + source);
    Upload(session, {.localPattern = source,
                     .remoteDirectory = destination,
                     .deleteAfter = line.deleteAfter,
                     .onlyChanged = line.onlyChanged});
  } else if (line.direction == "DOWN") {
    const std::string source = RemotePath(line.source);
    const std::string destination = WithTrailing(LocalPath(line.destination), kPathSep);
    StatusDisplay::SetLine(2, "Attempting to download " + source);
    Download(session, {.remotePattern = source,
                       .localDirectory = destination,
                       .deleteAfter = line.deleteAfter,
                       .onlyChanged = line.onlyChanged});
  } else if (line.direction == "SYNCH") {
    Synchronise(session, LocalPath(line.source), line.destination);
  }
}

}  // namespace

TransferLine SplitTransferLine(std::string_view text) {
  std::string_view rest = text;
  TransferLine line;
  line.source = TakeField(rest);
  line.destination = TakeField(rest);
  line.direction = UpperStr(TakeField(rest));
  line.options = UpperStr(TakeField(rest));
  line.onlyChanged = line.options.find("IFMOD") != std::string::npos;
  line.deleteAfter = line.options.find("DELETE") != std::string::npos;
  return line;
}

void SyncUp(FtpSession& session, const UploadJob& sides) {
  const std::string_view localPattern = sides.localPattern;
  const std::string remoteDir = WithTrailing(sides.remoteDirectory, '/');
  const std::string localDir = DirectoryPart(localPattern, kPathSep);
  CrcStringSet remoteNames;
  session.ChangeDir(remoteDir);

  for (const FtpFileRecord& remote : RemoteFiles(session)) {
    if (StopRequested()) return;
    remoteNames.Add(remote.name);
    FoundFile local;
    if (FindLocalFile(localDir, remote.name, local) && !SameSize(local, remote)) {
      Upload(session, {.localPattern = localDir + remote.name, .remoteDirectory = ""});
    }
  }

  const std::string_view mask = localPattern.substr(localDir.size());
  for (const FoundFile& local : FindFiles(localDir, mask, kAttrArchive)) {
    if (StopRequested()) return;
    if (!remoteNames.Contains(local.name)) {
      Upload(session,
             {.localPattern = localDir + std::string(local.name), .remoteDirectory = remoteDir});
    }
  }
}

void SyncDown(FtpSession& session, const DownloadJob& sides) {
  const std::string localDir = WithTrailing(sides.localDirectory, kPathSep);
  if (!PrepareLocalDirectory(session, localDir)) return;
  session.ChangeDir(DirectoryPart(sides.remotePattern, '/'));

  for (const FtpFileRecord& remote : RemoteFiles(session)) {
    if (StopRequested()) return;
    // The name serves as a remote mask, and one with a "/" would change the
    // remote directory on the way.
    if (!IsSafeLocalName(remote.name)) {
      session.FileEvent(FtpFileEvent::DownloadFailed, remote);
      continue;
    }
    FoundFile local;
    if (!FindLocalFile(localDir, remote.name, local) || !SameSize(local, remote)) {
      Download(session, {.remotePattern = remote.name, .localDirectory = localDir});
    }
  }
}

void Synchronise(FtpSession& session, std::string_view local, std::string_view remote) {
  const bool localIsDirectory = (!local.empty() && local.back() == kPathSep) ||
                                (FileAttributesOf(local) & kAttrDirectory) != 0;
  const bool remoteIsDirectory =
      (!remote.empty() && remote.back() == '/') || RemoteKind(session, remote) == kFtpDirectory;
  StatusDisplay::SetLine(
      2, "Attempting to synchronize " + std::string(local) + " with " + std::string(remote));

  if (localIsDirectory && remoteIsDirectory) {
    const std::string localDir = WithTrailing(local, kPathSep);
    const std::string remoteDir = WithTrailing(remote, '/');
    SyncUp(session, {.localPattern = Cat(localDir, kEveryFile), .remoteDirectory = remoteDir});
    if (StopRequested()) return;
    SyncDown(session, {.remotePattern = Cat(remoteDir, kEveryFile), .localDirectory = localDir});
  } else if (!localIsDirectory && !remoteIsDirectory) {
    SyncUp(session, {.localPattern = local, .remoteDirectory = DirectoryPart(remote, '/')});
    if (StopRequested()) return;
    SyncDown(session, {.remotePattern = remote, .localDirectory = DirectoryPart(local, kPathSep)});
  } else if (!localIsDirectory) {
    SyncUp(session, {.localPattern = local, .remoteDirectory = remote});
  } else {
    SyncDown(session, {.remotePattern = remote, .localDirectory = local});
  }
}

void RunFtpTask(const FtpTask& task, const RunContext& context) {
  StatusDisplay::SetLine(1, "Processing task " + task.NAME.Str());
  StatusDisplay::SetLine(2, "");
  StatusDisplay::SetLine(3, "");

  // Copies: the record is packed, and its texts have fixed widths.
  const std::string host = task.URI.Str();
  const std::uint16_t listDelay = task.LIST_DELAY;

  ReportingFtpSession session(context.settings.DEBUG_LOG);
  if (task.TLS == 1) {
    session.UseTls({VerifiesCertificates(task), context.settings.CA_FILE.Str()});
    if (!VerifiesCertificates(task)) {
      LogNotVerifying(host);
    }
  }
  const bool failedBefore = TransferCounts.failed;
  const bool loggedIn = session.Login({.host = host,
                                       .user = task.USER.Str(),
                                       .password = task.PASSWORD.Str(),
                                       .port = task.PORT,
                                       .retryDelay = task.RETRY_DELAY,
                                       .tries = task.RETRY});
  if (loggedIn) {
    // The log keeps the tries that failed, but a login that came through in
    // the end is no failure of the run.
    TransferCounts.failed = failedBefore;
    const std::string home = session.WorkingDir();
    session.SetListDelay(listDelay);
    // Relative remote paths start from the login directory: a line that has
    // one runs only when the server is back there.
    bool inHome = true;
    for (std::size_t i = 0; i < kTransferSlots && !task.TRANSFER[i].Empty() && !StopRequested();
         ++i) {
      if (i > 0) inHome = !home.empty() && session.ChangeDir(home);
      const TransferLine line = SplitTransferLine(task.TRANSFER[i].View());
      const std::string reason =
          ReasonToSkip(line, TransferLineWasCut(context, task, i), inHome, !home.empty());
      if (reason.empty()) {
        RunTransferLine(session, line);
      } else {
        ReportSkippedLine(i, reason);
      }
    }
    session.Quit();
  }
  session.Destroy();
}

}  // namespace quorbit
