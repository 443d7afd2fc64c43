#include "entities/RegisterTotals.h"

#include "common/Command.h"
#include "common/Engine.h"
#include "entities/Catalog.h"

namespace ledgerkit {

namespace {

const KeptTotalsDef& Kept() { return RegisterTotalsDef(); }
std::string Table() { return std::string(Kept().table); }
std::string Key() { return std::string(Kept().key); }
// The sum of debits (the first) and of credits (the second).
const KeptSumDef& Debits() { return Kept().sums[0]; }
const KeptSumDef& Credits() { return Kept().sums[1]; }

std::string AmountsSql(std::string_view alias) {
  const std::string prefix = alias.empty() ? std::string() : std::string(alias) + ".";
  return "CAST(" + prefix + std::string(Debits().total) + " AS TEXT), CAST(" + prefix + std::string(Credits().total) +
         " AS TEXT)";
}

}  // namespace

std::string RegisterTotalsJoinSql(std::string_view alias, std::string_view account_column) {
  const std::string a(alias);
  return " LEFT JOIN " + Table() + " " + a + " ON " + a + "." + Key() + "=" + std::string(account_column);
}

std::string RegisterTotalsAmountsSql(std::string_view alias) { return AmountsSql(alias); }

Sql RegisterTotalsBalanceSql() {
  return Sql("SELECT ", AmountsSql({}), " FROM ", Table(), " WHERE ", Key(), "=", kValue, " AND ", Debits().count,
             ">0 AND ", Credits().count, ">0;");
}

std::string RegisterTotalsAccountsSql() { return "SELECT " + Key() + " FROM " + Table(); }

std::optional<KeptRegisterTotals> ReadRegisterTotals(const Variant& account, const Variant& account_id) {
  Command command(account);
  command.SetText(Sql("SELECT " + AmountsSql({}) + ", CAST(" + std::string(Debits().count) + " AS TEXT), CAST(" +
                          std::string(Credits().count) + " AS TEXT) FROM " + Table() + " WHERE " + Key() + "=",
                      kValue, ";"));
  command.Bind(db::ACTransaction::Parent, account_id, "AccountID");
  const auto row = command.ExecuteQuery();
  if (row->AtEOF()) return std::nullopt;
  return KeptRegisterTotals{row->Field(0), row->Field(1), row->Field(2), row->Field(3)};
}

RegisterTotalsByAccount AllRegisterTotals(EngineConnection& connection) {
  RegisterTotalsByAccount totals;
  const auto statement = connection.Prepare(Sql("SELECT " + Key() + ", " + std::string(Debits().total) + ", " +
                                                std::string(Credits().total) + ", " + std::string(Debits().count) +
                                                ", " + std::string(Credits().count) + " FROM " + Table()));
  // Every column is an exact integer that is never Null (a file's one written past that reads as 0,
  // which differs from what the rows sum to, as the check reports).
  const auto whole = [&statement](int index) { return statement->ColumnInteger(index).value_or(0); };
  while (statement->Step()) {
    const std::array<int64_t, 4> values{whole(1), whole(2), whole(3), whole(4)};
    if (values != std::array<int64_t, 4>{}) totals[whole(0)] = values;
  }
  return totals;
}

std::string RebuildRegisterTotalsSql() {
  const KeptTotalsDef& kept = Kept();
  std::string columns = Key(), sums = std::string(kept.source_key);
  for (const KeptSumDef& sum : kept.sums) {
    columns += ", " + std::string(sum.total);
    sums += ", COALESCE(SUM(" + std::string(sum.amount) + "), 0)";
  }
  for (const KeptSumDef& sum : kept.sums) {
    columns += ", " + std::string(sum.count);
    sums += ", COUNT(" + std::string(sum.amount) + ")";
  }
  return "DELETE FROM " + Table() + "; INSERT INTO " + Table() + " (" + columns + ") SELECT " + sums + " FROM " +
         std::string(kept.source) + " WHERE " + std::string(kept.source_key) + " IS NOT NULL GROUP BY " +
         std::string(kept.source_key) + ";";
}

}  // namespace ledgerkit
