// Library-internal, shared by the files of the SQLite engine only: the connection's opening
// (SqliteEngine.cpp) and the company file's schema, creation and upgrade (SqliteSchema.cpp).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/Catalog.h"
#include "common/Engine.h"

namespace ledgerkit {

enum class OpenMode {
  kExisting,   // read-write; a missing file is an error, never created
  kCreateNew,  // the file must not exist yet and is created
};

// Opens the file `path` names (what follows the driver's prefix). Fails with Invalid argument
// (5) for an empty path or one holding a NUL and, with kCreateNew, for a file that exists
// already (never written over); otherwise as OpenEngine.
std::unique_ptr<EngineConnection> OpenSqliteFile(std::string_view path, OpenMode mode);

// The company file's complete DDL from `catalog`: every CREATE TABLE and CREATE INDEX, in
// order, then the library's own derived table lk_RegisterTotal (per-account register totals),
// the triggers that keep it and the file's own rules (no sum beyond the currency range, no
// delete of an account still referred to by register rows or waiting lines).
std::string SqliteSchemaSql(const Catalog& catalog);

// The SQL forms of the engine (EngineConnection::Dialect), for the schema it writes.
const EngineDialect& SqliteEngineDialect();

// EngineConnection::CheckSchema and CreateEngineDatabase for a company file.
void CheckSqliteSchema(EngineConnection& connection, const Catalog& catalog);
void CreateSqliteDatabase(std::string_view path, const Catalog& catalog, const std::function<void()>& first_rows);

}  // namespace ledgerkit
