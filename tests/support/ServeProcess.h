// Test support: `ledgerkit serve` run as a deployment runs it, a separate process on a free
// loopback port, its standard error (the access log) in a file of the test's.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace ledgerkit::testing {

class ServeProcess {
 public:
  // Starts `ledgerkit serve --listen 127.0.0.1:0 <arguments>` and returns once it answers
  // GET /health; throws when it prints no address or never becomes healthy (a minute each).
  ServeProcess(const std::filesystem::path& log, const std::vector<std::string>& arguments);
  // The same with `first` and then `more` as the arguments.
  ServeProcess(const std::filesystem::path& log, std::vector<std::string> first, const std::vector<std::string>& more);
  // Stops a process still running as Stop does.
  ~ServeProcess();
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  std::string Log() const;

  void Signal(int number) const;
  // The exit status once the process has ended within `bound`; -1 (killed) when it has not, or
  // when a signal ended it.
  int WaitExit(std::chrono::seconds bound);
  // SIGTERM, then WaitExit with a minute's bound.
  int Stop();

 private:
  std::filesystem::path log_;
  pid_t pid_ = -1;
  int port_ = 0;
  bool gone_ = false;
};

}  // namespace ledgerkit::testing
