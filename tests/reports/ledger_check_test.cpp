// The check of a company file: what it finds in rows written around the library (another
// program, a damaged file, an older version), worded so the row can be found, and never a
// stop on a value the engine cannot sum.
#include <gtest/gtest.h>

#include <string>

#include "entities/RegisterTotals.h"
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

// Every finding, one line each: severity, kind and message.
std::string AllFindings(const TempCompany& company) {
  std::string text;
  for (const CheckFinding& finding : CheckCompanyFile(company.account())) {
    text += std::string(finding.severity == CheckFinding::Severity::kWarning ? "warning " : "problem ") + finding.kind +
            ": " + finding.message + "\n";
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

// One damage after another, each repaired before the next, as someone checking a company after
// programs other than the library wrote to it. The findings are the same words on a file and on
// a server: this test runs on both engines.
TEST(LedgerCheck, FindsEachKindOfDamageInTheSameWordsOnEveryEngine) {
  TempCompany company;
  AddAccounts(company);
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO ACAccount (ACAccountID,Parent,AccountNumber,Name) VALUES (3,1,'4000','Sales');"
                    "INSERT INTO ACTransLog (ACTransLogID,TransactionNumber,TransLogStatus) VALUES (1,'1',1);"
                    "INSERT INTO ACTransaction (Parent,Withdrawal,Deposit,TransactionNumber) VALUES "
                    "(2,1000000,NULL,'1'),(1,NULL,1000000,'1');"
                    "UPDATE ACAccount SET Balance=1000000 WHERE ACAccountID=1;"
                    "UPDATE ACAccount SET Balance=-1000000 WHERE ACAccountID=2;"),
            "");
  ASSERT_EQ(AllFindings(company), "");
  const auto after = [&](const std::string& damage, const std::string& repair) {
    EXPECT_EQ(RawExec(company.path(), damage), "");
    const std::string findings = AllFindings(company);
    EXPECT_EQ(RawExec(company.path(), repair), "");
    EXPECT_EQ(AllFindings(company), "") << "after the repair of: " << damage;
    return findings;
  };
  const std::string rebuild = RebuildRegisterTotalsSql();

  // The kept totals, each found once: the engine's own check does not repeat the ledger's.
  EXPECT_EQ(after("UPDATE lk_RegisterTotal SET Debits=Debits+5 WHERE AccountID=2;", rebuild),
            "problem register-total: The kept register totals of account 2 differ from its register rows.\n");
  EXPECT_EQ(after("DELETE FROM lk_RegisterTotal WHERE AccountID=1;", rebuild),
            "problem register-total: The kept register totals of account 1 differ from its register rows.\n");
  EXPECT_EQ(after("INSERT INTO lk_RegisterTotal (AccountID,Debits,DebitRows) VALUES (12,5,1);", rebuild),
            "problem register-total: The kept register totals of account 12 differ from its register rows.\n");

  EXPECT_EQ(after("UPDATE ACAccount SET Balance=Balance+1 WHERE ACAccountID=1;",
                  "UPDATE ACAccount SET Balance=Balance-1 WHERE ACAccountID=1;"),
            "problem balance: Account 1 (1000 Bank) stores a balance of 100.0001 but its register gives 100.\n");
  EXPECT_EQ(after("UPDATE ACTransaction SET Deposit=900000 WHERE Parent=1;"
                  "UPDATE ACAccount SET Balance=900000 WHERE ACAccountID=1;",
                  "UPDATE ACTransaction SET Deposit=1000000 WHERE Parent=1;"
                  "UPDATE ACAccount SET Balance=1000000 WHERE ACAccountID=1;"),
            "warning unbalanced: Transaction 1 is committed with debits of 100 and credits of 90.\n");
  EXPECT_EQ(after("INSERT INTO ACTransaction (Parent,TransactionNumber) VALUES (2,'5'),(NULL,'1');"
                  "INSERT INTO ACTransLogWIP (ACTransLogWIPID,Parent,AccountID,IsDebit,Amount) VALUES "
                  "(1,1,1,1,100),(2,4,1,1,100),(3,1,44,0,100);"
                  "INSERT INTO ACInvoice (ACInvoiceID,InvoiceNo,TransactionNumber,AccountID,Total) VALUES "
                  "(1,'A-9','9',2,100);",
                  "DELETE FROM ACTransaction WHERE TransactionNumber='5' OR Parent IS NULL;"
                  "DELETE FROM ACTransLogWIP; DELETE FROM ACInvoice;"),
            "problem orphan-account: 1 register row(s) name no account.\n"
            "problem line-account: Waiting line 3 of transaction 1 names account 44, which does not exist.\n"
            "problem orphan-register: 1 register row(s) of transaction 5 have no transaction header.\n"
            "problem orphan-line: 1 waiting line(s) name the missing header 4.\n"
            "problem waiting-line: 2 line(s) wait under the committed transaction 1.\n"
            "problem orphan-invoice: Invoice 1 (number A-9) names the missing transaction 9.\n");

  // Only a file's column can be given a value its rule refuses (a server refuses the text, and
  // rounds the amount to a whole count); the engine's own check does not repeat the findings.
  if (OnPostgres()) {
    EXPECT_NE(RawExec(company.path(), "UPDATE ACAccount SET Name=repeat('x',129) WHERE ACAccountID=3;"), "");
  } else {
    EXPECT_EQ(after("PRAGMA ignore_check_constraints=ON; UPDATE ACAccount SET Name=printf('%.129c','x') "
                    "WHERE ACAccountID=3;",
                    "UPDATE ACAccount SET Name='Sales' WHERE ACAccountID=3;"),
              "problem text: ACAccount 3 holds Name of 129 characters; the column takes 128.\n");
    EXPECT_EQ(after("PRAGMA ignore_check_constraints=ON;"
                    "INSERT INTO ACTransaction (ACTransactionID,Parent,Withdrawal,Deposit,TransactionNumber) VALUES "
                    "(70,3,10.5,NULL,'1');",
                    "DELETE FROM ACTransaction WHERE ACTransactionID=70;" + rebuild),
              "problem money: ACTransaction 70 holds Withdrawal 10.5 as real, not an exact amount in the currency "
              "range.\n"
              "warning unbalanced: Transaction 1 is committed with debits of 100.00105 and credits of 100.\n");
  }

  // Amounts whose sums leave the range, past the rule that refuses them: an account, a
  // transaction and an issued invoice whose sums do not fit, on an engine whose SUM() fails and
  // on one whose SUM() gives the larger number.
  EXPECT_EQ(RawExec(company.path(),
                    "DROP TRIGGER lk_register_insert;"
                    "INSERT INTO ACTransLog (ACTransLogID,TransactionNumber,TransLogStatus) VALUES (2,'2',1);"
                    "INSERT INTO ACTransaction (Parent,Withdrawal,Deposit,TransactionNumber) VALUES "
                    "(3,9000000000000000000,NULL,'2'),(3,9000000000000000000,NULL,'2');"
                    "INSERT INTO ACInvoice (ACInvoiceID,InvoiceNo,TransactionNumber,AccountID,Total) VALUES "
                    "(2,'A-2','2',3,100);"),
            "");
  EXPECT_EQ(AllFindings(company),
            "problem overflow: Account 3 (4000 Sales): the sums of its register rows leave the currency range.\n"
            "problem overflow: Transaction 2: the sums of its register rows leave the currency range.\n"
            "problem overflow: The receivable debits of issued invoices sum beyond the currency range.\n");
}

}  // namespace
}  // namespace ledgerkit
