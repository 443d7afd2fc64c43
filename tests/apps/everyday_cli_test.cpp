// A quarter of a small business's books kept with the command line alone, read as the owner's
// sessions: the chart, the capital, cheques with splits, invoices with two taxes from entry to
// payment, a reconciliation against the bank's statement, every statement, and the export read
// by hledger with the same balances. No SQL and no JSON-RPC anywhere.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "ledgerkit/common/Convert.h"
#include "support/Cli.h"
#include "support/Hledger.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::json;
using testing::CliRun;
using testing::Lines;
using testing::ShellQuote;

class EverydayCli : public ::testing::Test {
 protected:
  EverydayCli() : file_((scratch_.folder() / "harbour.ldb").string()) {}

  CliRun On(const std::string& command, const std::string& rest) const {
    return testing::RunLedgerkit(scratch_.folder(), command + " " + ShellQuote(file_) + " " + rest);
  }
  // Runs a step that must succeed and returns what it printed.
  std::string Ok(const std::string& command, const std::string& rest = "") const {
    const CliRun run = On(command, rest);
    EXPECT_EQ(run.exit_code, 0) << command << " " << rest << "\n" << run.err;
    return run.out;
  }
  // Runs a step that must be refused in one line holding `words`, and changes nothing.
  void Refused(const std::string& command, const std::string& rest, const std::string& words) const {
    const std::string before = Ok("report trial-balance");
    const CliRun run = On(command, rest);
    EXPECT_EQ(run.exit_code, 1) << command << " " << rest;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find(words), std::string::npos) << run.err;
    EXPECT_EQ(Ok("report trial-balance"), before) << command << " " << rest;
  }
  // The closing balance of every account of the trial balance, debit balances positive.
  std::map<std::string, Currency> TrialBalances(const std::string& as_of) const {
    std::map<std::string, Currency> balances;
    for (const Json& row : Json::parse(Ok("report trial-balance", "--as-of " + as_of + " --json"))) {
      if (row["RowKind"] != "detail") continue;
      const Currency debit = row["DebitBalance"].is_null() ? Currency() : CurrencyFromText(row["DebitBalance"].get<std::string>());
      const Currency credit = row["CreditBalance"].is_null() ? Currency() : CurrencyFromText(row["CreditBalance"].get<std::string>());
      balances[row["AccountNumber"].get<std::string>()] = debit - credit;
    }
    return balances;
  }

  testing::TempCompany scratch_;
  std::string file_;
};

TEST_F(EverydayCli, AQuarterOfBooksKeptWithTheCommandLineAlone) {
  // January: the company, its chart and the sales taxes.
  ASSERT_EQ(testing::RunLedgerkit(scratch_.folder(), "new " + ShellQuote(file_) +
                                                         " --company 'Harbour Tea' --chart standard --user owner "
                                                         "--password pw123456")
                .exit_code,
            0);
  Ok("account add", "2110 'GST payable' --type 'Sales tax'");
  Ok("account add", "2120 'PST payable' --type 'Sales tax'");
  Ok("account add", "5410 Electricity --parent 5400");
  Refused("account add", "1000 Till --type Bank", "\"Bank\"");
  EXPECT_EQ(Ok("taxcode add", "S --name 'GST and PST' --tax1 GST=5%:2110 --tax2 PST=7%:2120 --piggyback"),
            "Added tax code S (GST and PST): GST 5% to 2110, PST 7% to 2120 on the first tax too.\n");

  EXPECT_EQ(Ok("deposit", "--bank 1000 --date 2026-01-02 --amount 20000 --from 3000 --memo 'Opening capital'"),
            "Recorded deposit (transaction 1): 20000.00 into 1000.\n");
  Ok("cheque", "--bank 1000 --date 2026-01-05 --payee 'Lakeside Properties' --amount 1850 --to 5100 --number 101");
  // One cheque over two accounts; parts that do not add up are refused, taking no number.
  Refused("cheque", "--bank 1000 --date 2026-01-12 --payee Telco --amount 210.49 --to 5410=120.50 --to 5700=89.00",
          "210.49");
  Refused("cheque", "--bank 1000 --date 2026-01-32 --payee Telco --amount 210.49 --to 5700", "YYYY-MM-DD");
  EXPECT_EQ(Ok("cheque", "--bank 1000 --date 2026-01-12 --payee Telco --amount 210.49 --to 5410=120.50 --to "
                         "5700=89.99 --number 102"),
            "Recorded cheque 102 (transaction 3): 210.49 to Telco.\n");

  // An invoice of two lines under both taxes, entered, shown, issued once.
  EXPECT_NE(Ok("invoice new", "--customer 'Lakeside Builders' --date 2026-01-15 --receivable 1200 --po PO-7731")
                .find("Entered invoice 1 (key 1) for Lakeside Builders, pending"),
            std::string::npos);
  Ok("invoice add", "1 --item HAM-16 --description 'Claw hammer' --price 24 --quantity 10 --account 4000 --tax S");
  EXPECT_EQ(Ok("invoice add", "1 --item SAW-24 --description 'Panel saw' --price 40 --quantity 25 --account 4000 --tax S"),
            "Added SAW-24 to invoice 1: 25 at 40.00; the invoice's total is now 1393.14.\n");
  EXPECT_EQ(Ok("invoice issue", "1"), "Issued invoice 1: 1393.14 debited to account 1200 in transaction 4.\n");
  // A second issue (a double click) is refused and posts nothing.
  Refused("invoice issue", "1", "Invoice 1 (key 1) cannot be issued: it is already issued");

  // February: the rent, the first invoice paid, a second invoice.
  Ok("cheque", "--bank 1000 --date 2026-02-05 --payee 'Lakeside Properties' --amount 1850 --to 5100 --number 103");
  EXPECT_EQ(Ok("invoice pay", "1 --date 2026-02-10 --bank 1000"),
            "Recorded a payment of 1393.14 on invoice 1 in transaction 6; it is paid.\n");
  Ok("invoice new", "--customer 'Mill Cafe' --date 2026-02-20 --receivable 1200");
  Ok("invoice add", "2 --item TEA-1 --description 'Tea, 40 kg' --price 400 --quantity 1 --account 4000 --tax S");
  Ok("invoice issue", "2");
  Refused("post", "--date 2026-02-30 --description Typo --debit 5300=10 --credit 1000=10", "YYYY-MM-DD");

  // March: the rent (the refused entry took no number: the invoice's was 7), part of the second
  // invoice paid, a third still a draft.
  EXPECT_EQ(Ok("cheque", "--bank 1000 --date 2026-03-05 --payee 'Lakeside Properties' --amount 1850 --to 5100 --number 104"),
            "Recorded cheque 104 (transaction 8): 1850.00 to Lakeside Properties.\n");
  EXPECT_EQ(Ok("invoice pay", "2 --date 2026-03-15 --bank 1000 --amount 200"),
            "Recorded a payment of 200.00 on invoice 2 in transaction 9; 249.40 is still owed.\n");
  Ok("invoice new", "--customer 'Draft Co' --date 2026-03-28 --receivable 1200");
  Ok("invoice add", "3 --item TEA-2 --description 'Tea, 5 kg' --price 60 --quantity 1 --account 4000 --tax S");

  // The bank's March statement: 15,823.42 after a 12.50 charge and 3.27 of interest. A wrong
  // balance is refused with the difference; the right one clears every row to the 31st.
  const std::string list = Ok("reconcile", "--account 1000 --list --statement-balance 15823.42");
  EXPECT_NE(list.find("Cleared balance 0.00, statement balance 15823.42, difference 15823.42."), std::string::npos)
      << list;
  Refused("reconcile",
          "--account 1000 --statement-date 2026-03-31 --statement-balance 16000 --clear all --service-charge 12.50 "
          "--charge-account 5200 --interest 3.27 --interest-account 4900",
          "176.58");
  EXPECT_NE(Ok("reconcile", "--account 1000 --statement-date 2026-03-31 --statement-balance 15823.42 --clear all "
                            "--service-charge 12.50 --charge-account 5200 --interest 3.27 --interest-account 4900")
                .find("the cleared balance is 15823.42"),
            std::string::npos);
  const std::string register_rows = Ok("report account-register", "--account 1000 --from 2026-03-01 --to 2026-03-31");
  EXPECT_NE(register_rows.find("Harbour Tea\nAccount register: 1000 Bank\n2026-03-01 to 2026-03-31\n"), std::string::npos)
      << register_rows;
  EXPECT_NE(register_rows.find("104     R"), std::string::npos) << register_rows;

  // The statements: headed, balanced, the issued invoices only in the receivables.
  const std::string trial = Ok("report trial-balance", "--as-of 2026-03-31");
  EXPECT_EQ(trial.rfind("Harbour Tea\nTrial balance\nAs of 2026-03-31\n\n", 0), 0u) << trial;
  EXPECT_EQ(trial.find("difference"), std::string::npos) << trial;
  const std::map<std::string, Currency> balances = TrialBalances("2026-03-31");
  EXPECT_EQ(balances.at("1000").ToText(), "15823.42");
  EXPECT_EQ(balances.at("1200").ToText(), "249.4");
  EXPECT_EQ(balances.at("2110").ToText(), "-82");
  EXPECT_EQ(balances.at("2120").ToText(), "-120.54");
  EXPECT_EQ(balances.at("4000").ToText(), "-1640");
  EXPECT_EQ(balances.at("5410").ToText(), "120.5");
  const std::string sheet = Ok("report balance-sheet", "--as-of 2026-03-31");
  EXPECT_NE(sheet.find("Total liabilities and equity"), std::string::npos) << sheet;
  const std::string income = Ok("report income-statement", "--from 2026-01-01 --to 2026-03-31 --monthly");
  EXPECT_NE(income.find("2026-01-01 to 2026-03-31"), std::string::npos) << income;
  const std::string aged = Ok("report aged-receivables", "--as-of 2026-03-31");
  EXPECT_NE(aged.find("Mill Cafe"), std::string::npos) << aged;
  EXPECT_EQ(aged.find("Draft Co"), std::string::npos) << aged;
  EXPECT_NE(Ok("invoice list", "--outstanding").find("249.40"), std::string::npos);
  EXPECT_EQ(On("check", "").exit_code, 0);

  // The books exported and read by hledger: every account's balance the same.
  const std::string journal = (scratch_.folder() / "harbour.journal").string();
  Ok("export", "-o " + ShellQuote(journal));
  if (!testing::HaveHledger()) GTEST_SKIP() << "hledger is not installed (scripts/install-deps.sh installs it)";
  const auto peer = testing::HledgerBalances(journal);
  size_t compared = 0;
  for (const auto& [name, amount] : peer) {
    const std::string number = name.substr(name.rfind(':') + 1, 4);
    ASSERT_TRUE(balances.contains(number)) << name;
    EXPECT_EQ(amount, balances.at(number)) << name;
    ++compared;
  }
  EXPECT_EQ(compared, 11u);
}

}  // namespace
}  // namespace ledgerkit
