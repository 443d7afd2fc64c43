// Test support: the ledgerkit tool run as a separate process, the way a user or a client runs it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ledgerkit::testing {

// The path of the ledgerkit tool this build made.
const char* CliPath();

// `text` as one single-quoted shell word.
std::string ShellQuote(const std::string& text);

struct CliRun {
  int exit_code = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs `ledgerkit <arguments>` (already quoted as shell words), with `input` on standard input
// when given; scratch files go into `folder`.
CliRun RunLedgerkit(const std::filesystem::path& folder, const std::string& arguments,
                    const std::optional<std::string>& input = std::nullopt);

// The lines of a text, without their line breaks.
std::vector<std::string> Lines(const std::string& text);

}  // namespace ledgerkit::testing
