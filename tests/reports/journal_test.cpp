// The journal export and import, the register as CSV, and MONEY() in report queries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "reports/Journal.h"
#include "support/Capture.h"
#include "support/Hledger.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::DumpTables;
using testing::HaveHledger;
using testing::HledgerBalances;
using testing::RawScalar;
using testing::TempCompany;

constexpr const char* kUser = "owner";

Variant Money(const char* text) { return CurrencyFromText(text); }

// A company file with its first user, in the scratch folder of `scratch`.
std::string NewCompany(const TempCompany& scratch, const std::string& name) {
  const std::string path = (scratch.folder() / (name + ".ldb")).string();
  CreateSubscriberDatabase(path, name, FirstUser{kUser, "pw"});
  return path;
}

std::string Export(const std::string& path, const JournalRange& range = {}) {
  std::ostringstream out;
  ExportJournal(path, out, range);
  return out.str();
}

JournalImport Import(const std::string& path, const std::string& journal, const Variant& user = Variant()) {
  std::istringstream in(journal);
  return ImportJournal(path, in, user);
}

// Writes `text` to the file `path`, making its folder.
void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// The part of a refusal before the error convention's marker.
std::string Refusal(const Error& error) {
  return error.description().substr(0, error.description().find(kErrorMarker) - 2);
}

// hledger's balance of each account of the journal file `journal`, by the last part of its name
// ("1000 Bank"), which the export keeps wherever it places the account.
std::map<std::string, Currency> BalancesByLastPart(const std::string& journal) {
  std::map<std::string, Currency> by_part;
  for (const auto& [name, amount] : HledgerBalances(journal)) by_part[name.substr(name.rfind(':') + 1)] += amount;
  return by_part;
}

// A chart with names the journal must clean, a sub-account, and transactions of every kind the
// export must tell apart: balanced, unbalanced, in progress, aborted, and amounts of whole
// units, cents and ten-thousandths.
class OddCompany {
 public:
  explicit OddCompany(const std::string& path) : path_(path) {
    const Variant bank_type = ledger_.AddAccountType(path_, kUser, "", "Bank", "", true, bstASSET);
    const Variant tax_type = ledger_.AddAccountType(path_, kUser, "", "Sales: tax; misc", "", false, bstLIABILITY);
    const Variant cost_type = ledger_.AddAccountType(path_, kUser, "", "  Costs\t", "", false, bstEXPENSE);
    bank_ = ledger_.AddAccount(path_, kUser, "", "1000", "Bank", "", "", false, "", "", bank_type, "");
    petty_ = ledger_.AddAccount(path_, kUser, "", "1010", "Petty\tcash  box", "", "", false, "", bank_, bank_type, "");
    tax_ = ledger_.AddAccount(path_, kUser, "", "2100", "GST;PST:2026", "", "", false, "", "", tax_type, "");
    rent_ = ledger_.AddAccount(path_, kUser, "", "", "Rent", "", "", false, "", "", cost_type, "");
    blank_ = ledger_.AddAccount(path_, kUser, "", "", "", "", "", false, "", "", cost_type, "");

    const std::string deposit = Begin(ttDEP, Date::FromCivil(2026, 3, 1), "Opening; capital", bank_, "25000", "Capital");
    ledger_.PostCredit(path_, deposit, tax_, Money("24999.9999"), "");
    ledger_.PostCredit(path_, deposit, rent_, Money("0.0001"), "line\none");
    ledger_.EndTransaction(path_, deposit);

    const std::string cheque = Begin(ttCHQ, Date::FromCivil(2026, 3, 3, 14, 5), "(Reversal) of rent", petty_, "12.5", "");
    ledger_.PostDebit(path_, cheque, blank_, Money("12.5"), "Rent, March");
    ledger_.EndTransaction(path_, cheque);

    const std::string unbalanced = Begin(ttGENJRNL, Date::FromCivil(2026, 3, 2), "* One-sided", "", "0", "");
    ledger_.PostDebit(path_, unbalanced, rent_, Money("-0.001"), "adjust");
    ledger_.EndTransaction(path_, unbalanced);

    Begin(ttDEP, Date::FromCivil(2026, 3, 1), "Still open", bank_, "7", "");
    const std::string aborted = Begin(ttDEP, Date::FromCivil(2026, 3, 1), "Aborted", bank_, "9", "");
    ledger_.PostCredit(path_, aborted, tax_, Money("9"), "");
    ledger_.EndTransaction(path_, aborted);
    ledger_.AbortTransaction(path_, aborted);
  }

  // What the export of this company must be, exactly.
  static constexpr const char* kJournal =
      "2026-03-01 Opening, capital\n"
      "    Assets:Bank:1000 Bank                              25000.00  ; Capital\n"
      "    Liabilities:Sales- tax, misc:2100 GST,PST-2026  -24999.9999\n"
      "    Expenses:Costs:Rent                                 -0.0001  ; line one\n"
      "\n"
      "2026-03-02 () * One-sided\n"
      "    (Expenses:Costs:Rent)  -0.0010  ; adjust\n"
      "\n"
      "2026-03-03 () (Reversal) of rent\n"
      "    Assets:Bank:1000 Bank:1010 Petty cash box  -12.50\n"
      "    Expenses:Costs:_                            12.50  ; Rent, March\n"
      "\n";

 private:
  std::string Begin(eTransType type, Date date, const char* description, const Variant& account, const char* amount,
                    const char* memo) {
    return ledger_.BeginTransaction(path_, kUser, "", static_cast<int32_t>(type), date, description, account,
                                    Money(amount), "", memo, "");
  }

  std::string path_;
  CACMgr ledger_;
  Variant bank_, petty_, tax_, rent_, blank_;
};

TEST(Journal, ExportWritesCommittedTransactionsUnderCleanedChartPathsWithExactAmounts) {
  TempCompany scratch;
  const std::string path = NewCompany(scratch, "odd");
  OddCompany company(path);
  std::ostringstream out;
  EXPECT_EQ(ExportJournal(path, out), 3);
  EXPECT_EQ(out.str(), OddCompany::kJournal);

  // Both ends of a range are included; a bound given as a date alone covers its whole day.
  const std::string march3 = Export(path, {Date::FromCivil(2026, 3, 3), Date::FromCivil(2026, 3, 3)});
  EXPECT_EQ(march3.substr(0, 33), "2026-03-03 () (Reversal) of rent\n");
  EXPECT_EQ(march3.find("2026-03-0", 1), std::string::npos);
  EXPECT_EQ(Export(path, {Date::FromCivil(2026, 3, 3, 14, 6), std::nullopt}), "");
  EXPECT_EQ(Export(path, {std::nullopt, Date::FromCivil(2026, 3, 1)}).find("2026-03-02"), std::string::npos);

  EXPECT_EQ(JournalNamePart(" a\t\tb;c:d  "), "a b,c-d");
  EXPECT_EQ(JournalNamePart("\n"), "_");
  EXPECT_EQ(JournalNamePart(JournalNamePart("x ;: \r y")), JournalNamePart("x ;: \r y"));
}

TEST(Journal, ExportedJournalImportedIntoANewCompanyExportsTheSame) {
  TempCompany scratch;
  const std::string original = NewCompany(scratch, "original");
  OddCompany company(original);
  const std::string copy = NewCompany(scratch, "copy");
  const JournalImport done = Import(copy, Export(original));
  EXPECT_EQ(done.transactions, 3);
  EXPECT_EQ(done.account_types_created, 3);
  EXPECT_EQ(done.accounts_created, 5);
  EXPECT_EQ(Export(copy), OddCompany::kJournal);
  // The sub-account sits under its parent, with number and name apart.
  EXPECT_EQ(RawScalar(copy, "SELECT p.AccountNumber || '/' || a.AccountNumber || '/' || a.Name FROM ACAccount a "
                            "JOIN ACAccount p ON p.ACAccountID = a.ParentAccountID"),
            "1000/1010/Petty cash box");
  // Importing again finds every account and type instead of making new ones.
  const JournalImport again = Import(copy, Export(original));
  EXPECT_EQ(again.accounts_created + again.account_types_created, 0);
  EXPECT_EQ(RawScalar(copy, "SELECT COUNT(*) FROM ACAccount"), "5");
  EXPECT_EQ(RawScalar(copy, "SELECT SUM(Withdrawal) - SUM(Deposit) FROM ACTransaction"), "-20");
}

TEST(Journal, ImportReadsTheToolsJournalFormFillsTheElidedAmountAndBuildsTheChart) {
  TempCompany scratch;
  const std::string path = NewCompany(scratch, "books");
  const JournalImport done = Import(path,
                                    "; books for 2026\n"
                                    "account assets:checking\n"
                                    "    ; a subdirective\n"
                                    "commodity $1,000.00\n"
                                    "\n"
                                    "2026/1/5=2026/1/6 * (42) Grocer ; weekly\n"
                                    "    expenses:food:groceries      $1,234.5678  ; receipt 7\n"
                                    "    ; a comment line\n"
                                    "    assets:checking\n"
                                    "\n"
                                    "2026-01-06 Pay\n"
                                    "  Assets:Bank:1000 Bank\t$2000 = $2,000.00\n"
                                    "  Revenue:Work:4000 Consulting  -2000.00\n"
                                    "\n"
                                    "comment\n"
                                    "2026-01-07 not read\n"
                                    "end comment\n");
  EXPECT_EQ(done.transactions, 2);
  EXPECT_EQ(done.account_types_created, 4);  // assets, food, Bank, Work
  EXPECT_EQ(done.accounts_created, 4);
  EXPECT_EQ(RawScalar(path, "SELECT GROUP_CONCAT(Name || '=' || BalanceSheetType, ' ') FROM "
                            "(SELECT Name, BalanceSheetType FROM ACAccountType ORDER BY ACAccountTypeID)"),
            "food=4 assets=0 Bank=0 Work=3");
  EXPECT_EQ(RawScalar(path, "SELECT GROUP_CONCAT(AccountNumber || '|' || Name || '|' || Balance, ' ') FROM "
                            "(SELECT * FROM ACAccount ORDER BY ACAccountID)"),
            "|groceries|-12345678 |checking|12345678 1000|Bank|-20000000 4000|Consulting|20000000");
  EXPECT_EQ(RawScalar(path, "SELECT GROUP_CONCAT(Description, '/') FROM "
                            "(SELECT Description FROM ACTransaction ORDER BY ACTransactionID)"),
            "receipt 7///");
  EXPECT_EQ(RawScalar(path, "SELECT GROUP_CONCAT(Description || '@' || TransactionDate || '#' || TransType, '/') FROM "
                            "(SELECT * FROM ACTransLog ORDER BY ACTransLogID)"),
            "Grocer@2026-01-05 00:00:00#1/Pay@2026-01-06 00:00:00#1");
  EXPECT_EQ(RawScalar(path, "SELECT COUNT(*) FROM ACTransLog WHERE TransLogStatus <> 1"), "0");
}

// The same journal with each kind of line end (and a mix of them) reads alike.
TEST(Journal, ImportReadsLfCrlfAndLoneCrLineEndsAlike) {
  TempCompany scratch;
  const std::string journal =
      "2026-01-05 One\n    Assets:Bank:1000 Bank  5.25\n    Equity:Capital:3000 Owner\n\n"
      "2026-01-06 Two\n    Assets:Bank:1000 Bank  -1\n    Equity:Capital:3000 Owner\n";
  auto with_ends = [&](const std::string& end) {
    std::string out;
    for (char c : journal) out += c == '\n' ? end : std::string(1, c);
    return out;
  };
  const std::string mixed = "2026-01-05 One\r    Assets:Bank:1000 Bank  5.25\r\n    Equity:Capital:3000 Owner\n\r"
                            "2026-01-06 Two\n    Assets:Bank:1000 Bank  -1\r\n    Equity:Capital:3000 Owner\r";
  const std::string texts[] = {journal, with_ends("\r\n"), with_ends("\r"), mixed};
  int n = 0;
  for (const std::string& text : texts) {
    const std::string path = NewCompany(scratch, "ends" + std::to_string(n++));
    EXPECT_EQ(Import(path, text).transactions, 2) << n;
    EXPECT_EQ(RawScalar(path, "SELECT GROUP_CONCAT(Name || '=' || Balance, ' ') FROM (SELECT * FROM ACAccount ORDER BY "
                              "ACAccountID)"),
              "Bank=-42500 Owner=42500")
        << n;
  }
}

// The decimal mark is '.' until a directive makes it ',' (or '.' again) for the amounts after it.
TEST(Journal, ImportReadsAmountsWithTheDecimalMarkTheJournalSets) {
  TempCompany scratch;
  struct Case {
    std::string directives;
    std::string amount;
    std::string bank_balance;  // in ten-thousandths, debits negative
  };
  const Case cases[] = {
      {"", "1.234 EUR", "-12340"},
      {"commodity 1.000,00 EUR\n", "1.234 EUR", "-12340000"},
      {"D 1.000,00 EUR\n", "1.234,56 EUR", "-12345600"},
      {"decimal-mark ,\n", "-1,5", "15000"},
      {"commodity 1,000 EUR\n", "1,234 EUR", "-12340"},
      {"commodity 1.000.000 EUR\n", "1.234,5 EUR", "-12345000"},
      {"commodity EUR\n", "1,234.5", "-12345000"},
      {"decimal-mark ,\ndecimal-mark .\n", "1,234.5", "-12345000"},
  };
  int n = 0;
  for (const Case& read : cases) {
    const std::string path = NewCompany(scratch, "marks" + std::to_string(n++));
    Import(path, read.directives + "\n2026-01-05 x\n    Assets:Bank:1000 Bank  " + read.amount +
                     "\n    Equity:Capital:3000 Owner\n");
    EXPECT_EQ(RawScalar(path, "SELECT Balance FROM ACAccount WHERE AccountNumber = '1000'"), read.bank_balance)
        << read.directives << read.amount;
  }
}

// Balance assertions hold against the balance the journal's postings give the account so far,
// in the order the journal writes them, elided and virtual amounts counted; a false or malformed
// one refuses the import.
TEST(Journal, ImportChecksBalanceAssertionsInJournalOrder) {
  TempCompany scratch;
  const std::string path = NewCompany(scratch, "asserted");
  const std::string first = "2026-01-05 a\n    Assets:Bank:1000 Bank  100.00 = 100.00\n    Equity:Capital:3000 Owner\n\n";
  const JournalImport done =
      Import(path, first +
                       "2026-01-01 earlier, read after\n"
                       "    Assets:Bank:1000 Bank  -30 == 70\n"
                       "    Assets:Bank:1000 Bank:1010 Petty  30.00 =* 30\n"
                       "    Assets:Bank:1000 Bank  0 =* 100 ; with the petty cash\n"
                       "    Assets:Bank 2:1020 Till  5 = 5\n"
                       "    Assets:Bank:1000 Bank  0 ==* 100\n"
                       "    Equity:Capital:3000 Owner  -5\n"
                       "    (Equity:Capital:3000 Owner)  0 = -105\n");
  EXPECT_EQ(done.transactions, 2);

  struct Case {
    std::string journal;
    std::string description;
  };
  const Case cases[] = {
      {"2026-01-05 a\n    Assets:Bank:1000 Bank  100.00 = 900.00\n    Equity:Capital:3000 Owner\n",
       "Line 2 of the journal: the balance assertion of \"Assets:Bank:1000 Bank\" is false: its balance is 100, not 900."},
      {first + "2026-01-01 b\n    Assets:Bank:1000 Bank  50 = 50\n    Equity:Capital:3000 Owner\n",
       "Line 6 of the journal: the balance assertion of \"Assets:Bank:1000 Bank\" is false: its balance is 150, not 50."},
      {first + "2026-01-06 b\n    Equity:Capital:3000 Owner  -1\n    Assets:Bank:1000 Bank:1010 Petty  = 1\n",
       "Line 7 of the journal: a balance assignment (\"= 1\" without an amount) is not imported."},
      {first + "2026-01-06 b\n    Assets:Bank:1000 Bank:1010 Petty  1 = 1\n    Assets:Bank:1000 Bank  0 =* 100\n"
               "    Equity:Capital:3000 Owner  -1\n",
       "Line 7 of the journal: the balance assertion of \"Assets:Bank:1000 Bank\" is false: its balance with its "
       "sub-accounts is 101, not 100."},
      {"2026-01-05 a\n    Assets:Bank:1000 Bank  1.00 = 1.00 = 2.00\n    Equity:Capital:3000 Owner\n",
       "Line 2 of the journal: \"1.00 = 1.00 = 2.00\" is not an amount with a balance assertion."},
      {"2026-01-05 a\n    Assets:Bank:1000 Bank  1.00 =\n    Equity:Capital:3000 Owner\n",
       "Line 2 of the journal: \"1.00 =\" is not an amount with a balance assertion."},
  };
  const std::string before = DumpTables(path);
  for (const Case& bad : cases) {
    const Error error = CaptureError([&] { Import(path, bad.journal); });
    EXPECT_EQ(error.number(), kInvalidArgument) << bad.journal;
    EXPECT_EQ(error.description().substr(0, error.description().find(kErrorMarker) - 2), bad.description);
    EXPECT_EQ(DumpTables(path), before) << bad.journal;
  }
}

TEST(Journal, ImportIsAllOrNothingAndNamesTheLineAtFault) {
  TempCompany scratch;
  const std::string path = NewCompany(scratch, "strict");
  OddCompany company(path);
  const std::string before = DumpTables(path);
  const std::string good = "2026-04-01 fine\n    Assets:Bank:1000 Bank  1\n    Equity:Capital:3000 Owner\n\n";
  const std::string long_name(129, 'n');
  struct Case {
    std::string journal;
    std::string description;
  };
  const Case cases[] = {
      {good + "2026-04-02 x\n    Assets:Bank:1000 Bank  5\n    Equity:Capital:3000 Owner  -4\n",
       "Line 5 of the journal: the transaction does not balance: its postings add up to 1."},
      {good + "2026-04-02 x\n    Assets:Bank:1000 Bank\n    Equity:Capital:3000 Owner\n",
       "Line 7 of the journal: only one posting of a transaction may leave out its amount."},
      {good + "2026-13-02 x\n    Assets:Bank:1000 Bank  0\n", "Line 5 of the journal: \"2026-13-02\" is not a date."},
      {good + "04-02 x\n    Assets:Bank:1000 Bank  0\n",
       "Line 5 of the journal: \"04-02\" is not a date with a year (YYYY-MM-DD), and no Y directive before it gives one."},
      {good + "Y 26\n", "Line 5 of the journal: the year of a Y directive is four digits, not \"26\"."},
      {good + "account Foo  ; type: Q\n",
       "Line 5 of the journal: \"Q\" is not an account type (A, L, E, R, X, C or V; Asset, Liability, Equity, Revenue, "
       "Income, Expense, Cash or Conversion)."},
      {good + "alias /^x/ = y\n", "Line 5 of the journal: regular-expression aliases (\"alias /^x/ = y\") are not imported."},
      {good + "2026-04-02 x\n    Assets:Bank:1000 Bank  0.00005\n    Equity:Capital:3000 Owner\n",
       "Line 6 of the journal: \"0.00005\" has more than four decimals; the ledger keeps amounts to the ten-thousandth."},
      {good + "2026-04-02 x\n    Assets:Bank:1000 Bank  $5\n    Equity:Capital:3000 Owner  -5 EUR\n",
       "Line 7 of the journal: \"-5 EUR\" is in \"EUR\", but the journal's amounts are in \"$\"; the ledger keeps one "
       "currency."},
      {good + "2026-04-02 x\n    Assets:Bank:1000 Bank  5 @ 2\n    Equity:Capital:3000 Owner\n",
       "Line 6 of the journal: prices and costs (\"5 @ 2\") are not imported."},
      {good + "2026-04-02 x\n    Savings:Jar  5\n    Equity:Capital:3000 Owner\n",
       "Line 6 of the journal: the account \"Savings:Jar\" is not under Assets, Liabilities, Equity, Income (or Revenue) "
       "or Expenses, and no account directive declares its type (\"account Savings  ; type: A\", or L, E, R, X)."},
      {good + "2026-04-02 x\n    Assets:Bank:1000 Bank  1,5\n    Equity:Capital:3000 Owner\n",
       "Line 6 of the journal: \"1,5\" is not an amount."},
      {good + "include other.journal\n",
       "Line 5 of the journal: the include of \"other.journal\" needs the journal's own file to be found from; a journal "
       "read from a stream without a file cannot include another."},
      {"    Assets:Bank:1000 Bank  1\n", "Line 1 of the journal: an indented line outside a transaction."},
      {good + "24-04-02 x\n    Assets:Bank:1000 Bank  0\n",
       "Line 5 of the journal: \"24-04-02\" is not a date with a four-digit year (YYYY-MM-DD)."},
      {good + "1-1-1 x\n    Assets:Bank:1000 Bank  0\n",
       "Line 5 of the journal: \"1-1-1\" is not a date with a four-digit year (YYYY-MM-DD)."},
      {good + "2024-01-01=2024-02-30 x\n    Assets:Bank:1000 Bank  0\n",
       "Line 5 of the journal: \"2024-02-30\" is not a date."},
      {good + "2024-01-01=bad x\n    Assets:Bank:1000 Bank  0\n",
       "Line 5 of the journal: \"bad\" is not a date (YYYY-MM-DD)."},
      {good + "2026-04-02 x\n    Assets:Bank:1000 Bank  -922337203685477.5808\n    Equity:Capital:3000 Owner\n",
       "Line 7 of the journal: the left-out amount, the opposite of -922337203685477.5808, is beyond the range of "
       "amounts the ledger keeps."},
      {good + "2026-04-02 caf\xE9\n    Assets:Bank:1000 Bank  0\n", "Line 5 of the journal: the line is not UTF-8 text."},
      {good + "; \xC0\xAF overlong\n", "Line 5 of the journal: the line is not UTF-8 text."},
      {good + "2026-04-02 x\n    Assets:Bank:1000 Bank  0 \xE2\x82\n", "Line 6 of the journal: the line is not UTF-8 text."},
      {good + "2026-04-02 x\n    Sav\x01ings\x7F:Jar\x1B[2J  5\n    Equity:Capital:3000 Owner\n",
       "Line 6 of the journal: the account \"Sav\\x01ings\\x7F:Jar\\x1B[2J\" is not under Assets, Liabilities, Equity, "
       "Income (or Revenue) or Expenses, and no account directive declares its type (\"account Sav ings  ; type: A\", "
       "or L, E, R, X)."},
      {good + "inc\x07lude x\n", "Line 5 of the journal: \"inc\\x07lude\" is neither a transaction nor a directive that "
                                  "can be imported."},
      {good + "2026-04-02 x\n    Assets:Bank:1000 Bank  1.234,56 EUR\n    Equity:Capital:3000 Owner\n",
       "Line 6 of the journal: \"1.234,56 EUR\" is not an amount."},
      {good + "decimal-mark ,\n\n2026-04-02 x\n    Assets:Bank:1000 Bank  1.5\n    Equity:Capital:3000 Owner\n",
       "Line 8 of the journal: \"1.5\" is not an amount."},
      {good + "decimal-mark ;\n", "Line 5 of the journal: the decimal mark is '.' or ','."},
  };
  for (const Case& bad : cases) {
    const Error error = CaptureError([&] { Import(path, bad.journal); });
    EXPECT_EQ(error.number(), kInvalidArgument) << bad.journal;
    EXPECT_EQ(error.description().substr(0, error.description().find(kErrorMarker) - 2), bad.description);
    EXPECT_EQ(DumpTables(path), before) << bad.journal;
  }

  // A fault found only by the ledger's own operations, after the first transaction was
  // recorded and its accounts made, undoes everything and still names the line.
  const Error refused = CaptureError([&] {
    Import(path, good + "2026-04-02 x\n    Assets:Bank:1001 " + long_name + "  5\n    Equity:Capital:3000 Owner\n");
  });
  EXPECT_EQ(refused.number(), kInvalidArgument);
  EXPECT_EQ(refused.description().rfind("Line 6 of the journal: ", 0), 0u) << refused.description();
  EXPECT_NE(refused.description().find("128"), std::string::npos) << refused.description();
  EXPECT_EQ(DumpTables(path), before);

  const Error nobody = CaptureError([&] { Import(path, good, "nobody"); });
  EXPECT_EQ(nobody.number(), kObjectIsNothing);
  EXPECT_EQ(nobody.description().rfind("Line 3 of the journal: ", 0), 0u) << nobody.description();
  EXPECT_EQ(DumpTables(path), before);
}

// An account of the journal whose number the company has is the company's account, wherever the
// journal places it; a different name for the number is refused, and no second account with a
// number already used is made.
TEST(Journal, ImportUsesTheAccountWithTheNumberAndRefusesAnotherNameForIt) {
  TempCompany scratch;
  const std::string path = NewCompany(scratch, "numbers");
  CACMgr ledger;
  const Variant bank_type = ledger.AddAccountType(path, kUser, "", "Bank", "", false, bstASSET);
  const Variant tax_type = ledger.AddAccountType(path, kUser, "", "Sales tax", "", false, bstLIABILITY);
  const Variant bank = ledger.AddAccount(path, kUser, "", "1000", "Bank", "", "", false, "", "", bank_type, "");
  const Variant tax = ledger.AddAccount(path, kUser, "", "2100", "Sales tax payable", "", "", false, "", "", tax_type, "");

  // "Liabilities:2100 ..." names a type "Liabilities" the chart lacks, and "Assets:Cash:1000
  // Bank" another place: both are the chart's accounts, and neither type is made for them.
  const JournalImport done = Import(path,
                                    "2026-01-05 Cash sale\n"
                                    "    Assets:Cash:1000 Bank  105.00\n"
                                    "    Liabilities:2100 Sales tax payable  -5.00\n"
                                    "    Income:Sales:4000 Sales\n"
                                    "\n"
                                    "2026-01-06 Petty cash\n"
                                    "    Assets:Cash:1000 Bank:1010 Petty cash  20\n"
                                    "    Assets:Bank:1000 Bank\n");
  EXPECT_EQ(done.transactions, 2);
  EXPECT_EQ(done.accounts_created, 2);  // 4000 Sales and 1010 Petty cash
  EXPECT_EQ(done.account_types_created, 1);  // Sales
  EXPECT_EQ(RawScalar(path, "SELECT COUNT(*) FROM ACAccount WHERE AccountNumber IN ('1000','2100')"), "2");
  EXPECT_EQ(RawScalar(path, "SELECT COUNT(*) FROM ACTransaction WHERE Parent=" + ToText(tax)), "1");
  EXPECT_EQ(RawScalar(path, "SELECT COUNT(*) FROM ACTransaction WHERE Parent=" + ToText(bank)), "2");
  // The sub-account is under the chart's 1000, of its type.
  EXPECT_EQ(RawScalar(path, "SELECT ParentAccountID || '/' || AccountTypeID FROM ACAccount WHERE AccountNumber='1010'"),
            ToText(bank) + "/" + ToText(bank_type));
  EXPECT_EQ(RawScalar(path, "SELECT GROUP_CONCAT(Name, ',') FROM (SELECT Name FROM ACAccountType ORDER BY ACAccountTypeID)"), "Bank,Sales tax,Sales");

  // Another name for 2100: refused naming the line, the number and both names; nothing written.
  const std::string before = DumpTables(path);
  const Error renamed = CaptureError([&] {
    Import(path, "2026-02-01 Sale\n    Assets:Bank:1000 Bank  10\n    Liabilities:Taxes:2100 GST owing  -10\n");
  });
  EXPECT_EQ(renamed.number(), kInvalidArgument);
  EXPECT_EQ(renamed.description().substr(0, renamed.description().find(kErrorMarker) - 2),
            "Line 3 of the journal: the account number 2100 is named \"GST owing\" in the journal but \"Sales tax "
            "payable\" in the company; rename one of them so that they agree.");
  EXPECT_EQ(DumpTables(path), before);

  // Two numbers within one journal are one account too: the second name for 5000 is refused.
  const Error twice = CaptureError([&] {
    Import(path,
           "2026-02-01 a\n    Expenses:Costs:5000 Stock  1\n    Assets:Bank:1000 Bank\n\n"
           "2026-02-02 b\n    Expenses:Other:5000 Freight  1\n    Assets:Bank:1000 Bank\n");
  });
  EXPECT_NE(twice.description().find("Line 6 of the journal: the account number 5000 is named \"Freight\""),
            std::string::npos)
      << twice.description();
  EXPECT_EQ(DumpTables(path), before);

  // A number the company already holds twice is ambiguous: refused naming the keys.
  ledger.AddAccount(path, kUser, "", "2100", "Sales tax payable", "", "", false, "", "", tax_type, "");
  const std::string duplicated = DumpTables(path);
  const Error ambiguous = CaptureError([&] {
    Import(path, "2026-02-01 Sale\n    Assets:Bank:1000 Bank  10\n    Liabilities:2100 Sales tax payable  -10\n");
  });
  EXPECT_NE(ambiguous.description().find("Line 3 of the journal: the account number 2100 of \"2100 Sales tax payable\" "
                                         "is ambiguous: the company's accounts with keys " +
                                         ToText(tax) + " and "),
            std::string::npos)
      << ambiguous.description();
  EXPECT_EQ(DumpTables(path), duplicated);
}

// A journal as people keep one: top-level names of its own declared by type, an include, an
// alias, a Y directive, a periodic and an automated rule and an empty transaction. It imports
// with a warning for each of the last three, and the company's export balances as hledger
// reads the journal itself.
TEST(Journal, ImportReadsDeclaredTypesIncludesAliasesAndYearsAndWarnsOfWhatItLeavesOut) {
  TempCompany scratch;
  const std::string path = NewCompany(scratch, "books");
  const std::filesystem::path folder = scratch.folder() / "journals";
  WriteFile(folder / "books.journal",
            "account Aktiva  ; type: A\n"                       // 1
            "account Passiva\n"                                 // 2
            "    ; type: l\n"                                   // 3
            "account Eigenkapital  ; type: Equity\n"            // 4
            "account Erträge  ; type: Revenue\n"                // 5
            "account Aufwand  ; note: costs, type: X\n"         // 6
            "\n"                                                // 7
            "Y 2026\n"                                          // 8
            "alias bank = Aktiva:Bank:1000 Girokonto\n"         // 9
            "\n"                                                // 10
            "01/05 Capital\n"                                   // 11
            "    bank  5000\n"                                  // 12
            "    Eigenkapital:Kapital:3000 Stammkapital\n"      // 13
            "\n"                                                // 14
            "include sub/sales.journal\n"                       // 15
            "\n"                                                // 16
            "~ monthly from 2026-02\n"                          // 17
            "    Aufwand:Miete:6000 Miete  800\n"               // 18
            "    bank\n"                                        // 19
            "\n"                                                // 20
            "= Erträge\n"                                       // 21
            "    (Passiva:USt:1776 Umsatzsteuer)  *0.19\n"      // 22
            "\n"                                                // 23
            "2026-01-20 Nothing yet\n"                          // 24
            "\n"                                                // 25
            "end aliases\n"                                     // 26
            "1-31=2-1 Rent\n"                                   // 27
            "    Aufwand:Miete:6000 Miete  800\n"               // 28
            "    Aktiva:Bank:1000 Girokonto\n");                // 29
  WriteFile(folder / "sub" / "sales.journal",
            "1-10 Sale\n"
            "    bank  1190\n"
            "    Erträge:Umsatz:8400 Erlöse  -1000\n"
            "    Passiva:USt:1776 Umsatzsteuer  -190\n");
  const JournalImport done = ImportJournal(path, folder / "books.journal", Variant());
  EXPECT_EQ(done.transactions, 3);
  EXPECT_EQ(done.account_types_created, 5);
  EXPECT_EQ(done.accounts_created, 5);
  ASSERT_EQ(done.warnings.size(), 3u);
  EXPECT_EQ(done.warnings[0],
            "Line 17 of the journal: the periodic transaction rule \"~ monthly from 2026-02\" is not imported (hledger "
            "too uses it only with --forecast).");
  EXPECT_EQ(done.warnings[1],
            "Line 21 of the journal: the automated posting rule \"= Erträge\" is not imported (hledger too applies it "
            "only with --auto).");
  EXPECT_EQ(done.warnings[2], "Line 24 of the journal: the transaction has no postings; it is not imported.");
  EXPECT_EQ(RawScalar(path, "SELECT GROUP_CONCAT(Name || '=' || BalanceSheetType, ' ') FROM "
                            "(SELECT Name, BalanceSheetType FROM ACAccountType ORDER BY ACAccountTypeID)"),
            "Bank=0 Kapital=2 Umsatz=3 USt=1 Miete=4");
  EXPECT_EQ(RawScalar(path, "SELECT GROUP_CONCAT(SUBSTR(TransactionDate, 1, 10) || ' ' || Description, ', ') FROM "
                            "(SELECT * FROM ACTransLog ORDER BY ACTransLogID)"),
            "2026-01-05 Capital, 2026-01-10 Sale, 2026-01-31 Rent");

  if (!HaveHledger()) GTEST_SKIP() << "hledger is not installed (scripts/install-deps.sh installs it); not compared";
  const std::string exported = (scratch.folder() / "exported.journal").string();
  WriteFile(exported, Export(path));
  const auto peer = BalancesByLastPart((folder / "books.journal").string());
  EXPECT_EQ(peer.at("1000 Girokonto"), Currency::FromUnits(5390));
  EXPECT_EQ(BalancesByLastPart(exported), peer);
}

// An include found from the folder of the file that names it; a fault inside names that file;
// a missing file and a loop of includes are refused naming the line and the files; nothing is
// written.
TEST(Journal, ImportRefusesAMissingIncludeAndALoopOfIncludesNamingTheFiles) {
  TempCompany scratch;
  const std::string path = NewCompany(scratch, "includes");
  const std::filesystem::path folder = scratch.folder();
  const std::string good = "2026-04-01 fine\n    Assets:Bank:1000 Bank  1\n    Equity:Capital:3000 Owner\n\n";
  WriteFile(folder / "missing.journal", good + "include sub/nowhere.journal\n");
  WriteFile(folder / "bad.journal", good + "include sub/bad.journal\n");
  WriteFile(folder / "sub" / "bad.journal", good + "2026-04-02 x\n    Assets:Bank:1000 Bank  5\n    Equity:Capital:3000 Owner  -4\n");
  WriteFile(folder / "loop.journal", good + "include sub/back.journal\n");
  WriteFile(folder / "sub" / "back.journal", "include ../loop.journal\n");
  WriteFile(folder / "self.journal", "include self.journal\n");
  const std::string before = DumpTables(path);
  const std::string sub = (folder / "sub").string() + "/";
  struct Case {
    std::string file;
    std::string description;
  };
  const Case cases[] = {
      {"missing.journal", "Line 5 of the journal: cannot read the included journal \"" + sub + "nowhere.journal\"."},
      {"bad.journal", "Line 5 of \"" + sub + "bad.journal\": the transaction does not balance: its postings add up to 1."},
      {"loop.journal", "Line 1 of \"" + sub + "back.journal\": the includes go round in a loop: \"" +
                           (folder / "loop.journal").string() + "\" includes \"" + sub + "back.journal\" includes \"" +
                           (folder / "loop.journal").string() + "\"."},
      {"self.journal", "Line 1 of the journal: the includes go round in a loop: \"" + (folder / "self.journal").string() +
                           "\" includes \"" + (folder / "self.journal").string() + "\"."},
  };
  for (const Case& bad : cases) {
    const Error error = CaptureError([&] { ImportJournal(path, folder / bad.file, Variant()); });
    EXPECT_EQ(error.number(), kInvalidArgument) << bad.file;
    EXPECT_EQ(Refusal(error), bad.description);
    EXPECT_EQ(DumpTables(path), before) << bad.file;
  }
  const Error unreadable = CaptureError([&] { ImportJournal(path, folder / "none.journal", Variant()); });
  EXPECT_EQ(Refusal(unreadable), "Cannot read the journal " + (folder / "none.journal").string() + ".");
}

// The same account type name under two classes is two account types; a type the chart has in
// a class is the one found for that class.
TEST(Journal, ImportMakesOneAccountTypePerClassForTheSameName) {
  TempCompany scratch;
  const std::string path = NewCompany(scratch, "vat");
  CACMgr ledger;
  const Variant vat = ledger.AddAccountType(path, kUser, "", "vat", "", false, bstASSET);
  const Variant taxes = ledger.AddAccountType(path, kUser, "", "taxes", "", false, bstLIABILITY);
  const JournalImport done = Import(path,
                                    "2026-01-05 Purchase\n"
                                    "    expenses:taxes:6500 Taxes  100\n"
                                    "    assets:vat:1570 Input VAT  19\n"
                                    "    liabilities:taxes:1800 Tax owing  -100\n"
                                    "    liabilities:vat:1770 Output VAT  -19\n");
  EXPECT_EQ(done.account_types_created, 2);
  EXPECT_EQ(RawScalar(path, "SELECT GROUP_CONCAT(Name || '=' || BalanceSheetType, ' ') FROM "
                            "(SELECT Name, BalanceSheetType FROM ACAccountType ORDER BY ACAccountTypeID)"),
            "vat=0 taxes=1 taxes=4 vat=1");
  EXPECT_EQ(RawScalar(path, "SELECT AccountTypeID FROM ACAccount WHERE AccountNumber='1570'"), ToText(vat));
  EXPECT_EQ(RawScalar(path, "SELECT AccountTypeID FROM ACAccount WHERE AccountNumber='1800'"), ToText(taxes));
  EXPECT_EQ(Export(path),
            "2026-01-05 Purchase\n"
            "    Expenses:taxes:6500 Taxes          100.00\n"
            "    Assets:vat:1570 Input VAT           19.00\n"
            "    Liabilities:taxes:1800 Tax owing  -100.00\n"
            "    Liabilities:vat:1770 Output VAT    -19.00\n"
            "\n");
}

// The transactions an import records are what BeginTransaction, PostDebit, PostCredit and
// EndTransaction leave for the same journal: the same headers, register rows, balances, totals
// and numbers. A refused import leaves nothing but the numbers the operations would have used up.
TEST(Journal, ImportLeavesWhatThePublicOperationsLeaveAndUsesUpTheSameNumbers) {
  TempCompany scratch;
  CACMgr ledger;
  struct Books {
    std::string path;
    Variant bank, owner, rent;
  };
  auto make = [&](const std::string& name) {
    Books books{NewCompany(scratch, name), {}, {}, {}};
    const Variant bank_type = ledger.AddAccountType(books.path, kUser, "", "Bank", "", false, bstASSET);
    const Variant capital = ledger.AddAccountType(books.path, kUser, "", "Capital", "", false, bstEQUITY);
    const Variant costs = ledger.AddAccountType(books.path, kUser, "", "Costs", "", false, bstEXPENSE);
    books.bank = ledger.AddAccount(books.path, kUser, "", "1000", "Bank", "", "", false, "", "", bank_type, "");
    books.owner = ledger.AddAccount(books.path, kUser, "", "3000", "Owner", "", "", false, "", "", capital, "");
    books.rent = ledger.AddAccount(books.path, kUser, "", "5000", "Rent", "", "", false, "", "", costs, "");
    const std::string cheque = ledger.BeginTransaction(books.path, kUser, "", static_cast<int32_t>(ttCHQ),
                                                       Date::FromCivil(2026, 4, 1), "Rent", books.bank, Money("10"), "",
                                                       "", "1");
    ledger.PostDebit(books.path, cheque, books.rent, Money("10"), "April");
    ledger.EndTransaction(books.path, cheque);
    return books;
  };
  const Books imported = make("imported");
  const Books posted = make("posted");
  const JournalImport done = Import(imported.path,
                                    "2026-05-01 Capital\n"
                                    "    Assets:Bank:1000 Bank  500.25  ; first\n"
                                    "    Equity:Capital:3000 Owner\n"
                                    "\n"
                                    "2026-05-02 Rent\n"
                                    "    Expenses:Costs:5000 Rent  100\n"
                                    "    Expenses:Costs:5000 Rent  -0.0001\n"
                                    "    Assets:Bank:1000 Bank\n"
                                    "    (Expenses:Costs:5000 Rent)  7\n"
                                    "\n"
                                    "2026-05-03 Nothing\n"
                                    "    Assets:Bank:1000 Bank  0\n"
                                    "    Equity:Capital:3000 Owner  0\n");
  EXPECT_EQ(done.transactions, 3);
  struct Line {
    Variant account;
    const char* amount;  // debits positive
    const char* memo;
  };
  auto post = [&](int day, const char* description, const char* debits, const std::vector<Line>& lines) {
    const std::string number = ledger.BeginTransaction(posted.path, kUser, "", static_cast<int32_t>(ttGENJRNL),
                                                       Date::FromCivil(2026, 5, day), description, "", Money(debits),
                                                       "", "", "");
    for (const Line& line : lines) {
      const Currency amount = CurrencyFromText(line.amount);
      if (amount < Currency()) {
        ledger.PostCredit(posted.path, number, line.account, -amount, line.memo);
      } else {
        ledger.PostDebit(posted.path, number, line.account, amount, line.memo);
      }
    }
    ledger.EndTransaction(posted.path, number);
  };
  post(1, "Capital", "500.25", {{posted.bank, "500.25", "first"}, {posted.owner, "-500.25", ""}});
  post(2, "Rent", "107",
       {{posted.rent, "100", ""}, {posted.rent, "-0.0001", ""}, {posted.bank, "-99.9999", ""}, {posted.rent, "7", ""}});
  post(3, "Nothing", "0", {{posted.bank, "0", ""}, {posted.owner, "0", ""}});
  // Every row of the ledger's tables alike in both files but the log dates, the time of logging.
  auto rows = [](const std::string& path) {
    static const std::regex kNow("'[0-9]{4}-[0-9]{2}-[0-9]{2} (?!00:00:00')[0-9:.+]+'");
    const std::string dump = DumpTables(path);
    return std::regex_replace(dump.substr(dump.find("ACAccountType:")), kNow, "'now'") +
           RawScalar(path, "SELECT NextTransactionNumber FROM ISubScriber WHERE ISubScriberID > 0");
  };
  EXPECT_EQ(rows(imported.path), rows(posted.path));

  // Refused at the third transaction's account: the two before it used up their numbers.
  const std::string before = DumpTables(imported.path);
  auto counter = [&] {
    return std::stoi(RawScalar(imported.path, "SELECT NextTransactionNumber FROM ISubScriber WHERE ISubScriberID > 0"));
  };
  const int next = counter();
  const std::string two = "2026-06-01 a\n    Assets:Bank:1000 Bank  1\n    Equity:Capital:3000 Owner\n\n"
                          "2026-06-02 b\n    Assets:Bank:1000 Bank  1\n    Equity:Capital:3000 Owner\n\n";
  const Error renamed = CaptureError([&] { Import(imported.path, two + "2026-06-03 c\n    Assets:Bank:1000 Till  1\n    Equity:Capital:3000 Owner\n"); });
  EXPECT_EQ(Refusal(renamed).substr(0, 48), "Line 10 of the journal: the account number 1000 ");
  EXPECT_EQ(DumpTables(imported.path), before);
  EXPECT_EQ(counter(), next + 2);

  // Debits the company already holds near the end of the range: the third transaction's debit
  // would take the account's register total beyond, refused as EndTransaction refuses it.
  const std::string huge = ledger.BeginTransaction(imported.path, kUser, "", static_cast<int32_t>(ttGENJRNL),
                                                   Date::FromCivil(2026, 6, 1), "Huge", "", Money("922337203684000"), "",
                                                   "", "");
  ledger.PostDebit(imported.path, huge, imported.bank, Money("922337203684000"), "");
  ledger.PostCredit(imported.path, huge, imported.owner, Money("922337203684000"), "");
  ledger.EndTransaction(imported.path, huge);
  const std::string full = DumpTables(imported.path);
  const int at = counter();
  const Error overflow = CaptureError([&] {
    Import(imported.path, two + "2026-06-03 c\n    Assets:Bank:1000 Bank  1000\n    Equity:Capital:3000 Owner\n");
  });
  EXPECT_EQ(overflow.number(), kOverflow);
  EXPECT_EQ(Refusal(overflow), "Line 9 of the journal: Overflow: the register totals of account " + ToText(imported.bank) +
                                   " (1000 Bank) would leave the currency range; nothing is changed.");
  EXPECT_EQ(DumpTables(imported.path), full);
  EXPECT_EQ(counter(), at + 3);
}

TEST(Journal, RegisterAsCsvOneRowPerRegisterRowQuotedWhereNeeded) {
  TempCompany scratch;
  const std::string path = NewCompany(scratch, "csv");
  OddCompany company(path);
  std::ostringstream out;
  EXPECT_EQ(ExportRegisterCsv(path, out), 6);
  EXPECT_EQ(out.str(),
            "Date,Number,Type,Description,Account,AccountNumber,AccountName,Memo,Debit,Credit,Amount,Reconciled\n"
            "2026-03-01,1,ttDEP,Opening; capital,Assets:Bank:1000 Bank,1000,Bank,Capital,25000,0,25000,0\n"
            "2026-03-01,1,ttDEP,Opening; capital,\"Liabilities:Sales- tax, misc:2100 GST,PST-2026\",2100,GST;PST:2026,,0,"
            "24999.9999,-24999.9999,0\n"
            "2026-03-01,1,ttDEP,Opening; capital,Expenses:Costs:Rent,,Rent,\"line\none\",0,0.0001,-0.0001,0\n"
            "2026-03-02,3,ttGENJRNL,* One-sided,Expenses:Costs:Rent,,Rent,adjust,-0.001,0,-0.001,0\n"
            "2026-03-03 14:05:00,2,ttCHQ,(Reversal) of rent,Assets:Bank:1000 Bank:1010 Petty cash box,1010,"
            "Petty\tcash  box,,0,12.5,-12.5,0\n"
            "2026-03-03 14:05:00,2,ttCHQ,(Reversal) of rent,Expenses:Costs:_,,,\"Rent, March\",12.5,0,12.5,0\n");
}

TEST(Journal, MoneyTurnsTenThousandthsIntoTheExactAmountInReportQueries) {
  TempCompany company;
  CReportMgr reports;
  // A report's text goes to a server as written, where MONEY(...) would be the server's cast to
  // its own money type: the company's function is lk_money there.
  const std::string money = testing::OnPostgres() ? "lk_money" : "MONEY";
  const auto with_money = [&](std::string sql) {
    for (size_t at = sql.find("MONEY("); at != std::string::npos; at = sql.find("MONEY(", at + money.size())) {
      sql.replace(at, 5, money);
    }
    return sql;
  };
  auto result = reports.ExecReportQuery(
      company.account(),
      with_money("SELECT MONEY(282274521) AS a, MONEY(-125000) AS b, MONEY(1) AS c, MONEY(25000000) AS d, MONEY(NULL) "
                 "AS e, MONEY(9223372036854775807) AS f, MONEY(-9223372036854775808) AS g, MONEY(2.5) AS h, "
                 "MONEY(3.5) AS i, MONEY('-42') AS j, MONEY(0) AS k"));
  EXPECT_EQ(result->Field("a"), Variant("28227.4521"));
  EXPECT_EQ(result->Field("b"), Variant("-12.5"));
  EXPECT_EQ(result->Field("c"), Variant("0.0001"));
  EXPECT_EQ(result->Field("d"), Variant("2500"));
  EXPECT_TRUE(result->Field("e").IsNull());
  EXPECT_EQ(result->Field("f"), Variant("922337203685477.5807"));
  EXPECT_EQ(result->Field("g"), Variant("-922337203685477.5808"));
  EXPECT_EQ(result->Field("h"), Variant("0.0002"));  // half to even
  EXPECT_EQ(result->Field("i"), Variant("0.0004"));
  EXPECT_EQ(result->Field("j"), Variant("-0.0042"));
  EXPECT_EQ(result->Field("k"), Variant("0"));
  EXPECT_EQ(ToCurrency(result->Field("a")), Currency::FromScaled(282274521));

  for (const char* bad : {"SELECT MONEY('12.5')", "SELECT MONEY(x'00')", "SELECT MONEY(1e300)"}) {
    const Error error = CaptureError([&] { reports.ExecReportQuery(company.account(), with_money(bad)); });
    EXPECT_EQ(error.number(), testing::ExpectedError(testing::EngineFailure::kBadValue).number) << bad;
    EXPECT_NE(error.description().find("MONEY takes a whole count of ten-thousandths"), std::string::npos) << bad;
  }
}

}  // namespace
}  // namespace ledgerkit
