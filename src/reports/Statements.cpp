// CReportMgr: the financial statements (trial balance, balance sheet, income statement, account
// register, aged receivables), computed from the register rows in one read unit of work.
//
// Amounts are summed by the engine over exact integers of ten-thousandths and read back as text,
// so no total passes through a double; everything after that is checked Currency arithmetic.
#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/Command.h"
#include "entities/Catalog.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "common/Operation.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/reports/CReportMgr.h"

namespace ledgerkit {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int32_t kMostMonths = 600;

// The transactions whose register rows never count: in progress or aborted. The ledger writes
// rows at the commit and removes them on abort, so in a sound file this finds none; the
// statements take such rows off rather than filter every row, so their sums keep reading the
// covering index of the register alone.
constexpr std::string_view kUncommitted =
    "SELECT TransactionNumber FROM ACTransLog WHERE TransLogStatus IN (0,2) AND TransactionNumber IS NOT NULL";

// A condition on the register row (alias `table`, with its dot) that keeps committed rows only.
std::string CommittedRows(const std::string& table) {
  return "(" + table + "TransactionNumber IS NULL OR " + table + "TransactionNumber NOT IN (" + std::string(kUncommitted) +
         "))";
}

// A day bound: Empty is no bound; anything else must read as a date (Null: Invalid use of Null).
// A failure names `argument` as the one at fault.
std::optional<Date> DayArgument(const Variant& value, std::string_view argument) {
  if (value.IsEmpty()) return std::nullopt;
  const int64_t seconds = ToDate(value, argument).seconds();
  // Floor, not truncation: dates before 1970 have negative seconds.
  const int64_t day = seconds / kSecondsPerDay - (seconds % kSecondsPerDay < 0 ? 1 : 0);
  return Date::FromSeconds(day * kSecondsPerDay);
}

Date NextDay(Date day) { return Date::FromSeconds(day.seconds() + kSecondsPerDay); }

// The rows a statement reads: [from, until) in whole days, either end open.
struct Period {
  std::optional<Date> from;
  std::optional<Date> until;
};

// The period from FromDate to `to_date`, the argument named `to_argument` (ToDate or AsOfDate).
Period PeriodOf(const Variant& from_date, const Variant& to_date, std::string_view to_argument = "ToDate") {
  Period period;
  period.from = DayArgument(from_date, "FromDate");
  const std::optional<Date> to = DayArgument(to_date, to_argument);
  if (period.from && to && *period.from > *to) {
    throw Error::Runtime(kInvalidArgument, "FromDate " + period.from->ToText() + " is after ToDate " + to->ToText() + ".");
  }
  if (to) period.until = NextDay(*to);
  return period;
}

// The conditions of `period` on `column`, each bound as a parameter of `command`.
Sql PeriodConditions(const Period& period, const std::string& column, Command& command) {
  Sql conditions;
  if (period.from) {
    conditions += Sql(" AND ", column, ">=", kValue);
    command.Bind(db::ACTransaction::TransactionDate, *period.from, "FromDate");
  }
  if (period.until) {
    conditions += Sql(" AND ", column, "<", kValue);
    command.Bind(db::ACTransaction::TransactionDate, *period.until, "ToDate");
  }
  return conditions;
}

[[noreturn]] void ThrowSumOverflow(const std::string& what) {
  throw Error::Runtime(kOverflow, "Overflow: " + what + " leave the currency range.");
}

// Runs a query whose sums may leave the engine's integer range; the engine's refusal becomes
// Overflow naming `what`.
std::shared_ptr<Recordset> RunSums(Command& command, const std::string& what) {
  try {
    return command.ExecuteQuery();
  } catch (const Error& error) {
    if (command.Dialect().IsSumOverflow(error)) {
      ThrowSumOverflow(what);
    }
    throw;
  }
}

// A sum the engine gave as text (CAST(SUM(...) AS TEXT)): 0 for Null (no amounts); anything
// but a whole number in range (a REAL, a wider engine's numeric) is Overflow.
Currency SumValue(const Variant& value, const std::string& what) {
  if (value.IsNull()) return Currency();
  const std::string text = ToText(value);
  int64_t scaled = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), scaled);
  if (error != std::errc() || end != text.data() + text.size()) ThrowSumOverflow(what);
  return Currency::FromScaled(scaled);
}

// Runs `body` with any Overflow of Currency arithmetic named after `what`.
template <class Body>
auto Checked(const std::string& what, Body&& body) {
  try {
    return body();
  } catch (const Error& error) {
    if (error.number() != kOverflow || error.description().starts_with("Overflow: ")) throw;
    ThrowSumOverflow(what);
  }
}

enum class AccountClass { kAsset, kLiability, kEquity, kIncome, kExpense, kNone };

AccountClass ClassOf(const Variant& balance_sheet_type) {
  if (balance_sheet_type.IsNull()) return AccountClass::kNone;
  switch (ToLong(balance_sheet_type)) {
    case bstASSET: return AccountClass::kAsset;
    case bstLIABILITY: return AccountClass::kLiability;
    case bstEQUITY: return AccountClass::kEquity;
    case bstINCOME: return AccountClass::kIncome;
    case bstEXPENSE: return AccountClass::kExpense;
    default: return AccountClass::kNone;
  }
}

Variant ClassName(AccountClass account_class) {
  switch (account_class) {
    case AccountClass::kAsset: return "Asset";
    case AccountClass::kLiability: return "Liability";
    case AccountClass::kEquity: return "Equity";
    case AccountClass::kIncome: return "Income";
    case AccountClass::kExpense: return "Expense";
    case AccountClass::kNone: break;
  }
  return Variant::Null();
}

// Assets and expenses grow by debits; the other classes by credits. An account of no class is
// shown debit-positive.
bool DebitNatured(AccountClass account_class) {
  return account_class == AccountClass::kAsset || account_class == AccountClass::kExpense ||
         account_class == AccountClass::kNone;
}

struct AccountRow {
  int32_t id = 0;
  Variant number, name, type_id, type_name;
  std::optional<int32_t> parent;
  AccountClass account_class = AccountClass::kNone;
  int32_t root = 0;  // the top-level account its amounts roll into
};

std::string SortText(const Variant& value) { return value.IsNull() ? std::string() : ToText(value); }

// The chart: every account with its type and class, and the top-level account each one rolls
// into. A parent that does not exist ends the climb; an account on a cycle of parents is its own
// top (each amount is still counted exactly once).
class Chart {
 public:
  explicit Chart(const Variant& account) {
    Command command(account);
    command.SetText(Sql(
        "SELECT a.ACAccountID, a.AccountNumber, a.Name, a.ParentAccountID, a.AccountTypeID, t.Name, t.BalanceSheetType "
        "FROM ACAccount a LEFT JOIN ACAccountType t ON t.ACAccountTypeID=a.AccountTypeID;"));
    const auto rows = command.ExecuteQuery();
    for (; !rows->AtEOF(); rows->MoveNext()) {
      AccountRow row;
      row.id = ToLong(rows->Field(0));
      row.number = rows->Field(1);
      row.name = rows->Field(2);
      if (!rows->Field(3).IsNull()) row.parent = ToLong(rows->Field(3));
      row.type_id = rows->Field(4);
      row.type_name = rows->Field(5);
      row.account_class = ClassOf(rows->Field(6));
      accounts_.emplace(row.id, std::move(row));
    }
    for (auto& [id, row] : accounts_) row.root = Climb(id);
  }

  const AccountRow* Find(std::optional<int32_t> id) const {
    if (!id) return nullptr;
    const auto found = accounts_.find(*id);
    return found == accounts_.end() ? nullptr : &found->second;
  }
  const AccountRow& At(int32_t id) const { return accounts_.at(id); }

  // Account keys in chart order: account number, then name, then key.
  std::vector<int32_t> Ordered(std::vector<int32_t> ids) const {
    std::sort(ids.begin(), ids.end(), [this](int32_t a, int32_t b) {
      const AccountRow& x = At(a);
      const AccountRow& y = At(b);
      const std::string xn = SortText(x.number), yn = SortText(y.number);
      if (xn != yn) return xn < yn;
      const std::string xm = SortText(x.name), ym = SortText(y.name);
      if (xm != ym) return xm < ym;
      return a < b;
    });
    return ids;
  }

 private:
  int32_t Climb(int32_t id) const {
    std::set<int32_t> seen{id};
    int32_t top = id;
    for (;;) {
      const AccountRow* parent = Find(At(top).parent);
      if (parent == nullptr) return top;
      if (!seen.insert(parent->id).second) return id;
      top = parent->id;
    }
  }

  std::map<int32_t, AccountRow> accounts_;
};

// Debit and credit sums of the register per account (Parent), optionally per day too.
struct Sums {
  Currency debits, credits;
  Currency NetDebit(const std::string& what) const { return Checked(what, [&] { return debits - credits; }); }
};
using AccountKey = std::optional<int32_t>;

std::string AccountLabel(const AccountKey& key) {
  return key ? "the register sums of account " + std::to_string(*key) : std::string("the register sums of rows of no account");
}

// The debit and credit sums of the register rows of committed transactions in `period`, per
// account and, when `by_day`, per account and TransactionDate.
struct GroupSums {
  AccountKey key;
  Variant day;  // Empty unless by_day
  Sums sums;
};

std::vector<GroupSums> RegisterSums(const Variant& account, const Period& period, bool by_day) {
  const std::string group = by_day ? "Parent, TransactionDate" : "Parent";
  auto run = [&](bool uncommitted) {
    Command command(account);
    const Sql conditions = PeriodConditions(period, "TransactionDate", command);
    command.SetText(Sql("SELECT " + group +
                        ", CAST(SUM(Withdrawal) AS TEXT), CAST(SUM(Deposit) AS TEXT) FROM ACTransaction " +
                        (uncommitted ? "WHERE TransactionNumber IN (" + std::string(kUncommitted) + ")" : "WHERE 1=1") +
                        conditions + " GROUP BY " + group + ";"));
    return RunSums(command, "the register sums of an account");
  };
  std::vector<GroupSums> groups;
  std::map<std::pair<AccountKey, std::string>, size_t> index;
  const size_t first_sum = by_day ? 2 : 1;
  for (const bool uncommitted : {false, true}) {
    const auto rows = run(uncommitted);
    for (; !rows->AtEOF(); rows->MoveNext()) {
      const AccountKey key = rows->Field(0).IsNull() ? AccountKey() : AccountKey(ToLong(rows->Field(0)));
      const Variant day = by_day ? rows->Field(1) : Variant();
      const std::string what = AccountLabel(key);
      const Sums sums{SumValue(rows->Field(first_sum), what), SumValue(rows->Field(first_sum + 1), what)};
      if (!uncommitted) {
        index[{key, SortText(day)}] = groups.size();
        groups.push_back(GroupSums{key, day, sums});
        continue;
      }
      // Rows of transactions not committed are taken off the group they were summed into.
      const auto found = index.find({key, SortText(day)});
      if (found == index.end()) continue;
      Sums& group_sums = groups[found->second].sums;
      Checked(what, [&] {
        group_sums.debits -= sums.debits;
        group_sums.credits -= sums.credits;
        return 0;
      });
    }
  }
  return groups;
}

std::map<AccountKey, Sums> SumsByAccount(const Variant& account, const Period& period) {
  std::map<AccountKey, Sums> sums;
  for (const GroupSums& group : RegisterSums(account, period, false)) sums[group.key] = group.sums;
  return sums;
}

// Net debits per account and month index (0 = the month of period.from).
std::map<AccountKey, std::vector<Currency>> MonthlyNetDebits(const Variant& account, const Period& period,
                                                             int32_t months) {
  const int32_t first = period.from->year() * 12 + period.from->month() - 1;
  std::map<AccountKey, std::vector<Currency>> nets;
  for (const GroupSums& group : RegisterSums(account, period, true)) {
    const Date day = ToDate(group.day);
    const int32_t index = day.year() * 12 + day.month() - 1 - first;
    if (index < 0 || index >= months) continue;
    const std::string what = AccountLabel(group.key);
    std::vector<Currency>& line = nets[group.key];
    line.resize(static_cast<size_t>(months));
    Checked(what, [&] { return line[static_cast<size_t>(index)] += group.sums.NetDebit(what); });
  }
  return nets;
}

std::shared_ptr<Recordset> NewResult(const std::vector<std::pair<std::string, FieldType>>& columns) {
  auto result = std::make_shared<Recordset>();
  for (const auto& [name, type] : columns) {
    const int32_t size = type == FieldType::kText ? 255 : type == FieldType::kCurrency || type == FieldType::kDate ? 8 : 4;
    result->AppendColumn(name, type, size, kFieldMayBeNull);
  }
  result->Open();
  return result;
}

// Adds a row: the given columns set, every other Null.
void AddRow(Recordset& result, std::initializer_list<std::pair<std::string_view, Variant>> values) {
  result.AddNew();
  for (const auto& [name, value] : values) result.SetField(name, value);
}

std::shared_ptr<Recordset> Finished(std::shared_ptr<Recordset> result) {
  result->MoveFirst();
  return result;
}

// ---- Statements by class: balance sheet and income statement -------------------------------

// Amount columns of a class statement: one per month (when asked) and the whole period last.
using Amounts = std::vector<Currency>;

Amounts& AddTo(Amounts& total, const Amounts& amounts, const std::string& what) {
  Checked(what, [&] {
    for (size_t i = 0; i < amounts.size(); ++i) total[i] += amounts[i];
    return 0;
  });
  return total;
}

Amounts Negated(Amounts amounts) {
  for (Currency& amount : amounts) amount = -amount;
  return amounts;
}

// Net debits rolled into each top-level account, plus those of rows of no existing account.
struct Rolled {
  std::map<int32_t, Amounts> by_root;
  std::map<AccountKey, Amounts> orphans;
};

class ClassStatement {
 public:
  ClassStatement(const Chart& chart, std::vector<std::string> month_names)
      : chart_(chart), month_names_(std::move(month_names)) {
    std::vector<std::pair<std::string, FieldType>> columns = {
        {"RowKind", FieldType::kText},    {"Section", FieldType::kText},       {"AccountType", FieldType::kText},
        {"AccountID", FieldType::kLong},  {"AccountNumber", FieldType::kText}, {"Name", FieldType::kText}};
    for (const std::string& month : month_names_) columns.emplace_back(month, FieldType::kCurrency);
    columns.emplace_back("Amount", FieldType::kCurrency);
    result_ = NewResult(columns);
    amount_column_ = columns.size() - 1;
  }

  size_t Width() const { return month_names_.size() + 1; }

  // The rows of the accounts of `account_class`, grouped by type, with a subtotal per type.
  // Returns the section's total, signed the way the class grows.
  Amounts Section(const std::string& section, AccountClass account_class, const Rolled& rolled) {
    Amounts total(Width());
    std::vector<int32_t> roots;
    for (const auto& [root, amounts] : rolled.by_root) {
      if (chart_.At(root).account_class == account_class) roots.push_back(root);
    }
    roots = chart_.Ordered(roots);
    // Types in the order of their first account.
    std::vector<std::string> types;
    for (int32_t root : roots) {
      const std::string type = TypeKey(chart_.At(root));
      if (std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    }
    const std::string what = "the " + section + " amounts";
    for (const std::string& type : types) {
      Amounts subtotal(Width());
      Variant type_name;
      for (int32_t root : roots) {
        const AccountRow& row = chart_.At(root);
        if (TypeKey(row) != type) continue;
        type_name = row.type_name;
        const Amounts amounts = Signed(rolled.by_root.at(root), account_class);
        Row("detail", section, type_name, row.id, row.number, row.name, amounts);
        AddTo(subtotal, amounts, what);
      }
      Row("subtotal", section, type_name, Variant::Null(), Variant::Null(),
          "Total " + (type_name.IsNull() ? std::string("(no type)") : ToText(type_name)), subtotal);
      AddTo(total, subtotal, what);
    }
    return total;
  }

  // Accounts of no class and rows of no account, debit-positive.
  Amounts Unclassified(const std::string& section, const Rolled& rolled) {
    Amounts total(Width());
    std::vector<int32_t> roots;
    for (const auto& [root, amounts] : rolled.by_root) {
      if (chart_.At(root).account_class == AccountClass::kNone) roots.push_back(root);
    }
    for (int32_t root : chart_.Ordered(roots)) {
      const AccountRow& row = chart_.At(root);
      Row("detail", section, row.type_name, row.id, row.number, row.name, rolled.by_root.at(root));
      AddTo(total, rolled.by_root.at(root), "the unclassified amounts");
    }
    for (const auto& [key, amounts] : rolled.orphans) {
      Row("detail", section, Variant::Null(), key ? Variant(*key) : Variant::Null(), Variant::Null(),
          "(no such account)", amounts);
      AddTo(total, amounts, "the unclassified amounts");
    }
    return total;
  }

  bool HasUnclassified(const Rolled& rolled) const {
    if (!rolled.orphans.empty()) return true;
    return std::any_of(rolled.by_root.begin(), rolled.by_root.end(),
                       [this](const auto& entry) { return chart_.At(entry.first).account_class == AccountClass::kNone; });
  }

  void Row(const char* kind, const Variant& section, const Variant& type, const Variant& id, const Variant& number,
           const Variant& name, const Amounts& amounts) {
    AddRow(*result_, {{"RowKind", kind}, {"Section", section}, {"AccountType", type}, {"AccountID", id},
                      {"AccountNumber", number}, {"Name", name}});
    for (size_t i = 0; i < amounts.size(); ++i) result_->SetField(amount_column_ + 1 - amounts.size() + i, amounts[i]);
  }

  std::shared_ptr<Recordset> Result() { return Finished(result_); }

 private:
  static std::string TypeKey(const AccountRow& row) { return row.type_id.IsNull() ? std::string() : ToText(row.type_id); }
  static Amounts Signed(const Amounts& net_debits, AccountClass account_class) {
    return DebitNatured(account_class) ? net_debits : Negated(net_debits);
  }

  const Chart& chart_;
  std::vector<std::string> month_names_;
  std::shared_ptr<Recordset> result_;
  size_t amount_column_ = 0;
};

// Net debits of every account rolled into its top-level account; `monthly` adds the months in
// front of the period total.
Rolled RollUp(const Chart& chart, const std::map<AccountKey, Sums>& sums,
              const std::map<AccountKey, std::vector<Currency>>* monthly, size_t width) {
  Rolled rolled;
  for (const auto& [key, sum] : sums) {
    const std::string what = AccountLabel(key);
    Amounts amounts(width);
    if (monthly != nullptr) {
      const auto found = monthly->find(key);
      if (found != monthly->end()) std::copy(found->second.begin(), found->second.end(), amounts.begin());
    }
    amounts.back() = sum.NetDebit(what);
    const AccountRow* row = chart.Find(key);
    Amounts& target = row != nullptr ? rolled.by_root[row->root] : rolled.orphans[key];
    target.resize(width);
    AddTo(target, amounts, what);
  }
  return rolled;
}

// Income less expenses over the rolled amounts of those two classes.
Amounts NetIncome(const Chart& chart, const Rolled& rolled, size_t width) {
  Amounts net_debit(width);
  for (const auto& [root, amounts] : rolled.by_root) {
    const AccountClass account_class = chart.At(root).account_class;
    if (account_class == AccountClass::kIncome || account_class == AccountClass::kExpense) {
      AddTo(net_debit, amounts, "the net income");
    }
  }
  return Negated(net_debit);
}

Amounts Minus(Amounts a, const Amounts& b, const std::string& what) { return AddTo(a, Negated(b), what); }

// ---- Trial balance ----------------------------------------------------------------------------

std::shared_ptr<Recordset> BuildTrialBalance(const Variant& account, const Period& period) {
  const auto sums = SumsByAccount(account, period);
  const Chart chart(account);
  auto result = NewResult({{"RowKind", FieldType::kText},
                           {"AccountID", FieldType::kLong},
                           {"AccountNumber", FieldType::kText},
                           {"Name", FieldType::kText},
                           {"AccountType", FieldType::kText},
                           {"Class", FieldType::kText},
                           {"Debits", FieldType::kCurrency},
                           {"Credits", FieldType::kCurrency},
                           {"DebitBalance", FieldType::kCurrency},
                           {"CreditBalance", FieldType::kCurrency}});
  std::vector<int32_t> known;
  std::vector<AccountKey> unknown;
  for (const auto& [key, sum] : sums) {
    if (chart.Find(key) != nullptr) {
      known.push_back(*key);
    } else {
      unknown.push_back(key);
    }
  }
  Currency debits, credits, debit_balances, credit_balances;
  const std::string what = "the trial balance totals";
  auto add = [&](const AccountKey& key, const AccountRow* row) {
    const Sums& sum = sums.at(key);
    const Currency net = sum.NetDebit(AccountLabel(key));
    AddRow(*result, {{"RowKind", "detail"},
                     {"AccountID", key ? Variant(*key) : Variant::Null()},
                     {"AccountNumber", row ? row->number : Variant::Null()},
                     {"Name", row ? row->name : Variant("(no such account)")},
                     {"AccountType", row ? row->type_name : Variant::Null()},
                     {"Class", row ? ClassName(row->account_class) : Variant::Null()},
                     {"Debits", sum.debits},
                     {"Credits", sum.credits}});
    Checked(what, [&] {
      debits += sum.debits;
      credits += sum.credits;
      if (net > Currency()) {
        result->SetField("DebitBalance", net);
        debit_balances += net;
      } else if (net < Currency()) {
        result->SetField("CreditBalance", -net);
        credit_balances -= net;
      }
      return 0;
    });
  };
  for (int32_t id : chart.Ordered(known)) add(id, &chart.At(id));
  for (const AccountKey& key : unknown) add(key, nullptr);
  AddRow(*result, {{"RowKind", "total"},
                   {"Name", "Total"},
                   {"Debits", debits},
                   {"Credits", credits},
                   {"DebitBalance", debit_balances},
                   {"CreditBalance", credit_balances}});
  if (debit_balances != credit_balances) {
    const bool debit_side = debit_balances > credit_balances;
    const Currency excess = Checked(what, [&] {
      return debit_side ? debit_balances - credit_balances : credit_balances - debit_balances;
    });
    AddRow(*result, {{"RowKind", "difference"}, {"Name", "Out of balance by"}});
    result->SetField(debit_side ? "DebitBalance" : "CreditBalance", excess);
  }
  return Finished(result);
}

// ---- Account register -------------------------------------------------------------------------

Variant TransTypeName(const Variant& code) {
  static constexpr const char* kNames[] = {"CHQ",    "GENJRNL", "ADJ", "PURCH", "LIABCHQ", "SALES", "PAYCHQ",
                                           "DEP",    "PMT",     "INV", "INVADJ", "BILL",   "CC"};
  if (code.IsNull()) return Variant::Null();
  const int32_t value = ToLong(code);
  if (value < 0 || value >= static_cast<int32_t>(std::size(kNames))) return Variant(std::to_string(value));
  return Variant(kNames[value]);
}

std::shared_ptr<Recordset> BuildRegister(const Variant& account, int32_t account_id, const Period& period) {
  const Chart chart(account);
  const AccountRow* owner = chart.Find(account_id);
  if (owner == nullptr) {
    throw Error::Runtime(kInvalidArgument, "No ACAccount has the key " + std::to_string(account_id) + ".");
  }
  const bool debit_natured = DebitNatured(owner->account_class);
  const std::string what = "the register of account " + std::to_string(account_id);
  auto balance_change = [&](Currency debit, Currency credit) {
    return Checked(what, [&] { return debit_natured ? debit - credit : credit - debit; });
  };

  Currency balance;
  if (period.from) {
    Command opening(account);
    opening.Bind(db::ACTransaction::Parent, account_id, "AccountID");
    opening.Bind(db::ACTransaction::TransactionDate, *period.from, "FromDate");
    opening.SetText(
        Sql("SELECT CAST(SUM(Withdrawal) AS TEXT), CAST(SUM(Deposit) AS TEXT) FROM ACTransaction WHERE Parent=", kValue,
            " "
            "AND TransactionDate<",
            kValue, " AND " + CommittedRows("") + ";"));
    const auto sums = RunSums(opening, what);
    balance = balance_change(SumValue(sums->Field(0), what), SumValue(sums->Field(1), what));
  }

  auto result = NewResult({{"RowKind", FieldType::kText},
                           {"TransactionDate", FieldType::kDate},
                           {"TransactionNumber", FieldType::kText},
                           {"TransType", FieldType::kText},
                           {"Description", FieldType::kText},
                           {"ChequeNo", FieldType::kText},
                           {"Debit", FieldType::kCurrency},
                           {"Credit", FieldType::kCurrency},
                           {"Balance", FieldType::kCurrency},
                           {"Reconciled", FieldType::kBoolean},
                           {"TransactionID", FieldType::kLong}});
  AddRow(*result, {{"RowKind", "opening"}, {"Description", "Opening balance"}, {"Balance", balance}});
  if (period.from) result->SetField("TransactionDate", *period.from);

  Command command(account);
  command.Bind(db::ACTransaction::Parent, account_id, "AccountID");
  const Sql conditions = PeriodConditions(period, "t.TransactionDate", command);
  command.SetText(
      Sql("SELECT t.TransactionDate, t.TransactionNumber, t.TransType, t.Description, "
          "(SELECT MIN(l.ChequeNo) FROM ACTransLog l WHERE l.TransactionNumber=t.TransactionNumber), "
          "t.Withdrawal, t.Deposit, t.Reconciled, t.ACTransactionID FROM ACTransaction t WHERE t.Parent=",
          kValue, conditions, " AND ", CommittedRows("t."), " ORDER BY t.TransactionDate, t.ACTransactionID;"));
  const auto rows = command.ExecuteQuery();
  Currency debits, credits;
  for (; !rows->AtEOF(); rows->MoveNext()) {
    const Currency debit = rows->Field(5).IsNull() ? Currency() : ToCurrency(rows->Field(5));
    const Currency credit = rows->Field(6).IsNull() ? Currency() : ToCurrency(rows->Field(6));
    Checked(what, [&] {
      debits += debit;
      credits += credit;
      balance += balance_change(debit, credit);
      return 0;
    });
    result->AddNew();
    result->SetField(0, "detail");
    result->SetField(1, rows->Field(0));
    result->SetField(2, rows->Field(1));
    result->SetField(3, TransTypeName(rows->Field(2)));
    result->SetField(4, rows->Field(3));
    result->SetField(5, rows->Field(4));
    // A line is a debit or a credit: the other side stays empty.
    if (debit != Currency() || credit == Currency()) result->SetField(6, debit);
    if (credit != Currency()) result->SetField(7, credit);
    result->SetField(8, balance);
    // A row the column leaves Null has never been reconciled.
    result->SetField(9, !rows->Field(7).IsNull() && ToBoolean(rows->Field(7)));
    result->SetField(10, rows->Field(8));
  }
  AddRow(*result, {{"RowKind", "closing"},
                   {"Description", "Closing balance"},
                   {"Debit", debits},
                   {"Credit", credits},
                   {"Balance", balance}});
  if (period.until) result->SetField("TransactionDate", Date::FromSeconds(period.until->seconds() - kSecondsPerDay));
  return Finished(result);
}

// ---- Aged receivables -------------------------------------------------------------------------

std::shared_ptr<Recordset> BuildAgedReceivables(const Variant& account, Date as_of) {
  // An invoice is issued once its transaction is committed; it is owed what that transaction
  // debited to the invoice's receivable account (debits are stored as Withdrawal), whatever
  // its Total says. An invoice marked outstanding but never posted owes nothing yet. The status
  // is compared as "+TransLogStatus" so that each invoice finds its header by number, not by
  // reading every committed header.
  Command command(account);
  command.Bind(db::ACInvoice::InvoiceDate, NextDay(as_of), "AsOfDate");
  command.Bind(db::ACTransLog::TransLogStatus, static_cast<int32_t>(tlsCOMMITTED));
  command.SetText(
      Sql("SELECT i.Company, i.InvoiceDate, (SELECT CAST(SUM(t.Withdrawal) AS TEXT) FROM ACTransaction t "
          "WHERE t.TransactionNumber=i.TransactionNumber AND t.Parent=i.AccountID) FROM ACInvoice i "
          "WHERE i.Paid=0 AND i.InvoiceDate<",
          kValue,
          " AND EXISTS (SELECT 1 FROM ACTransLog l "
          "WHERE l.TransactionNumber=i.TransactionNumber AND +l.TransLogStatus=",
          kValue, ");"));
  const auto rows = RunSums(command, "the receivables");
  constexpr size_t kBuckets = 5;
  struct Customer {
    int32_t invoices = 0;
    Currency buckets[kBuckets];
    Currency total;
  };
  std::map<std::string, Customer> customers;
  const std::string what = "the receivables";
  for (; !rows->AtEOF(); rows->MoveNext()) {
    const std::string name = SortText(rows->Field(0));
    const int64_t days = (as_of.seconds() - DayArgument(rows->Field(1), {})->seconds()) / kSecondsPerDay;
    const size_t bucket = days <= 0 ? 0 : days <= 30 ? 1 : days <= 60 ? 2 : days <= 90 ? 3 : 4;
    const Currency amount = SumValue(rows->Field(2), what);
    Customer& customer = customers[name];
    ++customer.invoices;
    Checked(what, [&] {
      customer.buckets[bucket] += amount;
      customer.total += amount;
      return 0;
    });
  }
  static constexpr const char* kBucketColumns[kBuckets] = {"Current", "Days1To30", "Days31To60", "Days61To90",
                                                           "Over90Days"};
  std::vector<std::pair<std::string, FieldType>> columns = {
      {"RowKind", FieldType::kText}, {"Customer", FieldType::kText}, {"Invoices", FieldType::kLong}};
  for (const char* bucket : kBucketColumns) columns.emplace_back(bucket, FieldType::kCurrency);
  columns.emplace_back("Total", FieldType::kCurrency);
  auto result = NewResult(columns);
  Customer all;
  for (const auto& entry : customers) {
    const std::string& name = entry.first;
    const Customer& customer = entry.second;  // not a structured binding: clang 14 cannot capture one
    AddRow(*result, {{"RowKind", "detail"}, {"Customer", name}, {"Invoices", customer.invoices}});
    all.invoices += customer.invoices;
    for (size_t i = 0; i < kBuckets; ++i) {
      result->SetField(3 + i, customer.buckets[i]);
      Checked(what, [&] { return all.buckets[i] += customer.buckets[i]; });
    }
    result->SetField(3 + kBuckets, customer.total);
    Checked(what, [&] { return all.total += customer.total; });
  }
  AddRow(*result, {{"RowKind", "total"}, {"Customer", "Total"}, {"Invoices", all.invoices}});
  for (size_t i = 0; i < kBuckets; ++i) result->SetField(3 + i, all.buckets[i]);
  result->SetField(3 + kBuckets, all.total);
  return Finished(result);
}

std::string MonthName(int32_t month_index) {
  const int32_t year = month_index / 12;
  const int32_t month = month_index % 12 + 1;
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d", year, month);
  return text;
}

}  // namespace

std::shared_ptr<Recordset> CReportMgr::TrialBalance(const Variant& Account, const Variant& /*UserName*/,
                                                    const Variant& /*Token*/, const Variant& AsOfDate) {
  return RunOperation(Account, Access::kRead,
                      [&] { return BuildTrialBalance(Account, PeriodOf(Variant(), AsOfDate, "AsOfDate")); });
}

std::shared_ptr<Recordset> CReportMgr::BalanceSheet(const Variant& Account, const Variant& /*UserName*/,
                                                    const Variant& /*Token*/, const Variant& AsOfDate) {
  return RunOperation(Account, Access::kRead, [&] {
    const Period period = PeriodOf(Variant(), AsOfDate, "AsOfDate");
    const auto sums = SumsByAccount(Account, period);
    const Chart chart(Account);
    const Rolled rolled = RollUp(chart, sums, nullptr, 1);
    ClassStatement sheet(chart, {});
    const Amounts assets = sheet.Section("Assets", AccountClass::kAsset, rolled);
    sheet.Row("total", "Assets", Variant::Null(), Variant::Null(), Variant::Null(), "Total assets", assets);
    const Amounts liabilities = sheet.Section("Liabilities", AccountClass::kLiability, rolled);
    sheet.Row("total", "Liabilities", Variant::Null(), Variant::Null(), Variant::Null(), "Total liabilities", liabilities);
    Amounts equity = sheet.Section("Equity", AccountClass::kEquity, rolled);
    const Amounts net_income = NetIncome(chart, rolled, 1);
    sheet.Row("net-income", "Equity", Variant::Null(), Variant::Null(), Variant::Null(), "Net income", net_income);
    AddTo(equity, net_income, "the equity amounts");
    sheet.Row("total", "Equity", Variant::Null(), Variant::Null(), Variant::Null(), "Total equity", equity);
    if (sheet.HasUnclassified(rolled)) {
      const Amounts unclassified = sheet.Unclassified("Unclassified", rolled);
      sheet.Row("total", "Unclassified", Variant::Null(), Variant::Null(), Variant::Null(), "Total unclassified",
                unclassified);
    }
    Amounts both = liabilities;
    AddTo(both, equity, "the liabilities and equity");
    sheet.Row("total", Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), "Total liabilities and equity",
              both);
    return sheet.Result();
  });
}

std::shared_ptr<Recordset> CReportMgr::IncomeStatement(const Variant& Account, const Variant& /*UserName*/,
                                                       const Variant& /*Token*/, const Variant& FromDate,
                                                       const Variant& ToDate, const Variant& Months) {
  return RunOperation(Account, Access::kRead, [&] {
    const Period period = PeriodOf(FromDate, ToDate);
    const bool monthly = ToBoolean(Months);
    std::vector<std::string> month_names;
    int32_t months = 0;
    if (monthly) {
      if (!period.from || !period.until) {
        throw Error::Runtime(kInvalidArgument, "An income statement by month needs both FromDate and ToDate.");
      }
      const Date last = Date::FromSeconds(period.until->seconds() - kSecondsPerDay);
      const int32_t first = period.from->year() * 12 + period.from->month() - 1;
      months = last.year() * 12 + last.month() - first;
      if (months > kMostMonths) {
        throw Error::Runtime(kInvalidArgument, "The period has " + std::to_string(months) + " months; at most " +
                                                   std::to_string(kMostMonths) + " fit an income statement by month.");
      }
      for (int32_t i = 0; i < months; ++i) month_names.push_back(MonthName(first + i));
    }
    const auto sums = SumsByAccount(Account, period);
    std::map<AccountKey, std::vector<Currency>> by_month;
    if (monthly) by_month = MonthlyNetDebits(Account, period, months);
    const Chart chart(Account);
    ClassStatement statement(chart, month_names);
    const Rolled rolled = RollUp(chart, sums, monthly ? &by_month : nullptr, statement.Width());
    const Amounts income = statement.Section("Income", AccountClass::kIncome, rolled);
    statement.Row("total", "Income", Variant::Null(), Variant::Null(), Variant::Null(), "Total income", income);
    const Amounts expenses = statement.Section("Expenses", AccountClass::kExpense, rolled);
    statement.Row("total", "Expenses", Variant::Null(), Variant::Null(), Variant::Null(), "Total expenses", expenses);
    statement.Row("net-income", Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), "Net income",
                  Minus(income, expenses, "the net income"));
    return statement.Result();
  });
}

std::shared_ptr<Recordset> CReportMgr::AccountRegister(const Variant& Account, const Variant& /*UserName*/,
                                                       const Variant& /*Token*/, const Variant& AccountID,
                                                       const Variant& FromDate, const Variant& ToDate) {
  return RunOperation(Account, Access::kRead, [&] {
    const int32_t account_id = ToKey(AccountID, "AccountID");
    return BuildRegister(Account, account_id, PeriodOf(FromDate, ToDate));
  });
}

std::shared_ptr<Recordset> CReportMgr::AgedReceivables(const Variant& Account, const Variant& /*UserName*/,
                                                       const Variant& /*Token*/, const Variant& AsOfDate) {
  return RunOperation(Account, Access::kRead, [&] {
    const std::optional<Date> as_of = DayArgument(AsOfDate, "AsOfDate");
    return BuildAgedReceivables(Account, as_of ? *as_of : *DayArgument(Variant(Date::Now()), {}));
  });
}

}  // namespace ledgerkit
