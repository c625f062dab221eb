// The console and the stop requests over Windows: Ctrl+C, Ctrl+Break and
// the closing of the console (or the session) take the place of signals.
#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>

#include "app/platform.h"
#include "util/stoprequest.h"

namespace {

// The numbers the stop is recorded as; Windows has no SIGHUP of its own.
constexpr int kSignalHangUp = 1;

HANDLE HandleOf(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

int SignalOfConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_CLOSE_EVENT:
      return kSignalHangUp;
    default:
      return SIGTERM;  // Ctrl+Break, log-off, shut-down
  }
}

// The first event asks the worker to stop at its next safe point; a second
// one ends the process at once (the default handler does). The system ends
// the process when this returns from a close, log-off or shut-down, so the
// handler waits a little for the worker to wind down and write its log.
BOOL WINAPI StopOnConsoleEvent(DWORD event) {
  if (StopRequested()) return FALSE;
  RequestStop(SignalOfConsoleEvent(event));
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(4000);
  return TRUE;
}

}  // namespace

bool StdoutIsTerminal() {
  // A console that takes the cursor movements of a terminal (Windows 10 and
  // later); a pipe, a file or no console at all is not one.
  const HANDLE out = HandleOf(stdout);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int ConsoleColumns(std::FILE* stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(HandleOf(stream), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void InstallStopSignalHandlers() {
  SetConsoleCtrlHandler(StopOnConsoleEvent, TRUE);
}

std::string_view StopSignalName(int signalNumber) {
  switch (signalNumber) {
    case kSignalHangUp:
      return "SIGHUP";
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return {};
  }
}
