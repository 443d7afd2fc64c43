#include "automation/Directory.h"

#include <algorithm>
#include <filesystem>

#include "automation/Service.h"
#include "common/EngineDriver.h"
#include "common/Text.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/common/ErrorNumbers.h"

#ifdef LEDGERKIT_WITH_POSTGRESQL
#include "engines/postgres/PostgresEngine.h"
#include "engines/postgres/PostgresPlainConnection.h"
#endif

namespace ledgerkit {

namespace {

constexpr size_t kMaxCompanyName = 64;
constexpr size_t kMaxIdleConnections = 4;

// A failed-logon key as stored: its bytes in hexadecimal, so that any text (a NUL included) is
// one key of its own.
std::string KeyText(const std::string& key) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(key.size() * 2);
  for (const unsigned char c : key) {
    text += kDigits[c >> 4];
    text += kDigits[c & 15];
  }
  return text;
}

}  // namespace

bool IsPlainCompanyName(std::string_view name) {
  if (name.empty() || name.size() > kMaxCompanyName) return false;
  auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
  };
  return std::all_of(name.begin(), name.end(), plain) && name.front() != '-' && name.front() != '_';
}

void CheckLocationForm(const std::string& location) {
  const EngineDriver& driver = DriverForAccount(location);
  if (driver.names_files) {
    if (!std::filesystem::path(location).is_absolute()) {
      throw Error::Runtime(kInvalidArgument,
                           "The location " + QuoteForMessage(location) + " must be an absolute path or a server URI.");
    }
  } else {
    const std::string shown = ShownAccount(location);
    if (shown != location) {
      throw Error::Runtime(kInvalidArgument, "The location " + shown +
                                                 " holds a password, which the directory never stores; give the "
                                                 "URI without it and keep the password in the libpq password file "
                                                 "(~/.pgpass, PGPASSFILE) or service file (PGSERVICEFILE).");
    }
    if (location.find("company=") == std::string::npos) {
      throw Error::Runtime(kInvalidArgument, "The location " + shown + " names no company (add ?company=NAME).");
    }
  }
}

void CheckCompanyLocation(const std::string& location) {
  CheckLocationForm(location);
  const EngineDriver& driver = DriverForAccount(location);
  if (!CompanyExists(CompanyLocation{location, !driver.names_files})) {
    throw Error::Runtime(kInvalidArgument, "There is no company at " + ShownAccount(location) + ".");
  }
}

#ifdef LEDGERKIT_WITH_POSTGRESQL

namespace {

constexpr std::string_view kSchemaSql = R"sql(
BEGIN;
SELECT pg_advisory_xact_lock(hashtext('lk_directory'));
CREATE SCHEMA IF NOT EXISTS lk_directory;
CREATE TABLE IF NOT EXISTS lk_directory.company (
  name text PRIMARY KEY,
  location text NOT NULL UNIQUE,
  moving boolean NOT NULL DEFAULT false);
CREATE TABLE IF NOT EXISTS lk_directory.failed_logon (
  key text NOT NULL,
  at timestamptz NOT NULL DEFAULT clock_timestamp());
CREATE INDEX IF NOT EXISTS failed_logon_key ON lk_directory.failed_logon (key, at);
CREATE INDEX IF NOT EXISTS failed_logon_at ON lk_directory.failed_logon (at);
COMMIT;
)sql";

}  // namespace

class CompanyDirectory::Connection : public PostgresPlainConnection {
 public:
  using PostgresPlainConnection::PostgresPlainConnection;
};

std::unique_ptr<CompanyDirectory::Connection> CompanyDirectory::Take() {
  {
    std::lock_guard lock(mutex_);
    while (!idle_.empty()) {
      std::unique_ptr<Connection> connection = std::move(idle_.back());
      idle_.pop_back();
      if (connection->Usable()) return connection;
    }
  }
  const std::string place = "The directory at " + shown_;
  return std::make_unique<Connection>(uri_, place,
                                      place + " has not been made; run ledgerkit directory init with it first.");
}

void CompanyDirectory::Give(std::unique_ptr<Connection> connection) {
  if (!connection->Usable()) return;
  std::lock_guard lock(mutex_);
  if (idle_.size() < kMaxIdleConnections) idle_.push_back(std::move(connection));
}

// A connection of the directory's for one call: given back when the call is over, however it ends.
class CompanyDirectory::Lease {
 public:
  explicit Lease(CompanyDirectory& directory) : directory_(directory), connection_(directory.Take()) {}
  ~Lease() { directory_.Give(std::move(connection_)); }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  Connection* operator->() { return connection_.get(); }

 private:
  CompanyDirectory& directory_;
  std::unique_ptr<Connection> connection_;
};

namespace {

using Rows = PostgresPlainConnection::Rows;

// A row of name, location, moving.
DirectoryEntry EntryOf(const std::vector<std::string>& row) { return DirectoryEntry{row[0], row[1], row[2] == "t"}; }

std::optional<DirectoryEntry> FirstEntry(const Rows& rows) {
  if (rows.empty()) return std::nullopt;
  return EntryOf(rows.front());
}

}  // namespace

CompanyDirectory::CompanyDirectory(std::string uri) : uri_(std::move(uri)), shown_(ShownAccount(uri_)) {
  CheckServerUri(uri_);
}

void CompanyDirectory::Init() {
  Lease connection(*this);
  connection->Run(kSchemaSql);
}

void CompanyDirectory::Add(const std::string& name, const std::string& location) {
  if (!IsPlainCompanyName(name)) {
    throw Error::Runtime(kInvalidArgument, "A company name is 1 to 64 letters, digits, '_' or '-', starting with a "
                                           "letter or digit, not " + QuoteForMessage(name) + ".");
  }
  CheckCompanyLocation(location);
  Lease connection(*this);
  const Rows added = connection->Run(
      "INSERT INTO lk_directory.company (name, location) VALUES ($1, $2) ON CONFLICT DO NOTHING RETURNING name",
      {name, location});
  if (added.size() == 1) return;
  const Rows named = connection->Run("SELECT name FROM lk_directory.company WHERE name = $1", {name});
  if (named.size() == 1) {
    throw Error::Runtime(kInvalidArgument, "The directory has a company named " + QuoteForMessage(name) + " already.");
  }
  const Rows placed = connection->Run("SELECT name FROM lk_directory.company WHERE location = $1", {location});
  throw Error::Runtime(kInvalidArgument,
                       "The company at " + ShownAccount(location) + " is in the directory already, as " +
                           QuoteForMessage(placed.size() == 1 ? placed[0][0] : "") + ".");
}

void CompanyDirectory::Remove(const std::string& name) {
  Lease connection(*this);
  const Rows removed = connection->Run("DELETE FROM lk_directory.company WHERE name = $1 RETURNING name", {name});
  if (removed.empty()) {
    throw Error::Runtime(kInvalidArgument, "The directory has no company named " + QuoteForMessage(name) + ".");
  }
}

std::vector<DirectoryEntry> CompanyDirectory::List() {
  Lease connection(*this);
  std::vector<DirectoryEntry> entries;
  for (const auto& row : connection->Run("SELECT name, location, moving FROM lk_directory.company ORDER BY name COLLATE \"C\"")) {
    entries.push_back(EntryOf(row));
  }
  return entries;
}

std::optional<DirectoryEntry> CompanyDirectory::Find(const std::string& name) {
  Lease connection(*this);
  return FirstEntry(connection->Run("SELECT name, location, moving FROM lk_directory.company WHERE name = $1", {name}));
}

std::optional<DirectoryEntry> CompanyDirectory::FindLocation(const std::string& location) {
  Lease connection(*this);
  return FirstEntry(
      connection->Run("SELECT name, location, moving FROM lk_directory.company WHERE location = $1", {location}));
}

bool CompanyDirectory::MarkMoving(const std::string& name, const std::string& location) {
  Lease connection(*this);
  const Rows marked = connection->Run(
      "UPDATE lk_directory.company SET moving = true WHERE name = $1 AND location = $2 AND NOT moving RETURNING name",
      {name, location});
  return marked.size() == 1;
}

void CompanyDirectory::EndMove(const std::string& name, const std::optional<std::string>& new_location) {
  Lease connection(*this);
  if (new_location) {
    connection->Run("UPDATE lk_directory.company SET moving = false, location = $2 WHERE name = $1", {name, *new_location});
  } else {
    connection->Run("UPDATE lk_directory.company SET moving = false WHERE name = $1", {name});
  }
}

int64_t CompanyDirectory::FailureWait(const std::string& key, int limit, std::chrono::seconds window) {
  const std::string seconds = std::to_string(window.count());
  Lease connection(*this);
  connection->Run("DELETE FROM lk_directory.failed_logon WHERE at < clock_timestamp() - $1::bigint * interval '1 second'",
                  {seconds});
  // The limit-th newest failure within the window: once it leaves the window the key may try.
  const Rows oldest = connection->Run(
      "SELECT ceil(extract(epoch FROM at + $2::bigint * interval '1 second' - clock_timestamp()))::bigint "
      "FROM lk_directory.failed_logon WHERE key = $1 AND at >= clock_timestamp() - $2::bigint * interval '1 second' "
      "ORDER BY at DESC OFFSET $3::bigint LIMIT 1",
      {KeyText(key), seconds, std::to_string(std::max(0, limit - 1))});
  if (oldest.empty()) return 0;
  return std::max<int64_t>(1, std::stoll(oldest[0][0]));
}

void CompanyDirectory::RecordFailure(const std::string& key) {
  Lease connection(*this);
  connection->Run("INSERT INTO lk_directory.failed_logon (key) VALUES ($1)", {KeyText(key)});
}

void CompanyDirectory::ResetFailures(const std::string& key) {
  Lease connection(*this);
  connection->Run("DELETE FROM lk_directory.failed_logon WHERE key = $1", {KeyText(key)});
}

void DropCompanyAt(const std::string& location) {
  if (DriverForAccount(location).names_files) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal", "-lock"}) {
      std::filesystem::remove(location + suffix);
    }
    return;
  }
  const PostgresTarget target = ParsePostgresTarget(location);
  PostgresPlainConnection connection(target.uri, "The company at " + ShownAccount(location));
  const std::string database = connection.Run("SELECT current_database()").at(0).at(0);
  connection.Run("BEGIN; " + PostgresDropCompanySql(target.company, PostgresReportRole(database, target.company)) +
                 "; COMMIT;");
}

#else  // no server engine in this build: a directory cannot be reached

void DropCompanyAt(const std::string& location) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal", "-lock"}) std::filesystem::remove(location + suffix);
}

class CompanyDirectory::Connection {};

CompanyDirectory::CompanyDirectory(std::string uri) : uri_(std::move(uri)), shown_(ShownAccount(uri_)) {
  CheckServerUri(uri_);  // refuses every URI: this build reads none
}
void CompanyDirectory::Init() {}
void CompanyDirectory::Add(const std::string&, const std::string&) {}
void CompanyDirectory::Remove(const std::string&) {}
std::vector<DirectoryEntry> CompanyDirectory::List() { return {}; }
std::optional<DirectoryEntry> CompanyDirectory::Find(const std::string&) { return std::nullopt; }
std::optional<DirectoryEntry> CompanyDirectory::FindLocation(const std::string&) { return std::nullopt; }
bool CompanyDirectory::MarkMoving(const std::string&, const std::string&) { return false; }
void CompanyDirectory::EndMove(const std::string&, const std::optional<std::string>&) {}
int64_t CompanyDirectory::FailureWait(const std::string&, int, std::chrono::seconds) { return 0; }
void CompanyDirectory::RecordFailure(const std::string&) {}
void CompanyDirectory::ResetFailures(const std::string&) {}

#endif

CompanyDirectory::~CompanyDirectory() = default;

DirectoryCache::DirectoryCache(CompanyDirectory& directory, std::chrono::milliseconds lifetime)
    : directory_(directory), lifetime_(lifetime) {}

std::optional<DirectoryEntry> DirectoryCache::Find(const std::string& name) {
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(mutex_);
    const auto found = kept_.find(name);
    if (found != kept_.end() && now - found->second.read < lifetime_) return found->second.entry;
  }
  // Read without the lock held: one slow answer does not hold up names already kept.
  std::optional<DirectoryEntry> entry = directory_.Find(name);
  std::lock_guard lock(mutex_);
  const auto found = kept_.find(name);
  if (found != kept_.end()) {
    order_.erase(found->second.age);
    kept_.erase(found);
  }
  order_.push_back(name);
  kept_.emplace(name, Kept{entry, now, std::prev(order_.end())});
  while (kept_.size() > kMaxNames) {
    kept_.erase(order_.front());
    order_.pop_front();
  }
  return entry;
}

void DirectoryCache::ForgetLocation(const std::string& location) {
  std::lock_guard lock(mutex_);
  for (auto it = kept_.begin(); it != kept_.end();) {
    if (it->second.entry && it->second.entry->location == location) {
      order_.erase(it->second.age);
      it = kept_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace ledgerkit
