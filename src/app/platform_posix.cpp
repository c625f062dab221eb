// The console and the signals over POSIX.
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>

#include "app/platform.h"
#include "util/stoprequest.h"

namespace quorbit {

namespace {

// Milliseconds on the monotonic clock; clock_gettime is async-signal-safe.
std::int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void UnlinkPartFile(const char* path) {
  unlink(path);
}

// The first of these signals asks the worker to stop at its next safe point;
// one that comes a second or more later, from an impatient user, ends the
// process at once as the signal's default action would, without leaving the
// part file of the download under way. Only async-signal-safe calls here.
extern "C" void StopOnSignal(int signalNumber) {
  const int savedErrno = errno;
  if (RequestStopBySignal(signalNumber, MonotonicMs())) {
    RemovePartFilesInProgress(UnlinkPartFile);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
  }
  errno = savedErrno;
}

}  // namespace

// A POSIX program always starts with the streams its starter gave it.
void AttachStartingConsole() {}

bool StdoutIsTerminal() {
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) && term && *term && std::string_view(term) != "dumb";
}

int ConsoleColumns(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
}

void InstallStopSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = StopOnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) sigaction(signalNumber, &action, nullptr);
  // A reader of the output or a peer that goes away must not end the run:
  // writes to it fail instead.
  std::signal(SIGPIPE, SIG_IGN);
}

const int kHangUpSignal = SIGHUP;

}  // namespace quorbit
