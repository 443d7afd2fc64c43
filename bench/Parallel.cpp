// cheques_8_companies: what several companies gain from running side by side. Eight processes,
// each recording cheques on a company of its own for a fixed time, against one process on one
// company, in alternating rounds. Each round forks fresh processes, which open their own
// connections (the library leaves a parent's connections alone in a child) and record one
// untimed cheque before all start together.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Bench.h"

namespace bench {

namespace {

constexpr int kProcesses = 8;

// What a child sends back through its pipe once its time is up.
struct Outcome {
  int64_t cheques = 0;
  double seconds = 0;
  char error[200] = {};
};

bool WriteAll(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// False at the end of the pipe before `size` bytes.
bool ReadAll(int fd, void* data, size_t size) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = ::read(fd, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

// The child's whole life: one cheque to open its connections, a ready byte (sent whatever
// happened), the wait for the start (the end of the `start` pipe), cheques for `seconds`, and
// the outcome.
[[noreturn]] void Child(Company& company, int start, int report, double seconds) {
  Outcome outcome;
  auto failed = [&outcome](const std::exception& error) {
    std::snprintf(outcome.error, sizeof outcome.error, "%s", error.what());
  };
  try {
    company.Cheque();
  } catch (const std::exception& error) {
    failed(error);
  }
  const char ready = 'r';
  bool sent = WriteAll(report, &ready, 1);
  if (sent && outcome.error[0] == '\0') {
    char ignored;
    while (::read(start, &ignored, 1) < 0 && errno == EINTR) {
    }
    try {
      const auto begin = Clock::now();
      double elapsed = 0;
      do {
        company.Cheque();
        ++outcome.cheques;
        elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
      } while (elapsed < seconds && !InterruptRequested());
      outcome.seconds = elapsed;
    } catch (const std::exception& error) {
      failed(error);
    }
  }
  sent = sent && WriteAll(report, &outcome, sizeof outcome);
  // The library closes its own connections politely; the bench's objects on the stack are the
  // parent's, and exit leaves them alone.
  std::exit(sent && outcome.error[0] == '\0' ? 0 : 1);
}

// Cheques per second of `companies.size()` processes together, one company each, for
// `seconds` of common time.
double ChequesPerSecond(const std::vector<Company*>& companies, double seconds) {
  int start[2];
  if (::pipe(start) != 0) throw std::runtime_error("pipe failed");
  std::vector<pid_t> children;
  std::vector<int> reports;
  std::string failure;
  std::fflush(stdout);
  std::fflush(stderr);
  for (Company* company : companies) {
    int report[2];
    if (::pipe(report) != 0) {
      failure = "pipe failed";
      break;
    }
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(start[1]);
      ::close(report[0]);
      for (const int earlier : reports) ::close(earlier);
      Child(*company, start[0], report[1], seconds);
    }
    ::close(report[1]);
    if (child < 0) {
      ::close(report[0]);
      failure = "fork failed";
      break;
    }
    children.push_back(child);
    reports.push_back(report[0]);
  }
  ::close(start[0]);
  // Everyone ready (or gone), then the start for all at once.
  for (const int report : reports) {
    char ready = 0;
    if (!ReadAll(report, &ready, 1) && failure.empty()) failure = "a process ended before it was ready";
  }
  ::close(start[1]);
  double rate = 0;
  for (const int report : reports) {
    Outcome outcome;
    if (!ReadAll(report, &outcome, sizeof outcome)) {
      if (failure.empty()) failure = "a process ended without its count";
    } else if (outcome.error[0] != '\0') {
      if (failure.empty()) failure = outcome.error;
    } else if (outcome.seconds > 0) {
      rate += static_cast<double>(outcome.cheques) / outcome.seconds;
    }
    ::close(report);
  }
  for (const pid_t child : children) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if ((!WIFEXITED(status) || WEXITSTATUS(status) != 0) && failure.empty()) failure = "a process failed";
  }
  CheckInterrupted();
  if (!failure.empty()) throw std::runtime_error(failure);
  return rate;
}

}  // namespace

void ChequesEightCompanies(RawEngine& raw, bool quick) {
  std::vector<std::unique_ptr<Company>> owned;
  std::vector<Company*> companies;
  for (int i = 0; i < kProcesses; ++i) {
    owned.push_back(std::make_unique<Company>(raw, "cheques_" + std::to_string(i), 1000));
    companies.push_back(owned.back().get());
  }
  const std::vector<Company*> one(companies.begin(), companies.begin() + 1);
  const int rounds = quick ? 2 : 3;
  const double seconds = quick ? 2.0 : 4.0;
  double one_total = 0, all_total = 0;
  for (int round = 0; round < rounds; ++round) {
    one_total += ChequesPerSecond(one, seconds);
    all_total += ChequesPerSecond(companies, seconds);
  }
  const double one_rate = one_total / rounds, all_rate = all_total / rounds;
  std::printf("{\"name\":\"cheques_8_companies\",\"ops_per_s\":%.1f,\"one_process_ops_per_s\":%.1f,\"ratio_to_one\":%.3f}\n",
              all_rate, one_rate, all_rate / one_rate);
  std::fflush(stdout);
}

}  // namespace bench
