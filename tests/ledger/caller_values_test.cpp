// Caller values on their way into the ledger's statements: keys are whole numbers or a type
// mismatch (never a rounded neighbour), text filters select what the text selects, every
// argument is converted inside its operation, a ledger read of a file that cannot be opened
// fails inside its fetch's diagnostic block, and looking up ever new values does not make the
// process grow (the values are bound, so the statement texts stay the same).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/DataAccess.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/entities/ACAccount.h"
#include "ledgerkit/entities/ACTransLogWIP.h"
#include "ledgerkit/entities/Entity.h"
#include "entities/EntityInternal.h"
#include "ledger/LedgerFixture.h"
#include "support/Capture.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Column;
using testing::DumpTables;
using testing::Marked;
using testing::Occurrences;


// The diagnostic block `label` puts in front of a description.
std::string Block(std::string_view label, const Error& error) {
  return std::string(label) + "\r\nError#:      " + std::to_string(error.number()) + "\r\nSource:      " + error.source() +
         "\r\nDescription: ";
}

// The number and description of a failed call, or "ok".
template <class Call>
std::string Outcome(Call&& call) {
  try {
    call();
    return "ok";
  } catch (const Error& error) {
    return std::to_string(error.number()) + ": " + error.description();
  }
}

class CallerValues : public testing::LedgerFixture {
 protected:
  // The name of the account with the key, or the failure.
  std::string Name(const Variant& key) {
    std::string name;
    const std::string outcome = Outcome([&] { name = ToText(ledger_.GetAccount(account(), "", "", key)->Value("Name")); });
    return outcome == "ok" ? name : outcome;
  }
  std::string Accounts() { return Column(ledger_.GetAllAccounts(account(), "", ""), "ACAccountID"); }
  int32_t LinesOf(const Variant& number) {
    return ledger_.GetTransactionsByTransNum(account(), "", "", number)->Count();
  }
};

TEST_F(CallerValues, KeysAreWholeNumbersInAnyFormAndNeverARoundedNeighbour) {
  // Any form of the whole number 2 names account 2.
  for (const Variant& two : {Variant(2), Variant::Integer(2), Variant(2.0), Variant("2"), Variant(" 2 "),
                             Variant("2.000"), Variant("2e0"), Variant(Currency::FromUnits(2))}) {
    EXPECT_EQ(Name(two), "Rent") << ToText(two);
  }
  EXPECT_EQ(Name(1.5), Marked("13: Type mismatch: 1.5 is not a whole number, so it cannot be a key.", kTypeMismatch));
  EXPECT_EQ(Name("2.4"),
            Marked("13: Type mismatch: the text \"2.4\" is not a whole number, so it cannot be a key.", kTypeMismatch));
  EXPECT_EQ(Name(Currency::FromScaled(15000)),
            Marked("13: Type mismatch: 1.5 is not a whole number, so it cannot be a key.", kTypeMismatch));
  EXPECT_EQ(Name("1 OR 1=1"), Marked("13: Type mismatch: the text \"1 OR 1=1\" cannot become a key.", kTypeMismatch));
  EXPECT_EQ(Name(true), Marked("13: Type mismatch: a Boolean value cannot become a key.", kTypeMismatch));
  EXPECT_EQ(Name(Date::FromCivil(2026, 1, 2)).substr(0, 3), "13:");
  EXPECT_EQ(Name(Variant::Null()).substr(0, 3), "94:");
  EXPECT_EQ(Name(2147483648.0).substr(0, 2), "6:");
  EXPECT_EQ(Name(3), Marked("5: No ACAccount has the key 3.", kInvalidArgument));

  // A child of account 1 and the lists by parent key.
  const int32_t petty = AddAccount("1010", "Petty cash", asset_type_, "1");
  EXPECT_EQ(Column(ledger_.GetSubAccounts(account(), "", "", 1.0), "ACAccountID"), std::to_string(petty));
  EXPECT_EQ(CaptureError([&] { ledger_.GetSubAccounts(account(), "", "", 0.5); }).number(), kTypeMismatch);
  // The entity fetch converts its ID the same way.
  EXPECT_EQ(Column(Fetch<ACAccount>(account(), FetchArgs{.id = "1"}), "Name"), "Bank");
  EXPECT_EQ(CaptureError([&] { Fetch<ACAccount>(account(), FetchArgs{.id = 1.5}); }).number(), kTypeMismatch);

  // Writes by a fractional key change nothing, not the row next to it.
  const std::string number = Begin(ttGENJRNL);
  const Variant line = Debit(number, kExpense, 40);
  const std::string before = DumpTables(path());
  EXPECT_EQ(CaptureError([&] { ledger_.DeleteAccount(account(), "", "", 1.5); }).number(), kTypeMismatch);
  EXPECT_EQ(CaptureError([&] { ledger_.DeleteTransLogWIP(account(), "", "", ToLong(line) + 0.5); }).number(),
            kTypeMismatch);
  EXPECT_EQ(CaptureError([&] {
              ledger_.UpdateTransLogWIP(account(), "", "", line, 1.5, "moved", Currency::FromUnits(1));
            }).number(),
            kTypeMismatch);
  EXPECT_EQ(CaptureError([&] {
              ledger_.UpdateAccount(account(), "", "", "2.5", "5000", "Renamed", "", "", false, "", 0, 0, expense_type_);
            }).number(),
            kTypeMismatch);
  EXPECT_EQ(CaptureError([&] {
              ledger_.AddAccount(account(), "alice", "", "9", "Child", "", "", false, "", 1.5, asset_type_, 0);
            }).number(),
            kTypeMismatch);
  EXPECT_EQ(CaptureError([&] {
              ledger_.AddAccount(account(), "alice", "", "9", "Typed", "", "", false, "", 0, asset_type_ + 0.5, 0);
            }).number(),
            kTypeMismatch);
  EXPECT_EQ(CaptureError([&] { ledger_.AddInvoiceItem(account(), "", "", 1.5, 0, "A", "B", 1, 1, "ea", kExpense); })
                .number(),
            kTypeMismatch);
  EXPECT_EQ(DumpTables(path()), before);
  // The whole-number forms still write.
  ledger_.DeleteTransLogWIP(account(), "", "", ToText(line));
  EXPECT_EQ(Lines(number), "");
}

TEST_F(CallerValues, TextFiltersSelectWhatTheTextSelectsAndNullSelectsAsAnEmptyText) {
  const std::string number = Cheque(100);
  EXPECT_EQ(LinesOf(number), 2);
  EXPECT_EQ(LinesOf(ToLong(number)), 2);  // a number is compared as its text
  EXPECT_EQ(LinesOf(" " + number), 0);    // but text is not trimmed
  EXPECT_EQ(LinesOf(number + "' OR '1'='1"), 0);
  EXPECT_EQ(LinesOf(std::string(300, '9')), 0);  // longer than the column: matches nothing, refuses nothing
  EXPECT_EQ(LinesOf(""), 0);
  EXPECT_EQ(LinesOf(Variant::Null()), 0);
  Exec("INSERT INTO ACTransaction (Parent,TransactionDate,TransactionNumber) VALUES (2,'2026-01-01 00:00:00','')");
  EXPECT_EQ(LinesOf(""), 1);
  EXPECT_EQ(LinesOf(Variant::Null()), 1);

  EXPECT_EQ(ToLong(ledger_.GetTransLog(account(), "", "", ToLong(number))->Value("TransLogStatus")), tlsCOMMITTED);
  EXPECT_EQ(Outcome([&] { ledger_.GetTransLog(account(), "", "", Variant::Null()); }),
            Marked("5: No ledger transaction has the number Null.", kInvalidArgument));
  EXPECT_EQ(Outcome([&] { ledger_.GetInvoiceByTrans(account(), "", "", Variant::Null()); }),
            Marked("5: No invoice has the transaction number Null.", kInvalidArgument));
  EXPECT_EQ(Outcome([&] { ledger_.GetInvoiceByTrans(account(), "", "", "1' OR '1'='1"); }),
            Marked("5: No invoice has the transaction number 1' OR '1'='1.", kInvalidArgument));

  Variant invoice_no = "A-1";
  const Variant invoice = ledger_.InsertInvoice(account(), "alice", "", -1, "Order", kMarch31, invoice_no, "", "", "",
                                                Currency::FromUnits(5), kBank);
  const Variant transaction = ledger_.GetInvoice(account(), "", "", invoice)->Value("TransactionNumber");
  EXPECT_EQ(ledger_.GetInvoiceByTrans(account(), "", "", ToLong(transaction))->Value("ACInvoiceID"), invoice);
}

TEST_F(CallerValues, ArgumentsAreConvertedInsideTheOperationAndMarkedOnce) {
  const std::string number = Begin(ttGENJRNL);
  const Variant line = Debit(number, kExpense, 40, "rent");
  const std::string before = DumpTables(path());
  auto marked_once = [](const Error& error) {
    return Occurrences(error.description(), kErrorMarker) == 1 &&
           error.description().ends_with(std::string(kErrorMarker) + std::to_string(error.number()));
  };

  const Error amount = CaptureError([&] { ledger_.UpdateTransLogWIP(account(), "", "", line, kExpense, "x", "abc"); });
  EXPECT_EQ(amount.number(), kTypeMismatch);
  EXPECT_TRUE(marked_once(amount)) << amount.description();
  const Error null_amount =
      CaptureError([&] { ledger_.UpdateTransLogWIP(account(), "", "", line, kExpense, "x", Variant::Null()); });
  EXPECT_EQ(null_amount.number(), kInvalidUseOfNull);
  EXPECT_TRUE(marked_once(null_amount)) << null_amount.description();
  // A balance of no account is an error, never a Null balance.
  for (const Error& balance :
       {CaptureError([&] { ledger_.GetAccountBalance(account(), Variant::Null()); }),
        CaptureError([&] { ledger_.GetAccountBalanceForDate(account(), Variant::Null(), kMarch31); })}) {
    EXPECT_EQ(balance.number(), kInvalidUseOfNull);
    EXPECT_TRUE(marked_once(balance)) << balance.description();
  }
  const Error status = CaptureError([&] { ledger_.GetTransLogByStatus(account(), "alice", "", "abc"); });
  EXPECT_EQ(status.number(), kTypeMismatch);
  EXPECT_TRUE(marked_once(status)) << status.description();

  // An invoice's money and date are converted once, before its transaction is begun.
  Variant invoice_no = "";
  const Error total = CaptureError([&] {
    ledger_.InsertInvoice(account(), "alice", "", -1, "Order", kMarch31, invoice_no, "", "", "", "abc", kBank);
  });
  EXPECT_EQ(total.number(), kTypeMismatch);
  EXPECT_TRUE(marked_once(total)) << total.description();
  EXPECT_EQ(invoice_no, Variant(""));
  const Error date = CaptureError([&] {
    ledger_.UpdateInvoice(account(), "alice", "", 1, -1, "Order", "31 March", "7", "", "", "", 5, number, kBank);
  });
  EXPECT_EQ(date.number(), kTypeMismatch);
  EXPECT_TRUE(marked_once(date)) << date.description();
  EXPECT_EQ(DumpTables(path()), before);

  // Converted values reach the file as given.
  ledger_.UpdateTransLogWIP(account(), "", "", ToText(line), "1", "moved", "12.5");
  EXPECT_EQ(Lines(number), "1:D12.5 moved");
}

TEST_F(CallerValues, LedgerReadsOfAMissingFileFailInsideTheirFetchBlock) {
  const std::string missing = company_.MissingPath();
  // What the data layer reports for the file, marked once.
  const Error opened = CaptureError([&] { OpenRecordset(missing, "SELECT 1;"); });
  ASSERT_EQ(opened.number(), testing::ExpectedError(testing::EngineFailure::kCantOpen).number);

  const std::vector<std::pair<std::string, std::function<void()>>> reads = {
      {"ACAccount::FetchACAccount", [&] { ledger_.GetAllAccounts(missing, "", ""); }},
      {"ACAccount::FetchACAccount", [&] { ledger_.GetAccount(missing, "", "", 1); }},
      {"ACAccount::FetchACAccount", [&] { ledger_.GetSubAccounts(missing, "", "", 1); }},
      {"VantorINV::ACAccountType::FetchACAccountType", [&] { ledger_.GetAllAccountTypes(missing, "", ""); }},
      {"VantorINV::ACAccountType::FetchACAccountType", [&] { ledger_.GetAccountType(missing, "", "", 1); }},
      {"VantorINV::ACFnclInstitution::FetchACFnclInstitution", [&] { ledger_.GetAllFnclInstitutions(missing, "", ""); }},
      {"VantorINV::ACFnclInstitution::FetchACFnclInstitution", [&] { ledger_.GetFnclInstitution(missing, "", "", 1); }},
      {"VantorINV::ACTransLog::FetchACTransLog", [&] { ledger_.GetTransLog(missing, "", "", "1"); }},
      {"VantorINV::ACTransLogWIP::FetchACTransLogWIP", [&] { ledger_.GetTransLogWIP(missing, "", "", 1); }},
      {"VantorINV::ACTransaction::FetchACTransaction",
       [&] { ledger_.GetTransactionsByTransNum(missing, "", "", "1"); }},
  };
  for (const auto& [label, read] : reads) {
    const Error error = CaptureError(read);
    EXPECT_EQ(error.number(), opened.number()) << label;
    EXPECT_EQ(error.source(), testing::EngineSource()) << label;
    EXPECT_EQ(error.description(), Block(label, error) + opened.description()) << label;
  }
  // The invoicing classes mark their failures instead: no block.
  EXPECT_EQ(CaptureError([&] { ledger_.GetInvoice(missing, "", "", 1); }).description(), opened.description());
  EXPECT_EQ(CaptureError([&] { ledger_.GetInvoiceByTrans(missing, "", "", "1"); }).description(),
            opened.description());
  // A read of a file that opens keeps its own failures marked, without a block.
  EXPECT_EQ(Outcome([&] { ledger_.GetAccount(account(), "", "", 42); }),
            Marked("5: No ACAccount has the key 42.", kInvalidArgument));
}

// Resident memory of this process, in bytes.
int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0;
  int64_t resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

TEST_F(CallerValues, LookingUpEverNewValuesKeepsMemoryBounded) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps freed memory, so resident memory says nothing here";
#endif
  constexpr int kLookups = 100'000;
  constexpr int64_t kAllowedGrowth = 20 << 20;
  int64_t settled = 0;
  int found = 0;
  int missing = 0;
  for (int i = 0; i < kLookups; ++i) {
    if (i == 1'000) settled = ResidentBytes();
    const int32_t value = 1'000'000 + i;
    switch (i % 4) {
      case 0: found += ledger_.GetTransactionsByTransNum(account(), "", "", std::to_string(value))->Count(); break;
      case 1:
        try {
          ledger_.GetAccount(account(), "", "", value);
          ++found;
        } catch (const Error&) {
          ++missing;
        }
        break;
      case 2: found += ledger_.GetSubAccounts(account(), "", "", value)->Count(); break;
      case 3: found += Fetch<ACTransLogWIP>(account(), FetchArgs{.id = value})->Count(); break;
    }
  }
  EXPECT_EQ(found, 0);
  EXPECT_EQ(missing, kLookups / 4);
  const int64_t growth = ResidentBytes() - settled;
  EXPECT_LT(growth, kAllowedGrowth) << "resident memory grew by " << (growth >> 10) << " KiB";
}

}  // namespace
}  // namespace ledgerkit
