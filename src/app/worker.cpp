#include "app/worker.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "app/taskrun.h"
#include "config/settings.h"
#include "report/runlog.h"
#include "report/transfercounts.h"
#include "util/filesystem.h"
#include "util/localpaths.h"
#include "util/stoprequest.h"

namespace quorbit {

std::atomic<std::int32_t> RunResult{-1};
std::atomic<std::int32_t> SettingsResult{0};

namespace {

// The system's reason why the file cannot be read as an INI file; a
// directory opens for reading but is none.
std::string OpenFailureReason(const std::string& name) {
  EntryStatus status;
  int error = StatPath(name, true, status);
  if (error == 0 && status.kind == EntryKind::Directory) error = EISDIR;
  if (error == 0) {
    std::FILE* file = OpenStream(name, "rb");
    error = file ? 0 : errno;
    if (file) std::fclose(file);
  }
  return error != 0 ? std::generic_category().message(error) : "unreadable";
}

// Loads the settings; a file that cannot be opened or read ends the run
// before it starts, with the reason in the error box.
bool LoadSettingsOrShowError(const std::string& iniFileName, RunContext& context) {
  std::int32_t result = LoadSettings(iniFileName, context);
  SettingsResult.store(result);
  if (result < 0) {
    ShowError("cannot open INI file " + iniFileName + ": " + OpenFailureReason(iniFileName));
  } else if (result > 0) {
    ShowError("error encountered in INI file on line " + std::to_string(result));
  }
  return result == 0;
}

}  // namespace

std::string IniFileNameOf(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::string(kDefaultIniName);
  // Where names ignore letter case the system shows the name upper-cased;
  // elsewhere upper-casing would make a lower-case name unreachable.
  std::string name = arguments.front();
  if (kNamesIgnoreCase) {
    for (char& c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return name;
}

void RunWorker(const std::vector<std::string>& arguments) {
  ClearTransferCounts();
  const std::string iniFileName = IniFileNameOf(arguments);
  RunContext context;
  if (LoadSettingsOrShowError(iniFileName, context)) RunTaskSequence(context, iniFileName);
  RunResult.store(ExitStatus());
}

bool WorkerFinished() {
  return RunResult.load() != -1;
}

int StopExitCode() {
  return StopSignal() != 0 ? 128 + StopSignal() : 0;
}

void WorkerThread::Start(const std::vector<std::string>& arguments,
                         const std::function<void()>& onFinished) {
  if (Started()) return;
  try {
    thread_ = std::thread([arguments, onFinished] {
      RunWorker(arguments);
      if (onFinished) onFinished();
    });
  } catch (const std::system_error& error) {
    // Without a thread (the system's limit of threads or memory reached)
    // nothing runs: the run ends as failed and says why, on the error
    // stream, since a window would need the worker to show it.
    std::fprintf(stderr, "quorbit: unable to start the run: %s\n", error.what());
    CountFailure();
    RunResult.store(ExitStatus());
    if (onFinished) onFinished();
  }
}

WorkerThread::~WorkerThread() {
  if (!thread_.joinable()) return;
  if (!WorkerFinished()) {
    std::fflush(nullptr);
    RemovePartFilesInProgress([](const char* path) { std::remove(path); });
    std::_Exit(StopExitCode());
  }
  thread_.join();
}

}  // namespace quorbit
