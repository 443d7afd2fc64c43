#include "engines/postgres/PostgresPlainConnection.h"

#include <libpq-fe.h>

#include <memory>

#include "engines/postgres/PostgresEngine.h"
#include "engines/postgres/PostgresErrors.h"
#include "ledgerkit/common/ErrorNumbers.h"

namespace ledgerkit {

PostgresPlainConnection::PostgresPlainConnection(const std::string& uri, std::string place, std::string missing_schema)
    : conn_(PQconnectdb(uri.c_str())), place_(std::move(place)), missing_schema_(std::move(missing_schema)) {
  if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
    const std::string why = conn_ == nullptr ? "out of memory" : postgres::OneLine(PQerrorMessage(conn_));
    PQfinish(conn_);
    throw PostgresError("08006", place_ + " cannot be reached: " + why);
  }
  PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
}

PostgresPlainConnection::~PostgresPlainConnection() { PQfinish(conn_); }

bool PostgresPlainConnection::Usable() const {
  return PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE;
}

PostgresPlainConnection::Rows PostgresPlainConnection::Run(std::string_view sql, const std::vector<std::string>& values) {
  std::vector<const char*> pointers;
  for (const std::string& value : values) pointers.push_back(value.c_str());
  const std::string text(sql);
  const postgres::Result result(values.empty() ? PQexec(conn_, text.c_str())
                                               : PQexecParams(conn_, text.c_str(), static_cast<int>(values.size()),
                                                              nullptr, pointers.data(), nullptr, nullptr, 0),
                                &PQclear);
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
    Rows rows(static_cast<size_t>(PQntuples(result.get())));
    for (size_t row = 0; row < rows.size(); ++row) {
      for (int column = 0; column < PQnfields(result.get()); ++column) {
        rows[row].emplace_back(PQgetvalue(result.get(), static_cast<int>(row), column));
      }
    }
    return rows;
  }
  const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
  const std::string sqlstate = state != nullptr ? state : "08006";
  const std::string message = postgres::OneLine(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn_));
  if (PQtransactionStatus(conn_) == PQTRANS_INERROR) PQclear(PQexec(conn_, "ROLLBACK"));
  if (!missing_schema_.empty() && (sqlstate == "42P01" || sqlstate == "3F000")) {
    throw Error::Runtime(kInvalidArgument, missing_schema_);
  }
  throw PostgresError(sqlstate, place_ + ": " + message);
}

}  // namespace ledgerkit
