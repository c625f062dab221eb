// The FTP assignment: one login to the assignment's server, then its
// transfer lines in order, each uploading, downloading or synchronising one
// selection of files and each starting from the login directory.
#pragma once

#include <string>
#include <string_view>

#include "config/settings.h"
#include "ftp/ftpsession.h"
#include "ftp/ftptransfer.h"

namespace quorbit {

// One transfer line, "source, destination, direction, options", split at
// commas from the left (at most four fields; missing ones are empty) with
// the blanks around each field removed; direction and options upper-cased.
struct TransferLine {
  std::string source;
  std::string destination;
  std::string direction;  // "UP", "DOWN" or "SYNCH"; anything else is skipped
  std::string options;
  bool onlyChanged = false;  // "IFMOD" anywhere in the options
  bool deleteAfter = false;  // "DELETE" anywhere in the options
};

TransferLine SplitTransferLine(std::string_view line);

// Logs in, runs the transfer lines until the first empty one, quits. A line
// that was cut, has an unknown direction, or has a relative remote path while
// the server cannot be brought back to the login directory (its name unknown,
// or the change refused) is skipped with a failure line. context gives the
// debug log, the trusted certificates and which lines were cut.
void RunFtpTask(const FtpTask& task, const RunContext& context);

// The upload half of a synchronise: files of the local pattern's directory
// whose size differs from the remote file of that name, and files matching
// the local pattern that the remote directory lacks, are uploaded. Names are
// compared exactly, whatever their length or letter case. The job's options
// are not used: a synchronise compares sizes and deletes nothing.
void SyncUp(FtpSession& session, const UploadJob& sides);

// The download half: remote files of the remote pattern's directory that the
// local directory (created when missing) lacks, or holds with another size,
// are downloaded. Names are compared exactly.
void SyncDown(FtpSession& session, const DownloadJob& sides);

// A "SYNCH" line: which halves run depends on whether each side names a
// directory (a local path ending in the separator, a remote one ending in
// "/", or one that exists as a directory) or a file.
void Synchronise(FtpSession& session, std::string_view local, std::string_view remote);

}  // namespace quorbit
