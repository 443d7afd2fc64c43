#include "Serve.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <functional>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <CLI/CLI.hpp>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "automation/Service.h"
#include "common/Error.h"

namespace ledgerkit::cli {

namespace {

struct ServeOptions {
  std::string listen = "127.0.0.1:8080";
  std::string data_dir;
  std::string server;
  size_t threads = 8;
  int64_t session_idle_minutes = 30;
  size_t max_body = size_t{1} << 20;
  int64_t request_timeout_seconds = 30;
  size_t max_handles = 10'000;
  std::string trusted_proxy;
};

// Host and port of "HOST:PORT" or "[V6]:PORT"; port 0 takes any free port.
bool SplitListen(const std::string& text, std::string& host, int& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  try {
    size_t used = 0;
    port = std::stoi(text.substr(colon + 1), &used);
    return used == text.size() - colon - 1 && port >= 0 && port <= 65535;
  } catch (const std::exception&) {
    return false;
  }
}

// A value for the access log: one word of printable characters, so a caller cannot forge lines.
std::string LogWord(const std::string& text) {
  if (text.empty()) return "-";
  std::string word;
  for (const char c : text.substr(0, 64)) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '_' || c == '-' || c == '@' || c == ':' || c == '/';
    word += plain ? c : '?';
  }
  return word;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// What the handler knew about a request, for the log line written after the response; the
// logger runs on the thread that ran the handler.
struct LogFields {
  std::string company, user, method;
  std::chrono::steady_clock::time_point start;
  bool set = false;
};
thread_local LogFields log_fields;

std::string ErrorBody(int32_t number, const std::string& description) {
  const Error error = Error::Runtime(number, description);
  std::string quoted = nlohmann::json(error.description()).dump();
  return R"({"jsonrpc":"2.0","id":null,"error":{"code":)" + std::to_string(number) + R"(,"message":)" + quoted +
         R"(,"data":{"number":)" + std::to_string(number) + R"(,"source":)" + nlohmann::json(error.source()).dump() +
         R"(,"description":)" + quoted + "}}}";
}

// Work handed to threads of its own so that a handler can stop waiting for it; shutdown waits
// until every piece has finished, so nothing a caller was told is lost. A piece never waits for
// a thread: when none is idle another one starts, so work that outlasts its request cannot hold
// up the next. Threads are kept while they find work and leave after a minute without it, and a
// piece goes to the thread that ran the last piece of the same affinity (a session's token)
// when that thread is idle: the library keeps each thread's open connections (a few) for its
// next call, so a session that stays on its thread spares each request the open, the schema
// check and the statement compiles that a thread serving many companies in turn would pay.
class Jobs {
 public:
  ~Jobs() { WaitAll(); }

  std::future<ServiceAnswer> Start(const std::string& affinity, std::function<ServiceAnswer()> work) {
    std::promise<ServiceAnswer> promise;
    std::future<ServiceAnswer> result = promise.get_future();
    std::lock_guard lock(mutex_);
    ++running_;
    Worker* worker = nullptr;
    if (const auto last = last_.find(affinity); !affinity.empty() && last != last_.end() && last->second->idle) {
      worker = last->second;
      std::erase(idle_, worker);
    } else if (!idle_.empty()) {
      worker = idle_.back();
      idle_.pop_back();
    }
    const bool new_worker = worker == nullptr;
    if (new_worker) worker = workers_.emplace_back(std::make_unique<Worker>()).get();
    worker->idle = false;
    worker->work = std::move(work);
    worker->promise = std::move(promise);
    if (new_worker) {
      std::thread([this, worker] { Loop(*worker); }).detach();
    } else {
      worker->wake.notify_one();
    }
    if (!affinity.empty()) {
      if (last_.size() >= kMaxAffinities) last_.clear();
      last_[affinity] = worker;
    }
    return result;
  }

  // Waits for every piece started, then for every thread to leave.
  void WaitAll() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return running_ == 0; });
    stopping_ = true;
    for (Worker* worker : idle_) worker->wake.notify_one();
    changed_.wait(lock, [this] { return workers_.empty(); });
  }

 private:
  static constexpr auto kIdleLife = std::chrono::seconds(60);
  static constexpr size_t kMaxAffinities = 10'000;

  struct Worker {
    std::condition_variable wake;
    std::function<ServiceAnswer()> work;  // given by Start while the worker is idle
    std::promise<ServiceAnswer> promise;
    bool idle = false;
  };

  void Loop(Worker& self) {
    std::unique_lock lock(mutex_);
    while (self.work) {
      std::function<ServiceAnswer()> work = std::move(self.work);
      self.work = nullptr;
      std::promise<ServiceAnswer> promise = std::move(self.promise);
      lock.unlock();
      std::optional<ServiceAnswer> answer;
      std::exception_ptr failure;
      try {
        answer = work();
      } catch (...) {
        failure = std::current_exception();
      }
      // Idle before the answer is handed over, so that the session's next request, which may
      // come as soon as the answer is out, finds this thread free.
      lock.lock();
      self.idle = true;
      idle_.push_back(&self);
      lock.unlock();
      if (failure) {
        promise.set_exception(failure);
      } else {
        promise.set_value(std::move(*answer));
      }
      lock.lock();
      if (--running_ == 0) changed_.notify_all();
      if (!self.wake.wait_for(lock, kIdleLife, [&] { return self.work != nullptr || stopping_; })) break;
    }
    // Idle for too long, or shutting down: Start can no longer reach this worker.
    std::erase(idle_, &self);
    std::erase_if(last_, [&self](const auto& entry) { return entry.second == &self; });
    // The last touch of this object: WaitAll returns only once every worker is gone.
    std::erase_if(workers_, [&self](const std::unique_ptr<Worker>& worker) { return worker.get() == &self; });
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Worker>> workers_;   // one per thread alive
  std::vector<Worker*> idle_;                      // waiting for work, the most recently idle last
  std::unordered_map<std::string, Worker*> last_;  // the worker of each affinity's last piece
  size_t running_ = 0;                             // pieces started and not finished
  bool stopping_ = false;
};

int Serve(const ServeOptions& options, std::ostream& out) {
  std::string host;
  int port = 0;
  if (!SplitListen(options.listen, host, port)) {
    throw Error::Runtime(kInvalidArgument, "--listen takes HOST:PORT, not \"" + options.listen + "\".");
  }
  if (options.data_dir.empty() == options.server.empty()) {
    throw Error::Runtime(kInvalidArgument, "Give the companies' place: either --data FOLDER or --server URI.");
  }
  if (!options.server.empty()) {
    CheckServerUri(options.server);
  } else {
    std::error_code ignored;
    if (!std::filesystem::is_directory(options.data_dir, ignored)) {
      throw Error::Runtime(kInvalidArgument, "The data folder \"" + options.data_dir + "\" is not a folder.");
    }
  }

  // Signals are taken by one thread that waits for them; every thread started from here on
  // inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  ServiceOptions service_options;
  if (options.server.empty()) service_options.data_dir = std::filesystem::absolute(options.data_dir);
  service_options.server = options.server;
  service_options.session_idle = std::chrono::minutes(options.session_idle_minutes);
  service_options.max_handles_per_session = options.max_handles;
  RpcService service(service_options);
  Jobs jobs;

  httplib::Server server;
  const size_t threads = options.threads;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  server.set_payload_max_length(options.max_body);
  // A response goes out at once: with Nagle's algorithm on, an answer written in two pieces
  // waits for the client's delayed acknowledgement (40 ms on Linux) on every request.
  server.set_tcp_nodelay(true);
  // Slow or idle clients give their thread back.
  server.set_read_timeout(10, 0);
  server.set_write_timeout(10, 0);
  server.set_keep_alive_timeout(5);
  server.set_keep_alive_max_count(100);

  server.Get("/health", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("{\"status\":\"ok\"}", "application/json");
  });

  const std::chrono::seconds timeout(options.request_timeout_seconds);
  const std::string trusted_proxy = options.trusted_proxy;
  server.Post("/rpc", [&](const httplib::Request& request, httplib::Response& response) {
    log_fields = LogFields{};
    log_fields.start = std::chrono::steady_clock::now();
    log_fields.set = true;
    std::string token;
    const std::string authorization = request.get_header_value("Authorization");
    if (authorization.size() > 7 && authorization.compare(0, 7, "Bearer ") == 0) token = authorization.substr(7);
    std::string client = request.remote_addr;
    if (!trusted_proxy.empty() && client == trusted_proxy && request.has_header("X-Forwarded-For")) {
      // The proxy appends the address it took the request from; earlier entries are the client's word.
      const std::string forwarded = request.get_header_value("X-Forwarded-For");
      const size_t comma = forwarded.rfind(',');
      client = forwarded.substr(comma == std::string::npos ? 0 : comma + 1);
      client.erase(0, client.find_first_not_of(' '));
    }
    std::future<ServiceAnswer> pending = jobs.Start(token, [&service, body = request.body, token, client] {
      try {
        return service.Handle(body, token, client);
      } catch (const std::exception& error) {
        ServiceAnswer failed;
        failed.status = 500;
        failed.body = ErrorBody(kInvalidArgument, HideCredentials(error.what()));
        return failed;
      }
    });
    if (pending.wait_for(timeout) != std::future_status::ready) {
      response.status = 503;
      response.set_content(ErrorBody(kInvalidArgument,
                                     "The request took longer than " + std::to_string(timeout.count()) +
                                         " seconds; it goes on, and its outcome is unknown."),
                           "application/json");
      return;
    }
    const ServiceAnswer answer = pending.get();
    log_fields.company = answer.company;
    log_fields.user = answer.user;
    log_fields.method = answer.method;
    response.status = answer.status;
    if (answer.status == 401) response.set_header("WWW-Authenticate", "Bearer");
    if (answer.status == 429) response.set_header("Retry-After", "60");
    if (!answer.body.empty()) response.set_content(answer.body, "application/json");
  });

  server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
    const LogFields fields = log_fields.set ? log_fields : LogFields{};
    log_fields = LogFields{};
    std::string milliseconds = "-";
    if (fields.set) {
      milliseconds = std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - fields.start)
                                        .count());
    }
    const std::string line = UtcNow() + " " + LogWord(request.remote_addr) + " " + LogWord(fields.company) + " " +
                             LogWord(fields.user) + " " + LogWord(fields.method.empty() ? request.path : fields.method) +
                             " " + std::to_string(response.status) + " " + milliseconds + "ms\n";
    std::cerr << line << std::flush;
  });

  const int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  if (bound < 0) throw Error::Runtime(kInvalidArgument, "Cannot listen on " + options.listen + ".");

  std::mutex state_mutex;
  std::condition_variable state_changed;
  bool listening_over = false;
  std::thread stopper([&] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    // stop() does nothing before the server runs; it is repeated until listening is over.
    std::unique_lock lock(state_mutex);
    while (!listening_over) {
      server.stop();
      state_changed.wait_for(lock, std::chrono::milliseconds(50));
    }
  });

  out << "ledgerkit serve: listening on " << (host.find(':') != std::string::npos ? "[" + host + "]" : host) << ":"
      << bound << std::endl;
  const bool listened = server.listen_after_bind();
  {
    std::lock_guard lock(state_mutex);
    listening_over = true;
  }
  state_changed.notify_all();
  // Wakes the stopper when listening ended for any other reason than a signal.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  jobs.WaitAll();
  return listened ? 0 : 1;
}

}  // namespace

Subcommand AddServeCommand(CLI::App& app) {
  auto options = std::make_shared<ServeOptions>();
  auto* command = app.add_subcommand(
      "serve", "Serve the JSON-RPC bridge over HTTP (POST /rpc, GET /health), companies by name, logon enforced.");
  command->add_option("--listen", options->listen, "HOST:PORT to listen on (port 0: any free port)")->capture_default_str();
  auto* data = command->add_option("--data", options->data_dir, "Folder of the company files, NAME.ldb");
  auto* server = command->add_option("--server", options->server,
                                     "PostgreSQL server URI without company= (postgresql://user@host:port/database): "
                                     "company NAME is the schema NAME there");
  data->excludes(server);
  server->excludes(data);
  command->add_option("--threads", options->threads, "Requests served at once")->check(CLI::PositiveNumber)->capture_default_str();
  command->add_option("--session-idle", options->session_idle_minutes, "Minutes without a call after which a session ends")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  command->add_option("--max-body", options->max_body, "Largest request body in bytes; a larger one gets 413")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  command->add_option("--request-timeout", options->request_timeout_seconds,
                      "Seconds after which a request is answered with an error (503) while it goes on")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  command->add_option("--max-handles", options->max_handles, "Most objects one session holds at once")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  command->add_option("--trusted-proxy", options->trusted_proxy,
                      "Address of a reverse proxy whose X-Forwarded-For names the client (for the limit on failed logons)");
  return Subcommand{command, [options](std::ostream& out) { return Serve(*options, out); }};
}

}  // namespace ledgerkit::cli
