// The service's load figures: `ledgerkit serve` started as a deployment starts it (a process of
// its own on a free loopback port, a data folder of its own), driven by HTTP clients of ours,
// each a thread with one keep-alive connection, and stopped with SIGTERM.
//
//   serve_cheques_8_clients   8 clients, each logged on to a company of its own, record cheques
//                             (BeginTransaction, PostDebit, EndTransaction: three requests) for a
//                             fixed time; against 8 threads recording the same cheques on the
//                             same companies through the library in-process, in alternating
//                             rounds. Prints cheques per second of both, their ratio (the
//                             service's share of in-process, higher is better) and the errors.
//   serve_balance_64_clients  64 clients, each with a session of its own (8 users on each of the
//                             8 companies), call GetAccountBalance for a fixed time; prints the
//                             calls per second and the latency percentiles p50 and p99.
//   serve_logon_flood         8 clients (8 users of one company) record cheques, first alone and
//                             then while one more user of that company logs on again and again
//                             as fast as the service answers; prints the cheques' median latency
//                             of both runs, their ratio (1 is no harm done) and the logons made.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "ServeClient.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/security/CUserManager.h"

namespace ledgerkit::bench {

namespace {

constexpr int kCompanies = 8;
constexpr int kUsersPerCompany = 8;

ServedCompany MakeCompany(const std::filesystem::path& data, int index) {
  ServedCompany company;
  company.name = "co" + std::to_string(index);
  company.path = (data / (company.name + ".ldb")).string();
  MakeServedCompany(company, "Bench Co " + std::to_string(index), "bench");
  CUserManager users;
  for (int user = 0; user < kUsersPerCompany; ++user) {
    users.AddUserProfile(company.path, "bench", "", "u" + std::to_string(user), "pw" + std::to_string(user), "User",
                         std::to_string(user), "U", Variant::Null(), false, "", true);
  }
  return company;
}

// The cheque of the bench's in-process cases, through the library.
void InProcessCheque(CACMgr& ledger, const ServedCompany& company) {
  const std::string number =
      ledger.BeginTransaction(company.path, "bench", "", static_cast<int32_t>(ttCHQ), Date::FromCivil(2026, 3, 1),
                              "Cheque", company.bank, Currency::FromUnits(100), "", "memo", "1");
  ledger.PostDebit(company.path, number, company.expense, Currency::FromUnits(100), "expense");
  ledger.EndTransaction(company.path, number);
}


// Runs `work(thread index)` on `threads` threads, each repeating it until `seconds` have passed;
// returns the calls made and the seconds the slowest thread took.
template <class Work>
std::pair<int64_t, double> RunFor(int threads, double seconds, Work work) {
  std::atomic<int64_t> calls{0};
  std::vector<std::thread> running;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  for (int t = 0; t < threads; ++t) {
    running.emplace_back([&, t] {
      int64_t mine = 0;
      while (Clock::now() < end) {
        work(t);
        ++mine;
      }
      calls += mine;
    });
  }
  for (std::thread& thread : running) thread.join();
  return {calls.load(), std::chrono::duration<double>(Clock::now() - start).count()};
}


}  // namespace

void RunServeCases(const std::filesystem::path& dir, bool quick) {
  const std::filesystem::path data = dir / "serve";
  std::filesystem::remove_all(data);
  std::filesystem::create_directories(data);
  std::vector<ServedCompany> companies;
  for (int i = 0; i < kCompanies; ++i) companies.push_back(MakeCompany(data, i));

  const int cheque_rounds = quick ? 2 : 4;
  const double cheque_seconds = (quick ? 4.0 : 20.0) / cheque_rounds;
  const double balance_seconds = quick ? 3.0 : 10.0;
  {
    ServerProcess server(data, dir / "serve-cheques.log", {});
    std::vector<std::unique_ptr<RpcClient>> clients;
    for (int i = 0; i < kCompanies; ++i) {
      clients.push_back(std::make_unique<RpcClient>(server.port()));
      if (!clients.back()->Logon(companies[i].name, "bench", "bench")) throw std::runtime_error("logon failed");
    }
    std::vector<CACMgr> ledgers(kCompanies);
    std::atomic<int64_t> errors{0};
    int64_t http_cheques = 0, local_cheques = 0;
    double http_time = 0, local_time = 0;
    // Warm-up: a cheque of each kind on every company.
    for (int i = 0; i < kCompanies; ++i) {
      InProcessCheque(ledgers[i], companies[i]);
      if (!HttpCheque(*clients[i], companies[i])) ++errors;
    }
    for (int round = 0; round < cheque_rounds; ++round) {
      const auto local = RunFor(kCompanies, cheque_seconds, [&](int t) { InProcessCheque(ledgers[t], companies[t]); });
      local_cheques += local.first;
      local_time += local.second;
      for (auto& client : clients) client->Reconnect();
      const auto http = RunFor(kCompanies, cheque_seconds, [&](int t) {
        if (!HttpCheque(*clients[t], companies[t])) ++errors;
      });
      http_cheques += http.first;
      http_time += http.second;
    }
    clients.clear();
    const int stopped = server.Stop();
    const double http_rate = static_cast<double>(http_cheques) / http_time;
    const double local_rate = static_cast<double>(local_cheques) / local_time;
    std::printf("{\"name\":\"serve_cheques_8_clients\",\"ops_per_s\":%.1f,\"in_process_ops_per_s\":%.1f,"
                "\"ratio_to_in_process\":%.3f,\"errors\":%lld,\"exit\":%d}\n",
                http_rate, local_rate, http_rate / local_rate, static_cast<long long>(errors.load()), stopped);
    std::fflush(stdout);
  }

  {
    // The 64 clients share one address: the per-client cap is raised to let them all in.
    ServerProcess server(data, dir / "serve-balance.log", {"--max-connections-per-client", "64"});
    const int clients_count = kCompanies * kUsersPerCompany;
    std::vector<std::unique_ptr<RpcClient>> clients;
    for (int i = 0; i < clients_count; ++i) {
      const int company = i / kUsersPerCompany, user = i % kUsersPerCompany;
      clients.push_back(std::make_unique<RpcClient>(server.port()));
      if (!clients.back()->Logon(companies[company].name, "u" + std::to_string(user), "pw" + std::to_string(user))) {
        throw std::runtime_error("logon failed");
      }
    }
    // Logging on 64 users takes seconds (each checks a password hash).
    for (auto& client : clients) client->Reconnect();
    std::vector<std::vector<double>> latencies(clients_count);
    std::atomic<int64_t> errors{0};
    auto balance = [&](int t) {
      const ServedCompany& company = companies[t / kUsersPerCompany];
      const auto start = Clock::now();
      if (!clients[t]->Call("CACMgr.GetAccountBalance", {company.name, company.bank})) ++errors;
      latencies[t].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    };
    RunFor(clients_count, quick ? 0.5 : 1.0, balance);  // warm-up
    for (auto& list : latencies) list.clear();
    const auto run = RunFor(clients_count, balance_seconds, balance);
    clients.clear();
    const int stopped = server.Stop();
    std::vector<double> all;
    for (const auto& list : latencies) all.insert(all.end(), list.begin(), list.end());
    const double p50 = Percentile(all, 0.50), p99 = Percentile(all, 0.99);
    std::printf("{\"name\":\"serve_balance_64_clients\",\"ops_per_s\":%.1f,\"p50_ms\":%.3f,\"p99_ms\":%.3f,"
                "\"errors\":%lld,\"exit\":%d}\n",
                static_cast<double>(run.first) / run.second, p50, p99, static_cast<long long>(errors.load()), stopped);
    std::fflush(stdout);
  }
  {
    ServerProcess server(data, dir / "serve-logon-flood.log", {});
    const ServedCompany& company = companies[0];
    std::vector<std::unique_ptr<RpcClient>> clients;
    for (int user = 0; user < kUsersPerCompany; ++user) {
      clients.push_back(std::make_unique<RpcClient>(server.port()));
      if (!clients.back()->Logon(company.name, "u" + std::to_string(user), "pw" + std::to_string(user))) {
        throw std::runtime_error("logon failed");
      }
    }
    std::atomic<int64_t> errors{0};
    const double seconds = quick ? 3.0 : 10.0;
    // The median cheque latency of the 8 clients over `seconds`.
    auto cheques_median = [&] {
      for (auto& client : clients) client->Reconnect();
      std::vector<std::vector<double>> latencies(clients.size());
      RunFor(static_cast<int>(clients.size()), seconds, [&](int t) {
        const auto start = Clock::now();
        if (!HttpCheque(*clients[t], company)) ++errors;
        latencies[t].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      });
      std::vector<double> all;
      for (const auto& list : latencies) all.insert(all.end(), list.begin(), list.end());
      return Percentile(all, 0.50);
    };
    const double quiet = cheques_median();
    std::atomic<bool> flooding{true};
    std::atomic<int64_t> logons{0};
    std::thread flood([&] {
      RpcClient flooder(server.port());
      while (flooding) {
        if (flooder.Logon(company.name, "bench", "bench")) ++logons;
      }
    });
    const double loaded = cheques_median();
    flooding = false;
    flood.join();
    clients.clear();
    const int stopped = server.Stop();
    std::printf("{\"name\":\"serve_logon_flood\",\"quiet_median_ms\":%.3f,\"flood_median_ms\":%.3f,"
                "\"ratio\":%.2f,\"logons_per_s\":%.1f,\"errors\":%lld,\"exit\":%d}\n",
                quiet, loaded, quiet > 0 ? loaded / quiet : 0.0, static_cast<double>(logons.load()) / seconds,
                static_cast<long long>(errors.load()), stopped);
    std::fflush(stdout);
  }
  std::filesystem::remove_all(data);
}

}  // namespace ledgerkit::bench
