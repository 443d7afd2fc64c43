// ledgerkit-bench: the library's speed against raw SQLite measured in the same run, on the same
// file system. One JSON object per line: {"name", "ops_per_s", "ratio_to_raw"[, "ms"]}, where
// the ratio is the library's time per operation over the raw loop's (lower is better).
//
//   ledgerkit-bench [--quick] [--dir DIR]
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/Convert.h"
#include "entities/Schema.h"
#include "enums/PublicEnums.h"
#include "ledger/CACMgr.h"

namespace {

using Clock = std::chrono::steady_clock;
using ledgerkit::Variant;

struct Options {
  bool quick = false;
  std::filesystem::path dir;
};

// Runs `operation` until both `min_runs` runs and `min_seconds` have passed; operations per second.
double OpsPerSecond(const std::function<void()>& operation, int min_runs, double min_seconds) {
  operation();  // warm-up: caches, first compile of statements
  const auto start = Clock::now();
  int runs = 0;
  double elapsed = 0;
  while (runs < min_runs || elapsed < min_seconds) {
    operation();
    ++runs;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  }
  return runs / elapsed;
}

void Report(const std::string& name, double ops_per_s, double baseline_ops_per_s, double ms = -1) {
  std::printf("{\"name\":\"%s\",\"ops_per_s\":%.1f,\"ratio_to_raw\":%.3f", name.c_str(), ops_per_s,
              baseline_ops_per_s / ops_per_s);
  if (ms >= 0) std::printf(",\"ms\":%.3f", ms);
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

// The raw durable write: BEGIN IMMEDIATE, one insert and one update, COMMIT.
double RawCommitOpsPerSecond(const std::filesystem::path& dir, const Options& options) {
  RawDb raw((dir / "raw.db").string());
  raw.Exec("CREATE TABLE IF NOT EXISTS t (id INTEGER PRIMARY KEY, v INTEGER); CREATE TABLE IF NOT EXISTS c (n INTEGER);"
           "INSERT INTO c SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM c);");
  sqlite3_stmt* begin = raw.Prepare("BEGIN IMMEDIATE;");
  sqlite3_stmt* insert = raw.Prepare("INSERT INTO t (v) VALUES (?);");
  sqlite3_stmt* update = raw.Prepare("UPDATE c SET n=n+1;");
  sqlite3_stmt* commit = raw.Prepare("COMMIT;");
  int64_t value = 0;
  return OpsPerSecond(
      [&] {
        RawDb::Run(begin);
        sqlite3_bind_int64(insert, 1, ++value);
        RawDb::Run(insert);
        RawDb::Run(update);
        RawDb::Run(commit);
      },
      options.quick ? 100 : 500, options.quick ? 1.0 : 3.0);
}

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

void Run(const Options& options) {
  const std::filesystem::path& dir = options.dir;
  const int runs = options.quick ? 50 : 300;
  const double seconds = options.quick ? 1.0 : 3.0;
  const double raw = RawCommitOpsPerSecond(dir, options);

  {
    Company company(dir, "post_debit");
    const std::string number =
        company.ledger.BeginTransaction(company.path, "bench", "", static_cast<int32_t>(ledgerkit::ttGENJRNL),
                                        ledgerkit::Date::FromCivil(2026, 3, 1), "Lines", 0, 0, "", "", "");
    Report("post_debit", OpsPerSecond([&] {
             company.ledger.PostDebit(company.path, number, company.expense, ledgerkit::Currency::FromUnits(1), "line");
           }, runs, seconds),
           raw);
  }

  double cheque_small = 0;
  {
    Company company(dir, "cheque", 1000);
    cheque_small = OpsPerSecond([&] { company.Cheque(); }, runs, seconds);
    Report("cheque", cheque_small, raw);
  }

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
    const int count = options.quick ? 40 : 200;
    std::vector<Variant> invoices;
    for (int i = 0; i < count + 1; ++i) invoices.push_back(new_invoice());
    size_t next = 0;
    const auto start = Clock::now();
    company.ledger.IssueInvoice(company.path, "bench", "", invoices[next++]);  // warm-up
    const auto timed = Clock::now();
    while (next < invoices.size()) company.ledger.IssueInvoice(company.path, "bench", "", invoices[next++]);
    (void)start;
    Report("issue_invoice_20", count / std::chrono::duration<double>(Clock::now() - timed).count(), raw);
  }

  {
    Company company(dir, "get_all_accounts_10k");
    {
      RawDb raw_fill(company.path);
      raw_fill.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<9997) "
                    "INSERT INTO ACAccount (Parent,AccountNumber,Name,Description,Inactive,Balance,AccountTypeID) "
                    "SELECT 1, printf('%05d', i), 'Account ' || i, 'generated', 0, i*100, 1 FROM n;");
    }
    const double library = OpsPerSecond([&] { company.ledger.GetAllAccounts(company.path, "bench", ""); },
                                        options.quick ? 10 : 30, seconds);
    RawDb raw_read(company.path);
    sqlite3_stmt* select = raw_read.Prepare(
        "SELECT ACAccountID,Parent,AccountNumber,Name,Description,Note,Inactive,BankAccountNo,Balance,AccountTypeID,"
        "FnclInstitutionID,ParentAccountID FROM ACAccount WHERE ACAccountID<>0 ORDER BY AccountNumber ASC, Name ASC;");
    struct Row {
      int64_t id, parent, type;
      std::string number, name, description;
      int64_t balance;
    };
    const double raw_select = OpsPerSecond(
        [&] {
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
        },
        options.quick ? 10 : 30, seconds);
    Report("get_all_accounts_10k", library, raw_select);
  }

  {
    Company company(dir, "balance_1m", 1'000'000);
    const auto start = Clock::now();
    const Variant balance = company.ledger.GetAccountBalance(company.path, company.other);
    const double first_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    (void)balance;
    const double library = OpsPerSecond([&] { company.ledger.GetAccountBalance(company.path, company.other); },
                                        options.quick ? 5 : 20, seconds);
    RawDb raw_read(company.path);
    sqlite3_stmt* sum =
        raw_read.Prepare("SELECT SUM(Withdrawal)-SUM(Deposit) FROM ACTransaction WHERE Parent=" + ledgerkit::ToText(company.other));
    const double raw_sum = OpsPerSecond([&] { RawDb::Run(sum); }, options.quick ? 5 : 20, seconds);
    Report("balance_1m", library, raw_sum, std::min(first_ms, 1000.0 / library));

    Report("cheque_1m", OpsPerSecond([&] { company.Cheque(); }, runs, seconds), cheque_small);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--quick") {
      options.quick = true;
    } else if (argument == "--dir" && i + 1 < argc) {
      options.dir = argv[++i];
    } else if (argument == "--help" || argument == "-h") {
      std::cout << "usage: ledgerkit-bench [--quick] [--dir DIR]\n"
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
    Run(options);
  } catch (const std::exception& error) {
    std::cerr << "ledgerkit-bench: " << error.what() << "\n";
    if (own_dir) std::filesystem::remove_all(options.dir);
    return 1;
  }
  if (own_dir) std::filesystem::remove_all(options.dir);
  return 0;
}
