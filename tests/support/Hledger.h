// Test support: hledger, a plain-text ledger program from Debian, as a peer that reads what the
// tool exports; its balances are the check that an exported journal means what the books say.
#pragma once

#include <map>
#include <string>

#include "ledgerkit/common/Currency.h"

namespace ledgerkit::testing {

// True when hledger is on the PATH.
bool HaveHledger();

// hledger's flat balance of every account of `journal` (an account name as the journal writes
// it), from its CSV output; a failure of hledger is a test failure.
std::map<std::string, Currency> HledgerBalances(const std::string& journal);

}  // namespace ledgerkit::testing
