#include "ledgerkit/security/CSecurityMgr.h"

#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/common/MemberTable.h"
#include "common/Operation.h"
#include "common/Text.h"
#include "security/UserNames.h"
#include "entities/Catalog.h"
#include "security/PasswordHash.h"
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

// A logon or a password change verifies the password in a read unit and writes in a second unit
// that only checks the matched rows still hold what was verified: hashing takes tens of
// milliseconds, and the company's writers must not wait for it. A row changed between the two
// (another password change, a logon taken away) fails as a wrong password would.
std::string CSecurityMgr::BeginUserSession(const Variant& Account, const Variant& UserName, const Variant& Password) {
  std::string password, user_name;
  std::vector<services::PasswordMatch> matches;
  RunOperation(Account, Access::kRead, [&] {
    password = ClearPassword(Password, "Password");
    user_name = LogonName(UserName);
    matches = services::MatchPassword(Account, user_name, password, true);
    if (matches.empty()) ThrowInvalidUserInfo();
  });
  std::vector<std::string> hashes;
  for (const services::PasswordMatch& match : matches) hashes.push_back(match.stored_in_clear ? HashPassword(password) : "");
  return RunOperation(Account, Access::kWrite, [&] {
    if (!services::PasswordsStillStored(Account, matches, true)) ThrowInvalidUserInfo();
    for (size_t i = 0; i < matches.size(); ++i) {
      if (matches[i].stored_in_clear) services::StorePasswordHash(Account, matches[i].user_id, hashes[i]);
    }
    // The session carries the name as the user's row spells it, not as this logon typed it
    // ("ＡＤＭＩＮ" logs on as "admin").
    return services::StartSession(Account, matches.front().user_name.empty() ? user_name : matches.front().user_name);
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
  std::vector<services::PasswordMatch> matches;
  std::string new_password;
  RunOperation(Account, Access::kRead, [&] {
    const std::string old_password = ClearPassword(OldPassword, "OldPassword");
    new_password = ClearPassword(NewPassword, "NewPassword");
    matches = services::MatchPassword(Account, LogonName(theUserName), old_password, false);
    if (matches.empty()) ThrowInvalidUserInfo();
  });
  const std::string hash = HashPassword(new_password);
  RunOperation(Account, Access::kWrite, [&] {
    if (!services::PasswordsStillStored(Account, matches, false)) ThrowInvalidUserInfo();
    for (const services::PasswordMatch& match : matches) services::StorePasswordHash(Account, match.user_id, hash);
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
