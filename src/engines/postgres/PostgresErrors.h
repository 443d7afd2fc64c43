// Library-internal, shared by the files of the PostgreSQL engine only: the one place a server's
// answer becomes an Error (ThrowResult), and how a server's error is recognised again. The error
// numbers themselves (PostgresErrorNumber, PostgresError) are declared in PostgresEngine.h.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <string_view>

#include "ledgerkit/common/Error.h"

namespace ledgerkit::postgres {

// A server's answer, cleared when it goes.
using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// True when `result` is no success: null (the session was lost), or an error.
bool Failed(const PGresult* result);

// Throws the error a failed server answer (or a lost session, `result` null or not) stands for:
// the server's SQLSTATE and primary message, or for a failure of libpq's own, class 08 with
// libpq's words on one line.
[[noreturn]] void ThrowResult(PGconn* conn, const PGresult* result);

// libpq's own text runs over several lines ("FATAL: ...\nserver closed the connection ...",
// "... Connection refused\n\tIs the server running ...?"): one line, as every description is.
std::string OneLine(std::string_view text);

// True when `error` is the server's of the SQLSTATE `sqlstate` (PostgresError keeps it in the
// description's end).
bool HasSqlstate(const Error& error, std::string_view sqlstate);

}  // namespace ledgerkit::postgres
