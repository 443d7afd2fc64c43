// Bank reconciliation: ticked register rows are marked reconciled, and the statement's service
// charge and interest are posted as committed general-journal entries whose rows are marked
// too. A call happens completely or not at all.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Occurrences;
using testing::RawExec;
using testing::RawScalar;

using testing::MoneySql;

Currency Amount(const char* text) { return CurrencyFromText(text); }

class Reconciliation : public ::testing::Test {
 protected:
  static constexpr int32_t kBank = 10;      // the account being reconciled
  static constexpr int32_t kSavings = 20;   // another bank account
  static constexpr int32_t kInterest = 40;  // interest income
  static constexpr int32_t kCharges = 61;   // bank charges
  static inline const Date kChargeDate = Date::FromCivil(2026, 3, 30);
  static inline const Date kInterestDate = Date::FromCivil(2026, 3, 31);

  Reconciliation() {
    Exec("INSERT INTO ACAccount (ACAccountID,Parent,AccountNumber,Name) VALUES "
         "(10,1,'1010','Bank'),(20,1,'1020','Savings'),(40,1,'4400','Interest income'),(61,1,'6100','Bank charges')");
    Seed(20);
  }

  std::string Sql(const std::string& sql) const { return RawScalar(company_.path(), sql); }
  void Exec(const std::string& sql) const { ASSERT_EQ(RawExec(company_.path(), sql), "") << sql; }

  // Register rows 1..count from earlier cheques, not reconciled; every fifth is the savings
  // account's, the others the bank's.
  void Seed(int count) const {
    Exec("INSERT INTO ACTransaction (ACTransactionID,Parent,TransactionDate,Description,Withdrawal,Deposit,"
         "TransactionNumber,TransType) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<" +
         std::to_string(count) +
         ") SELECT i, CASE WHEN i%5=0 THEN 20 ELSE 10 END, '2026-03-01 00:00:00', 'cheque '||i, 10000*i, 0, "
         "'old'||i, 0 FROM n");
  }

  void Reconcile(const Variant& ids, Currency charge = {}, int32_t charge_account = kCharges,
                 Currency interest = {}, int32_t interest_account = kInterest) {
    ledger_.ReconcileAccount(company_.account(), "alice", "", kBank, ids, charge, kChargeDate, charge_account,
                             interest, kInterestDate, interest_account);
  }

  // The keys of the seeded rows marked reconciled: "3,8,15".
  std::string Marked() const {
    return Sql("SELECT ifnull(group_concat(ACTransactionID,','),'') FROM (SELECT ACTransactionID FROM "
               "ACTransaction WHERE TransactionNumber LIKE 'old%' AND Reconciled=1 ORDER BY 1)");
  }
  // The header: "type|status|date|description|user|amount".
  std::string Header(const std::string& number) const {
    return Sql("SELECT TransType||'|'||TransLogStatus||'|'||TransactionDate||'|'||Description||'|'||UserName||'|'||" +
               MoneySql("Amount") + " FROM ACTransLog WHERE TransactionNumber='" + number + "'");
  }
  // The register rows of the transaction by account: "10:W0 D4.5 R a/c Service Charge;...".
  // R marks a reconciled row.
  std::string Postings(const std::string& number) const {
    return Sql("SELECT ifnull(group_concat(Parent||':W'||" + MoneySql("Withdrawal") + "||' D'||" +
               MoneySql("Deposit") +
               "||CASE WHEN Reconciled=1 THEN ' R ' ELSE ' ' END||Description,';'),'') FROM (SELECT * FROM "
               "ACTransaction WHERE TransactionNumber='" +
               number + "' ORDER BY Parent,ACTransactionID)");
  }
  // The stored balances: "10:4.5 20:0 40:0 61:-4.5".
  std::string Balances() const {
    return Sql("SELECT group_concat(ACAccountID||':'||" + MoneySql("Balance") +
               ",' ') FROM (SELECT * FROM ACAccount ORDER BY ACAccountID)");
  }
  std::string Count(const std::string& table) const { return Sql("SELECT COUNT(*) FROM " + table); }
  std::string Counter() const { return Sql("SELECT NextTransactionNumber FROM ISubScriber"); }
  // Every row of every table but the transaction counter, to compare before and after a call.
  std::string Everything() const { return testing::DumpTables(company_.path()); }

  testing::TempCompany company_;
  CACMgr ledger_;
};

TEST_F(Reconciliation, MarksTheListedRowsOfAnyAccountAndPostsNothingWithoutAnAmountAndAnAccount) {
  Reconcile("");
  EXPECT_EQ(Marked(), "");
  // Row 15 is the savings account's; 999 names no row.
  Reconcile("3|8|15|999");
  EXPECT_EQ(Marked(), "3,8,15");
  Reconcile("8", Amount("4.5"), 0, Amount("2"), -1);
  Reconcile("8", Currency(), kCharges, Currency(), kInterest);
  EXPECT_EQ(Marked(), "3,8,15");
  EXPECT_EQ(Count("ACTransLog"), "0");
  EXPECT_EQ(Count("ACTransaction"), "20");
  EXPECT_EQ(Counter(), "1");
  EXPECT_EQ(Balances(), "10:0 20:0 40:0 61:0");
}

TEST_F(Reconciliation, ServiceChargeIsACommittedJournalEntryWhoseRowsAreReconciled) {
  Reconcile("2", Amount("4.5"));
  EXPECT_EQ(Header("1"), "1|1|2026-03-30 00:00:00|a/c Service Charge|alice|0");
  EXPECT_EQ(Postings("1"), "10:W0 D4.5 R a/c Service Charge;61:W4.5 D0 R a/c Service Charge");
  EXPECT_EQ(Balances(), "10:4.5 20:0 40:0 61:-4.5");
  EXPECT_EQ(Marked(), "2");
  EXPECT_EQ(Count("ACTransLogWIP"), "0");
}

TEST_F(Reconciliation, InterestEarnedIsTheMirrorImage) {
  Reconcile("", Currency(), kCharges, Amount("2"));
  EXPECT_EQ(Header("1"), "1|1|2026-03-31 00:00:00|a/c Interest Earned|alice|0");
  EXPECT_EQ(Postings("1"), "10:W2 D0 R a/c Interest Earned;40:W0 D2 R a/c Interest Earned");
  EXPECT_EQ(Balances(), "10:-2 20:0 40:2 61:0");
}

TEST_F(Reconciliation, ChargeAndInterestInOneCallTakeConsecutiveNumbersChargeFirst) {
  Reconcile("1|4", Amount("4.5"), kCharges, Amount("2"));
  EXPECT_EQ(Header("1"), "1|1|2026-03-30 00:00:00|a/c Service Charge|alice|0");
  EXPECT_EQ(Header("2"), "1|1|2026-03-31 00:00:00|a/c Interest Earned|alice|0");
  EXPECT_EQ(Postings("1"), "10:W0 D4.5 R a/c Service Charge;61:W4.5 D0 R a/c Service Charge");
  EXPECT_EQ(Postings("2"), "10:W2 D0 R a/c Interest Earned;40:W0 D2 R a/c Interest Earned");
  EXPECT_EQ(Balances(), "10:2.5 20:0 40:2 61:-4.5");
  EXPECT_EQ(Marked(), "1,4");
  EXPECT_EQ(Counter(), "3");
}

TEST_F(Reconciliation, NegativeAmountsArePostedOnTheSameSides) {
  Reconcile("", Amount("-1.25"), kCharges, Amount("-0.5"));
  EXPECT_EQ(Postings("1"), "10:W0 D-1.25 R a/c Service Charge;61:W-1.25 D0 R a/c Service Charge");
  EXPECT_EQ(Postings("2"), "10:W-0.5 D0 R a/c Interest Earned;40:W0 D-0.5 R a/c Interest Earned");
  EXPECT_EQ(Balances(), "10:-0.75 20:0 40:-0.5 61:1.25");
}

TEST_F(Reconciliation, APieceThatIsNotAWholeNumberFailsTheCallAndMarksNothing) {
  const std::string before = Everything();
  for (const char* ids : {"3|8|", "3|x|8", "|3"}) {
    const Error error = CaptureError([&] { Reconcile(ids, Amount("4.5"), kCharges, Amount("2")); });
    EXPECT_EQ(error.number(), kTypeMismatch) << ids;
    EXPECT_EQ(Occurrences(error.description(), kErrorMarker), 1) << error.description();
    EXPECT_EQ(Everything(), before) << ids;
  }
}

TEST_F(Reconciliation, AFailingInterestPostingLeavesNoChargeBehindAndNothingMarked) {
  Exec("CREATE TRIGGER injected BEFORE INSERT ON ACTransLogWIP WHEN NEW.Description='a/c Interest Earned' "
       "BEGIN SELECT RAISE(ABORT,'injected'); END;");
  const std::string before = Everything();
  const Error error = CaptureError([&] { Reconcile("3|8", Amount("4.5"), kCharges, Amount("2")); });
  EXPECT_EQ(Occurrences(error.description(), "injected"), 1) << error.description();
  EXPECT_NE(error.description().find("the transaction numbers 1 and 2 taken for the postings stay used."),
            std::string::npos)
      << error.description();
  EXPECT_EQ(Occurrences(error.description(), kErrorMarker), 1) << error.description();
  EXPECT_EQ(Everything(), before);
  EXPECT_EQ(Marked(), "");
  EXPECT_EQ(Balances(), "10:0 20:0 40:0 61:0");
  // Both numbers were handed out; they stay consumed.
  EXPECT_EQ(Counter(), "3");

  // A date refused after its posting's number was taken: that number is said too.
  const Error bad_date = CaptureError([&] {
    ledger_.ReconcileAccount(company_.account(), "alice", "", kBank, "3|8", Amount("4.5"), kChargeDate, kCharges,
                             Amount("2"), "the fifth of May", kInterest);
  });
  EXPECT_EQ(bad_date.number(), kTypeMismatch) << bad_date.description();
  EXPECT_NE(bad_date.description().find("the transaction numbers 3 and 4 taken for the postings stay used."),
            std::string::npos)
      << bad_date.description();
  EXPECT_EQ(Everything(), before);
  EXPECT_EQ(Counter(), "5");
}

TEST_F(Reconciliation, FortyThousandPiecesAreAllMarked) {
  Exec("DELETE FROM ACTransaction");
  Seed(40000);
  std::string ids;
  for (int key = 1; key <= 40000; ++key) {
    if (key > 1) ids += '|';
    ids += std::to_string(key);
  }
  Reconcile(ids);
  EXPECT_EQ(Sql("SELECT COUNT(*)||' '||MIN(ACTransactionID)||' '||MAX(ACTransactionID) FROM ACTransaction "
                "WHERE Reconciled=1"),
            "40000 1 40000");
}

}  // namespace
}  // namespace ledgerkit
