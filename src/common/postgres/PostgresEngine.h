// Library-internal, shared by the files of the PostgreSQL engine only: the connection string,
// the error block, the opening of a connection (PostgresEngine.cpp) and the company's schema
// and creation (PostgresSchema.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/Catalog.h"
#include "common/Engine.h"
#include "common/Error.h"

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

// Reads a connection URI. Invalid argument (5) for a company name that is no plain lower-case
// identifier (letters, digits and _, at most 63, not starting with a digit or pg_).
PostgresTarget ParsePostgresTarget(std::string_view uri);

// Opens a connection to the company `target` names (which is only checked by CheckSchema).
std::unique_ptr<EngineConnection> OpenPostgresCompany(const PostgresTarget& target);

// The company's complete DDL from `catalog`, run with the search path on the company's schema
// (once the shared schema lk_shared holds the collation lk_nocase): the functions, every table and index, lk_RegisterTotal and its triggers, the
// account delete guards and the schema mark table.
std::string PostgresSchemaSql(const Catalog& catalog);
// EngineConnection::CheckSchema and CreateEngineDatabase for a company on a server.
void CheckPostgresSchema(EngineConnection& connection, const PostgresTarget& target, const Catalog& catalog);
void CreatePostgresDatabase(std::string_view uri, const Catalog& catalog, const std::function<void()>& first_rows);

// The number of server connections this process holds open (in use, kept by connections, or
// idle in the engine's pool).
size_t PostgresSessionsOpen();

}  // namespace ledgerkit
