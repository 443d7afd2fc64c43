// The company record: business details, primary location, document counters and the handing
// out of transaction numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/subscriber/CAccountMgr.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Occurrences;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

std::string Marked(const std::string& text, int32_t number) {
  return text + "\r\n" + std::string(kErrorMarker) + std::to_string(number);
}

std::string Counter(const TempCompany& company) {
  return RawScalar(company.path(), "SELECT NextTransactionNumber FROM ISubScriber ORDER BY ISubScriberID");
}

std::string DocumentCounters(const TempCompany& company) {
  return RawScalar(company.path(),
                   "SELECT NextInvoiceNumber||','||NextExpenseReportNumber||','||NextClientAccountNumber||','||"
                   "NextTransactionNumber FROM ISubScriber");
}

std::string CompanyName(const TempCompany& company) {
  return RawScalar(company.path(), "SELECT CompanyName FROM ISubScriber");
}

// The primary location's columns, joined with '|'.
std::string PrimaryLocation(const TempCompany& company) {
  return RawScalar(company.path(),
                   "SELECT Name||'|'||IFNULL(Address1,'')||'|'||IFNULL(Address2,'')||'|'||IFNULL(Address3,'')||'|'||"
                   "IFNULL(City,'')||'|'||IFNULL(Province,'')||'|'||IFNULL(PostalCode,'')||'|'||IFNULL(Country,'')||'|'||"
                   "IFNULL(Telephone,'')||'|'||IFNULL(Fax,'')||'|'||IFNULL(Notes,'')||'|'||IsPrimary "
                   "FROM ISubscriberLocation WHERE ISubscriberLocationID=1");
}

// The number handed out, with its type: "Long 41", "Null".
std::string NextNumber(CAccountMgr& manager, const TempCompany& company) {
  const Variant number = manager.GetNextTransactionNumber(company.account(), "alice", "token");
  return number.IsNull() ? "Null" : std::string(VarTypeName(number.type())) + " " + ToText(number);
}

void UpdateBusinessInfo(CAccountMgr& manager, const TempCompany& company, const std::string& name,
                        const std::string& postal_code) {
  manager.UpdateAccountBusinessInfo(company.account(), name, "1 Main St", "Suite 2", "Floor 3", "Springfield", "ON",
                                    postal_code, "Canada", "555-0100", "555-0101");
}

TEST(AccountMgr, TransactionNumbersCountUpFromTheStoredCounter) {
  TempCompany company;
  CAccountMgr manager;
  ASSERT_EQ(RawExec(company.path(), "UPDATE ISubScriber SET NextTransactionNumber=41;"), "");
  EXPECT_EQ(NextNumber(manager, company), "Long 41");
  EXPECT_EQ(NextNumber(manager, company), "Long 42");
  EXPECT_EQ(Counter(company), "43");
  EXPECT_EQ(ToLong(manager.GetAccountInfo(company.account())->Value("NextTransactionNumber")), 43);

  ASSERT_EQ(RawExec(company.path(), "UPDATE ISubScriber SET NextTransactionNumber=NULL;"), "");
  EXPECT_EQ(NextNumber(manager, company), "Null");
  EXPECT_EQ(Counter(company), "NULL");
}

TEST(AccountMgr, OverlappingCallersNeverShareANumber) {
  TempCompany company;
  constexpr int kThreads = 4;
  constexpr int kCalls = 10;
  std::vector<std::vector<int32_t>> taken(kThreads);
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CAccountMgr manager;
      try {
        for (int i = 0; i < kCalls; ++i) taken[t].push_back(ToLong(manager.GetNextTransactionNumber(company.account(), "alice", "token")));
      } catch (const Error& error) {
        failures[t] = error.description();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<int32_t> all;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(failures[t], "") << "thread " << t;
    all.insert(all.end(), taken[t].begin(), taken[t].end());
  }
  std::sort(all.begin(), all.end());
  std::vector<int32_t> expected(kThreads * kCalls);
  std::iota(expected.begin(), expected.end(), 1);
  EXPECT_EQ(all, expected);
  EXPECT_EQ(Counter(company), std::to_string(1 + kThreads * kCalls));
}

TEST(AccountMgr, FileWithoutACompanyRecordHandsOutNoNumber) {
  TempCompany company;
  CAccountMgr manager;
  ASSERT_EQ(RawExec(company.path(), "DELETE FROM ISubScriber;"), "");
  EXPECT_EQ(manager.GetAccountInfo(company.account()), nullptr);
  Error error = CaptureError([&] { NextNumber(manager, company); });
  EXPECT_EQ(error.number(), kObjectIsNothing);
  EXPECT_EQ(Occurrences(error.description(), kErrorMarker), 1) << error.description();
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM ISubScriber"), "0");

  // A row keyed 0 is not the company, and its counter is left alone.
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ISubScriber (ISubScriberID,CompanyName,NextTransactionNumber) "
                                    "VALUES (0,'Template',7);"),
            "");
  EXPECT_EQ(manager.GetAccountInfo(company.account()), nullptr);
  error = CaptureError([&] { NextNumber(manager, company); });
  EXPECT_EQ(error.number(), kObjectIsNothing);
  EXPECT_EQ(Counter(company), "7");
}

TEST(AccountMgr, NumberTakenInsideAFailedOperationStaysTaken) {
  TempCompany company;
  CAccountMgr manager;
  std::vector<std::string> taken;
  const Error error = CaptureError([&] {
    UnitOfWork::Run(company.account(), Access::kWrite, [&] {
      taken.push_back(NextNumber(manager, company));
      manager.UpdateNextNumbers(company.account(), "alice", "token", 9, 9, 9);
      taken.push_back(NextNumber(manager, company));
      throw Error::Runtime(kInvalidArgument, "the posting that needed the numbers fails");
    });
  });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_EQ(taken, (std::vector<std::string>{"Long 1", "Long 2"}));
  // The other change of the operation is undone; the two numbers stay consumed.
  EXPECT_EQ(DocumentCounters(company), "1,1,1,3");

  // A nested step that fails inside an operation that carries on keeps its number too.
  UnitOfWork::Run(company.account(), Access::kWrite, [&] {
    CaptureError([&] {
      UnitOfWork::Run(company.account(), Access::kWrite, [&] {
        taken.push_back(NextNumber(manager, company));
        throw Error::Runtime(kInvalidArgument, "the nested posting fails");
      });
    });
    taken.push_back(NextNumber(manager, company));
  });
  EXPECT_EQ(taken, (std::vector<std::string>{"Long 1", "Long 2", "Long 3", "Long 4"}));
  EXPECT_EQ(Counter(company), "5");
}

TEST(AccountMgr, BusinessInfoChangesNameAndAddressTogetherOrNotAtAll) {
  TempCompany company("Acme Trading");
  CAccountMgr manager;
  ASSERT_EQ(RawExec(company.path(), "UPDATE ISubscriberLocation SET Notes='back door' WHERE ISubscriberLocationID=1;"), "");
  const std::string location_name = RawScalar(company.path(), "SELECT Name FROM ISubscriberLocation WHERE IsPrimary=1");

  UpdateBusinessInfo(manager, company, "Acme Holdings", "K1A 0B1");
  EXPECT_EQ(CompanyName(company), "Acme Holdings");
  const std::string updated = location_name +
                              "|1 Main St|Suite 2|Floor 3|Springfield|ON|K1A 0B1|Canada|555-0100|555-0101|back door|1";
  EXPECT_EQ(PrimaryLocation(company), updated);

  const Error error = CaptureError([&] { UpdateBusinessInfo(manager, company, "Renamed Ltd", "K1A 0B1 999"); });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_EQ(error.description(), Marked("The text for PostalCode has 11 characters; at most 10 fit.", 5));
  EXPECT_EQ(CompanyName(company), "Acme Holdings");
  EXPECT_EQ(PrimaryLocation(company), updated);

  // Without a primary location only the name changes.
  ASSERT_EQ(RawExec(company.path(), "UPDATE ISubscriberLocation SET IsPrimary=0;"), "");
  manager.UpdateAccountBusinessInfo(company.account(), "Solo Ltd", "elsewhere", "", "", "", "", "", "", "", "");
  EXPECT_EQ(CompanyName(company), "Solo Ltd");
  EXPECT_EQ(RawScalar(company.path(), "SELECT Address1 FROM ISubscriberLocation"), "1 Main St");
}

TEST(AccountMgr, BusinessInfoNamesTheFaxAsItsArgumentAndStoresNullAsNull) {
  TempCompany company;
  CAccountMgr manager;
  const std::string before = PrimaryLocation(company);
  const Error error = CaptureError([&] {
    manager.UpdateAccountBusinessInfo(company.account(), "Renamed Ltd", "", "", "", "", "", "", "", "",
                                      std::string(29, '5'));
  });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_EQ(error.description(), Marked("The text for FAX has 29 characters; at most 28 fit.", 5));
  EXPECT_EQ(CompanyName(company), "Acme Trading");
  EXPECT_EQ(PrimaryLocation(company), before);

  manager.UpdateAccountBusinessInfo(company.account(), "Renamed Ltd", Variant::Null(), "", "", "", "", "", "", "",
                                    Variant::Null());
  EXPECT_EQ(RawScalar(company.path(), "SELECT (CASE WHEN Address1 IS NULL THEN 'T' ELSE 'F' END)||"
                                      "(CASE WHEN Address2='' THEN 'T' ELSE 'F' END)||"
                                      "(CASE WHEN Fax IS NULL THEN 'T' ELSE 'F' END) FROM ISubscriberLocation "
                                      "WHERE IsPrimary=1"),
            "TTT");
  manager.UpdateNextNumbers(company.account(), "alice", "token", Variant::Null(), 7, "8");
  EXPECT_EQ(RawScalar(company.path(), "SELECT IFNULL(NextInvoiceNumber,'NULL')||','||NextExpenseReportNumber||','||"
                                      "NextClientAccountNumber FROM ISubScriber"),
            "NULL,7,8");
}

TEST(AccountMgr, PrimaryLocationIgnoresForAccountAndFailsWhenNoneIsPrimary) {
  TempCompany company;
  CAccountMgr manager;
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ISubscriberLocation (ISubscriberLocationID,Parent,Name,IsPrimary) "
                                    "VALUES (2,1,'Depot',0);"),
            "");
  for (const Variant& for_account : {Variant(), Variant("other.ldb"), Variant(2), Variant::Null()}) {
    const auto location = manager.GetPrimaryLocation(company.account(), "alice", "token", for_account);
    ASSERT_NE(location, nullptr);
    EXPECT_EQ(location->Value("ISubscriberLocationID"), Variant(1));
  }

  ASSERT_EQ(RawExec(company.path(), "UPDATE ISubscriberLocation SET IsPrimary=0;"), "");
  const Error error = CaptureError([&] { manager.GetPrimaryLocation(company.account(), "alice", "token", Variant()); });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_EQ(Occurrences(error.description(), kErrorMarker), 1) << error.description();
}

TEST(AccountMgr, DocumentCountersAreStoredAsGiven) {
  TempCompany company;
  CAccountMgr manager;
  manager.UpdateNextNumbers(company.account(), "alice", "token", 120, 35, 7001);
  EXPECT_EQ(DocumentCounters(company), "120,35,7001,1");
  manager.UpdateNextNumbers(company.account(), "alice", "token", 0, 0, 0);
  EXPECT_EQ(DocumentCounters(company), "0,0,0,1");
  manager.UpdateNextNumbers(company.account(), "alice", "token", -4, "12", 3.0);
  EXPECT_EQ(DocumentCounters(company), "-4,12,3,1");
}

}  // namespace
}  // namespace ledgerkit
