// CompanyDirectory: the company directory of `ledgerkit serve --directory` and `ledgerkit
// directory`, a few tables in the schema lk_directory of one PostgreSQL database: each company's
// name and location (a server company's URI without a password, or a company file's absolute
// path), whether it is being moved, and the failed logons every service over the directory counts
// together.
//
// Thread-safe: each call takes a server connection of its own from a small pool of the object's.
// Every value goes to the server as a bound parameter, never in the statement's text.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ledgerkit {

struct DirectoryEntry {
  std::string name;
  std::string location;
  bool moving = false;  // being moved: the service refuses its writes
};

// True when `name` is a plain company name, as the service takes one: 1 to 64 letters, digits,
// '_' or '-', starting with a letter or digit.
bool IsPlainCompanyName(std::string_view name);

// Invalid argument (5) unless `location` may be stored as a company's location: a server company
// URI holding no password (the message shows it masked, and says where passwords go) or an
// absolute path; and it names a company that exists (CompanyExists). Nothing is stored.
void CheckCompanyLocation(const std::string& location);
// The same, less the company's existence: for a location a company is about to be moved to.
void CheckLocationForm(const std::string& location);

// Removes the company at `location` with everything it holds: a file with the -wal, -shm,
// -journal and -lock files beside it; on a server its schema and report role, in one
// transaction. Nothing for what is not there; errors as the engine or the file system reported
// them.
void DropCompanyAt(const std::string& location);

class CompanyDirectory {
 public:
  // Checks `uri` as a server URI (CheckServerUri); connects at the first call. The URI may hold
  // a password; it is never stored in the directory nor shown unmasked.
  explicit CompanyDirectory(std::string uri);
  ~CompanyDirectory();
  CompanyDirectory(const CompanyDirectory&) = delete;
  CompanyDirectory& operator=(const CompanyDirectory&) = delete;

  // Makes the directory's schema and tables where they are missing; leaves existing rows as they
  // are. Two at once are taken in turn.
  void Init();

  // Adds company `name` at `location` (CheckCompanyLocation). Invalid argument (5) for a name
  // that is not plain or that the directory holds already; nothing is changed then.
  void Add(const std::string& name, const std::string& location);
  // Removes `name`; Invalid argument (5) when the directory has no such company.
  void Remove(const std::string& name);
  // Every company, by name.
  std::vector<DirectoryEntry> List();
  // The company `name`, or nothing when the directory has none of that name.
  std::optional<DirectoryEntry> Find(const std::string& name);
  // The company whose location is exactly `location`, or nothing.
  std::optional<DirectoryEntry> FindLocation(const std::string& location);

  // Marks `name` as being moved, only when it is at `location` and not marked already; false
  // (nothing changed) otherwise.
  bool MarkMoving(const std::string& name, const std::string& location);
  // Clears the mark of `name`, and when `new_location` is given, points it there, in one
  // statement.
  void EndMove(const std::string& name, const std::optional<std::string>& new_location);

  // Failed logons shared by every service over the directory. Rows older than `window` are
  // deleted first (of every key), so the table holds at most a window's failures. Returns the
  // whole seconds until `key` may try again (the `limit`-th newest failure leaving the window),
  // or 0 when it has fewer than `limit` failures within the window.
  int64_t FailureWait(const std::string& key, int limit, std::chrono::seconds window);
  void RecordFailure(const std::string& key);
  void ResetFailures(const std::string& key);

  // The URI as messages show it (its password masked).
  const std::string& shown() const { return shown_; }

 private:
  class Connection;
  class Lease;
  std::unique_ptr<Connection> Take();
  void Give(std::unique_ptr<Connection> connection);

  const std::string uri_;
  const std::string shown_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Connection>> idle_;
};

// What the service keeps of a directory: each name's entry (or its absence) as read at most
// `lifetime` ago, at most kMaxNames names; past that, the entries read longest ago go first.
// Thread-safe.
class DirectoryCache {
 public:
  DirectoryCache(CompanyDirectory& directory, std::chrono::milliseconds lifetime);

  // The entry of `name`, read again from the directory once the kept one is older than the
  // lifetime; errors reaching the directory are thrown as raised (nothing is kept then).
  std::optional<DirectoryEntry> Find(const std::string& name);
  // Lets go of what is kept of the names found at `location` (which the directory no longer
  // has), so that their next Find reads the directory.
  void ForgetLocation(const std::string& location);

  static constexpr size_t kMaxNames = 10'000;

 private:
  struct Kept {
    std::optional<DirectoryEntry> entry;
    std::chrono::steady_clock::time_point read;
    std::list<std::string>::iterator age;  // position in order_
  };

  CompanyDirectory& directory_;
  const std::chrono::milliseconds lifetime_;
  std::mutex mutex_;
  std::map<std::string, Kept, std::less<>> kept_;
  std::list<std::string> order_;  // names by when they were read, oldest first
};

}  // namespace ledgerkit
