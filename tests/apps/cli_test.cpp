// The command-line tool, run as a user runs it.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

struct Outcome {
  int exit_code;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

Outcome RunCli(const std::filesystem::path& folder, const std::string& arguments) {
  const std::string err_file = (folder / "stderr.txt").string();
  const std::string command = std::string(LEDGERKIT_CLI_PATH) + " " + arguments + " 2>" + Quote(err_file);
  Outcome outcome{};
  FILE* pipe = popen(command.c_str(), "r");
  std::array<char, 4096> buffer{};
  size_t got = 0;
  while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) outcome.out.append(buffer.data(), got);
  const int status = pclose(pipe);
  outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  FILE* err = fopen(err_file.c_str(), "r");
  while (err != nullptr && (got = fread(buffer.data(), 1, buffer.size(), err)) > 0) outcome.err.append(buffer.data(), got);
  if (err != nullptr) fclose(err);
  return outcome;
}

TEST(Cli, NewThenQueryAsTableCsvAndJson) {
  testing::TempCompany scratch;
  const std::string file = (scratch.folder() / "cli.ldb").string();
  const Outcome created = RunCli(scratch.folder(), "new " + Quote(file) + " --company " + Quote("O'Brien & Sons"));
  ASSERT_EQ(created.exit_code, 0) << created.err;
  ASSERT_EQ(testing::RawExec(file, "INSERT INTO ACAccount (Parent,AccountNumber,Name,Balance) VALUES (1,'1000','Bank',-125000);"), "");

  const Outcome table = RunCli(scratch.folder(), "query " + Quote(file) + " " +
                                                     Quote("SELECT AccountNumber, Name, Balance FROM ACAccount"));
  ASSERT_EQ(table.exit_code, 0) << table.err;
  EXPECT_EQ(table.out,
            "AccountNumber  Name  Balance\n"
            "-------------  ----  -------\n"
            "1000           Bank    -12.5\n"
            "(1 row)\n");

  const Outcome csv = RunCli(scratch.folder(), "query " + Quote(file) + " " +
                                                   Quote("SELECT CompanyName, NextTransactionNumber FROM ISubScriber") + " --csv");
  EXPECT_EQ(csv.out, "CompanyName,NextTransactionNumber\r\nO'Brien & Sons,1\r\n");

  const Outcome json = RunCli(scratch.folder(), "query " + Quote(file) + " " +
                                                    Quote("SELECT Balance, Name FROM ACAccount") + " --json");
  EXPECT_EQ(json.out, "[\n  {\n    \"Balance\": \"-12.5\",\n    \"Name\": \"Bank\"\n  }\n]\n");
}

TEST(Cli, BadInputGetsOneLineAndNonZeroExit) {
  testing::TempCompany company;
  const Outcome missing = RunCli(company.folder(), "query " + Quote(company.MissingPath()) + " 'SELECT 1'");
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;
  EXPECT_NE(missing.err.find("unable to open database file"), std::string::npos) << missing.err;
  EXPECT_EQ(missing.err.find("VantorERR"), std::string::npos) << missing.err;
  EXPECT_FALSE(std::filesystem::exists(company.MissingPath()));

  const Outcome again = RunCli(company.folder(), "new " + Quote(company.path()) + " --company X");
  EXPECT_NE(again.exit_code, 0);
  EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;

  const Outcome two = RunCli(company.folder(), "query " + Quote(company.path()) + " 'DELETE FROM IUser; DELETE FROM ACAccount'");
  EXPECT_NE(two.exit_code, 0);
  EXPECT_EQ(std::count(two.err.begin(), two.err.end(), '\n'), 1) << two.err;

  EXPECT_NE(RunCli(company.folder(), "frobnicate").exit_code, 0);
  EXPECT_NE(RunCli(company.folder(), "new").exit_code, 0);
  const Outcome help = RunCli(company.folder(), "query --help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--csv"), std::string::npos);
}

TEST(Cli, DemoBalancesAndItsFileChecksClean) {
  testing::TempCompany scratch;
  const std::string file = (scratch.folder() / "demo.ldb").string();
  const Outcome demo = RunCli(scratch.folder(), "demo " + Quote(file));
  ASSERT_EQ(demo.exit_code, 0) << demo.err;
  // The totals line of the trial balance carries two equal amounts.
  const size_t total = demo.out.find("Total");
  ASSERT_NE(total, std::string::npos) << demo.out;
  std::istringstream totals(demo.out.substr(total + 5, demo.out.find('\n', total) - total - 5));
  std::string debits, credits;
  totals >> debits >> credits;
  EXPECT_FALSE(debits.empty());
  EXPECT_EQ(debits, credits) << demo.out;
  EXPECT_NE(demo.out.find("a/c Service Charge"), std::string::npos) << demo.out;
  const Outcome check = RunCli(scratch.folder(), "check " + Quote(file));
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  EXPECT_EQ(check.out, "no findings\n");
  EXPECT_NE(RunCli(scratch.folder(), "demo " + Quote(file)).exit_code, 0);  // never over an existing file

  // A finding makes check say so, with its own exit code.
  ASSERT_EQ(testing::RawExec(file, "UPDATE ACAccount SET Balance=Balance+1 WHERE AccountNumber='1000';"), "");
  const Outcome broken = RunCli(scratch.folder(), "check " + Quote(file) + " --json");
  EXPECT_EQ(broken.exit_code, 3);
  EXPECT_NE(broken.out.find("\"kind\": \"balance\""), std::string::npos) << broken.out;
}

}  // namespace
}  // namespace ledgerkit
