#include "support/Cli.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <sys/wait.h>

namespace ledgerkit::testing {

namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

// The one source given the tool's path: the other test sources compile alike in every build
// folder, so a second build takes them from the compiler cache.
const char* CliPath() { return LEDGERKIT_CLI_PATH; }

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

CliRun RunLedgerkit(const std::filesystem::path& folder, const std::string& arguments,
                    const std::optional<std::string>& input) {
  const std::string err_file = (folder / "cli-stderr.txt").string();
  std::string command = std::string(CliPath()) + " " + arguments;
  if (input) {
    const std::string in_file = (folder / "cli-stdin.txt").string();
    std::ofstream(in_file, std::ios::binary | std::ios::trunc) << *input;
    command += " <" + ShellQuote(in_file);
  }
  command += " 2>" + ShellQuote(err_file);
  CliRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return run;
  }
  std::array<char, 65536> buffer{};
  for (size_t got = 0; (got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) run.out.append(buffer.data(), got);
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadFile(err_file);
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

}  // namespace ledgerkit::testing
