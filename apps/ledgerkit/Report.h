// The financial statements on the terminal: `ledgerkit report NAME FILE ...` and the statement
// table (a heading, amount columns aligned on their decimal points, totals set apart by a rule).
// The bar chart of a statement by period is in Chart.h.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "Subcommand.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Recordset.h"

namespace ledgerkit::cli {

// A column of a statement as the table shows it: the result set's column and its heading.
struct ShownColumn {
  std::string column;
  std::string heading;
};

// Prints a statement result set (one with a RowKind column) as an aligned table of `shown`
// columns (every column but RowKind and AccountID when empty): text on the left, amounts on
// the right with thousands separators. Decimals are chosen per value, not per column: an
// amount in whole cents shows 2 decimals, one with a fraction of a cent shows all 4, and in a
// column holding both the 2-decimal amounts are followed by two blanks, so that every decimal
// point of the column lines up (one sub-cent amount never turns the rest of its column, or
// the statement, to 4 decimals). Rows that are not "detail" rows are preceded by a rule (one
// rule for a run of them) and not counted in the closing "(N rows)". A value of a column named
// in `blank_repeats` equal to the one above it is left blank.
void PrintStatement(const Recordset& result, std::ostream& out, std::vector<ShownColumn> shown = {},
                    const std::vector<std::string>& blank_repeats = {});

// Prints the statement `report` ("trial-balance", "balance-sheet", "income-statement",
// "account-register", "aged-receivables") as PrintStatement does, with that report's columns
// (and every period column a statement by period has). In the balance sheet and the income
// statement a type's "subtotal" row is left out when its section has that one type only: it
// would repeat the section's total. (The result set itself keeps every row: --json, --csv and
// the library's callers see them all.) An account register whose result set has a Boolean
// column "Reconciled" shows it as a column "Rec", "R" for true and blank otherwise; without
// that column there is no "Rec" column.
void PrintReportTable(const std::string& report, const Recordset& result, std::ostream& out);

// An amount as the statement table shows it: grouped, 2 decimals in whole cents, else 4.
std::string StatementAmountText(Currency amount);

// `ledgerkit report NAME FILE [--as-of DATE | --from DATE --to DATE] [--account NUMBER]
// [--monthly | --quarterly] [--depth N] [--json | --csv] [--chart FILE.svg]`.
//
// The table view starts with a heading: the company's name (CAccountMgr.GetAccountInfo), the
// statement's name and its date ("As of 2026-03-31", "All dates") or period ("2026-01-01 to
// 2026-03-31"), then a blank line. --json and --csv print the result set alone.
//
// --monthly / --quarterly: the income statement gets one column per calendar month (the
// library's Months) or quarter (those months summed, "2026-Q1"); the trial balance and the
// balance sheet take --from and --to instead of --as-of and get the balances as of each month or
// quarter end between them (the last one as of --to), one column per period end (the trial
// balance: its debit and its credit balance). Those columns are built here: one read of the
// library's TrialBalance / BalanceSheet per period end (so not one snapshot of the file), merged
// by account.
//
// --depth N (1 = top-level accounts): every account below level N of the chart's tree
// (ACAccount.ParentAccountID) is rolled into its ancestor at level N. The trial balance's rows are
// rolled here. The library's balance sheet and income statement stop at level 1 (every
// sub-account rolled into its top-level account); for N above 1 each top-level row is split here
// into the accounts of its subtree down to level N (names indented two blanks a level, in the
// result set too), from the library's trial balance: one more read per date an amount column
// starts or ends at. Subtotals and totals stay the library's.
//
// --chart FILE.svg (income-statement: income and expenses; balance-sheet: assets, liabilities
// and equity; with --monthly or --quarterly) is written to a temporary file beside FILE and
// renamed onto it when complete, so a failure never leaves FILE empty or half written.
Subcommand AddReportCommand(CLI::App& app);

}  // namespace ledgerkit::cli
