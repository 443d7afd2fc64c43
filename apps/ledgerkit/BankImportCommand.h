// Bank statements on the command line: `ledgerkit bank-import FILE STATEMENT --account NUMBER`
// records the lines of an OFX/QFX statement, or of a CSV statement read with a rules file, as
// deposits and cheques on the bank account.
#pragma once

#include "Subcommand.h"

namespace ledgerkit::cli {

// `ledgerkit bank-import FILE STATEMENT --account NUMBER [--rules RULES] [--unmatched NUMBER]
// [--bank-account ID] [--user NAME] [--dry-run] [--json]`. A statement is CSV when --rules is
// given or when its name ends in .csv, .tsv or .ssv (the rules then default to STATEMENT.rules
// beside it); anything else is read as OFX. Lines no rule gives an account go to --unmatched,
// else to the chart's "Uncategorised" account (made when missing). Lines imported before are
// skipped; one bad line and nothing is recorded. The statement's ledger balance, when it gives
// one, is printed beside the account's balance after the import, both signed as `reconcile`
// reads them.
Subcommand AddBankImportCommand(CLI::App& app);

}  // namespace ledgerkit::cli
