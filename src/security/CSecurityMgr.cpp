#include "security/CSecurityMgr.h"

#include "common/Command.h"
#include "common/Convert.h"
#include "common/Error.h"
#include "common/ErrorNumbers.h"
#include "common/MemberTable.h"
#include "common/Operation.h"
#include "common/SqlText.h"
#include "entities/ColumnWidths.h"
#include "security/NewToken.h"
#include "security/PasswordHash.h"

namespace ledgerkit {

namespace {

[[noreturn]] void ThrowInvalidUserInfo() {
  throw Error::Library(errCSecurityMgr::eInvalidUserInfo, FormatMessage(messages::kInvalidUserInfo));
}

// The keys and stored passwords of the rows named `user_name` (letter case ignored), only
// those allowed to log on when `logon_only`.
std::shared_ptr<Recordset> Candidates(const Variant& account, const Variant& user_name, bool logon_only) {
  Command command(account);
  command.SetText(logon_only ? "SELECT IUserID, Password FROM IUser WHERE UserName=? AND AllowLogon=1;"
                             : "SELECT IUserID, Password FROM IUser WHERE UserName=?;");
  command.Append("p1", ParamType::kText, lenIUser::lenUserName, user_name, "UserName");
  return command.ExecuteQuery();
}

void StorePasswordHash(const Variant& account, const Variant& user_id, std::string_view password) {
  Command command(account);
  command.SetText("UPDATE IUser SET Password=? WHERE IUserID=?;");
  command.Append("p1", ParamType::kText, 255, HashPassword(password), "Password");
  command.Append("p2", ParamType::kLong, 0, user_id, "IUserID");
  command.Execute();
}

}  // namespace

const MemberTable& CSecurityMgr::Members() const {
  static const MemberTable table{
      MethodMember<&CSecurityMgr::BeginUserSession>("BeginUserSession"),
      MethodMember<&CSecurityMgr::EndUserSession>("EndUserSession"),
      MethodMember<&CSecurityMgr::ChangeUserPassword>("ChangeUserPassword"),
      MethodMember<&CSecurityMgr::GetSysSession>("GetSysSession"),
  };
  return table;
}

std::string CSecurityMgr::BeginUserSession(const Variant& Account, const Variant& UserName, const Variant& Password) {
  return RunOperation(Account, Access::kWrite, [&] {
    const std::string password = ClearPassword(Password, "Password");
    const auto candidates = Candidates(Account, UserName, true);
    bool matched = false;
    for (; !candidates->AtEOF(); candidates->MoveNext()) {
      const Variant& stored = candidates->Field("Password");
      if (stored.IsNull() || !PasswordMatches(ToText(stored), password)) continue;
      matched = true;
      if (!IsPasswordHash(ToText(stored))) StorePasswordHash(Account, candidates->Field("IUserID"), password);
    }
    if (!matched) ThrowInvalidUserInfo();

    Command command(Account);
    command.SetText("DELETE FROM SysSessions WHERE UserName=?;");
    command.Append("p2", ParamType::kText, lenIUser::lenUserName, UserName, "UserName");
    command.Execute();
    const std::string token = NewToken();
    command.SetText("INSERT INTO SysSessions (Account,UserName,Token) VALUES ('TEMP',?,?);");
    command.Clear();
    command.Append("p2", ParamType::kText, lenIUser::lenUserName, UserName, "UserName");
    command.Append("p3", ParamType::kText, lenSysSessions::lenToken, token, "Token");
    command.Execute();
    return token;
  });
}

void CSecurityMgr::EndUserSession(const Variant& Account, const Variant& UserName) {
  RunOperation(Account, Access::kWrite, [&] {
    Command command(Account);
    command.SetText("DELETE FROM SysSessions WHERE UserName=?;");
    command.Append("p1", ParamType::kText, lenSysSessions::lenUserName, UserName, "UserName");
    command.Execute();
  });
}

void CSecurityMgr::ChangeUserPassword(const Variant& Account, const Variant& theUserName, const Variant& OldPassword,
                                      const Variant& NewPassword) {
  RunOperation(Account, Access::kWrite, [&] {
    const std::string old_password = ClearPassword(OldPassword, "OldPassword");
    const std::string new_password = ClearPassword(NewPassword, "NewPassword");
    const auto candidates = Candidates(Account, theUserName, false);
    bool changed = false;
    for (; !candidates->AtEOF(); candidates->MoveNext()) {
      const Variant& stored = candidates->Field("Password");
      if (stored.IsNull() || !PasswordMatches(ToText(stored), old_password)) continue;
      StorePasswordHash(Account, candidates->Field("IUserID"), new_password);
      changed = true;
    }
    if (!changed) ThrowInvalidUserInfo();
  });
}

std::shared_ptr<SysSessions> CSecurityMgr::GetSysSession(const Variant& Account, const Variant& Token) {
  return RunOperation(Account, Access::kRead, [&] {
    const auto sessions = Fetch<SysSessions>(Account, FetchArgs{.filter = "Token=" + QuoteSqlText(Token)});
    return RequireFirst<SysSessions>(*sessions, "No session holds the token " + QuoteSqlText(Token) + ".");
  });
}

}  // namespace ledgerkit
