#include "Serve.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "HttpServer.h"
#include "automation/Directory.h"
#include "automation/OpenRpc.h"
#include "automation/Service.h"
#include "ledgerkit/common/Error.h"
#include "common/Text.h"

namespace ledgerkit::cli {

namespace {

struct ServeOptions {
  std::string listen = "127.0.0.1:8080";
  std::string data_dir;
  std::string server;
  std::string directory;
  int64_t directory_cache_ms = 5000;
  size_t threads = 8;
  size_t queue = 64;
  int64_t session_idle_minutes = 30;
  size_t max_body = size_t{1} << 20;
  int64_t read_timeout_seconds = 10;
  int64_t keep_alive_timeout_seconds = 30;
  int64_t request_timeout_seconds = 30;
  int64_t drain_timeout_seconds = 30;
  int64_t report_timeout_seconds = 30;
  size_t session_memory = size_t{64} << 20;
  size_t max_connections = 1024;
  size_t max_connections_per_client = 32;
  size_t max_handles = 10'000;
  std::string trusted_proxy;
  std::vector<std::string> allowed_origins;
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

// Every connection is a descriptor: the soft limit (often 1024) is raised to the hard one so
// that --max-connections, not the kernel, is what refuses a client.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int Serve(const ServeOptions& options, std::ostream& out) {
  std::string host;
  int port = 0;
  if (!SplitListen(options.listen, host, port)) {
    throw Error::Runtime(kInvalidArgument, "--listen takes HOST:PORT, not " + QuoteForMessage(options.listen) + ".");
  }
  if (int{!options.data_dir.empty()} + int{!options.server.empty()} + int{!options.directory.empty()} != 1) {
    throw Error::Runtime(kInvalidArgument,
                         "Give the companies' place: one of --data FOLDER, --server URI or --directory URI.");
  }
  if (!options.directory.empty()) {
    // Reached once now, so that a directory that cannot be reached or was never made is told at
    // the start rather than at the first call.
    static_cast<void>(CompanyDirectory(options.directory).Find(""));
  } else if (!options.server.empty()) {
    CheckServerUri(options.server);
  } else {
    std::error_code ignored;
    if (!std::filesystem::is_directory(options.data_dir, ignored)) {
      throw Error::Runtime(kInvalidArgument, "The data folder " + QuoteForMessage(options.data_dir) + " is not a folder.");
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
  if (!options.data_dir.empty()) service_options.data_dir = std::filesystem::absolute(options.data_dir);
  service_options.server = options.server;
  service_options.directory = options.directory;
  service_options.directory_cache = std::chrono::milliseconds(options.directory_cache_ms);
  service_options.session_idle = std::chrono::minutes(options.session_idle_minutes);
  service_options.max_handles_per_session = options.max_handles;
  service_options.report_timeout = std::chrono::seconds(options.report_timeout_seconds);
  service_options.max_session_bytes = options.session_memory;
  RpcService service(service_options);

  HttpServerOptions http;
  http.host = host;
  http.port = port;
  http.workers = options.threads;
  http.queue = options.queue;
  http.max_body = options.max_body;
  http.read_timeout = std::chrono::seconds(options.read_timeout_seconds);
  http.keep_alive_timeout = std::chrono::seconds(options.keep_alive_timeout_seconds);
  http.request_timeout = std::chrono::seconds(options.request_timeout_seconds);
  http.drain_timeout = std::chrono::seconds(options.drain_timeout_seconds);
  http.max_connections = options.max_connections;
  http.max_connections_per_client = options.max_connections_per_client;
  http.trusted_proxy = options.trusted_proxy;
  http.allowed_origins = options.allowed_origins;
  // Calls on one company go to one worker when it is free: its kept connections serve them all.
  http.affinity = [&service](std::string_view token) { return service.CompanyOf(token); };
  http.openrpc_document = DescribeOpenRpc();
  RaiseDescriptorLimit();
  HttpServer server(std::move(http), [&service](std::string_view body, std::string_view token,
                                                std::string_view client, std::chrono::steady_clock::time_point deadline) {
    return service.Handle(body, token, client, deadline);
  });
  const int bound = server.Listen();
  server.Start();
  out << "ledgerkit serve: listening on " << (host.find(':') != std::string::npos ? "[" + host + "]" : host) << ":"
      << bound << std::endl;

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  return server.Drain([] { RpcService::StopReports(); });
}

// An option that takes a positive number, its default shown in --help.
template <class Value>
void AddPositive(CLI::App* command, const std::string& name, Value& value, const std::string& help) {
  command->add_option(name, value, help)->check(CLI::PositiveNumber)->capture_default_str();
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
  auto* directory = command->add_option("--directory", options->directory,
                                        "PostgreSQL database URI of a company directory (ledgerkit directory init): "
                                        "company NAME is where the directory says, on any server or in any file");
  data->excludes(server)->excludes(directory);
  server->excludes(data)->excludes(directory);
  directory->excludes(data)->excludes(server);
  AddPositive(command, "--directory-cache-ms", options->directory_cache_ms,
              "Milliseconds a name looked up in the --directory (found or not) is kept before it is read again");
  AddPositive(command, "--threads", options->threads, "Worker threads: requests run at once");
  AddPositive(command, "--queue", options->queue,
              "Requests waiting for a worker beyond those running; one more is answered 503 at once");
  AddPositive(command, "--session-idle", options->session_idle_minutes,
              "Minutes without a call after which a session ends");
  AddPositive(command, "--max-body", options->max_body,
              "Largest request body in bytes, chunked or not; a larger one gets 413 and the connection closes");
  AddPositive(command, "--read-timeout", options->read_timeout_seconds,
              "Seconds for a whole request (header and body) from its first byte; a slower one is cut off");
  AddPositive(command, "--keep-alive-timeout", options->keep_alive_timeout_seconds,
              "Seconds an idle kept-alive connection stays open");
  AddPositive(command, "--request-timeout", options->request_timeout_seconds,
              "Seconds from a request read whole to its answer; later it is answered 503 (a queued one is "
              "never run, a running one goes on and keeps its worker)");
  AddPositive(command, "--drain-timeout", options->drain_timeout_seconds,
              "Seconds SIGTERM/SIGINT waits for requests in flight before leaving with status 1");
  AddPositive(command, "--report-timeout", options->report_timeout_seconds,
              "Seconds after which a report query is stopped with an error");
  AddPositive(command, "--session-memory", options->session_memory,
              "Most bytes of held objects one session keeps (results go by value; past it a hold is refused)");
  AddPositive(command, "--max-connections", options->max_connections,
              "Most connections open at once; past it a new one is closed unanswered");
  AddPositive(command, "--max-connections-per-client", options->max_connections_per_client,
              "Most connections open at once from one address (the --trusted-proxy is exempt); past it a new "
              "one is closed unanswered");
  AddPositive(command, "--max-handles", options->max_handles, "Most objects one session holds at once");
  command->add_option("--trusted-proxy", options->trusted_proxy,
                      "Address of a reverse proxy whose X-Forwarded-For names the client (for the limit on failed "
                      "logons); not held to --max-connections-per-client");
  command->add_option("--allow-origin", options->allowed_origins,
                      "Origin (scheme://host:port) whose web pages may call POST /rpc (CORS); repeatable, none by default");
  return Subcommand{command, [options](std::ostream& out) { return Serve(*options, out); }};
}

}  // namespace ledgerkit::cli
