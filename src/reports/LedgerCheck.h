// The integrity check of a company file: what the ledger guarantees, verified from the rows.
// Read only; one consistent snapshot of the file.
#pragma once

#include <string>
#include <vector>

#include "common/Variant.h"

namespace ledgerkit {

struct CheckFinding {
  enum class Severity { kWarning, kProblem };
  Severity severity = Severity::kProblem;
  std::string kind;     // a short stable name: "balance", "unbalanced", "orphan-register", ...
  std::string message;  // one line saying which row and what was expected
};

// Every finding on the file `account` names, problems and warnings alike:
// - "balance": an account whose stored Balance is not minus its computed balance (credits
//   minus debits over its register rows);
// - "register-total": kept per-account register totals that differ from the register rows;
// - "unbalanced" (warning): a committed transaction whose debits and credits differ;
// - "orphan-register": register rows whose transaction has no header;
// - "orphan-line": waiting lines whose header is missing;
// - "waiting-line": waiting lines under a committed header;
// - "orphan-invoice": an invoice whose transaction is missing;
// - "integrity": what the engine's own integrity check reports.
// Fails with an engine Error when the file cannot be read as a company file.
std::vector<CheckFinding> CheckCompanyFile(const Variant& account);

}  // namespace ledgerkit
