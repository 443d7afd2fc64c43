// A bank or credit-card statement in OFX (1.x SGML, 2.x XML) or QFX, read through libofx.
//
// Library-internal to the command-line tool and the tests.
#pragma once

#include <string>

#include "reports/BankStatement.h"

namespace ledgerkit {

// Reads the statement in the OFX or QFX file `path`. A file holding statements of several
// accounts gives the one whose bank account number is `bank_account` (required then).
// Invalid argument (5) naming the file and the value for anything that cannot be read.
Statement ReadOfxStatement(const std::string& path, const std::string& bank_account = "");

}  // namespace ledgerkit
