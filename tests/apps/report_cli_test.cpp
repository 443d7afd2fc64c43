// Everyday bookkeeping and the financial statements on the command line, run as a user runs them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
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

// Runs `command` in a shell: its exit status and standard output.
std::pair<int, std::string> Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, out};
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Every match of the first group of `pattern` in `text`.
std::vector<std::string> Matches(const std::string& text, const std::string& pattern) {
  std::vector<std::string> found;
  const std::regex expression(pattern);
  for (auto match = std::sregex_iterator(text.begin(), text.end(), expression); match != std::sregex_iterator(); ++match) {
    found.push_back((*match)[1].str());
  }
  return found;
}

// What a chart looks like once drawn: the SVG rendered to PNG by librsvg (rsvg-convert, which
// scripts/install-deps.sh installs: its absence is a failure), the PNG's size, and how many
// different byte values its pixel data holds (a blank image has two or three).
struct Rendered {
  bool rendered = false;
  uint32_t width = 0, height = 0;
  int distinct_bytes = 0;
};

Rendered Render(const std::filesystem::path& folder, const std::string& svg) {
  Rendered result;
  const std::string png = (folder / "chart.png").string();
  std::filesystem::remove(png);
  const auto [status, out] = Shell("rsvg-convert -f png -o " + ShellQuote(png) + " " + ShellQuote(svg) + " 2>&1");
  EXPECT_EQ(status, 0) << "rsvg-convert (Debian package librsvg2-bin) failed or is missing: " << out;
  const std::string bytes = FileText(png);
  if (status != 0 || bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return result;
  result.rendered = true;
  auto word = [&](size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  result.width = word(16);
  result.height = word(20);
  const std::string script = (folder / "pixels.py").string();
  std::ofstream(script) << "import struct, sys, zlib\n"
                           "data = open(sys.argv[1], 'rb').read()\n"
                           "at, idat = 8, b''\n"
                           "while at < len(data):\n"
                           "    size, kind = struct.unpack('>I4s', data[at:at + 8])\n"
                           "    if kind == b'IDAT': idat += data[at + 8:at + 8 + size]\n"
                           "    at += 12 + size\n"
                           "print(len(set(zlib.decompress(idat))))\n";
  const auto [decoded, count] = Shell("python3 " + ShellQuote(script) + " " + ShellQuote(png));
  EXPECT_EQ(decoded, 0) << count;
  if (decoded == 0) result.distinct_bytes = std::stoi(count);
  return result;
}

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
  ASSERT_GE(rows.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(rows.begin(), rows.begin() + 4),
            (std::vector<std::string>{"Shop", "Trial balance", "All dates", ""}));
  const std::string& difference = rows[rows.size() - 2];
  EXPECT_EQ(difference.rfind("         Out of balance by", 0), 0u) << trial.out;
  EXPECT_EQ(difference.size(), rows[4].find("Debit balance") + 13) << trial.out;  // in the debit column
  EXPECT_EQ(difference.substr(difference.size() - 5), " 3.00") << trial.out;
  EXPECT_EQ(rows.back(), "(5 rows)");
}

TEST_F(ReportCli, StatementTablesAlignAmountsAndSetTotalsApart) {
  ASSERT_EQ(Post("2026-01-05", "--debit 1000=12500 --credit 3000=12500").exit_code, 0);
  ASSERT_EQ(Post("2026-02-10", "--debit 5100=1200.25 --credit 1000=1200.25").exit_code, 0);
  const CliRun table = Run("report trial-balance " + ShellQuote(file_) + " --as-of 2026-01-31");
  ASSERT_EQ(table.exit_code, 0) << table.err;
  EXPECT_EQ(table.out,
            "Shop\n"
            "Trial balance\n"
            "As of 2026-01-31\n"
            "\n"
            "Account  Name            Class      Debits    Credits  Debit balance  Credit balance\n"
            "-------  --------------  ------  ---------  ---------  -------------  --------------\n"
            "1000     Bank            Asset   12,500.00       0.00      12,500.00\n"
            "3000     Owner's equity  Equity       0.00  12,500.00                      12,500.00\n"
            "-------  --------------  ------  ---------  ---------  -------------  --------------\n"
            "         Total                   12,500.00  12,500.00      12,500.00       12,500.00\n"
            "(2 rows)\n");

  // One amount that is not whole cents shows its four decimals, and so do the totals that sum
  // it; the other amounts keep two, padded so that the decimal points of a column line up.
  ASSERT_EQ(Post("2026-02-11", "--debit 5100=0.0001 --credit 1000=0.0001").exit_code, 0);
  const CliRun fine = On("report trial-balance");
  ASSERT_EQ(fine.exit_code, 0) << fine.err;
  const std::vector<std::string> lines = Lines(fine.out);
  ASSERT_EQ(lines.size(), 12u) << fine.out;
  const size_t debits_end = lines[4].find("Debits") + 6;
  for (size_t i : {6u, 7u, 8u, 10u}) {
    ASSERT_GT(lines[i].size(), debits_end) << lines[i];
    EXPECT_EQ(lines[i][debits_end - 5], '.') << lines[i];
    EXPECT_EQ(lines[i][debits_end], ' ') << lines[i];
  }
  EXPECT_NE(lines[6].find("12,500.00     1,200.2501"), std::string::npos) << fine.out;
  EXPECT_NE(lines[7].find("0.00    12,500.00"), std::string::npos) << fine.out;
  EXPECT_NE(lines[8].find("1,200.2501"), std::string::npos) << fine.out;
  EXPECT_EQ(lines[11], "(3 rows)");

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

// The owner of a shop keeps a quarter of books (one bank charge of a fraction of a cent) and
// reads each statement: a heading, no subtotal repeating its total, each amount with its own
// decimals, accounts rolled up, balances by month and quarter end, and the charts drawn.
TEST_F(ReportCli, AQuarterOfBooksReadsAsStatements) {
  for (const auto& [day, lines] : std::vector<std::pair<std::string, std::string>>{
           {"2026-01-02", "--debit 1000=10000 --credit 3000=10000"},
           {"2026-01-15", "--debit 1000=1500 --credit 4000=1500"},
           {"2026-01-31", "--debit 5100=800 --credit 1000=800"},
           {"2026-02-14", "--debit 1200=2250.50 --credit 4000=2250.50"},
           {"2026-02-28", "--debit 5200=12.3456 --credit 1000=12.3456"},
           {"2026-03-05", "--debit 5300=45 --credit 1000=45"},
           {"2026-03-10", "--debit 1000=3.27 --credit 4900=3.27"},
           {"2026-03-31", "--debit 5100=800 --credit 1000=800"}}) {
    const CliRun posted = Post(day, lines);
    ASSERT_EQ(posted.exit_code, 0) << day << ": " << posted.err;
  }
  // Office supplies under bank charges under rent: a tree three levels deep.
  for (const char* sql : {"UPDATE ACAccount SET ParentAccountID=(SELECT ACAccountID FROM ACAccount WHERE "
                          "AccountNumber='5100') WHERE AccountNumber='5200'",
                          "UPDATE ACAccount SET ParentAccountID=(SELECT ACAccountID FROM ACAccount WHERE "
                          "AccountNumber='5200') WHERE AccountNumber='5300'"}) {
    ASSERT_EQ(On("query", ShellQuote(sql)).exit_code, 0);
  }

  // The trial balance: its heading, then each amount with the decimals it has, the decimal
  // points of a column in line.
  const CliRun trial = On("report trial-balance", "--as-of 2026-03-31");
  ASSERT_EQ(trial.exit_code, 0) << trial.err;
  EXPECT_EQ(trial.out,
            "Shop\n"
            "Trial balance\n"
            "As of 2026-03-31\n"
            "\n"
            "Account  Name                 Class         Debits      Credits  Debit balance  Credit balance\n"
            "-------  -------------------  -------  -----------  -----------  -------------  --------------\n"
            "1000     Bank                 Asset    11,503.27     1,657.3456     9,845.9244\n"
            "1200     Accounts receivable  Asset     2,250.50         0.00       2,250.50\n"
            "3000     Owner's equity       Equity        0.00    10,000.00                        10,000.00\n"
            "4000     Sales                Income        0.00     3,750.50                         3,750.50\n"
            "4900     Interest income      Income        0.00         3.27                             3.27\n"
            "5100     Rent                 Expense   1,600.00         0.00       1,600.00\n"
            "5200     Bank charges         Expense      12.3456       0.00          12.3456\n"
            "5300     Office supplies      Expense      45.00         0.00          45.00\n"
            "-------  -------------------  -------  -----------  -----------  -------------  --------------\n"
            "         Total                         15,411.1156  15,411.1156    13,753.77         13,753.77\n"
            "(8 rows)\n");
  EXPECT_EQ(Lines(On("report trial-balance").out)[2], "All dates");

  // --depth 2 rolls office supplies into bank charges, --depth 1 both into rent; the totals stay.
  const CliRun two = On("report trial-balance", "--as-of 2026-03-31 --depth 2");
  ASSERT_EQ(two.exit_code, 0) << two.err;
  EXPECT_NE(two.out.find("5200     Bank charges         Expense      57.3456       0.00          57.3456\n"),
            std::string::npos) << two.out;
  EXPECT_EQ(two.out.find("5300"), std::string::npos) << two.out;
  EXPECT_NE(two.out.find("(7 rows)"), std::string::npos) << two.out;
  const CliRun one = On("report trial-balance", "--as-of 2026-03-31 --depth 1");
  ASSERT_EQ(one.exit_code, 0) << one.err;
  EXPECT_NE(one.out.find("5100     Rent                 Expense   1,657.3456       0.00       1,657.3456\n"),
            std::string::npos) << one.out;
  EXPECT_EQ(one.out.find("5200"), std::string::npos) << one.out;
  EXPECT_NE(one.out.find("         Total                         15,411.1156  15,411.1156    13,753.77         13,753.77\n"),
            std::string::npos) << one.out;
  const Json rolled = Json::parse(On("report trial-balance", "--as-of 2026-03-31 --depth 1 --json").out);
  ASSERT_EQ(rolled.size(), 7u);  // six accounts and the total
  EXPECT_EQ(rolled[5]["AccountNumber"], "5100");
  EXPECT_EQ(rolled[5]["Debits"], "1657.3456");
  const std::string csv = On("report trial-balance", "--as-of 2026-03-31 --depth 1 --csv").out;
  EXPECT_NE(csv.find(",5100,Rent,Expense,Expense,1657.3456,0,1657.3456,"), std::string::npos) << csv;

  // The income statement: a class of one type has its total only, not a subtotal repeating it
  // (the result set keeps the subtotal rows).
  const CliRun income = On("report income-statement", "--from 2026-01-01 --to 2026-03-31");
  ASSERT_EQ(income.exit_code, 0) << income.err;
  EXPECT_EQ(income.out,
            "Shop\n"
            "Income statement\n"
            "2026-01-01 to 2026-03-31\n"
            "\n"
            "Section   Type     Account  Name                 Amount\n"
            "--------  -------  -------  ---------------  ----------\n"
            "Income    Income   4000     Sales            3,750.50\n"
            "                   4900     Interest income      3.27\n"
            "--------  -------  -------  ---------------  ----------\n"
            "                            Total income     3,753.77\n"
            "Expenses  Expense  5100     Rent             1,657.3456\n"
            "--------  -------  -------  ---------------  ----------\n"
            "                            Total expenses   1,657.3456\n"
            "                            Net income       2,096.4244\n"
            "(3 rows)\n");
  const Json statement = Json::parse(On("report income-statement", "--from 2026-01-01 --to 2026-03-31 --json").out);
  int subtotals = 0;
  for (const Json& row : statement) subtotals += row["RowKind"] == "subtotal" ? 1 : 0;
  EXPECT_EQ(subtotals, 2);
  EXPECT_EQ(On("report income-statement", "--from 2026-01-01 --to 2026-03-31 --depth 1").out, income.out);
  // Deeper levels split the top-level account's row; the totals stay the library's.
  const CliRun deeper = On("report income-statement", "--from 2026-01-01 --to 2026-03-31 --depth 2");
  ASSERT_EQ(deeper.exit_code, 0) << deeper.err;
  EXPECT_NE(deeper.out.find("Expenses  Expense  5100     Rent             1,600.00\n"
                            "                   5200       Bank charges      57.3456\n"
                            "--------  -------  -------  ---------------  ----------\n"
                            "                            Total expenses   1,657.3456\n"),
            std::string::npos)
      << deeper.out;
  const CliRun deepest = On("report income-statement", "--from 2026-01-01 --to 2026-03-31 --depth 3 --quarterly");
  ASSERT_EQ(deepest.exit_code, 0) << deepest.err;
  EXPECT_NE(deepest.out.find("5200       Bank charges          12.3456     12.3456\n"
                             "                   5300         Office supplies     45.00       45.00\n"),
            std::string::npos)
      << deepest.out;

  const CliRun monthly = On("report income-statement", "--from 2026-01-01 --to 2026-03-31 --monthly");
  ASSERT_EQ(monthly.exit_code, 0) << monthly.err;
  EXPECT_NE(monthly.out.find("Income statement by month\n2026-01-01 to 2026-03-31\n\n"), std::string::npos) << monthly.out;
  EXPECT_NE(monthly.out.find("Rent               800.00     12.3456   845.00  1,657.3456\n"), std::string::npos)
      << monthly.out;
  EXPECT_NE(monthly.out.find("Net income         700.00  2,238.1544  -841.73  2,096.4244\n"), std::string::npos)
      << monthly.out;

  const CliRun quarterly = On("report income-statement", "--from 2026-01-01 --to 2026-03-31 --quarterly");
  ASSERT_EQ(quarterly.exit_code, 0) << quarterly.err;
  EXPECT_NE(quarterly.out.find("Income statement by quarter\n"), std::string::npos) << quarterly.out;
  EXPECT_NE(quarterly.out.find("Name                2026-Q1      Amount\n"), std::string::npos) << quarterly.out;
  EXPECT_NE(quarterly.out.find("Total income     3,753.77    3,753.77\n"), std::string::npos) << quarterly.out;

  // The balance sheet: equity of one type shows the account, the net income and the total.
  const CliRun sheet = On("report balance-sheet", "--as-of 2026-03-31");
  ASSERT_EQ(sheet.exit_code, 0) << sheet.err;
  EXPECT_EQ(Lines(sheet.out)[0], "Shop");
  EXPECT_EQ(Lines(sheet.out)[1], "Balance sheet");
  EXPECT_EQ(Lines(sheet.out)[2], "As of 2026-03-31");
  EXPECT_EQ(sheet.out.find("Total Equity"), std::string::npos) << sheet.out;
  EXPECT_NE(sheet.out.find("Equity       Equity      3000     Owner's equity                10,000.00\n"
                           "-----------  ----------  -------  ----------------------------  -----------\n"
                           "                                  Net income                     2,096.4244\n"
                           "                                  Total equity                  12,096.4244\n"),
            std::string::npos)
      << sheet.out;
  EXPECT_NE(sheet.out.find("Total Bank                     9,845.9244\n"), std::string::npos) << sheet.out;  // two types

  // By month end and quarter end: one read per period end, merged by account.
  const std::string sheet_chart = (scratch_.folder() / "sheet.svg").string();
  const CliRun sheets =
      On("report balance-sheet", "--from 2026-01-01 --to 2026-03-31 --monthly --chart " + ShellQuote(sheet_chart));
  ASSERT_EQ(sheets.exit_code, 0) << sheets.err;
  EXPECT_NE(sheets.out.find("Balance sheet at each month end\n2026-01-01 to 2026-03-31\n\n"), std::string::npos)
      << sheets.out;
  EXPECT_NE(sheets.out.find("Name                          2026-01-31   2026-02-28   2026-03-31\n"), std::string::npos)
      << sheets.out;
  EXPECT_NE(sheets.out.find("Accounts receivable                 0.00   2,250.50     2,250.50\n"), std::string::npos)
      << sheets.out;
  EXPECT_NE(sheets.out.find("Total assets                   10,700.00  12,938.1544  12,096.4244\n"), std::string::npos)
      << sheets.out;
  EXPECT_NE(On("report balance-sheet", "--from 2026-01-01 --to 2026-03-31 --quarterly").out.find(
                "Name                           2026-03-31\n"),
            std::string::npos);
  const CliRun trials = On("report trial-balance", "--from 2026-01-01 --to 2026-03-31 --monthly");
  ASSERT_EQ(trials.exit_code, 0) << trials.err;
  EXPECT_NE(trials.out.find("Trial balance at each month end\n"), std::string::npos) << trials.out;
  EXPECT_NE(trials.out.find("1000     Bank                 Asset           10,700.00                          "
                            "10,687.6544                           9,845.9244\n"),
            std::string::npos)
      << trials.out;
  EXPECT_NE(trials.out.find("Total                                11,500.00          11,500.00       13,750.50"),
            std::string::npos)
      << trials.out;
  const CliRun quarter = On("report trial-balance", "--from 2026-01-01 --to 2026-03-31 --quarterly --depth 1");
  ASSERT_EQ(quarter.exit_code, 0) << quarter.err;
  EXPECT_NE(quarter.out.find("Class    Debit 2026-03-31  Credit 2026-03-31\n"), std::string::npos) << quarter.out;
  EXPECT_NE(quarter.out.find("5100     Rent                 Expense        1,657.3456\n"), std::string::npos) << quarter.out;
  const Json merged = Json::parse(On("report balance-sheet", "--from 2026-01-01 --to 2026-03-31 --monthly --json").out);
  ASSERT_FALSE(merged.empty());
  EXPECT_EQ(merged.back()["2026-02-28"], "12938.1544");

  // The balance sheet's chart: three month ends of assets, liabilities and equity, drawn.
  const std::string svg = FileText(sheet_chart);
  ASSERT_EQ(svg.rfind("<?xml", 0), 0u) << svg;
  const double width = std::stod(Matches(svg, R"re(<svg [^>]*width="([0-9.]+)")re").at(0));
  const double height = std::stod(Matches(svg, R"re(<svg [^>]*height="([0-9.]+)")re").at(0));
  EXPECT_EQ(Matches(svg, R"re(<text class="tick-label"[^>]*>([^<]*)</text>)re"),
            (std::vector<std::string>{"0", "5", "10", "15"}));
  EXPECT_NE(svg.find(">Amount (thousands)</text>"), std::string::npos) << svg;
  EXPECT_EQ(Matches(svg, R"re(<rect class="bar" data-month="[^"]*" data-class="Assets" data-amount="([^"]*)")re"),
            (std::vector<std::string>{"10700", "12938.1544", "12096.4244"}));
  const std::vector<std::string> labels = Matches(svg, R"re(<text class="bar-label" data-class="Equity"[^>]*>([^<]*)<)re");
  EXPECT_EQ(labels, (std::vector<std::string>{"10,700.00", "12,938.1544", "12,096.4244"}));
  for (const char* legend : {">Assets</text>", ">Liabilities</text>", ">Equity</text>"}) {
    EXPECT_NE(svg.find(legend), std::string::npos) << legend;
  }
  const Rendered drawn = Render(scratch_.folder(), sheet_chart);
  ASSERT_TRUE(drawn.rendered);
  EXPECT_EQ(drawn.width, static_cast<uint32_t>(width));
  EXPECT_EQ(drawn.height, static_cast<uint32_t>(height));
  EXPECT_GT(drawn.distinct_bytes, 16);

  // The income statement's chart by quarter: one period, the SVG still as wide as its title.
  const std::string income_chart = (scratch_.folder() / "income.svg").string();
  ASSERT_EQ(On("report income-statement",
               "--from 2026-01-01 --to 2026-03-31 --quarterly --chart " + ShellQuote(income_chart)).exit_code, 0);
  const std::string quarter_svg = FileText(income_chart);
  EXPECT_EQ(Matches(quarter_svg, R"re(<text class="tick-label"[^>]*>([^<]*)</text>)re"),
            (std::vector<std::string>{"0", "1,000", "2,000", "3,000", "4,000"}));
  EXPECT_EQ(Matches(quarter_svg, R"re(<text class="bar-label"[^>]*>([^<]*)</text>)re"),
            (std::vector<std::string>{"3,753.77", "1,657.3456"}));
  EXPECT_EQ(Matches(quarter_svg, R"re(<rect class="bar" data-quarter="([^"]*)")re"),
            (std::vector<std::string>{"2026-Q1", "2026-Q1"}));
  const std::string title = Matches(quarter_svg, R"re(<text class="title"[^>]*>([^<]*)</text>)re").at(0);
  EXPECT_EQ(title, "Shop: income and expenses by quarter, 2026-01-01 to 2026-03-31");
  const double quarter_width = std::stod(Matches(quarter_svg, R"re(<svg [^>]*width="([0-9.]+)")re").at(0));
  EXPECT_GE(quarter_width, 12 + static_cast<double>(title.size()) * 14 * 0.62) << quarter_svg;  // 0.62 em a character
  const Rendered quarter_drawn = Render(scratch_.folder(), income_chart);
  ASSERT_TRUE(quarter_drawn.rendered);
  EXPECT_EQ(quarter_drawn.width, static_cast<uint32_t>(quarter_width));
  EXPECT_GT(quarter_drawn.distinct_bytes, 16);

  // Receivables under the bank: the balance sheet rolls them in, or shows them at --depth 2.
  ASSERT_EQ(On("query", ShellQuote("UPDATE ACAccount SET ParentAccountID=(SELECT ACAccountID FROM ACAccount WHERE "
                                   "AccountNumber='1000') WHERE AccountNumber='1200'")).exit_code, 0);
  EXPECT_NE(On("report balance-sheet", "--as-of 2026-03-31 --depth 1").out.find(
                "Assets       Bank    1000     Bank                          12,096.4244\n"),
            std::string::npos);
  const CliRun split = On("report balance-sheet", "--as-of 2026-03-31 --depth 2");
  ASSERT_EQ(split.exit_code, 0) << split.err;
  EXPECT_NE(split.out.find("Assets       Bank    1000     Bank                           9,845.9244\n"
                           "                     1200       Accounts receivable          2,250.50\n"
                           "-----------  ------  -------  ----------------------------  -----------\n"
                           "                              Total assets                  12,096.4244\n"),
            std::string::npos)
      << split.out;

  // A request that fails leaves the chart that was there, and no temporary file beside it.
  EXPECT_EQ(On("report income-statement", "--from 2026-01-01 --to 2026-13-01 --quarterly --chart " +
                                              ShellQuote(income_chart)).exit_code, 1);
  EXPECT_EQ(FileText(income_chart), quarter_svg);
  for (const auto& entry : std::filesystem::directory_iterator(scratch_.folder())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
  }
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
      "report account-register " + ShellQuote(file_) + " --account 1000 --quarterly",
      "report account-register " + ShellQuote(file_) + " --account 1000 --depth 2",
      "report aged-receivables " + ShellQuote(file_) + " --depth 1",
      "report trial-balance " + ShellQuote(file_) + " --monthly --as-of 2026-01-31",
      "report trial-balance " + ShellQuote(file_) + " --monthly --from 2026-01-01",
      "report trial-balance " + ShellQuote(file_) + " --monthly --from 2026-03-01 --to 2026-01-31",
      "report trial-balance " + ShellQuote(file_) + " --monthly --from 2026-01-01 --to 2026-03-31 --chart x.svg",
  };
  for (const std::string& request : requests) {
    const CliRun run = Run(request);
    EXPECT_EQ(run.exit_code, 1) << request;
    EXPECT_EQ(Lines(run.err).size(), 1u) << request << ": " << run.err;
    EXPECT_EQ(run.err.rfind("ledgerkit report: ", 0), 0u) << run.err;
  }
  // Two accounts numbered 1000: the register names both keys rather than picking one.
  ASSERT_EQ(On("query", ShellQuote("UPDATE ACAccount SET AccountNumber='1000' WHERE AccountNumber='1200'")).exit_code, 0);
  const CliRun ambiguous = On("report account-register", "--account 1000");
  EXPECT_EQ(ambiguous.exit_code, 1);
  EXPECT_EQ(Lines(ambiguous.err).size(), 1u) << ambiguous.err;
  EXPECT_NE(ambiguous.err.find("is ambiguous, the accounts with keys 2 and 1 share it"), std::string::npos) << ambiguous.err;
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
