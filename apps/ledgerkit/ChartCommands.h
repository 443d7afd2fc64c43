// The chart of accounts on the command line, through the library's public operations:
// accounts (add, edit, close, delete), account types (add, list) and sales-tax codes (add,
// list). Every argument is checked before anything is written, so a refused command writes
// nothing; an account number is looked up with AccountNumbers (CommandArguments.h), so a
// number two accounts share is refused naming their keys rather than one of them taken.
#pragma once

#include <string>
#include <string_view>

#include "Subcommand.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit::cli {

// `ledgerkit account add FILE NUMBER NAME --type TYPE [--parent NUMBER] [--institution NAME]
// [--description TEXT] [--user NAME]`: a new account; its number must be unused, its type named
// by exactly one account type, a sub-account of its parent's type (the parent's when --type is
// left out). --institution names a financial institution, created when there is none.
// `ledgerkit account edit FILE NUMBER [--number NEW] [--name TEXT] [--type TYPE] [--parent
// NUMBER | --top-level] [--description TEXT]`: the account changed, every other value kept.
// `ledgerkit account close FILE NUMBER`: the account marked inactive.
// `ledgerkit account delete FILE NUMBER`: the account deleted, refused while it has register
// rows, sub-accounts or tax codes that post to it.
Subcommand AddAccountCommands(CLI::App& app);

// `ledgerkit type add FILE NAME --class asset|liability|equity|income|expense [--description
// TEXT]` and `ledgerkit type list FILE [--json]`: account types with their balance-sheet class.
Subcommand AddTypeCommands(CLI::App& app);

// `ledgerkit taxcode add FILE CODE --name TEXT --tax1 NAME=RATE%:ACCOUNT [--tax2
// NAME=RATE%:ACCOUNT] [--piggyback] [--exempt1] [--exempt2]` and `ledgerkit taxcode list FILE
// [--json]`. Rates are stored as percentages (5 for 5%), as IssueInvoice reads them.
Subcommand AddTaxCodeCommands(CLI::App& app);

// The user the chart's writes act as: `user` when given, else the company's main user (else its
// first user). Accounts belong to the company of the user who adds them.
Variant ActingUser(const Variant& file, const std::string& user);

}  // namespace ledgerkit::cli
