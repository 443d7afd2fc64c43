// The company file's schema: the thirteen tables as one catalog (from which the DDL is
// generated), and CreateSubscriberDatabase, which writes a new company file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/Variant.h"

namespace ledgerkit {

// Marks a file as a ledgerkit company database (PRAGMA application_id), and its schema version
// (PRAGMA user_version). Version 2: text sorted and matched without regard to letter case, money
// columns that hold exact counts only, overflow-checked register totals and balances, and the
// rule that an account still referred to is not deleted. CheckSchemaOnOpen brings a file of
// version 1 to version 2 on the first connection with write access (one transaction: every
// table rebuilt from the catalog, keys and AUTOINCREMENT counters kept, user name keys filled),
// refuses it clearly when the file may only be read, and refuses a newer version.
inline constexpr int32_t kApplicationId = 0x4C4B4442;  // "LKDB"
inline constexpr int32_t kSchemaVersion = 2;

// The complete DDL: every CREATE TABLE and CREATE INDEX, in order, then the library's own
// derived table lk_RegisterTotal (per-account register totals), the triggers that keep it and
// the file's own rules (no sum beyond the currency range, no delete of an account still
// referred to by register rows or waiting lines).
std::string SchemaSql();

// The first user of a new company file: main user, admin, allowed to log on.
struct FirstUser {
  std::string user_name;
  std::string password;  // clear text, at most 30 characters; stored as a hash
};

// Writes a new company file at `path`: the schema in WAL mode, one subscriber row named
// `company_name` with all four counters at 1, its primary location named after it and,
// when given, the first user. Refuses (Invalid argument, 5) a path where a file already
// exists; on any failure the new file is removed again, so nothing half-made is left behind.
void CreateSubscriberDatabase(const std::string& path, const Variant& company_name,
                              const std::optional<FirstUser>& first_user = std::nullopt);

}  // namespace ledgerkit
