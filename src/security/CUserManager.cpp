#include "security/CUserManager.h"

#include <cmath>
#include <vector>

#include "common/Command.h"
#include "common/Convert.h"
#include "common/Error.h"
#include "common/ErrorNumbers.h"
#include "common/MemberTable.h"
#include "services/Users.h"
#include "common/Operation.h"
#include "common/Text.h"
#include "common/Text.h"
#include "common/UserNames.h"
#include "entities/ColumnWidths.h"
#include "entities/EntityInternal.h"
#include "security/PasswordHash.h"

namespace ledgerkit {

namespace {

Parameter LongValue(std::string name, const Variant& value) {
  return Parameter{std::move(name), FieldType::kLong, 0, value, {}};
}

}  // namespace

const MemberTable& CUserManager::Members() const {
  static const MemberTable table{
      MethodMember<&CUserManager::GetUserProfile>(
          "GetUserProfile", {"Account", "UserName", "Token", "ProfileAccount", "ProfileUserName"}),
      MethodMember<&CUserManager::UpdateUserProfile>(
          "UpdateUserProfile", {"Account", "UserName", "Token", "UserID", "FirstName", "LastName", "Initial", "Admin",
                                "ReportsToID", "EMail", "AllowLogon"}),
      MethodMember<&CUserManager::DeleteUserProfile>("DeleteUserProfile", {"Account", "UserName", "Token", "UserID"}),
      MethodMember<&CUserManager::GetSubscriberUserProfiles, IUser>("GetSubscriberUserProfiles",
                                                                    {"Account", "UserName", "Token"}),
      MethodMember<&CUserManager::AddUserProfile>(
          "AddUserProfile", {"Account", "UserName", "Token", "ProfileUserName", "Password", "FirstName", "LastName",
                             "Initial", "ReportsToID", "Admin", "EMail", "AllowLogon"}),
  };
  return table;
}

std::shared_ptr<IUser> CUserManager::GetUserProfile(const Variant& Account, const Variant& /*UserName*/,
                                                    const Variant& /*Token*/, const Variant& /*ProfileAccount*/,
                                                    const Variant& ProfileUserName) {
  return RunOperation(Account, Access::kRead, [&] { return services::UserProfile(Account, ProfileUserName); });
}

void CUserManager::UpdateUserProfile(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                     const Variant& UserID, const Variant& FirstName, const Variant& LastName,
                                     const Variant& Initial, const Variant& Admin, const Variant& ReportsToID,
                                     const Variant& EMail, const Variant& AllowLogon) {
  RunOperation(Account, Access::kWrite, [&] {
    const Variant reports_to = OptionalKey(ReportsToID);
    Command command(Account);
    command.SetText(
        "UPDATE IUser SET FirstName=?,LastName=?,MiddleInitial=?,Admin=?,ReportsToID=?,EMail=?,AllowLogon=? "
        "WHERE IUserID=?;");
    command.Append("p1", FieldType::kText, lenIUser::lenFirstName, FirstName, "FirstName");
    command.Append("p2", FieldType::kText, lenIUser::lenLastName, LastName, "LastName");
    command.Append("p3", FieldType::kText, lenIUser::lenMiddleInitial, Initial, "Initial");
    command.Append("p4", FieldType::kBoolean, 0, Admin, "Admin");
    command.Append("p5", FieldType::kLong, 0, reports_to, "ReportsToID");
    command.Append("p8", FieldType::kText, lenIUser::lenEMail, EMail, "EMail");
    command.Append("p13", FieldType::kBoolean, 0, AllowLogon, "AllowLogon");
    command.Append("p14", FieldType::kKey, 0, UserID, "UserID");
    command.Execute();
  });
}

void CUserManager::DeleteUserProfile(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                     const Variant& UserID) {
  RunOperation(Account, Access::kWrite, [&] {
    const Variant user_id = ToKey(UserID);
    Command command(Account);
    command.SetText("SELECT 'User Manager', IUser.UserName FROM IUser WHERE ReportsToID=?;");
    command.Append(LongValue("p1", user_id));
    const auto references = command.ExecuteQuery();
    if (references->RecordCount() > 0) {
      std::string list;
      for (; !references->AtEOF(); references->MoveNext()) {
        list += ToText(references->Field(0)) + "::" + ToText(references->Field(1)) + "\r\n";
      }
      throw Error::Library(errCUserManager::eUserIsReferenced, FormatMessage(messages::kUserIsReferenced, list));
    }
    command.SetText("DELETE FROM IUser WHERE IUserID=?;");
    command.Execute();
  });
}

Variant CUserManager::CallerSubscriberID(const Variant& Account, const Variant& UserName, const Variant& /*Token*/) {
  const std::shared_ptr<IUser> caller = services::UserProfile(Account, UserName);
  if (!caller) {
    throw Error::Runtime(kObjectIsNothing,
                         "No user is named " + QuoteForMessage(UserNameText(UserName)) + ", so the caller's company is unknown.");
  }
  return caller->Value("SubscriberID");
}

std::shared_ptr<EntityCollection> CUserManager::GetSubscriberUserProfiles(const Variant& Account, const Variant& UserName,
                                                                          const Variant& Token) {
  return RunOperation(Account, Access::kRead, [&] {
    const Variant subscriber_id = CallerSubscriberID(Account, UserName, Token);
    return Fetch<IUser>(Account, FetchArgs{.filter = "Parent=? AND AllowLogon=1",
                                           .sort = "LastName",
                                           .bind = {LongValue("Parent", subscriber_id)}});
  });
}

void CUserManager::AddUserProfile(const Variant& Account, const Variant& UserName, const Variant& Token,
                                  const Variant& ProfileUserName, const Variant& Password, const Variant& FirstName,
                                  const Variant& LastName, const Variant& Initial, const Variant& ReportsToID,
                                  const Variant& Admin, const Variant& EMail, const Variant& AllowLogon) {
  RunOperation(Account, Access::kWrite, [&] {
    const Variant reports_to = OptionalKey(ReportsToID);
    const Variant subscriber_id = CallerSubscriberID(Account, UserName, Token);
    const std::string name = ToText(ProfileUserName);
    // A name that cannot be one is refused as such, whether or not a look-alike exists.
    RequireUserName(name, "ProfileUserName");
    std::vector<Parameter> same_name_values = UserNameFilterValues(name);
    same_name_values.insert(same_name_values.begin(), LongValue("Parent", subscriber_id));
    const auto same_name = Fetch<IUser>(
        Account, FetchArgs{.filter = "Parent=? AND " + std::string(kUserNameFilter), .bind = std::move(same_name_values)});
    if (same_name->Count() > 0) {
      throw Error::Library(errCUserManager::eUserNameExists, FormatMessage(messages::kUserNameExists));
    }
    RequireFitsWidth(name, lenIUser::lenUserName, "ProfileUserName");
    const std::string password = ClearPassword(Password, "Password");
    Command command(Account);
    command.SetText(
        "INSERT INTO IUser (Parent,UserName,Password,FirstName,LastName,MiddleInitial,MainUser,ReportsToID,Admin,"
        "EMail,AllowLogon,UserKey) VALUES (?,?,?,?,?,?,0,?,?,?,?,?);");
    command.Append("p1", FieldType::kLong, 0, subscriber_id, "SubscriberID");
    command.Append("p2", FieldType::kText, lenIUser::lenUserName, name, "ProfileUserName");
    command.Append("p3", FieldType::kText, 255, HashPassword(password), "Password");
    command.Append("p4", FieldType::kText, lenIUser::lenFirstName, FirstName, "FirstName");
    command.Append("p5", FieldType::kText, lenIUser::lenLastName, LastName, "LastName");
    command.Append("p6", FieldType::kText, lenIUser::lenMiddleInitial, Initial, "Initial");
    command.Append("p7", FieldType::kLong, 0, reports_to, "ReportsToID");
    command.Append("p8", FieldType::kBoolean, 0, Admin, "Admin");
    command.Append("p11", FieldType::kText, lenIUser::lenEMail, EMail, "EMail");
    command.Append("p16", FieldType::kBoolean, 0, AllowLogon, "AllowLogon");
    command.Append("p17", FieldType::kText, 0, UserNameKey(name), "UserKey");
    command.Execute();
  });
}

}  // namespace ledgerkit
