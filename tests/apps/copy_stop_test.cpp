// A copy or a new company stopped part of the way, by SIGINT, SIGTERM or SIGKILL, and creators of
// one company name racing on a server: no half-made company is ever left, and the name stays free
// for the next try. The server cases run when LEDGERKIT_TEST_PG names a server.
#include <gtest/gtest.h>

#ifdef LEDGERKIT_WITH_POSTGRESQL
#include <libpq-fe.h>
#endif
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "entities/Catalog.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CliRun;
using testing::RunLedgerkit;
using testing::ShellQuote;

constexpr auto kPatience = std::chrono::seconds(60);

const char* SignalName(int signal_number) {
  return signal_number == SIGINT ? "SIGINT" : signal_number == SIGTERM ? "SIGTERM" : "SIGKILL";
}

// `ledgerkit ARGS...` started in the background, its output thrown away; its server sessions
// carry `application` as their name, so the test can tell what they wait for.
class Background {
 public:
  // Standard error goes to `err_file` when one is given.
  Background(const std::vector<std::string>& args, const std::string& application, const std::string& err_file = "") {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("PGAPPNAME", application.c_str(), 1);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(err_file.empty() ? null : ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      std::vector<char*> argv{const_cast<char*>(testing::CliPath())};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(testing::CliPath(), argv.data());
      ::_exit(127);
    }
  }
  ~Background() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // True once the process has ended.
  bool Ended() {
    if (status_) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return status_.has_value();
  }
  // "exit N" or "killed by SIGNAME", once the process has ended.
  std::string Wait() {
    if (!status_) {
      int status = 0;
      ::waitpid(pid_, &status, 0);
      status_ = status;
    }
    return WIFEXITED(*status_) ? "exit " + std::to_string(WEXITSTATUS(*status_))
                               : std::string("killed by ") + SignalName(WTERMSIG(*status_));
  }
  void Signal(int signal_number) { ::kill(pid_, signal_number); }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Polls `ready` until it holds; false when `process` ended first or the patience ran out.
bool WaitFor(Background& process, const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    if (ready()) return true;
    if (process.Ended()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

#ifdef LEDGERKIT_WITH_POSTGRESQL
// A session of the test's own on the server, to hold what a copy is to wait for.
class Holder {
 public:
  Holder() : conn_(PQconnectdb(testing::PostgresServer().c_str())) {
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
  }
  ~Holder() { PQfinish(conn_); }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  // The server's error message, or "" when it ran.
  std::string Run(const std::string& sql) {
    PGresult* result = PQexec(conn_, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    std::string error = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK ? "" : PQresultErrorMessage(result);
    PQclear(result);
    return error;
  }

 private:
  PGconn* conn_;
};

std::string Sessions(const std::string& application, const std::string& condition = "true") {
  return testing::RawScalar(testing::PostgresCompanyUri("lk_none"),
                            "SELECT count(*) FROM pg_stat_activity WHERE application_name = '" + application +
                                "' AND " + condition);
}

// What the server holds of the company `name`: its schema and its report role, "none" for neither.
std::string OnServer(const std::string& name) {
  return testing::RawScalar(testing::PostgresCompanyUri("lk_none"),
                            "SELECT CASE WHEN count(*) = 0 THEN 'none' ELSE string_agg(what, ', ' ORDER BY what) END "
                            "FROM (SELECT 'schema' AS what FROM pg_namespace WHERE nspname = '" + name +
                                "' UNION ALL SELECT 'role ' || rolname FROM pg_roles WHERE starts_with(rolname, 'lk_" +
                                name + "_')) t");
}

#endif  // LEDGERKIT_WITH_POSTGRESQL

std::set<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// The entries of `folder` that `before` did not have and whose names hold `part`.
std::set<std::string> NewEntries(const std::filesystem::path& folder, const std::set<std::string>& before,
                                 const std::string& part) {
  std::set<std::string> added;
  for (const std::string& name : FolderEntries(folder)) {
    if (!before.contains(name) && name.find(part) != std::string::npos) added.insert(name);
  }
  return added;
}

// The unfinished files of `file`'s name in `folder` that `before` did not have.
std::set<std::string> Unfinished(const std::filesystem::path& folder, const std::set<std::string>& before,
                                 const std::string& file) {
  return NewEntries(folder, before, "." + file + ".lk-unfinished-");
}

std::string RegisterRows(const std::filesystem::path& folder, const std::string& company) {
  const CliRun run = RunLedgerkit(folder, "query " + ShellQuote(company) + " 'SELECT count(*) AS n FROM ACTransaction' --csv");
  return run.exit_code == 0 ? run.out : "error: " + run.err;
}

// The demo company with its register grown `times` over by the file's own SQL, so a copy of it
// takes long enough to be stopped part of the way.
void MakeBigCompany(const std::filesystem::path& folder, const std::string& file, int times) {
  ASSERT_EQ(RunLedgerkit(folder, "demo " + ShellQuote(file)).exit_code, 0);
  std::string columns;
  for (const TableDef& table : SchemaTables()) {
    if (table.name != std::string_view("ACTransaction")) continue;
    for (size_t i = 1; i < table.columns.size(); ++i) columns += (columns.empty() ? "" : ", ") + std::string(table.columns[i].name);
  }
  ASSERT_EQ(testing::RawExec(file, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                                       std::to_string(times) + ") INSERT INTO ACTransaction (" + columns + ") SELECT " +
                                       columns + " FROM ACTransaction, n;"),
            "");
}

// A copy between files stopped by each signal once it has begun writing: it leaves nothing but,
// after SIGKILL, its hidden unfinished file (which is no company); or, when it had just finished,
// the whole company. Another copy to that name then succeeds.
TEST(CopyStop, ACopyToAFileStoppedByAnySignalLeavesNoDestination) {
  testing::TempCompany scratch;
  const std::filesystem::path folder = scratch.folder();
  const std::string big = (folder / "big.ldb").string();
  MakeBigCompany(folder, big, 2500);
  const std::string rows = RegisterRows(folder, big);
  const std::string copy = (folder / "copy.ldb").string();

  // Stopped as soon as the unfinished file is there, and once rows have spilled into its log.
  const std::vector<std::pair<const char*, std::function<bool(const std::set<std::string>&)>>> points = {
      {"begun", [&](const std::set<std::string>& before) { return !Unfinished(folder, before, "copy.ldb").empty(); }},
      {"writing rows",
       [&](const std::set<std::string>& before) {
         for (const std::string& name : Unfinished(folder, before, "copy.ldb")) {
           std::error_code ignored;
           if (name.ends_with("-wal") && std::filesystem::file_size(folder / name, ignored) > (1u << 20) && !ignored) {
             return true;
           }
         }
         return false;
       }},
  };
  for (const int signal_number : {SIGINT, SIGTERM, SIGKILL}) {
    for (const auto& [point, reached] : points) {
      SCOPED_TRACE(std::string(SignalName(signal_number)) + ", " + point);
      const std::set<std::string> before = FolderEntries(folder);
      Background copying({"copy", big, copy}, "unused");
      if (WaitFor(copying, [&] { return reached(before); })) {
        copying.Signal(signal_number);
      } else {
        ASSERT_EQ(copying.Wait(), "exit 0");  // done before the point was seen
      }
      const std::string ended = copying.Wait();
      if (std::filesystem::exists(copy)) {
        // Finished before the signal came: then it is whole.
        EXPECT_EQ(RegisterRows(folder, copy), rows);
        std::filesystem::remove(copy);
      } else {
        EXPECT_EQ(ended, std::string("killed by ") + SignalName(signal_number));
      }
      // Nothing else of the copy's name is there: no log, no lock file.
      EXPECT_EQ(NewEntries(folder, before, "copy.ldb"), Unfinished(folder, before, "copy.ldb"));
      for (const std::string& left : Unfinished(folder, before, "copy.ldb")) {
        EXPECT_EQ(signal_number, SIGKILL) << left << " was left behind";
        if (left.ends_with("-wal") || left.ends_with("-shm") || left.ends_with("-journal")) continue;
        // Not even a company under its own name: the mark goes in with the last commit.
        const CliRun check = RunLedgerkit(folder, "check " + ShellQuote((folder / left).string()));
        EXPECT_EQ(check.exit_code, 1) << left;
        EXPECT_NE(check.err.find("is not a ledgerkit company"), std::string::npos) << check.err;
      }
    }
    const CliRun again = RunLedgerkit(folder, "copy " + ShellQuote(big) + " " + ShellQuote(copy));
    ASSERT_EQ(again.exit_code, 0) << again.err;
    EXPECT_EQ(RegisterRows(folder, copy), rows);
    std::filesystem::remove(copy);
  }
  // A new company file stopped early leaves nothing either.
  const std::set<std::string> before = FolderEntries(folder);
  const std::string fresh = (folder / "fresh.ldb").string();
  Background creating({"new", fresh, "--company", "Fresh"}, "unused");
  creating.Signal(SIGTERM);
  if (creating.Wait() != "exit 0") {
    EXPECT_EQ(NewEntries(folder, before, "fresh.ldb"), std::set<std::string>());
  }
}

#ifdef LEDGERKIT_WITH_POSTGRESQL
#define REQUIRE_SERVER()                                                                   \
  do {                                                                                     \
    if (testing::PostgresServer().empty()) GTEST_SKIP() << "LEDGERKIT_TEST_PG is not set"; \
  } while (false)

// Copies to a server stopped by each signal: at once, while waiting for the company's name (the
// transaction begun), and with every row written and only the report role's rights and the commit
// to go. Each leaves neither the schema nor the report role, and the next copy succeeds; copies
// from the server into a file stopped while reading the register leave no file.
TEST(CopyStop, ACopyToOrFromAServerStoppedByAnySignalLeavesNoDestination) {
  REQUIRE_SERVER();
  testing::TempCompany scratch;
  const std::filesystem::path folder = scratch.folder();
  const std::string demo = (folder / "demo.ldb").string();
  ASSERT_EQ(RunLedgerkit(folder, "demo " + ShellQuote(demo)).exit_code, 0);
  const std::string rows = RegisterRows(folder, demo);
  const std::string tag = "lkstop_" + std::to_string(::getpid());
  const std::string name = tag + "_up";
  const std::string uri = testing::PostgresCompanyUri(name);
  testing::DropPostgresCompany(uri);
  Holder holder;

  // A register grown large enough that its rows take the copy a while to send.
  const std::string big = (folder / "big.ldb").string();
  MakeBigCompany(folder, big, 300);
  struct Point {
    const char* what;
    const std::string& source;
    std::string hold;   // taken by the test's session before the copy starts, released after
    std::string ready;  // what the copy's session shows once it got there
  };
  const std::vector<Point> points = {
      {"at once", demo, "", ""},
      {"waiting for the name", demo, "BEGIN; CREATE SCHEMA " + name + ";", "wait_event_type = 'Lock'"},
      {"writing the register", big, "", "query LIKE 'INSERT INTO ACTransaction %'"},
      {"before the commit", demo, "BEGIN; SELECT pg_advisory_xact_lock(7740301065551);", "wait_event_type = 'Lock'"},
  };
  for (const Point& point : points) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGKILL}) {
      SCOPED_TRACE(std::string(point.what) + ", " + SignalName(signal_number));
      const std::string application = tag + "_" + std::to_string(signal_number);
      if (!point.hold.empty()) {
        ASSERT_EQ(holder.Run(point.hold), "");
      }
      Background copying({"copy", point.source, uri}, application);
      if (!point.ready.empty()) {
        ASSERT_TRUE(WaitFor(copying, [&] { return Sessions(application, point.ready) == "1"; })) << copying.Wait();
      }
      copying.Signal(signal_number);
      const std::string ended = copying.Wait();
      if (!point.ready.empty()) {
        EXPECT_EQ(ended, std::string("killed by ") + SignalName(signal_number));
      }
      if (!point.hold.empty()) {
        ASSERT_EQ(holder.Run("ROLLBACK"), "");
      }
      // The server ends the session once it finds its client gone, rolling back.
      const auto deadline = std::chrono::steady_clock::now() + kPatience;
      while (Sessions(application) != "0" && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      if (ended == "exit 0") {
        EXPECT_EQ(RegisterRows(folder, uri), RegisterRows(folder, point.source));  // finished first: whole
      } else {
        EXPECT_EQ(OnServer(name), "none");
      }
      testing::DropPostgresCompany(uri);
    }
  }
  const CliRun up = RunLedgerkit(folder, "copy " + ShellQuote(demo) + " " + ShellQuote(uri));
  ASSERT_EQ(up.exit_code, 0) << up.err;
  EXPECT_EQ(RegisterRows(folder, uri), rows);
  EXPECT_NE(OnServer(name).find("role lk_" + name + "_"), std::string::npos);

  // Down into a file, stopped while the source's register is locked away: the unfinished file
  // is there, holding the tables before it, and goes with SIGINT and SIGTERM.
  const std::string down = (folder / "down.ldb").string();
  for (const int signal_number : {SIGINT, SIGTERM, SIGKILL}) {
    SCOPED_TRACE(std::string("down, ") + SignalName(signal_number));
    const std::set<std::string> before = FolderEntries(folder);
    const std::string application = tag + "_down_" + std::to_string(signal_number);
    ASSERT_EQ(holder.Run("BEGIN; LOCK TABLE " + name + ".ACTransaction IN ACCESS EXCLUSIVE MODE;"), "");
    Background copying({"copy", uri, down}, application);
    ASSERT_TRUE(WaitFor(copying, [&] { return Sessions(application, "wait_event_type = 'Lock'") == "1"; }))
        << copying.Wait();
    EXPECT_FALSE(Unfinished(folder, before, "down.ldb").empty());
    copying.Signal(signal_number);
    EXPECT_EQ(copying.Wait(), std::string("killed by ") + SignalName(signal_number));
    ASSERT_EQ(holder.Run("ROLLBACK"), "");
    EXPECT_FALSE(std::filesystem::exists(down));
    const std::set<std::string> left = NewEntries(folder, before, "down.ldb");
    EXPECT_EQ(left, Unfinished(folder, before, "down.ldb"));
    if (signal_number != SIGKILL) {
      EXPECT_EQ(left, std::set<std::string>());
    }
  }
  const CliRun back = RunLedgerkit(folder, "copy " + ShellQuote(uri) + " " + ShellQuote(down));
  ASSERT_EQ(back.exit_code, 0) << back.err;
  EXPECT_EQ(RegisterRows(folder, down), rows);
  testing::DropPostgresCompany(uri);
}

// Four `ledgerkit new` of one company name at once: one makes it, every other is told it exists
// (error 5), never the server's raw duplicate-key error.
TEST(CopyStop, CreatorsOfOneCompanyNameAtOnceGetOneCompanyAndAlreadyExists) {
  REQUIRE_SERVER();
  testing::TempCompany scratch;
  const std::filesystem::path folder = scratch.folder();
  const std::string tag = "lkrace_" + std::to_string(::getpid());
  const std::string uri = testing::PostgresCompanyUri(tag);
  testing::DropPostgresCompany(uri);
  // The test holds the name until all four wait for it, then lets it go: they meet at the name.
  Holder holder;
  ASSERT_EQ(holder.Run("BEGIN; CREATE SCHEMA " + tag + ";"), "");
  std::vector<std::unique_ptr<Background>> creators;
  for (int i = 0; i < 4; ++i) {
    creators.push_back(std::make_unique<Background>(
        std::vector<std::string>{"new", uri, "--company", "Race " + std::to_string(i), "--user", "owner", "--password", "pw"},
        tag, (folder / ("err-" + std::to_string(i))).string()));
  }
  ASSERT_TRUE(WaitFor(*creators[0], [&] { return Sessions(tag, "wait_event_type = 'Lock'") == "4"; }));
  ASSERT_EQ(holder.Run("ROLLBACK"), "");
  const std::string refusal = "The company " + tag + " already exists; a company is never written over an existing one.";
  int made = 0;
  for (int i = 0; i < 4; ++i) {
    const std::string ended = creators[static_cast<size_t>(i)]->Wait();
    std::ifstream err_file(folder / ("err-" + std::to_string(i)));
    const std::string err((std::istreambuf_iterator<char>(err_file)), std::istreambuf_iterator<char>());
    if (ended == "exit 0") {
      ++made;
      continue;
    }
    EXPECT_EQ(ended, "exit 1") << err;
    EXPECT_NE(err.find(refusal), std::string::npos) << err;
    EXPECT_NE(err.find("(error 5, "), std::string::npos) << err;
  }
  EXPECT_EQ(made, 1);
  EXPECT_EQ(testing::RawScalar(uri, "SELECT count(*) FROM ISubScriber"), "1");
  EXPECT_EQ(testing::RawScalar(uri, "SELECT count(*) FROM IUser"), "1");
  testing::DropPostgresCompany(uri);
}

#endif  // LEDGERKIT_WITH_POSTGRESQL

}  // namespace
}  // namespace ledgerkit
