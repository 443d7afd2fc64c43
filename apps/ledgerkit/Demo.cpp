#include "Demo.h"

#include <ostream>
#include <sstream>
#include <vector>

#include <CLI/CLI.hpp>

#include "Books.h"
#include "ChartCommands.h"
#include "CommandArguments.h"
#include "Copy.h"
#include "InvoiceCommands.h"
#include "ReconcileCommand.h"
#include "Report.h"
#include "Table.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Recordset.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "ledgerkit/subscriber/CAccountMgr.h"

namespace ledgerkit::cli {

namespace {

constexpr const char* kUser = "owner";
constexpr const char* kPassword = "demo-pass";

Variant Day(int month, int day) { return Date::FromCivil(2026, month, day); }

// A command line as the demo shows it: the company as ShownCompany gives it (a server's password
// hidden), always quoted, so a file and a server company read alike; other words single-quoted
// when they hold more than letters, digits and -_.:=%/.
std::string Shown(const std::vector<std::string>& words, const std::string& company) {
  auto quoted = [](const std::string& word) {
    std::string text = "'";
    for (char c : word) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
  };
  std::string line = "$ ledgerkit";
  for (const std::string& word : words) {
    const bool plain = !word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789-_.:=%/") == std::string::npos;
    line += " " + (word == company ? quoted(ShownCompany(company)) : plain ? word : quoted(word));
  }
  return line;
}

// Runs one command line of the tool in this process, through the same code as when it is typed
// (its words after "ledgerkit"); prints the line and what the command printed.
void RunCommand(const std::vector<std::string>& words, const std::string& company, std::ostream& out) {
  CLI::App app;
  const Subcommand commands[] = {AddTypeCommands(app),  AddAccountCommands(app), AddTaxCodeCommands(app),
                                 AddDepositCommand(app), AddChequeCommand(app),   AddInvoiceCommand(app),
                                 AddReconcileCommand(app)};
  std::vector<std::string> reversed(words.rbegin(), words.rend());  // CLI11 takes them last first
  app.parse(reversed);
  out << Shown(words, company) << "\n";
  for (const Subcommand& command : commands) {
    if (*command.app) command.run(out);
  }
}

// The sample company: made and described through the library (no command sets the company's
// address), then recorded with the everyday commands a user types.
void BuildSampleCompany(const std::string& file, std::ostream& out) {
  CreateSubscriberDatabase(file, "Northwind Hardware", FirstUser{kUser, kPassword});
  CAccountMgr().UpdateAccountBusinessInfo(file, "Northwind Hardware", "12 Harbour Road", "", "", "Lakeside", "ON",
                                          "K0K 1A0", "Canada", "555-0100", "555-0101");
  const std::vector<std::vector<std::string>> script = {
      {"type", "add", file, "Bank", "--class", "asset", "--description", "Bank accounts"},
      {"type", "add", file, "Receivable", "--class", "asset", "--description", "Money owed to us"},
      {"type", "add", file, "Sales tax", "--class", "liability", "--description", "Taxes collected"},
      {"type", "add", file, "Equity", "--class", "equity", "--description", "Owner's equity"},
      {"type", "add", file, "Income", "--class", "income", "--description", "Revenue"},
      {"type", "add", file, "Expense", "--class", "expense", "--description", "Costs"},
      {"account", "add", file, "1000", "Bank", "--type", "Bank", "--institution", "First Harbour Bank"},
      {"account", "add", file, "1200", "Accounts receivable", "--type", "Receivable"},
      {"account", "add", file, "2100", "GST payable", "--type", "Sales tax"},
      {"account", "add", file, "2200", "PST payable", "--type", "Sales tax"},
      {"account", "add", file, "3000", "Owner's equity", "--type", "Equity"},
      {"account", "add", file, "4000", "Sales", "--type", "Income"},
      {"account", "add", file, "4900", "Interest income", "--type", "Income"},
      {"account", "add", file, "5100", "Rent", "--type", "Expense"},
      {"account", "add", file, "5200", "Bank charges", "--type", "Expense"},
      // The owner puts money in; the rent is paid by cheque.
      {"deposit", file, "--bank", "1000", "--date", "2026-03-01", "--amount", "25000", "--from", "3000",
       "--description", "Opening capital", "--memo", "Capital", "--user", kUser},
      {"cheque", file, "--bank", "1000", "--date", "2026-03-03", "--payee", "Lakeside Properties", "--amount", "1850",
       "--to", "5100", "--number", "1001", "--memo", "Rent, March", "--user", kUser},
      // An invoice with two lines under a code with two taxes, the second piggy-backed.
      {"taxcode", "add", file, "S", "--name", "GST and PST", "--tax1", "GST=5%:2100", "--tax2", "PST=7%:2200",
       "--piggyback"},
      {"invoice", "new", file, "--customer", "Lakeside Builders", "--date", "2026-03-10", "--receivable", "1200",
       "--po", "PO-7731", "--address", "4 Mill Lane, Lakeside", "--comment", "Tools for Lakeside Builders",
       "--user", kUser},
      {"invoice", "add", file, "1", "--item", "HAM-16", "--description", "Claw hammer", "--price", "24.95",
       "--quantity", "10", "--unit", "each", "--account", "4000", "--tax", "S", "--user", kUser},
      {"invoice", "add", file, "1", "--item", "SAW-24", "--description", "Panel saw", "--price", "38.50",
       "--quantity", "25", "--unit", "each", "--account", "4000", "--tax", "S", "--user", kUser},
      {"invoice", "issue", file, "1", "--user", kUser},
      // The bank statement: both bank rows cleared, a service charge and interest.
      {"reconcile", file, "--account", "1000", "--statement-date", "2026-03-31", "--statement-balance", "23140.77",
       "--clear", "all", "--service-charge", "12.50", "--charge-account", "5200", "--interest", "3.27",
       "--interest-account", "4900", "--user", kUser},
  };
  for (const auto& words : script) RunCommand(words, file, out);
}

// True when the balance sheet's total assets equal its total liabilities and equity.
bool SheetBalances(const Recordset& sheet) {
  Variant assets, both;
  for (const auto& row : sheet.Rows()) {
    if (ToText(row[sheet.ColumnIndex("RowKind")]) != "total") continue;
    const Variant& section = row[sheet.ColumnIndex("Section")];
    if (section.IsNull()) both = row[sheet.ColumnIndex("Amount")];
    if (!section.IsNull() && ToText(section) == "Assets") assets = row[sheet.ColumnIndex("Amount")];
  }
  return !assets.IsEmpty() && !both.IsEmpty() && assets.AsCurrency() == both.AsCurrency();
}

// True when the trial balance has no "difference" row.
bool TrialBalances(const Recordset& trial) {
  for (const auto& row : trial.Rows()) {
    if (ToText(row[trial.ColumnIndex("RowKind")]) == "difference") return false;
  }
  return true;
}

}  // namespace

int RunDemo(const std::string& path, std::ostream& out) {
  std::ostringstream recorded;
  BuildSampleCompany(path, recorded);
  const Variant march31 = Day(3, 31);
  const Variant bank = AccountNumbers(path).Key("1000", "the bank");
  CReportMgr reports;
  const auto trial = reports.TrialBalance(path, kUser, "", march31);
  const auto sheet = reports.BalanceSheet(path, kUser, "", march31);
  out << "Northwind Hardware, a sample company recorded in " << ShownCompany(path) << "\n"
      << "Log on as \"" << kUser << "\" with the password \"" << kPassword << "\".\n\n"
      << "Its March, recorded with these commands:\n\n"
      << recorded.str() << "\n";
  out << "Trial balance as of 2026-03-31\n\n";
  PrintReportTable("trial-balance", *trial, out);
  out << "\nBalance sheet as of 2026-03-31\n\n";
  PrintReportTable("balance-sheet", *sheet, out);
  out << "\nIncome statement for March 2026\n\n";
  PrintReportTable("income-statement", *reports.IncomeStatement(path, kUser, "", Day(3, 1), march31, false),
                   out);
  out << "\nBank register (account 1000, reconciled with the March statement)\n\n";
  PrintReportTable("account-register", *reports.AccountRegister(path, kUser, "", bank, Variant(), march31),
                   out);
  out << "\nAged receivables as of 2026-04-30\n\n";
  PrintReportTable("aged-receivables", *reports.AgedReceivables(path, kUser, "", Day(4, 30)), out);
  const std::string shown = ShownCompany(path);
  out << "\nSee more with: ledgerkit report NAME " << shown << " (ledgerkit report --help); check the "
      << (IsServerCompany(path) ? "company" : "file") << " with: ledgerkit check " << shown << "\n";
  return TrialBalances(*trial) && SheetBalances(*sheet) ? 0 : 1;
}

}  // namespace ledgerkit::cli
