#include "security/CSecurityMgr.h"

#include "common/Command.h"
#include "common/Convert.h"
#include "common/Error.h"
#include "common/ErrorNumbers.h"
#include "common/MemberTable.h"
#include "common/Operation.h"
#include "common/Text.h"
#include "common/Text.h"
#include "common/UserNames.h"
#include "entities/ColumnWidths.h"
#include "entities/EntityInternal.h"
#include "security/NewToken.h"
#include "security/PasswordHash.h"

namespace ledgerkit {

namespace {

[[noreturn]] void ThrowInvalidUserInfo() {
  throw Error::Library(errCSecurityMgr::eInvalidUserInfo, FormatMessage(messages::kInvalidUserInfo));
}

// The user name argument of a logon or password change, refused (Invalid argument) when it is
// longer than the column it is compared with.
std::string LogonName(const Variant& user_name) {
  std::string text = UserNameText(user_name);
  RequireFitsWidth(text, lenIUser::lenUserName, "UserName");
  return text;
}

// The keys and stored passwords of the rows named `user_name` in its matching form, only those
// allowed to log on when `logon_only`.
std::shared_ptr<Recordset> Candidates(const Variant& account, const std::string& user_name, bool logon_only) {
  Command command(account);
  command.SetText("SELECT IUserID, Password FROM IUser WHERE " + std::string(kUserNameFilter) +
                  (logon_only ? " AND AllowLogon=1;" : ";"));
  for (Parameter& value : UserNameFilterValues(user_name)) command.Append(std::move(value));
  return command.ExecuteQuery();
}

// Checks `password` against every candidate, each check costing one hash verification, and one
// against the dummy hash when there is no candidate, so that an unknown name takes as long as a
// wrong password. Calls `on_match` with the key and stored password of each row that matches;
// returns whether any did.
template <class OnMatch>
bool CheckPassword(Recordset& candidates, std::string_view password, OnMatch on_match) {
  if (candidates.AtEOF()) {
    SpendPasswordVerification(password);
    return false;
  }
  bool matched = false;
  for (; !candidates.AtEOF(); candidates.MoveNext()) {
    const Variant& stored = candidates.Field("Password");
    if (!PasswordMatches(stored, password)) continue;
    matched = true;
    on_match(candidates.Field("IUserID"), stored);
  }
  return matched;
}

void StorePasswordHash(const Variant& account, const Variant& user_id, std::string_view password) {
  Command command(account);
  command.SetText("UPDATE IUser SET Password=? WHERE IUserID=?;");
  command.Append("p1", FieldType::kText, 255, HashPassword(password), "Password");
  command.Append("p2", FieldType::kLong, 0, user_id, "IUserID");
  command.Execute();
}

// Removes every session row of `user_name` (matching form), whatever its spelling or token.
void DeleteSessions(const Variant& account, const std::string& user_name) {
  Command command(account);
  command.SetText("DELETE FROM SysSessions WHERE " + std::string(kUserNameFilter) + ";");
  for (Parameter& value : UserNameFilterValues(user_name)) command.Append(std::move(value));
  command.Execute();
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
    const auto candidates = Candidates(Account, user_name, true);
    const bool matched = CheckPassword(*candidates, password, [&](const Variant& user_id, const Variant& stored) {
      if (!IsPasswordHash(ToText(stored))) StorePasswordHash(Account, user_id, password);
    });
    if (!matched) ThrowInvalidUserInfo();

    DeleteSessions(Account, user_name);
    const std::string token = NewToken();
    Command command(Account);
    command.SetText("INSERT INTO SysSessions (Account,UserName,UserKey,Token) VALUES ('TEMP',?,?,?);");
    command.Append("p2", FieldType::kText, lenIUser::lenUserName, user_name, "UserName");
    command.Append("p3", FieldType::kText, 0, UserNameKey(user_name), "UserKey");
    command.Append("p4", FieldType::kText, lenSysSessions::lenToken, token, "Token");
    command.Execute();
    return token;
  });
}

void CSecurityMgr::EndUserSession(const Variant& Account, const Variant& UserName) {
  RunOperation(Account, Access::kWrite, [&] {
    const std::string user_name = UserNameText(UserName);
    RequireFitsWidth(user_name, lenSysSessions::lenUserName, "UserName");
    DeleteSessions(Account, user_name);
  });
}

void CSecurityMgr::ChangeUserPassword(const Variant& Account, const Variant& theUserName, const Variant& OldPassword,
                                      const Variant& NewPassword) {
  RunOperation(Account, Access::kWrite, [&] {
    const std::string old_password = ClearPassword(OldPassword, "OldPassword");
    const std::string new_password = ClearPassword(NewPassword, "NewPassword");
    const auto candidates = Candidates(Account, LogonName(theUserName), false);
    const bool changed = CheckPassword(*candidates, old_password, [&](const Variant& user_id, const Variant&) {
      StorePasswordHash(Account, user_id, new_password);
    });
    if (!changed) ThrowInvalidUserInfo();
  });
}

std::shared_ptr<SysSessions> CSecurityMgr::GetSysSession(const Variant& Account, const Variant& Token) {
  return RunOperation(Account, Access::kRead, [&] {
    // A Null token selects as an empty one would: nothing.
    const std::string token = Token.IsNull() ? std::string() : ToText(Token);
    const auto sessions = Fetch<SysSessions>(
        Account, FetchArgs{.filter = "Token=?", .bind = {Parameter{"Token", FieldType::kText, 0, token, "Token"}}});
    return RequireFirst<SysSessions>(*sessions, "No session holds the token " + QuoteForMessage(token) + ".");
  });
}

}  // namespace ledgerkit
