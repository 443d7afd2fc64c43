// Companies on a PostgreSQL server under stress: many writing processes on one company and on
// many, the server stopped and started again under a writer, and writers killed in the middle of
// their cheques. After each, the books are whole: every cheque a writer was told is recorded is
// there with its register rows, stored balances equal the register, and `ledgerkit check` is
// clean. Every test is skipped unless LEDGERKIT_TEST_PG names a server; the outage test stops
// only a cluster of its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "common/Catalog.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "common/Engine.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "reports/LedgerCheck.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::PostgresServer;
using testing::RunLedgerkit;
using testing::ShellQuote;

constexpr auto kWatchdog = std::chrono::seconds(240);
const Date kMarch31 = Date::FromCivil(2026, 3, 31);

// The engine error number of a SQLSTATE class: 0x80051000 + the class read in base 36.
int32_t ClassNumber(char first, char second) {
  const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  return static_cast<int32_t>(0x80051000u + static_cast<uint32_t>(digit(first) * 36 + digit(second)));
}

// Each test's companies get names no other test process uses at the same time.
std::string Unique(const std::string& stem) { return stem + "_" + std::to_string(::getpid()); }

std::string CompanyUri(const std::string& server, const std::string& company) {
  return server + (server.find('?') == std::string::npos ? "?" : "&") + "company=" + company;
}

// Every row of `sql`, run on a session of its own to `server` with the search path on `company`,
// each value as text ("NULL" for null); on failure one row holding "error: " and the message.
std::vector<std::vector<std::string>> ServerRows(const std::string& server, const std::string& company,
                                                 const std::string& sql) {
  const char* keywords[] = {"dbname", "connect_timeout", nullptr};
  const char* values[] = {server.c_str(), "20", nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, 1);
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  std::vector<std::vector<std::string>> rows;
  PGresult* result = nullptr;
  if (PQstatus(conn) == CONNECTION_OK) {
    PQclear(PQexec(conn, ("SET search_path TO " + company + ", pg_catalog").c_str()));
    result = PQexec(conn, sql.c_str());
  }
  const ExecStatusType status = PQresultStatus(result);
  if (status == PGRES_TUPLES_OK) {
    for (int row = 0; row < PQntuples(result); ++row) {
      auto& out = rows.emplace_back();
      for (int column = 0; column < PQnfields(result); ++column) {
        out.emplace_back(PQgetisnull(result, row, column) ? "NULL" : PQgetvalue(result, row, column));
      }
    }
  } else if (status != PGRES_COMMAND_OK) {
    rows = {{std::string("error: ") + (result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(conn))}};
  }
  PQclear(result);
  PQfinish(conn);
  return rows;
}

// The first value of `sql` ("" for no row), or "error: ...".
std::string ServerScalar(const std::string& server, const std::string& company, const std::string& sql) {
  const auto rows = ServerRows(server, company, sql);
  return rows.empty() || rows[0].empty() ? "" : rows[0][0];
}

// A company on a server, dropped before it is made (a previous run's may be left) and when the
// test ends, pass or fail.
class ServerCompany {
 public:
  ServerCompany(std::string server, std::string name)
      : server_(std::move(server)), name_(std::move(name)), uri_(CompanyUri(server_, name_)) {
    Drop();
  }
  ~ServerCompany() { Drop(); }
  ServerCompany(const ServerCompany&) = delete;
  ServerCompany& operator=(const ServerCompany&) = delete;

  const std::string& uri() const { return uri_; }
  const std::string& server() const { return server_; }
  const std::string& name() const { return name_; }
  std::string Scalar(const std::string& sql) const { return ServerScalar(server_, name_, sql); }

 private:
  void Drop() const { (void)ServerRows(server_, "public", "DROP SCHEMA IF EXISTS " + name_ + " CASCADE"); }

  std::string server_;
  std::string name_;
  std::string uri_;
};

// The accounts a cheque moves money between.
struct Accounts {
  int32_t bank = 0;
  int32_t rent = 0;
  int32_t supplies = 0;
};

// Makes the company (user "alice") with a bank account and two expense accounts.
Accounts MakeBooks(const std::string& uri) {
  CreateSubscriberDatabase(uri, "Acme Trading", FirstUser{"alice", "secret"});
  CACMgr ledger;
  const Variant asset = ledger.AddAccountType(uri, "alice", "", "Bank accounts", "", false, bstASSET);
  const Variant expense = ledger.AddAccountType(uri, "alice", "", "Expenses", "", false, bstEXPENSE);
  Accounts accounts;
  accounts.bank = ToLong(ledger.AddAccount(uri, "alice", "", "1000", "Bank", "", "", false, "", 0, asset, 0));
  accounts.rent = ToLong(ledger.AddAccount(uri, "alice", "", "5000", "Rent", "", "", false, "", 0, expense, 0));
  accounts.supplies = ToLong(ledger.AddAccount(uri, "alice", "", "5100", "Supplies", "", "", false, "", 0, expense, 0));
  return accounts;
}

// The amount of cheque `index` of writer `writer`: all different, with cents.
Currency ChequeAmount(int writer, int index) { return Currency::FromScaled(10000 + 100 * (writer * 1000 + index)); }

// Records one cheque from the bank to rent or supplies; returns its transaction number.
std::string RecordCheque(const std::string& uri, const Accounts& accounts, int writer, int index) {
  CACMgr ledger;
  const Currency amount = ChequeAmount(writer, index);
  const std::string number =
      ledger.BeginTransaction(uri, "alice", "", ttCHQ, kMarch31, "Cheque " + std::to_string(writer) + "-" + std::to_string(index),
                              accounts.bank, amount, "1 Main St", "memo", std::to_string(index));
  ledger.PostDebit(uri, number, index % 2 == 0 ? accounts.rent : accounts.supplies, amount, "goods");
  ledger.EndTransaction(uri, number);
  return number;
}

// Appends a line to a log shared with the parent; O_APPEND writes of one line never interleave.
void AppendLine(const std::string& path, const std::string& line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
  const std::string text = line + "\n";
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(3);
  ::close(fd);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A child process, killed and reaped when the guard goes if it is still running, so that no test
// leaves one behind, whatever fails.
class Child {
 public:
  Child() = default;
  explicit Child(pid_t pid) : pid_(pid) {}
  Child(Child&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
  Child& operator=(Child&&) = delete;
  ~Child() {
    if (pid_ > 0) Kill();
  }

  bool started() const { return pid_ > 0; }
  // Ends it with SIGKILL; its wait status.
  int Kill() {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }
  // Its wait status once it has ended, or nothing yet.
  std::optional<int> Ended() {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return std::nullopt;
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
};

// Runs `work` in a child process that ends with its exit code: 0 when `work` returns, 1 after an
// Error (printed), 2 after any other exception.
template <typename Work>
Child Fork(Work work) {
  const pid_t child = ::fork();
  if (child != 0) return Child(child);
  try {
    work();
  } catch (const Error& error) {
    std::fprintf(stderr, "child %d: error %d (%s): %s\n", ::getpid(), error.number(), error.source().c_str(),
                 error.description().c_str());
    _exit(1);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "child %d: %s\n", ::getpid(), error.what());
    _exit(2);
  }
  _exit(0);
}

// Waits for every child; one still running after `limit` is killed and reported as hung. Returns
// each child's exit code (-1 for one that did not exit normally).
std::vector<int> WaitForChildren(std::vector<Child>& children, std::chrono::seconds limit = kWatchdog) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::vector<int> codes(children.size(), -1);
  for (;;) {
    bool running = false;
    for (size_t i = 0; i < children.size(); ++i) {
      if (!children[i].started()) continue;
      if (const std::optional<int> status = children[i].Ended()) {
        if (WIFEXITED(*status)) codes[i] = WEXITSTATUS(*status);
      } else {
        running = true;
      }
    }
    if (!running) return codes;
    if (std::chrono::steady_clock::now() > deadline) {
      for (size_t i = 0; i < children.size(); ++i) {
        if (!children[i].started()) continue;
        ADD_FAILURE() << "child " << i << " still running after " << limit.count() << " s: killed";
        children[i].Kill();
      }
      return codes;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Polls `ready` until it holds or `limit` passes; false at the deadline.
template <typename Condition>
bool WaitUntil(Condition ready, std::chrono::seconds limit = std::chrono::seconds(120)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// What whole books look like, whatever was done to them:
// - `ledgerkit check` (a process of its own, as a user runs it) finds nothing;
// - every header is a committed cheque with its two register rows (bank deposit and expense
//   withdrawal of the header's amount) and no waiting line, or a cheque still in progress with
//   no register row and its waiting lines (the bank's, which comes with the header, and the
//   expense line once posted); nothing in between;
// - every stored balance equals its register rows, and the bank's equals the committed cheques'
//   amounts.
void ExpectWholeBooks(const ServerCompany& company, const Accounts& accounts) {
  const testing::TempCompany scratch;  // a folder for the tool's scratch files
  const testing::CliRun check = RunLedgerkit(scratch.folder(), "check " + ShellQuote(company.uri()));
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  EXPECT_EQ(check.out, "no findings\n") << check.err;

  const std::string bank = std::to_string(accounts.bank);
  EXPECT_EQ(company.Scalar(
                "SELECT coalesce(string_agg(TransactionNumber || ' status ' || TransLogStatus || ', ' || r || ' rows, ' "
                "|| w || ' waiting', '; '), '') FROM (SELECT l.TransactionNumber, l.TransLogStatus, l.Amount, "
                "(SELECT COUNT(*) FROM ACTransaction t WHERE t.TransactionNumber = l.TransactionNumber) AS r, "
                "(SELECT COUNT(*) FROM ACTransLogWIP w WHERE w.Parent = l.ACTransLogID) AS w, "
                "(SELECT SUM(Deposit) FROM ACTransaction t WHERE t.TransactionNumber = l.TransactionNumber AND "
                "t.Parent = " + bank + ") AS paid, "
                "(SELECT SUM(Withdrawal) FROM ACTransaction t WHERE t.TransactionNumber = l.TransactionNumber AND "
                "t.Parent <> " + bank + ") AS spent FROM ACTransLog l) x "
                "WHERE NOT ((TransLogStatus = 1 AND r = 2 AND w = 0 AND paid = Amount AND spent = Amount) OR "
                "(TransLogStatus = 0 AND r = 0 AND w BETWEEN 1 AND 2))"),
            "")
      << "transactions neither committed whole nor in progress untouched";
  EXPECT_EQ(company.Scalar("SELECT coalesce(string_agg(ACAccountID || ': stored ' || coalesce(Balance::text, 'NULL') || "
                           "', register ' || Net, '; '), '') FROM (SELECT ACAccountID, Balance, (SELECT "
                           "COALESCE(SUM(Deposit), 0) - COALESCE(SUM(Withdrawal), 0) FROM ACTransaction WHERE Parent = "
                           "ACAccountID) AS Net FROM ACAccount) x WHERE Balance IS DISTINCT FROM Net"),
            "")
      << "stored balances that differ from the register";
  EXPECT_EQ(company.Scalar("SELECT (SELECT Balance FROM ACAccount WHERE ACAccountID = " + bank +
                           ") - (SELECT COALESCE(SUM(Amount), 0) FROM ACTransLog WHERE TransLogStatus = 1)"),
            "0")
      << "the bank's balance is not the committed cheques' total";
}

// The logged transaction numbers (lines "done NUMBER") not committed whole; "" when all are.
std::string NotCommitted(const ServerCompany& company, const std::vector<std::string>& numbers) {
  if (numbers.empty()) return "";
  std::string list;
  for (const std::string& number : numbers) list += (list.empty() ? "('" : ",('") + number + "')";
  return company.Scalar("SELECT coalesce(string_agg(v, ' '), '') FROM (VALUES " + list +
                        ") logged(v) WHERE (SELECT TransLogStatus FROM ACTransLog WHERE TransactionNumber = v) IS "
                        "DISTINCT FROM 1 OR (SELECT COUNT(*) FROM ACTransaction WHERE TransactionNumber = v) <> 2");
}

// The second words of the log's lines that begin with `kind`.
std::vector<std::string> Logged(const std::vector<std::string>& lines, const std::string& kind) {
  std::vector<std::string> values;
  for (const std::string& line : lines) {
    if (line.rfind(kind + " ", 0) == 0) values.push_back(line.substr(kind.size() + 1, line.find(' ', kind.size() + 1) - kind.size() - 1));
  }
  return values;
}

class PostgresReliability : public ::testing::Test {
 protected:
  void SetUp() override {
    if (PostgresServer().empty()) GTEST_SKIP() << "LEDGERKIT_TEST_PG names no PostgreSQL server";
  }
};

TEST_F(PostgresReliability, EightProcessesOnOneCompanyGetDistinctNumbersAndKeepBalancesExact) {
  constexpr int kWriters = 8;
  constexpr int kChequesEach = 200;
  const ServerCompany company(PostgresServer(), Unique("lk_rel_shared"));
  const Accounts accounts = MakeBooks(company.uri());
  const testing::TempCompany scratch;
  auto numbers_of = [&](int writer) { return (scratch.folder() / ("writer-" + std::to_string(writer))).string(); };

  // The writers start together: each waits for the pipe's end, which comes when the parent
  // closes its writing end after the last fork. Sessions the parent holds are never theirs.
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  std::vector<Child> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    children.push_back(Fork([&, writer] {
      ::close(start[1]);
      char byte;
      while (::read(start[0], &byte, 1) < 0) {
      }
      for (int index = 0; index < kChequesEach; ++index) {
        AppendLine(numbers_of(writer), RecordCheque(company.uri(), accounts, writer, index));
      }
    }));
    ASSERT_TRUE(children.back().started());
  }
  ::close(start[0]);
  ::close(start[1]);
  const std::vector<int> codes = WaitForChildren(children);

  std::vector<std::string> numbers;
  for (int writer = 0; writer < kWriters; ++writer) {
    EXPECT_EQ(codes[writer], 0) << "writer " << writer << " failed";
    const std::vector<std::string> own = ReadLines(numbers_of(writer));
    EXPECT_EQ(own.size(), static_cast<size_t>(kChequesEach)) << "writer " << writer;
    numbers.insert(numbers.end(), own.begin(), own.end());
  }
  const std::set<std::string> distinct(numbers.begin(), numbers.end());
  EXPECT_EQ(distinct.size(), numbers.size()) << "a transaction number was handed out twice";
  EXPECT_EQ(NotCommitted(company, numbers), "");

  ExpectWholeBooks(company, accounts);
  constexpr int kCheques = kWriters * kChequesEach;
  EXPECT_EQ(company.Scalar("SELECT COUNT(*) FROM ACTransLog WHERE TransLogStatus = 1"), std::to_string(kCheques));
  EXPECT_EQ(company.Scalar("SELECT COUNT(*) FROM ACTransaction"), std::to_string(2 * kCheques));
  EXPECT_EQ(company.Scalar("SELECT COUNT(*) FROM ACTransLogWIP"), "0");
  Currency total, rent;
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int index = 0; index < kChequesEach; ++index) {
      total += ChequeAmount(writer, index);
      if (index % 2 == 0) rent += ChequeAmount(writer, index);
    }
  }
  EXPECT_EQ(company.Scalar("SELECT Balance FROM ACAccount WHERE ACAccountID = " + std::to_string(accounts.bank)),
            std::to_string(total.scaled()));
  EXPECT_EQ(company.Scalar("SELECT Balance FROM ACAccount WHERE ACAccountID = " + std::to_string(accounts.rent)),
            std::to_string(-rent.scaled()));
}

TEST_F(PostgresReliability, EightProcessesOnEightCompaniesNumberEachWithoutAGap) {
  constexpr int kCompanies = 8;
  constexpr int kChequesEach = 60;
  std::vector<std::unique_ptr<ServerCompany>> companies;
  for (int i = 0; i < kCompanies; ++i) {
    companies.push_back(std::make_unique<ServerCompany>(PostgresServer(), Unique("lk_rel_many" + std::to_string(i))));
  }
  const testing::TempCompany scratch;
  auto log_of = [&](int i) { return (scratch.folder() / ("company-" + std::to_string(i))).string(); };

  // Each process makes its company, then records its cheques; all at once, on one server and
  // one database, so they share the server's catalog but never a company.
  std::vector<Child> children;
  for (int i = 0; i < kCompanies; ++i) {
    children.push_back(Fork([&, i] {
      const Accounts accounts = MakeBooks(companies[i]->uri());
      AppendLine(log_of(i), "accounts " + std::to_string(accounts.bank) + " " + std::to_string(accounts.rent) + " " +
                                std::to_string(accounts.supplies));
      for (int index = 0; index < kChequesEach; ++index) {
        AppendLine(log_of(i), "done " + RecordCheque(companies[i]->uri(), accounts, i, index));
      }
    }));
    ASSERT_TRUE(children.back().started());
  }
  const std::vector<int> codes = WaitForChildren(children);

  std::string one_to_n;
  for (int number = 1; number <= kChequesEach; ++number) one_to_n += (number == 1 ? "" : " ") + std::to_string(number);
  for (int i = 0; i < kCompanies; ++i) {
    SCOPED_TRACE("company " + std::to_string(i));
    EXPECT_EQ(codes[i], 0) << "its writer failed";
    const std::vector<std::string> lines = ReadLines(log_of(i));
    ASSERT_FALSE(lines.empty());
    Accounts accounts;
    std::istringstream(lines[0].substr(9)) >> accounts.bank >> accounts.rent >> accounts.supplies;
    std::string received;
    for (const std::string& number : Logged(lines, "done")) received += (received.empty() ? "" : " ") + number;
    EXPECT_EQ(received, one_to_n) << "the numbers the writer was given";
    EXPECT_EQ(companies[i]->Scalar("SELECT string_agg(TransactionNumber, ' ' ORDER BY TransactionNumber::int) FROM "
                                   "ACTransLog WHERE TransLogStatus = 1"),
              one_to_n)
        << "the numbers of the committed headers";
    ExpectWholeBooks(*companies[i], accounts);
    Currency total;
    for (int index = 0; index < kChequesEach; ++index) total += ChequeAmount(i, index);
    EXPECT_EQ(companies[i]->Scalar("SELECT Balance FROM ACAccount WHERE ACAccountID = " + std::to_string(accounts.bank)),
              std::to_string(total.scaled()));
  }
}

// A cluster of the test's own, started on a free port and removed when the guard goes, whatever
// the test's outcome, so that stopping its server never touches what other tests use. Given a
// primary, the cluster is its streaming standby, synchronous: a commit the primary answered is
// on the standby.
class OwnCluster {
 public:
  explicit OwnCluster(const OwnCluster* primary = nullptr) {
    std::minstd_rand random(static_cast<unsigned>(::getpid()) + (primary ? 7u : 0u));
    for (int attempt = 0; attempt < 8 && uri_.empty(); ++attempt) {
      dir_ = (std::filesystem::temp_directory_path() / ("lk-outage-" + std::to_string(::getpid()) +
                                                        (primary ? "-standby-" : "-") + std::to_string(attempt)))
                 .string();
      Script("stop");  // a previous run's, with this process's number
      const int port = 26000 + static_cast<int>(random() % 14000);
      const std::string start = primary ? Command("standby") + " " + ShellQuote(primary->dir_) : Command("start");
      std::FILE* out = ::popen((start + " " + std::to_string(port) + " 2>/dev/null").c_str(), "r");
      if (out == nullptr) continue;
      char line[512] = {0};
      const bool read = std::fgets(line, sizeof line, out) != nullptr;
      const int status = ::pclose(out);
      if (read && status == 0) {
        uri_ = line;
        while (!uri_.empty() && (uri_.back() == '\n' || uri_.back() == ' ')) uri_.pop_back();
      } else {
        Script("stop");
      }
    }
  }
  ~OwnCluster() { Script("stop"); }
  OwnCluster(const OwnCluster&) = delete;
  OwnCluster& operator=(const OwnCluster&) = delete;

  // The server's URI; "" when no cluster could be started.
  const std::string& uri() const { return uri_; }
  // Stops the server (fast: sessions ended, open transactions rolled back); starts it again.
  bool Pause() const { return Script("pause"); }
  bool Resume() const { return Script("resume"); }
  // Stops the server at once, as a power cut would; makes a standby the primary.
  bool Crash() const { return Script("crash"); }
  bool Promote() const { return Script("promote"); }
  // The port of the URI, as a multi-host URI names the server.
  std::string HostAndPort() const {
    const size_t at = uri_.find('@') + 1;
    return uri_.substr(at, uri_.find('/', at) - at);
  }

 private:
  std::string Command(const std::string& what) const {
    return ShellQuote(LEDGERKIT_SOURCE_DIR "/scripts/pg-cluster.sh") + " " + what + " " + ShellQuote(dir_);
  }
  bool Script(const std::string& what) const { return std::system((Command(what) + " >/dev/null").c_str()) == 0; }

  std::string dir_;
  std::string uri_;
};

// `text` on one line: line breaks and tabs written as \r, \n and \t.
std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out;
}

// What a call gets while its server is away (stopped, shutting down or not yet back): an engine
// error of the PostgreSQL block, class 08 (connection) or 57 (the server's own shutdown), whose
// description (given escaped) is the server's or libpq's message on one line with its SQLSTATE,
// then the error marker.
void ExpectServerAwayError(const std::string& number, const std::string& source, const std::string& escaped) {
  EXPECT_TRUE(number == std::to_string(ClassNumber('0', '8')) || number == std::to_string(ClassNumber('5', '7')))
      << number;
  EXPECT_EQ(source, "PostgreSQL");
  const std::string marker = Escaped(std::string(kLineBreak) + std::string(kErrorMarker)) + number;
  ASSERT_GT(escaped.size(), marker.size());
  EXPECT_EQ(escaped.substr(escaped.size() - marker.size()), marker) << escaped;
  const std::string text = escaped.substr(0, escaped.size() - marker.size());
  const size_t state = text.rfind(" [SQLSTATE ");
  ASSERT_NE(state, std::string::npos) << escaped;
  EXPECT_TRUE(text.substr(state).starts_with(" [SQLSTATE 08") || text.substr(state).starts_with(" [SQLSTATE 57"))
      << escaped;
  EXPECT_GT(state, 10u) << "no message: " << escaped;
  EXPECT_EQ(text.substr(0, state).find('\\'), std::string::npos) << "a message of several lines: " << escaped;
}

// Records cheques until `stop_file` exists, going on after failures, and logs each step: "begun
// N" once a cheque's header is there, "done N" once the cheque is recorded, "failed STEP NUMBER
// SOURCE DESCRIPTION" for a call that failed.
void RecordChequesLogging(const std::string& uri, const Accounts& accounts, const std::string& log,
                          const std::string& stop_file, int first_index) {
  CACMgr ledger;
  for (int index = first_index; !std::filesystem::exists(stop_file); ++index) {
    const Currency amount = ChequeAmount(0, index % 1000);
    const char* step = "begin";
    try {
      const std::string number = ledger.BeginTransaction(uri, "alice", "", ttCHQ, kMarch31, "Rent", accounts.bank,
                                                         amount, "1 Main St", "memo", std::to_string(index));
      AppendLine(log, "begun " + number);
      step = "post";
      ledger.PostDebit(uri, number, accounts.rent, amount, "rent");
      step = "end";
      ledger.EndTransaction(uri, number);
      AppendLine(log, "done " + number);
    } catch (const Error& error) {
      AppendLine(log, std::string("failed ") + step + " " + std::to_string(error.number()) + " " + error.source() +
                          " " + Escaped(error.description()));
      // The server is away: no need to ask it again at once.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

// The lines of `log` from line `from` on that begin with `kind`.
size_t CountLogged(const std::string& log, const std::string& kind, size_t from) {
  const std::vector<std::string> lines = ReadLines(log);
  return static_cast<size_t>(std::count_if(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())),
                                           lines.end(), [&](const std::string& line) { return line.rfind(kind, 0) == 0; }));
}

// Every failure in the writer's log is the engine's error for a lost or refused session, with a
// description, and once a cheque went through at line `back` or later none failed again; one
// did go through.
void ExpectAwayFailuresOnlyUntilBack(const std::vector<std::string>& lines, size_t back) {
  bool recovered = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (i >= back && line.rfind("done ", 0) == 0) recovered = true;
    if (line.rfind("failed ", 0) != 0) continue;
    std::istringstream words(line);
    std::string failed_word, step, number, source, description;
    words >> failed_word >> step >> number >> source;
    std::getline(words, description);
    SCOPED_TRACE(line);
    ExpectServerAwayError(number, source, description.substr(description.empty() ? 0 : 1));
    EXPECT_FALSE(recovered) << "a call failed after the server was back: " << line;
  }
  EXPECT_TRUE(recovered);
}

TEST_F(PostgresReliability, ServerStoppedUnderAWriterFailsCleanlyAndTheNextCallAfterItsRestartSucceeds) {
  const OwnCluster cluster;
  ASSERT_FALSE(cluster.uri().empty()) << "no cluster of the test's own could be started";
  const ServerCompany company(cluster.uri(), Unique("lk_rel_outage"));
  const Accounts accounts = MakeBooks(company.uri());
  const testing::TempCompany scratch;
  const std::string log = (scratch.folder() / "writer.log").string();
  const std::string stop = (scratch.folder() / "stop").string();
  auto count = [&](const std::string& kind, size_t from) { return CountLogged(log, kind, from); };

  std::vector<Child> writer;
  writer.push_back(Fork([&] { RecordChequesLogging(company.uri(), accounts, log, stop, 0); }));
  ASSERT_TRUE(writer[0].started());
  // The server goes while the writer is in its stride, and stays away until it has seen calls fail.
  const bool wrote = WaitUntil([&] { return count("done", 0) >= 15; });
  EXPECT_TRUE(wrote) << "the writer recorded too few cheques before the outage";
  const size_t before_outage = ReadLines(log).size();
  ASSERT_TRUE(cluster.Pause());
  const bool failed = WaitUntil([&] { return count("failed", before_outage) >= 5; });
  EXPECT_TRUE(failed) << "the writer's calls did not fail while the server was away";

  // A cheque attempted meanwhile by another thread of this process fails, as the engine's error.
  // (The main thread's kept connection stays as it was: dead, and unused until the restart.)
  std::thread([&] {
    try {
      RecordCheque(company.uri(), accounts, 1, 0);
      ADD_FAILURE() << "a cheque was reported recorded while the server was stopped";
    } catch (const Error& error) {
      ExpectServerAwayError(std::to_string(error.number()), error.source(), Escaped(error.description()));
    }
  }).join();

  ASSERT_TRUE(cluster.Resume());
  const size_t after_restart = ReadLines(log).size();
  // The main thread's next call finds its kept session lost, connects again and succeeds.
  try {
    RecordCheque(company.uri(), accounts, 2, 0);
  } catch (const Error& error) {
    ADD_FAILURE() << "the first cheque after the restart failed: " << error.number() << " " << error.description();
  }
  const bool resumed = WaitUntil([&] { return count("done", after_restart) >= 15; });
  EXPECT_TRUE(resumed) << "the writer did not go on after the restart";
  std::ofstream(stop).put('\n');
  EXPECT_EQ(WaitForChildren(writer)[0], 0) << "the writer crashed or failed outside a call";

  const std::vector<std::string> lines = ReadLines(log);
  ExpectAwayFailuresOnlyUntilBack(lines, after_restart);
  EXPECT_EQ(NotCommitted(company, Logged(lines, "done")), "") << "cheques reported recorded but not whole";
  ExpectWholeBooks(company, accounts);

  // Cheques the outage cut short are still in progress, whole as far as they went: the bank's
  // line BeginTransaction wrote, and the expense line when PostDebit's commit went through
  // unanswered. Each is finished, or taken back, now that the server is back.
  CACMgr ledger;
  for (const auto& row : ServerRows(company.server(), company.name(),
                                    "SELECT TransactionNumber, (SELECT COUNT(*) FROM ACTransLogWIP w WHERE w.Parent = "
                                    "l.ACTransLogID) FROM ACTransLog l WHERE TransLogStatus = 0")) {
    ASSERT_EQ(row.size(), 2u) << row[0];
    EXPECT_TRUE(row[1] == "1" || row[1] == "2") << "cheque " << row[0] << " with " << row[1] << " waiting lines";
    if (row[1] == "2") {
      ledger.EndTransaction(company.uri(), row[0]);
    } else {
      ledger.AbortTransaction(company.uri(), row[0]);
    }
  }
  EXPECT_EQ(company.Scalar("SELECT COUNT(*) FROM ACTransLog WHERE TransLogStatus <> 1"), "0");
  ExpectWholeBooks(company, accounts);
}

// Fail-over as the README sets it up: a primary, a synchronous streaming standby made with
// pg_basebackup -R, and a client whose URI names both and asks for the one that takes writes.
// The primary stops dead in the middle of a run of cheques and the standby is promoted: the
// client, never restarted, sees its calls fail cleanly during the switch and then carries on,
// and every cheque it was told was recorded is on the promoted server.
TEST_F(PostgresReliability, AStandbyPromotedWhenThePrimaryDiesCarriesOnWithEveryAnsweredCheque) {
  const OwnCluster primary;
  ASSERT_FALSE(primary.uri().empty()) << "no cluster of the test's own could be started";
  const OwnCluster standby(&primary);
  ASSERT_FALSE(standby.uri().empty()) << "no standby could be started";
  const std::string both = "postgresql://ledgerkit@" + primary.HostAndPort() + "," + standby.HostAndPort() +
                           "/postgres?target_session_attrs=read-write";
  const ServerCompany company(both, Unique("lk_rel_failover"));
  const Accounts accounts = MakeBooks(company.uri());
  const testing::TempCompany scratch;
  const std::string log = (scratch.folder() / "writer.log").string();
  const std::string stop = (scratch.folder() / "stop").string();

  std::vector<Child> writer;
  writer.push_back(Fork([&] { RecordChequesLogging(company.uri(), accounts, log, stop, 0); }));
  ASSERT_TRUE(writer[0].started());
  EXPECT_TRUE(WaitUntil([&] { return CountLogged(log, "done", 0) >= 15; })) << "too few cheques before the crash";
  const size_t before_crash = ReadLines(log).size();
  ASSERT_TRUE(primary.Crash());
  EXPECT_TRUE(WaitUntil([&] { return CountLogged(log, "failed", before_crash) >= 3; }))
      << "the writer's calls did not fail while no server took writes";
  ASSERT_TRUE(standby.Promote());
  const size_t after_promotion = ReadLines(log).size();
  EXPECT_TRUE(WaitUntil([&] { return CountLogged(log, "done", after_promotion) >= 15; }))
      << "the writer did not go on through the promoted standby";
  std::ofstream(stop).put('\n');
  EXPECT_EQ(WaitForChildren(writer)[0], 0) << "the writer crashed or failed outside a call";

  const std::vector<std::string> lines = ReadLines(log);
  ExpectAwayFailuresOnlyUntilBack(lines, after_promotion);
  EXPECT_EQ(company.Scalar("SELECT inet_server_port()"), standby.HostAndPort().substr(standby.HostAndPort().find(':') + 1));
  EXPECT_EQ(NotCommitted(company, Logged(lines, "done")), "") << "answered cheques missing on the promoted server";
  ExpectWholeBooks(company, accounts);
}

// Sessions the server ended while they sat idle (an administrator, a restart) are never used
// again: the next calls connect anew instead of failing, even a company made again under the
// name an ended session still points at, whose first statement needs no change of schema.
TEST_F(PostgresReliability, SessionsTheServerEndedWhileIdleAreNeverHandedOutAgain) {
  const OwnCluster cluster;
  ASSERT_FALSE(cluster.uri().empty()) << "no cluster of the test's own could be started";
  const std::string name = Unique("lk_rel_ended");
  {
    const ServerCompany before(cluster.uri(), name);
    const Accounts accounts = MakeBooks(before.uri());
    RecordCheque(before.uri(), accounts, 0, 0);
    std::thread([&] { RecordCheque(before.uri(), accounts, 0, 1); }).join();  // one more idle session
  }
  ASSERT_EQ(ServerScalar(cluster.uri(), "public",
                         "SELECT COUNT(*) > 0 FROM (SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                         "WHERE pid <> pg_backend_pid() AND backend_type = 'client backend') ended"),
            "t");
  // Ended once their processes are gone (pg_terminate_backend only signals them), and their
  // closing has reached this side of the loopback.
  EXPECT_TRUE(WaitUntil([&] {
    return ServerScalar(cluster.uri(), "public",
                        "SELECT COUNT(*) FROM pg_stat_activity WHERE pid <> pg_backend_pid() AND "
                        "backend_type = 'client backend'") == "0";
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const ServerCompany again(cluster.uri(), name);
  try {
    const Accounts accounts = MakeBooks(again.uri());
    RecordCheque(again.uri(), accounts, 0, 2);
    std::thread([&] { RecordCheque(again.uri(), accounts, 0, 3); }).join();
  } catch (const Error& error) {
    ADD_FAILURE() << "a call ran on a session the server had ended: " << error.number() << " " << error.description();
  }
  EXPECT_EQ(again.Scalar("SELECT COUNT(*) FROM ACTransLog WHERE TransLogStatus = 1"), "2");
}

TEST_F(PostgresReliability, WriterKilledMidChequeLeavesWholeBooksAndNoLockBehind) {
  constexpr int kRounds = 20;
  const ServerCompany company(PostgresServer(), Unique("lk_rel_killed"));
  const Accounts accounts = MakeBooks(company.uri());
  const testing::TempCompany scratch;
  const std::string log = (scratch.folder() / "writer.log").string();
  const std::string never = (scratch.folder() / "never").string();
  std::minstd_rand random(20260331);

  // Starts a writer and waits until it is about to make its first call.
  auto start_writer = [&](int first_index, const std::string& stop) {
    int ready[2];
    if (::pipe(ready) != 0) return Child();
    Child child = Fork([&] {
      ::close(ready[0]);
      const char byte = 1;
      if (::write(ready[1], &byte, 1) != 1) _exit(3);
      RecordChequesLogging(company.uri(), accounts, log, stop, first_index);
    });
    ::close(ready[1]);
    pollfd started{ready[0], POLLIN, 0};
    char byte = 0;
    if (::poll(&started, 1, 60'000) != 1 || ::read(ready[0], &byte, 1) != 1) ADD_FAILURE() << "the writer did not start";
    ::close(ready[0]);
    return child;
  };

  for (int round = 0; round < kRounds && !HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Child writer = start_writer(round * 1000, never);
    ASSERT_TRUE(writer.started());
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 80));
    const std::optional<int> ended = writer.Ended();
    ASSERT_FALSE(ended.has_value()) << "the writer ended before the kill";
    const int status = writer.Kill();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    const std::vector<std::string> lines = ReadLines(log);
    EXPECT_EQ(Logged(lines, "failed"), std::vector<std::string>{}) << "a writer's call failed";
    EXPECT_EQ(NotCommitted(company, Logged(lines, "done")), "") << "cheques reported recorded but not whole";
    ExpectWholeBooks(company, accounts);

    // The next writer is not held up by the killed one's session (a lock left behind would make
    // it wait for the lock timeout and fail busy) and takes the next number.
    const std::string highest = company.Scalar("SELECT COALESCE(MAX(TransactionNumber::int), 0) FROM ACTransLog");
    std::string number;
    try {
      number = RecordCheque(company.uri(), accounts, 3, round);
    } catch (const Error& error) {
      ADD_FAILURE() << "the next writer failed: " << error.number() << " " << error.description();
    }
    EXPECT_EQ(number, std::to_string(std::stoll(highest) + 1));
  }
  if (HasFailure()) return;

  // A writer left to finish on the books every kill has left behind.
  const std::string stop = (scratch.folder() / "stop").string();
  const size_t before = ReadLines(log).size();
  std::vector<Child> writer;
  writer.push_back(start_writer(kRounds * 1000, stop));
  ASSERT_TRUE(writer[0].started());
  EXPECT_TRUE(WaitUntil([&] { return ReadLines(log).size() >= before + 10; }));
  std::ofstream(stop).put('\n');
  EXPECT_EQ(WaitForChildren(writer)[0], 0);
  const std::vector<std::string> lines = ReadLines(log);
  EXPECT_EQ(Logged(lines, "failed"), std::vector<std::string>{});
  EXPECT_GT(Logged(lines, "done").size(), 0u);
  EXPECT_EQ(NotCommitted(company, Logged(lines, "done")), "");
  ExpectWholeBooks(company, accounts);
}

// A transaction in which a statement failed can only be rolled back; the server answers its
// COMMIT with ROLLBACK and no error, which must reach the caller as a failure.
TEST_F(PostgresReliability, ACommitTheServerTurnedIntoARollbackFails) {
  const ServerCompany company(PostgresServer(), Unique("lk_rel_commit"));
  CreateSubscriberDatabase(company.uri(), "Acme Trading");
  auto connection = OpenEngine(company.uri());
  connection->CheckSchema(CompanyCatalog());
  connection->Begin(Access::kWrite);
  connection->LockCompany();
  connection->ExecuteControl("UPDATE ISubScriber SET CompanyName = 'Changed'");
  EXPECT_THROW(connection->ExecuteControl("SELECT 1/0"), Error);
  try {
    connection->Commit();
    ADD_FAILURE() << "a failed transaction was reported committed";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), ClassNumber('4', '0')) << error.description();
    EXPECT_EQ(error.source(), "PostgreSQL");
    EXPECT_NE(error.description().find("[SQLSTATE 40000]"), std::string::npos) << error.description();
  }
  EXPECT_FALSE(connection->InTransaction());
  EXPECT_EQ(company.Scalar("SELECT CompanyName FROM ISubScriber"), "Acme Trading");
}

}  // namespace
}  // namespace ledgerkit
