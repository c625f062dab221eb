// The console and the stop requests over Windows: Ctrl+C, Ctrl+Break and
// the closing of the console (or the session) take the place of signals.
#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdint>
#include <cstdio>

#include "app/platform.h"
#include "util/stoprequest.h"

namespace quorbit {

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

void DeletePartFile(const char* path) {
  DeleteFileA(path);
}

// The first event asks the worker to stop at its next safe point; events
// within the next second count as the same one, and a later one ends the
// process at once (the default handler does), after removing the part file
// being written. The system ends the process when this returns from a close,
// log-off or shut-down, so the handler waits a little for the worker to wind
// down and write its log, and removes a part file the worker still holds.
// Each event comes on a thread of its own.
BOOL WINAPI StopOnConsoleEvent(DWORD event) {
  const auto now = static_cast<std::int64_t>(GetTickCount64());
  if (RequestStopBySignal(SignalOfConsoleEvent(event), now)) {
    RemovePartFilesInProgress(DeletePartFile);
    return FALSE;
  }
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
    Sleep(4000);
    RemovePartFilesInProgress(DeletePartFile);
  }
  return TRUE;
}

bool HasStandardHandle(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

// A program of the window subsystem starts without a console; the streams a
// starter redirected are handed over all the same.
void AttachStartingConsole() {
  const bool outMissing = !HasStandardHandle(STD_OUTPUT_HANDLE);
  const bool errMissing = !HasStandardHandle(STD_ERROR_HANDLE);
  if (!outMissing && !errMissing) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  // A failed reopening leaves the stream closed, as it was.
  if (outMissing) static_cast<void>(std::freopen("CONOUT$", "w", stdout));
  if (errMissing) static_cast<void>(std::freopen("CONOUT$", "w", stderr));
}

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

const int kHangUpSignal = kSignalHangUp;

}  // namespace quorbit
