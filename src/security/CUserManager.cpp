#include "security/CUserManager.h"

#include "common/Command.h"
#include "common/Convert.h"
#include "common/DataAccess.h"
#include "common/Error.h"
#include "common/ErrorNumbers.h"
#include "common/MemberTable.h"
#include "common/Operation.h"
#include "common/SqlText.h"
#include "entities/ColumnWidths.h"
#include "security/PasswordHash.h"

namespace ledgerkit {

const MemberTable& CUserManager::Members() const {
  static const MemberTable table{
      MethodMember<&CUserManager::GetUserProfile>("GetUserProfile"),
      MethodMember<&CUserManager::UpdateUserProfile>("UpdateUserProfile"),
      MethodMember<&CUserManager::DeleteUserProfile>("DeleteUserProfile"),
      MethodMember<&CUserManager::GetSubscriberUserProfiles>("GetSubscriberUserProfiles"),
      MethodMember<&CUserManager::AddUserProfile>("AddUserProfile"),
  };
  return table;
}

std::shared_ptr<IUser> CUserManager::GetUserProfile(const Variant& Account, const Variant& /*UserName*/,
                                                    const Variant& /*Token*/, const Variant& /*ProfileAccount*/,
                                                    const Variant& ProfileUserName) {
  return RunOperation(Account, Access::kRead, [&] {
    const auto users = Fetch<IUser>(Account, FetchArgs{.filter = "UserName=" + QuoteSqlText(ProfileUserName)});
    return FirstOf<IUser>(*users);
  });
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
    command.Append("p1", ParamType::kText, lenIUser::lenFirstName, FirstName, "FirstName");
    command.Append("p2", ParamType::kText, lenIUser::lenLastName, LastName, "LastName");
    command.Append("p3", ParamType::kText, lenIUser::lenMiddleInitial, Initial, "Initial");
    command.Append("p4", ParamType::kBoolean, 0, Admin, "Admin");
    command.Append("p5", ParamType::kLong, 0, reports_to, "ReportsToID");
    command.Append("p8", ParamType::kText, lenIUser::lenEMail, EMail, "EMail");
    command.Append("p13", ParamType::kBoolean, 0, AllowLogon, "AllowLogon");
    command.Append("p14", ParamType::kLong, 0, UserID, "UserID");
    command.Execute();
  });
}

void CUserManager::DeleteUserProfile(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                     const Variant& UserID) {
  RunOperation(Account, Access::kWrite, [&] {
    const std::string user_id = SqlInteger(UserID);
    const auto references =
        OpenRecordset(Account, "SELECT 'User Manager', IUser.UserName FROM IUser WHERE ReportsToID=" + user_id);
    if (references->RecordCount() > 0) {
      std::string list;
      for (; !references->AtEOF(); references->MoveNext()) {
        list += ToText(references->Field(0)) + "::" + ToText(references->Field(1)) + "\r\n";
      }
      throw Error::Library(errCUserManager::eUserIsReferenced, FormatMessage(messages::kUserIsReferenced, list));
    }
    Command command(Account);
    command.SetText("DELETE FROM IUser WHERE IUserID=?;");
    command.Append("p1", ParamType::kLong, 0, UserID, "UserID");
    command.Execute();
  });
}

Variant CUserManager::CallerSubscriberID(const Variant& Account, const Variant& UserName, const Variant& Token) {
  const std::shared_ptr<IUser> caller = GetUserProfile(Account, UserName, Token, Account, UserName);
  if (!caller) {
    throw Error::Runtime(kObjectIsNothing, "No user is named " + QuoteSqlText(UserName) + ", so the caller's company is unknown.");
  }
  return caller->Value("SubscriberID");
}

std::shared_ptr<EntityCollection> CUserManager::GetSubscriberUserProfiles(const Variant& Account, const Variant& UserName,
                                                                          const Variant& Token) {
  return RunOperation(Account, Access::kRead, [&] {
    const Variant subscriber_id = CallerSubscriberID(Account, UserName, Token);
    return Fetch<IUser>(Account, FetchArgs{.filter = "Parent=" + SqlInteger(subscriber_id) + " AND AllowLogon=1",
                                           .sort = "LastName"});
  });
}

void CUserManager::AddUserProfile(const Variant& Account, const Variant& UserName, const Variant& Token,
                                  const Variant& ProfileUserName, const Variant& Password, const Variant& FirstName,
                                  const Variant& LastName, const Variant& Initial, const Variant& ReportsToID,
                                  const Variant& Admin, const Variant& EMail, const Variant& AllowLogon) {
  RunOperation(Account, Access::kWrite, [&] {
    const Variant reports_to = OptionalKey(ReportsToID);
    const std::string password = ClearPassword(Password, "Password");
    const Variant subscriber_id = CallerSubscriberID(Account, UserName, Token);
    const auto same_name = Fetch<IUser>(
        Account, FetchArgs{.filter = "UserName=" + QuoteSqlText(ProfileUserName) + " AND Parent=" + SqlInteger(subscriber_id)});
    if (same_name->Count() > 0) {
      throw Error::Library(errCUserManager::eUserNameExists, FormatMessage(messages::kUserNameExists));
    }
    Command command(Account);
    command.SetText(
        "INSERT INTO IUser (Parent,UserName,Password,FirstName,LastName,MiddleInitial,MainUser,ReportsToID,Admin,"
        "EMail,AllowLogon) VALUES (?,?,?,?,?,?,0,?,?,?,?);");
    command.Append("p1", ParamType::kLong, 0, subscriber_id, "SubscriberID");
    command.Append("p2", ParamType::kText, lenIUser::lenUserName, ProfileUserName, "ProfileUserName");
    command.Append("p3", ParamType::kText, 255, HashPassword(password), "Password");
    command.Append("p4", ParamType::kText, lenIUser::lenFirstName, FirstName, "FirstName");
    command.Append("p5", ParamType::kText, lenIUser::lenLastName, LastName, "LastName");
    command.Append("p6", ParamType::kText, lenIUser::lenMiddleInitial, Initial, "Initial");
    command.Append("p7", ParamType::kLong, 0, reports_to, "ReportsToID");
    command.Append("p8", ParamType::kBoolean, 0, Admin, "Admin");
    command.Append("p11", ParamType::kText, lenIUser::lenEMail, EMail, "EMail");
    command.Append("p16", ParamType::kBoolean, 0, AllowLogon, "AllowLogon");
    command.Execute();
  });
}

}  // namespace ledgerkit
