// Test support: a fresh company file in a temporary folder, removed when the test ends.
#pragma once

#include <filesystem>
#include <string>

#include "common/Variant.h"

namespace ledgerkit::testing {

class TempCompany {
 public:
  explicit TempCompany(const std::string& company_name = "Acme Trading");
  ~TempCompany();
  TempCompany(const TempCompany&) = delete;
  TempCompany& operator=(const TempCompany&) = delete;

  // The path of the company file, as the Account argument of every operation.
  const std::string& path() const { return path_; }
  Variant account() const { return Variant(path_); }
  // A path in the same temporary folder where no file exists.
  std::string MissingPath() const { return (folder_ / "missing.ldb").string(); }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  std::string path_;
};

// Runs one SQL statement directly with the SQLite C API (not through the library) and returns
// the first column of the first row as text ("NULL" for null, "" when there is no row).
std::string RawScalar(const std::string& path, const std::string& sql);
// Runs SQL directly with the SQLite C API; returns the engine's error message, or "" on success.
std::string RawExec(const std::string& path, const std::string& sql);

// A stored amount column (integer ten-thousandths) as plain currency text, in SQL ("4.5").
std::string MoneySql(const std::string& column);

// Every row of every company table, one line per table, to compare a file before and after a
// call; the transaction counter is left out (numbers handed out stay consumed).
std::string DumpTables(const std::string& path);

}  // namespace ledgerkit::testing
