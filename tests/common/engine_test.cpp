// The engine layer as a long-lived process sees it: a bounded statement cache, the Overflow
// mapping, refused paths, writers that queue, and company files that can only be read.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "common/ConnectionCache.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/DataAccess.h"
#include "common/Engine.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "reports/LedgerCheck.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

namespace fs = std::filesystem;
using testing::CaptureError;
using testing::DumpTables;
using testing::RawScalar;
using testing::TempCompany;

constexpr int32_t kReadOnly = static_cast<int32_t>(0x80050008u);
constexpr size_t kCacheBound = 128;

std::string KeyOf(const std::string& path) { return testing::CompanyKey(path); }

TEST(Engine, StatementCacheStaysBoundedAndFilesStatementsUnderTheTextAskedFor) {
  TempCompany company;
  const std::string key = KeyOf(company.path());
  // Many distinct texts through one kept connection, as a long-lived process looks values up.
  for (int i = 0; i < 10'000; ++i) {
    auto connection = TakeConnection(company.account(), key);
    auto statement = connection->Prepare(Sql("SELECT Name FROM ACAccount WHERE ACAccountID=" + std::to_string(i)));
    statement->Step();
    statement.reset();
    ReturnConnection(key, std::move(connection));
  }
  auto connection = TakeConnection(company.account(), key);
  EXPECT_GT(connection->CachedStatementCount(), 0u);
  EXPECT_LE(connection->CachedStatementCount(), kCacheBound);

  // A text whose tail the engine does not keep (blanks, a comment) is still found again: the one
  // statement is taken out of the cache and given back each time.
  const std::string sql = "SELECT COUNT(*) FROM ACAccount;  -- how many\n";
  connection->Prepare(Sql(sql)).reset();
  const size_t kept = connection->CachedStatementCount();
  for (int i = 0; i < 500; ++i) {
    auto statement = connection->Prepare(Sql(sql));
    ASSERT_TRUE(statement->Step());
    ASSERT_EQ(connection->CachedStatementCount(), kept - 1) << "a statement handed out is not in the cache";
  }
  EXPECT_EQ(connection->CachedStatementCount(), kept);
  ReturnConnection(key, std::move(connection));
}

// A write keeps its statement journal in memory: a statement that changes many pages makes no
// file in the engine's temporary folder, where the same statement on a plain connection does.
TEST(Engine, AWritesStatementJournalMakesNoTemporaryFile) {
  LEDGERKIT_FILE_ONLY("statement journals are the file engine's");
  TempCompany company;
  ASSERT_EQ(testing::RawExec(company.path(),
                             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<3000) "
                             "INSERT INTO ACAccount (Parent,AccountNumber,Name) SELECT 1, 10000+i, 'Account '||i FROM n"),
            "");
  const fs::path folder = fs::path(company.path()).parent_path() / "temporaries";
  fs::create_directory(folder);
  // Read by the engine whenever it names a temporary file; no other thread uses SQLite here. Put
  // back however the test ends, with the watch.
  struct Watched {
    explicit Watched(const fs::path& folder) : fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
      sqlite3_temp_directory = sqlite3_mprintf("%s", folder.c_str());
    }
    ~Watched() {
      if (fd >= 0) ::close(fd);
      sqlite3_free(sqlite3_temp_directory);
      sqlite3_temp_directory = nullptr;
    }
    int fd;
  } watched(folder);
  const int watch = watched.fd;
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, folder.c_str(), IN_CREATE), 0);
  const auto made_a_file = [&] {
    alignas(inotify_event) char events[4096];
    return ::read(watch, events, sizeof events) > 0;
  };
  const std::string rename = "UPDATE ACAccount SET Name=Name||' renamed' WHERE ACAccountID>1";

  UnitOfWork::Run(company.account(), Access::kWrite, [&] { OpenRecordset(company.account(), rename); });
  EXPECT_FALSE(made_a_file());
  // A read goes back to the engine's default, so that a large sort spills to a file.
  Variant where;
  UnitOfWork::Run(company.account(), Access::kRead,
                  [&] { where = OpenRecordset(company.account(), "PRAGMA temp_store")->Field(0); });
  EXPECT_EQ(ToText(where), "0");
  EXPECT_EQ(testing::RawExec(company.path(), "BEGIN; " + rename + "; COMMIT;"), "");
  EXPECT_TRUE(made_a_file()) << "the statement's journal is large enough to spill on the engine's defaults";
}

TEST(Engine, OverflowRaisedByATriggerReachesCallersAsRuntimeErrorSix) {
  TempCompany company;
  // A trigger reports an amount out of range as "Overflow: ..."; on the server with the
  // SQLSTATE of a number out of range.
  const bool server = testing::OnPostgres();
  ASSERT_EQ(testing::RawExec(
                company.path(),
                server ? "CREATE FUNCTION too_large() RETURNS trigger LANGUAGE plpgsql AS $f$ BEGIN RAISE EXCEPTION "
                         "'Overflow: The balance of an account is out of range.' USING ERRCODE = '22003'; END $f$;"
                         "CREATE TRIGGER TooLarge BEFORE UPDATE OF Balance ON ACAccount FOR EACH ROW WHEN "
                         "(NEW.Balance > 1000) EXECUTE FUNCTION too_large();"
                         "INSERT INTO ACAccount (Parent,AccountNumber,Name,Balance) VALUES (1,'1000','Bank',5);"
                       : "CREATE TRIGGER TooLarge BEFORE UPDATE OF Balance ON ACAccount WHEN NEW.Balance > 1000 "
                         "BEGIN SELECT RAISE(ABORT, 'Overflow: The balance of an account is out of range.'); END;"
                         "INSERT INTO ACAccount (Parent,AccountNumber,Name,Balance) VALUES (1,'1000','Bank',5);"),
            "");
  const Error error = CaptureError([&] { OpenRecordset(company.account(), "UPDATE ACAccount SET Balance=5000"); });
  EXPECT_EQ(error.number(), kOverflow);
  EXPECT_EQ(error.source(), "ledgerkit");
  EXPECT_TRUE(error.description().starts_with("The balance of an account is out of range.")) << error.description();
  EXPECT_EQ(RawScalar(company.path(), "SELECT Balance FROM ACAccount"), "5");
  // Any other abort keeps its engine number.
  ASSERT_EQ(testing::RawExec(company.path(),
                             server ? "CREATE FUNCTION no_name() RETURNS trigger LANGUAGE plpgsql AS $f$ BEGIN RAISE "
                                      "EXCEPTION 'Names are fixed.' USING ERRCODE = '23514'; END $f$;"
                                      "CREATE TRIGGER NoName BEFORE UPDATE OF Name ON ACAccount FOR EACH ROW "
                                      "EXECUTE FUNCTION no_name();"
                                    : "CREATE TRIGGER NoName BEFORE UPDATE OF Name ON ACAccount BEGIN "
                                      "SELECT RAISE(ABORT, 'Names are fixed.'); END;"),
            "");
  EXPECT_EQ(CaptureError([&] { OpenRecordset(company.account(), "UPDATE ACAccount SET Name='x'"); }).number(),
            testing::ExpectedError(testing::EngineFailure::kConstraint).number);
}

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

TEST(Engine, AnEmptyPathOrOneHoldingANulIsRefusedBeforeAnythingIsOpened) {
  TempCompany company;
  const std::string before = DumpTables(company.path());
  const std::set<std::string> files = Listing(company.folder());
  const std::string cut = company.path() + std::string("\0.ldb", 5);
  CACMgr ledger;
  for (const std::string& account : {cut, std::string()}) {
    const std::string problem = account.empty() ? "empty" : "NUL";
    for (const Error& error : {
             CaptureError([&] { OpenRecordset(account, "SELECT 1"); }),
             CaptureError([&] { ledger.AddAccountType(account, "alice", "", "Bank", "", false, bstASSET); }),
             CaptureError([&] { CReportMgr().ExecReportQuery(account, "DELETE FROM ACAccountType"); }),
             CaptureError([&] { UnitOfWork::Run(account, Access::kWrite, [] {}); }),
             CaptureError([&] { BuildConnectionString(account); }),
             CaptureError([&] { OpenEngine("Driver=SQLite;Dbq=" + account); }),
         }) {
      EXPECT_EQ(error.number(), kInvalidArgument) << problem;
      EXPECT_EQ(error.source(), "ledgerkit") << problem;
      EXPECT_NE(error.description().find(problem), std::string::npos) << error.description();
    }
  }
  EXPECT_EQ(DumpTables(company.path()), before);
  EXPECT_EQ(Listing(company.folder()), files);
}

// Holds a write unit on `path` in a thread until `release` is set; `inside` is set once it holds.
std::thread HoldWriter(const std::string& path, std::promise<void>& inside, std::shared_future<void> release) {
  return std::thread([&path, &inside, release] {
    UnitOfWork::Run(path, Access::kWrite, [&] {
      inside.set_value();
      release.wait();
    });
  });
}

class WaitLimit {
 public:
  explicit WaitLimit(std::chrono::milliseconds limit) : saved_(WriterWaitLimit()) { SetWriterWaitLimit(limit); }
  ~WaitLimit() { SetWriterWaitLimit(saved_); }

 private:
  std::chrono::milliseconds saved_;
};

TEST(Engine, AWriterWaitsForTheHolderAndGivesUpOnlyOnAStuckOneNamingTheFile) {
  TempCompany company;
  const WaitLimit limit(std::chrono::milliseconds(300));
  const auto write = [&](const std::string& value) {
    UnitOfWork::Run(company.account(), Access::kWrite,
                    [&] { OpenRecordset(company.account(), "UPDATE ISubScriber SET AccountNo='" + value + "'"); });
  };

  // A thread of this process holds the turn.
  {
    std::promise<void> inside, release;
    std::thread holder = HoldWriter(company.path(), inside, release.get_future().share());
    inside.get_future().wait();
    const Error error = CaptureError([&] { write("blocked"); });
    release.set_value();
    holder.join();
    EXPECT_EQ(error.number(), testing::ExpectedError(testing::EngineFailure::kBusy).number);
    EXPECT_EQ(error.source(), testing::EngineSource());
    EXPECT_NE(error.description().find(KeyOf(company.path())), std::string::npos) << error.description();
    EXPECT_NE(error.description().find("300 ms"), std::string::npos) << error.description();
  }
  write("after thread");
  EXPECT_EQ(RawScalar(company.path(), "SELECT AccountNo FROM ISubScriber"), "after thread");

  // Another process holds it.
  int inside[2], release[2];
  ASSERT_EQ(::pipe(inside), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(inside[0]);
    ::close(release[1]);
    try {
      UnitOfWork::Run(company.account(), Access::kWrite, [&] {
        OpenRecordset(company.account(), "UPDATE ISubScriber SET AccountNo='child'");
        ::close(inside[1]);
        char byte;
        while (::read(release[0], &byte, 1) < 0) {
        }
      });
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  ::close(inside[1]);
  ::close(release[0]);
  char byte;
  while (::read(inside[0], &byte, 1) < 0) {
  }
  const Error error = CaptureError([&] { write("blocked"); });
  ::close(release[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(inside[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(error.number(), testing::ExpectedError(testing::EngineFailure::kBusy).number) << error.description();
  EXPECT_NE(error.description().find(KeyOf(company.path())), std::string::npos) << error.description();
  EXPECT_EQ(RawScalar(company.path(), "SELECT AccountNo FROM ISubScriber"), "child");
  write("after process");
  EXPECT_EQ(RawScalar(company.path(), "SELECT AccountNo FROM ISubScriber"), "after process");
}

// Runs `body` in a child process that sees `folder` as a read-only mount. Returns the child's
// report ("" when every expectation held), or nullopt when no read-only mount can be made here.
std::optional<std::string> InReadOnlyMount(const fs::path& folder, const std::function<std::string()>& body) {
  int out[2];
  if (::pipe(out) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    ::close(out[0]);
    const std::string dir = folder.string();
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
      _exit(77);
    }
    std::string report;
    try {
      report = body();
    } catch (const Error& error) {
      report = "unexpected error " + std::to_string(error.number()) + ": " + error.description();
    }
    const bool written = ::write(out[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
    _exit(written ? 0 : 3);
  }
  ::close(out[1]);
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) report.append(buffer, static_cast<size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return std::nullopt;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the child failed: status " + std::to_string(status);
  return report;
}

TEST(Engine, ACompanyFileOnAReadOnlyMountIsReadAndCheckedAndWritesFailCleanly) {
  TempCompany scratch;
  const fs::path folder = scratch.folder() / "ro";
  fs::create_directory(folder);
  const std::string path = (folder / "books.ldb").string();
  CreateSubscriberDatabase(path, "Acme Trading", FirstUser{"alice", "secret"});
  CACMgr ledger;
  const Variant asset = ledger.AddAccountType(path, "alice", "", "Bank accounts", "", false, bstASSET);
  ledger.AddAccount(path, "alice", "", "1000", "Bank", "", "", false, "", 0, asset, 0);
  const std::string before = DumpTables(path);

  // Read as it is left by a running process (log and index present), then as a file copied
  // there on its own (no log, no index, none can be created).
  for (const bool alone : {false, true}) {
    if (alone) {
      ASSERT_EQ(testing::RawExec(path, "PRAGMA wal_checkpoint(TRUNCATE);"), "");
      const fs::path copy = scratch.folder() / "copy.ldb";
      fs::copy_file(path, copy);
      for (const char* suffix : {"", "-wal", "-shm", "-lock"}) fs::remove(path + suffix);
      fs::rename(copy, path);
    }
    const std::set<std::string> names = Listing(folder);
    const auto report = InReadOnlyMount(folder, [&] {
      std::string problems;
      const auto expect = [&problems](bool holds, const std::string& what) {
        if (!holds) problems += what + "; ";
      };
      CACMgr reader;
      expect(reader.GetAllAccounts(path, "alice", "")->Count() == 1, "GetAllAccounts");
      const auto findings = CheckCompanyFile(path);
      expect(findings.empty(), "check found " + std::to_string(findings.size()));
      expect(ToText(CReportMgr().ExecReportQuery(path, "SELECT Name FROM ACAccount")->Field("Name")) == "Bank",
             "report SELECT");
      for (const Error& error : {
               CaptureError([&] { reader.AddAccount(path, "alice", "", "1100", "Till", "", "", false, "", 0, asset, 0); }),
               CaptureError([&] { CReportMgr().ExecReportQuery(path, "DELETE FROM ACAccount"); }),
           }) {
        expect(error.source() == "SQLite" && (error.number() == kReadOnly),
               "write failed with " + std::to_string(error.number()) + ": " + error.description());
      }
      expect(reader.GetAllAccounts(path, "alice", "")->Count() == 1, "GetAllAccounts after the failed writes");
      return problems;
    });
    if (!report) GTEST_SKIP() << "no read-only mount can be made here (needs unshare and mount rights)";
    EXPECT_EQ(*report, "") << (alone ? "file alone" : "with its log");
    EXPECT_EQ(Listing(folder), names) << "nothing created beside the file";
    EXPECT_EQ(DumpTables(path), before);
  }
}

}  // namespace
}  // namespace ledgerkit
