// RunningReport: one report statement (EngineConnection::PrepareReport) while it exists, known
// to InterruptRunningReports and holding the report deadline of the thread that made it.
//
// Library-internal; the engines make one per report statement.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace ledgerkit {

class RunningReport {
 public:
  // Takes this thread's report deadline (CurrentCallLimits) and registers the statement.
  // `cancel`, when given, is called by InterruptRunningReports from whichever thread calls it,
  // with the registry's lock held, so never after the destructor has returned; it must be safe to
  // call while the statement runs on its own thread (sqlite3_interrupt, PQcancel).
  explicit RunningReport(std::function<void()> cancel = {});
  // Unregisters; once it returns, `cancel` is not running and is never called again.
  ~RunningReport();
  RunningReport(const RunningReport&) = delete;
  RunningReport& operator=(const RunningReport&) = delete;

  // Whether the statement must stop now: interrupted, or past its deadline.
  bool MustStop() const;
  bool Interrupted() const { return interrupted_.load(std::memory_order_acquire); }
  bool HasDeadline() const { return deadline_ != std::chrono::steady_clock::time_point::max(); }
  std::chrono::steady_clock::time_point deadline() const { return deadline_; }
  // The words of the error a stopped statement fails with: the service shutting down, or the
  // time limit (in seconds, when the limit said how long it was).
  std::string StopMessage() const;

 private:
  friend void InterruptRunningReports();
  void Interrupt();

  std::chrono::steady_clock::time_point deadline_;
  long long limit_seconds_;
  std::atomic<bool> interrupted_{false};
  std::function<void()> cancel_;
};

// How many report statements are alive in the process now (a test waits for one to start).
size_t RunningReportCount();

}  // namespace ledgerkit
