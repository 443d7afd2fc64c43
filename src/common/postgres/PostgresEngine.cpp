// The PostgreSQL implementation of the engine interface: server sessions shared through a small
// pool, statements prepared on the server, typed reads, transactions, the company lock and the
// SQL forms of the dialect. The company's schema is written in PostgresSchema.cpp.
//
// A company is a schema in a database; every company of one server, database and user shares
// the same sessions, each pointed at a company by its search path when handed out. A process
// therefore holds at most kIdleSessionsPerServer idle sessions per server, plus one per
// connection in use or kept by the connection cache (common/ConnectionCache.cpp), however many
// companies it serves.
//
// Every failure passes through ThrowResult, the one place that turns a server's answer into an
// Error.
#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <list>
#include <map>
#include <mutex>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/Engine.h"
#include "common/EngineDriver.h"
#include "common/Error.h"
#include "common/RunningReport.h"
#include "common/Text.h"
#include "common/UnitOfWork.h"
#include "common/postgres/PostgresEngine.h"
#include "common/postgres/PostgresSqlText.h"

namespace ledgerkit {

namespace {

// Idle sessions kept per server (database and user) for the next connection to any of its
// companies; one given back beyond it is closed.
constexpr size_t kIdleSessionsPerServer = 4;
// Statements prepared on a session and kept for reuse, as the SQLite engine's bound.
constexpr size_t kCachedStatementLimit = 96;
// What libpq reports a session as when nothing tells it otherwise.
constexpr const char* kApplicationName = "ledgerkit";
// The company a connection URI names when it leaves the `company` parameter out.
constexpr std::string_view kDefaultCompany = "ledgerkit";

// Type identifiers of the server's built-in types (pg_type.oid; fixed across versions).
constexpr Oid kBoolOid = 16, kByteaOid = 17, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23, kOidOid = 26,
              kFloat4Oid = 700, kFloat8Oid = 701, kDateOid = 1082, kTimestampOid = 1114, kTimestampTzOid = 1184,
              kNumericOid = 1700, kTextOid = 25;

std::atomic<size_t> sessions_open{0};

void CountStatementRun() { EngineStatementCounter().fetch_add(1, std::memory_order_relaxed); }

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

int Base36(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return 0;
}

// libpq's own text runs over several lines ("FATAL: ...\nserver closed the connection ...",
// "... Connection refused\n\tIs the server running ...?"): one line, as every description is.
std::string OneLine(std::string_view text) {
  std::string line;
  for (const char c : text) {
    if (c == '\n' || c == '\t') {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += c;
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// How long a wait of `limit` was, for a message: "60 s", "250 ms".
std::string WaitedText(std::chrono::milliseconds limit) {
  const int64_t ms = limit.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// `text` as a literal the server reads back as it is (standard_conforming_strings on).
std::string QuoteLiteral(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

// True when `error` is the server's of the SQLSTATE `sqlstate` (PostgresError keeps it in the
// description's end).
bool HasSqlstate(const Error& error, std::string_view sqlstate) {
  return error.source() == kPostgresSource &&
         error.description().find("[SQLSTATE " + std::string(sqlstate) + "]") != std::string::npos;
}

// The error a failed server answer (or a lost session, `result` null or not) stands for.
[[noreturn]] void ThrowResult(PGconn* conn, const PGresult* result) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const char* primary = result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string message = OneLine(primary != nullptr ? primary : PQerrorMessage(conn));
  // No SQLSTATE: libpq's own failure, which is the session's loss (class 08).
  std::string sqlstate = state != nullptr ? state : "08006";
  if (state == nullptr && PQstatus(conn) == CONNECTION_OK) sqlstate = "08000";
  throw PostgresError(sqlstate, std::move(message));
}

bool Failed(const PGresult* result) {
  if (result == nullptr) return true;
  const ExecStatusType status = PQresultStatus(result);
  return status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_EMPTY_QUERY;
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// --- Statement texts -------------------------------------------------------------------------

// A statement text the server accepts, read once (PostgresSqlText.h): for the library's own
// statements `?` markers numbered in order and `?N` markers as $N, outside literals, quoted names
// and comments; the words it is written with, for the names of result columns (the server folds
// unquoted names to lower case); whether it only reads.
struct TranslatedSql {
  std::string text;
  int parameters = 0;
  std::map<std::string, std::string, std::less<>> spellings;  // lower case -> as written
  bool reads_only = false;
};

// True when the tokens make a statement that cannot change the database: a query that writes
// nowhere. The first keyword is looked for past parentheses and empty statements.
bool ReadsOnly(std::string_view sql, const std::vector<SqlToken>& tokens) {
  size_t first = NextSignificant(tokens, 0);
  while (first < tokens.size() && tokens[first].kind == SqlTokenKind::kSymbol &&
         (sql[tokens[first].begin] == '(' || sql[tokens[first].begin] == ';')) {
    first = NextSignificant(tokens, first + 1);
  }
  if (first >= tokens.size() || tokens[first].kind != SqlTokenKind::kWord) return false;
  const std::string& keyword = tokens[first].name;
  if (keyword != "select" && keyword != "values" && keyword != "with" && keyword != "table") return false;
  for (const SqlToken& token : tokens) {
    if (token.kind != SqlTokenKind::kWord) continue;
    for (const char* writer : {"insert", "update", "delete", "merge", "into"}) {
      if (token.name == writer) return false;
    }
  }
  return true;
}

// True when the `[` at `at` opens a bracketed name ([Note]) rather than an array subscript or
// constructor: a plain name up to `]`, not following a name, a closing bracket or parenthesis.
bool BracketedName(std::string_view sql, size_t at) {
  size_t before = at;
  while (before > 0 && std::isspace(static_cast<unsigned char>(sql[before - 1]))) --before;
  if (before > 0) {
    const char previous = sql[before - 1];
    if (std::isalnum(static_cast<unsigned char>(previous)) || previous == '_' || previous == ']' || previous == ')') {
      // After a keyword the name is a column (SET [Note]=, SELECT [Note]); ARRAY[ is the constructor.
      size_t start = before;
      while (start > 0 && (std::isalnum(static_cast<unsigned char>(sql[start - 1])) || sql[start - 1] == '_')) --start;
      const std::string word = Lower(sql.substr(start, before - start));
      if (word.empty() || word == "array" || !(word == "set" || word == "select" || word == "by" || word == "where" ||
                                                word == "and" || word == "or" || word == "on" || word == "not")) {
        return false;
      }
    }
  }
  const size_t close = sql.find(']', at);
  if (close == std::string_view::npos || close == at + 1) return false;
  for (size_t i = at + 1; i < close; ++i) {
    if (!std::isalnum(static_cast<unsigned char>(sql[i])) && sql[i] != '_') return false;
  }
  return !std::isdigit(static_cast<unsigned char>(sql[at + 1]));
}

// The library's own statements, in the spellings both engines read: markers, bracketed names and
// the company's MONEY function turned into the server's forms. Literals, quoted names and
// comments are copied as they are. Invalid argument (5) for a text of no statement or of two.
TranslatedSql Translate(std::string_view sql) {
  const std::vector<SqlToken> tokens = LexPostgresSql(sql);
  RequireOneStatement(sql, tokens);
  TranslatedSql out;
  out.reads_only = ReadsOnly(sql, tokens);
  int sequential = 0;
  for (size_t t = 0; t < tokens.size(); ++t) {
    const SqlToken& token = tokens[t];
    const std::string_view text = sql.substr(token.begin, token.end - token.begin);
    const char c = sql[token.begin];
    if (token.kind == SqlTokenKind::kSymbol && c == '?') {
      int number = 0;
      if (t + 1 < tokens.size() && tokens[t + 1].kind == SqlTokenKind::kNumber && tokens[t + 1].begin == token.end &&
          std::all_of(sql.begin() + static_cast<std::ptrdiff_t>(tokens[t + 1].begin),
                      sql.begin() + static_cast<std::ptrdiff_t>(tokens[t + 1].end),
                      [](char d) { return std::isdigit(static_cast<unsigned char>(d)); })) {
        std::from_chars(sql.data() + tokens[t + 1].begin, sql.data() + tokens[t + 1].end, number);
        ++t;
      } else {
        number = ++sequential;
      }
      out.parameters = std::max(out.parameters, number);
      out.text += "$" + std::to_string(number);
    } else if (token.kind == SqlTokenKind::kSymbol && c == '[' && BracketedName(sql, token.begin)) {
      // A name in brackets, as the library's statements quote a keyword used as a column name
      // ([Note]): the server's quoted form, folded as the server folds unquoted names.
      const size_t close = sql.find(']', token.begin);
      const std::string_view word = sql.substr(token.begin + 1, close - token.begin - 1);
      out.spellings.try_emplace(Lower(word), word);
      out.text += "\"" + Lower(word) + "\"";
      while (t + 1 < tokens.size() && tokens[t + 1].begin <= close) ++t;
    } else if (token.kind == SqlTokenKind::kWord) {
      out.spellings.try_emplace(token.name, text);
      const size_t next = NextSignificant(tokens, t + 1);
      if (token.name == "money" && next < tokens.size() && sql[tokens[next].begin] == '(') {
        // The company's MONEY function: the server reads money('...') as a cast to its own type.
        out.spellings.try_emplace("lk_money", text);
        out.text.append("lk_money");
      } else {
        out.text.append(text);
      }
    } else {
      out.text.append(text);
    }
  }
  return out;
}

// A caller's report statement, as the server is to read it: the text exactly as written (a
// report takes no parameters, and the caller writes the server's SQL), with the spellings of
// its words for the result columns. Invalid argument (5) for a text of no statement or of two,
// and for MONEY(...), which the server would read as a cast to its own money type: there the
// company's function is lk_money(...).
TranslatedSql ReportText(std::string_view sql) {
  const std::vector<SqlToken> tokens = LexPostgresSql(sql);
  RequireOneStatement(sql, tokens);
  TranslatedSql out;
  out.text = sql;
  out.reads_only = ReadsOnly(sql, tokens);
  for (size_t t = 0; t < tokens.size(); ++t) {
    const SqlToken& token = tokens[t];
    if (token.kind != SqlTokenKind::kWord) continue;
    out.spellings.try_emplace(token.name, sql.substr(token.begin, token.end - token.begin));
    const size_t next = NextSignificant(tokens, t + 1);
    size_t previous = t;
    while (previous > 0 && (tokens[previous - 1].kind == SqlTokenKind::kBlank ||
                            tokens[previous - 1].kind == SqlTokenKind::kComment)) {
      --previous;
    }
    const bool qualified = previous > 0 && sql[tokens[previous - 1].begin] == '.';
    if (token.name == "money" && !qualified && next < tokens.size() && sql[tokens[next].begin] == '(') {
      throw Error::Runtime(kInvalidArgument,
                           "On a server a report query writes the company's MONEY function as lk_money(...): " +
                               std::string(sql.substr(token.begin, token.end - token.begin)) +
                               "(...) is the server's cast to its own money type. Nothing was run.");
    }
  }
  return out;
}

// --- Sessions ---------------------------------------------------------------------------------

// A statement prepared on a session under a name of its own.
struct Prepared {
  std::string text;  // as the caller wrote it
  std::string name;
  TranslatedSql sql;
  bool untyped = false;  // the server could not tell a parameter's type: sent with the values' types
  std::shared_ptr<PGresult> shape;  // the result columns, as the server described them
};

// Asks the server for the shape of the rows of a prepared statement, once per preparation.
void Describe(PGconn* conn, Prepared& prepared);

// What the server says of a table's column, for result column descriptions.
struct ColumnOrigin {
  std::string table;
  std::string column;
  bool not_null = false;
};

// One server connection. Statements prepared on it are kept by text in a bounded list, the
// least recently used going first (never one a live statement still holds).
class Session {
 public:
  Session(PGconn* conn, std::string server) : conn_(conn), server_(std::move(server)), owner_(::getpid()) {
    ++sessions_open;
  }
  ~Session() {
    // A child of fork shares the parent's socket: closing it politely would end the parent's.
    if (owner_ == ::getpid()) PQfinish(conn_);
    --sessions_open;
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  PGconn* conn() const { return conn_; }
  const std::string& server() const { return server_; }
  bool Usable() const {
    return owner_ == ::getpid() && PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE;
  }

  // Runs a text of statements (the simple protocol); the result, checked.
  Result Run(std::string_view sql) {
    CountStatementRun();
    const std::string text(sql);
    Result result(PQexec(conn_, text.c_str()), &PQclear);
    if (Failed(result.get())) ThrowResult(conn_, result.get());
    return result;
  }

  // Points the session at the company's schema.
  void UseCompany(const std::string& company) {
    if (company == search_path_) return;
    search_path_.clear();
    Run("SET search_path TO " + company + ", pg_catalog");
    search_path_ = company;
  }

  std::shared_ptr<Prepared> Prepare(std::string_view sql) {
    if (const auto found = index_.find(sql); found != index_.end()) {
      recent_.splice(recent_.begin(), recent_, found->second);
      return *found->second;
    }
    auto prepared = std::make_shared<Prepared>();
    prepared->text = sql;
    prepared->sql = Translate(sql);
    prepared->name = "lk_" + std::to_string(++named_);
    Result result(PQprepare(conn_, prepared->name.c_str(), prepared->sql.text.c_str(), 0, nullptr), &PQclear);
    if (Failed(result.get())) {
      const char* state = result != nullptr ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
      // A marker whose type nothing around it tells (`? IS NULL`, `?2 - ?1`): the values' types
      // tell it, at each run.
      if (state == nullptr || (std::string_view(state) != "42P18" && std::string_view(state) != "42725")) {
        ThrowResult(conn_, result.get());
      }
      prepared->untyped = true;
    } else {
      Describe(conn_, *prepared);
    }
    recent_.push_front(prepared);
    index_.emplace(std::string(sql), recent_.begin());
    Trim();
    return prepared;
  }

  // Prepares a statement kept by nobody (a report's, its text as the caller wrote it), under a
  // name of its own: the unnamed statement is the one every PQexecParams replaces.
  std::shared_ptr<Prepared> PrepareOnce(TranslatedSql sql) {
    auto prepared = std::make_shared<Prepared>();
    prepared->text = sql.text;
    prepared->sql = std::move(sql);
    prepared->name = "lk_once_" + std::to_string(++named_);
    Result result(PQprepare(conn_, prepared->name.c_str(), prepared->sql.text.c_str(), 0, nullptr), &PQclear);
    if (Failed(result.get())) ThrowResult(conn_, result.get());
    Describe(conn_, *prepared);
    return prepared;
  }

  // Statements kept idle: those no live statement holds, as the other engine counts them.
  size_t CachedCount() const {
    return static_cast<size_t>(std::count_if(recent_.begin(), recent_.end(),
                                             [](const std::shared_ptr<Prepared>& p) { return p.use_count() == 1; }));
  }

  // Where the column `attribute` of the table `table` comes from; nullptr for none.
  const ColumnOrigin* Origin(Oid table, int attribute) {
    if (table == InvalidOid || attribute <= 0) return nullptr;
    if (!described_.contains(table)) {
      described_.insert(table);
      const std::string id = std::to_string(table);
      const char* values[] = {id.c_str()};
      Result result(PQexecParams(conn_,
                                 "SELECT c.relname, a.attnum, a.attname, a.attnotnull FROM pg_catalog.pg_attribute a "
                                 "JOIN pg_catalog.pg_class c ON c.oid=a.attrelid WHERE a.attrelid=$1::oid AND a.attnum>0",
                                 1, nullptr, values, nullptr, nullptr, 0),
                    &PQclear);
      if (!Failed(result.get())) {
        for (int row = 0; row < PQntuples(result.get()); ++row) {
          origins_[{table, std::atoi(PQgetvalue(result.get(), row, 1))}] =
              ColumnOrigin{PQgetvalue(result.get(), row, 0), PQgetvalue(result.get(), row, 2),
                           PQgetvalue(result.get(), row, 3)[0] == 't'};
        }
      }
    }
    const auto found = origins_.find({table, attribute});
    return found == origins_.end() ? nullptr : &found->second;
  }

  // After a lost session: a new one to the same server, set up as the old one was and pointed
  // at the same company; nothing is prepared on it yet.
  bool Reconnect() {
    const std::string company = search_path_;
    PQreset(conn_);
    recent_.clear();
    index_.clear();
    origins_.clear();
    described_.clear();
    search_path_.clear();
    if (PQstatus(conn_) != CONNECTION_OK) return false;
    Setup();
    if (!company.empty()) UseCompany(company);
    return true;
  }

  // The session settings the engine reads and writes by.
  void Setup() { Run("SET DateStyle TO ISO, YMD; SET IntervalStyle TO postgres; SET client_min_messages TO warning;"); }

 private:
  void Trim() {
    for (auto it = recent_.end(); recent_.size() > kCachedStatementLimit && it != recent_.begin();) {
      --it;
      if (it->use_count() > 1) continue;  // a statement still uses it
      const std::string name = (*it)->name;
      for (auto entry = index_.begin(); entry != index_.end(); ++entry) {
        if (entry->second == it) {
          index_.erase(entry);
          break;
        }
      }
      it = recent_.erase(it);
      if (PQtransactionStatus(conn_) != PQTRANS_INERROR) {
        Result ignored(PQexec(conn_, ("DEALLOCATE " + name).c_str()), &PQclear);
      }
    }
  }

  PGconn* conn_;
  std::string server_;
  pid_t owner_;
  std::string search_path_;
  uint64_t named_ = 0;
  std::list<std::shared_ptr<Prepared>> recent_;  // most recently used first
  std::map<std::string, std::list<std::shared_ptr<Prepared>>::iterator, std::less<>> index_;
  std::map<std::pair<Oid, int>, ColumnOrigin> origins_;
  std::set<Oid> described_;
};

// Idle sessions of every server, shared by the process's threads.
class SessionPool {
 public:
  std::unique_ptr<Session> Take(const PostgresTarget& target) {
    {
      std::lock_guard lock(mutex_);
      Forked();
      auto& idle = idle_[target.server];
      while (!idle.empty()) {
        std::unique_ptr<Session> session = std::move(idle.back());
        idle.pop_back();
        if (session->Usable()) return session;
      }
    }
    return Connect(target);
  }

  void Give(std::unique_ptr<Session> session) {
    if (!session->Usable()) return;
    std::lock_guard lock(mutex_);
    Forked();
    auto& idle = idle_[session->server()];
    idle.push_back(std::move(session));
    if (idle.size() > kIdleSessionsPerServer) idle.erase(idle.begin());
  }

 private:
  static std::unique_ptr<Session> Connect(const PostgresTarget& target) {
    const char* keywords[] = {"dbname", "fallback_application_name", "client_encoding", nullptr};
    const char* values[] = {target.uri.c_str(), kApplicationName, "UTF8", nullptr};
    PGconn* conn = PQconnectdbParams(keywords, values, 1);
    if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
      const std::string message = conn != nullptr ? OneLine(PQerrorMessage(conn)) : "out of memory";
      PQfinish(conn);
      throw PostgresError("08001", message + " (" + target.given + ")");
    }
    // Notices (a cascade's list of what it dropped) are the server's chatter, never the caller's.
    PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
    auto session = std::make_unique<Session>(conn, target.server);
    session->Setup();
    return session;
  }

  // In a child of fork the sessions are the parent's: forgotten, never closed.
  void Forked() {
    if (owner_ == ::getpid()) return;
    for (auto& [server, idle] : idle_) {
      for (auto& session : idle) (void)session.release();
    }
    idle_.clear();
    owner_ = ::getpid();
  }

  std::mutex mutex_;
  pid_t owner_ = ::getpid();
  std::map<std::string, std::vector<std::unique_ptr<Session>>> idle_;
};

SessionPool& Pool() {
  static auto* pool = new SessionPool();  // never destroyed: threads may give sessions back at exit
  return *pool;
}

// --- Statements -------------------------------------------------------------------------------

void Describe(PGconn* conn, Prepared& prepared) {
  PGresult* shape = PQdescribePrepared(conn, prepared.name.c_str());
  if (Failed(shape)) {
    Result failed(shape, &PQclear);
    ThrowResult(conn, failed.get());
  }
  prepared.shape.reset(shape, &PQclear);
}

std::string DeclaredType(const Catalog* catalog, const ColumnOrigin& origin, Oid type) {
  if (catalog != nullptr) {
    for (const TableDef& table : catalog->tables) {
      if (Lower(table.name) != origin.table) continue;
      for (const ColumnDef& column : table.columns) {
        if (Lower(column.name) != origin.column) continue;
        switch (column.kind) {
          case FieldType::kKey:
          case FieldType::kLong:
          case FieldType::kInteger: return "INTEGER";
          case FieldType::kVariant: return "";
          case FieldType::kText: return "TEXT(" + std::to_string(column.width) + ")";
          case FieldType::kCurrency: return "CURRENCY";
          case FieldType::kDouble: return "DOUBLE";
          case FieldType::kDate: return "DATETIME";
          case FieldType::kBoolean: return "BOOLEAN";
        }
      }
    }
  }
  switch (type) {
    case kInt2Oid:
    case kInt4Oid:
    case kInt8Oid: return "INTEGER";
    case kFloat4Oid:
    case kFloat8Oid: return "DOUBLE";
    case kTimestampOid: return "DATETIME";
    default: return "TEXT";
  }
}

// The catalog's spelling of a column name, or nothing.
std::optional<std::string> CatalogSpelling(const Catalog* catalog, const ColumnOrigin& origin) {
  if (catalog == nullptr) return std::nullopt;
  for (const TableDef& table : catalog->tables) {
    if (Lower(table.name) != origin.table) continue;
    for (const ColumnDef& column : table.columns) {
      if (Lower(column.name) == origin.column) return std::string(column.name);
    }
  }
  return std::nullopt;
}

class PostgresStatement final : public EngineStatement {
 public:
  PostgresStatement(Session& session, std::shared_ptr<Prepared> prepared, const Catalog* catalog, int64_t& changes)
      : session_(session), prepared_(std::move(prepared)), catalog_(catalog), changes_(changes),
        values_(static_cast<size_t>(prepared_->sql.parameters)),
        types_(static_cast<size_t>(prepared_->sql.parameters), 0) {}

  int ParameterCount() const override { return prepared_->sql.parameters; }
  void BindNull(int index) override { Bind(index, std::nullopt, 0); }
  void BindInteger(int index, int64_t value) override { Bind(index, std::to_string(value), kInt8Oid); }
  void BindReal(int index, double value) override {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    Bind(index, std::string(text), kFloat8Oid);
  }
  void BindText(int index, std::string_view value) override {
    // The server's texts cannot hold a NUL, and libpq would send only what precedes it: a
    // different text, which could match (or overwrite) rows the caller never named.
    if (value.find('\0') != std::string_view::npos) {
      throw Error::Runtime(kInvalidArgument, "A text holding a NUL character cannot be sent to the server.");
    }
    Bind(index, std::string(value), kTextOid);
  }

  bool Step() override {
    if (!result_) Execute();
    ++row_;
    if (row_ >= PQntuples(result_.get())) {
      row_ = PQntuples(result_.get());
      return false;
    }
    CheckWholeNumbers();
    return true;
  }
  void Reset() override {
    result_.reset();
    row_ = -1;
  }
  bool IsReadOnly() const override { return prepared_->sql.reads_only; }

  int ColumnCount() const override {
    // Without a shape known beforehand, the columns are known once it ran.
    if (!result_ && !prepared_->shape) const_cast<PostgresStatement*>(this)->Execute();
    return PQnfields(result_ ? result_.get() : prepared_->shape.get());
  }
  EngineColumn Column(int index) const override {
    const PGresult* shape = result_ ? result_.get() : prepared_->shape.get();
    EngineColumn column;
    if (shape == nullptr) return column;
    column.name = PQfname(shape, index);
    const ColumnOrigin* origin = session_.Origin(PQftable(shape, index), PQftablecol(shape, index));
    if (origin != nullptr) {
      column.declared_type = DeclaredType(catalog_, *origin, PQftype(shape, index));
      column.not_null = origin->not_null;
      if (auto spelled = CatalogSpelling(catalog_, *origin); spelled && Lower(*spelled) == column.name) {
        column.name = *spelled;
      }
      column.is_key = catalog_ != nullptr && IsKey(*origin);
    }
    if (const auto spelled = prepared_->sql.spellings.find(column.name); spelled != prepared_->sql.spellings.end()) {
      column.name = spelled->second;
    }
    return column;
  }
  StoredKind ColumnKind(int index) const override {
    if (PQgetisnull(result_.get(), row_, index)) return StoredKind::kNull;
    switch (PQftype(result_.get(), index)) {
      case kBoolOid:
      case kInt2Oid:
      case kInt4Oid:
      case kInt8Oid:
      case kOidOid: return StoredKind::kInteger;
      case kFloat4Oid:
      case kFloat8Oid: return StoredKind::kReal;
      case kNumericOid: return WholeNumeric(index) ? StoredKind::kInteger : StoredKind::kReal;
      case kByteaOid: return StoredKind::kBlob;
      default: return StoredKind::kText;
    }
  }
  int64_t ColumnInteger(int index) const override {
    const char* text = PQgetvalue(result_.get(), row_, index);
    if (PQftype(result_.get(), index) == kBoolOid) return text[0] == 't' ? 1 : 0;
    int64_t value = 0;
    std::from_chars(text, text + PQgetlength(result_.get(), row_, index), value);
    if (PQftype(result_.get(), index) == kNumericOid && !WholeNumeric(index)) {
      return static_cast<int64_t>(ColumnReal(index));
    }
    return value;
  }
  double ColumnReal(int index) const override {
    const char* text = PQgetvalue(result_.get(), row_, index);
    const std::string_view word(text);
    if (word == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (word == "Infinity") return std::numeric_limits<double>::infinity();
    if (word == "-Infinity") return -std::numeric_limits<double>::infinity();
    return std::strtod(text, nullptr);
  }
  std::string_view ColumnText(int index) const override {
    if (PQgetisnull(result_.get(), row_, index)) return {};
    std::string_view text(PQgetvalue(result_.get(), row_, index),
                          static_cast<size_t>(PQgetlength(result_.get(), row_, index)));
    switch (PQftype(result_.get(), index)) {
      case kTimestampOid:
      case kTimestampTzOid: return text.substr(0, 19);  // to the second, no zone
      case kDateOid:
        scratch_ = std::string(text) + " 00:00:00";
        return scratch_;
      case kBoolOid: return text == "t" ? "1" : "0";
      default: return text;
    }
  }

 private:
  bool IsKey(const ColumnOrigin& origin) const {
    for (const TableDef& table : catalog_->tables) {
      if (Lower(table.name) != origin.table) continue;
      for (const ColumnDef& column : table.columns) {
        if (column.name == table.columns[0].name && Lower(column.name) == origin.column) return true;
      }
    }
    return false;
  }

  void Bind(int index, std::optional<std::string> value, Oid type) {
    if (index < 1 || index > prepared_->sql.parameters) {
      throw Error::Runtime(kInvalidArgument, "The statement has no parameter " + std::to_string(index) + ".");
    }
    values_[static_cast<size_t>(index - 1)] = std::move(value);
    types_[static_cast<size_t>(index - 1)] = type;
  }

  // Runs the statement. A session found lost before the statement could run (it was idle, and
  // the server ended it: SQLSTATE 57P0x, or the statement only reads) is connected again and the
  // statement run once more; one lost while it ran is an error, since a change may have been made.
  void Execute() {
    const bool idle = PQtransactionStatus(session_.conn()) == PQTRANS_IDLE;
    try {
      RunOnce();
    } catch (const Error& error) {
      if (!idle || PQstatus(session_.conn()) == CONNECTION_OK) throw;
      const bool not_run = error.description().find("[SQLSTATE 57P0") != std::string::npos;
      if (!(not_run || prepared_->sql.reads_only) || !session_.Reconnect()) throw;
      if (!prepared_->name.empty()) prepared_ = session_.Prepare(prepared_->text);
      RunOnce();
    }
  }

  void RunOnce() {
    std::vector<const char*> values;
    values.reserve(values_.size());
    for (const auto& value : values_) values.push_back(value ? value->c_str() : nullptr);
    CountStatementRun();
    const int count = static_cast<int>(values.size());
    if (prepared_->untyped) {
      std::vector<Oid> types(types_);
      for (Oid& type : types) type = type == 0 ? kTextOid : type;
      result_.reset(PQexecParams(session_.conn(), prepared_->sql.text.c_str(), count, types.data(), values.data(),
                                 nullptr, nullptr, 0));
    } else {
      result_.reset(
          PQexecPrepared(session_.conn(), prepared_->name.c_str(), count, values.data(), nullptr, nullptr, 0));
    }
    if (Failed(result_.get())) {
      Result failed = std::move(result_);
      ThrowResult(session_.conn(), failed.get());
    }
    const std::string_view status = PQcmdStatus(result_.get());
    if (status.starts_with("INSERT") || status.starts_with("UPDATE") || status.starts_with("DELETE") ||
        status.starts_with("MERGE")) {
      changes_ = std::atoll(PQcmdTuples(result_.get()));
    }
    row_ = -1;
  }

  // True when the numeric column holds a whole number; one beyond the 64-bit range (a SUM of
  // amounts) fails as the other engine's SUM does rather than be read inexactly.
  bool WholeNumeric(int index) const {
    const std::string_view text(PQgetvalue(result_.get(), row_, index));
    return text.find_first_of(".eEN") == std::string_view::npos;
  }
  void CheckWholeNumbers() const {
    for (int i = 0; i < PQnfields(result_.get()); ++i) {
      if (PQftype(result_.get(), i) != kNumericOid || PQgetisnull(result_.get(), row_, i) || !WholeNumeric(i)) continue;
      const char* text = PQgetvalue(result_.get(), row_, i);
      int64_t value = 0;
      const auto [end, error] = std::from_chars(text, text + PQgetlength(result_.get(), row_, i), value);
      if (error != std::errc()) {
        throw Error(PostgresErrorNumber("22003"), std::string(kPostgresSource), "integer overflow");
      }
    }
  }

  Session& session_;
  std::shared_ptr<Prepared> prepared_;
  const Catalog* catalog_;
  int64_t& changes_;
  std::vector<std::optional<std::string>> values_;
  std::vector<Oid> types_;
  Result result_{nullptr, &PQclear};
  int row_ = -1;
  mutable std::string scratch_;
};

// --- Dialect and connection -------------------------------------------------------------------

class PostgresDialect final : public EngineDialect {
 public:
  // Unquoted names are folded to lower case, so the quoted form is written that way too.
  std::string QuoteIdentifier(std::string_view name) const override { return "\"" + Lower(name) + "\""; }
  // lower() under the "C" collation folds A-Z only; the columns' ICU collation would also
  // take a fullwidth or other-script spelling for the same text.
  std::string AsciiNoCaseEquals(std::string_view column) const override {
    return "lower(" + std::string(column) + " COLLATE \"C\")=lower(CAST(? AS text) COLLATE \"C\")";
  }
  std::string WholeNumberCondition(std::string_view column) const override {
    // Byte-wise: a regular expression cannot run under the columns' case-blind collation.
    return "(" + std::string(column) + " COLLATE \"C\" ~ '^[0-9]+$')";
  }
  // Columns hold only their own type.
  std::string HoldsIntegerCondition(std::string_view column) const override {
    return "(" + std::string(column) + " IS NOT NULL)";
  }
  std::string StoredTypeExpression(std::string_view column) const override {
    return "pg_typeof(" + std::string(column) + ")::text";
  }
  // Opening checks the schema and refuses one that is missing or holds no company with 3F000.
  bool IsMissingCompany(const Error& error) const override { return error.number() == PostgresErrorNumber("3F000"); }
  bool IsSumOverflow(const Error& error) const override {
    // Found anywhere in the description: on its way to the caller the error gains a marker and
    // the blocks of the operations it passed through.
    return error.number() == PostgresErrorNumber("22003") && error.source() == kPostgresSource &&
           error.description().find("integer overflow") != std::string::npos;
  }
};

const PostgresDialect kDialect;

class PostgresConnection final : public EngineConnection {
 public:
  explicit PostgresConnection(PostgresTarget target) : target_(std::move(target)) {
    session_ = Pool().Take(target_);
    try {
      WithReconnect([&] { session_->UseCompany(target_.company); });
    } catch (...) {
      session_.reset();
      throw;
    }
    report_role_ = PostgresReportRole(PQdb(session_->conn()), target_.company);
  }
  ~PostgresConnection() override {
    if (session_ && !spent_) Pool().Give(std::move(session_));
  }
  PostgresConnection(const PostgresConnection&) = delete;
  PostgresConnection& operator=(const PostgresConnection&) = delete;

  std::unique_ptr<EngineStatement> Prepare(std::string_view sql) override {
    std::shared_ptr<Prepared> prepared;
    WithReconnect([&] { prepared = session_->Prepare(sql); });
    return std::make_unique<PostgresStatement>(*session_, std::move(prepared), catalog_, changes_);
  }

  // Under the report rules (PostgresReport.cpp), prepared and run as the company's report role
  // (RunAsReportRole).
  std::unique_ptr<EngineStatement> PrepareReport(std::string_view sql) override;

  void ExecuteControl(std::string_view sql) override { session_->Run(sql); }
  int64_t Changes() const override { return changes_; }
  const std::string& Path() const override { return target_.given; }
  bool StillNamesItsDatabase() const override { return PQstatus(session_->conn()) == CONNECTION_OK; }
  bool InTransaction() const override { return PQtransactionStatus(session_->conn()) != PQTRANS_IDLE; }
  bool Spent() const override { return spent_; }
  size_t CachedStatementCount() const override { return session_->CachedCount(); }
  const EngineDialect& Dialect() const override { return kDialect; }

  // A company made before report roles were is given its role here; where that is refused (the
  // connecting user may not create roles, a server that only reads) the company still opens,
  // and its report queries are refused with the server's reason (MakeReportRole).
  void CheckSchema(const Catalog& catalog) override {
    catalog_ = &catalog;
    report_role_ready_ = CheckPostgresSchema(*this, target_, report_role_, catalog);
    if (report_role_ready_) return;
    try {
      MakeReportRole();
    } catch (const Error& error) {
      if (error.number() == PostgresErrorNumber("08")) throw;
    }
  }

  const std::string& report_role() const { return report_role_; }

  // What stops the statement running on this connection's session from another thread
  // (PQcancel); the caller frees it with PQfreeCancel. Null when libpq cannot make one.
  PGcancel* MakeCancel() const { return PQgetCancel(session_->conn()); }

  // Runs `work` (which prepares or runs a report statement) as the company's report role: in a
  // transaction of its own, or, inside the unit's open transaction, in a savepoint of its own.
  // `run`: the statement is run, and what it did is kept when it succeeds (a `writes` one in its
  // own transaction takes the company lock first, as a writing unit does); otherwise it is only
  // prepared, with standard_conforming_strings on as the report rules read the text, and
  // everything is undone. Either way the statement waits for a lock another session holds no
  // longer than a writer waits for its turn (WriterWaitLimit) and runs no later than `deadline`
  // (the server's lock_timeout, 55P03, which ThrowReportBusy words as the busy error, and its
  // statement_timeout, 57014). Whatever happens, the role, the limits and every other SET LOCAL
  // end with the scope (inside a unit, the unit's own limits are put back), so the connection's
  // next statement runs with the connecting user's rights and limits; a failure of `work` is
  // passed on after the undoing.
  template <typename Work>
  void RunAsReportRole(bool run, bool writes, std::chrono::steady_clock::time_point deadline, Work work) {
    const bool own = !InTransaction();
    if (own && run) {
      // No new session here: the statement was prepared on this one.
      session_->Run(writes ? "BEGIN; SET LOCAL lock_timeout = " + std::to_string(WriterWaitLimit().count())
                           : std::string("BEGIN"));
    } else if (own) {
      WithReconnect([&] {
        session_->UseCompany(target_.company);
        session_->Run("BEGIN");
      });
    } else {
      session_->Run("SAVEPOINT lk_report");
    }
    const auto undo = [&] {
      try {
        if (own && InTransaction()) {
          session_->Run("ROLLBACK");
        } else if (!own) {
          session_->Run("ROLLBACK TO SAVEPOINT lk_report; RELEASE SAVEPOINT lk_report");
        }
      } catch (const Error&) {
        // The failure that brought us here is the one reported; a session lost meanwhile is not
        // kept (the connection is spent).
      }
    };
    try {
      if (own && run && writes) LockCompany();
      // A SET LOCAL in a savepoint that is released stays for the rest of the unit's transaction.
      std::string unit_limits;
      if (!own && run) {
        const Result saved =
            session_->Run("SELECT current_setting('statement_timeout'), current_setting('lock_timeout')");
        unit_limits = "; SET LOCAL statement_timeout = " + QuoteLiteral(PQgetvalue(saved.get(), 0, 0)) +
                      "; SET LOCAL lock_timeout = " + QuoteLiteral(PQgetvalue(saved.get(), 0, 1));
      }
      session_->Run(ReportLimitsSql(deadline) + "; SET LOCAL ROLE " + report_role_ +
                    (run ? std::string() : std::string("; SET LOCAL standard_conforming_strings TO on")));
      work();
      if (!run) {
        undo();
      } else if (own) {
        session_->Run("COMMIT");
      } else {
        session_->Run("SET LOCAL ROLE NONE" + unit_limits + "; RELEASE SAVEPOINT lk_report");
      }
    } catch (...) {
      undo();
      throw;
    }
  }

  // The busy error of a report statement whose wait for another session's lock ran out (the
  // lock_timeout RunAsReportRole set, SQLSTATE 55P03), in the words of a writer that waited too
  // long for its turn.
  [[noreturn]] void ThrowReportBusy() const {
    throw BusyError("database is locked: waited " + WaitedText(report_lock_wait_) +
                    " for another writer to finish with " + target_.given);
  }

  // A read sees the state at its first statement throughout; a write sees each statement's
  // latest committed state, made stable for it by the company lock, for which it waits no longer
  // than a writer waits for its turn (common/UnitOfWork.h).
  void Begin(Access access) override {
    WithReconnect([&] {
      session_->UseCompany(target_.company);
      session_->Run(access == Access::kWrite
                        ? "BEGIN; SET LOCAL lock_timeout = " + std::to_string(WriterWaitLimit().count())
                        : std::string("BEGIN ISOLATION LEVEL REPEATABLE READ"));
    });
  }
  // The server answers COMMIT of a transaction it has already failed with ROLLBACK and no error:
  // that is a failure, never a success.
  void Commit() override {
    const Result result = session_->Run("COMMIT");
    if (std::string_view(PQcmdStatus(result.get())) == "ROLLBACK") {
      throw PostgresError("40000", "the transaction had failed and was rolled back; nothing of it was committed");
    }
  }
  void Rollback() override { session_->Run("ROLLBACK"); }
  void Savepoint() override { session_->Run("SAVEPOINT ledgerkit_unit"); }
  void ReleaseSavepoint() override { session_->Run("RELEASE SAVEPOINT ledgerkit_unit"); }
  void RollbackToSavepoint() override {
    session_->Run("ROLLBACK TO SAVEPOINT ledgerkit_unit; RELEASE SAVEPOINT ledgerkit_unit");
  }
  void LockCompany() override {
    try {
      const auto statement = Prepare("SELECT ISubScriberID FROM ISubScriber FOR UPDATE");
      while (statement->Step()) {
      }
    } catch (const Error& error) {
      if (error.number() != PostgresErrorNumber("55P03")) throw;
      throw BusyError("database is locked: waited " + WaitedText(WriterWaitLimit()) +
                      " for another writer to finish with " + target_.given);
    }
  }

  // The server keeps its own structures consistent; what is left to look at is the company's
  // own: the kept register totals against the register.
  std::vector<std::string> IntegrityProblems() override {
    std::vector<std::string> problems;
    const auto statement = Prepare(
        "SELECT a.AccountID FROM lk_RegisterTotal a FULL JOIN (SELECT Parent, COALESCE(SUM(Withdrawal),0) AS d, "
        "COALESCE(SUM(Deposit),0) AS c, COUNT(Withdrawal) AS dr, COUNT(Deposit) AS cr FROM ACTransaction WHERE Parent "
        "IS NOT NULL GROUP BY Parent) s ON s.Parent=a.AccountID WHERE s.Parent IS NULL AND (a.DebitRows<>0 OR "
        "a.CreditRows<>0) OR a.AccountID IS NULL OR a.Debits<>s.d OR a.Credits<>s.c OR a.DebitRows<>s.dr OR "
        "a.CreditRows<>s.cr");
    while (statement->Step()) {
      problems.push_back("the kept register totals of account " + std::string(statement->ColumnText(0)) +
                         " do not match its register rows");
    }
    return problems;
  }

  void Checkpoint() override {}
  void HoldPagesInMemory(int64_t) override {}
  bool WritersQueueBesideFile() override { return false; }
  Error BusyError(std::string message) const override { return PostgresError("55P03", std::move(message)); }

  // The key's identity sequence, named as the server names it (PostgresSchema.cpp).
  int64_t KeyCounter(const TableDef& table) override {
    const auto statement = Prepare("SELECT CASE WHEN is_called THEN last_value ELSE 0 END FROM " +
                                   std::string(table.name) + "_" + std::string(table.columns[0].name) + "_seq");
    return statement->Step() ? statement->ColumnInteger(0) : 0;
  }
  void AdvanceKeyCounter(const TableDef& table, int64_t last) override {
    if (last <= 0 || KeyCounter(table) >= last) return;
    const auto statement = Prepare("SELECT setval(?, ?)");
    statement->BindText(1, std::string(table.name) + "_" + std::string(table.columns[0].name) + "_seq");
    statement->BindInteger(2, last);
    while (statement->Step()) {
    }
  }

 private:
  // Runs `work`; when the session turns out lost before a transaction began (the server was
  // restarted, the session ended by an administrator), connects again and runs it once more.
  template <typename Work>
  void WithReconnect(Work work) {
    const bool idle = PQtransactionStatus(session_->conn()) == PQTRANS_IDLE;
    try {
      work();
    } catch (const Error&) {
      if (!idle || PQstatus(session_->conn()) == CONNECTION_OK || !session_->Reconnect()) throw;
      work();
    }
  }

  // Makes the company's report role in a transaction of its own or, inside a unit's open
  // transaction, in a savepoint of it (the role then comes with the unit's commit). On failure
  // nothing is left made and the server's error is passed on, naming the role.
  void MakeReportRole() {
    const bool own = !InTransaction();
    try {
      if (own) {
        WithReconnect([&] { session_->Run("BEGIN; " + PostgresReportRoleSql(target_, report_role_) + " COMMIT;"); });
      } else {
        session_->Run("SAVEPOINT lk_report_role; " + PostgresReportRoleSql(target_, report_role_) +
                      " RELEASE SAVEPOINT lk_report_role;");
      }
      report_role_ready_ = true;
    } catch (const Error& error) {
      try {
        if (own && InTransaction()) {
          session_->Run("ROLLBACK");
        } else if (!own) {
          session_->Run("ROLLBACK TO SAVEPOINT lk_report_role; RELEASE SAVEPOINT lk_report_role");
        }
      } catch (const Error&) {
        // Lost meanwhile: the server undid it.
      }
      throw Error(error.number(), error.source(),
                  "The company's report role " + report_role_ + " is missing and could not be made: " +
                      error.description());
    }
  }

  // The limits of a report scope's statements, the lock wait remembered for ThrowReportBusy: a
  // lock another session holds is waited for as long as a writer waits for its turn; the
  // statement as a whole is held to `deadline` (to nothing when there is none).
  std::string ReportLimitsSql(std::chrono::steady_clock::time_point deadline) {
    // A lock wait longer than the time left is ended by the statement's own limit, and told as
    // the time limit.
    const int64_t lock_ms = std::max<int64_t>(1, WriterWaitLimit().count());
    std::string sql;
    if (deadline != std::chrono::steady_clock::time_point::max()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      sql = "SET LOCAL statement_timeout = " + std::to_string(std::max<int64_t>(1, left.count())) + "; ";
    }
    report_lock_wait_ = std::chrono::milliseconds(lock_ms);
    return sql + "SET LOCAL lock_timeout = " + std::to_string(lock_ms);
  }

  PostgresTarget target_;
  std::unique_ptr<Session> session_;
  const Catalog* catalog_ = nullptr;
  int64_t changes_ = 0;
  bool spent_ = false;
  std::string report_role_;
  bool report_role_ready_ = false;
  std::chrono::milliseconds report_lock_wait_{0};  // the lock_timeout of the last report scope
};

// A caller's report statement: each run of it (its first Step after preparation or Reset) is one
// scope of the report role, which ends before the first row is handed out, the server having
// sent every row.
class ReportStatement final : public EngineStatement {
 public:
  ReportStatement(PostgresConnection& connection, std::unique_ptr<PostgresStatement> statement)
      : connection_(connection), statement_(std::move(statement)) {}

  int ParameterCount() const override { return statement_->ParameterCount(); }
  void BindNull(int index) override { statement_->BindNull(index); }
  void BindInteger(int index, int64_t value) override { statement_->BindInteger(index, value); }
  void BindReal(int index, double value) override { statement_->BindReal(index, value); }
  void BindText(int index, std::string_view value) override { statement_->BindText(index, value); }

  bool Step() override {
    if (ran_) return statement_->Step();
    bool row = false;
    // Known to InterruptRunningReports while the server runs it; the cancel outlives the
    // registration (declared first), so the interrupt never uses a freed one.
    const std::unique_ptr<PGcancel, void (*)(PGcancel*)> cancel(connection_.MakeCancel(), &PQfreeCancel);
    PGcancel* const raw_cancel = cancel.get();
    const RunningReport report([raw_cancel] {
      char ignored[256];
      if (raw_cancel != nullptr) PQcancel(raw_cancel, ignored, sizeof ignored);
    });
    try {
      connection_.RunAsReportRole(true, !statement_->IsReadOnly(), report.deadline(), [&] {
        if (report.MustStop()) throw PostgresError("57014", report.StopMessage());
        try {
          row = statement_->Step();
        } catch (const Error& error) {
          if (HasSqlstate(error, "55P03")) connection_.ThrowReportBusy();
          throw;
        }
      });
    } catch (const Error& error) {
      // The server's cancel, by the deadline or by the interrupt: said in the words of the limit.
      if (HasSqlstate(error, "57014") && (report.Interrupted() || report.HasDeadline()) &&
          error.description().find(report.StopMessage()) == std::string::npos) {
        throw PostgresError("57014", report.StopMessage());
      }
      throw;
    }
    ran_ = true;
    return row;
  }
  void Reset() override {
    statement_->Reset();
    ran_ = false;
  }
  bool IsReadOnly() const override { return statement_->IsReadOnly(); }

  int ColumnCount() const override { return statement_->ColumnCount(); }
  EngineColumn Column(int index) const override { return statement_->Column(index); }
  StoredKind ColumnKind(int index) const override { return statement_->ColumnKind(index); }
  int64_t ColumnInteger(int index) const override { return statement_->ColumnInteger(index); }
  double ColumnReal(int index) const override { return statement_->ColumnReal(index); }
  std::string_view ColumnText(int index) const override { return statement_->ColumnText(index); }

 private:
  PostgresConnection& connection_;
  std::unique_ptr<PostgresStatement> statement_;
  bool ran_ = false;
};

std::unique_ptr<EngineStatement> PostgresConnection::PrepareReport(std::string_view sql) {
  spent_ = true;
  TranslatedSql text = ReportText(sql);
  std::string refused;
  if (!PostgresReportMayRun(sql, refused)) {
    throw PostgresError("42501", "not authorized: a report query may not use " + refused + "; nothing was run.");
  }
  if (!report_role_ready_) MakeReportRole();
  std::shared_ptr<Prepared> prepared;
  RunAsReportRole(false, false, std::chrono::steady_clock::time_point::max(), [&] {
    try {
      prepared = session_->PrepareOnce(std::move(text));
    } catch (const Error& error) {
      // Reading the statement waits for the locks of the tables it names, as running it does.
      if (HasSqlstate(error, "55P03")) ThrowReportBusy();
      throw;
    }
  });
  return std::make_unique<ReportStatement>(
      *this, std::make_unique<PostgresStatement>(*session_, std::move(prepared), catalog_, changes_));
}

// Percent-decodes a URI parameter's value.
std::string Decode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int value = 0;
      std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
      out += static_cast<char>(value);
      i += 2;
    } else {
      out += text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

std::unique_ptr<EngineConnection> OpenUri(std::string_view uri) {
  return OpenPostgresCompany(ParsePostgresTarget(uri));
}

}  // namespace

int32_t PostgresErrorNumber(std::string_view sqlstate) {
  const int klass = sqlstate.size() >= 2 ? Base36(sqlstate[0]) * 36 + Base36(sqlstate[1]) : 0;
  return static_cast<int32_t>(kPostgresErrorBase + static_cast<uint32_t>(klass));
}

Error PostgresError(std::string_view sqlstate, std::string message) {
  // A number out of range is the Overflow the other engine reports; a trigger's own text comes
  // without the "Overflow: " it is marked with, as there.
  if (sqlstate == "22003") {
    constexpr std::string_view kOverflowPrefix = "Overflow: ";
    if (message.starts_with(kOverflowPrefix)) message.erase(0, kOverflowPrefix.size());
    return Error::Runtime(kOverflow, std::move(message));
  }
  return Error(PostgresErrorNumber(sqlstate), std::string(kPostgresSource),
               std::move(message) + " [SQLSTATE " + std::string(sqlstate) + "]");
}

PostgresTarget ParsePostgresTarget(std::string_view uri) {
  PostgresTarget target;
  target.given = HidePasswords(uri, "***");
  target.company = std::string(kDefaultCompany);
  const size_t query = uri.find('?');
  std::string rest;
  if (query != std::string_view::npos) {
    std::string_view parameters = uri.substr(query + 1);
    while (!parameters.empty()) {
      const size_t amp = parameters.find('&');
      const std::string_view pair = parameters.substr(0, amp);
      parameters = amp == std::string_view::npos ? std::string_view() : parameters.substr(amp + 1);
      if (pair.starts_with("company=")) {
        target.company = Decode(pair.substr(8));
      } else if (!pair.empty()) {
        rest += (rest.empty() ? "" : "&") + std::string(pair);
      }
    }
  }
  const std::string base(uri.substr(0, query));
  target.uri = rest.empty() ? base : base + "?" + rest;
  target.server = target.uri;
  const auto& name = target.company;
  bool plain = !name.empty() && name.size() <= 63 && !std::isdigit(static_cast<unsigned char>(name[0])) &&
               !name.starts_with("pg_");
  for (const char c : name) plain = plain && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_');
  if (!plain) {
    throw Error::Runtime(kInvalidArgument, "The company name " + QuoteForMessage(name) +
                                               " in the connection URI is not a plain lower-case name (letters a-z, "
                                               "digits and _, at most 63, not starting with a digit or pg_).");
  }
  return target;
}

std::unique_ptr<EngineConnection> OpenPostgresCompany(const PostgresTarget& target) {
  return std::make_unique<PostgresConnection>(target);
}

const std::string& PostgresReportRoleOf(const EngineConnection& connection) {
  return static_cast<const PostgresConnection&>(connection).report_role();
}

size_t PostgresSessionsOpen() { return sessions_open.load(); }

namespace {

// Both schemes name the same thing: what follows either is read as a postgresql:// URI.
std::unique_ptr<EngineConnection> OpenTarget(std::string_view target) {
  return OpenUri("postgresql://" + std::string(target));
}

void CreateTarget(std::string_view target, const Catalog& catalog, const std::function<void()>& first_rows) {
  CreatePostgresDatabase("postgresql://" + std::string(target), catalog, first_rows);
}

}  // namespace

const EngineDriver& PostgresDriver() {
  static const EngineDriver driver{"postgresql://", &OpenTarget, &CreateTarget, kDialect};
  return driver;
}

const EngineDriver& PostgresShortDriver() {
  static const EngineDriver driver{"postgres://", &OpenTarget, &CreateTarget, kDialect};
  return driver;
}

}  // namespace ledgerkit
