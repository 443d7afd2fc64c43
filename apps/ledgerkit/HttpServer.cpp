#include "HttpServer.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>  // before Asio: Boost 1.74's awaitable.hpp uses std::exchange without it

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "common/Text.h"

namespace ledgerkit::cli {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// The number of every refusal the HTTP layer makes itself (a limit of the service was reached,
// or the request is not one it serves), so that a client tells them from the bridge's answers.
constexpr int32_t kRefusedNumber = 70;
constexpr size_t kHeaderLimit = 16 * 1024;
// After a refusal sent before the request was read whole, what the client still sends is read
// and dropped for this long before the connection closes: closing with unread bytes would make
// the kernel reset the connection, and the client could lose the answer.
constexpr auto kLingerTime = std::chrono::seconds(2);
constexpr size_t kLingerChunk = 16 * 1024;
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);

std::string Text(beast::string_view view) { return std::string(view.data(), view.size()); }

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

std::string Seconds(std::chrono::seconds value) { return std::to_string(value.count()) + " seconds"; }

// Work for the fixed worker threads: a bounded queue, so a request beyond it is refused at once
// instead of waiting unseen. Busy() counts jobs queued and running, for the drain.
//
// A job goes to the idle worker that last ran a job of the same affinity (a session's token)
// when there is one: the library keeps each thread's open connections (a few) for its next
// call, so a session that stays on its thread spares each request the open, the schema check
// and the statement compiles that a thread serving many companies in turn would pay.
class WorkerPool {
 public:
  WorkerPool(size_t threads, size_t capacity) : workers_(threads), capacity_(capacity) {}

  ~WorkerPool() { Join(); }

  void Start() {
    for (Worker& worker : workers_) threads_.emplace_back([this, &worker] { Run(worker); });
  }

  // False, with nothing queued, when `capacity` jobs already wait.
  bool TrySubmit(const std::string& affinity, std::function<void()> job) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return false;
      Worker* chosen = nullptr;
      for (Worker& worker : workers_) {
        if (!worker.idle || worker.job) continue;
        if (!affinity.empty() && worker.last == affinity) {
          chosen = &worker;
          break;
        }
        if (chosen == nullptr) chosen = &worker;
      }
      if (chosen != nullptr) {
        chosen->job = std::move(job);
        chosen->last = affinity;
        chosen->idle = false;
        ++running_;
      } else {
        if (queue_.size() >= capacity_) return false;
        queue_.push_back({affinity, std::move(job)});
      }
    }
    wake_.notify_all();
    return true;
  }

  size_t Busy() const {
    std::lock_guard lock(mutex_);
    return queue_.size() + running_;
  }

  // Lets the workers run what is queued, then leave; returns once they have.
  void Join() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
    threads_.clear();
  }

  // Called whenever Busy() falls, from the worker that finished.
  void OnIdle(std::function<void()> notify) { on_idle_ = std::move(notify); }

 private:
  struct Queued {
    std::string affinity;
    std::function<void()> job;
  };
  struct Worker {
    std::function<void()> job;  // handed over by TrySubmit (counted running already)
    std::string last;           // the affinity of its last job
    bool idle = true;
  };

  void Run(Worker& self) {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || self.job || !queue_.empty(); });
      std::function<void()> job = std::move(self.job);
      self.job = nullptr;
      if (!job) {
        if (queue_.empty()) return;  // stopping, nothing left
        job = std::move(queue_.front().job);
        self.last = std::move(queue_.front().affinity);
        queue_.pop_front();
        ++running_;
      }
      self.idle = false;
      lock.unlock();
      job();
      job = nullptr;
      lock.lock();
      --running_;
      self.idle = true;
      if (on_idle_) on_idle_();
    }
  }

  std::vector<Worker> workers_;
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Queued> queue_;
  size_t running_ = 0;
  bool stopping_ = false;
  std::function<void()> on_idle_;
  std::vector<std::thread> threads_;
};

// Where a request handed to a worker stands; the worker and the answer deadline race for it.
enum JobState : int { kQueued, kRunning, kDone, kAbandoned };

class Connection;

// A JSON-RPC error response with no id, the body of every answer the HTTP layer gives itself.
std::string ErrorBody(int32_t number, const std::string& description) {
  const Error error = Error::Runtime(number, description);
  const std::string quoted = nlohmann::json(error.description()).dump();
  const std::string code = std::to_string(error.number());
  return R"({"jsonrpc":"2.0","id":null,"error":{"code":)" + code + R"(,"message":)" + quoted +
         R"(,"data":{"number":)" + code + R"(,"source":)" + nlohmann::json(error.source()).dump() +
         R"(,"description":)" + quoted + R"(,"text":)" + nlohmann::json(MessageForPerson(error)).dump() +
         "}}}";
}

// The state every connection shares: the options, the caps' counts, the workers, the I/O threads.
class Server {
 public:
  Server(HttpServerOptions options, RpcHandler handler)
      : options_(std::move(options)), handler_(std::move(handler)), workers_(options_.workers, options_.queue) {
    workers_.OnIdle([this] { changed_.notify_all(); });
  }

  ~Server() {
    ioc_.stop();
    for (std::thread& thread : io_threads_) {
      if (thread.joinable()) thread.join();
    }
    workers_.Join();
  }

  int Listen();
  void Start();
  int Drain(const std::function<void()>& stop_work);

  // For connections.
  const HttpServerOptions& options() const { return options_; }
  const RpcHandler& handler() const { return handler_; }
  WorkerPool& workers() { return workers_; }
  bool stopping() const { return stopping_.load(); }
  bool AllowedOrigin(const std::string& origin) const {
    for (const std::string& allowed : options_.allowed_origins) {
      if (allowed == origin) return true;
    }
    return false;
  }
  void Closed(uint64_t id, const std::string& peer);

 private:
  void Accept();
  void Admit(tcp::socket socket);

  const HttpServerOptions options_;
  const RpcHandler handler_;

  // Declared before the I/O context: connections still held by its handlers report here when
  // the context is destroyed.
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t open_ = 0;
  std::unordered_map<std::string, size_t> per_client_;
  std::unordered_map<uint64_t, std::weak_ptr<Connection>> connections_;
  uint64_t next_id_ = 0;
  std::atomic<bool> stopping_{false};

  net::io_context ioc_;
  net::strand<net::io_context::executor_type> accept_strand_{net::make_strand(ioc_)};
  tcp::acceptor acceptor_{accept_strand_};
  net::steady_timer accept_retry_{accept_strand_};
  WorkerPool workers_;
  // Keeps the I/O threads running until the drain is over: without it, the moment the acceptor
  // closes while no connection has an operation pending, run() finds no work and returns in
  // every thread, and whatever the drain posts afterwards (a connection's stop) never runs.
  std::optional<net::executor_work_guard<net::io_context::executor_type>> keep_running_;
  std::vector<std::thread> io_threads_;
};


// One client connection, driven on its own strand: wait for a request's first byte, read its
// header and body under one deadline, answer at once or hand it to a worker, write, repeat.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(Server& server, tcp::socket socket, uint64_t id, std::string peer)
      : server_(server),
        stream_(std::move(socket)),
        answer_deadline_(stream_.get_executor()),
        id_(id),
        peer_(std::move(peer)) {}

  ~Connection() { server_.Closed(id_, peer_); }

  void Begin() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->WaitForRequest(); });
  }

  // Shutdown: an idle connection closes now, a busy one after its answer.
  void Stop() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] {
      self->stopping_ = true;
      if (self->idle_) {
        beast::error_code ignored;
        self->stream_.socket().close(ignored);
      }
    });
  }

 private:
  const HttpServerOptions& options() const { return server_.options(); }

  // Up to the first byte of a request: a new connection gets read_timeout, a kept-alive one
  // keep_alive_timeout; bytes already buffered (a pipelined request) go straight on.
  void WaitForRequest() {
    if (stopping_ || server_.stopping()) return Close();
    if (buffer_.size() > 0) return ReadHeader();
    idle_ = true;
    stream_.expires_after(first_ ? options().read_timeout : options().keep_alive_timeout);
    stream_.async_read_some(buffer_.prepare(4096),
                            [self = shared_from_this()](beast::error_code error, size_t bytes) {
                              self->idle_ = false;
                              if (error) return self->Close();
                              self->buffer_.commit(bytes);
                              self->ReadHeader();
                            });
  }

  // From the first byte on, header and body share one deadline: a client sending a byte now and
  // then does not keep its request alive.
  void ReadHeader() {
    first_ = false;
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(options().max_body);
    stream_.expires_after(options().read_timeout);
    http::async_read_header(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code error, size_t) {
      self->OnHeader(error);
    });
  }

  void OnHeader(beast::error_code error) {
    if (error) return OnReadFailure(error);
    const auto& request = parser_->get();
    const std::string target = Text(request.target());
    path_ = target.substr(0, target.find('?'));
    what_ = path_;
    const std::string& path = path_;
    const std::string origin = Text(request[http::field::origin]);
    origin_ = !origin.empty() && server_.AllowedOrigin(origin) ? origin : "";
    const http::verb method = request.method();
    if (path == "/rpc") {
      if (method != http::verb::post && method != http::verb::options) {
        return Refuse(http::status::method_not_allowed, "/rpc takes POST (and OPTIONS from a browser), not " +
                                                            QuoteForMessage(Text(request.method_string())) + ".");
      }
    } else if (path == "/health" || (path == "/openrpc.json" && !options().openrpc_document.empty())) {
      if (method != http::verb::get) {
        return Refuse(http::status::method_not_allowed,
                      path + " takes GET, not " + QuoteForMessage(Text(request.method_string())) + ".");
      }
    } else {
      return Refuse(http::status::not_found, "There is nothing at " + QuoteForMessage(path) +
                                                 ": the service answers POST /rpc, GET /health and GET /openrpc.json.");
    }
    // A client that asks before sending its body is told to go on; a body over the limit was
    // refused with the header already.
    if (beast::iequals(request[http::field::expect], "100-continue")) {
      net::async_write(stream_, net::buffer(kContinue),
                       [self = shared_from_this()](beast::error_code write_error, size_t) {
                         if (write_error) return self->Close();
                         self->ReadBody();
                       });
      return;
    }
    ReadBody();
  }

  void ReadBody() {
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code error, size_t) {
      if (error) return self->OnReadFailure(error);
      self->Dispatch();
    });
  }

  void OnReadFailure(beast::error_code error) {
    if (what_.empty() && parser_ && parser_->is_header_done()) {
      const std::string target = Text(parser_->get().target());
      what_ = target.substr(0, target.find('?'));
    }
    if (error == http::error::body_limit) {
      // A declared length over the limit is refused while the header is still being parsed.
      const auto length = parser_->is_header_done() ? parser_->content_length() : boost::optional<std::uint64_t>();
      std::string size = length ? "of " + std::to_string(*length) + " bytes " : "";
      return Refuse(http::status::payload_too_large, "The request body " + size + "is larger than the " +
                                                          std::to_string(options().max_body) +
                                                          " bytes --max-body allows; it was not read.");
    }
    if (error == http::error::header_limit) {
      return Refuse(http::status::request_header_fields_too_large,
                    "The request header is larger than the " + std::to_string(kHeaderLimit) + " bytes allowed.");
    }
    if (error == beast::error::timeout) {
      // Too slow to send its request within --read-timeout: there is nobody to answer.
      Log(408, "-");
      return Close();
    }
    if (error.category() == http::make_error_code(http::error::bad_method).category() &&
        error != http::error::end_of_stream && error != http::error::partial_message) {
      return Refuse(http::status::bad_request, "The request is not valid HTTP/1.1: " + error.message() + ".");
    }
    Close();
  }

  void Dispatch() {
    started_ = Clock::now();
    stream_.expires_never();
    const auto& request = parser_->get();
    keep_alive_ = request.keep_alive();
    if (request.method() == http::verb::options) return Preflight();
    if (path_ == "/health") {
      return Respond(http::status::ok, "{\"status\":\"ok\"}", {});
    }
    if (path_ == "/openrpc.json") return Respond(http::status::ok, options().openrpc_document, {});
    std::string token;
    const std::string authorization = Text(request[http::field::authorization]);
    if (authorization.size() > 7 && authorization.compare(0, 7, "Bearer ") == 0) token = authorization.substr(7);
    std::string client = peer_;
    if (!options().trusted_proxy.empty() && peer_ == options().trusted_proxy &&
        request.find("X-Forwarded-For") != request.end()) {
      // The proxy appends the address it took the request from; earlier entries are the client's word.
      const std::string forwarded = Text(request["X-Forwarded-For"]);
      const size_t comma = forwarded.rfind(',');
      client = forwarded.substr(comma == std::string::npos ? 0 : comma + 1);
      client.erase(0, client.find_first_not_of(' '));
    }
    const Clock::time_point deadline = started_ + options().request_timeout;
    auto state = std::make_shared<std::atomic<int>>(kQueued);
    job_state_ = state;
    std::weak_ptr<Connection> weak = weak_from_this();
    const std::string affinity = options().affinity ? options().affinity(token) : token;
    const bool queued = server_.workers().TrySubmit(affinity,
        [weak, state, &handler = server_.handler(), body = std::move(parser_->get().body()), token, client, deadline] {
          int expected = kQueued;
          if (!state->compare_exchange_strong(expected, kRunning)) return;  // answered 503 while it waited
          ServiceAnswer answer;
          try {
            answer = handler(body, token, client, deadline);
          } catch (const std::exception& failure) {
            answer = ServiceAnswer{};
            answer.status = 500;
            answer.body = ErrorBody(kInvalidArgument, failure.what());
          }
          expected = kRunning;
          if (!state->compare_exchange_strong(expected, kDone)) return;  // answered 503 already
          if (auto self = weak.lock()) {
            net::post(self->stream_.get_executor(), [self, done = std::move(answer)]() mutable {
              self->OnAnswer(std::move(done));
            });
          }
        });
    if (!queued) {
      job_state_.reset();
      return Refuse(http::status::service_unavailable,
                    "Every worker is busy and the queue is full (--threads " + std::to_string(options().workers) +
                        ", --queue " + std::to_string(options().queue) + "); the request was not started.",
                    true);
    }
    answer_deadline_.expires_at(deadline);
    answer_deadline_.async_wait([self = shared_from_this()](beast::error_code error) {
      if (!error) self->OnAnswerDeadline();
    });
  }

  void OnAnswerDeadline() {
    if (!job_state_) return;
    int expected = kQueued;
    if (job_state_->compare_exchange_strong(expected, kAbandoned)) {
      job_state_.reset();
      return Refuse(http::status::service_unavailable,
                    "The request waited longer than " + Seconds(options().request_timeout) +
                        " (--request-timeout) for a free worker; it was not run.",
                    true);
    }
    expected = kRunning;
    if (job_state_->compare_exchange_strong(expected, kAbandoned)) {
      job_state_.reset();
      return Refuse(http::status::service_unavailable,
                    "The request took longer than " + Seconds(options().request_timeout) +
                        " (--request-timeout); it goes on, and its outcome is unknown.",
                    true);
    }
    // Done: its answer is on its way to this strand.
  }

  void OnAnswer(ServiceAnswer answer) {
    if (!job_state_) return;
    job_state_.reset();
    answer_deadline_.cancel();
    company_ = answer.company;
    user_ = answer.user;
    if (!answer.method.empty()) what_ = answer.method;
    std::vector<std::pair<http::field, std::string>> extra;
    if (answer.status == 401) extra.emplace_back(http::field::www_authenticate, "Bearer");
    if (answer.status == 429) extra.emplace_back(http::field::retry_after, "60");
    Respond(static_cast<http::status>(answer.status), std::move(answer.body), std::move(extra));
  }

  // CORS: a listed origin is told it may POST with these headers; any other is refused.
  void Preflight() {
    if (origin_.empty()) {
      const std::string origin = Text(parser_->get()[http::field::origin]);
      return Refuse(http::status::forbidden,
                    origin.empty() ? std::string("A preflight request names no Origin.")
                                   : "The origin " + QuoteForMessage(origin) +
                                         " is not allowed to call this service (--allow-origin).",
                    true);
    }
    Respond(http::status::no_content, "",
            {{http::field::access_control_allow_methods, "POST"},
             {http::field::access_control_allow_headers, "Authorization, Content-Type"},
             {http::field::access_control_max_age, "600"}});
  }

  // An answer the HTTP layer gives itself. Unless the request was read whole (`read_whole`),
  // the connection closes after it.
  void Refuse(http::status status, const std::string& description, bool read_whole = false) {
    if (!read_whole) {
      keep_alive_ = false;
      linger_ = true;
    }
    if (started_ == Clock::time_point{}) started_ = Clock::now();
    Respond(status, ErrorBody(kRefusedNumber, description), {});
  }

  void Respond(http::status status, std::string body,
               std::vector<std::pair<http::field, std::string>> extra) {
    response_ = {};
    response_.version(11);
    response_.result(status);
    if (!body.empty()) response_.set(http::field::content_type, "application/json");
    for (auto& [field, value] : extra) response_.set(field, value);
    if (!origin_.empty()) {
      response_.set(http::field::access_control_allow_origin, origin_);
      response_.set(http::field::vary, "Origin");
    }
    response_.body() = std::move(body);
    const bool close = !keep_alive_ || stopping_ || server_.stopping();
    response_.keep_alive(!close);
    response_.prepare_payload();
    stream_.expires_after(options().read_timeout);
    http::async_write(stream_, response_, [self = shared_from_this(), close](beast::error_code error, size_t) {
      self->Log(static_cast<int>(self->response_.result_int()), nullptr);
      self->Reset();
      if (error) return self->Close();
      if (close) return self->linger_ ? self->Linger() : self->Close();
      self->WaitForRequest();
    });
  }

  void Log(int status, const char* milliseconds) {
    std::string elapsed = milliseconds != nullptr ? milliseconds : "-";
    if (milliseconds == nullptr && started_ != Clock::time_point{}) {
      elapsed = std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count());
    }
    const std::string line = UtcNow() + " " + LogWord(peer_) + " " + LogWord(company_) + " " + LogWord(user_) + " " +
                             LogWord(what_) + " " + std::to_string(status) + " " + elapsed + "ms\n";
    std::cerr << line << std::flush;
  }

  void Reset() {
    company_.clear();
    user_.clear();
    what_.clear();
    path_.clear();
    started_ = {};
    keep_alive_ = true;
    parser_.reset();
  }

  // Reads and drops what the client still sends, so that it can read the refusal: until it stops
  // (a pause of kLingerTime) or for --read-timeout at most. A client writing a whole body before
  // it reads (most do) would otherwise be reset before it sees the answer.
  void Linger() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    buffer_.clear();
    linger_until_ = Clock::now() + options().read_timeout;
    LingerRead();
  }

  void LingerRead() {
    const Clock::time_point now = Clock::now();
    if (now >= linger_until_) return Close();
    stream_.expires_after(std::min<Clock::duration>(kLingerTime, linger_until_ - now));
    stream_.async_read_some(buffer_.prepare(kLingerChunk), [self = shared_from_this()](beast::error_code error, size_t) {
      self->buffer_.clear();
      if (error) return self->Close();
      self->LingerRead();
    });
  }

  void Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
  }

  static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

  Server& server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  http::response<http::string_body> response_;
  net::steady_timer answer_deadline_;
  std::shared_ptr<std::atomic<int>> job_state_;  // of the request a worker has, until answered
  const uint64_t id_;
  const std::string peer_;
  std::string path_;    // the current request's target without its query
  std::string origin_;  // the request's Origin when it is allowed, else empty
  // For the access log line of the current request.
  std::string company_, user_, what_;
  Clock::time_point started_{};
  bool first_ = true;       // no request read yet
  bool idle_ = false;       // waiting for a request's first byte
  bool keep_alive_ = true;  // the current request allows another after it
  bool linger_ = false;     // the current request was refused unread
  Clock::time_point linger_until_{};  // when lingering ends whatever the client still sends
  bool stopping_ = false;
};

int Server::Listen() {
  beast::error_code error;
  const net::ip::address address = net::ip::make_address(options_.host, error);
  if (error) {
    throw Error::Runtime(kInvalidArgument, "Cannot listen on " + QuoteForMessage(options_.host) +
                                               ": it is not an IP address (" + error.message() + ").");
  }
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(options_.port));
  acceptor_.open(endpoint.protocol(), error);
  if (!error) acceptor_.set_option(net::socket_base::reuse_address(true), error);
  if (!error) acceptor_.bind(endpoint, error);
  if (!error) acceptor_.listen(net::socket_base::max_listen_connections, error);
  if (error) {
    throw Error::Runtime(kInvalidArgument, "Cannot listen on " + QuoteForMessage(options_.host) + " port " +
                                               std::to_string(options_.port) + ": " + error.message() + ".");
  }
  return acceptor_.local_endpoint().port();
}

void Server::Start() {
  keep_running_.emplace(ioc_.get_executor());
  workers_.Start();
  Accept();
  const size_t io_threads = std::thread::hardware_concurrency() > 1 ? 2 : 1;
  for (size_t i = 0; i < io_threads; ++i) io_threads_.emplace_back([this] { ioc_.run(); });
}

void Server::Accept() {
  acceptor_.async_accept(net::make_strand(ioc_), [this](beast::error_code error, tcp::socket socket) {
    if (stopping_ || !acceptor_.is_open()) return;
    if (error) {
      // Out of descriptors, most likely: try again shortly rather than spin.
      accept_retry_.expires_after(kAcceptRetry);
      accept_retry_.async_wait([this](beast::error_code) { Accept(); });
      return;
    }
    Admit(std::move(socket));
    Accept();
  });
}

// Over either cap the connection is closed at once, before anything is read from it.
void Server::Admit(tcp::socket socket) {
  beast::error_code error;
  const tcp::endpoint remote = socket.remote_endpoint(error);
  if (error) return;
  const std::string peer = remote.address().to_string();
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard lock(mutex_);
    size_t& from_peer = per_client_[peer];
    const bool over = open_ >= options_.max_connections ||
                      (peer != options_.trusted_proxy && from_peer >= options_.max_connections_per_client);
    if (over) {
      if (from_peer == 0) per_client_.erase(peer);
      socket.close(error);
      return;
    }
    ++open_;
    ++from_peer;
    // A response goes out at once: with Nagle's algorithm on, an answer written in two pieces
    // waits for the client's delayed acknowledgement (40 ms on Linux).
    socket.set_option(tcp::no_delay(true), error);
    const uint64_t id = next_id_++;
    connection = std::make_shared<Connection>(*this, std::move(socket), id, peer);
    connections_[id] = connection;
  }
  connection->Begin();
}

void Server::Closed(uint64_t id, const std::string& peer) {
  {
    std::lock_guard lock(mutex_);
    --open_;
    if (auto found = per_client_.find(peer); found != per_client_.end() && --found->second == 0) {
      per_client_.erase(found);
    }
    connections_.erase(id);
  }
  changed_.notify_all();
}

int Server::Drain(const std::function<void()>& stop_work) {
  const Clock::time_point until = Clock::now() + options_.drain_timeout;
  stopping_ = true;
  net::post(accept_strand_, [this] {
    beast::error_code ignored;
    acceptor_.close(ignored);
    accept_retry_.cancel();
  });
  if (stop_work) stop_work();
  // Idle connections close at once, those in the middle of a request once it is answered.
  auto stop_connections = [this] {
    std::vector<std::shared_ptr<Connection>> open;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [id, weak] : connections_) {
        if (auto connection = weak.lock()) open.push_back(std::move(connection));
      }
    }
    for (const auto& connection : open) connection->Stop();
  };
  stop_connections();

  std::unique_lock lock(mutex_);
  // Workers report through the same condition without this mutex, so the wait also looks again
  // now and then.
  while ((open_ > 0 || workers_.Busy() > 0) && Clock::now() < until) {
    changed_.wait_until(lock, std::min(until, Clock::now() + std::chrono::milliseconds(100)));
    // Again at each look: a report that a request in flight starts now, or whose cancel reached
    // the server before the query did, is stopped too, and so is a connection accepted just as
    // the acceptor closed.
    lock.unlock();
    if (stop_work && workers_.Busy() > 0) stop_work();
    stop_connections();
    lock.lock();
  }
  const size_t left = open_;
  lock.unlock();
  if (const size_t busy = workers_.Busy(); busy > 0) {
    std::cerr << "ledgerkit serve: " << busy << " request(s) still running after the drain time of "
              << Seconds(options_.drain_timeout) << " (--drain-timeout); leaving without them.\n"
              << std::flush;
    std::cout << std::flush;
    std::_Exit(1);
  }
  keep_running_.reset();
  ioc_.stop();
  for (std::thread& thread : io_threads_) thread.join();
  io_threads_.clear();
  workers_.Join();
  if (left > 0) {
    std::cerr << "ledgerkit serve: " << left << " connection(s) still sending after the drain time of "
              << Seconds(options_.drain_timeout) << " (--drain-timeout) were cut.\n"
              << std::flush;
    return 1;
  }
  return 0;
}

}  // namespace

class HttpServer::Impl : public Server {
 public:
  using Server::Server;
};

HttpServer::HttpServer(HttpServerOptions options, RpcHandler handler)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(handler))) {}

HttpServer::~HttpServer() = default;

int HttpServer::Listen() { return impl_->Listen(); }

void HttpServer::Start() { impl_->Start(); }

int HttpServer::Drain(const std::function<void()>& stop_work) { return impl_->Drain(stop_work); }

}  // namespace ledgerkit::cli
