#include "support/Hledger.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <sys/wait.h>

#include "ledgerkit/common/Convert.h"
#include "support/Cli.h"

namespace ledgerkit::testing {

namespace {

// One field of a CSV line as hledger writes it: every field quoted, no quotes inside the
// values this test produces. Returns the field and moves `at` past it and its comma.
std::string CsvField(const std::string& line, size_t& at) {
  if (line[at] != '"') return {};
  const size_t close = line.find('"', at + 1);
  std::string field = line.substr(at + 1, close - at - 1);
  at = close + 2;
  return field;
}

}  // namespace

bool HaveHledger() { return std::system("command -v hledger >/dev/null 2>&1") == 0; }

std::map<std::string, Currency> HledgerBalances(const std::string& journal) {
  std::map<std::string, Currency> balances;
  const std::string command = "hledger -f " + ShellQuote(journal) + " balance --flat --empty -O csv 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return balances;
  }
  std::string output;
  std::array<char, 65536> buffer{};
  for (size_t got = 0; (got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) output.append(buffer.data(), got);
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
  std::istringstream lines(output);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "\"account\",\"balance\"");
  while (std::getline(lines, line)) {
    size_t at = 0;
    const std::string account = CsvField(line, at);
    const std::string amount = CsvField(line, at);
    if (account == "total") continue;
    balances[account] = CurrencyFromText(amount);
  }
  return balances;
}

}  // namespace ledgerkit::testing
