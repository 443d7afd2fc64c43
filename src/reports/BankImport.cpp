// A bank statement recorded on a bank account: each line not recorded before becomes a deposit
// or a cheque against its counter-account, through the ledger services, in one unit of work.
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "common/RowWrite.h"
#include "common/Text.h"
#include "common/UnitOfWork.h"
#include "entities/Catalog.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "reports/BankStatement.h"
#include "reports/Journal.h"
#include "reports/JournalInternal.h"
#include "services/Ledger.h"

namespace ledgerkit {

namespace {

using journal::ActiveConnection;
using journal::KeyColumn;
using journal::MoneyColumn;
using journal::TextColumn;

// The account the chart sends unmatched lines to when none is named, and the number and type it
// is created with when the chart lacks it.
constexpr std::string_view kUnmatchedName = "Uncategorised";
constexpr std::string_view kUnmatchedNumber = "9999";
constexpr std::string_view kSuspenseType = "Suspense";

[[noreturn]] void LineFault(const StatementLine& line, const std::string& message) {
  throw Error::Runtime(kInvalidArgument, "Statement line " + std::to_string(line.position) + ": " + message);
}

template <class Body>
auto AtLine(const StatementLine& line, Body&& body) {
  try {
    return body();
  } catch (const Error& error) {
    throw error.WithDescription("Statement line " + std::to_string(line.position) + ": " + error.description());
  }
}

struct ChartAccount {
  int32_t id = 0;
  std::string number, name;
  std::string Shown() const { return number.empty() ? name : number + " " + name; }
};

// The company's accounts, found by number, by name and by the journal's name of them.
class Chart {
 public:
  explicit Chart(const Variant& account) : account_(account) { Load(); }

  void Load() {
    accounts_.clear();
    auto statement = ActiveConnection(account_).Prepare(Sql("SELECT ACAccountID, AccountNumber, Name FROM ACAccount;"));
    while (statement->Step()) {
      const std::optional<int32_t> id = KeyColumn(*statement, 0);
      if (id) accounts_.push_back(ChartAccount{*id, TextColumn(*statement, 1), TextColumn(*statement, 2)});
    }
    journal_names_ = JournalAccountNames(account_);
  }

  // The one account numbered `number`; Invalid argument naming the option when none or several.
  const ChartAccount& ByNumber(const std::string& number, std::string_view what) const {
    std::vector<const ChartAccount*> found;
    for (const ChartAccount& account : accounts_) {
      if (account.number == number) found.push_back(&account);
    }
    if (found.empty()) {
      throw Error::Runtime(kInvalidArgument, "The chart has no account numbered " + QuoteForMessage(number) + " (" +
                                                 std::string(what) + ").");
    }
    if (found.size() > 1) {
      throw Error::Runtime(kInvalidArgument, "The account number " + QuoteForMessage(number) + " (" + std::string(what) +
                                                 ") is ambiguous: the accounts with keys " +
                                                 std::to_string(found[0]->id) + " and " + std::to_string(found[1]->id) +
                                                 " share it.");
    }
    return *found.front();
  }

  // The account a rule names: its number, else its name or "NUMBER Name" (held once), else its
  // journal name.
  const ChartAccount* Find(const std::string& label) const {
    std::vector<const ChartAccount*> by_number, by_name;
    for (const ChartAccount& account : accounts_) {
      if (account.number == label) by_number.push_back(&account);
      if (SameNameIgnoringCase(account.name, label) || SameNameIgnoringCase(account.Shown(), label)) {
        by_name.push_back(&account);
      }
    }
    if (by_number.size() == 1) return by_number.front();
    if (by_number.empty() && by_name.size() == 1) return by_name.front();
    if (by_number.empty() && by_name.empty()) {
      for (const auto& [id, name] : journal_names_) {
        if (SameNameIgnoringCase(name, label)) {
          for (const ChartAccount& account : accounts_) {
            if (account.id == id) return &account;
          }
        }
      }
    }
    return nullptr;
  }

  const ChartAccount* Named(std::string_view name) const {
    for (const ChartAccount& account : accounts_) {
      if (SameNameIgnoringCase(account.name, name)) return &account;
    }
    return nullptr;
  }

 private:
  const Variant& account_;
  std::vector<ChartAccount> accounts_;
  std::map<int32_t, std::string> journal_names_;
};

// The account unmatched lines go to: the one named, else the chart's "Uncategorised", made
// (number 9999, under an account type "Suspense" of the liabilities) when the chart lacks it
// and this is not a dry run. Nothing when a dry run would make it.
const ChartAccount* UnmatchedAccount(const Variant& account, Chart& chart, const BankImportOptions& options,
                                     const Variant& user, BankImportResult& result) {
  if (!options.unmatched.empty()) return &chart.ByNumber(options.unmatched, "--unmatched");
  if (const ChartAccount* found = chart.Named(kUnmatchedName)) return found;
  if (chart.Find(std::string(kUnmatchedNumber))) {
    throw Error::Runtime(kInvalidArgument, "The chart has no account named \"" + std::string(kUnmatchedName) +
                                               "\" and the number " + std::string(kUnmatchedNumber) +
                                               " it would be given is taken; name the account for unmatched lines "
                                               "with --unmatched NUMBER.");
  }
  result.unmatched_created = true;
  if (options.dry_run) return nullptr;
  CACMgr ledger;
  Variant type;
  {
    auto statement =
        ActiveConnection(account).Prepare(Sql("SELECT ACAccountTypeID FROM ACAccountType WHERE Name=", kValue,
                                              " AND BalanceSheetType=", kValue, " ORDER BY ACAccountTypeID;"));
    statement->BindText(1, kSuspenseType);
    statement->BindInteger(2, bstLIABILITY);
    if (statement->Step()) type = Variant(*KeyColumn(*statement, 0));
  }
  if (type.IsEmpty()) type = ledger.AddAccountType(account, user, "", std::string(kSuspenseType), "", false, bstLIABILITY);
  ledger.AddAccount(account, user, "", std::string(kUnmatchedNumber), std::string(kUnmatchedName),
                    "Bank statement lines no rule matched, to be moved to their accounts", "", false, "", Variant(""),
                    type, "");
  chart.Load();
  return chart.Named(kUnmatchedName);
}

// The bank account's balance as a statement gives it: money in less money out (its debits less
// its credits), from its register.
Currency RegisterBalance(const Variant& account, int32_t bank) {
  auto statement = ActiveConnection(account).Prepare(
      Sql("SELECT Withdrawal, Deposit FROM ACTransaction WHERE Parent=", kValue, ";"));
  statement->BindInteger(1, bank);
  Currency balance;
  while (statement->Step()) {
    balance += MoneyColumn(*statement, 0, "a register withdrawal");
    balance -= MoneyColumn(*statement, 1, "a register deposit");
  }
  return balance;
}

// Records one line: a deposit debits the bank and credits the counter-account, a cheque the
// other way round. Returns the transaction's number.
std::string Record(const Variant& account, const Variant& user, int32_t bank, const BankImportLine& line) {
  const bool deposit = line.line.amount > Currency();
  const Currency amount = deposit ? line.line.amount : -line.line.amount;
  const int32_t type = deposit ? ttDEP : ttCHQ;
  const std::string number = services::TakeNumber(account);
  const Variant description(line.line.description);
  const services::TransactionStart start = services::StartArguments(
      type, Variant(line.line.date), description, user,
      line.line.cheque_number.empty() ? Variant::Null() : Variant(line.line.cheque_number), Variant(""),
      Variant(amount), Variant(bank), description);
  const services::BegunTransaction begun = services::BeginTransaction(account, number, start);
  services::AddLine(account, begun.header,
                    services::LineValues{.account_id = line.counter_account,
                                         .amount = amount,
                                         .side = deposit ? services::Side::kCredit : services::Side::kDebit,
                                         .description = start.memo});
  services::CommitTransaction(account, begun.number);
  auto row = RowWrite::Of<db::ACStatementLine>();
  row.Set(db::ACStatementLine::AccountID, Variant(bank))
      .Set(db::ACStatementLine::StatementID, Variant(line.id))
      .Set(db::ACStatementLine::TransactionNumber, Variant(begun.number));
  row.Insert(account);
  return begun.number;
}

}  // namespace

std::string StatementLineId(const StatementLine& line, int64_t occurrence) {
  // FNV-1a over the four parts, a zero byte after each: the same in every process and version.
  uint64_t hash = 14695981039346656037ull;
  const auto mix = [&hash](std::string_view text) {
    for (const char c : text) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 1099511628211ull;
    }
    hash *= 1099511628211ull;  // the zero byte: "ab","c" and "a","bc" differ
  };
  mix(line.date.ToStoredText().substr(0, 10));
  mix(line.amount.ToText());
  mix(line.description);
  mix(std::to_string(occurrence));
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("line:") + digits;
}

BankImportResult ImportBankStatement(const Variant& account, const Statement& statement,
                                     const BankImportOptions& options) {
  return WithMarkedReraise([&] {
    BankImportResult result;
    UnitOfWork::Run(account, options.dry_run ? Access::kRead : Access::kWrite, [&] {
      result = {};
      Chart chart(account);
      const ChartAccount bank = chart.ByNumber(options.bank_account, "--account");
      const Variant& given = options.user_name;
      const Variant user = !given.IsEmpty() && !given.IsNull() && !ToText(given).empty()
                               ? given
                               : journal::ImportUser(ActiveConnection(account), "record the statement's transactions");
      // The account for unmatched lines is made only when a line goes to it.
      bool unmatched_needed = !options.unmatched.empty();
      for (const StatementLine& line : statement.lines) unmatched_needed = unmatched_needed || line.account.empty();
      const ChartAccount* unmatched =
          unmatched_needed ? UnmatchedAccount(account, chart, options, user, result) : nullptr;

      // Each line's id: the bank's own, else one made from the line; two lines with one id
      // would make the second look imported, so that is refused.
      std::map<std::tuple<int64_t, int64_t, std::string>, int64_t> occurrences;
      std::map<std::string, const StatementLine*> by_id;
      for (const StatementLine& line : statement.lines) {
        BankImportLine entry;
        entry.line = line;
        if (line.id.empty()) {
          entry.id = StatementLineId(line, occurrences[{line.date.seconds(), line.amount.scaled(), line.description}]++);
        } else {
          entry.id = line.id;
        }
        const auto [seen, fresh] = by_id.emplace(entry.id, &line);
        if (!fresh) {
          LineFault(line, "its id " + QuoteForMessage(entry.id) + " is the id of statement line " +
                              std::to_string(seen->second->position) + " as well; the statement gives one id twice.");
        }
        const ChartAccount* counter = unmatched;
        if (!line.account.empty()) {
          counter = chart.Find(line.account);
          if (!counter) {
            LineFault(line, "the chart has no account " + QuoteForMessage(line.account) +
                                " (a number, a name held once, or a journal name); add it with `ledgerkit account "
                                "add` or change the rule.");
          }
        }
        if (counter) {
          if (counter->id == bank.id) {
            LineFault(line, "its counter-account is the bank account " + bank.Shown() + " itself.");
          }
          entry.counter_account = counter->id;
          entry.counter_name = counter->Shown();
        } else {
          entry.counter_name = std::string(kUnmatchedNumber) + " " + std::string(kUnmatchedName) + " (to be created)";
        }
        result.lines.push_back(std::move(entry));
      }

      // Lines already on the bank's register: their id recorded for a transaction still there.
      auto imported = ActiveConnection(account).Prepare(Sql(
          "SELECT COUNT(*) FROM ACStatementLine s WHERE s.AccountID=", kValue, " AND s.StatementID=", kValue,
          " AND EXISTS "
          "(SELECT 1 FROM ACTransaction t WHERE t.Parent=s.AccountID AND t.TransactionNumber=s.TransactionNumber);"));
      for (BankImportLine& entry : result.lines) {
        imported->Reset();
        imported->BindInteger(1, bank.id);
        imported->BindText(2, entry.id);
        entry.already_imported = imported->Step() && imported->ColumnInteger(0).value_or(0) > 0;
        if (entry.already_imported || entry.line.amount == Currency()) {
          ++result.skipped;
          continue;
        }
        if (!options.dry_run) {
          entry.transaction_number = AtLine(entry.line, [&] { return Record(account, user, bank.id, entry); });
        }
        ++result.recorded;
      }
      result.balance_after = RegisterBalance(account, bank.id);
      if (options.dry_run) {
        for (const BankImportLine& entry : result.lines) {
          if (!entry.already_imported) result.balance_after += entry.line.amount;
        }
      }
    });
    return result;
  });
}

}  // namespace ledgerkit
