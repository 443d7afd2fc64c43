#include "Report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "Table.h"
#include "common/Convert.h"
#include "common/Error.h"
#include "common/Text.h"
#include "ledger/CACMgr.h"
#include "reports/CReportMgr.h"

namespace ledgerkit::cli {

namespace {

bool IsDetail(const Recordset& result, size_t row) {
  const Variant& kind = result.Rows()[row][result.ColumnIndex("RowKind")];
  return !kind.IsNull() && ToText(kind) == "detail";
}

// The amount with `decimals` (2 or 4) decimals and, when `grouped`, a comma every three digits.
std::string AmountText(Currency amount, int decimals, bool grouped) {
  const int64_t scaled = amount.scaled();
  const uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string units = std::to_string(magnitude / 10000);
  if (grouped) {
    for (int i = static_cast<int>(units.size()) - 3; i > 0; i -= 3) units.insert(static_cast<size_t>(i), ",");
  }
  char fraction[8];
  const uint64_t rest = magnitude % 10000;
  if (decimals == 2) {
    std::snprintf(fraction, sizeof fraction, "%02llu", static_cast<unsigned long long>(rest / 100));
  } else {
    std::snprintf(fraction, sizeof fraction, "%04llu", static_cast<unsigned long long>(rest));
  }
  return (scaled < 0 ? "-" : "") + units + "." + fraction;
}

// 2 when every amount of the column is whole cents, else 4.
int ColumnDecimals(const Recordset& result, size_t column) {
  for (const auto& row : result.Rows()) {
    const Variant& value = row[column];
    if (value.type() == VarType::kCurrency && value.AsCurrency().scaled() % 100 != 0) return 4;
  }
  return 2;
}

size_t Width(const std::string& text) { return CountCharacters(text); }

const std::map<std::string, std::vector<ShownColumn>>& ReportColumns() {
  static const std::map<std::string, std::vector<ShownColumn>> columns = {
      {"trial-balance",
       {{"AccountNumber", "Account"},
        {"Name", "Name"},
        {"Class", "Class"},
        {"Debits", "Debits"},
        {"Credits", "Credits"},
        {"DebitBalance", "Debit balance"},
        {"CreditBalance", "Credit balance"}}},
      {"balance-sheet",
       {{"Section", "Section"}, {"AccountType", "Type"}, {"AccountNumber", "Account"}, {"Name", "Name"}, {"Amount", "Amount"}}},
      {"income-statement",
       {{"Section", "Section"}, {"AccountType", "Type"}, {"AccountNumber", "Account"}, {"Name", "Name"}}},
      {"account-register",
       {{"TransactionDate", "Date"},
        {"TransactionNumber", "Number"},
        {"TransType", "Type"},
        {"Description", "Description"},
        {"ChequeNo", "Cheque"},
        {"Debit", "Debit"},
        {"Credit", "Credit"},
        {"Balance", "Balance"}}},
      {"aged-receivables",
       {{"Customer", "Customer"},
        {"Invoices", "Invoices"},
        {"Current", "Current"},
        {"Days1To30", "1-30 days"},
        {"Days31To60", "31-60 days"},
        {"Days61To90", "61-90 days"},
        {"Over90Days", "Over 90 days"},
        {"Total", "Total"}}},
  };
  return columns;
}

// What `report` needs and what it was given on the command line.
struct ReportOptions {
  std::string name;
  std::string file;
  std::string as_of, from, to, account_number, chart;
  bool monthly = false, as_json = false, as_csv = false;
};

Variant DateOption(const std::string& text) { return text.empty() ? Variant() : Variant(text); }

// The key of the account numbered `number`; Invalid argument when none is.
Variant AccountByNumber(const std::string& file, const std::string& number) {
  const auto accounts = CACMgr().GetAllAccounts(file, "", "");
  for (const auto& [key, entry] : accounts->entries()) {
    const auto& account = static_cast<const ACAccount&>(*entry);
    const Variant found = account.Value("AccountNumber");
    if (!found.IsNull() && ToText(found) == number) return account.Value("ACAccountID");
  }
  throw Error::Runtime(kInvalidArgument, "No account has the number " + number + ".");
}

int RunReport(const ReportOptions& options, std::ostream& out) {
  const bool needs_account = options.name == "account-register";
  const bool period = options.name == "income-statement" || needs_account;
  if (!options.account_number.empty() && !needs_account) {
    throw Error::Runtime(kInvalidArgument, "--account is for the account-register report only.");
  }
  if (needs_account && options.account_number.empty()) {
    throw Error::Runtime(kInvalidArgument, "The account-register report needs --account NUMBER.");
  }
  if (period && !options.as_of.empty()) {
    throw Error::Runtime(kInvalidArgument, "The " + options.name + " report takes --from and --to, not --as-of.");
  }
  if (!period && (!options.from.empty() || !options.to.empty())) {
    throw Error::Runtime(kInvalidArgument, "The " + options.name + " report takes --as-of, not --from and --to.");
  }
  if (options.monthly && options.name != "income-statement") {
    throw Error::Runtime(kInvalidArgument, "--monthly is for the income-statement report only.");
  }
  if (!options.chart.empty() && !options.monthly) {
    throw Error::Runtime(kInvalidArgument, "--chart needs the income-statement report with --monthly.");
  }

  CReportMgr reports;
  std::shared_ptr<Recordset> result;
  if (options.name == "trial-balance") {
    result = reports.TrialBalance(options.file, "", "", DateOption(options.as_of));
  } else if (options.name == "balance-sheet") {
    result = reports.BalanceSheet(options.file, "", "", DateOption(options.as_of));
  } else if (options.name == "income-statement") {
    result = reports.IncomeStatement(options.file, "", "", DateOption(options.from), DateOption(options.to),
                                     options.monthly);
  } else if (options.name == "account-register") {
    result = reports.AccountRegister(options.file, "", "", AccountByNumber(options.file, options.account_number),
                                     DateOption(options.from), DateOption(options.to));
  } else {
    result = reports.AgedReceivables(options.file, "", "", DateOption(options.as_of));
  }

  if (!options.chart.empty()) {
    std::ofstream svg(options.chart, std::ios::binary | std::ios::trunc);
    if (svg) svg << IncomeChartSvg(*result, "Income and expenses by month");
    if (!svg.flush()) throw Error::Runtime(kInvalidArgument, "Cannot write the chart to " + options.chart + ".");
  }
  if (options.as_json) {
    PrintJson(*result, out);
  } else if (options.as_csv) {
    PrintCsv(*result, out);
  } else {
    PrintReportTable(options.name, *result, out);
  }
  return 0;
}

std::string XmlEscaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

}  // namespace

void PrintStatement(const Recordset& result, std::ostream& out, std::vector<ShownColumn> shown,
                    const std::vector<std::string>& blank_repeats) {
  if (shown.empty()) {
    for (const FieldInfo& column : result.Columns()) {
      if (column.name != "RowKind" && column.name != "AccountID") shown.push_back({column.name, column.name});
    }
  }
  std::vector<size_t> index;
  std::vector<int> decimals;
  std::vector<bool> right;
  std::vector<bool> blank;
  for (const ShownColumn& column : shown) {
    index.push_back(result.ColumnIndex(column.column));
    const FieldType type = result.Columns()[index.back()].type;
    right.push_back(type == FieldType::kCurrency || type == FieldType::kLong || type == FieldType::kDouble ||
                    type == FieldType::kInteger);
    decimals.push_back(type == FieldType::kCurrency ? ColumnDecimals(result, index.back()) : 0);
    blank.push_back(std::find(blank_repeats.begin(), blank_repeats.end(), column.column) != blank_repeats.end());
  }
  std::vector<size_t> widths;
  for (const ShownColumn& column : shown) widths.push_back(Width(column.heading));
  std::vector<std::vector<std::string>> cells;
  std::vector<std::string> previous(shown.size());
  for (const auto& row : result.Rows()) {
    std::vector<std::string> line;
    for (size_t i = 0; i < shown.size(); ++i) {
      const Variant& value = row[index[i]];
      std::string text = value.type() == VarType::kCurrency ? AmountText(value.AsCurrency(), decimals[i], true)
                                                             : CellText(value);
      if (blank[i]) {
        if (text == previous[i]) {
          text.clear();
        } else {
          previous[i] = text;
        }
      }
      widths[i] = std::max(widths[i], Width(text));
      line.push_back(std::move(text));
    }
    cells.push_back(std::move(line));
  }
  auto print_line = [&](const std::vector<std::string>& line) {
    std::string text;
    for (size_t i = 0; i < line.size(); ++i) {
      const std::string fill(widths[i] - Width(line[i]), ' ');
      text += (i ? "  " : "") + (right[i] ? fill + line[i] : line[i] + fill);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << "\n";
  };
  auto rule = [&] {
    std::vector<std::string> line;
    for (size_t width : widths) line.push_back(std::string(width, '-'));
    print_line(line);
  };
  std::vector<std::string> headings;
  for (const ShownColumn& column : shown) headings.push_back(column.heading);
  print_line(headings);
  rule();
  size_t details = 0;
  bool after_rule = true;
  for (size_t r = 0; r < cells.size(); ++r) {
    const bool detail = IsDetail(result, r);
    if (detail) {
      ++details;
    } else if (!after_rule) {
      rule();
    }
    print_line(cells[r]);
    after_rule = !detail;
  }
  out << "(" << details << (details == 1 ? " row)\n" : " rows)\n");
}

void PrintReportTable(const std::string& report, const Recordset& result, std::ostream& out) {
  std::vector<ShownColumn> shown = ReportColumns().at(report);
  if (report == "income-statement") {
    // The month columns, if any, then the period's amount.
    for (const FieldInfo& column : result.Columns()) {
      if (column.type == FieldType::kCurrency) shown.push_back({column.name, column.name});
    }
  }
  PrintStatement(result, out, shown, {"Section", "AccountType"});
}

std::string IncomeChartSvg(const Recordset& statement, const std::string& title) {
  std::vector<std::string> months;
  for (const FieldInfo& column : statement.Columns()) {
    if (column.type == FieldType::kCurrency && column.name != "Amount") months.push_back(column.name);
  }
  if (months.empty()) throw Error::Runtime(kInvalidArgument, "The income statement has no month columns to chart.");
  // The section totals: income and expenses per month.
  const char* const kClasses[] = {"Income", "Expenses"};
  std::vector<std::vector<Currency>> amounts(2, std::vector<Currency>(months.size()));
  const size_t kind = statement.ColumnIndex("RowKind");
  const size_t section = statement.ColumnIndex("Section");
  for (const auto& row : statement.Rows()) {
    if (row[kind].IsNull() || ToText(row[kind]) != "total" || row[section].IsNull()) continue;
    for (size_t c = 0; c < 2; ++c) {
      if (ToText(row[section]) != kClasses[c]) continue;
      for (size_t m = 0; m < months.size(); ++m) {
        const Variant& value = row[statement.ColumnIndex(months[m])];
        if (!value.IsNull()) amounts[c][m] = value.AsCurrency();
      }
    }
  }
  // Geometry only is in doubles; the amounts stay exact in data-amount.
  double top = 0, bottom = 0;
  for (const auto& line : amounts) {
    for (const Currency amount : line) {
      const double value = static_cast<double>(amount.scaled()) / 10000.0;
      top = std::max(top, value);
      bottom = std::min(bottom, value);
    }
  }
  constexpr double kPlotTop = 40, kPlotHeight = 240, kLeft = 60, kBarWidth = 18, kGroupWidth = 56;
  const double span = top - bottom > 0 ? top - bottom : 1;
  const double scale = kPlotHeight / span;
  const double zero_y = kPlotTop + top * scale;
  const double width = kLeft + kGroupWidth * static_cast<double>(months.size()) + 20;
  const double height = kPlotTop + kPlotHeight + 60;
  std::ostringstream svg;
  svg.setf(std::ios::fixed);
  svg.precision(2);
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height << "\">\n"
      << "  <title>" << XmlEscaped(title) << "</title>\n"
      << "  <text x=\"" << kLeft << "\" y=\"20\" font-family=\"sans-serif\" font-size=\"14\">" << XmlEscaped(title)
      << "</text>\n"
      << "  <rect x=\"" << kLeft << "\" y=\"26\" width=\"10\" height=\"10\" fill=\"#2e7d32\"/>"
      << "<text x=\"" << kLeft + 14 << "\" y=\"35\" font-family=\"sans-serif\" font-size=\"10\">Income</text>\n"
      << "  <rect x=\"" << kLeft + 70 << "\" y=\"26\" width=\"10\" height=\"10\" fill=\"#c62828\"/>"
      << "<text x=\"" << kLeft + 84 << "\" y=\"35\" font-family=\"sans-serif\" font-size=\"10\">Expenses</text>\n";
  const char* const kFill[] = {"#2e7d32", "#c62828"};
  for (size_t m = 0; m < months.size(); ++m) {
    const double group_x = kLeft + kGroupWidth * static_cast<double>(m);
    for (size_t c = 0; c < 2; ++c) {
      const double value = static_cast<double>(amounts[c][m].scaled()) / 10000.0;
      const double bar_height = (value < 0 ? -value : value) * scale;
      const double y = value < 0 ? zero_y : zero_y - bar_height;
      svg << "  <rect class=\"bar\" data-month=\"" << months[m] << "\" data-class=\"" << kClasses[c]
          << "\" data-amount=\"" << amounts[c][m].ToText() << "\" x=\"" << group_x + 8 + kBarWidth * static_cast<double>(c)
          << "\" y=\"" << y << "\" width=\"" << kBarWidth << "\" height=\"" << bar_height << "\" fill=\"" << kFill[c]
          << "\"><title>" << months[m] << " " << kClasses[c] << ": " << amounts[c][m].ToText() << "</title></rect>\n";
    }
    svg << "  <text x=\"" << group_x + 8 << "\" y=\"" << kPlotTop + kPlotHeight + 20
        << "\" font-family=\"sans-serif\" font-size=\"10\">" << months[m] << "</text>\n";
  }
  svg << "  <line x1=\"" << kLeft << "\" y1=\"" << zero_y << "\" x2=\"" << width - 20 << "\" y2=\"" << zero_y
      << "\" stroke=\"#000\" stroke-width=\"1\"/>\n"
      << "</svg>\n";
  return svg.str();
}

Subcommand AddReportCommand(CLI::App& app) {
  auto options = std::make_shared<ReportOptions>();
  auto* command = app.add_subcommand("report", "Print a financial statement of a company file.");
  command->add_option("NAME", options->name, "trial-balance, balance-sheet, income-statement, account-register or aged-receivables")
      ->required()
      ->check(CLI::IsMember({"trial-balance", "balance-sheet", "income-statement", "account-register", "aged-receivables"}));
  command->add_option("FILE", options->file, "Company file path, or postgresql://...?company=NAME for a company on a server")->required();
  auto* as_of = command->add_option("--as-of", options->as_of, "Last day counted (YYYY-MM-DD); every row when omitted (aged-receivables: today)");
  auto* from = command->add_option("--from", options->from, "First day of the period (YYYY-MM-DD)");
  auto* to = command->add_option("--to", options->to, "Last day of the period (YYYY-MM-DD)");
  as_of->excludes(from)->excludes(to);
  command->add_option("--account", options->account_number, "Account number (account-register)");
  command->add_flag("--monthly", options->monthly, "One column per month (income-statement; needs --from and --to)");
  auto* json = command->add_flag("--json", options->as_json, "Print the rows as a JSON array of objects");
  command->add_flag("--csv", options->as_csv, "Print the rows as CSV")->excludes(json);
  command->add_option("--chart", options->chart, "Also write a bar chart of income and expenses by month (SVG)");
  return Subcommand{command, [options](std::ostream& out) { return RunReport(*options, out); }};
}

}  // namespace ledgerkit::cli
