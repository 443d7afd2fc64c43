#include "common/UnfinishedFiles.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <thread>

namespace ledgerkit {

namespace {

// A slot is free, being filled, registered, or taken by the handler (which never gives it back:
// the process ends). Only lock-free atomics and fixed buffers: the handler may run at any moment.
enum SlotState : int { kFree, kFilling, kRegistered, kRemoving };

constexpr size_t kSuffixRoom = 16;

struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX + kSuffixRoom];
};

Slot slots[kUnfinishedFileSlots];

void RemoveWithSuffix(char* path, size_t length, const char* suffix) {
  std::memcpy(path + length, suffix, std::strlen(suffix) + 1);
  ::unlink(path);
  path[length] = '\0';
}

}  // namespace

UnfinishedFile::UnfinishedFile(const std::string& path) {
  if (path.size() >= PATH_MAX) return;
  for (int i = 0; i < kUnfinishedFileSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].state.store(kRegistered);
    slot_ = i;
    return;
  }
}

UnfinishedFile::~UnfinishedFile() {
  if (slot_ < 0) return;
  for (;;) {
    int expected = kRegistered;
    if (slots[slot_].state.compare_exchange_strong(expected, kFree)) return;
    // A handler on another thread is removing it and ends the process.
    std::this_thread::yield();
  }
}

void RemoveUnfinishedFiles() noexcept {
  for (Slot& slot : slots) {
    int expected = kRegistered;
    if (!slot.state.compare_exchange_strong(expected, kRemoving)) continue;
    const size_t length = std::strlen(slot.path);
    for (const char* suffix : {"-wal", "-shm", "-journal", ""}) RemoveWithSuffix(slot.path, length, suffix);
  }
}

}  // namespace ledgerkit
