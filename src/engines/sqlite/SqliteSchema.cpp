// The company file's schema in SQLite's words: the DDL written from the catalog, the register
// totals and the file's own rules as triggers, the marks (application_id, user_version), the
// creation of a new file and the upgrade of a file of an earlier version.
#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/Engine.h"
#include "ledgerkit/common/Error.h"
#include "common/UnfinishedFiles.h"
#include "common/UnitOfWork.h"
#include "engines/sqlite/SqliteEngine.h"

namespace ledgerkit {

namespace {

// A text as an SQL string literal.
std::string Quoted(std::string_view text) {
  std::string sql = "'";
  for (const char c : text) sql += c == '\'' ? std::string("''") : std::string(1, c);
  return sql + "'";
}

std::string Joined(const std::vector<std::string>& items) {
  std::string sql;
  for (const std::string& item : items) sql += (sql.empty() ? "" : ", ") + item;
  return sql;
}

// `items` joined with ", ", the last one on a line of its own after `indent`.
std::string ListBreakingBeforeLast(const std::vector<std::string>& items, std::string_view indent) {
  std::string sql;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) sql += i + 1 == items.size() ? ",\n" + std::string(indent) : std::string(", ");
    sql += items[i];
  }
  return sql;
}

// The table of kept totals: each total and each count an exact integer, 0 when nothing was added.
std::string KeptTotalsTableSql(const KeptTotalsDef& kept) {
  std::string sql = "\nCREATE TABLE " + std::string(kept.table) + " (\n  " + std::string(kept.key) + " INTEGER PRIMARY KEY";
  for (const bool counts : {false, true}) {
    for (const KeptSumDef& sum : kept.sums) {
      sql += ",\n  " + std::string(counts ? sum.count : sum.total) + " INTEGER NOT NULL DEFAULT 0";
    }
  }
  return sql + "\n);\n";
}

// The statement of a trigger that refuses a change of the kept totals of the source row `row`
// (NEW or OLD) that would leave the int64 range: `sign` is '+' when the row's amounts are added
// to the totals, '-' when they are taken away.
//
// The engine turns an integer sum that leaves the int64 range into a REAL; every sum the file
// keeps is therefore tested before it is made (without overflowing the test itself) and refused
// with a message starting "Overflow: ", which ThrowEngine reports as the runtime Overflow error.
// The engine cannot put values into such a message, so it names the kind of total; the ledger
// operations that add money check first and name the account themselves.
std::string KeptRangeGuardSql(const KeptTotalsDef& kept, std::string_view row, char sign) {
  const std::string r(row);
  // Adding x overflows above when x>0 and total>MAX-x; taking x away when x<0 and total>MAX+x.
  const auto bound = [&](std::string_view amount, std::string_view total) {
    const std::string x = r + "." + std::string(amount);
    const std::string up = sign == '+' ? ">0" : "<0";
    const std::string down = sign == '+' ? "<0" : ">0";
    const std::string op = sign == '+' ? "-" : "+";
    return "    (" + x + up + " AND t." + std::string(total) + ">9223372036854775807" + op + x + ") OR\n" + "    (" + x +
           down + " AND t." + std::string(total) + "<-9223372036854775808" + op + x + ")";
  };
  std::string bounds;
  for (const KeptSumDef& sum : kept.sums) bounds += (bounds.empty() ? "" : " OR\n") + bound(sum.amount, sum.total);
  return "  SELECT RAISE(ABORT, " + Quoted(RangeGuardMessage(kept.overflow_what)) + ")\n  FROM " +
         std::string(kept.table) + " t WHERE t." + std::string(kept.key) + "=" + r + "." + std::string(kept.source_key) +
         " AND (\n" + bounds + ");\n";
}

// The statements that add the amounts of the source row NEW to its key's totals, making the
// totals row when there is none; `only_keyed` when the trigger itself does not leave out a row
// whose key is Null.
std::string KeptAddSql(const KeptTotalsDef& kept, bool only_keyed) {
  const std::string key(kept.key), source_key = "NEW." + std::string(kept.source_key);
  std::string columns = key;
  std::vector<std::string> values{source_key};
  std::vector<std::string> totals, counts;
  for (const KeptSumDef& sum : kept.sums) {
    const std::string total(sum.total);
    columns += ", " + total;
    values.push_back("COALESCE(NEW." + std::string(sum.amount) + ",0)");
    totals.push_back(total + "=" + total + "+excluded." + total);
  }
  for (const KeptSumDef& sum : kept.sums) {
    const std::string count(sum.count);
    columns += ", " + count;
    values.push_back("NEW." + std::string(sum.amount) + " IS NOT NULL");
    counts.push_back(count + "=" + count + "+excluded." + count);
  }
  std::string sql = KeptRangeGuardSql(kept, "NEW", '+') + "  INSERT INTO " + std::string(kept.table) + " (" + columns + ")\n";
  sql += only_keyed ? "  SELECT " + ListBreakingBeforeLast(values, "         ") + " WHERE " + source_key + " IS NOT NULL\n"
                    : "  VALUES (" + ListBreakingBeforeLast(values, "          ") + ")\n";
  return sql + "  ON CONFLICT(" + key + ") DO UPDATE SET " + Joined(totals) + ",\n    " + Joined(counts) + ";\n";
}

// The statements that take the amounts of the source row OLD away from its key's totals.
std::string KeptRemoveSql(const KeptTotalsDef& kept) {
  std::string totals, counts;
  for (const KeptSumDef& sum : kept.sums) {
    const std::string total(sum.total), count(sum.count), amount = "OLD." + std::string(sum.amount);
    totals += (totals.empty() ? "" : ", ") + total + "=" + total + "-COALESCE(" + amount + ",0)";
    counts += (counts.empty() ? "" : ", ") + count + "=" + count + "-(" + amount + " IS NOT NULL)";
  }
  return KeptRangeGuardSql(kept, "OLD", '-') + "  UPDATE " + std::string(kept.table) + " SET " + totals + ",\n    " +
         counts + "\n  WHERE " + std::string(kept.key) + "=OLD." + std::string(kept.source_key) + ";\n";
}

// The triggers that keep `kept` on every insert, delete and update of its source rows.
std::string KeptTotalsTriggersSql(const KeptTotalsDef& kept) {
  const std::string source(kept.source), source_key(kept.source_key);
  std::string watched = source_key;
  for (const KeptSumDef& sum : kept.sums) watched += ", " + std::string(sum.amount);
  return "CREATE TRIGGER " + std::string(kept.insert_trigger) + " AFTER INSERT ON " + source + " WHEN NEW." + source_key +
         " IS NOT NULL BEGIN\n" + KeptAddSql(kept, false) + "END;\n" + "CREATE TRIGGER " +
         std::string(kept.delete_trigger) + " AFTER DELETE ON " + source + " WHEN OLD." + source_key +
         " IS NOT NULL BEGIN\n" + KeptRemoveSql(kept) + "END;\n" + "CREATE TRIGGER " + std::string(kept.update_trigger) +
         " AFTER UPDATE OF " + watched + " ON " + source + " BEGIN\n" + KeptRemoveSql(kept) + KeptAddSql(kept, true) +
         "END;\n";
}

// The key column of the catalog's table `name`.
std::string KeyOf(const Catalog& catalog, std::string_view name) {
  for (const TableDef& table : catalog.tables) {
    if (table.name == name) return std::string(table.columns[0].name);
  }
  throw Error::Runtime(kInvalidArgument, "The catalog has no table named " + std::string(name) + ".");
}

// The file's own rules, created after the tables and again after an upgrade rebuilt them: the
// kept totals' triggers, the range guards and the delete guards of the catalog.
//
// A money column may be written with a sum the engine made a REAL on leaving the int64 range;
// a value that large is refused as an Overflow before it is stored.
std::string TriggersSql(const Catalog& catalog) {
  std::string sql = "\n";
  for (const KeptTotalsDef& kept : catalog.kept_totals) sql += KeptTotalsTriggersSql(kept);
  for (const RangeGuardDef& guard : catalog.range_guards) {
    const std::string column(guard.column);
    sql += "CREATE TRIGGER " + std::string(guard.trigger) + " BEFORE UPDATE OF " + column + " ON " +
           std::string(guard.table) + "\nWHEN typeof(NEW." + column + ")='real' AND abs(NEW." + column +
           ")>=9.2e18 BEGIN\n  SELECT RAISE(ABORT, " + Quoted(RangeGuardMessage(guard.what)) + ");\nEND;\n";
  }
  for (const DeleteGuardDef& guard : catalog.delete_guards) {
    sql += "CREATE TRIGGER " + std::string(guard.trigger) + " BEFORE DELETE ON " + std::string(guard.table) +
           "\nWHEN EXISTS (SELECT 1 FROM " + std::string(guard.referencing) + " WHERE " + std::string(guard.column) +
           "=OLD." + KeyOf(catalog, guard.table) + ") BEGIN\n  SELECT RAISE(ABORT, " +
           Quoted(DeleteGuardMessage(guard)) + ");\nEND;\n";
  }
  return sql;
}

// SQLite's form of a column default.
std::string_view DefaultSql(ColumnDefault value) {
  switch (value) {
    case ColumnDefault::kNone: return {};
    case ColumnDefault::kZero: return "0";
    case ColumnDefault::kNow: return "(strftime('%Y-%m-%d %H:%M:%S','now','localtime'))";
  }
  return {};
}

// `table_key` is the name of the table's own key (its first column); other kKey columns are links.
std::string ColumnSql(const ColumnDef& column, std::string_view table_key) {
  std::string sql(column.name);
  switch (column.kind) {
    case FieldType::kKey:
      if (column.name == table_key) return sql + " INTEGER PRIMARY KEY AUTOINCREMENT";
      sql += " INTEGER";
      break;
    case FieldType::kLong:
    case FieldType::kInteger: sql += " INTEGER"; break;
    case FieldType::kVariant: break;
    case FieldType::kText: {
      const std::string width = std::to_string(column.width);
      sql += " TEXT(" + width + ")";
      if (column.ignore_case) sql += " COLLATE NOCASE";
      sql += " CHECK(length(" + std::string(column.name) + ")<=" + width + ")";
      break;
    }
    case FieldType::kCurrency:
      // An exact count of ten-thousandths or nothing: never a REAL (a sum that overflowed) nor text.
      sql += " CURRENCY CHECK(typeof(" + std::string(column.name) + ") IN ('integer','null'))";
      break;
    case FieldType::kDouble: sql += " DOUBLE"; break;
    case FieldType::kDate: sql += " DATETIME"; break;
    case FieldType::kBoolean: sql += " BOOLEAN"; break;
  }
  if (column.default_value != ColumnDefault::kNone) sql += " DEFAULT " + std::string(DefaultSql(column.default_value));
  return sql;
}

// Removes a company file that was never finished (under its temporary name), with everything
// the engine made beside it: its log and index.
void RemoveCompanyFile(const std::string& path) {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm", "-journal", "-lock"}) std::filesystem::remove(path + suffix, ignored);
}

// The path a connection opens for `path` (OpenSqliteFile's reading: never a URI).
std::string SqliteFilePath(std::string_view path) {
  std::string file(path);
  if (file.starts_with("file:") || file == ":memory:") file.insert(0, "./");
  return file;
}

[[noreturn]] void ThrowFileThere(const std::string& path) {
  throw Error::Runtime(kInvalidArgument, "The file " + path +
                                             " already exists or cannot be created; a company file is never written "
                                             "over an existing one.");
}

// Anything at `path`, a link that leads nowhere included, is never written over.
void ThrowIfFileThere(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 || errno != ENOENT) ThrowFileThere(path);
}

// Where a new company file is written until it is complete: beside it (the rename stays on one
// file system), hidden, and named so that no one takes it for a company (it does not end in
// .ldb; `ledgerkit serve --data` reaches only NAME.ldb), with this process's number and a count
// so that two creators never share one.
// One left by a process of the same number that was killed is stepped over, never removed here.
std::string UnfinishedName(const std::string& path) {
  static std::atomic<uint64_t> count{0};
  const std::filesystem::path file(path);
  for (;;) {
    const std::string name = "." + file.filename().string() + ".lk-unfinished-" + std::to_string(::getpid()) + "-" +
                             std::to_string(count.fetch_add(1));
    const std::string unfinished = (file.parent_path() / name).string();
    struct stat status {};
    if (::lstat(unfinished.c_str(), &status) != 0 && errno == ENOENT) return unfinished;
  }
}

// Gives the complete file `unfinished` the name `destination`, never over a file that appeared
// there meanwhile (another creator's): that is refused as an existing file. The folder is
// synced, so the name survives a crash of the machine once this returns.
void TakeFinalName(const std::string& unfinished, const std::string& destination) {
  if (::renameat2(AT_FDCWD, unfinished.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) != 0) {
    const int rename_error = errno;
    if (rename_error == EEXIST) ThrowFileThere(destination);
    // A file system that cannot rename without replacing: a second link is as safe.
    if (rename_error != EINVAL && rename_error != ENOSYS) {
      throw Error::Runtime(kInvalidArgument, "The new company file " + unfinished + " could not be renamed " +
                                                 destination + ": " + std::strerror(rename_error) + ".");
    }
    if (::link(unfinished.c_str(), destination.c_str()) != 0) {
      const int link_error = errno;
      if (link_error == EEXIST) ThrowFileThere(destination);
      throw Error::Runtime(kInvalidArgument, "The new company file " + unfinished + " could not be renamed " +
                                                 destination + ": " + std::strerror(link_error) + ".");
    }
    ::unlink(unfinished.c_str());
  }
  const std::string folder = std::filesystem::path(destination).parent_path().string();
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    static_cast<void>(::fsync(fd));
    ::close(fd);
  }
}

std::string CreateTableSql(const TableDef& table, std::string_view name) {
  std::string sql = "CREATE TABLE " + std::string(name) + " (\n";
  for (size_t i = 0; i < table.columns.size(); ++i) {
    sql += "  " + ColumnSql(table.columns[i], table.columns[0].name) + (i + 1 < table.columns.size() ? ",\n" : "\n");
  }
  return sql + ");\n";
}

std::string IndexesSql(const Catalog& catalog) {
  std::string sql;
  for (const IndexDef& index : catalog.indexes) sql += IndexSql(index, SqliteEngineDialect());
  return sql;
}

// One statement's rows, every column as text (Null as nullopt); for the few reads of the
// schema check, which runs below the library's data access on a bare connection.
std::vector<std::vector<std::optional<std::string>>> Rows(EngineConnection& connection, std::string_view sql) {
  std::vector<std::vector<std::optional<std::string>>> rows;
  const auto statement = connection.Prepare(Sql(sql));
  while (statement->Step()) {
    auto& row = rows.emplace_back();
    for (int i = 0; i < statement->ColumnCount(); ++i) {
      if (statement->ColumnIsNull(i)) {
        row.emplace_back();
      } else {
        row.emplace_back(std::string(statement->ColumnText(i)));
      }
    }
  }
  return rows;
}

int32_t StoredSchemaVersion(EngineConnection& connection) {
  const auto rows = Rows(connection, "PRAGMA user_version;");
  return rows.empty() || !rows[0][0] ? 0 : std::stoi(*rows[0][0]);
}

// Makes `table` anew with `columns` inside the caller's write transaction, the way SQLite
// changes what ALTER TABLE cannot: the new table is made under a scratch name, given the
// columns it shares with the old one (a table the file lacks is made empty), and takes the old
// name; the old table's indexes are made again as they were. Its AUTOINCREMENT counter is
// carried over, so no key handed out is ever used again. Money values the old file holds are
// copied as they are, exact or not: `check` reports the ones that are not, and nothing is lost.
// The caller has dropped the triggers that name the table; they go with it or fail the rename.
void RebuildTable(EngineConnection& connection, const TableDef& table) {
  const std::string name(table.name);
  const std::string scratch = "lk_upgrade_" + name;
  const auto sequence = Rows(connection, "SELECT seq FROM sqlite_sequence WHERE name=" + Quoted(name) + ";");
  std::string indexes;
  for (const auto& row : Rows(connection, "SELECT sql FROM sqlite_master WHERE type='index' AND tbl_name=" +
                                              Quoted(name) + " AND sql IS NOT NULL;")) {
    if (row[0]) indexes += *row[0] + ";\n";
  }
  std::string common;
  for (const auto& row : Rows(connection, "SELECT name FROM pragma_table_info(" + Quoted(name) + ");")) {
    for (const ColumnDef& column : table.columns) {
      if (row[0] && *row[0] == column.name) {
        if (!common.empty()) common += ',';
        common += column.name;
      }
    }
  }
  std::string sql = CreateTableSql(table, scratch);
  if (!common.empty()) sql += "INSERT INTO " + scratch + " (" + common + ") SELECT " + common + " FROM " + name + ";\n";
  sql += "DROP TABLE IF EXISTS " + name + ";\nALTER TABLE " + scratch + " RENAME TO " + name + ";\n" + indexes;
  connection.ExecuteControl("PRAGMA ignore_check_constraints=ON;");
  connection.ExecuteControl(sql);
  connection.ExecuteControl("PRAGMA ignore_check_constraints=OFF;");
  if (!sequence.empty() && sequence[0][0]) {
    const std::string seq = *sequence[0][0];
    connection.ExecuteControl("DELETE FROM sqlite_sequence WHERE name=" + Quoted(name) + " AND seq<" + seq + ";");
    connection.ExecuteControl("INSERT INTO sqlite_sequence (name, seq) SELECT " + Quoted(name) + ", " + seq +
                              " WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name=" + Quoted(name) + ");");
  }
}

// True when a step after `step` in the catalog's list adds the table `name`: the table is that
// step's to make.
bool AddedLater(const Catalog& catalog, std::string_view name, const SchemaStep& step) {
  for (const SchemaStep& other : catalog.steps) {
    if (&other > &step && other.kind == SchemaStepKind::kAddTable && other.table == name) return true;
  }
  return false;
}

// One step in SQLite's words, inside the upgrade's transaction. A column SQLite's ALTER TABLE
// ADD COLUMN cannot take (the table's key, or a default that is not a constant, as the time of
// the insert) makes the table anew instead; so does a change of column definitions, which
// SQLite has no ALTER for.
void ApplyStep(EngineConnection& connection, const Catalog& catalog, const SchemaStep& step) {
  switch (step.kind) {
    case SchemaStepKind::kAddTable: {
      const std::vector<ColumnDef> columns = ColumnsAtStep(catalog, CatalogTable(catalog, step.table), step);
      connection.ExecuteControl(CreateTableSql(TableDef{step.table, columns}, step.table));
      return;
    }
    case SchemaStepKind::kAddColumn: {
      const TableDef& table = CatalogTable(catalog, step.table);
      const ColumnDef& column = *step.column;
      if (column.name == table.columns[0].name || column.default_value == ColumnDefault::kNow) {
        const std::vector<ColumnDef> columns = ColumnsAtStep(catalog, table, step);
        RebuildTable(connection, TableDef{table.name, columns});
        return;
      }
      connection.ExecuteControl("ALTER TABLE " + std::string(table.name) + " ADD COLUMN " +
                                ColumnSql(column, table.columns[0].name) + ";");
      return;
    }
    case SchemaStepKind::kAddIndex:
      connection.ExecuteControl(
          IndexSql(IndexDef{step.table, step.columns, step.whole_numbers}, connection.Dialect(), true));
      return;
    case SchemaStepKind::kRedefineColumns:
      for (const TableDef& table : catalog.tables) {
        if (AddedLater(catalog, table.name, step)) continue;
        const std::vector<ColumnDef> columns = ColumnsAtStep(catalog, table, step);
        RebuildTable(connection, TableDef{table.name, columns});
      }
      return;
    case SchemaStepKind::kBackfill:
      RunBackfill(connection, step);
      return;
  }
}

// The names of the file's own rules (TriggersSql).
std::vector<std::string_view> TriggerNames(const Catalog& catalog) {
  std::vector<std::string_view> names;
  for (const KeptTotalsDef& kept : catalog.kept_totals) {
    names.insert(names.end(), {kept.insert_trigger, kept.delete_trigger, kept.update_trigger});
  }
  for (const RangeGuardDef& guard : catalog.range_guards) names.push_back(guard.trigger);
  for (const DeleteGuardDef& guard : catalog.delete_guards) names.push_back(guard.trigger);
  return names;
}

// The refusal of a file of a version the catalog's steps do not reach.
Error VersionRefused(const EngineConnection& connection, const Catalog& catalog, int32_t version) {
  return Error::Runtime(kInvalidArgument, "The company file " + connection.Path() + " has schema version " +
                                              std::to_string(version) + ", which this library (schema version " +
                                              std::to_string(catalog.version) + ") cannot open.");
}

// Throws `failure`, or, when it is the engine's refusal to write a file this process may only
// read (the engine refuses the first write, not the BEGIN), the way out.
[[noreturn]] void RefuseReadOnly(EngineConnection& connection, const Catalog& catalog, int32_t version,
                                 const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Error& error) {
    if (error.number() != EngineErrorNumber(SQLITE_READONLY)) throw;
    throw Error::Runtime(kInvalidArgument, "The company file " + connection.Path() + " has schema version " +
                                               std::to_string(version) +
                                               "; open it once with write access to bring it to version " +
                                               std::to_string(catalog.version) + ".");
  }
}

// Brings a file of an earlier schema version to the catalog's in one transaction: the file's
// rules are dropped, the catalog's steps after the stored version applied in order, the rules
// made again from the catalog and the version set. Another process may have done it meanwhile,
// which the version read under the write lock tells. The kept totals stay as kept: a step
// never changes the amounts they sum.
void UpgradeSchema(EngineConnection& connection, const Catalog& catalog, int32_t version) {
  try {
    connection.ExecuteControl("BEGIN IMMEDIATE;");
    const int32_t stored = StoredSchemaVersion(connection);
    // A newer library may have been first.
    if (stored > catalog.version) throw VersionRefused(connection, catalog, stored);
    if (stored < catalog.version) {
      for (const std::string_view trigger : TriggerNames(catalog)) {
        connection.ExecuteControl("DROP TRIGGER IF EXISTS " + std::string(trigger) + ";");
      }
      for (const SchemaStep& step : catalog.steps) {
        if (step.version > stored && step.version <= catalog.version) ApplyStep(connection, catalog, step);
      }
      connection.ExecuteControl(TriggersSql(catalog));
      connection.ExecuteControl("PRAGMA user_version=" + std::to_string(catalog.version) + ";");
    }
    connection.ExecuteControl("COMMIT;");
  } catch (...) {
    try {
      connection.ExecuteControl("PRAGMA ignore_check_constraints=OFF;");
      if (connection.InTransaction()) connection.ExecuteControl("ROLLBACK;");
    } catch (...) {
      // The first failure is the one reported; closing the connection ends the transaction.
    }
    RefuseReadOnly(connection, catalog, version, std::current_exception());
  }
}

}  // namespace

std::string SqliteSchemaSql(const Catalog& catalog) {
  std::string sql;
  for (const TableDef& table : catalog.tables) sql += CreateTableSql(table, table.name);
  sql += IndexesSql(catalog);
  for (const KeptTotalsDef& kept : catalog.kept_totals) sql += KeptTotalsTableSql(kept);
  sql += TriggersSql(catalog);
  return sql;
}

void CheckSqliteSchema(EngineConnection& connection, const Catalog& catalog) {
  // One read per new connection. Another program's database (or an empty file) is left to
  // fail as it does on its first statement.
  const auto rows =
      Rows(connection, "SELECT application_id, user_version FROM pragma_application_id, pragma_user_version;");
  if (rows.empty() || !rows[0][0] || !rows[0][1] || std::stoll(*rows[0][0]) != catalog.mark) return;
  const int32_t version = std::stoi(*rows[0][1]);
  if (version == catalog.version) return;
  if (version > catalog.version || version < 1) throw VersionRefused(connection, catalog, version);
  UpgradeSchema(connection, catalog, version);
}

void CreateSqliteDatabase(std::string_view path, const Catalog& catalog, const std::function<void()>& first_rows) {
  // An empty path or one holding a NUL is refused as OpenSqliteFile refuses it, before anything.
  if (path.empty() || path.find('\0') != std::string_view::npos) {
    static_cast<void>(OpenSqliteFile(path, OpenMode::kCreateNew));
  }
  const std::string destination = SqliteFilePath(path);
  // Refused before anything is made, so a file that was there is never touched; the rename at
  // the end decides a race with another creator the same way.
  ThrowIfFileThere(destination);
  const std::string unfinished = UnfinishedName(destination);
  // Registered before it exists: a stop at any moment from here on removes whatever was begun.
  const UnfinishedFile registered(unfinished);
  std::unique_ptr<EngineConnection> connection;
  try {
    connection = OpenSqliteFile(unfinished, OpenMode::kCreateNew);
  } catch (const Error& error) {
    RemoveCompanyFile(unfinished);
    // A folder that is missing or not writable: the destination cannot be created.
    if (error.number() == kInvalidArgument) ThrowFileThere(destination);
    throw;
  }
  try {
    // The mark goes in with the schema and the first rows, in one transaction: until it commits,
    // the file under its temporary name is not even a company.
    connection->ExecuteControl("PRAGMA journal_mode=WAL;");
    connection->ExecuteControl("BEGIN IMMEDIATE;");
    connection->ExecuteControl("PRAGMA application_id=" + std::to_string(catalog.mark) + ";");
    connection->ExecuteControl(SqliteSchemaSql(catalog));
    connection->ExecuteControl("PRAGMA user_version=" + std::to_string(catalog.version) + ";");
    // Finds the schema current, and lets the first rows' reads describe their columns.
    connection->CheckSchema(catalog);
    UnitOfWork::RunOnNewCompany(std::string(path), *connection, first_rows);
    connection->ExecuteControl("COMMIT;");
    // Closing the last connection moves the log into the file and removes it; a log left behind
    // would be lost with the rename.
    connection.reset();
    std::error_code ignored;
    if (std::filesystem::file_size(unfinished + "-wal", ignored) > 0 && !ignored) {
      throw Error::Runtime(kInvalidArgument, "The new company file " + unfinished +
                                                 " kept its write-ahead log when it was closed; nothing was made at " +
                                                 destination + ".");
    }
    TakeFinalName(unfinished, destination);
  } catch (...) {
    connection.reset();  // rolls back what is still open, before the files go
    RemoveCompanyFile(unfinished);
    throw;
  }
}

}  // namespace ledgerkit
