// The kept register totals (the catalog's RegisterTotalsDef, lk_RegisterTotal): the one way code
// outside the engines names and reads them. The engines keep them on every change of the
// register; nothing here writes them but the rebuild a bulk load runs with their triggers held.
//
// Library-internal.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "common/Sql.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

class EngineConnection;

// One account's totals as the engine holds them, each as the engine's text (CAST(... AS TEXT),
// so a value held inexactly, or out of any range, shows as such): debits, credits and the
// counts of debit and credit rows.
struct KeptRegisterTotals {
  Variant debits, credits, debit_rows, credit_rows;
};

// For a statement that reads accounts with their totals: the join that brings the totals row of
// the account `account_column` names under `alias` (Null columns for an account with none),
// " LEFT JOIN lk_RegisterTotal t ON t.AccountID=a.ACAccountID", and the columns that read its
// debits and credits as text, "CAST(t.Debits AS TEXT), CAST(t.Credits AS TEXT)".
std::string RegisterTotalsJoinSql(std::string_view alias, std::string_view account_column);
std::string RegisterTotalsAmountsSql(std::string_view alias);

// A statement with one marker, the account, giving its debits and credits as text in one row,
// or no row when either has no amount (a Null balance).
Sql RegisterTotalsBalanceSql();

// The accounts that have a totals row, as a statement for a UNION ("SELECT AccountID FROM ...").
std::string RegisterTotalsAccountsSql();

// The totals of `account_id` read in the caller's unit of work on `account`; nullopt when the
// account has no totals row. Fails with the engine's Error.
std::optional<KeptRegisterTotals> ReadRegisterTotals(const Variant& account, const Variant& account_id);

// Every totals row of the company `connection` is on, read below the data access: account ->
// debits, credits, debit rows, credit rows. Rows that are all zero are left out, so a total
// kept at zero and one never made compare equal.
using RegisterTotalsByAccount = std::map<int64_t, std::array<int64_t, 4>>;
RegisterTotalsByAccount AllRegisterTotals(EngineConnection& connection);

// Statements that make every totals row anew from the register, for a bulk load that held the
// triggers keeping them.
std::string RebuildRegisterTotalsSql();

}  // namespace ledgerkit
