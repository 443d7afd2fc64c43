// The chart of accounts as the journal names it.
#include <set>
#include <vector>

#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "common/UnitOfWork.h"
#include "reports/Journal.h"
#include "reports/JournalInternal.h"

namespace ledgerkit {

namespace journal {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string TextColumn(const EngineStatement& statement, int index) {
  if (statement.ColumnIsNull(index)) return {};
  return std::string(statement.ColumnText(index));
}

std::optional<int32_t> KeyColumn(const EngineStatement& statement, int index) {
  const std::optional<int64_t> value = statement.ColumnInteger(index);
  if (!value || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(*value);
}

Currency MoneyColumn(const EngineStatement& statement, int index, std::string_view what) {
  if (statement.ColumnIsNull(index)) return Currency();
  if (const std::optional<int64_t> value = statement.ColumnInteger(index)) return Currency::FromScaled(*value);
  throw Error::Runtime(kTypeMismatch, "A register row's " + std::string(what) + " holds \"" +
                                          std::string(statement.ColumnText(index)) + "\", which is not an exact amount.");
}

std::string Chart::TypePrefix(const ChartAccount& account) const {
  const auto type = account.type ? types.find(*account.type) : types.end();
  if (type == types.end()) return std::string(kUnclassified) + ":_";
  const auto sheet = type->second.balance_sheet_type;
  const std::string_view top =
      sheet && *sheet >= 0 && *sheet < static_cast<int32_t>(kClassNames.size()) ? kClassNames[*sheet] : kUnclassified;
  return std::string(top) + ":" + type->second.name;
}

std::string Chart::Path(int32_t id) const {
  const auto found = accounts.find(id);
  if (found == accounts.end()) return std::string(kUnclassified) + ":_:account " + std::to_string(id);
  std::vector<const ChartAccount*> chain{&found->second};
  std::set<int32_t> seen{id};
  for (auto parent = found->second.parent; parent && seen.insert(*parent).second;) {
    const auto up = accounts.find(*parent);
    if (up == accounts.end()) break;
    chain.push_back(&up->second);
    parent = up->second.parent;
  }
  std::string path = TypePrefix(found->second);
  for (auto link = chain.rbegin(); link != chain.rend(); ++link) path += ":" + (*link)->label;
  return path;
}

Chart ReadChart(EngineConnection& connection) {
  Chart chart;
  auto types = connection.Prepare(Sql("SELECT ACAccountTypeID, Name, BalanceSheetType FROM ACAccountType;"));
  while (types->Step()) {
    const auto id = KeyColumn(*types, 0);
    if (id) chart.types[*id] = ChartType{JournalNamePart(TextColumn(*types, 1)), KeyColumn(*types, 2)};
  }
  auto accounts = connection.Prepare(
      Sql("SELECT ACAccountID, AccountNumber, Name, AccountTypeID, ParentAccountID FROM ACAccount;"));
  while (accounts->Step()) {
    const auto id = KeyColumn(*accounts, 0);
    if (!id) continue;
    chart.accounts[*id] = ChartAccount{JournalNamePart(TextColumn(*accounts, 1) + " " + TextColumn(*accounts, 2)),
                                       KeyColumn(*accounts, 3), KeyColumn(*accounts, 4)};
  }
  return chart;
}

std::map<int32_t, std::string> Chart::Names() const {
  std::map<int32_t, std::string> names;
  for (const auto& [id, entry] : accounts) names.emplace(id, Path(id));
  return names;
}

EngineConnection& ActiveConnection(const Variant& account) { return UnitOfWork::Active(account)->connection(); }

Variant ImportUser(EngineConnection& connection, std::string_view needed_to) {
  auto statement = connection.Prepare(Sql("SELECT UserName FROM IUser ORDER BY MainUser DESC, IUserID;"));
  if (statement->Step() && !statement->ColumnIsNull(0)) return Variant(TextColumn(*statement, 0));
  throw Error::Runtime(kObjectIsNothing, "The company has no user to " + std::string(needed_to) + ".");
}

}  // namespace journal

std::string JournalNamePart(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (journal::IsControl(c)) c = ' ';
    if (c == ';') c = ',';
    if (c == ':') c = '-';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out.empty() ? "_" : out;
}

std::map<int32_t, std::string> JournalAccountNames(const Variant& account) {
  return WithMarkedReraise([&] {
    return UnitOfWork::Run(account, Access::kRead,
                           [&] { return journal::ReadChart(journal::ActiveConnection(account)).Names(); });
  });
}

}  // namespace ledgerkit
