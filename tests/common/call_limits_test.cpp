// CallLimits: a report query held to its deadline or stopped by a service shutting down, and
// company files reached through symbolic links refused under refuse_links.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "common/CallLimits.h"
#include "common/Error.h"
#include "common/RunningReport.h"
#include "common/UnitOfWork.h"
#include "reports/CReportMgr.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::RawScalar;
using testing::TempCompany;

// Counts for ever: only a deadline or an interrupt ends it.
constexpr const char* kRunaway =
    "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM n) SELECT count(*) FROM n";
// An UPDATE whose WHERE never finishes deciding.
constexpr const char* kRunawayUpdate =
    "UPDATE ISubScriber SET AccountNo='changed' WHERE (WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 "
    "FROM n) SELECT count(*) FROM n) > 0";

CallLimits WithDeadlineIn(std::chrono::seconds limit) {
  CallLimits limits;
  limits.report_deadline = std::chrono::steady_clock::now() + limit;
  limits.report_limit_seconds = limit.count();
  return limits;
}

TEST(CallLimits, ARunawayReportStopsAtItsDeadlineAndKeepsNothing) {
  LEDGERKIT_FILE_ONLY("a report on the server is not held to a deadline yet");
  TempCompany company;
  CReportMgr reports;
  const std::string before = RawScalar(company.path(), "SELECT AccountNo FROM ISubScriber");
  {
    const CallLimitsScope scope(WithDeadlineIn(std::chrono::seconds(1)));
    const Error select = CaptureError([&] { reports.ExecReportQuery(company.account(), kRunaway); });
    EXPECT_NE(select.description().find("The report query was stopped after 1 second, the time limit of a report."),
              std::string::npos)
        << select.description();
  }
  {
    const CallLimitsScope scope(WithDeadlineIn(std::chrono::seconds(1)));
    const Error update = CaptureError([&] { reports.ExecReportQuery(company.account(), kRunawayUpdate); });
    EXPECT_NE(update.description().find("time limit of a report"), std::string::npos) << update.description();
  }
  EXPECT_EQ(RawScalar(company.path(), "SELECT AccountNo FROM ISubScriber"), before);

  // Inside a unit of work a write the unit made before the runaway statement goes with it.
  {
    const CallLimitsScope scope(WithDeadlineIn(std::chrono::seconds(1)));
    const Error in_unit = CaptureError([&] {
      UnitOfWork::Run(company.account(), Access::kWrite, [&] {
        reports.ExecReportQuery(company.account(), "UPDATE ISubScriber SET AccountNo='first'");
        reports.ExecReportQuery(company.account(), kRunaway);
      });
    });
    EXPECT_NE(in_unit.description().find("time limit of a report"), std::string::npos) << in_unit.description();
  }
  EXPECT_EQ(RawScalar(company.path(), "SELECT AccountNo FROM ISubScriber"), before);

  // The same thread's next calls, in a scope and out of one, run as ever.
  {
    const CallLimitsScope scope(WithDeadlineIn(std::chrono::seconds(600)));
    auto counted = reports.ExecReportQuery(company.account(), "SELECT count(*) AS n FROM ACAccount");
    EXPECT_EQ(counted->RecordCount(), 1);
  }
  auto update = reports.ExecReportQuery(company.account(), "UPDATE ISubScriber SET AccountNo='after'");
  EXPECT_EQ(RawScalar(company.path(), "SELECT AccountNo FROM ISubScriber"), "after");
  EXPECT_EQ(RunningReportCount(), 0u);
}

TEST(CallLimits, InterruptStopsAReportRunningOnAnotherThreadAndLaterOnesRun) {
  LEDGERKIT_FILE_ONLY("a report on the server is not interrupted yet");
  TempCompany company;
  const size_t already = RunningReportCount();
  std::optional<Error> stopped;
  std::thread runner([&] {
    // Far off: the interrupt stops it long before; the deadline only keeps a failing test from hanging.
    const CallLimitsScope scope(WithDeadlineIn(std::chrono::seconds(120)));
    CReportMgr reports;
    stopped = CaptureError([&] { reports.ExecReportQuery(company.account(), kRunaway); });
    // This thread's next ordinary call works.
    auto counted = reports.ExecReportQuery(company.account(), "SELECT count(*) AS n FROM ACAccount");
    EXPECT_EQ(counted->RecordCount(), 1);
  });
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (RunningReportCount() == already && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GT(RunningReportCount(), already) << "the report never started";
  InterruptRunningReports();
  runner.join();
  ASSERT_TRUE(stopped.has_value());
  EXPECT_NE(stopped->description().find("The report query was stopped: the service is shutting down."),
            std::string::npos)
      << stopped->description();

  // A report started after the interrupt runs to its end.
  CReportMgr reports;
  auto finite = reports.ExecReportQuery(
      company.account(), "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM n WHERE x<200000) "
                         "SELECT count(*) AS c FROM n");
  EXPECT_EQ(finite->RecordCount(), 1);
}

}  // namespace
}  // namespace ledgerkit
