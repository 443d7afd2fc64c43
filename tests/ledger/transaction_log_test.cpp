// Reading and correcting logged transactions: headers by status and by number, their waiting
// lines, and the register rows a committed transaction produced.
#include <gtest/gtest.h>

#include <string>

#include "ledgerkit/common/Convert.h"
#include "ledger/LedgerFixture.h"
#include "support/Capture.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Column;
using testing::Marked;

constexpr const char* kQuoted = "x' OR '1'='1";

class TransactionLog : public testing::LedgerFixture {
 protected:
  std::string Numbers(const Variant& status, const char* user = "alice") {
    return Column(ledger_.GetTransLogByStatus(account(), user, "token", status), "TransactionNumber");
  }
};

TEST_F(TransactionLog, HeadersAreListedByStatusOldestLogDateFirst) {
  Begin(ttGENJRNL);
  Begin(ttGENJRNL);
  Begin(ttCHQ);
  for (int id = 1; id <= 3; ++id) {  // newest first
    Exec("UPDATE ACTransLog SET LogDate='2026-01-0" + std::to_string(4 - id) + " 09:00:00' WHERE ACTransLogID=" +
         std::to_string(id));
  }
  ledger_.EndTransaction(account(), "2");
  EXPECT_EQ(Numbers(tlsINPROGRESS), "3,1");
  EXPECT_EQ(Numbers(tlsCOMMITTED), "2");
  EXPECT_EQ(Numbers(tlsINPROGRESS, "nobody"), "3,1");
  ledger_.AbortTransaction(account(), "3");
  EXPECT_EQ(Numbers(tlsINPROGRESS), "1");
  EXPECT_EQ(Numbers(tlsABORTED), "");
  EXPECT_EQ(CaptureError([&] { Numbers("1 OR 1=1"); }).number(), kTypeMismatch);
}

TEST_F(TransactionLog, GetTransLogFindsOneHeaderByItsNumber) {
  const std::string number = Cheque(100);
  const auto header = ledger_.GetTransLog(account(), "", "", number);
  EXPECT_EQ(ToLong(header->Value("TransLogStatus")), tlsCOMMITTED);
  EXPECT_EQ(header->Value("ChequeNo"), Variant("101"));
  const Error missing = CaptureError([&] { ledger_.GetTransLog(account(), "", "", "1042"); });
  EXPECT_EQ(missing.number(), kInvalidArgument);
  EXPECT_EQ(missing.description(), Marked("No ledger transaction has the number 1042.", kInvalidArgument));
  EXPECT_EQ(CaptureError([&] { ledger_.GetTransLog(account(), "", "", kQuoted); }).number(), kInvalidArgument);
}

TEST_F(TransactionLog, UpdateTransLogReplacesTheDescriptiveFieldsOnly) {
  const std::string number = Cheque(100);
  Exec("UPDATE ACTransLog SET LogDate='2026-01-01 09:00:00'");
  const std::string posted = Sql("SELECT group_concat(TransactionDate||' '||Description) FROM ACTransaction");
  ledger_.UpdateTransLog(account(), "", "", number, Date::FromCivil(2026, 4, 2), "Rent April", "102", "2 Main St",
                         Currency::FromUnits(120));
  EXPECT_EQ(Sql("SELECT TransactionDate||'|'||Description||'|'||ChequeNo||'|'||Address||'|'||Amount||'|'||"
                "TransLogStatus||'|'||LogDate||'|'||UserName||'|'||TransType FROM ACTransLog"),
            "2026-04-02 00:00:00|Rent April|102|2 Main St|1200000|1|2026-01-01 09:00:00|alice|0");
  EXPECT_EQ(Sql("SELECT group_concat(TransactionDate||' '||Description) FROM ACTransaction"), posted);

  const std::string before = Everything();
  ledger_.UpdateTransLog(account(), "", "", "1042", kMarch31, "x", "x", "x", Currency());
  ledger_.UpdateTransLog(account(), "", "", kQuoted, kMarch31, "x", "x", "x", Currency());
  EXPECT_EQ(Everything(), before);
}

TEST_F(TransactionLog, WaitingLinesCanBeReadChangedAndDeletedInAnyStatus) {
  const std::string number = Begin(ttCHQ);  // line 1: credit of 100 to the bank
  Debit(number, kExpense, 100, "rent");
  const auto line = ledger_.GetTransLogWIP(account(), "", "", 1);
  EXPECT_EQ(ToText(line->Value("AccountID")) + " " + ToText(line->Value("IsDebit")) + " " +
                ToText(line->Value("Amount")) + " " + ToText(line->Value("Description")),
            "1 False 100 memo");
  ledger_.UpdateTransLogWIP(account(), "", "", 1, kExpense, "moved", Currency::FromUnits(90));
  EXPECT_EQ(Lines(number), "2:C90 moved;2:D100 rent");

  const std::string before = Everything();
  EXPECT_EQ(CaptureError([&] { ledger_.DeleteTransLogWIP(account(), "", "", "1 OR 1=1"); }).number(), kTypeMismatch);
  ledger_.DeleteTransLogWIP(account(), "", "", 42);
  ledger_.UpdateTransLogWIP(account(), "", "", 42, kBank, "x", Currency());
  EXPECT_EQ(Everything(), before);
  const Error missing = CaptureError([&] { ledger_.GetTransLogWIP(account(), "", "", 42); });
  EXPECT_EQ(missing.number(), kInvalidArgument);
  EXPECT_EQ(missing.description(), Marked("No ACTransLogWIP has the key 42.", kInvalidArgument));

  ledger_.DeleteTransLogWIP(account(), "", "", 1);
  EXPECT_EQ(Lines(number), "2:D100 rent");
  ledger_.EndTransaction(account(), number);
  const Variant waiting = Credit(number, kBank, 10, "late");
  ledger_.UpdateTransLogWIP(account(), "", "", waiting, kBank, "later", Currency::FromUnits(12));
  EXPECT_EQ(Lines(number), "1:C12 later");
  ledger_.DeleteTransLogWIP(account(), "", "", waiting);
  EXPECT_EQ(Lines(number), "");
}

TEST_F(TransactionLog, RegisterRowsOfATransactionComeByAccountKey) {
  Cheque(100);
  for (int i = 3; i <= 9; ++i) AddAccount(std::to_string(1000 + i), "Account " + std::to_string(i), asset_type_);
  const std::string number = Begin(ttGENJRNL);
  Debit(number, 9, 50);
  Credit(number, 3, 20);
  Credit(number, 5, 30);
  EXPECT_EQ(ledger_.GetTransactionsByTransNum(account(), "", "", number)->Count(), 0);
  ledger_.EndTransaction(account(), number);
  const auto rows = ledger_.GetTransactionsByTransNum(account(), "", "", number);
  EXPECT_EQ(Column(rows, "AccountID"), "3,5,9");
  EXPECT_EQ(Column(rows, "Withdrawal") + " " + Column(rows, "Deposit"), "0,0,50 20,30,0");
  EXPECT_EQ(ledger_.GetTransactionsByTransNum(account(), "", "", kQuoted)->Count(), 0);
}

}  // namespace
}  // namespace ledgerkit
