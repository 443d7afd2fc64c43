// The kept per-account register totals: the balance read from them always equals the sum over
// the register rows, whoever changes those rows and however.
#include <gtest/gtest.h>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "reports/LedgerCheck.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

// The balance from the totals, next to the same sum computed over the rows: "kept|summed".
std::string BalanceBothWays(const TempCompany& company, int32_t account) {
  const Variant kept = CACMgr().GetAccountBalance(company.account(), account);
  const std::string summed = RawScalar(
      company.path(), "SELECT SUM(Withdrawal)-SUM(Deposit) FROM ACTransaction WHERE Parent=" + std::to_string(account));
  const std::string kept_text = kept.IsNull() ? "NULL" : std::to_string(kept.AsCurrency().scaled());
  return kept_text + "|" + summed;
}

TEST(RegisterTotals, BalanceFromTheTotalsEqualsTheSumOverTheRows) {
  TempCompany company;
  EXPECT_EQ(BalanceBothWays(company, 7), "NULL|NULL");
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACTransaction (Parent,Withdrawal,Deposit) VALUES "
                                    "(7,1000000,0),(7,0,300000),(8,5,5),(NULL,1,1);"),
            "");
  EXPECT_EQ(BalanceBothWays(company, 7), "700000|700000");
  EXPECT_EQ(BalanceBothWays(company, 8), "0|0");
  // A row whose amounts are Null counts for nothing; an account with only Null withdrawals
  // has a Null balance, as the plain sum gives.
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACTransaction (Parent,Withdrawal,Deposit) VALUES (9,NULL,40000);"), "");
  EXPECT_EQ(BalanceBothWays(company, 9), "NULL|NULL");
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACTransaction (Parent,Withdrawal,Deposit) VALUES (9,10000,NULL);"), "");
  EXPECT_EQ(BalanceBothWays(company, 9), "-30000|-30000");
  // Amounts changed, rows moved to another account, rows deleted.
  ASSERT_EQ(RawExec(company.path(), "UPDATE ACTransaction SET Withdrawal=Withdrawal*2 WHERE Parent=7;"), "");
  EXPECT_EQ(BalanceBothWays(company, 7), "1700000|1700000");
  ASSERT_EQ(RawExec(company.path(), "UPDATE ACTransaction SET Parent=8 WHERE Parent=7 AND Deposit=300000;"), "");
  EXPECT_EQ(BalanceBothWays(company, 7), "2000000|2000000");
  EXPECT_EQ(BalanceBothWays(company, 8), "-300000|-300000");
  ASSERT_EQ(RawExec(company.path(), "UPDATE ACTransaction SET Parent=NULL WHERE Parent=8 AND Withdrawal=5;"), "");
  EXPECT_EQ(BalanceBothWays(company, 8), "-300000|-300000");
  ASSERT_EQ(RawExec(company.path(), "DELETE FROM ACTransaction WHERE Parent IN (7,8);"), "");
  EXPECT_EQ(BalanceBothWays(company, 7), "NULL|NULL");
  EXPECT_EQ(BalanceBothWays(company, 8), "NULL|NULL");
  for (const CheckFinding& finding : CheckCompanyFile(company.account())) {
    EXPECT_NE(finding.kind, "register-total") << finding.message;
  }
}

TEST(RegisterTotals, CheckReportsTotalsThatNoLongerMatchTheRows) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACTransaction (Parent,Withdrawal,Deposit) VALUES (7,100,0);"
                                    "UPDATE lk_RegisterTotal SET Debits=99 WHERE AccountID=7;"
                                    "INSERT INTO lk_RegisterTotal (AccountID,Debits,DebitRows) VALUES (12,5,1);"),
            "");
  std::string kinds;
  for (const CheckFinding& finding : CheckCompanyFile(company.account())) {
    if (finding.kind == "register-total") kinds += finding.message + "\n";
  }
  EXPECT_EQ(kinds,
            "The kept register totals of account 7 differ from its register rows.\n"
            "The kept register totals of account 12 differ from its register rows.\n");
}

}  // namespace
}  // namespace ledgerkit
