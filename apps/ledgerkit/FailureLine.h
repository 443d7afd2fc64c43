// How the tool reports a failure: one line on standard error, naming the command, saying what
// was wrong in words a person reads (no engine diagnostics, no raw control bytes), ending with
// the error's number and source.
#pragma once

#include <string>
#include <string_view>

#include "ledgerkit/common/Error.h"

namespace CLI {
class App;
}

namespace ledgerkit::cli {

// `text` with every control character (C0 but the line breaks, DEL, and the C1 block) written
// as \xHH, so a value echoed in a message cannot act on the terminal.
std::string EscapedControls(std::string_view text);

// The company (FILE) the command run by `app` names, or empty when it names none.
std::string CommandCompany(const CLI::App& app);

// `error` as the one line the tool prints for the company `company` (empty: none): a file that
// is not there is "no company at PATH", a file that is not a company database "PATH is not a
// ledgerkit company"; other failures their message (ErrorLine).
std::string FailureLine(const Error& error, const std::string& company);

}  // namespace ledgerkit::cli
