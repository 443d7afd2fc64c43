// Library-internal, shared by the files of the PostgreSQL engine only: one server connection
// (Session) with the statements prepared on it, and the process's pool of idle sessions.
//
// Every company of one server, database and user shares the same sessions, each pointed at a
// company by its search path when handed out. A process therefore holds at most
// kIdleSessionsPerServer idle sessions per server, plus one per connection in use or kept by the
// connection cache (common/ConnectionCache.cpp), however many companies it serves. A session is
// used by one thread at a time: the pool hands it to one connection, which gives it back.
#pragma once

#include <libpq-fe.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "engines/postgres/PostgresEngine.h"
#include "engines/postgres/PostgresErrors.h"
#include "engines/postgres/PostgresSqlText.h"

namespace ledgerkit::postgres {

// Counts one statement run, as the engines' shared counter counts them (EngineStatementCounter).
void CountStatementRun();

// A statement prepared on a session under a name of its own.
struct Prepared {
  std::string text;  // as the server was sent it
  std::string name;
  StatementText sql;
  bool untyped = false;  // the server could not tell a parameter's type: sent with the values' types
  std::shared_ptr<PGresult> shape;  // the result columns, as the server described them
};

// What the server says of a table's column, for result column descriptions.
struct ColumnOrigin {
  std::string table;
  std::string column;
  bool not_null = false;
};

// One server connection. Statements prepared on it are kept by text in a bounded list, the
// least recently used going first (never one a live statement still holds).
class Session {
 public:
  Session(PGconn* conn, std::string server);
  // Closes the connection, unless this process is a child of fork of the one that opened it.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  PGconn* conn() const { return conn_; }
  const std::string& server() const { return server_; }
  // True when the session can be handed out again: connected, no transaction open, this
  // process's own.
  bool Usable() const;
  // False once the server has closed the idle session (it crashed, restarted or ended it): an
  // idle session has nothing to read, so a readable socket is the server's last word or its
  // end. Reads what the server sent meanwhile; costs no round trip.
  bool StillConnected();

  // Runs a text of statements (the simple protocol); the result, checked.
  Result Run(std::string_view sql);

  // Points the session at the company's schema.
  void UseCompany(const std::string& company);

  // The library's statement `sql`, rendered with the server's markers (of which it holds
  // `markers`), prepared once per session, then found again by its text. A statement whose
  // markers' types the server cannot tell is kept unprepared, to run with the values' types.
  std::shared_ptr<Prepared> Prepare(std::string_view sql, int markers);

  // Prepares a statement kept by nobody (a report's, its text as the caller wrote it), under a
  // name of its own: the unnamed statement is the one every PQexecParams replaces.
  std::shared_ptr<Prepared> PrepareOnce(StatementText sql);

  // Statements kept idle: those no live statement holds, as the other engine counts them.
  size_t CachedCount() const;

  // Where the column `attribute` of the table `table` comes from; nullptr for none.
  const ColumnOrigin* Origin(Oid table, int attribute);

  // After a lost session: a new one to the same server, set up as the old one was and pointed
  // at the same company; nothing is prepared on it yet. False when the server cannot be reached.
  bool Reconnect();

  // The session settings the engine reads and writes by.
  void Setup();

 private:
  // Lets go of the least recently used statements beyond the bound.
  void Trim();

  PGconn* conn_;
  std::string server_;
  pid_t owner_;
  std::string search_path_;
  uint64_t named_ = 0;
  std::list<std::shared_ptr<Prepared>> recent_;  // most recently used first
  std::map<std::string, std::list<std::shared_ptr<Prepared>>::iterator, std::less<>> index_;
  std::map<std::pair<Oid, int>, ColumnOrigin> origins_;
  std::set<Oid> described_;
};

// An idle session to the server `target` names, or a new one (set up by Setup); class 08 with
// libpq's words and the URI (its password hidden) when the server cannot be reached.
std::unique_ptr<Session> TakeSession(const PostgresTarget& target);
// Keeps a session for the next TakeSession of its server when it is usable and the pool has
// room; closes it otherwise.
void GiveSession(std::unique_ptr<Session> session);

}  // namespace ledgerkit::postgres
