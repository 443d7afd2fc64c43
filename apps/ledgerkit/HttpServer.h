// HttpServer: the HTTP/1.1 transport of `ledgerkit serve`, fit to face the network. One or two
// I/O threads carry every connection (reading, idle keep-alive, writing); a fixed set of worker
// threads runs only requests read whole, taken from a bounded queue. Every limit is the server's
// own: a deadline for the whole request, a cap on connections overall and per client address, a
// body limit that holds for chunked bodies too, and an answer deadline after which the caller
// gets 503 while the worker stays busy and counted.
//
// Lifetime: construct, Listen, Start, then Drain once (from the thread that constructed it).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Service.h"

namespace ledgerkit::cli {

struct HttpServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
  size_t workers = 8;
  size_t queue = 64;  // requests waiting for a worker beyond those running
  size_t max_body = size_t{1} << 20;
  // A new connection's request, and a kept-alive connection's next request once its first byte
  // came, must be read whole within read_timeout; an idle kept-alive connection is closed after
  // keep_alive_timeout. Writing an answer is held to read_timeout as well.
  std::chrono::seconds read_timeout{10};
  std::chrono::seconds keep_alive_timeout{30};
  // Counted from when a request was read whole: the caller then gets 503.
  std::chrono::seconds request_timeout{30};
  std::chrono::seconds drain_timeout{30};
  size_t max_connections = 1024;
  size_t max_connections_per_client = 32;  // per peer address; trusted_proxy is not held to it
  std::string trusted_proxy;
  std::vector<std::string> allowed_origins;  // CORS: origins whose pages may call POST /rpc
  // The worker affinity of a request's bearer token (requests of one affinity go to the worker
  // that ran the last one, when it is idle); the token itself when not given.
  std::function<std::string(std::string_view token)> affinity;
  // Given at GET /openrpc.json when not empty: the OpenRPC document of the protocol.
  std::string openrpc_document;
};

// Runs one POST /rpc body on a worker thread: the body, the bearer token (empty when none was
// sent), the client address (X-Forwarded-For's last entry when the peer is the trusted proxy) and
// the moment the caller is answered 503 if the answer is not ready. Exceptions become 500.
using RpcHandler = std::function<ServiceAnswer(std::string_view body, std::string_view token, std::string_view client,
                                               std::chrono::steady_clock::time_point deadline)>;

class HttpServer {
 public:
  HttpServer(HttpServerOptions options, RpcHandler handler);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and listens; returns the port bound. Throws Error (invalid argument) naming the
  // address when it cannot listen there.
  int Listen();

  // Starts the I/O threads and the workers; connections are accepted from here on.
  void Start();

  // Stops accepting, calls `stop_work` (which should make long work give up), closes idle
  // connections and lets every request being read, queued or run finish and be answered. Returns
  // 0 once all is done within drain_timeout. When the time is over: if a worker is still busy, a
  // line on standard error and the process ends at once with status 1 (the stuck work is not
  // waited for); if only connections are left (clients still sending), they are cut, a line goes
  // to standard error and 1 is returned.
  int Drain(const std::function<void()>& stop_work);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ledgerkit::cli
