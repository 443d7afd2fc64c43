// The SQLite engine's file layer, which gathers a log's frames into one write: what one
// connection commits, spills or rolls back is seen by another exactly as without the layer.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "engines/sqlite/SqliteLogWrites.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

class Handle {
 public:
  Handle(const std::string& path, const char* vfs) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(db_);
    }
  }
  ~Handle() { sqlite3_close_v2(db_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  // Runs `sql`; "" when it succeeded, else SQLite's message.
  std::string Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return "";
    std::string text = message != nullptr ? message : "failed";
    sqlite3_free(message);
    return text;
  }
  // The first column of the first row of `sql`, as text.
  std::string Scalar(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return sqlite3_errmsg(db_);
    std::string value = sqlite3_step(statement) == SQLITE_ROW
                            ? reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))
                            : sqlite3_errmsg(db_);
    sqlite3_finalize(statement);
    return value;
  }

 private:
  sqlite3* db_ = nullptr;
};

TEST(SqliteFileLayer, CommitsSpillsAndRollbacksReadTheSameFromEveryConnection) {
  LEDGERKIT_FILE_ONLY("a file layer of SQLite's");
  testing::TempCompany folder;
  const std::string path = (folder.folder() / "layer.db").string();
  Handle writer(path, SqliteFileLayer());
  Handle reader(path, SqliteFileLayer());
  // A cache of a few pages, so that a large transaction spills frames into the log before its
  // commit and reads them back from there.
  ASSERT_EQ(writer.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA cache_size=8;"
                        "CREATE TABLE t (id INTEGER PRIMARY KEY, v BLOB);"),
            "");
  const std::string rows_of_1k = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<2000) "
                                 "INSERT INTO t (v) SELECT randomblob(1000) FROM n;";

  // Several times the gathering bound in one transaction, read back inside it, then committed:
  // the other connection sees all of it at once.
  ASSERT_EQ(writer.Exec("BEGIN; " + rows_of_1k), "");
  EXPECT_EQ(writer.Scalar("SELECT count(*) FROM t;"), "2000");
  EXPECT_EQ(reader.Scalar("SELECT count(*) FROM t;"), "0");
  ASSERT_EQ(writer.Exec("COMMIT;"), "");
  const std::string sum = writer.Scalar("SELECT sum(length(v)) + sum(unicode(hex(v))) FROM t;");
  EXPECT_EQ(reader.Scalar("SELECT sum(length(v)) + sum(unicode(hex(v))) FROM t;"), sum);

  // A commit that is not synced (the library's connections sync every one) still reaches the
  // log before the reader is shown it; and a spilled transaction rolled back leaves nothing.
  ASSERT_EQ(writer.Exec("PRAGMA synchronous=OFF; INSERT INTO t (v) VALUES (x'01'); PRAGMA synchronous=FULL;"), "");
  EXPECT_EQ(reader.Scalar("SELECT count(*) || hex(max(v)) FROM t WHERE id=2001;"), "101");
  EXPECT_EQ(reader.Scalar("SELECT count(*) FROM t;"), "2001");
  ASSERT_EQ(writer.Exec("BEGIN; " + rows_of_1k + " DELETE FROM t WHERE id<=1000;"), "");
  EXPECT_EQ(writer.Scalar("SELECT count(*) FROM t;"), "3001");
  ASSERT_EQ(writer.Exec("ROLLBACK;"), "");
  EXPECT_EQ(writer.Scalar("SELECT count(*) FROM t;"), "2001");
  EXPECT_EQ(reader.Scalar("SELECT count(*) FROM t;"), "2001");

  // Checkpointed by the reader and opened without the layer: the file holds what was committed.
  EXPECT_EQ(reader.Scalar("PRAGMA wal_checkpoint(TRUNCATE);"), "0");
  Handle plain(path, nullptr);
  EXPECT_EQ(plain.Scalar("PRAGMA integrity_check;"), "ok");
  EXPECT_EQ(plain.Scalar("SELECT count(*) FROM t;"), "2001");
  EXPECT_EQ(plain.Scalar("SELECT sum(length(v)) + sum(unicode(hex(v))) FROM t WHERE id<=2000;"), sum);
}

}  // namespace
}  // namespace ledgerkit
