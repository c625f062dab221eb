// The road of status updates from the worker to a front end: the worker
// pushes, the front end takes them on its own thread. The worker never waits
// for the front end, except for the answer to an error box that waits.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "report/runlog.h"

namespace quorbit {

struct StatusUpdate {
  enum class Kind : std::uint8_t {
    kLine,  // number: status line 1..3
    kMemoLine,
    kPercent,  // number: 0..100
    kByteCount,
    kHidePercent,
    kHideByteCount,
    kError,
  };
  Kind kind = Kind::kMemoLine;
  int number = 0;
  std::string text;
};

// Hands one update to the matching call of a front end's view: the dispatch
// the console and both windows share. A view that makes the worker wait on an
// error answers the queue (ErrorDismissed) once it has shown it.
void Deliver(const StatusUpdate& update, StatusSink& view);

class UpdateQueue : public StatusSink {
 public:
  // errorsWait: ShowError returns only once the front end calls
  // ErrorDismissed. wake (optional) is called on the worker's thread when an
  // update arrives in an empty queue; it must not block.
  explicit UpdateQueue(bool errorsWait, std::function<void()> wake = {});

  void SetLine(int n, std::string_view text) override;
  void AddMemoLine(std::string_view text) override;
  void ShowPercent(int percent) override;
  void ShowByteCount(std::string_view caption) override;
  void HidePercent() override;
  void HideByteCount() override;
  void ShowError(std::string_view text) override;

  // Front end side.
  std::vector<StatusUpdate> TakeAll();
  void ErrorDismissed();

 private:
  void Push(StatusUpdate::Kind kind, int number, std::string_view text);

  const bool errorsWait_;
  const std::function<void()> wake_;
  std::mutex mutex_;
  std::condition_variable dismissed_;
  std::deque<StatusUpdate> updates_;
  bool errorOpen_ = false;
};

}  // namespace quorbit
