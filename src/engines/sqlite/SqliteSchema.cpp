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
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/Engine.h"
#include "ledgerkit/common/Error.h"
#include "common/UnfinishedFiles.h"
#include "common/UnitOfWork.h"
#include "security/UserNames.h"
#include "engines/sqlite/SqliteEngine.h"

namespace ledgerkit {

namespace {

// Per-account totals of the register, kept by triggers on every change of ACTransaction
// (whoever makes it), so an account's balance is read without summing its rows. The row
// counts tell "no amounts" (Null balance) from amounts that sum to 0.
constexpr std::string_view kRegisterTotalsTableSql = R"sql(
CREATE TABLE lk_RegisterTotal (
  AccountID INTEGER PRIMARY KEY,
  Debits INTEGER NOT NULL DEFAULT 0,
  Credits INTEGER NOT NULL DEFAULT 0,
  DebitRows INTEGER NOT NULL DEFAULT 0,
  CreditRows INTEGER NOT NULL DEFAULT 0
);
)sql";

// The statement of a trigger that refuses a change of the kept totals of the account `row`
// (NEW or OLD) that would leave the int64 range: `sign` is '+' when the row's amounts are added
// to the totals, '-' when they are taken away.
std::string TotalsRangeGuard(std::string_view row, char sign) {
  const std::string r(row);
  // Adding x overflows above when x>0 and total>MAX-x; taking x away when x<0 and total>MAX+x.
  const auto bound = [&](const char* amount, const char* total) {
    const std::string x = r + "." + amount;
    const std::string up = sign == '+' ? ">0" : "<0";
    const std::string down = sign == '+' ? "<0" : ">0";
    const std::string op = sign == '+' ? "-" : "+";
    return "    (" + x + up + " AND t." + total + ">9223372036854775807" + op + x + ") OR\n" +
           "    (" + x + down + " AND t." + total + "<-9223372036854775808" + op + x + ")";
  };
  return "  SELECT RAISE(ABORT, 'Overflow: an account''s total of register debits or credits would leave the "
         "currency range.')\n  FROM lk_RegisterTotal t WHERE t.AccountID=" + r + ".Parent AND (\n" +
         bound("Withdrawal", "Debits") + " OR\n" + bound("Deposit", "Credits") + ");\n";
}

// The file's own rules, created after the tables and again after an upgrade rebuilt them, with
// the range guards written out.
//
// The engine turns an integer sum that leaves the int64 range into a REAL; every money sum the
// file keeps is therefore tested before it is made (without overflowing the test itself) and
// refused with a message starting "Overflow: ", which ThrowEngine reports as the runtime
// Overflow error. The engine cannot put values into such a message, so it names the kind of
// total; the ledger operations that add money check first and name the account themselves.
//
// An account that register rows or waiting lines still refer to is not deleted: the money
// would be left posted to nowhere. Sub-accounts, invoices and tax codes are not looked for.
std::string TriggersSql() {
  std::string sql(R"sql(
CREATE TRIGGER lk_register_insert AFTER INSERT ON ACTransaction WHEN NEW.Parent IS NOT NULL BEGIN
@ADD@  INSERT INTO lk_RegisterTotal (AccountID, Debits, Credits, DebitRows, CreditRows)
  VALUES (NEW.Parent, COALESCE(NEW.Withdrawal,0), COALESCE(NEW.Deposit,0), NEW.Withdrawal IS NOT NULL,
          NEW.Deposit IS NOT NULL)
  ON CONFLICT(AccountID) DO UPDATE SET Debits=Debits+excluded.Debits, Credits=Credits+excluded.Credits,
    DebitRows=DebitRows+excluded.DebitRows, CreditRows=CreditRows+excluded.CreditRows;
END;
CREATE TRIGGER lk_register_delete AFTER DELETE ON ACTransaction WHEN OLD.Parent IS NOT NULL BEGIN
@REMOVE@  UPDATE lk_RegisterTotal SET Debits=Debits-COALESCE(OLD.Withdrawal,0), Credits=Credits-COALESCE(OLD.Deposit,0),
    DebitRows=DebitRows-(OLD.Withdrawal IS NOT NULL), CreditRows=CreditRows-(OLD.Deposit IS NOT NULL)
  WHERE AccountID=OLD.Parent;
END;
CREATE TRIGGER lk_register_update AFTER UPDATE OF Parent, Withdrawal, Deposit ON ACTransaction BEGIN
@REMOVE@  UPDATE lk_RegisterTotal SET Debits=Debits-COALESCE(OLD.Withdrawal,0), Credits=Credits-COALESCE(OLD.Deposit,0),
    DebitRows=DebitRows-(OLD.Withdrawal IS NOT NULL), CreditRows=CreditRows-(OLD.Deposit IS NOT NULL)
  WHERE AccountID=OLD.Parent;
@ADD@  INSERT INTO lk_RegisterTotal (AccountID, Debits, Credits, DebitRows, CreditRows)
  SELECT NEW.Parent, COALESCE(NEW.Withdrawal,0), COALESCE(NEW.Deposit,0), NEW.Withdrawal IS NOT NULL,
         NEW.Deposit IS NOT NULL WHERE NEW.Parent IS NOT NULL
  ON CONFLICT(AccountID) DO UPDATE SET Debits=Debits+excluded.Debits, Credits=Credits+excluded.Credits,
    DebitRows=DebitRows+excluded.DebitRows, CreditRows=CreditRows+excluded.CreditRows;
END;
CREATE TRIGGER lk_balance_overflow BEFORE UPDATE OF Balance ON ACAccount
WHEN typeof(NEW.Balance)='real' AND abs(NEW.Balance)>=9.2e18 BEGIN
  SELECT RAISE(ABORT, 'Overflow: an account''s balance would leave the currency range.');
END;
CREATE TRIGGER lk_account_delete_rows BEFORE DELETE ON ACAccount
WHEN EXISTS (SELECT 1 FROM ACTransaction WHERE Parent=OLD.ACAccountID) BEGIN
  SELECT RAISE(ABORT, 'The account is not deleted: register rows (ACTransaction.Parent) still refer to it.');
END;
CREATE TRIGGER lk_account_delete_lines BEFORE DELETE ON ACAccount
WHEN EXISTS (SELECT 1 FROM ACTransLogWIP WHERE AccountID=OLD.ACAccountID) BEGIN
  SELECT RAISE(ABORT, 'The account is not deleted: waiting lines (ACTransLogWIP.AccountID) still refer to it.');
END;
)sql");
  for (const auto& [mark, guard] : {std::pair<std::string_view, std::string>{"@ADD@", TotalsRangeGuard("NEW", '+')},
                                    {"@REMOVE@", TotalsRangeGuard("OLD", '-')}}) {
    for (size_t at = sql.find(mark); at != std::string::npos; at = sql.find(mark, at + guard.size())) {
      sql.replace(at, mark.size(), guard);
    }
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
  for (const IndexDef& index : catalog.indexes) {
    std::string name = "ix_" + std::string(index.table) + "_" + std::string(index.columns);
    for (char& c : name) c = c == ',' ? '_' : c;
    sql += "CREATE INDEX " + name + " ON " + std::string(index.table) + " (" + std::string(index.columns) + ");\n";
  }
  return sql;
}

// One statement's rows, every column as text (Null as nullopt); for the few reads of the
// schema check, which runs below the library's data access on a bare connection.
std::vector<std::vector<std::optional<std::string>>> Rows(EngineConnection& connection, std::string_view sql) {
  std::vector<std::vector<std::optional<std::string>>> rows;
  const auto statement = connection.Prepare(sql);
  while (statement->Step()) {
    auto& row = rows.emplace_back();
    for (int i = 0; i < statement->ColumnCount(); ++i) {
      if (statement->ColumnKind(i) == StoredKind::kNull) {
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

// Rebuilds every table from the catalog inside the caller's write transaction: each table is
// made anew under a scratch name, given the columns it shares with the old one, and takes the
// old name. AUTOINCREMENT counters are carried over, so no key handed out is ever used again.
// Money values the old file holds are copied as they are, exact or not: `check` reports the
// ones that are not, and the upgrade loses nothing.
void RebuildTables(EngineConnection& connection, const Catalog& catalog) {
  std::vector<std::pair<std::string, std::string>> sequences;
  for (const auto& row : Rows(connection, "SELECT name, seq FROM sqlite_sequence;")) {
    if (row[0] && row[1]) sequences.emplace_back(*row[0], *row[1]);
  }
  connection.ExecuteControl("PRAGMA ignore_check_constraints=ON;");
  for (const TableDef& table : catalog.tables) {
    const std::string name(table.name);
    const std::string scratch = "lk_upgrade_" + name;
    std::string common;
    for (const auto& row : Rows(connection, "SELECT name FROM pragma_table_info('" + name + "');")) {
      for (const ColumnDef& column : table.columns) {
        if (row[0] && *row[0] == column.name) {
          if (!common.empty()) common += ',';
          common += column.name;
        }
      }
    }
    std::string sql = CreateTableSql(table, scratch);
    if (!common.empty()) sql += "INSERT INTO " + scratch + " (" + common + ") SELECT " + common + " FROM " + name + ";\n";
    sql += "DROP TABLE IF EXISTS " + name + ";\nALTER TABLE " + scratch + " RENAME TO " + name + ";\n";
    connection.ExecuteControl(sql);
  }
  connection.ExecuteControl("PRAGMA ignore_check_constraints=OFF;");
  for (const auto& [name, seq] : sequences) {
    bool known = false;
    for (const TableDef& table : catalog.tables) known = known || table.name == name;
    if (!known) continue;
    connection.ExecuteControl("DELETE FROM sqlite_sequence WHERE name='" + name + "' AND seq<" + seq + ";");
    connection.ExecuteControl("INSERT INTO sqlite_sequence (name, seq) SELECT '" + name + "', " + seq +
                              " WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name='" + name + "');");
  }
}

// Gives every user and session row without a matching form of its name the form of
// security/UserNames.h, so lookups by that form find rows written before it was kept.
void FillUserKeys(EngineConnection& connection) {
  for (const char* table : {"IUser", "SysSessions"}) {
    const std::string key = std::string(table) + "ID";
    const auto update = connection.Prepare("UPDATE " + std::string(table) + " SET UserKey=? WHERE " + key + "=?;");
    for (const auto& row : Rows(connection, "SELECT " + key + ", UserName FROM " + std::string(table) +
                                                " WHERE UserKey IS NULL AND UserName IS NOT NULL;")) {
      update->Reset();
      update->BindText(1, UserNameKey(*row[1]));
      update->BindInteger(2, std::stoll(*row[0]));
      while (update->Step()) {
      }
    }
  }
}

// Brings a file of an earlier schema version to the catalog's in one transaction; another
// process may have done it meanwhile, which the version read under the write lock tells.
void UpgradeSchema(EngineConnection& connection, const Catalog& catalog, int32_t version) {
  try {
    connection.ExecuteControl("BEGIN IMMEDIATE;");
    if (StoredSchemaVersion(connection) < catalog.version) {
      RebuildTables(connection, catalog);
      // The register totals stay as kept; their triggers went with the register table.
      connection.ExecuteControl(IndexesSql(catalog));
      connection.ExecuteControl("DROP TRIGGER IF EXISTS lk_register_insert; DROP TRIGGER IF EXISTS lk_register_delete;"
                                "DROP TRIGGER IF EXISTS lk_register_update;");
      connection.ExecuteControl(TriggersSql());
      FillUserKeys(connection);
      connection.ExecuteControl("PRAGMA user_version=" + std::to_string(catalog.version) + ";");
    }
    connection.ExecuteControl("COMMIT;");
  } catch (const Error& error) {
    try {
      connection.ExecuteControl("PRAGMA ignore_check_constraints=OFF;");
      if (connection.InTransaction()) connection.ExecuteControl("ROLLBACK;");
    } catch (...) {
      // The first failure is the one reported; closing the connection ends the transaction.
    }
    // A file this process may only read: the engine refuses the first write, not the BEGIN.
    if (error.number() != EngineErrorNumber(SQLITE_READONLY)) throw;
    throw Error::Runtime(kInvalidArgument, "The company file " + connection.Path() + " has schema version " +
                                               std::to_string(version) +
                                               "; open it once with write access to bring it to version " +
                                               std::to_string(catalog.version) + ".");
  }
}

}  // namespace

std::string SqliteSchemaSql(const Catalog& catalog) {
  std::string sql;
  for (const TableDef& table : catalog.tables) sql += CreateTableSql(table, table.name);
  sql += IndexesSql(catalog);
  sql += kRegisterTotalsTableSql;
  sql += TriggersSql();
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
  if (version > catalog.version || version < 1) {
    throw Error::Runtime(kInvalidArgument, "The company file " + connection.Path() + " has schema version " +
                                               std::to_string(version) + ", which this library (schema version " +
                                               std::to_string(catalog.version) + ") cannot open.");
  }
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
