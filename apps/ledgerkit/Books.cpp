#include "Books.h"

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <vector>

#include <CLI/CLI.hpp>

#include "ChartCommands.h"
#include "CommandArguments.h"
#include "ChartOfAccounts.h"
#include "Report.h"
#include "Table.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/entities/ACAccount.h"
#include "ledgerkit/entities/ACAccountType.h"
#include "ledgerkit/entities/ColumnWidths.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/reports/CReportMgr.h"

namespace ledgerkit::cli {

namespace {

// An account of the chart with its own register balance.
struct BalancedAccount : ChartAccount {
  bool debit_natured = true;
  Currency net_debit;  // its own register: debits less credits
};

// The accounts of `file` by key, each with its type, class and own register balance.
std::map<int32_t, BalancedAccount> LoadChart(const Variant& file) {
  std::map<int32_t, BalancedAccount> chart;
  for (auto& [key, account] : ReadChart(file)) {
    BalancedAccount& row = chart[key];
    static_cast<ChartAccount&>(row) = std::move(account);
    row.debit_natured = row.sheet_type != bstLIABILITY && row.sheet_type != bstEQUITY && row.sheet_type != bstINCOME;
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

std::string SortKey(const BalancedAccount& account) {
  return (account.number.IsNull() ? std::string() : ToText(account.number)) + '\x1f' +
         (account.name.IsNull() ? std::string() : ToText(account.name));
}

std::shared_ptr<Recordset> ChartTree(const Variant& file) {
  const std::map<int32_t, BalancedAccount> chart = LoadChart(file);
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
    const BalancedAccount& account = chart.at(id);
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

// One line of a transaction, its account already found.
struct EntryLine {
  Variant account_id;
  Currency amount;
  bool debit = true;
};

// The first line a cheque or deposit begins with: BeginTransaction adds it itself.
struct BankLine {
  int32_t type = ttGENJRNL;  // ttGENJRNL: none
  Variant account_id;
  Currency amount;
  std::string memo, address;
  Variant cheque_no;  // Null: none
};

// Begins, fills and ends one transaction; a failure once it is begun aborts it, so nothing of it
// stays (its number stays consumed). Every argument must have been checked before: a refusal
// found only here consumes a number. Returns the transaction's number.
std::string Record(const std::string& file, const std::string& user, const Date& date, const std::string& description,
                   const BankLine& bank, const std::vector<EntryLine>& lines) {
  CACMgr ledger;
  const bool banked = bank.type != ttGENJRNL;
  const std::string& line_description = banked && !bank.memo.empty() ? bank.memo : description;
  const std::string number =
      ledger.BeginTransaction(file, user, "", bank.type, date, description, banked ? bank.account_id : Variant(0),
                              banked ? Variant(bank.amount) : Variant(0), bank.address, bank.memo, bank.cheque_no);
  try {
    for (const EntryLine& line : lines) {
      if (line.debit) {
        ledger.PostDebit(file, number, line.account_id, line.amount, line_description);
      } else {
        ledger.PostCredit(file, number, line.account_id, line.amount, line_description);
      }
    }
    ledger.EndTransaction(file, number);
  } catch (...) {
    try {
      ledger.AbortTransaction(file, number);
    } catch (const Error&) {
      // The first failure is the one to report.
    }
    throw;
  }
  return number;
}

struct PostOptions {
  std::string file, date, description, user = "ledgerkit";
  std::vector<std::string> debits, credits;
  bool allow_unbalanced = false;
};

int RunPost(const PostOptions& options, std::ostream& out) {
  // Every argument is checked before the transaction is begun: a refusal consumes no number.
  const Date date = DayArgument(options.date, "--date");
  RequireFits(options.description, lenACTransLog::lenDescription, "--description");
  RequireFits(options.user, lenACTransLog::lenUserName, "--user");
  const AccountNumbers numbers(options.file);
  std::vector<EntryLine> lines;
  Currency debits, credits;
  auto add = [&](const std::vector<std::string>& entries, bool debit) {
    const char* option = debit ? "--debit" : "--credit";
    for (const std::string& text : entries) {
      const AccountAmount entry = AccountAmountArgument(text, option);
      if (!entry.has_amount) {
        throw Error::Runtime(kInvalidArgument, std::string(option) + " \"" + text +
                                                   "\" is written NUMBER=AMOUNT, as 5100=250.00.");
      }
      lines.push_back(EntryLine{numbers.Key(entry.number, option), entry.amount, debit});
      (debit ? debits : credits) += entry.amount;
    }
  };
  add(options.debits, true);
  add(options.credits, false);
  if (lines.empty()) throw Error::Runtime(kInvalidArgument, "An entry needs at least one --debit or --credit.");
  if (debits != credits && !options.allow_unbalanced) {
    throw Error::Runtime(kInvalidArgument, "The entry does not balance: debits " + debits.ToText() + ", credits " +
                                               credits.ToText() + " (--allow-unbalanced posts it anyway).");
  }
  const std::string number = Record(options.file, options.user, date, options.description, BankLine{}, lines);
  out << "Posted transaction " << number << ": debits " << debits.ToText() << ", credits " << credits.ToText() << ".\n";
  return 0;
}

struct BankOptions {
  std::string file, bank, date, amount, payee, memo, address, cheque_no, description, user = "ledgerkit";
  std::vector<std::string> parts;
};

// The accounts a cheque pays (or a deposit comes from), each NUMBER=AMOUNT; a single one
// without an amount takes the whole amount. Refused unless the parts add up to `amount`.
std::vector<EntryLine> SplitLines(const BankOptions& options, const AccountNumbers& numbers, Currency amount,
                                  const char* option, bool debit, const Variant& bank) {
  if (options.parts.empty()) throw Error::Runtime(kInvalidArgument, std::string("Give at least one ") + option + " NUMBER[=AMOUNT].");
  std::vector<EntryLine> lines;
  Currency sum;
  for (const std::string& text : options.parts) {
    const AccountAmount part = AccountAmountArgument(text, option);
    if (!part.has_amount && options.parts.size() > 1) {
      throw Error::Runtime(kInvalidArgument, std::string(option) + " \"" + text + "\" has no amount: with several " +
                                                 option + " each is written NUMBER=AMOUNT, as 5100=250.00.");
    }
    const Variant key = numbers.Key(part.number, option);
    if (ToLong(key) == ToLong(bank)) {
      throw Error::Runtime(kInvalidArgument, std::string(option) + " \"" + text + "\" is the --bank account itself.");
    }
    const Currency share = part.has_amount ? part.amount : amount;
    lines.push_back(EntryLine{key, share, debit});
    sum += share;
  }
  if (sum != amount) {
    throw Error::Runtime(kInvalidArgument, std::string("The ") + option + " amounts add up to " + sum.ToText() +
                                               ", not the --amount " + amount.ToText() + "; nothing was recorded.");
  }
  return lines;
}

int RunCheque(const BankOptions& options, std::ostream& out) {
  const Date date = DayArgument(options.date, "--date");
  const Currency amount = AmountArgument(options.amount, "--amount");
  if (options.payee.empty()) throw Error::Runtime(kInvalidArgument, "--payee is empty: a cheque is paid to someone.");
  RequireFits(options.payee, lenACTransLog::lenDescription, "--payee");
  RequireFits(options.address, lenACTransLog::lenAddress, "--address");
  RequireFits(options.memo, lenACTransLogWIP::lenDescription, "--memo");
  RequireFits(options.cheque_no, lenACTransLog::lenChequeNo, "--number");
  RequireFits(options.user, lenACTransLog::lenUserName, "--user");
  const AccountNumbers numbers(options.file);
  const Variant bank = numbers.Key(options.bank, "--bank");
  const std::vector<EntryLine> lines = SplitLines(options, numbers, amount, "--to", true, bank);
  if (!options.cheque_no.empty()) {
    // A cheque number names one cheque of the bank account.
    const auto rows = CReportMgr().AccountRegister(options.file, "", "", bank, Variant(), Variant());
    for (const auto& row : rows->Rows()) {
      const Variant& cheque = row[rows->ColumnIndex("ChequeNo")];
      if (ToText(row[0]) == "detail" && !cheque.IsNull() && ToText(cheque) == options.cheque_no) {
        throw Error::Runtime(kInvalidArgument, "--number " + options.cheque_no + ": cheque " + options.cheque_no +
                                                   " of account " + options.bank + " is already transaction " +
                                                   ToText(row[rows->ColumnIndex("TransactionNumber")]) + ".");
      }
    }
  }
  // The payee is the transaction's description, the memo the bank line's.
  const BankLine cheque{ttCHQ, bank, amount, options.memo.empty() ? options.payee : options.memo, options.address,
                        options.cheque_no.empty() ? Variant::Null() : Variant(options.cheque_no)};
  const std::string number = Record(options.file, options.user, date, options.payee, cheque, lines);
  out << "Recorded cheque " << (options.cheque_no.empty() ? "(no number)" : options.cheque_no) << " (transaction "
      << number << "): " << MoneyText(amount) << " to " << options.payee << (options.payee.ends_with('.') ? "" : ".") << "\n";
  return 0;
}

int RunDeposit(const BankOptions& options, std::ostream& out) {
  const Date date = DayArgument(options.date, "--date");
  const Currency amount = AmountArgument(options.amount, "--amount");
  const std::string description = options.description.empty() ? std::string("Deposit") : options.description;
  RequireFits(description, lenACTransLog::lenDescription, "--description");
  RequireFits(options.memo, lenACTransLogWIP::lenDescription, "--memo");
  RequireFits(options.user, lenACTransLog::lenUserName, "--user");
  const AccountNumbers numbers(options.file);
  const Variant bank = numbers.Key(options.bank, "--bank");
  const std::vector<EntryLine> lines = SplitLines(options, numbers, amount, "--from", false, bank);
  const BankLine deposit{ttDEP, bank, amount, options.memo.empty() ? description : options.memo, "", Variant::Null()};
  const std::string number = Record(options.file, options.user, date, description, deposit, lines);
  out << "Recorded deposit (transaction " << number << "): " << MoneyText(amount) << " into " << options.bank << ".\n";
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
  command->footer("Example:\n  ledgerkit post books.ldb --date 2026-03-31 --description \"Owner's loan\" --debit 1000=5000 "
                  "--credit 3000=5000\n");
  return Subcommand{command, [options](std::ostream& out) { return RunPost(*options, out); }};
}

Subcommand AddChequeCommand(CLI::App& app) {
  auto options = std::make_shared<BankOptions>();
  auto* command = app.add_subcommand("cheque", "Record a cheque written on a bank account, split over the accounts it pays.");
  command->add_option("FILE", options->file, "Company file path, or postgresql://...?company=NAME for a company on a server")->required();
  command->add_option("--bank", options->bank, "Number of the bank account the cheque is drawn on")->required();
  command->add_option("--date", options->date, "Date of the cheque (YYYY-MM-DD)")->required();
  command->add_option("--payee", options->payee, "Who the cheque is paid to (the transaction's description)")->required();
  command->add_option("--amount", options->amount, "Amount of the cheque")->required();
  command->add_option("--to", options->parts,
                      "NUMBER[=AMOUNT]: an account the cheque pays (a debit); one alone without an amount takes all")
      ->required()
      ->allow_extra_args(false);
  command->add_option("--number", options->cheque_no, "Cheque number (default: none; the company keeps no cheque counter)");
  command->add_option("--memo", options->memo, "Memo of the cheque's lines (default: the payee)");
  command->add_option("--address", options->address, "The payee's address, stored with the cheque");
  command->add_option("--user", options->user, "User name recorded with the transaction")->capture_default_str();
  command->footer(
      "Example:\n  ledgerkit cheque books.ldb --bank 1000 --date 2026-03-31 --payee \"Acme Ltd.\" --amount 250.00 "
      "--to 5100=200.00 --to 5400=50.00 --number 104\n");
  return Subcommand{command, [options](std::ostream& out) { return RunCheque(*options, out); }};
}

Subcommand AddDepositCommand(CLI::App& app) {
  auto options = std::make_shared<BankOptions>();
  auto* command = app.add_subcommand("deposit", "Record a deposit into a bank account, split over the accounts it comes from.");
  command->add_option("FILE", options->file, "Company file path, or postgresql://...?company=NAME for a company on a server")->required();
  command->add_option("--bank", options->bank, "Number of the bank account deposited into")->required();
  command->add_option("--date", options->date, "Date of the deposit (YYYY-MM-DD)")->required();
  command->add_option("--amount", options->amount, "Amount deposited")->required();
  command->add_option("--from", options->parts,
                      "NUMBER[=AMOUNT]: an account the money comes from (a credit); one alone without an amount takes all")
      ->required()
      ->allow_extra_args(false);
  command->add_option("--description", options->description, "Description of the deposit (default: Deposit)");
  command->add_option("--memo", options->memo, "Memo of the deposit's lines (default: the description)");
  command->add_option("--user", options->user, "User name recorded with the transaction")->capture_default_str();
  command->footer(
      "Example:\n  ledgerkit deposit books.ldb --bank 1000 --date 2026-03-31 --amount 1500.00 --from 4000=1000.00 "
      "--from 1200=500.00 --description \"Counter sales and a customer payment\"\n");
  return Subcommand{command, [options](std::ostream& out) { return RunDeposit(*options, out); }};
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
