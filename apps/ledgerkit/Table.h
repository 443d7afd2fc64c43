// Rendering a result set for the terminal: an aligned table, CSV or JSON. Money and dates are
// shown in their text forms; Null is an empty cell (null in JSON).
#pragma once

#include <ostream>

#include "common/Recordset.h"

namespace ledgerkit::cli {

void PrintTable(const Recordset& result, std::ostream& out);
void PrintCsv(const Recordset& result, std::ostream& out);
void PrintJson(const Recordset& result, std::ostream& out);

}  // namespace ledgerkit::cli
