// The database engine behind a small interface: a connection, prepared statements, typed
// binding and typed column reads. Managers never see an engine handle; a second engine is a
// second implementation of these two classes and one more driver name in OpenEngine.
//
// Library-internal. Connections and statements are single-threaded; statements must not
// outlive the connection that prepared them by more than their own destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace ledgerkit {

// What a column holds in the current row, as the engine stored it.
enum class StoredKind { kNull, kInteger, kReal, kText, kBlob };

// What the engine knows of a result column.
struct EngineColumn {
  std::string name;
  std::string declared_type;  // as written in the table definition; empty for an expression
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
  virtual StoredKind ColumnKind(int index) const = 0;
  virtual int64_t ColumnInteger(int index) const = 0;
  virtual double ColumnReal(int index) const = 0;
  virtual std::string_view ColumnText(int index) const = 0;
};

class EngineConnection {
 public:
  virtual ~EngineConnection() = default;

  // Prepares exactly one statement. A text with a second statement, or with none, fails with
  // Invalid argument (5) before anything runs; an engine failure is an engine Error.
  virtual std::unique_ptr<EngineStatement> Prepare(std::string_view sql) = 0;
  // Runs the library's own control statements (transactions, savepoints, pragmas).
  virtual void ExecuteControl(std::string_view sql) = 0;
  // Rows changed by the last INSERT, UPDATE or DELETE.
  virtual int64_t Changes() const = 0;
  // The database file this connection works on.
  virtual const std::string& Path() const = 0;
  // Device and inode of that file when it was opened, to tell a file replaced since.
  virtual std::pair<uint64_t, uint64_t> FileIdentity() const = 0;
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
};

enum class OpenMode {
  kExisting,   // read-write; a missing file is an error, never created
  kCreateNew,  // the file must not exist yet and is created
};

// Opens a connection for a connection string of BuildConnectionString. Fails with an engine
// Error when the engine cannot open the database, with Invalid argument (5) for an unknown driver
// or an empty path or one holding a NUL. A file that cannot be opened for writing (read-only file,
// directory or mount) is opened for reading only.
std::unique_ptr<EngineConnection> OpenEngine(std::string_view connection_string, OpenMode mode = OpenMode::kExisting);

// How many statement runs the engine has started in this process, on every connection: each
// first step of a prepared statement after it was prepared, reset or run to its end, and each
// text of control statements. A count, for the benchmark's statements-per-operation figures.
uint64_t EngineStatementsRun();

}  // namespace ledgerkit
