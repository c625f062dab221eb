#include "app/updatequeue.h"

#include <utility>

namespace quorbit {

using Kind = StatusUpdate::Kind;

void Deliver(const StatusUpdate& update, StatusSink& view) {
  switch (update.kind) {
    case Kind::kLine:
      view.SetLine(update.number, update.text);
      break;
    case Kind::kMemoLine:
      view.AddMemoLine(update.text);
      break;
    case Kind::kPercent:
      view.ShowPercent(update.number);
      break;
    case Kind::kByteCount:
      view.ShowByteCount(update.text);
      break;
    case Kind::kHidePercent:
      view.HidePercent();
      break;
    case Kind::kHideByteCount:
      view.HideByteCount();
      break;
    case Kind::kError:
      view.ShowError(update.text);
      break;
  }
}

UpdateQueue::UpdateQueue(bool errorsWait, std::function<void()> wake)
    : errorsWait_(errorsWait), wake_(std::move(wake)) {}

void UpdateQueue::Push(Kind kind, int number, std::string_view text) {
  bool wasEmpty = false;
  {
    std::lock_guard lock(mutex_);
    wasEmpty = updates_.empty();
    updates_.push_back(StatusUpdate{kind, number, std::string(text)});
    if (kind == Kind::kError) errorOpen_ = errorsWait_;
  }
  // One wake per batch: the front end takes everything at once, so a busy
  // transfer does not flood its event loop.
  if (wasEmpty && wake_) wake_();
}

void UpdateQueue::SetLine(int n, std::string_view text) {
  Push(Kind::kLine, n, text);
}
void UpdateQueue::AddMemoLine(std::string_view text) {
  Push(Kind::kMemoLine, 0, text);
}
void UpdateQueue::ShowPercent(int percent) {
  Push(Kind::kPercent, percent, {});
}
void UpdateQueue::ShowByteCount(std::string_view caption) {
  Push(Kind::kByteCount, 0, caption);
}
void UpdateQueue::HidePercent() {
  Push(Kind::kHidePercent, 0, {});
}
void UpdateQueue::HideByteCount() {
  Push(Kind::kHideByteCount, 0, {});
}

void UpdateQueue::ShowError(std::string_view text) {
  Push(Kind::kError, 0, text);
  std::unique_lock lock(mutex_);
  dismissed_.wait(lock, [this] { return !errorOpen_; });
}

std::vector<StatusUpdate> UpdateQueue::TakeAll() {
  std::lock_guard lock(mutex_);
  std::vector<StatusUpdate> taken(updates_.begin(), updates_.end());
  updates_.clear();
  return taken;
}

void UpdateQueue::ErrorDismissed() {
  {
    std::lock_guard lock(mutex_);
    errorOpen_ = false;
  }
  dismissed_.notify_all();
}

}  // namespace quorbit
