// ledgerkit reconcile FILE --account NUMBER --list [--statement-balance X] [--json]
//   the account's register rows not reconciled yet, its cleared balance and the difference to
//   the statement
// ledgerkit reconcile FILE --account NUMBER --statement-date D --statement-balance X
//   --clear all|KEY,KEY... [--service-charge X --charge-account NUMBER]
//   [--interest X --interest-account NUMBER] [--force]
//   the rows the statement shows marked reconciled, its service charge and interest posted
#include "ReconcileCommand.h"

#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "CommandArguments.h"
#include "InvoiceCommands.h"
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

constexpr int64_t kSecondsPerDay = 86400;

struct ReconcileOptions {
  std::string file, account, statement_date, statement_balance, clear;
  std::string service_charge, charge_account, interest, interest_account, user = "ledgerkit";
  bool list = false, force = false, as_json = false;
};

// `text` as a balance, which may be below zero (an overdrawn bank).
Currency BalanceArgument(const std::string& text, std::string_view option) {
  if (!text.empty() && text.front() == '-') {
    try {
      return -AmountArgument(text.substr(1), option, true);
    } catch (const Error&) {
      // Refused below, naming the whole text.
    }
  }
  return AmountArgument(text, option, true);
}

struct RegisterRow {
  int32_t key = 0;
  Variant date, number, type, description;
  Currency amount;  // signed as the register's balance runs
  bool reconciled = false;
};

// The register of the account being reconciled: every row, and how a credit moves its balance.
struct Register {
  Variant name;
  bool debit_natured = true;
  std::vector<RegisterRow> rows;

  Currency Cleared() const {
    Currency cleared;
    for (const RegisterRow& row : rows) {
      if (row.reconciled) cleared += row.amount;
    }
    return cleared;
  }
  // What a credit of `amount` to the account does to its register balance.
  Currency Credited(Currency amount) const { return debit_natured ? -amount : amount; }
};

Register ReadRegister(const Variant& file, const Variant& account_id) {
  CACMgr ledger;
  Register reg;
  const auto account = ledger.GetAccount(file, "", "", account_id);
  reg.name = account->Value("Name");
  const Variant& type_id = account->Value("AccountTypeID");
  if (!type_id.IsNull() && ToLong(type_id) > 0) {
    const Variant sheet_type = ledger.GetAccountType(file, "", "", type_id)->Value("BalanceSheetType");
    const int32_t kind = sheet_type.IsNull() ? -1 : ToLong(sheet_type);
    reg.debit_natured = kind != bstLIABILITY && kind != bstEQUITY && kind != bstINCOME;
  }
  const auto rows = CReportMgr().AccountRegister(file, "", "", account_id, Variant(), Variant());
  const size_t kind = rows->ColumnIndex("RowKind"), balance = rows->ColumnIndex("Balance"),
               reconciled = rows->ColumnIndex("Reconciled"), key = rows->ColumnIndex("TransactionID");
  Currency previous;
  for (const auto& values : rows->Rows()) {
    const Currency running = values[balance].IsNull() ? previous : values[balance].AsCurrency();
    if (ToText(values[kind]) == "detail") {
      reg.rows.push_back(RegisterRow{ToLong(values[key]), values[rows->ColumnIndex("TransactionDate")],
                                     values[rows->ColumnIndex("TransactionNumber")],
                                     values[rows->ColumnIndex("TransType")], values[rows->ColumnIndex("Description")],
                                     running - previous, ToBoolean(values[reconciled])});
    }
    previous = running;
  }
  return reg;
}

// The rows --clear names: every unreconciled row dated up to the statement ("all"), or the keys
// listed, each of which must be an unreconciled row of the account.
std::vector<const RegisterRow*> RowsToClear(const Register& reg, const std::string& clear, Date statement_date,
                                            const std::string& account_number) {
  std::map<int32_t, const RegisterRow*> open;
  for (const RegisterRow& row : reg.rows) {
    if (!row.reconciled) open.emplace(row.key, &row);
  }
  std::vector<const RegisterRow*> chosen;
  if (clear == "all") {
    for (const auto& [key, row] : open) {
      if (ToDate(row->date).seconds() < statement_date.seconds() + kSecondsPerDay) chosen.push_back(row);
    }
    return chosen;
  }
  std::set<int32_t> seen;
  std::vector<std::string> unknown;
  size_t start = 0;
  for (;;) {
    const size_t comma = clear.find(',', start);
    const std::string piece = clear.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (piece.empty() || piece.size() > 9 || piece.find_first_not_of("0123456789") != std::string::npos) {
      throw Error::Runtime(kInvalidArgument, "--clear \"" + clear + "\": \"" + piece +
                                                 "\" is not a register row's key; give all, or keys as 3,8,15.");
    }
    const int32_t key = std::stoi(piece);
    const auto found = open.find(key);
    if (found == open.end()) {
      unknown.push_back(piece);
    } else if (seen.insert(key).second) {
      chosen.push_back(found->second);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (!unknown.empty()) {
    throw Error::Runtime(kInvalidArgument, "--clear \"" + clear + "\": " + Listed(unknown) +
                                               (unknown.size() == 1 ? " is not an unreconciled register row"
                                                                    : " are not unreconciled register rows") +
                                               " of account " + account_number + ".");
  }
  return chosen;
}

int RunList(const ReconcileOptions& options, const Variant& account_id, std::ostream& out) {
  const Variant file = options.file;
  const std::optional<Currency> statement =
      options.statement_balance.empty()
          ? std::nullopt
          : std::optional<Currency>(BalanceArgument(options.statement_balance, "--statement-balance"));
  const Register reg = ReadRegister(file, account_id);
  const Currency cleared = reg.Cleared();
  auto rows = NewListing({{"RowKind", FieldType::kText},
                          {"Key", FieldType::kLong},
                          {"Date", FieldType::kDate},
                          {"Number", FieldType::kText},
                          {"Type", FieldType::kText},
                          {"Description", FieldType::kText},
                          {"Amount", FieldType::kCurrency}});
  for (const RegisterRow& row : reg.rows) {
    if (row.reconciled) continue;
    rows->AddNew();
    rows->SetField("RowKind", "detail");
    rows->SetField("Key", row.key);
    rows->SetField("Date", row.date);
    rows->SetField("Number", row.number);
    rows->SetField("Type", row.type);
    rows->SetField("Description", row.description);
    rows->SetField("Amount", row.amount);
  }
  rows->MoveFirst();
  if (options.as_json) {
    std::ostringstream listed;
    PrintJson(*rows, listed);
    nlohmann::ordered_json shown = {{"account", options.account},
                                    {"rows", nlohmann::ordered_json::parse(listed.str())},
                                    {"cleared_balance", cleared.ToText()}};
    const nlohmann::ordered_json none(nullptr);
    shown["statement_balance"] = statement ? nlohmann::ordered_json(statement->ToText()) : none;
    shown["difference"] = statement ? nlohmann::ordered_json((*statement - cleared).ToText()) : none;
    out << shown.dump(2) << "\n";
    return 0;
  }
  out << "Register rows of account " << options.account << " " << CellText(reg.name) << " not reconciled yet\n\n";
  PrintStatement(*rows, out);
  out << "Cleared balance " << MoneyText(cleared);
  if (statement) {
    out << ", statement balance " << MoneyText(*statement) << ", difference " << MoneyText(*statement - cleared);
  }
  out << ".\n";
  return 0;
}

int RunRecord(const ReconcileOptions& options, const Variant& account_id, const AccountNumbers& accounts,
              std::ostream& out) {
  const Variant file = options.file;
  if (options.statement_date.empty() || options.statement_balance.empty() || options.clear.empty()) {
    throw Error::Runtime(kInvalidArgument,
                         "Give --list, or --statement-date, --statement-balance and --clear to "
                         "record a reconciliation.");
  }
  const Date date = DayArgument(options.statement_date, "--statement-date");
  const Currency statement = BalanceArgument(options.statement_balance, "--statement-balance");
  // A posting that debits and credits the account being reconciled would move nothing.
  auto other_account = [&](const std::string& number, const char* option) {
    if (number.empty()) return Variant(0);
    const Variant key = accounts.Key(number, option);
    if (ToLong(key) == ToLong(account_id)) {
      throw Error::Runtime(kInvalidArgument, std::string(option) + " \"" + number +
                                                 "\" is the account being reconciled; name the account it goes to.");
    }
    return key;
  };
  const Currency charge =
      options.service_charge.empty() ? Currency() : AmountArgument(options.service_charge, "--service-charge");
  const Variant charge_account = other_account(options.charge_account, "--charge-account");
  const Currency interest = options.interest.empty() ? Currency() : AmountArgument(options.interest, "--interest");
  const Variant interest_account = other_account(options.interest_account, "--interest-account");
  RequireFits(options.user, lenACTransLog::lenUserName, "--user");
  return WriteInOneUnit(options.file, out, [&](std::ostream& said) {
    const Register reg = ReadRegister(file, account_id);
    const std::vector<const RegisterRow*> chosen = RowsToClear(reg, options.clear, date, options.account);
    Currency after = reg.Cleared() + reg.Credited(charge) - reg.Credited(interest);
    std::string keys;
    for (const RegisterRow* row : chosen) {
      after += row->amount;
      keys += (keys.empty() ? "" : "|") + std::to_string(row->key);
    }
    if (after != statement && !options.force) {
      throw Error::Runtime(kInvalidArgument, "--statement-balance " + options.statement_balance +
                                                 " does not match: the cleared balance would be " + MoneyText(after) +
                                                 ", a difference of " + MoneyText(statement - after) +
                                                 " (--force records it anyway).");
    }
    CACMgr().ReconcileAccount(file, options.user, "", account_id, keys, charge, date, charge_account, interest, date,
                              interest_account);
    said << "Reconciled account " << options.account << " to the statement of " << date.ToText() << ": "
         << chosen.size() << (chosen.size() == 1 ? " row" : " rows") << " cleared";
    if (charge != Currency()) said << ", a service charge of " << MoneyText(charge) << " posted";
    if (interest != Currency()) said << ", interest of " << MoneyText(interest) << " posted";
    said << "; the cleared balance is " << MoneyText(after);
    if (after != statement) {
      said << ", the statement's " << MoneyText(statement) << ", a difference of " << MoneyText(statement - after);
    }
    said << ".\n";
  });
}

}  // namespace

Subcommand AddReconcileCommand(CLI::App& app) {
  auto options = std::make_shared<ReconcileOptions>();
  auto* command = app.add_subcommand(
      "reconcile", "List an account's register rows not reconciled yet, or reconcile it against a bank statement.");
  command
      ->add_option("FILE", options->file,
                   "Company file path, or postgresql://...?company=NAME for a company on a server")
      ->required();
  command->add_option("--account", options->account, "Number of the account to reconcile")->required();
  auto* list = command->add_flag("--list", options->list, "List the rows not reconciled yet and the cleared balance");
  command->add_option("--statement-balance", options->statement_balance,
                      "The statement's closing balance, signed as the register runs");
  auto* date = command->add_option("--statement-date", options->statement_date, "The statement's date (YYYY-MM-DD)");
  auto* clear = command->add_option("--clear", options->clear,
                                    "The rows the statement shows: all (every row dated up to the statement) or "
                                    "their keys, as 3,8,15");
  auto* charge = command->add_option("--service-charge", options->service_charge, "The statement's service charge");
  auto* charge_account =
      command->add_option("--charge-account", options->charge_account, "Number of the account charged with it");
  auto* interest = command->add_option("--interest", options->interest, "The interest the statement shows earned");
  auto* interest_account =
      command->add_option("--interest-account", options->interest_account, "Number of the account credited with it");
  auto* force = command->add_flag("--force", options->force, "Record even when the balances differ");
  command->add_flag("--json", options->as_json, "With --list, print the rows and balances as one JSON object")
      ->needs(list);
  command->add_option("--user", options->user, "User name recorded with the postings")->capture_default_str();
  charge->needs(charge_account);
  charge_account->needs(charge);
  interest->needs(interest_account);
  interest_account->needs(interest);
  for (CLI::Option* recording : {date, clear, charge, interest, force}) list->excludes(recording);
  command->footer(
      "Examples:\n"
      "  ledgerkit reconcile books.ldb --account 1000 --list --statement-balance 1230.06\n"
      "  ledgerkit reconcile books.ldb --account 1000 --statement-date 2026-03-31 --statement-balance 1230.06 "
      "--clear 3,8,15 --service-charge 4.50 --charge-account 5200\n");
  return Subcommand{command, [options](std::ostream& out) {
                      const AccountNumbers accounts(options->file);
                      const Variant account_id = accounts.Key(options->account, "--account");
                      return options->list ? RunList(*options, account_id, out)
                                           : RunRecord(*options, account_id, accounts, out);
                    }};
}

}  // namespace ledgerkit::cli
