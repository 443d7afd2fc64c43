// The chart of accounts, account types, tax codes, cheques and deposits on the command line, in
// sessions a bookkeeper runs: every refusal names what is wrong and writes nothing, and a refused
// entry consumes no transaction number.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::json;
using testing::CliRun;
using testing::Lines;
using testing::MoneySql;
using testing::ShellQuote;

class BooksCli : public ::testing::Test {
 protected:
  BooksCli() : file_((scratch_.folder() / "books.ldb").string()) {
    const CliRun created = Run("new " + ShellQuote(file_) + " --company Shop --chart standard --user owner --password pw123456");
    EXPECT_EQ(created.exit_code, 0) << created.err;
  }

  CliRun Run(const std::string& arguments) const { return testing::RunLedgerkit(scratch_.folder(), arguments); }
  // `ledgerkit COMMAND FILE REST`.
  CliRun On(const std::string& command, const std::string& rest = "") const {
    return Run(command + " " + ShellQuote(file_) + (rest.empty() ? "" : " " + rest));
  }
  std::string Scalar(const std::string& sql) const { return testing::RawScalar(file_, sql); }
  std::string Dump() const { return testing::DumpTables(file_); }
  std::string KeyOf(const std::string& number) const {
    return Scalar("SELECT ACAccountID FROM ACAccount WHERE AccountNumber='" + number + "'");
  }

  // A command that must be refused: exit 1, one line on standard error holding every piece of
  // `expected`, nothing written.
  void ExpectRefused(const std::string& command, const std::string& rest, const std::vector<std::string>& expected) {
    const std::string before = Dump();
    const std::string counter = Scalar("SELECT NextTransactionNumber FROM ISubScriber");
    const CliRun refused = On(command, rest);
    EXPECT_EQ(refused.exit_code, 1) << command << " " << rest << "\n" << refused.out;
    EXPECT_EQ(Lines(refused.err).size(), 1u) << refused.err;
    for (const std::string& piece : expected) {
      EXPECT_NE(refused.err.find(piece), std::string::npos) << command << " " << rest << "\n" << refused.err;
    }
    EXPECT_EQ(Dump(), before) << command << " " << rest;
    EXPECT_EQ(Scalar("SELECT NextTransactionNumber FROM ISubScriber"), counter) << command << " " << rest;
  }

  CliRun Ok(const std::string& command, const std::string& rest) {
    const CliRun run = On(command, rest);
    EXPECT_EQ(run.exit_code, 0) << command << " " << rest << "\n" << run.err;
    return run;
  }

  testing::TempCompany scratch_;
  std::string file_;
};

TEST_F(BooksCli, TypesAccountsAndTaxCodesAreKeptApartByNumberNameAndCode) {
  // Account types with their class.
  EXPECT_EQ(Ok("type add", "Card --class liability --description 'Credit cards'").out.rfind("Added account type Card", 0), 0u);
  ExpectRefused("type add", "Bank --class asset", {"\"Bank\" exists already", "class asset"});
  EXPECT_NE(On("type add", "Loans --class debt").exit_code, 0);
  const Json types = Json::parse(Ok("type list", "--json").out);
  ASSERT_EQ(types.size(), 8u);
  bool card_listed = false;
  for (const Json& type : types) {
    if (type["Name"] == "Card") {
      card_listed = true;
      EXPECT_EQ(type["Class"], "liability");
      EXPECT_EQ(type["Accounts"], 0);
    }
    if (type["Name"] == "Expense") {
      EXPECT_EQ(type["Accounts"], 9);
    }
  }
  EXPECT_TRUE(card_listed) << types.dump();

  // Accounts: a sub-account takes its parent's type; an institution is found or made.
  const CliRun petty = Ok("account add", "1010 'Petty cash' --parent 1000 --description 'Cash box'");
  EXPECT_NE(petty.out.find("type Bank, under 1000 Bank"), std::string::npos) << petty.out;
  EXPECT_EQ(Scalar("SELECT ParentAccountID FROM ACAccount WHERE AccountNumber='1010'"), KeyOf("1000"));
  Ok("account add", "2300 Visa --type Card --institution 'First Bank'");
  Ok("account add", "2310 Mastercard --type Card --institution 'First Bank'");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ACFnclInstitution"), "1");
  EXPECT_EQ(Scalar("SELECT COUNT(DISTINCT FnclInstitutionID) FROM ACAccount WHERE AccountNumber IN ('2300','2310')"), "1");

  ExpectRefused("account add", "1000 'Second bank' --type Bank", {"number 1000", "\"Bank\""});
  ExpectRefused("account add", "1300 Savings --type Savings", {"--type \"Savings\"", "no account type"});
  ExpectRefused("account add", "1300 Savings", {"--type is needed"});
  ExpectRefused("account add", "1300 Savings --type Bank --parent 9999", {"--parent \"9999\"", "no account has"});
  ExpectRefused("account add", "1300 Savings --type Card --parent 1000", {"1000 Bank", "parent's type"});

  // Edit keeps what is not given; the new number must be free.
  Ok("account edit", "1010 --name 'Cash drawer'");
  EXPECT_EQ(Scalar("SELECT Name || '|' || Description || '|' || ParentAccountID FROM ACAccount WHERE AccountNumber='1010'"),
            "Cash drawer|Cash box|" + KeyOf("1000"));
  ExpectRefused("account edit", "1010 --number 1200", {"number 1200", "\"Accounts receivable\""});
  ExpectRefused("account edit", "1000 --parent 1010", {"--parent 1010", "sub-accounts"});
  ExpectRefused("account edit", "1000", {"Nothing to change"});
  ExpectRefused("account edit", "1000 --type Receivable", {"1000 Bank has 1 sub-account", "parent's type"});
  Ok("account edit", "1010 --number 1020 --top-level");
  EXPECT_EQ(Scalar("SELECT IFNULL(ParentAccountID, 'none') FROM ACAccount WHERE AccountNumber='1020'"), "none");
  Ok("account edit", "1020 --parent 1000");

  // Close and delete: an account in use is not deleted.
  Ok("account close", "5600");
  EXPECT_EQ(Scalar("SELECT Inactive FROM ACAccount WHERE AccountNumber='5600'"), "1");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ACAccount WHERE AccountNumber='5600'"), "1");
  Ok("post", "--date 2026-01-05 --description Phone --debit 5700=80 --credit 1000=80");
  ExpectRefused("account delete", "1000", {"1000 Bank", "1 register row", "1 sub-account", "orphan"});
  ExpectRefused("account delete", "5700", {"1 register row"});
  EXPECT_EQ(Ok("account delete", "5800").out, "Deleted account 5800 Insurance.\n");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ACAccount WHERE AccountNumber='5800'"), "0");

  // Tax codes: rates are percentages, as invoices read them.
  Ok("taxcode add", "G --name 'GST only' --tax1 GST=5%:2100");
  Ok("account add", "2200 'PST payable' --type 'Sales tax'");
  Ok("taxcode add", "H --name 'GST and PST' --tax1 GST=5:2100 --tax2 PST=7.5%:2200 --piggyback");
  EXPECT_EQ(Scalar("SELECT TaxCode || Tax1Rate || Tax1Name || Tax1Exempt || Tax2Exempt FROM CITaxCode WHERE TaxCode='G'"),
            "G5.0GST01");
  ExpectRefused("taxcode add", "G --name Again --tax1 GST=5%:2100", {"tax code G is already used", "GST only"});
  ExpectRefused("taxcode add", "GS --name Two --tax1 GST=5%:2100", {"not one character"});
  ExpectRefused("taxcode add", "X --name Big --tax1 GST=105%:2100", {"105%", "from 0 to 100"});
  ExpectRefused("taxcode add", "X --name Word --tax1 GST=five%:2100", {"five%"});
  ExpectRefused("taxcode add", "X --name Minus --tax1 GST=-1%:2100", {"-1%"});
  ExpectRefused("taxcode add", "X --name Nowhere --tax1 GST=5%:9999", {"no account has the number 9999"});
  ExpectRefused("taxcode add", "X --name Shape --tax1 GST5%2100", {"NAME=RATE%:ACCOUNT"});
  ExpectRefused("taxcode add", "X --name Alone --tax1 GST=5%:2100 --piggyback", {"--piggyback needs --tax2"});
  const Json codes = Json::parse(Ok("taxcode list", "--json").out);
  ASSERT_EQ(codes.size(), 2u) << codes.dump();
  EXPECT_EQ(codes[1]["TaxCode"], "H");
  EXPECT_EQ(codes[1]["Tax1Rate"], 5);
  EXPECT_EQ(codes[1]["Tax2Rate"], 7.5);
  EXPECT_EQ(codes[1]["Tax2Account"], "2200");
  EXPECT_EQ(codes[1]["Tax2PiggyBack"], true);
  EXPECT_NE(Ok("taxcode list", "").out.find("GST only"), std::string::npos);
  ExpectRefused("account delete", "2200", {"1 tax code"});

  // The stored rate is what IssueInvoice charges: 100.00 at 5%, then 7.5% of 105.00.
  CACMgr ledger;
  Variant invoice_no("");
  const Variant invoice = ledger.InsertInvoice(file_, "owner", "", -1, "", Date::FromCivil(2026, 2, 1), invoice_no, "", "",
                                               "Lakeside", 0, ToLong(KeyOf("1200")));
  ledger.AddInvoiceItem(file_, "owner", "", invoice, Scalar("SELECT CITaxCodeID FROM CITaxCode WHERE TaxCode='H'"), "W",
                        "Work", CurrencyFromText("100"), 1, "", ToLong(KeyOf("4000")));
  ledger.IssueInvoice(file_, "owner", "", invoice);
  EXPECT_EQ(Scalar("SELECT " + MoneySql("SUM(Deposit)", file_) + " FROM ACTransaction WHERE Parent=" + KeyOf("2100")), "5");
  EXPECT_EQ(Scalar("SELECT " + MoneySql("SUM(Deposit)", file_) + " FROM ACTransaction WHERE Parent=" + KeyOf("2200")), "7.875");

  // A file that already holds two accounts numbered 4000: every command refuses the number,
  // naming both keys, instead of taking the first.
  const std::string sales = KeyOf("4000");
  const std::string interest = KeyOf("4900");
  ASSERT_EQ(On("query", ShellQuote("UPDATE ACAccount SET AccountNumber='4000' WHERE AccountNumber='4900'")).exit_code, 0);
  // Listed as the chart lists them: by number, then name.
  const std::string keys = "keys " + interest + " and " + sales;
  ExpectRefused("post", "--date 2026-03-01 --description Sale --debit 1000=10 --credit 4000=10", {"ambiguous", keys});
  ExpectRefused("account edit", "4000 --name Revenue", {"ambiguous", keys});
  ExpectRefused("account close", "4000", {keys});
  ExpectRefused("account add", "4000 'Third sales' --type Income", {"number 4000", "\"Sales\"", "\"Interest income\""});
  ExpectRefused("account add", "4010 'Online sales' --parent 4000", {keys});
  ExpectRefused("deposit", "--bank 1000 --date 2026-03-01 --amount 10 --from 4000", {keys});
  ExpectRefused("taxcode add", "Z --name Odd --tax1 T=1%:4000", {keys});
}

TEST_F(BooksCli, ChequesAndDepositsAreSplitStoredAndRefusedWithoutConsumingANumber) {
  EXPECT_EQ(Ok("post", "--date 2026-01-02 --description Capital --debit 1000=5000 --credit 3000=5000").out,
            "Posted transaction 1: debits 5000, credits 5000.\n");

  // Bad dates say how a date is written; nothing is consumed.
  for (const char* date : {"2026-13-01", "2026-02-30", "05/01/2026", "2026-1-5"}) {
    ExpectRefused("post", std::string("--date ") + date + " --description Rent --debit 5100=10 --credit 1000=10",
                  {std::string("--date \"") + date + "\"", "YYYY-MM-DD"});
  }
  ExpectRefused("post", "--date 2026-01-03 --description Rent --debit 5100 --credit 1000=10", {"NUMBER=AMOUNT"});
  const std::string cheque = "--bank 1000 --date 2026-01-10 --payee 'Acme Ltd.' --amount 250.00 ";
  ExpectRefused("cheque", cheque + "--to 5100=200 --to 5400=40", {"add up to 240", "--amount 250"});
  ExpectRefused("cheque", cheque + "--to 5100=200 --to 5400", {"--to \"5400\" has no amount"});
  ExpectRefused("cheque", cheque + "--to 9999", {"--to \"9999\"", "no account has the number 9999"});
  ExpectRefused("cheque", cheque + "--to 1000", {"the --bank account itself"});
  ExpectRefused("cheque", "--bank 1999 --date 2026-01-10 --payee X --amount 5 --to 5100", {"--bank \"1999\""});
  ExpectRefused("cheque", "--bank 1000 --date 2026-02-30 --payee X --amount 5 --to 5100", {"YYYY-MM-DD"});
  ExpectRefused("cheque", "--bank 1000 --date 2026-01-10 --payee X --amount=-5 --to 5100", {"--amount \"-5\""});
  ExpectRefused("cheque", "--bank 1000 --date 2026-01-10 --payee X --amount 5 --to 5100 --number " + std::string(65, '9'),
                {"--number", "64"});
  ExpectRefused("deposit", "--bank 1000 --date 2026-01-11 --amount 900 --from 4000=1000", {"add up to 1000", "--amount 900"});
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ACTransLog"), "1");

  // A cheque split over two expenses, its number, payee and address kept.
  const CliRun paid = Ok("cheque", cheque + "--to 5100=200 --to 5400=50 --number 104 --address '1 Main St' --memo March");
  EXPECT_EQ(paid.out, "Recorded cheque 104 (transaction 2): 250.00 to Acme Ltd.\n");
  EXPECT_EQ(Scalar("SELECT TransType || '|' || ChequeNo || '|' || Description || '|' || Address || '|' || " +
                   MoneySql("Amount", file_) + " FROM ACTransLog WHERE TransactionNumber='2'"),
            "0|104|Acme Ltd.|1 Main St|250");
  EXPECT_EQ(Scalar("SELECT GROUP_CONCAT(a.AccountNumber || ':' || " + MoneySql("t.Withdrawal", file_) + " || '/' || " +
                   MoneySql("t.Deposit", file_) + " || ':' || t.Description, ' ') FROM (SELECT * FROM ACTransaction "
                   "WHERE TransactionNumber='2' ORDER BY ACTransactionID) t JOIN ACAccount a ON a.ACAccountID=t.Parent"),
            "1000:0/250:March 5100:200/0:March 5400:50/0:March");
  ExpectRefused("cheque", cheque + "--to 5100 --number 104", {"cheque 104", "already transaction 2"});

  // One account without an amount takes it all; no --number leaves the cheque unnumbered.
  EXPECT_EQ(Ok("cheque", "--bank 1000 --date 2026-01-12 --payee 'Paper Co' --amount 42.5 --to 5300").out,
            "Recorded cheque (no number) (transaction 3): 42.50 to Paper Co.\n");
  EXPECT_EQ(Scalar("SELECT IFNULL(ChequeNo, 'null') FROM ACTransLog WHERE TransactionNumber='3'"), "null");

  // A deposit from two accounts.
  EXPECT_EQ(Ok("deposit", "--bank 1000 --date 2026-01-15 --amount 1500 --from 4000=1000 --from 1200=500 "
                          "--description 'Counter sales'").out,
            "Recorded deposit (transaction 4): 1500.00 into 1000.\n");
  EXPECT_EQ(Scalar("SELECT TransType || '|' || Description FROM ACTransLog WHERE TransactionNumber='4'"), "7|Counter sales");
  EXPECT_EQ(Scalar("SELECT GROUP_CONCAT(a.AccountNumber || ':' || " + MoneySql("t.Withdrawal", file_) + " || '/' || " +
                   MoneySql("t.Deposit", file_) + ", ' ') FROM (SELECT * FROM ACTransaction WHERE TransactionNumber='4' "
                   "ORDER BY ACTransactionID) t JOIN ACAccount a ON a.ACAccountID=t.Parent"),
            "1000:1500/0 4000:0/1000 1200:0/500");

  // The bank's register shows them, the cheque with its number.
  const Json bank = Json::parse(Run("report account-register " + ShellQuote(file_) + " --account 1000 --json").out);
  std::vector<std::string> numbers;
  for (const Json& row : bank) {
    if (row["RowKind"] == "detail") numbers.push_back(row["ChequeNo"].is_string() ? row["ChequeNo"].get<std::string>() : "-");
  }
  EXPECT_EQ(numbers, (std::vector<std::string>{"-", "104", "-", "-"})) << bank.dump();

  // After all the refusals the next entry has the next number.
  ExpectRefused("post", "--date 2026-02-30 --description Late --debit 5100=1 --credit 1000=1", {"YYYY-MM-DD"});
  EXPECT_EQ(Ok("post", "--date 2026-01-31 --description Rent --debit 5100=900 --credit 1000=900").out,
            "Posted transaction 5: debits 900, credits 900.\n");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ACTransLog"), "5");

  // Every command explains itself with an example.
  for (const char* command : {"cheque", "deposit", "post", "account add", "account edit", "type add", "taxcode add"}) {
    const CliRun help = Run(std::string(command) + " --help");
    EXPECT_EQ(help.exit_code, 0) << command;
    EXPECT_NE(help.out.find("Example"), std::string::npos) << command << "\n" << help.out;
  }
}

}  // namespace
}  // namespace ledgerkit
