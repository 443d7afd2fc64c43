// UnitOfWork: one connection and one engine transaction per outermost public operation.
//
// The outermost Run on an Account opens the connection and begins (a write transaction that
// takes the company lock, EngineConnection::LockCompany, for writers; a read transaction
// otherwise); it commits when the body returns and rolls back when it throws, so a failed call leaves the file exactly as it was. A Run on the same
// Account on the same thread while one is active joins it and sees its uncommitted rows; a
// joining writer runs under a savepoint, so its own failure undoes only its own statements.
// Actions registered with KeepAfterRollback (numbers handed out) are replayed after any
// rollback, so what they record stays consumed. Units are thread-local; nothing outlives the
// outermost call but its idle connection, kept per thread (common/ConnectionCache.h).
//
// Writers queue: the outermost write unit waits for its turn on the file (WriterTurn) before it
// begins and keeps it until its transaction, and any replay of kept actions, is over.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "common/Engine.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

// The right to write the file `key` (a normalised path, as units use) names, held from
// construction to destruction; `connection` is open on that file. Writers wait in order of
// arrival among the threads of this process; across processes a lock on the file "<key>-lock"
// beside the company file passes the turn on, each waiter in turn. The lock file is created on
// demand, and only where the engine says its writers queue beside the file
// (EngineConnection::WritersQueueBesideFile: a company file, never a file that is none, never a
// server). Where it cannot be created (a read-only directory) only the threads of this process
// queue: writing fails there anyway.
// A writer still waiting after WriterWaitLimit() fails with the engine's busy error
// (EngineConnection::BusyError; SQLite: SQLITE_BUSY) naming the file and how long it waited.
// Not reentrant: a unit nested on the same thread joins the outer unit instead of taking a
// second turn.
class WriterTurn {
 public:
  WriterTurn(const std::string& key, EngineConnection& connection);
  ~WriterTurn();
  WriterTurn(const WriterTurn&) = delete;
  WriterTurn& operator=(const WriterTurn&) = delete;

 private:
  void Release() noexcept;

  std::string key_;
  int lock_fd_ = -1;  // the connection's kept lock file, holding the turn byte
};

// How long a writer waits for its turn before giving up (60 s unless changed). A holder that
// makes progress never keeps a writer waiting that long; one that does is stuck.
std::chrono::milliseconds WriterWaitLimit();
void SetWriterWaitLimit(std::chrono::milliseconds limit);

class UnitOfWork {
 public:
  // Runs `body` as one unit of work on `account` and returns what it returns.
  template <class Body>
  static auto Run(const Variant& account, Access access, Body&& body) {
    UnitOfWork unit(account, access);
    if constexpr (std::is_void_v<std::invoke_result_t<Body&>>) {
      body();
      unit.Commit();
    } else {
      auto result = body();
      unit.Commit();
      return result;
    }
  }

  // Runs `body` with `connection` as the outermost unit on `account` on this thread: the
  // connection of a company being made, whose transaction (begun by the caller) holds the new
  // schema, possibly in a file under another name. Units on `account` inside `body` join that
  // transaction as they join an outer unit (a writer under a savepoint), so the first rows are
  // written in the transaction that makes the company. Nothing is committed or rolled back here:
  // the caller ends the transaction, and a failure of `body` is passed on.
  static void RunOnNewCompany(const Variant& account, EngineConnection& connection, const std::function<void()>& body);

  // The innermost unit active on this thread for the file `account` names, or nullptr.
  static UnitOfWork* Active(const Variant& account);

  EngineConnection& connection() { return *connection_; }

  // Records an idempotent action that must hold even if this unit (or one around it) rolls
  // back. It runs again, on the same connection, after every rollback that would undo it.
  void KeepAfterRollback(std::function<void(EngineConnection&)> action);

  UnitOfWork(const UnitOfWork&) = delete;
  UnitOfWork& operator=(const UnitOfWork&) = delete;
  ~UnitOfWork();

 private:
  UnitOfWork(const Variant& account, Access access);
  UnitOfWork(const Variant& account, EngineConnection& connection);
  void Commit();
  void RollBack() noexcept;

  std::string key_;
  std::unique_ptr<WriterTurn> turn_;  // only the outermost write unit holds one, until it ends
  UnitOfWork* outer_ = nullptr;
  std::unique_ptr<EngineConnection> own_connection_;  // only the outermost unit owns one
  EngineConnection* connection_ = nullptr;
  bool savepoint_ = false;
  bool finished_ = false;
  std::vector<std::function<void(EngineConnection&)>> kept_;
};

// The connection one data-access step uses: the active unit's on this Account, or a
// connection of its own (given back to the thread's connection cache when the scope ends)
// when no unit is active.
class ConnectionScope {
 public:
  explicit ConnectionScope(const Variant& account);
  ~ConnectionScope();
  ConnectionScope(const ConnectionScope&) = delete;
  ConnectionScope& operator=(const ConnectionScope&) = delete;
  EngineConnection& connection() { return *connection_; }
  // True when the scope uses the active unit's connection.
  bool joined() const { return unit_ != nullptr; }
  // The normalised path of the file (set only when the scope did not join a unit).
  const std::string& key() const { return key_; }

 private:
  std::string key_;
  std::unique_ptr<EngineConnection> own_;
  UnitOfWork* unit_ = nullptr;
  EngineConnection* connection_ = nullptr;
};

}  // namespace ledgerkit
