// CReportMgr: the financial statements of a company file, and a caller's own SQL statement for
// reports it does not provide. Stateless; create one, call, release.
//
// Every statement is a disconnected result set positioned on its first row, read in one
// consistent snapshot of the file. Its first column, RowKind, tells the rows apart: "detail"
// rows are the statement's data (one account, one register row, one customer); "opening",
// "subtotal", "total", "net-income", "difference" and "closing" rows carry balances and sums
// and are not data rows. Money columns are Currency. Only register rows count (the lines of
// committed transactions; an aborted transaction leaves none): waiting lines never do.
//
// Signs follow accounting practice: asset and expense amounts are shown debit-positive
// (debits less credits), liability, equity and income amounts credit-positive. The stored
// ACAccount.Balance is not read.
//
// Dates: AsOfDate, FromDate and ToDate name whole days (a time of day is ignored) and are
// inclusive. Empty means no bound (every row up to the last; from the first). Null fails with
// Invalid use of Null (94), text that is no date with Type mismatch (13), FromDate after ToDate
// with Invalid argument (5). A sum past the currency range fails with Overflow (6).
#pragma once

#include <memory>
#include <string_view>

#include "ledgerkit/common/Dispatch.h"
#include "ledgerkit/common/Recordset.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

class CReportMgr : public Dispatch {
 public:
  std::string_view ClassName() const override { return "CReportMgr"; }
  const MemberTable& Members() const override;

  // Runs the single statement sSQL, as given, on the file Account names and returns its rows
  // as a disconnected result set on its first row. A statement that changes data is carried
  // out and gives a closed, empty result set. Money columns come back as Currency, dates as
  // Date. Failures are marked once; a text with two statements is refused before either runs.
  // PRAGMA, ATTACH, DETACH, VACUUM, temporary objects, transaction control and extension
  // loading are refused
  // (SQLITE_AUTH) with nothing changed; whatever the statement does to its connection ends
  // with the call.
  std::shared_ptr<Recordset> ExecReportQuery(const Variant& Account, const Variant& sSQL);

  // Every account with register rows dated up to AsOfDate, in account-number order (sub-accounts
  // on their own rows): RowKind, AccountID, AccountNumber, Name, AccountType (the type's name),
  // Class ("Asset", "Liability", "Equity", "Income", "Expense"), Debits and Credits (the sums of
  // its debit and credit lines), and its balance in DebitBalance or CreditBalance, whichever
  // side it falls on (both Null when it is nil). Rows posted to an account that does not exist
  // come last, with their AccountID, a Null AccountNumber and the Name "(no such account)". Then one "total" row with the four column sums and,
  // when the debit and credit totals differ (an unbalanced committed transaction), a
  // "difference" row holding the excess on the larger side.
  std::shared_ptr<Recordset> TrialBalance(const Variant& Account, const Variant& UserName, const Variant& Token,
                                          const Variant& AsOfDate);

  // Assets, liabilities and equity as of AsOfDate: RowKind, Section ("Assets", "Liabilities",
  // "Equity", "Unclassified"), AccountType, AccountID, AccountNumber, Name, Amount. Each
  // top-level account is one "detail" row whose Amount includes all its sub-accounts
  // (ParentAccountID, to any depth), under its own type and class; each type ends with a
  // "subtotal" row and each section with a "total" row. Equity holds a "net-income" row:
  // income less expenses over every register row up to the date. A last "total" row (Section
  // Null) gives liabilities plus equity, which equals total assets when every account has a
  // class; amounts of accounts without one go to an "Unclassified" section.
  std::shared_ptr<Recordset> BalanceSheet(const Variant& Account, const Variant& UserName, const Variant& Token,
                                          const Variant& AsOfDate);

  // Income and expenses from FromDate to ToDate, shaped like BalanceSheet: sections "Income"
  // and "Expenses", a "detail" row per top-level account (sub-accounts rolled in), a "subtotal"
  // per type, a "total" per section and a last "net-income" row (income less expenses). Amount
  // is the whole period; with Months true, one more Currency column per calendar month of the
  // period, named "YYYY-MM", comes before it (at most 600 months; a longer period is Invalid
  // argument, and Months needs both dates).
  std::shared_ptr<Recordset> IncomeStatement(const Variant& Account, const Variant& UserName, const Variant& Token,
                                             const Variant& FromDate, const Variant& ToDate, const Variant& Months);

  // The register of one account from FromDate to ToDate: an "opening" row (Balance: every row
  // before FromDate), a "detail" row per register row in date order (RowKind, TransactionDate,
  // TransactionNumber, TransType as its short name, Description, ChequeNo from the transaction's
  // header, Debit, Credit, Balance running, Reconciled (a Boolean: ReconcileAccount marked the
  // row), TransactionID (the row's ACTransactionID, the key ReconcileAccount takes)), then a
  // "closing" row with the period's debit and credit sums and the closing Balance; Reconciled
  // and TransactionID are Null on the opening and closing rows. Balance is signed by the
  // account's own class. An account that does not exist is Invalid argument (5).
  std::shared_ptr<Recordset> AccountRegister(const Variant& Account, const Variant& UserName, const Variant& Token,
                                             const Variant& AccountID, const Variant& FromDate, const Variant& ToDate);

  // Issued invoices still outstanding (Paid 0, their transaction committed) dated up to
  // AsOfDate, by customer (the invoice's Company, in name order): RowKind, Customer, Invoices (a
  // count), Current (dated AsOfDate), Days1To30, Days31To60, Days61To90, Over90Days (days past
  // the invoice date) and Total, each the sum of what the invoices' transactions debited to
  // their receivable accounts (the invoice's Total is not read); then a "total" row. An invoice
  // marked outstanding that was never issued is left out. Invoices are aged in their present
  // state: one paid since is not outstanding, whatever the date. An Empty AsOfDate is today.
  std::shared_ptr<Recordset> AgedReceivables(const Variant& Account, const Variant& UserName, const Variant& Token,
                                             const Variant& AsOfDate);
};

}  // namespace ledgerkit
