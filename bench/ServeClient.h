// The service side of the bench's serve cases, shared by Serve.cpp and Provider.cpp: a
// `ledgerkit serve` process of the bench's own and the HTTP client that drives it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"

namespace ledgerkit::bench {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

// One company of the data folder: its name, its file and the two accounts a cheque uses.
struct ServedCompany {
  std::string name;
  std::string path;
  int32_t bank = 0;
  int32_t expense = 0;
};

// Makes the company at `company.path`, its first user `user` (password the same) able to log on,
// with the bank and expense accounts the cheques go between, under one type.
inline void MakeServedCompany(ServedCompany& company, const std::string& company_name, const std::string& user) {
  CreateSubscriberDatabase(company.path, company_name, FirstUser{user, user});
  CACMgr ledger;
  const Variant type = ledger.AddAccountType(company.path, user, "", "Any", "", false, bstASSET);
  company.bank = ToLong(ledger.AddAccount(company.path, user, "", "1000", "Bank", "", "", false, "", "", type, ""));
  company.expense = ToLong(ledger.AddAccount(company.path, user, "", "5000", "Expense", "", "", false, "", "", type, ""));
}

// `ledgerkit serve` with `source` (--data DIR, --server URI or --directory URI) and `extra`, on a
// free loopback port, its access log in `log`. `application_name`, when given, is what the
// process's server sessions show in pg_stat_activity (PGAPPNAME), so that they can be counted.
class ServerProcess {
 public:
  ServerProcess(const std::filesystem::path& data, const std::filesystem::path& log, const std::vector<std::string>& extra)
      : ServerProcess({"--data", data.string()}, log, extra, "") {}
  ServerProcess(const std::vector<std::string>& source, const std::filesystem::path& log,
                const std::vector<std::string>& extra, const std::string& application_name) {
    const char* override_path = std::getenv("LEDGERKIT_CLI");
    std::string cli = override_path != nullptr ? override_path : LEDGERKIT_CLI_PATH;
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(err, STDERR_FILENO);
      close(out[0]);
      if (!application_name.empty()) setenv("PGAPPNAME", application_name.c_str(), 1);
      std::vector<std::string> args = {cli, "serve"};
      args.insert(args.end(), source.begin(), source.end());
      args.push_back("--listen");
      args.push_back("127.0.0.1:0");
      args.insert(args.end(), extra.begin(), extra.end());
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
      pollfd wait{out[0], POLLIN, 0};
      if (poll(&wait, 1, 1000) <= 0) continue;
      char buffer[256];
      const ssize_t got = read(out[0], buffer, sizeof buffer);
      if (got <= 0) break;
      line.append(buffer, static_cast<size_t>(got));
    }
    close(out[0]);
    const size_t colon = line.rfind(':');
    if (colon == std::string::npos) {
      Stop();
      throw std::runtime_error("ledgerkit serve (" + cli + ") printed no address; see " + log.string());
    }
    port_ = std::stoi(line.substr(colon + 1));
  }

  ~ServerProcess() { Stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }

  // SIGTERM, then the exit code (-1 when it had to be killed).
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// One client: a keep-alive connection and, once logged on, a session's token.
class RpcClient {
 public:
  explicit RpcClient(int port) : http_("127.0.0.1", port) {
    http_.set_keep_alive(true);
    http_.set_tcp_nodelay(true);
    http_.set_read_timeout(120, 0);
  }

  // The result value of one call, or nothing (counted as an error) when it failed.
  std::optional<Json> Call(const std::string& method, const Json& params) {
    const std::string body =
        Json{{"jsonrpc", "2.0"}, {"id", ++id_}, {"method", method}, {"params", params}}.dump();
    httplib::Headers headers;
    if (!token_.empty()) headers.emplace("Authorization", "Bearer " + token_);
    const auto response = http_.Post("/rpc", headers, body, "application/json");
    if (!response) return Failed(method + ": " + httplib::to_string(response.error()));
    if (response->status != 200) return Failed(method + ": HTTP " + std::to_string(response->status) + " " + response->body);
    Json answer = Json::parse(response->body, nullptr, false);
    if (!answer.is_object() || !answer.contains("result")) return Failed(method + ": " + response->body);
    return answer["result"]["value"];
  }

  // Closes the kept connection; the next call opens a new one. Used before a client's calls
  // resume after a pause near the server's keep-alive timeout (5 s), so that no call races the
  // server closing an idle connection.
  void Reconnect() { http_.stop(); }

  bool Logon(const std::string& company, const std::string& user, const std::string& password) {
    const auto token = Call("CSecurityMgr.BeginUserSession", {company, user, password});
    if (!token || !token->is_string()) return false;
    token_ = token->get<std::string>();
    return true;
  }

 private:
  // Says what failed on standard error, for the first few failures of the run.
  static std::nullopt_t Failed(const std::string& what) {
    static std::atomic<int> told{0};
    if (told++ < 5) std::fprintf(stderr, "ledgerkit-bench: %s\n", what.substr(0, 300).c_str());
    return std::nullopt;
  }

  httplib::Client http_;
  std::string token_;
  int id_ = 0;
};

// The cheque over HTTP: three requests. False when any of them failed.
inline bool HttpCheque(RpcClient& client, const ServedCompany& company) {
  const Json money = {{"$currency", "100"}};
  const auto number = client.Call("CACMgr.BeginTransaction",
                                  {company.name, "", "", static_cast<int32_t>(ttCHQ), {{"$date", "2026-03-01"}},
                                   "Cheque", company.bank, money, "", "memo", "1"});
  if (!number || !number->is_string()) return false;
  if (!client.Call("CACMgr.PostDebit", {company.name, *number, company.expense, money, "expense"})) return false;
  return client.Call("CACMgr.EndTransaction", {company.name, *number}).has_value();
}

inline double Percentile(std::vector<double>& values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
  return values[at];
}

}  // namespace ledgerkit::bench
