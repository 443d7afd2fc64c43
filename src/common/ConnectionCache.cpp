#include "common/ConnectionCache.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

#include "common/CallLimits.h"
#include "common/Catalog.h"
#include "ledgerkit/common/DataAccess.h"
#include "common/DataAccessInternal.h"
#include "common/LinkCheck.h"
#include "common/ProcessId.h"

namespace ledgerkit {

namespace {

constexpr size_t kKeptPerThread = 8;

class Cache {
 public:
  ~Cache() {
    // In a child of fork the handles belong to the parent: leave them untouched.
    if (owner_ != CurrentProcessId()) Abandon();
  }

  std::unique_ptr<EngineConnection> Take(const std::string& key) {
    if (owner_ != CurrentProcessId()) {
      Abandon();
      owner_ = CurrentProcessId();
    }
    const auto found = std::find_if(idle_.begin(), idle_.end(), [&key](const Entry& entry) { return entry.key == key; });
    if (found == idle_.end()) return nullptr;
    std::unique_ptr<EngineConnection> connection = std::move(found->connection);
    idle_.erase(found);
    if (!connection->StillNamesItsDatabase()) {
      // The file it opened is gone or replaced. What the engine keeps beside it (SQLite's
      // write-ahead log) is still at the path and would be read into whatever file stands there
      // now: fold it into the old file and empty it before the connection closes.
      try {
        connection->Checkpoint();
      } catch (...) {
        // Closing is all that is left to do.
      }
      return nullptr;
    }
    return connection;
  }

  void Give(const std::string& key, std::unique_ptr<EngineConnection> connection) {
    // One with a transaction open, or one a report statement ran on, is closed.
    if (owner_ != CurrentProcessId() || connection->InTransaction() || connection->Spent()) return;
    idle_.insert(idle_.begin(), Entry{key, std::move(connection)});
    if (idle_.size() > kKeptPerThread) idle_.pop_back();
  }

 private:
  struct Entry {
    std::string key;
    std::unique_ptr<EngineConnection> connection;
  };

  void Abandon() {
    for (Entry& entry : idle_) (void)entry.connection.release();
    idle_.clear();
  }

  pid_t owner_ = CurrentProcessId();
  std::vector<Entry> idle_;
};

thread_local Cache cache;

}  // namespace

std::unique_ptr<EngineConnection> TakeConnection(const Variant& account, const std::string& key) {
  // A kept connection may have been opened without looking for links, and under another name
  // (the key is the file's resolved path): a caller not trusted with links has the name it gave
  // looked at first, and where that is refused the opening below says why.
  const bool may_keep = !CurrentCallLimits().refuse_links || !NamesCompanyFile(account) ||
                        LinkRefusal(CompanyPath(account)).empty();
  if (may_keep) {
    if (auto kept = cache.Take(key)) return kept;
  }
  auto connection = OpenEngine(BuildConnectionString(account));
  connection->CheckSchema(CompanyCatalog());
  return connection;
}

void ReturnConnection(const std::string& key, std::unique_ptr<EngineConnection> connection) noexcept {
  try {
    cache.Give(key, std::move(connection));
  } catch (...) {
    // Keeping a connection is an optimisation only; on any failure it is closed.
  }
}

}  // namespace ledgerkit
