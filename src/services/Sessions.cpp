#include "services/Sessions.h"

#include "common/Command.h"
#include "ledgerkit/common/Date.h"
#include "common/RowWrite.h"
#include "security/UserNames.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "security/NewToken.h"

namespace ledgerkit::services {

namespace {

using S = db::SysSessions;

// What every session row holds in Account: a session is kept in the company file it belongs to,
// so the column names no file.
constexpr std::string_view kSessionAccount = "TEMP";

}  // namespace

std::string StartSession(const Variant& account, std::string_view user_name) {
  EndSessions(account, user_name);
  std::string token = NewToken();
  RowWrite::Of<S>()
      .Set(S::Account, kSessionAccount)
      .Set(S::UserName, user_name)
      .Set(S::UserKey, UserNameKey(user_name))
      .Set(S::Token, token)
      .Insert(account);
  return token;
}

void EndSessions(const Variant& account, std::string_view user_name) {
  Command command(account);
  command.SetText(Sql("DELETE FROM SysSessions WHERE " + UserNameFilter(command.Dialect()) + ";"));
  for (Parameter& value : UserNameFilterValues(user_name)) command.Append(std::move(value));
  command.Execute();
}

std::shared_ptr<SysSessions> SessionByToken(const Variant& account, std::string_view token) {
  const auto sessions =
      Fetch<SysSessions>(account, FetchArgs{.filter = Sql("Token=", kValue), .bind = {SelectingText(token, "Token")}});
  return FirstOf<SysSessions>(*sessions);
}

SessionState KeepSessionAlive(const Variant& account, std::string_view token, int64_t max_idle_seconds) {
  const std::shared_ptr<SysSessions> session = SessionByToken(account, token);
  if (!session) return SessionState::kNone;
  const Variant& last = session->Value(S::LastUpdate.name);
  const Date now = Date::Now();
  // A row without a time (written by other means) counts as used now. Times are local wall
  // clock, as the column's default writes them.
  if (last.type() == VarType::kDate && now.seconds() - last.AsDate().seconds() > max_idle_seconds) {
    RowWrite::Of<S>().Where(S::Token, std::string(token)).Delete(account);
    return SessionState::kExpired;
  }
  RowWrite::Of<S>().Set(S::LastUpdate, now).Where(S::Token, std::string(token)).Update(account);
  return SessionState::kLive;
}

}  // namespace ledgerkit::services
