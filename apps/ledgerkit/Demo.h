// The main job: a sample company recorded through the public operations, then its trial
// balance and bank register.
#pragma once

#include <iosfwd>
#include <string>

namespace ledgerkit::cli {

// Writes a new sample company file at `path` (refusing an existing file) and prints the trial
// balance and the bank register to `out`. Returns 0 when the trial balance balances.
int RunDemo(const std::string& path, std::ostream& out);

}  // namespace ledgerkit::cli
