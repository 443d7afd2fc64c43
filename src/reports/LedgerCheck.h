// The integrity check of a company file: what the ledger guarantees, verified from the rows.
// Read only; one consistent snapshot of the file.
#pragma once

#include <string>
#include <vector>

#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

struct CheckFinding {
  enum class Severity { kWarning, kProblem };
  Severity severity = Severity::kProblem;
  std::string kind;     // a short stable name: "balance", "unbalanced", "orphan-register", ...
  std::string message;  // one line saying which row and what was expected
};

// Every finding on the file `account` names, problems and warnings alike:
// - "balance": an account whose stored Balance is not minus its computed balance (credits
//   minus debits over its register rows); every sum is exact, and one out of range is an
//   "overflow" finding rather than a failure of the check;
// - "register-total": kept per-account register totals that differ from the register rows;
// - "unbalanced" (warning): a committed transaction whose debits and credits differ;
// - "orphan-register": register rows whose transaction has no header;
// - "orphan-line": waiting lines whose header is missing;
// - "waiting-line": waiting lines under a committed header;
// - "orphan-invoice": an invoice whose transaction is missing;
// - "integrity": what the engine's own integrity check reports of its structures (the rules
//   of the schema's columns and the kept totals are looked at by the kinds here, the same on
//   every engine, and not reported a second time);
// - "company": a file with no company record, or more than one;
// - "money": a money value that is not an exact count of ten-thousandths (a REAL or text);
// - "text": a text longer than its column takes;
// - "overflow": an account (or transaction) whose register sums leave the currency range;
// - "orphan-account": register rows posted to an account that does not exist, or to none;
// - "line-account": a waiting line naming an account that does not exist, or none;
// - "invoice-total" (warning): an issued invoice whose Total differs from the receivable
//   debit posted for it (its transaction's debits to the invoice's account).
// Fails with an engine Error when the file cannot be read as a company file.
std::vector<CheckFinding> CheckCompanyFile(const Variant& account);

}  // namespace ledgerkit
