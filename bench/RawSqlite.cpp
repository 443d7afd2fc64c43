// The SQLite side of the bench: company files in the run's folder and the raw loops, written
// directly against sqlite3 with statements prepared once.
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Bench.h"
#include "ledgerkit/entities/Schema.h"

namespace bench {

namespace {

class RawDb {
 public:
  explicit RawDb(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
      sqlite3_close(db_);
      throw std::runtime_error("cannot open " + path);
    }
    Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
  }
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;
  ~RawDb() {
    for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }
  void Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string text = message ? message : "error";
      sqlite3_free(message);
      throw std::runtime_error(text + " in " + sql);
    }
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db_));
    }
    statements_.push_back(statement);
    return statement;
  }
  // Empties the log into the file and truncates it; throws when a reader or writer kept it from
  // finishing (what is counted next would then depend on the log's state).
  void Checkpoint() {
    int log_frames = 0, copied = 0;
    const int rc = sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &log_frames, &copied);
    if (rc != SQLITE_OK) throw std::runtime_error(std::string("checkpoint: ") + sqlite3_errmsg(db_));
  }
  int64_t PageSize() {
    sqlite3_stmt* statement = Prepare("PRAGMA page_size;");
    if (sqlite3_step(statement) != SQLITE_ROW) throw std::runtime_error("PRAGMA page_size gave no row");
    const int64_t size = sqlite3_column_int64(statement, 0);
    sqlite3_reset(statement);
    return size;
  }
  static void Run(sqlite3_stmt* statement) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
    }
    sqlite3_reset(statement);
  }

 private:
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
};

class SqliteQuery final : public RawQuery {
 public:
  SqliteQuery(const std::string& path, const std::string& sql) : db_(path), statement_(db_.Prepare(sql)) {}
  bool Next() override {
    if (sqlite3_step(statement_) == SQLITE_ROW) return true;
    sqlite3_reset(statement_);
    return false;
  }
  int64_t Integer(int column) const override { return sqlite3_column_int64(statement_, column); }
  std::string_view Text(int column) const override {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    if (text == nullptr) return {};
    return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(statement_, column))};
  }

 private:
  RawDb db_;
  sqlite3_stmt* statement_;
};

// BEGIN IMMEDIATE, one insert and one update, COMMIT.
class SqliteWriter final : public RawWriter {
 public:
  explicit SqliteWriter(const std::filesystem::path& dir) : raw_((dir / "raw.db").string()) {
    raw_.Exec("CREATE TABLE IF NOT EXISTS t (id INTEGER PRIMARY KEY, v INTEGER); CREATE TABLE IF NOT EXISTS c (n INTEGER);"
              "INSERT INTO c SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM c);");
    begin_ = raw_.Prepare("BEGIN IMMEDIATE;");
    insert_ = raw_.Prepare("INSERT INTO t (v) VALUES (?);");
    update_ = raw_.Prepare("UPDATE c SET n=n+1;");
    commit_ = raw_.Prepare("COMMIT;");
  }
  void Commit() override {
    RawDb::Run(begin_);
    sqlite3_bind_int64(insert_, 1, ++value_);
    RawDb::Run(insert_);
    RawDb::Run(update_);
    RawDb::Run(commit_);
    statements_ += 4;
  }
  uint64_t StatementsRun() const override { return statements_; }
  void Checkpoint() override { raw_.Checkpoint(); }
  int64_t PageSize() override { return raw_.PageSize(); }

 private:
  RawDb raw_;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* update_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
  int64_t value_ = 0;
  uint64_t statements_ = 0;
};

class Sqlite final : public RawEngine {
 public:
  explicit Sqlite(std::filesystem::path dir) : dir_(std::move(dir)) {}

  std::string Name() const override { return "sqlite"; }
  std::string CreateCompany(const std::string& name) override {
    const std::string path = (dir_ / (name + ".ldb")).string();
    std::filesystem::remove(path);
    ledgerkit::CreateSubscriberDatabase(path, "Bench Co", ledgerkit::FirstUser{"bench", "bench"});
    return path;
  }
  void DropCompany(const std::string&) override {}
  void Exec(const std::string& account, const std::string& sql) override { RawDb(account).Exec(sql); }
  std::unique_ptr<RawQuery> Query(const std::string& account, const std::string& sql) override {
    return std::make_unique<SqliteQuery>(account, sql);
  }
  std::unique_ptr<RawWriter> Writer() override { return std::make_unique<SqliteWriter>(dir_); }
  bool CountsFiles() const override { return true; }
  void Checkpoint(const std::string& account) override { RawDb(account).Checkpoint(); }
  int64_t PageSize(const std::string& account) override { return RawDb(account).PageSize(); }

  std::string BulkLoad(const std::string& statements) const override {
    return "BEGIN; " + statements + " COMMIT; ANALYZE;";
  }
  std::string Numbers(int64_t count) const override {
    return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<" + std::to_string(count) + ") ";
  }
  std::string Date2025(const std::string& month, const std::string& day) const override {
    return "printf('2025-%02d-%02d 00:00:00', " + month + ", " + day + ")";
  }
  std::string DayOf2025(const std::string& days) const override {
    return "date('2025-01-01', '+' || (" + days + ") || ' days') || ' 00:00:00'";
  }
  std::string FiveDigits(const std::string& value) const override { return "printf('%05d', " + value + ")"; }
  std::string BeginsWith(const std::string& column, char letter) const override {
    return column + " LIKE '" + std::string(1, letter) + "%'";
  }

 private:
  std::filesystem::path dir_;
};

}  // namespace

std::unique_ptr<RawEngine> SqliteEngine(const std::filesystem::path& dir) { return std::make_unique<Sqlite>(dir); }

}  // namespace bench
