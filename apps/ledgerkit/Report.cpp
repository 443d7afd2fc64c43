#include "Report.h"


#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>

#include <CLI/CLI.hpp>

#include "Chart.h"
#include "CommandArguments.h"
#include "ChartOfAccounts.h"
#include "Table.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Error.h"
#include "common/Text.h"
#include "ledgerkit/entities/ACAccount.h"
#include "ledgerkit/entities/ACAccountType.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "ledgerkit/subscriber/CAccountMgr.h"

namespace ledgerkit::cli {

namespace {

std::string KindOf(const Recordset& result, const std::vector<Variant>& row) {
  const Variant& kind = row[result.ColumnIndex("RowKind")];
  return kind.IsNull() ? std::string() : ToText(kind);
}

bool IsDetail(const Recordset& result, size_t row) { return KindOf(result, result.Rows()[row]) == "detail"; }

std::string TextOf(const Variant& value) { return value.IsNull() ? std::string() : ToText(value); }

bool HasColumn(const Recordset& result, std::string_view name) {
  for (const FieldInfo& column : result.Columns()) {
    if (column.name.size() == name.size() &&
        std::equal(name.begin(), name.end(), column.name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        })) {
      return true;
    }
  }
  return false;
}

std::shared_ptr<Recordset> NewResult(std::vector<FieldInfo> columns) {
  auto result = std::make_shared<Recordset>();
  result->LoadColumns(std::move(columns));
  return result;
}

FieldInfo CurrencyColumn(std::string name) { return FieldInfo{std::move(name), FieldType::kCurrency, 8, kFieldMayBeNull}; }

Currency AmountOf(const Variant& value) { return value.IsNull() ? Currency() : value.AsCurrency(); }

// ---- Amounts as the table shows them -----------------------------------------------------

// 4 for an amount with a fraction of a cent, else 2.
int ValueDecimals(Currency amount) { return amount.scaled() % 100 != 0 ? 4 : 2; }

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

// The amount as a statement shows it: its own decimals (2 or 4), grouped.
std::string ShownAmount(Currency amount) { return AmountText(amount, ValueDecimals(amount), true); }

}  // namespace

std::string StatementAmountText(Currency amount) { return ShownAmount(amount); }

namespace {

// 4 when some amount of the column has a fraction of a cent (its decimal points are then
// aligned for 4 decimals), else 2.
int ColumnDecimals(const Recordset& result, size_t column) {
  for (const auto& row : result.Rows()) {
    const Variant& value = row[column];
    if (value.type() == VarType::kCurrency && ValueDecimals(value.AsCurrency()) == 4) return 4;
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
      {"balance-sheet", {{"Section", "Section"}, {"AccountType", "Type"}, {"AccountNumber", "Account"}, {"Name", "Name"}}},
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

// The statement without the "subtotal" rows of sections that have one only (each would repeat
// its section's total).
std::shared_ptr<Recordset> WithoutRepeatedSubtotals(const Recordset& result) {
  auto shown = NewResult(result.Columns());
  if (!HasColumn(result, "Section")) {
    for (const auto& row : result.Rows()) shown->AppendRow(row);
    return shown;
  }
  const size_t section = result.ColumnIndex("Section");
  std::map<std::string, int> subtotals;
  for (const auto& row : result.Rows()) {
    if (KindOf(result, row) == "subtotal") ++subtotals[TextOf(row[section])];
  }
  for (const auto& row : result.Rows()) {
    if (KindOf(result, row) == "subtotal" && subtotals[TextOf(row[section])] == 1) continue;
    shown->AppendRow(row);
  }
  return shown;
}

// The register with a text column "Rec" made from its Boolean column "Reconciled": "R" for
// true, Null otherwise.
std::shared_ptr<Recordset> WithReconciledMark(const Recordset& result) {
  std::vector<FieldInfo> columns = result.Columns();
  columns.push_back(FieldInfo{"Rec", FieldType::kText, 1, kFieldMayBeNull});
  auto shown = NewResult(std::move(columns));
  const size_t reconciled = result.ColumnIndex("Reconciled");
  for (auto row : result.Rows()) {
    const Variant& flag = row[reconciled];
    const bool marked = !flag.IsNull() && ToBoolean(flag);
    row.push_back(marked ? Variant("R") : Variant::Null());
    shown->AppendRow(std::move(row));
  }
  return shown;
}

// ---- Periods -------------------------------------------------------------------------------

constexpr int kMostPeriods = 600;

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

std::string DayText(int year, int month, int day) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

// A column of a statement by period: its name and the day its balances are taken as of.
struct PeriodEnd {
  std::string name;
  std::string as_of;
};

// The month (months 1) or quarter (3) ends from the period holding `from` to the one holding
// `to`, the last one as of `to`; each named by its as-of day.
std::vector<PeriodEnd> PeriodEnds(const std::string& from_text, const std::string& to_text, int months) {
  const Date from = DayArgument(from_text, "--from");
  const Date to = DayArgument(to_text, "--to");
  if (to < from) throw Error::Runtime(kInvalidArgument, "--from " + from_text + " is after --to " + to_text + ".");
  int index = from.year() * 12 + (from.month() - 1) / months * months;  // first month of the first period
  const int last = to.year() * 12 + to.month() - 1;
  std::vector<PeriodEnd> ends;
  for (; index <= last; index += months) {
    if (ends.size() == kMostPeriods) {
      throw Error::Runtime(kInvalidArgument, "The period has more than " + std::to_string(kMostPeriods) +
                                                 " period ends; at most that many fit a statement by period.");
    }
    const int end_index = std::min(index + months - 1, last);
    const int year = end_index / 12, month = end_index % 12 + 1;
    const std::string as_of = end_index == last ? DayText(to.year(), to.month(), to.day())
                                                : DayText(year, month, DaysInMonth(year, month));
    ends.push_back({as_of, as_of});
  }
  return ends;
}

// The statements of `results` (one per period end, same report) as one: the columns that are
// not amounts, then for each period the `amounts` columns (named "<label> <period>", or the
// period alone for one amount column). Rows are matched by their text columns; a row missing
// from some period gets `missing` there. Row order: the last period's, with rows of earlier
// periods that it lacks put after the row they follow there.
std::shared_ptr<Recordset> MergedByPeriod(const std::vector<std::shared_ptr<Recordset>>& results,
                                          const std::vector<PeriodEnd>& ends,
                                          const std::vector<std::pair<std::string, std::string>>& amounts,
                                          const std::vector<std::string>& dropped, const Variant& missing) {
  const Recordset& first = *results.front();
  std::vector<size_t> kept;
  std::vector<FieldInfo> columns;
  auto listed = [](const auto& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(), [&](const auto& item) {
      if constexpr (std::is_same_v<std::decay_t<decltype(item)>, std::string>) {
        return item == name;
      } else {
        return item.first == name;
      }
    });
  };
  for (size_t c = 0; c < first.Columns().size(); ++c) {
    const std::string& name = first.Columns()[c].name;
    if (listed(amounts, name) || listed(dropped, name)) continue;
    kept.push_back(c);
    columns.push_back(first.Columns()[c]);
  }
  for (const PeriodEnd& end : ends) {
    for (const auto& [column, label] : amounts) {
      columns.push_back(CurrencyColumn(amounts.size() == 1 ? end.name : label + " " + end.name));
    }
  }
  auto key_of = [&](const std::vector<Variant>& row) {
    std::string key;
    for (size_t c : kept) key += CellText(row[c]) + '\x1f';
    return key;
  };
  std::vector<std::string> order;
  std::map<std::string, std::vector<Variant>> text_of;
  std::map<std::string, std::vector<std::vector<Variant>>> values;  // key -> period -> amounts
  for (size_t p = results.size(); p-- > 0;) {
    const Recordset& result = *results[p];
    size_t position = 0;
    for (const auto& row : result.Rows()) {
      const std::string key = key_of(row);
      const auto found = std::find(order.begin(), order.end(), key);
      if (found == order.end()) {
        order.insert(order.begin() + static_cast<std::ptrdiff_t>(position), key);
        ++position;
        std::vector<Variant> text;
        for (size_t c : kept) text.push_back(row[c]);
        text_of[key] = std::move(text);
        values[key].assign(results.size(), std::vector<Variant>(amounts.size(), missing));
      } else {
        position = static_cast<size_t>(found - order.begin()) + 1;
      }
      for (size_t a = 0; a < amounts.size(); ++a) values[key][p][a] = row[result.ColumnIndex(amounts[a].first)];
    }
  }
  auto merged = NewResult(std::move(columns));
  for (const std::string& key : order) {
    std::vector<Variant> row = text_of[key];
    for (const auto& period : values[key]) row.insert(row.end(), period.begin(), period.end());
    merged->AppendRow(std::move(row));
  }
  return merged;
}

// The income statement by month as one by calendar quarter: each quarter's months summed into
// a column "YYYY-Qn" (the months of the period only), the other columns as they are.
std::shared_ptr<Recordset> ByQuarter(const Recordset& monthly) {
  std::vector<FieldInfo> columns;
  std::vector<std::optional<size_t>> target;  // column of the monthly -> column of the quarterly (summed)
  std::map<std::string, size_t> quarters;
  for (const FieldInfo& column : monthly.Columns()) {
    const bool month = column.type == FieldType::kCurrency && column.name.size() == 7 && column.name[4] == '-';
    if (!month) {
      target.push_back(columns.size());
      columns.push_back(column);
      continue;
    }
    const int number = std::stoi(column.name.substr(5, 2));
    const std::string quarter = column.name.substr(0, 4) + "-Q" + std::to_string((number - 1) / 3 + 1);
    if (!quarters.contains(quarter)) {
      quarters[quarter] = columns.size();
      columns.push_back(CurrencyColumn(quarter));
    }
    target.push_back(quarters[quarter]);
  }
  auto result = NewResult(columns);
  for (const auto& row : monthly.Rows()) {
    std::vector<Variant> summed(columns.size());
    for (const auto& [quarter, q] : quarters) summed[q] = Currency();
    for (size_t c = 0; c < row.size(); ++c) {
      const size_t to = *target[c];
      const FieldInfo& from = monthly.Columns()[c];
      if (from.name != columns[to].name) {
        summed[to] = AmountOf(summed[to]) + AmountOf(row[c]);
      } else {
        summed[to] = row[c];
      }
    }
    result->AppendRow(std::move(summed));
  }
  return result;
}

// ---- The chart's tree, for --depth ------------------------------------------------------------

// Account keys in chart order: account number, then name, then key (as the library orders them).
struct ChartOrder {
  const std::map<int32_t, ChartAccount>& tree;
  bool operator()(int32_t a, int32_t b) const {
    const ChartAccount &x = tree.at(a), &y = tree.at(b);
    const std::string xn = TextOf(x.number), yn = TextOf(y.number);
    if (xn != yn) return xn < yn;
    const std::string xm = TextOf(x.name), ym = TextOf(y.name);
    if (xm != ym) return xm < ym;
    return a < b;
  }
};

// The account at level `depth` above `id` (itself when it is at that level or above). Parents
// that do not exist end the climb; a cycle of parents ends where it comes back.
int32_t AncestorAt(const std::map<int32_t, ChartAccount>& tree, int32_t id, int depth) {
  std::vector<int32_t> path = {id};
  std::set<int32_t> seen = {id};
  for (;;) {
    const auto found = tree.find(path.back());
    if (found == tree.end() || !found->second.parent || !tree.contains(*found->second.parent) ||
        seen.contains(*found->second.parent)) {
      break;
    }
    path.push_back(*found->second.parent);
    seen.insert(path.back());
  }
  const size_t level = path.size();  // path.back() is at level 1
  return level > static_cast<size_t>(depth) ? path[level - static_cast<size_t>(depth)] : id;
}

// The trial balance with every account below level `depth` rolled into its ancestor at that
// level: their debits and credits summed, the balance put on its side again, the total row's
// balances summed anew (its debits and credits, and any difference, do not change).
std::shared_ptr<Recordset> RolledTrialBalance(const Recordset& trial, const std::map<int32_t, ChartAccount>& tree,
                                              int depth) {
  const size_t id_column = trial.ColumnIndex("AccountID"), debits = trial.ColumnIndex("Debits"),
               credits = trial.ColumnIndex("Credits"), debit_balance = trial.ColumnIndex("DebitBalance"),
               credit_balance = trial.ColumnIndex("CreditBalance");
  std::map<int32_t, std::vector<Variant>> rolled;  // target -> its row
  std::vector<std::vector<Variant>> orphans, totals;
  for (const auto& row : trial.Rows()) {
    const std::string kind = KindOf(trial, row);
    if (kind != "detail") {
      totals.push_back(row);
      continue;
    }
    if (row[id_column].IsNull() || !tree.contains(ToLong(row[id_column]))) {
      orphans.push_back(row);
      continue;
    }
    const int32_t target = AncestorAt(tree, ToLong(row[id_column]), depth);
    auto found = rolled.find(target);
    if (found == rolled.end()) {
      std::vector<Variant> fresh(row.size());
      const ChartAccount& account = tree.at(target);
      fresh[trial.ColumnIndex("RowKind")] = "detail";
      fresh[id_column] = target;
      fresh[trial.ColumnIndex("AccountNumber")] = account.number;
      fresh[trial.ColumnIndex("Name")] = account.name;
      fresh[trial.ColumnIndex("AccountType")] = account.type_name;
      fresh[trial.ColumnIndex("Class")] = account.class_name;
      fresh[debits] = Currency();
      fresh[credits] = Currency();
      found = rolled.emplace(target, std::move(fresh)).first;
    }
    found->second[debits] = AmountOf(found->second[debits]) + AmountOf(row[debits]);
    found->second[credits] = AmountOf(found->second[credits]) + AmountOf(row[credits]);
  }
  std::vector<int32_t> targets;
  for (const auto& [id, row] : rolled) targets.push_back(id);
  std::sort(targets.begin(), targets.end(), ChartOrder{tree});
  auto result = NewResult(trial.Columns());
  Currency debit_balances, credit_balances;
  auto add = [&](std::vector<Variant> row) {
    const Currency net = AmountOf(row[debits]) - AmountOf(row[credits]);
    row[debit_balance] = net > Currency() ? Variant(net) : Variant::Null();
    row[credit_balance] = net < Currency() ? Variant(-net) : Variant::Null();
    if (net > Currency()) debit_balances += net;
    if (net < Currency()) credit_balances -= net;
    result->AppendRow(std::move(row));
  };
  for (int32_t id : targets) add(rolled.at(id));
  for (auto& row : orphans) add(std::move(row));
  for (auto row : totals) {
    if (KindOf(trial, row) == "total") {
      row[debit_balance] = debit_balances;
      row[credit_balance] = credit_balances;
    }
    result->AppendRow(std::move(row));
  }
  return result;
}

// Net debits of each account's own register rows up to `as_of` (Empty: every row): one read of
// the library's trial balance.
using Nets = std::map<int32_t, Currency>;

Nets NetsAsOf(const std::string& file, const Variant& as_of) {
  const auto trial = CReportMgr().TrialBalance(file, "", "", as_of);
  const size_t id = trial->ColumnIndex("AccountID"), debits = trial->ColumnIndex("Debits"),
               credits = trial->ColumnIndex("Credits");
  Nets nets;
  for (const auto& row : trial->Rows()) {
    if (KindOf(*trial, row) != "detail" || row[id].IsNull()) continue;
    nets[ToLong(row[id])] = AmountOf(row[debits]) - AmountOf(row[credits]);
  }
  return nets;
}

// What an amount column of a class statement counts: the nets up to `until` less those up to
// `before` (none: from the first row).
struct ColumnNets {
  const Nets* until = nullptr;
  const Nets* before = nullptr;
};

// A balance sheet or income statement (one detail row per top-level account, its sub-accounts
// rolled in) with each top-level account's row split into the accounts of its subtree down to
// level `depth`, each with its own amounts and, at level `depth`, those of the accounts below it;
// a sub-account's name is indented two blanks a level. Amounts are signed as the section's class
// grows, as the library signs its rows; a sub-account with no register rows is left out. The
// subtotals and totals are the library's: the split rows sum to the row they replace.
std::shared_ptr<Recordset> Deepened(const Recordset& statement, const std::map<int32_t, ChartAccount>& tree, int depth,
                                    const std::vector<ColumnNets>& nets_of_column) {
  std::map<int32_t, std::vector<int32_t>> children;
  for (const auto& [id, account] : tree) {
    if (account.parent && tree.contains(*account.parent) && *account.parent != id) children[*account.parent].push_back(id);
  }
  for (auto& [parent, list] : children) {
    std::sort(list.begin(), list.end(), ChartOrder{tree});
  }
  std::vector<size_t> amount_columns;
  for (size_t c = 0; c < statement.Columns().size(); ++c) {
    if (statement.Columns()[c].type == FieldType::kCurrency) amount_columns.push_back(c);
  }
  const size_t id_column = statement.ColumnIndex("AccountID"), section = statement.ColumnIndex("Section"),
               number = statement.ColumnIndex("AccountNumber"), name = statement.ColumnIndex("Name");
  auto result = NewResult(statement.Columns());
  for (const auto& row : statement.Rows()) {
    if (KindOf(statement, row) != "detail" || row[id_column].IsNull() || !tree.contains(ToLong(row[id_column]))) {
      result->AppendRow(row);
      continue;
    }
    const std::string class_section = TextOf(row[section]);
    const bool credit_side = class_section == "Liabilities" || class_section == "Equity" || class_section == "Income";
    std::set<int32_t> placed;
    // The amounts of `id` alone, or with every account below it; whether any of them has rows.
    std::function<bool(int32_t, bool, std::vector<Currency>&)> add = [&](int32_t id, bool below,
                                                                         std::vector<Currency>& sums) {
      placed.insert(id);
      bool any = false;
      for (size_t c = 0; c < nets_of_column.size(); ++c) {
        const ColumnNets& nets = nets_of_column[c];
        const auto until = nets.until->find(id);
        if (until != nets.until->end()) {
          any = true;
          sums[c] += until->second;
        }
        if (nets.before != nullptr) {
          const auto before = nets.before->find(id);
          if (before != nets.before->end()) sums[c] -= before->second;
        }
      }
      if (below) {
        for (int32_t child : children[id]) {
          if (!placed.contains(child)) any = add(child, true, sums) || any;
        }
      }
      return any;
    };
    std::function<void(int32_t, int)> place = [&](int32_t id, int level) {
      std::vector<Currency> sums(nets_of_column.size());
      const bool any = add(id, level == depth, sums);
      if (level == 1 || any) {
        std::vector<Variant> line = row;
        const ChartAccount& account = tree.at(id);
        line[id_column] = id;
        line[number] = account.number;
        line[name] = std::string(static_cast<size_t>(2 * (level - 1)), ' ') + TextOf(account.name);
        for (size_t c = 0; c < amount_columns.size(); ++c) line[amount_columns[c]] = credit_side ? -sums[c] : sums[c];
        result->AppendRow(std::move(line));
      }
      if (level < depth) {
        for (int32_t child : children[id]) {
          if (!placed.contains(child)) place(child, level + 1);
        }
      }
    };
    place(ToLong(row[id_column]), 1);
  }
  return result;
}

// ---- The command -----------------------------------------------------------------------------

// What `report` needs and what it was given on the command line.
struct ReportOptions {
  std::string name;
  std::string file;
  std::string as_of, from, to, account_number, chart;
  int depth = 0;
  bool monthly = false, quarterly = false, as_json = false, as_csv = false;
};

Variant DateOption(const std::string& text) { return text.empty() ? Variant() : Variant(text); }

// The account numbered `number` (--account): its key and its name. No account or several with
// that number is Invalid argument (AccountNumbers names them).
std::pair<Variant, std::string> AccountByNumber(const std::string& file, const std::string& number) {
  const Variant key = AccountNumbers(file).Key(number, "--account");
  const auto account = CACMgr().GetAccount(file, "", "", key);
  return {key, account ? TextOf(account->Value("Name")) : std::string()};
}

// The company's name from its company record; the file's name when it has none.
std::string CompanyName(const std::string& file) {
  const auto company = CAccountMgr().GetAccountInfo(file);
  if (company) {
    const std::string name = TextOf(company->Value("CompanyName"));
    if (!name.empty()) return name;
  }
  return std::filesystem::path(file).filename().string();
}

std::string Today() {
  const Date now = Date::Now();
  return DayText(now.year(), now.month(), now.day());
}

// The heading of the table view: company, statement, date or period, and a blank line.
void PrintHeading(const ReportOptions& options, const std::string& account_name, std::ostream& out) {
  static const std::map<std::string, std::string> kNames = {{"trial-balance", "Trial balance"},
                                                            {"balance-sheet", "Balance sheet"},
                                                            {"income-statement", "Income statement"},
                                                            {"account-register", "Account register"},
                                                            {"aged-receivables", "Aged receivables"}};
  std::string statement = kNames.at(options.name);
  if (options.name == "account-register") statement += ": " + options.account_number + " " + account_name;
  const bool by_period = options.monthly || options.quarterly;
  if (by_period) {
    const std::string step = options.monthly ? "month" : "quarter";
    statement += options.name == "income-statement" ? " by " + step : " at each " + step + " end";
  }
  std::string when;
  const bool takes_period = options.name == "income-statement" || options.name == "account-register" || by_period;
  if (!takes_period) {
    when = !options.as_of.empty()                   ? "As of " + options.as_of
           : options.name == "aged-receivables"     ? "As of " + Today()
                                                    : "All dates";
  } else if (!options.from.empty() && !options.to.empty()) {
    when = options.from + " to " + options.to;
  } else if (!options.from.empty()) {
    when = "From " + options.from;
  } else if (!options.to.empty()) {
    when = "Up to " + options.to;
  } else {
    when = "All dates";
  }
  out << CompanyName(options.file) << "\n" << statement << "\n" << when << "\n\n";
}

int RunReport(const ReportOptions& options, std::ostream& out) {
  const bool needs_account = options.name == "account-register";
  const bool by_period = options.monthly || options.quarterly;
  const bool statement = options.name == "trial-balance" || options.name == "balance-sheet" ||
                         options.name == "income-statement";
  const bool period = options.name == "income-statement" || needs_account || by_period;
  if (!options.account_number.empty() && !needs_account) {
    throw Error::Runtime(kInvalidArgument, "--account is for the account-register report only.");
  }
  if (needs_account && options.account_number.empty()) {
    throw Error::Runtime(kInvalidArgument, "The account-register report needs --account NUMBER.");
  }
  if (by_period && !statement) {
    throw Error::Runtime(kInvalidArgument, std::string(options.monthly ? "--monthly" : "--quarterly") +
                                               " is for the trial-balance, balance-sheet and income-statement reports.");
  }
  if (options.depth != 0 && !statement) {
    throw Error::Runtime(kInvalidArgument, "--depth is for the trial-balance, balance-sheet and income-statement reports.");
  }
  if (period && !options.as_of.empty()) {
    throw Error::Runtime(kInvalidArgument, "The " + options.name + " report" + (by_period ? " by period" : "") +
                                               " takes --from and --to, not --as-of.");
  }
  if (!period && (!options.from.empty() || !options.to.empty())) {
    throw Error::Runtime(kInvalidArgument, "The " + options.name +
                                               " report takes --as-of, not --from and --to (unless --monthly or --quarterly).");
  }
  if (by_period && options.name != "income-statement" && (options.from.empty() || options.to.empty())) {
    throw Error::Runtime(kInvalidArgument, "The " + options.name + " report by period needs --from and --to.");
  }
  if (!options.chart.empty() &&
      (!by_period || (options.name != "income-statement" && options.name != "balance-sheet"))) {
    throw Error::Runtime(kInvalidArgument,
                         "--chart needs the income-statement or balance-sheet report with --monthly or --quarterly.");
  }

  CReportMgr reports;
  std::shared_ptr<Recordset> result;
  std::vector<std::string> periods;  // the period columns, for the chart
  std::string account_name;
  std::optional<std::map<int32_t, ChartAccount>> tree;
  auto rolled = [&](std::shared_ptr<Recordset> trial) {
    if (options.depth == 0) return trial;
    if (!tree) tree = ReadChart(options.file);
    return RolledTrialBalance(*trial, *tree, options.depth);
  };
  // The balance sheet as of `as_of` down to --depth (the library's stops at level 1).
  std::map<std::string, Nets> nets_as_of;  // by day ("" every row), each read once
  auto nets = [&](const std::string& day) -> const Nets& {
    auto found = nets_as_of.find(day);
    if (found == nets_as_of.end()) found = nets_as_of.emplace(day, NetsAsOf(options.file, DateOption(day))).first;
    return found->second;
  };
  auto deep_sheet = [&](std::shared_ptr<Recordset> sheet, const std::string& as_of) {
    if (options.depth <= 1) return sheet;
    if (!tree) tree = ReadChart(options.file);
    return Deepened(*sheet, *tree, options.depth, {ColumnNets{&nets(as_of), nullptr}});
  };
  if ((options.name == "trial-balance" || options.name == "balance-sheet") && by_period) {
    const std::vector<PeriodEnd> ends = PeriodEnds(options.from, options.to, options.monthly ? 1 : 3);
    std::vector<std::shared_ptr<Recordset>> each;
    for (const PeriodEnd& end : ends) {
      if (options.name == "trial-balance") {
        each.push_back(rolled(reports.TrialBalance(options.file, "", "", end.as_of)));
      } else {
        each.push_back(deep_sheet(reports.BalanceSheet(options.file, "", "", end.as_of), end.as_of));
      }
      periods.push_back(end.name);
    }
    result = options.name == "trial-balance"
                 ? MergedByPeriod(each, ends, {{"DebitBalance", "Debit"}, {"CreditBalance", "Credit"}},
                                  {"Debits", "Credits"}, Variant::Null())
                 : MergedByPeriod(each, ends, {{"Amount", "Amount"}}, {}, Variant(Currency()));
  } else if (options.name == "trial-balance") {
    result = rolled(reports.TrialBalance(options.file, "", "", DateOption(options.as_of)));
  } else if (options.name == "balance-sheet") {
    result = deep_sheet(reports.BalanceSheet(options.file, "", "", DateOption(options.as_of)), options.as_of);
  } else if (options.name == "income-statement") {
    result = reports.IncomeStatement(options.file, "", "", DateOption(options.from), DateOption(options.to), by_period);
    if (options.quarterly) result = ByQuarter(*result);
    if (options.depth > 1) {
      // Each amount column counts the nets up to its last day less those up to the day before
      // its first (the period's bounds where the month or quarter passes them).
      if (!tree) tree = ReadChart(options.file);
      auto day_before = [](const std::string& day) {
        const Date date = Date::FromSeconds(DayArgument(day, "--from").seconds() - 86400);
        return DayText(date.year(), date.month(), date.day());
      };
      std::vector<std::pair<std::string, std::string>> bounds;  // first and last day; "" unbounded
      for (const FieldInfo& column : result->Columns()) {
        if (column.type != FieldType::kCurrency) continue;
        if (column.name == "Amount") {
          bounds.emplace_back(options.from, options.to);
          continue;
        }
        const int year = std::stoi(column.name.substr(0, 4));
        const bool quarter = column.name[5] == 'Q';
        const int first = quarter ? (column.name[6] - '1') * 3 + 1 : std::stoi(column.name.substr(5, 2));
        const int last = quarter ? first + 2 : first;
        std::string start = DayText(year, first, 1), end = DayText(year, last, DaysInMonth(year, last));
        bounds.emplace_back(std::max(start, options.from), std::min(end, options.to));
      }
      for (const auto& [first, last] : bounds) {
        nets(last);
        if (!first.empty()) nets(day_before(first));
      }
      std::vector<ColumnNets> columns;
      for (const auto& [first, last] : bounds) {
        columns.push_back({&nets(last), first.empty() ? nullptr : &nets(day_before(first))});
      }
      result = Deepened(*result, *tree, options.depth, columns);
    }
    for (const FieldInfo& column : result->Columns()) {
      if (column.type == FieldType::kCurrency && column.name != "Amount") periods.push_back(column.name);
    }
  } else if (options.name == "account-register") {
    const auto [key, name] = AccountByNumber(options.file, options.account_number);
    account_name = name;
    result = reports.AccountRegister(options.file, "", "", key, DateOption(options.from), DateOption(options.to));
  } else {
    result = reports.AgedReceivables(options.file, "", "", DateOption(options.as_of));
  }

  if (!options.chart.empty()) {
    const std::string step = options.monthly ? "month" : "quarter";
    const std::string period_text = options.from.empty() ? "" : ", " + options.from + " to " + options.to;
    if (options.name == "income-statement") {
      WriteChartFile(options.chart, StatementChartSvg(*result, periods, {{"Income", "Income"}, {"Expenses", "Expenses"}},
                                                  CompanyName(options.file) + ": income and expenses by " + step + period_text,
                                                  options.monthly ? "data-month" : "data-quarter"));
    } else {
      WriteChartFile(options.chart,
                 StatementChartSvg(*result, periods,
                                   {{"Assets", "Assets"}, {"Liabilities", "Liabilities"}, {"Equity", "Equity"}},
                                   CompanyName(options.file) + ": assets, liabilities and equity at each " + step +
                                       " end" + period_text,
                                   options.monthly ? "data-month" : "data-quarter"));
    }
  }
  if (options.as_json) {
    PrintJson(*result, out);
  } else if (options.as_csv) {
    PrintCsv(*result, out);
  } else {
    PrintHeading(options, account_name, out);
    PrintReportTable(options.name, *result, out);
  }
  return 0;
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
      std::string text;
      if (value.type() == VarType::kCurrency) {
        // Its own decimals; blanks in place of the two it lacks, so the decimal points line up.
        const int own = ValueDecimals(value.AsCurrency());
        text = ShownAmount(value.AsCurrency()) + std::string(static_cast<size_t>(std::max(decimals[i] - own, 0)), ' ');
      } else {
        text = CellText(value);
      }
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
  const bool trial_by_period = report == "trial-balance" && !HasColumn(result, "Debits");
  if (trial_by_period) {
    // By period: the balances of each period end.
    shown = {{"AccountNumber", "Account"}, {"Name", "Name"}, {"Class", "Class"}};
  }
  if (report == "income-statement" || report == "balance-sheet" || trial_by_period) {
    // The period columns, if any, then the whole period's (or date's) amount.
    for (const FieldInfo& column : result.Columns()) {
      if (column.type == FieldType::kCurrency) shown.push_back({column.name, column.name});
    }
  }
  if (report == "account-register" && HasColumn(result, "Reconciled")) {
    const auto marked = WithReconciledMark(result);
    const auto cheque = std::find_if(shown.begin(), shown.end(), [](const ShownColumn& c) { return c.column == "ChequeNo"; });
    shown.insert(cheque + 1, {"Rec", "Rec"});
    PrintStatement(*marked, out, shown);
    return;
  }
  if (report == "balance-sheet" || report == "income-statement") {
    PrintStatement(*WithoutRepeatedSubtotals(result), out, shown, {"Section", "AccountType"});
    return;
  }
  PrintStatement(result, out, shown, {"Section", "AccountType"});
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
  auto* monthly = command->add_flag("--monthly", options->monthly,
                                    "One column per month (income-statement: each month; trial-balance, balance-sheet: "
                                    "each month end; needs --from and --to)");
  command->add_flag("--quarterly", options->quarterly, "One column per calendar quarter, as --monthly does per month")
      ->excludes(monthly);
  command->add_option("--depth", options->depth,
                      "Roll accounts below level N of the chart into their parent (1: top-level accounts)")
      ->check(CLI::PositiveNumber);
  auto* json = command->add_flag("--json", options->as_json, "Print the rows as a JSON array of objects");
  command->add_flag("--csv", options->as_csv, "Print the rows as CSV")->excludes(json);
  command->add_option("--chart", options->chart,
                      "Also write a bar chart by period (SVG): income-statement or balance-sheet with --monthly or --quarterly");
  return Subcommand{command, [options](std::ostream& out) { return RunReport(*options, out); }};
}

}  // namespace ledgerkit::cli
