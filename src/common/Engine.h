// The database engine behind a small interface: a connection, prepared statements, typed
// binding and typed column reads, transactions as typed calls, the company database's creation
// and check on open, and the few SQL forms that differ between engines (EngineDialect). Nothing
// outside an engine's own folder sees an engine handle, writes a control statement or tells
// engines apart; a second engine is one more folder implementing these classes and one more
// entry in the driver list (common/EngineDriver.h).
//
// Library-internal. Connections and statements are single-threaded; statements must not
// outlive the connection that prepared them by more than their own destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Catalog.h"
#include "common/Sql.h"
#include "ledgerkit/common/Error.h"

namespace ledgerkit {

// What the engine knows of a result column. A column read straight from a table of the catalog
// the connection was checked against (EngineConnection::CheckSchema) carries that column's kind
// and width; an expression, or a column of a table the catalog does not hold, is kVariant with
// width 0.
struct EngineColumn {
  std::string name;
  FieldType type = FieldType::kVariant;  // the catalog's kind: kKey for a table's key and its links
  int32_t width = 0;                     // characters, for kText
  bool is_key = false;
  bool not_null = false;
};

class EngineStatement {
 public:
  virtual ~EngineStatement() = default;

  virtual int ParameterCount() const = 0;
  // Parameters are numbered from 1, in marker order.
  virtual void BindNull(int index) = 0;
  virtual void BindInteger(int index, int64_t value) = 0;
  virtual void BindReal(int index, double value) = 0;
  virtual void BindText(int index, std::string_view value) = 0;

  // Runs to the next row; true when a row is ready, false when the statement is done.
  virtual bool Step() = 0;
  // Makes the statement ready to run again; bindings are kept.
  virtual void Reset() = 0;
  // True when the statement cannot change the database.
  virtual bool IsReadOnly() const = 0;

  virtual int ColumnCount() const = 0;
  virtual EngineColumn Column(int index) const = 0;
  // The current row's value of column `index`. An engine may hold a value of any kind in any
  // column (SQLite does, whatever the catalog says), so the number reads tell what they found
  // rather than convert: each gives nothing when the value is not of its kind.
  virtual bool ColumnIsNull(int index) const = 0;
  // A whole number held as one (a Boolean as 0 or 1); nothing for Null, a number with a fraction
  // part's type (even one that is whole), text or binary data.
  virtual std::optional<int64_t> ColumnInteger(int index) const = 0;
  // A number held in a type with a fraction part (REAL, double precision, a numeric that is not
  // whole); nothing for Null, a whole number, text or binary data.
  virtual std::optional<double> ColumnReal(int index) const = 0;
  // True when the value is binary data (never in a catalog column, but a file may hold it).
  virtual bool ColumnIsBinary(int index) const = 0;
  // The value as text, whatever it is: a number's digits, a date in its stored form, binary
  // data's bytes; empty for Null. The engine may convert the value where it holds it, so what it
  // is is asked for first.
  virtual std::string_view ColumnText(int index) const = 0;
};

// What a unit of work does with the database.
enum class Access { kRead, kWrite };

// The SQL forms that differ between engines, for statement texts written outside the engine.
// One per engine, never destroyed. The same arguments always give the same text, so a statement
// built with it is compiled once per connection like any other.
class EngineDialect {
 public:
  virtual ~EngineDialect() = default;

  // `name` written so the engine reads it as that column even where it is a keyword (Note).
  virtual std::string QuoteIdentifier(std::string_view name) const = 0;
  // A condition true when the text column `column` holds a whole decimal number: one or more of
  // the digits 0-9 and nothing else (no sign, blank or point). False for Null and ''.
  virtual std::string WholeNumberCondition(std::string_view column) const = 0;
  // An expression giving the number such a column holds, exactly however many digits it has
  // (an engine may hold those beyond its integers at its greatest integer): what a whole-number
  // index orders by (IndexDef::whole_numbers), so a statement written with it is served by one.
  virtual std::string WholeNumberValue(std::string_view column) const = 0;
  // A condition true when `column` holds an exact whole number: false for Null and, on an engine
  // whose columns take any value, for a REAL or text stored in a number column.
  virtual std::string HoldsIntegerCondition(std::string_view column) const = 0;
  // An expression giving, as text, the engine's name for the type of the value `column` holds
  // in the row (for messages about values of the wrong type).
  virtual std::string StoredTypeExpression(std::string_view column) const = 0;
  // True when `error` is the engine's refusal of a SUM() whose total leaves the int64 range.
  virtual bool IsSumOverflow(const Error& error) const = 0;
  // A condition true when the text column `column` equals the value of one marker, the letter
  // case of A-Z ignored and nothing else: how a file's case-blind columns compare, also where
  // the engine's own case-blind comparison ignores more (width, other scripts' case).
  virtual Sql AsciiNoCaseEquals(std::string_view column) const = 0;
  // True when `error` is the engine's refusal to open a company database that is not there (a
  // missing file, a schema that is missing or holds no company); opening created nothing.
  virtual bool IsMissingCompany(const Error& error) const = 0;
};

class EngineConnection {
 public:
  virtual ~EngineConnection() = default;

  // The writers' lock file beside the company (common/UnitOfWork.h, WriterTurn), opened by the
  // first unit that writes through this connection and kept open, with no lock held between
  // units, for as long as the connection is: a connection is dropped once its file is replaced,
  // and the lock file with it. Closed with the connection.
  struct KeptLockFile {
    int fd = -1;
    bool no_links = false;  // opened refusing a symbolic link
    KeptLockFile() = default;
    KeptLockFile(const KeptLockFile&) = delete;
    KeptLockFile& operator=(const KeptLockFile&) = delete;
    ~KeptLockFile();
  };
  KeptLockFile writer_lock;

  // Prepares exactly one statement of the library's own, its markers written in the engine's
  // form. A text with a second statement, or with none, fails with Invalid argument (5) before
  // anything runs; an engine failure is an engine Error.
  virtual std::unique_ptr<EngineStatement> Prepare(const Sql& sql) = 0;
  // Runs a text of statements, nothing bound and no rows read. The engine's own (schema,
  // upgrade, settings): what the library runs outside the engine goes through Prepare and the
  // typed calls below, so no engine-specific text is written there.
  virtual void ExecuteControl(std::string_view sql) = 0;
  // Rows changed by the last INSERT, UPDATE or DELETE.
  virtual int64_t Changes() const = 0;
  // The database file this connection works on.
  virtual const std::string& Path() const = 0;
  // True while the name the connection was opened with still names the database it opened:
  // false once the file was removed or replaced by another (told by device and inode). A kept
  // connection is handed out again only while this holds.
  virtual bool StillNamesItsDatabase() const = 0;
  // True while a transaction is open on the connection.
  virtual bool InTransaction() const = 0;

  // Prepares a caller's own report statement (exactly one, as Prepare) under the report rules:
  // PRAGMA (and the pragma_* table functions), ATTACH, DETACH, VACUUM, temporary objects,
  // transaction control and extension loading are refused with an
  // engine error (SQLITE_AUTH) naming what was refused, before anything runs. Reading and
  // changing the company's own tables stays allowed. From then on the connection is spent: it
  // must be closed, never kept for a later call.
  virtual std::unique_ptr<EngineStatement> PrepareReport(std::string_view sql) = 0;
  // True when the connection must be closed after the call, never kept: a report statement was
  // prepared on it, or its file could only be opened as unchanging (immutable).
  virtual bool Spent() const = 0;
  // Compiled statements kept idle for reuse (bounded; see the engine implementation).
  virtual size_t CachedStatementCount() const = 0;

  // The SQL forms of this connection's engine.
  virtual const EngineDialect& Dialect() const = 0;

  // Runs once on a new connection, before its first use. A company database of an earlier
  // schema version is brought to `catalog`'s version in one transaction (which needs write
  // access: where the database may only be read it is refused with Invalid argument, 5, naming
  // both versions); a newer version is refused the same way. A database that is no company
  // database is left to fail on its first statement. The connection keeps `catalog` (which
  // outlives it) to describe its result columns from then on.
  virtual void CheckSchema(const Catalog& catalog) = 0;

  // Opens a transaction. A read sees one state of the database throughout. A write excludes
  // every other writer of the database from here to its end (on SQLite the whole file is held);
  // a write unit takes LockCompany next.
  virtual void Begin(Access access) = 0;
  // Ends the open transaction keeping, or undoing, what it did. A failed Commit leaves the
  // transaction open, to be rolled back.
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  // Savepoints nest inside the open transaction; the two calls after it end the innermost one,
  // keeping or undoing what was done since it.
  virtual void Savepoint() = 0;
  virtual void ReleaseSavepoint() = 0;
  virtual void RollbackToSavepoint() = 0;
  // Taken first in every writing transaction: from here to the end of the transaction no other
  // writer reads or changes the company record, and every read the transaction makes sees the
  // last committed state. The company's counters (transaction and invoice numbers, read then
  // advanced) and every check-then-insert (a unique user name) rely on this and on nothing
  // else. SQLite's write transaction already holds the whole file, so it adds nothing there; a
  // server engine locks the company row (SELECT ... FOR UPDATE).
  virtual void LockCompany() = 0;

  // What the engine's own consistency check of the database finds, one text per problem; empty
  // when it finds none.
  virtual std::vector<std::string> IntegrityProblems() = 0;
  // Folds what the engine keeps beside the database (SQLite's write-ahead log) into it and
  // empties it, before a connection to a database that was replaced or removed is closed: what
  // it kept must not be read into whatever stands at the path now. Nothing on a server engine.
  virtual void Checkpoint() = 0;
  // Lets the open transaction keep up to `kibibytes` of the database's pages in memory, for a
  // bulk write that would otherwise write the same pages out again and again before its end;
  // the usual bound comes back when the transaction ends (committed or rolled back). Nothing on
  // a server engine, whose cache is the server's.
  virtual void HoldPagesInMemory(int64_t kibibytes) = 0;
  // True when the writers of several processes take their turns on this database through a
  // lock file beside it (WriterTurn, common/UnitOfWork.h): a file-based company database. False
  // for a database that is none (nothing is left beside it) and for a server engine, whose own
  // lock queues its writers.
  virtual bool WritersQueueBesideFile() = 0;
  // The engine's error for a writer that waited too long for its turn, with `message`.
  virtual Error BusyError(std::string message) const = 0;

  // The last key the engine handed out for the table's own key (its first column), counting
  // keys whose rows were deleted since; 0 when it handed out none. A copy of a company carries it
  // over, so a key used once is never given to a new row, even where a link still names it.
  virtual int64_t KeyCounter(const TableDef& table) = 0;
  // Moves that counter to `last` when it is below it, inside the open write transaction: the next
  // key handed out is above `last`. A counter already past it is left alone.
  virtual void AdvanceKeyCounter(const TableDef& table, int64_t last) = 0;
};

// Opens a connection for a connection string of BuildConnectionString. Fails with an engine
// Error when the engine cannot open the database, with Invalid argument (5) for an unknown driver
// or an empty path or one holding a NUL. A file that cannot be opened for writing (read-only file,
// directory or mount) is opened for reading only.
std::unique_ptr<EngineConnection> OpenEngine(std::string_view connection_string);

// Makes a new company database for `connection_string`: the engine's marks, the whole schema of
// `catalog` and what `first_rows` writes (through the library's own units of work, which join
// the creation's transaction: UnitOfWork::RunOnNewCompany) in one transaction that commits last.
// A file is made under a temporary name beside it and renamed once complete; a company on a
// server (with its report role) is one server transaction. Refuses (Invalid argument, 5) a
// database that already exists, before anything is changed, and a creator that loses a race for
// the name the same way; on any later failure, or a process killed at any moment, no company is
// left behind, and the failure is passed on.
void CreateEngineDatabase(std::string_view connection_string, const Catalog& catalog,
                          const std::function<void()>& first_rows);

// The SQL forms of the engine `connection_string` names; Invalid argument (5) for an unknown
// driver.
const EngineDialect& EngineDialectFor(std::string_view connection_string);

// How many statement runs the engines have started in this process, on every connection: each
// first step of a prepared statement after it was prepared, reset or run to its end, and each
// text of control statements. A count, for the benchmark's statements-per-operation figures.
uint64_t EngineStatementsRun();

}  // namespace ledgerkit
