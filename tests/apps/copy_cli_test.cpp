// `ledgerkit copy` between files and a server, and every command on a company on a server, run
// as a user runs them. The server cases run when LEDGERKIT_TEST_PG names a server.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "ledgerkit/common/Convert.h"
#include "entities/Catalog.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/security/CSecurityMgr.h"
#include "ledgerkit/security/CUserManager.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CliRun;
using testing::RunLedgerkit;
using testing::ShellQuote;

// A company on the test server whose name is this process's own, dropped when the test ends.
class ServerCompany {
 public:
  explicit ServerCompany(const std::string& tag)
      : uri_(testing::PostgresCompanyUri("lkcopy_" + std::to_string(::getpid()) + "_" + tag)) {
    testing::DropPostgresCompany(uri_);
  }
  ~ServerCompany() { testing::DropPostgresCompany(uri_); }
  ServerCompany(const ServerCompany&) = delete;
  ServerCompany& operator=(const ServerCompany&) = delete;
  const std::string& uri() const { return uri_; }
  // True while the company's schema is on the server.
  bool Exists() const {
    const std::string name = uri_.substr(uri_.rfind("company=") + 8);
    return testing::RawScalar(uri_, "SELECT count(*) FROM pg_namespace WHERE nspname='" + name + "'") == "1";
  }

 private:
  std::string uri_;
};

#define REQUIRE_SERVER()                                                                   \
  do {                                                                                     \
    if (testing::PostgresServer().empty()) GTEST_SKIP() << "LEDGERKIT_TEST_PG is not set"; \
  } while (false)

CliRun Cli(const std::filesystem::path& folder, const std::string& command, const std::vector<std::string>& words) {
  std::string arguments = command;
  for (const std::string& word : words) arguments += " " + ShellQuote(word);
  return RunLedgerkit(folder, arguments);
}

// `text` with every occurrence of `name` written as COMPANY, to compare what two companies print;
// where a file is called a file, a company on a server is called a company.
std::string Named(std::string text, const std::string& name) {
  auto replace = [&text](const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
  };
  replace(name, "COMPANY");
  replace("company file COMPANY", "company COMPANY");
  replace("check the file with", "check the company with");
  return text;
}

// Every row of every table (register totals included) as `query --csv` prints them, key order.
std::string AllRows(const std::filesystem::path& folder, const std::string& company) {
  std::string rows;
  for (const TableDef& table : SchemaTables()) {
    std::string columns;
    for (const ColumnDef& column : table.columns) columns += (columns.empty() ? "" : ", ") + std::string(column.name);
    const CliRun run = Cli(folder, "query", {company, "SELECT " + columns + " FROM " + std::string(table.name) +
                                                          " ORDER BY " + std::string(table.columns[0].name), "--csv"});
    EXPECT_EQ(run.exit_code, 0) << table.name << ": " << run.err;
    rows += std::string(table.name) + "\n" + run.out;
  }
  const CliRun totals = Cli(folder, "query", {company, "SELECT AccountID, Debits, Credits, DebitRows, CreditRows "
                                                       "FROM lk_RegisterTotal ORDER BY AccountID", "--csv"});
  EXPECT_EQ(totals.exit_code, 0) << totals.err;
  return rows + "lk_RegisterTotal\n" + totals.out;
}

// What a company shows: the integrity check (with its exit code), every statement and the journal.
std::string Books(const std::filesystem::path& folder, const std::string& company) {
  const CliRun check = Cli(folder, "check", {company});
  std::string books = "check " + std::to_string(check.exit_code) + "\n" + check.out;
  for (const char* report : {"trial-balance", "balance-sheet", "income-statement", "aged-receivables"}) {
    const CliRun run = Cli(folder, "report", {report, company});
    EXPECT_EQ(run.exit_code, 0) << report << ": " << run.err;
    books += run.out;
  }
  books += Cli(folder, "report", {"account-register", company, "--account", "1000"}).out;
  books += Cli(folder, "accounts", {company}).out;
  const CliRun journal = Cli(folder, "export", {company});
  EXPECT_EQ(journal.exit_code, 0) << journal.err;
  return books + journal.out;
}

// The demo company with what a year of use leaves: a sub-account tree with odd names, another
// user, a session ended (its key the table's last), an unbalanced transaction, an aborted one and
// one still waiting.
void UseTheDemoCompany(const std::filesystem::path& folder, const std::string& file) {
  ASSERT_EQ(Cli(folder, "demo", {file}).exit_code, 0);
  CACMgr ledger;
  const std::string token = CSecurityMgr().BeginUserSession(file, "owner", "demo-pass");
  CUserManager().AddUserProfile(file, "owner", token, "Zoë O'Brien", "pw-zoe", "Zoë", "O'Brien", "Z", Variant(), false,
                                "zoe@example.com", true);
  (void)CSecurityMgr().BeginUserSession(file, "ZOË O'BRIEN", "pw-zoe");
  CSecurityMgr().EndUserSession(file, "Zoë O'Brien");
  const Variant bank = std::stoll(testing::RawScalar(file, "SELECT ACAccountID FROM ACAccount WHERE AccountNumber='1000'"));
  const Variant type = std::stoll(testing::RawScalar(file, "SELECT AccountTypeID FROM ACAccount WHERE AccountNumber='1000'"));
  const Variant petty = ledger.AddAccount(file, "owner", token, "1000-01", "Petty cash «Ünïcode» 'quoted'; DROP TABLE x",
                                          "Till\nsecond line", "a note", false, "", bank, type, "");
  const Variant drawer = ledger.AddAccount(file, "owner", token, "1000-01-A", "Drawer \"A\"", "", "", true, "", petty, type, "");
  ASSERT_EQ(Cli(folder, "post", {file, "--date", "2026-03-20", "--description", "Float – unbalanced", "--debit",
                                 "1000-01-A=5.0001", "--credit", "4000=3", "--allow-unbalanced"})
                .exit_code,
            0);
  const std::string aborted = ledger.BeginTransaction(file, "owner", token, static_cast<int32_t>(ttGENJRNL), "2026-03-21",
                                                      "Aborted", Variant(), Variant(), "", "", "");
  ledger.PostDebit(file, aborted, drawer, CurrencyFromText("7"), "never");
  ledger.AbortTransaction(file, aborted);
  const std::string waiting = ledger.BeginTransaction(file, "owner", token, static_cast<int32_t>(ttGENJRNL), "2026-03-22",
                                                      "Waiting", Variant(), Variant(), "", "", "");
  ledger.PostCredit(file, waiting, petty, CurrencyFromText("2.5"), "not yet");
}

// A cheque written on `company`, then a logon: its number and the keys the rows got.
std::string NextCheque(const std::string& company) {
  CACMgr ledger;
  const Variant bank = std::stoll(testing::RawScalar(company, "SELECT ACAccountID FROM ACAccount WHERE AccountNumber='1000'"));
  const Variant rent = std::stoll(testing::RawScalar(company, "SELECT ACAccountID FROM ACAccount WHERE AccountNumber='5100'"));
  const std::string number = ledger.BeginTransaction(company, "owner", "", static_cast<int32_t>(ttCHQ), "2026-04-01",
                                                     "April rent", bank, CurrencyFromText("1850"), "Lakeside", "Rent", "1002");
  ledger.PostDebit(company, number, rent, CurrencyFromText("1850"), "Rent, April");
  ledger.EndTransaction(company, number);
  (void)CSecurityMgr().BeginUserSession(company, "owner", "demo-pass");
  return "number " + number + ", keys " +
         testing::RawScalar(company, "SELECT MAX(ACTransLogID) FROM ACTransLog") + " " +
         testing::RawScalar(company, "SELECT MAX(ACTransactionID) FROM ACTransaction") + " " +
         testing::RawScalar(company, "SELECT MAX(SysSessionsID) FROM SysSessions");
}

TEST(CopyCli, FileToServerToFileKeepsEveryRowTheStatementsAndTheNextKeys) {
  REQUIRE_SERVER();
  testing::TempCompany scratch;
  const std::filesystem::path folder = scratch.folder();
  const std::string file = (folder / "books.ldb").string();
  UseTheDemoCompany(folder, file);
  ServerCompany server("books");
  const std::string back = (folder / "back.ldb").string();

  const CliRun up = Cli(folder, "copy", {file, server.uri()});
  ASSERT_EQ(up.exit_code, 0) << up.err;
  EXPECT_EQ(up.out.rfind("Copied " + file + " to " + server.uri() + ": ", 0), 0u) << up.out;
  EXPECT_NE(up.out.find("ACTransaction 15, ACInvoice 1, ACInvoiceItem 2, CITaxCode 1)."), std::string::npos) << up.out;
  const CliRun down = Cli(folder, "copy", {server.uri(), back});
  ASSERT_EQ(down.exit_code, 0) << down.err;

  const std::string rows = AllRows(folder, file);
  const std::string books = Books(folder, file);
  EXPECT_NE(books.find("check 2\n"), std::string::npos) << books;  // the unbalanced entry: a warning
  EXPECT_NE(books.find("Petty cash «Ünïcode» 'quoted'; DROP TABLE x"), std::string::npos);
  for (const std::string& copy : {server.uri(), back}) {
    EXPECT_EQ(AllRows(folder, copy), rows) << copy;
    EXPECT_EQ(Books(folder, copy), books) << copy;
  }

  // Each copy carries on where the source would: the next number, and keys past every key the
  // source ever handed out (the ended session's included).
  const std::string next = NextCheque(file);
  EXPECT_EQ(next, "number 9, keys 9 17 3");
  EXPECT_EQ(NextCheque(server.uri()), next);
  EXPECT_EQ(NextCheque(back), next);
}

TEST(CopyCli, TheDemoCompanyCopiesCleanBetweenFiles) {
  testing::TempCompany scratch;
  const std::filesystem::path folder = scratch.folder();
  const std::string demo = (folder / "demo.ldb").string();
  const std::string copy = (folder / "copy.ldb").string();
  ASSERT_EQ(Cli(folder, "demo", {demo}).exit_code, 0);
  const CliRun copied = Cli(folder, "copy", {demo, copy});
  ASSERT_EQ(copied.exit_code, 0) << copied.err;
  EXPECT_EQ(copied.out, "Copied " + demo + " to " + copy +
                            ": 41 rows (ISubScriber 1, ISubscriberLocation 1, IUser 1, ACAccountType 6, "
                            "ACFnclInstitution 1, ACAccount 9, ACTransLog 5, ACTransaction 13, ACInvoice 1, "
                            "ACInvoiceItem 2, CITaxCode 1).\n");
  EXPECT_EQ(Cli(folder, "check", {copy}).out, "no findings\n");
  EXPECT_EQ(AllRows(folder, copy), AllRows(folder, demo));
  EXPECT_EQ(Books(folder, copy), Books(folder, demo));
  EXPECT_EQ(NextCheque(copy), NextCheque(demo));
}

TEST(CopyCli, ASourceThatCheckFindsFaultWithIsCopiedAsItIsWithItsRegisterTotalsRebuilt) {
  testing::TempCompany scratch;
  const std::filesystem::path folder = scratch.folder();
  const std::string file = (folder / "faulty.ldb").string();
  ASSERT_EQ(Cli(folder, "demo", {file}).exit_code, 0);
  ASSERT_EQ(testing::RawExec(file, "UPDATE ACAccount SET Balance=Balance+1 WHERE AccountNumber='1000';"
                                   "UPDATE lk_RegisterTotal SET Debits=Debits+5 WHERE AccountID="
                                   "(SELECT ACAccountID FROM ACAccount WHERE AccountNumber='5100');"
                                   "INSERT INTO ISubScriber (CompanyName) VALUES ('Second');"),
            "");
  const CliRun source_check = Cli(folder, "check", {file});
  ASSERT_EQ(source_check.exit_code, 3);
  ASSERT_NE(source_check.out.find("problem register-total: "), std::string::npos) << source_check.out;

  auto check_of = [&](const std::string& copy) {
    const CliRun copied = Cli(folder, "copy", {file, copy});
    EXPECT_EQ(copied.exit_code, 0) << copied.err;
    EXPECT_NE(copied.out.find("(ISubScriber 2, "), std::string::npos) << copied.out;
    EXPECT_NE(copied.out.find("; the kept register totals of 1 account did not match the source's register and were "
                              "rebuilt from it.\n"),
              std::string::npos)
        << copied.out;
    const CliRun check = Cli(folder, "check", {copy});
    EXPECT_EQ(check.exit_code, 3);
    return Named(check.out, copy);
  };
  // What the source holds comes across as it is; only the totals kept beside the register are
  // made anew from it.
  std::string expected;
  for (const std::string& line : testing::Lines(source_check.out)) {
    if (line.rfind("problem register-total: ", 0) != 0) expected += line + "\n";
  }
  EXPECT_EQ(check_of((folder / "copy.ldb").string()), expected);
  if (testing::PostgresServer().empty()) return;
  ServerCompany server("faulty");
  // A company on a server is not called a file.
  std::string on_server = expected;
  on_server.replace(on_server.find("The file has"), 8, "The company database");
  EXPECT_EQ(check_of(server.uri()), on_server);
}

TEST(CopyCli, AnExistingDestinationIsRefusedAndLeftAsItWas) {
  testing::TempCompany scratch;
  const std::filesystem::path folder = scratch.folder();
  const std::string demo = (folder / "demo.ldb").string();
  const std::string other = (folder / "other.ldb").string();
  ASSERT_EQ(Cli(folder, "demo", {demo}).exit_code, 0);
  ASSERT_EQ(Cli(folder, "new", {other, "--company", "Other"}).exit_code, 0);
  const std::string before = testing::DumpTables(other);

  const CliRun refused = Cli(folder, "copy", {demo, other});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("already exists"), std::string::npos) << refused.err;
  EXPECT_EQ(testing::DumpTables(other), before);

  // A file that is no company is not written over either.
  const std::string note = (folder / "note.txt").string();
  { std::ofstream(note) << "keep me\n"; }
  EXPECT_EQ(Cli(folder, "copy", {demo, note}).exit_code, 1);
  std::ifstream kept(note);
  std::string line;
  std::getline(kept, line);
  EXPECT_EQ(line, "keep me");

  if (testing::PostgresServer().empty()) return;
  ServerCompany server("existing");
  ASSERT_EQ(Cli(folder, "new", {server.uri(), "--company", "On the server"}).exit_code, 0);
  const std::string on_server = testing::DumpTables(server.uri());
  const CliRun again = Cli(folder, "copy", {demo, server.uri()});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
  EXPECT_EQ(testing::DumpTables(server.uri()), on_server);
}

TEST(CopyCli, ACopyThatFailsMidwayLeavesNoDestination) {
  testing::TempCompany scratch;
  const std::filesystem::path folder = scratch.folder();
  const std::string demo = (folder / "demo.ldb").string();
  ASSERT_EQ(Cli(folder, "demo", {demo}).exit_code, 0);
  auto nothing_at = [&](const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal", "-lock"}) {
      if (std::filesystem::exists(path + suffix)) return false;
    }
    return true;
  };

  // A source that cannot be opened: nothing is made.
  const std::string never = (folder / "never.ldb").string();
  const CliRun missing = Cli(folder, "copy", {(folder / "missing.ldb").string(), never});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("unable to open database file"), std::string::npos) << missing.err;
  EXPECT_TRUE(nothing_at(never));

  // A server that refuses the connection: one line naming the server, no file made anywhere.
  const CliRun unreachable = Cli(folder, "copy", {demo, "postgresql://nobody@127.0.0.1:1/none?company=x"});
  EXPECT_EQ(unreachable.exit_code, 1);
#ifdef LEDGERKIT_WITH_POSTGRESQL
  EXPECT_NE(unreachable.err.find("PostgreSQL)"), std::string::npos) << unreachable.err;
#else
  // A build without the engine refuses the URI as one it does not read, never as a path.
  EXPECT_NE(unreachable.err.find("read by no engine of this build"), std::string::npos) << unreachable.err;
  EXPECT_FALSE(std::filesystem::exists(folder / "postgresql:"));
#endif
  EXPECT_EQ(std::count(unreachable.err.begin(), unreachable.err.end(), '\n'), 1) << unreachable.err;

  // The last table's row is too long for the destination (written into the source past its
  // rules): every table before it was copied when the destination refused it.
  const std::string too_long = (folder / "too-long.ldb").string();
  ASSERT_EQ(Cli(folder, "demo", {too_long}).exit_code, 0);
  ASSERT_EQ(testing::RawExec(too_long, "PRAGMA ignore_check_constraints=ON; UPDATE CITaxCode SET Description='" +
                                           std::string(300, 'x') + "';"),
            "");
  const std::string long_copy = (folder / "long-copy.ldb").string();
  const CliRun refused = Cli(folder, "copy", {too_long, long_copy});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("The destination refused CITaxCode row CITaxCodeID=1: "), std::string::npos) << refused.err;
  EXPECT_TRUE(nothing_at(long_copy));

  // An amount that is no whole count of ten-thousandths is never rounded on its way.
  const std::string inexact = (folder / "inexact.ldb").string();
  ASSERT_EQ(Cli(folder, "demo", {inexact}).exit_code, 0);
  ASSERT_EQ(testing::RawExec(inexact, "PRAGMA ignore_check_constraints=ON; UPDATE ACInvoice SET Total=12.5;"), "");
  const std::string inexact_copy = (folder / "inexact-copy.ldb").string();
  const CliRun fraction = Cli(folder, "copy", {inexact, inexact_copy});
  EXPECT_EQ(fraction.exit_code, 1);
  EXPECT_NE(fraction.err.find("The copy cannot hold ACInvoice row ACInvoiceID=1: Total holds 12.5, which is no whole "
                              "number"),
            std::string::npos)
      << fraction.err;
  EXPECT_TRUE(nothing_at(inexact_copy));

  if (testing::PostgresServer().empty()) return;
  ServerCompany server("midway");
  const CliRun up = Cli(folder, "copy", {too_long, server.uri()});
  EXPECT_EQ(up.exit_code, 1);
  EXPECT_NE(up.err.find("The destination refused CITaxCode row CITaxCodeID=1: "), std::string::npos) << up.err;
  EXPECT_NE(up.err.find("PostgreSQL)"), std::string::npos) << up.err;
  EXPECT_FALSE(server.Exists());
  EXPECT_EQ(Cli(folder, "copy", {inexact, server.uri()}).exit_code, 1);
  EXPECT_FALSE(server.Exists());
}

TEST(CopyCli, EveryCommandOnAServerCompanyPrintsWhatItPrintsOnAFile) {
  REQUIRE_SERVER();
  testing::TempCompany scratch;
  const std::filesystem::path folder = scratch.folder();
  ServerCompany shop_server("shop"), demo_server("demo"), import_server("import");
  const std::string shop_file = (folder / "shop.ldb").string();
  const std::string demo_file = (folder / "demo.ldb").string();
  const std::string import_file = (folder / "import.ldb").string();
  // Each command on the file and on the server, compared with the company's name left out.
  auto same = [&](const std::string& command, std::vector<std::string> words, const std::string& file,
                  const std::string& uri) {
    words.insert(words.begin() + (command == "report" ? 1 : 0), file);
    const CliRun on_file = Cli(folder, command, words);
    std::replace(words.begin(), words.end(), file, uri);
    const CliRun on_server = Cli(folder, command, words);
    EXPECT_EQ(on_server.exit_code, on_file.exit_code) << command << ": " << on_server.err;
    EXPECT_EQ(Named(on_server.out, uri), Named(on_file.out, file)) << command;
    EXPECT_EQ(Named(on_server.err, uri), Named(on_file.err, file)) << command;
    return on_file.out;
  };

  EXPECT_EQ(same("new", {"--company", "Shop", "--user", "owner", "--password", "pw", "--chart", "standard"}, shop_file,
                 shop_server.uri()),
            "Created company file " + shop_file + " for Shop with the standard chart of accounts.\n");
  same("post", {"--date", "2026-01-05", "--description", "Capital", "--debit", "1000=12500", "--credit", "3000=12500"},
       shop_file, shop_server.uri());
  same("post", {"--date", "2026-01-06", "--description", "Nope", "--debit", "1000=1", "--credit", "9999=1"}, shop_file,
       shop_server.uri());
  same("accounts", {}, shop_file, shop_server.uri());

  const std::string demo = same("demo", {}, demo_file, demo_server.uri());
  EXPECT_NE(demo.find("Total assets                  24,502.4521"), std::string::npos) << demo;
  same("check", {}, demo_file, demo_server.uri());
  same("check", {"--json"}, demo_file, demo_server.uri());
  for (const char* report : {"trial-balance", "balance-sheet", "income-statement", "aged-receivables"}) {
    same("report", {report}, demo_file, demo_server.uri());
    same("report", {report, "--csv"}, demo_file, demo_server.uri());
  }
  same("report", {"income-statement", "--monthly", "--from", "2026-02-01", "--to", "2026-03-31", "--json"}, demo_file,
       demo_server.uri());
  same("report", {"account-register", "--account", "1000"}, demo_file, demo_server.uri());
  const std::string query =
      "SELECT a.AccountNumber AS Account, a.Name, a.Balance, t.TransactionDate AS Posted, t.Withdrawal AS Debit "
      "FROM ACAccount a JOIN ACTransaction t ON t.Parent = a.ACAccountID ORDER BY t.ACTransactionID";
  for (const char* format : {"--json", "--csv"}) same("query", {query, format}, demo_file, demo_server.uri());
  same("query", {query}, demo_file, demo_server.uri());
  same("export", {"--format", "csv"}, demo_file, demo_server.uri());
  const std::string journal = same("export", {}, demo_file, demo_server.uri());

  const std::string journal_file = (folder / "demo.journal").string();
  { std::ofstream(journal_file, std::ios::binary) << journal; }
  same("new", {"--company", "Imported", "--user", "owner", "--password", "pw"}, import_file, import_server.uri());
  same("import", {journal_file}, import_file, import_server.uri());
  EXPECT_EQ(same("export", {}, import_file, import_server.uri()), journal);

  // The bridge: the same answers but for the company named in them.
  auto rpc = [&](const std::string& company) {
    const std::string call =
        R"({"jsonrpc":"2.0","id":1,"method":"CReportMgr.TrialBalance","params":[")" + company +
        R"(","owner","",{"$date":"2026-03-31 00:00:00"}]})" + "\n" +
        R"({"jsonrpc":"2.0","id":2,"method":"CACMgr.GetAccountBalance","params":[")" + company + R"(",1]})" + "\n";
    const CliRun run = RunLedgerkit(folder, "rpc", call);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return Named(run.out, company);
  };
  const std::string answers = rpc(demo_file);
  EXPECT_NE(answers.find("\"id\":2,\"result\""), std::string::npos) << answers;
  EXPECT_EQ(rpc(demo_server.uri()), answers);
}

}  // namespace
}  // namespace ledgerkit
