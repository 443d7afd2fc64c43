// CReportMgr: a caller's own statement, run as given.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/DataAccess.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Occurrences;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

TEST(ReportQuery, SelectAllAccountsGivesEveryColumnWithMoneyExact) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO ACAccount (Parent,AccountNumber,Name,Balance,Inactive) VALUES "
                    "(1,'1000','Bank',-1234567890123456,0),(1,'4000','Sales',1,1);"),
            "");
  CReportMgr reports;
  auto result = reports.ExecReportQuery(company.account(), "SELECT * FROM ACAccount ORDER BY AccountNumber");
  ASSERT_EQ(result->RecordCount(), 2);
  ASSERT_EQ(result->Columns().size(), 12u);
  EXPECT_EQ(result->Columns()[8].name, "Balance");
  EXPECT_EQ(result->Columns()[8].type, FieldType::kCurrency);
  EXPECT_EQ(ToText(result->Field("Balance")), "-123456789012.3456");
  EXPECT_EQ(result->Field("Inactive"), Variant(false));
  result->MoveNext();
  EXPECT_EQ(result->Field("Balance"), Variant(Currency::FromScaled(1)));
  EXPECT_EQ(result->Field("Name"), Variant("Sales"));
}

// Each column of the report as "Name:type(size)", ",key" for a table's own key.
std::string Described(const Recordset& result) {
  std::string described;
  for (const FieldInfo& field : result.Columns()) {
    described += (described.empty() ? "" : " ") + field.name + ":" + std::string(FieldTypeName(field.type)) + "(" +
                 std::to_string(field.defined_size) + ((field.attributes & kFieldKeyColumn) ? ",key" : "") + ")";
  }
  return described;
}

TEST(ReportQuery, ColumnsReadFromTheTablesAreTypedAsTheCatalogDescribesThem) {
  TempCompany company;
  CReportMgr reports;
  // One column of each kind (a link and a kept total are whole numbers), one under another name,
  // through joins; an expression has no type of its own.
  const auto result = reports.ExecReportQuery(
      company.account(),
      "SELECT t.ACTransactionID, t.Parent, t.TransactionDate, t.Description AS Memo, t.Withdrawal, t.TransType, "
      "t.Reconciled, i.ItemQuantity, r.Debits, t.Deposit - t.Withdrawal AS Net FROM ACTransaction t "
      "JOIN ACInvoiceItem i ON i.Parent = t.Parent JOIN lk_RegisterTotal r ON r.AccountID = t.Parent");
  EXPECT_EQ(Described(*result),
            "ACTransactionID:long(4,key) Parent:long(4) TransactionDate:date(8) Memo:text(255) Withdrawal:currency(8) "
            "TransType:long(4) Reconciled:boolean(2) ItemQuantity:double(8) Debits:long(4) Net:variant(0)");
  EXPECT_TRUE(result->Columns()[3].attributes & kFieldMayBeNull);
  EXPECT_FALSE(result->Columns()[0].attributes & kFieldMayBeNull);
  // A table the catalog does not describe is typed by what each row holds.
  ASSERT_EQ(RawExec(company.path(), "CREATE TABLE Extra (Amount INTEGER, Label TEXT); INSERT INTO Extra VALUES (5, 'x');"),
            "");
  const auto extra = OpenRecordset(company.account(), "SELECT Amount, Label FROM Extra");
  EXPECT_EQ(Described(*extra), "Amount:variant(0) Label:variant(0)");
  EXPECT_EQ(extra->Field("Amount"), Variant(5));
  EXPECT_EQ(extra->Field("Label"), Variant("x"));
}

TEST(ReportQuery, FailuresArriveWithTheirNumberAndTheMarkerOnce) {
  TempCompany company;
  CReportMgr reports;
  const Error syntax = CaptureError([&] { reports.ExecReportQuery(company.account(), "SELEC * FROM ACAccount"); });
  const testing::ExpectedEngineError expected = testing::ExpectedError(testing::EngineFailure::kSqlError);
  EXPECT_EQ(syntax.number(), expected.number);
  EXPECT_EQ(syntax.source(), expected.source);
  EXPECT_EQ(Occurrences(syntax.description(), kErrorMarker), 1);
  // The engine's own words, first.
  const bool server = testing::OnPostgres();
  EXPECT_TRUE(syntax.description().starts_with(server ? "syntax error at or near \"SELEC\"" : "near \"SELEC\""))
      << syntax.description();

  const Error null_sql = CaptureError([&] { reports.ExecReportQuery(company.account(), Variant::Null()); });
  EXPECT_EQ(null_sql.number(), kInvalidUseOfNull);
  EXPECT_EQ(Occurrences(null_sql.description(), kErrorMarker), 1);

  const Error no_table = CaptureError([&] { reports.ExecReportQuery(company.account(), "SELECT * FROM Nowhere"); });
  EXPECT_NE(no_table.description().find(server ? "relation \"nowhere\" does not exist" : "no such table: Nowhere"),
            std::string::npos)
      << no_table.description();
}

TEST(ReportQuery, EmptyResultsAndWritesAreNotErrors) {
  TempCompany company;
  CReportMgr reports;
  auto none = reports.ExecReportQuery(company.account(), "SELECT * FROM ACInvoice WHERE Paid=1");
  EXPECT_TRUE(none->IsOpen());
  EXPECT_TRUE(none->AtEOF());
  EXPECT_EQ(none->Columns().size(), 11u);

  auto update = reports.ExecReportQuery(company.account(), "UPDATE ISubScriber SET AccountNo='A-1'");
  EXPECT_FALSE(update->IsOpen());
  EXPECT_EQ(RawScalar(company.path(), "SELECT AccountNo FROM ISubScriber"), "A-1");
}

// The caller's text reaches the engine as written: what looks like a marker, a second statement
// or a bracketed name inside a literal stays the literal, on a server in its own literal forms
// (dollar quotes, E'' escapes) too; a second statement is refused before anything runs. On a
// server the company's MONEY function is written lk_money: the server would read MONEY(...) as
// a cast to its own money type, which gives another text.
TEST(ReportQuery, TheTextGoesAsWrittenAndLiteralsComeBackUnchanged) {
  TempCompany company;
  CReportMgr reports;
  const auto first = [&](const std::string& sql) {
    return ToText(reports.ExecReportQuery(company.account(), sql)->Field(0));
  };
  EXPECT_EQ(first("SELECT 'a;b' AS t"), "a;b");
  EXPECT_EQ(first("SELECT 'it''s ? ok' AS t;"), "it's ? ok");
  EXPECT_EQ(first("SELECT ' [Note] ?1 ' AS t -- ; SELECT 2"), " [Note] ?1 ");
  EXPECT_EQ(first("SELECT COUNT(*) AS Accounts FROM ACAccount WHERE Name = '; DELETE FROM ACAccount'"), "0");
  const Error two = CaptureError([&] { reports.ExecReportQuery(company.account(), "SELECT 1; UPDATE ACAccount SET Name='x'"); });
  EXPECT_EQ(two.number(), kInvalidArgument);
  EXPECT_NE(two.description().find("The second begins: UPDATE ACAccount"), std::string::npos) << two.description();
  // A host's own statement goes as written as well: no marker is looked for in it.
  EXPECT_EQ(ToText(OpenRecordset(company.account(), "SELECT 'it''s ? ok' AS t")->Field(0)), "it's ? ok");
  if (!testing::OnPostgres()) return;
  EXPECT_EQ(CaptureError([&] { OpenRecordset(company.account(), "SELECT money(1)"); }).number(), kInvalidArgument);

  EXPECT_EQ(first("SELECT $$a;b$$"), "a;b");
  EXPECT_EQ(first("SELECT $$a?b$$"), "a?b");
  EXPECT_EQ(first("SELECT E'it\\'s ? ok'"), "it's ? ok");
  EXPECT_EQ(first("SELECT $$ [Note] $$"), " [Note] ");
  EXPECT_EQ(first("SELECT $t$ $$; ? $t$ AS t; -- done"), " $$; ? ");
  // Result columns keep the case they are written in.
  EXPECT_EQ(reports.ExecReportQuery(company.account(), "SELECT 1 AS Accounts")->Columns()[0].name, "Accounts");
  EXPECT_EQ(first("SELECT lk_money(282274521)"), "28227.4521");
  const Error money = CaptureError([&] { reports.ExecReportQuery(company.account(), "SELECT Money (282274521)"); });
  EXPECT_EQ(money.number(), kInvalidArgument);
  EXPECT_NE(money.description().find("lk_money(...): Money(...) is the server's cast"), std::string::npos)
      << money.description();
  // The library's own spellings are no server SQL: the server's refusal, in its words.
  for (const char* sqlite_only : {"SELECT [Note] FROM ACAccount", "SELECT Name FROM ACAccount WHERE Name = ?"}) {
    const Error error = CaptureError([&] { reports.ExecReportQuery(company.account(), sqlite_only); });
    EXPECT_EQ(error.number(), testing::ExpectedError(testing::EngineFailure::kSqlError).number) << sqlite_only;
    EXPECT_NE(error.description().find("syntax error"), std::string::npos) << error.description();
  }
}

constexpr int32_t kNotAuthorized = static_cast<int32_t>(0x80050017u);

// A company with user "alice", a bank account and an expense account, for calls after a report.
struct Books {
  Books() : path((folder.folder() / "books.ldb").string()) {
    CreateSubscriberDatabase(path, "Acme Trading", FirstUser{"alice", "secret"});
    asset = ledger.AddAccountType(path, "alice", "", "Bank accounts", "", false, bstASSET);
    const Variant expense = ledger.AddAccountType(path, "alice", "", "Expenses", "", false, bstEXPENSE);
    bank = ledger.AddAccount(path, "alice", "", "1000", "Bank", "", "", false, "", 0, asset, 0);
    rent = ledger.AddAccount(path, "alice", "", "5000", "Rent", "", "", false, "", 0, expense, 0);
  }
  // Records a cheque from the bank to rent and returns its transaction number.
  std::string Cheque(int cents) {
    const Currency amount = Currency::FromScaled(100 * cents);
    const std::string number = ToText(ledger.BeginTransaction(path, "alice", "", ttCHQ, Date::FromCivil(2026, 3, 31),
                                                              "Landlord", bank, amount, "", "", ""));
    ledger.PostDebit(path, number, rent, amount, "rent");
    ledger.EndTransaction(path, number);
    return number;
  }

  TempCompany folder;
  std::string path;
  CACMgr ledger;
  Variant asset, bank, rent;
};

TEST(ReportQuery, StatementsThatWouldOutliveTheCallAreRefusedAndLaterCallsActAsOnAFreshConnection) {
  Books books;
  const std::string copy = (books.folder.folder() / "copy.ldb").string();
  const std::string attached = (books.folder.folder() / "other.ldb").string();
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"PRAGMA synchronous=OFF", "PRAGMA synchronous"},
      {"PRAGMA query_only=1", "PRAGMA query_only"},
      {"PRAGMA journal_mode=OFF", "PRAGMA journal_mode"},
      {"  /* hi */ pragma writable_schema=ON;", "PRAGMA writable_schema"},
      {"SELECT * FROM pragma_synchronous", "PRAGMA synchronous"},
      {"CREATE TEMP TABLE ACAccount AS SELECT * FROM main.ACAccount WHERE 0", "temporary"},
      {"CREATE TEMPORARY VIEW ACTransaction AS SELECT * FROM main.ACTransaction WHERE 0", "temporary"},
      {"CREATE TABLE temp.ISubScriber (x)", "temporary"},
      {"VACUUM INTO '" + copy + "'", "VACUUM"},
      {"-- compact\nvacuum", "VACUUM"},
      {"ATTACH '" + attached + "' AS other", "ATTACH"},
      {"DETACH main", "DETACH"},
      {"SELECT load_extension('/nonexistent/lib.so')", "load_extension"},
      {"BEGIN IMMEDIATE", "transaction control"},
      {"SAVEPOINT mine", "transaction control"},
  };
  CReportMgr reports;
  int cents = 100;
  for (const auto& [sql, what] : refused) {
    const std::string before = testing::DumpTables(books.path);
    const Error error = CaptureError([&] { reports.ExecReportQuery(books.path, sql); });
    EXPECT_EQ(error.number(), kNotAuthorized) << sql;
    EXPECT_EQ(error.source(), "SQLite") << sql;
    EXPECT_NE(error.description().find(what), std::string::npos) << sql << ": " << error.description();
    EXPECT_EQ(Occurrences(error.description(), kErrorMarker), 1) << sql;
    EXPECT_EQ(testing::DumpTables(books.path), before) << sql;

    // The same thread goes on as if nothing had happened: the accounts are all there, a new
    // account and a cheque land in the file, which stays in write-ahead-log mode.
    const std::string number = std::to_string(2000 + cents);
    const Variant added = books.ledger.AddAccount(books.path, "alice", "", number, "Account " + number, "", "", false,
                                                  "", 0, books.asset, 0);
    EXPECT_EQ(RawScalar(books.path, "SELECT AccountNumber FROM ACAccount WHERE ACAccountID=" + ToText(added)), number)
        << sql;
    EXPECT_EQ(books.ledger.GetAllAccounts(books.path, "alice", "")->Count(),
              ToLong(RawScalar(books.path, "SELECT COUNT(*) FROM ACAccount")))
        << sql;
    const std::string cheque = books.Cheque(cents++);
    EXPECT_EQ(RawScalar(books.path, "SELECT COUNT(*) FROM ACTransLog WHERE TransactionNumber='" + cheque + "'"), "1")
        << sql;
    EXPECT_EQ(RawScalar(books.path, "PRAGMA journal_mode"), "wal") << sql;
  }
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_FALSE(std::filesystem::exists(attached));
}

TEST(ReportQuery, ChangesToTheCompanyTablesStayAllowedAndJoinAnActiveUnit) {
  Books books;
  CReportMgr reports;
  EXPECT_FALSE(reports.ExecReportQuery(books.path, "CREATE TABLE Notes (Id INTEGER PRIMARY KEY, Text TEXT)")->IsOpen());
  reports.ExecReportQuery(books.path, "INSERT INTO Notes (Text) VALUES ('kept')");
  EXPECT_EQ(ToText(reports.ExecReportQuery(books.path, "SELECT Text FROM Notes")->Field("Text")), "kept");
  reports.ExecReportQuery(books.path, "UPDATE ACAccount SET Description='checked' WHERE AccountNumber='1000'");
  EXPECT_EQ(RawScalar(books.path, "SELECT Description FROM ACAccount WHERE AccountNumber='1000'"), "checked");

  // Inside a unit the report sees and makes uncommitted rows; the unit's failure undoes them.
  EXPECT_THROW(UnitOfWork::Run(books.path, Access::kWrite,
                               [&] {
                                 reports.ExecReportQuery(books.path, "INSERT INTO Notes (Text) VALUES ('undone')");
                                 EXPECT_EQ(reports.ExecReportQuery(books.path, "SELECT COUNT(*) AS N FROM Notes")
                                               ->Field("N"),
                                           Variant(int32_t{2}));
                                 for (const char* refused : {"PRAGMA synchronous=OFF", "COMMIT", "ROLLBACK"}) {
                                   EXPECT_EQ(CaptureError([&] { reports.ExecReportQuery(books.path, refused); })
                                                 .number(),
                                             kNotAuthorized)
                                       << refused;
                                 }
                                 throw Error::Runtime(kInvalidArgument, "abandoned");
                               }),
               Error);
  EXPECT_EQ(RawScalar(books.path, "SELECT COUNT(*) FROM Notes"), "1");
  UnitOfWork::Run(books.path, Access::kWrite, [&] {
    reports.ExecReportQuery(books.path, "DELETE FROM Notes");
    books.ledger.AddAccount(books.path, "alice", "", "1100", "Till", "", "", false, "", 0, books.asset, 0);
  });
  EXPECT_EQ(RawScalar(books.path, "SELECT COUNT(*) FROM Notes"), "0");
  EXPECT_EQ(RawScalar(books.path, "SELECT Name FROM ACAccount WHERE AccountNumber='1100'"), "Till");
  books.Cheque(250);
  EXPECT_EQ(reports.ExecReportQuery(books.path, "DROP TABLE Notes")->IsOpen(), false);
}

}  // namespace
}  // namespace ledgerkit
