// The user and session services the managers share: they run inside the caller's unit of work,
// and a logon or a session check runs only the statements its work needs.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "ledgerkit/common/Convert.h"
#include "common/Engine.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/security/CSecurityMgr.h"
#include "ledgerkit/security/CUserManager.h"
#include "services/Sessions.h"
#include "services/Users.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

void InsertUser(const TempCompany& company, int id, int parent, const std::string& name, const std::string& password) {
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO IUser (IUserID,Parent,UserName,Password,LastName,AllowLogon) VALUES (" +
                                        std::to_string(id) + "," + std::to_string(parent) + ",'" + name + "','" +
                                        password + "','Last',1);"),
            "");
}

std::string Users(const TempCompany& company) {
  return RawScalar(company.path(),
                   "SELECT IFNULL(group_concat(UserName||'/'||Parent||'/'||IFNULL(FirstName,'-')||'/'||"
                   "IFNULL(ReportsToID,'-')||'/'||IFNULL(UserKey,'NULL')),'') FROM (SELECT * FROM IUser ORDER BY IUserID)");
}

// Statements the engine starts while `body` runs.
template <class Body>
uint64_t StatementsOf(Body&& body) {
  const uint64_t before = EngineStatementsRun();
  body();
  return EngineStatementsRun() - before;
}

TEST(SecurityServices, LogonAndSessionCheckRunOnlyTheStatementsOfTheirWork) {
  TempCompany company;
  CSecurityMgr security;
  InsertUser(company, 1, 1, "alice", "pw");
  // The company's writing connection made (its schema read and set up) before anything is counted.
  UnitOfWork::Run(company.account(), Access::kWrite, [] {});
  // The first logon also stores the imported clear password as a hash: one statement more.
  const uint64_t first = StatementsOf([&] { security.BeginUserSession(company.account(), "alice", "pw"); });
  std::string token;
  const uint64_t logon = StatementsOf([&] { token = security.BeginUserSession(company.account(), "ALICE", "pw"); });
  EXPECT_EQ(first, logon + 1);
  // The password is checked in a read unit (begin, the candidates, end); the write unit (and the
  // company lock) then looks again at the matched row, removes the earlier session, adds the new one.
  // Going from reading to writing and back, the connection moves its temporaries.
  const uint64_t switches = testing::TemporariesSwitchStatements();
  EXPECT_EQ(logon, 8u + 2 * switches + testing::CompanyLockStatements());
  EXPECT_EQ(StatementsOf([&] { token = security.BeginUserSession(company.account(), "alice", "pw"); }), logon);
  // A failed logon reads the candidates only, and never takes the company's write lock.
  EXPECT_EQ(StatementsOf([&] { CaptureError([&] { security.BeginUserSession(company.account(), "alice", "no"); }); }),
            3u + switches);

  const uint64_t check = StatementsOf([&] { security.GetSysSession(company.account(), token); });
  EXPECT_EQ(check, 3u);
  EXPECT_EQ(StatementsOf([&] { CaptureError([&] { security.GetSysSession(company.account(), "nothing"); }); }), check);
}

TEST(SecurityServices, UserAndSessionServicesWriteInsideTheCallersUnitOfWork) {
  TempCompany company;
  InsertUser(company, 1, 1, "alice", "pw");
  const Variant account = company.account();
  const auto details = [](const char* first_name, std::optional<int32_t> reports_to) {
    services::UserDetails values;
    values.first_name = first_name;
    values.last_name = "Fields";
    values.reports_to = reports_to;
    values.allow_logon = true;
    return values;
  };

  // A unit that fails after the services wrote leaves nothing of theirs behind.
  EXPECT_THROW(UnitOfWork::Run(account, Access::kWrite,
                               [&] {
                                 services::AddUser(account, 1, "Fay", "secret", details("Fay", std::nullopt));
                                 services::StartSession(account, "alice");
                                 throw std::runtime_error("the operation fails later");
                               }),
               std::runtime_error);
  EXPECT_EQ(Users(company), "alice/1/-/-/NULL");
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM SysSessions"), "0");

  const int32_t fay = UnitOfWork::Run(account, Access::kWrite, [&] {
    EXPECT_EQ(services::CallerCompanyKey(account, "ALICE"), 1);
    EXPECT_FALSE(services::CompanyHasUserNamed(account, 1, "fay"));
    const int32_t key = services::AddUser(account, 1, "Fay", "secret", details("Fay", 1));
    // Seen at once by the same unit, in its matching form, in its own company only.
    EXPECT_TRUE(services::CompanyHasUserNamed(account, 1, "FAY"));
    EXPECT_FALSE(services::CompanyHasUserNamed(account, 2, "fay"));
    EXPECT_EQ(ToText(services::UserByKey(account, key)->Value("UserName")), "Fay");
    EXPECT_EQ(services::UserByKey(account, key + 1), nullptr);
    EXPECT_EQ(services::UsersReportingTo(account, 1), std::vector<std::string>{"Fay"});
    EXPECT_EQ(services::MatchPassword(account, "fay", "secret", true).size(), 1u);
    EXPECT_TRUE(services::MatchPassword(account, "fay", "Secret", true).empty());
    return key;
  });
  EXPECT_EQ(Users(company), "alice/1/-/-/NULL,Fay/1/Fay/1/fay");

  UnitOfWork::Run(account, Access::kWrite, [&] {
    services::UpdateUser(account, fay, details("Faye", std::nullopt));
    const std::string token = services::StartSession(account, "FAY");
    EXPECT_EQ(ToText(services::SessionByToken(account, token)->Value("UserName")), "FAY");
    EXPECT_EQ(services::SessionByToken(account, ""), nullptr);
    services::EndSessions(account, "fay");
    EXPECT_EQ(services::SessionByToken(account, token), nullptr);
  });
  EXPECT_EQ(Users(company), "alice/1/-/-/NULL,Fay/1/Faye/-/fay");

  UnitOfWork::Run(account, Access::kWrite, [&] { services::DeleteUser(account, fay); });
  EXPECT_EQ(Users(company), "alice/1/-/-/NULL");
  EXPECT_EQ(CaptureError([&] {
              UnitOfWork::Run(account, Access::kRead, [&] { return services::CallerCompanyKey(account, "fay"); });
            }).number(),
            kObjectIsNothing);
}

TEST(SecurityServices, ValueTooLongIsNamedAsTheCallerPassedIt) {
  TempCompany company;
  CUserManager users;
  InsertUser(company, 1, 1, "alice", "pw");
  const Variant account = company.account();
  const auto add = [&](const Variant& initial, const Variant& email) {
    return CaptureError([&] {
      users.AddUserProfile(account, "alice", "token", "fay", "pw", "Fay", "Fields", initial, "", false, email, true);
    });
  };
  const auto update = [&](const Variant& initial, const Variant& email) {
    return CaptureError([&] {
      users.UpdateUserProfile(account, "alice", "token", 1, "Al", "Adams", initial, false, "", email, true);
    });
  };
  for (const Error& error : {add("ABC", "a@b"), update("ABC", "a@b")}) {
    EXPECT_EQ(error.number(), kInvalidArgument);
    EXPECT_NE(error.description().find("The text for Initial has 3 characters; at most 2 fit."), std::string::npos)
        << error.description();
  }
  for (const Error& error : {add("A", std::string(256, 'e')), update("A", std::string(256, 'e'))}) {
    EXPECT_EQ(error.number(), kInvalidArgument);
    EXPECT_NE(error.description().find("The text for EMail has 256 characters"), std::string::npos)
        << error.description();
  }
  EXPECT_EQ(Users(company), "alice/1/-/-/NULL");
}

}  // namespace
}  // namespace ledgerkit
