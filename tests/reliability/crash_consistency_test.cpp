// A worker process running a mixed ledger workload is killed at an arbitrary moment, again and
// again, on the same company file: after every kill the file passes the integrity check and
// every operation the worker saw succeed is still there, whole.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "reports/LedgerCheck.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::RawScalar;

constexpr int kDefaultRounds = 50;
constexpr int kKinds = 6;  // operations of one workload cycle
constexpr auto kWatchdog = std::chrono::seconds(60);
const Date kMarch31 = Date::FromCivil(2026, 3, 31);

int Rounds() {
  const char* text = std::getenv("LEDGERKIT_CRASH_ROUNDS");
  const int rounds = text != nullptr ? std::atoi(text) : 0;
  return rounds > 0 ? rounds : kDefaultRounds;
}

// What the worker's log says succeeded, as SQL row lists ("('17'),('23')") per kind.
struct Logged {
  std::string postings;       // committed cheques and deposits, by transaction number
  std::string invoices;       // issued invoices, by key
  std::string aborted;        // aborted transactions, by number
  std::string reconciled;     // register rows marked reconciled, by key
  std::string charges;        // service charges posted, by amount in ten-thousandths
  std::map<std::string, int> seen;  // lines by their first word
  std::vector<std::string> unreadable;
};

void AddRow(std::string& rows, const std::string& value) { rows += (rows.empty() ? "('" : ",('") + value + "')"; }

// The company file the worker writes to, the worker, and what the test checks after a kill.
class Workbench {
 public:
  Workbench() : path_((folder_.folder() / "worked.ldb").string()), log_((folder_.folder() / "worker.log").string()) {
    CreateSubscriberDatabase(path_, "Acme Trading", FirstUser{"alice", "secret"});
    CACMgr ledger;
    const Variant asset = ledger.AddAccountType(path_, "alice", "", "Current assets", "", false, bstASSET);
    const Variant liability = ledger.AddAccountType(path_, "alice", "", "Taxes payable", "", false, bstLIABILITY);
    const Variant income = ledger.AddAccountType(path_, "alice", "", "Revenue", "", false, bstINCOME);
    const Variant expense = ledger.AddAccountType(path_, "alice", "", "Expenses", "", false, bstEXPENSE);
    bank_ = AddAccount("1000", "Bank", asset);
    receivable_ = AddAccount("1200", "Receivables", asset);
    gst_ = AddAccount("2100", "GST payable", liability);
    sales_ = AddAccount("4000", "Sales", income);
    rent_ = AddAccount("5000", "Rent", expense);
    charges_ = AddAccount("6100", "Bank charges", expense);
    tax_ = ToLong(ledger.AddTaxCode(path_, "alice", "", "G", "GST", 5.0, "GST", false, 7.5, "PST", true, false, false,
                                    gst_, 0));
  }

  // Runs the workload from where the log leaves off: `steps` operations, or until killed when
  // `steps` is 0. Writes one byte to `ready` once started. Ends the process.
  [[noreturn]] void Work(int ready, int steps) const {
    const int log = ::open(log_.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    int step = 0;
    std::ifstream done(log_);
    for (std::string line; std::getline(done, line);) ++step;
    const char byte = 1;
    if (log < 0 || ::write(ready, &byte, 1) != 1) _exit(3);
    try {
      for (const int last = step + steps; steps == 0 || step < last; ++step) {
        const std::string line = Operation(step) + "\n";
        if (::write(log, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(3);
      }
    } catch (const Error& error) {
      std::fprintf(stderr, "step %d: error %d: %s\n", step, error.number(), error.description().c_str());
      _exit(1);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "step %d: %s\n", step, error.what());
      _exit(2);
    }
    _exit(0);
  }

  Logged ReadLog() const {
    Logged logged;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::string kind, value, word, charge;
      words >> kind >> value >> word >> charge;
      if ((kind == "cheque" || kind == "deposit") && word.empty()) {
        AddRow(logged.postings, value);
      } else if (kind == "invoice" && word == "issued") {
        AddRow(logged.invoices, value);
      } else if (kind == "reconciled" && word == "charge") {
        std::istringstream rows(value);
        for (std::string row; std::getline(rows, row, '|');) {
          if (row != "-") AddRow(logged.reconciled, row);
        }
        AddRow(logged.charges, charge);
      } else if (kind == "aborted" && word.empty()) {
        AddRow(logged.aborted, value);
      } else {
        logged.unreadable.push_back(line);
        continue;
      }
      ++logged.seen[kind];
    }
    return logged;
  }

  // The file is consistent and holds everything the log says was done.
  void ExpectLoggedWorkPresent() const {
    for (const CheckFinding& finding : CheckCompanyFile(path_)) {
      // The workload enters invoices whose Total is not what issuing them bills (the stored
      // Total plays no part in the postings); check warns of exactly that, by design.
      if (finding.kind == "invoice-total" && finding.severity == CheckFinding::Severity::kWarning) continue;
      ADD_FAILURE() << finding.kind << ": " << finding.message;
    }
    const Logged logged = ReadLog();
    for (const std::string& line : logged.unreadable) ADD_FAILURE() << "unreadable log line: " << line;
    EXPECT_EQ(Missing(logged.postings,
                      "(SELECT group_concat(TransLogStatus) FROM ACTransLog WHERE TransactionNumber=v) IS NOT '1' OR "
                      "(SELECT COUNT(*) FROM ACTransaction WHERE TransactionNumber=v)<>2"),
              "")
        << "committed cheques or deposits not whole";
    EXPECT_EQ(Missing(logged.invoices,
                      "NOT EXISTS (SELECT 1 FROM ACInvoice i JOIN ACTransLog l ON l.TransactionNumber=i.TransactionNumber "
                      "WHERE i.ACInvoiceID=v AND i.Paid=0 AND l.TransLogStatus=1 AND "
                      "(SELECT COUNT(*) FROM ACTransaction t WHERE t.TransactionNumber=i.TransactionNumber)=3)"),
              "")
        << "issued invoices not outstanding and posted";
    EXPECT_EQ(Missing(logged.aborted,
                      "EXISTS (SELECT 1 FROM ACTransLog WHERE TransactionNumber=v) OR "
                      "EXISTS (SELECT 1 FROM ACTransaction WHERE TransactionNumber=v)"),
              "")
        << "aborted transactions still present";
    EXPECT_EQ(Missing(logged.reconciled, "NOT EXISTS (SELECT 1 FROM ACTransaction WHERE ACTransactionID=v AND Reconciled=1)"),
              "")
        << "register rows not marked reconciled";
    EXPECT_EQ(Missing(logged.charges,
                      "CAST(v AS INTEGER) NOT IN (SELECT Withdrawal FROM ACTransaction WHERE Reconciled=1 AND Parent=" +
                          std::to_string(charges_) +
                          ") OR CAST(v AS INTEGER) NOT IN (SELECT Deposit FROM ACTransaction WHERE Reconciled=1 AND "
                          "Parent=" + std::to_string(bank_) + ")"),
              "")
        << "service charges not posted";
  }

  const std::string& path() const { return path_; }

 private:
  int32_t AddAccount(const char* number, const char* name, const Variant& type) const {
    return ToLong(CACMgr().AddAccount(path_, "alice", "", number, name, "", "", false, "", 0, type, 0));
  }

  // The logged values (rows as AddRow builds them) for which `absent` holds, as "v1 v2"; ""
  // when every one is present.
  std::string Missing(const std::string& rows, const std::string& absent) const {
    if (rows.empty()) return "";
    return RawScalar(path_, "WITH logged(v) AS (VALUES " + rows +
                                ") SELECT ifnull(group_concat(v,' '),'') FROM logged WHERE " + absent);
  }

  // Step `step` of the workload; returns its log line.
  std::string Operation(int step) const {
    CACMgr ledger;
    const Currency amount = Currency::FromScaled(10000 + 100 * (step % 1000));
    auto cheque = [&] {
      const std::string number = ledger.BeginTransaction(path_, "alice", "", ttCHQ, kMarch31, "Rent",
                                                         bank_, amount, "1 Main St", "memo", std::to_string(step));
      ledger.PostDebit(path_, number, rent_, amount, "rent");
      return number;
    };
    switch (step % kKinds) {
      case 0: {
        const std::string number = cheque();
        ledger.EndTransaction(path_, number);
        return "cheque " + number;
      }
      case 1: {
        const std::string number = ledger.BeginTransaction(path_, "alice", "", ttDEP, kMarch31, "Takings", bank_,
                                                           amount, "", "deposit", "");
        ledger.PostCredit(path_, number, sales_, amount, "takings");
        ledger.EndTransaction(path_, number);
        return "deposit " + number;
      }
      case 2: {
        Variant invoice_no = "";
        const Variant invoice = ledger.InsertInvoice(path_, "alice", "", -1, "Order " + std::to_string(step), kMarch31,
                                                     invoice_no, "PO-1", "1 Main St", "Bolt Ltd", amount, receivable_);
        ledger.AddInvoiceItem(path_, "alice", "", invoice, tax_, "A", "Widgets", amount, 2.0, "each", sales_);
        ledger.IssueInvoice(path_, "alice", "", invoice);
        return "invoice " + ToText(invoice) + " issued";
      }
      case 3: {
        const std::string rows = RawScalar(
            path_, "SELECT ifnull(group_concat(ACTransactionID,'|'),'') FROM (SELECT ACTransactionID FROM ACTransaction "
                   "WHERE Parent=" + std::to_string(bank_) + " AND Reconciled=0 ORDER BY 1 DESC LIMIT 3)");
        const Currency charge = Currency::FromScaled(10000 + step);
        ledger.ReconcileAccount(path_, "alice", "", bank_, rows, charge, kMarch31, charges_, Currency(), kMarch31, 0);
        return "reconciled " + (rows.empty() ? "-" : rows) + " charge " + std::to_string(charge.scaled());
      }
      case 4: {
        const std::string number = cheque();
        ledger.AbortTransaction(path_, number);
        return "aborted " + number;
      }
      default: {
        const std::string number = cheque();
        ledger.EndTransaction(path_, number);
        ledger.AbortTransaction(path_, number);
        return "aborted " + number;
      }
    }
  }

  testing::TempCompany folder_;
  std::string path_;
  std::string log_;
  int32_t bank_ = 0, receivable_ = 0, gst_ = 0, sales_ = 0, rent_ = 0, charges_ = 0, tax_ = 0;
};

// Waits for the child until the watchdog runs out; then kills it and fails. Returns its status.
int WaitForChild(pid_t child) {
  const auto deadline = std::chrono::steady_clock::now() + kWatchdog;
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) != child) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the worker is still running after " << kWatchdog.count() << " s";
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return status;
}

// Starts a worker for `steps` operations (0: until killed) and waits until it has begun.
pid_t StartWorker(const Workbench& bench, int steps) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    bench.Work(ready[1], steps);
  }
  ::close(ready[1]);
  pollfd started{ready[0], POLLIN, 0};
  char byte = 0;
  if (child > 0 && (::poll(&started, 1, static_cast<int>(kWatchdog.count() * 1000)) != 1 ||
                    ::read(ready[0], &byte, 1) != 1)) {
    ADD_FAILURE() << "the worker did not start";
  }
  ::close(ready[0]);
  return child;
}

TEST(CrashConsistency, KilledWorkerLeavesAConsistentFileWithEveryLoggedOperationWhole) {
  const Workbench bench;
  std::minstd_rand random(20260331);
  const int rounds = Rounds();
  for (int round = 0; round < rounds && !::testing::Test::HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const pid_t worker = StartWorker(bench, 0);
    ASSERT_GT(worker, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2 + random() % 39));
    ::kill(worker, SIGKILL);
    const int status = WaitForChild(worker);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the worker ended on its own before the kill, exit code " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    bench.ExpectLoggedWorkPresent();
  }
  if (::testing::Test::HasFailure()) return;

  // One cycle run to its end on the file every kill has left behind.
  const pid_t worker = StartWorker(bench, kKinds);
  ASSERT_GT(worker, 0);
  const int status = WaitForChild(worker);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the last worker failed";
  bench.ExpectLoggedWorkPresent();
  const Logged logged = bench.ReadLog();
  for (const char* kind : {"cheque", "deposit", "invoice", "reconciled", "aborted"}) {
    EXPECT_GT(logged.seen.count(kind), 0u) << "no " << kind << " in the log";
  }
}

}  // namespace
}  // namespace ledgerkit
