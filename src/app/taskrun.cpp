#include "app/taskrun.h"

#include <array>
#include <csignal>
#include <cstdio>

#include "app/platform.h"
#include "config/settings.h"
#include "ftp/ftptask.h"
#include "http/httptask.h"
#include "http/visitedset.h"
#include "report/runlog.h"
#include "util/runfiles.h"
#include "util/stoprequest.h"
#include "util/timer.h"

namespace quorbit {

void RunAllTasks(const RunContext& context) {
  // Every HTTP assignment, then every FTP assignment, each table in the
  // order of the INI file. What one HTTP assignment fetched is known to the
  // later ones. Once a stop is requested no further assignment starts.
  VisitedUrlSet visited;
  for (const auto& task : context.httpTasks) {
    if (StopRequested()) return;
    ProcessHttpTask(*task, 1, visited, context);
  }
  for (const auto& task : context.ftpTasks) {
    if (StopRequested()) return;
    RunFtpTask(*task, context);
  }
}

std::string SignalName(int signalNumber) {
  if (signalNumber == SIGTERM) return "SIGTERM";
  if (signalNumber == SIGINT) return "SIGINT";
  if (signalNumber == kHangUpSignal) return "SIGHUP";
  return "signal " + std::to_string(signalNumber);
}

std::string FormatDuration(std::int32_t seconds) {
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "%02d:%02d:%02d", seconds / 3600, seconds % 3600 / 60,
                seconds % 60);
  return text.data();
}

void RunTaskSequence(const RunContext& context, std::string_view iniFileName) {
  Stopwatch runTime;
  // Whatever a server sends, the run never replaces its own files.
  ProtectRunFiles(context.iniFile.empty() ? iniFileName : context.iniFile, context.settings.LOG,
                  context.settings.DEBUG_LOG);
  if (!RunLog::Open(context.settings.LOG)) {
    // The run goes on, but whoever reads its outcome must learn that there
    // is no log of it.
    RunLog::ShowAndWriteFailure("Unable to open run log " + context.settings.LOG.Str());
  }
  RunLog::Write("Using ini file " + std::string(iniFileName));
  RunAllTasks(context);
  if (StopRequested()) {
    // The reader of the log must see that the run did not end by itself.
    const std::string stopped = "Run stopped by signal " + SignalName(StopSignal());
    RunLog::ShowAndWrite(stopped, stopped);
  }
  std::int32_t elapsed = runTime.Elapsed();
  RunLog::Write(DashLine());
  RunLog::Write("Total time active " + FormatDuration(elapsed));
  RunLog::Close();
}

}  // namespace quorbit
