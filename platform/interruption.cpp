#include "platform/interruption.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

namespace {

std::atomic<int> gSignal{0};

// A fixed table of plain buffers: a signal handler can read it without allocating or locking.
constexpr int kSlots = 4;
enum SlotState : int { kFree = 0, kFilling = 1, kSet = 2 };
struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX] = {};
};
// Initialised by the loader (zeros), not by code at start: that would touch a page per slot.
constinit Slot gSlots[kSlots];

}  // namespace

void noteInterruption(int signal) noexcept {
  int none = 0;
  gSignal.compare_exchange_strong(none, signal);
}

int interruptionSignal() noexcept { return gSignal.load(); }

void resetInterruptionForTesting() noexcept { gSignal = 0; }

TemporaryFileGuard::TemporaryFileGuard(const std::string& path) noexcept {
  if (path.size() >= PATH_MAX) return;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!gSlots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
    gSlots[i].state = kSet;
    slot_ = i;
    return;
  }
}

TemporaryFileGuard::~TemporaryFileGuard() {
  if (slot_ >= 0) gSlots[slot_].state = kFree;
}

void removeTemporaryFilesNow() noexcept {
  for (Slot& slot : gSlots)
    if (slot.state.load() == kSet) unlink(slot.path);
}
