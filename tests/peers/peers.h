// Test support: temporary directories, child processes (scripted servers, real
// servers, the program itself) that are always stopped, and free loopback ports.
#pragma once

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/types.h>
#endif

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace quorbit {

// Directory of the scripted servers and peer start-up helpers.
std::string PeersDir();
// Source tree root (for examples and sample data).
std::string SourceDir();

// A fresh directory in the system's temporary directory, removed with everything in it on
// destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  // Path of a name inside the directory; "/" in name becomes the platform's
  // separator.
  std::string operator/(std::string_view name) const;

 private:
  std::string path_;
};

// A path written with "/" in the platform's form: "/" becomes the platform's
// separator, and on Windows an absolute path starts on drive C:.
std::string NativePath(std::string_view path);

// Text as a text-mode file holds it: on Windows each "\n" as "\r\n".
std::string NativeLines(std::string_view text);

#ifndef _WIN32
// A port on 127.0.0.1 that nobody listens on at the moment of the call.
int FreeLoopbackPort();
// True when the machine has the IPv6 loopback address ::1 to listen on.
bool HasIpv6Loopback();
#endif

// Whole-file helpers for tests.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, std::string_view data);
bool PathExists(const std::string& path);
// The names of the entries of a directory, sorted.
std::vector<std::string> DirectoryNames(const std::string& directory);
// The first count bytes of one fixed pseudo-random sequence.
std::string RandomBytes(std::size_t count);

// The texts of a log file's lines: "" for an empty line, the part after the
// time stamp ("dd-mm-yy hh:mm:ss" and two blanks) for a stamped one, "<bad>"
// and the line for anything else (also a line without the platform's CR
// LF on Windows). A last line without a line end fails the test.
std::vector<std::string> LogFileTexts(const std::string& path);

// Wall time since start, and the processor time (user and system) this
// process has used so far, in seconds.
double SecondsSince(std::chrono::steady_clock::time_point start);
double ProcessorSeconds();

// Makes path the working directory for the lifetime of the object, so that
// bare names are looked up there; the previous one comes back afterwards.
class InDirectory {
 public:
  explicit InDirectory(const std::string& path);
  ~InDirectory();
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  std::string previous_;
};

#ifndef _WIN32
// Child processes and limits are POSIX test support: the peers they start
// (nginx, pyftpdlib, scripted Python servers) are Linux programs.

// Lets no file of this process grow beyond the bytes given while it lives: a
// write beyond them fails (SIGXFSZ is ignored meanwhile).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previousHandler_)(int) = nullptr;
};

// A child process in its own process group, stopped (SIGTERM, then SIGKILL)
// when the object goes out of scope, so that a failing test leaves nothing
// running. Its standard output is read through a pipe; standard error goes to
// the test's own standard error.
class PeerProcess {
 public:
  PeerProcess() = default;
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool Start(const std::vector<std::string>& argv, const std::string& workdir = "");
  // Reads the child's output until a line starting with prefix arrives and
  // returns the rest of that line; empty on time-out or end of output.
  std::string WaitForLine(std::string_view prefix, int timeoutSeconds = 20);
  // Everything the child printed after the lines consumed by WaitForLine,
  // read until it exits or timeoutSeconds pass.
  std::string ReadRest(int timeoutSeconds = 20);
  // Stops the child and returns its exit status (-1 when killed or not started).
  int Stop();
  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

 private:
  bool ReadSome(int timeoutMs);
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

// Starts a Python scripted server from the peers directory with the given
// arguments; the script prints "PORT <n>" once it listens. Returns the port,
// or 0 when it did not start.
int StartScriptedPeer(PeerProcess& peer, const std::string& script,
                      const std::vector<std::string>& args = {});

// Writes the script (format: see scripted_server.py) to a file in dir and
// starts scripted_server.py on it. Returns the port, or 0. What the server
// printed afterwards ("DONE", "MISMATCH ...", "RECEIVED <n>") is read with
// peer.ReadRest().
// It listens on listenAddress: "127.0.0.1", or "::1" for IPv6.
int StartScriptedServer(PeerProcess& peer, const TempDir& dir, std::string_view script,
                        const std::string& listenAddress = "127.0.0.1");

// The result of running a program to its end.
struct ProgramRun {
  int exitCode = -1;  // -1 when it had to be killed
  std::string out;
  std::string err;
  double seconds = 0;
};

// Runs argv in workdir with extraEnv ("NAME=value") added, waiting at most
// timeoutSeconds; standard input is /dev/null.
ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& workdir,
                      int timeoutSeconds = 60, const std::vector<std::string>& extraEnv = {});
#endif

}  // namespace quorbit
