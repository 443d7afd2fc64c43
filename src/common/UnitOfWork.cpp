#include "common/UnitOfWork.h"

#include <filesystem>

#include "common/ConnectionCache.h"
#include "common/Convert.h"

namespace ledgerkit {

namespace {

thread_local std::vector<UnitOfWork*> active_units;

// Two spellings of the same file join the same unit: the key is the normalised absolute path.
// The last few spellings seen on this thread are remembered, since every step of an operation
// asks for its unit.
std::string UnitKey(const Variant& account) {
  thread_local std::vector<std::pair<std::string, std::string>> recent;
  std::string path = ToText(account);
  for (const auto& [spelling, key] : recent) {
    if (spelling == path) return key;
  }
  std::error_code error;
  const auto canonical = std::filesystem::weakly_canonical(std::filesystem::path(path), error);
  std::string key = error ? path : canonical.string();
  recent.insert(recent.begin(), {std::move(path), key});
  if (recent.size() > 8) recent.pop_back();
  return key;
}

// Runs one transaction-control statement, compiled once per connection.
void Control(EngineConnection& connection, std::string_view sql) {
  const auto statement = connection.Prepare(sql);
  while (statement->Step()) {
  }
}

}  // namespace

UnitOfWork* UnitOfWork::Active(const Variant& account) {
  if (active_units.empty()) return nullptr;
  const std::string key = UnitKey(account);
  for (auto it = active_units.rbegin(); it != active_units.rend(); ++it) {
    if ((*it)->key_ == key) return *it;
  }
  return nullptr;
}

UnitOfWork::UnitOfWork(const Variant& account, Access access) : key_(UnitKey(account)) {
  outer_ = Active(account);
  if (outer_ != nullptr) {
    connection_ = outer_->connection_;
    if (access == Access::kWrite) {
      Control(*connection_, "SAVEPOINT ledgerkit_unit;");
      savepoint_ = true;
    }
  } else {
    own_connection_ = TakeConnection(account, key_);
    connection_ = own_connection_.get();
    try {
      Control(*connection_, access == Access::kWrite ? "BEGIN IMMEDIATE;" : "BEGIN;");
    } catch (...) {
      ReturnConnection(key_, std::move(own_connection_));
      throw;
    }
  }
  active_units.push_back(this);
}

UnitOfWork::~UnitOfWork() {
  if (!finished_) RollBack();
  active_units.pop_back();
  if (own_connection_) ReturnConnection(key_, std::move(own_connection_));
}

void UnitOfWork::KeepAfterRollback(std::function<void(EngineConnection&)> action) {
  kept_.push_back(std::move(action));
}

void UnitOfWork::Commit() {
  if (outer_ != nullptr) {
    if (savepoint_) Control(*connection_, "RELEASE ledgerkit_unit;");
  } else {
    Control(*connection_, "COMMIT;");
  }
  finished_ = true;
  // What was kept here must also survive a later rollback of the unit around this one.
  if (outer_ != nullptr) {
    for (auto& action : kept_) outer_->kept_.push_back(std::move(action));
  }
}

void UnitOfWork::RollBack() noexcept {
  finished_ = true;
  try {
    if (outer_ != nullptr) {
      if (savepoint_) {
        Control(*connection_, "ROLLBACK TO ledgerkit_unit;");
        Control(*connection_, "RELEASE ledgerkit_unit;");
      }
      for (auto& action : kept_) action(*connection_);
      for (auto& action : kept_) outer_->kept_.push_back(std::move(action));
      return;
    }
    Control(*connection_, "ROLLBACK;");
    if (kept_.empty()) return;
    // Numbers handed out during the failed call stay consumed: record them again on their own.
    Control(*connection_, "BEGIN IMMEDIATE;");
    for (auto& action : kept_) action(*connection_);
    Control(*connection_, "COMMIT;");
  } catch (...) {
    // The error that caused the rollback is the one the caller receives. If the rollback itself
    // failed, SQLite has already undone the transaction when the connection closes.
  }
}

ConnectionScope::ConnectionScope(const Variant& account) {
  unit_ = UnitOfWork::Active(account);
  if (unit_ != nullptr) {
    connection_ = &unit_->connection();
  } else {
    key_ = UnitKey(account);
    own_ = TakeConnection(account, key_);
    connection_ = own_.get();
  }
}

ConnectionScope::~ConnectionScope() {
  if (own_) ReturnConnection(key_, std::move(own_));
}

}  // namespace ledgerkit
