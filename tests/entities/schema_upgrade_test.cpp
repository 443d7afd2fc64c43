// Schema version 2 and the upgrade of files of version 1: text sorted without regard to letter
// case (served by the indexes), money columns that hold exact counts only, and a version-1
// file (the sample company as version 1 wrote it, plus users and a session) brought up to
// date on its first opening with write access, keeping every row, key, counter and balance.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
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
                                  " has schema version 1; open it once with write access to bring it to version 3."))
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
  ASSERT_EQ(RawExec(company.path(), server ? "UPDATE lk_Schema SET Version=4;" : "PRAGMA user_version=4;"), "");
  Error newer(0, "", "");
  std::thread([&] { newer = CaptureError([&] { CAccountMgr().GetAccountInfo(company.path()); }); }).join();
  EXPECT_EQ(newer.number(), kInvalidArgument);
  // A company on a server is named by its schema, a file by its path.
  const std::string named = server ? "The company " + company.folder().filename().string() : "The company file " + company.path();
  EXPECT_TRUE(newer.description().starts_with(named +
                                              " has schema version 4, which this library (schema version 3) cannot open."))
      << newer.description();
  EXPECT_EQ(RawScalar(company.path(), server ? "SELECT Version FROM lk_Schema" : "PRAGMA user_version"), "4");
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

}  // namespace
}  // namespace ledgerkit
