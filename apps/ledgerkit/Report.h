// The financial statements on the terminal: `ledgerkit report NAME FILE ...`, the statement
// table (amount columns aligned on their decimals, totals set apart by a rule) and the monthly
// income chart as SVG.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "Subcommand.h"
#include "common/Recordset.h"

namespace ledgerkit::cli {

// A column of a statement as the table shows it: the result set's column and its heading.
struct ShownColumn {
  std::string column;
  std::string heading;
};

// Prints a statement result set (one with a RowKind column) as an aligned table of `shown`
// columns (every column but RowKind and AccountID when empty): text on the left, amounts on
// the right with thousands separators and, per column, 2 decimals when every amount in it is
// whole cents, else 4. Rows that are not "detail" rows are preceded by a rule (one rule for a
// run of them) and not counted in the closing "(N rows)". A value of a column named in
// `blank_repeats` equal to the one above it is left blank.
void PrintStatement(const Recordset& result, std::ostream& out, std::vector<ShownColumn> shown = {},
                    const std::vector<std::string>& blank_repeats = {});

// Prints the statement `report` ("trial-balance", "balance-sheet", "income-statement",
// "account-register", "aged-receivables") as PrintStatement does, with that report's columns.
void PrintReportTable(const std::string& report, const Recordset& result, std::ostream& out);

// The chart of an income statement by month: one bar per month and class (income, expenses),
// heights proportional to the classes' totals, on a zero line; each bar a <rect> carrying
// data-month, data-class and data-amount. Fails with Invalid argument when the result set has
// no month columns.
std::string IncomeChartSvg(const Recordset& statement, const std::string& title);

// `ledgerkit report NAME FILE [--as-of DATE | --from DATE --to DATE] [--account NUMBER]
// [--monthly] [--json | --csv] [--chart FILE.svg]`.
Subcommand AddReportCommand(CLI::App& app);

}  // namespace ledgerkit::cli
