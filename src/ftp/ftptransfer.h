// FTP file transfers of a session: downloading the remote files that match a
// mask into a local directory, uploading the local files that match a mask
// into a remote directory, deleting a remote file, and the size test that
// tells a changed file from an unchanged one.
//
// Everything is reported through the session's events. A source is deleted
// (DELETE) only after the server confirmed the complete transfer, and an
// uploaded one only once the server also reports its size; a download
// goes to a temporary file beside its target and replaces the target only
// once confirmed, so a failed transfer leaves the previous copy as it was.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/ftpsession.h"

namespace quorbit {

// DELE; true when the server answered 250. Otherwise refusal is the reply
// line, or "no reply".
bool DeleteRemote(FtpSession& session, std::string_view name, std::string& refusal);

// What a download fetches and where to, and what it does beside copying the
// files: deleteAfter deletes each remote source once its transfer is
// confirmed; onlyChanged skips a file that is unchanged (IsUnchanged) on
// this side.
struct DownloadJob {
  std::string_view remotePattern;
  std::string_view localDirectory;
  bool deleteAfter = false;
  bool onlyChanged = false;
};

// The same for an upload, whose append sends APPE instead of STOR.
struct UploadJob {
  std::string_view localPattern;
  std::string_view remoteDirectory;
  bool deleteAfter = false;
  bool onlyChanged = false;
  bool append = false;
};

// Downloads every remote file that matches the last component of remotePattern
// (the part before its last "/" is the remote directory; without "/" the
// current one is used) into localDirectory, which is empty or ends with the
// local path separator and is created when missing. A file counts as
// downloaded only when the server confirmed it and its data ended with
// exactly the listed size.
void Download(FtpSession& session, const DownloadJob& job);

// Uploads every ordinary local file that matches the last component of
// localPattern into remoteDirectory (empty: the current remote directory), with
// STOR, or APPE when the options ask to append. A file counts as uploaded only when every
// byte was sent, our side of the data connection was shut down while the
// server was still taking it, the server then ended its side in order (it
// read everything), and the confirmation came after that; with
// deleteAfter the source is deleted only when SIZE (or, without SIZE, the
// file's entry in a listing) gives the local size.
void Upload(FtpSession& session, const UploadJob& job);

// The size of the file a remote link leads to, in the server's current
// directory: the SIZE reply, or kUnknownSize when the server gives none.
std::int64_t LinkedFileSize(FtpSession& session, std::string_view name);
// Unchanged means: the remote size is not 0 and the local file exists with
// exactly that size. Dates are not compared.
bool IsUnchanged(std::int64_t remoteSize, std::string_view localPath);

// Makes sure the local directory of a download exists, creating it with its
// missing parents (empty: the current directory). When that is impossible,
// raises NoLocalDirectory with the directory and the reason and gives false.
bool PrepareLocalDirectory(FtpSession& session, std::string_view directory);

// done / total as a percentage rounded to the nearest integer (halves to
// even), at most 100; 100 when total is not positive.
std::int32_t ProgressPercent(std::int64_t done, std::int64_t total);

// A remote name that may be written into a local directory: not empty, not
// "." or "..", and without "/", "\", CR, LF or NUL, so it can neither leave
// the directory nor split a command line.
bool IsSafeLocalName(std::string_view name);

}  // namespace quorbit
