// The body of a run once the settings have loaded: time it, open the run
// log, carry out every assignment, write the summary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/settings.h"

namespace quorbit {

// Every HTTP assignment, then every FTP assignment, each in table order.
void RunAllTasks(const RunContext& context);

// "SIGTERM", "SIGINT" or "SIGHUP" (the signals that stop a run); "signal "
// and the number for any other.
std::string SignalName(int signalNumber);

// "HH:MM:SS" of a duration; a run of a day or more counts its hours on.
std::string FormatDuration(std::int32_t seconds);

// Stopwatch, run log with the INI file's name, all assignments, the summary
// lines (after "Run stopped by signal ..." when a stop was requested),
// closing the log.
void RunTaskSequence(const RunContext& context, std::string_view iniFileName);

}  // namespace quorbit
