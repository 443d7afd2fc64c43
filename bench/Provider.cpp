// A provider's figures: many companies on two PostgreSQL servers behind `ledgerkit serve
// --directory`, driven by 64 HTTP clients.
//
//   serve_provider                N companies (--companies, default 1,000; 100 with --quick),
//                                 half on each server, each with a user who logs on, in a company
//                                 directory the run makes on the first server's database. One
//                                 `serve --directory` process; 64 clients, each logged on to a few
//                                 companies picked at random (seeded: the same ones every run),
//                                 record cheques on a random one of them for a fixed time. A
//                                 logon ends its user's earlier session, so no two sessions share
//                                 a user: with fewer companies than sessions each has more users. Prints
//                                 cheques per second, a cheque's p50 and p99 latency, the errors
//                                 and the most server sessions the service held on each server
//                                 (pg_stat_activity, sampled during the timed part).
//   serve_provider_two_instances  the same with two `serve --directory` processes, the clients
//                                 taking them in turn (client i goes to instance i % 2).
//
// The companies are schemas lkbench_<pid>_p<n>; the directory is the schema lk_directory, which
// the database must not hold already. Both are dropped at the end, whether the run ended well or
// not.
#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Bench.h"
#include "ServeClient.h"
#include "automation/Directory.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/security/CUserManager.h"

namespace ledgerkit::bench {

namespace {

constexpr int kClients = 64;
constexpr int kSessionsPerClient = 3;  // companies each client is logged on to
constexpr int kMakers = 4;             // threads making companies (two per server)

// User `n` of a provider company; its password is its name.
std::string UserName(int n) { return n == 0 ? "bench" : "u" + std::to_string(n); }

// A server connection of the bench's own: the directory's check and drop, and the sampling.
class PgConnection {
 public:
  explicit PgConnection(const std::string& uri) : conn_(PQconnectdb(uri.c_str())) {
    if (PQstatus(conn_) != CONNECTION_OK) {
      std::string message = PQerrorMessage(conn_);
      PQfinish(conn_);
      while (!message.empty() && message.back() == '\n') message.pop_back();
      throw std::runtime_error("cannot connect to " + uri + ": " + message);
    }
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
  }
  ~PgConnection() { PQfinish(conn_); }
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // The first column of the first row of `sql`, a count.
  int64_t Count(const std::string& sql) {
    PGresult* result = PQexec(conn_, sql.c_str());
    if (PQresultStatus(result) != PGRES_TUPLES_OK || PQntuples(result) != 1) {
      const std::string message = PQresultErrorMessage(result);
      PQclear(result);
      throw std::runtime_error(message + " in " + sql);
    }
    const int64_t value = std::stoll(PQgetvalue(result, 0, 0));
    PQclear(result);
    return value;
  }
  void Exec(const std::string& sql) {
    PGresult* result = PQexec(conn_, sql.c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    const std::string message = ok ? "" : PQresultErrorMessage(result);
    PQclear(result);
    if (!ok) throw std::runtime_error(message + " in " + sql);
  }

 private:
  PGconn* conn_;
};

// What the run makes on the servers: the companies and the directory naming them. Dropped when
// the object goes, also after a failure or an interrupt; only by the process that made them.
class ProviderCompanies {
 public:
  ProviderCompanies(const std::string& first, const std::string& second) : servers_{first, second}, admin_(first) {
    for (const std::string& server : servers_) {
      if (server.find("company=") != std::string::npos) {
        throw std::runtime_error("--server and --server2 take a server's URI without company=, not " + server);
      }
    }
    if (admin_.Count("SELECT count(*) FROM pg_namespace WHERE nspname = 'lk_directory'") != 0) {
      throw std::runtime_error("the database of " + first +
                               " holds a company directory already (schema lk_directory); the bench makes its own "
                               "and drops it at the end: name a database without one");
    }
    directory_ = std::make_unique<CompanyDirectory>(first);
    made_directory_ = true;
    directory_->Init();
  }
  ~ProviderCompanies() {
    if (owner_ != ::getpid()) return;
    directory_.reset();
    for (const ServedCompany& company : companies_) {
      try {
        DropCompanyAt(company.path);
      } catch (const std::exception& error) {
        std::fprintf(stderr, "ledgerkit-bench: could not drop %s: %s\n", company.path.c_str(), error.what());
      }
    }
    if (made_directory_) {
      try {
        admin_.Exec("DROP SCHEMA IF EXISTS lk_directory CASCADE");
      } catch (const std::exception& error) {
        std::fprintf(stderr, "ledgerkit-bench: could not drop the directory: %s\n", error.what());
      }
    }
  }
  ProviderCompanies(const ProviderCompanies&) = delete;
  ProviderCompanies& operator=(const ProviderCompanies&) = delete;

  // Makes `count` companies, company n on server n % 2, each with `users` users (bench, u1, u2,
  // ...; the password is the name), on kMakers threads, and adds each to the directory. Every
  // company is remembered before it is made, so that a half-made one is dropped.
  void Make(int count, int users) {
    users_ = users;
    companies_.resize(static_cast<size_t>(count));
    const std::string prefix = "lkbench_" + std::to_string(::getpid()) + "_p";
    for (int n = 0; n < count; ++n) {
      const std::string& server = servers_[n % 2];
      companies_[n].name = "p" + std::to_string(n);
      companies_[n].path =
          server + (server.find('?') == std::string::npos ? "?" : "&") + "company=" + prefix + std::to_string(n);
    }
    std::atomic<int> next{0};
    std::mutex failed_mutex;
    std::string failed;
    std::vector<std::thread> makers;
    for (int t = 0; t < kMakers; ++t) {
      makers.emplace_back([&] {
        for (int n = next++; n < count; n = next++) {
          try {
            if (::bench::InterruptRequested()) throw std::runtime_error("interrupted");
            MakeOne(companies_[n]);
          } catch (const std::exception& error) {
            const std::lock_guard lock(failed_mutex);
            if (failed.empty()) failed = companies_[n].name + " at " + companies_[n].path + ": " + error.what();
            next = count;  // the other makers stop too
          }
        }
      });
    }
    for (std::thread& maker : makers) maker.join();
    ::bench::CheckInterrupted();
    if (!failed.empty()) throw std::runtime_error("could not make company " + failed);
  }

  const std::vector<ServedCompany>& companies() const { return companies_; }

 private:
  void MakeOne(ServedCompany& company) {
    DropCompanyAt(company.path);  // left by an earlier process of the same id, if any
    MakeServedCompany(company, "Provider Co " + company.name, UserName(0));
    CUserManager profiles;
    for (int user = 1; user < users_; ++user) {
      profiles.AddUserProfile(company.path, "bench", "", UserName(user), UserName(user), "User", std::to_string(user),
                              "U", Variant::Null(), false, "", true);
    }
    directory_->Add(company.name, company.path);
  }

  std::string servers_[2];
  PgConnection admin_;
  std::unique_ptr<CompanyDirectory> directory_;
  bool made_directory_ = false;
  std::vector<ServedCompany> companies_;
  int users_ = 1;
  pid_t owner_ = ::getpid();
};

// Samples, every 100 ms until stopped, the sessions of each server whose application name begins
// with `application` (the service processes'), of the server URI's user and database, and keeps
// the most seen on each.
class SessionSampler {
 public:
  SessionSampler(const std::string& first, const std::string& second, const std::string& application)
      : servers_{first, second},
        sql_("SELECT count(*) FROM pg_stat_activity WHERE usename = current_user AND datname = current_database() "
             "AND application_name LIKE '" + application + "%'") {}

  void Start() {
    stop_ = false;
    thread_ = std::thread([this] {
      PgConnection first(servers_[0]), second(servers_[1]);
      while (!stop_) {
        most_[0] = std::max(most_[0].load(), first.Count(sql_));
        most_[1] = std::max(most_[1].load(), second.Count(sql_));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  ~SessionSampler() { Stop(); }

  int64_t Most(int server) const { return most_[server].load(); }

 private:
  std::string servers_[2];
  std::string sql_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> most_[2] = {0, 0};
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// One case: `instances` service processes over the directory, the 64 clients logged on, then
// `runs` timed parts of `seconds` each; prints the medians.
void RunProviderCase(const std::string& name, int instances, const ProviderCompanies& made, int users,
                     const std::string& directory_uri, const std::string& second_server,
                     const std::filesystem::path& dir, double seconds, int runs) {
  const std::vector<ServedCompany>& companies = made.companies();
  const std::string application = "lkbench_" + std::to_string(::getpid()) + "_serve";
  std::vector<std::unique_ptr<ServerProcess>> servers;
  for (int i = 0; i < instances; ++i) {
    // The clients share one address: the per-client cap is raised to let every connection in.
    servers.push_back(std::make_unique<ServerProcess>(
        std::vector<std::string>{"--directory", directory_uri},
        dir / (name + "-" + std::to_string(i) + ".log"),
        std::vector<std::string>{"--max-connections-per-client", std::to_string(kClients * kSessionsPerClient)},
        application + std::to_string(i)));
  }

  // Each client's sessions: kSessionsPerClient (company, user) pairs drawn without repeats from a
  // seeded shuffle, the same ones every run.
  std::vector<std::pair<size_t, int>> slots;
  for (size_t company = 0; company < companies.size(); ++company) {
    for (int user = 0; user < users; ++user) slots.emplace_back(company, user);
  }
  std::mt19937 shuffle(20261209);
  std::shuffle(slots.begin(), slots.end(), shuffle);
  struct Client {
    std::vector<const ServedCompany*> companies;
    std::vector<std::unique_ptr<RpcClient>> sessions;
    std::mt19937 random;
  };
  std::vector<Client> clients(kClients);
  std::atomic<int> failed_logons{0};
  {
    std::vector<std::thread> logging_on;
    for (int c = 0; c < kClients; ++c) {
      logging_on.emplace_back([&, c] {
        Client& client = clients[c];
        client.random.seed(static_cast<unsigned>(1000 + c));
        for (int s = 0; s < kSessionsPerClient; ++s) {
          const auto& [company, user] = slots[static_cast<size_t>(c * kSessionsPerClient + s)];
          client.companies.push_back(&companies[company]);
          client.sessions.push_back(std::make_unique<RpcClient>(servers[c % instances]->port()));
          if (!client.sessions.back()->Logon(companies[company].name, UserName(user), UserName(user))) ++failed_logons;
        }
      });
    }
    for (std::thread& thread : logging_on) thread.join();
  }
  if (failed_logons > 0) {
    throw std::runtime_error(name + ": " + std::to_string(failed_logons.load()) + " logons of " +
                             std::to_string(kClients * kSessionsPerClient) + " failed; see " + dir.string() + "/" +
                             name + "-*.log");
  }

  SessionSampler sampler(directory_uri, second_server, application);
  std::vector<double> rates, p50s, p99s;
  int64_t errors = 0;
  for (int run = 0; run < runs; ++run) {
    ::bench::CheckInterrupted();
    // Logging on took seconds: no call should race the service closing an idle connection.
    for (Client& client : clients) {
      for (auto& session : client.sessions) session->Reconnect();
    }
    std::vector<std::vector<double>> latencies(kClients);
    std::atomic<int64_t> cheques{0}, run_errors{0};
    sampler.Start();
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> running;
    for (int c = 0; c < kClients; ++c) {
      running.emplace_back([&, c] {
        Client& client = clients[c];
        std::uniform_int_distribution<size_t> pick(0, client.sessions.size() - 1);
        while (Clock::now() < end) {
          const size_t at = pick(client.random);
          const auto began = Clock::now();
          if (HttpCheque(*client.sessions[at], *client.companies[at])) {
            ++cheques;
            latencies[c].push_back(std::chrono::duration<double, std::milli>(Clock::now() - began).count());
          } else {
            ++run_errors;
          }
        }
      });
    }
    for (std::thread& thread : running) thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    sampler.Stop();
    std::vector<double> all;
    for (const auto& list : latencies) all.insert(all.end(), list.begin(), list.end());
    rates.push_back(static_cast<double>(cheques.load()) / elapsed);
    p50s.push_back(Percentile(all, 0.50));
    p99s.push_back(Percentile(all, 0.99));
    errors += run_errors.load();
  }
  clients.clear();
  int worst_exit = 0;
  for (auto& server : servers) {
    const int stopped = server->Stop();
    if (stopped != 0) worst_exit = stopped;
  }
  std::printf("{\"name\":\"%s\",\"companies\":%zu,\"clients\":%d,\"instances\":%d,\"ops_per_s\":%.1f,"
              "\"p50_ms\":%.3f,\"p99_ms\":%.3f,\"errors\":%lld,\"server_sessions_most\":[%lld,%lld],"
              "\"runs\":%d,\"exit\":%d}\n",
              name.c_str(), companies.size(), kClients, instances, Median(rates), Median(p50s), Median(p99s),
              static_cast<long long>(errors), static_cast<long long>(sampler.Most(0)),
              static_cast<long long>(sampler.Most(1)), runs, worst_exit);
  std::fflush(stdout);
}

}  // namespace

void RunProviderCases(const std::filesystem::path& dir, bool quick, int runs, const std::string& first,
                      const std::string& second, int companies) {
  if (companies < 2) throw std::runtime_error("--companies " + std::to_string(companies) + ": at least 2");
  ProviderCompanies made(first, second);
  const auto start = Clock::now();
  constexpr int kSessions = kClients * kSessionsPerClient;
  const int users = (kSessions + companies - 1) / companies;
  made.Make(companies, users);
  std::fprintf(stderr, "ledgerkit-bench: %d companies made in %.0f s\n", companies,
               std::chrono::duration<double>(Clock::now() - start).count());
  const double seconds = quick ? 5.0 : 20.0;
  RunProviderCase("serve_provider", 1, made, users, first, second, dir, seconds, runs);
  RunProviderCase("serve_provider_two_instances", 2, made, users, first, second, dir, seconds, runs);
}

}  // namespace ledgerkit::bench
