// Bank reconciliation on the command line: `ledgerkit reconcile FILE --account NUMBER --list`
// shows the register rows still to clear; with --statement-date, --statement-balance and
// --clear it marks the rows the statement shows and posts its service charge and interest.
#pragma once

#include "Subcommand.h"

namespace ledgerkit::cli {

// `ledgerkit reconcile FILE --account NUMBER --list [--statement-balance X] [--json]` and
// `ledgerkit reconcile FILE --account NUMBER --statement-date D --statement-balance X
// --clear all|KEY,KEY... [--service-charge X --charge-account NUMBER] [--interest X
// --interest-account NUMBER] [--force]`. Amounts and balances are signed as the account's
// register runs (debit-positive for assets and expenses, credit-positive otherwise). A
// reconciliation whose cleared balance would differ from the statement's is refused, naming
// the difference, unless --force; the check and the marking are one unit of work.
Subcommand AddReconcileCommand(CLI::App& app);

}  // namespace ledgerkit::cli
