// The financial statements of CReportMgr against books computed by hand.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledger/LedgerFixture.h"
#include "ledgerkit/reports/CReportMgr.h"

namespace ledgerkit::testing {
namespace {

using EntryLines = std::vector<std::pair<int32_t, const char*>>;

// The rows of a result set, one "a b c" per row joined by "; ", Null shown as "-", money in its
// plain text form ("8699.25").
std::string Render(const Recordset& result, const std::vector<std::string>& columns) {
  std::string text;
  for (const auto& row : result.Rows()) {
    if (!text.empty()) text += "; ";
    for (size_t i = 0; i < columns.size(); ++i) {
      const Variant& value = row[result.ColumnIndex(columns[i])];
      text += (i ? " " : "") + (value.IsNull() ? std::string("-") : ToText(value));
    }
  }
  return text;
}

Variant Day(int year, int month, int day) { return Date::FromCivil(year, month, day); }

// The hand-computed books:
//   1000 Bank (asset) with sub-account 1010 Savings; 2000 Loan; 3000 Capital; 4000 Sales with
//   sub-account 4010 Online sales; 5000 Rent (expense).
//   Jan 5   Bank 10,000 / Capital            Jan 20  Savings 2,000.50 / Bank
//   Feb 3   Bank 1,500 / Sales 1,200, Online 300   Feb 28  Rent 800.25 / Bank
//   Mar 10  Bank 5,000 / Loan                Mar 20  Rent 10 / Bank 7 (committed, unbalanced)
//   Feb 15  Bank 999 / Sales, committed then aborted; Mar 1 Rent 77 / Bank, never committed.
class StatementsTest : public LedgerFixture {
 protected:
  StatementsTest() {
    const int32_t liability = AddType("Loans", bstLIABILITY);
    const int32_t equity = AddType("Capital", bstEQUITY);
    const int32_t income = AddType("Revenue", bstINCOME);
    savings_ = AddAccount("1010", "Savings", asset_type_, kBank);
    loan_ = AddAccount("2000", "Loan", liability);
    capital_ = AddAccount("3000", "Capital", equity);
    sales_ = AddAccount("4000", "Sales", income);
    online_ = AddAccount("4010", "Online sales", income, sales_);
    Post(Day(2026, 1, 5), {{kBank, "10000"}}, {{capital_, "10000"}});
    Post(Day(2026, 1, 20), {{savings_, "2000.50"}}, {{kBank, "2000.50"}});
    Post(Day(2026, 2, 3), {{kBank, "1500"}}, {{sales_, "1200"}, {online_, "300"}});
    Post(Day(2026, 2, 28), {{kExpense, "800.25"}}, {{kBank, "800.25"}});
    Post(Day(2026, 3, 10), {{kBank, "5000"}}, {{loan_, "5000"}});
    Post(Day(2026, 3, 20), {{kExpense, "10"}}, {{kBank, "7"}});
    ledger_.AbortTransaction(account(), Post(Day(2026, 2, 15), {{kBank, "999"}}, {{sales_, "999"}}));
    Post(Day(2026, 3, 1), {{kExpense, "77"}}, {{kBank, "77"}}, false);
  }

  // A general-journal transaction of the lines, committed unless told otherwise; its number.
  std::string Post(const Variant& date, const EntryLines& debits, const EntryLines& credits, bool commit = true) {
    const std::string number = ledger_.BeginTransaction(account(), "alice", "token", static_cast<int32_t>(ttGENJRNL),
                                                        date, "Entry", 0, 0, "", "", "");
    for (const auto& [id, amount] : debits) ledger_.PostDebit(account(), number, id, CurrencyFromText(amount), "Dr");
    for (const auto& [id, amount] : credits) ledger_.PostCredit(account(), number, id, CurrencyFromText(amount), "Cr");
    if (commit) ledger_.EndTransaction(account(), number);
    return number;
  }

  CReportMgr reports_;
  int32_t savings_ = 0, loan_ = 0, capital_ = 0, sales_ = 0, online_ = 0;
};

TEST_F(StatementsTest, TrialBalanceCutsOffAtTheDateAndShowsAnUnbalancedTransactionAsADifference) {
  const auto february = reports_.TrialBalance(account(), "alice", "token", Day(2026, 2, 28));
  EXPECT_EQ(Render(*february, {"RowKind", "AccountNumber", "Class", "Debits", "Credits", "DebitBalance", "CreditBalance"}),
            "detail 1000 Asset 11500 2800.75 8699.25 -; "
            "detail 1010 Asset 2000.5 0 2000.5 -; "
            "detail 3000 Equity 0 10000 - 10000; "
            "detail 4000 Income 0 1200 - 1200; "
            "detail 4010 Income 0 300 - 300; "
            "detail 5000 Expense 800.25 0 800.25 -; "
            "total - - 14300.75 14300.75 11500 11500");
  EXPECT_EQ(february->Field("RowKind").AsString(), "detail");  // positioned on the first row

  // Every row: the loan, and the unbalanced transaction's 3 more debits than credits.
  const auto all = reports_.TrialBalance(account(), "alice", "token", Variant());
  EXPECT_EQ(Render(*all, {"RowKind", "AccountNumber", "DebitBalance", "CreditBalance"}),
            "detail 1000 13692.25 -; detail 1010 2000.5 -; detail 2000 - 5000; detail 3000 - 10000; "
            "detail 4000 - 1200; detail 4010 - 300; detail 5000 810.25 -; total - 16503 16500; difference - 3 -");
  const auto& columns = all->Columns();
  EXPECT_EQ(columns[all->ColumnIndex("DebitBalance")].type, FieldType::kCurrency);

  // A day includes all of it; the day before the first entry has no rows at all.
  EXPECT_EQ(Render(*reports_.TrialBalance(account(), "", "", "2026-01-05 23:59:59"), {"RowKind", "DebitBalance"}),
            "detail 10000; detail -; total 10000");
  EXPECT_EQ(Render(*reports_.TrialBalance(account(), "", "", "2026-01-04"), {"RowKind", "Debits", "Credits"}),
            "total 0 0");
}

TEST_F(StatementsTest, BalanceSheetRollsSubAccountsIntoTheirParentsAndBalances) {
  const auto sheet = reports_.BalanceSheet(account(), "", "", Day(2026, 2, 28));
  EXPECT_EQ(Render(*sheet, {"RowKind", "Section", "AccountNumber", "Name", "Amount"}),
            "detail Assets 1000 Bank 10699.75; subtotal Assets - Total Bank accounts 10699.75; "
            "total Assets - Total assets 10699.75; total Liabilities - Total liabilities 0; "
            "detail Equity 3000 Capital 10000; subtotal Equity - Total Capital 10000; "
            "net-income Equity - Net income 699.75; total Equity - Total equity 10699.75; "
            "total - - Total liabilities and equity 10699.75");

  // An account of no class goes to its own section, debit-positive, beside the assets.
  const int32_t suspense = AddAccount("9000", "Suspense", 0);
  Post(Day(2026, 2, 1), {{suspense, "50"}}, {{capital_, "50"}});
  const auto with_suspense = reports_.BalanceSheet(account(), "", "", Day(2026, 2, 28));
  const std::string suspense_rows = Render(*with_suspense, {"RowKind", "Section", "Name", "Amount"});
  EXPECT_EQ(suspense_rows.substr(suspense_rows.find("; total Equity")),
            "; total Equity Total equity 10749.75; detail Unclassified Suspense 50; "
            "total Unclassified Total unclassified 50; total - Total liabilities and equity 10749.75");

  // A cycle of parents still counts every amount once.
  Exec("UPDATE ACAccount SET ParentAccountID=" + std::to_string(savings_) + " WHERE AccountNumber='1000'");
  const auto cycle = reports_.BalanceSheet(account(), "", "", Day(2026, 2, 28));
  const std::string rows = Render(*cycle, {"RowKind", "AccountNumber", "Amount"});
  EXPECT_EQ(rows.substr(0, rows.find("; total - 0")),
            "detail 1000 8699.25; detail 1010 2000.5; subtotal - 10699.75; total - 10699.75");
}

TEST_F(StatementsTest, IncomeStatementByMonthRollsSubAccountsAndGivesNetIncome) {
  const auto statement = reports_.IncomeStatement(account(), "", "", Day(2026, 2, 1), Day(2026, 3, 31), true);
  EXPECT_EQ(Render(*statement, {"RowKind", "Section", "AccountNumber", "2026-02", "2026-03", "Amount"}),
            "detail Income 4000 1500 0 1500; subtotal Income - 1500 0 1500; total Income - 1500 0 1500; "
            "detail Expenses 5000 800.25 10 810.25; subtotal Expenses - 800.25 10 810.25; "
            "total Expenses - 800.25 10 810.25; net-income - - 699.75 -10 689.75");

  const auto whole = reports_.IncomeStatement(account(), "", "", Variant(), Variant(), false);
  EXPECT_EQ(whole->Columns().size(), 7u);  // no month columns
  EXPECT_EQ(Render(*whole, {"RowKind", "Amount"}).substr(0, 14), "detail 1500; s");

  // Wrong arguments fail before anything is read.
  const auto fails_with = [&](int32_t number, auto call) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), number) << error.description();
    }
  };
  fails_with(kInvalidArgument, [&] { reports_.IncomeStatement(account(), "", "", Variant(), Day(2026, 3, 1), true); });
  fails_with(kInvalidArgument, [&] { reports_.IncomeStatement(account(), "", "", Day(2026, 3, 2), Day(2026, 3, 1), false); });
  fails_with(kInvalidArgument, [&] { reports_.IncomeStatement(account(), "", "", Day(1900, 1, 1), Day(2026, 3, 1), true); });
  fails_with(kInvalidUseOfNull, [&] { reports_.TrialBalance(account(), "", "", Variant::Null()); });
  fails_with(kTypeMismatch, [&] { reports_.BalanceSheet(account(), "", "", "end of March"); });
}

TEST_F(StatementsTest, AccountRegisterHasOpeningRunningAndClosingBalances) {
  const auto bank = reports_.AccountRegister(account(), "", "", kBank, Day(2026, 2, 1), Day(2026, 2, 28));
  EXPECT_EQ(Render(*bank, {"RowKind", "TransactionDate", "TransType", "Debit", "Credit", "Balance"}),
            "opening 2026-02-01 - - - 7999.5; detail 2026-02-03 GENJRNL 1500 - 9499.5; "
            "detail 2026-02-28 GENJRNL - 800.25 8699.25; closing 2026-02-28 - 1500 800.25 8699.25");
  EXPECT_EQ(bank->RecordCount(), 4);

  // The rows a statement cleared read Reconciled; TransactionID is the key that marks them.
  const std::string deposit = Sql("SELECT ACTransactionID FROM ACTransaction WHERE Parent=1 AND Withdrawal=15000000");
  const std::string rent = Sql("SELECT ACTransactionID FROM ACTransaction WHERE Parent=1 AND Deposit=8002500");
  ledger_.ReconcileAccount(account(), "alice", "", kBank, deposit, 0, Variant(), 0, 0, Variant(), 0);
  const auto marked = reports_.AccountRegister(account(), "", "", kBank, Day(2026, 2, 1), Day(2026, 2, 28));
  EXPECT_EQ(Render(*marked, {"RowKind", "Credit", "Reconciled", "TransactionID"}),
            "opening - - -; detail - True " + deposit + "; detail 800.25 False " + rent + "; closing 800.25 - -");
  EXPECT_EQ(marked->Columns().size(), 11u);
  EXPECT_EQ(marked->Columns()[9].name, "Reconciled");

  // A credit-natured account runs credit-positive; the aborted and waiting entries never show.
  const auto sales = reports_.AccountRegister(account(), "", "", sales_, Variant(), Variant());
  EXPECT_EQ(Render(*sales, {"RowKind", "Credit", "Balance"}), "opening - 0; detail 1200 1200; closing 1200 1200");

  try {
    reports_.AccountRegister(account(), "", "", 999, Variant(), Variant());
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), kInvalidArgument);
    EXPECT_EQ(error.description().substr(0, 29), "No ACAccount has the key 999.");
  }
}

TEST_F(StatementsTest, AgedReceivablesAgesWhatIssuedInvoicesPostedByDaysPastTheirDate) {
  const int32_t receivable = AddAccount("1200", "Receivables", asset_type_);
  // An invoice of one line of `amount`, entered with the caller's `total` and `paid`, then
  // issued unless told otherwise; its key.
  auto invoice = [&](const char* customer, const Variant& date, const char* amount, const char* total,
                     int32_t paid = -1, bool issue = true) {
    Variant number = "";
    const Variant key = ledger_.InsertInvoice(account(), "alice", "", paid, "Order", date, number, "", "", customer,
                                              CurrencyFromText(total), receivable);
    ledger_.AddInvoiceItem(account(), "alice", "", key, 0, "A", "Goods", CurrencyFromText(amount), 1.0, "", sales_);
    if (issue) ledger_.IssueInvoice(account(), "alice", "", key);
    return ToText(key);
  };
  invoice("Acme", Day(2026, 3, 31), "100", "100");
  invoice("Acme", Day(2026, 3, 1), "850.62", "0");  // the caller's Total left at 0
  invoice("Beta", Day(2026, 1, 30), "20", "20");
  invoice("Beta", Day(2025, 12, 31), "7", "7");
  invoice("Acme", Day(2025, 12, 30), "1", "1");
  Exec("UPDATE ACInvoice SET Paid=1 WHERE ACInvoiceID=" + invoice("Acme", Day(2026, 3, 1), "9999", "9999"));
  invoice("Beta", Day(2026, 3, 1), "9999", "9999", -1, false);
  invoice("Draft Co", Day(2026, 3, 1), "9999", "9999", 0, false);  // marked outstanding, never issued
  invoice("Acme", Day(2026, 4, 1), "9999", "9999");                // after the day
  const auto aged = reports_.AgedReceivables(account(), "", "", Day(2026, 3, 31));
  EXPECT_EQ(Render(*aged, {"RowKind", "Customer", "Invoices", "Current", "Days1To30", "Days31To60", "Days61To90",
                           "Over90Days", "Total"}),
            "detail Acme 3 100 850.62 0 0 1 951.62; detail Beta 2 0 0 20 7 0 27; "
            "total Total 5 100 850.62 20 7 1 978.62");
}

TEST_F(StatementsTest, SumsBeyondTheCurrencyRangeFailWithOverflow) {
  // Each account's own sums fit (the ledger refuses any that would not); two of them together
  // do not, in the trial balance's totals and in Bank with its sub-account Savings.
  Exec("INSERT INTO ACTransaction (Parent,TransactionDate,Withdrawal,Deposit,TransactionNumber,TransType) VALUES "
       "(1,'2026-01-01 00:00:00',5000000000000000000,0,'X1',1), (" + std::to_string(savings_) +
       ",'2026-01-02 00:00:00',5000000000000000000,0,'X2',1)");
  for (auto call : {+[](CReportMgr& r, const Variant& a) { r.TrialBalance(a, "", "", Variant()); },
                    +[](CReportMgr& r, const Variant& a) { r.BalanceSheet(a, "", "", Variant()); }}) {
    try {
      call(reports_, account());
      ADD_FAILURE() << "no error";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), kOverflow) << error.description();
    }
  }
}

TEST_F(StatementsTest, StatementsAreReachableLateBound) {
  std::vector<Variant> args{account(), "alice", "token", Day(2026, 2, 28)};
  const Variant result = reports_.Invoke("balancesheet", args);
  ASSERT_TRUE(result.IsObject());
  const auto& sheet = static_cast<const Recordset&>(*result.AsObject());
  EXPECT_EQ(Render(sheet, {"Amount"}).substr(0, 8), "10699.75");
}

}  // namespace
}  // namespace ledgerkit::testing
