// The SQLite implementation of the engine interface: connections, statements, transactions and
// the SQL forms of the dialect. The company file's schema is written in SqliteSchema.cpp.
//
// Every engine return code passes through ThrowEngine, the one place that turns it into an
// Error. Prepared statements are kept per connection and handed out again for the same SQL
// text, so a statement run repeatedly inside one operation is compiled once; the cache is
// bounded, so a long-lived process that looks up many distinct texts does not grow with them.
#include <sqlite3.h>

#include <atomic>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/CallLimits.h"
#include "ledgerkit/common/Date.h"
#include "common/Engine.h"
#include "common/EngineDriver.h"
#include "ledgerkit/common/Error.h"
#include "common/LinkCheck.h"
#include "common/RunningReport.h"
#include "common/SqlMoney.h"
#include "common/Text.h"
#include "engines/sqlite/SqliteEngine.h"
#include "engines/sqlite/SqliteLogWrites.h"

namespace ledgerkit {

namespace {

// Counts a statement run started (a control text counts once).
void CountStatementRun() { EngineStatementCounter().fetch_add(1, std::memory_order_relaxed); }
// Writers queue in the unit of work before they begin, so the engine waits only for what the
// queue does not cover (a checkpoint, a writer outside the library): it waits long rather than
// give up on a holder that is making progress.
constexpr int kBusyTimeoutMs = 60'000;
// Idle compiled statements kept per connection; the least recently given back goes first. Every
// statement the library runs in one operation fits many times over.
constexpr size_t kCachedStatementLimit = 96;
// How many virtual-machine steps a report statement runs between looks at its deadline: often
// enough to stop within a small fraction of a second, rarely enough to cost nothing measurable.
constexpr int kReportCheckSteps = 4000;
// A schema trigger reports an amount out of range as RAISE(ABORT, 'Overflow: <description>').
constexpr std::string_view kOverflowPrefix = "Overflow: ";

[[noreturn]] void ThrowEngineMessage(int rc, std::string message) {
  if ((rc & 0xFF) == SQLITE_CONSTRAINT && message.starts_with(kOverflowPrefix)) {
    throw Error::Runtime(kOverflow, message.substr(kOverflowPrefix.size()));
  }
  throw Error::Engine(rc, std::move(message));
}

[[noreturn]] void ThrowEngine(sqlite3* db, int rc, std::string_view context = {}) {
  std::string message = db != nullptr && sqlite3_errcode(db) == rc ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (!context.empty() && !message.starts_with(kOverflowPrefix)) {
    message += " (";
    message += context;
    message += ")";
  }
  ThrowEngineMessage(rc, std::move(message));
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

// The progress handler of a running report statement: non-zero stops it (SQLITE_INTERRUPT).
int StopReportWhenDue(void* report) { return static_cast<const RunningReport*>(report)->MustStop() ? 1 : 0; }

// The descriptions of a compiled statement's result columns, each read from the engine (the
// column's origin, looked up in the catalog, and the schema's constraints, a lookup of the table
// and column by name) the first time it is asked for and kept with the statement while it is
// cached. They are kept for one compilation and one catalog: when the engine compiles the
// statement again (after a change of the schema) they are read afresh.
struct ColumnMemo {
  int compilation = 0;  // the statement's SQLITE_STMTSTATUS_REPREPARE count when they were read
  const Catalog* catalog = nullptr;
  std::vector<std::optional<EngineColumn>> described;
};

// Statements compiled on one connection, waiting to be handed out again, filed under the text
// they were asked for with. A statement handed out is not in the cache; one given back past the
// bound pushes out (finalizes) the one idle longest.
class StatementCache {
 public:
  ~StatementCache() {
    for (const Idle& idle : idle_) sqlite3_finalize(idle.statement);
  }
  // The statement kept for `sql` with what was learnt of its columns, or {nullptr, nullptr}.
  std::pair<sqlite3_stmt*, std::shared_ptr<ColumnMemo>> Take(std::string_view sql) {
    const auto found = index_.find(sql);
    if (found == index_.end()) return {nullptr, nullptr};
    sqlite3_stmt* statement = found->second->statement;
    std::shared_ptr<ColumnMemo> columns = std::move(found->second->columns);
    idle_.erase(found->second);
    index_.erase(found);
    return {statement, std::move(columns)};
  }
  void Give(std::string sql, sqlite3_stmt* statement, std::shared_ptr<ColumnMemo> columns) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    idle_.push_front(Idle{sql, statement, std::move(columns)});
    index_.emplace(std::move(sql), idle_.begin());
    if (idle_.size() <= kCachedStatementLimit) return;
    const auto oldest = std::prev(idle_.end());
    auto [first, last] = index_.equal_range(oldest->sql);
    for (; first != last; ++first) {
      if (first->second == oldest) {
        index_.erase(first);
        break;
      }
    }
    sqlite3_finalize(oldest->statement);
    idle_.erase(oldest);
  }
  size_t size() const { return idle_.size(); }

 private:
  struct Idle {
    std::string sql;
    sqlite3_stmt* statement;
    std::shared_ptr<ColumnMemo> columns;
  };
  std::list<Idle> idle_;  // most recently given back first
  std::multimap<std::string, std::list<Idle>::iterator, std::less<>> index_;
};

class SqliteStatement final : public EngineStatement {
 public:
  // A statement with a cache goes back to it, under `sql`, when destroyed; one without is
  // finalized.
  // A report statement (`report` given) is never cached. Result columns are described from
  // `catalog` (none: every column is kVariant).
  SqliteStatement(sqlite3* db, const Catalog* catalog, sqlite3_stmt* statement, std::weak_ptr<StatementCache> cache,
                  std::string sql = {}, std::unique_ptr<RunningReport> report = nullptr,
                  std::shared_ptr<ColumnMemo> columns = nullptr)
      : db_(db), catalog_(catalog), statement_(statement), cache_(std::move(cache)), sql_(std::move(sql)),
        report_(std::move(report)), columns_(std::move(columns)) {}
  ~SqliteStatement() override {
    if (auto cache = cache_.lock()) {
      cache->Give(std::move(sql_), statement_, std::move(columns_));
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
    // A statement not yet stepped since its last reset or completion begins a run now.
    if (sqlite3_stmt_busy(statement_) == 0) CountStatementRun();
    // A report statement is watched only while it steps: the unit's own statements on the same
    // connection run without the handler.
    if (report_) sqlite3_progress_handler(db_, kReportCheckSteps, StopReportWhenDue, report_.get());
    const int rc = sqlite3_step(statement_);
    if (report_) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    // The statement must be reset before the connection is usable for it again; resetting an
    // interrupted one undoes what it changed.
    sqlite3_reset(statement_);
    if ((rc & 0xFF) == SQLITE_INTERRUPT && report_ && report_->MustStop()) {
      throw Error::Engine(SQLITE_INTERRUPT, report_->StopMessage());
    }
    ThrowEngine(db_, rc);
  }
  void Reset() override { sqlite3_reset(statement_); }
  bool IsReadOnly() const override { return sqlite3_stmt_readonly(statement_) != 0; }

  int ColumnCount() const override { return sqlite3_column_count(statement_); }
  EngineColumn Column(int index) const override {
    const int count = sqlite3_column_count(statement_);
    if (index < 0 || index >= count) return Describe(index);
    const int compilation = sqlite3_stmt_status(statement_, SQLITE_STMTSTATUS_REPREPARE, 0);
    if (!columns_ || columns_->compilation != compilation || columns_->catalog != catalog_ ||
        columns_->described.size() != static_cast<size_t>(count)) {
      columns_ = std::make_shared<ColumnMemo>();
      columns_->compilation = compilation;
      columns_->catalog = catalog_;
      columns_->described.resize(static_cast<size_t>(count));
    }
    std::optional<EngineColumn>& described = columns_->described[static_cast<size_t>(index)];
    if (!described) described = Describe(index);
    return *described;
  }
  // The storage class is asked for before any conversion: a read that converts changes it.
  bool ColumnIsNull(int index) const override { return sqlite3_column_type(statement_, index) == SQLITE_NULL; }
  std::optional<int64_t> ColumnInteger(int index) const override {
    if (sqlite3_column_type(statement_, index) != SQLITE_INTEGER) return std::nullopt;
    return sqlite3_column_int64(statement_, index);
  }
  std::optional<double> ColumnReal(int index) const override {
    if (sqlite3_column_type(statement_, index) != SQLITE_FLOAT) return std::nullopt;
    return sqlite3_column_double(statement_, index);
  }
  bool ColumnIsBinary(int index) const override { return sqlite3_column_type(statement_, index) == SQLITE_BLOB; }
  std::string_view ColumnText(int index) const override {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, index));
    return text == nullptr ? std::string_view() : std::string_view(text, sqlite3_column_bytes(statement_, index));
  }

 private:
  // The result column `index` as the engine describes it now.
  EngineColumn Describe(int index) const {
    EngineColumn column;
    const char* name = sqlite3_column_name(statement_, index);
    if (name != nullptr) column.name = name;
    const char* table = sqlite3_column_table_name(statement_, index);
    const char* origin = sqlite3_column_origin_name(statement_, index);
    const char* database = sqlite3_column_database_name(statement_, index);
    if (table != nullptr && origin != nullptr) {
      // The company's tables are in the main database; a table of the same name elsewhere (the
      // engine's own temp schema) is not the catalog's.
      if (catalog_ != nullptr && database != nullptr && std::string_view(database) == "main") {
        if (const std::optional<ColumnDef> found = FindCatalogColumn(*catalog_, table, origin)) {
          column.type = found->kind;
          column.width = found->width;
        }
      }
      int not_null = 0, primary_key = 0, autoincrement = 0;
      if (sqlite3_table_column_metadata(db_, database, table, origin, nullptr, nullptr, &not_null, &primary_key,
                                        &autoincrement) == SQLITE_OK) {
        column.is_key = primary_key != 0;
        column.not_null = not_null != 0 || primary_key != 0;
      }
    }
    return column;
  }

  sqlite3* db_;
  const Catalog* catalog_;
  sqlite3_stmt* statement_;
  std::weak_ptr<StatementCache> cache_;
  std::string sql_;
  std::unique_ptr<RunningReport> report_;
  mutable std::shared_ptr<ColumnMemo> columns_;
};

// Where the first word of `text` starts, past blanks, semicolons and comments.
size_t SkipBlanksAndComments(std::string_view text, size_t i = 0) {
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
      return i;
    }
  }
  return i;
}

bool OnlyBlanksAndComments(std::string_view text) { return SkipBlanksAndComments(text) == text.size(); }

// The statement's first keyword, upper-cased.
std::string LeadingKeyword(std::string_view sql) {
  std::string word;
  for (size_t i = SkipBlanksAndComments(sql); i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])); ++i) {
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i])));
  }
  return word;
}

std::string ReportRefusal(std::string_view what) {
  return "not authorized: a report query may not use " + std::string(what) + "; nothing was run.";
}

// The authorizer in force while a report statement is compiled. What it refuses would outlive
// the call (connection settings, the journal mode, temporary objects shadowing the company's
// tables, an open transaction), reach beyond the company file (ATTACH, VACUUM INTO, extensions)
// or rewrite it wholesale (VACUUM). `data` is the text naming the first refusal.
int ReportAuthorizer(void* data, int action, const char* first, const char* second, const char* database,
                     const char* /*trigger*/) {
  auto& refused = *static_cast<std::string*>(data);
  const auto deny = [&refused](std::string what) {
    if (refused.empty()) refused = std::move(what);
    return SQLITE_DENY;
  };
  const std::string_view name = first != nullptr ? first : "";
  const bool in_temp = database != nullptr && sqlite3_stricmp(database, "temp") == 0;
  switch (action) {
    case SQLITE_PRAGMA: return deny("PRAGMA " + std::string(name));
    case SQLITE_READ:
      // The table-valued forms of the pragmas (pragma_synchronous, ...) run their pragma.
      if (name.starts_with("pragma_")) return deny("PRAGMA " + std::string(name.substr(7)));
      return SQLITE_OK;
    case SQLITE_ATTACH: return deny("ATTACH");
    case SQLITE_DETACH: return deny("DETACH");
    // One statement commits on its own; inside a unit of work these would end the unit's
    // transaction halfway, and outside one they would leave a transaction open.
    case SQLITE_TRANSACTION:
    case SQLITE_SAVEPOINT: return deny("transaction control (BEGIN, COMMIT, ROLLBACK, SAVEPOINT, RELEASE)");
    case SQLITE_CREATE_TEMP_TABLE:
    case SQLITE_CREATE_TEMP_VIEW:
    case SQLITE_CREATE_TEMP_INDEX:
    case SQLITE_CREATE_TEMP_TRIGGER: return deny("temporary tables, views, indexes or triggers");
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_VIEW:
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TRIGGER:
      if (in_temp) return deny("temporary tables, views, indexes or triggers");
      return SQLITE_OK;
    case SQLITE_FUNCTION:
      if (second != nullptr && sqlite3_stricmp(second, "load_extension") == 0) return deny("load_extension()");
      return SQLITE_OK;
    default: return SQLITE_OK;
  }
}

// `path` as an SQLite URI naming the file, every byte outside the unreserved set percent-encoded.
std::string FileUri(const std::string& path) {
  std::error_code error;
  const std::string absolute = std::filesystem::absolute(path, error).string();
  std::string uri = "file:";
  for (const char c : error ? path : absolute) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      uri += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      uri += escaped;
    }
  }
  return uri;
}

sqlite3* OpenHandle(const std::string& name, int flags, const std::string& path) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, SqliteFileLayer());
  if (rc != SQLITE_OK) {
    const std::string message = std::string(db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)) + " (" + path + ")";
    sqlite3_close_v2(db);
    throw Error::Engine(rc, message);
  }
  return db;
}

// The result of reading the schema: whether the file can be read as it was opened.
int ProbeRead(sqlite3* db) {
  return sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema;", nullptr, nullptr, nullptr);
}

bool CannotOpenForReading(int rc) { return (rc & 0xFF) == SQLITE_CANTOPEN || (rc & 0xFF) == SQLITE_READONLY; }

class SqliteDialect final : public EngineDialect {
 public:
  // Brackets rather than double quotes: SQLite reads a double-quoted name that is no column as
  // a text literal, a bracketed one never.
  std::string QuoteIdentifier(std::string_view name) const override { return "[" + std::string(name) + "]"; }
  // The case-blind columns are NOCASE, which folds A-Z only.
  Sql AsciiNoCaseEquals(std::string_view column) const override { return Sql(column, "=", kValue); }
  std::string WholeNumberCondition(std::string_view column) const override {
    const std::string c(column);
    return "(" + c + "<>'' AND " + c + " NOT GLOB '*[^0-9]*')";
  }
  // Digits past the int64 range are read as its greatest value. The number is compared as
  // bytes: with the column's case-blind collation carried over to it, the engine would not read
  // the greatest from the end of the index but go through all of it.
  std::string WholeNumberValue(std::string_view column) const override {
    return "CAST(" + std::string(column) + " COLLATE BINARY AS INTEGER)";
  }
  std::string HoldsIntegerCondition(std::string_view column) const override {
    return "typeof(" + std::string(column) + ")='integer'";
  }
  std::string StoredTypeExpression(std::string_view column) const override {
    return "typeof(" + std::string(column) + ")";
  }
  bool IsMissingCompany(const Error& error) const override { return error.number() == EngineErrorNumber(SQLITE_CANTOPEN); }
  bool IsSumOverflow(const Error& error) const override {
    // SUM() fails rather than give an inexact total.
    return error.number() == EngineErrorNumber(SQLITE_ERROR) &&
           error.description().find("integer overflow") != std::string::npos;
  }
};

const SqliteDialect kDialect;

// SQLite's memory statistics, which nothing here reads, cost every allocation the engine makes
// a process-wide mutex and its counters. They are turned off once, as the
// program starts: SQLite takes the setting only before its first use in the process, so a
// program that used it earlier keeps them (the call then fails and changes nothing).
[[maybe_unused]] const bool kMemoryStatisticsOff = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;

class SqliteConnection final : public EngineConnection {
 public:
  // `no_links`: the file is opened only when its path's last part is no symbolic link (SQLite
  // then also opens what it keeps beside the file without following one).
  SqliteConnection(std::string path, OpenMode mode, bool no_links)
      : path_(std::move(path)), nofollow_(no_links ? SQLITE_OPEN_NOFOLLOW : 0) {
    const int flags = SQLITE_OPEN_READWRITE | (mode == OpenMode::kCreateNew ? SQLITE_OPEN_CREATE : 0) | nofollow_;
    db_ = OpenHandle(path_, flags, path_);
    try {
      if (mode == OpenMode::kExisting) OpenForReadingWhenNeeded();
      sqlite3_extended_result_codes(db_, 0);
      Check(db_, sqlite3_busy_timeout(db_, kBusyTimeoutMs));
      Check(db_, sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr));
      ExecuteControl("PRAGMA synchronous=FULL; PRAGMA foreign_keys=OFF; PRAGMA journal_size_limit=4194304;");
      Check(db_, sqlite3_create_function_v2(db_, "CDATE", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                            CDateFunction, nullptr, nullptr, nullptr));
      Check(db_, RegisterMoneyFunction(db_));
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

  // The file's markers are `?`, numbered by SQLite in the order they stand.
  std::unique_ptr<EngineStatement> Prepare(const Sql& sql) override { return PrepareText(sql.Shown()); }

  // A statement in SQLite's own text: the library's, rendered, and the engine's own.
  std::unique_ptr<EngineStatement> PrepareText(std::string_view sql) {
    if (auto [cached, columns] = cache_->Take(sql); cached != nullptr) {
      return std::make_unique<SqliteStatement>(db_, catalog_, cached, cache_, std::string(sql), nullptr,
                                               std::move(columns));
    }
    return std::make_unique<SqliteStatement>(db_, catalog_, Compile(sql, SQLITE_PREPARE_PERSISTENT), cache_,
                                             std::string(sql));
  }

  std::unique_ptr<EngineStatement> PrepareReport(std::string_view sql) override {
    spent_ = true;
    // VACUUM is refused by its ATTACH as well; naming it plainly gives the clearer message.
    if (LeadingKeyword(sql) == "VACUUM") throw Error::Engine(SQLITE_AUTH, ReportRefusal("VACUUM"));
    std::string refused;
    sqlite3_set_authorizer(db_, ReportAuthorizer, &refused);
    sqlite3_stmt* statement = nullptr;
    try {
      statement = Compile(sql, 0);
    } catch (const Error&) {
      sqlite3_set_authorizer(db_, nullptr, nullptr);
      if (!refused.empty()) throw Error::Engine(SQLITE_AUTH, ReportRefusal(refused));
      throw;
    }
    sqlite3_set_authorizer(db_, nullptr, nullptr);
    // Not kept for reuse: it was compiled under the report rules, and the connection is spent.
    return std::make_unique<SqliteStatement>(db_, catalog_, statement, std::weak_ptr<StatementCache>(), std::string(),
                                             std::make_unique<RunningReport>());
  }

  void ExecuteControl(std::string_view sql) override {
    CountStatementRun();
    const std::string text(sql);
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
      std::string detail = message != nullptr ? message : sqlite3_errstr(rc);
      sqlite3_free(message);
      ThrowEngineMessage(rc, std::move(detail));
    }
  }

  int64_t Changes() const override { return sqlite3_changes64(db_); }
  const std::string& Path() const override { return path_; }
  bool StillNamesItsDatabase() const override {
    struct stat status {};
    return ::stat(path_.c_str(), &status) == 0 &&
           identity_ == std::pair<uint64_t, uint64_t>(status.st_dev, status.st_ino);
  }
  bool InTransaction() const override { return sqlite3_get_autocommit(db_) == 0; }
  bool Spent() const override { return spent_; }
  size_t CachedStatementCount() const override { return cache_->size(); }
  const EngineDialect& Dialect() const override { return kDialect; }

  void CheckSchema(const Catalog& catalog) override {
    catalog_ = &catalog;
    CheckSqliteSchema(*this, catalog);
  }

  void Begin(Access access) override {
    KeepTemporariesInMemory(access == Access::kWrite);
    Control(access == Access::kWrite ? "BEGIN IMMEDIATE;" : "BEGIN;");
  }
  void Commit() override {
    Control("COMMIT;");
    ReleaseHeldPages();
  }
  void Rollback() override {
    Control("ROLLBACK;");
    ReleaseHeldPages();
  }
  void HoldPagesInMemory(int64_t kibibytes) override {
    if (kibibytes <= kDefaultCacheKib) return;
    ExecuteControl("PRAGMA cache_size=-" + std::to_string(kibibytes) + ";");
    holding_pages_ = true;
  }
  void Savepoint() override { Control("SAVEPOINT ledgerkit_unit;"); }
  void ReleaseSavepoint() override { Control("RELEASE ledgerkit_unit;"); }
  void RollbackToSavepoint() override {
    Control("ROLLBACK TO ledgerkit_unit;");
    Control("RELEASE ledgerkit_unit;");
  }
  // BEGIN IMMEDIATE has taken the file's write lock already: no other writer until the end.
  void LockCompany() override {}

  // The file's pages, indexes and records. A row that breaks a CHECK or NOT NULL rule of the
  // schema is left to the ledger check, which looks at those rules by value (an inexact amount,
  // a text too long, a kept total) and names the row, as on an engine that never holds one.
  std::vector<std::string> IntegrityProblems() override {
    std::vector<std::string> problems;
    const auto statement = PrepareText("PRAGMA integrity_check;");
    while (statement->Step()) {
      const std::string line(statement->ColumnText(0));
      if (line == "ok" || line.starts_with("CHECK constraint failed in ") || line.starts_with("NULL value in ")) continue;
      problems.push_back(line);
    }
    return problems;
  }

  void Checkpoint() override { ExecuteControl("PRAGMA wal_checkpoint(TRUNCATE);"); }

  // Only a database in write-ahead-log mode is a company file.
  bool WritersQueueBesideFile() override {
    try {
      const auto statement = PrepareText("PRAGMA journal_mode;");
      return statement->Step() && statement->ColumnText(0) == "wal";
    } catch (const Error&) {
      return false;  // not a database: the write that follows fails on its own
    }
  }

  Error BusyError(std::string message) const override { return Error::Engine(SQLITE_BUSY, std::move(message)); }

  // AUTOINCREMENT keeps the last key handed out in sqlite_sequence, one row per table once it
  // handed out a key.
  int64_t KeyCounter(const TableDef& table) override {
    const auto statement = PrepareText("SELECT seq FROM sqlite_sequence WHERE name=?;");
    statement->BindText(1, table.name);
    return statement->Step() ? statement->ColumnInteger(0).value_or(0) : 0;
  }
  void AdvanceKeyCounter(const TableDef& table, int64_t last) override {
    const auto raise = PrepareText("UPDATE sqlite_sequence SET seq=?1 WHERE name=?2 AND seq<?1;");
    raise->BindInteger(1, last);
    raise->BindText(2, table.name);
    while (raise->Step()) {
    }
    const auto add = PrepareText(
        "INSERT INTO sqlite_sequence (name, seq) SELECT ?2, ?1 WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE "
        "name=?2);");
    add->BindInteger(1, last);
    add->BindText(2, table.name);
    while (add->Step()) {
    }
  }

 private:
  // Runs one transaction-control statement, compiled once per connection.
  void Control(std::string_view sql) {
    const auto statement = PrepareText(sql);
    while (statement->Step()) {
    }
  }

  // Compiles exactly one statement; see Prepare in Engine.h.
  sqlite3_stmt* Compile(std::string_view sql, unsigned int prepare_flags) {
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), prepare_flags, &statement, &tail);
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
    return statement;
  }

  // A file that cannot be written (read-only file, directory or mount) opens for reading: SQLite
  // itself falls back to read-only when the file cannot be opened for writing. The write-ahead
  // log's index (-shm) is the remaining obstacle: where it does not exist and cannot be created,
  // the file is opened as immutable, which is sound only while no log holds changes beside it
  // (nobody can write one in a place where the index cannot be created) and is refused otherwise.
  void OpenForReadingWhenNeeded() {
    const int rc = ProbeRead(db_);
    if (rc == SQLITE_OK || !CannotOpenForReading(rc)) return;  // other failures surface on first use
    sqlite3_close_v2(db_);
    db_ = nullptr;
    db_ = OpenHandle(path_, SQLITE_OPEN_READONLY | nofollow_, path_);
    if (ProbeRead(db_) == SQLITE_OK) return;
    struct stat log {};
    if (::stat((path_ + "-wal").c_str(), &log) == 0 && log.st_size > 0) {
      throw Error::Engine(SQLITE_CANTOPEN,
                          "unable to open database file (" + path_ +
                              " can only be read here, and its write-ahead log holds changes that cannot be read "
                              "without creating " + path_ + "-shm)");
    }
    sqlite3_close_v2(db_);
    db_ = nullptr;
    db_ = OpenHandle(FileUri(path_) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | nofollow_, path_);
    // It would never notice a change made once the place becomes writable: used for one call only.
    spent_ = true;
  }

  // The engine's own bound on the pages a connection keeps (its default, 2,000 KiB).
  static constexpr int64_t kDefaultCacheKib = 2000;

  // Back to the usual bound after a transaction that held more pages; the pages over it go.
  void ReleaseHeldPages() {
    if (!holding_pages_) return;
    holding_pages_ = false;
    ExecuteControl("PRAGMA cache_size=-" + std::to_string(kDefaultCacheKib) + ";");
  }

  // A write's statement journals (the pages a multi-row statement changed, kept until it ends)
  // in memory: past 64 KiB the engine would spill one to a new file in the temporary folder,
  // made and removed within the statement, which cost an invoice's issue about a tenth of its
  // time. A write's temporary data is bounded by the statements the library writes with. A read
  // (a report's above all) keeps the engine's default, so a sort of a large table spills to a
  // file rather than growing the heap. Set between transactions only, when it changes.
  void KeepTemporariesInMemory(bool in_memory) {
    if (in_memory == temporaries_in_memory_) return;
    ExecuteControl(in_memory ? "PRAGMA temp_store=MEMORY;" : "PRAGMA temp_store=DEFAULT;");
    temporaries_in_memory_ = in_memory;
  }

  std::string path_;
  bool temporaries_in_memory_ = false;  // PRAGMA temp_store=MEMORY, from the last Begin
  bool holding_pages_ = false;  // a transaction's HoldPagesInMemory raised the bound
  int nofollow_ = 0;  // SQLITE_OPEN_NOFOLLOW for every handle of this connection, or 0
  std::pair<uint64_t, uint64_t> identity_{0, 0};
  sqlite3* db_ = nullptr;
  bool spent_ = false;
  const Catalog* catalog_ = nullptr;  // from CheckSchema: what result columns are described by
  std::shared_ptr<StatementCache> cache_ = std::make_shared<StatementCache>();
};

}  // namespace

const EngineDialect& SqliteEngineDialect() { return kDialect; }

std::unique_ptr<EngineConnection> OpenSqliteFile(std::string_view target, OpenMode mode) {
  std::string path(target);
  if (path.empty()) throw Error::Runtime(kInvalidArgument, "The company file path is empty.");
  if (path.find('\0') != std::string::npos) {
    throw Error::Runtime(kInvalidArgument, "The company file path holds a NUL character.");
  }
  // A path is always a file: never a URI, never the in-memory database.
  if (path.starts_with("file:") || path == ":memory:") path.insert(0, "./");
  const bool no_links = CurrentCallLimits().refuse_links;
  if (no_links) {
    // Looked at before anything is opened or made, so nothing appears beside a link's target.
    const std::string refusal = LinkRefusal(path);
    if (!refusal.empty()) throw Error::Engine(SQLITE_CANTOPEN, refusal);
  }
  if (mode == OpenMode::kCreateNew) {
    // O_EXCL wins the race against another creator: an existing file is never written over
    // (nor is a link followed: O_EXCL refuses one at the path).
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      throw Error::Runtime(kInvalidArgument, "The file " + path +
                                                 " already exists or cannot be created; a company file is never "
                                                 "written over an existing one.");
    }
    ::close(fd);
  }
  return std::make_unique<SqliteConnection>(std::move(path), mode, no_links);
}

namespace {

constexpr std::string_view kConnectionPrefix = "Driver=SQLite;Dbq=";

bool ClaimsConnectionString(std::string_view text) { return text.starts_with(kConnectionPrefix); }

// An Account is a path, or a connection string of this driver as the interface documents it.
std::string_view FilePath(std::string_view account) {
  return ClaimsConnectionString(account) ? account.substr(kConnectionPrefix.size()) : account;
}

std::string FileConnectionString(std::string_view account) {
  return std::string(kConnectionPrefix) + std::string(FilePath(account));
}

// Two spellings of the same file join the same unit: the key is the normalised absolute path.
// The last few spellings seen on this thread are remembered, since every step of an operation
// asks for its unit.
std::string FileUnitKey(std::string_view account) {
  account = FilePath(account);
  thread_local std::vector<std::pair<std::string, std::string>> recent;
  for (const auto& [spelling, key] : recent) {
    if (spelling == account) return key;
  }
  std::error_code error;
  const auto canonical = std::filesystem::weakly_canonical(std::filesystem::path(account), error);
  std::string key = error ? std::string(account) : canonical.string();
  recent.insert(recent.begin(), {std::string(account), key});
  if (recent.size() > 8) recent.pop_back();
  return key;
}

// A path holds no secret: shown as it stands.
std::string ShownPath(std::string_view account) { return std::string(account); }

// A company in a data folder is the file NAME.ldb: a name that is one plain file name there.
constexpr size_t kMaxCompanyName = 64;

bool PlainFileName(std::string_view name) {
  if (name.empty() || name.size() > kMaxCompanyName) return false;
  for (const char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) {
      return false;
    }
  }
  return true;
}

std::string FileInFolder(std::string_view folder, std::string_view name) {
  return (std::filesystem::path(folder) / (std::string(name) + ".ldb")).string();
}

// SQLite's primary result codes the library reports.
std::vector<EngineErrorEntry> SqliteErrors() {
  const std::pair<int, const char*> codes[] = {
      {1, "SQL error (a report query the engine refuses)"},
      {5, "the company is busy: another writer held it past the wait limit"},
      {8, "the company may only be read"},
      {10, "an I/O error reading or writing the file"},
      {11, "the file is damaged"},
      {13, "the disk is full"},
      {14, "the file cannot be opened"},
      {19, "a rule of the file refused the change"},
      {26, "the file is not a company file"}};
  std::vector<EngineErrorEntry> errors;
  for (const auto& [code, meaning] : codes) {
    const auto number = static_cast<int32_t>(kEngineErrorBase + static_cast<uint32_t>(code));
    errors.push_back({"SQLite" + std::to_string(code), number,
                      std::string("SQLite, ") + ErrorNumberHex(number) + " (base " +
                          ErrorNumberHex(static_cast<int32_t>(kEngineErrorBase)) + " + result code " +
                          std::to_string(code) + "): " + meaning + "."});
  }
  return errors;
}

}  // namespace

const EngineDriver& SqliteDriver() {
  static const EngineDriver driver{
      .name = kEngineSource,
      .account_forms = "a company file's path",
      .names_files = true,
      .claims = ClaimsConnectionString,
      .connection_string = FileConnectionString,
      .unit_key = FileUnitKey,
      .shown = ShownPath,
      .company_name_fits = PlainFileName,
      .company_name_rule = "letters, digits, '_' or '-', at most 64",
      .company_account = FileInFolder,
      .errors = SqliteErrors,
      .open = [](std::string_view connection_string) {
        return OpenSqliteFile(connection_string.substr(kConnectionPrefix.size()), OpenMode::kExisting);
      },
      .create = [](std::string_view connection_string, const Catalog& catalog,
                   const std::function<void()>& first_rows) {
        CreateSqliteDatabase(connection_string.substr(kConnectionPrefix.size()), catalog, first_rows);
      },
      .dialect = kDialect,
  };
  return driver;
}

}  // namespace ledgerkit
