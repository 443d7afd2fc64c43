// The engine interface as the library outside the engine uses it: a company database made from
// the catalog (with the schema text files have always had), the typed transaction calls, the
// integrity check, the checkpoint, the writers' lock file and the SQL forms of the dialect.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "common/Catalog.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/DataAccess.h"
#include "common/DataAccessInternal.h"
#include "common/Engine.h"
#include "ledgerkit/common/Error.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/entities/Schema.h"
#include "reports/LedgerCheck.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

namespace fs = std::filesystem;
using testing::CaptureError;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

// Every object of the file with the text that made it, in one block.
std::string SchemaText(const std::string& path) {
  return RawScalar(path,
                   "SELECT group_concat(type||' '||name||char(10)||ifnull(sql,''), char(10)||char(10)) FROM "
                   "(SELECT type, name, sql FROM sqlite_master ORDER BY type, name)");
}

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// The values among `values` (SQL literals, read as the column `column1`) for which `condition`
// holds, in the order given.
std::string Matching(const Variant& account, const std::vector<std::string>& values, const std::string& condition) {
  std::string rows;
  for (size_t i = 0; i < values.size(); ++i) {
    rows += (i == 0 ? "(" : ",(") + values[i] + "," + std::to_string(i) + ")";
  }
  const auto result = OpenRecordset(account, "SELECT column1 FROM (VALUES " + rows + ") AS v WHERE " + condition +
                                                 " ORDER BY column2;");
  std::string text;
  for (; !result->AtEOF(); result->MoveNext()) text += (text.empty() ? "" : ",") + ToText(result->Field(0));
  return text;
}

TEST(EngineInterface, ANewCompanyFileHasTheSchemaTextFilesHaveAlwaysHad) {
  LEDGERKIT_FILE_ONLY("the schema text is the file's own; the server's schema is made from the catalog");
  TempCompany company;
  std::ifstream file(fs::path(LEDGERKIT_TEST_DATA_DIR) / "company-v4-schema.txt");
  ASSERT_TRUE(file.good());
  const std::string expected((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(SchemaText(company.path()) + "\n", expected);
}

TEST(EngineInterface, TheFileEngineKeepsNoMemoryStatistics) {
  LEDGERKIT_FILE_ONLY("the statistics are those of the file engine's allocations");
  // Turned off before the program's first use of the engine: none of a company's allocations is
  // counted (each count would cost a process-wide lock).
  TempCompany company;
  EXPECT_EQ(ToText(OpenRecordset(company.account(), "SELECT COUNT(*) FROM ACAccount;")->Field(0)), "0");
  sqlite3_int64 used = -1, highest = -1;
  ASSERT_EQ(sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &used, &highest, 0), SQLITE_OK);
  EXPECT_EQ(used, 0);
  EXPECT_EQ(highest, 0);
}

TEST(EngineInterface, ANewCompanyHasTheDefaultsTheCatalogStates) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO ACAccount (Parent,Name) VALUES (1,'Bank'); "
                    "INSERT INTO ACTransaction (Parent) VALUES (NULL); "
                    "INSERT INTO SysSessions (UserName) VALUES ('alice');"),
            "");
  EXPECT_EQ(RawScalar(company.path(), "SELECT quote(Balance) FROM ACAccount"), "0");
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM ACTransaction WHERE Reconciled=0"), "1");
  // The session's time is the local time of its making, to the second.
  EXPECT_EQ(RawScalar(company.path(),
                      testing::OnPostgres()
                          ? "SELECT CASE WHEN abs(extract(epoch FROM LastUpdate-localtimestamp))<86400 AND "
                            "LastUpdate=date_trunc('second',LastUpdate) THEN 1 ELSE 0 END FROM SysSessions"
                          : "SELECT abs(strftime('%s',LastUpdate)-strftime('%s','now','localtime'))<86400 "
                            "AND LastUpdate GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] *' FROM SysSessions"),
            "1");
  EXPECT_EQ(RawScalar(company.path(), "SELECT quote(AccountNo) FROM ISubScriber"), "NULL");
}

TEST(EngineInterface, CreateRefusesWhatExistsAndLeavesNothingHalfMade) {
  TempCompany company;
  std::set<std::string> before = Listing(company.folder());
  const std::string path = (company.folder() / "new.ldb").string();

  // A failure of the first rows is passed on, and the new file goes with everything beside it
  // (the log, its index and the writers' lock file of the failed unit).
  const Error failed = CaptureError([&] { CreateSubscriberDatabase(path, std::string(256, 'c')); });
  EXPECT_EQ(failed.number(), kInvalidArgument);
  EXPECT_EQ(Listing(company.folder()), before);
  const Error thrown = CaptureError([&] {
    CreateEngineDatabase(BuildConnectionString(path), CompanyCatalog(),
                         [] { throw Error::Runtime(kOverflow, "the first rows fail"); });
  });
  EXPECT_EQ(thrown.number(), kOverflow);
  EXPECT_EQ(thrown.description(), "the first rows fail");
  EXPECT_EQ(Listing(company.folder()), before);

  // An existing file is refused before anything runs, and stays as it was.
  const std::string schema = SchemaText(company.path());
  bool ran = false;
  const Error existing = CaptureError(
      [&] { CreateEngineDatabase(BuildConnectionString(company.path()), CompanyCatalog(), [&] { ran = true; }); });
  EXPECT_EQ(existing.number(), kInvalidArgument);
  EXPECT_NE(existing.description().find("already exists"), std::string::npos) << existing.description();
  EXPECT_FALSE(ran);
  EXPECT_EQ(SchemaText(company.path()), schema);
  EXPECT_EQ(RawScalar(company.path(), "SELECT CompanyName FROM ISubScriber"), "Acme Trading");
  // The reads above, which may only read, leave the engine's log and index beside the file.
  before = Listing(company.folder());

  // A driver no engine knows.
  for (const Error& error : {
           CaptureError([&] { CreateEngineDatabase("Driver=Other;Dbq=" + path, CompanyCatalog(), [] {}); }),
           CaptureError([&] { OpenEngine("Driver=Other;Dbq=" + path); }),
           CaptureError([&] { EngineDialectFor("Driver=Other;Dbq=" + path); }),
       }) {
    EXPECT_EQ(error.number(), kInvalidArgument);
    EXPECT_NE(error.description().find("names no known driver"), std::string::npos) << error.description();
  }
  EXPECT_EQ(Listing(company.folder()), before);

  // Made with no first rows: the marks and the version the catalog gives, and a file the
  // library opens as it is.
  CreateEngineDatabase(BuildConnectionString(path), CompanyCatalog(), [] {});
  EXPECT_EQ(RawScalar(path, "PRAGMA application_id"), std::to_string(CompanyCatalog().mark));
  EXPECT_EQ(RawScalar(path, "PRAGMA user_version"), std::to_string(CompanyCatalog().version));
  EXPECT_EQ(RawScalar(path, "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(ToText(OpenRecordset(path, "SELECT COUNT(*) FROM ISubScriber;")->Field(0)), "0");
}

TEST(EngineInterface, TransactionsAndSavepointsKeepOrUndoWhatTheyDid) {
  TempCompany company;
  const auto connection = OpenEngine(BuildConnectionString(company.path()));
  connection->CheckSchema(CompanyCatalog());
  const auto insert = [&](const char* name) {
    const auto statement = connection->Prepare(Sql("INSERT INTO ACAccountType (Parent,Name) VALUES (1,", kValue, ");"));
    statement->BindText(1, name);
    while (statement->Step()) {
    }
  };
  const auto names = [&] {
    return RawScalar(company.path(), "SELECT ifnull(group_concat(Name,','),'') FROM (SELECT Name FROM ACAccountType "
                                     "ORDER BY ACAccountTypeID)");
  };

  connection->Begin(Access::kWrite);
  connection->LockCompany();
  EXPECT_TRUE(connection->InTransaction());
  insert("Bank");
  connection->Savepoint();
  insert("Cash");
  connection->Savepoint();
  insert("Loan");
  connection->RollbackToSavepoint();  // undoes Loan only
  connection->ReleaseSavepoint();     // keeps Cash
  EXPECT_EQ(names(), "");             // nothing is seen outside before the commit
  connection->Commit();
  EXPECT_FALSE(connection->InTransaction());
  EXPECT_EQ(names(), "Bank,Cash");

  connection->Begin(Access::kWrite);
  insert("Equity");
  connection->Rollback();
  EXPECT_FALSE(connection->InTransaction());
  EXPECT_EQ(names(), "Bank,Cash");

  // A read transaction sees one state throughout, whatever is committed meanwhile.
  connection->Begin(Access::kRead);
  const auto count = [&] {
    const auto statement = connection->Prepare(Sql("SELECT COUNT(*) FROM ACAccountType;"));
    return statement->Step() ? statement->ColumnInteger(0).value_or(-1) : -1;
  };
  EXPECT_EQ(count(), 2);
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACAccountType (Parent,Name) VALUES (1,'Later');"), "");
  EXPECT_EQ(count(), 2);
  connection->Commit();
  EXPECT_EQ(count(), 3);
}

TEST(EngineInterface, IntegrityCheckCheckpointAndTheWritersLockFile) {
  LEDGERKIT_FILE_ONLY("the log, its checkpoint, the writers' lock file and the index check are the file's own");
  TempCompany company;
  {
    const auto connection = OpenEngine(BuildConnectionString(company.path()));
    EXPECT_TRUE(connection->IntegrityProblems().empty());
    EXPECT_TRUE(connection->WritersQueueBesideFile());
    const Error busy = connection->BusyError("waited for the file");
    EXPECT_EQ(busy.number(), EngineErrorNumber(5));
    EXPECT_EQ(busy.source(), "SQLite");
    EXPECT_EQ(busy.description(), "waited for the file");

    // The checkpoint folds the log into the file and empties it.
    ASSERT_EQ(RawExec(company.path(), "PRAGMA wal_autocheckpoint=0; INSERT INTO ACAccountType (Parent,Name) "
                                      "VALUES (1,'Bank');"),
              "");
    connection->Begin(Access::kWrite);
    const auto statement = connection->Prepare(Sql("INSERT INTO ACAccountType (Parent,Name) VALUES (1,'Cash');"));
    while (statement->Step()) {
    }
    connection->Commit();
    ASSERT_GT(fs::file_size(company.path() + "-wal"), 0u);
    connection->Checkpoint();
    EXPECT_EQ(fs::file_size(company.path() + "-wal"), 0u);
    EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM ACAccountType"), "2");
  }

  // A database that is no company file gets no lock file beside it.
  const std::string other = (company.folder() / "other.db").string();
  std::ofstream(other).flush();  // RawExec opens only a file that exists
  ASSERT_EQ(RawExec(other, "CREATE TABLE t (x);"), "");
  EXPECT_FALSE(OpenEngine(BuildConnectionString(other))->WritersQueueBesideFile());

  // An index that no longer matches its table: the engine's check names it, and the file
  // check reports it as an integrity problem.
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACAccount (Parent,Name,AccountTypeID) VALUES (1,'Bank',7);"), "");
  ASSERT_EQ(RawExec(company.path(),
                    "PRAGMA writable_schema=ON; UPDATE sqlite_master SET sql=replace(sql,'(AccountTypeID)',"
                    "'(ParentAccountID)') WHERE name='ix_ACAccount_AccountTypeID'; PRAGMA writable_schema=OFF; "
                    // An ordinary change of the schema makes every open connection read it again.
                    "CREATE TABLE lk_scratch (x); DROP TABLE lk_scratch;"),
            "");
  const auto connection = OpenEngine(BuildConnectionString(company.path()));
  const std::vector<std::string> problems = connection->IntegrityProblems();
  ASSERT_FALSE(problems.empty());
  EXPECT_NE(problems[0].find("ix_ACAccount_AccountTypeID"), std::string::npos) << problems[0];
  int integrity = 0;
  for (const CheckFinding& finding : CheckCompanyFile(company.account())) {
    if (finding.kind != "integrity") continue;
    ++integrity;
    EXPECT_EQ(finding.severity, CheckFinding::Severity::kProblem);
    EXPECT_EQ(finding.message.rfind("The engine's integrity check reports: ", 0), 0u) << finding.message;
  }
  EXPECT_EQ(integrity, static_cast<int>(problems.size()));
}

TEST(EngineInterface, DialectFormsSelectWhatTheySay) {
  TempCompany company;
  const EngineDialect& dialect = CompanyDialect(company.account());
  EXPECT_EQ(&dialect, &OpenEngine(BuildConnectionString(company.path()))->Dialect());

  // Whole decimal numbers only: no sign, blank, point or letter, and neither '' nor Null.
  EXPECT_EQ(Matching(company.account(), {"'12'", "'0012'", "''", "'1a'", "' 1'", "'1 '", "'-1'", "'+1'", "'1.0'",
                                          "NULL", "'7'"},
                     dialect.WholeNumberCondition("column1")),
            "12,0012,7");
  // Exact whole numbers only: not Null, a REAL or text. A server's column holds only its own
  // type: there, an integer column's values are all whole.
  const bool server = testing::OnPostgres();
  EXPECT_EQ(Matching(company.account(),
                     server ? std::vector<std::string>{"5", "NULL", "-3"}
                            : std::vector<std::string>{"5", "NULL", "2.5", "'8'", "-3"},
                     dialect.HoldsIntegerCondition("column1")),
            "5,-3");
  EXPECT_EQ(ToText(OpenRecordset(company.account(), "SELECT " + dialect.StoredTypeExpression("column1") +
                                                        " FROM (VALUES (2.5)) AS v;")->Field(0)),
            server ? "numeric" : "real");

  // A keyword column, quoted, reads and writes that column.
  const std::string note = dialect.QuoteIdentifier("Note");
  OpenRecordset(company.account(), "INSERT INTO ACAccount (Parent,Name," + note + ") VALUES (1,'Bank','kept');");
  EXPECT_EQ(ToText(OpenRecordset(company.account(), "SELECT " + note + " FROM ACAccount;")->Field(0)), "kept");
  EXPECT_NE(CaptureError([&] {
              OpenRecordset(company.account(), "SELECT " + dialect.QuoteIdentifier("NoSuchColumn") + " FROM ACAccount;");
            }).description().find(server ? "does not exist" : "no such column"),
            std::string::npos);

  // A SUM() beyond the int64 range is told from any other failure.
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACTransaction (Parent,Withdrawal) VALUES (1,9223372036854775807),"
                                    "(2,1),(3,1);"),
            "");
  const Error overflow = CaptureError([&] {
    OpenRecordset(company.account(), "SELECT SUM(Withdrawal) FROM ACTransaction WHERE Parent<>3;");
  });
  EXPECT_TRUE(dialect.IsSumOverflow(overflow)) << overflow.description();
  EXPECT_FALSE(dialect.IsSumOverflow(CaptureError([&] { OpenRecordset(company.account(), "SELECT nonsense;"); })));
  EXPECT_FALSE(dialect.IsSumOverflow(Error::Runtime(kOverflow, "integer overflow")));

  // A company that is not there is told from any other failure to open one, and opening it
  // made nothing.
  const Error missing = CaptureError([&] { UnitOfWork::Run(Variant(company.MissingPath()), Access::kRead, [] {}); });
  EXPECT_TRUE(dialect.IsMissingCompany(missing)) << missing.description();
  EXPECT_FALSE(dialect.IsMissingCompany(overflow));
  EXPECT_TRUE(dialect.IsMissingCompany(
      CaptureError([&] { UnitOfWork::Run(Variant(company.MissingPath()), Access::kRead, [] {}); })))
      << "still missing";
}

}  // namespace
}  // namespace ledgerkit
