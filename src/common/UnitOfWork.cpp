#include "common/UnitOfWork.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "common/CallLimits.h"
#include "common/ConnectionCache.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/DataAccess.h"
#include "common/EngineDriver.h"
#include "common/ProcessId.h"
#include "ledgerkit/common/Error.h"

namespace ledgerkit {

namespace {

std::atomic<int64_t> writer_wait_limit_ms{60'000};

// The threads of this process waiting to write one file, served in ticket order. A waiter that
// gives up leaves its ticket behind to be skipped.
struct FileQueue {
  uint64_t next_ticket = 0;
  uint64_t serving = 0;
  std::set<uint64_t> abandoned;
  size_t users = 0;  // the holder and the waiters
  std::condition_variable turn;
};

struct Queues {
  std::mutex mutex;
  std::map<std::string, FileQueue> by_file;
  pid_t owner = CurrentProcessId();
};

// Never destroyed: a writer may still finish while the process exits.
Queues& queues() {
  static Queues* const all = new Queues;
  return *all;
}

[[noreturn]] void ThrowWaitedTooLong(const EngineConnection& connection, const std::string& key,
                                     std::chrono::milliseconds limit) {
  const int64_t ms = limit.count();
  const std::string waited = ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
  throw connection.BusyError("database is locked: waited " + waited + " for another writer to finish with " + key);
}

// Byte 0 of the lock file is the entry, byte 1 the turn. A waiter first holds the entry, then
// waits for the turn and lets the entry go: a writer that has just finished must pass the entry
// before it can write again, so the waiter already holding it always comes first.
constexpr off_t kEntryByte = 0;
constexpr off_t kTurnByte = 1;

// Sets (F_WRLCK) or clears (F_UNLCK) this descriptor's lock on `count` bytes from `byte` without
// waiting, all of them or none; false when another holder has any of them.
bool SetByteLock(int fd, off_t byte, short type, off_t count = 1) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = count;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool TryLockByte(int fd, off_t byte) { return SetByteLock(fd, byte, F_WRLCK); }

// The entry and the turn at once, as a writer that finds both free would take them one by one.
static_assert(kTurnByte == kEntryByte + 1);
bool TryLockEntryAndTurn(int fd) { return SetByteLock(fd, kEntryByte, F_WRLCK, 2); }

void UnlockByte(int fd, off_t byte) { static_cast<void>(SetByteLock(fd, byte, F_UNLCK)); }

// Waits for the byte, polling with a growing pause; false at the deadline.
bool LockByteBy(int fd, off_t byte, std::chrono::steady_clock::time_point deadline) {
  auto pause = std::chrono::microseconds(50);
  while (!TryLockByte(fd, byte)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(2));
  }
  return true;
}

thread_local std::vector<UnitOfWork*> active_units;

// Two spellings of one company join the same unit: the key is the one its driver gives (a
// file's normalised absolute path, a server URI's one scheme).
std::string UnitKey(const Variant& account) {
  const std::string path = CompanyPath(account);
  return DriverForAccount(path).unit_key(path);
}

}  // namespace

std::chrono::milliseconds WriterWaitLimit() { return std::chrono::milliseconds(writer_wait_limit_ms.load()); }

void SetWriterWaitLimit(std::chrono::milliseconds limit) { writer_wait_limit_ms.store(limit.count()); }

WriterTurn::WriterTurn(const std::string& key, EngineConnection& connection) : key_(key) {
  const auto limit = WriterWaitLimit();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  Queues& all = queues();
  {
    std::unique_lock lock(all.mutex);
    if (all.owner != CurrentProcessId()) {
      // A child of fork: whatever its parent's threads held is not held here. The parent's
      // queues are left as they are (never destroyed: their condition variables may show
      // waiters that do not exist in this process).
      (void)new std::map<std::string, FileQueue>(std::move(all.by_file));
      all.by_file.clear();
      all.owner = CurrentProcessId();
    }
    FileQueue& queue = all.by_file[key_];
    ++queue.users;
    const uint64_t ticket = queue.next_ticket++;
    if (!queue.turn.wait_until(lock, deadline, [&] { return queue.serving == ticket; })) {
      queue.abandoned.insert(ticket);
      if (--queue.users == 0) all.by_file.erase(key_);
      ThrowWaitedTooLong(connection, key_, limit);
    }
  }
  // A company on a server (its key a URI: a file's key is a canonical path, where "://" cannot
  // occur) has no file to put a lock file beside; the server's company lock queues its writers
  // across processes.
  if (key_.find("://") != std::string::npos) return;
  // The company file itself is never opened here: closing any descriptor of it would drop the
  // engine's own locks on it in this process.
  const std::string lock_path = key_ + "-lock";
  // A caller not trusted with links gets no lock file reached through one (a link that points
  // elsewhere would otherwise be opened, or made at its target).
  // A file kept open by a caller trusted with links is opened again for one that is not.
  const bool refuse_links = CurrentCallLimits().refuse_links;
  EngineConnection::KeptLockFile& kept = connection.writer_lock;
  if (kept.fd >= 0 && refuse_links && !kept.no_links) {
    ::close(kept.fd);
    kept.fd = -1;
  }
  if (kept.fd < 0) {
    const int no_links = refuse_links ? O_NOFOLLOW : 0;
    kept.fd = ::open(lock_path.c_str(), O_RDWR | O_CLOEXEC | no_links);
    if (kept.fd < 0 && errno == ENOENT && connection.WritersQueueBesideFile()) {
      kept.fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | no_links, 0644);
    }
    kept.no_links = refuse_links;
  }
  lock_fd_ = kept.fd;
  if (lock_fd_ < 0) return;  // cannot be created here: only this process's threads queue
  if (TryLockEntryAndTurn(lock_fd_)) {
    UnlockByte(lock_fd_, kEntryByte);
    return;
  }
  if (LockByteBy(lock_fd_, kEntryByte, deadline)) {
    const bool turn = LockByteBy(lock_fd_, kTurnByte, deadline);
    UnlockByte(lock_fd_, kEntryByte);
    if (turn) return;
  }
  Release();
  ThrowWaitedTooLong(connection, key_, limit);
}

WriterTurn::~WriterTurn() { Release(); }

EngineConnection::KeptLockFile::~KeptLockFile() {
  if (fd >= 0) ::close(fd);
}

void WriterTurn::Release() noexcept {
  // The entry byte is never held past the constructor; the descriptor stays with the connection.
  if (lock_fd_ >= 0) UnlockByte(lock_fd_, kTurnByte);
  lock_fd_ = -1;
  Queues& all = queues();
  std::lock_guard lock(all.mutex);
  if (all.owner != CurrentProcessId()) return;
  const auto found = all.by_file.find(key_);
  if (found == all.by_file.end()) return;
  FileQueue& queue = found->second;
  ++queue.serving;
  while (queue.abandoned.erase(queue.serving) > 0) ++queue.serving;
  if (--queue.users == 0) {
    all.by_file.erase(found);
  } else {
    queue.turn.notify_all();
  }
}

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
      connection_->Savepoint();
      savepoint_ = true;
    }
  } else {
    own_connection_ = TakeConnection(account, key_);
    connection_ = own_connection_.get();
    try {
      if (access == Access::kWrite) turn_ = std::make_unique<WriterTurn>(key_, *connection_);
      connection_->Begin(access);
      if (access == Access::kWrite) connection_->LockCompany();
    } catch (...) {
      turn_.reset();
      ReturnConnection(key_, std::move(own_connection_));
      throw;
    }
    if (access == Access::kWrite && CurrentCallLimits().before_write) {
      try {
        CurrentCallLimits().before_write(account);
      } catch (...) {
        try {
          connection_->Rollback();
        } catch (...) {
          // The refusal is what the caller hears; a connection that cannot roll back is closed.
        }
        turn_.reset();
        ReturnConnection(key_, std::move(own_connection_));
        throw;
      }
    }
  }
  active_units.push_back(this);
}

UnitOfWork::UnitOfWork(const Variant& account, EngineConnection& connection)
    : key_(UnitKey(account)), connection_(&connection), finished_(true) {
  // Finished from the start: the caller ends the transaction. What nested units keep after a
  // rollback is not replayed either: a company that is not made has nothing to keep.
  active_units.push_back(this);
}

void UnitOfWork::RunOnNewCompany(const Variant& account, EngineConnection& connection,
                                 const std::function<void()>& body) {
  UnitOfWork unit(account, connection);
  body();
}

UnitOfWork::~UnitOfWork() {
  if (!finished_) RollBack();
  active_units.pop_back();
  // The turn goes before the connection, which may be closed on its return, its lock file too.
  turn_.reset();
  if (own_connection_) ReturnConnection(key_, std::move(own_connection_));
}

void UnitOfWork::KeepAfterRollback(std::function<void(EngineConnection&)> action) {
  kept_.push_back(std::move(action));
}

void UnitOfWork::Commit() {
  if (outer_ != nullptr) {
    if (savepoint_) connection_->ReleaseSavepoint();
  } else {
    connection_->Commit();
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
      if (savepoint_) connection_->RollbackToSavepoint();
      for (auto& action : kept_) action(*connection_);
      for (auto& action : kept_) outer_->kept_.push_back(std::move(action));
      return;
    }
    connection_->Rollback();
    if (kept_.empty()) return;
    // Numbers handed out during the failed call stay consumed: record them again on their own.
    connection_->Begin(Access::kWrite);
    connection_->LockCompany();
    for (auto& action : kept_) action(*connection_);
    connection_->Commit();
  } catch (...) {
    // The error that caused the rollback is the one the caller receives. If the rollback itself
    // failed, the engine undoes the transaction when the connection closes.
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
