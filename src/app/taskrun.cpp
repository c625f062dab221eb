#include "app/taskrun.h"

#include "app/platform.h"
#include "config/settings.h"
#include "ftp/ftptask.h"
#include "http/httptask.h"
#include "http/visitedset.h"
#include "report/runlog.h"
#include "util/timer.h"
#include "util/localfiles.h"
#include "util/stoprequest.h"

void RunAllTasks() {
  // Every HTTP assignment, then every FTP assignment, each table in the
  // order of the INI file. What one HTTP assignment fetched is known to the
  // later ones. Once a stop is requested no further assignment starts.
  VisitedUrlSet visited;
  for (const auto& task : HttpTasks) {
    if (StopRequested()) return;
    ProcessHttpTask(*task, 1, visited);
  }
  for (const auto& task : FtpTasks) {
    if (StopRequested()) return;
    RunFtpTask(*task);
  }
}

Str255 SignalName(int signalNumber) {
  const std::string_view name = StopSignalName(signalNumber);
  return name.empty() ? Cat("signal ", IntToText(signalNumber)) : Str255(name);
}

Str255 FormatDuration(std::int32_t seconds) {
  Str255 text = TwoDigits(static_cast<std::uint16_t>(seconds / 3600));
  text += ":";
  text += TwoDigits(static_cast<std::uint16_t>(seconds % 3600 / 60));
  text += ":";
  text += TwoDigits(static_cast<std::uint16_t>(seconds % 60));
  return text;
}

void RunTaskSequence(std::string_view iniFileName) {
  Stopwatch runTime;
  // Whatever a server sends, the run never replaces its own files.
  ProtectRunFiles(LoadedIniFile.Empty() ? iniFileName : LoadedIniFile.View(), Settings.LOG,
                  Settings.DEBUG_LOG);
  if (!RunLog::Open(Settings.LOG)) {
    // The run goes on, but whoever reads its outcome must learn that there
    // is no log of it.
    const Str255 text = Cat("Unable to open run log ", Settings.LOG);
    RunLog::ShowAndWriteFailure(text);
  }
  RunLog::Write(Cat("Using ini file ", iniFileName));
  RunAllTasks();
  if (StopRequested()) {
    // The reader of the log must see that the run did not end by itself.
    const Str255 stopped = Cat("Run stopped by signal ", SignalName(StopSignal()));
    RunLog::ShowAndWrite(stopped, stopped);
  }
  std::int32_t elapsed = runTime.Elapsed();
  RunLog::Write(DashLine());
  RunLog::Write(Cat("Total time active ", FormatDuration(elapsed)));
  RunLog::Close();
}
