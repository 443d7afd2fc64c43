// Shared by the files of ledgerkit-bench: the interleaved measurement, the report lines, the
// raw baselines of each engine behind one interface, and the bench company.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ledgerkit/common/Variant.h"
#include "ledgerkit/ledger/CACMgr.h"

namespace bench {

using Clock = std::chrono::steady_clock;
using ledgerkit::Variant;

struct Rates {
  double library = 0;
  double baseline = 0;
};

// Thrown by CheckInterrupted once SIGINT or SIGTERM arrived, so that the run unwinds and drops
// what it made on a server.
struct Interrupted : std::runtime_error {
  Interrupted() : std::runtime_error("interrupted") {}
};
// Turns SIGINT and SIGTERM into Interrupted at the next CheckInterrupted.
void CatchInterrupts();
void CheckInterrupted();
bool InterruptRequested();
// Asks the server to cancel the raw statement running now (a long fill), if any; safe in a
// signal handler.
void CancelRawStatement() noexcept;

// Measures `library` and `baseline` in alternating rounds, so that both see the same machine
// (disk flush latency on shared machines drifts by a factor of ten within a minute).
Rates Interleaved(const std::function<void()>& library, const std::function<void()>& baseline, int rounds,
                  double seconds_per_round);

// One JSON line: name, ops_per_s, ratio_to_raw (the library's time over the baseline's)[, ms]
// [, statements].
void Report(const std::string& name, double ops_per_s, double baseline_ops_per_s, double ms = -1,
            int64_t statements = -1);

// --- Raw baselines -----------------------------------------------------------------------------

// A query prepared once on a connection of its own, read row by row with the engine's client
// library; the baseline of a read.
class RawQuery {
 public:
  virtual ~RawQuery() = default;
  // The next row, running the query on the first call; false after the last row, and the query
  // is ready to run again.
  virtual bool Next() = 0;
  virtual int64_t Integer(int column) const = 0;
  // Empty for NULL.
  virtual std::string_view Text(int column) const = 0;
  // Runs the query and steps through every row, reading nothing.
  void Run() {
    while (Next()) {
    }
  }
};

// The raw durable write: begin, one insert, one update, commit, with the statements prepared
// once, on a table of its own.
class RawWriter {
 public:
  virtual ~RawWriter() = default;
  virtual void Commit() = 0;
};

// One engine as the bench uses it: where its companies are made, the baselines written directly
// against its client library, and the few SQL pieces its direct fills are written with.
class RawEngine {
 public:
  virtual ~RawEngine() = default;
  virtual std::string Name() const = 0;

  // Creates the company `name` (a plain lower-case name) with the user bench/bench, replacing
  // one left by an earlier run; its Account.
  virtual std::string CreateCompany(const std::string& name) = 0;
  // Removes a company made by CreateCompany once it is no longer used (on a server; a file stays
  // with the run's folder).
  virtual void DropCompany(const std::string& account) = 0;

  // Runs statements (several, separated by `;`) directly on the company.
  virtual void Exec(const std::string& account, const std::string& sql) = 0;
  virtual std::unique_ptr<RawQuery> Query(const std::string& account, const std::string& sql) = 0;
  virtual std::unique_ptr<RawWriter> Writer() = 0;

  // `statements` (writes of register rows among them) as one bulk load: one transaction, then
  // ANALYZE. On the server the per-row trigger that keeps the register totals is off during the
  // load and the totals are summed afresh at its end: through the trigger, a million rows on one
  // account take over ten minutes.
  virtual std::string BulkLoad(const std::string& statements) const = 0;
  // SQL pieces for fills. A WITH clause naming n(i), the numbers 1 to `count`:
  virtual std::string Numbers(int64_t count) const = 0;
  // A timestamp of 2025: from the 1-based month and day expressions, or `days` after 1 January.
  virtual std::string Date2025(const std::string& month, const std::string& day) const = 0;
  virtual std::string DayOf2025(const std::string& days) const = 0;
  // `value` as text of five digits with leading zeros.
  virtual std::string FiveDigits(const std::string& value) const = 0;
  // True for a `column` whose text begins with `letter`.
  virtual std::string BeginsWith(const std::string& column, char letter) const = 0;
};

// Raw SQLite files in `dir` (WAL, synchronous=FULL).
std::unique_ptr<RawEngine> SqliteEngine(const std::filesystem::path& dir);
// Companies on the server `server` (a postgresql:// URI without company=), made under names of
// this run's own and dropped when the engine goes, whatever the outcome.
std::unique_ptr<RawEngine> PostgresEngine(const std::string& server);

// --- The bench companies ------------------------------------------------------------------------

// A company made for one case (RawEngine::CreateCompany), dropped with the object.
struct MadeCompany {
  RawEngine& raw;
  const std::string account;

  MadeCompany(RawEngine& engine, const std::string& name) : raw(engine), account(engine.CreateCompany(name)) {}
  ~MadeCompany();
  MadeCompany(const MadeCompany&) = delete;
  MadeCompany& operator=(const MadeCompany&) = delete;
};

// A company with a bank and an expense account, the caller's user, and `register_rows`
// committed register rows on a third account.
struct Company {
  MadeCompany made;
  RawEngine& raw;
  const std::string& account;
  Variant bank, expense, other;
  ledgerkit::CACMgr ledger;

  Company(RawEngine& engine, const std::string& name, int64_t register_rows = 0);

  void FillRegister(int64_t rows);
  // BeginTransaction, PostDebit, EndTransaction: three commits.
  void Cheque();
};

// cheques_8_companies: eight processes, each recording cheques on a company of its own for a
// fixed time, against one process on one company, in alternating rounds.
void ChequesEightCompanies(RawEngine& raw, bool quick);

}  // namespace bench
