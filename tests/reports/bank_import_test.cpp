// A bank statement recorded through the library, on either engine: lines without ids of their
// own (a CSV statement's), counter-accounts named by rules, the all-or-nothing refusal and the
// dry run.
#include <gtest/gtest.h>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledger/LedgerFixture.h"
#include "reports/BankStatement.h"
#include "support/Capture.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;

class BankImport : public testing::LedgerFixture {
 protected:
  StatementLine Line(int64_t position, int day, int64_t cents, const std::string& description,
                     const std::string& account = "") const {
    StatementLine line;
    line.position = position;
    line.date = Date::FromCivil(2026, 4, day);
    line.amount = Currency::FromScaled(cents * 100);
    line.description = description;
    line.account = account;
    return line;
  }
  BankImportResult Import(const Statement& statement, bool dry_run = false) const {
    BankImportOptions options;
    options.bank_account = "1000";
    options.dry_run = dry_run;
    return ImportBankStatement(account(), statement, options);
  }
};

TEST_F(BankImport, LinesWithoutIdsAreKnownByWhatTheyHoldAndWhereTheyStand) {
  Statement april;
  april.lines = {Line(2, 3, -1250, "Coffee"), Line(3, 3, -1250, "Coffee"), Line(4, 7, 50000, "Sale", "5000 Rent"),
                 Line(5, 9, -999, "Fee", "rent")};
  // The dry run reads the same and writes nothing.
  const std::string before = testing::DumpTables(path());
  const BankImportResult dry = Import(april, true);
  EXPECT_EQ(dry.recorded, 4);
  EXPECT_TRUE(dry.unmatched_created);
  EXPECT_EQ(dry.balance_after.ToText(), "465.01");
  EXPECT_EQ(testing::DumpTables(path()), before);

  const BankImportResult done = Import(april);
  EXPECT_EQ(done.recorded, 4);
  // Two equal lines are two, each with an id of its own; rules name accounts by number or name.
  EXPECT_NE(done.lines[0].id, done.lines[1].id);
  EXPECT_EQ(done.lines[0].counter_name, "9999 Uncategorised");
  EXPECT_EQ(done.lines[2].counter_account, kExpense);
  EXPECT_EQ(done.lines[3].counter_account, kExpense);
  EXPECT_EQ(done.balance_after.ToText(), "465.01");
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM ACStatementLine WHERE AccountID=1"), "4");

  // The statement read again, one more coffee the same day: only that one is new.
  april.lines.insert(april.lines.begin() + 2, Line(4, 3, -1250, "Coffee"));
  const BankImportResult again = Import(april);
  EXPECT_EQ(again.recorded, 1);
  EXPECT_EQ(again.skipped, 4);
  EXPECT_FALSE(again.lines[2].already_imported);
  EXPECT_EQ(ToText(CACMgr().GetAccountBalance(account(), kBank)), "452.51");
}

TEST_F(BankImport, OneBadLineRecordsNothing) {
  Statement april;
  april.lines = {Line(2, 3, -1250, "Coffee", "5000"), Line(3, 4, -500, "Parking", "Travel")};
  const std::string before = testing::DumpTables(path());
  const Error refused = CaptureError([&] { Import(april); });
  EXPECT_EQ(refused.number(), kInvalidArgument);
  EXPECT_NE(refused.description().find("Statement line 3: the chart has no account \"Travel\""), std::string::npos)
      << refused.description();
  EXPECT_EQ(testing::DumpTables(path()), before);
}

}  // namespace
}  // namespace ledgerkit
