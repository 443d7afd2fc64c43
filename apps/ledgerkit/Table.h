// Rendering a result set for the terminal: an aligned table, CSV or JSON. Money and dates are
// shown in their text forms; Null is an empty cell (null in JSON).
#pragma once

#include <ostream>
#include <string>

#include <vector>

#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/Recordset.h"
#include "reports/LedgerCheck.h"

namespace ledgerkit::cli {

// A value as a cell shows it: its text form with ill-formed UTF-8 replaced; empty for Null.
std::string CellText(const Variant& value);

// An amount as the commands print it in sentences: exact, with at least two decimals
// ("200.00", "0.9999", "-4.50").
std::string MoneyText(Currency amount);

void PrintTable(const Recordset& result, std::ostream& out);
void PrintCsv(const Recordset& result, std::ostream& out);
void PrintJson(const Recordset& result, std::ostream& out);

// Prints check findings, one line each (or a JSON array), and returns the exit code:
// 0 none, 2 warnings only, 3 problems.
int PrintCheck(const std::vector<CheckFinding>& findings, bool as_json, std::ostream& out);

// A failure's message as the tool prints it: the message for a person (MessageForPerson), its
// control characters escaped, on one line, with the error's number and source.
std::string ErrorLine(const Error& error);

}  // namespace ledgerkit::cli
