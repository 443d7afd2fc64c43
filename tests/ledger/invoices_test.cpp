// Tax codes, invoice lines and invoices. An invoice rides on one ttINV ledger transaction:
// begun when it is entered, posted and committed when it is issued (a credit per line, a
// credit per tax name, a debit of their sum to the receivable account), aborted when it is
// deleted. Every call happens completely or not at all.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/ledger/InvoiceAmounts.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Occurrences;
using testing::RawExec;
using testing::RawScalar;

// Accounts of the company.
constexpr int32_t kReceivable = 12;
constexpr int32_t kGst = 21;
constexpr int32_t kPst = 22;
constexpr int32_t kHst = 23;
constexpr int32_t kSales = 40;
constexpr int32_t kServices = 41;

const Date kMarch31 = Date::FromCivil(2026, 3, 31);

// A tax code as the front end enters it; by default GST 7 % and PST 7.5 % on top of it.
struct TaxCodeEntry {
  const char* letter = "G";
  const char* description = "GST and PST";
  double rate1 = 7;
  const char* name1 = "GST";
  bool exempt1 = false;
  double rate2 = 7.5;
  const char* name2 = "PST";
  bool exempt2 = false;
  bool piggy_back = true;
  bool inactive = false;
  int32_t account1 = kGst;
  int32_t account2 = kPst;
};

// An invoice as the front end enters it; by default a pending, numbered one.
struct InvoiceEntry {
  const char* comment = "March order";
  const char* number = "";
  int32_t paid = -1;
  const char* company = "Bolt Ltd";
  const char* total = "50";
};

Currency Amount(const char* text) { return CurrencyFromText(text); }

using testing::MoneySql;

// The InvoiceNo of every invoice of the collection, in its order: "10,2,9".
std::string Numbers(const std::shared_ptr<EntityCollection> invoices) {
  std::string numbers;
  for (const auto& [key, object] : invoices->entries()) {
    if (!numbers.empty()) numbers += ',';
    numbers += ToText(std::static_pointer_cast<ACInvoice>(object)->Value("InvoiceNo"));
  }
  return numbers;
}

class InvoiceBook : public ::testing::Test {
 protected:
  InvoiceBook() {
    Exec("INSERT INTO ACAccount (ACAccountID,Parent,AccountNumber,Name) VALUES (12,1,'1200','Receivables'),"
         "(21,1,'2100','GST payable'),(22,1,'2200','PST payable'),(23,1,'2300','HST payable'),"
         "(40,1,'4000','Sales'),(41,1,'4100','Services')");
  }

  Variant account() const { return company_.account(); }
  std::string Sql(const std::string& sql) const { return RawScalar(company_.path(), sql); }
  void Exec(const std::string& sql) const { ASSERT_EQ(RawExec(company_.path(), sql), "") << sql; }

  int32_t AddCode(const TaxCodeEntry& code) {
    return ToLong(ledger_.AddTaxCode(account(), "alice", "", code.letter, code.description, code.rate1, code.name1,
                                     code.exempt1, code.rate2, code.name2, code.exempt2, code.piggy_back,
                                     code.inactive, code.account1, code.account2));
  }
  // Enters the invoice, dated March 31, for the receivable account; `number` is written back.
  int32_t Enter(const InvoiceEntry& invoice, Variant& number) {
    return ToLong(ledger_.InsertInvoice(account(), "alice", "", invoice.paid, invoice.comment, kMarch31, number,
                                        "PO-1", "1 Main St", invoice.company, Amount(invoice.total), kReceivable));
  }
  int32_t Enter(const InvoiceEntry& invoice = {}) {
    Variant number = invoice.number;
    return Enter(invoice, number);
  }
  // A line "item <code>" of `quantity` at `price`, credited to sales.
  int32_t Line(int32_t invoice, const char* code, const char* price, double quantity, int32_t tax = 0) {
    return ToLong(ledger_.AddInvoiceItem(account(), "alice", "", invoice, tax, code, std::string("item ") + code,
                                         Amount(price), quantity, "each", kSales));
  }
  void Issue(const Variant& invoice) { ledger_.IssueInvoice(account(), "alice", "", invoice); }
  void Update(int32_t invoice, int32_t paid, const char* comment = "Revised order") {
    ledger_.UpdateInvoice(account(), "alice", "", invoice, paid, comment, Date::FromCivil(2026, 4, 2), "A-9", "PO-7",
                          "9 High St", "Nut Co", Amount("123.45"), TransactionOf(invoice), kReceivable);
  }

  std::string TransactionOf(int32_t invoice) const {
    return Sql("SELECT TransactionNumber FROM ACInvoice WHERE ACInvoiceID=" + std::to_string(invoice));
  }
  // What the invoice's transaction posted, by account: "12:W230.05 D0;21:W0 D14;...".
  std::string Postings(int32_t invoice) const {
    return Sql("SELECT ifnull(group_concat(Parent||':W'||" + MoneySql("Withdrawal") + "||' D'||" +
               MoneySql("Deposit") + ",';'),'') FROM (SELECT * FROM ACTransaction WHERE TransactionNumber='" +
               TransactionOf(invoice) + "' ORDER BY Parent,ACTransactionID)");
  }
  // The log header: "status|type|date|description|cheque|address|amount|user".
  std::string Header(const std::string& number) const {
    return Sql("SELECT TransLogStatus||'|'||TransType||'|'||TransactionDate||'|'||Description||'|'||"
               "ifnull(ChequeNo,'NULL')||'|'||ifnull(Address,'NULL')||'|'||" +
               MoneySql("Amount") + "||'|'||UserName FROM ACTransLog WHERE TransactionNumber='" + number + "'");
  }
  // The invoice row: "paid|comment|date|number|order|address|company|total|account".
  std::string Row(int32_t invoice) const {
    return Sql("SELECT Paid||'|'||Comment||'|'||InvoiceDate||'|'||InvoiceNo||'|'||PurchaseOrderNumber||'|'||"
               "Address||'|'||Company||'|'||" +
               MoneySql("Total") + "||'|'||AccountID FROM ACInvoice WHERE ACInvoiceID=" + std::to_string(invoice));
  }
  // The line row: "invoice|tax|code|name|price|quantity|unit|account".
  std::string Item(int32_t item) const {
    return Sql("SELECT Parent||'|'||TaxID||'|'||ItemCode||'|'||ItemName||'|'||" + MoneySql("ItemPrice") +
               "||'|'||" + testing::RealSql("ItemQuantity") + "||'|'||ItemUnit||'|'||AccountID FROM ACInvoiceItem WHERE ACInvoiceItemID=" +
               std::to_string(item));
  }
  // The tax code row: "owner|code|description|rate|name|exempt|rate|name|exempt|piggy|inactive|acct|acct".
  std::string Code(int32_t code) const {
    return Sql("SELECT Parent||'|'||TaxCode||'|'||Description||'|'||" + testing::RealSql("Tax1Rate") +
               "||'|'||Tax1Name||'|'||Tax1Exempt||'|'||" + testing::RealSql("Tax2Rate") +
               "||'|'||Tax2Name||'|'||Tax2Exempt||'|'||Tax2PiggyBack||'|'||Inactive||'|'||Account1ID||'|'||"
               "Account2ID FROM CITaxCode WHERE CITaxCodeID=" +
               std::to_string(code));
  }
  // The stored balances: "12:-230.05 21:14 22:16.05 23:0 40:200 41:0".
  std::string Balances() const {
    return Sql("SELECT group_concat(ACAccountID||':'||" + MoneySql("Balance") +
               ",' ') FROM (SELECT * FROM ACAccount ORDER BY ACAccountID)");
  }
  std::string Counter() const { return Sql("SELECT NextTransactionNumber FROM ISubScriber"); }
  // Every row of every table but the transaction counter, to compare before and after a call.
  std::string Everything() const { return testing::DumpTables(company_.path()); }
  // Runs a call that must fail at the trigger `when` ("BEFORE DELETE ON ACInvoice"), then drops it.
  Error FailingAt(const std::string& when, const std::function<void()>& call) {
    Exec("CREATE TRIGGER injected " + when + " BEGIN SELECT RAISE(ABORT,'injected'); END;");
    const Error error = CaptureError(call);
    Exec("DROP TRIGGER injected");
    EXPECT_EQ(Occurrences(error.description(), "injected"), 1) << when << ": " << error.description();
    EXPECT_EQ(Occurrences(error.description(), kErrorMarker), 1) << error.description();
    return error;
  }

  testing::TempCompany company_;
  CACMgr ledger_;
};

class TaxCodes : public InvoiceBook {};
class InvoiceItems : public InvoiceBook {};
class Invoices : public InvoiceBook {};
class InvoiceNumbering : public InvoiceBook {};

// --- Tax codes ------------------------------------------------------------------------------

TEST_F(TaxCodes, EachCodeGetsItsOwnKeyAndIsListedInactiveOrNot) {
  const int32_t gst = AddCode({});
  const int32_t exempt = AddCode({.letter = "E", .description = "Exempt", .exempt1 = true, .exempt2 = true,
                                  .inactive = true});
  const int32_t again = AddCode({.description = "GST again"});
  EXPECT_EQ(Code(gst), "1|G|GST and PST|7.0|GST|0|7.5|PST|0|1|0|21|22");
  EXPECT_EQ(Code(exempt), "1|E|Exempt|7.0|GST|1|7.5|PST|1|1|1|21|22");
  EXPECT_EQ(Code(again), "1|G|GST again|7.0|GST|0|7.5|PST|0|1|0|21|22");
  const auto codes = ledger_.GetAllTaxCodes(account(), "alice", "");
  EXPECT_EQ(codes->Count(), 3);
  const auto inactive = ledger_.GetTaxCode(account(), "alice", "", exempt);
  EXPECT_EQ(ToText(inactive->Value("Description")), "Exempt");
  EXPECT_TRUE(ToBoolean(inactive->Value("Inactive")));

  ledger_.UpdateTaxCode(account(), "alice", "", gst, "H", "HST", 13, "HST", false, 0, "", true, false, false, kHst, 0);
  EXPECT_EQ(Code(gst), "1|H|HST|13.0|HST|0|0.0||1|0|0|23|0");
  ledger_.DeleteTaxCode(account(), "alice", "", again);
  EXPECT_EQ(ledger_.GetAllTaxCodes(account(), "alice", "")->Count(), 2);
  EXPECT_EQ(CaptureError([&] { ledger_.GetTaxCode(account(), "alice", "", again); }).number(), kInvalidArgument);
}

TEST_F(TaxCodes, ACodeOfMoreThanOneCharacterIsRefusedAndNothingStored) {
  const Error error = CaptureError([&] { AddCode({.letter = "GS"}); });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_EQ(error.description(), "The text for TaxCode has 2 characters; at most 1 fit.\r\n >VantorERR@5");
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM CITaxCode"), "0");
  // Characters are counted, not bytes.
  const int32_t accented = AddCode({.letter = "\u00e9"});
  EXPECT_EQ(Sql("SELECT TaxCode FROM CITaxCode WHERE CITaxCodeID=" + std::to_string(accented)), "\u00e9");

  const int32_t gst = AddCode({});
  EXPECT_EQ(CaptureError([&] {
              ledger_.UpdateTaxCode(account(), "alice", "", gst, "GS", "x", 1, "x", false, 1, "x", false, false, false,
                                    kHst, kHst);
            }).number(),
            kInvalidArgument);
  EXPECT_EQ(Code(gst), "1|G|GST and PST|7.0|GST|0|7.5|PST|0|1|0|21|22");
}

TEST_F(TaxCodes, ExemptDeletedMissingAndZeroCodesAddNoTax) {
  const int32_t exempt = AddCode({.letter = "E", .exempt1 = true, .exempt2 = true});
  const int32_t deleted = AddCode({.letter = "X"});
  const int32_t invoice = Enter();
  Line(invoice, "A", "100", 1, exempt);
  Line(invoice, "B", "10", 2, deleted);
  Line(invoice, "C", "1", 3, 0);
  Line(invoice, "D", "5", 1, 999);
  ledger_.DeleteTaxCode(account(), "alice", "", deleted);
  Issue(invoice);
  EXPECT_EQ(Postings(invoice), "12:W128 D0;40:W0 D100;40:W0 D20;40:W0 D3;40:W0 D5");
}

// --- Invoice lines ----------------------------------------------------------------------------

TEST_F(InvoiceItems, EachLineGetsItsOwnKeyWhateverItsItemCode) {
  const int32_t code = AddCode({});
  const int32_t march = Enter();
  const int32_t april = Enter({.comment = "April order"});
  const int32_t first = Line(march, "W1", "10", 1);
  const int32_t second = Line(march, "W1", "12", 2);
  const int32_t other = Line(april, "W1", "14", 3, code);
  EXPECT_EQ(Item(first), "1|0|W1|item W1|10|1.0|each|40");
  EXPECT_EQ(Item(second), "1|0|W1|item W1|12|2.0|each|40");
  EXPECT_EQ(Item(other), "2|" + std::to_string(code) + "|W1|item W1|14|3.0|each|40");
  const auto line = ledger_.GetInvoiceItem(account(), "alice", "", second);
  EXPECT_EQ(ToCurrency(line->Value("ItemPrice")), Amount("12"));
  EXPECT_EQ(CaptureError([&] { ledger_.GetInvoiceItem(account(), "alice", "", 999); }).number(), kInvalidArgument);
}

TEST_F(InvoiceItems, ChangingOrDeletingLinesOfAnIssuedInvoiceLeavesWhatItPostedAlone) {
  const int32_t code = AddCode({});
  const int32_t invoice = Enter({.total = "231.05"});
  const int32_t taxed = Line(invoice, "A", "100", 2, code);
  const int32_t plain = Line(invoice, "B", "1", 1);
  Issue(invoice);
  const std::string posted = "12:W231.05 D0;21:W0 D14;22:W0 D16.05;40:W0 D200;40:W0 D1";
  ASSERT_EQ(Postings(invoice), posted);
  const std::string balances = Balances();
  const std::string row = Row(invoice);

  ledger_.UpdateInvoiceItem(account(), "alice", "", taxed, 0, "A", "item A", Amount("50"), 1, "box", kServices);
  EXPECT_EQ(Item(taxed), "1|0|A|item A|50|1.0|box|41");
  ledger_.DeleteInvoiceItem(account(), "alice", "", plain);
  EXPECT_EQ(Item(plain), "");
  EXPECT_EQ(Postings(invoice), posted);
  EXPECT_EQ(Balances(), balances);
  EXPECT_EQ(Row(invoice), row);
}

TEST_F(InvoiceItems, ALineForAnInvoiceThatDoesNotExistIsRefused) {
  const int32_t invoice = Enter();
  const std::string before = Everything();
  const Error error = CaptureError([&] { Line(invoice + 1, "A", "10", 1); });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_EQ(error.argument(), "InvoiceID");
  const std::string expected = "No ACInvoice has the key " + std::to_string(invoice + 1) + ".";
  EXPECT_EQ(error.description().substr(0, expected.size()), expected);
  EXPECT_EQ(Everything(), before);
  // A line of an issued invoice is stored, and issuing posted only what was there then.
  Issue(invoice);
  Line(invoice, "B", "10", 1);
  EXPECT_EQ(Postings(invoice), "12:W0 D0");
}

// --- Invoices ---------------------------------------------------------------------------------

TEST_F(Invoices, IssuingCreditsLinesAndTaxesAndDebitsTheirSumToTheReceivable) {
  const int32_t piggy_back = AddCode({});
  const int32_t flat = AddCode({.letter = "F", .piggy_back = false});
  const int32_t march = Enter();
  Line(march, "A", "100", 2, piggy_back);
  Issue(march);
  EXPECT_EQ(Postings(march), "12:W230.05 D0;21:W0 D14;22:W0 D16.05;40:W0 D200");
  EXPECT_EQ(Sql("SELECT group_concat(Description,',') FROM (SELECT Description FROM ACTransaction ORDER BY Parent)"),
            "March order,March order,March order,item A");
  EXPECT_EQ(Header(TransactionOf(march)), "1|9|2026-03-31 00:00:00|March order||1 Main St|50|alice");
  EXPECT_EQ(Row(march), "0|March order|2026-03-31 00:00:00|1|PO-1|1 Main St|Bolt Ltd|50|12");

  const int32_t april = Enter({.comment = "April order"});
  Line(april, "A", "100", 2, flat);
  Issue(april);
  EXPECT_EQ(Postings(april), "12:W229 D0;21:W0 D14;22:W0 D15;40:W0 D200");
  EXPECT_EQ(Balances(), "12:-459.05 21:28 22:31.05 23:0 40:400 41:0");
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM ACTransLogWIP"), "0");
}

TEST_F(Invoices, AmountsAreCarriedToTheTenThousandthAndTheDebitIsTheSumOfTheCredits) {
  const int32_t gst = AddCode({.exempt2 = true});
  const int32_t thirds = Enter();
  Line(thirds, "A", "0.3333", 3, gst);
  Issue(thirds);
  EXPECT_EQ(Postings(thirds), "12:W1.0699 D0;21:W0 D0.07;40:W0 D0.9999");
  // Each line rounds to 0.0002 on its own; the debit follows the credits, not the unrounded sum.
  const int32_t samples = Enter({.comment = "Samples"});
  Line(samples, "A", "1", 0.00015);
  Line(samples, "B", "1", 0.00015);
  Issue(samples);
  EXPECT_EQ(Postings(samples), "12:W0.0004 D0;40:W0 D0.0002;40:W0 D0.0002");
  EXPECT_EQ(Sql("SELECT SUM(Withdrawal)-SUM(Deposit) FROM ACTransaction"), "0");
}

TEST_F(Invoices, AnInvoiceOfHundredsOfLinesPostsEveryLineOnceInItsOrder) {
  // More register rows than one statement writes: two full statements and a shorter one.
  const int32_t large = Enter();
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    const std::string code = std::to_string(1000 + i);  // items post in the order of their codes
    Line(large, code.c_str(), "1.0001", 1);
    expected += "item " + code + ",";
  }
  Issue(large);
  EXPECT_EQ(Sql("SELECT group_concat(Description,',') FROM (SELECT Description FROM ACTransaction "
                "ORDER BY ACTransactionID)"),
            expected + "March order");
  EXPECT_EQ(Balances(), "12:-300.03 21:0 22:0 23:0 40:300.03 41:0");
  EXPECT_EQ(Sql("SELECT Credits||'/'||CreditRows FROM lk_RegisterTotal WHERE AccountID=40"), "3000300/300");
  EXPECT_EQ(Sql("SELECT Debits||'/'||DebitRows FROM lk_RegisterTotal WHERE AccountID=12"), "3000300/1");
}

TEST_F(Invoices, AnInvoiceIsPostedOnceAndIssuingItAgainChangesNothing) {
  const int32_t code = AddCode({});
  const int32_t invoice = Enter({.number = "7"});
  Line(invoice, "A", "100", 1, code);
  Issue(invoice);
  ASSERT_EQ(Postings(invoice), "12:W115.025 D0;21:W0 D7;22:W0 D8.025;40:W0 D100");
  const std::string issued = Everything();
  // A second click of the front end's button: refused, the receivable debited once.
  const Error again = CaptureError([&] { Issue(invoice); });
  EXPECT_EQ(again.number(), kInvalidArgument);
  EXPECT_EQ(again.argument(), "InvoiceID");
  const std::string key = std::to_string(invoice);
  EXPECT_EQ(again.description().substr(0, again.description().find('\r')),
            "Invoice 7 (key " + key + ") cannot be issued: it is already issued (its transaction " +
                TransactionOf(invoice) + " is committed).");
  EXPECT_EQ(Everything(), issued);
  // A committed transaction is what counts: Paid set back to pending does not let it post again.
  Exec("UPDATE ACInvoice SET Paid=-1 WHERE ACInvoiceID=" + key);
  EXPECT_EQ(CaptureError([&] { Issue(invoice); }).number(), kInvalidArgument);
  EXPECT_EQ(Postings(invoice), "12:W115.025 D0;21:W0 D7;22:W0 D8.025;40:W0 D100");
  Exec("UPDATE ACInvoice SET Paid=1 WHERE ACInvoiceID=" + key);
  const Error paid = CaptureError([&] { Issue(invoice); });
  EXPECT_NE(paid.description().find("(key " + key + ") cannot be issued: it is paid."), std::string::npos)
      << paid.description();

  // Entered as outstanding but never posted: refused with the way out, then issued once pending.
  const int32_t draft = Enter({.comment = "Draft", .paid = 0});
  Line(draft, "A", "10", 1);
  const Error outstanding = CaptureError([&] { Issue(draft); });
  EXPECT_NE(outstanding.description().find("set Paid to -1 (pending) to issue it"), std::string::npos)
      << outstanding.description();
  EXPECT_EQ(Postings(draft), "");
  Exec("UPDATE ACInvoice SET Paid=-1 WHERE ACInvoiceID=" + std::to_string(draft));
  Issue(draft);
  EXPECT_EQ(Postings(draft), "12:W10 D0;40:W0 D10");
  EXPECT_EQ(CaptureError([&] { Issue(draft); }).number(), kInvalidArgument);
  EXPECT_EQ(Postings(draft), "12:W10 D0;40:W0 D10");
}

TEST_F(Invoices, TheComputedPostingIsWhatIssuingPosts) {
  const int32_t to_gst = AddCode({.letter = "A", .exempt2 = true});
  const int32_t both = AddCode({.letter = "B", .rate1 = 5, .account1 = kHst});
  const int32_t invoice = Enter();
  Line(invoice, "B", "0.3333", 3, to_gst);
  Line(invoice, "A", "200", 1, both);
  Line(invoice, "C", "7.5", 2);
  const auto entered = ledger_.GetInvoice(account(), "alice", "", invoice);
  const InvoicePosting posting =
      ComputeInvoicePosting(*entered->Children("Items", account()), *ledger_.GetAllTaxCodes(account(), "alice", ""));
  // Lines by item code; GST from both codes under one name, to the account of the code met last
  // (B's); PST 7.5 % on line A plus its 5 % GST.
  std::string shown;
  for (const InvoiceLineCredit& line : posting.lines) {
    shown += ToText(line.description) + " " + ToText(line.account_id) + " " + line.amount.ToText() + "; ";
  }
  for (const InvoiceTaxCredit& tax : posting.taxes) {
    shown += ToText(tax.name) + " " + ToText(tax.account_id) + " " + tax.amount.ToText() + "; ";
  }
  EXPECT_EQ(shown, "item A 40 200; item B 40 0.9999; item C 40 15; GST 21 10.07; PST 22 15.75; ");
  EXPECT_EQ(posting.total, Amount("241.8199"));
  Issue(invoice);
  EXPECT_EQ(Postings(invoice), "12:W241.8199 D0;21:W0 D10.07;22:W0 D15.75;40:W0 D200;40:W0 D0.9999;40:W0 D15");
}

TEST_F(Invoices, AnExemptFirstTaxLeavesTheSecondOnTheLineAlone) {
  const int32_t code = AddCode({.exempt1 = true});
  const int32_t invoice = Enter();
  Line(invoice, "A", "100", 2, code);
  Issue(invoice);
  EXPECT_EQ(Postings(invoice), "12:W215 D0;22:W0 D15;40:W0 D200");
}

TEST_F(Invoices, TaxesOfOneNameShareOneCreditToTheAccountOfTheCodeMetLast) {
  const int32_t to_gst = AddCode({.letter = "A", .exempt2 = true});
  const int32_t to_hst = AddCode({.letter = "B", .rate1 = 5, .exempt2 = true, .account1 = kHst});
  const int32_t invoice = Enter();
  // Lines are taken by item code, so B (whose code credits GST payable) is met last.
  Line(invoice, "B", "100", 1, to_gst);
  Line(invoice, "A", "200", 1, to_hst);
  Issue(invoice);
  EXPECT_EQ(Postings(invoice), "12:W317 D0;21:W0 D17;40:W0 D200;40:W0 D100");

  const int32_t both_hst =
      AddCode({.letter = "H", .rate1 = 5, .name1 = "HST", .rate2 = 8, .name2 = "HST", .piggy_back = false,
               .account1 = kHst, .account2 = kHst});
  const int32_t april = Enter({.comment = "April order"});
  Line(april, "A", "100", 1, both_hst);
  Issue(april);
  EXPECT_EQ(Postings(april), "12:W113 D0;23:W0 D13;40:W0 D100");
}

TEST_F(Invoices, AnInvoiceWithoutLinesPostsAZeroDebitAndCommits) {
  const int32_t invoice = Enter();
  Issue(invoice);
  EXPECT_EQ(Postings(invoice), "12:W0 D0");
  EXPECT_EQ(Header(TransactionOf(invoice)).substr(0, 4), "1|9|");
  EXPECT_EQ(Row(invoice).substr(0, 2), "0|");
}

TEST_F(Invoices, ListsFollowTheStateOfEachInvoiceInTheTextOrderOfItsNumber) {
  EXPECT_EQ(ledger_.GetAllPendingInvoices(account(), "alice", "")->Count(), 0);
  const int32_t nine = Enter({.number = "9"});
  const int32_t ten = Enter({.comment = "April order", .number = "10"});
  const int32_t two = Enter({.comment = "May order", .number = "2"});
  EXPECT_EQ(Numbers(ledger_.GetAllPendingInvoices(account(), "alice", "")), "10,2,9");
  EXPECT_EQ(Numbers(ledger_.GetAllOutstandingInvoices(account(), "alice", "")), "");

  Issue(nine);
  EXPECT_EQ(Numbers(ledger_.GetAllPendingInvoices(account(), "alice", "")), "10,2");
  EXPECT_EQ(Numbers(ledger_.GetAllOutstandingInvoices(account(), "alice", "")), "9");
  EXPECT_EQ(Numbers(ledger_.GetAllPaidInvoices(account(), "alice", "")), "");

  ledger_.UpdateInvoice(account(), "alice", "", two, 1, "May order", kMarch31, "2", "PO-1", "1 Main St", "Bolt Ltd",
                        Amount("50"), TransactionOf(two), kReceivable);
  EXPECT_EQ(Numbers(ledger_.GetAllPaidInvoices(account(), "alice", "")), "2");
  EXPECT_EQ(Numbers(ledger_.GetAllPendingInvoices(account(), "alice", "")), "10");
  EXPECT_EQ(Numbers(ledger_.GetAllInvoices(account(), "alice", "")), "10,2,9");

  EXPECT_EQ(ToLong(ledger_.GetInvoiceByTrans(account(), "alice", "", TransactionOf(ten))->Value("ACInvoiceID")), ten);
  EXPECT_EQ(ToLong(ledger_.GetInvoice(account(), "alice", "", nine)->Value("Paid")), 0);
}

TEST_F(Invoices, UpdatingChangesTheInvoiceAndItsHeaderTogether) {
  const int32_t invoice = Enter({.total = "100"});
  const std::string number = TransactionOf(invoice);
  Update(invoice, -1);
  EXPECT_EQ(Row(invoice), "-1|Revised order|2026-04-02 00:00:00|A-9|PO-7|9 High St|Nut Co|123.45|12");
  EXPECT_EQ(Header(number), "0|9|2026-04-02 00:00:00|Revised order|A-9|9 High St|123.45|alice");
  EXPECT_EQ(TransactionOf(invoice), number);
}

TEST_F(Invoices, DeletingAnInvoiceRestoresEveryBalanceAndLeavesNoTrace) {
  Exec("UPDATE ACAccount SET Balance=ACAccountID*12345");
  const int32_t code = AddCode({});
  const int32_t kept = Enter();
  Line(kept, "A", "100", 2, code);
  Issue(kept);
  const std::string before = Everything();

  const int32_t outstanding = Enter({.comment = "April order"});
  Line(outstanding, "A", "33.3333", 3, code);
  Line(outstanding, "B", "0.07", 7);
  Issue(outstanding);
  ASSERT_EQ(Postings(outstanding), "12:W115.5149 D0;21:W0 D7;22:W0 D8.025;40:W0 D99.9999;40:W0 D0.49");
  ledger_.DeleteOutstandingInvoice(account(), "alice", "", outstanding);
  EXPECT_EQ(Everything(), before);

  const int32_t pending = Enter({.comment = "May order"});
  Line(pending, "A", "5", 1, code);
  ledger_.DeletePendingInvoice(account(), "alice", "", pending);
  EXPECT_EQ(Everything(), before);
}

TEST_F(Invoices, EveryCallIsAllOrNothing) {
  const int32_t code = AddCode({});
  const int32_t issued = Enter();
  Line(issued, "A", "100", 2, code);
  Issue(issued);
  const int32_t pending = Enter({.comment = "April order"});
  Line(pending, "A", "100", 2, code);
  const std::string before = Everything();

  // The receivable debit is the last register row the issue writes.
  FailingAt("BEFORE INSERT ON ACTransaction WHEN NEW.Withdrawal>0", [&] { Issue(pending); });
  EXPECT_EQ(Everything(), before);
  // A line whose account is gone is named, and nothing is posted.
  const std::string items = "UPDATE ACInvoiceItem SET AccountID=";
  const std::string of_pending = " WHERE Parent=" + std::to_string(pending);
  Exec(items + "99" + of_pending);
  const Error gone = CaptureError([&] { Issue(pending); });
  Exec(items + "40" + of_pending);
  EXPECT_EQ(gone.number(), kInvalidArgument);
  EXPECT_NE(gone.description().find("The credit of invoice item "), std::string::npos) << gone.description();
  EXPECT_NE(gone.description().find(" names account 99, which does not exist; nothing is committed."),
            std::string::npos)
      << gone.description();
  EXPECT_EQ(Everything(), before);
  FailingAt("BEFORE INSERT ON ACInvoice", [&] { Enter({.comment = "May order"}); });
  EXPECT_EQ(Everything(), before);
  // The number the failed entry took stays consumed.
  EXPECT_EQ(Counter(), "4");
  FailingAt("BEFORE UPDATE ON ACInvoice", [&] { Update(pending, -1); });
  EXPECT_EQ(Everything(), before);
  FailingAt("BEFORE DELETE ON ACInvoiceItem", [&] { ledger_.DeleteOutstandingInvoice(account(), "alice", "", issued); });
  EXPECT_EQ(Everything(), before);
  FailingAt("BEFORE DELETE ON ACInvoice", [&] { ledger_.DeletePendingInvoice(account(), "alice", "", pending); });
  EXPECT_EQ(Everything(), before);

  Issue(pending);
  EXPECT_EQ(Postings(pending), "12:W230.05 D0;21:W0 D14;22:W0 D16.05;40:W0 D200");
}

TEST_F(Invoices, HostileKeysAndNumbersFindNothingAndChangeNothing) {
  const int32_t invoice = Enter();
  Line(invoice, "A", "100", 2);
  const std::string before = Everything();
  for (const char* number : {"1' OR '1'='1", "x'; DELETE FROM ACInvoice; --"}) {
    EXPECT_EQ(CaptureError([&] { ledger_.GetInvoiceByTrans(account(), "alice", "", number); }).number(),
              kInvalidArgument)
        << number;
  }
  EXPECT_EQ(CaptureError([&] { Issue("1 OR 1=1"); }).number(), kTypeMismatch);
  EXPECT_EQ(CaptureError([&] { ledger_.DeletePendingInvoice(account(), "alice", "", "1 OR 1=1"); }).number(),
            kTypeMismatch);
  EXPECT_EQ(CaptureError([&] { ledger_.DeleteOutstandingInvoice(account(), "alice", "", "1 OR 1=1"); }).number(),
            kTypeMismatch);
  EXPECT_EQ(CaptureError([&] { Issue(999); }).number(), kInvalidArgument);
  EXPECT_EQ(Everything(), before);
  EXPECT_EQ(ToLong(ledger_.GetInvoiceByTrans(account(), "alice", "", "1")->Value("ACInvoiceID")), invoice);
}

TEST_F(Invoices, EveryInvoiceGetsTheKeyOfItsOwnRow) {
  const int32_t first = Enter({.comment = ""});
  const int32_t second = Enter({.comment = ""});
  const int32_t twin = Enter({.number = "5"});
  const int32_t other_twin = Enter({.number = "5"});
  EXPECT_EQ(TransactionOf(first), "1");
  EXPECT_EQ(TransactionOf(second), "2");
  EXPECT_EQ(TransactionOf(twin), "3");
  EXPECT_EQ(TransactionOf(other_twin), "4");
}

// --- Invoice numbering -----------------------------------------------------------------------

TEST_F(InvoiceNumbering, AnEmptyNumberIsOneMoreThanTheGreatestWholeNumberStored) {
  Variant number = "A-17";
  const int32_t lettered = Enter({}, number);
  EXPECT_EQ(ToText(number), "A-17");
  EXPECT_EQ(Row(lettered), "-1|March order|2026-03-31 00:00:00|A-17|PO-1|1 Main St|Bolt Ltd|50|12");
  EXPECT_EQ(Header(TransactionOf(lettered)), "0|9|2026-03-31 00:00:00|March order|A-17|1 Main St|50|alice");

  number = "";
  const int32_t first = Enter({}, number);
  EXPECT_EQ(ToText(number), "1");
  EXPECT_EQ(Row(first), "-1|March order|2026-03-31 00:00:00|1|PO-1|1 Main St|Bolt Ltd|50|12");
  EXPECT_EQ(Header(TransactionOf(first)), "0|9|2026-03-31 00:00:00|March order||1 Main St|50|alice");

  Enter({.number = "7"});
  Enter({.number = "8"});
  Enter({.number = "12B"});
  for (const char* expected : {"9", "10", "11"}) {
    number = Variant();
    const int32_t next = Enter({}, number);
    EXPECT_EQ(ToText(number), expected);
    EXPECT_EQ(Sql("SELECT InvoiceNo FROM ACInvoice WHERE ACInvoiceID=" + std::to_string(next)), expected);
  }
}

TEST_F(InvoiceNumbering, TheGreatestPossibleNumberHasNoSuccessor) {
  // A stored number of more digits than any integer holds is as far past the range as the
  // greatest number itself; each refusal consumes the transaction number it took.
  int counter = 2;
  for (const std::string greatest : {"099999999999999999999", "2147483647"}) {
    Exec("DELETE FROM ACInvoice WHERE Comment='old'");
    Exec("INSERT INTO ACInvoice (Paid,Comment,InvoiceNo,Company) VALUES (-1,'old','" + greatest + "','Bolt Ltd')");
    const std::string before = Everything();
    Variant number = "";
    const Error error = CaptureError([&] { Enter({}, number); });
    EXPECT_EQ(error.number(), kOverflow) << greatest << ": " << error.description();
    EXPECT_EQ(Occurrences(error.description(), kErrorMarker), 1) << error.description();
    EXPECT_EQ(Everything(), before);
    EXPECT_EQ(Counter(), std::to_string(counter++));
  }

  Variant number = "B-1";
  const int32_t given = Enter({}, number);
  EXPECT_EQ(TransactionOf(given), "3");
}

}  // namespace
}  // namespace ledgerkit
