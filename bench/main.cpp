// ledgerkit-bench: the library's speed against raw loops written directly against the engine's
// own client library, measured in the same run, on the same file system or server. One JSON
// object per line: {"name", "ops_per_s", "ratio_to_raw"[, "runs", "ratio_range"][, "ms"][, counts]},
// where the ratio is the library's time per operation over the raw loop's (lower is better) and
// the counts of the write cases (post_debit, cheque, issue_invoice_20, insert_invoice_200k) are
// per operation: "statements" from the engine's counter, "syncs" and "log_pages" from the
// counting VFS (CountingVfs.cpp), with the raw loop's beside them as "raw_statements",
// "raw_syncs", "raw_log_pages"; the logon_failed line instead compares two kinds of failed logon
// with each other, and cheques_8_companies eight processes with one.
//
//   ledgerkit-bench [--quick] [--dir DIR | --ram] [--runs N] [--engine sqlite|postgresql] [--server URI]
//                   [--serve [--server2 URI] [--companies N]] [--only TEXT]
//
// With --engine postgresql every company is a schema on the server --server names, made for the
// run and dropped at its end; the raw loops run on the same server.
// --serve runs only the cases of `ledgerkit serve` under load (bench/Serve.cpp); with --engine
// postgresql, --server and --server2, the provider cases over a company directory instead
// (bench/Provider.cpp).
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "Bench.h"
#include "ledgerkit/common/Convert.h"
#include "common/Engine.h"
#include "common/ProcessMemory.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "reports/Journal.h"
#include "ledgerkit/security/CSecurityMgr.h"

namespace ledgerkit::bench {
void RunServeCases(const std::filesystem::path& dir, bool quick);
#ifdef LEDGERKIT_WITH_POSTGRESQL
void RunProviderCases(const std::filesystem::path& dir, bool quick, int runs, const std::string& first,
                      const std::string& second, int companies);
#endif
}

namespace bench {

namespace {

volatile std::sig_atomic_t interrupt_requested = 0;

extern "C" void OnInterrupt(int) {
  interrupt_requested = 1;
#ifdef LEDGERKIT_WITH_POSTGRESQL
  CancelRawStatement();
#endif
}

}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() { return interrupt_requested != 0; }

void CheckInterrupted() {
  if (InterruptRequested()) throw Interrupted();
}

Rates Interleaved(const std::function<void()>& library, const std::function<void()>& baseline, int rounds,
                  double seconds_per_round, const std::function<void()>& untimed) {
  if (untimed) untimed();
  library();
  baseline();
  double library_time = 0, baseline_time = 0;
  int64_t library_runs = 0, baseline_runs = 0;
  auto round = [seconds_per_round](const std::function<void()>& operation, const std::function<void()>& before,
                                   double& time, int64_t& runs) {
    const auto start = Clock::now();
    Clock::duration left_out{};
    double elapsed = 0;
    do {
      if (before) {
        const auto before_start = Clock::now();
        before();
        left_out += Clock::now() - before_start;
      }
      operation();
      ++runs;
      elapsed = std::chrono::duration<double>(Clock::now() - start - left_out).count();
    } while (elapsed < seconds_per_round);
    time += elapsed;
  };
  for (int i = 0; i < rounds; ++i) {
    CheckInterrupted();
    round(library, untimed, library_time, library_runs);
    round(baseline, {}, baseline_time, baseline_runs);
  }
  return Rates{library_runs / library_time, baseline_runs / baseline_time};
}

MedianRates Medians(const std::vector<Rates>& measured) {
  if (measured.empty()) throw std::logic_error("Medians of no measurement");
  std::vector<double> library, baseline, ratio;
  for (const Rates& rates : measured) {
    library.push_back(rates.library);
    baseline.push_back(rates.baseline);
    ratio.push_back(rates.baseline / rates.library);
  }
  auto median = [](std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
  };
  const auto [lowest, highest] = std::minmax_element(ratio.begin(), ratio.end());
  return MedianRates{median(library), median(baseline), median(ratio), *lowest, *highest,
                     static_cast<int>(measured.size())};
}

namespace {

// ,"key":value for a count that was made (negative: not counted).
void PrintCount(const char* key, double value) {
  if (value >= 0) std::printf(",\"%s\":%.4g", key, value);
}

}  // namespace

void Report(const std::string& name, const MedianRates& rates, double ms, const OperationCounts& library,
            const OperationCounts& baseline) {
  std::printf("{\"name\":\"%s\",\"ops_per_s\":%.1f,\"ratio_to_raw\":%.4g", name.c_str(), rates.library,
              rates.ratio);
  if (rates.runs > 1) {
    std::printf(",\"runs\":%d,\"ratio_range\":[%.4g,%.4g]", rates.runs, rates.lowest_ratio, rates.highest_ratio);
  }
  if (ms >= 0) std::printf(",\"ms\":%.3f", ms);
  PrintCount("statements", library.statements);
  PrintCount("syncs", library.syncs);
  PrintCount("log_pages", library.log_pages);
  PrintCount("raw_statements", baseline.statements);
  PrintCount("raw_syncs", baseline.syncs);
  PrintCount("raw_log_pages", baseline.log_pages);
  std::printf("}\n");
  std::fflush(stdout);
}

void Report(const std::string& name, double ops_per_s, double baseline_ops_per_s, double ms) {
  Report(name, Medians({Rates{ops_per_s, baseline_ops_per_s}}), ms);
}

MadeCompany::~MadeCompany() {
  try {
    raw.DropCompany(account);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ledgerkit-bench: %s\n", error.what());
  }
}

Company::Company(RawEngine& engine, const std::string& name, int64_t register_rows)
    : made(engine, name), raw(engine), account(made.account) {
  const Variant type = ledger.AddAccountType(account, "bench", "", "Any", "", false, ledgerkit::bstASSET);
  bank = ledger.AddAccount(account, "bench", "", "1000", "Bank", "", "", false, "", "", type, "");
  expense = ledger.AddAccount(account, "bench", "", "5000", "Expense", "", "", false, "", "", type, "");
  other = ledger.AddAccount(account, "bench", "", "9000", "History", "", "", false, "", "", type, "");
  if (register_rows > 0) FillRegister(register_rows);
}

void Company::FillRegister(int64_t rows) {
  raw.Exec(account, raw.BulkLoad(raw.Numbers(rows) +
                                 "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,"
                                 "TransactionNumber,TransType) SELECT " + ledgerkit::ToText(other) +
                                 ", '2025-01-01 00:00:00', 'history', i % 1000 * 100, 0, 'H' || i, 1 FROM n;"));
}

void Company::Cheque() {
  const std::string number = ledger.BeginTransaction(account, "bench", "", static_cast<int32_t>(ledgerkit::ttCHQ),
                                                     ledgerkit::Date::FromCivil(2026, 3, 1), "Cheque", bank,
                                                     ledgerkit::Currency::FromUnits(100), "", "memo", "1");
  ledger.PostDebit(account, number, expense, ledgerkit::Currency::FromUnits(100), "expense");
  ledger.EndTransaction(account, number);
}

namespace {

struct Options {
  bool quick = false;
  bool serve = false;
  bool ram = false;  // the run's folder on a RAM disk (/dev/shm)
  int runs = 1;      // measurements of each compared case; the medians are printed
  std::filesystem::path dir;
  std::string engine = "sqlite";
  std::string server;
  std::string server2;  // --serve --engine postgresql: the provider case's second server
  int companies = 0;    // the provider case's companies (0: 1,000, or 100 with --quick)
  std::string only;  // run only the cases whose name holds this text (empty: all)
};

// Failed logons of an unknown user and of a known user with a wrong password, alternating, 20
// of each; prints the median milliseconds of each and their ratio (1 when the time of a failed
// logon does not tell whether the name exists).
void LogonFailed(RawEngine& raw) {
  const MadeCompany company(raw, "logon_failed");
  const std::string& account = company.account;
  ledgerkit::CSecurityMgr security;
  auto failed_logon_ms = [&](const char* name) {
    CheckInterrupted();
    const auto start = Clock::now();
    try {
      security.BeginUserSession(account, name, "wrong password");
    } catch (const ledgerkit::Error&) {
      return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    throw std::runtime_error(std::string("a logon of ") + name + " with a wrong password succeeded");
  };
  failed_logon_ms("nobody");  // the first one also makes the dummy hash
  failed_logon_ms("bench");
  std::vector<double> unknown, known;
  for (int i = 0; i < 20; ++i) {
    unknown.push_back(failed_logon_ms("nobody"));
    known.push_back(failed_logon_ms("bench"));
  }
  auto median = [](std::vector<double>& times) {
    std::sort(times.begin(), times.end());
    return (times[times.size() / 2 - 1] + times[times.size() / 2]) / 2;
  };
  const double unknown_ms = median(unknown), known_ms = median(known);
  std::printf("{\"name\":\"logon_failed\",\"unknown_user_ms\":%.3f,\"wrong_password_ms\":%.3f,\"ratio\":%.3f}\n",
              unknown_ms, known_ms, unknown_ms / known_ms);
  std::fflush(stdout);
}

// A company of 40 accounts over the five classes with 100,000 committed general-journal
// transactions of two register rows each (200,000 rows) spread over 2025, written with direct
// SQL; then each statement against the raw grouped SUM over the same rows, in the same run.
void Statements100k(RawEngine& raw, int rounds, double round_seconds) {
  const MadeCompany company(raw, "statements_100k");
  const std::string& account = company.account;
  ledgerkit::CACMgr ledger;
  const int32_t classes[] = {ledgerkit::bstASSET, ledgerkit::bstLIABILITY, ledgerkit::bstEQUITY, ledgerkit::bstINCOME,
                             ledgerkit::bstEXPENSE};
  for (int c = 0; c < 5; ++c) {
    const Variant type = ledger.AddAccountType(account, "bench", "", "Class " + std::to_string(c), "", false, classes[c]);
    Variant parent = "";
    for (int a = 0; a < 8; ++a) {
      // Every fourth account is a sub-account of the one before it.
      const Variant id = ledger.AddAccount(account, "bench", "", std::to_string((c + 1) * 1000 + a * 10), "Account", "",
                                           "", false, "", a % 4 == 3 ? parent : Variant(""), type, "");
      parent = id;
    }
  }
  // The forty accounts are numbered 1 to 40.
  raw.Exec(account,
           raw.BulkLoad(raw.Numbers(100000) +
               "INSERT INTO ACTransLog (Parent,LogDate,TransactionDate,Description,TransactionNumber,TransLogStatus,"
               "UserName,TransType,Amount) SELECT 1, '2025-01-01 00:00:00', " + raw.DayOf2025("i % 365") +
               ", 'entry', 'B' || i, 1, 'bench', 1, (i % 997 + 1) * 100 FROM n; "
               "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,TransType) "
               "SELECT 1 + (ACTransLogID * 7) % 40, TransactionDate, 'debit', Amount, 0, TransactionNumber, 1 "
               "FROM ACTransLog WHERE " + raw.BeginsWith("TransactionNumber", 'B') + "; "
               "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,TransType) "
               "SELECT 1 + (ACTransLogID * 13 + 5) % 40, TransactionDate, 'credit', 0, Amount, TransactionNumber, 1 "
               "FROM ACTransLog WHERE " + raw.BeginsWith("TransactionNumber", 'B') + ";"));
  const auto as_of = raw.Query(
      account, "SELECT Parent, SUM(Withdrawal), SUM(Deposit) FROM ACTransaction WHERE TransactionDate<'2026-01-01 00:00:00' "
               "GROUP BY Parent;");
  const auto period = raw.Query(
      account, "SELECT Parent, SUM(Withdrawal), SUM(Deposit) FROM ACTransaction WHERE TransactionDate>='2025-01-01 00:00:00' "
               "AND TransactionDate<'2026-01-01 00:00:00' GROUP BY Parent;");
  ledgerkit::CReportMgr reports;
  const Variant year_end = ledgerkit::Date::FromCivil(2025, 12, 31);
  const Variant year_start = ledgerkit::Date::FromCivil(2025, 1, 1);
  auto measure = [&](const std::string& name, const std::function<void()>& library, RawQuery& baseline) {
    const Rates rates = Interleaved(library, [&] { baseline.Run(); }, rounds, round_seconds);
    Report(name, rates.library, rates.baseline, 1000.0 / rates.library);
  };
  measure("trial_balance_100k", [&] { reports.TrialBalance(account, "bench", "", year_end); }, *as_of);
  measure("balance_sheet_100k", [&] { reports.BalanceSheet(account, "bench", "", year_end); }, *as_of);
  measure("income_statement_100k", [&] { reports.IncomeStatement(account, "bench", "", year_start, year_end, false); },
          *period);
}

// The journal export of a company of 100,000 committed transactions (200,000 register rows,
// written with direct SQL), to a file, against a raw loop that steps through the same joined
// rows reading every column; prints the median of several runs of each, in alternation.
void ExportHundredThousand(RawEngine& raw, const std::filesystem::path& dir, bool quick) {
  Company company(raw, "export_100k");
  {
    const std::string bank = ledgerkit::ToText(company.bank), expense = ledgerkit::ToText(company.expense);
    const std::string numbers = raw.Numbers(100000);
    const std::string date = raw.Date2025("i % 12 + 1", "i % 28 + 1");
    const std::string amount = "(i % 100000) * 100 + i % 7";
    raw.Exec(company.account,
             raw.BulkLoad(numbers + "INSERT INTO ACTransLog (Parent,LogDate,TransactionDate,Description,"
             "TransactionNumber,TransLogStatus,UserName,TransType,Amount) SELECT 1, '2026-01-01 00:00:00', " + date +
             ", 'Sale ' || i, 'E' || i, 1, 'bench', 1, " + amount + " FROM n; " +
             numbers + "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,"
             "TransactionNumber,TransType) SELECT " + bank + ", " + date + ", 'received', " + amount +
             ", 0, 'E' || i, 1 FROM n; " +
             numbers + "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,"
             "TransactionNumber,TransType) SELECT " + expense + ", " + date + ", '', 0, " + amount +
             ", 'E' || i, 1 FROM n;"));
  }
  const std::string out = (dir / "export_100k.journal").string();
  auto library_ms = [&] {
    CheckInterrupted();
    const auto start = Clock::now();
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    if (ledgerkit::ExportJournal(company.account, file) != 100000) throw std::runtime_error("export_100k: wrong count");
    file.close();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  const auto rows = raw.Query(
      company.account,
      "SELECT h.ACTransLogID, h.TransactionDate, h.Description, t.Parent, t.Withdrawal, t.Deposit, t.Description "
      "FROM ACTransLog h JOIN ACTransaction t ON t.TransactionNumber = h.TransactionNumber "
      "WHERE h.TransLogStatus = 1 ORDER BY h.TransactionDate, h.ACTransLogID, t.ACTransactionID;");
  auto raw_ms = [&] {
    const auto start = Clock::now();
    int64_t sum = 0;
    size_t text = 0;
    while (rows->Next()) {
      sum += rows->Integer(0) + rows->Integer(3) + rows->Integer(4) - rows->Integer(5);
      text += rows->Text(1).size() + rows->Text(2).size() + rows->Text(6).size();
    }
    if (sum == 0 || text == 0) throw std::runtime_error("export_100k: the raw read found no rows");
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  std::vector<double> library, baseline;
  const int runs = quick ? 3 : 7;
  for (int i = 0; i < runs; ++i) {
    library.push_back(library_ms());
    baseline.push_back(raw_ms());
  }
  std::sort(library.begin(), library.end());
  std::sort(baseline.begin(), baseline.end());
  const double library_median = library[library.size() / 2], baseline_median = baseline[baseline.size() / 2];
  Report("export_100k", 1000.0 / library_median, 1000.0 / baseline_median, library_median);
  std::filesystem::remove(out);
}

// A journal of 100,000 transactions of two postings each (one amount elided), over 30
// accounts, imported into a new company; beside it, when hledger is on the PATH, hledger reading
// the same file (`hledger -f FILE balance`, output discarded). Prints the median of the runs of
// each: "ms" ledgerkit's, "hledger_ms" hledger's, "ratio_to_hledger" the first over the second.
void ImportHundredThousand(RawEngine& raw, const std::filesystem::path& dir, bool quick) {
  const std::string file = (dir / "import_100k.journal").string();
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    char line[160];
    for (int i = 0; i < 100000; ++i) {
      std::snprintf(line, sizeof line, "2025-%02d-%02d Sale %d\n    Assets:Bank:10%02d Bank %d  %d.%02d\n", i % 12 + 1,
                    i % 28 + 1, i, i % 5, i % 5, i % 100000, i % 100);
      out << line;
      std::snprintf(line, sizeof line, "    Income:Sales:40%02d Sales %d\n\n", i % 25, i % 25);
      out << line;
    }
    if (!out) throw std::runtime_error("import_100k: cannot write " + file);
  }
  const bool have_hledger = std::system("command -v hledger >/dev/null 2>&1") == 0;
  const int runs = quick ? 1 : 3;
  std::vector<double> library, peer;
  for (int i = 0; i < runs; ++i) {
    CheckInterrupted();
    {
      const MadeCompany company(raw, "import_100k_" + std::to_string(i));
      const auto start = Clock::now();
      const ledgerkit::JournalImport done = ledgerkit::ImportJournal(company.account, std::filesystem::path(file), Variant());
      library.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      if (done.transactions != 100000) throw std::runtime_error("import_100k: wrong count");
    }
    if (have_hledger) {
      CheckInterrupted();
      const std::string command = "hledger -f '" + file + "' balance >/dev/null";
      const auto start = Clock::now();
      if (std::system(command.c_str()) != 0) throw std::runtime_error("import_100k: " + command + " failed");
      peer.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  std::sort(library.begin(), library.end());
  std::sort(peer.begin(), peer.end());
  const double ms = library[library.size() / 2];
  std::printf("{\"name\":\"import_100k\",\"ops_per_s\":%.1f,\"ms\":%.1f", 100000 / (ms / 1000), ms);
  if (!peer.empty()) {
    const double peer_ms = peer[peer.size() / 2];
    std::printf(",\"hledger_ms\":%.1f,\"ratio_to_hledger\":%.3g", peer_ms, ms / peer_ms);
  }
  std::printf("}\n");
  std::fflush(stdout);
  std::filesystem::remove(file);
}

// An error's text on one line.
std::string OneLine(std::string text) {
  for (char& c : text) c = c == '\r' || c == '\n' ? ' ' : c;
  return text;
}

// Runs the cases in order. A case that fails is named on stderr with the reason and the run goes
// on with the next; the result is false when any failed.
bool Run(RawEngine& raw, const Options& options) {
  bool all_ran = true;
  auto run_case = [&](const std::string& name, const std::function<void()>& body) {
    CheckInterrupted();
    if (!options.only.empty() && name.find(options.only) == std::string::npos && name != "the raw write loop") return;
    try {
      body();
    } catch (const Interrupted&) {
      throw;
    } catch (const std::exception& error) {
      CheckInterrupted();  // a statement cancelled by the interrupt
      std::fprintf(stderr, "ledgerkit-bench: %s did not run on %s: %s\n", name.c_str(), raw.Name().c_str(),
                   OneLine(error.what()).c_str());
      all_ran = false;
    }
  };

  run_case("logon_failed", [&] { LogonFailed(raw); });
  const int rounds = options.quick ? 3 : 8;
  const double round_seconds = options.quick ? 0.4 : 1.0;
  run_case("trial_balance_100k, balance_sheet_100k and income_statement_100k",
           [&] { Statements100k(raw, rounds, round_seconds); });

  std::unique_ptr<RawWriter> writer;
  run_case("the raw write loop", [&] { writer = raw.Writer(); });
  if (!writer) return false;  // nothing below has its baseline
  const std::function<void()> raw_commit = [&writer] { writer->Commit(); };
  // The case measured options.runs times; the medians.
  auto measure = [&](const std::function<void()>& library, const std::function<void()>& baseline,
                     const std::function<void()>& untimed = {}) {
    std::vector<Rates> measured;
    for (int i = 0; i < options.runs; ++i) {
      measured.push_back(Interleaved(library, baseline, rounds, round_seconds, untimed));
    }
    return Medians(measured);
  };
  auto compare = [&](const std::string& name, const std::function<void()>& library, const std::function<void()>& baseline) {
    const MedianRates rates = measure(library, baseline);
    Report(name, rates);
    return rates;
  };
  // The work of one run of `operation`, over kCountedRuns untimed runs made after the write-ahead
  // log was emptied (`checkpoint`) and one more run wrote its first frames: the same on every
  // machine and at every point of the run. `prepare`, when given, runs before each run and is
  // not counted; `statements` reads the counter of statements run.
  constexpr int kCountedRuns = 10;
  auto count = [&](const std::function<void()>& checkpoint, int64_t page_size,
                   const std::function<uint64_t()>& statements, const std::function<void()>& operation,
                   const std::function<void()>& prepare) {
    const bool files = raw.CountsFiles();
    if (files) checkpoint();
    if (prepare) prepare();
    operation();
    uint64_t statements_run = 0, syncs = 0, log_bytes = 0;
    for (int i = 0; i < kCountedRuns; ++i) {
      if (prepare) prepare();
      const FileCounts before = CountedFileWork();
      const uint64_t statements_before = statements();
      operation();
      const FileCounts after = CountedFileWork();
      statements_run += statements() - statements_before;
      syncs += after.syncs - before.syncs;
      log_bytes += after.log_bytes - before.log_bytes;
    }
    OperationCounts counts;
    counts.statements = static_cast<double>(statements_run) / kCountedRuns;
    if (files && page_size > 0) {
      counts.syncs = static_cast<double>(syncs) / kCountedRuns;
      counts.log_pages = static_cast<double>(log_bytes / static_cast<uint64_t>(page_size)) / kCountedRuns;
    }
    return counts;
  };
  OperationCounts raw_counts;
  run_case("the raw write loop", [&] {
    raw_counts = count([&] { writer->Checkpoint(); }, writer->PageSize(), [&] { return writer->StatementsRun(); },
                       raw_commit, {});
  });
  // As compare, with the work one run of `library` on `account` causes beside the raw loop's;
  // `untimed`, when given, runs before each run of `library`, untimed and not counted.
  auto compare_counted = [&](const std::string& name, const std::string& account, const std::function<void()>& library,
                             const std::function<void()>& untimed = {}) {
    // Counted first, on the company as the case made it: the timed runs, as many as the machine
    // manages, grow its tables, and a larger table can take one more page to change.
    const OperationCounts counts =
        count([&] { raw.Checkpoint(account); }, raw.CountsFiles() ? raw.PageSize(account) : 0,
              ledgerkit::EngineStatementsRun, library, untimed);
    const MedianRates rates = measure(library, raw_commit, untimed);
    Report(name, rates, -1, counts, raw_counts);
  };

  run_case("post_debit", [&] {
    Company company(raw, "post_debit");
    const std::string number =
        company.ledger.BeginTransaction(company.account, "bench", "", static_cast<int32_t>(ledgerkit::ttGENJRNL),
                                        ledgerkit::Date::FromCivil(2026, 3, 1), "Lines", 0, 0, "", "", "");
    compare_counted("post_debit", company.account, [&] {
      company.ledger.PostDebit(company.account, number, company.expense, ledgerkit::Currency::FromUnits(1), "line");
    });
  });

  std::unique_ptr<Company> small;
  run_case("cheque", [&] {
    small = std::make_unique<Company>(raw, "cheque", 1000);
    compare_counted("cheque", small->account, [&] { small->Cheque(); });
  });

  run_case("issue_invoice_20", [&] {
    Company company(raw, "issue_invoice_20");
    const Variant code = company.ledger.AddTaxCode(company.account, "bench", "", "S", "Two taxes", 5.0, "GST", false,
                                                   7.0, "PST", false, true, false, company.other, company.other);
    auto new_invoice = [&] {
      Variant number;
      const Variant invoice = company.ledger.InsertInvoice(company.account, "bench", "", -1, "Invoice",
                                                           ledgerkit::Date::FromCivil(2026, 3, 1), number, "", "", "",
                                                           0, company.bank);
      for (int line = 0; line < 20; ++line) {
        company.ledger.AddInvoiceItem(company.account, "bench", "", invoice, code, "I" + std::to_string(100 + line),
                                      "Item", ledgerkit::CurrencyFromText("12.34"), 3.0, "each", company.expense);
      }
      return invoice;
    };
    // Invoices are entered ahead, untimed; each timed run posts the next one, and when none is
    // left a batch more is entered outside the timed and counted work.
    std::vector<Variant> invoices;
    size_t next = 0;
    auto enter_when_needed = [&] {
      if (next < invoices.size()) return;
      for (int i = 0; i < 200; ++i) invoices.push_back(new_invoice());
    };
    compare_counted("issue_invoice_20", company.account, [&] {
      if (next == invoices.size()) throw std::logic_error("issue_invoice_20: no invoice entered ahead");
      company.ledger.IssueInvoice(company.account, "bench", "", invoices[next++]);
    }, enter_when_needed);
  });

  run_case("insert_invoice_200k", [&] {
    // An invoice entered without a number beside 200,000 numbered ones: the next number is read
    // from the end of the index of whole invoice numbers, not from every invoice.
    Company company(raw, "insert_invoice_200k");
    raw.Exec(company.account, raw.Numbers(200'000) +
                                  "INSERT INTO ACInvoice (Paid,InvoiceNo,Company) SELECT -1, CAST(i AS TEXT), 'Bolt Ltd' "
                                  "FROM n;");
    compare_counted("insert_invoice_200k", company.account, [&] {
      Variant number;
      company.ledger.InsertInvoice(company.account, "bench", "", -1, "Invoice", ledgerkit::Date::FromCivil(2026, 3, 1),
                                   number, "", "", "", 0, company.bank);
    });
  });

  run_case("get_all_accounts_10k", [&] {
    Company company(raw, "get_all_accounts_10k");
    raw.Exec(company.account, raw.Numbers(9997) +
                                  "INSERT INTO ACAccount (Parent,AccountNumber,Name,Description,Inactive,Balance,"
                                  "AccountTypeID) SELECT 1, " + raw.FiveDigits("i") +
                                  ", 'Account ' || i, 'generated', 0, i*100, 1 FROM n;");
    const auto select = raw.Query(
        company.account,
        "SELECT ACAccountID,Parent,AccountNumber,Name,Description,Note,Inactive,BankAccountNo,Balance,AccountTypeID,"
        "FnclInstitutionID,ParentAccountID FROM ACAccount WHERE ACAccountID<>0 ORDER BY AccountNumber ASC, Name ASC;");
    struct Row {
      int64_t id, parent, type;
      std::string number, name, description;
      int64_t balance;
    };
    compare("get_all_accounts_10k", [&] { company.ledger.GetAllAccounts(company.account, "bench", ""); }, [&] {
      std::vector<Row> rows;
      while (select->Next()) {
        rows.push_back(Row{select->Integer(0), select->Integer(1), select->Integer(9), std::string(select->Text(2)),
                           std::string(select->Text(3)), std::string(select->Text(4)), select->Integer(8)});
      }
    });
  });

  {
    std::unique_ptr<Company> million;
    run_case("balance_1m", [&] {
      million = std::make_unique<Company>(raw, "balance_1m", 1'000'000);
      const auto sum = raw.Query(million->account, "SELECT SUM(Withdrawal)-SUM(Deposit) FROM ACTransaction WHERE Parent=" +
                                                       ledgerkit::ToText(million->other));
      const Rates rates = Interleaved([&] { million->ledger.GetAccountBalance(million->account, million->other); },
                                      [&] { sum->Run(); }, rounds, round_seconds);
      Report("balance_1m", rates.library, rates.baseline, 1000.0 / rates.library);
    });
    run_case("cheque_1m", [&] {
      if (!million || !small) throw std::runtime_error("it needs the companies of balance_1m and cheque");
      compare("cheque_1m", [&] { million->Cheque(); }, [&] { small->Cheque(); });
    });
  }
  small.reset();
  writer.reset();
  run_case("export_100k", [&] { ExportHundredThousand(raw, options.dir, options.quick); });
  run_case("import_100k", [&] { ImportHundredThousand(raw, options.dir, options.quick); });
  run_case("cheques_8_companies", [&] { ChequesEightCompanies(raw, options.quick); });
  return all_ran;
}

constexpr const char* kUsage =
    "usage: ledgerkit-bench [--quick] [--dir DIR | --ram] [--runs N] [--engine sqlite|postgresql] [--server URI]\n"
    "                       [--serve [--server2 URI] [--companies N]] [--only TEXT]\n"
    "Prints one JSON object per case: name, ops_per_s, ratio_to_raw (library time over the raw loop's time).\n"
    "  --quick           shorter rounds\n"
    "  --dir DIR         where company files and scratch files go (default: a new temporary folder)\n"
    "  --engine ENGINE   sqlite (default) or postgresql\n"
    "  --server URI      with --engine postgresql: postgresql://user@host:port/database, where the run's\n"
    "                    companies are made as schemas and dropped at its end\n"
    "  --serve           only the cases of `ledgerkit serve` under load (HTTP clients against in-process)\n"
    "                    with --engine postgresql: serve_provider and serve_provider_two_instances, companies\n"
    "                    on --server and --server2, half on each, behind `serve --directory` (a directory made\n"
    "                    as the schema lk_directory of --server's database, which must not hold one already)\n"
    "  --server2 URI     with --serve --engine postgresql: the second server\n"
    "  --companies N     with --serve --engine postgresql: companies made (default 1,000; 100 with --quick)\n"
    "  --only TEXT       only the cases whose name holds TEXT (import_100k, cheque, ...)\n"
    "  --ram             the company files and scratch files on a RAM disk: a new folder in /dev/shm,\n"
    "                    removed at the end, where a commit's flush costs almost nothing, so that the\n"
    "                    ratios show the library's own work (not with --dir)\n"
    "  --runs N          measure each compared case N times (default 1); ratio_to_raw and ops_per_s are\n"
    "                    then the medians, ratio_range the lowest and highest ratio; with the provider\n"
    "                    cases, the medians of N timed parts\n"
    "On SQLite the write cases also print, per operation, what does not depend on the machine:\n"
    "statements run, syncs of files and log_pages (pages written to the write-ahead log), and the\n"
    "same for the raw loop (raw_statements, raw_syncs, raw_log_pages); on the server, statements.\n";

}  // namespace

}  // namespace bench

int main(int argc, char** argv) {
  // As the ledgerkit program does, so that the library and the raw loops run as they are hosted.
  ledgerkit::KeepFreedMemoryForReuse();
  bench::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    // The value of an option that takes one.
    auto value = [&]() -> const char* {
      if (i + 1 < argc) return argv[++i];
      std::cerr << "ledgerkit-bench: " << argument << " needs a value (try --help)\n";
      std::exit(2);
    };
    if (argument == "--quick") {
      options.quick = true;
    } else if (argument == "--dir") {
      options.dir = value();
    } else if (argument == "--engine") {
      options.engine = value();
    } else if (argument == "--server") {
      options.server = value();
    } else if (argument == "--server2") {
      options.server2 = value();
    } else if (argument == "--serve") {
      options.serve = true;
    } else if (argument == "--companies") {
      const std::string companies = value();
      char* end = nullptr;
      const long parsed = std::strtol(companies.c_str(), &end, 10);
      if (companies.empty() || *end != '\0' || parsed < 2 || parsed > 100000) {
        std::cerr << "ledgerkit-bench: --companies " << companies << " is not a count from 2 to 100,000\n";
        return 2;
      }
      options.companies = static_cast<int>(parsed);
    } else if (argument == "--only") {
      options.only = value();
    } else if (argument == "--ram") {
      options.ram = true;
    } else if (argument == "--runs") {
      const std::string runs = value();
      char* end = nullptr;
      const long parsed = std::strtol(runs.c_str(), &end, 10);
      if (runs.empty() || *end != '\0' || parsed < 1 || parsed > 99) {
        std::cerr << "ledgerkit-bench: --runs " << runs << " is not a count from 1 to 99\n";
        return 2;
      }
      options.runs = static_cast<int>(parsed);
    } else if (argument == "--help" || argument == "-h") {
      std::cout << bench::kUsage;
      return 0;
    } else {
      std::cerr << "ledgerkit-bench: unknown argument " << argument << " (try --help)\n";
      return 2;
    }
  }
  if (options.engine != "sqlite" && options.engine != "postgresql") {
    std::cerr << "ledgerkit-bench: unknown engine " << options.engine << " (sqlite or postgresql)\n";
    return 2;
  }
#ifndef LEDGERKIT_WITH_POSTGRESQL
  if (options.engine == "postgresql") {
    std::cerr << "ledgerkit-bench: this build has no PostgreSQL engine (LEDGERKIT_WITH_POSTGRESQL=OFF)\n";
    return 2;
  }
#endif
  if ((options.engine == "postgresql") != !options.server.empty()) {
    std::cerr << "ledgerkit-bench: --server URI goes with --engine postgresql, and only with it\n";
    return 2;
  }
  if (options.serve && options.engine == "postgresql" && options.server2.empty()) {
    std::cerr << "ledgerkit-bench: --serve --engine postgresql (serve_provider) needs --server2 URI, the second server\n";
    return 2;
  }
  if ((!options.server2.empty() || options.companies != 0) && !(options.serve && options.engine == "postgresql")) {
    std::cerr << "ledgerkit-bench: --server2 and --companies go with --serve --engine postgresql only\n";
    return 2;
  }
  if (options.ram && !options.dir.empty()) {
    std::cerr << "ledgerkit-bench: --ram makes its own folder on /dev/shm; it does not go with --dir "
              << options.dir << "\n";
    return 2;
  }
  constexpr const char* kRamDisk = "/dev/shm";
  if (options.ram && !std::filesystem::is_directory(kRamDisk)) {
    std::cerr << "ledgerkit-bench: --ram needs the RAM disk " << kRamDisk << ", which is not a folder here\n";
    return 2;
  }
  const bool own_dir = options.dir.empty();
  if (own_dir) {
    const std::filesystem::path parent = options.ram ? kRamDisk : std::filesystem::temp_directory_path();
    options.dir = parent / ("ledgerkit-bench-" + std::to_string(::getpid()));
  }
  std::filesystem::create_directories(options.dir);
  bench::CatchInterrupts();
  int status = 0;
  try {
    if (options.serve && options.engine == "postgresql") {
#ifdef LEDGERKIT_WITH_POSTGRESQL
      ledgerkit::bench::RunProviderCases(options.dir, options.quick, options.runs, options.server, options.server2,
                                         options.companies != 0 ? options.companies : options.quick ? 100 : 1000);
#endif
      if (own_dir) std::filesystem::remove_all(options.dir);
      return 0;
    }
    if (options.serve) {
      ledgerkit::bench::RunServeCases(options.dir, options.quick);
      if (own_dir) std::filesystem::remove_all(options.dir);
      return 0;
    }
    if (options.engine == "sqlite") bench::InstallCountingVfs();
#ifdef LEDGERKIT_WITH_POSTGRESQL
    const std::unique_ptr<bench::RawEngine> raw =
        options.engine == "sqlite" ? bench::SqliteEngine(options.dir) : bench::PostgresEngine(options.server);
#else
    const std::unique_ptr<bench::RawEngine> raw = bench::SqliteEngine(options.dir);
#endif
    if (!bench::Run(*raw, options)) status = 1;
  } catch (const std::exception& error) {
    std::cerr << "ledgerkit-bench: " << error.what() << "\n";
    status = 1;
  }
  if (own_dir) std::filesystem::remove_all(options.dir);
  return status;
}
