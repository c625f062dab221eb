#include "util/stoprequest.h"

#include <atomic>

namespace {
// Lock-free, so that a signal handler may set it.
std::atomic<int> requestedBy{0};
std::atomic<bool> requested{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);
}  // namespace

void RequestStop(int signalNumber) {
  int none = 0;
  requestedBy.compare_exchange_strong(none, signalNumber);
  requested.store(true);
}

bool StopRequested() {
  return requested.load(std::memory_order_relaxed);
}

int StopSignal() {
  return requestedBy.load();
}

void ClearStopRequest() {
  requested.store(false);
  requestedBy.store(0);
}
