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
#include <vector>

#include "CountingVfs.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/ledger/CACMgr.h"

namespace bench {

using Clock = std::chrono::steady_clock;
using ledgerkit::Variant;

struct Rates {
  double library = 0;
  double baseline = 0;
};

// Work one operation causes, the same on every machine: statements started (the engine's
// counter, or the raw loop's own), syncs of files and pages written to the write-ahead log
// (SQLite, through the counting VFS; negative where nothing counts them, as on the server).
struct OperationCounts {
  double statements = -1;
  double syncs = -1;
  double log_pages = -1;
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
// `untimed`, when given, runs before each run of `library` and its time is left out (a case
// that uses up what it entered ahead enters more there).
Rates Interleaved(const std::function<void()>& library, const std::function<void()>& baseline, int rounds,
                  double seconds_per_round, const std::function<void()>& untimed = {});

// The medians over several Interleaved measurements of one case: of each side's rate and of
// their ratio (the library's time over the baseline's), with the ratio's lowest and highest.
struct MedianRates {
  double library = 0;
  double baseline = 0;
  double ratio = 0;
  double lowest_ratio = 0;
  double highest_ratio = 0;
  int runs = 0;
};
MedianRates Medians(const std::vector<Rates>& measured);

// One JSON line: name, ops_per_s, ratio_to_raw[, ratio_range when several runs][, ms]
// [, statements, syncs, log_pages and the raw loop's raw_statements, raw_syncs, raw_log_pages,
// each per operation, where counted].
void Report(const std::string& name, const MedianRates& rates, double ms = -1, const OperationCounts& library = {},
            const OperationCounts& baseline = {});
void Report(const std::string& name, double ops_per_s, double baseline_ops_per_s, double ms = -1);

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
  // Statements the writer has run, counted as the engine counts the library's.
  virtual uint64_t StatementsRun() const = 0;
  // Empties the write-ahead log into the file and truncates it, so that what is counted next
  // does not depend on how many commits came before (SQLite; nothing on the server).
  virtual void Checkpoint() {}
  // Its file's page size in bytes (SQLite; 0 on the server).
  virtual int64_t PageSize() { return 0; }
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
  // True where the counting VFS sees the company's files (SQLite).
  virtual bool CountsFiles() const { return false; }
  // As RawWriter::Checkpoint, for a company no connection of which is in a transaction.
  virtual void Checkpoint(const std::string& /*account*/) {}
  // The company's page size in bytes, for log pages from log bytes (SQLite).
  virtual int64_t PageSize(const std::string& /*account*/) { return 0; }

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
