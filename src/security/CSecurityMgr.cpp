#include "security/CSecurityMgr.h"

#include <vector>

#include "common/Convert.h"
#include "common/Error.h"
#include "common/ErrorNumbers.h"
#include "common/MemberTable.h"
#include "common/Operation.h"
#include "common/Text.h"
#include "common/UserNames.h"
#include "entities/Catalog.h"
#include "common/PasswordHash.h"
#include "services/Sessions.h"
#include "services/Users.h"

namespace ledgerkit {

namespace {

[[noreturn]] void ThrowInvalidUserInfo() {
  throw Error::Library(errCSecurityMgr::eInvalidUserInfo, FormatMessage(messages::kInvalidUserInfo));
}

// The user name argument of a logon or password change, refused (Invalid argument) when it is
// longer than the column it is compared with.
std::string LogonName(const Variant& user_name) {
  std::string text = UserNameText(user_name);
  RequireFitsWidth(text, static_cast<size_t>(db::IUser::UserName.width), "UserName");
  return text;
}

}  // namespace

const MemberTable& CSecurityMgr::Members() const {
  static const MemberTable table{
      MethodMember<&CSecurityMgr::BeginUserSession>("BeginUserSession", {"Account", "UserName", "Password"}),
      MethodMember<&CSecurityMgr::EndUserSession>("EndUserSession", {"Account", "UserName"}),
      MethodMember<&CSecurityMgr::ChangeUserPassword>("ChangeUserPassword",
                                                      {"Account", "theUserName", "OldPassword", "NewPassword"}),
      MethodMember<&CSecurityMgr::GetSysSession>("GetSysSession", {"Account", "Token"}),
  };
  return table;
}

std::string CSecurityMgr::BeginUserSession(const Variant& Account, const Variant& UserName, const Variant& Password) {
  return RunOperation(Account, Access::kWrite, [&] {
    const std::string password = ClearPassword(Password, "Password");
    const std::string user_name = LogonName(UserName);
    const std::vector<services::PasswordMatch> matches = services::MatchPassword(Account, user_name, password, true);
    if (matches.empty()) ThrowInvalidUserInfo();
    for (const services::PasswordMatch& match : matches) {
      if (match.stored_in_clear) services::StorePassword(Account, match.user_id, password);
    }
    return services::StartSession(Account, user_name);
  });
}

void CSecurityMgr::EndUserSession(const Variant& Account, const Variant& UserName) {
  RunOperation(Account, Access::kWrite, [&] {
    const std::string user_name = UserNameText(UserName);
    RequireFitsWidth(user_name, static_cast<size_t>(db::SysSessions::UserName.width), "UserName");
    services::EndSessions(Account, user_name);
  });
}

void CSecurityMgr::ChangeUserPassword(const Variant& Account, const Variant& theUserName, const Variant& OldPassword,
                                      const Variant& NewPassword) {
  RunOperation(Account, Access::kWrite, [&] {
    const std::string old_password = ClearPassword(OldPassword, "OldPassword");
    const std::string new_password = ClearPassword(NewPassword, "NewPassword");
    const std::vector<services::PasswordMatch> matches =
        services::MatchPassword(Account, LogonName(theUserName), old_password, false);
    if (matches.empty()) ThrowInvalidUserInfo();
    for (const services::PasswordMatch& match : matches) services::StorePassword(Account, match.user_id, new_password);
  });
}

std::shared_ptr<SysSessions> CSecurityMgr::GetSysSession(const Variant& Account, const Variant& Token) {
  return RunOperation(Account, Access::kRead, [&] {
    // A Null token selects as an empty one would: nothing.
    const std::string token = Token.IsNull() ? std::string() : ToText(Token);
    std::shared_ptr<SysSessions> session = services::SessionByToken(Account, token);
    if (!session) throw Error::Runtime(kInvalidArgument, "No session holds the token " + QuoteForMessage(token) + ".");
    return session;
  });
}

}  // namespace ledgerkit
