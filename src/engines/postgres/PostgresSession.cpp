// The PostgreSQL engine's sessions (PostgresSession.h): one server connection with its prepared
// statements, and the pool of idle ones shared by the process's threads.
#include "engines/postgres/PostgresSession.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "common/Engine.h"
#include "common/EngineDriver.h"
#include "common/ProcessId.h"

namespace ledgerkit {

namespace {

std::atomic<size_t> sessions_open{0};

}  // namespace

size_t PostgresSessionsOpen() { return sessions_open.load(); }

namespace postgres {

namespace {

// Idle sessions kept per server (database and user) for the next connection to any of its
// companies; one given back beyond it is closed.
constexpr size_t kIdleSessionsPerServer = 4;
// Statements prepared on a session and kept for reuse, as the SQLite engine's bound.
constexpr size_t kCachedStatementLimit = 96;
// What libpq reports a session as when nothing tells it otherwise.
constexpr const char* kApplicationName = "ledgerkit";

// Asks the server for the shape of the rows of a prepared statement, once per preparation.
void Describe(PGconn* conn, Prepared& prepared) {
  PGresult* shape = PQdescribePrepared(conn, prepared.name.c_str());
  if (Failed(shape)) {
    Result failed(shape, &PQclear);
    ThrowResult(conn, failed.get());
  }
  prepared.shape.reset(shape, &PQclear);
}

}  // namespace

void CountStatementRun() { EngineStatementCounter().fetch_add(1, std::memory_order_relaxed); }

Session::Session(PGconn* conn, std::string server)
    : conn_(conn), server_(std::move(server)), owner_(CurrentProcessId()) {
  ++sessions_open;
}

Session::~Session() {
  // A child of fork shares the parent's socket: closing it politely would end the parent's.
  if (owner_ == CurrentProcessId()) PQfinish(conn_);
  --sessions_open;
}

bool Session::Usable() const {
  return owner_ == CurrentProcessId() && PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE;
}

bool Session::StillConnected() {
  // What the server sent meanwhile is read until nothing more is waiting: a notice or a
  // parameter's new value, forgotten; or a closing message (a shutdown's) and then the end of
  // input, which leaves the session bad. A few rounds at most: a server that keeps sending is
  // taken as gone.
  for (int round = 0; round < 8; ++round) {
    if (!Usable()) return false;
    pollfd readable{PQsocket(conn_), POLLIN, 0};
    if (::poll(&readable, 1, 0) <= 0) return true;
    if (PQconsumeInput(conn_) == 0) return false;
    while (PGnotify* notice = PQnotifies(conn_)) PQfreemem(notice);
  }
  return false;
}

Result Session::Run(std::string_view sql) {
  CountStatementRun();
  const std::string text(sql);
  Result result(PQexec(conn_, text.c_str()), &PQclear);
  if (Failed(result.get())) ThrowResult(conn_, result.get());
  return result;
}

void Session::UseCompany(const std::string& company) {
  if (company == search_path_) return;
  search_path_.clear();
  Run("SET search_path TO " + company + ", pg_catalog");
  search_path_ = company;
}

std::shared_ptr<Prepared> Session::Prepare(std::string_view sql, int markers) {
  if (const auto found = index_.find(sql); found != index_.end()) {
    recent_.splice(recent_.begin(), recent_, found->second);
    return *found->second;
  }
  auto prepared = std::make_shared<Prepared>();
  prepared->text = sql;
  prepared->sql = LibraryText(std::string(sql), markers);
  prepared->name = "lk_" + std::to_string(++named_);
  Result result(PQprepare(conn_, prepared->name.c_str(), prepared->sql.text.c_str(), 0, nullptr), &PQclear);
  if (Failed(result.get())) {
    const char* state = result != nullptr ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
    // A marker whose type nothing around it tells (`? IS NULL`, `?2 - ?1`): the values' types
    // tell it, at each run.
    if (state == nullptr || (std::string_view(state) != "42P18" && std::string_view(state) != "42725")) {
      ThrowResult(conn_, result.get());
    }
    prepared->untyped = true;
  } else {
    Describe(conn_, *prepared);
  }
  recent_.push_front(prepared);
  index_.emplace(std::string(sql), recent_.begin());
  Trim();
  return prepared;
}

std::shared_ptr<Prepared> Session::PrepareOnce(StatementText sql) {
  auto prepared = std::make_shared<Prepared>();
  prepared->text = sql.text;
  prepared->sql = std::move(sql);
  prepared->name = "lk_once_" + std::to_string(++named_);
  Result result(PQprepare(conn_, prepared->name.c_str(), prepared->sql.text.c_str(), 0, nullptr), &PQclear);
  if (Failed(result.get())) ThrowResult(conn_, result.get());
  Describe(conn_, *prepared);
  return prepared;
}

size_t Session::CachedCount() const {
  return static_cast<size_t>(std::count_if(recent_.begin(), recent_.end(),
                                           [](const std::shared_ptr<Prepared>& p) { return p.use_count() == 1; }));
}

const ColumnOrigin* Session::Origin(Oid table, int attribute) {
  if (table == InvalidOid || attribute <= 0) return nullptr;
  if (!described_.contains(table)) {
    described_.insert(table);
    const std::string id = std::to_string(table);
    const char* values[] = {id.c_str()};
    Result result(PQexecParams(conn_,
                               "SELECT c.relname, a.attnum, a.attname, a.attnotnull FROM pg_catalog.pg_attribute a "
                               "JOIN pg_catalog.pg_class c ON c.oid=a.attrelid WHERE a.attrelid=$1::oid AND a.attnum>0",
                               1, nullptr, values, nullptr, nullptr, 0),
                  &PQclear);
    if (!Failed(result.get())) {
      for (int row = 0; row < PQntuples(result.get()); ++row) {
        origins_[{table, std::atoi(PQgetvalue(result.get(), row, 1))}] =
            ColumnOrigin{PQgetvalue(result.get(), row, 0), PQgetvalue(result.get(), row, 2),
                         PQgetvalue(result.get(), row, 3)[0] == 't'};
      }
    }
  }
  const auto found = origins_.find({table, attribute});
  return found == origins_.end() ? nullptr : &found->second;
}

bool Session::Reconnect() {
  const std::string company = search_path_;
  PQreset(conn_);
  recent_.clear();
  index_.clear();
  origins_.clear();
  described_.clear();
  search_path_.clear();
  if (PQstatus(conn_) != CONNECTION_OK) return false;
  Setup();
  if (!company.empty()) UseCompany(company);
  return true;
}

void Session::Setup() { Run("SET DateStyle TO ISO, YMD; SET IntervalStyle TO postgres; SET client_min_messages TO warning;"); }

void Session::Trim() {
  for (auto it = recent_.end(); recent_.size() > kCachedStatementLimit && it != recent_.begin();) {
    --it;
    if (it->use_count() > 1) continue;  // a statement still uses it
    const std::string name = (*it)->name;
    // A statement the server could not type was never made there: there is nothing to drop, and
    // dropping a name the server does not know would fail the transaction in progress.
    const bool on_server = !(*it)->untyped;
    for (auto entry = index_.begin(); entry != index_.end(); ++entry) {
      if (entry->second == it) {
        index_.erase(entry);
        break;
      }
    }
    it = recent_.erase(it);
    if (on_server && PQtransactionStatus(conn_) != PQTRANS_INERROR) {
      Result ignored(PQexec(conn_, ("DEALLOCATE " + name).c_str()), &PQclear);
    }
  }
}

namespace {

// Idle sessions of every server, shared by the process's threads.
class SessionPool {
 public:
  std::unique_ptr<Session> Take(const PostgresTarget& target) {
    {
      std::lock_guard lock(mutex_);
      Forked();
      auto& idle = idle_[target.server];
      while (!idle.empty()) {
        std::unique_ptr<Session> session = std::move(idle.back());
        idle.pop_back();
        if (session->StillConnected()) return session;
      }
    }
    return Connect(target);
  }

  void Give(std::unique_ptr<Session> session) {
    if (!session->Usable()) return;
    std::lock_guard lock(mutex_);
    Forked();
    auto& idle = idle_[session->server()];
    idle.push_back(std::move(session));
    if (idle.size() > kIdleSessionsPerServer) idle.erase(idle.begin());
  }

 private:
  static std::unique_ptr<Session> Connect(const PostgresTarget& target) {
    const char* keywords[] = {"dbname", "fallback_application_name", "client_encoding", nullptr};
    const char* values[] = {target.uri.c_str(), kApplicationName, "UTF8", nullptr};
    PGconn* conn = PQconnectdbParams(keywords, values, 1);
    if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
      const std::string message = conn != nullptr ? OneLine(PQerrorMessage(conn)) : "out of memory";
      PQfinish(conn);
      throw PostgresError("08001", message + " (" + target.given + ")");
    }
    // Notices (a cascade's list of what it dropped) are the server's chatter, never the caller's.
    PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
    auto session = std::make_unique<Session>(conn, target.server);
    session->Setup();
    return session;
  }

  // In a child of fork the sessions are the parent's: forgotten, never closed.
  void Forked() {
    if (owner_ == CurrentProcessId()) return;
    for (auto& [server, idle] : idle_) {
      for (auto& session : idle) (void)session.release();
    }
    idle_.clear();
    owner_ = CurrentProcessId();
  }

  std::mutex mutex_;
  pid_t owner_ = CurrentProcessId();
  std::map<std::string, std::vector<std::unique_ptr<Session>>> idle_;
};

SessionPool& Pool() {
  static auto* pool = new SessionPool();  // never destroyed: threads may give sessions back at exit
  return *pool;
}

}  // namespace

std::unique_ptr<Session> TakeSession(const PostgresTarget& target) { return Pool().Take(target); }

void GiveSession(std::unique_ptr<Session> session) { Pool().Give(std::move(session)); }

}  // namespace postgres

}  // namespace ledgerkit
