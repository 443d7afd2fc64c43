// The ledger at scale and at the edges of its set-based commit: a transaction's statements do
// not grow with its lines, balances of many accounts are written together and exactly, and a
// commit or abort changes nothing when any account would leave the currency range.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "CountingVfs.h"
#include "ledgerkit/common/Convert.h"
#include "common/Engine.h"
#include "ledgerkit/common/Error.h"
#include "ledger/LedgerFixture.h"
#include "reports/LedgerCheck.h"
#include "support/Capture.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;

class LedgerServices : public testing::LedgerFixture {
 protected:
  // The statements the engine starts while `call` runs.
  template <class Call>
  uint64_t StatementsOf(Call call) {
    const uint64_t before = EngineStatementsRun();
    call();
    return EngineStatementsRun() - before;
  }
  std::string Findings() const {
    std::string text;
    for (const CheckFinding& finding : CheckCompanyFile(account())) text += finding.kind + ": " + finding.message + "\n";
    return text;
  }
};

TEST_F(LedgerServices, StatementsPerOperationDoNotGrowWithLines) {
  // A cheque (begin with its credit, a debit, commit) as three operations, each writing.
  const uint64_t cheque = StatementsOf([&] { Cheque(100); });
  EXPECT_LE(cheque, 15u + 3 * testing::CompanyLockStatements());

  // Committing and aborting take as many statements for forty lines as for two.
  auto journal = [&](int lines) {
    const std::string number = Begin(ttGENJRNL);
    for (int i = 0; i < lines / 2; ++i) {
      Debit(number, kExpense, 1 + i);
      Credit(number, kBank, 1 + i);
    }
    return number;
  };
  const std::string small = journal(2), large = journal(40);
  const uint64_t commit_small = StatementsOf([&] { ledger_.EndTransaction(account(), small); });
  const uint64_t commit_large = StatementsOf([&] { ledger_.EndTransaction(account(), large); });
  EXPECT_EQ(commit_small, commit_large);
  const uint64_t abort_small = StatementsOf([&] { ledger_.AbortTransaction(account(), small); });
  const uint64_t abort_large = StatementsOf([&] { ledger_.AbortTransaction(account(), large); });
  EXPECT_EQ(abort_small, abort_large);
  EXPECT_EQ(Balances(), "1:100 2:-100") << "only the cheque is left";
  EXPECT_EQ(Findings(), "");

  // An invoice of twenty taxed lines is posted in one pass: its lines in one statement and a fixed
  // few more, none per line.
  const Variant code = ledger_.AddTaxCode(account(), "alice", "", "S", "Two taxes", 5.0, "GST", false, 7.0, "PST",
                                          false, true, false, kBank, kBank);
  Variant invoice_number;
  const Variant invoice = ledger_.InsertInvoice(account(), "alice", "", -1, "Order", kMarch31, invoice_number, "", "",
                                                "", CurrencyFromText("449.4"), kBank);
  for (int line = 0; line < 20; ++line) {
    ledger_.AddInvoiceItem(account(), "alice", "", invoice, code, "I" + std::to_string(line), "Item",
                           Currency::FromUnits(10), 2.0, "each", kExpense);
  }
  const uint64_t issue = StatementsOf([&] { ledger_.IssueInvoice(account(), "alice", "", invoice); });
  EXPECT_LE(issue, 20u + 2u + 1u + 15u) << "20 item credits, 2 tax credits, 1 debit";
  EXPECT_LE(issue, 14u + testing::CompanyLockStatements()) << "the 23 lines in one statement";
  EXPECT_EQ(Sql("SELECT Paid FROM ACInvoice WHERE ACInvoiceID=" + ToText(invoice)), "0");
  EXPECT_EQ(Findings(), "");

  // Its lines are written together: an invoice of two lines takes as many statements to post.
  Variant two_lines_number;
  const Variant two_lines = ledger_.InsertInvoice(account(), "alice", "", -1, "Order", kMarch31, two_lines_number, "",
                                                  "", "", CurrencyFromText("44.94"), kBank);
  for (int line = 0; line < 2; ++line) {
    ledger_.AddInvoiceItem(account(), "alice", "", two_lines, code, "I" + std::to_string(line), "Item",
                           Currency::FromUnits(10), 2.0, "each", kExpense);
  }
  EXPECT_EQ(StatementsOf([&] { ledger_.IssueInvoice(account(), "alice", "", two_lines); }), issue);
  EXPECT_EQ(Lines(ToText(ledger_.GetInvoice(account(), "alice", "", two_lines)->Value("TransactionNumber"))), "");
  EXPECT_EQ(Findings(), "");
}

TEST_F(LedgerServices, AChequeIsFifteenStatementsAndOnAFileThreeSyncs) {
  EXPECT_EQ(StatementsOf([&] { Cheque(100); }), 15u + 3 * testing::CompanyLockStatements());
  LEDGERKIT_FILE_ONLY("the syncs are counted in SQLite's file layer");
  // A fresh company of its own, so that its connections are opened through the counting layer,
  // with the log emptied and one cheque written, so that no checkpoint or log restart falls in
  // the one counted.
  ::bench::InstallCountingVfs();
  testing::TempCompany counted;
  const Variant company = counted.account();
  ASSERT_EQ(testing::RawExec(counted.path(), "INSERT INTO IUser (Parent,UserName,Password,AllowLogon) VALUES (1,'alice','pw',1)"), "");
  CACMgr ledger;
  const Variant type = ledger.AddAccountType(company, "alice", "", "Any", "", false, bstASSET);
  const Variant bank = ledger.AddAccount(company, "alice", "", "1000", "Bank", "", "", false, "", "", type, "");
  const Variant rent = ledger.AddAccount(company, "alice", "", "5000", "Rent", "", "", false, "", "", type, "");
  auto cheque = [&] {
    const std::string number = ledger.BeginTransaction(company, "alice", "", static_cast<int32_t>(ttCHQ), kMarch31,
                                                       "Rent", bank, Currency::FromUnits(100), "", "memo", "1");
    ledger.PostDebit(company, number, rent, Currency::FromUnits(100), "rent");
    ledger.EndTransaction(company, number);
  };
  EXPECT_EQ(testing::RawExec(counted.path(), "PRAGMA wal_checkpoint(TRUNCATE);"), "");
  cheque();
  const ::bench::FileCounts before = ::bench::CountedFileWork();
  cheque();
  const ::bench::FileCounts after = ::bench::CountedFileWork();
  EXPECT_EQ(after.syncs - before.syncs, 3u) << "one durable commit per operation, nothing more";
  // Each commit's frames reach the log in one write, the engine's file layer gathering them.
  EXPECT_EQ(after.log_writes - before.log_writes, 3u) << "one log write per commit";
  EXPECT_EQ(testing::RawScalar(counted.path(), "SELECT COUNT(*) FROM ACTransaction;"), "4");
}

TEST_F(LedgerServices, ManyAccountsAreCommittedAndAbortedTogether) {
  // More accounts in one transaction than one balance statement writes.
  constexpr int kAccounts = 230;
  std::vector<int32_t> accounts;
  for (int i = 0; i < kAccounts; ++i) accounts.push_back(AddAccount(std::to_string(6000 + i), "Cost", expense_type_));
  // One account keeps a Null balance, which stays Null.
  Exec("UPDATE ACAccount SET Balance=NULL WHERE ACAccountID=" + std::to_string(accounts[7]));
  const std::string number = Begin(ttGENJRNL);
  int64_t total = 0;
  for (int i = 0; i < kAccounts; ++i) {
    Debit(number, accounts[static_cast<size_t>(i)], i + 1);
    total += i + 1;
  }
  // Two lines on one account: both count.
  Debit(number, accounts[0], 1000);
  Credit(number, kBank, total + 1000);
  ledger_.EndTransaction(account(), number);

  EXPECT_EQ(Status(number), "1");
  EXPECT_EQ(Lines(number), "");
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM ACTransaction WHERE TransactionNumber='" + number + "'"),
            std::to_string(kAccounts + 2));
  EXPECT_EQ(Sql("SELECT Balance FROM ACAccount WHERE ACAccountID=" + std::to_string(accounts[0])), "-10010000");
  EXPECT_EQ(Sql("SELECT Balance FROM ACAccount WHERE ACAccountID=" + std::to_string(accounts.back())),
            std::to_string(-kAccounts * 10000));
  EXPECT_EQ(Sql("SELECT ifnull(Balance,'NULL') FROM ACAccount WHERE ACAccountID=" + std::to_string(accounts[7])),
            "NULL");
  EXPECT_EQ(Sql("SELECT Balance FROM ACAccount WHERE ACAccountID=1"), std::to_string((total + 1000) * 10000));
  // The register rows keep the order of the lines and take the header's date and type.
  EXPECT_EQ(Sql("SELECT group_concat(Parent) FROM (SELECT Parent FROM ACTransaction WHERE TransactionNumber='" + number +
                "' ORDER BY ACTransactionID LIMIT 3)"),
            std::to_string(accounts[0]) + "," + std::to_string(accounts[1]) + "," + std::to_string(accounts[2]));
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM ACTransaction WHERE TransactionNumber='" + number +
                "' AND (TransactionDate<>'2026-03-31 00:00:00' OR TransType<>" + std::to_string(ttGENJRNL) + ")"),
            "0");

  // Aborting restores every balance and leaves nothing of the transaction.
  ledger_.AbortTransaction(account(), number);
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM ACTransaction WHERE TransactionNumber='" + number + "'"), "0");
  EXPECT_EQ(Status(number), "");
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM ACAccount WHERE Balance IS NULL OR Balance<>0"), "1") << "the Null balance";
}

TEST_F(LedgerServices, BalancesAtTheEdgeOfTheRangeAreExact) {
  // A balance one ten-thousandth below zero takes a debit of the most negative amount and ends
  // at the largest one, exactly.
  auto journal = [&](const Currency& amount) {
    const std::string number = Begin(ttGENJRNL);
    ledger_.PostDebit(account(), number, kExpense, amount, "");
    ledger_.PostCredit(account(), number, kBank, amount, "");
    ledger_.EndTransaction(account(), number);
  };
  journal(CurrencyFromText("0.0001"));
  journal(Currency::FromScaled(INT64_MIN));
  EXPECT_EQ(Sql("SELECT Balance FROM ACAccount WHERE ACAccountID=2"), "9223372036854775807");
  EXPECT_EQ(Sql("SELECT typeof(Balance) FROM ACAccount WHERE ACAccountID=2"), "integer");

  // One step further is refused, naming the account, and nothing is committed.
  const std::string beyond = Begin(ttGENJRNL);
  ledger_.PostCredit(account(), beyond, kExpense, CurrencyFromText("0.0001"), "");
  ledger_.PostDebit(account(), beyond, kBank, CurrencyFromText("0.0001"), "");
  const std::string before = Everything();
  const Error error = CaptureError([&] { ledger_.EndTransaction(account(), beyond); });
  EXPECT_EQ(error.number(), kOverflow);
  EXPECT_NE(error.description().find("Overflow: the balance of account 2 (5000 Rent)"), std::string::npos)
      << error.description();
  EXPECT_EQ(Everything(), before);
  EXPECT_EQ(Findings(), "");
}

TEST_F(LedgerServices, LinesAreAddedOnlyToATransactionThatExists) {
  // A missing transaction is reported before anything wrong with the line's values.
  for (const Variant& amount : {Variant(Currency::FromUnits(1)), Variant::Null(), Variant("abc")}) {
    const Error error = CaptureError([&] { ledger_.PostDebit(account(), "4242", kBank, amount, ""); });
    EXPECT_EQ(error.number(), kInvalidArgument);
    EXPECT_NE(error.description().find("No ledger transaction has the number 4242."), std::string::npos)
        << error.description();
  }
  const Error bad_key = CaptureError([&] { ledger_.PostDebit(account(), "4242", 1.5, Currency::FromUnits(1), ""); });
  EXPECT_NE(bad_key.description().find("No ledger transaction has the number 4242."), std::string::npos);
  // With the transaction there, the value's own failure is what the caller hears.
  const std::string number = Begin(ttGENJRNL);
  EXPECT_EQ(CaptureError([&] { ledger_.PostDebit(account(), number, 1.5, Currency::FromUnits(1), ""); }).number(),
            kTypeMismatch);
  EXPECT_EQ(Lines(number), "");
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM ACTransLogWIP"), "0");
}

}  // namespace
}  // namespace ledgerkit
