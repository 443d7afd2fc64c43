// User profiles: lookup, listing, adding, changing and deleting users of a company file.
#include <gtest/gtest.h>

#include <string>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/security/CSecurityMgr.h"
#include "ledgerkit/security/CUserManager.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Occurrences;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

constexpr const char* kInjection = "x' OR '1'='1";

std::string Marked(const std::string& text, int32_t number) {
  return text + "\r\n" + std::string(kErrorMarker) + std::to_string(number);
}

// A user written directly, password in clear.
void InsertUser(const TempCompany& company, int id, int parent, const std::string& name, const std::string& last_name,
                int allow_logon = 1, const std::string& reports_to = "NULL", int main_user = 0) {
  const std::string sql = "INSERT INTO IUser (IUserID,Parent,UserName,Password,LastName,AllowLogon,ReportsToID,MainUser) "
                          "VALUES (" + std::to_string(id) + "," + std::to_string(parent) + ",'" + name + "','pw','" +
                          last_name + "'," + std::to_string(allow_logon) + "," + reports_to + "," +
                          std::to_string(main_user) + ");";
  ASSERT_EQ(RawExec(company.path(), sql), "") << sql;
}

void InsertSecondCompany(const TempCompany& company) {
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ISubScriber (ISubScriberID,CompanyName) VALUES (2,'Other Co');"), "");
}

std::string UserCount(const TempCompany& company) { return RawScalar(company.path(), "SELECT COUNT(*) FROM IUser"); }

std::string Column(const TempCompany& company, const std::string& column, int user_id) {
  return RawScalar(company.path(), "SELECT " + column + " FROM IUser WHERE IUserID=" + std::to_string(user_id));
}

// The key of the user named exactly `name` (binary comparison), as text.
std::string IdOf(const TempCompany& company, const std::string& name) {
  return RawScalar(company.path(), "SELECT IUserID FROM IUser WHERE UserName='" + name + "' COLLATE BINARY");
}

void Add(CUserManager& users, const TempCompany& company, const Variant& caller, const Variant& name,
         const Variant& password, const Variant& reports_to) {
  users.AddUserProfile(company.account(), caller, "token", name, password, "Fay", "Fields", "Q", reports_to, false,
                       "fay@example.com", true);
}

void Update(CUserManager& users, const TempCompany& company, const Variant& user_id, const Variant& reports_to) {
  users.UpdateUserProfile(company.account(), "alice", "token", user_id, "Alicia", "Ames", "B", true, reports_to,
                          "alicia@example.com", false);
}

std::string ProfileName(CUserManager& users, const TempCompany& company, const Variant& name) {
  const auto user = users.GetUserProfile(company.account(), "alice", "token", "elsewhere.ldb", name);
  return user == nullptr ? "(none)" : ToText(user->Value("UserName"));
}

std::string ListedNames(CUserManager& users, const TempCompany& company, const Variant& caller) {
  std::string names;
  const auto listed = users.GetSubscriberUserProfiles(company.account(), caller, "token");
  for (const auto& [key, item] : listed->entries()) {
    if (!names.empty()) names += ',';
    names += ToText(std::static_pointer_cast<IUser>(item)->Value("UserName"));
  }
  return names;
}

TEST(UserManager, UserNamesAreUniquePerCompanyWithoutRegardToLetterCase) {
  TempCompany company;
  CUserManager users;
  InsertUser(company, 1, 1, "alice", "Adams");
  EXPECT_EQ(ProfileName(users, company, "alice"), "alice");
  EXPECT_EQ(ProfileName(users, company, "ALICE"), "alice");
  EXPECT_EQ(ProfileName(users, company, "nobody"), "(none)");

  const Error error = CaptureError([&] { Add(users, company, "ALICE", "Alice", "secret", ""); });
  EXPECT_EQ(error.number(), errCUserManager::eUserNameExists);
  EXPECT_EQ(error.number(), -2147221502);
  EXPECT_EQ(error.description(), Marked("That username is already being used.  Please try another.", -2147221502));
  EXPECT_EQ(UserCount(company), "1");

  // Another company of the same file may have the name; the new user belongs to the caller's company.
  InsertSecondCompany(company);
  InsertUser(company, 2, 2, "bob", "Baker");
  Add(users, company, "bob", "Alice", "secret", 12);
  const std::string added = IdOf(company, "Alice");
  ASSERT_NE(added, "");
  const int id = std::stoi(added);
  EXPECT_EQ(Column(company, "Parent", id), "2");
  EXPECT_EQ(Column(company, "ReportsToID", id), "12");
  EXPECT_EQ(Column(company, "MainUser", id), "0");
  EXPECT_EQ(UserCount(company), "3");
}

TEST(UserManager, AddedUserKeepsItsProfileAndOnlyAHashOfItsPassword) {
  TempCompany company;
  CUserManager users;
  InsertUser(company, 1, 1, "alice", "Adams");

  const Error too_long = CaptureError([&] { Add(users, company, "alice", "fay", std::string(31, 'p'), ""); });
  EXPECT_EQ(too_long.number(), kInvalidArgument);
  EXPECT_EQ(too_long.description(), Marked("The text for Password has 31 characters; at most 30 fit.", 5));
  const Error bad_superior = CaptureError([&] { Add(users, company, "alice", "fay", "secret", "boss"); });
  EXPECT_EQ(bad_superior.number(), kTypeMismatch);
  const Error unknown_caller = CaptureError([&] { Add(users, company, "mallory", "fay", "secret", ""); });
  EXPECT_EQ(unknown_caller.number(), kObjectIsNothing);
  EXPECT_EQ(Occurrences(unknown_caller.description(), kErrorMarker), 1) << unknown_caller.description();
  EXPECT_EQ(UserCount(company), "1");

  Add(users, company, "alice", "fay", "s3cret pass", "");
  const int id = std::stoi(IdOf(company, "fay"));
  EXPECT_EQ(RawScalar(company.path(), "SELECT Parent||'|'||FirstName||'|'||LastName||'|'||MiddleInitial||'|'||Admin||'|'||"
                                      "MainUser||'|'||IFNULL(ReportsToID,'NULL')||'|'||EMail||'|'||AllowLogon "
                                      "FROM IUser WHERE IUserID=" + std::to_string(id)),
            "1|Fay|Fields|Q|0|0|NULL|fay@example.com|1");
  const std::string stored = Column(company, "Password", id);
  EXPECT_TRUE(stored.starts_with("$argon2id$")) << stored;
  EXPECT_EQ(stored.find("s3cret"), std::string::npos) << stored;

  CSecurityMgr security;
  EXPECT_FALSE(security.BeginUserSession(company.account(), "fay", "s3cret pass").empty());
  EXPECT_EQ(CaptureError([&] { security.BeginUserSession(company.account(), "fay", "s3cret"); }).number(),
            errCSecurityMgr::eInvalidUserInfo);
}

TEST(UserManager, CallerValuesNeverBecomeSql) {
  TempCompany company;
  CUserManager users;
  InsertUser(company, 1, 1, "alice", "Adams");
  EXPECT_EQ(ProfileName(users, company, kInjection), "(none)");

  // Stored literally: had the name reached the duplicate check as SQL, it would have matched alice.
  Add(users, company, "alice", kInjection, "pw", 0);
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM IUser WHERE UserName='x'' OR ''1''=''1' AND Parent=1"), "1");
  EXPECT_EQ(ProfileName(users, company, kInjection), kInjection);
  EXPECT_EQ(Column(company, "ReportsToID", std::stoi(IdOf(company, "x'' OR ''1''=''1"))), "NULL");

  EXPECT_EQ(CaptureError([&] { users.DeleteUserProfile(company.account(), "alice", "token", "1 OR 1=1"); }).number(),
            kTypeMismatch);
  EXPECT_EQ(CaptureError([&] { Update(users, company, "1 OR 1=1", ""); }).number(), kTypeMismatch);
  EXPECT_EQ(UserCount(company), "2");
  EXPECT_EQ(RawScalar(company.path(), "SELECT group_concat(LastName) FROM IUser"), "Adams,Fields");
}

TEST(UserManager, UpdateChangesTheProfileButNeverNameOrPassword) {
  TempCompany company;
  CUserManager users;
  InsertUser(company, 1, 1, "alice", "Adams", 1, "NULL", 1);
  InsertUser(company, 2, 1, "bob", "Baker");

  Update(users, company, 1, 12);
  const std::string all = "UserName||'|'||Password||'|'||Parent||'|'||MainUser||'|'||FirstName||'|'||LastName||'|'||"
                          "MiddleInitial||'|'||Admin||'|'||IFNULL(ReportsToID,'NULL')||'|'||EMail||'|'||AllowLogon";
  EXPECT_EQ(Column(company, all, 1), "alice|pw|1|1|Alicia|Ames|B|1|12|alicia@example.com|0");
  Update(users, company, "1", "");
  EXPECT_EQ(Column(company, "IFNULL(ReportsToID,'NULL')", 1), "NULL");
  Update(users, company, 1, 12);
  Update(users, company, 1, "0");
  EXPECT_EQ(Column(company, "IFNULL(ReportsToID,'NULL')", 1), "NULL");
  EXPECT_EQ(CaptureError([&] { Update(users, company, 1, "boss"); }).number(), kTypeMismatch);
  EXPECT_EQ(Column(company, "IFNULL(ReportsToID,'NULL')", 1), "NULL");
  EXPECT_EQ(Column(company, "UserName||'|'||LastName||'|'||IFNULL(FirstName,'')", 2), "bob|Baker|");
}

TEST(UserManager, UserOthersReportToCannotBeDeleted) {
  TempCompany company;
  CUserManager users;
  InsertUser(company, 1, 1, "boss", "Boss", 1, "NULL", 1);
  InsertUser(company, 2, 1, "zed", "Zane", 1, "1");
  InsertUser(company, 3, 1, "amy", "Archer", 1, "1");
  // A row written by other means, with no name: named by its key, not an error of its own.
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO IUser (IUserID, Parent, UserName, ReportsToID) VALUES (4, 1, NULL, 1);"), "");

  const Error error = CaptureError([&] { users.DeleteUserProfile(company.account(), "boss", "token", 1); });
  EXPECT_EQ(error.number(), errCUserManager::eUserIsReferenced);
  EXPECT_EQ(error.number(), -2147221501);
  EXPECT_EQ(error.description(),
            Marked("This user cannot be deleted because it is referenced by the following:\r\n\r\n"
                   "User Manager::zed\r\nUser Manager::amy\r\n"
                   "User Manager::(the user with key 4, who has no name)\r\n\r\n\r\n"
                   "Please remove these references before deleting the user.",
                   -2147221501));
  EXPECT_EQ(UserCount(company), "4");
  ASSERT_EQ(RawExec(company.path(), "DELETE FROM IUser WHERE IUserID=4;"), "");

  users.DeleteUserProfile(company.account(), "boss", "token", 99);
  EXPECT_EQ(UserCount(company), "3");
  users.DeleteUserProfile(company.account(), "boss", "token", 2);
  users.DeleteUserProfile(company.account(), "boss", "token", "3");
  EXPECT_EQ(RawScalar(company.path(), "SELECT group_concat(UserName) FROM IUser"), "boss");
  users.DeleteUserProfile(company.account(), "boss", "token", 1);
  EXPECT_EQ(UserCount(company), "0");
}

TEST(UserManager, CompanyListHoldsTheLogonUsersOfTheCallersCompanyByLastName) {
  TempCompany company;
  CUserManager users;
  InsertSecondCompany(company);
  InsertUser(company, 1, 1, "carl", "Zane");
  InsertUser(company, 2, 1, "alice", "Adams");
  InsertUser(company, 3, 1, "bert", "Brown", 0);
  InsertUser(company, 4, 1, "dora", "Baker");
  InsertUser(company, 5, 2, "eve", "Aaron");
  EXPECT_EQ(ListedNames(users, company, "alice"), "alice,dora,carl");
  EXPECT_EQ(ListedNames(users, company, "BERT"), "alice,dora,carl");
  EXPECT_EQ(ListedNames(users, company, "eve"), "eve");
  EXPECT_EQ(CaptureError([&] { ListedNames(users, company, "mallory"); }).number(), kObjectIsNothing);
  EXPECT_EQ(CaptureError([&] { ListedNames(users, company, kInjection); }).number(), kObjectIsNothing);
}

}  // namespace
}  // namespace ledgerkit
