// Invoices from entry to payment, and a bank reconciliation, on the command line, run as a user
// runs them: each step's output checked, each refusal one line that leaves the company as it was.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::json;
using testing::CliRun;
using testing::Lines;
using testing::ShellQuote;

class InvoiceCli : public ::testing::Test {
 protected:
  InvoiceCli() : file_((scratch_.folder() / "shop.ldb").string()) {
    const CliRun created =
        Run("new " + ShellQuote(file_) + " --company Shop --chart standard --user owner --password pw123456");
    EXPECT_EQ(created.exit_code, 0) << created.err;
  }

  CliRun Run(const std::string& arguments, const std::string& input = {}) const {
    return testing::RunLedgerkit(scratch_.folder(), arguments, input.empty() ? std::nullopt : std::optional(input));
  }
  // `ledgerkit COMMAND FILE REST`, which must succeed.
  std::string Ok(const std::string& command, const std::string& rest = "") const {
    const CliRun run = On(command, rest);
    EXPECT_EQ(run.exit_code, 0) << command << " " << rest << ": " << run.err;
    return run.out;
  }
  CliRun On(const std::string& command, const std::string& rest = "") const {
    return Run(command + " " + ShellQuote(file_) + (rest.empty() ? "" : " " + rest));
  }
  // Runs a command that must be refused: exit 1, one line naming `words`, nothing changed.
  void Refused(const std::string& command, const std::string& rest, const std::string& words) const {
    const std::string before = testing::DumpTables(file_);
    const CliRun run = On(command, rest);
    EXPECT_EQ(run.exit_code, 1) << rest << ": " << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find(words), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(testing::DumpTables(file_), before) << rest;
  }
  std::string Scalar(const std::string& sql) const { return testing::RawScalar(file_, sql); }
  std::string Key(const std::string& number) const {
    return Scalar("SELECT ACAccountID FROM ACAccount WHERE AccountNumber='" + number + "'");
  }

  testing::TempCompany scratch_;
  std::string file_;
};

TEST_F(InvoiceCli, AnInvoiceFromEntryToPayment) {
  // GST 5 % and PST 7 % on top of it, both collected in 2100, added as a front end adds it.
  const std::string tax = Key("2100");
  const Json request = {{"jsonrpc", "2.0"},
                        {"id", 1},
                        {"method", "CACMgr.AddTaxCode"},
                        {"params",
                         {file_, "owner", "", "G", "GST and PST", 5.0, "GST", false, 7.0, "PST", false, true, false,
                          std::stoi(tax), std::stoi(tax)}}};
  ASSERT_NE(Run("rpc --by-value", request.dump() + "\n").out.find("\"result\""), std::string::npos);

  EXPECT_EQ(Ok("invoice new", "--customer 'Bolt Ltd' --date 2026-03-10 --receivable 1200 --po PO-7"),
            "Entered invoice 1 (key 1) for Bolt Ltd, pending: add its lines with ledgerkit invoice add.\n");
  Refused("invoice new", "--customer X --date 2026-03-10 --receivable 1200 --number 1", "invoice 1 exists already");
  Refused("invoice new", "--customer X --date 10/03/2026 --receivable 1200", "YYYY-MM-DD");
  const std::string line = "--description Widget --price 100 --quantity 2 --account 4000";
  Refused("invoice add", "1 --item W1 " + line + " --tax Z", "--tax \"Z\": no tax code is Z");
  Refused("invoice add", "9 --item W1 " + line, "no invoice has the number 9");
  Refused("invoice add", "1 --item W1 --description Widget --price 100 --quantity=-2 --account 4000",
          "--quantity \"-2\" is not a quantity");
  Refused("invoice add", "1 --item W1 --description Widget --price 100 --quantity 2 --account 1200",
          "is the receivable account of invoice 1");

  EXPECT_EQ(Ok("invoice add", "1 --item W1 " + line + " --tax G --unit each"),
            "Added W1 to invoice 1: 2 at 100.00; the invoice's total is now 224.70.\n");
  EXPECT_EQ(Ok("invoice add", "1 --item S1 --description Service --price 40 --quantity 1.5 --account 4000 --tax G"),
            "Added S1 to invoice 1: 1.5 at 40.00; the invoice's total is now 292.11.\n");
  EXPECT_EQ(Scalar("SELECT " + testing::MoneySql("Total", file_) + " FROM ACInvoice"), "292.11");

  const std::string shown = Ok("invoice show", "1");
  EXPECT_EQ(shown.substr(0, shown.find('\n')), "Invoice 1 (key 1), pending");
  for (const char* expected : {"Customer    Bolt Ltd", "Order       PO-7", "S1    Service", "W1    Widget",
                               "2  each  100.00  200.00  4000     G", "GST", "13.00  2100", "19.11  2100", "Total",
                               "292.11  1200", "(2 rows)"}) {
    EXPECT_NE(shown.find(expected), std::string::npos) << expected << "\n" << shown;
  }
  const Json pending = Json::parse(Ok("invoice show", "1 --json"));
  EXPECT_EQ(pending["state"], "pending");
  EXPECT_EQ(pending["lines"].size(), 2u);
  EXPECT_EQ(pending["taxes"], Json::parse(R"([{"name":"GST","amount":"13","account":"2100"},
                                              {"name":"PST","amount":"19.11","account":"2100"}])"));
  EXPECT_EQ(pending["total"], "292.11");
  EXPECT_TRUE(pending["posted"].is_null());

  EXPECT_EQ(Ok("invoice issue", "1"), "Issued invoice 1: 292.11 debited to account 1200 in transaction 1.\n");
  const std::string trial = Ok("report trial-balance", "--csv");
  EXPECT_NE(trial.find("1200,Accounts receivable,Receivable,Asset,292.11,0,292.11,"), std::string::npos) << trial;
  // The second click: refused by the ledger, the books as they were.
  Refused("invoice issue", "1", "cannot be issued: it is already issued");
  EXPECT_EQ(Ok("report trial-balance", "--csv"), trial);
  Refused("invoice add", "1 --item X " + line, "it is outstanding, not pending");

  const Json outstanding = Json::parse(Ok("invoice list", "--outstanding --json"));
  ASSERT_EQ(outstanding.size(), 1u);
  EXPECT_EQ(outstanding[0]["Total"], "292.11");
  EXPECT_EQ(outstanding[0]["Owed"], "292.11");
  // Dated March 10: 51 days past on April 30, at what it posted.
  const std::string due = Ok("report aged-receivables", "--as-of 2026-04-30 --csv");
  EXPECT_NE(due.find("detail,Bolt Ltd,1,0,0,292.11,0,0,292.11"), std::string::npos) << due;

  EXPECT_EQ(Ok("invoice pay", "1 --date 2026-04-02 --bank 1000 --amount 100"),
            "Recorded a payment of 100.00 on invoice 1 in transaction 2; 192.11 is still owed.\n");
  Refused("invoice pay", "1 --date 2026-04-03 --bank 1000 --amount 192.12", "more than the 192.11 still owed");
  Refused("invoice pay", "1 --date 2026-04-03 --bank 1200", "is the receivable account");
  const std::string partly = Ok("invoice list");
  EXPECT_NE(partly.find("outstanding  292.11  100.00  192.11"), std::string::npos) << partly;
  EXPECT_EQ(Ok("invoice pay", "1 --date 2026-04-20 --bank 1000"),
            "Recorded a payment of 192.11 on invoice 1 in transaction 3; it is paid.\n");
  Refused("invoice pay", "1 --date 2026-04-21 --bank 1000", "it is paid, not outstanding");
  EXPECT_EQ(Scalar("SELECT Paid FROM ACInvoice"), "1");
  EXPECT_EQ(Scalar("SELECT " + testing::MoneySql("Balance", file_) + " FROM ACAccount WHERE AccountNumber='1200'"), "0");
  EXPECT_NE(Ok("invoice list", "--paid").find("paid   292.11  292.11  0.00"), std::string::npos);
  EXPECT_NE(Ok("invoice list", "--outstanding").find("(0 rows)"), std::string::npos);
  const std::string aged = Ok("report aged-receivables", "--as-of 2026-04-30 --csv");
  EXPECT_EQ(aged.find("Bolt Ltd"), std::string::npos) << aged;
  // What it posted and what was paid against it stay together.
  Refused("invoice delete", "1", "it is paid and deleting it removes what it posted");
  Refused("invoice delete", "1 --issued", "payments of 292.11 are recorded against it");

  // An issued invoice not paid yet is deleted with what it posted; a pending one with its lines.
  const std::string books = Ok("report trial-balance", "--csv");
  Ok("invoice new", "--customer 'Nut Co' --date 2026-04-01 --receivable 1200 --number A-2");
  Ok("invoice add", "A-2 --item N --description Nuts --price 5 --quantity 3 --account 4000");
  Ok("invoice issue", "A-2");
  Refused("invoice delete", "A-2", "it is outstanding and deleting it removes what it posted");
  EXPECT_EQ(Ok("invoice delete", "A-2 --issued"), "Deleted invoice A-2 (key 2) and what it posted in transaction 4.\n");
  EXPECT_EQ(Ok("report trial-balance", "--csv"), books);
  Ok("invoice new", "--customer 'Nut Co' --date 2026-04-01 --receivable 1200");
  Ok("invoice add", "2 --item N --description Nuts --price 5 --quantity 3 --account 4000");
  EXPECT_EQ(Ok("invoice delete", "2"), "Deleted invoice 2 (key 3) and its transaction 5.\n");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ACInvoiceItem"), "2");
}

TEST_F(InvoiceCli, ABankStatementReconciled) {
  Ok("post", "--date 2026-03-01 --description Capital --debit 1000=5000 --credit 3000=5000");
  Ok("post", "--date 2026-03-05 --description Rent --debit 5100=1200 --credit 1000=1200");
  Ok("post", "--date 2026-04-02 --description Takings --debit 1000=300 --credit 4000=300");
  const Json listed = Json::parse(Ok("reconcile", "--account 1000 --list --statement-balance 3796.70 --json"));
  ASSERT_EQ(listed["rows"].size(), 3u) << listed.dump();
  EXPECT_EQ(listed["rows"][1]["Amount"], "-1200");
  EXPECT_EQ(listed["cleared_balance"], "0");
  EXPECT_EQ(listed["difference"], "3796.7");
  const std::string capital = listed["rows"][0]["Key"].dump(), rent = listed["rows"][1]["Key"].dump();
  const std::string takings = listed["rows"][2]["Key"].dump();

  // The statement shows a service charge and interest the books do not have yet; the takings of
  // April are not on it.
  const std::string statement = "--account 1000 --statement-date 2026-03-31 --statement-balance 3796.70 ";
  Refused("reconcile", statement + "--clear all",
          "does not match: the cleared balance would be 3800.00, a difference of -3.30");
  Refused("reconcile", statement + "--clear " + capital + ",77",
          "77 is not an unreconciled register row of account 1000");
  Refused("reconcile", statement + "--clear all --service-charge 4.50 --charge-account 1000",
          "the account being reconciled");
  const std::string charges = " --service-charge 4.50 --charge-account 5200 --interest 1.20 --interest-account 4900";
  EXPECT_EQ(Ok("reconcile", statement + "--clear " + capital + "," + rent + charges),
            "Reconciled account 1000 to the statement of 2026-03-31: 2 rows cleared, a service charge of 4.50 posted, "
            "interest of 1.20 posted; the cleared balance is 3796.70.\n");
  Refused("reconcile", statement + "--clear " + rent, "is not an unreconciled register row");

  const std::string left = Ok("reconcile", "--account 1000 --list --statement-balance 4096.70");
  EXPECT_NE(left.find("Takings"), std::string::npos) << left;
  EXPECT_NE(left.find("(1 row)"), std::string::npos) << left;
  EXPECT_NE(left.find("Cleared balance 3796.70, statement balance 4096.70, difference 300.00."), std::string::npos);

  const Json bank = Json::parse(Ok("report account-register", "--account 1000 --json"));
  std::vector<std::string> rows;
  for (const Json& row : bank) {
    if (row["RowKind"] != "detail") continue;
    rows.push_back(row["Description"].get<std::string>() + (row["Reconciled"].get<bool>() ? " R" : " -"));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"Capital R", "Rent R", "a/c Service Charge R", "a/c Interest Earned R",
                                            "Takings -"}));
  EXPECT_EQ(bank[5]["TransactionID"].dump(), takings);
  // --force records a statement that does not match, and says by how much.
  EXPECT_EQ(Ok("reconcile", "--account 1000 --statement-date 2026-04-30 --statement-balance 4000 --clear all --force"),
            "Reconciled account 1000 to the statement of 2026-04-30: 1 row cleared; the cleared balance is 4096.70, "
            "the statement's 4000.00, a difference of -96.70.\n");
}

}  // namespace
}  // namespace ledgerkit
