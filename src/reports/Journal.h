// Journal: the company's committed transactions in the plain-text double-entry journal format
// that command-line accounting tools read, the register as CSV, and the way back in.
//
// Account names are the chart's path: balance-sheet class, account type, the parent accounts,
// then the account itself as "NUMBER Name", joined by ':'
// ("Assets:Bank:1000 Bank:1010 Petty cash"). The classes are Assets, Liabilities, Equity,
// Income and Expenses. Each part is made valid for the tools: control characters become blanks,
// runs of blanks one blank, ';' becomes ',' and ':' becomes '-', blanks at either end go, and an
// empty part is "_". The same cleaning is its own fixed point, so an exported journal imported
// and exported again is unchanged.
//
// Amounts are debits positive and credits negative (a register row's Withdrawal minus its
// Deposit), written exactly with two decimals, or four when they are not whole cents. A
// transaction whose rows do not add up to zero (the ledger allows it) is written with every
// posting virtual, "(account)", which the tools accept unbalanced and still count in balances.
//
// Library-internal to the command-line tool and the tests; not part of the installed headers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

// Which committed transactions an export covers, by transaction date, both ends included; a
// bound given as a date alone covers that whole day.
struct JournalRange {
  std::optional<Date> from;
  std::optional<Date> to;
};

// Writes every committed transaction of the company `account` names (rows of a header in
// status committed) within `range`, by transaction date then order of entry, as a journal.
// Returns the number of transactions written. One read unit of work: a consistent snapshot.
int64_t ExportJournal(const Variant& account, std::ostream& out, const JournalRange& range = {});

// Writes the same register rows as CSV, one row per register row, with a header line:
// Date,Number,Type,Description,Account,AccountNumber,AccountName,Memo,Debit,Credit,Amount,Reconciled.
// Returns the number of rows written.
int64_t ExportRegisterCsv(const Variant& account, std::ostream& out, const JournalRange& range = {});

// Each account's journal name (the path described above), by ACAccountID.
std::map<int32_t, std::string> JournalAccountNames(const Variant& account);

struct JournalImport {
  int64_t transactions = 0;
  int64_t accounts_created = 0;
  int64_t account_types_created = 0;
  // What the journal holds that was read but not imported, one text a line, each naming its
  // file and line ("Line 12 of the journal: ...").
  std::vector<std::string> warnings;
};

// Records the transactions of `journal` in the company `account` names, as general-journal
// transactions, each left exactly as BeginTransaction, PostDebit (PostCredit for a negative
// amount) and EndTransaction of CACMgr would leave it (header, register rows, balances, the
// next transaction number), written through the ledger's services in a few statements reused
// for all (services::TransactionRecorder), creating the account types and accounts the journal
// names that the chart lacks (through AddAccountType and AddAccount as `user_name`, who must
// exist: the new accounts belong to that user's company). All or nothing: the whole
// import is one unit of work, and the first fault (a line that cannot be read, a transaction
// that does not balance, a refused operation) fails it naming the journal's line, with nothing
// recorded. The journal is read whole and checked before anything is written.
//
// Accounts. The top level of an account name gives its class: Assets (or Asset), Liabilities
// (Liability), Equity, Income (Revenue, Revenues) or Expenses (Expense), in any case. An
// `account` directive whose comment has a "type:" tag ("account Aktiva  ; type: A", the tag on
// the directive's line or on an indented comment line below it) declares the class of that
// account and the accounts below it, as hledger reads the codes, in any case: A, Asset(s), C,
// Cash (assets); L, Liability, Liabilities; E, Equity, V, Conversion (equity); R, Revenue,
// Income; X, Expense(s). The nearest declaration above an account wins over its top-level name;
// an account under any other top-level name, declared nowhere, is refused naming the line; an
// unknown code is refused naming the directive's line. Below the top level comes the account type
// (with fewer than three levels the type is named after the top level), then the accounts. An
// account type is one of a class: the same name under two classes ("Assets:VAT" and
// "Liabilities:VAT") is two account types, the chart's own (found by class and name) when it
// has them, else created.
// An account name whose last part starts with a number ("2100 Sales tax payable") is the
// company's account with that number wherever the journal places it, its own type and parent
// kept (an account type the journal names is created only for an account created); when the
// names differ, or several of the company's accounts share the number, the import is refused
// naming the line, the number and the names (or keys). No second account with a number already
// used is ever created.
//
// Reading. Lines end in LF, CRLF or a lone CR, and must be UTF-8. Dates have four-digit years
// (a secondary date, not kept, is checked too); a date without a year ("01/15", "1-15") takes
// the year of the last "Y 2024" (or "year 2024") directive before it, and is refused naming
// the line when there is none; a secondary date without one takes its primary date's. Amounts
// use '.' as the decimal mark until a "decimal-mark ," directive, or a commodity or D directive
// whose sample amount writes ',' ("commodity 1.000,00 EUR"), makes it ',' for the amounts after
// it. "alias OLD = NEW" renames the posting accounts OLD and those below it ("OLD:x" becomes
// "NEW:x") in the lines after it, until "end aliases"; several aliases apply the latest first,
// each to what the ones before made, as hledger does; a regular-expression alias ("alias /re/
// = x") is refused. A balance assertion ("= B", "== B", "=* B" with sub-accounts) must hold, in
// journal order, against the balance the journal's postings so far give the account (not the
// company's balance before the import); a balance assignment (an assertion without an amount)
// is refused. Periodic transaction rules ("~ monthly") and automated posting rules ("= expr"),
// which hledger too applies only when asked (--forecast, --auto), are left out with a warning
// each, their indented lines with them; a transaction with no postings is left out with a
// warning. Other directives that change what transactions mean, prices and costs ("@"), and a
// second commodity are refused. Values a refusal quotes show control characters as \xHH.
//
// Includes. "include FILE" reads FILE where the directive stands, FILE found from the directory
// of the file that names it; the Y, alias and decimal-mark directives in force pass into it,
// and its own end with it. Refusals and warnings in an included file name that file (as found:
// "Line 3 of \"sub/bank.journal\": ...") and its line; lines of the journal itself are "Line 12
// of the journal". A journal that includes itself, directly or through others, is refused naming
// the files of the loop; a missing or unreadable file naming the line of its include. A journal
// read from a stream has no file to find includes from: its include is refused.
JournalImport ImportJournal(const Variant& account, std::istream& journal, const Variant& user_name);

// As above, the journal read from the file `journal` (Invalid argument when it cannot be read),
// which finds the files it includes.
JournalImport ImportJournal(const Variant& account, const std::filesystem::path& journal, const Variant& user_name);

// One part of an account name as the journal writes it (see above).
std::string JournalNamePart(std::string_view text);

}  // namespace ledgerkit
