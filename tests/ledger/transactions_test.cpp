// Ledger transactions: begun under a fresh number, filled with debit and credit lines, then
// committed to the register and the stored balances, or aborted without a trace. Each call
// happens completely or not at all.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ledgerkit/automation/ClassRegistry.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledger/LedgerFixture.h"
#include "support/Capture.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Marked;
using testing::Occurrences;

constexpr const char* kQuoted = "x' OR '1'='1";

class Transactions : public testing::LedgerFixture {
 protected:
  // The header as stored: "status|type|owner|user|date|description|cheque|address|amount".
  std::string Header(const std::string& number) const {
    return Sql("SELECT TransLogStatus||'|'||TransType||'|'||Parent||'|'||UserName||'|'||TransactionDate||'|'||"
               "Description||'|'||ifnull(ChequeNo,'NULL')||'|'||ifnull(Address,'NULL')||'|'||Amount "
               "FROM ACTransLog WHERE TransactionNumber='" +
               number + "'");
  }
  void End(const std::string& number) { ledger_.EndTransaction(account(), number); }
  void Abort(const std::string& number) { ledger_.AbortTransaction(account(), number); }
  // Runs a call that must fail because of the trigger `sql` adds, then drops the trigger.
  Error FailingThrough(const std::string& sql, const std::function<void()>& call) {
    Exec(sql);
    const Error error = CaptureError(call);
    Exec("DROP TRIGGER injected");
    EXPECT_EQ(Occurrences(error.description(), "injected"), 1) << error.description();
    return error;
  }
};

TEST_F(Transactions, EachTypeWritesItsHeaderAndItsAutomaticFirstLine) {
  const std::string journal = Begin(ttGENJRNL);
  EXPECT_EQ(Header(journal), "0|1|1|alice|2026-03-31 00:00:00|Rent March|NULL|NULL|1000000");
  EXPECT_EQ(Lines(journal), "");
  const std::string cheque = Begin(ttCHQ);
  EXPECT_EQ(Header(cheque), "0|0|1|alice|2026-03-31 00:00:00|Rent March|101|1 Main St|1000000");
  EXPECT_EQ(Lines(cheque), "1:C100 memo");
  const std::string deposit = Begin(ttDEP, Currency::FromUnits(250), kExpense);
  EXPECT_EQ(Header(deposit), "0|7|1|alice|2026-03-31 00:00:00|Rent March|NULL|NULL|2500000");
  EXPECT_EQ(Lines(deposit), "2:D250 memo");
  const std::string invoice = Begin(ttINV);
  EXPECT_EQ(Header(invoice), "0|9|1|alice|2026-03-31 00:00:00|Rent March|101|1 Main St|1000000");
  EXPECT_EQ(Lines(invoice), "");
  EXPECT_EQ(journal + cheque + deposit + invoice, "1234");
  EXPECT_TRUE(Date::Parse(Sql("SELECT LogDate FROM ACTransLog WHERE ACTransLogID=1")).has_value());
}

TEST_F(Transactions, RefusedBeginStillConsumesItsNumberAndWritesNothing) {
  EXPECT_EQ(Begin(ttGENJRNL), "1");
  const std::string before = Everything();
  for (const int32_t type : {static_cast<int32_t>(ttRCPT), 13}) {
    const Error error = CaptureError([&] { Begin(type); });
    EXPECT_EQ(error.number(), errCACMgr::eBadTransType);
    EXPECT_EQ(error.description(), Marked(messages::kBadTransType, errCACMgr::eBadTransType));
  }
  EXPECT_EQ(CaptureError([&] {
              ledger_.BeginTransaction(account(), "alice", "", static_cast<int32_t>(ttGENJRNL), "garbage", "", 0,
                                       Currency(), "", "", "");
            }).number(),
            kTypeMismatch);
  EXPECT_EQ(Counter(), "5");
  EXPECT_EQ(Everything(), before);
  EXPECT_EQ(Begin(ttGENJRNL), "5");
}

TEST_F(Transactions, BeginWhoseFirstLineFailsLeavesItsNumberConsumedAndNoHeader) {
  const std::string before = Everything();
  FailingThrough("CREATE TRIGGER injected BEFORE INSERT ON ACTransLogWIP BEGIN SELECT RAISE(ABORT,'injected'); END;",
                 [&] { Begin(ttCHQ); });
  EXPECT_EQ(Everything(), before);
  EXPECT_EQ(Counter(), "2");
  EXPECT_EQ(Begin(ttCHQ), "2");
  EXPECT_EQ(Lines("2"), "1:C100 memo");
}

TEST_F(Transactions, PostReturnsTheKeyOfTheLineItInserted) {
  const std::string number = Begin(ttGENJRNL);
  const Variant first = Debit(number, kBank, 100, "same");
  const Variant second = Debit(number, kBank, 100, "same");
  const Variant undescribed = Credit(number, kExpense, 200, Variant::Null());
  EXPECT_EQ(ToText(first) + "," + ToText(second) + "," + ToText(undescribed),
            Sql("SELECT group_concat(ACTransLogWIPID) FROM (SELECT ACTransLogWIPID FROM ACTransLogWIP ORDER BY 1)"));
  EXPECT_NE(first, second);
  EXPECT_EQ(Lines(number), "1:D100 same;1:D100 same;2:C200 NULL");
}

TEST_F(Transactions, PostNeedsAnExistingTransactionAndAnAmount) {
  const std::string number = Begin(ttGENJRNL);
  const std::string before = Everything();
  const Error missing = CaptureError([&] { Debit("1042", kBank, 100); });
  EXPECT_EQ(missing.number(), kInvalidArgument);
  EXPECT_EQ(missing.description(), Marked("No ledger transaction has the number 1042.", kInvalidArgument));
  EXPECT_EQ(CaptureError([&] { Credit("1042", kBank, 100); }).number(), kInvalidArgument);
  EXPECT_EQ(
      CaptureError([&] { ledger_.PostDebit(account(), number, kBank, Variant::Null(), ""); }).number(),
      kInvalidUseOfNull);
  EXPECT_EQ(
      CaptureError([&] { ledger_.PostCredit(account(), number, kBank, Variant::Null(), ""); }).number(),
      kInvalidUseOfNull);
  EXPECT_EQ(Everything(), before);
}

TEST_F(Transactions, CommitPostsEveryLineToTheRegisterAndMovesTheStoredBalances) {
  const std::string number = Begin(ttGENJRNL);
  Debit(number, kBank, 100, "to bank");
  Credit(number, kExpense, 100, "from rent");
  End(number);
  EXPECT_EQ(Register(), "1:W100 D0;2:W0 D100");
  EXPECT_EQ(Balances(), "1:-100 2:100");
  EXPECT_EQ(Status(number), "1");
  EXPECT_EQ(Lines(number), "");
  EXPECT_EQ(Sql("SELECT group_concat(TransactionDate||'|'||Description||'|'||TransactionNumber||'|'||TransType||'|'||"
                "Reconciled, ';') FROM ACTransaction"),
            "2026-03-31 00:00:00|to bank|1|1|0;2026-03-31 00:00:00|from rent|1|1|0");
}

TEST_F(Transactions, CommitMovesBalancesByExactAmountsWhetherOrNotTheLinesBalance) {
  const std::string exact = Begin(ttGENJRNL);
  ledger_.PostCredit(account(), exact, kBank, CurrencyFromText("0.0001"), "");
  Debit(exact, kExpense, 2500);
  End(exact);
  EXPECT_EQ(Sql("SELECT group_concat(Balance) FROM (SELECT Balance FROM ACAccount ORDER BY ACAccountID)"),
            "1,-25000000");

  const std::string unbalanced = Begin(ttGENJRNL);
  Debit(unbalanced, kBank, 100);
  Credit(unbalanced, kExpense, 60);
  End(unbalanced);
  EXPECT_EQ(Balances(), "1:-99.9999 2:-2440");
}

TEST_F(Transactions, AbortAfterCommitRestoresTheBalancesAndRemovesEveryTrace) {
  Cheque(70);
  const std::string before = Everything();
  const std::string number = Begin(ttGENJRNL);
  Debit(number, kExpense, 40);
  Debit(number, kExpense, 60);
  Credit(number, kBank, 100);
  End(number);
  Credit(number, kExpense, 5, "waiting");
  EXPECT_EQ(Balances(), "1:170 2:-170");
  Abort(number);
  EXPECT_EQ(Balances(), "1:70 2:-70");
  EXPECT_EQ(Everything(), before);
}

TEST_F(Transactions, AbortInProgressTouchesNoBalanceAndAnUnknownNumberChangesNothing) {
  Cheque(70);
  const std::string before = Everything();
  const std::string number = Begin(ttCHQ);
  Debit(number, kExpense, 100);
  Abort(number);
  EXPECT_EQ(Everything(), before);
  Abort("1042");
  EXPECT_EQ(Everything(), before);
}

TEST_F(Transactions, EndingTwiceWritesNothingNewAndEndingWithoutLinesOnlyCommits) {
  const std::string cheque = Cheque(100);
  const std::string after = Everything();
  End(cheque);
  EXPECT_EQ(Everything(), after);

  const std::string empty = Begin(ttGENJRNL);
  End(empty);
  EXPECT_EQ(Status(empty), "1");
  EXPECT_EQ(Register(), "1:W0 D100;2:W100 D0");
  EXPECT_EQ(Balances(), "1:100 2:-100");
}

TEST_F(Transactions, LinesPostedAfterCommitWaitForTheNextCommit) {
  const std::string number = Cheque(100);
  Credit(number, kExpense, 30, "refund");
  Debit(number, kBank, 30, "refund");
  EXPECT_EQ(Status(number), "1");
  EXPECT_EQ(Lines(number), "2:C30 refund;1:D30 refund");
  EXPECT_EQ(Balances(), "1:100 2:-100");
  End(number);
  EXPECT_EQ(Register(), "1:W0 D100;2:W100 D0;2:W0 D30;1:W30 D0");
  EXPECT_EQ(Balances(), "1:70 2:-70");
  EXPECT_EQ(Lines(number), "");
}

TEST_F(Transactions, EndingAnUnknownNumberFailsAndWritesNothing) {
  Cheque(100);
  const std::string before = Everything();
  const Error error = CaptureError([&] { End("1042"); });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_EQ(error.description(), Marked("No ledger transaction has the number 1042.", kInvalidArgument));
  EXPECT_EQ(Everything(), before);
}

TEST_F(Transactions, AQuotedTransactionNumberFindsNothingAndBreaksNothing) {
  const std::string number = Cheque(100);
  Credit(number, kExpense, 5, "waiting");
  const std::string before = Everything();
  EXPECT_EQ(CaptureError([&] { End(kQuoted); }).number(), kInvalidArgument);
  EXPECT_EQ(CaptureError([&] { Debit(kQuoted, kBank, 1); }).number(), kInvalidArgument);
  EXPECT_EQ(CaptureError([&] { Credit(kQuoted, kBank, 1); }).number(), kInvalidArgument);
  Abort(kQuoted);
  EXPECT_EQ(Everything(), before);
}

TEST_F(Transactions, FailedCommitLeavesTheFileAsItWas) {
  Cheque(70);
  const std::string number = Begin(ttGENJRNL);
  Debit(number, kBank, 100);
  Credit(number, kExpense, 100);
  const std::string before = Everything();
  FailingThrough(
      "CREATE TRIGGER injected BEFORE INSERT ON ACTransaction WHEN (SELECT COUNT(*) FROM ACTransaction)>=3 "
      "BEGIN SELECT RAISE(ABORT,'injected'); END;",
      [&] { End(number); });
  EXPECT_EQ(Everything(), before);
  FailingThrough(
      "CREATE TRIGGER injected BEFORE UPDATE OF Balance ON ACAccount WHEN (SELECT COUNT(*) FROM ACTransaction)>=4 "
      "BEGIN SELECT RAISE(ABORT,'injected'); END;",
      [&] { End(number); });
  EXPECT_EQ(Everything(), before);
  End(number);
  EXPECT_EQ(Balances(), "1:-30 2:30");
}

TEST_F(Transactions, FailedAbortLeavesTheFileAsItWas) {
  const std::string number = Cheque(100);
  Credit(number, kExpense, 5, "waiting");
  const std::string before = Everything();
  for (const char* trigger :
       {"CREATE TRIGGER injected BEFORE DELETE ON ACTransaction BEGIN SELECT RAISE(ABORT,'injected'); END;",
        "CREATE TRIGGER injected BEFORE UPDATE OF Balance ON ACAccount BEGIN SELECT RAISE(ABORT,'injected'); END;",
        "CREATE TRIGGER injected BEFORE DELETE ON ACTransLog BEGIN SELECT RAISE(ABORT,'injected'); END;"}) {
    FailingThrough(trigger, [&] { Abort(number); });
    EXPECT_EQ(Everything(), before) << trigger;
  }
  Abort(number);
  EXPECT_EQ(Balances(), "1:0 2:0");
}

TEST_F(Transactions, LateBoundBeginWorksLikeTheTypedCall) {
  const auto manager = CreateObject("CACMgr");
  std::vector<Variant> args{account(), "alice", "token", static_cast<int32_t>(ttCHQ), kMarch31, "Rent March",
                            kBank, Currency::FromUnits(100), "1 Main St", "memo", "101"};
  EXPECT_EQ(manager->Invoke("BeginTransaction", args), Variant("1"));
  EXPECT_EQ(Begin(ttCHQ), "2");
  EXPECT_EQ(Header("1") + " " + Lines("1"), Header("2") + " " + Lines("2"));
  EXPECT_EQ(Lines("1"), "1:C100 memo");
}

}  // namespace
}  // namespace ledgerkit
