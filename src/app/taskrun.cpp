#include "app/taskrun.h"

#include "config/iniunit.h"
#include "ftp/ftptask.h"
#include "html/httptask.h"
#include "html/visitedset.h"
#include "report/logunit.h"
#include "report/timer.h"

void RunAllTasks() {
  // Every HTTP assignment, then every FTP assignment, each table in the
  // order of the INI file. What one HTTP assignment fetched is known to the
  // later ones.
  VisitedUrlSet visited;
  for (const auto& task : HttpTasks) ProcessHttpTask(*task, 1, visited);
  for (const auto& task : FtpTasks) RunFtpTask(*task);
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
  RunLog::Open(Settings.LOG);
  RunLog::Write(Cat("Using ini file ", iniFileName));
  RunAllTasks();
  std::int32_t elapsed = runTime.Elapsed();
  RunLog::Write(DashLine());
  RunLog::Write(Cat("Total time active ", FormatDuration(elapsed)));
  RunLog::Close();
}
