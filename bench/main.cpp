// ledgerkit-bench: the library's speed against raw SQLite measured in the same run, on the same
// file system. One JSON object per line: {"name", "ops_per_s", "ratio_to_raw"[, "ms"]
// [, "statements"]}, where the ratio is the library's time per operation over the raw loop's
// (lower is better) and "statements" counts the SQL statements one operation runs (post_debit,
// cheque, issue_invoice_20), read from the engine's counter; the
// logon_failed line instead compares two kinds of failed logon with each other.
//
//   ledgerkit-bench [--quick] [--dir DIR] [--serve]
//
// --serve runs only the cases of `ledgerkit serve` under load (bench/Serve.cpp).
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/Convert.h"
#include "common/Engine.h"
#include "common/Error.h"
#include "entities/Schema.h"
#include "enums/PublicEnums.h"
#include "ledger/CACMgr.h"
#include "reports/CReportMgr.h"
#include "reports/Journal.h"
#include "security/CSecurityMgr.h"

namespace ledgerkit::bench {
void RunServeCases(const std::filesystem::path& dir, bool quick);
}

namespace {

using Clock = std::chrono::steady_clock;
using ledgerkit::Variant;

struct Options {
  bool quick = false;
  bool serve = false;
  std::filesystem::path dir;
};

struct Rates {
  double library = 0;
  double baseline = 0;
};

// Measures `library` and `baseline` in alternating rounds, so that both see the same machine
// (disk flush latency on shared machines drifts by a factor of ten within a minute).
Rates Interleaved(const std::function<void()>& library, const std::function<void()>& baseline, int rounds,
                  double seconds_per_round) {
  library();
  baseline();
  double library_time = 0, baseline_time = 0;
  int64_t library_runs = 0, baseline_runs = 0;
  auto round = [seconds_per_round](const std::function<void()>& operation, double& time, int64_t& runs) {
    const auto start = Clock::now();
    double elapsed = 0;
    do {
      operation();
      ++runs;
      elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds_per_round);
    time += elapsed;
  };
  for (int i = 0; i < rounds; ++i) {
    round(library, library_time, library_runs);
    round(baseline, baseline_time, baseline_runs);
  }
  return Rates{library_runs / library_time, baseline_runs / baseline_time};
}

void Report(const std::string& name, double ops_per_s, double baseline_ops_per_s, double ms = -1,
            int64_t statements = -1) {
  std::printf("{\"name\":\"%s\",\"ops_per_s\":%.1f,\"ratio_to_raw\":%.4g", name.c_str(), ops_per_s,
              baseline_ops_per_s / ops_per_s);
  if (ms >= 0) std::printf(",\"ms\":%.3f", ms);
  if (statements >= 0) std::printf(",\"statements\":%lld", static_cast<long long>(statements));
  std::printf("}\n");
  std::fflush(stdout);
}

class RawDb {
 public:
  explicit RawDb(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
      throw std::runtime_error("cannot open " + path);
    }
    Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
  }
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;
  ~RawDb() {
    for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }
  void Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string text = message ? message : "error";
      sqlite3_free(message);
      throw std::runtime_error(text + " in " + sql);
    }
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db_));
    }
    statements_.push_back(statement);
    return statement;
  }
  static void Run(sqlite3_stmt* statement) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
    }
    sqlite3_reset(statement);
  }

 private:
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
};

// The raw durable write: BEGIN IMMEDIATE, one insert and one update, COMMIT, with the
// statements prepared once.
class RawCommit {
 public:
  explicit RawCommit(const std::filesystem::path& dir) : raw_((dir / "raw.db").string()) {
    raw_.Exec("CREATE TABLE IF NOT EXISTS t (id INTEGER PRIMARY KEY, v INTEGER); CREATE TABLE IF NOT EXISTS c (n INTEGER);"
              "INSERT INTO c SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM c);");
    begin_ = raw_.Prepare("BEGIN IMMEDIATE;");
    insert_ = raw_.Prepare("INSERT INTO t (v) VALUES (?);");
    update_ = raw_.Prepare("UPDATE c SET n=n+1;");
    commit_ = raw_.Prepare("COMMIT;");
  }
  void operator()() {
    RawDb::Run(begin_);
    sqlite3_bind_int64(insert_, 1, ++value_);
    RawDb::Run(insert_);
    RawDb::Run(update_);
    RawDb::Run(commit_);
  }

 private:
  RawDb raw_;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* update_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
  int64_t value_ = 0;
};

// A company file with a bank and an expense account, the caller's user, and `register_rows`
// committed register rows on a third account.
struct Company {
  std::string path;
  Variant bank, expense, other;
  ledgerkit::CACMgr ledger;

  Company(const std::filesystem::path& dir, const std::string& name, int64_t register_rows = 0) {
    path = (dir / (name + ".ldb")).string();
    std::filesystem::remove(path);
    ledgerkit::CreateSubscriberDatabase(path, "Bench Co", ledgerkit::FirstUser{"bench", "bench"});
    const Variant type = ledger.AddAccountType(path, "bench", "", "Any", "", false, ledgerkit::bstASSET);
    bank = ledger.AddAccount(path, "bench", "", "1000", "Bank", "", "", false, "", "", type, "");
    expense = ledger.AddAccount(path, "bench", "", "5000", "Expense", "", "", false, "", "", type, "");
    other = ledger.AddAccount(path, "bench", "", "9000", "History", "", "", false, "", "", type, "");
    if (register_rows > 0) FillRegister(register_rows);
  }

  void FillRegister(int64_t rows) {
    RawDb raw(path);
    raw.Exec("BEGIN;");
    raw.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<" + std::to_string(rows) +
             ") INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,"
             "TransType) SELECT " + ledgerkit::ToText(other) +
             ", '2025-01-01 00:00:00', 'history', i % 1000 * 100, 0, 'H' || i, 1 FROM n;");
    raw.Exec("COMMIT; ANALYZE;");
  }

  void Cheque() {
    const std::string number = ledger.BeginTransaction(path, "bench", "", static_cast<int32_t>(ledgerkit::ttCHQ),
                                                       ledgerkit::Date::FromCivil(2026, 3, 1), "Cheque", bank,
                                                       ledgerkit::Currency::FromUnits(100), "", "memo", "1");
    ledger.PostDebit(path, number, expense, ledgerkit::Currency::FromUnits(100), "expense");
    ledger.EndTransaction(path, number);
  }
};

// Failed logons of an unknown user and of a known user with a wrong password, alternating, 20
// of each; prints the median milliseconds of each and their ratio (1 when the time of a failed
// logon does not tell whether the name exists).
void LogonFailed(const std::filesystem::path& dir) {
  const std::string path = (dir / "logon_failed.ldb").string();
  std::filesystem::remove(path);
  ledgerkit::CreateSubscriberDatabase(path, "Bench Co", ledgerkit::FirstUser{"bench", "bench"});
  ledgerkit::CSecurityMgr security;
  auto failed_logon_ms = [&](const char* name) {
    const auto start = Clock::now();
    try {
      security.BeginUserSession(path, name, "wrong password");
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
void Statements100k(const std::filesystem::path& dir, int rounds, double round_seconds) {
  const std::string path = (dir / "statements_100k.ldb").string();
  std::filesystem::remove(path);
  ledgerkit::CreateSubscriberDatabase(path, "Bench Co", ledgerkit::FirstUser{"bench", "bench"});
  ledgerkit::CACMgr ledger;
  const int32_t classes[] = {ledgerkit::bstASSET, ledgerkit::bstLIABILITY, ledgerkit::bstEQUITY, ledgerkit::bstINCOME,
                             ledgerkit::bstEXPENSE};
  for (int c = 0; c < 5; ++c) {
    const Variant type = ledger.AddAccountType(path, "bench", "", "Class " + std::to_string(c), "", false, classes[c]);
    Variant parent = "";
    for (int a = 0; a < 8; ++a) {
      // Every fourth account is a sub-account of the one before it.
      const Variant id = ledger.AddAccount(path, "bench", "", std::to_string((c + 1) * 1000 + a * 10), "Account", "", "",
                                           false, "", a % 4 == 3 ? parent : Variant(""), type, "");
      parent = id;
    }
  }
  {
    RawDb fill(path);
    fill.Exec("BEGIN;");
    fill.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<100000) "
              "INSERT INTO ACTransLog (Parent,LogDate,TransactionDate,Description,TransactionNumber,TransLogStatus,"
              "UserName,TransType,Amount) SELECT 1, '2025-01-01 00:00:00', date('2025-01-01', '+' || (i % 365) || ' days') "
              "|| ' 00:00:00', 'entry', 'B' || i, 1, 'bench', 1, (i % 997 + 1) * 100 FROM n;");
    fill.Exec("INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,TransType) "
              "SELECT 1 + (ACTransLogID * 7) % 40, TransactionDate, 'debit', Amount, 0, TransactionNumber, 1 "
              "FROM ACTransLog WHERE TransactionNumber LIKE 'B%';");
    fill.Exec("INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,TransType) "
              "SELECT 1 + (ACTransLogID * 13 + 5) % 40, TransactionDate, 'credit', 0, Amount, TransactionNumber, 1 "
              "FROM ACTransLog WHERE TransactionNumber LIKE 'B%';");
    fill.Exec("COMMIT; ANALYZE;");
  }
  RawDb raw(path);
  sqlite3_stmt* as_of = raw.Prepare(
      "SELECT Parent, SUM(Withdrawal), SUM(Deposit) FROM ACTransaction WHERE TransactionDate<'2026-01-01 00:00:00' "
      "GROUP BY Parent;");
  sqlite3_stmt* period = raw.Prepare(
      "SELECT Parent, SUM(Withdrawal), SUM(Deposit) FROM ACTransaction WHERE TransactionDate>='2025-01-01 00:00:00' "
      "AND TransactionDate<'2026-01-01 00:00:00' GROUP BY Parent;");
  ledgerkit::CReportMgr reports;
  const Variant year_end = ledgerkit::Date::FromCivil(2025, 12, 31);
  const Variant year_start = ledgerkit::Date::FromCivil(2025, 1, 1);
  auto measure = [&](const std::string& name, const std::function<void()>& library, sqlite3_stmt* baseline) {
    const Rates rates = Interleaved(library, [&] { RawDb::Run(baseline); }, rounds, round_seconds);
    Report(name, rates.library, rates.baseline, 1000.0 / rates.library);
  };
  measure("trial_balance_100k", [&] { reports.TrialBalance(path, "bench", "", year_end); }, as_of);
  measure("balance_sheet_100k", [&] { reports.BalanceSheet(path, "bench", "", year_end); }, as_of);
  measure("income_statement_100k", [&] { reports.IncomeStatement(path, "bench", "", year_start, year_end, false); },
          period);
}

// The journal export of a company of 100,000 committed transactions (200,000 register rows,
// written with direct SQL), to a file, against a raw SQLite loop that steps through the same
// joined rows reading every column; prints the median of several runs of each, in alternation.
void ExportHundredThousand(const std::filesystem::path& dir, bool quick) {
  Company company(dir, "export_100k");
  {
    RawDb fill(company.path);
    const std::string bank = ledgerkit::ToText(company.bank), expense = ledgerkit::ToText(company.expense);
    const std::string numbers = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<100000) ";
    const std::string date = "printf('2025-%02d-%02d 00:00:00', i % 12 + 1, i % 28 + 1)";
    const std::string amount = "(i % 100000) * 100 + i % 7";
    fill.Exec("BEGIN;");
    fill.Exec(numbers + "INSERT INTO ACTransLog (Parent,LogDate,TransactionDate,Description,TransactionNumber,"
              "TransLogStatus,UserName,TransType,Amount) SELECT 1, '2026-01-01 00:00:00', " + date +
              ", 'Sale ' || i, 'E' || i, 1, 'bench', 1, " + amount + " FROM n;");
    fill.Exec(numbers + "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,"
              "TransactionNumber,TransType) SELECT " + bank + ", " + date + ", 'received', " + amount +
              ", 0, 'E' || i, 1 FROM n;");
    fill.Exec(numbers + "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,"
              "TransactionNumber,TransType) SELECT " + expense + ", " + date + ", '', 0, " + amount +
              ", 'E' || i, 1 FROM n;");
    fill.Exec("COMMIT; ANALYZE;");
  }
  const std::string out = (dir / "export_100k.journal").string();
  auto library_ms = [&] {
    const auto start = Clock::now();
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    if (ledgerkit::ExportJournal(company.path, file) != 100000) throw std::runtime_error("export_100k: wrong count");
    file.close();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  RawDb raw(company.path);
  sqlite3_stmt* rows = raw.Prepare(
      "SELECT h.ACTransLogID, h.TransactionDate, h.Description, t.Parent, t.Withdrawal, t.Deposit, t.Description "
      "FROM ACTransLog h JOIN ACTransaction t ON t.TransactionNumber = h.TransactionNumber "
      "WHERE h.TransLogStatus = 1 ORDER BY h.TransactionDate, h.ACTransLogID, t.ACTransactionID;");
  auto raw_ms = [&] {
    const auto start = Clock::now();
    int64_t sum = 0;
    size_t text = 0;
    while (sqlite3_step(rows) == SQLITE_ROW) {
      sum += sqlite3_column_int64(rows, 0) + sqlite3_column_int64(rows, 3) + sqlite3_column_int64(rows, 4) -
             sqlite3_column_int64(rows, 5);
      text += static_cast<size_t>(sqlite3_column_bytes(rows, 1) + sqlite3_column_bytes(rows, 2) +
                                  sqlite3_column_bytes(rows, 6));
    }
    sqlite3_reset(rows);
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

void Run(const Options& options) {
  const std::filesystem::path& dir = options.dir;
  LogonFailed(dir);
  const int rounds = options.quick ? 3 : 8;
  const double round_seconds = options.quick ? 0.4 : 1.0;
  Statements100k(dir, rounds, round_seconds);
  RawCommit raw_commit(dir);
  const std::function<void()> raw = [&raw_commit] { raw_commit(); };
  auto compare = [&](const std::string& name, const std::function<void()>& library, const std::function<void()>& baseline) {
    const Rates rates = Interleaved(library, baseline, rounds, round_seconds);
    Report(name, rates.library, rates.baseline);
    return rates;
  };
  // As compare, with the number of SQL statements one more untimed run of `library` starts;
  // `prepare`, when given, runs first and is not counted.
  auto compare_counted = [&](const std::string& name, const std::function<void()>& library,
                             const std::function<void()>& baseline, const std::function<void()>& prepare = {}) {
    const Rates rates = Interleaved(library, baseline, rounds, round_seconds);
    if (prepare) prepare();
    const uint64_t before = ledgerkit::EngineStatementsRun();
    library();
    Report(name, rates.library, rates.baseline, -1, static_cast<int64_t>(ledgerkit::EngineStatementsRun() - before));
  };

  {
    Company company(dir, "post_debit");
    const std::string number =
        company.ledger.BeginTransaction(company.path, "bench", "", static_cast<int32_t>(ledgerkit::ttGENJRNL),
                                        ledgerkit::Date::FromCivil(2026, 3, 1), "Lines", 0, 0, "", "", "");
    compare_counted("post_debit", [&] {
      company.ledger.PostDebit(company.path, number, company.expense, ledgerkit::Currency::FromUnits(1), "line");
    }, raw);
  }

  Company small(dir, "cheque", 1000);
  compare_counted("cheque", [&] { small.Cheque(); }, raw);

  {
    Company company(dir, "issue_invoice_20");
    const Variant code = company.ledger.AddTaxCode(company.path, "bench", "", "S", "Two taxes", 5.0, "GST", false, 7.0,
                                                   "PST", false, true, false, company.other, company.other);
    auto new_invoice = [&] {
      Variant number;
      const Variant invoice = company.ledger.InsertInvoice(company.path, "bench", "", -1, "Invoice",
                                                           ledgerkit::Date::FromCivil(2026, 3, 1), number, "", "", "",
                                                           0, company.bank);
      for (int line = 0; line < 20; ++line) {
        company.ledger.AddInvoiceItem(company.path, "bench", "", invoice, code, "I" + std::to_string(100 + line), "Item",
                                      ledgerkit::CurrencyFromText("12.34"), 3.0, "each", company.expense);
      }
      return invoice;
    };
    // Invoices are entered ahead, untimed; each timed run issues the next one.
    std::vector<Variant> invoices;
    const int count = options.quick ? 300 : 2000;
    for (int i = 0; i < count; ++i) invoices.push_back(new_invoice());
    size_t next = 0;
    compare_counted("issue_invoice_20", [&] {
      if (next == invoices.size()) invoices.push_back(new_invoice());
      company.ledger.IssueInvoice(company.path, "bench", "", invoices[next++]);
    }, raw, [&] {
      // The counted run issues an invoice entered beforehand, so only the issue is counted.
      if (next == invoices.size()) invoices.push_back(new_invoice());
    });
  }

  {
    Company company(dir, "get_all_accounts_10k");
    {
      RawDb fill(company.path);
      fill.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<9997) "
                "INSERT INTO ACAccount (Parent,AccountNumber,Name,Description,Inactive,Balance,AccountTypeID) "
                "SELECT 1, printf('%05d', i), 'Account ' || i, 'generated', 0, i*100, 1 FROM n;");
    }
    RawDb raw_read(company.path);
    sqlite3_stmt* select = raw_read.Prepare(
        "SELECT ACAccountID,Parent,AccountNumber,Name,Description,Note,Inactive,BankAccountNo,Balance,AccountTypeID,"
        "FnclInstitutionID,ParentAccountID FROM ACAccount WHERE ACAccountID<>0 ORDER BY AccountNumber ASC, Name ASC;");
    struct Row {
      int64_t id, parent, type;
      std::string number, name, description;
      int64_t balance;
    };
    compare("get_all_accounts_10k", [&] { company.ledger.GetAllAccounts(company.path, "bench", ""); }, [&] {
      std::vector<Row> rows;
      while (sqlite3_step(select) == SQLITE_ROW) {
        auto text = [&](int i) {
          const unsigned char* value = sqlite3_column_text(select, i);
          return value ? std::string(reinterpret_cast<const char*>(value)) : std::string();
        };
        rows.push_back(Row{sqlite3_column_int64(select, 0), sqlite3_column_int64(select, 1),
                           sqlite3_column_int64(select, 9), text(2), text(3), text(4), sqlite3_column_int64(select, 8)});
      }
      sqlite3_reset(select);
    });
  }

  {
    Company company(dir, "balance_1m", 1'000'000);
    RawDb raw_read(company.path);
    sqlite3_stmt* sum = raw_read.Prepare("SELECT SUM(Withdrawal)-SUM(Deposit) FROM ACTransaction WHERE Parent=" +
                                         ledgerkit::ToText(company.other));
    const Rates rates = Interleaved([&] { company.ledger.GetAccountBalance(company.path, company.other); },
                                    [&] { RawDb::Run(sum); }, rounds, round_seconds);
    Report("balance_1m", rates.library, rates.baseline, 1000.0 / rates.library);
    compare("cheque_1m", [&] { company.Cheque(); }, [&] { small.Cheque(); });
  }
  ExportHundredThousand(dir, options.quick);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--quick") {
      options.quick = true;
    } else if (argument == "--serve") {
      options.serve = true;
    } else if (argument == "--dir" && i + 1 < argc) {
      options.dir = argv[++i];
    } else if (argument == "--help" || argument == "-h") {
      std::cout << "usage: ledgerkit-bench [--quick] [--dir DIR] [--serve]\n"
                   "Prints one JSON object per case: name, ops_per_s, ratio_to_raw (library time over raw SQLite time).\n";
      return 0;
    } else {
      std::cerr << "ledgerkit-bench: unknown argument " << argument << " (try --help)\n";
      return 2;
    }
  }
  const bool own_dir = options.dir.empty();
  if (own_dir) {
    options.dir = std::filesystem::temp_directory_path() / ("ledgerkit-bench-" + std::to_string(::getpid()));
  }
  std::filesystem::create_directories(options.dir);
  try {
    if (options.serve) {
      ledgerkit::bench::RunServeCases(options.dir, options.quick);
    } else {
      Run(options);
    }
  } catch (const std::exception& error) {
    std::cerr << "ledgerkit-bench: " << error.what() << "\n";
    if (own_dir) std::filesystem::remove_all(options.dir);
    return 1;
  }
  if (own_dir) std::filesystem::remove_all(options.dir);
  return 0;
}
