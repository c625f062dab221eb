// The outcome of a local file operation, carrying the system's reason when it
// failed, so that a log line can say why.
#pragma once

#include <string>
#include <system_error>

namespace quorbit {

// Success, or the system's reason for the failure (a directory where a file
// was meant fails with EISDIR, one of the run's own files with EACCES). True
// on success; Reason() is the text a log line puts after the failed
// operation.
struct FileResult {
  std::error_code error;
  explicit operator bool() const { return !error; }
  std::string Reason() const { return error.message(); }
};

// The outcome of a system call that reports the system's error number (0 for
// success).
inline FileResult FileResultOf(int err) {
  return {err == 0 ? std::error_code() : std::error_code(err, std::generic_category())};
}

inline bool IsMissing(const FileResult& result) {
  return result.error == std::errc::no_such_file_or_directory;
}

}  // namespace quorbit
