// The console and the signals over POSIX.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "app/platform.h"
#include "util/stoprequest.h"

namespace {

// The first of these signals asks the worker to stop at its next safe point;
// a second one, from an impatient user, ends the process at once as the
// signal's default action would. Only async-signal-safe calls here.
extern "C" void StopOnSignal(int signalNumber) {
  if (StopRequested()) {
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
    return;
  }
  RequestStop(signalNumber);
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

std::string_view StopSignalName(int signalNumber) {
  switch (signalNumber) {
    case SIGHUP:
      return "SIGHUP";
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return {};
  }
}
