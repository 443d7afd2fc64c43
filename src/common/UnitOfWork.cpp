#include "common/UnitOfWork.h"

#include <filesystem>

#include "common/Convert.h"
#include "common/DataAccess.h"

namespace ledgerkit {

namespace {

thread_local std::vector<UnitOfWork*> active_units;

// Two spellings of the same file join the same unit: the key is the normalised absolute path.
std::string UnitKey(const Variant& account) {
  const std::string path = ToText(account);
  std::error_code error;
  const auto canonical = std::filesystem::weakly_canonical(std::filesystem::path(path), error);
  return error ? path : canonical.string();
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
      connection_->ExecuteControl("SAVEPOINT ledgerkit_unit;");
      savepoint_ = true;
    }
  } else {
    own_connection_ = OpenEngine(BuildConnectionString(account));
    connection_ = own_connection_.get();
    connection_->ExecuteControl(access == Access::kWrite ? "BEGIN IMMEDIATE;" : "BEGIN;");
  }
  active_units.push_back(this);
}

UnitOfWork::~UnitOfWork() {
  if (!finished_) RollBack();
  active_units.pop_back();
}

void UnitOfWork::KeepAfterRollback(std::function<void(EngineConnection&)> action) {
  kept_.push_back(std::move(action));
}

void UnitOfWork::Commit() {
  if (outer_ != nullptr) {
    if (savepoint_) connection_->ExecuteControl("RELEASE ledgerkit_unit;");
  } else {
    connection_->ExecuteControl("COMMIT;");
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
      if (savepoint_) connection_->ExecuteControl("ROLLBACK TO ledgerkit_unit; RELEASE ledgerkit_unit;");
      for (auto& action : kept_) action(*connection_);
      for (auto& action : kept_) outer_->kept_.push_back(std::move(action));
      return;
    }
    connection_->ExecuteControl("ROLLBACK;");
    if (kept_.empty()) return;
    // Numbers handed out during the failed call stay consumed: record them again on their own.
    connection_->ExecuteControl("BEGIN IMMEDIATE;");
    for (auto& action : kept_) action(*connection_);
    connection_->ExecuteControl("COMMIT;");
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
    own_ = OpenEngine(BuildConnectionString(account));
    connection_ = own_.get();
  }
}

}  // namespace ledgerkit
