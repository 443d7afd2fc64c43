#include "ChartOfAccounts.h"

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/entities/ACAccount.h"
#include "ledgerkit/entities/ACAccountType.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"

namespace ledgerkit::cli {

namespace {

Variant ClassName(int32_t sheet_type) {
  switch (sheet_type) {
    case bstASSET: return "Asset";
    case bstLIABILITY: return "Liability";
    case bstEQUITY: return "Equity";
    case bstINCOME: return "Income";
    case bstEXPENSE: return "Expense";
    default: return Variant();
  }
}

}  // namespace

std::map<int32_t, ChartAccount> ReadChart(const Variant& file) {
  CACMgr ledger;
  std::map<int32_t, std::pair<Variant, int32_t>> types;  // key -> name, balance-sheet class
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
      row.sheet_type = type->second.second;
      row.class_name = ClassName(row.sheet_type);
    }
    chart[ToLong(row.id)] = std::move(row);
  }
  return chart;
}

}  // namespace ledgerkit::cli
