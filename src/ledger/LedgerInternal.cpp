#include "ledger/LedgerInternal.h"

#include "ledgerkit/common/Convert.h"
#include "services/Arguments.h"

namespace ledgerkit::ledger {

Variant NullableKey(const Variant& value, std::string_view argument) {
  return services::OrNull(services::KeyArgument(value, argument));
}

std::string Shown(const Variant& value) { return value.IsNull() ? std::string("Null") : ToText(value); }

std::string NoRowWithKey(const std::string& what, int32_t key) {
  return "No " + what + " has the key " + std::to_string(key) + ".";
}

void UpdateRows(const Variant& account, const RowWrite& row) {
  RunOperation(account, Access::kWrite, [&] { row.Update(account); });
}

void DeleteRows(const Variant& account, const RowWrite& row) {
  RunOperation(account, Access::kWrite, [&] { row.Delete(account); });
}

}  // namespace ledgerkit::ledger
