#include "support/TempCompany.h"

#ifdef LEDGERKIT_WITH_POSTGRESQL
#include <libpq-fe.h>
#endif
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <cctype>
#include <mutex>
#include <regex>
#include <cstdlib>
#include <unistd.h>

#include "ledgerkit/common/Error.h"
#include "engines/postgres/PostgresEngine.h"
#include "entities/Catalog.h"
#include "ledgerkit/entities/Schema.h"

namespace ledgerkit::testing {

namespace {
std::atomic<int> counter{0};

bool IsUri(const std::string& path) { return path.starts_with("postgresql://") || path.starts_with("postgres://"); }

// The company's name within a company URI.
[[maybe_unused]] std::string CompanyOf(const std::string& uri) {
  const size_t at = uri.find("company=");
  if (at == std::string::npos) return "ledgerkit";
  return uri.substr(at + 8, uri.find('&', at) - (at + 8));
}

// The tests' own statements are written for the other engine. On a company on the server they
// run with these few of its functions beside the company's schema (never seen by the library's
// connections), with an alias given to a subquery in FROM that has none, COLLATE BINARY
// written as the server's byte-wise collation, char(n) as chr(n) and the failure triggers of
// the tests as the server's (ServerTriggers).
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
CREATE OR REPLACE FUNCTION lk_test_compat.hex(value text) RETURNS text LANGUAGE sql IMMUTABLE AS
  'SELECT upper(encode(convert_to(value, ''UTF8''), ''hex''))';
CREATE COLLATION IF NOT EXISTS lk_test_compat.nocase FROM lk_shared.lk_nocase;
)sql";

// `sql` with an alias after each parenthesised subquery of a FROM or JOIN that has none.
[[maybe_unused]] std::string AliasSubqueries(const std::string& sql) {
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

// The tests' failure triggers, written for the other engine ("CREATE TRIGGER t BEFORE INSERT ON
// T [WHEN c] BEGIN SELECT RAISE(ABORT,'m'); END;", "DROP TRIGGER t"), as the server's: a
// function in the company's schema raising `m` as a constraint failure (class 23, as the other
// engine reports an abort) when `c` holds, and the trigger that runs it for each row.
[[maybe_unused]] std::string ServerTriggers(const std::string& sql) {
  static const std::regex drop(R"(DROP TRIGGER (\w+)(;|$))");
  static const std::regex create(
      R"(CREATE TRIGGER (\w+) (BEFORE|AFTER) (INSERT|DELETE|UPDATE(?: OF \w+)?) ON (\w+)(?: WHEN (.+?))? BEGIN SELECT )"
      R"(RAISE\(ABORT, ?'((?:[^']|'')*)'\); END;?)");
  std::string out = std::regex_replace(
      sql, drop,
      "DO $d$ DECLARE r record; BEGIN FOR r IN SELECT t.tgrelid::regclass AS rel FROM pg_trigger t JOIN pg_class c ON "
      "c.oid=t.tgrelid WHERE t.tgname=lower('$1') AND c.relnamespace=current_schema()::regnamespace LOOP EXECUTE "
      "format('DROP TRIGGER %I ON %s', lower('$1'), r.rel); END LOOP; END $d$;");
  std::smatch match;
  std::string rest = out;
  out.clear();
  while (std::regex_search(rest, match, create)) {
    const std::string name = match[1], when = match[2], event = match[3], table = match[4];
    const std::string condition = match[5].matched ? std::string(match[5]) : "true";
    out += match.prefix();
    out += "CREATE OR REPLACE FUNCTION lk_injected_" + name +
           "() RETURNS trigger LANGUAGE plpgsql AS $f$ BEGIN IF " + condition + " THEN RAISE EXCEPTION '" +
           std::string(match[6]) + "' USING ERRCODE = '23514'; END IF; IF TG_OP = 'DELETE' THEN RETURN OLD; END IF; "
           "RETURN NEW; END $f$; CREATE TRIGGER " + name + " " + when + " " + event + " ON " + table +
           " FOR EACH ROW EXECUTE FUNCTION lk_injected_" + name + "();";
    rest = match.suffix();
  }
  return out + rest;
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

#ifndef LEDGERKIT_WITH_POSTGRESQL
// A build without the PostgreSQL engine has no server: PostgresServer() is empty and nothing
// asks for one.
std::vector<std::vector<std::string>> PostgresQuery(const std::string&, const std::string&, bool& failed,
                                                    std::string& message) {
  failed = true;
  message = "this build has no PostgreSQL engine";
  return {};
}
#else
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
    std::string text = AliasSubqueries(ServerTriggers(sql));
    // BINARY is a keyword here: the byte-wise collation is "C".
    for (size_t at = text.find("COLLATE BINARY"); at != std::string::npos; at = text.find("COLLATE BINARY", at)) {
      text.replace(at, 14, "COLLATE \"C\"");
    }
    // char(n) is the server's name of a type: its function of a code is chr(n).
    for (size_t at = text.find("char("); at != std::string::npos; at = text.find("char(", at)) {
      if (at > 0 && (std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '_')) {
        at += 5;
        continue;
      }
      text.replace(at, 5, "chr(");
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
#endif
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
#ifndef LEDGERKIT_WITH_POSTGRESQL
  return "";
#endif
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
#ifdef LEDGERKIT_WITH_POSTGRESQL
  const std::string database = PostgresRun(uri, "SELECT current_database()", false);
  const std::string company = CompanyOf(uri);
  // The drop takes its turn with companies made or dropped at the same time by other tests, and
  // the server may still pick one of them as the loser of a deadlock: it is tried again, and a
  // drop that keeps failing is said, never left to a later test's count of what is there.
  std::string failure;
  for (int attempt = 0; attempt < 10; ++attempt) {
    failure = PostgresRun(uri, PostgresDropCompanySql(company, PostgresReportRole(database, company)), true);
    if (failure.empty()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100 * (attempt + 1)));
  }
  std::fprintf(stderr, "the test company %s could not be dropped: %s\n", company.c_str(), failure.c_str());
#else
  static_cast<void>(uri);
#endif
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

ExpectedEngineError ExpectedError(EngineFailure failure) {
  if (OnPostgres()) {
    const char* sqlstate = "";
    switch (failure) {
      case EngineFailure::kCantOpen: sqlstate = "3F000"; break;  // no such schema
      case EngineFailure::kSqlError: sqlstate = "42601"; break;  // syntax error or access rule
      case EngineFailure::kBadValue: sqlstate = "22007"; break;  // data exception
      case EngineFailure::kConstraint: sqlstate = "23514"; break;  // integrity constraint violation
      case EngineFailure::kBusy: sqlstate = "55P03"; break;  // lock not available
    }
#ifdef LEDGERKIT_WITH_POSTGRESQL
    return {PostgresErrorNumber(sqlstate), std::string(kPostgresSource)};
#else
    static_cast<void>(sqlstate);
#endif
  }
  int code = 0;
  switch (failure) {
    case EngineFailure::kCantOpen: code = 14; break;    // SQLITE_CANTOPEN
    case EngineFailure::kSqlError: code = 1; break;     // SQLITE_ERROR
    case EngineFailure::kBadValue: code = 1; break;     // SQLITE_ERROR, from the function
    case EngineFailure::kConstraint: code = 19; break;  // SQLITE_CONSTRAINT
    case EngineFailure::kBusy: code = 5; break;         // SQLITE_BUSY
  }
  return {EngineErrorNumber(code), std::string(kEngineSource)};
}

std::string EngineSource() { return std::string(OnPostgres() ? kPostgresSource : kEngineSource); }

std::string CheckFailedText() { return OnPostgres() ? "violates check constraint" : "CHECK constraint failed"; }

std::vector<std::string> IndexLeadingColumns(const std::string& path, const std::string& table) {
  std::vector<std::string> columns;
  if (IsUri(path)) {
    // The server folds unquoted names to lower case: each is given back as the catalog spells it.
    const TableDef* def = nullptr;
    for (const TableDef& candidate : SchemaTables()) {
      std::string lower(candidate.name);
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::string wanted = table;
      for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (lower == wanted) def = &candidate;
    }
    for (const auto& row :
         PostgresRows(path, "SELECT a.attname FROM pg_index x JOIN pg_class i ON i.oid=x.indexrelid JOIN pg_class t ON "
                            "t.oid=x.indrelid JOIN pg_namespace n ON n.oid=t.relnamespace JOIN pg_attribute a ON "
                            "a.attrelid=t.oid AND a.attnum=x.indkey[0] WHERE n.nspname=current_schema() AND "
                            "t.relname=lower('" + table + "') ORDER BY i.relname COLLATE \"C\"")) {
      std::string name = row.at(0);
      if (def != nullptr) {
        for (const ColumnDef& column : def->columns) {
          std::string lower(column.name);
          for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
          if (lower == name) name = column.name;
        }
      }
      columns.push_back(name);
    }
    return columns;
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  const std::string sql = "SELECT i.name FROM pragma_index_list(?1) l JOIN pragma_index_info(l.name) i "
                          "WHERE i.seqno=0 AND i.name IS NOT NULL ORDER BY l.name";  // not an index of an expression
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(statement, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return columns;
}

std::string CompanyKey(const std::string& path) {
  if (IsUri(path)) return path;
  return std::filesystem::weakly_canonical(path).string();
}

std::string MoneySql(const std::string& column, const std::string& company) {
  if (company.starts_with("postgres")) return "trim_scale(round(" + column + "/10000.0, 4))::text";
  return "rtrim(rtrim(printf('%.4f'," + column + "/10000.0),'0'),'.')";
}

std::string MoneySql(const std::string& column) { return MoneySql(column, OnPostgres() ? "postgresql:" : ""); }

uint64_t CompanyLockStatements() { return OnPostgres() ? 1 : 0; }

uint64_t TemporariesSwitchStatements() { return OnPostgres() ? 0 : 1; }

std::string RealSql(const std::string& column) {
  if (!OnPostgres()) return column;
  return "(CASE WHEN " + column + "=trunc(" + column + ") AND abs(" + column + ")<1e15 THEN trunc(" + column +
         ")::bigint::text||'.0' ELSE " + column + "::text END)";
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
