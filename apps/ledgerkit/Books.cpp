#include "Books.h"

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <vector>

#include <CLI/CLI.hpp>

#include "Report.h"
#include "Table.h"
#include "common/Convert.h"
#include "common/Error.h"
#include "entities/ACAccount.h"
#include "entities/ACAccountType.h"
#include "enums/PublicEnums.h"
#include "ledger/CACMgr.h"
#include "reports/CReportMgr.h"

namespace ledgerkit::cli {

namespace {

struct ChartAccount {
  Variant id, number, name, type_name;
  std::optional<int32_t> parent;
  bool debit_natured = true;
  Currency net_debit;  // its own register: debits less credits
};

// The accounts of `file` by key, each with its type, class and own register balance.
std::map<int32_t, ChartAccount> LoadChart(const Variant& file) {
  CACMgr ledger;
  std::map<int32_t, std::pair<Variant, int32_t>> types;  // key -> name, balance-sheet type
  const auto all_types = ledger.GetAllAccountTypes(file, "", "");
  for (const auto& [key, entry] : all_types->entries()) {
    const auto& type = static_cast<const ACAccountType&>(*entry);
    const Variant& sheet_type = type.Value("BalanceSheetType");
    types[ToLong(type.Key())] = {type.Value("Name"), sheet_type.IsNull() ? -1 : ToLong(sheet_type)};
  }
  std::map<int32_t, ChartAccount> chart;
  const auto accounts = ledger.GetAllAccounts(file, "", "");
  for (const auto& [key, entry] : accounts->entries()) {
    const auto& account = static_cast<const ACAccount&>(*entry);
    ChartAccount row;
    row.id = account.Key();
    row.number = account.Value("AccountNumber");
    row.name = account.Value("Name");
    const Variant& parent = account.Value("ParentAccountID");
    if (!parent.IsNull()) row.parent = ToLong(parent);
    const Variant& type_id = account.Value("AccountTypeID");
    const auto type = type_id.IsNull() ? types.end() : types.find(ToLong(type_id));
    if (type != types.end()) {
      row.type_name = type->second.first;
      row.debit_natured = type->second.second != bstLIABILITY && type->second.second != bstEQUITY &&
                          type->second.second != bstINCOME;
    }
    chart[ToLong(row.id)] = std::move(row);
  }
  const auto balances = CReportMgr().TrialBalance(file, "", "", Variant());
  for (const auto& values : balances->Rows()) {
    const Variant& id = values[balances->ColumnIndex("AccountID")];
    if (ToText(values[0]) != "detail" || id.IsNull()) continue;
    const auto found = chart.find(ToLong(id));
    if (found == chart.end()) continue;
    found->second.net_debit = values[balances->ColumnIndex("Debits")].AsCurrency() -
                              values[balances->ColumnIndex("Credits")].AsCurrency();
  }
  return chart;
}

std::string SortKey(const ChartAccount& account) {
  return (account.number.IsNull() ? std::string() : ToText(account.number)) + '\x1f' +
         (account.name.IsNull() ? std::string() : ToText(account.name));
}

std::shared_ptr<Recordset> ChartTree(const Variant& file) {
  const std::map<int32_t, ChartAccount> chart = LoadChart(file);
  std::map<int32_t, std::vector<int32_t>> children;
  std::vector<int32_t> roots;
  for (const auto& [id, account] : chart) {
    if (account.parent && chart.contains(*account.parent) && *account.parent != id) {
      children[*account.parent].push_back(id);
    } else {
      roots.push_back(id);
    }
  }
  auto by_number = [&chart](int32_t a, int32_t b) { return SortKey(chart.at(a)) < SortKey(chart.at(b)); };
  for (auto& [parent, list] : children) std::sort(list.begin(), list.end(), by_number);
  std::sort(roots.begin(), roots.end(), by_number);

  auto result = std::make_shared<Recordset>();
  result->AppendColumn("RowKind", FieldType::kText, 16, 0);
  result->AppendColumn("AccountID", FieldType::kLong, 4, 0);
  result->AppendColumn("Account", FieldType::kText, 255, 0);
  result->AppendColumn("Name", FieldType::kText, 255, 0);
  result->AppendColumn("AccountType", FieldType::kText, 255, kFieldMayBeNull);
  result->AppendColumn("Balance", FieldType::kCurrency, 8, 0);
  result->AppendColumn("WithSubAccounts", FieldType::kCurrency, 8, 0);
  result->Open();

  // Accounts in tree order with their depth, and the net debits of each subtree. Each account is
  // placed once, so a cycle of parents (which the ledger does not prevent) ends where it comes
  // back; its accounts start at the top level.
  std::set<int32_t> placed;
  std::vector<std::pair<int32_t, int>> order;
  std::map<int32_t, Currency> subtree;
  std::function<Currency(int32_t, int)> place = [&](int32_t id, int depth) -> Currency {
    placed.insert(id);
    order.emplace_back(id, depth);
    Currency total = chart.at(id).net_debit;
    for (int32_t child : children[id]) {
      if (!placed.contains(child)) total += place(child, depth + 1);
    }
    return subtree[id] = total;
  };
  for (int32_t id : roots) place(id, 0);
  for (const auto& [id, account] : chart) {
    if (!placed.contains(id)) place(id, 0);
  }
  for (const auto& [id, depth] : order) {
    const ChartAccount& account = chart.at(id);
    result->AddNew();
    result->SetField(0, "detail");
    result->SetField(1, account.id);
    result->SetField(2, std::string(2 * static_cast<size_t>(depth), ' ') + CellText(account.number));
    result->SetField(3, account.name);
    result->SetField(4, account.type_name);
    result->SetField(5, account.debit_natured ? account.net_debit : -account.net_debit);
    result->SetField(6, account.debit_natured ? subtree[id] : -subtree[id]);
  }
  result->MoveFirst();
  return result;
}

// "NUMBER=AMOUNT" split at its last '='.
std::pair<std::string, Currency> EntryLine(const std::string& text, const char* side) {
  const size_t equals = text.rfind('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) {
    throw Error::Runtime(kInvalidArgument, std::string("A ") + side + " is written NUMBER=AMOUNT, not \"" + text + "\".");
  }
  const Currency amount = CurrencyFromText(text.substr(equals + 1));
  if (amount <= Currency()) {
    throw Error::Runtime(kInvalidArgument,
                         std::string("The ") + side + " amount " + amount.ToText() + " of " + text.substr(0, equals) +
                             " is not above zero.");
  }
  return {text.substr(0, equals), amount};
}

struct PostOptions {
  std::string file, date, description, user = "ledgerkit";
  std::vector<std::string> debits, credits;
  bool allow_unbalanced = false;
};

int RunPost(const PostOptions& options, std::ostream& out) {
  CACMgr ledger;
  std::map<std::string, Variant> by_number;
  const auto accounts = ledger.GetAllAccounts(options.file, options.user, "");
  for (const auto& [key, entry] : accounts->entries()) {
    const auto& account = static_cast<const ACAccount&>(*entry);
    if (!account.Value("AccountNumber").IsNull()) by_number.emplace(ToText(account.Value("AccountNumber")), account.Key());
  }
  struct Line {
    Variant account_id;
    Currency amount;
    bool debit;
  };
  std::vector<Line> lines;
  Currency debits, credits;
  auto add = [&](const std::vector<std::string>& entries, bool debit) {
    for (const std::string& text : entries) {
      const auto [number, amount] = EntryLine(text, debit ? "debit" : "credit");
      const auto found = by_number.find(number);
      if (found == by_number.end()) throw Error::Runtime(kInvalidArgument, "No account has the number " + number + ".");
      lines.push_back(Line{found->second, amount, debit});
      (debit ? debits : credits) += amount;
    }
  };
  add(options.debits, true);
  add(options.credits, false);
  if (lines.empty()) throw Error::Runtime(kInvalidArgument, "An entry needs at least one --debit or --credit.");
  if (debits != credits && !options.allow_unbalanced) {
    throw Error::Runtime(kInvalidArgument, "The entry does not balance: debits " + debits.ToText() + ", credits " +
                                               credits.ToText() + " (--allow-unbalanced posts it anyway).");
  }
  const std::string number =
      ledger.BeginTransaction(options.file, options.user, "", static_cast<int32_t>(ttGENJRNL), options.date,
                              options.description, 0, 0, "", "", "");
  try {
    for (const Line& line : lines) {
      if (line.debit) {
        ledger.PostDebit(options.file, number, line.account_id, line.amount, options.description);
      } else {
        ledger.PostCredit(options.file, number, line.account_id, line.amount, options.description);
      }
    }
    ledger.EndTransaction(options.file, number);
  } catch (...) {
    try {
      ledger.AbortTransaction(options.file, number);
    } catch (const Error&) {
      // The first failure is the one to report.
    }
    throw;
  }
  out << "Posted transaction " << number << ": debits " << debits.ToText() << ", credits " << credits.ToText() << ".\n";
  return 0;
}

}  // namespace

Subcommand AddAccountsCommand(CLI::App& app) {
  struct Options {
    std::string file;
    bool as_json = false, as_csv = false;
  };
  auto options = std::make_shared<Options>();
  auto* command = app.add_subcommand("accounts", "Print the chart of accounts as a tree with balances.");
  command->add_option("FILE", options->file, "Company file path, or postgresql://...?company=NAME for a company on a server")->required();
  auto* json = command->add_flag("--json", options->as_json, "Print the rows as a JSON array of objects");
  command->add_flag("--csv", options->as_csv, "Print the rows as CSV")->excludes(json);
  return Subcommand{command, [options](std::ostream& out) {
                      const auto tree = ChartTree(options->file);
                      if (options->as_json) {
                        PrintJson(*tree, out);
                      } else if (options->as_csv) {
                        PrintCsv(*tree, out);
                      } else {
                        PrintStatement(*tree, out,
                                       {{"Account", "Account"},
                                        {"Name", "Name"},
                                        {"AccountType", "Type"},
                                        {"Balance", "Balance"},
                                        {"WithSubAccounts", "With sub-accounts"}});
                      }
                      return 0;
                    }};
}

Subcommand AddPostCommand(CLI::App& app) {
  auto options = std::make_shared<PostOptions>();
  auto* command = app.add_subcommand("post", "Post one general-journal transaction.");
  command->add_option("FILE", options->file, "Company file path, or postgresql://...?company=NAME for a company on a server")->required();
  command->add_option("--date", options->date, "Transaction date (YYYY-MM-DD)")->required();
  command->add_option("--description", options->description, "Description of the entry")->required();
  command->add_option("--debit", options->debits, "NUMBER=AMOUNT: a debit to the account numbered NUMBER")
      ->allow_extra_args(false);
  command->add_option("--credit", options->credits, "NUMBER=AMOUNT: a credit to the account numbered NUMBER")
      ->allow_extra_args(false);
  command->add_flag("--allow-unbalanced", options->allow_unbalanced, "Post even when debits and credits differ");
  command->add_option("--user", options->user, "User name recorded with the transaction")->capture_default_str();
  return Subcommand{command, [options](std::ostream& out) { return RunPost(*options, out); }};
}

void AddStandardChart(const Variant& file, const Variant& user) {
  CACMgr ledger;
  auto type = [&](const char* name, const char* description, int32_t sheet_type) {
    return ledger.AddAccountType(file, user, "", name, description, false, sheet_type);
  };
  const Variant bank = type("Bank", "Bank and cash accounts", bstASSET);
  const Variant receivable = type("Receivable", "Money customers owe", bstASSET);
  const Variant payable = type("Payable", "Money owed to suppliers", bstLIABILITY);
  const Variant taxes = type("Sales tax", "Sales taxes collected, less taxes paid", bstLIABILITY);
  const Variant equity = type("Equity", "Owner's equity", bstEQUITY);
  const Variant income = type("Income", "Revenue", bstINCOME);
  const Variant expense = type("Expense", "Costs of running the business", bstEXPENSE);
  struct Starter {
    const char* number;
    const char* name;
    const Variant& type;
  };
  const Starter accounts[] = {
      {"1000", "Bank", bank},
      {"1200", "Accounts receivable", receivable},
      {"2000", "Accounts payable", payable},
      {"2100", "Sales tax payable", taxes},
      {"3000", "Owner's equity", equity},
      {"3900", "Retained earnings", equity},
      {"4000", "Sales", income},
      {"4900", "Interest income", income},
      {"5000", "Cost of goods sold", expense},
      {"5100", "Rent", expense},
      {"5200", "Bank charges", expense},
      {"5300", "Office supplies", expense},
      {"5400", "Utilities", expense},
      {"5500", "Wages", expense},
      {"5600", "Advertising", expense},
      {"5700", "Telephone and internet", expense},
      {"5800", "Insurance", expense},
  };
  for (const Starter& account : accounts) {
    ledger.AddAccount(file, user, "", account.number, account.name, "", "", false, "", "", account.type, "");
  }
}

}  // namespace ledgerkit::cli
