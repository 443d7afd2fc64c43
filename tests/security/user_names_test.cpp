// User names as people read them, failed logons that do not tell which names exist, and
// lookups whose values are bound rather than written into SQL.
#include <gtest/gtest.h>

#include <string>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/security/CSecurityMgr.h"
#include "ledgerkit/security/CUserManager.h"
#include "security/PasswordHash.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

const std::string kPrecomposed = "\xC3\x84" "dmin";          // Ä as one code point
const std::string kDecomposed = "A\xCC\x88" "dmin";          // A + combining diaeresis
const std::string kLowerPrecomposed = "\xC3\xA4" "dmin";     // ä
const std::string kFullWidth = "\xEF\xBD\x81\xEF\xBD\x84\xEF\xBD\x8D\xEF\xBD\x89\xEF\xBD\x8E";  // ａｄｍｉｎ
const std::string kZeroWidthSpace = "ad\xE2\x80\x8Bmin";

// The caller, written directly as imported data is: no matching form, password in clear.
void InsertCaller(const TempCompany& company) {
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO IUser (IUserID,Parent,UserName,Password,LastName,AllowLogon) "
                                    "VALUES (1,1,'alice','pw','Adams',1);"),
            "");
}

void Add(const TempCompany& company, const Variant& name, const Variant& password = "secret",
         const Variant& caller = "alice", const Variant& reports_to = "") {
  CUserManager().AddUserProfile(company.account(), caller, "token", name, password, "Fay", "Fields", "", reports_to,
                                false, "", true);
}

// "number: description" of the failure of `call`, without the error marker.
template <class Call>
std::string Failure(Call&& call) {
  const Error error = CaptureError(call);
  const std::string description = error.description();
  return std::to_string(error.number()) + ": " + description.substr(0, description.find("\r\n"));
}

std::string Profile(const TempCompany& company, const Variant& name) {
  const auto user = CUserManager().GetUserProfile(company.account(), "alice", "token", company.account(), name);
  return user == nullptr ? "(none)" : ToText(user->Value("UserName"));
}

std::string UserCount(const TempCompany& company) { return RawScalar(company.path(), "SELECT COUNT(*) FROM IUser"); }

const std::string kExists = std::to_string(errCUserManager::eUserNameExists) +
                            ": That username is already being used.  Please try another.";

TEST(UserNames, NamesThatPrintAlikeAreOneUserAndKeepTheSpellingGiven) {
  TempCompany company;
  InsertCaller(company);
  Add(company, kPrecomposed);
  Add(company, "admin", "plain");
  for (const std::string& variant : {kDecomposed, kLowerPrecomposed, std::string("\xC3\x84" "DMIN"), kFullWidth,
                                     std::string("ADMIN")}) {
    SCOPED_TRACE(variant);
    EXPECT_EQ(Failure([&] { Add(company, variant); }), kExists);
  }
  EXPECT_EQ(UserCount(company), "3");
  EXPECT_EQ(RawScalar(company.path(), "SELECT hex(UserName)||' '||UserKey FROM IUser WHERE IUserID>1 ORDER BY IUserID"),
            "C384646D696E \xC3\xA4" "dmin");
  EXPECT_EQ(Profile(company, kDecomposed), kPrecomposed);
  EXPECT_EQ(Profile(company, kFullWidth), "admin");

  // Logon by any spelling; the session is ended by any other, and other users' sessions stay.
  CSecurityMgr security;
  EXPECT_FALSE(security.BeginUserSession(company.account(), kFullWidth, "plain").empty());
  EXPECT_FALSE(security.BeginUserSession(company.account(), kDecomposed, "secret").empty());
  EXPECT_FALSE(security.BeginUserSession(company.account(), kLowerPrecomposed, "secret").empty());
  EXPECT_EQ(RawScalar(company.path(), "SELECT group_concat(UserKey) FROM (SELECT UserKey FROM SysSessions ORDER BY 1)"),
            "admin,\xC3\xA4" "dmin");
  // Each session carries the name as the user's row spells it ("Ädmin"), not as the logon
  // typed it, so the user's two logons are one session.
  EXPECT_EQ(RawScalar(company.path(), "SELECT group_concat(hex(UserName)) FROM (SELECT UserName FROM SysSessions "
                                      "ORDER BY SysSessionsID)"),
            "61646D696E,C384646D696E");
  security.EndUserSession(company.account(), "ADMIN");
  EXPECT_EQ(RawScalar(company.path(), "SELECT hex(UserName) FROM SysSessions"), "C384646D696E");

  // A row written without its matching form is still found by its stored spelling.
  EXPECT_EQ(Profile(company, "ALICE"), "alice");
  EXPECT_FALSE(security.BeginUserSession(company.account(), "Alice", "pw").empty());
  EXPECT_EQ(Failure([&] { Add(company, "ALICE"); }), kExists);
}

TEST(UserNames, NamesThatCannotBeReadAreRefusedSayingWhy) {
  TempCompany company;
  InsertCaller(company);
  Add(company, "admin");
  const std::string prefix = std::to_string(kInvalidArgument) + ": The user name given as ProfileUserName ";
  EXPECT_EQ(Failure([&] { Add(company, "admin "); }), prefix + "ends with a blank.");
  EXPECT_EQ(Failure([&] { Add(company, ""); }), prefix + "is empty.");
  EXPECT_EQ(Failure([&] { Add(company, "\xC2\xA0" "bob"); }), prefix + "begins with a blank.");
  EXPECT_EQ(Failure([&] { Add(company, "bo\tb"); }), prefix + "holds the control character U+0009.");
  EXPECT_EQ(Failure([&] { Add(company, std::string("bob\0", 4)); }), prefix + "holds the control character U+0000.");
  // Refused as unreadable even though its matching form is that of an existing user.
  EXPECT_EQ(Failure([&] { Add(company, kZeroWidthSpace); }), prefix + "holds the invisible character U+200B.");
  EXPECT_EQ(Failure([&] { Add(company, "bo\xE2\x80\x8E" "b"); }), prefix + "holds the invisible character U+200E.");
  EXPECT_EQ(Failure([&] { Add(company, "b\xFF" "b"); }), prefix + "is not valid UTF-8 text.");
  EXPECT_EQ(UserCount(company), "2");
  Add(company, "Bob Smith");
  EXPECT_EQ(Profile(company, "bob smith"), "Bob Smith");
}

TEST(UserNames, ANameAPersonWouldTakeForAnExistingOneIsRefusedNamingIt) {
  TempCompany company;
  InsertCaller(company);
  Add(company, "admin");
  Add(company, "Ivan");
  const auto taken_for = [](const std::string& given, const std::string& existing) {
    return std::to_string(kInvalidArgument) + ": The user name \"" + given +
           "\" given as ProfileUserName would be taken for the existing user \"" + existing +
           "\"; choose a name that reads differently.";
  };
  EXPECT_EQ(Failure([&] { Add(company, "\xD0\xB0" "dmin"); }), taken_for("\xD0\xB0" "dmin", "admin"));  // Cyrillic а
  EXPECT_EQ(Failure([&] { Add(company, "adm\xC4\xB1" "n"); }), taken_for("adm\xC4\xB1" "n", "admin"));  // dotless ı
  EXPECT_EQ(Failure([&] { Add(company, "\xD0\x86van"); }), taken_for("\xD0\x86van", "Ivan"));          // Cyrillic І
  EXPECT_EQ(UserCount(company), "3");
  Add(company, "adrian");
  EXPECT_EQ(UserCount(company), "4");
}

TEST(UserNames, AddingChecksCallerThenNameThenPassword) {
  TempCompany company;
  InsertCaller(company);
  Add(company, "admin");
  const std::string too_long = std::string(31, 'p');
  EXPECT_EQ(Failure([&] { Add(company, "ADMIN", too_long, "mallory"); }).substr(0, 3),
            std::to_string(kObjectIsNothing) + ":");
  EXPECT_EQ(Failure([&] { Add(company, "ADMIN", too_long); }), kExists);
  EXPECT_EQ(Failure([&] { Add(company, "newcomer", too_long); }),
            std::to_string(kInvalidArgument) + ": The text for Password has 31 characters; at most 30 fit.");
  EXPECT_EQ(UserCount(company), "2");
}

TEST(UserNames, FailedLogonsCheckOnePasswordWhetherOrNotTheNameExists) {
  TempCompany company;
  InsertCaller(company);
  Add(company, "known", "right");
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO IUser (IUserID,Parent,UserName,Password,AllowLogon) VALUES "
                                    "(10,1,'nopass',NULL,1),(11,1,'locked','right',0);"),
            "");
  CSecurityMgr security;
  auto verifications_of_failed_logon = [&](const std::string& name) {
    const uint64_t before = PasswordVerifications();
    EXPECT_EQ(CaptureError([&] { security.BeginUserSession(company.account(), name, "wrong"); }).number(),
              errCSecurityMgr::eInvalidUserInfo)
        << name;
    return PasswordVerifications() - before;
  };
  const uint64_t known = verifications_of_failed_logon("known");
  EXPECT_EQ(known, 1u);
  EXPECT_EQ(verifications_of_failed_logon("nobody"), known);
  EXPECT_EQ(verifications_of_failed_logon("alice"), known) << "a password stored in clear";
  EXPECT_EQ(verifications_of_failed_logon("nopass"), known) << "no password stored";
  EXPECT_EQ(verifications_of_failed_logon("locked"), known) << "not allowed to log on";

  const uint64_t before = PasswordVerifications();
  EXPECT_EQ(CaptureError([&] { security.ChangeUserPassword(company.account(), "nobody", "wrong", "new"); }).number(),
            errCSecurityMgr::eInvalidUserInfo);
  EXPECT_EQ(PasswordVerifications() - before, known);
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM SysSessions"), "0");
}

TEST(UserNames, NullFiltersSelectNothingAndKeysMustBeWholeNumbers) {
  TempCompany company;
  InsertCaller(company);
  CUserManager users;
  CSecurityMgr security;
  const Variant null = Variant::Null();
  const std::string token = security.BeginUserSession(company.account(), "alice", "pw");

  EXPECT_EQ(Profile(company, null), "(none)");
  EXPECT_EQ(CaptureError([&] { security.GetSysSession(company.account(), null); }).number(), kInvalidArgument);
  EXPECT_EQ(CaptureError([&] { security.BeginUserSession(company.account(), null, "pw"); }).number(),
            errCSecurityMgr::eInvalidUserInfo);
  EXPECT_EQ(CaptureError([&] { users.GetSubscriberUserProfiles(company.account(), null, "token"); }).number(),
            kObjectIsNothing);
  EXPECT_EQ(CACMgr().GetTransLogByStatus(company.account(), null, "token", 1)->Count(), 0);
  security.EndUserSession(company.account(), null);
  EXPECT_EQ(ToText(security.GetSysSession(company.account(), token)->Value("UserName")), "alice");

  Add(company, "fay");
  const std::string fay = RawScalar(company.path(), "SELECT IUserID FROM IUser WHERE UserName='fay'");
  ASSERT_EQ(fay, "2");
  auto update = [&](const Variant& user_id, const Variant& reports_to) {
    users.UpdateUserProfile(company.account(), "alice", "token", user_id, "Changed", "Name", "", false, reports_to, "",
                            true);
  };
  // Rounding would have named user 2 (or, for 0.4, no superior at all).
  for (const Variant& key : {Variant(1.5), Variant("2.4"), Variant(CurrencyFromText("2.5"))}) {
    SCOPED_TRACE(ToText(key));
    EXPECT_EQ(CaptureError([&] { update(key, ""); }).number(), kTypeMismatch);
    EXPECT_EQ(CaptureError([&] { update(1, key); }).number(), kTypeMismatch);
    EXPECT_EQ(CaptureError([&] { users.DeleteUserProfile(company.account(), "alice", "token", key); }).number(),
              kTypeMismatch);
    EXPECT_EQ(CaptureError([&] { Add(company, "gus", "pw", "alice", key); }).number(), kTypeMismatch);
  }
  EXPECT_EQ(CaptureError([&] { update(1, 0.4); }).number(), kTypeMismatch);
  EXPECT_EQ(RawScalar(company.path(), "SELECT group_concat(UserName||'/'||IFNULL(FirstName,'-')) FROM IUser"),
            "alice/-,fay/Fay");
  update("2", 1.0);
  EXPECT_EQ(RawScalar(company.path(), "SELECT FirstName||'/'||ReportsToID FROM IUser WHERE IUserID=2"), "Changed/1");
}

}  // namespace
}  // namespace ledgerkit
