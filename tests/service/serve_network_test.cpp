// `ledgerkit serve` facing a hostile or clumsy network: slow clients, endless bodies, more work
// than workers, shutdown under a runaway query, and a web page of another origin. The server runs
// as a separate process; slow clients are raw sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include "support/Cli.h"
#include "support/ServeProcess.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;
constexpr auto kBound = std::chrono::seconds(60);  // readiness and failure bounds, generous for a loaded machine

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A value from /proc/PID/status ("VmHWM" in kB), or -1.
long ProcStatus(pid_t pid, const std::string& key) {
  std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

long ThreadCount(pid_t pid) {
  std::error_code ignored;
  long count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored);
       it != std::filesystem::directory_iterator(); it.increment(ignored)) {
    ++count;
  }
  return count;
}

// CPU time (user + system, in clock ticks) the process has used.
long CpuTicks(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream in(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stol(field);
  }
  return ticks;
}

// The first column of the first row of `sql` on the company file, or -1.
long FileScalar(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  long value = -1;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 60'000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      value = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return value;
}

// Whether some thread of the process is in a timed sleep (nanosleep or clock_nanosleep), as a
// call waiting for a locked company file is; idle workers wait on a futex instead.
bool SomeThreadSleeps(pid_t pid) {
  std::error_code ignored;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored);
       it != std::filesystem::directory_iterator(); it.increment(ignored)) {
    std::istringstream in(ReadFile(it->path() / "syscall"));
    long number = -1;
    if (in >> number && (number == 35 || number == 230)) return true;
  }
  return false;
}

// A data folder with company acme (boss/secret, an administrator), removed at the end.
class DataFolder {
 public:
  DataFolder() {
    static int made = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("lk-serve-net-" + std::to_string(getpid()) + "-" + std::to_string(made++));
    std::filesystem::create_directories(path_);
    const auto run = testing::RunLedgerkit(path_, "new " + testing::ShellQuote((path_ / "acme.ldb").string()) +
                                                      " --company Acme --user boss --password secret --chart standard");
    if (run.exit_code != 0) throw std::runtime_error("ledgerkit new failed: " + run.err);
  }
  ~DataFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path file() const { return path_ / "acme.ldb"; }
  long bank() const { return FileScalar(file(), "SELECT ACAccountID FROM ACAccount WHERE AccountNumber='1000'"); }

 private:
  std::filesystem::path path_;
};

// A server process over `data`, logging to data/server.log.
class Server : public testing::ServeProcess {
 public:
  Server(const DataFolder& data, const std::vector<std::string>& extra)
      : ServeProcess(data.path() / "server.log", {"--data", data.path().string()}, extra) {}
};

// A TCP connection to the server from loopback address `from`.
class Socket {
 public:
  Socket(int port, const char* from = "127.0.0.1") {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) throw std::runtime_error("bind");
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) throw std::runtime_error("connect");
  }
  ~Socket() { close(fd_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool Send(const std::string& bytes) const {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }

  // Open: nothing to read and no end of stream, now.
  bool IsOpen() const {
    char byte;
    const ssize_t got = recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }

  // Everything the server sends until it closes, within kBound.
  std::string ReadAll() const {
    std::string text;
    const auto deadline = Clock::now() + kBound;
    while (Clock::now() < deadline) {
      pollfd wait{fd_, POLLIN, 0};
      if (poll(&wait, 1, 200) <= 0) continue;
      char buffer[4096];
      const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
    return text;
  }

  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

std::string PostText(const std::string& body, const std::string& token = "") {
  std::string request = "POST /rpc HTTP/1.1\r\nHost: ledgerkit\r\nConnection: close\r\nContent-Type: application/json\r\n";
  if (!token.empty()) request += "Authorization: Bearer " + token + "\r\n";
  return request + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct Reply {
  int status = 0;
  Json body;
};

Reply ParseReply(const std::string& text) {
  Reply reply;
  if (text.rfind("HTTP/1.1 ", 0) != 0) return reply;
  reply.status = std::stoi(text.substr(9, 3));
  const size_t start = text.find("\r\n\r\n");
  if (start != std::string::npos && start + 4 < text.size()) reply.body = Json::parse(text.substr(start + 4), nullptr, false);
  return reply;
}

Reply Post(int port, const Json& request, const std::string& token = "", const char* from = "127.0.0.1") {
  Socket socket(port, from);
  socket.Send(PostText(request.dump(), token));
  return ParseReply(socket.ReadAll());
}

Json Request(const std::string& method, Json params) {
  return Json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", std::move(params)}};
}

// A logon may outlast a short --request-timeout on a loaded machine (the password hash is slow
// on purpose): it is tried again while the answer is that 503.
std::string Logon(int port, const char* from = "127.0.0.1") {
  Reply reply;
  const auto deadline = Clock::now() + kBound;
  do {
    reply = Post(port, Request("CSecurityMgr.BeginUserSession", {"acme", "boss", "secret"}), "", from);
  } while (reply.status == 503 && Clock::now() < deadline);
  EXPECT_EQ(reply.status, 200) << reply.body;
  return reply.body.contains("result") ? reply.body["result"]["value"].get<std::string>() : "";
}

// The JSON-RPC error number of an answer the HTTP layer gave itself.
Json Number(const Reply& reply) { return reply.body.is_object() ? reply.body["error"]["data"]["number"] : Json(); }

TEST(ServeNetwork, SlowClientsNeitherStarveOthersNorOutstayTheirDeadline) {
  DataFolder data;
  {
    Server server(data, {"--threads", "2", "--max-connections-per-client", "32", "--read-timeout", "120"});
    // The slow clients come from addresses nothing else here uses: the start-up health probe
    // comes from 127.0.0.1, and until the server has seen it close it still counts there.
    std::vector<std::unique_ptr<Socket>> slow;
    for (const char* from : {"127.0.0.5", "127.0.0.2"}) {
      for (int i = 0; i < 32; ++i) slow.push_back(std::make_unique<Socket>(server.port(), from));
    }
    // Each slow client sends its header a byte a second, far from done within the test.
    std::atomic<bool> trickling = true;
    std::thread trickle([&] {
      const std::string header = PostText("{}");
      for (size_t at = 0; trickling && at < header.size(); ++at) {
        for (const auto& socket : slow) socket->Send(header.substr(at, 1));
        std::this_thread::sleep_for(std::chrono::seconds(1));
      }
    });
    const std::string token = Logon(server.port(), "127.0.0.3");
    EXPECT_NE(token, "");
    size_t open = 0;
    for (const auto& socket : slow) open += socket->IsOpen() ? 1 : 0;
    EXPECT_EQ(open, 64u) << "every slow client is still connected after the logon was answered";

    // A 33rd connection from 127.0.0.5 is closed unanswered; one from elsewhere is served.
    Socket extra(server.port(), "127.0.0.5");
    extra.Send(PostText("{}"));
    EXPECT_EQ(extra.ReadAll(), "");
    EXPECT_EQ(Post(server.port(), Request("CSecurityMgr.BeginUserSession", {"acme", "boss", "secret"}), "", "127.0.0.2")
                  .status,
              0)
        << "127.0.0.2 holds its 32 as well";
    EXPECT_NE(Logon(server.port(), "127.0.0.4"), "");
    trickling = false;
    trickle.join();
  }
  {
    // With a short deadline a client still sending its header is cut off although it never
    // goes quiet; its header would take minutes.
    Server server(data, {"--read-timeout", "2"});
    Socket slow(server.port());
    const std::string header = PostText(std::string(500, ' '));
    bool closed = false;
    for (size_t at = 0; at < 300 && !closed; ++at) {
      closed = !slow.Send(header.substr(at, 1)) || !slow.IsOpen();
      if (!closed) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(closed) << "still open after 60 s of trickling";
    EXPECT_NE(Logon(server.port()), "");
  }
}

TEST(ServeNetwork, EndlessChunkedBodyIsRefusedBeforeItIsRead) {
  DataFolder data;
  Server server(data, {"--max-body", "1024"});
  // What the process held at its peak before the body: the growth is what the body costs.
  const long peak_before_kb = ProcStatus(server.pid(), "VmHWM");
  Socket client(server.port());
  ASSERT_TRUE(client.Send("POST /rpc HTTP/1.1\r\nHost: ledgerkit\r\nTransfer-Encoding: chunked\r\n\r\n"));
  fcntl(client.fd(), F_SETFL, fcntl(client.fd(), F_GETFL) | O_NONBLOCK);
  const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
  const size_t total = size_t{256} << 20;
  size_t sent = 0, pending = 0;  // body bytes sent; bytes of the current chunk already out
  bool answered = false;
  const auto deadline = Clock::now() + kBound;
  while (!answered && sent < total && Clock::now() < deadline) {
    pollfd wait{client.fd(), POLLIN | POLLOUT, 0};
    if (poll(&wait, 1, 200) <= 0) continue;
    if (wait.revents & (POLLIN | POLLHUP | POLLERR)) {
      answered = true;
    } else if (wait.revents & POLLOUT) {
      const ssize_t put = ::send(client.fd(), chunk.data() + pending, chunk.size() - pending, MSG_NOSIGNAL);
      if (put < 0) break;
      pending += static_cast<size_t>(put);
      if (pending == chunk.size()) {
        pending = 0;
        sent += 0x10000;
      }
    }
  }
  ASSERT_TRUE(answered) << "no answer after " << sent << " bytes";
  EXPECT_LT(sent, total);
  fcntl(client.fd(), F_SETFL, fcntl(client.fd(), F_GETFL) & ~O_NONBLOCK);
  const Reply reply = ParseReply(client.ReadAll());
  EXPECT_EQ(reply.status, 413);
  EXPECT_EQ(Number(reply), 70) << reply.body;
  EXPECT_NE(reply.body.dump().find("1024 bytes --max-body"), std::string::npos) << reply.body;
  const long peak_kb = ProcStatus(server.pid(), "VmHWM");
  EXPECT_GT(peak_before_kb, 0);
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer's shadow memory and quarantine come on top; a body read whole would still
  // pass this by far (256 MiB).
  constexpr long kGrowthBoundKb = 128 * 1024;
#else
  constexpr long kGrowthBoundKb = 64 * 1024;
#endif
  EXPECT_LT(peak_kb - peak_before_kb, kGrowthBoundKb) << "peak " << peak_kb << " KiB, " << peak_before_kb << " KiB before";
  EXPECT_NE(Logon(server.port()), "");
}

TEST(ServeNetwork, WorkBeyondWorkersAndQueueIsRefusedAndNeverRunLate) {
  DataFolder data;
  Server server(data, {"--threads", "2", "--queue", "2", "--request-timeout", "1"});
  const std::string token = Logon(server.port());
  const long baseline = ThreadCount(server.pid());
  // Another writer holds the company file, so every posting waits (up to a minute) for it.
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open_v2((data.path() / "acme.ldb").c_str(), &holder, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
  const Json posting = Request("CACMgr.BeginTransaction", {"acme", "", "", 7, Json{{"$date", "2026-03-31"}}, "Deposit",
                                                           data.bank(), Json{{"$currency", "1"}}, "", "", ""});
  std::vector<std::future<Reply>> replies;
  for (int i = 0; i < 12; ++i) {
    replies.push_back(std::async(std::launch::async, [&] { return Post(server.port(), posting, token); }));
  }
  long most_threads = 0;
  size_t ready = 0;
  while (ready < replies.size()) {
    most_threads = std::max(most_threads, ThreadCount(server.pid()));
    ready = 0;
    for (auto& reply : replies) ready += reply.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready;
  }
  int not_started = 0, going_on = 0;
  for (auto& future : replies) {
    const Reply reply = future.get();
    EXPECT_EQ(reply.status, 503) << reply.body;
    EXPECT_EQ(Number(reply), 70) << reply.body;
    const std::string text = reply.body.dump();
    not_started += text.find("not started") != std::string::npos || text.find("not run") != std::string::npos;
    going_on += text.find("goes on") != std::string::npos;
  }
  EXPECT_EQ(going_on, 2) << "one per worker";
  EXPECT_EQ(not_started, 10);
  // Two workers, the I/O threads and the main thread: none started for the work.
  EXPECT_EQ(most_threads, baseline);
  EXPECT_LE(most_threads, 2 + 2 + 2);
  EXPECT_EQ(sqlite3_exec(holder, "ROLLBACK;", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(holder);
  // The two that ran finish; the queued ones passed their deadline waiting and never run.
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitExit(kBound), 0) << server.Log();
  EXPECT_EQ(FileScalar(data.file(), "SELECT count(*) FROM ACTransLog"), 2);
}

TEST(ServeNetwork, ShutdownIsBoundedByTheDrainTime) {
  DataFolder data;
  {
    // A worker stuck where nothing can stop it (waiting a minute for a locked file): the
    // process leaves with status 1 once the drain time is over, without waiting for it.
    Server server(data, {"--drain-timeout", "2"});
    const std::string token = Logon(server.port());
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open_v2((data.path() / "acme.ldb").c_str(), &holder, SQLITE_OPEN_READWRITE, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
    Socket client(server.port());
    client.Send(PostText(Request("CACMgr.BeginTransaction", {"acme", "", "", 7, Json{{"$date", "2026-03-31"}},
                                                             "Deposit", data.bank(), Json{{"$currency", "1"}}, "", "", ""})
                             .dump(),
                         token));
    // The posting has reached its worker once that worker sleeps waiting for the file.
    // (The waiting worker wakes now and then to try again: what one look saw is kept.)
    const auto deadline = Clock::now() + kBound;
    bool sleeping = false;
    while (!(sleeping = SomeThreadSleeps(server.pid())) && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(sleeping);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(std::chrono::seconds(45)), 1) << "the locked file would hold it for 60 s";
    EXPECT_NE(server.Log().find("still running after the drain time of 2 seconds"), std::string::npos) << server.Log();
    sqlite3_exec(holder, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
  }
  {
    // An endless report query: SIGTERM stops it, its caller is answered and the process drains.
    Server server(data, {"--drain-timeout", "5"});
    const std::string token = Logon(server.port());
    const long cpu_before = CpuTicks(server.pid());
    auto report = std::async(std::launch::async, [&] {
      return Post(server.port(),
                  Request("CReportMgr.ExecReportQuery",
                          {"acme", "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM n) SELECT count(*) FROM n"}),
                  token);
    });
    // The query is running once the server has spent half a second of CPU on it.
    const auto deadline = Clock::now() + kBound;
    while (CpuTicks(server.pid()) - cpu_before < sysconf(_SC_CLK_TCK) / 2 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GE(CpuTicks(server.pid()) - cpu_before, sysconf(_SC_CLK_TCK) / 2) << "the query never ran";
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(kBound), 0) << server.Log();
    ASSERT_EQ(report.wait_for(kBound), std::future_status::ready);
    const Reply answer = report.get();
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.body.contains("error")) << answer.body;
  }
}

// A page server on another loopback port: serves the page and takes what its script posts back.
// The page is set after the service has started, since each needs the other's port.
class PageServer {
 public:
  PageServer() {
    server_.Get("/", [this](const httplib::Request&, httplib::Response& response) {
      std::lock_guard lock(mutex_);
      response.set_content(page_, "text/html");
    });
    server_.Post("/report", [this](const httplib::Request& request, httplib::Response& response) {
      {
        std::lock_guard lock(mutex_);
        report_ = request.body;
      }
      reported_.notify_all();
      response.set_content("ok", "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~PageServer() {
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  void SetPage(std::string page) {
    std::lock_guard lock(mutex_);
    page_ = std::move(page);
  }

  // What the page reported, or nothing within `bound`.
  std::optional<Json> WaitReport(std::chrono::seconds bound) {
    std::unique_lock lock(mutex_);
    if (!reported_.wait_for(lock, bound, [this] { return !report_.empty(); })) return std::nullopt;
    return Json::parse(report_, nullptr, false);
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable reported_;
  std::string page_;
  std::string report_;
};

// A headless browser showing `url`, killed when it goes.
class Browser {
 public:
  explicit Browser(const std::string& url)
      : profile_(std::filesystem::temp_directory_path() / ("lk-chromium-" + std::to_string(getpid()))) {
    std::filesystem::create_directories(profile_);
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);  // its helper processes go with it
      const int null = ::open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      const std::string profile = "--user-data-dir=" + profile_.string();
      execl(kChromium, kChromium, "--headless", "--no-sandbox", "--disable-gpu", profile.c_str(), url.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    setpgid(pid_, pid_);
  }
  ~Browser() {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    std::error_code ignored;
    std::filesystem::remove_all(profile_, ignored);
  }
  static constexpr const char* kChromium = "/usr/bin/chromium";

 private:
  std::filesystem::path profile_;
  pid_t pid_ = -1;
};

// What a page of another origin gets when its script logs on and lists account types through
// the service; the service lists the page's origin in --allow-origin when `listed`.
std::optional<Json> BrowserSession(const DataFolder& data, bool listed) {
  PageServer page;
  Server server(data, {"--allow-origin", listed ? page.origin() : "http://127.0.0.1:1"});
  std::string script = R"(
const rpc = 'http://127.0.0.1:PORT/rpc';
async function call(method, params, token) {
  const headers = {'Content-Type': 'application/json'};
  if (token) headers['Authorization'] = 'Bearer ' + token;
  const answer = await fetch(rpc, {method: 'POST', headers,
      body: JSON.stringify({jsonrpc: '2.0', id: 1, method, params})});
  return answer.json();
}
(async () => {
  let report;
  try {
    const logon = await call('CSecurityMgr.BeginUserSession', ['acme', 'boss', 'secret']);
    const types = await call('CACMgr.GetAllAccountTypes', ['acme', '', ''], logon.result.value);
    report = {ok: true, token: logon.result.value, types};
  } catch (failure) {
    report = {ok: false, failure: String(failure)};
  }
  await fetch('/report', {method: 'POST', body: JSON.stringify(report)});
})();
)";
  script.replace(script.find("PORT"), 4, std::to_string(server.port()));
  page.SetPage("<html><body><script>" + script + "</script></body></html>");
  Browser browser(page.origin() + "/");
  return page.WaitReport(std::chrono::seconds(120));
}

TEST(ServeNetwork, PreflightAnswersListedOriginsOnly) {
  DataFolder data;
  Server server(data, {"--allow-origin", "http://shop.example:8443", "--allow-origin", "http://127.0.0.1:9"});
  auto preflight = [&](const std::string& origin) {
    Socket socket(server.port());
    socket.Send("OPTIONS /rpc HTTP/1.1\r\nHost: ledgerkit\r\nConnection: close\r\nOrigin: " + origin +
                "\r\nAccess-Control-Request-Method: POST\r\nAccess-Control-Request-Headers: authorization, "
                "content-type\r\n\r\n");
    return socket.ReadAll();
  };
  const std::string allowed = preflight("http://shop.example:8443");
  EXPECT_EQ(allowed.rfind("HTTP/1.1 204", 0), 0u) << allowed;
  EXPECT_NE(allowed.find("Access-Control-Allow-Origin: http://shop.example:8443\r\n"), std::string::npos) << allowed;
  EXPECT_NE(allowed.find("Access-Control-Allow-Methods: POST\r\n"), std::string::npos) << allowed;
  EXPECT_NE(allowed.find("Access-Control-Allow-Headers: Authorization, Content-Type\r\n"), std::string::npos);
  EXPECT_NE(allowed.find("Access-Control-Max-Age: "), std::string::npos) << allowed;
  EXPECT_NE(allowed.find("Vary: Origin\r\n"), std::string::npos) << allowed;

  // A near miss (another port) is another origin.
  const std::string refused = preflight("http://shop.example:8444");
  const Reply reply = ParseReply(refused);
  EXPECT_EQ(reply.status, 403) << refused;
  EXPECT_EQ(Number(reply), 70) << refused;
  EXPECT_EQ(refused.find("Access-Control-"), std::string::npos) << refused;

  // POST answers carry the origin only when it is listed.
  Socket listed(server.port());
  listed.Send("POST /rpc HTTP/1.1\r\nHost: ledgerkit\r\nConnection: close\r\nOrigin: http://127.0.0.1:9\r\n"
              "Content-Length: 2\r\n\r\n{}");
  const std::string answer = listed.ReadAll();
  EXPECT_NE(answer.find("Access-Control-Allow-Origin: http://127.0.0.1:9\r\n"), std::string::npos) << answer;
  EXPECT_NE(answer.find("Vary: Origin\r\n"), std::string::npos) << answer;
  Socket unlisted(server.port());
  unlisted.Send("POST /rpc HTTP/1.1\r\nHost: ledgerkit\r\nConnection: close\r\nOrigin: http://127.0.0.1:10\r\n"
                "Content-Length: 2\r\n\r\n{}");
  const std::string plain = unlisted.ReadAll();
  EXPECT_EQ(plain.rfind("HTTP/1.1 ", 0), 0u) << plain;
  EXPECT_EQ(plain.find("Access-Control-"), std::string::npos) << plain;
}

TEST(ServeNetwork, BrowserPageOfAnotherOriginCallsOnlyWhenListed) {
  if (access(Browser::kChromium, X_OK) != 0) GTEST_SKIP() << Browser::kChromium << " is not installed";
  DataFolder data;
  const std::optional<Json> allowed = BrowserSession(data, true);
  ASSERT_TRUE(allowed.has_value()) << "the page reported nothing";
  EXPECT_EQ((*allowed)["ok"], true) << *allowed;
  EXPECT_FALSE((*allowed)["token"].get<std::string>().empty()) << *allowed;
  EXPECT_TRUE((*allowed)["types"].contains("result")) << *allowed;

  const std::optional<Json> refused = BrowserSession(data, false);
  ASSERT_TRUE(refused.has_value()) << "the page reported nothing";
  EXPECT_EQ((*refused)["ok"], false) << *refused;
  EXPECT_FALSE((*refused)["failure"].get<std::string>().empty()) << *refused;
}

// Two instances over one data folder share nothing but the companies: a session opened through
// one is answered by the other (its row is the authority), ends for both when it ends through
// either, and a token no session row holds is refused by each.
TEST(ServeNetwork, AnyInstanceOverTheSameCompaniesAnswersAnySession) {
  DataFolder data;
  Server first(data, {});
  Server second(data, {});
  const std::string token = Logon(first.port());
  ASSERT_NE(token, "");
  const Json deposit = Request("CACMgr.BeginTransaction", {"acme", "", "", 7, Json{{"$date", "2026-03-31"}}, "Deposit",
                                                           data.bank(), Json{{"$currency", "12.5"}}, "", "", ""});
  const Reply begun = Post(second.port(), deposit, token);
  ASSERT_EQ(begun.status, 200) << begun.body;
  const Json number = begun.body["result"]["value"];
  const Reply abort = Post(first.port(), Request("CACMgr.AbortTransaction", {"acme", "", "", number}), token);
  EXPECT_EQ(abort.status, 200) << abort.body;
  // The session is the caller's on whichever instance: its user comes from the row, not from
  // the call (which names nobody).
  const Reply profile = Post(second.port(), Request("CUserManager.GetUserProfile", {"acme", "", "", "acme", "boss"}), token);
  EXPECT_EQ(profile.status, 200) << profile.body;

  // Another company's name with the token finds no session there; a made-up token neither.
  EXPECT_EQ(Post(second.port(), Request("CACMgr.GetAllAccounts", {"other", "", ""}), token).status, 401);
  EXPECT_EQ(Post(second.port(), Request("CACMgr.GetAllAccounts", {"acme", "", ""}), std::string(32, 'A')).status, 401);

  // Ended through the second, the session is over for the first too.
  EXPECT_EQ(Post(second.port(), Request("CSecurityMgr.EndUserSession", {"acme", "anyone"}), token).status, 200);
  const Reply after = Post(first.port(), Request("CACMgr.GetAllAccounts", {"acme", "", ""}), token);
  EXPECT_EQ(after.status, 401) << after.body;
}

// A port nothing listens on now, from the system.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    throw std::runtime_error("no free port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

// nginx in front of `upstreams` as one round-robin upstream, on a port of its own, in a folder
// of its own; stopped when the guard goes. A connection an upstream refuses is passed to the
// next one, as a load balancer's usual setting.
class LoadBalancer {
 public:
  LoadBalancer(const std::filesystem::path& folder, const std::vector<int>& upstreams) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    port_ = FreePort();
    std::string servers;
    for (const int upstream : upstreams) servers += "    server 127.0.0.1:" + std::to_string(upstream) + ";\n";
    const std::string dir = folder_.string();
    std::ofstream(folder_ / "nginx.conf")
        << "worker_processes 1;\npid " << dir << "/nginx.pid;\nerror_log " << dir << "/error.log;\n"
        << "events { worker_connections 256; }\nhttp {\n  access_log off;\n"
        << "  client_body_temp_path " << dir << "/body;\n  proxy_temp_path " << dir << "/proxy;\n"
        << "  fastcgi_temp_path " << dir << "/fastcgi;\n  uwsgi_temp_path " << dir << "/uwsgi;\n"
        << "  scgi_temp_path " << dir << "/scgi;\n  upstream ledgerkit {\n" << servers << "  }\n"
        << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    location / {\n"
        << "      proxy_pass http://ledgerkit;\n      proxy_next_upstream error;\n"
        << "      proxy_connect_timeout 2s;\n    }\n  }\n}\n";
    pid_ = fork();
    if (pid_ == 0) {
      execl("/usr/sbin/nginx", "nginx", "-p", dir.c_str(), "-c", (dir + "/nginx.conf").c_str(), "-g", "daemon off;",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    const auto deadline = Clock::now() + kBound;
    while (Clock::now() < deadline && !Answers()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~LoadBalancer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  LoadBalancer(const LoadBalancer&) = delete;
  LoadBalancer& operator=(const LoadBalancer&) = delete;

  int port() const { return port_; }
  bool Answers() const {
    try {
      Socket probe(port_);
      probe.Send("GET /health HTTP/1.1\r\nHost: ledgerkit\r\nConnection: close\r\n\r\n");
      return probe.ReadAll().rfind("HTTP/1.1 200", 0) == 0;
    } catch (const std::exception&) {
      return false;
    }
  }
  std::string ErrorLog() const { return ReadFile(folder_ / "error.log"); }

 private:
  std::filesystem::path folder_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// A clerk logs on once through the load balancer and writes cheques; its calls are spread over
// both instances. One instance is killed outright in the middle of the run: the clerk carries on
// through the other, and every cheque it was told was recorded is in the books, which check
// clean. A cheque whose call went unanswered is begun again as a new one, never repeated.
TEST(ServeNetwork, TwoInstancesBehindALoadBalancerLoseNoAnsweredChequeWhenOneIsKilled) {
  if (!std::filesystem::exists("/usr/sbin/nginx")) GTEST_SKIP() << "nginx is not installed";
  DataFolder data;
  testing::ServeProcess first(data.path() / "first.log", {"--data", data.path().string()});
  testing::ServeProcess second(data.path() / "second.log", {"--data", data.path().string()});
  const LoadBalancer balancer(data.path() / "nginx", {first.port(), second.port()});
  ASSERT_TRUE(balancer.Answers()) << balancer.ErrorLog();
  const long bank = data.bank();
  const long expense = FileScalar(data.file(), "SELECT MAX(ACAccountID) FROM ACAccount WHERE ACAccountID<>" +
                                                   std::to_string(bank));
  const std::string token = Logon(balancer.port());
  ASSERT_NE(token, "");

  auto call = [&](const std::string& method, Json params) {
    return Post(balancer.port(), Request(method, std::move(params)), token);
  };
  std::vector<std::string> answered;
  int failed_calls = 0;
  for (int cheque = 0; cheque < 40; ++cheque) {
    if (cheque == 15) first.Signal(SIGKILL);
    const Json amount{{"$currency", std::to_string(10 + cheque) + ".25"}};
    const Reply begun = call("CACMgr.BeginTransaction", {"acme", "", "", 0, Json{{"$date", "2026-03-31"}}, "Rent",
                                                         bank, amount, "1 Main St", "memo", std::to_string(cheque)});
    if (begun.status != 200 || !begun.body.contains("result")) {
      ++failed_calls;
      continue;
    }
    const Json number = begun.body["result"]["value"];
    const Reply line = call("CACMgr.PostDebit", {"acme", number, expense, amount, "rent"});
    const Reply end = line.status == 200 && line.body.contains("result")
                          ? call("CACMgr.EndTransaction", {"acme", number})
                          : line;
    if (end.status == 200 && end.body.contains("result")) {
      answered.push_back(number.get<std::string>());
    } else {
      ++failed_calls;
    }
  }
  EXPECT_LE(failed_calls, 1) << "only a call under way when the instance died may go unanswered";
  EXPECT_GE(answered.size(), 39u);

  // Both instances answered calls of the one session before the kill.
  EXPECT_NE(first.Log().find("acme boss CACMgr.PostDebit 200"), std::string::npos) << first.Log();
  EXPECT_NE(second.Log().find("acme boss CACMgr.PostDebit 200"), std::string::npos) << second.Log();
  for (const std::string& number : answered) {
    EXPECT_EQ(FileScalar(data.file(), "SELECT COUNT(*) FROM ACTransaction WHERE TransactionNumber='" + number +
                                          "' AND TransactionNumber IN (SELECT TransactionNumber FROM ACTransLog "
                                          "WHERE TransLogStatus=1)"),
              2)
        << "cheque " << number;
  }
  const auto check = testing::RunLedgerkit(data.path(), "check " + testing::ShellQuote(data.file().string()));
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
}

}  // namespace
}  // namespace ledgerkit
