// Everyday bookkeeping and the financial statements on the command line, run as a user runs them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::json;
using testing::CliRun;
using testing::Lines;
using testing::ShellQuote;

// A company file made with the starter chart in a scratch folder, and the tool run on it.
class ReportCli : public ::testing::Test {
 protected:
  ReportCli() : file_((scratch_.folder() / "books.ldb").string()) {
    const CliRun created = Run("new " + ShellQuote(file_) + " --company Shop --chart standard --user owner --password pw123456");
    EXPECT_EQ(created.exit_code, 0) << created.err;
  }

  CliRun Run(const std::string& arguments) const { return testing::RunLedgerkit(scratch_.folder(), arguments); }
  // `ledgerkit COMMAND FILE REST`.
  CliRun On(const std::string& command, const std::string& rest = "") const {
    return Run(command + " " + ShellQuote(file_) + (rest.empty() ? "" : " " + rest));
  }
  CliRun Post(const std::string& date, const std::string& lines) const {
    return On("post", "--date " + date + " --description Entry " + lines);
  }
  std::string Scalar(const std::string& sql) const { return testing::RawScalar(file_, sql); }

  testing::TempCompany scratch_;
  std::string file_;
};

TEST_F(ReportCli, PostChecksTheEntryAndAccountsShowsTheTreeWithBalances) {
  EXPECT_NE(Run("new " + ShellQuote((scratch_.folder() / "x.ldb").string()) + " --company X --chart standard").exit_code, 0);
  const CliRun chart = On("accounts");
  ASSERT_EQ(chart.exit_code, 0) << chart.err;
  EXPECT_NE(chart.out.find("5800     Insurance"), std::string::npos) << chart.out;
  EXPECT_NE(chart.out.find("(17 rows)"), std::string::npos) << chart.out;

  const CliRun capital = Post("2026-01-05", "--debit 1000=12500 --credit 3000=12500");
  ASSERT_EQ(capital.exit_code, 0) << capital.err;
  EXPECT_EQ(capital.out, "Posted transaction 1: debits 12500, credits 12500.\n");

  // Refused before anything is written: unbalanced, an unknown account, a bad amount.
  for (const char* lines : {"--debit 5100=10 --credit 1000=7", "--debit 9999=1 --credit 1000=1",
                            "--debit 5100=ten --credit 1000=10", "--debit 5100=-1 --credit 1000=-1"}) {
    const CliRun refused = Post("2026-01-06", lines);
    EXPECT_EQ(refused.exit_code, 1) << lines;
    EXPECT_EQ(Lines(refused.err).size(), 1u) << refused.err;
  }
  EXPECT_NE(Post("2026-01-06", "--debit 5100=10 --credit 1000=7").err.find("does not balance"), std::string::npos);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ACTransLog"), "1");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ACTransaction"), "2");

  // A sub-account shows under its parent, its balance rolled into the parent's.
  ASSERT_EQ(On("query", ShellQuote("UPDATE ACAccount SET ParentAccountID=1 WHERE AccountNumber='1200'")).exit_code, 0);
  ASSERT_EQ(Post("2026-01-07", "--debit 1200=250.5 --credit 4000=250.5").exit_code, 0);
  const CliRun tree = On("accounts");
  ASSERT_EQ(tree.exit_code, 0) << tree.err;
  const std::vector<std::string> lines = Lines(tree.out);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2].substr(0, 4), "1000");
  EXPECT_EQ(lines[3].substr(0, 6), "  1200");
  EXPECT_NE(lines[2].find("12,500.00          12,750.50"), std::string::npos) << tree.out;
  EXPECT_NE(tree.out.find("Sales                   Income         250.50"), std::string::npos) << tree.out;

  // --allow-unbalanced posts it; the trial balance then shows the difference.
  ASSERT_EQ(Post("2026-01-08", "--debit 5100=10 --credit 1000=7 --allow-unbalanced").exit_code, 0);
  const CliRun trial = On("report trial-balance");
  ASSERT_EQ(trial.exit_code, 0) << trial.err;
  const std::vector<std::string> rows = Lines(trial.out);
  ASSERT_GE(rows.size(), 3u);
  const std::string& difference = rows[rows.size() - 2];
  EXPECT_EQ(difference.rfind("         Out of balance by", 0), 0u) << trial.out;
  EXPECT_EQ(difference.size(), rows[0].find("Debit balance") + 13) << trial.out;  // in the debit column
  EXPECT_EQ(difference.substr(difference.size() - 5), " 3.00") << trial.out;
  EXPECT_EQ(rows.back(), "(5 rows)");
}

TEST_F(ReportCli, StatementTablesAlignAmountsAndSetTotalsApart) {
  ASSERT_EQ(Post("2026-01-05", "--debit 1000=12500 --credit 3000=12500").exit_code, 0);
  ASSERT_EQ(Post("2026-02-10", "--debit 5100=1200.25 --credit 1000=1200.25").exit_code, 0);
  const CliRun table = Run("report trial-balance " + ShellQuote(file_) + " --as-of 2026-01-31");
  ASSERT_EQ(table.exit_code, 0) << table.err;
  EXPECT_EQ(table.out,
            "Account  Name            Class      Debits    Credits  Debit balance  Credit balance\n"
            "-------  --------------  ------  ---------  ---------  -------------  --------------\n"
            "1000     Bank            Asset   12,500.00       0.00      12,500.00\n"
            "3000     Owner's equity  Equity       0.00  12,500.00                      12,500.00\n"
            "-------  --------------  ------  ---------  ---------  -------------  --------------\n"
            "         Total                   12,500.00  12,500.00      12,500.00       12,500.00\n"
            "(2 rows)\n");

  // One amount that is not whole cents turns its column to four decimals, and only that column
  // (and those that sum it).
  ASSERT_EQ(Post("2026-02-11", "--debit 5100=0.0001 --credit 1000=0.0001").exit_code, 0);
  const CliRun fine = On("report trial-balance");
  ASSERT_EQ(fine.exit_code, 0) << fine.err;
  const std::vector<std::string> lines = Lines(fine.out);
  ASSERT_EQ(lines.size(), 8u) << fine.out;
  const size_t debits_end = lines[0].find("Debits") + 6;
  for (size_t i : {2u, 3u, 4u, 6u}) {
    ASSERT_GT(lines[i].size(), debits_end) << lines[i];
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(lines[i][debits_end - 1]))) << lines[i];
    EXPECT_EQ(lines[i][debits_end], ' ') << lines[i];
  }
  EXPECT_NE(lines[2].find("12,500.0000   1,200.2501"), std::string::npos) << fine.out;
  EXPECT_NE(lines[4].find("1,200.2501"), std::string::npos) << fine.out;
  EXPECT_EQ(lines[7], "(3 rows)");

  // CSV and JSON keep exact plain amounts and every row, told apart by RowKind.
  const CliRun csv = On("report trial-balance", "--csv");
  EXPECT_NE(csv.out.find("total,,,Total,,,13700.2501,13700.2501,12500,12500"), std::string::npos) << csv.out;
  const Json rows = Json::parse(On("report balance-sheet", "--json").out);
  ASSERT_TRUE(rows.is_array());
  EXPECT_EQ(rows.back()["Name"], "Total liabilities and equity");
  EXPECT_EQ(rows.back()["Amount"], "11299.7499");

  const CliRun bank = On("report account-register", "--account 1000 --from 2026-02-01 --to 2026-02-28");
  ASSERT_EQ(bank.exit_code, 0) << bank.err;
  EXPECT_NE(bank.out.find("2026-02-01                   Opening balance"), std::string::npos) << bank.out;
  EXPECT_NE(bank.out.find("(2 rows)"), std::string::npos) << bank.out;
}

TEST_F(ReportCli, MonthlyIncomeChartHasOneBarPerMonthAndClassInProportion) {
  ASSERT_EQ(Post("2026-01-15", "--debit 1000=1000 --credit 4000=1000").exit_code, 0);
  ASSERT_EQ(Post("2026-01-20", "--debit 5100=250 --credit 1000=250").exit_code, 0);
  ASSERT_EQ(Post("2026-02-02", "--debit 1000=400.5 --credit 4000=400.5").exit_code, 0);
  const std::string svg_path = (scratch_.folder() / "chart.svg").string();
  const CliRun monthly =
      On("report income-statement", "--from 2026-01-01 --to 2026-03-31 --monthly --chart " + ShellQuote(svg_path));
  ASSERT_EQ(monthly.exit_code, 0) << monthly.err;
  EXPECT_NE(monthly.out.find("2026-01  2026-02  2026-03    Amount"), std::string::npos) << monthly.out;

  std::ifstream file(svg_path);
  std::stringstream svg;
  svg << file.rdbuf();
  const std::string text = svg.str();
  ASSERT_EQ(text.rfind("<?xml", 0), 0u) << text;
  const std::regex bar(
      R"re(<rect class="bar" data-month="([0-9-]+)" data-class="(\w+)" data-amount="([0-9.-]+)"[^>]* height="([0-9.]+)")re");
  std::vector<std::string> seen;
  double ratio = 0;
  for (auto match = std::sregex_iterator(text.begin(), text.end(), bar); match != std::sregex_iterator(); ++match) {
    const double amount = std::stod((*match)[3]);
    const double height = std::stod((*match)[4]);
    seen.push_back((*match)[1].str() + " " + (*match)[2].str() + " " + (*match)[3].str());
    if (amount == 0) {
      EXPECT_EQ(height, 0);
      continue;
    }
    if (ratio == 0) ratio = height / amount;
    EXPECT_NEAR(height / amount, ratio, 0.01 * ratio) << seen.back();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"2026-01 Income 1000", "2026-01 Expenses 250", "2026-02 Income 400.5",
                                            "2026-02 Expenses 0", "2026-03 Income 0", "2026-03 Expenses 0"}));

  EXPECT_EQ(On("report income-statement", "--chart " + ShellQuote(svg_path)).exit_code, 1);  // needs --monthly
}

TEST_F(ReportCli, BadReportRequestsAreOneLineErrors) {
  const std::vector<std::string> requests = {
      "report account-register " + ShellQuote(file_),
      "report account-register " + ShellQuote(file_) + " --account 7777",
      "report trial-balance " + ShellQuote(file_) + " --from 2026-01-01",
      "report income-statement " + ShellQuote(file_) + " --as-of 2026-01-01",
      "report income-statement " + ShellQuote(file_) + " --monthly",
      "report balance-sheet " + ShellQuote(file_) + " --as-of yesterday",
      "report balance-sheet " + ShellQuote((scratch_.folder() / "missing.ldb").string()),
  };
  for (const std::string& request : requests) {
    const CliRun run = Run(request);
    EXPECT_EQ(run.exit_code, 1) << request;
    EXPECT_EQ(Lines(run.err).size(), 1u) << request << ": " << run.err;
    EXPECT_EQ(run.err.rfind("ledgerkit report: ", 0), 0u) << run.err;
  }
  EXPECT_NE(Run("report profit " + ShellQuote(file_)).exit_code, 0);
  EXPECT_NE(Run("report trial-balance " + ShellQuote(file_) + " --as-of 2026-01-01 --from 2026-01-01").exit_code, 0);
}

TEST(ReportCliDemo, DemoBalanceSheetBalancesAndStatementsReachTheBridge) {
  testing::TempCompany scratch;
  const std::string file = (scratch.folder() / "demo.ldb").string();
  const CliRun demo = testing::RunLedgerkit(scratch.folder(), "demo " + ShellQuote(file));
  ASSERT_EQ(demo.exit_code, 0) << demo.err;
  EXPECT_NE(demo.out.find("Log on as \"owner\" with the password \"demo-pass\"."), std::string::npos) << demo.out;
  for (const char* heading : {"Trial balance", "Balance sheet", "Income statement", "Bank register", "Aged receivables"}) {
    EXPECT_NE(demo.out.find(heading), std::string::npos) << heading;
  }

  const Json sheet = Json::parse(
      testing::RunLedgerkit(scratch.folder(), "report balance-sheet " + ShellQuote(file) + " --as-of 2026-03-31 --json").out);
  std::string assets, both;
  for (const Json& row : sheet) {
    if (row["RowKind"] != "total") continue;
    if (row["Section"] == "Assets") assets = row["Amount"];
    if (row["Section"].is_null()) both = row["Amount"];
  }
  EXPECT_EQ(assets, "24502.4521");
  EXPECT_EQ(both, assets);

  const Json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "CReportMgr.TrialBalance"},
                        {"params", {file, "owner", "", "2026-03-31"}}};
  const CliRun bridge = testing::RunLedgerkit(scratch.folder(), "rpc", request.dump() + "\n");
  const Json answer = Json::parse(bridge.out);
  ASSERT_TRUE(answer.contains("result")) << bridge.out;
  const Json& value = answer["result"].contains("value") ? answer["result"]["value"] : answer["result"];
  EXPECT_EQ(value["class"], "Recordset") << bridge.out;
  EXPECT_EQ(value["rows"].size(), 10u) << bridge.out;  // nine accounts and the total
}

}  // namespace
}  // namespace ledgerkit
