// The main job: a sample company recorded through the public operations, then its financial
// statements, printed by the same code as `ledgerkit report`.
#pragma once

#include <iosfwd>
#include <string>

namespace ledgerkit::cli {

// Writes a new sample company file at `path` (refusing an existing file) and prints the logon
// it created, the trial balance, balance sheet, income statement, bank register and aged
// receivables to `out`. Returns 0 when the trial balance and the balance sheet balance.
int RunDemo(const std::string& path, std::ostream& out);

}  // namespace ledgerkit::cli
