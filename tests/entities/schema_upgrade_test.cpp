// Schema version 2 and the upgrade of files of version 1: text sorted without regard to letter
// case (served by the indexes), money columns that hold exact counts only, and a version-1
// file (the sample company as version 1 wrote it, plus users and a session) brought up to
// date on its first opening with write access, keeping every row, key, counter and balance.
#include <grp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/Engine.h"
#include "engines/sqlite/SqliteEngine.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/DataAccess.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "security/UserNames.h"
#include "ledgerkit/entities/Entity.h"
#include "entities/Catalog.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "reports/LedgerCheck.h"
#include "ledgerkit/security/CSecurityMgr.h"
#include "ledgerkit/security/CUserManager.h"
#include "ledgerkit/subscriber/CAccountMgr.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

namespace fs = std::filesystem;
using testing::CaptureError;
using testing::DumpTables;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

// A copy of the version-1 test file in the company's folder; returns its path.
std::string CopyVersion1(const TempCompany& company, const std::string& name = "v1.ldb") {
  const fs::path target = company.folder() / name;
  fs::copy_file(fs::path(LEDGERKIT_TEST_DATA_DIR) / "company-v1.ldb", target);
  return target.string();
}

// The steps of the engine's program that one run of `sql` on the file `path` takes
// (SQLITE_STMTSTATUS_VM_STEP): a count that grows with the rows a statement goes through.
int StatementSteps(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  int steps = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
    }
    steps = sqlite3_stmt_status(statement, SQLITE_STMTSTATUS_VM_STEP, 0);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return steps;
}

std::string Join(const std::shared_ptr<EntityCollection>& collection, const char* property) {
  std::string text;
  for (const auto& [key, item] : collection->entries()) {
    const Variant value = static_cast<const Entity&>(*item).Value(property);
    if (!text.empty()) text += ',';
    text += value.IsNull() ? std::string("NULL") : ToText(value);
  }
  return text;
}

TEST(SchemaVersion2, TextSortsIgnoreCaseThroughTheIndexesAndMoneyStaysExact) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO IUser (Parent,UserName,Password,AllowLogon) VALUES (1,'alice','pw',1);"), "");
  CACMgr ledger;
  const Variant type = ledger.AddAccountType(company.account(), "alice", "", "Expenses", "", false, int32_t{bstEXPENSE});
  for (const char* name : {"zebra tape", "Apples", "banks", "Copier"}) {
    ledger.AddAccount(company.account(), "alice", "", "5300", name, "", "", false, "", 0, type, 0);
  }
  ledger.AddAccount(company.account(), "alice", "", "a100", "Petty cash", "", "", false, "", 0, type, 0);
  ledger.AddAccount(company.account(), "alice", "", "B100", "Till", "", "", false, "", 0, type, 0);
  EXPECT_EQ(Join(ledger.GetAllAccounts(company.account(), "", ""), "Name"),
            "Apples,banks,Copier,zebra tape,Petty cash,Till");

  // The company's own rules: no REAL or text in a money column, no sum beyond the range. The
  // file refuses a REAL; a server's whole-number column rounds it on the way in, so the column
  // holds a whole number either way.
  if (testing::OnPostgres()) {
    EXPECT_EQ(RawExec(company.path(), "UPDATE ACAccount SET Balance=1.5 WHERE ACAccountID=1;"), "");
    EXPECT_EQ(RawScalar(company.path(), "SELECT Balance FROM ACAccount WHERE ACAccountID=1"), "2");
  } else {
    EXPECT_NE(RawExec(company.path(), "UPDATE ACAccount SET Balance=1.5 WHERE ACAccountID=1;"), "");
  }
  EXPECT_NE(RawExec(company.path(), "UPDATE ACAccount SET Balance='ten' WHERE ACAccountID=1;"), "");
  EXPECT_EQ(RawExec(company.path(), "UPDATE ACAccount SET Balance=9223372036854775807 WHERE ACAccountID=1;"), "");
  EXPECT_EQ(RawExec(company.path(), "UPDATE ACAccount SET Balance=Balance+1 WHERE ACAccountID=1;"),
            testing::OnPostgres() ? "ERROR:  bigint out of range"
                                  : "Overflow: an account's balance would leave the currency range.");
  EXPECT_EQ(RawScalar(company.path(), "SELECT Balance FROM ACAccount WHERE ACAccountID=1"), "9223372036854775807");
}

TEST(SchemaVersion2, SortedFetchesAreServedByAnIndexOfTheFile) {
  LEDGERKIT_FILE_ONLY("the query plan is the file engine's; the server plans by its own statistics");
  TempCompany company;
  EXPECT_EQ(RawScalar(company.path(), "SELECT group_concat(p, ';') FROM (EXPLAIN QUERY PLAN SELECT * FROM ACAccount "
                                      "ORDER BY AccountNumber, Name)")
                .find("TEMP B-TREE"),
            std::string::npos)
      << "the sorted fetch is served by an index";
}

TEST(SchemaVersion2, AFileOfVersion1IsUpgradedOnItsFirstOpeningKeepingEverything) {
  TempCompany company;
  const std::string path = CopyVersion1(company);
  ASSERT_EQ(RawScalar(path, "PRAGMA user_version"), "1");
  // What the upgrade must leave: every row as it was, with the matching form of each name.
  const std::string expected_path = CopyVersion1(company, "expected.ldb");
  ASSERT_EQ(RawExec(expected_path, "UPDATE IUser SET UserKey=lower(UserName); UPDATE SysSessions SET UserKey=lower(UserName);"),
            "");
  const std::string expected = DumpTables(expected_path);
  const std::string sequences = RawScalar(path, "SELECT group_concat(name||'='||seq, ',') FROM (SELECT * FROM sqlite_sequence ORDER BY name)");
  const std::string totals =
      RawScalar(path, "SELECT group_concat(AccountID||':'||Debits||'/'||Credits, ',') FROM lk_RegisterTotal");

  // Any first operation upgrades; balances are exact from the kept totals.
  const Variant balance = CACMgr().GetAccountBalance(path, 1);
  ASSERT_EQ(balance.type(), VarType::kCurrency);
  EXPECT_EQ(ToText(balance), "23140.77");
  EXPECT_EQ(RawScalar(path, "PRAGMA user_version"), std::to_string(kSchemaVersion));
  EXPECT_EQ(RawScalar(path, "SELECT group_concat(name||'='||seq, ',') FROM (SELECT * FROM sqlite_sequence ORDER BY name)"), sequences);
  EXPECT_EQ(RawScalar(path, "SELECT group_concat(AccountID||':'||Debits||'/'||Credits, ',') FROM lk_RegisterTotal"),
            totals);
  EXPECT_EQ(RawScalar(path, "SELECT sql LIKE '%Name TEXT(%) COLLATE NOCASE%' FROM sqlite_master WHERE name='ACAccount'"), "1");
  EXPECT_EQ(RawScalar(path, "SELECT COUNT(*) FROM sqlite_master WHERE type='index' AND name LIKE 'ix_%'"),
            std::to_string(SchemaIndexes().size()));
  // (The version-1 copy has no table of statement lines; the upgraded file has it, empty.)
  EXPECT_EQ(DumpTables(path), std::regex_replace(expected, std::regex("ACStatementLine:error: .*"), "ACStatementLine:"));
  for (const CheckFinding& finding : CheckCompanyFile(path)) ADD_FAILURE() << finding.kind << ": " << finding.message;

  // Every user and session has the matching form of its name.
  for (const char* table : {"IUser", "SysSessions"}) {
    EXPECT_EQ(RawScalar(path, std::string("SELECT COUNT(*) FROM ") + table + " WHERE UserKey IS NULL"), "0") << table;
  }
  EXPECT_EQ(RawScalar(path, "SELECT UserKey FROM IUser WHERE UserName='Alice'"), UserNameKey("Alice"));

  // The users log on and are found as before; their sessions hold.
  CSecurityMgr security;
  const std::string token = security.BeginUserSession(path, "owner", "demo-pass");
  EXPECT_EQ(ToText(security.GetSysSession(path, token)->Value("UserName")), "owner");
  EXPECT_EQ(ToText(security.GetSysSession(path, "v1-session-token")->Value("UserName")), "Alice");
  CUserManager users;
  EXPECT_EQ(ToText(users.GetUserProfile(path, "owner", "", path, "alice")->Value("LastName")), "de Vries");
  EXPECT_EQ(Join(users.GetSubscriberUserProfiles(path, "owner", token), "LastName"), "NULL,de Vries,Dekker")
      << "last names in order without regard to case";

  // A new account takes a key never handed out before (12 was, and its row is gone).
  CACMgr ledger;
  const int32_t added = ToLong(ledger.AddAccount(path, "owner", "", "5300", "Zebra tape", "", "", false, "", 0,
                                                 ToLong(RawScalar(path, "SELECT AccountTypeID FROM ACAccount WHERE ACAccountID=9")), 0));
  EXPECT_EQ(added, 13);
  EXPECT_EQ(RawScalar(path, "SELECT group_concat(Name, ',') FROM (SELECT Name FROM ACAccount WHERE AccountNumber='5300' "
                            "ORDER BY AccountNumber, Name)"),
            "Advertising,office supplies,Zebra tape");

}

TEST(SchemaVersion2, AVersion1FileThatMayOnlyBeReadIsRefusedWithTheWayOut) {
  TempCompany company;
  // A version-1 file that may only be read is refused, unchanged, with the way out.
  const std::string readonly = CopyVersion1(company, "readonly.ldb");
  ASSERT_EQ(RawExec(readonly, "PRAGMA journal_mode=DELETE;"), "");
  ASSERT_EQ(RawScalar(readonly, "PRAGMA journal_mode"), "delete");
  ::chmod(company.folder().c_str(), 0755);
  ::chmod(readonly.c_str(), 0444);
  std::array<int, 2> report{};
  ASSERT_EQ(::pipe(report.data()), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(report[0]);
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    std::string outcome;
    try {
      CAccountMgr().GetAccountInfo(readonly);
      outcome = "no error";
    } catch (const Error& error) {
      outcome = std::to_string(error.number()) + "|" + error.description();
    }
    const ssize_t wrote = ::write(report[1], outcome.data(), outcome.size());
    ::_exit(wrote == static_cast<ssize_t>(outcome.size()) ? 0 : 3);
  }
  ::close(report[1]);
  std::string outcome;
  std::array<char, 1024> buffer{};
  for (ssize_t got = 0; (got = ::read(report[0], buffer.data(), buffer.size())) > 0;) outcome.append(buffer.data(), got);
  ::close(report[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(outcome.starts_with("5|The company file " + readonly +
                                  " has schema version 1; open it once with write access to bring it to version " +
                                  std::to_string(kSchemaVersion) + "."))
      << outcome;
  ::chmod(readonly.c_str(), 0644);
  EXPECT_EQ(RawScalar(readonly, "PRAGMA user_version"), "1");
}

TEST(SchemaVersion2, CompaniesOfOtherVersionsAreRefusedClearly) {
  TempCompany company;
  const bool server = testing::OnPostgres();
  // A file of a version this library does not know is refused, unchanged.
  // (Checked on a thread of its own: connections are kept per thread, and the version is read
  // when a connection is opened.)
  const std::string newer_version = std::to_string(kSchemaVersion + 1);
  ASSERT_EQ(RawExec(company.path(), server ? "UPDATE lk_Schema SET Version=" + newer_version + ";"
                                           : "PRAGMA user_version=" + newer_version + ";"),
            "");
  Error newer(0, "", "");
  std::thread([&] { newer = CaptureError([&] { CAccountMgr().GetAccountInfo(company.path()); }); }).join();
  EXPECT_EQ(newer.number(), kInvalidArgument);
  // A company on a server is named by its schema, a file by its path.
  const std::string named = server ? "The company " + company.folder().filename().string() : "The company file " + company.path();
  EXPECT_TRUE(newer.description().starts_with(named +
                                              " has schema version " + newer_version + ", which this library (schema version " +
                                              std::to_string(kSchemaVersion) + ") cannot open."))
      << newer.description();
  EXPECT_EQ(RawScalar(company.path(), server ? "SELECT Version FROM lk_Schema" : "PRAGMA user_version"), newer_version);
}

TEST(SchemaVersion3, ACompanyOfVersion2GainsTheStatementLinesAndKeepsItsBooks) {
  TempCompany company;
  const bool server = testing::OnPostgres();
  const Variant account(company.path());
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACAccount (Parent, AccountNumber, Name) VALUES (1, '1000', 'Bank');"), "");
  // As version 2 left a company: no table of statement lines.
  std::thread([&] {
    ASSERT_EQ(RawExec(company.path(), server ? "DROP TABLE ACStatementLine; UPDATE lk_Schema SET Version=2;"
                                             : "DROP TABLE ACStatementLine; PRAGMA user_version=2;"),
              "");
  }).join();
  const std::string before = RawScalar(company.path(), "SELECT group_concat(Name) FROM ACAccount");
  // A new connection (a thread of its own) brings it up to date, keeping every row.
  std::thread([&] { EXPECT_EQ(ToText(CAccountMgr().GetAccountInfo(account)->Value("CompanyName")), "Acme Trading"); }).join();
  EXPECT_EQ(RawScalar(company.path(), server ? "SELECT Version FROM lk_Schema" : "PRAGMA user_version"),
            std::to_string(kSchemaVersion));
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM ACStatementLine"), "0");
  EXPECT_EQ(RawScalar(company.path(), "SELECT group_concat(Name) FROM ACAccount"), before);
  for (const CheckFinding& finding : CheckCompanyFile(company.path())) ADD_FAILURE() << finding.kind << ": " << finding.message;
}

TEST(SchemaVersion4, ACompanyOfVersion3GainsTheIndexOfWholeInvoiceNumbersThatNumberingReads) {
  TempCompany company;
  const bool server = testing::OnPostgres();
  const std::string index_sql = server ? "SELECT COUNT(*) FROM pg_indexes WHERE schemaname=current_schema() AND "
                                         "indexname='ix_acinvoice_invoiceno_whole'"
                                       : "SELECT COUNT(*) FROM sqlite_master WHERE name='ix_ACInvoice_InvoiceNo_whole'";
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACAccount (Parent, AccountNumber, Name) VALUES (1, '1200', 'Receivable');"),
            "");
  const int32_t receivable = std::stoi(RawScalar(company.path(), "SELECT MAX(ACAccountID) FROM ACAccount"));
  const auto enter = [&](Variant number) {
    CACMgr().InsertInvoice(company.account(), "", "", -1, "Sale", Date::FromCivil(2026, 3, 31), number, "", "", "",
                           Currency::FromUnits(5), receivable);
    return ToText(number);
  };
  std::thread([&] {
    for (const char* number : {"41", "A-99", "007"}) enter(number);
  }).join();
  // As version 3 left a company: no such index.
  std::thread([&] {
    ASSERT_EQ(RawExec(company.path(), server ? "DROP INDEX ix_ACInvoice_InvoiceNo_whole; UPDATE lk_Schema SET Version=3;"
                                             : "DROP INDEX ix_ACInvoice_InvoiceNo_whole; PRAGMA user_version=3;"),
              "");
  }).join();
  EXPECT_EQ(RawScalar(company.path(), index_sql), "0");
  // The first connection with write access makes it; the next number follows the greatest.
  std::thread([&] { EXPECT_EQ(enter(""), "42"); }).join();
  EXPECT_EQ(RawScalar(company.path(), server ? "SELECT Version FROM lk_Schema" : "PRAGMA user_version"),
            std::to_string(kSchemaVersion));
  EXPECT_EQ(RawScalar(company.path(), index_sql), "1");
  for (const CheckFinding& finding : CheckCompanyFile(company.path())) ADD_FAILURE() << finding.kind << ": " << finding.message;
  if (server) return;
  // The greatest is read from the end of the index: a thousand invoices more add no step to the
  // statement that finds it.
  const std::string greatest = "SELECT MAX(" + SqliteEngineDialect().WholeNumberValue("InvoiceNo") +
                               ") FROM ACInvoice WHERE " + SqliteEngineDialect().WholeNumberCondition("InvoiceNo");
  const int steps = StatementSteps(company.path(), greatest);
  ASSERT_EQ(RawExec(company.path(), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<1000) "
                                    "INSERT INTO ACInvoice (Paid, InvoiceNo) SELECT -1, i FROM n;"),
            "");
  EXPECT_EQ(StatementSteps(company.path(), greatest), steps);
  EXPECT_EQ(RawScalar(company.path(), greatest), "1000");
}

// The company's catalog with one version more, which only its steps describe: the next version gives
// each account a count of its register rows, 0 for a row that leaves it out, and the time it was
// counted (a default the file cannot add in place: its table is made anew), and fills the count.
constexpr ColumnDef kRegisterRows{"RegisterRows", FieldType::kLong, 0, ColumnDefault::kZero};
constexpr ColumnDef kCountedAt{"CountedAt", FieldType::kDate, 0, ColumnDefault::kNow};

void CountRegisterRows(EngineConnection& connection) {
  std::vector<std::pair<int64_t, int64_t>> counts;
  {
    const auto select =
        connection.Prepare(Sql("SELECT Parent, COUNT(*) FROM ACTransaction WHERE Parent IS NOT NULL GROUP BY Parent"));
    while (select->Step()) counts.emplace_back(select->ColumnInteger(0).value_or(0), select->ColumnInteger(1).value_or(0));
  }
  const auto update =
      connection.Prepare(Sql("UPDATE ACAccount SET RegisterRows = ", kValue, " WHERE ACAccountID = ", kValue));
  for (const auto& [account, rows] : counts) {
    update->Reset();
    update->BindInteger(1, rows);
    update->BindInteger(2, account);
    while (update->Step()) {
    }
  }
}

// Fails once every count is written, as a fill that meets a row it cannot take would.
void CountRegisterRowsThenFail(EngineConnection& connection) {
  CountRegisterRows(connection);
  throw Error::Runtime(kInvalidArgument, "The register rows of account 2 could not be counted.");
}

class NextVersion {
 public:
  explicit NextVersion(SchemaBackfill fill) : base_(CompanyCatalog()) {
    for (const TableDef& table : base_.tables) {
      if (table.name != "ACAccount") continue;
      account_columns_.assign(table.columns.begin(), table.columns.end());
      account_columns_.push_back(kRegisterRows);
      account_columns_.push_back(kCountedAt);
    }
    for (const TableDef& table : base_.tables) {
      tables_.push_back(table.name == "ACAccount" ? TableDef{table.name, account_columns_} : table);
    }
    steps_.assign(base_.steps.begin(), base_.steps.end());
    steps_.push_back({kNext, SchemaStepKind::kAddColumn, "ACAccount", &kRegisterRows});
    steps_.push_back({kNext, SchemaStepKind::kAddColumn, "ACAccount", &kCountedAt});
    steps_.push_back({kNext, SchemaStepKind::kBackfill, {}, nullptr, {}, "the register rows of each account", fill});
    catalog_ = base_;
    catalog_.tables = tables_;
    catalog_.version = kNext;
    catalog_.steps = steps_;
  }
  NextVersion(const NextVersion&) = delete;
  NextVersion& operator=(const NextVersion&) = delete;
  static constexpr int32_t kNext = kSchemaVersion + 1;
  const Catalog& catalog() const { return catalog_; }

 private:
  const Catalog& base_;
  std::vector<ColumnDef> account_columns_;
  std::vector<TableDef> tables_;
  std::vector<SchemaStep> steps_;
  Catalog catalog_{};
};

TEST(SchemaSteps, ALaterVersionDescribedOnlyByItsStepsIsAppliedWholeOrNotAtAll) {
  TempCompany company;
  const bool server = testing::OnPostgres();
  const std::string version_sql = server ? "SELECT Version FROM lk_Schema" : "PRAGMA user_version";
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO IUser (Parent,UserName,Password,AllowLogon) VALUES (1,'alice','pw',1);"), "");
  CACMgr ledger;
  const Variant type = ledger.AddAccountType(company.account(), "alice", "", "Assets", "", false, int32_t{bstASSET});
  const int32_t bank = ToLong(ledger.AddAccount(company.account(), "alice", "", "1000", "Bank", "", "", false, "", 0, type, 0));
  const int32_t cash = ToLong(ledger.AddAccount(company.account(), "alice", "", "1100", "Cash", "", "", false, "", 0, type, 0));
  const int32_t idle = ToLong(ledger.AddAccount(company.account(), "alice", "", "1200", "Idle", "", "", false, "", 0, type, 0));
  const auto post = [&](int64_t units) {
    const std::string number = ledger.BeginTransaction(company.account(), "alice", "", static_cast<int32_t>(ttGENJRNL),
                                                       Date::FromCivil(2026, 3, 31), "Float", 0, Currency(), "", "", "");
    ledger.PostDebit(company.account(), number, cash, Currency::FromUnits(units), "in");
    ledger.PostCredit(company.account(), number, bank, Currency::FromUnits(units), "out");
    ledger.EndTransaction(company.account(), number);
  };
  post(100);
  post(250);
  const std::string books = DumpTables(company.path());
  const auto registers = [&] {
    std::string counts;
    for (const int32_t id : {bank, cash, idle}) {
      counts += (counts.empty() ? "" : ",") +
                RawScalar(company.path(), "SELECT RegisterRows FROM ACAccount WHERE ACAccountID=" + std::to_string(id));
    }
    return counts;
  };

  // A fill that fails undoes the whole upgrade: the company stays at its version, without the
  // column, every row as it was; the error is the fill's own.
  {
    const NextVersion failing(CountRegisterRowsThenFail);
    const auto connection = OpenEngine(BuildConnectionString(company.path()));
    const Error error = CaptureError([&] { connection->CheckSchema(failing.catalog()); });
    EXPECT_EQ(error.number(), kInvalidArgument);
    EXPECT_EQ(error.description(), "The register rows of account 2 could not be counted.");
  }
  EXPECT_EQ(RawScalar(company.path(), version_sql), std::to_string(kSchemaVersion));
  EXPECT_NE(RawExec(company.path(), "SELECT RegisterRows FROM ACAccount;"), "");
  EXPECT_NE(RawExec(company.path(), "SELECT CountedAt FROM ACAccount;"), "");
  EXPECT_EQ(DumpTables(company.path()), books);

  // The steps of the next version on a new connection: the column, with its default on the rows that
  // were there, the counts the fill wrote, and the version.
  const NextVersion next(CountRegisterRows);
  OpenEngine(BuildConnectionString(company.path()))->CheckSchema(next.catalog());
  EXPECT_EQ(RawScalar(company.path(), version_sql), std::to_string(NextVersion::kNext));
  EXPECT_EQ(registers(), "2,2,0");
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM ACAccount WHERE CountedAt IS NOT NULL"), "3");
  EXPECT_EQ(DumpTables(company.path()), books);
  // Once there, a second opening with the same catalog changes nothing.
  ASSERT_EQ(RawExec(company.path(), "UPDATE ACAccount SET RegisterRows=7 WHERE ACAccountID=" + std::to_string(idle) + ";"), "");
  OpenEngine(BuildConnectionString(company.path()))->CheckSchema(next.catalog());
  EXPECT_EQ(registers(), "2,2,7");

  // The books are whole, and the company's rules were made again after the steps: a library of
  // this version (the mark set back; the added column changes none of its rows) posts on the
  // upgraded company, the kept totals follow, and the check finds nothing.
  const std::string current = std::to_string(kSchemaVersion);
  ASSERT_EQ(RawExec(company.path(), server ? "UPDATE lk_Schema SET Version=" + current + ";"
                                           : "PRAGMA user_version=" + current + ";"),
            "");
  std::thread([&] {
    post(40);
    EXPECT_EQ(ToText(ledger.GetAccountBalance(company.account(), cash)), "390");
    for (const CheckFinding& finding : CheckCompanyFile(company.path())) ADD_FAILURE() << finding.kind << ": " << finding.message;
  }).join();
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM ACTransaction WHERE Parent=" + std::to_string(cash)), "3");
}

}  // namespace
}  // namespace ledgerkit
