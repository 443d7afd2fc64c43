#include "support/ServeProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <httplib.h>

#include "support/Cli.h"

namespace ledgerkit::testing {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReady = std::chrono::seconds(60);  // generous for a loaded machine

// The port of the "listening on HOST:PORT" line the server prints on `fd`.
int ReadPort(int fd) {
  std::string line;
  const auto deadline = Clock::now() + kReady;
  while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 1000) <= 0) continue;
    char buffer[256];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    line.append(buffer, static_cast<size_t>(got));
  }
  if (line.find("listening on") == std::string::npos) throw std::runtime_error("the server printed no address: " + line);
  return std::stoi(line.substr(line.rfind(':') + 1));
}

}  // namespace

ServeProcess::ServeProcess(const std::filesystem::path& log, const std::vector<std::string>& arguments) : log_(log) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    const int err = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(err, STDERR_FILENO);
    close(out[0]);
    std::vector<std::string> args = {CliPath(), "serve", "--listen", "127.0.0.1:0"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  try {
    port_ = ReadPort(out[0]);
  } catch (...) {
    close(out[0]);
    throw;
  }
  close(out[0]);
  const auto deadline = Clock::now() + kReady;
  httplib::Client client("127.0.0.1", port_);
  while (Clock::now() < deadline) {
    if (auto response = client.Get("/health"); response && response->status == 200) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  throw std::runtime_error("the server never became healthy");
}

ServeProcess::ServeProcess(const std::filesystem::path& log, std::vector<std::string> first,
                           const std::vector<std::string>& more)
    : ServeProcess(log, (first.insert(first.end(), more.begin(), more.end()), first)) {}

ServeProcess::~ServeProcess() {
  if (pid_ > 0 && !gone_) Stop();
}

std::string ServeProcess::Log() const {
  std::ifstream in(log_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void ServeProcess::Signal(int number) const { kill(pid_, number); }

int ServeProcess::WaitExit(std::chrono::seconds bound) {
  const auto deadline = Clock::now() + bound;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      gone_ = true;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  gone_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ServeProcess::Stop() {
  Signal(SIGTERM);
  return WaitExit(kReady);
}

}  // namespace ledgerkit::testing
