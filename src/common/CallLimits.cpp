#include "common/CallLimits.h"

#include <sys/stat.h>

#include <mutex>
#include <unordered_set>

#include "common/LinkCheck.h"
#include "common/RunningReport.h"
#include "common/Text.h"

namespace ledgerkit {

namespace {

thread_local CallLimits current_limits;

// Every report statement alive in the process. The lock is held while one registers, while one
// unregisters and while InterruptRunningReports reaches them, so a statement being destroyed is
// either still here whole or already gone.
struct Registry {
  std::mutex mutex;
  std::unordered_set<RunningReport*> running;
};

Registry& registry() {
  // Never destroyed: a thread still running a report at exit may unregister after statics die.
  static Registry* const all = new Registry;
  return *all;
}

}  // namespace

CallLimitsScope::CallLimitsScope(const CallLimits& limits) : saved_(current_limits) { current_limits = limits; }
CallLimitsScope::~CallLimitsScope() { current_limits = saved_; }

const CallLimits& CurrentCallLimits() { return current_limits; }

RunningReport::RunningReport(std::function<void()> cancel)
    : deadline_(current_limits.report_deadline),
      limit_seconds_(current_limits.report_limit_seconds),
      cancel_(std::move(cancel)) {
  Registry& all = registry();
  std::lock_guard lock(all.mutex);
  all.running.insert(this);
}

RunningReport::~RunningReport() {
  Registry& all = registry();
  std::lock_guard lock(all.mutex);
  all.running.erase(this);
}

bool RunningReport::MustStop() const {
  return Interrupted() || (HasDeadline() && std::chrono::steady_clock::now() >= deadline_);
}

std::string RunningReport::StopMessage() const {
  if (Interrupted()) return "The report query was stopped: the service is shutting down.";
  if (limit_seconds_ > 0) {
    return "The report query was stopped after " + std::to_string(limit_seconds_) +
           (limit_seconds_ == 1 ? " second" : " seconds") + ", the time limit of a report.";
  }
  return "The report query was stopped: it ran past the time limit of a report.";
}

void RunningReport::Interrupt() {
  interrupted_.store(true, std::memory_order_release);
  if (cancel_) cancel_();
}

size_t RunningReportCount() {
  Registry& all = registry();
  std::lock_guard lock(all.mutex);
  return all.running.size();
}

std::string LinkRefusal(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal", "-lock"}) {
    const std::string name = path + suffix;
    struct stat status {};
    if (::lstat(name.c_str(), &status) != 0) continue;  // not there: nothing is reached through it
    const std::string what = *suffix == '\0' ? "The company file " + QuoteForMessage(path)
                                             : "The file " + QuoteForMessage(name) + " beside the company file";
    if (S_ISLNK(status.st_mode)) return what + " is a symbolic link; a link is not followed here.";
    if (!S_ISREG(status.st_mode)) return what + " is not a regular file.";
  }
  return {};
}

void InterruptRunningReports() {
  Registry& all = registry();
  std::lock_guard lock(all.mutex);
  for (RunningReport* report : all.running) report->Interrupt();
}

}  // namespace ledgerkit
