// Bank statements: the lines a bank reports on one of the company's bank accounts, read from
// the bank's file (statements/OfxStatement.h, statements/CsvStatement.h) and recorded as
// deposits and cheques on that account.
//
// Library-internal to the command-line tool and the tests; not part of the installed headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

// One line of a statement as the bank reports it.
struct StatementLine {
  // Where the line is in its file, for messages: the line number of a CSV row's first line;
  // for OFX, the ordinal of the transaction in the file (1 for the first).
  int64_t position = 0;
  Date date;
  Currency amount;          // money in positive (a deposit), money out negative (a cheque)
  std::string description;  // payee, name and memo as one text
  std::string cheque_number;
  // The bank's own id of the line (OFX FITID); empty when the file gives none (CSV), and then
  // the import makes one from the line itself (StatementLineId).
  std::string id;
  // The counter-account a rule named for the line (an account number, or a name the chart
  // holds once); empty sends the line to the unmatched account.
  std::string account;
};

struct Statement {
  std::vector<StatementLine> lines;
  std::string currency;                   // as the file declares it (OFX CURDEF, CSV rules); may be empty
  std::optional<Currency> ledger_balance;  // the closing balance the bank gives, when it gives one
  std::optional<Date> balance_date;
  std::string bank_account;  // the bank's number of the account, when the file names it
};

// What an import recorded (or, for a dry run, would record).
struct BankImportLine {
  StatementLine line;
  int32_t counter_account = 0;  // key of the account the line posts against
  std::string counter_name;     // "NUMBER Name" of that account
  std::string id;               // the statement id stored with the transaction
  bool already_imported = false;
  std::string transaction_number;  // empty for a dry run and for a line already imported
};

struct BankImportResult {
  std::vector<BankImportLine> lines;
  int64_t recorded = 0;
  int64_t skipped = 0;
  bool unmatched_created = false;
  Currency balance_after;  // the bank account's register balance after the import
};

struct BankImportOptions {
  std::string bank_account;  // number of the bank account in the chart
  std::string unmatched;     // number of the suspense account; empty: the chart's "Uncategorised"
  bool dry_run = false;
  Variant user_name;  // who records the transactions; empty: the main user
};

// The id a line without one of its own is known by: a hash of its date, amount and description
// and of its place among the lines of the statement with the same three (the first is 0), so
// two equal lines stay two and a statement read again gives the same ids.
std::string StatementLineId(const StatementLine& line, int64_t occurrence);

// Records each line of `statement` not already imported on the bank account as a deposit
// (money in) or a cheque (money out) against the counter-account, with the line's id, in one
// unit of work: one bad line and nothing is recorded, the line named. A line whose id the bank
// account already holds is skipped, so the same statement imported twice adds nothing. A dry
// run checks and reports the same and writes nothing.
BankImportResult ImportBankStatement(const Variant& account, const Statement& statement,
                                     const BankImportOptions& options);

}  // namespace ledgerkit
