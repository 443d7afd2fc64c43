#include "common/ProcessId.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace ledgerkit {

namespace {

std::atomic<pid_t> kept_id{0};

void ReadProcessId() { kept_id.store(::getpid(), std::memory_order_relaxed); }

}  // namespace

pid_t CurrentProcessId() {
  // Registered once, before the first id is kept: a fork after this runs the handler in the
  // child before fork returns there, so no code of the child sees its parent's id.
  static const bool registered = [] {
    ::pthread_atfork(nullptr, nullptr, &ReadProcessId);
    ReadProcessId();
    return true;
  }();
  static_cast<void>(registered);
  return kept_id.load(std::memory_order_relaxed);
}

}  // namespace ledgerkit
