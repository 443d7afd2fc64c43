#include "support/TempCompany.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <atomic>
#include <cctype>
#include <mutex>
#include <cstdlib>
#include <unistd.h>

#include "common/postgres/PostgresEngine.h"
#include "entities/Catalog.h"
#include "entities/Schema.h"

namespace ledgerkit::testing {

namespace {
std::atomic<int> counter{0};

bool IsUri(const std::string& path) { return path.starts_with("postgresql://") || path.starts_with("postgres://"); }

// The company's name within a company URI.
std::string CompanyOf(const std::string& uri) {
  const size_t at = uri.find("company=");
  if (at == std::string::npos) return "ledgerkit";
  return uri.substr(at + 8, uri.find('&', at) - (at + 8));
}

// The tests' own statements are written for the other engine. On a company on the server they
// run with these few of its functions beside the company's schema (never seen by the library's
// connections), with an alias given to a subquery in FROM that has none, and COLLATE BINARY
// written as the server's byte-wise collation.
constexpr const char* kCompatibilitySql = R"sql(
CREATE SCHEMA IF NOT EXISTS lk_test_compat;
CREATE OR REPLACE FUNCTION lk_test_compat.ifnull(a anycompatible, b anycompatible) RETURNS anycompatible
  LANGUAGE sql IMMUTABLE AS 'SELECT COALESCE(a, b)';
CREATE OR REPLACE FUNCTION lk_test_compat.ifnull(a anyelement, b text) RETURNS text
  LANGUAGE sql IMMUTABLE AS 'SELECT COALESCE(a::text, b)';
CREATE OR REPLACE FUNCTION lk_test_compat.lk_concat(acc text, value anyelement, separator text) RETURNS text
  LANGUAGE sql IMMUTABLE AS 'SELECT CASE WHEN value IS NULL THEN acc WHEN acc IS NULL THEN value::text
                                  ELSE acc || separator || value::text END';
CREATE OR REPLACE FUNCTION lk_test_compat.lk_concat(acc text, value anyelement) RETURNS text
  LANGUAGE sql IMMUTABLE AS 'SELECT lk_test_compat.lk_concat(acc, value, '','')';
CREATE OR REPLACE AGGREGATE lk_test_compat.group_concat(anyelement, text) (sfunc = lk_test_compat.lk_concat, stype = text);
CREATE OR REPLACE AGGREGATE lk_test_compat.group_concat(anyelement) (sfunc = lk_test_compat.lk_concat, stype = text);
CREATE OR REPLACE FUNCTION lk_test_compat.typeof(value anyelement) RETURNS text LANGUAGE sql IMMUTABLE AS
  'SELECT CASE WHEN value IS NULL THEN ''null'' WHEN pg_typeof(value) IN (''bigint''::regtype, ''integer''::regtype,
   ''smallint''::regtype) THEN ''integer'' WHEN pg_typeof(value) IN (''double precision''::regtype, ''numeric''::regtype)
   THEN ''real'' ELSE ''text'' END';
CREATE OR REPLACE FUNCTION lk_test_compat.quote(value anyelement) RETURNS text LANGUAGE sql IMMUTABLE AS
  'SELECT CASE WHEN value IS NULL THEN ''NULL'' WHEN lk_test_compat.typeof(value) <> ''text'' THEN value::text
   ELSE quote_literal(value::text) END';
CREATE COLLATION IF NOT EXISTS lk_test_compat.nocase FROM lk_shared.lk_nocase;
)sql";

// `sql` with an alias after each parenthesised subquery of a FROM or JOIN that has none.
std::string AliasSubqueries(const std::string& sql) {
  std::string out = sql;
  size_t search = 0;
  int made = 0;
  for (;;) {
    size_t at = std::string::npos;
    for (const char* opener : {"FROM (", "from (", "JOIN (", "join ("}) {
      const size_t found = out.find(opener, search);
      if (found != std::string::npos && (at == std::string::npos || found < at)) at = found;
    }
    if (at == std::string::npos) return out;
    size_t i = at + 5, depth = 0;
    for (; i < out.size(); ++i) {
      if (out[i] == '\'') {
        i = out.find('\'', i + 1);
        if (i == std::string::npos) return out;
      } else if (out[i] == '(') {
        ++depth;
      } else if (out[i] == ')' && --depth == 0) {
        break;
      }
    }
    if (i >= out.size()) return out;
    size_t next = i + 1;
    while (next < out.size() && out[next] == ' ') ++next;
    std::string word;
    for (size_t j = next; j < out.size() && std::isalpha(static_cast<unsigned char>(out[j])); ++j) {
      word += static_cast<char>(std::toupper(static_cast<unsigned char>(out[j])));
    }
    const bool aliased = !word.empty() && word != "WHERE" && word != "ORDER" && word != "GROUP" && word != "LIMIT" &&
                         word != "JOIN" && word != "UNION" && word != "ON" && word != "LEFT" && word != "HAVING";
    if (!aliased) out.insert(i + 1, " lk_sub" + std::to_string(made++));
    search = at + 5;
  }
}

// Runs `sql` on the server of `uri` with the search path on its company: every row, or (with
// `failed` set) the server's message.
std::vector<std::vector<std::string>> PostgresQuery(const std::string& uri, const std::string& sql, bool& failed,
                                                    std::string& message);

// Runs `sql` on the server of `uri` with the search path on its company; the first column of
// the first row ("NULL" for null, "" for no row), or "error: " and the server's message.
std::string PostgresRun(const std::string& uri, const std::string& sql, bool want_error_only) {
  bool failed = false;
  std::string message;
  const auto rows = PostgresQuery(uri, sql, failed, message);
  if (failed) return want_error_only ? message : "error: " + message;
  if (want_error_only || rows.empty() || rows[0].empty()) return "";
  return rows[0][0];
}

std::vector<std::vector<std::string>> PostgresQuery(const std::string& uri, const std::string& sql, bool& failed,
                                                    std::string& message) {
  const std::string server = PostgresServer();
  PGconn* conn = PQconnectdb(server.c_str());
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  std::vector<std::vector<std::string>> rows;
  failed = false;
  if (PQstatus(conn) != CONNECTION_OK) {
    failed = true;
    message = PQerrorMessage(conn);
  } else {
    static std::once_flag compatibility;
    std::call_once(compatibility, [conn] {
      // Two test processes may make it at once: the advisory lock takes them in turn.
      PQclear(PQexec(conn, "SELECT pg_advisory_lock(770001)"));
      PQclear(PQexec(conn, kCompatibilitySql));
      PQclear(PQexec(conn, "SELECT pg_advisory_unlock(770001)"));
    });
    PQclear(PQexec(conn, ("SET search_path TO " + CompanyOf(uri) + ", lk_test_compat, pg_catalog").c_str()));
    std::string text = AliasSubqueries(sql);
    // BINARY is a keyword here: the byte-wise collation is "C".
    for (size_t at = text.find("COLLATE BINARY"); at != std::string::npos; at = text.find("COLLATE BINARY", at)) {
      text.replace(at, 14, "COLLATE \"C\"");
    }
    PGresult* answer = PQexec(conn, text.c_str());
    const ExecStatusType status = PQresultStatus(answer);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
      failed = true;
      message = PQresultErrorMessage(answer);
    } else if (status == PGRES_TUPLES_OK) {
      for (int row = 0; row < PQntuples(answer); ++row) {
        auto& values = rows.emplace_back();
        for (int column = 0; column < PQnfields(answer); ++column) {
          std::string value = PQgetisnull(answer, row, column) ? "NULL" : PQgetvalue(answer, row, column);
          // A truth value reads as the number the other engine gives for it.
          if (PQftype(answer, column) == 16 && value != "NULL") value = value == "t" ? "1" : "0";
          values.push_back(std::move(value));
        }
      }
    }
    PQclear(answer);
  }
  while (!message.empty() && message.back() == '\n') message.pop_back();
  PQfinish(conn);
  return rows;
}
}  // namespace

std::vector<std::vector<std::string>> PostgresRows(const std::string& uri, const std::string& sql) {
  bool failed = false;
  std::string message;
  auto rows = PostgresQuery(uri, sql, failed, message);
  if (failed) return {{"error: " + message}};
  return rows;
}

bool OnPostgres() {
  const char* engine = std::getenv("LEDGERKIT_TEST_ENGINE");
  return engine != nullptr && std::string(engine) == "postgresql" && !PostgresServer().empty();
}

std::string PostgresServer() {
  const char* server = std::getenv("LEDGERKIT_TEST_PG");
  return server != nullptr ? server : "";
}

std::string PostgresCompanyUri(const std::string& company) {
  const std::string server = PostgresServer();
  return server + (server.find('?') == std::string::npos ? "?" : "&") + "company=" + company;
}

// The company's schema and its report role, which the server keeps for the whole cluster and
// so would outlive the test.
void DropPostgresCompany(const std::string& uri) {
  const std::string database = PostgresRun(uri, "SELECT current_database()", false);
  const std::string company = CompanyOf(uri);
  (void)PostgresRun(uri, PostgresDropCompanySql(company, PostgresReportRole(database, company)), true);
}

std::string TempCompany::MissingPath() const {
  if (OnPostgres()) return PostgresCompanyUri(folder_.filename().string() + "_missing");
  return (folder_ / "missing.ldb").string();
}

TempCompany::TempCompany(const std::string& company_name) {
  folder_ = std::filesystem::temp_directory_path() /
            ("ledgerkit-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(folder_);
  std::filesystem::create_directories(folder_);
  path_ = (folder_ / "company.ldb").string();
  if (OnPostgres()) {
    std::string name = folder_.filename().string();
    for (char& c : name) c = c == '-' ? '_' : c;
    std::filesystem::remove_all(folder_);
    folder_ = folder_.parent_path() / name;
    std::filesystem::create_directories(folder_);
    path_ = PostgresCompanyUri(name);
  }
  CreateSubscriberDatabase(path_, company_name);
}

TempCompany::~TempCompany() {
  if (IsUri(path_)) DropPostgresCompany(path_);
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string RawScalar(const std::string& path, const std::string& sql) {
  if (IsUri(path)) return PostgresRun(path, sql, false);
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
  if (IsUri(path)) return PostgresRun(path, sql, true);
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
  if (OnPostgres()) return "trim_scale(round(" + column + "/10000.0, 4))::text";
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
    if (IsUri(path)) {
      std::string cells;
      for (const ColumnDef& column : table.columns) {
        if (column.name == "NextTransactionNumber") continue;
        cells += (cells.empty() ? "" : "||','||") + ("quote_nullable(" + std::string(column.name) + "::text)");
      }
      dump += std::string(table.name) + ":" +
              RawScalar(path, "SELECT coalesce(string_agg(r COLLATE \"C\", ';' ORDER BY r COLLATE \"C\"),'') FROM (SELECT " +
                                  cells + " AS r FROM " + std::string(table.name) + ") x") +
              "\n";
      continue;
    }
    dump += std::string(table.name) + ":" +
            RawScalar(path, "SELECT ifnull(group_concat(r,';'),'') FROM (SELECT " + row + " AS r FROM " +
                                std::string(table.name) + " ORDER BY 1)") +
            "\n";
  }
  return dump;
}

}  // namespace ledgerkit::testing
