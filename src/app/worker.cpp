#include "app/worker.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "app/taskrun.h"
#include "config/iniunit.h"
#include "report/logunit.h"
#include "report/transfercounts.h"

Str255 IniFileName = "QUORBIT.INI";
std::atomic<std::int32_t> RunResult{-1};

namespace {

// Loads the settings; a file that cannot be opened or read ends the run
// before it starts, with the reason in the error box.
bool LoadSettingsOrShowError() {
  std::int32_t result = LoadSettings(IniFileName);
  if (result < 0) {
    ShowError("unable to open INI file");
  } else if (result > 0) {
    ShowError(Cat("error encountered in INI file on line ", IntToText(result)));
  }
  return result == 0;
}

}  // namespace

void ReadCommandLine(const std::vector<std::string>& arguments) {
  if (!arguments.empty()) IniFileName = arguments.front();
}

void RunWorker(const std::vector<std::string>& arguments) {
  DefineSettings();
  ClearTransferCounts();
  ReadCommandLine(arguments);
  if (LoadSettingsOrShowError()) RunTaskSequence(IniFileName);
  ReleaseSettings();
  RunResult.store(ExitStatus());
}

bool WorkerFinished() { return RunResult.load() != -1; }

void WorkerThread::Start(const std::vector<std::string>& arguments,
                         std::function<void()> onFinished) {
  if (Started()) return;
  thread_ = std::thread([arguments, onFinished = std::move(onFinished)] {
    RunWorker(arguments);
    if (onFinished) onFinished();
  });
}

WorkerThread::~WorkerThread() {
  if (!thread_.joinable()) return;
  if (!WorkerFinished()) {
    std::fflush(nullptr);
    std::_Exit(0);
  }
  thread_.join();
}
