// A request to stop the run early, made by a signal handler (or the window's
// close button) and honoured by the worker at its next safe point: waits end
// as failures, a transfer in progress is abandoned and no further file or
// assignment is started.
#pragma once

// Records the request; the first signal number is kept. Safe to call from a
// signal handler.
void RequestStop(int signalNumber);
bool StopRequested();
// The signal that asked for the stop; 0 when none did.
int StopSignal();
// Forgets the request (for tests that run several stops in one process).
void ClearStopRequest();
