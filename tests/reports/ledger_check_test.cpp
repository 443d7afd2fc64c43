// The check of a company file: what it finds in rows written around the library (another
// program, a damaged file, an older version), worded so the row can be found, and never a
// stop on a value the engine cannot sum.
#include <gtest/gtest.h>

#include <string>

#include "reports/LedgerCheck.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::OnPostgres;
using testing::RawExec;
using testing::TempCompany;

// The findings of one kind, one line each, warnings marked.
std::string Findings(const TempCompany& company, const std::string& kind) {
  std::string text;
  for (const CheckFinding& finding : CheckCompanyFile(company.account())) {
    if (finding.kind != kind) continue;
    text += (finding.severity == CheckFinding::Severity::kWarning ? "warning: " : "") + finding.message + "\n";
  }
  return text;
}

// Two accounts, 1 "1000 Bank" and 2 "1200 Receivable", with nothing posted.
void AddAccounts(const TempCompany& company) {
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACAccount (ACAccountID,Parent,AccountNumber,Name) VALUES "
                                    "(1,1,'1000','Bank'),(2,1,'1200','Receivable');"),
            "");
}

TEST(LedgerCheck, ReportsMoneyPostedToAccountsThatDoNotExist) {
  TempCompany company;
  AddAccounts(company);
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO ACTransLog (ACTransLogID,TransactionNumber,TransLogStatus) VALUES (1,'7',1),(2,'8',0);"
                    "INSERT INTO ACTransaction (Parent,Withdrawal,Deposit,TransactionNumber) VALUES "
                    "(77,100,NULL,'7'),(77,NULL,100,'7'),(NULL,5,NULL,'7');"
                    "INSERT INTO ACTransLogWIP (ACTransLogWIPID,Parent,AccountID,IsDebit,Amount) VALUES "
                    "(4,2,1,1,10),(5,2,55,0,10),(6,2,NULL,0,10);"),
            "");
  EXPECT_EQ(Findings(company, "orphan-account"),
            "2 register amount(s) are posted to account 77, which does not exist.\n"
            "1 register row(s) name no account.\n");
  EXPECT_EQ(Findings(company, "line-account"),
            "Waiting line 5 of transaction 8 names account 55, which does not exist.\n"
            "Waiting line 6 of transaction 8 names no account.\n");
}

TEST(LedgerCheck, ReportsAFileWithoutOrWithSeveralCompanyRecords) {
  TempCompany company;
  // A company on a server is no file, and the finding says so.
  const std::string holder = OnPostgres() ? "The company database" : "The file";
  EXPECT_EQ(Findings(company, "company"), "");
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ISubScriber (CompanyName) VALUES ('Second');"), "");
  EXPECT_EQ(Findings(company, "company"), holder + " has 2 company records; one is expected.\n");
  ASSERT_EQ(RawExec(company.path(), "DELETE FROM ISubScriber;"), "");
  EXPECT_EQ(Findings(company, "company"), holder + " has no company record.\n");
}

TEST(LedgerCheck, WarnsOfAnIssuedInvoiceWhoseTotalIsNotItsReceivableDebit) {
  TempCompany company;
  AddAccounts(company);
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO ACTransLog (TransactionNumber,TransLogStatus) VALUES ('1',1),('2',1),('3',0);"
                    "INSERT INTO ACTransaction (Parent,Withdrawal,Deposit,TransactionNumber) VALUES "
                    "(2,1000000,NULL,'1'),(1,NULL,1000000,'1'),(2,500000,NULL,'2'),(1,NULL,500000,'2');"
                    "UPDATE ACAccount SET Balance=-1500000 WHERE ACAccountID=2;"
                    "UPDATE ACAccount SET Balance=1500000 WHERE ACAccountID=1;"
                    "INSERT INTO ACInvoice (ACInvoiceID,InvoiceNo,TransactionNumber,AccountID,Total) VALUES "
                    "(1,'A-1','1',2,1000000),(2,'A-2','2',2,900000),(3,'A-3','3',2,700000);"),
            "");
  EXPECT_EQ(Findings(company, "invoice-total"),
            "warning: Invoice 2 (number A-2) has a total of 90 but its receivable debit is 50.\n")
      << "an invoice not issued yet (transaction 3 in progress) has nothing posted to compare";
  EXPECT_EQ(Findings(company, "balance"), "");
}

TEST(LedgerCheck, ReportsInexactMoneyInsteadOfStopping) {
  LEDGERKIT_FILE_ONLY("only a file's column can hold a REAL in a money column; a server's holds whole numbers");
  TempCompany company;
  AddAccounts(company);
  // A row no library statement could write: a REAL balance (written past the rules that refuse it).
  ASSERT_EQ(RawExec(company.path(),
                    "PRAGMA ignore_check_constraints=ON; DROP TRIGGER lk_balance_overflow;"
                    "UPDATE ACAccount SET Balance=1.0e19 WHERE ACAccountID=1;"),
            "");
  EXPECT_EQ(Findings(company, "money"),
            "ACAccount 1 holds Balance 1.0e+19 as real, not an exact amount in the currency range.\n");

  // A fractional withdrawal is money that is not exact, not a sum beyond the range.
  ASSERT_EQ(RawExec(company.path(),
                    "PRAGMA ignore_check_constraints=ON; DROP TRIGGER lk_register_insert;"
                    "INSERT INTO ACTransaction (ACTransactionID,Parent,Withdrawal,Deposit,TransactionNumber) VALUES "
                    "(7,2,10.5,NULL,'9');"),
            "");
  EXPECT_NE(Findings(company, "money").find("ACTransaction 7 holds Withdrawal 10.5 as real"), std::string::npos);
  EXPECT_EQ(Findings(company, "overflow"), "");
}

TEST(LedgerCheck, ReportsSumsBeyondTheRangeInsteadOfStopping) {
  TempCompany company;
  AddAccounts(company);
  // Register amounts whose sum leaves the range (written past the rule that refuses them).
  ASSERT_EQ(RawExec(company.path(),
                    "DROP TRIGGER lk_register_insert;"
                    "INSERT INTO ACTransLog (TransactionNumber,TransLogStatus) VALUES ('1',1),('2',1);"
                    "INSERT INTO ACTransaction (Parent,Withdrawal,Deposit,TransactionNumber) VALUES "
                    "(2,9000000000000000000,NULL,'1'),(2,9000000000000000000,NULL,'2'),(1,NULL,9000000000000000000,'1'),"
                    "(1,NULL,9000000000000000000,'2');"),
            "");
  EXPECT_EQ(Findings(company, "money"), "");
  EXPECT_EQ(Findings(company, "overflow"),
            "Account 1 (1000 Bank): the sums of its register rows leave the currency range.\n"
            "Account 2 (1200 Receivable): the sums of its register rows leave the currency range.\n");
  EXPECT_EQ(Findings(company, "unbalanced"), "") << "each transaction balances on its own";
}

}  // namespace
}  // namespace ledgerkit
