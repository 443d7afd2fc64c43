// What an engine implementation gives the engine interface (common/Engine.h): the entry points
// reached through a connection string, chosen by the string's leading text. Each engine's folder
// defines one driver; common/Engine.cpp lists them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "common/Catalog.h"
#include "common/Engine.h"

namespace ledgerkit {

struct EngineDriver {
  // The leading text of this engine's connection strings; what follows it names the database.
  std::string_view prefix;
  // OpenEngine and CreateEngineDatabase for this engine, given what follows the prefix.
  std::unique_ptr<EngineConnection> (*open)(std::string_view target);
  void (*create)(std::string_view target, const Catalog& catalog, const std::function<void()>& first_rows);
  const EngineDialect& dialect;
};

// The SQLite engine (engines/sqlite/).
const EngineDriver& SqliteDriver();
// The PostgreSQL engine (engines/postgres/): connection URIs postgresql://... and postgres://...
const EngineDriver& PostgresDriver();
const EngineDriver& PostgresShortDriver();

// Statement runs started in this process, counted by every engine as EngineStatementsRun
// describes.
std::atomic<uint64_t>& EngineStatementCounter();

}  // namespace ledgerkit
