// ledgerkit bank-import FILE STATEMENT --account NUMBER [--rules RULES] [--unmatched NUMBER]
//   [--bank-account ID] [--user NAME] [--dry-run] [--json]
//   the lines of a bank statement as deposits and cheques on a bank account
#include "BankImportCommand.h"

#include <filesystem>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "CommandArguments.h"
#include "Copy.h"
#include "Table.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "common/Text.h"
#include "ledgerkit/entities/ColumnWidths.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "reports/BankStatement.h"
#include "statements/CsvStatement.h"
#include "statements/OfxStatement.h"

namespace ledgerkit::cli {

namespace {

struct BankImportArguments {
  std::string file, statement, account, rules, unmatched, bank_account, user;
  bool dry_run = false, json = false;
};

bool NamesCsv(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".csv" || extension == ".tsv" || extension == ".ssv";
}

Statement ReadStatement(const BankImportArguments& arguments) {
  if (arguments.rules.empty() && !NamesCsv(arguments.statement)) {
    return ReadOfxStatement(arguments.statement, arguments.bank_account);
  }
  std::string rules = arguments.rules;
  if (rules.empty()) {
    rules = arguments.statement + ".rules";
    std::error_code error;
    if (!std::filesystem::exists(rules, error)) {
      throw Error::Runtime(kInvalidArgument, "The CSV statement " + arguments.statement +
                                                 " needs a rules file that says what its columns mean: give --rules "
                                                 "RULES, or put it beside the statement as " + rules + ".");
    }
  }
  if (!arguments.bank_account.empty()) {
    throw Error::Runtime(kInvalidArgument, "--bank-account chooses among the statements of an OFX file; a CSV "
                                           "statement is filtered by its rules.");
  }
  return ReadCsvStatement(arguments.statement, rules);
}

// The register sign `reconcile` uses: debit-positive, credit-positive for the account of a
// liability, equity or income type (a credit card's balance owed is then positive).
bool CreditNatured(const std::string& file, const Variant& account_id) {
  CACMgr ledger;
  const Variant type_id = ledger.GetAccount(file, "", "", account_id)->Value("AccountTypeID");
  if (type_id.IsNull() || ToLong(type_id) <= 0) return false;
  const Variant sheet = ledger.GetAccountType(file, "", "", type_id)->Value("BalanceSheetType");
  const int32_t kind = sheet.IsNull() ? -1 : ToLong(sheet);
  return kind == bstLIABILITY || kind == bstEQUITY || kind == bstINCOME;
}

// The first `count` characters of a UTF-8 text.
std::string FirstCharacters(const std::string& text, size_t count) {
  size_t end = 0;
  for (size_t seen = 0; end < text.size(); ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && seen++ == count) break;
  }
  return text.substr(0, end);
}

std::string What(const BankImportLine& line, bool dry_run) {
  if (line.already_imported) return "imported before";
  if (line.line.amount == Currency()) return "nothing to record";
  if (dry_run) return line.line.amount > Currency() ? "deposit" : "cheque";
  return (line.line.amount > Currency() ? "deposit, transaction " : "cheque, transaction ") + line.transaction_number;
}

int Run(const BankImportArguments& arguments, std::ostream& out) {
  RequireFits(arguments.user, lenACTransLog::lenUserName, "--user");
  const Statement statement = ReadStatement(arguments);
  BankImportOptions options;
  options.bank_account = arguments.account;
  options.unmatched = arguments.unmatched;
  options.dry_run = arguments.dry_run;
  options.user_name = arguments.user.empty() ? Variant() : Variant(arguments.user);
  const BankImportResult result = ImportBankStatement(arguments.file, statement, options);
  const Variant bank_id = AccountNumbers(arguments.file).Key(arguments.account, "--account");
  const int sign = CreditNatured(arguments.file, bank_id) ? -1 : 1;
  const auto signed_as_register = [sign](Currency amount) { return sign < 0 ? -amount : amount; };

  if (arguments.json) {
    nlohmann::ordered_json lines = nlohmann::ordered_json::array();
    for (const BankImportLine& line : result.lines) {
      lines.push_back({{"position", line.line.position},
                       {"date", line.line.date.ToText()},
                       {"amount", line.line.amount.ToText()},
                       {"description", CellText(Variant(line.line.description))},
                       {"id", line.id},
                       {"account", CellText(Variant(line.counter_name))},
                       {"already_imported", line.already_imported},
                       {"transaction_number", line.transaction_number}});
    }
    nlohmann::ordered_json shown = {{"dry_run", arguments.dry_run},
                                    {"recorded", result.recorded},
                                    {"skipped", result.skipped},
                                    {"unmatched_created", result.unmatched_created},
                                    {"balance_after", signed_as_register(result.balance_after).ToText()},
                                    {"lines", lines}};
    shown["statement_balance"] = statement.ledger_balance
                                     ? nlohmann::ordered_json(signed_as_register(*statement.ledger_balance).ToText())
                                     : nlohmann::ordered_json(nullptr);
    out << shown.dump(2) << "\n";
    return 0;
  }

  size_t amount_width = 6, description_width = 11, account_width = 0;
  for (const BankImportLine& line : result.lines) {
    amount_width = std::max(amount_width, MoneyText(line.line.amount).size());
    account_width = std::max(account_width, CountCharacters(CellText(Variant(line.counter_name))));
    description_width = std::max(description_width, CountCharacters(CellText(Variant(line.line.description))));
  }
  description_width = std::min<size_t>(description_width, 40);
  for (const BankImportLine& line : result.lines) {
    std::string description = CellText(Variant(line.line.description));
    if (CountCharacters(description) > description_width) {
      description = FirstCharacters(description, description_width - 1) + "~";
    }
    const std::string amount = MoneyText(line.line.amount);
    const std::string counter = CellText(Variant(line.counter_name));
    out << line.line.date.ToText() << "  " << std::string(amount_width - amount.size(), ' ') << amount << "  "
        << description << std::string(description_width - CountCharacters(description), ' ') << "  "
        << counter << std::string(account_width - CountCharacters(counter), ' ') << "  ("
        << What(line, arguments.dry_run) << ")\n";
  }
  out << (arguments.dry_run ? "Would record " : "Recorded ") << result.recorded
      << (result.recorded == 1 ? " line" : " lines") << " on account " << arguments.account << " of "
      << ShownCompany(arguments.file) << "; " << result.skipped << " skipped";
  if (result.unmatched_created) out << "; the account 9999 Uncategorised " << (arguments.dry_run ? "would be" : "was") << " created";
  out << (arguments.dry_run ? " (a dry run: nothing was written).\n" : ".\n");
  out << "Balance of account " << arguments.account << (arguments.dry_run ? " after such an import: " : " now: ")
      << MoneyText(signed_as_register(result.balance_after));
  if (statement.ledger_balance) {
    const Currency stated = signed_as_register(*statement.ledger_balance);
    out << "; the statement's ledger balance"
        << (statement.balance_date ? " on " + statement.balance_date->ToText() : std::string()) << ": "
        << MoneyText(stated);
    if (stated != signed_as_register(result.balance_after)) {
      out << ", a difference of " << MoneyText(stated - signed_as_register(result.balance_after));
    }
  }
  out << " (signed as `reconcile` reads it).\n";
  return 0;
}

}  // namespace

Subcommand AddBankImportCommand(CLI::App& app) {
  auto arguments = std::make_shared<BankImportArguments>();
  auto* command = app.add_subcommand(
      "bank-import",
      "Record the lines of a bank statement (OFX, QFX, or CSV with a rules file) as deposits and cheques on a bank "
      "account; lines imported before are skipped, and one bad line records nothing.");
  command->add_option("FILE", arguments->file, "Company file path, or postgresql://...?company=NAME")->required();
  command->add_option("STATEMENT", arguments->statement, "The statement file (OFX, QFX or CSV)")->required();
  command->add_option("--account", arguments->account, "Number of the bank account in the chart")->required();
  command->add_option("--rules", arguments->rules,
                      "Rules file for a CSV statement (default: STATEMENT.rules beside it); see the README");
  command->add_option("--unmatched", arguments->unmatched,
                      "Number of the account for lines no rule names (default: the chart's \"Uncategorised\", "
                      "made as 9999 when missing)");
  command->add_option("--bank-account", arguments->bank_account,
                      "Which statement of an OFX file holding several: the bank's account number");
  command->add_option("--user", arguments->user, "User who records the transactions (default: the main user)");
  command->add_flag("--dry-run", arguments->dry_run, "Show what would be recorded and write nothing");
  command->add_flag("--json", arguments->json, "Print the lines and totals as JSON");
  command->footer(
      "Example:\n  ledgerkit bank-import books.ldb feb.ofx --account 1000 --dry-run\n"
      "  ledgerkit bank-import books.ldb feb.csv --account 1000 --rules bank.rules");
  return Subcommand{command, [arguments](std::ostream& out) { return Run(*arguments, out); }};
}

}  // namespace ledgerkit::cli
