// `ledgerkit copy SRC DST`: a whole company moved between a file and a server (or file to file,
// server to server), every row of every table with its keys as stored.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Subcommand.h"

namespace ledgerkit::cli {

// What a copy wrote: rows per catalog table, in catalog order, and how many accounts' kept
// register totals on the source did not match its register (the copy's are rebuilt from the
// register rows, so they match).
struct CopyResult {
  std::vector<std::pair<std::string, int64_t>> rows;
  int64_t totals_rebuilt = 0;
};

// Copies the company `source` names into a new company `destination` (a file path or a
// postgresql:// URI each). The source is read in one read transaction, so the copy is one state
// of it; the destination is made (CreateEngineDatabase) and filled in one write transaction that
// commits last: a file is written under a temporary name beside it and takes its name when
// complete, a company on a server is made with its rows and report role in one server
// transaction. Refuses (Invalid argument, 5) a destination that exists, touching nothing. Copies
// a source that `check` finds fault with as it is, except for a value the destination cannot hold
// exactly (a fraction or text in a number column, an amount beyond the 64-bit range): that fails
// naming table, key and column. On any failure, and when the process is killed, no destination
// is left and the failure is passed on. With `hold_source_writes` the source is read under its
// write lock instead: the copy waits for writers that began before it, and later ones wait for it.
CopyResult CopyCompany(const std::string& source, const std::string& destination, bool hold_source_writes = false);

// A company's name as the tool prints it: a path unchanged, a URI with its password hidden.
std::string ShownCompany(const std::string& account);

// True when `account` names a company on a server rather than a file.
bool IsServerCompany(const std::string& account);

// `ledgerkit copy SRC DST`: CopyCompany, then one line with the rows copied per table. SIGINT,
// SIGTERM and SIGHUP remove the file being made before they end the process.
Subcommand AddCopyCommand(CLI::App& app);

}  // namespace ledgerkit::cli
