// Bank statements brought in on the command line, as a bookkeeper does at the end of a month:
// a dry run first, the import, the same statement again, then the reconciliation against the
// statement's balance; and the statements that must be refused whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using testing::CliRun;
using testing::Lines;
using testing::ShellQuote;

std::string Bank(const std::string& name) {
  const fs::path path = fs::path(LEDGERKIT_SHARED_DATA_DIR) / "bank" / name;
  EXPECT_TRUE(fs::exists(path)) << path << " is missing: the shared bank statements are read from there";
  return ShellQuote(path.string());
}

// An OFX 1.x statement as banks send it: SGML, leaves without end tags, a header of its own.
std::string SgmlStatement(const std::string& transactions, const std::string& balance = "250.00") {
  return "OFXHEADER:100\r\nDATA:OFXSGML\r\nVERSION:102\r\nSECURITY:NONE\r\nENCODING:USASCII\r\nCHARSET:1252\r\n"
         "COMPRESSION:NONE\r\nOLDFILEUID:NONE\r\nNEWFILEUID:NONE\r\n\r\n"
         "<OFX><SIGNONMSGSRSV1><SONRS><STATUS><CODE>0<SEVERITY>INFO</STATUS><DTSERVER>20260301<LANGUAGE>ENG"
         "<INTU.BID>3000</SONRS></SIGNONMSGSRSV1><BANKMSGSRSV1><STMTTRNRS><TRNUID>1<STATUS><CODE>0<SEVERITY>INFO"
         "</STATUS><STMTRS><CURDEF>CAD<BANKACCTFROM><BANKID>123<ACCTID>555<ACCTTYPE>CHECKING</BANKACCTFROM>"
         "<BANKTRANLIST><DTSTART>20260301<DTEND>20260331\r\n" +
         transactions + "</BANKTRANLIST><LEDGERBAL><BALAMT>" + balance +
         "<DTASOF>20260331</LEDGERBAL></STMTRS></STMTTRNRS></BANKMSGSRSV1></OFX>\r\n";
}

std::string Line(const std::string& date, const std::string& amount, const std::string& id, const std::string& name) {
  return "<STMTTRN><TRNTYPE>OTHER<DTPOSTED>" + date + "<TRNAMT>" + amount + "<FITID>" + id + "<NAME>" + name +
         "</STMTTRN>\r\n";
}

class BankImportCli : public ::testing::Test {
 protected:
  BankImportCli() : file_((scratch_.folder() / "books.ldb").string()) {
    EXPECT_EQ(Run("new " + ShellQuote(file_) + " --company Shop --chart standard --user owner --password pw123456").exit_code, 0);
    EXPECT_EQ(On("type add", "Card --class liability").exit_code, 0);
    EXPECT_EQ(On("account add", "2300 Visa --type Card").exit_code, 0);
  }

  CliRun Run(const std::string& arguments) const { return testing::RunLedgerkit(scratch_.folder(), arguments); }
  CliRun On(const std::string& command, const std::string& rest) const {
    return Run(command + " " + ShellQuote(file_) + " " + rest);
  }
  std::string Scalar(const std::string& sql) const { return testing::RawScalar(file_, sql); }
  std::string Write(const std::string& name, const std::string& text) const {
    const fs::path path = scratch_.folder() / name;
    std::ofstream(path, std::ios::binary) << text;
    return ShellQuote(path.string());
  }
  // Refused whole: exit 1, one line holding each of `expected`, nothing written.
  void ExpectRefused(const std::string& rest, const std::vector<std::string>& expected) {
    const std::string before = testing::DumpTables(file_);
    const CliRun refused = On("bank-import", rest);
    EXPECT_EQ(refused.exit_code, 1) << rest << "\n" << refused.out;
    EXPECT_EQ(Lines(refused.err).size(), 1u) << refused.err;
    for (const std::string& piece : expected) EXPECT_NE(refused.err.find(piece), std::string::npos) << refused.err;
    EXPECT_EQ(testing::DumpTables(file_), before) << rest;
  }

  testing::TempCompany scratch_;
  std::string file_;
};

TEST_F(BankImportCli, ACardStatementIsImportedOnceAndReconcilesAgainstItsBalance) {
  // The dry run shows the four lines and the account it would make, and writes nothing.
  const std::string before = testing::DumpTables(file_);
  const CliRun dry = On("bank-import", Bank("feb-v2.ofx") + " --account 2300 --dry-run");
  ASSERT_EQ(dry.exit_code, 0) << dry.err;
  EXPECT_NE(dry.out.find("Would record 4 lines on account 2300"), std::string::npos) << dry.out;
  EXPECT_NE(dry.out.find("9999 Uncategorised would be created"), std::string::npos) << dry.out;
  EXPECT_EQ(testing::DumpTables(file_), before);

  // The import: two equal lines with their own ids stay two; the card's balance is the bank's.
  const CliRun done = On("bank-import", Bank("feb-v2.ofx") + " --account 2300");
  ASSERT_EQ(done.exit_code, 0) << done.err;
  EXPECT_NE(done.out.find("Recorded 4 lines"), std::string::npos) << done.out;
  EXPECT_NE(done.out.find("Balance of account 2300 now: 0.00; the statement's ledger balance on 2026-02-28: 0.00 "),
            std::string::npos)
      << done.out;
  EXPECT_EQ(Scalar("SELECT group_concat(TransType || ':' || Amount, ' ') FROM (SELECT * FROM ACTransLog ORDER BY "
                   "ACTransLogID)"),
            "0:459900 0:1200000 0:1200000 7:2859900");
  EXPECT_EQ(Scalar("SELECT group_concat(StatementID, ' ') FROM ACStatementLine"), "CC-0001 CC-0002 CC-0003 CC-0004");

  // The same statement again adds nothing.
  const CliRun again = On("bank-import", Bank("feb-v2.ofx") + " --account 2300 --json");
  ASSERT_EQ(again.exit_code, 0) << again.err;
  const Json shown = Json::parse(again.out);
  EXPECT_EQ(shown["recorded"], 0);
  EXPECT_EQ(shown["skipped"], 4);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ACTransLog"), "4");

  // The imported rows are the ones to clear, and they reconcile against the statement.
  const CliRun listed = On("reconcile", "--account 2300 --list --statement-balance 0.00");
  EXPECT_NE(listed.out.find("(4 rows)\nCleared balance 0.00, statement balance 0.00, difference 0.00"), std::string::npos)
      << listed.out;
  const CliRun reconciled = On("reconcile", "--account 2300 --statement-date 2026-02-28 --statement-balance 0 --clear all");
  EXPECT_EQ(reconciled.exit_code, 0) << reconciled.err;
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ACTransaction WHERE Reconciled=1"), "4");
  EXPECT_EQ(Run("check " + ShellQuote(file_)).out, "no findings\n");

  // A line removed from the books is imported again; the others stay skipped.
  ASSERT_EQ(testing::RawExec(file_, "DELETE FROM ACTransaction WHERE TransactionNumber="
                                    "(SELECT TransactionNumber FROM ACStatementLine WHERE StatementID='CC-0004');"),
            "");
  const Json back = Json::parse(On("bank-import", Bank("feb-v2.ofx") + " --account 2300 --json").out);
  EXPECT_EQ(back["recorded"], 1);
  EXPECT_EQ(back["lines"][3]["already_imported"], false);
}

TEST_F(BankImportCli, StatementsOfOurOwnAndTheBanksImportOrAreRefusedWhole) {
  // SGML without end tags, a cheque number kept, lines sent to an account by number.
  const std::string march = Write("march.qfx", SgmlStatement(Line("20260303", "-45.50", "A1", "HYDRO") +
                                                             "<STMTTRN><TRNTYPE>CHECK<DTPOSTED>20260310<TRNAMT>-120"
                                                             "<FITID>A2<CHECKNUM>1042<NAME>RENT</STMTTRN>\r\n" +
                                                             Line("20260320", "415.50", "A3", "DEPOSIT")));
  const CliRun done = On("bank-import", march + " --account 1000 --unmatched 5700");
  ASSERT_EQ(done.exit_code, 0) << done.err;
  EXPECT_NE(done.out.find("the statement's ledger balance on 2026-03-31: 250.00 (signed"), std::string::npos) << done.out;
  EXPECT_EQ(Scalar("SELECT ChequeNo FROM ACTransLog WHERE Description='RENT'"), "1042");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ACAccount WHERE Name='Uncategorised'"), "0");

  // One bad line and nothing is recorded, the line named.
  ExpectRefused(Write("bad.ofx", SgmlStatement(Line("20260401", "-1.00", "B1", "OK") +
                                               Line("20260402", "-1.00001", "B2", "TOO FINE"))) +
                    " --account 1000",
                {"transaction 2", "-1.00001", "more than four decimals"});
  ExpectRefused(Write("twice.ofx", SgmlStatement(Line("20260401", "-1.00", "B1", "ONE") +
                                                 Line("20260402", "-2.00", "B1", "TWO"))) +
                    " --account 1000",
                {"Statement line 2", "\"B1\"", "statement line 1"});
  ExpectRefused(march + " --account 1000 --unmatched 8888", {"no account numbered \"8888\"", "--unmatched"});
  ExpectRefused(march + " --account 4444", {"no account numbered \"4444\"", "--account"});
  ExpectRefused(Write("empty.ofx", "not a statement\n") + " --account 1000", {"holds no OFX statement"});
  ExpectRefused(Write("plain.csv", "date,amount\n") + " --account 1000", {"needs a rules file"});

  // The banks' own files: several accounts in one file, an amount finer than the ledger keeps.
  ExpectRefused(Bank("ofxparse-multiple_accounts2.ofx") + " --account 1000",
                {"several accounts", "\"123 00 9100\", \"123 00 9200\"", "--bank-account"});
  const CliRun savings = On("bank-import", Bank("ofxparse-multiple_accounts2.ofx") + " --account 1000 --bank-account 9200");
  EXPECT_EQ(savings.exit_code, 0) << savings.err;
  EXPECT_NE(savings.out.find("ledger balance on 2012-06-03: 222.00"), std::string::npos) << savings.out;
  ExpectRefused(Bank("ofxgo-moneymrkt1_v103.ofx") + " --account 1000", {"more than four decimals"});
  // Decimal commas; then a file with no header at all whose lines carry the same bank ids (the
  // two are one example statement): the account holds them already.
  EXPECT_EQ(Json::parse(On("bank-import", Bank("ofxtools-stmtrs_euro.ofx") + " --account 1000 --json").out)["recorded"], 2);
  EXPECT_EQ(Json::parse(On("bank-import", Bank("libofx-spec160_stmtrs_example.sgml") + " --account 1000 --json").out)["skipped"], 2);
  EXPECT_EQ(Scalar("SELECT COUNT(*) || ' ' || SUM(Amount) FROM ACTransLog WHERE TransactionDate < '2006-01-01'"),
            "2 5000000");
}

// Every OFX and QFX statement of the shared collection, read as a dry run: the lines, their sum
// and the ledger balance, as counted from the files themselves; or the reason it is refused.
TEST_F(BankImportCli, EveryStatementOfTheCollectionReadsAsItsFileSays) {
  struct Expected {
    const char* file;
    const char* options;
    size_t lines;
    const char* net;
    const char* balance;  // nullptr: the statement gives none; "!text": refused with text
  };
  const Expected statements[] = {
      {"feb-v2.ofx", "", 4, "0.00", "0.00"},
      {"ledgerautosync-accented_characters_latin1.ofx", "", 1, "-58.73", "100.99"},
      {"ofxparse-anzcc.ofx", "", 1, "-5.50", "-123.45"},
      {"ofxparse-multiple_accounts2.ofx", "--bank-account 9100", 0, "0.00", "111.00"},
      {"ofxparse-ofx-v102-empty-tags.ofx", "", 1, "12.34", nullptr},
      {"ofxtools-br_nubank_cc.ofx", "", 6, "-1280.91", nullptr},
      {"ofxtools-stmtrs_euro.ofx", "", 2, "-500.00", "200.29"},
      {"actual-html-vals.qfx", "", 2, "-2.00", "1111.11"},
      {"ofxgo-wellsfargo.qfx", "", 1, "-12.34", "123.45"},
      {"libofx-spec160_stmtrs_example.sgml", "", 2, "-500.00", "200.29"},
      {"ofxgo-moneymrkt1_v103.ofx", "", 0, "", "!more than four decimals"},
      {"ofxgo-moneymrkt1_v203.ofx", "", 0, "", "!more than four decimals"},
      {"more/libofx-ofx-2.1.1-sect-16.5.3.2.ofx", "--bank-account 123456", 1, "-80.00", "2156.56"},
      {"more/libofx-ofx-2.1.1-sect-16.5.3.2.ofx", "--bank-account 123412341234", 2, "327.00", "-562.00"},
      {"more/ofxparse-bank_medium.ofx", "", 3, "-345.27", "382.34"},
      {"more/ofxparse-checking.ofx", "", 3, "-59.50", "100.99"},
      {"more/ofxparse-suncorp.ofx", "", 1, "-16.85", "1234.12"},
      {"more/reds-ofxstatement-n26.ofx", "", 1, "-1.50", "0.00"},
      {"more/ofxgo-bmo_v102__no_header_newline.qfx", "", 1, "2042.24", "-552.63"},
      {"more/reds-capitalone-360Checking.qfx", "", 4, "1233.55", "4321.98"},
  };
  for (const Expected& expected : statements) {
    SCOPED_TRACE(expected.file);
    const CliRun run = On("bank-import", Bank(expected.file) + " --account 1000 --dry-run --json " + expected.options);
    if (expected.balance && expected.balance[0] == '!') {
      EXPECT_EQ(run.exit_code, 1);
      EXPECT_NE(run.err.find(expected.balance + 1), std::string::npos) << run.err;
      continue;
    }
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const Json shown = Json::parse(run.out);
    EXPECT_EQ(shown["lines"].size(), expected.lines);
    Currency net;
    for (const Json& line : shown["lines"]) net += ToCurrency(Variant(line["amount"].get<std::string>()));
    EXPECT_EQ(net.ToText(), ToCurrency(Variant(std::string(expected.net))).ToText());
    EXPECT_EQ(shown["statement_balance"].is_null() ? std::string("none") : shown["statement_balance"].get<std::string>(),
              expected.balance ? ToCurrency(Variant(std::string(expected.balance))).ToText() : "none");
  }
}

}  // namespace
}  // namespace ledgerkit
