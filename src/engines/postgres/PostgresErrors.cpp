// The PostgreSQL engine's errors: a server's answer turned into an Error, in the block of numbers
// of PostgresEngine.h, the whole SQLSTATE kept in the description's end.
#include "engines/postgres/PostgresErrors.h"

#include <cstdint>

#include "engines/postgres/PostgresEngine.h"

namespace ledgerkit {

namespace {

int Base36(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return 0;
}

}  // namespace

namespace postgres {

// libpq's own text runs over several lines ("FATAL: ...\nserver closed the connection ...",
// "... Connection refused\n\tIs the server running ...?"): one line, as every description is.
std::string OneLine(std::string_view text) {
  std::string line;
  for (const char c : text) {
    if (c == '\n' || c == '\t') {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += c;
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// True when `error` is the server's of the SQLSTATE `sqlstate` (PostgresError keeps it in the
// description's end).
bool HasSqlstate(const Error& error, std::string_view sqlstate) {
  return error.source() == kPostgresSource &&
         error.description().find("[SQLSTATE " + std::string(sqlstate) + "]") != std::string::npos;
}

[[noreturn]] void ThrowResult(PGconn* conn, const PGresult* result) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const char* primary = result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string message = OneLine(primary != nullptr ? primary : PQerrorMessage(conn));
  // No SQLSTATE: libpq's own failure, which is the session's loss (class 08).
  std::string sqlstate = state != nullptr ? state : "08006";
  if (state == nullptr && PQstatus(conn) == CONNECTION_OK) sqlstate = "08000";
  throw PostgresError(sqlstate, std::move(message));
}

bool Failed(const PGresult* result) {
  if (result == nullptr) return true;
  const ExecStatusType status = PQresultStatus(result);
  return status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_EMPTY_QUERY;
}

}  // namespace postgres

int32_t PostgresErrorNumber(std::string_view sqlstate) {
  const int klass = sqlstate.size() >= 2 ? Base36(sqlstate[0]) * 36 + Base36(sqlstate[1]) : 0;
  return static_cast<int32_t>(kPostgresErrorBase + static_cast<uint32_t>(klass));
}

Error PostgresError(std::string_view sqlstate, std::string message) {
  // A number out of range is the Overflow the other engine reports; a trigger's own text comes
  // without the "Overflow: " it is marked with, as there.
  if (sqlstate == "22003") {
    constexpr std::string_view kOverflowPrefix = "Overflow: ";
    if (message.starts_with(kOverflowPrefix)) message.erase(0, kOverflowPrefix.size());
    return Error::Runtime(kOverflow, std::move(message));
  }
  return Error(PostgresErrorNumber(sqlstate), std::string(kPostgresSource),
               std::move(message) + " [SQLSTATE " + std::string(sqlstate) + "]");
}

}  // namespace ledgerkit
