// Services on the chart of accounts, for the operations of every manager: typed functions that
// run inside the caller's active writing unit of work on `account` (never a unit of their own),
// so that a public operation (CACMgr's) converts its arguments once, at the door, and an import
// adds types and accounts without going through a public operation.
//
// Library-internal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ledgerkit/common/Variant.h"

namespace ledgerkit::services {

// An account type's stored values; nullopt is stored as Null.
struct AccountTypeValues {
  std::optional<std::string> name, description;
  std::optional<bool> institution_required;
  std::optional<int32_t> balance_sheet_type;
};

// Adds an account type owned by `company` (the company record's key, CompanyKey) and returns
// its key.
int32_t AddAccountType(const Variant& account, int32_t company, const AccountTypeValues& type);

// An account's stored values, its links already keys (nullopt: none).
struct AccountValues {
  std::optional<std::string> number, name, description, note;
  std::optional<bool> inactive;
  std::optional<std::string> bank_account_no;
  std::optional<int32_t> parent_account, account_type, institution;
};

// The company that owns the accounts the user `user_name` adds: Object is nothing (91) when no
// user has the name or the user's company does not exist.
int32_t AccountOwner(const Variant& account, const Variant& user_name);

// Adds an account owned by `company` and returns its key.
int32_t AddAccount(const Variant& account, int32_t company, const AccountValues& values);

}  // namespace ledgerkit::services
