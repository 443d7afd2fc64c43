// `ledgerkit export` and `ledgerkit import`, and the exported journal read by a real peer:
// hledger's balance of every account must be the ledger's own sum of its committed register
// rows, to the ten-thousandth.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <sys/wait.h>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "reports/Journal.h"
#include "support/Cli.h"
#include "support/Hledger.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CliRun;
using testing::HaveHledger;
using testing::HledgerBalances;
using testing::RawExec;
using testing::RunLedgerkit;
using testing::ShellQuote;
using testing::TempCompany;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}


// The ledger's own trial balance: each account's committed debits less credits, by the
// account's journal name.
std::map<std::string, Currency> RegisterSums(const std::string& path) {
  const auto names = JournalAccountNames(path);
  const auto rows = CReportMgr().TrialBalance(path, "", "", Variant());
  std::map<std::string, Currency> by_name;
  for (; !rows->AtEOF(); rows->MoveNext()) {
    if (ToText(rows->Field("RowKind")) != "detail") continue;
    by_name[names.at(ToLong(rows->Field("AccountID")))] += ToCurrency(rows->Field("Debits")) - ToCurrency(rows->Field("Credits"));
  }
  return by_name;
}

// Every account either side names has the same balance on both (a missing one counts 0).
void ExpectSameBalances(const std::map<std::string, Currency>& peer, const std::map<std::string, Currency>& ledger) {
  size_t nonzero = 0;
  for (const auto& [name, amount] : ledger) {
    const auto found = peer.find(name);
    EXPECT_EQ(found == peer.end() ? Currency() : found->second, amount) << name;
    nonzero += amount != Currency();
  }
  for (const auto& [name, amount] : peer) {
    if (!ledger.contains(name)) {
      EXPECT_EQ(amount, Currency()) << name;
    }
  }
  EXPECT_GT(nonzero, 3u);
}

// Export, import into a new company, export again: the two journals are the same.
void ExpectRoundTrip(const TempCompany& scratch, const std::string& file, const std::string& journal) {
  const std::string copy = (scratch.folder() / "copy.ldb").string();
  const std::string again = (scratch.folder() / "again.journal").string();
  ASSERT_EQ(RunLedgerkit(scratch.folder(), "new " + ShellQuote(copy) + " --company Copy --user clerk --password pw").exit_code, 0);
  const CliRun imported = RunLedgerkit(scratch.folder(), "import " + ShellQuote(copy) + " " + ShellQuote(journal));
  ASSERT_EQ(imported.exit_code, 0) << imported.err;
  EXPECT_EQ(imported.out.rfind("Imported ", 0), 0u) << imported.out;
  ASSERT_EQ(RunLedgerkit(scratch.folder(), "export " + ShellQuote(copy) + " -o " + ShellQuote(again)).exit_code, 0);
  EXPECT_EQ(ReadFile(again), ReadFile(journal)) << file;
}

TEST(JournalPeer, DemoCompanyBalancesAsHledgerReadsItAndSurvivesARoundTrip) {
  if (!HaveHledger()) GTEST_SKIP() << "hledger is not installed (scripts/install-deps.sh installs it); not checked";
  TempCompany scratch;
  const std::string file = (scratch.folder() / "demo.ldb").string();
  const std::string journal = (scratch.folder() / "demo.journal").string();
  ASSERT_EQ(RunLedgerkit(scratch.folder(), "demo " + ShellQuote(file)).exit_code, 0);
  const CliRun exported = RunLedgerkit(scratch.folder(), "export " + ShellQuote(file) + " --output " + ShellQuote(journal));
  ASSERT_EQ(exported.exit_code, 0) << exported.err;
  EXPECT_NE(ReadFile(journal).find("\n    Assets:Receivable:1200 Accounts receivable  1361.6821  ; Tools for Lakeside "
                                   "Builders\n"),
            std::string::npos);
  const auto peer = HledgerBalances(journal);
  ExpectSameBalances(peer, RegisterSums(file));
  EXPECT_EQ(peer.at("Liabilities:Sales tax:2200 PST payable"), CurrencyFromText("-89.0821"));
  ExpectRoundTrip(scratch, file, journal);
}

// A company of 1,000 committed transactions written straight into the file: names the journal
// must clean, sub-accounts three deep, amounts of every precision, some transactions that do
// not balance, and register rows of headers that are not committed (left out on both sides).
void FillGenerated(const std::string& path) {
  std::string sql =
      "BEGIN;"
      "INSERT INTO ACAccountType (ACAccountTypeID,Parent,Name,BalanceSheetType) VALUES "
      "(1,1,'Bank',0),(2,1,'Receivables; trade',0),(3,1,'Loans:long',1),(4,1,'Capital',2),(5,1,'Sales',3),"
      "(6,1,'Costs  direct',4);"
      "INSERT INTO ACAccount (ACAccountID,Parent,AccountNumber,Name,AccountTypeID,ParentAccountID) VALUES "
      "(1,1,'1000','Bank',1,NULL),(2,1,'1010','Till;float',1,1),(3,1,'1011','Drawer' || char(9) || 'A',1,2),"
      "(4,1,'1200','Trade debtors',2,NULL),(5,1,'2500','Bank: loan',3,NULL),(6,1,'3000','Owner',4,NULL),"
      "(7,1,'4000','Café sales',5,NULL),(8,1,'4100','',5,NULL),(9,1,'','Misc  income',5,NULL),"
      "(10,1,'5000','Stock',6,NULL),(11,1,'5100','Freight',6,10),(12,1,'5200','Duty',6,NULL);";
  uint64_t seed = 20261208;
  auto next = [&seed](uint64_t bound) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return (seed >> 33) % bound;
  };
  for (int i = 1; i <= 1000; ++i) {
    const Date date = Date::FromSeconds(Date::FromCivil(2025, 1, 1).seconds() + static_cast<int64_t>(next(365)) * 86400 +
                                        static_cast<int64_t>(next(3)) * 3600);
    const int status = i % 250 == 0 ? 2 : 1;
    const std::string number = std::to_string(i);
    const std::string description = i % 7 == 0 ? "Order; #" + number + "\tby  phone" : "Sale " + number;
    sql += "INSERT INTO ACTransLog (Parent,LogDate,TransactionDate,Description,TransactionNumber,TransLogStatus,"
           "UserName,TransType,Amount) VALUES (1,'2026-01-01 00:00:00','" + date.ToStoredText() + "','" +
           description + "','" + number + "'," + std::to_string(status) + ",'gen',1,0);";
    const int lines = 2 + static_cast<int>(next(3));
    int64_t balance = 0;
    for (int line = 0; line < lines; ++line) {
      int64_t amount;
      if (line + 1 < lines || i % 97 == 0) {
        const uint64_t precision = next(3);  // whole units, cents, ten-thousandths
        amount = static_cast<int64_t>(next(1000000)) * (precision == 0 ? 10000 : precision == 1 ? 100 : 1) -
                 (precision == 2 ? 500000 : 0);
      } else {
        amount = -balance;
      }
      balance += amount;
      const std::string withdrawal = std::to_string(amount > 0 ? amount : 0);
      const std::string deposit = std::to_string(amount < 0 ? -amount : 0);
      sql += "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,"
             "TransType) VALUES (" + std::to_string(1 + next(12)) + ",'" + date.ToStoredText() + "','" +
             (line == 0 ? "" : "line " + std::to_string(line)) + "'," + withdrawal + "," + deposit + ",'" + number +
             "',1);";
    }
  }
  sql += "COMMIT;";
  ASSERT_EQ(RawExec(path, sql), "");
}

TEST(JournalPeer, GeneratedThousandTransactionsBalanceAsHledgerReadsThem) {
  if (!HaveHledger()) GTEST_SKIP() << "hledger is not installed (scripts/install-deps.sh installs it); not checked";
  TempCompany scratch;
  FillGenerated(scratch.path());
  const std::string journal = (scratch.folder() / "generated.journal").string();
  const CliRun exported = RunLedgerkit(scratch.folder(), "export " + ShellQuote(scratch.path()) + " -o " + ShellQuote(journal));
  ASSERT_EQ(exported.exit_code, 0) << exported.err;
  const std::string text = ReadFile(journal);
  size_t headers = 0;
  for (const std::string& line : testing::Lines(text)) headers += line.starts_with("2025-");
  EXPECT_EQ(headers, 996u);  // every 250th is aborted
  EXPECT_NE(text.find("\n    ("), std::string::npos);  // a transaction that does not balance
  ExpectSameBalances(HledgerBalances(journal), RegisterSums(scratch.path()));
  ExpectRoundTrip(scratch, scratch.path(), journal);

  // The balance sheet balances but for the transactions that do not: assets (and amounts of no
  // class) less liabilities and equity is exactly the trial balance's difference.
  Currency assets_less_claims;
  const auto sheet = CReportMgr().BalanceSheet(scratch.path(), "", "", Variant());
  for (; !sheet->AtEOF(); sheet->MoveNext()) {
    if (ToText(sheet->Field("RowKind")) != "total") continue;
    const Variant section = sheet->Field("Section");
    const Currency amount = ToCurrency(sheet->Field("Amount"));
    if (section.IsNull() || ToText(section).empty()) {
      assets_less_claims -= amount;  // liabilities and equity
    } else if (ToText(section) == "Assets" || ToText(section) == "Unclassified") {
      assets_less_claims += amount;
    }
  }
  Currency difference;
  const auto trial = CReportMgr().TrialBalance(scratch.path(), "", "", Variant());
  for (; !trial->AtEOF(); trial->MoveNext()) {
    if (ToText(trial->Field("RowKind")) == "total") {
      difference = ToCurrency(trial->Field("Debits")) - ToCurrency(trial->Field("Credits"));
    }
  }
  EXPECT_NE(difference, Currency());
  EXPECT_EQ(assets_less_claims, difference);
}

TEST(JournalCli, ExportRangeAndCsvImportFailureNamesTheLineAndChangesNothing) {
  TempCompany scratch;
  const std::string file = (scratch.folder() / "demo.ldb").string();
  ASSERT_EQ(RunLedgerkit(scratch.folder(), "demo " + ShellQuote(file)).exit_code, 0);

  const CliRun march31 = RunLedgerkit(scratch.folder(), "export " + ShellQuote(file) + " --from 2026-03-31 --to 2026-03-31");
  ASSERT_EQ(march31.exit_code, 0) << march31.err;
  EXPECT_EQ(march31.out.rfind("2026-03-31 a/c Service Charge\n", 0), 0u) << march31.out;
  EXPECT_EQ(march31.out.find("2026-03-0"), std::string::npos);

  const CliRun csv = RunLedgerkit(scratch.folder(), "export " + ShellQuote(file) + " --format csv --to 2026-03-01");
  ASSERT_EQ(csv.exit_code, 0) << csv.err;
  EXPECT_EQ(testing::Lines(csv.out).size(), 3u);
  EXPECT_EQ(testing::Lines(csv.out)[1], "2026-03-01,1,ttDEP,Opening capital,Assets:Bank:1000 Bank,1000,Bank,Capital,25000,0,25000,1");

  const CliRun bad_date = RunLedgerkit(scratch.folder(), "export " + ShellQuote(file) + " --from March");
  EXPECT_EQ(bad_date.exit_code, 1);
  EXPECT_EQ(bad_date.err, "ledgerkit export: --from \"March\" is not a date: dates are written YYYY-MM-DD, as 2026-03-31. (error 13, ledgerkit)\n");

  // A failed export leaves the file it was to replace as it was, and nothing beside it; "-" is
  // standard output, not a file of that name.
  const std::filesystem::path keep = scratch.folder() / "keep.journal";
  std::ofstream(keep) << "kept\n";
  for (const std::string& source : {(scratch.folder() / "nosuch.ldb").string(), keep.string()}) {
    const CliRun failed = RunLedgerkit(scratch.folder(), "export " + ShellQuote(source) + " -o " + ShellQuote(keep.string()));
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(testing::Lines(failed.err).size(), 1u) << failed.err;
  }
  EXPECT_EQ(ReadFile(keep.string()), "kept\n");
  for (const auto& entry : std::filesystem::directory_iterator(scratch.folder())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
  }
  const CliRun to_stdout = RunLedgerkit(scratch.folder(), "export " + ShellQuote(file) + " -o - --to 2026-03-01");
  EXPECT_EQ(to_stdout.out.rfind("2026-03-01 ", 0), 0u) << to_stdout.out;
  EXPECT_FALSE(std::filesystem::exists(scratch.folder() / "-"));
  ASSERT_EQ(RunLedgerkit(scratch.folder(), "export " + ShellQuote(file) + " -o " + ShellQuote(keep.string())).exit_code, 0);
  EXPECT_EQ(ReadFile(keep.string()), RunLedgerkit(scratch.folder(), "export " + ShellQuote(file)).out);

  const std::string before = testing::DumpTables(file);
  const CliRun refused = RunLedgerkit(scratch.folder(), "import " + ShellQuote(file) + " -",
                                      "2026-04-01 Loan\n    Assets:Bank:1000 Bank  500\n    Liabilities:Loans:2600 Loan\n\n"
                                      "2026-04-02 Typo\n    Assets:Bank:1000 Bank  5\n    Expenses:Expense:5100 Rent  5\n");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.err,
            "ledgerkit import: Line 5 of the journal: the transaction does not balance: its postings add up to 10. "
            "(error 5, ledgerkit)\n");
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(testing::DumpTables(file), before);

  const CliRun missing = RunLedgerkit(scratch.folder(), "import " + ShellQuote(file) + " nowhere.journal");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "ledgerkit import: Cannot read the journal nowhere.journal. (error 5, ledgerkit)\n");

  // A journal file finds its includes beside it; what is left out is a warning line on stderr.
  std::filesystem::create_directories(scratch.folder() / "books");
  std::ofstream(scratch.folder() / "books" / "main.journal") << "include more.journal\n\n2026-04-03 Empty\n";
  std::ofstream(scratch.folder() / "books" / "more.journal")
      << "~ monthly\n    Expenses:Expense:5100 Rent  5\n    Assets:Bank:1000 Bank\n\n"
         "2026-04-02 Rent\n    Expenses:Expense:5100 Rent  5\n    Assets:Bank:1000 Bank\n";
  const CliRun included = RunLedgerkit(
      scratch.folder(), "import " + ShellQuote(file) + " " + ShellQuote((scratch.folder() / "books" / "main.journal").string()));
  EXPECT_EQ(included.exit_code, 0) << included.err;
  EXPECT_EQ(included.out.rfind("Imported 1 transactions into ", 0), 0u) << included.out;
  EXPECT_EQ(included.err,
            "warning: Line 1 of \"" + (scratch.folder() / "books" / "more.journal").string() + "\": the periodic transaction rule \"~ monthly\" is not imported "
            "(hledger too uses it only with --forecast).\n"
            "warning: Line 3 of the journal: the transaction has no postings; it is not imported.\n");
}

}  // namespace
}  // namespace ledgerkit
