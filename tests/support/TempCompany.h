// Test support: a fresh company in a temporary folder, removed when the test ends. The company
// is a file, or, when LEDGERKIT_TEST_ENGINE=postgresql, a company on the server whose URI
// LEDGERKIT_TEST_PG holds (the folder is made all the same, for the files a test writes).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ledgerkit/common/Variant.h"

namespace ledgerkit::testing {

class TempCompany {
 public:
  explicit TempCompany(const std::string& company_name = "Acme Trading");
  ~TempCompany();
  TempCompany(const TempCompany&) = delete;
  TempCompany& operator=(const TempCompany&) = delete;

  // The path of the company file (or the company's URI), as the Account argument of every
  // operation.
  const std::string& path() const { return path_; }
  Variant account() const { return Variant(path_); }
  // A path in the same temporary folder where no file exists (on a server, a company that does
  // not exist).
  std::string MissingPath() const;
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  std::string path_;
};

// True when the tests run their companies on PostgreSQL (LEDGERKIT_TEST_ENGINE=postgresql).
bool OnPostgres();
// The server URI of LEDGERKIT_TEST_PG, or "" when it is not set.
std::string PostgresServer();
// A company URI on that server for a company named `company` (which need not exist).
std::string PostgresCompanyUri(const std::string& company);
// Removes the company `uri` names from its server, if it is there.
void DropPostgresCompany(const std::string& uri);

// Every row of `sql` run directly on the company `uri` names on its server, each column as text
// ("NULL" for null, truth values as 1 and 0); on failure, one row holding "error: " and the
// server's message.
std::vector<std::vector<std::string>> PostgresRows(const std::string& uri, const std::string& sql);

// A failure the engine, not the library, reports, by what went wrong.
enum class EngineFailure {
  kCantOpen,     // the company file (or the company on the server) does not exist
  kSqlError,     // a statement the engine refuses: bad syntax, an unknown table or function
  kBadValue,     // a function of the engine given a value it cannot take (CDATE of no date)
  kConstraint,   // a constraint of the schema refuses a row (CHECK, NOT NULL, a trigger's guard)
  kBusy,         // another writer holds the company for longer than a writer waits
};
// The error number and source the engine the companies are on reports that failure with:
// SQLite's result code, or the class of the server's SQLSTATE.
struct ExpectedEngineError {
  int32_t number;
  std::string source;
};
ExpectedEngineError ExpectedError(EngineFailure failure);
// The source of every engine error on the engine the companies are on.
std::string EngineSource();
// The words of the engine's own message for a row a CHECK constraint refuses.
std::string CheckFailedText();

// The leading column of each index of `table` (the table as the catalog spells it), in index
// name order, read from the engine's own catalog.
std::vector<std::string> IndexLeadingColumns(const std::string& path, const std::string& table);

// The key the library files a company under in its connection cache and names in messages:
// the file's canonical path, or the URI as given.
std::string CompanyKey(const std::string& path);

// Skips the current test when the companies are on PostgreSQL, giving `why`.
#define LEDGERKIT_FILE_ONLY(why)                                  \
  do {                                                            \
    if (::ledgerkit::testing::OnPostgres()) GTEST_SKIP() << (why); \
  } while (false)

// Runs one SQL statement directly with the SQLite C API (or libpq, for a company URI) (not through the library) and returns
// the first column of the first row as text ("NULL" for null, "" when there is no row).
std::string RawScalar(const std::string& path, const std::string& sql);
// Runs SQL directly with the SQLite C API (or libpq); returns the engine's error message, or "" on success.
std::string RawExec(const std::string& path, const std::string& sql);

// A stored amount column (integer ten-thousandths) as plain currency text, in SQL ("4.5").
std::string MoneySql(const std::string& column);
// The same for the engine of `company` (a file path or a server URI), whichever engine the test
// run puts its other companies on.
std::string MoneySql(const std::string& column, const std::string& company);

// The statements a writing unit of work runs to take the company lock (EngineConnection::
// LockCompany): none on the file, whose write transaction holds it whole; one on a server.
uint64_t CompanyLockStatements();
// The statements a connection runs when it goes from reading to writing or back, moving its
// temporaries (statement journals, sorts) between memory and files: one on the file, none on a
// server.
uint64_t TemporariesSwitchStatements();

// A stored REAL column as text the way the file engine writes one in SQL ("7.0", "7.5"): on the
// server, a whole number gains ".0" as there.
std::string RealSql(const std::string& column);

// Every row of every company table, one line per table, to compare a file before and after a
// call; the transaction counter is left out (numbers handed out stay consumed).
std::string DumpTables(const std::string& path);

}  // namespace ledgerkit::testing
