// Library-internal pieces the journal export and import share: the chart as the journal names
// it, and typed reads of result columns. See reports/Journal.h for the naming rules.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "ledgerkit/common/Currency.h"
#include "common/Engine.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit::journal {

// The top-level account of each balance-sheet class, by eBalanceSheetType value.
inline constexpr std::array<std::string_view, 5> kClassNames = {"Assets", "Liabilities", "Equity", "Income",
                                                                "Expenses"};
// The top level of an account whose type is missing or holds no balance-sheet class.
inline constexpr std::string_view kUnclassified = "Unclassified";

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }
std::string_view Trim(std::string_view text);

// A text column's value; Null reads as empty.
std::string TextColumn(const EngineStatement& statement, int index);
// A key column's value; nothing when it is Null or not a 32-bit whole number.
std::optional<int32_t> KeyColumn(const EngineStatement& statement, int index);
// A money column's value (Null is 0); Type mismatch (13) naming `what` when it is not an exact
// count of ten-thousandths.
Currency MoneyColumn(const EngineStatement& statement, int index, std::string_view what);

struct ChartType {
  std::string name;  // as the journal writes it
  std::optional<int32_t> balance_sheet_type;
};

struct ChartAccount {
  std::string label;  // "NUMBER Name" as the journal writes it
  std::optional<int32_t> type;
  std::optional<int32_t> parent;
};

// Every account type and account of a company, by key, with the parts of their journal names.
struct Chart {
  std::map<int32_t, ChartType> types;
  std::map<int32_t, ChartAccount> accounts;

  // The class and type part of an account's name.
  std::string TypePrefix(const ChartAccount& account) const;
  // The account's journal name: class, type, parents, itself. A parent chain that comes back
  // round to an account already on it stops there; an unknown key is named
  // "Unclassified:_:account <key>".
  std::string Path(int32_t id) const;
  // Every account's journal name, by key.
  std::map<int32_t, std::string> Names() const;
};

Chart ReadChart(EngineConnection& connection);

// The connection of the unit of work active on `account` (there must be one).
EngineConnection& ActiveConnection(const Variant& account);
// The user an import acts as when none is named: the main user, else the first user. Object is
// nothing (91) when the company has none, the message saying what the user is needed to do.
Variant ImportUser(EngineConnection& connection, std::string_view needed_to);

}  // namespace ledgerkit::journal
