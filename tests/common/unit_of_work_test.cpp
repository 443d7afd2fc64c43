// Atomic operations: one connection and one transaction per outermost call.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/DataAccess.h"
#include "common/UnitOfWork.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::RawScalar;
using testing::TempCompany;

void InsertAccount(const Variant& account, const std::string& name) {
  Command command(account);
  command.SetText(Sql("INSERT INTO ACAccount (Parent,Name) VALUES (1,", kValue, ");"));
  command.Append("p1", FieldType::kText, 128, name, "Name");
  command.Execute();
}

std::string AccountNames(const TempCompany& company) {
  return RawScalar(company.path(), "SELECT COALESCE(group_concat(Name, ','), '') FROM (SELECT Name FROM ACAccount ORDER BY ACAccountID)");
}

int32_t NextTransactionNumber(const Variant& account) {
  return ToLong(OpenRecordset(account, "SELECT NextTransactionNumber FROM ISubScriber")->Field(0));
}

TEST(UnitOfWork, FailedOperationLeavesTheFileAsItWas) {
  TempCompany company;
  const Error error = CaptureError([&] {
    UnitOfWork::Run(company.account(), Access::kWrite, [&] {
      InsertAccount(company.account(), "Bank");
      UnitOfWork::Run(company.account(), Access::kWrite, [&] {
        InsertAccount(company.account(), "Payables");
        InsertAccount(company.account(), std::string(200, 'x'));  // too long: refused at binding
      });
    });
  });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_EQ(AccountNames(company), "");
}

TEST(UnitOfWork, NestedFailureUndoesOnlyItsOwnStatementsWhenTheOuterCarriesOn) {
  TempCompany company;
  UnitOfWork::Run(company.account(), Access::kWrite, [&] {
    InsertAccount(company.account(), "Bank");
    const Error inner = CaptureError([&] {
      UnitOfWork::Run(company.account(), Access::kWrite, [&] {
        InsertAccount(company.account(), "Half-done");
        throw Error::Runtime(kInvalidArgument, "the nested step fails");
      });
    });
    EXPECT_EQ(inner.number(), kInvalidArgument);
    InsertAccount(company.account(), "Equity");
  });
  EXPECT_EQ(AccountNames(company), "Bank,Equity");
}

TEST(UnitOfWork, NestedReadSeesTheOuterUncommittedRowsOthersDoNot) {
  TempCompany company;
  UnitOfWork::Run(company.account(), Access::kWrite, [&] {
    InsertAccount(company.account(), "Bank");
    // A fetch inside the operation joins it (even under another spelling of the path)...
    // (A company on a server has only the one spelling of its URI.)
    const std::string other_spelling =
        testing::OnPostgres() ? company.path() : (company.folder() / "." / "company.ldb").string();
    auto inside = UnitOfWork::Run(other_spelling, Access::kRead, [&] {
      return OpenRecordset(other_spelling, "SELECT Name FROM ACAccount");
    });
    ASSERT_EQ(inside->RecordCount(), 1);
    EXPECT_EQ(ToText(inside->Field(0)), "Bank");
    // ...while another connection sees only what is committed.
    EXPECT_EQ(AccountNames(company), "");
  });
  EXPECT_EQ(AccountNames(company), "Bank");
}

TEST(UnitOfWork, KeptActionsSurviveEveryRollback) {
  TempCompany company;
  // A number handed out inside a failed operation stays consumed.
  auto hand_out_number = [&] {
    UnitOfWork* unit = UnitOfWork::Active(company.account());
    ASSERT_NE(unit, nullptr);
    const int32_t number = NextTransactionNumber(company.account());
    Command command(company.account());
    command.SetText(Sql("UPDATE ISubScriber SET NextTransactionNumber=", kValue, ";"));
    command.Append("p1", FieldType::kLong, 0, number + 1);
    command.Execute();
    unit->KeepAfterRollback([number](EngineConnection& connection) {
      const std::string next = std::to_string(number + 1);
      connection.ExecuteControl("UPDATE ISubScriber SET NextTransactionNumber=" + next +
                                " WHERE NextTransactionNumber<" + next + ";");
    });
  };
  CaptureError([&] {
    UnitOfWork::Run(company.account(), Access::kWrite, [&] {
      hand_out_number();
      InsertAccount(company.account(), "Lost");
      throw Error::Runtime(kInvalidArgument, "later step fails");
    });
  });
  EXPECT_EQ(NextTransactionNumber(company.account()), 2);
  EXPECT_EQ(AccountNames(company), "");

  // Kept inside a nested unit that fails, then the outer fails too: still consumed, once each.
  CaptureError([&] {
    UnitOfWork::Run(company.account(), Access::kWrite, [&] {
      CaptureError([&] {
        UnitOfWork::Run(company.account(), Access::kWrite, [&] {
          hand_out_number();
          throw Error::Runtime(kInvalidArgument, "nested step fails");
        });
      });
      EXPECT_EQ(NextTransactionNumber(company.account()), 3);  // replayed after the savepoint rollback
      hand_out_number();
      throw Error::Runtime(kInvalidArgument, "outer step fails");
    });
  });
  EXPECT_EQ(NextTransactionNumber(company.account()), 4);
}

TEST(UnitOfWork, WritersInThreadsNeverLoseAnUpdate) {
  TempCompany company;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kPerThread; ++i) {
        // Read, then write: only the write lock taken at the start keeps this safe.
        UnitOfWork::Run(company.account(), Access::kWrite, [&] {
          const int32_t number = NextTransactionNumber(company.account());
          Command command(company.account());
          command.SetText(Sql("UPDATE ISubScriber SET NextTransactionNumber=", kValue, ";"));
          command.Append("p1", FieldType::kLong, 0, number + 1);
          command.Execute();
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(NextTransactionNumber(company.account()), 1 + kThreads * kPerThread);

  // Once a writer has its connection, its units open no file: the writers' lock file stays open
  // with the connection.
  const auto open_descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{});
  };
  const auto write_once = [&] { UnitOfWork::Run(company.account(), Access::kWrite, [&] { InsertAccount(company.account(), "kept"); }); };
  write_once();
  const auto before = open_descriptors();
  for (int i = 0; i < 20; ++i) write_once();
  EXPECT_EQ(open_descriptors(), before);
}

TEST(UnitOfWork, MissingFileFailsAndIsNotCreated) {
  TempCompany company;
  const std::string missing = company.MissingPath();
  bool ran = false;
  const Error error = CaptureError([&] { UnitOfWork::Run(missing, Access::kWrite, [&] { ran = true; }); });
  EXPECT_EQ(error.number(), testing::ExpectedError(testing::EngineFailure::kCantOpen).number);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(UnitOfWork::Active(missing), nullptr);
}

}  // namespace
}  // namespace ledgerkit
