// MONEY(x): the SQL function that turns a count of ten-thousandths, as money columns hold it
// inside SQL, into the exact decimal amount, for report queries.
//
// MONEY(282274521) is the text '28227.4521'; the text is Currency's plain form (no grouping, no
// trailing zeros: '-12.5', '0.0001', '2500'), exact over the whole currency range, and a result
// column of it reads back as text that converts to Currency exactly. NULL stays NULL. A REAL
// (an average, say) is rounded half to even to whole ten-thousandths first; a text must be a
// whole number. Anything else, and a REAL beyond the currency range, is an SQL error.
#pragma once

struct sqlite3;

namespace ledgerkit {

// Registers MONEY on a connection; returns the engine's result code.
int RegisterMoneyFunction(sqlite3* db);

}  // namespace ledgerkit
