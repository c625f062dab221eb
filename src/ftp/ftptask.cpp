#include "ftp/ftptask.h"

#include <vector>

#include "ftp/ftplist.h"
#include "ftp/ftpreport.h"
#include "ftp/ftptransfer.h"
#include "html/visitedset.h"
#include "report/logunit.h"
#include "util/dosutil.h"

namespace {

constexpr std::string_view kEveryFile = "*.*";

// The path up to and including its last separator; empty when it has none
// (the current directory).
Str255 DirectoryPart(std::string_view path, char separator) {
  const std::size_t last = path.rfind(separator);
  return last == std::string_view::npos ? Str255() : Str255(path.substr(0, last + 1));
}

Str255 WithTrailing(std::string_view path, char separator) {
  Str255 result(path);
  EnsureTrailing(result, separator);
  return result;
}

// A remote path as the server wants it: "\" read as "/".
Str255 RemotePath(std::string_view path) {
  Str255 result(path);
  ReplaceChars(result, CharSet("\\"), '/');
  return result;
}

// The first ordinary file that the local search for the name in the
// directory finds (letter case ignored, as the search does).
bool FindLocalFile(std::string_view directory, std::string_view name, FoundFile& found) {
  const std::vector<FoundFile> files = FindFiles(directory, name, kAttrArchive);
  if (files.empty()) return false;
  found = files.front();
  return true;
}

// Takes the field up to the next comma (or the rest) off the front of rest,
// without the blanks around it.
Str255 TakeField(Str255& rest) {
  Str255 field;
  SplitFirst(rest, ',', field);
  TrimBlanks(field);
  return field;
}

void RunTransferLine(FtpSession& session, const TransferLine& line) {
  if (line.direction == "UP") {
    const Str255 source = LocalPath(line.source);
    const Str255 destination = WithTrailing(RemotePath(line.destination), '/');
    StatusDisplay::SetLine(2, Cat("Attempting to upload ", source));
    Upload(session, source, destination, line.deleteAfter, line.onlyChanged, false);
  } else if (line.direction == "DOWN") {
    const Str255 source = RemotePath(line.source);
    const Str255 destination = WithTrailing(LocalPath(line.destination), kPathSep);
    StatusDisplay::SetLine(2, Cat("Attempting to download ", source));
    Download(session, source, destination, line.deleteAfter, line.onlyChanged);
  } else if (line.direction == "SYNCH") {
    Synchronise(session, LocalPath(line.source), line.destination);
  }
}

}  // namespace

TransferLine SplitTransferLine(std::string_view text) {
  Str255 rest(text);
  TransferLine line;
  line.source = TakeField(rest);
  line.destination = TakeField(rest);
  line.direction = UpperStr(TakeField(rest));
  line.options = UpperStr(TakeField(rest));
  line.onlyChanged = line.options.Pos("IFMOD") != 0;
  line.deleteAfter = line.options.Pos("DELETE") != 0;
  return line;
}

void SyncUp(FtpSession& session, std::string_view localSpec, std::string_view remoteDirectory) {
  const Str255 remoteDir = WithTrailing(remoteDirectory, '/');
  const Str255 localDir = DirectoryPart(localSpec, kPathSep);
  CrcStringSet remoteNames;
  session.ChangeDir(remoteDir);

  FtpFileRecord remote;
  ListingPtr listing;
  for (bool found = FetchListing(session, kEveryFile, kFilterFiles, remote, listing); found;
       found = NextMatch(remote)) {
    remoteNames.Add(remote.name);
    FoundFile local;
    if (FindLocalFile(localDir, remote.name, local) &&
        local.size != static_cast<std::uint32_t>(remote.size)) {
      Upload(session, Cat(localDir, remote.name), "", false, false, false);
    }
  }
  ReleaseListing(remote, listing);

  const Str255 mask(localSpec.substr(localDir.Length()));
  for (const FoundFile& local : FindFiles(localDir, mask, kAttrArchive)) {
    if (!remoteNames.Contains(local.name)) {
      Upload(session, Cat(localDir, local.name), remoteDir, false, false, false);
    }
  }
}

void SyncDown(FtpSession& session, std::string_view localDirectory, std::string_view remoteSpec) {
  const Str255 localDir = WithTrailing(localDirectory, kPathSep);
  session.ChangeDir(DirectoryPart(remoteSpec, '/'));

  FtpFileRecord remote;
  ListingPtr listing;
  for (bool found = FetchListing(session, kEveryFile, kFilterFiles, remote, listing); found;
       found = NextMatch(remote)) {
    // The name serves as a remote mask, and one with a "/" would change the
    // remote directory on the way.
    if (!IsSafeLocalName(remote.name)) {
      session.FileEvent(26, remote);
      continue;
    }
    FoundFile local;
    if (!FindLocalFile(localDir, remote.name, local) ||
        local.size != static_cast<std::uint32_t>(remote.size)) {
      Download(session, remote.name, localDir, false, false);
    }
  }
  ReleaseListing(remote, listing);
}

void Synchronise(FtpSession& session, std::string_view local, std::string_view remote) {
  const bool localIsDirectory = (!local.empty() && local.back() == kPathSep) ||
                                (FileAttributesOf(local) & kAttrDirectory) != 0;
  const bool remoteIsDirectory =
      (!remote.empty() && remote.back() == '/') || RemoteKind(session, remote) == kFtpDirectory;
  Str255 status = Cat("Attempting to synchronize ", local);
  status += " with ";
  status += remote;
  StatusDisplay::SetLine(2, status);

  if (localIsDirectory && remoteIsDirectory) {
    const Str255 localDir = WithTrailing(local, kPathSep);
    const Str255 remoteDir = WithTrailing(remote, '/');
    SyncUp(session, Cat(localDir, kEveryFile), remoteDir);
    SyncDown(session, localDir, Cat(remoteDir, kEveryFile));
  } else if (!localIsDirectory && !remoteIsDirectory) {
    SyncUp(session, local, DirectoryPart(remote, '/'));
    SyncDown(session, DirectoryPart(local, kPathSep), remote);
  } else if (!localIsDirectory) {
    SyncUp(session, local, remote);
  } else {
    SyncDown(session, local, remote);
  }
}

void RunFtpTask(const FtpTask& task) {
  StatusDisplay::SetLine(1, Cat("Processing task ", task.NAME));
  StatusDisplay::SetLine(2, "");
  StatusDisplay::SetLine(3, "");

  // Copies: the record is packed.
  const std::uint16_t port = task.PORT;
  const std::uint16_t retryDelay = task.RETRY_DELAY;
  const std::uint16_t tries = task.RETRY;
  const std::uint16_t listDelay = task.LIST_DELAY;

  ReportingFtpSession session(Settings.DEBUG_LOG);
  const bool loggedIn = session.Login(task.URI, task.USER, port, retryDelay, tries, task.PASSWORD);
  if (loggedIn) {
    const Str255 home = session.WorkingDir();
    session.SetListDelay(listDelay);
    for (std::size_t i = 0; i < kTransferSlots && !task.TRANSFER[i].Empty(); ++i) {
      if (i > 0) session.ChangeDir(home);
      RunTransferLine(session, SplitTransferLine(task.TRANSFER[i]));
    }
    session.Quit();
  }
  session.Destroy();
}
