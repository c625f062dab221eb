// The worker thread: loads the settings named on the command line and runs
// every assignment. It shares one value with the front end, RunResult.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quorbit {

// -1 while the worker runs; then the run's ExitStatus (0 to 7), stored as
// the worker's last act.
extern std::atomic<std::int32_t> RunResult;

// What loading the settings gave: 0 loaded, -1 the file could not be
// opened, otherwise the number of the line in error. Stored before RunResult.
extern std::atomic<std::int32_t> SettingsResult;

// The INI file to load: the first positional argument, "QUORBIT.INI" when
// there is none. The case is kept where file names are case-sensitive.
std::string IniFileNameOf(const std::vector<std::string>& arguments);

// The worker's whole life: settings, run, outcome. arguments are the
// positional command-line arguments.
void RunWorker(const std::vector<std::string>& arguments);

// The one worker thread of the process.
class WorkerThread {
 public:
  WorkerThread() = default;
  // Joins a finished worker. A worker still running means the user would
  // not wait for a requested stop: the process ends at once and the worker
  // with it, with the stop's exit code, removing the part file it was
  // writing; every log line written so far is already on disk.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // onFinished (optional) is called on the worker's thread once RunResult
  // holds the outcome, so a front end can end without polling for it. When
  // no thread can be started, the run has failed at once: RunResult says so
  // and onFinished is called on the caller's thread.
  void Start(const std::vector<std::string>& arguments,
             const std::function<void()>& onFinished = {});
  bool Started() const { return thread_.joinable(); }

 private:
  std::thread thread_;
};

bool WorkerFinished();

// The exit code of a run stopped by a signal (or the window's close button,
// which counts as SIGTERM): 128 + the signal's number; 0 when no stop was
// requested.
int StopExitCode();

}  // namespace quorbit
