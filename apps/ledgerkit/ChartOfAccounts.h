// The chart of accounts as the commands read it: every account with its parent and its type's
// name and balance-sheet class, in one read of the types and one of the accounts.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "ledgerkit/common/Variant.h"

namespace ledgerkit::cli {

struct ChartAccount {
  Variant id, number, name;
  std::optional<int32_t> parent;  // the parent account's key, when it has one
  Variant type_name;              // Null when the account has no type
  int32_t sheet_type = -1;        // the type's balance-sheet class (bstASSET...), -1 when none
  Variant class_name;             // "Asset", "Liability", "Equity", "Income", "Expense"; Null when none
};

// Every account of `file`, by key.
std::map<int32_t, ChartAccount> ReadChart(const Variant& file);

}  // namespace ledgerkit::cli
