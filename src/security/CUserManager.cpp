#include "ledgerkit/security/CUserManager.h"

#include <string>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/common/MemberTable.h"
#include "common/Operation.h"
#include "common/Text.h"
#include "security/UserNames.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "security/PasswordHash.h"
#include "services/Arguments.h"
#include "services/Sessions.h"
#include "services/Users.h"

namespace ledgerkit {

namespace {

// The profile details a caller passes, converted in the order they are stored, each text
// checked against its column's width. `reports_to` has been through OptionalKey already: it is
// converted first of all the arguments.
services::UserDetails DetailsArgument(const Variant& first_name, const Variant& last_name, const Variant& initial,
                                      const Variant& admin, const Variant& reports_to, const Variant& email,
                                      const Variant& allow_logon) {
  using U = db::IUser;
  services::UserDetails details;
  details.first_name = services::TextArgument(first_name, U::FirstName);
  details.last_name = services::TextArgument(last_name, U::LastName);
  details.middle_initial = services::TextArgument(initial, U::MiddleInitial, "Initial");
  details.admin = services::BooleanArgument(admin);
  if (!reports_to.IsNull()) details.reports_to = ToKey(reports_to);
  details.email = services::TextArgument(email, U::EMail);
  details.allow_logon = services::BooleanArgument(allow_logon);
  return details;
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

namespace {

// Removes the sessions of user `user_id`, when there is such a user.
void EndSessionsOf(const Variant& account, int32_t user_id) {
  if (const std::shared_ptr<IUser> user = services::UserByKey(account, user_id)) {
    services::EndSessions(account, ToText(FieldValue(*user, db::IUser::UserName)));
  }
}

}  // namespace

void CUserManager::UpdateUserProfile(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                     const Variant& UserID, const Variant& FirstName, const Variant& LastName,
                                     const Variant& Initial, const Variant& Admin, const Variant& ReportsToID,
                                     const Variant& EMail, const Variant& AllowLogon) {
  RunOperation(Account, Access::kWrite, [&] {
    const Variant reports_to = OptionalKey(ReportsToID);  // empty or 0: reports to no one
    const services::UserDetails details =
        DetailsArgument(FirstName, LastName, Initial, Admin, reports_to, EMail, AllowLogon);
    const int32_t user_id = ToKey(UserID);
    services::UpdateUser(Account, user_id, details);
    // A user who may no longer log on keeps no session either.
    if (details.allow_logon == false) EndSessionsOf(Account, user_id);
  });
}

void CUserManager::DeleteUserProfile(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                     const Variant& UserID) {
  RunOperation(Account, Access::kWrite, [&] {
    const int32_t user_id = ToKey(UserID);
    const std::vector<std::string> reporting = services::UsersReportingTo(Account, user_id);
    if (!reporting.empty()) {
      std::string list;
      for (const std::string& name : reporting) list += "User Manager::" + name + "\r\n";
      throw Error::Library(errCUserManager::eUserIsReferenced, FormatMessage(messages::kUserIsReferenced, list));
    }
    EndSessionsOf(Account, user_id);
    services::DeleteUser(Account, user_id);
  });
}

std::shared_ptr<EntityCollection> CUserManager::GetSubscriberUserProfiles(const Variant& Account, const Variant& UserName,
                                                                          const Variant& /*Token*/) {
  return RunOperation(Account, Access::kRead, [&] {
    return services::LogonUsersOf(Account, services::CallerCompanyKey(Account, UserNameText(UserName)));
  });
}

void CUserManager::AddUserProfile(const Variant& Account, const Variant& UserName, const Variant& /*Token*/,
                                  const Variant& ProfileUserName, const Variant& Password, const Variant& FirstName,
                                  const Variant& LastName, const Variant& Initial, const Variant& ReportsToID,
                                  const Variant& Admin, const Variant& EMail, const Variant& AllowLogon) {
  RunOperation(Account, Access::kWrite, [&] {
    const Variant reports_to = OptionalKey(ReportsToID);  // empty or 0: reports to no one
    const std::optional<int32_t> company = services::CallerCompanyKey(Account, UserNameText(UserName));
    const std::string name = ToText(ProfileUserName);
    // A name that cannot be one is refused as such, whether or not a look-alike exists.
    RequireUserName(name, "ProfileUserName");
    if (services::CompanyHasUserNamed(Account, company, name)) {
      throw Error::Library(errCUserManager::eUserNameExists, FormatMessage(messages::kUserNameExists));
    }
    if (const auto existing = services::CompanyUserConfusableWith(Account, company, name)) {
      throw Error::Runtime(kInvalidArgument, "The user name " + QuoteForMessage(name) +
                                                 " given as ProfileUserName would be taken for the existing user " +
                                                 QuoteForMessage(*existing) + "; choose a name that reads differently.");
    }
    RequireFitsWidth(name, static_cast<size_t>(db::IUser::UserName.width), "ProfileUserName");
    const std::string password = ClearPassword(Password, "Password");
    const services::UserDetails details =
        DetailsArgument(FirstName, LastName, Initial, Admin, reports_to, EMail, AllowLogon);
    services::AddUser(Account, company, name, password, details);
  });
}

}  // namespace ledgerkit
