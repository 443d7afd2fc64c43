// The engine interface's entry points: each passes a connection string to the driver its
// leading text names.
#include "common/Engine.h"

#include "common/EngineDriver.h"
#include "ledgerkit/common/Error.h"
#include "common/Text.h"

namespace ledgerkit {

namespace {

const EngineDriver& DriverFor(std::string_view connection_string) {
  for (const EngineDriver* driver : {&SqliteDriver(), &PostgresDriver(), &PostgresShortDriver()}) {
    if (connection_string.starts_with(driver->prefix)) return *driver;
  }
  throw Error::Runtime(kInvalidArgument,
                       "The connection string " + QuoteForMessage(connection_string) + " names no known driver.");
}

}  // namespace

std::unique_ptr<EngineConnection> OpenEngine(std::string_view connection_string) {
  const EngineDriver& driver = DriverFor(connection_string);
  return driver.open(connection_string.substr(driver.prefix.size()));
}

void CreateEngineDatabase(std::string_view connection_string, const Catalog& catalog,
                          const std::function<void()>& first_rows) {
  const EngineDriver& driver = DriverFor(connection_string);
  driver.create(connection_string.substr(driver.prefix.size()), catalog, first_rows);
}

const EngineDialect& EngineDialectFor(std::string_view connection_string) {
  return DriverFor(connection_string).dialect;
}

std::atomic<uint64_t>& EngineStatementCounter() {
  static std::atomic<uint64_t> count{0};
  return count;
}

uint64_t EngineStatementsRun() { return EngineStatementCounter().load(std::memory_order_relaxed); }

}  // namespace ledgerkit
