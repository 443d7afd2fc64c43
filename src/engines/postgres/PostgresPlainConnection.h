// A server connection for statements outside any company: the company directory's, and the
// drop of a company at a location. Not pooled with the companies' sessions (it never points at a
// company and prepares nothing); its callers keep their own few. Library-internal; declared
// without libpq's header, so that a caller outside the engine needs none.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct pg_conn;

namespace ledgerkit {

class PostgresPlainConnection {
 public:
  // Rows of a statement's answer, each column's text (a Null as the empty text).
  using Rows = std::vector<std::vector<std::string>>;

  // Connects to `uri`; messages name `place` ("The directory at URI", its password masked). When
  // `missing_schema` is given, a statement that fails because a table or schema it names does
  // not exist raises Invalid argument (5) with that text, not the server's error.
  PostgresPlainConnection(const std::string& uri, std::string place, std::string missing_schema = {});
  ~PostgresPlainConnection();
  PostgresPlainConnection(const PostgresPlainConnection&) = delete;
  PostgresPlainConnection& operator=(const PostgresPlainConnection&) = delete;

  // Connected and outside a transaction: fit to be used again.
  bool Usable() const;

  // Runs `sql` with `values` bound to $1, $2, ... as text (with no values, `sql` may hold several
  // statements) and gives the rows of its last answer. A failed statement inside a transaction
  // the text began is rolled back.
  Rows Run(std::string_view sql, const std::vector<std::string>& values = {});

 private:
  pg_conn* conn_;
  const std::string place_;
  const std::string missing_schema_;
};

}  // namespace ledgerkit
