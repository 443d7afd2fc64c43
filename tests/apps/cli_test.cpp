// The command-line tool, run as a user runs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ledgerkit/common/Version.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CliRun;
using testing::Lines;
using testing::RunLedgerkit;
using testing::ShellQuote;

TEST(Cli, NewThenQueryAsTableCsvAndJson) {
  testing::TempCompany scratch;
  const std::string file = (scratch.folder() / "cli.ldb").string();
  const CliRun created = RunLedgerkit(scratch.folder(), "new " + ShellQuote(file) + " --company " + ShellQuote("O'Brien & Sons"));
  ASSERT_EQ(created.exit_code, 0) << created.err;
  ASSERT_EQ(testing::RawExec(file, "INSERT INTO ACAccount (Parent,AccountNumber,Name,Balance) VALUES (1,'1000','Bank',-125000);"), "");

  const CliRun table = RunLedgerkit(scratch.folder(), "query " + ShellQuote(file) + " " +
                                                     ShellQuote("SELECT AccountNumber, Name, Balance FROM ACAccount"));
  ASSERT_EQ(table.exit_code, 0) << table.err;
  EXPECT_EQ(table.out,
            "AccountNumber  Name  Balance\n"
            "-------------  ----  -------\n"
            "1000           Bank    -12.5\n"
            "(1 row)\n");

  const CliRun csv = RunLedgerkit(scratch.folder(), "query " + ShellQuote(file) + " " +
                                                   ShellQuote("SELECT CompanyName, NextTransactionNumber FROM ISubScriber") + " --csv");
  EXPECT_EQ(csv.out, "CompanyName,NextTransactionNumber\r\nO'Brien & Sons,1\r\n");

  const CliRun json = RunLedgerkit(scratch.folder(), "query " + ShellQuote(file) + " " +
                                                    ShellQuote("SELECT Balance, Name FROM ACAccount") + " --json");
  EXPECT_EQ(json.out, "[\n  {\n    \"Balance\": \"-12.5\",\n    \"Name\": \"Bank\"\n  }\n]\n");
}

TEST(Cli, BadInputGetsOneLineAndNonZeroExit) {
  testing::TempCompany company;
  const CliRun missing = RunLedgerkit(company.folder(), "query " + ShellQuote(company.MissingPath()) + " 'SELECT 1'");
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;
  EXPECT_NE(missing.err.find(testing::OnPostgres() ? "does not exist in the database" : "ledgerkit query: no company at "),
            std::string::npos)
      << missing.err;
  EXPECT_EQ(missing.err.find("VantorERR"), std::string::npos) << missing.err;
  EXPECT_FALSE(std::filesystem::exists(company.MissingPath()));

  const CliRun again = RunLedgerkit(company.folder(), "new " + ShellQuote(company.path()) + " --company X");
  EXPECT_NE(again.exit_code, 0);
  EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;

  const CliRun two = RunLedgerkit(company.folder(), "query " + ShellQuote(company.path()) + " 'DELETE FROM IUser; DELETE FROM ACAccount'");
  EXPECT_NE(two.exit_code, 0);
  EXPECT_EQ(std::count(two.err.begin(), two.err.end(), '\n'), 1) << two.err;

  // A file that is not a company, whatever it holds, is said to be one; a control character in
  // the path is shown escaped, never sent to the terminal.
  for (const std::string& content : {std::string("hello\n"), std::string(), std::string("SQLite format 3\0", 16)}) {
    const std::filesystem::path other = company.folder() / "notes\x1b[2J.txt";
    std::ofstream(other, std::ios::binary) << content;
    const CliRun refused = RunLedgerkit(company.folder(), "accounts " + ShellQuote(other.string()));
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_EQ(Lines(refused.err).size(), 1u) << refused.err;
    EXPECT_NE(refused.err.find("notes\\x1B[2J.txt is not a ledgerkit company"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find('\x1b'), std::string::npos);
  }

  // An unknown command lists the commands; a command line that cannot be read is one line.
  const CliRun unknown = RunLedgerkit(company.folder(), "balance");
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_EQ(unknown.err.rfind("ledgerkit: unknown command \"balance\"; the commands are new, query, ", 0), 0u) << unknown.err;
  EXPECT_NE(unknown.err.find(", accounts, post, "), std::string::npos) << unknown.err;
  EXPECT_NE(RunLedgerkit(company.folder(), "").exit_code, 0);
  const CliRun no_file = RunLedgerkit(company.folder(), "new");
  EXPECT_NE(no_file.exit_code, 0);
  EXPECT_EQ(Lines(no_file.err).size(), 1u) << no_file.err;
  EXPECT_EQ(no_file.err.rfind("ledgerkit new: ", 0), 0u) << no_file.err;
  const CliRun help = RunLedgerkit(company.folder(), "query --help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--csv"), std::string::npos);
}

TEST(Cli, DemoBalancesAndItsFileChecksClean) {
  testing::TempCompany scratch;
  const std::string file = (scratch.folder() / "demo.ldb").string();
  const CliRun demo = RunLedgerkit(scratch.folder(), "demo " + ShellQuote(file));
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
  const CliRun check = RunLedgerkit(scratch.folder(), "check " + ShellQuote(file));
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  EXPECT_EQ(check.out, "no findings\n");
  EXPECT_NE(RunLedgerkit(scratch.folder(), "demo " + ShellQuote(file)).exit_code, 0);  // never over an existing file

  // A finding makes check say so, with its own exit code.
  ASSERT_EQ(testing::RawExec(file, "UPDATE ACAccount SET Balance=Balance+1 WHERE AccountNumber='1000';"), "");
  const CliRun broken = RunLedgerkit(scratch.folder(), "check " + ShellQuote(file) + " --json");
  EXPECT_EQ(broken.exit_code, 3);
  EXPECT_NE(broken.out.find("\"kind\": \"balance\""), std::string::npos) << broken.out;
}

TEST(Cli, QueryPrintsTextThatIsNotUtf8WithReplacementCharacters) {
  LEDGERKIT_FILE_ONLY("only a file's text column can hold bytes that are not UTF-8; a server refuses them");
  testing::TempCompany company;
  // "B", a stray byte, "n", a cut-off two-byte sequence; then a valid "é" and a code point past
  // U+10FFFF (four bytes, each its own bad part).
  ASSERT_EQ(testing::RawExec(company.path(), "INSERT INTO ACAccount (Parent,AccountNumber,Name,Balance) VALUES "
                                             "(1,'2000',CAST(X'42FF6EC3' AS TEXT),0),"
                                             "(1,'2001',CAST(X'C3A9F4908080' AS TEXT),0);"),
            "");
  const std::string query =
      "query " + ShellQuote(company.path()) + " " +
      ShellQuote("SELECT Name, AccountNumber AS No FROM ACAccount WHERE AccountNumber IN ('2000','2001') ORDER BY 2");
  const std::string bad = "B\uFFFDn\uFFFD";
  const std::string past = "\u00E9\uFFFD\uFFFD\uFFFD\uFFFD";

  const CliRun json = RunLedgerkit(company.folder(), query + " --json");
  EXPECT_EQ(json.exit_code, 0) << json.err;
  EXPECT_EQ(json.out, "[\n  {\n    \"Name\": \"" + bad + "\",\n    \"No\": \"2000\"\n  },\n  {\n    \"Name\": \"" + past +
                          "\",\n    \"No\": \"2001\"\n  }\n]\n");

  const CliRun csv = RunLedgerkit(company.folder(), query + " --csv");
  EXPECT_EQ(csv.exit_code, 0) << csv.err;
  EXPECT_EQ(csv.out, "Name,No\r\n" + bad + ",2000\r\n" + past + ",2001\r\n");

  const CliRun table = RunLedgerkit(company.folder(), query);
  EXPECT_EQ(table.exit_code, 0) << table.err;
  EXPECT_EQ(table.out, "Name   No\n-----  ----\n" + bad + "   2000\n" + past + "  2001\n(2 rows)\n");
}

TEST(Cli, CheckReportsSumsBeyondTheRangeAndWarningsWithTheirExitCodes) {
  testing::TempCompany company;
  // An issued invoice billed 50 whose Total says 90: a warning only.
  ASSERT_EQ(testing::RawExec(company.path(),
                             "INSERT INTO ACAccount (ACAccountID,Parent,AccountNumber,Name,Balance) VALUES "
                             "(1,1,'1000','Bank',500000),(2,1,'1200','Receivable',-500000);"
                             "INSERT INTO ACTransLog (TransactionNumber,TransLogStatus) VALUES ('1',1);"
                             "INSERT INTO ACTransaction (Parent,Withdrawal,Deposit,TransactionNumber) VALUES "
                             "(2,500000,NULL,'1'),(1,NULL,500000,'1');"
                             "INSERT INTO ACInvoice (InvoiceNo,TransactionNumber,AccountID,Total) VALUES ('A-1','1',2,900000);"),
            "");
  const CliRun warned = RunLedgerkit(company.folder(), "check " + ShellQuote(company.path()));
  EXPECT_EQ(warned.exit_code, 2) << warned.out << warned.err;
  EXPECT_NE(warned.out.find("has a total of 90 but its receivable debit is 50"), std::string::npos) << warned.out;

  // Register amounts the engine cannot sum (written past the file's rules): reported, not a stop.
  ASSERT_EQ(testing::RawExec(company.path(),
                             "DROP TRIGGER lk_register_insert;"
                             "INSERT INTO ACTransaction (Parent,Withdrawal,TransactionNumber) VALUES "
                             "(1,9000000000000000000,'1'),(1,9000000000000000000,'1');"),
            "");
  const CliRun overflow = RunLedgerkit(company.folder(), "check " + ShellQuote(company.path()) + " --json");
  EXPECT_EQ(overflow.exit_code, 3) << overflow.out << overflow.err;
  EXPECT_NE(overflow.out.find("\"kind\": \"overflow\""), std::string::npos) << overflow.out;
  EXPECT_EQ(overflow.err, "");
}

TEST(Cli, VersionIsTheLibrarysOwn) {
  testing::TempCompany scratch;
  const CliRun version = RunLedgerkit(scratch.folder(), "--version");
  ASSERT_EQ(version.exit_code, 0) << version.err;
  EXPECT_EQ(version.out, "ledgerkit " + std::string(kVersion) + "\n");
  EXPECT_EQ(std::string(kVersion), std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
                                       std::to_string(kVersionPatch));
}

}  // namespace
}  // namespace ledgerkit
