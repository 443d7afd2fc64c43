// Library-internal, shared by the files of the PostgreSQL engine only: the connection string,
// the error block, the reading of a connection string (PostgresUri.cpp), the opening of a connection (PostgresEngine.cpp) and the company's schema
// and creation (PostgresSchema.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/Catalog.h"
#include "common/Engine.h"
#include "ledgerkit/common/Error.h"

namespace ledgerkit {

// Source of the errors the PostgreSQL engine reports.
inline constexpr std::string_view kPostgresSource = "PostgreSQL";
// PostgreSQL errors are numbered from here, beside the SQLite block (0x80050000 + result code):
// 0x80051000 + the SQLSTATE class (its two characters as base-36 digits, 0-9 then A-Z), so
// class 23 (integrity constraint violation) is 0x80051000 + 2*36 + 3 = 0x8005104B. The whole
// five-character SQLSTATE stays in the description's end, "[SQLSTATE 23505]".
inline constexpr uint32_t kPostgresErrorBase = 0x80051000u;

// The engine error number of a SQLSTATE (of its class, its first two characters).
int32_t PostgresErrorNumber(std::string_view sqlstate);
// The error for a SQLSTATE and PostgreSQL's message: numeric overflow (22003) is the runtime
// Overflow (6) with the message; everything else an engine error of the block above.
Error PostgresError(std::string_view sqlstate, std::string message);

// A company on a server: the libpq connection URI without the library's own parameter, and the
// schema the company lives in (the `company` parameter; "ledgerkit" when it is left out).
struct PostgresTarget {
  std::string given;    // the URI as the caller wrote it, any password hidden, for messages
  std::string uri;      // what libpq connects with
  std::string company;  // the schema's name, lower case
  std::string server;   // the server, database and user the sessions are shared by
};

// Reads a connection URI (PostgresUri.cpp). Invalid argument (5) for a URI libpq cannot read
// (the message shows no part of it past its scheme) and for a company name that is no plain
// lower-case identifier (letters, digits and _, at most 63, not starting with a digit or pg_).
PostgresTarget ParsePostgresTarget(std::string_view uri);

// The SQL forms of the engine, for its driver (PostgresUri.cpp).
const EngineDialect& PostgresEngineDialect();

// Opens a connection to the company `target` names (which is only checked by CheckSchema).
std::unique_ptr<EngineConnection> OpenPostgresCompany(const PostgresTarget& target);

// The role a company's report queries run as: "lk_", the company's name (cut to 43 characters)
// and 16 hexadecimal digits of a hash of the database's and the company's names. Roles belong
// to the whole server while a company is a schema of one database, so two databases may hold a
// company of one name: each has a role of its own. At most 63 bytes, plain lower case.
std::string PostgresReportRole(std::string_view database, std::string_view company);
// The report role of the company a connection of OpenPostgresCompany works on.
const std::string& PostgresReportRoleOf(const EngineConnection& connection);
// Makes the report role `role` of the company `target` names when it is missing, and gives it what a report needs, run inside a transaction the caller opened:
// USAGE on the company's schema and on lk_shared, SELECT, INSERT, UPDATE and DELETE on the
// company's tables (SELECT only on lk_Schema, the library's mark), SELECT and UPDATE on its
// sequences (the key triggers read and move them), and membership for the connecting user,
// which then may take the role. Needs CREATEROLE when the role is missing or the connecting user
// is not yet a member.
std::string PostgresReportRoleSql(const PostgresTarget& target, std::string_view role);
// Drops the company's schema with everything in it and its report role, in one transaction: the
// role's grants in this database go first (DROP OWNED BY), since a role holding any is not
// dropped. Nothing for what is not there.
std::string PostgresDropCompanySql(std::string_view company, std::string_view role);
// The report rules (PostgresReport.cpp): false, with `refused` naming what was found, when the
// report statement `sql` (one statement, as sent to the server) would change a setting, outlive
// the call, leave code behind or reach beyond the company through the server's files, other
// sessions or SQL run from a text; true when the server may judge it, as the report role.
bool PostgresReportMayRun(std::string_view sql, std::string& refused);

// The company's complete DDL from `catalog`, run with the search path on the company's schema
// (once the shared schema lk_shared holds the collation lk_nocase): the functions, every table and index, lk_RegisterTotal and its triggers, the
// account delete guards and the schema mark table.
std::string PostgresSchemaSql(const Catalog& catalog);
// EngineConnection::CheckSchema and CreateEngineDatabase for a company on a server.
// CheckPostgresSchema also tells whether the company's report role `report_role` is there.
bool CheckPostgresSchema(EngineConnection& connection, const PostgresTarget& target, std::string_view report_role,
                         const Catalog& catalog);
void CreatePostgresDatabase(std::string_view uri, const Catalog& catalog, const std::function<void()>& first_rows);

// The number of server connections this process holds open (in use, kept by connections, or
// idle in the engine's pool).
size_t PostgresSessionsOpen();

}  // namespace ledgerkit
