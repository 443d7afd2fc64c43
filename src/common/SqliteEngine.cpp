// The SQLite implementation of the engine interface.
//
// Every engine return code passes through Check(), the one place that turns it into an Error.
// Prepared statements are kept per connection and handed out again for the same SQL text, so
// a statement run repeatedly inside one operation is compiled once.
#include <sqlite3.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/Date.h"
#include "common/Engine.h"
#include "common/Error.h"
#include "common/Text.h"

namespace ledgerkit {

namespace {

constexpr std::string_view kDriverPrefix = "Driver=SQLite;Dbq=";
constexpr int kBusyTimeoutMs = 10'000;

[[noreturn]] void ThrowEngine(sqlite3* db, int rc, std::string_view context = {}) {
  std::string message = db != nullptr && sqlite3_errcode(db) == rc ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  // A rule of the file that refuses a sum out of range says so with this prefix.
  constexpr std::string_view kOverflowPrefix = "Overflow: ";
  if ((rc & 0xFF) == SQLITE_CONSTRAINT && message.starts_with(kOverflowPrefix)) {
    throw Error::Runtime(kOverflow, message.substr(kOverflowPrefix.size()));
  }
  if (!context.empty()) {
    message += " (";
    message += context;
    message += ")";
  }
  throw Error::Engine(rc, std::move(message));
}

void Check(sqlite3* db, int rc, std::string_view context = {}) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowEngine(db, rc, context);
}

// CDATE(text): the stored form of a date read from text; NULL stays NULL; anything else that
// is not a readable date is an SQL error.
void CDateFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const auto* raw = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const std::string text = raw != nullptr ? raw : "";
  const auto date = sqlite3_value_type(argv[0]) == SQLITE_TEXT ? Date::Parse(text) : std::nullopt;
  if (!date) {
    const std::string message = "CDATE cannot read " + QuoteForMessage(text) + " as a date.";
    sqlite3_result_error(context, message.c_str(), -1);
    return;
  }
  const std::string stored = date->ToStoredText();
  sqlite3_result_text(context, stored.c_str(), static_cast<int>(stored.size()), SQLITE_TRANSIENT);
}

// Statements compiled on one connection, waiting to be handed out again.
class StatementCache {
 public:
  ~StatementCache() {
    for (auto& [sql, statements] : idle_) {
      for (sqlite3_stmt* statement : statements) sqlite3_finalize(statement);
    }
  }
  sqlite3_stmt* Take(std::string_view sql) {
    auto found = idle_.find(sql);
    if (found == idle_.end() || found->second.empty()) return nullptr;
    sqlite3_stmt* statement = found->second.back();
    found->second.pop_back();
    return statement;
  }
  void Give(sqlite3_stmt* statement) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    idle_[sqlite3_sql(statement)].push_back(statement);
  }

 private:
  std::map<std::string, std::vector<sqlite3_stmt*>, std::less<>> idle_;
};

class SqliteStatement final : public EngineStatement {
 public:
  SqliteStatement(sqlite3* db, sqlite3_stmt* statement, std::weak_ptr<StatementCache> cache)
      : db_(db), statement_(statement), cache_(std::move(cache)) {}
  ~SqliteStatement() override {
    if (auto cache = cache_.lock()) {
      cache->Give(statement_);
    } else {
      sqlite3_finalize(statement_);
    }
  }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  int ParameterCount() const override { return sqlite3_bind_parameter_count(statement_); }
  void BindNull(int index) override { Check(db_, sqlite3_bind_null(statement_, index)); }
  void BindInteger(int index, int64_t value) override { Check(db_, sqlite3_bind_int64(statement_, index, value)); }
  void BindReal(int index, double value) override { Check(db_, sqlite3_bind_double(statement_, index, value)); }
  void BindText(int index, std::string_view value) override {
    Check(db_, sqlite3_bind_text64(statement_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  }

  bool Step() override {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    // The statement must be reset before the connection is usable for it again.
    sqlite3_reset(statement_);
    ThrowEngine(db_, rc);
  }
  void Reset() override { sqlite3_reset(statement_); }
  bool IsReadOnly() const override { return sqlite3_stmt_readonly(statement_) != 0; }

  int ColumnCount() const override { return sqlite3_column_count(statement_); }
  EngineColumn Column(int index) const override {
    EngineColumn column;
    column.name = sqlite3_column_name(statement_, index);
    if (const char* declared = sqlite3_column_decltype(statement_, index)) column.declared_type = declared;
    const char* table = sqlite3_column_table_name(statement_, index);
    const char* origin = sqlite3_column_origin_name(statement_, index);
    const char* database = sqlite3_column_database_name(statement_, index);
    if (table != nullptr && origin != nullptr) {
      int not_null = 0, primary_key = 0, autoincrement = 0;
      if (sqlite3_table_column_metadata(db_, database, table, origin, nullptr, nullptr, &not_null, &primary_key,
                                        &autoincrement) == SQLITE_OK) {
        column.is_key = primary_key != 0;
        column.not_null = not_null != 0 || primary_key != 0;
      }
    }
    return column;
  }
  StoredKind ColumnKind(int index) const override {
    switch (sqlite3_column_type(statement_, index)) {
      case SQLITE_INTEGER: return StoredKind::kInteger;
      case SQLITE_FLOAT: return StoredKind::kReal;
      case SQLITE_TEXT: return StoredKind::kText;
      case SQLITE_BLOB: return StoredKind::kBlob;
      default: return StoredKind::kNull;
    }
  }
  int64_t ColumnInteger(int index) const override { return sqlite3_column_int64(statement_, index); }
  double ColumnReal(int index) const override { return sqlite3_column_double(statement_, index); }
  std::string_view ColumnText(int index) const override {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, index));
    return text == nullptr ? std::string_view() : std::string_view(text, sqlite3_column_bytes(statement_, index));
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_;
  std::weak_ptr<StatementCache> cache_;
};

bool OnlyBlanksAndComments(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c)) || c == ';') {
      ++i;
    } else if (text.substr(i, 2) == "--") {
      const size_t end = text.find('\n', i);
      i = end == std::string_view::npos ? text.size() : end + 1;
    } else if (text.substr(i, 2) == "/*") {
      const size_t end = text.find("*/", i + 2);
      i = end == std::string_view::npos ? text.size() : end + 2;
    } else {
      return false;
    }
  }
  return true;
}

class SqliteConnection final : public EngineConnection {
 public:
  SqliteConnection(std::string path, OpenMode mode) : path_(std::move(path)) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (mode == OpenMode::kCreateNew ? SQLITE_OPEN_CREATE : 0);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path_.c_str(), &db, flags, nullptr);
    db_ = db;
    if (rc != SQLITE_OK) {
      const std::string message = std::string(db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)) + " (" + path_ + ")";
      sqlite3_close_v2(db);
      db_ = nullptr;
      throw Error::Engine(rc, message);
    }
    try {
      sqlite3_extended_result_codes(db_, 0);
      Check(db_, sqlite3_busy_timeout(db_, kBusyTimeoutMs));
      ExecuteControl("PRAGMA synchronous=FULL; PRAGMA foreign_keys=OFF; PRAGMA journal_size_limit=4194304;");
      Check(db_, sqlite3_create_function_v2(db_, "CDATE", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                            CDateFunction, nullptr, nullptr, nullptr));
      struct stat status {};
      if (::stat(path_.c_str(), &status) == 0) identity_ = {status.st_dev, status.st_ino};
    } catch (...) {
      sqlite3_close_v2(db_);
      throw;
    }
  }
  ~SqliteConnection() override {
    cache_.reset();  // finalizes idle statements first
    sqlite3_close_v2(db_);
  }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  std::unique_ptr<EngineStatement> Prepare(std::string_view sql) override {
    if (sqlite3_stmt* cached = cache_->Take(sql)) return std::make_unique<SqliteStatement>(db_, cached, cache_);
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                      &statement, &tail);
    if (rc != SQLITE_OK) ThrowEngine(db_, rc);
    if (statement == nullptr) {
      throw Error::Runtime(kInvalidArgument, "The SQL text holds no statement.");
    }
    std::string_view rest(tail, sql.data() + sql.size() - tail);
    if (!OnlyBlanksAndComments(rest)) {
      sqlite3_finalize(statement);
      while (!rest.empty() && (std::isspace(static_cast<unsigned char>(rest.front())) || rest.front() == ';')) {
        rest.remove_prefix(1);
      }
      throw Error::Runtime(kInvalidArgument,
                           "The SQL text holds more than one statement; only one runs per call. The second begins: " +
                               std::string(rest.substr(0, 60)));
    }
    return std::make_unique<SqliteStatement>(db_, statement, cache_);
  }

  void ExecuteControl(std::string_view sql) override {
    const std::string text(sql);
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
      const std::string detail = message != nullptr ? message : sqlite3_errstr(rc);
      sqlite3_free(message);
      throw Error::Engine(rc, detail);
    }
  }

  int64_t Changes() const override { return sqlite3_changes64(db_); }
  const std::string& Path() const override { return path_; }
  std::pair<uint64_t, uint64_t> FileIdentity() const override { return identity_; }
  bool InTransaction() const override { return sqlite3_get_autocommit(db_) == 0; }

 private:
  std::string path_;
  std::pair<uint64_t, uint64_t> identity_{0, 0};
  sqlite3* db_ = nullptr;
  std::shared_ptr<StatementCache> cache_ = std::make_shared<StatementCache>();
};

}  // namespace

std::unique_ptr<EngineConnection> OpenEngine(std::string_view connection_string, OpenMode mode) {
  if (connection_string.substr(0, kDriverPrefix.size()) != kDriverPrefix) {
    throw Error::Runtime(kInvalidArgument,
                         "The connection string " + QuoteForMessage(connection_string) + " names no known driver.");
  }
  std::string path(connection_string.substr(kDriverPrefix.size()));
  if (path.empty()) throw Error::Engine(SQLITE_CANTOPEN, "unable to open database file (the path is empty)");
  // A path is always a file: never a URI, never the in-memory database.
  if (path.starts_with("file:") || path == ":memory:") path.insert(0, "./");
  if (mode == OpenMode::kCreateNew) {
    // O_EXCL wins the race against another creator: an existing file is never written over.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      throw Error::Runtime(kInvalidArgument, "The file " + path +
                                                 " already exists or cannot be created; a company file is never "
                                                 "written over an existing one.");
    }
    ::close(fd);
  }
  return std::make_unique<SqliteConnection>(std::move(path), mode);
}

}  // namespace ledgerkit
