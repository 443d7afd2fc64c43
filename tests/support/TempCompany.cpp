#include "support/TempCompany.h"

#include <sqlite3.h>

#include <atomic>
#include <unistd.h>

#include "entities/Catalog.h"
#include "entities/Schema.h"

namespace ledgerkit::testing {

namespace {
std::atomic<int> counter{0};
}

TempCompany::TempCompany(const std::string& company_name) {
  folder_ = std::filesystem::temp_directory_path() /
            ("ledgerkit-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(folder_);
  std::filesystem::create_directories(folder_);
  path_ = (folder_ / "company.ldb").string();
  CreateSubscriberDatabase(path_, company_name);
}

TempCompany::~TempCompany() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string RawScalar(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  std::string result;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    result = std::string("error: ") + sqlite3_errmsg(db);
  } else if (sqlite3_step(statement) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(statement, 0);
    result = text == nullptr ? "NULL" : reinterpret_cast<const char*>(text);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return result;
}

std::string RawExec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  char* message = nullptr;
  std::string result;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    result = message != nullptr ? message : "error";
  }
  sqlite3_free(message);
  sqlite3_close(db);
  return result;
}

std::string MoneySql(const std::string& column) {
  return "rtrim(rtrim(printf('%.4f'," + column + "/10000.0),'0'),'.')";
}

std::string DumpTables(const std::string& path) {
  std::string dump;
  for (const TableDef& table : SchemaTables()) {
    std::string row;
    for (const ColumnDef& column : table.columns) {
      if (column.name == "NextTransactionNumber") continue;
      row += (row.empty() ? "" : "||','||") + ("quote(" + std::string(column.name) + ")");
    }
    dump += std::string(table.name) + ":" +
            RawScalar(path, "SELECT ifnull(group_concat(r,';'),'') FROM (SELECT " + row + " AS r FROM " +
                                std::string(table.name) + " ORDER BY 1)") +
            "\n";
  }
  return dump;
}

}  // namespace ledgerkit::testing
