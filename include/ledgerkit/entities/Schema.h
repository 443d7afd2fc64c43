// The company file's schema: the fourteen tables as one catalog (common/Catalog.h, from which
// each engine writes its own DDL), and CreateSubscriberDatabase, which writes a new company file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

// Marks a file as a ledgerkit company database (the catalog's mark; SQLite: PRAGMA
// application_id), and its schema version (SQLite: PRAGMA user_version). Version 2: text sorted
// and matched without regard to letter case, money columns that hold exact counts only,
// overflow-checked register totals and balances, and the rule that an account still referred
// to is not deleted. Version 3: the statement lines imported on each bank account
// (ACStatementLine). Version 4: the index of whole invoice numbers. The check on open
// (EngineConnection::CheckSchema) brings a company of an earlier version to the current one on
// the first connection with write access, applying the catalog's steps (common/Catalog.h) in one
// transaction (keys and AUTOINCREMENT counters kept), refuses it clearly when the file may only
// be read, and refuses a newer version. Companies on a server began at version 2.
inline constexpr int32_t kApplicationId = 0x4C4B4442;  // "LKDB"
inline constexpr int32_t kSchemaVersion = 4;


// The first user of a new company file: main user, admin, allowed to log on.
struct FirstUser {
  std::string user_name;
  std::string password;  // clear text, at most 30 characters; stored as a hash
};

// Writes a new company file at `path` (CreateEngineDatabase): the schema, one subscriber row named
// `company_name` with all four counters at 1, its primary location named after it and,
// when given, the first user, all in one transaction. Refuses (Invalid argument, 5) a path where
// a file already exists (a company that exists, on a server); on any failure, or a process
// killed meanwhile, nothing half-made is left behind.
void CreateSubscriberDatabase(const std::string& path, const Variant& company_name,
                              const std::optional<FirstUser>& first_user = std::nullopt);

}  // namespace ledgerkit
