// Everyday bookkeeping on the command line, through the library's public operations:
// the chart of accounts as a tree, one journal entry, a starter chart for a new company.
#pragma once

#include <string>

#include "Subcommand.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit::cli {

// `ledgerkit accounts FILE [--json|--csv]`: every account under its parent, with its own
// balance and the balance with its sub-accounts, each signed the way its class grows.
Subcommand AddAccountsCommand(CLI::App& app);

// `ledgerkit post FILE --date D --description TEXT --debit NUMBER=AMOUNT ... --credit
// NUMBER=AMOUNT ... [--allow-unbalanced] [--user NAME]`: one general-journal transaction.
// The date (YYYY-MM-DD), every account number (a number two accounts share is refused) and
// amount are checked before the transaction is begun, so a refusal consumes no number; an entry whose
// debits and credits differ is refused unless allowed; a failure once the transaction is begun
// aborts it, so nothing of it stays.
Subcommand AddPostCommand(CLI::App& app);

// `ledgerkit cheque FILE --bank NUMBER --date D --payee TEXT --amount X --to NUMBER[=AMOUNT] ...
// [--number N] [--memo TEXT] [--address TEXT]`: a ttCHQ transaction, the bank credited the
// amount and each --to debited its part (a single --to without an amount takes it all); the
// payee is its description, the cheque number and address stored with it. Parts that do not
// add up to the amount are refused. No number is given unless --number is: the company keeps
// no cheque counter.
Subcommand AddChequeCommand(CLI::App& app);

// `ledgerkit deposit FILE --bank NUMBER --date D --amount X --from NUMBER[=AMOUNT] ... [--memo
// TEXT] [--description TEXT]`: a ttDEP transaction, the bank debited the amount and each --from
// credited its part. As for a cheque, every argument is checked before the transaction is begun.
Subcommand AddDepositCommand(CLI::App& app);

// Adds the starter chart to the company file `file`: account types of the five classes and the
// accounts a small business starts with (bank, receivables, payables, sales taxes, equity,
// sales, common expenses). `user` is recorded as the caller.
void AddStandardChart(const Variant& file, const Variant& user);

}  // namespace ledgerkit::cli
