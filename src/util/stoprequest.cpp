#include "util/stoprequest.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <limits>

namespace quorbit {

namespace {

// Lock-free, so that a signal handler may use them.
std::atomic<int> requestedBy{0};
std::atomic<bool> requested{false};
// When the first stop signal arrived; kNoSignal until one did.
constexpr std::int64_t kNoSignal = std::numeric_limits<std::int64_t>::min();
std::atomic<std::int64_t> firstSignalAtMs{kNoSignal};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
              std::atomic<std::int64_t>::is_always_lock_free &&
              std::atomic<unsigned>::is_always_lock_free);

// One noted part file. Its version is odd while the worker changes the slot,
// so that a reader from a signal handler can tell a path copied whole from
// one torn by a change, and skip the latter.
constexpr std::size_t kMaxPartPath = 4096;
struct PartFileSlot {
  std::atomic<unsigned> version{0};
  std::atomic<bool> noted{false};
  std::array<char, kMaxPartPath> path{};
};
// Downloads are written one at a time; a few slots leave room for a part
// file whose owner outlives the start of the next one.
std::array<PartFileSlot, 4> partFiles;

bool SlotHolds(const PartFileSlot& slot, std::string_view path) {
  return slot.noted && std::string_view(slot.path.data()) == path;
}

// Runs change on the slot with its version odd meanwhile. Only the worker
// changes slots, so no two changes meet.
template <typename Change>
void ChangeSlot(PartFileSlot& slot, Change change) {
  slot.version.fetch_add(1, std::memory_order_acq_rel);
  change(slot);
  slot.version.fetch_add(1, std::memory_order_release);
}

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
  firstSignalAtMs.store(kNoSignal);
}

bool RequestStopBySignal(int signalNumber, std::int64_t atMs) {
  std::int64_t first = kNoSignal;
  if (firstSignalAtMs.compare_exchange_strong(first, atMs)) {
    RequestStop(signalNumber);
    return false;
  }
  return atMs - first >= kImpatientSignalMs;
}

void NotePartFileInProgress(std::string_view path) {
  if (path.empty() || path.size() >= kMaxPartPath) return;
  for (PartFileSlot& slot : partFiles) {
    if (slot.noted) continue;
    ChangeSlot(slot, [path](PartFileSlot& free) {
      std::memcpy(free.path.data(), path.data(), path.size());
      free.path[path.size()] = '\0';
      free.noted = true;
    });
    return;
  }
}

void ForgetPartFileInProgress(std::string_view path) {
  for (PartFileSlot& slot : partFiles) {
    if (SlotHolds(slot, path)) ChangeSlot(slot, [](PartFileSlot& held) { held.noted = false; });
  }
}

void RemovePartFilesInProgress(void (*remove)(const char* path)) {
  for (PartFileSlot& slot : partFiles) {
    const unsigned before = slot.version.load(std::memory_order_acquire);
    if (before % 2 != 0 || !slot.noted) continue;
    std::array<char, kMaxPartPath> path;
    std::memcpy(path.data(), slot.path.data(), path.size());
    std::atomic_thread_fence(std::memory_order_acquire);
    if (slot.version.load(std::memory_order_relaxed) != before) continue;
    path.back() = '\0';
    remove(path.data());
  }
}

}  // namespace quorbit
