// Money at the edge of the currency range and money with nowhere to go: a sum that would leave
// the range fails with Overflow (6) naming the account and changes nothing; a line or register
// row of no account is never committed, and an account still referred to is not deleted.
#include <gtest/gtest.h>

#include <string>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledger/LedgerFixture.h"
#include "reports/LedgerCheck.h"
#include "support/Capture.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;

// The description holds `part` (shown whole when it does not).
::testing::AssertionResult Says(const Error& error, const std::string& part) {
  if (error.description().find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << error.description() << "\" does not say \"" << part << "\"";
}

constexpr int64_t kHalfTheRange = 500'000'000'000'000;   // units; twice this leaves the range
constexpr int64_t kLargestUnits = 922'337'203'685'477;  // the largest whole amount

class MoneyLimits : public testing::LedgerFixture {
 protected:
  // The ledger tables and the kept register totals, to compare before and after a call.
  std::string State() const {
    return Everything() + "totals[" +
           Sql("SELECT group_concat(AccountID||':'||Debits||'/'||Credits||'/'||DebitRows||'/'||CreditRows,';') "
               "FROM (SELECT * FROM lk_RegisterTotal ORDER BY AccountID)") +
           "]";
  }
  std::string Findings() const {
    std::string text;
    for (const CheckFinding& finding : CheckCompanyFile(account())) text += finding.kind + ": " + finding.message + "\n";
    return text;
  }
};

TEST_F(MoneyLimits, SumsBeyondTheCurrencyRangeFailWithOverflowAndChangeNothing) {
  // Two cheques of half the range each: the second would take the bank's credits beyond it.
  Cheque(kHalfTheRange);
  const std::string number = Begin(ttCHQ, Currency::FromUnits(kHalfTheRange), kBank);
  Debit(number, kExpense, kHalfTheRange, "rent");
  const std::string before = State();
  const Error error = CaptureError([&] { ledger_.EndTransaction(account(), number); });
  EXPECT_EQ(error.number(), kOverflow);
  EXPECT_TRUE(Says(error, "Overflow"));
  EXPECT_TRUE(Says(error, "account 1 (1000 Bank)"));
  EXPECT_EQ(State(), before);
  EXPECT_EQ(Status(number), "0") << "the header is still in progress";
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM ACAccount WHERE typeof(Balance)<>'integer'"), "0");

  // Balances come back exact, as Currency.
  const Variant balance = ledger_.GetAccountBalance(account(), kExpense);
  ASSERT_EQ(balance.type(), VarType::kCurrency);
  EXPECT_EQ(balance.AsCurrency(), Currency::FromUnits(kHalfTheRange));
  const Variant dated = ledger_.GetAccountBalanceForDate(account(), kBank, kMarch31);
  ASSERT_EQ(dated.type(), VarType::kCurrency);
  EXPECT_EQ(dated.AsCurrency(), -Currency::FromUnits(kHalfTheRange));
  EXPECT_EQ(Findings(), "");

  // A debit of the most negative amount cannot be taken off a balance either.
  const std::string other = Begin(ttGENJRNL);
  ledger_.PostDebit(account(), other, kBank, Currency::FromScaled(INT64_MIN), "");
  const std::string before_other = State();
  EXPECT_EQ(CaptureError([&] { ledger_.EndTransaction(account(), other); }).number(), kOverflow);
  EXPECT_EQ(State(), before_other);
}

TEST_F(MoneyLimits, ReconciliationPostingsAtTheLimitAreExactOrRefused) {
  const int32_t income = AddAccount("4900", "Interest income", expense_type_);
  const std::string cheque = Cheque(10);
  const std::string ids = Sql("SELECT ACTransactionID FROM ACTransaction WHERE Parent=1");

  // A service charge that takes the totals of the bank and the charge account one unit beyond
  // the range is refused whole.
  const std::string before = State();
  const Error error = CaptureError([&] {
    ledger_.ReconcileAccount(account(), "alice", "", kBank, ids, Currency::FromUnits(kLargestUnits - 9), kMarch31,
                             kExpense, Currency::FromUnits(1), kMarch31, income);
  });
  EXPECT_EQ(error.number(), kOverflow);
  EXPECT_TRUE(Says(error, "Overflow: the register totals of account 2 (5000 Rent)"));
  EXPECT_EQ(State(), before) << "nothing reconciled, nothing posted";

  // Up to the limit it is posted, and the balance is exact: 10 debited more than credited.
  ledger_.ReconcileAccount(account(), "alice", "", kBank, ids, Currency::FromUnits(kLargestUnits - 20), kMarch31,
                           kExpense, Currency::FromUnits(kLargestUnits), kMarch31, income);
  const Variant balance = ledger_.GetAccountBalance(account(), kBank);
  ASSERT_EQ(balance.type(), VarType::kCurrency);
  EXPECT_EQ(balance.AsCurrency(), Currency::FromUnits(10));
  EXPECT_EQ(ledger_.GetAccountBalanceForDate(account(), kBank, kMarch31).AsCurrency(), Currency::FromUnits(10));
  EXPECT_EQ(Balances(), "1:-10 2:-922337203685467 3:922337203685477");
  EXPECT_EQ(Findings(), "");
}

TEST_F(MoneyLimits, UndoingATransactionBeyondTheRangeFailsAndChangesNothing) {
  // The bank's balance runs -M, 0, +M; taking the first transaction back would make it 2M.
  const int32_t other = AddAccount("1100", "Savings", asset_type_);
  auto journal = [&](int32_t debit, int32_t credit, int64_t units) {
    const std::string number = Begin(ttGENJRNL);
    Debit(number, debit, units);
    Credit(number, credit, units);
    ledger_.EndTransaction(account(), number);
    return number;
  };
  const std::string first = journal(kBank, other, kHalfTheRange);
  journal(kBank, other, -(kHalfTheRange));
  journal(other, kBank, kHalfTheRange);
  const std::string before = State();
  const Error error = CaptureError([&] { ledger_.AbortTransaction(account(), first); });
  EXPECT_EQ(error.number(), kOverflow);
  EXPECT_TRUE(Says(error, "Overflow: the balance of account"));
  EXPECT_EQ(State(), before);
  EXPECT_EQ(Findings(), "");
}

TEST_F(MoneyLimits, CommitRefusesLinesOfNoAccountAndChangesNothing) {
  const std::string number = Begin(ttGENJRNL);
  Debit(number, kExpense, 100);
  const Variant missing = Credit(number, 999, 100);
  const std::string before = State();
  Error error = CaptureError([&] { ledger_.EndTransaction(account(), number); });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_TRUE(Says(error, "Line " + ToText(missing) + " of transaction " + number + " names account 999, which does not exist"));
  EXPECT_EQ(State(), before);
  EXPECT_EQ(Status(number), "0");

  const std::string nowhere = Begin(ttGENJRNL);
  Debit(nowhere, kExpense, 100);
  const Variant line = ledger_.PostCredit(account(), nowhere, Variant::Null(), Currency::FromUnits(100), "");
  const std::string before_nowhere = State();
  error = CaptureError([&] { ledger_.EndTransaction(account(), nowhere); });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_TRUE(Says(error, "Line " + ToText(line) + " of transaction " + nowhere + " names no account"));
  EXPECT_EQ(State(), before_nowhere);
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM ACTransaction WHERE Parent IS NULL OR Parent NOT IN (SELECT ACAccountID FROM ACAccount)"),
            "0");
}

TEST_F(MoneyLimits, AnAccountStillReferredToIsNotDeleted) {
  const int32_t kConstraint = testing::ExpectedError(testing::EngineFailure::kConstraint).number;
  Cheque(100);
  const std::string before = State();
  Error error = CaptureError([&] { ledger_.DeleteAccount(account(), "alice", "", kExpense); });
  EXPECT_EQ(error.number(), kConstraint);
  EXPECT_TRUE(Says(error, "register rows"));
  EXPECT_EQ(State(), before);

  const int32_t waiting = AddAccount("5100", "Supplies", expense_type_);
  const std::string number = Begin(ttGENJRNL);
  Debit(number, waiting, 5);
  const std::string before_lines = State();
  error = CaptureError([&] { ledger_.DeleteAccount(account(), "alice", "", waiting); });
  EXPECT_EQ(error.number(), kConstraint);
  EXPECT_TRUE(Says(error, "waiting lines"));
  EXPECT_EQ(State(), before_lines);

  // Once nothing refers to it, it goes; a key that names no account is no error.
  ledger_.AbortTransaction(account(), number);
  ledger_.DeleteAccount(account(), "alice", "", waiting);
  ledger_.DeleteAccount(account(), "alice", "", 4242);
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM ACAccount WHERE ACAccountID=" + std::to_string(waiting)), "0");
}

}  // namespace
}  // namespace ledgerkit
