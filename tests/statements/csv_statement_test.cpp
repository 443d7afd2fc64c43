// The CSV statement reader: the shared bank files read with their own rules and with rules
// written here, the CSV format's corners, amounts, and the faults a user meets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "ledgerkit/common/Error.h"
#include "statements/CsvStatement.h"
#include "support/Capture.h"

namespace ledgerkit {
namespace {

namespace fs = std::filesystem;
using testing::CaptureError;

// The shared sample statements: $LEDGERKIT_SHARED_DATA, else the folder beside the checkout.
fs::path BankData() {
  const char* shared = std::getenv("LEDGERKIT_SHARED_DATA");
  return fs::path(shared != nullptr && *shared != '\0' ? shared : LEDGERKIT_SHARED_DATA_DIR) / "bank";
}

// A statement's lines as one line of text each: "LINE DATE AMOUNT DESCRIPTION", with
// " -> ACCOUNT" and " #CHEQUE" when the rules gave them.
std::string Lines(const Statement& statement) {
  std::string text;
  for (const StatementLine& line : statement.lines) {
    if (!text.empty()) text += "\n";
    text += std::to_string(line.position) + " " + line.date.ToText() + " " + line.amount.ToText() + " " + line.description;
    if (!line.account.empty()) text += " -> " + line.account;
    if (!line.cheque_number.empty()) text += " #" + line.cheque_number;
    EXPECT_TRUE(line.id.empty());
  }
  return text;
}

std::string Net(const Statement& statement) {
  Currency net;
  for (const StatementLine& line : statement.lines) net += line.amount;
  return net.ToText();
}

class CsvStatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("ledgerkit-csv-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // A file of the scratch folder holding `bytes` exactly; its path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  // A shared statement read with rules written here.
  Statement Shared(const std::string& csv, const std::string& rules) const {
    return ReadCsvStatement((BankData() / csv).string(), Write("test.rules", rules));
  }
  // The description of the error reading `csv` (text) with `rules` gives.
  std::string Fault(const std::string& csv, const std::string& rules) const {
    const std::string csv_path = Write("bank.csv", csv), rules_path = Write("bank.rules", rules);
    const Error error = CaptureError([&] { ReadCsvStatement(csv_path, rules_path); });
    EXPECT_EQ(error.number(), kInvalidArgument);
    return error.description();
  }

  fs::path folder_;
};

#define REQUIRE_BANK_DATA()                                                                   \
  do {                                                                                        \
    ASSERT_TRUE(fs::is_directory(BankData())) << "no shared bank statements at " << BankData();      \
  } while (false)

TEST_F(CsvStatementTest, SharedStatementsWithTheRulesTheyShipWith) {
  REQUIRE_BANK_DATA();
  const fs::path bank = BankData();
  // Unpadded yyyy/m/d, a whole-row pattern giving the counter-account, multi-byte text,
  // account1 read and ignored.
  const Statement sample = ReadCsvStatement((bank / "hledger-sample.csv").string(), (bank / "hledger-sample.csv.rules").string());
  EXPECT_EQ(Lines(sample),
            "2 2012-03-22 50 DEPOSIT\n"
            "3 2012-03-23 -10 TRANSFER TO SAVINGS -> assets:bank:savings\n"
            "4 2012-03-24 -20 COFFEE \xE2\x80\x94 \xE2\x82\xAC" "20 RECEIVED");
  EXPECT_EQ(sample.currency, "$");

  // CRLF, 28 columns of which most are `_`, the currency from a field, a four-part description
  // with two empty parts.
  const Statement csb43 = ReadCsvStatement((bank / "hledger-csb43.csv").string(), (bank / "hledger-csb43.csv.rules").string());
  EXPECT_EQ(Lines(csb43), "2 2019-11-02 1500 MY_INCOME_LINE 456789012345\n3 2019-11-10 -500 MY_EXPENSE_LINE 456789012345");
  EXPECT_EQ(csb43.currency, "EUR");

  // .ssv: ';' from the name, %d/%Y/%m, amount-in and amount-out, a character outside the BMP.
  const Statement ssv = ReadCsvStatement((bank / "more/hledger-sample.ssv").string(), (bank / "more/hledger-sample.ssv.rules").string());
  EXPECT_EQ(Lines(ssv), "1 2009-09-10 50 Flubber Co\xF0\x9F\x8E\x85\n2 2009-09-11 -50 Flubber Co\xF0\x9F\x8E\x85");

  // Its rules include sample.csv.rules, which is named hledger-sample.csv.rules here.
  const Error missing = CaptureError([&] {
    ReadCsvStatement((bank / "hledger-sample.fr.iso88591.csv").string(), (bank / "hledger-sample.fr.iso88591.csv.rules").string());
  });
  EXPECT_EQ(missing.description(), "Line 1 of hledger-sample.fr.iso88591.csv.rules: the included rules file \"sample.csv.rules\" cannot be read (\"" +
                                       (bank / "sample.csv.rules").string() + "\" is missing or unreadable).");
}

TEST_F(CsvStatementTest, SharedStatementsWithRulesWrittenHere) {
  REQUIRE_BANK_DATA();
  // A title line and a header, Debit and Credit columns, the opening line skipped by a rule.
  const Statement feb = Shared("feb-split.csv",
                               "skip 2\n"
                               "fields date, description, out, in, balance\n"
                               "amount-in %in\n"
                               "amount-out %out\n"
                               "if %description ^opening\n"
                               "  skip\n");
  EXPECT_EQ(Lines(feb), "4 2026-02-03 -45.99 Office Depot\n5 2026-02-15 210 Customer \"Lakeside\" payment\n6 2026-02-28 -12.5 Bank fee");
  EXPECT_EQ(Net(feb), "151.51");

  EXPECT_EQ(Lines(Shared("hledger-sample.fr.iso88591.csv", "skip\nfields date, description, amount\nencoding iso-8859-1\n")),
            "2 2012-03-22 50 D\xC3\x89P\xC3\x94T\n3 2012-03-23 -10 VIREMENT VERS \xC3\x89PARGNE\n4 2012-03-24 -20 CAF\xC3\x89 ? ?20 RE\xC3\x87U");

  // ';', Latin-1, dd.mm.yyyy, decimal comma with '.' thousands (the balance is not read).
  const Statement gls = Shared("csv2ofx-gls.csv",
                               "skip 1\nseparator ;\nencoding latin1\ndate-format %d.%m.%Y\ndecimal-mark ,\n"
                               "fields _, date, _, payee, kind, v1, v2, v3, v4, v5, v6, v7, v8, v9, v10, v11, v12, v13, v14, amount, balance, currency\n"
                               "description %payee %kind %v1 %v2 %v3\n");
  EXPECT_EQ(Lines(gls), "2 2017-10-10 -98.76 Drillisch Online AG SEPA-Basislastschrift B4658645 U123456789 B123456 987 SIMply Rechnung");
  EXPECT_EQ(gls.currency, "EUR");

  // CR-only line ends, m/d/yy, a direction column read by if-blocks.
  EXPECT_EQ(Lines(Shared("csv2ofx-mint.csv",
                         "skip 1\nfields date, description, _, value, type, category\ndate-format %-m/%-d/%y\naccount2 %category\n"
                         "if %type ^debit$\n  amount-out %value\n"
                         "if %type ^credit$\n  amount-in %value\n")),
            "2 2015-06-12 -1000 Transfer from Checking -> Checking\n3 2015-06-12 -1500 Transfer from Savings -> Savings\n"
            "4 2015-06-13 2000 Transfer to Savings -> Savings\n5 2015-06-14 -2500 Transfer from Savings -> Savings");

  // Tab, yyyymmdd, decimal comma, no final line end.
  const Statement tab = Shared("reckon-tab_delimited.csv", "separator TAB\ndate %3\ndate-format %Y%m%d\namount %7\ndecimal-mark ,\ndescription %8\ncurrency %2\n");
  EXPECT_EQ(Lines(tab), "1 2016-01-02 -5 DESCRIPTION\n2 2016-01-02 -10 DESCRIPTION");

  // A byte-order mark before the header, a comma in a quoted name, a blank last line.
  EXPECT_EQ(Lines(Shared("reckon-bom_utf8_paypal.csv", "skip\ndate %1\ndate-format %m/%d/%Y\ndescription %4\namount %8\ncurrency %7\n")),
            "2 2019-12-27 -7.49 Humble Bundle, Inc.");

  // "+ $73.01", date-times, a preamble row, summary rows and a disclaimer over 30 lines, all
  // without an id.
  const Statement venmo = Shared("ledgerautosync-venmo.csv",
                                 "skip 1\nfields _, id, datetime, type, status, note, from, to, total\n"
                                 "date %datetime\ndate-format %Y-%m-%dT%H:%M:%S\ndescription %note (%from to %to)\namount %total\n"
                                 "if %id ^$\n  skip\n");
  EXPECT_EQ(Lines(venmo),
            "3 2020-01-01 73.01 foobar charge positive (Me to Friend A)\n4 2020-01-02 50.03 foobar payment positive (Friend B to My Name)\n"
            "5 2020-01-03 -12.01 foobar payment negative (Me to Friend A)\n6 2020-01-04 -35.02 foobar charge negative (Friend B to Me)");
  EXPECT_EQ(Net(venmo), "76.01");  // the ending balance the file states

  // Debit and credit columns that each carry their sign; the cheque number.
  const Statement two = Shared("reckon-two_money_columns.csv",
                               "fields date, description, code, amount-out, amount-in, balance\ndate-format %-m/%-d/%Y\n");
  EXPECT_EQ(Lines(two), "1 2008-04-01 -76 Check - 0000000122 #122\n2 2008-03-28 327.49 BLARG R SH 456930\n"
                        "3 2008-03-27 -800 Check - 0000000112 #112\n4 2008-03-26 -88.55 Check - 0000000251 #251\n"
                        "5 2008-03-26 88.55 Check - 0000000251 #251");
  EXPECT_EQ(Net(two), "-548.51");
}

// The rest of the shared collection, each with the rules a user would write for it: how many
// lines, their net and the start of the first line, or the reason it is refused. The nets were
// added up from the files by hand; where a file gives balances they agree.
TEST_F(CsvStatementTest, EveryCollectedStatementReadsOrIsRefusedWithItsReason) {
  REQUIRE_BANK_DATA();
  const std::string shipped_cp1252 = (BankData() / "more/hledger-sample.fr.cp1252.csv.rules").string();
  struct Case {
    std::string csv, rules;
    size_t lines;
    std::string net, currency, first;  // first: how the first line begins, as Lines() shows it
    std::string fault;                 // when set, the refusal expected instead
  };
  const Case cases[] = {
      {"reckon-austrian_example.csv",
       "separator ;\nfields account, description, date, value_date, amount, currency\ndate-format %d.%m.%Y\ndecimal-mark ,\n",
       13, "-149.57", "EUR", "1 2014-01-22 -18 Abbuchung Onlinebanking 654321098765 BG/000002462", ""},
      {"reckon-extratofake.csv",
       "skip 1\nencoding iso-8859-1\nfields date, branch, description, balance_date, document, amount\ndate-format %m/%d/%Y\n"
       "if %description ^saldo anterior$\n  skip\n",
       22, "805", "", "3 2012-11-01 100 Transfer\xC3\xAAncia on line - 01/11 4885 256620-6", ""},
      {"reckon-french_example.csv", "separator ;\nfields account, date, description, reference, amount\ndate-format %d/%m/%Y\ndecimal-mark ,\n",
       9, "-337.44", "", "1 2014-01-22 -10 CHEQUE 012345678901234578ABC000 0000", ""},
      // Rows of 10 and of 8 fields: the description reads only columns every row has.
      {"reckon-ing.csv",
       "fields date, name, counter_account, ing_code, mutation, direction, value\ndate-format %Y%m%d\ndecimal-mark ,\n"
       "description %name %8\nif %direction ^af$\n  amount-out %value\nif %direction ^bij$\n  amount-in %value\n",
       3, "-18.63", "", "1 2012-11-15 -136.13 From1 Incasso", ""},
      {"more/csv2ofx-schwab-checking.csv",
       "skip 1\nfields date, status, type, code, description, amount-out, amount-in, balance\ndate-format %m/%d/%Y\n", 4, "-215.27",
       "", "2 2022-08-17 20 Deposit Mobile Banking", ""},
      {"more/csv2ofx-ubs-ch-fr_trimmed.csv",
       "skip 1\nseparator ;\nfields product, currency, name, date, d1, d2, d3, id, amount-out, amount-in, balance\n"
       "date-format %d.%m.%Y\ndescription %d1 %d2 %d3\n",
       3, "30", "CHF", "2 2019-03-31 -10 Solde prix prestations", ""},
      {"more/hledger-sample.fr.cp1252.csv", "skip 1\nencoding cp1252\nfields date, description, amount\n", 3, "20", "",
       "2 2012-03-22 50 D\xC3\x89P\xC3\x94T", ""},
      // The shipped rules read through their include, named hledger-sample.csv.rules here.
      {"more/hledger-sample.fr.cp1252.csv", "include " + (BankData() / "hledger-sample.csv.rules").string() + "\nencoding cp1252\n", 3,
       "20", "$", "2 2012-03-22 50 D\xC3\x89P\xC3\x94T", ""},
      {"more/hledger-sample.fr.cp1252.csv", "include " + shipped_cp1252 + "\n", 0, "", "", "",
       "Line 1 of hledger-sample.fr.cp1252.csv.rules: the included rules file \"sample.csv.rules\" cannot be read"},
      // Years of one digit (10-Nov-9) need %-y; %y takes two.
      {"more/reckon-harder_date_example.csv", "fields date, amount, _, _, description\ndate-format %d-%b-%-y\n", 5, "-123.12", "",
       "1 2009-11-10 -123.12 TRANSFER DEBIT INTERNET TRANSFER", ""},
      {"more/reckon-harder_date_example.csv", "fields date, amount, _, _, description\ndate-format %d-%b-%y\n", 0, "", "", "",
       "Line 1 of reckon-harder_date_example.csv: the date \"10-Nov-9\" in column 1 does not match the date format \"%d-%b-%y\""},
      // Charges positive, payments negative: negated for the card account.
      {"more/reckon-inversed_credit_card.csv", "fields date, _, reference, type, _, description, charge\namount -%charge\n", 16,
       "187.01", "", "1 2013-01-17 -30 VODAFONE PREPAY VISA M AUCKLAND NZL", ""},
      {"more/reckon-nationwide.csv", "fields date, kind, description, amount-out, amount-in, balance\ndate-format %d %b %Y\ncurrency GBP\n",
       4, "360.23", "GBP", "1 2013-11-07 500 Bank credit", ""},
      {"more/reds-dcu-checking.csv", "skip 1\nfields date, type, description, amount, id, memo, balance\ndate-format %m/%d/%Y\n", 10,
       "500", "", "2 2021-12-31 -7971.39 TRANSFER TO MBR ***0123 ACCT 4 MOBILE BANKING", ""},
      // Three lines of preamble and a blank line before the header: skip counts rows.
      {"more/reds-semicolon_delimited.csv", "skip 4\nseparator ;\nfields date, description, payee, amount, memo\n", 2, "-802.35", "",
       "6 2025-06-07 -123.45 A description", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.csv + " with\n" + c.rules);
    if (!c.fault.empty()) {
      const Error error = CaptureError([&] { Shared(c.csv, c.rules); });
      EXPECT_EQ(error.number(), kInvalidArgument);
      EXPECT_EQ(error.description().substr(0, c.fault.size()), c.fault);
      continue;
    }
    const Statement statement = Shared(c.csv, c.rules);
    EXPECT_EQ(statement.lines.size(), c.lines);
    EXPECT_EQ(Net(statement), c.net);
    EXPECT_EQ(statement.currency, c.currency);
    EXPECT_EQ(Lines(statement).substr(0, c.first.size()), c.first);
  }
}

TEST_F(CsvStatementTest, RowsRulesAndAmountsAsTheFormatReadsThem) {
  // Quoted fields over lines, doubled quotes, separators in quotes, CRLF beside LF, blank
  // lines, trailing empty fields, no final line end; later blocks win, end stops.
  const std::string csv =
      "When,What,Amount,Ref,,\r\n"
      "2026-01-02,\"Rent, \"\"January\"\"\",\"(1,250.00)\",101,,\n"
      "\n"
      "2026-01-03,\"two\r\nlines\",+ $5,,,\r\n"
      "2026/1/4,  \"padded\"  ,12.50-,,\n"
      "2026.01.05,Fee,0,,\n"
      "2026-01-06,Total,99\n"
      "2026-01-07,Never read,1";
  const std::string rules =
      "; layout\n"
      "skip\n"
      "fields date, description, amount, ref\n"
      "code %ref\n"
      "account2 6000\n"
      "\n"
      "if rent\n"
      "fee\n"
      "  account2 6100\n"
      "\n"
      "if %description january\n"
      "  account 6200\n"
      "\n"
      "if %description ^total$\n"
      "  end\n";
  const Statement statement = ReadCsvStatement(Write("rows.csv", csv), Write("rows.rules", rules));
  EXPECT_EQ(Lines(statement),
            "2 2026-01-02 -1250 Rent, \"January\" -> 6200 #101\n"
            "4 2026-01-03 5 two lines -> 6000\n"
            "6 2026-01-04 -12.5 padded -> 6000\n"
            "7 2026-01-05 0 Fee -> 6100");

  // Amount texts: accepted as the exact value, or refused naming the reason.
  const std::string amounts = "2026-01-01,\"1.234.567,8900 EUR\"\n2026-01-01,\"\xE2\x82\xAC -0,0001\"\n";
  EXPECT_EQ(Lines(ReadCsvStatement(Write("eu.csv", amounts),
                                   Write("eu.rules", "fields date, amount\ndecimal-mark ,\ncurrency EUR\n"))),
            "1 2026-01-01 1234567.89 \n2 2026-01-01 -0.0001 ");
  // "amount -%N" negates whatever sign the field has; an empty field is still refused as empty.
  EXPECT_EQ(Lines(ReadCsvStatement(Write("neg.csv", "1/1/26,(5)\n1/1/26,-0.5\n1/1/26,+ $3\n"),
                                   Write("neg.rules", "fields date, value\ndate-format %-m/%-d/%-y\namount -%value\n"))),
            "1 2026-01-01 5 \n2 2026-01-01 0.5 \n3 2026-01-01 -3 ");
  EXPECT_EQ(Fault("2026-01-01,\n", "fields date, value\namount -%value\n"), "Line 1 of bank.csv: the amount in column 2 is empty.");
  EXPECT_EQ(Fault("1/1/126,1\n", "fields date, amount\ndate-format %-m/%-d/%-y\n"),
            "Line 1 of bank.csv: the date \"1/1/126\" in column 1 does not match the date format \"%-m/%-d/%-y\" (Line 2 of bank.rules).");
  const std::string amount_rules = "fields date, amount\n";
  EXPECT_EQ(Fault("2026-01-01,-(5)\n", amount_rules),
            "Line 1 of bank.csv: the amount \"-(5)\" in column 2 has more than one sign (a sign, a trailing '-' and parentheses are each one).");
  EXPECT_EQ(Fault("2026-01-01,1.2.3\n", amount_rules), "Line 1 of bank.csv: the amount \"1.2.3\" in column 2 has two decimal marks ('.').");
  EXPECT_EQ(Fault("2026-01-01,\"1,5\"\n", amount_rules),
            "Line 1 of bank.csv: the amount \"1,5\" in column 2 has thousands separators out of place for the decimal mark '.' "
            "(a decimal-mark rule sets ',').");
  EXPECT_EQ(Fault("2026-01-01,12USD\n", amount_rules), "Line 1 of bank.csv: the amount \"12USD\" in column 2 is not a number.");
  EXPECT_EQ(Fault("2026-01-01,\n", amount_rules), "Line 1 of bank.csv: the amount in column 2 is empty.");
  const std::string in_out = "fields date, amount-in, amount-out\n";
  EXPECT_EQ(Fault("2026-01-01,5,6\n", in_out),
            "Line 1 of bank.csv: both amount-in \"5\" in column 2 and amount-out \"6\" in column 3 have an amount; one of them must be "
            "empty or zero.");
  EXPECT_EQ(Fault("2026-01-01,,\n", in_out),
            "Line 1 of bank.csv: the row has no amount: amount-in in column 2 and amount-out in column 3 are empty.");
}

TEST_F(CsvStatementTest, FaultsNameTheFileTheLineAndTheValue) {
  const std::string rules = "fields date, description, amount\n";
  EXPECT_EQ(Fault("2024-02-28,ok,1\n2024-02-30,leap,2\n", rules),
            "Line 2 of bank.csv: the date \"2024-02-30\" in column 1 is not a day of the calendar.");
  EXPECT_EQ(Fault("24-02-28,short year,1\n", rules),
            "Line 1 of bank.csv: the date \"24-02-28\" in column 1 does not match YYYY-MM-DD, YYYY/MM/DD or YYYY.MM.DD "
            "(a date-format rule gives another form).");
  EXPECT_EQ(Fault("28/02/2024,x,1\n", rules + "date-format %d/%m/%y\n"),
            "Line 1 of bank.csv: the date \"28/02/2024\" in column 1 does not match the date format \"%d/%m/%y\" (Line 2 of bank.rules).");
  EXPECT_EQ(Fault("2024-02-28,\"x\ny\",1\n2024-02-28,tiny,0.00001\n", rules),
            "Line 3 of bank.csv: the amount \"0.00001\" in column 3 has more than four decimals (amounts are exact to 0.0001 "
            "and are not rounded).");
  EXPECT_EQ(Fault("2024-02-28,caf\xE9,1\n", rules),
            "Line 1 of bank.csv: column 2 is not UTF-8 text (byte 0xE9); an encoding rule names the file's encoding "
            "(iso-8859-1, windows-1252).");
  EXPECT_EQ(Fault("2024-02-28,ok,1\n2024-02-29,\"open,1\n2024-03-01,x,1\n", rules),
            "Line 2 of bank.csv: the quote that opens field 2 on this line is never closed (the file ends inside it).");
  EXPECT_EQ(Fault("2024-02-28,ok\n", rules),
            "Line 1 of bank.csv: the row has 2 fields; the rule \"amount %amount\" (Line 1 of bank.rules) reads column 3.");
  EXPECT_EQ(Fault("", rules + "\n# fine\nfoo bar\n"), "Line 4 of bank.rules: unknown rule \"foo\".");
  EXPECT_EQ(Fault("", rules + "comment %2\n"), "Line 2 of bank.rules: the rule \"comment\" is not supported by this reader.");
  EXPECT_EQ(Fault("", rules + "amount %5 %cost\n"), "Line 2 of bank.rules: %cost is not a field the fields rule (Line 1 of bank.rules) names.");
  EXPECT_EQ(Fault("", "if x\n\n  skip\n"), "Line 1 of bank.rules: the if-block has no indented rules under it.");
  // A pattern whose search outgrows the engine's limits on a huge field is an error, not a crash.
  EXPECT_EQ(Fault("2024-02-28," + std::string(2000000, 'x') + ",1\n", rules + "if %description ^x+$\n  skip\n"),
            "Line 1 of bank.csv: the pattern \"^x+$\" (Line 2 of bank.rules) could not be searched in the row (U_REGEX_STACK_OVERFLOW).");

  // A folder where the statement should be reads as nothing, so it is refused.
  const std::string rules_path = Write("bank.rules", rules);
  EXPECT_EQ(CaptureError([&] { ReadCsvStatement(folder_.string(), rules_path); }).description(),
            "Cannot read the statement file \"" + folder_.string() + "\".");

  Write("a.rules", "fields date, amount\ninclude b.rules\n");
  Write("b.rules", "# b\ninclude a.rules\n");
  EXPECT_EQ(Fault("", "include a.rules\n"),
            "Line 2 of b.rules: including \"a.rules\" comes back round to a rules file already being read (an include loop).");
}

// A statement of 100,000 rows, read whole, every pattern applied to every row.
TEST_F(CsvStatementTest, ALargeStatementIsReadWhole) {
  std::string csv = "Date,Payee,Amount\n";
  constexpr int kRows = 100000;
  for (int row = 0; row < kRows; ++row) {
    csv += "2026-03-" + std::to_string(row % 28 + 1) + ",\"Payee " + std::to_string(row % 97) + ", Inc.\"," +
           (row % 2 ? "-" : "") + std::to_string(row % 1000) + ".25\n";
  }
  const std::string rules =
      "skip 1\nfields date, description, amount\n"
      "if payee 1\n  account2 5100\n"
      "if %description ^Payee 9[0-9],\n  account2 5200\n"
      "if %amount ^-\n  code out\n";
  const Statement statement = ReadCsvStatement(Write("large.csv", csv), Write("large.rules", rules));
  ASSERT_EQ(statement.lines.size(), size_t{kRows});
  EXPECT_EQ(statement.lines.back().position, kRows + 1);
  EXPECT_EQ(statement.lines[95].account, "5200");
  EXPECT_EQ(statement.lines[11].account, "5100");
  EXPECT_EQ(statement.lines[11].cheque_number, "out");
}

}  // namespace
}  // namespace ledgerkit
