// A bank statement in CSV, read through a rules file that says what each column means.
//
// The rules format follows the plain-text ledgers' CSV rules so that people who know them feel
// at home; README.md ("Bank statements") describes every rule.
//
// Library-internal to the command-line tool and the tests.
#pragma once

#include <string>

#include "reports/BankStatement.h"

namespace ledgerkit {

// Reads the statement in the CSV file `csv_path` with the rules in `rules_path`. Invalid
// argument (5) naming the file, the line and the value for anything that cannot be read: a rule,
// a row, a date, an amount. Every line of the result has an empty id (the import makes one).
Statement ReadCsvStatement(const std::string& csv_path, const std::string& rules_path);

}  // namespace ledgerkit
