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
#include "util/localfiles.h"
#include "util/stoprequest.h"

Str255 IniFileName = "QUORBIT.INI";
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
bool LoadSettingsOrShowError() {
  std::int32_t result = LoadSettings(IniFileName);
  SettingsResult.store(result);
  if (result < 0) {
    Str255 text = Cat("cannot open INI file ", IniFileName);
    text += ": ";
    text += OpenFailureReason(IniFileName.Str());
    ShowError(text);
  } else if (result > 0) {
    ShowError(Cat("error encountered in INI file on line ", IntToText(result)));
  }
  return result == 0;
}

}  // namespace

void ReadCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return;
  // Where names ignore letter case the system shows the name upper-cased;
  // elsewhere upper-casing would make a lower-case name unreachable.
  IniFileName = kNamesIgnoreCase ? UpperStr(arguments.front()) : Str255(arguments.front());
}

void RunWorker(const std::vector<std::string>& arguments) {
  DefineSettings();
  ClearTransferCounts();
  ReadCommandLine(arguments);
  if (LoadSettingsOrShowError()) RunTaskSequence(IniFileName);
  ReleaseSettings();
  RunResult.store(ExitStatus());
}

bool WorkerFinished() {
  return RunResult.load() != -1;
}

int StopExitCode() {
  return StopSignal() != 0 ? 128 + StopSignal() : 0;
}

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
    RemovePartFilesInProgress([](const char* path) { std::remove(path); });
    std::_Exit(StopExitCode());
  }
  thread_.join();
}
