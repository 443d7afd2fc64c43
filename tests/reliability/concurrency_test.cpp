// Many writers on one company file at the same time, as separate processes and as threads of
// one process: every cheque gets a transaction number of its own, nothing is lost, and every
// stored balance still matches the register.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <latch>
#include <set>
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

constexpr int kWriters = 8;
// Cheques per writer: 40 in the ordinary suite, 200 with LEDGERKIT_SOAK=1 set.
const int kChequesEach = [] {
  const char* soak = std::getenv("LEDGERKIT_SOAK");
  return soak != nullptr && std::string(soak) == "1" ? 200 : 40;
}();
const int kCheques = kWriters * kChequesEach;
// Writers queue rather than fail, so a slow machine only makes the run longer.
constexpr auto kWatchdog = std::chrono::seconds(300);

// The amount of cheque `index` of writer `writer`: all different, with cents.
Currency ChequeAmount(int writer, int index) { return Currency::FromScaled(10000 + 100 * (writer * kChequesEach + index)); }

// A company file (user "alice") with a bank account and two expense accounts, made through the
// library by the test's own thread, so it holds idle connections to the file when writers start.
class SharedCompany {
 public:
  SharedCompany() : path_((folder_.folder() / "shared.ldb").string()) {
    CreateSubscriberDatabase(path_, "Acme Trading", FirstUser{"alice", "secret"});
    CACMgr ledger;
    const Variant asset = ledger.AddAccountType(path_, "alice", "", "Bank accounts", "", false, bstASSET);
    const Variant expense = ledger.AddAccountType(path_, "alice", "", "Expenses", "", false, bstEXPENSE);
    bank_ = ToLong(ledger.AddAccount(path_, "alice", "", "1000", "Bank", "", "", false, "", 0, asset, 0));
    rent_ = ToLong(ledger.AddAccount(path_, "alice", "", "5000", "Rent", "", "", false, "", 0, expense, 0));
    supplies_ = ToLong(ledger.AddAccount(path_, "alice", "", "5100", "Supplies", "", "", false, "", 0, expense, 0));
  }

  const std::string& path() const { return path_; }
  const testing::TempCompany& folder() const { return folder_; }

  // Records the writer's cheques, each with a CACMgr of its own making, alternating between the
  // expense accounts; returns the transaction numbers received. Fails with the first Error.
  std::vector<std::string> WriteCheques(int writer) const {
    CACMgr ledger;
    std::vector<std::string> numbers;
    for (int index = 0; index < kChequesEach; ++index) {
      const Currency amount = ChequeAmount(writer, index);
      const std::string number = ledger.BeginTransaction(
          path_, "alice", "", ttCHQ, Date::FromCivil(2026, 3, 31),
          "Cheque " + std::to_string(writer) + "-" + std::to_string(index), bank_, amount, "1 Main St", "memo",
          std::to_string(index));
      ledger.PostDebit(path_, number, index % 2 == 0 ? rent_ : supplies_, amount, "goods");
      ledger.EndTransaction(path_, number);
      numbers.push_back(number);
    }
    return numbers;
  }

  // What every writer must find when all of them are done, given the numbers they received.
  void ExpectAllChequesRecorded(const std::vector<std::string>& numbers) const {
    ASSERT_EQ(numbers.size(), static_cast<size_t>(kCheques));
    const std::set<std::string> distinct(numbers.begin(), numbers.end());
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kCheques)) << "a transaction number was handed out twice";

    for (const CheckFinding& finding : CheckCompanyFile(path_)) {
      ADD_FAILURE() << finding.kind << ": " << finding.message;
    }
    EXPECT_EQ(RawScalar(path_,
                        "SELECT ifnull(group_concat(ACAccountID||': stored '||Balance||', register '||Net,'; '),'') "
                        "FROM (SELECT ACAccountID, Balance, (SELECT COALESCE(SUM(Deposit),0)-COALESCE(SUM(Withdrawal),0) "
                        "FROM ACTransaction WHERE Parent=ACAccountID) AS Net FROM ACAccount) WHERE Balance IS NOT Net"),
              "");
    Currency total;
    for (int writer = 0; writer < kWriters; ++writer) {
      for (int index = 0; index < kChequesEach; ++index) total += ChequeAmount(writer, index);
    }
    EXPECT_EQ(RawScalar(path_, "SELECT Balance FROM ACAccount WHERE ACAccountID=" + std::to_string(bank_)),
              std::to_string(total.scaled()));

    EXPECT_EQ(RawScalar(path_, "SELECT COUNT(*) FROM ACTransLog WHERE TransLogStatus=1"), std::to_string(kCheques));
    EXPECT_EQ(RawScalar(path_, "SELECT COUNT(*) FROM ACTransLog"), std::to_string(kCheques));
    EXPECT_EQ(RawScalar(path_, "SELECT COUNT(*) FROM ACTransaction"), std::to_string(2 * kCheques));
    EXPECT_EQ(RawScalar(path_, "SELECT COUNT(*) FROM ACTransLogWIP"), "0");
    // The headers carry exactly the numbers the writers were given.
    std::vector<std::string> sorted(distinct.begin(), distinct.end());
    std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
      return std::stoll(a) < std::stoll(b);
    });
    std::string expected;
    for (const std::string& number : sorted) expected += (expected.empty() ? "" : " ") + number;
    EXPECT_EQ(RawScalar(path_, "SELECT group_concat(TransactionNumber,' ') FROM (SELECT TransactionNumber FROM "
                               "ACTransLog ORDER BY CAST(TransactionNumber AS INTEGER))"),
              expected);
  }

 private:
  testing::TempCompany folder_;
  std::string path_;
  int32_t bank_ = 0;
  int32_t rent_ = 0;
  int32_t supplies_ = 0;
};

// Waits for every child; one still running at the deadline is killed and reported as hung.
// Returns each child's exit code (-1 for one that did not exit normally).
std::vector<int> WaitForChildren(const std::vector<pid_t>& children) {
  const auto deadline = std::chrono::steady_clock::now() + kWatchdog;
  std::vector<int> codes(children.size(), -1);
  std::vector<bool> done(children.size(), false);
  for (size_t left = children.size(); left > 0;) {
    for (size_t i = 0; i < children.size(); ++i) {
      int status = 0;
      if (done[i] || ::waitpid(children[i], &status, WNOHANG) != children[i]) continue;
      done[i] = true;
      --left;
      if (WIFEXITED(status)) codes[i] = WEXITSTATUS(status);
    }
    if (left > 0 && std::chrono::steady_clock::now() > deadline) {
      for (size_t i = 0; i < children.size(); ++i) {
        if (done[i]) continue;
        ADD_FAILURE() << "writer " << i << " still running after " << kWatchdog.count() << " s";
        ::kill(children[i], SIGKILL);
        ::waitpid(children[i], nullptr, 0);
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return codes;
}

TEST(Concurrency, EightProcessesRecordingChequesGetDistinctNumbersAndKeepBalancesExact) {
  const SharedCompany company;
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    const std::string out = (company.folder().folder() / ("writer-" + std::to_string(writer))).string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(start[1]);
      char byte;
      while (::read(start[0], &byte, 1) < 0) {
      }  // end of file: every writer is started
      try {
        std::string text;
        for (const std::string& number : company.WriteCheques(writer)) text += number + "\n";
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        _exit(written && ::close(fd) == 0 ? 0 : 3);
      } catch (const Error& error) {
        std::fprintf(stderr, "writer %d: error %d: %s\n", writer, error.number(), error.description().c_str());
        _exit(1);
      } catch (...) {
        _exit(2);
      }
    }
    children.push_back(child);
  }
  ::close(start[0]);
  ::close(start[1]);  // releases every writer at once
  const std::vector<int> codes = WaitForChildren(children);

  std::vector<std::string> numbers;
  for (int writer = 0; writer < kWriters; ++writer) {
    EXPECT_EQ(codes[writer], 0) << "writer " << writer;
    std::ifstream in(company.folder().folder() / ("writer-" + std::to_string(writer)));
    for (std::string number; std::getline(in, number);) numbers.push_back(number);
  }
  company.ExpectAllChequesRecorded(numbers);
}

TEST(Concurrency, EightThreadsRecordingChequesGetDistinctNumbersAndKeepBalancesExact) {
  const SharedCompany company;
  std::latch start(1);
  std::vector<std::vector<std::string>> received(kWriters);
  std::vector<std::string> failures(kWriters);
  std::vector<std::thread> threads;
  for (int writer = 0; writer < kWriters; ++writer) {
    threads.emplace_back([&, writer] {
      start.wait();
      try {
        received[writer] = company.WriteCheques(writer);
      } catch (const Error& error) {
        failures[writer] = std::to_string(error.number()) + ": " + error.description();
      }
    });
  }
  start.count_down();
  for (std::thread& thread : threads) thread.join();

  std::vector<std::string> numbers;
  for (int writer = 0; writer < kWriters; ++writer) {
    EXPECT_EQ(failures[writer], "") << "writer " << writer;
    numbers.insert(numbers.end(), received[writer].begin(), received[writer].end());
  }
  company.ExpectAllChequesRecorded(numbers);
}

}  // namespace
}  // namespace ledgerkit
