// A request to stop the run early, made by a signal handler (or the window's
// close button) and honoured by the worker at its next safe point: waits end
// as failures, a transfer in progress is abandoned and no further file or
// assignment is started.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorbit {

// Records the request; the first signal number is kept. Safe to call from a
// signal handler.
void RequestStop(int signalNumber);
bool StopRequested();
// The signal that asked for the stop; 0 when none did.
int StopSignal();
// Forgets the request (for tests that run several stops in one process).
void ClearStopRequest();

// How long after the first stop signal a later one ends the program at once.
// Signals that arrive together count as one: `timeout` and a process group's
// kill send the same signal to the program twice in the same instant.
constexpr std::int64_t kImpatientSignalMs = 1000;

// Records a stop asked for by a signal that arrived at atMs on a monotonic
// clock (milliseconds). True when the program must end at once instead: an
// earlier signal asked for the stop at least kImpatientSignalMs before.
// Safe to call from a signal handler.
bool RequestStopBySignal(int signalNumber, std::int64_t atMs);

// The part files being written, so that a program ended at once does not
// leave them behind. The worker notes a part file once it has created it and
// forgets it once it is committed or removed; paths too long to keep are not
// noted.
void NotePartFileInProgress(std::string_view path);
void ForgetPartFileInProgress(std::string_view path);
// Calls remove for the path of every part file noted now. Safe in a signal
// handler (and from another thread than the worker) when remove is.
void RemovePartFilesInProgress(void (*remove)(const char* path));

}  // namespace quorbit
