// CallLimits: a report query held to its deadline or stopped by a service shutting down, and
// company files reached through symbolic links refused under refuse_links.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <algorithm>
#include <atomic>
#include <vector>
#include <string>
#include <thread>

#include "common/CallLimits.h"
#include "ledgerkit/common/DataAccess.h"
#include "ledgerkit/common/Error.h"
#include "common/RunningReport.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/reports/CReportMgr.h"
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
  TempCompany company;
  const size_t already = RunningReportCount();
  std::optional<Error> stopped;
  std::atomic<bool> finished{false};
  std::thread runner([&] {
    // Far off: the interrupt stops it long before; the deadline only keeps a failing test from hanging.
    const CallLimitsScope scope(WithDeadlineIn(std::chrono::seconds(120)));
    CReportMgr reports;
    stopped = CaptureError([&] { reports.ExecReportQuery(company.account(), kRunaway); });
    finished = true;
    // This thread's next ordinary call works.
    auto counted = reports.ExecReportQuery(company.account(), "SELECT count(*) AS n FROM ACAccount");
    EXPECT_EQ(counted->RecordCount(), 1);
  });
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (RunningReportCount() == already && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GT(RunningReportCount(), already) << "the report never started";
  // Registered a moment before the server has the statement, a report can miss a cancel sent in
  // between; a caller stopping the process calls it again while it waits, as this test does.
  while (!finished && std::chrono::steady_clock::now() < give_up) {
    InterruptRunningReports();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
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

// The names in `folder`, sorted: what a refused call must leave as it was.
std::vector<std::string> Listing(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

CallLimits NoLinks() {
  CallLimits limits;
  limits.refuse_links = true;
  return limits;
}

TEST(CallLimits, LinksAndOddFilesInTheDataFolderAreRefusedUnderRefuseLinks) {
  LEDGERKIT_FILE_ONLY("a company on the server has no file to link");
  TempCompany company;
  CReportMgr reports;
  const std::filesystem::path data = company.folder() / "data";
  const std::filesystem::path elsewhere = company.folder() / "elsewhere";
  std::filesystem::create_directories(data);
  std::filesystem::create_directories(elsewhere);
  const std::string victim = (elsewhere / "victim.ldb").string();
  std::filesystem::copy_file(company.path(), victim);
  const std::string evil = (data / "evil.ldb").string();
  std::filesystem::create_symlink(victim, evil);

  // The command-line tool (no scope) may open a linked file; an ordinary read leaves its
  // connection kept for this thread, under the file's resolved name.
  auto outside = OpenRecordset(Variant(evil), "SELECT count(*) AS n FROM ACAccount");
  EXPECT_EQ(outside->RecordCount(), 1);

  const auto victim_files = Listing(elsewhere);
  {
    const CallLimitsScope scope(NoLinks());
    const Error linked = CaptureError([&] { OpenRecordset(Variant(evil), "SELECT 1 AS one"); });
    EXPECT_NE(linked.description().find("\"" + evil + "\" is a symbolic link"), std::string::npos)
        << linked.description();
    // The file itself, named plainly, opens.
    auto direct = reports.ExecReportQuery(Variant(victim), "SELECT count(*) AS n FROM ACAccount");
    EXPECT_EQ(direct->RecordCount(), 1);
  }
  const auto after_direct = Listing(elsewhere);

  // A link to a file that is no company, a linked log beside a real copy, a FIFO, a folder.
  const std::string secret = (elsewhere / "passwd").string();
  std::ofstream(secret) << "root:x:0:0:root:/root:/bin/sh\n";
  std::filesystem::create_symlink(secret, data / "passwd.ldb");
  const std::string copy = (data / "copy.ldb").string();
  std::filesystem::copy_file(victim, copy);
  std::filesystem::create_symlink(elsewhere / "log", copy + "-wal");
  const std::string fifo = (data / "fifo.ldb").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = (data / "folder.ldb").string();
  std::filesystem::create_directories(folder);
  {
    const CallLimitsScope scope(NoLinks());
    const Error passwd = CaptureError([&] { reports.ExecReportQuery(Variant((data / "passwd.ldb").string()), "SELECT 1 AS one"); });
    EXPECT_NE(passwd.description().find("is a symbolic link"), std::string::npos) << passwd.description();
    const Error wal = CaptureError([&] { reports.ExecReportQuery(Variant(copy), "SELECT 1 AS one"); });
    EXPECT_NE(wal.description().find("\"" + copy + "-wal\" beside the company file is a symbolic link"),
              std::string::npos)
        << wal.description();
    const Error pipe = CaptureError([&] { reports.ExecReportQuery(Variant(fifo), "SELECT 1 AS one"); });
    EXPECT_NE(pipe.description().find("\"" + fifo + "\" is not a regular file"), std::string::npos)
        << pipe.description();
    const Error directory = CaptureError([&] { reports.ExecReportQuery(Variant(folder), "SELECT 1 AS one"); });
    EXPECT_NE(directory.description().find("is not a regular file"), std::string::npos) << directory.description();
  }
  EXPECT_EQ(Listing(elsewhere).size(), after_direct.size() + 1);  // the secret only: no log made at the link's target
  EXPECT_FALSE(std::filesystem::exists(elsewhere / "log"));
  std::ifstream read_back(secret);
  std::string line;
  std::getline(read_back, line);
  EXPECT_EQ(line, "root:x:0:0:root:/root:/bin/sh");

  // Outside a scope the linked company still opens.
  auto again = reports.ExecReportQuery(Variant(evil), "SELECT count(*) AS n FROM ACAccount");
  EXPECT_EQ(again->RecordCount(), 1);
}

}  // namespace
}  // namespace ledgerkit
