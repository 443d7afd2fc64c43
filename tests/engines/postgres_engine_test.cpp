// The PostgreSQL engine against a real server (LEDGERKIT_TEST_PG, a connection URI; every test
// is skipped without it): typed round trips, markers, transactions and savepoints, the company
// lock, the error block, a lost session, and the bound on server sessions for many companies.
#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <cstdint>
#include <limits>
#include <string>
#include <thread>

#include "common/Catalog.h"
#include "common/Convert.h"
#include "common/DataAccess.h"
#include "common/Engine.h"
#include "common/Error.h"
#include "entities/Schema.h"
#include "subscriber/CAccountMgr.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::DropPostgresCompany;
using testing::PostgresCompanyUri;
using testing::PostgresServer;

// The engine error number of a SQLSTATE class: 0x80051000 + the class in base 36.
int32_t ClassNumber(char first, char second) {
  const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  return static_cast<int32_t>(0x80051000u + static_cast<uint32_t>(digit(first) * 36 + digit(second)));
}

// Runs `sql` on its own session to the server `uri` names; the first value or "error: ...".
std::string Admin(const std::string& uri, const std::string& sql) {
  PGconn* conn = PQconnectdb(uri.c_str());
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  PGresult* result = PQexec(conn, sql.c_str());
  std::string out;
  if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0) {
    out = PQgetvalue(result, 0, 0);
  } else if (PQresultStatus(result) != PGRES_TUPLES_OK && PQresultStatus(result) != PGRES_COMMAND_OK) {
    out = std::string("error: ") + PQresultErrorMessage(result);
  }
  PQclear(result);
  PQfinish(conn);
  return out;
}

// A company of its own, made from the catalog and removed at the end. Its sessions carry the
// company's name as their application name, so that what a test looks for among the server's
// sessions is its own, whatever else runs beside it.
class PostgresCompany {
 public:
  explicit PostgresCompany(const std::string& name)
      : uri_(PostgresCompanyUri(name) + "&application_name=" + name) {
    DropPostgresCompany(uri_);
    CreateSubscriberDatabase(uri_, "Acme " + name);
  }
  ~PostgresCompany() { DropPostgresCompany(uri_); }
  const std::string& uri() const { return uri_; }

 private:
  std::string uri_;
};

class PostgresEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (PostgresServer().empty()) GTEST_SKIP() << "LEDGERKIT_TEST_PG names no PostgreSQL server";
  }
  static std::string Unique(const std::string& stem) { return stem + "_" + std::to_string(::getpid()); }
};

TEST_F(PostgresEngine, ValuesComeBackWithTheirTypesAndMarkersAreNumbered) {
  PostgresCompany company(Unique("lk_types"));
  auto connection = OpenEngine(company.uri());
  connection->CheckSchema(CompanyCatalog());

  connection->ExecuteControl("CREATE TABLE lk_trip (i bigint, r double precision, t text, n bigint, d timestamp(0))");
  auto insert = connection->Prepare("INSERT INTO lk_trip VALUES (?, ?, ? || '?', ?, ?) -- ?\n;");
  ASSERT_EQ(insert->ParameterCount(), 5);
  insert->BindInteger(1, std::numeric_limits<int64_t>::min());
  insert->BindReal(2, 0.1);
  insert->BindText(3, "it's ?1 ");
  insert->BindNull(4);
  insert->BindText(5, "2026-02-03 04:05:06");
  EXPECT_FALSE(insert->Step());
  EXPECT_EQ(connection->Changes(), 1);
  auto statement = connection->Prepare("SELECT i, r, t, n, d, \"i\" + 1 FROM lk_trip WHERE t = ?");
  statement->BindText(1, "it's ?1 ?");
  ASSERT_TRUE(statement->Step());
  EXPECT_EQ(statement->ColumnKind(0), StoredKind::kInteger);
  EXPECT_EQ(statement->ColumnInteger(0), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(statement->ColumnKind(1), StoredKind::kReal);
  EXPECT_EQ(statement->ColumnReal(1), 0.1);
  EXPECT_EQ(statement->ColumnKind(2), StoredKind::kText);
  EXPECT_EQ(statement->ColumnText(2), "it's ?1 ?");
  EXPECT_EQ(statement->ColumnKind(3), StoredKind::kNull);
  EXPECT_EQ(statement->ColumnText(4), "2026-02-03 04:05:06");
  EXPECT_EQ(statement->ColumnInteger(5), std::numeric_limits<int64_t>::min() + 1);
  EXPECT_FALSE(statement->Step());

  // ?N markers (the replay of a logged unit) name their parameter.
  auto numbered = connection->Prepare("SELECT ?2 - ?1");
  ASSERT_EQ(numbered->ParameterCount(), 2);
  numbered->BindInteger(1, 5);
  numbered->BindInteger(2, 12);
  ASSERT_TRUE(numbered->Step());
  EXPECT_EQ(numbered->ColumnInteger(0), 7);

  // Dates read as the library stores them; result columns keep the catalog's spelling and types.
  connection->ExecuteControl(
      "INSERT INTO SysSessions (UserName, LastUpdate) VALUES ('A', '2026-02-03 04:05:06'); "
      "INSERT INTO SysSessions (UserName) VALUES ('B')");
  auto row = connection->Prepare("SELECT * FROM SysSessions ORDER BY UserName");
  bool saw_date = false;
  for (const char* expected : {"2026-02-03 04:05:06", ""}) {
    ASSERT_TRUE(row->Step());
    for (int i = 0; i < row->ColumnCount(); ++i) {
      const EngineColumn column = row->Column(i);
      if (column.name == "SysSessionsID") {
        EXPECT_TRUE(column.is_key);
        EXPECT_EQ(column.declared_type, "INTEGER");
      }
      if (column.name != "LastUpdate") continue;
      saw_date = true;
      EXPECT_EQ(column.declared_type, "DATETIME");
      // The default is the time of the insert, to the second.
      const std::string text(row->ColumnText(i));
      if (*expected != '\0') {
        EXPECT_EQ(text, expected);
      } else {
        EXPECT_EQ(text.size(), 19u) << text;
      }
    }
  }
  EXPECT_TRUE(saw_date);

  // A SUM beyond the 64-bit range is refused as the dialect's sum overflow, never read inexactly.
  auto sum = connection->Prepare("SELECT SUM(v) FROM (VALUES (9223372036854775807::bigint), (1::bigint)) t(v)");
  const Error overflow = [&] {
    try {
      sum->Step();
    } catch (const Error& error) {
      return error;
    }
    return Error(0, "", "");
  }();
  EXPECT_TRUE(connection->Dialect().IsSumOverflow(overflow)) << overflow.description();

  // One statement per text, and at least one.
  for (const char* text : {"SELECT 1; SELECT 2", "  ; -- nothing\n"}) {
    try {
      connection->Prepare(text);
      ADD_FAILURE() << text;
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), kInvalidArgument) << text;
    }
  }
}

TEST_F(PostgresEngine, BracketedNamesReadAsColumnsAndWrittenKeysAdvanceTheNextKey) {
  PostgresCompany company(Unique("lk_keys"));
  auto connection = OpenEngine(company.uri());
  connection->CheckSchema(CompanyCatalog());
  const auto run = [&](const std::string& sql) {
    auto statement = connection->Prepare(sql);
    std::string first;
    if (statement->Step()) first = std::string(statement->ColumnText(0));
    return first;
  };
  run("INSERT INTO ACAccount (ACAccountID, Parent, Name, [Note]) VALUES (40, 1, 'Bank', 'a [b]')");
  EXPECT_EQ(run("INSERT INTO ACAccount (Parent, Name) VALUES (1, 'Cash') RETURNING ACAccountID"), "41");
  run("UPDATE ACAccount SET [Note]='x' WHERE [Note] IS NULL");
  EXPECT_EQ(run("SELECT string_agg([Note], ',' ORDER BY ACAccountID) FROM ACAccount"), "a [b],x");
  auto note = connection->Prepare("SELECT [Note] FROM ACAccount WHERE ACAccountID=40");
  ASSERT_TRUE(note->Step());
  EXPECT_EQ(note->Column(0).name, "Note");
  // A lower key written later leaves the sequence where it is.
  run("INSERT INTO ACAccount (ACAccountID, Parent, Name) VALUES (7, 1, 'Petty')");
  EXPECT_EQ(run("INSERT INTO ACAccount (Parent, Name) VALUES (1, 'Till') RETURNING ACAccountID"), "42");
}

TEST_F(PostgresEngine, TransactionsSavepointsAndChangesCount) {
  PostgresCompany company(Unique("lk_tx"));
  auto connection = OpenEngine(company.uri());
  connection->CheckSchema(CompanyCatalog());
  const auto insert = [&](const char* name) {
    auto statement = connection->Prepare("INSERT INTO ACAccountType (Name) VALUES (?)");
    statement->BindText(1, name);
    EXPECT_FALSE(statement->Step());
  };
  const auto count = [&] {
    auto statement = connection->Prepare("SELECT COUNT(*) FROM ACAccountType WHERE Name IN ('T1', 'T2', 'T3')");
    EXPECT_TRUE(statement->Step());
    return statement->ColumnInteger(0);
  };

  connection->Begin(Access::kWrite);
  connection->LockCompany();
  EXPECT_TRUE(connection->InTransaction());
  insert("T1");
  connection->Savepoint();
  insert("T2");
  connection->RollbackToSavepoint();
  connection->Savepoint();
  insert("T3");
  connection->ReleaseSavepoint();
  connection->Commit();
  EXPECT_FALSE(connection->InTransaction());
  EXPECT_EQ(count(), 2);

  connection->Begin(Access::kWrite);
  auto update = connection->Prepare("UPDATE ACAccountType SET Name = Name || 'x' WHERE Name IN ('t1', 't3')");
  EXPECT_FALSE(update->Step());
  EXPECT_EQ(connection->Changes(), 2);
  connection->Rollback();
  EXPECT_EQ(Admin(PostgresServer(), "SELECT string_agg(Name, ',' ORDER BY Name) FROM " + Unique("lk_tx") +
                                        ".ACAccountType WHERE Name IN ('T1', 'T2', 'T3')"),
            "T1,T3");
}

TEST_F(PostgresEngine, ErrorsComeInTheirOwnBlockAndOverflowIsTheRuntimeError) {
  PostgresCompany company(Unique("lk_errors"));
  const Variant account(company.uri());
  auto connection = OpenEngine(company.uri());
  connection->CheckSchema(CompanyCatalog());
  const auto failure = [&](const std::string& sql) {
    try {
      auto statement = connection->Prepare(sql);
      while (statement->Step()) {
      }
    } catch (const Error& error) {
      return error;
    }
    return Error(0, "", "nothing failed");
  };

  const Error syntax = failure("SELEC 1");
  EXPECT_EQ(syntax.number(), ClassNumber('4', '2'));
  EXPECT_EQ(syntax.source(), "PostgreSQL");
  EXPECT_NE(syntax.description().find("syntax error"), std::string::npos) << syntax.description();
  EXPECT_NE(syntax.description().find("[SQLSTATE 42601]"), std::string::npos);

  const Error overflow = failure("SELECT 9223372036854775807::bigint + 1");
  EXPECT_EQ(overflow.number(), kOverflow);
  EXPECT_EQ(overflow.source(), "ledgerkit");
  EXPECT_EQ(overflow.description(), "bigint out of range");

  // The kept register totals overflow with the server's own bigint error.
  ASSERT_EQ(failure("INSERT INTO ACAccount (Parent, Name) VALUES (1, 'Bank')").description(), "nothing failed");
  ASSERT_EQ(failure("INSERT INTO ACTransaction (Parent, Withdrawal) VALUES ((SELECT MAX(ACAccountID) FROM "
                    "ACAccount), 9223372036854775807)")
                .description(),
            "nothing failed");
  const Error total = failure(
      "INSERT INTO ACTransaction (Parent, Withdrawal) VALUES ((SELECT MAX(ACAccountID) FROM ACAccount), 1)");
  EXPECT_EQ(total.number(), kOverflow) << total.description();
  EXPECT_EQ(Admin(PostgresServer(), "SELECT DebitRows FROM " + Unique("lk_errors") + ".lk_RegisterTotal"), "1");

  // An account that register rows refer to is not deleted.
  const Error guarded = failure("DELETE FROM ACAccount");
  EXPECT_EQ(guarded.number(), ClassNumber('2', '3'));
  EXPECT_EQ(guarded.description(),
            "The account is not deleted: register rows (ACTransaction.Parent) still refer to it. [SQLSTATE 23503]");

  // Widths are checks; case-insensitive names compare equal whatever their case.
  EXPECT_EQ(failure("INSERT INTO ACAccountType (Name) VALUES (repeat('x', 500))").number(), ClassNumber('2', '3'));
  auto same = connection->Prepare("SELECT COUNT(*) FROM ACAccount WHERE Name = 'bANK'");
  ASSERT_TRUE(same->Step());
  EXPECT_EQ(same->ColumnInteger(0), 1);

  // A company that is not there is a clean engine error on opening, and a second creation of
  // one that is there is refused before anything changes.
  const Error missing = [&] {
    try {
      OpenEngine(PostgresCompanyUri(Unique("lk_nowhere")))->CheckSchema(CompanyCatalog());
    } catch (const Error& error) {
      return error;
    }
    return Error(0, "", "opened");
  }();
  EXPECT_EQ(missing.number(), ClassNumber('3', 'F')) << missing.description();
  try {
    CreateSubscriberDatabase(company.uri(), "Again");
    ADD_FAILURE() << "created twice";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), kInvalidArgument);
  }
  EXPECT_EQ(Admin(PostgresServer(), "SELECT CompanyName FROM " + Unique("lk_errors") + ".ISubScriber"),
            "Acme " + Unique("lk_errors"));
}

TEST_F(PostgresEngine, TheCompanyLockQueuesWritersAndTheSecondSeesTheFirstsCommit) {
  PostgresCompany company(Unique("lk_lock"));
  auto first = OpenEngine(company.uri());
  first->CheckSchema(CompanyCatalog());
  first->Begin(Access::kWrite);
  first->LockCompany();
  auto advance = first->Prepare("UPDATE ISubScriber SET NextInvoiceNumber = NextInvoiceNumber + 1");
  EXPECT_FALSE(advance->Step());

  int64_t seen = 0;
  std::thread second_writer([&] {
    auto second = OpenEngine(company.uri());
    second->CheckSchema(CompanyCatalog());
    second->Begin(Access::kWrite);
    second->LockCompany();  // waits for the first writer's end
    auto read = second->Prepare("SELECT NextInvoiceNumber FROM ISubScriber");
    if (read->Step()) seen = read->ColumnInteger(0);
    second->Commit();
  });
  // Commit only once the second writer is seen waiting on the lock.
  const std::string waiting = "SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND "
                              "query LIKE '%FOR UPDATE%' AND application_name = '" + Unique("lk_lock") + "'";
  while (Admin(PostgresServer(), waiting) != "1") std::this_thread::yield();
  first->Commit();
  second_writer.join();
  EXPECT_EQ(seen, 2);
}

TEST_F(PostgresEngine, ALostSessionIsACleanErrorAndTheNextCallConnectsAgain) {
  PostgresCompany company(Unique("lk_lost"));
  const Variant account(company.uri());
  const std::string name_sql = "SELECT CompanyName FROM ISubScriber";
  EXPECT_EQ(ToText(OpenRecordset(account, name_sql)->Field(0)), "Acme " + Unique("lk_lost"));
  const std::string ended = Admin(PostgresServer(),
                                  "SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE "
                                  "application_name = '" + Unique("lk_lost") + "' AND state = 'idle'");
  EXPECT_NE(ended, "0");
  // The kept session is gone: the call connects again before anything of it ran.
  EXPECT_EQ(ToText(OpenRecordset(account, name_sql)->Field(0)), "Acme " + Unique("lk_lost"));

  // Lost inside a transaction: a clean engine error of class 08, and the connection is not kept.
  auto connection = OpenEngine(company.uri());
  connection->CheckSchema(CompanyCatalog());
  connection->Begin(Access::kRead);
  auto pid = connection->Prepare("SELECT pg_backend_pid()");
  ASSERT_TRUE(pid->Step());
  Admin(PostgresServer(), "SELECT pg_terminate_backend(" + std::string(pid->ColumnText(0)) + ")");
  try {
    auto statement = connection->Prepare(name_sql);
    statement->Step();
    ADD_FAILURE() << "ran on a lost session";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), ClassNumber('0', '8')) << error.description();
    EXPECT_EQ(error.source(), "PostgreSQL");
  }
  EXPECT_FALSE(connection->StillNamesItsDatabase());
  EXPECT_EQ(ToText(OpenRecordset(account, name_sql)->Field(0)), "Acme " + Unique("lk_lost"));
}

// A thousand companies in one database, each called in turn: the process's server sessions stay
// within the connection cache's kept connections (4 per thread), the pool's idle sessions (4 per
// server) and the one in use.
TEST_F(PostgresEngine, AThousandCompaniesShareABoundedNumberOfSessions) {
  const std::string database = Unique("lk_many");
  Admin(PostgresServer(), "DROP DATABASE IF EXISTS " + database + " WITH (FORCE)");
  ASSERT_EQ(Admin(PostgresServer(), "CREATE DATABASE " + database), "");
  std::string server = PostgresServer();
  const size_t query = server.find('?');
  const std::string base = server.substr(0, query);
  const std::string uri = base.substr(0, base.rfind('/') + 1) + database + "?application_name=" + database;
  constexpr int kCompanies = 1000;
  constexpr int kBound = 4 + 4 + 1;
  const std::string count_sql =
      "SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = '" + database + "'";
  int most = 0;
  for (int i = 0; i < kCompanies; ++i) {
    CreateSubscriberDatabase(uri + "&company=c" + std::to_string(i), "Company " + std::to_string(i));
  }
  for (int i = 0; i < kCompanies; ++i) {
    const Variant account(uri + "&company=c" + std::to_string(i));
    EXPECT_EQ(ToText(OpenRecordset(account, "SELECT CompanyName FROM ISubScriber")->Field(0)),
              "Company " + std::to_string(i));
    if (i % 100 == 99) most = std::max(most, std::stoi(Admin(PostgresServer(), count_sql)));
  }
  EXPECT_GT(most, 0);
  EXPECT_LE(most, kBound);
  Admin(PostgresServer(), "DROP DATABASE " + database + " WITH (FORCE)");
}

}  // namespace
}  // namespace ledgerkit
