// UnitOfWork: one connection and one SQLite transaction per outermost public operation.
//
// The outermost Run on an Account opens the connection and begins (BEGIN IMMEDIATE for
// writers, a deferred read transaction otherwise); it commits when the body returns and rolls
// back when it throws, so a failed call leaves the file exactly as it was. A Run on the same
// Account on the same thread while one is active joins it and sees its uncommitted rows; a
// joining writer runs under a savepoint, so its own failure undoes only its own statements.
// Actions registered with KeepAfterRollback (numbers handed out) are replayed after any
// rollback, so what they record stays consumed. Units are thread-local; nothing outlives the
// outermost call but its idle connection, kept per thread (common/ConnectionCache.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "common/Engine.h"
#include "common/Variant.h"

namespace ledgerkit {

enum class Access { kRead, kWrite };

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
  void Commit();
  void RollBack() noexcept;

  std::string key_;
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

 private:
  std::string key_;
  std::unique_ptr<EngineConnection> own_;
  UnitOfWork* unit_ = nullptr;
  EngineConnection* connection_ = nullptr;
};

}  // namespace ledgerkit
