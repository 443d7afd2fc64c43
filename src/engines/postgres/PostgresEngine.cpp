// The PostgreSQL implementation of the engine interface: a connection to one company, its
// transactions, the company lock and report queries run as the company's report role, and the
// connection URI. The rest of the engine, by concern: sessions and their pool
// (PostgresSession.cpp), statements and typed reads (PostgresStatement.cpp), the reading of SQL
// text and the dialect (PostgresSqlText.cpp), errors (PostgresErrors.cpp), the report rules
// (PostgresReport.cpp) and the company's schema (PostgresSchema.cpp).
//
// Every failure passes through ThrowResult (PostgresErrors.cpp), the one place that turns a
// server's answer into an Error.
#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <string>
#include <vector>

#include "common/Engine.h"
#include "common/EngineDriver.h"
#include "ledgerkit/common/Error.h"
#include "common/RunningReport.h"
#include "common/Text.h"
#include "common/UnitOfWork.h"
#include "engines/postgres/PostgresEngine.h"
#include "engines/postgres/PostgresErrors.h"
#include "engines/postgres/PostgresSession.h"
#include "engines/postgres/PostgresSqlText.h"
#include "engines/postgres/PostgresStatement.h"

namespace ledgerkit {

namespace {

using postgres::HasSqlstate;
using postgres::MakeStatement;
using postgres::Prepared;
using postgres::QuoteLiteral;
using postgres::ReportText;
using postgres::Result;
using postgres::Session;
using postgres::StatementText;

// How long a wait of `limit` was, for a message: "60 s", "250 ms".
std::string WaitedText(std::chrono::milliseconds limit) {
  const int64_t ms = limit.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// --- Connection -------------------------------------------------------------------------------

const EngineDialect& kDialect = postgres::Dialect();

class PostgresConnection final : public EngineConnection {
 public:
  explicit PostgresConnection(PostgresTarget target) : target_(std::move(target)) {
    session_ = postgres::TakeSession(target_);
    try {
      WithReconnect([&] { session_->UseCompany(target_.company); });
    } catch (...) {
      session_.reset();
      throw;
    }
    report_role_ = PostgresReportRole(PQdb(session_->conn()), target_.company);
  }
  ~PostgresConnection() override {
    if (session_ && !spent_) postgres::GiveSession(std::move(session_));
  }
  PostgresConnection(const PostgresConnection&) = delete;
  PostgresConnection& operator=(const PostgresConnection&) = delete;

  // The server's markers are $1, $2, ... in the order they stand.
  std::unique_ptr<EngineStatement> Prepare(const Sql& sql) override {
    const std::string text = sql.Render([](int n) { return "$" + std::to_string(n); });
    std::shared_ptr<Prepared> prepared;
    WithReconnect([&] { prepared = session_->Prepare(text, sql.Markers()); });
    return MakeStatement(*session_, std::move(prepared), catalog_, changes_);
  }

  // Under the report rules (PostgresReport.cpp), prepared and run as the company's report role
  // (RunAsReportRole).
  std::unique_ptr<EngineStatement> PrepareReport(std::string_view sql) override;

  void ExecuteControl(std::string_view sql) override { session_->Run(sql); }
  int64_t Changes() const override { return changes_; }
  const std::string& Path() const override { return target_.given; }
  // A kept connection whose session the server closed is not handed out again: the next call
  // connects anew rather than failing on it.
  bool StillNamesItsDatabase() const override {
    return InTransaction() ? PQstatus(session_->conn()) == CONNECTION_OK : session_->StillConnected();
  }
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
      const auto statement = Prepare(Sql("SELECT ISubScriberID FROM ISubScriber FOR UPDATE"));
      while (statement->Step()) {
      }
    } catch (const Error& error) {
      if (error.number() != PostgresErrorNumber("55P03")) throw;
      throw BusyError("database is locked: waited " + WaitedText(WriterWaitLimit()) +
                      " for another writer to finish with " + target_.given);
    }
  }

  // The server keeps its own structures consistent (its pages, indexes and constraints are never
  // found broken the way a damaged file's are): it has nothing of its own to report. What the
  // company's rows owe each other, the kept register totals among them, is the ledger check's
  // (reports/LedgerCheck.h), the same on every engine.
  std::vector<std::string> IntegrityProblems() override { return {}; }

  void Checkpoint() override {}
  void HoldPagesInMemory(int64_t) override {}
  bool WritersQueueBesideFile() override { return false; }
  Error BusyError(std::string message) const override { return PostgresError("55P03", std::move(message)); }

  // The key's identity sequence, named as the server names it (PostgresSchema.cpp).
  int64_t KeyCounter(const TableDef& table) override {
    const auto statement = Prepare(Sql("SELECT CASE WHEN is_called THEN last_value ELSE 0 END FROM ", table.name, "_",
                                       table.columns[0].name, "_seq"));
    return statement->Step() ? statement->ColumnInteger(0).value_or(0) : 0;
  }
  void AdvanceKeyCounter(const TableDef& table, int64_t last) override {
    if (last <= 0 || KeyCounter(table) >= last) return;
    const auto statement = Prepare(Sql("SELECT setval(", kValue, ", ", kValue, ")"));
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
  ReportStatement(PostgresConnection& connection, std::unique_ptr<EngineStatement> statement)
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
  bool ColumnIsNull(int index) const override { return statement_->ColumnIsNull(index); }
  std::optional<int64_t> ColumnInteger(int index) const override { return statement_->ColumnInteger(index); }
  std::optional<double> ColumnReal(int index) const override { return statement_->ColumnReal(index); }
  bool ColumnIsBinary(int index) const override { return statement_->ColumnIsBinary(index); }
  std::string_view ColumnText(int index) const override { return statement_->ColumnText(index); }

 private:
  PostgresConnection& connection_;
  std::unique_ptr<EngineStatement> statement_;
  bool ran_ = false;
};

std::unique_ptr<EngineStatement> PostgresConnection::PrepareReport(std::string_view sql) {
  spent_ = true;
  StatementText text = ReportText(sql);
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
      *this, MakeStatement(*session_, std::move(prepared), catalog_, changes_));
}

}  // namespace

std::unique_ptr<EngineConnection> OpenPostgresCompany(const PostgresTarget& target) {
  return std::make_unique<PostgresConnection>(target);
}

const std::string& PostgresReportRoleOf(const EngineConnection& connection) {
  return static_cast<const PostgresConnection&>(connection).report_role();
}

const EngineDialect& PostgresEngineDialect() { return kDialect; }

}  // namespace ledgerkit
