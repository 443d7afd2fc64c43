// Everyday bookkeeping on the command line, through the library's public operations:
// the chart of accounts as a tree, one journal entry, a starter chart for a new company.
#pragma once

#include <string>

#include "Subcommand.h"
#include "common/Variant.h"

namespace ledgerkit::cli {

// `ledgerkit accounts FILE [--json|--csv]`: every account under its parent, with its own
// balance and the balance with its sub-accounts, each signed the way its class grows.
Subcommand AddAccountsCommand(CLI::App& app);

// `ledgerkit post FILE --date D --description TEXT --debit NUMBER=AMOUNT ... --credit
// NUMBER=AMOUNT ... [--allow-unbalanced] [--user NAME]`: one general-journal transaction.
// Every account number and amount is checked before anything is written; an entry whose
// debits and credits differ is refused unless allowed; a failure once the transaction is begun
// aborts it, so nothing of it stays.
Subcommand AddPostCommand(CLI::App& app);

// Adds the starter chart to the company file `file`: account types of the five classes and the
// accounts a small business starts with (bank, receivables, payables, sales taxes, equity,
// sales, common expenses). `user` is recorded as the caller.
void AddStandardChart(const Variant& file, const Variant& user);

}  // namespace ledgerkit::cli
