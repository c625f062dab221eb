// The console and the signals as the operating system provides them.
// platform_posix.cpp implements this for POSIX, platform_windows.cpp for
// Windows (Ctrl+C, Ctrl+Break and closing the console stand for the signals).
#pragma once

#include <cstdio>

namespace quorbit {

// Gives standard output and standard error a place to go where the system
// starts the program without one (a window program on Windows): the console
// of the process that started it, if any; streams it was handed, a pipe or
// a file, stay as they are. Without a console they stay closed and whatever
// is written to them is dropped.
void AttachStartingConsole();

// Whether standard output is a terminal that understands cursor movement.
bool StdoutIsTerminal();
// The width of the terminal the stream writes to; 0 when unknown.
int ConsoleColumns(std::FILE* stream);

// The first of the signals that end a run (SIGTERM, SIGINT, SIGHUP) asks the
// worker to stop at its next safe point; signals within the next second count
// as the same one, and a later one ends the process at once, removing the
// part file being written. A peer or reader that goes away makes writes fail
// instead of ending the process.
void InstallStopSignalHandlers();
// The number a hang-up is recorded as (SIGHUP, or its stand-in where the
// system has none); SIGTERM and SIGINT are the C library's.
extern const int kHangUpSignal;

}  // namespace quorbit
