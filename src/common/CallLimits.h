// CallLimits: what a host serving callers it does not trust (the HTTP service) holds the
// library's work on one thread to, for as long as a CallLimitsScope lives on that thread.
// Outside any scope nothing is limited: the command-line tool and a trusting program run as
// before.
//
// Library-internal. The scope is the thread's own; nothing it sets outlives it or reaches another
// thread, so no call changes what a later call sees.
#pragma once

#include <chrono>
#include <functional>

namespace ledgerkit {

class Variant;

struct CallLimits {
  // A report query (CReportMgr.ExecReportQuery) still running at this moment is stopped: the
  // call fails with a clean error naming the limit, and nothing the statement did is kept.
  std::chrono::steady_clock::time_point report_deadline = std::chrono::steady_clock::time_point::max();
  // How long the limit above was, in whole seconds, for the error's words (0: not said).
  long long report_limit_seconds = 0;
  // Company files, and every file the library opens or makes beside them (-wal, -shm, -journal,
  // -lock), are opened only when they are regular files reached without following a symbolic
  // link; anything else is refused as a file that cannot be opened.
  bool refuse_links = false;
  // When set, every outermost writing unit of work calls it with its Account once it holds the
  // company's write lock, before anything is written; what it throws fails the unit, nothing
  // written (a host refusing the writes of a company being moved).
  std::function<void(const Variant& account)> before_write;
};

// Sets the limits of this thread's calls until destroyed; scopes nest, the inner one holding.
class CallLimitsScope {
 public:
  explicit CallLimitsScope(const CallLimits& limits);
  ~CallLimitsScope();
  CallLimitsScope(const CallLimitsScope&) = delete;
  CallLimitsScope& operator=(const CallLimitsScope&) = delete;

 private:
  CallLimits saved_;
};

// The limits in force on this thread now.
const CallLimits& CurrentCallLimits();

// Stops every report query running in this process now, on every thread and engine (a service
// shutting down): each fails as past its deadline would. Later queries run normally.
void InterruptRunningReports();

}  // namespace ledgerkit
