#include "services/Users.h"

#include <string>

#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "common/DataAccessInternal.h"
#include "ledgerkit/common/Error.h"
#include "common/RowWrite.h"
#include "common/Text.h"
#include "security/UserNames.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "security/PasswordHash.h"
#include "services/Arguments.h"

namespace ledgerkit::services {

namespace {

using U = db::IUser;

// The details a caller sets, the same for a new user and a changed one.
RowWrite& SetDetails(RowWrite& row, const UserDetails& details) {
  return row.Set(U::FirstName, OrNull(details.first_name))
      .Set(U::LastName, OrNull(details.last_name))
      .Set(U::MiddleInitial, OrNull(details.middle_initial), "Initial")
      .Set(U::Admin, OrNull(details.admin))
      .Set(U::ReportsToID, OrNull(details.reports_to))
      .Set(U::EMail, OrNull(details.email))
      .Set(U::AllowLogon, OrNull(details.allow_logon));
}

}  // namespace

std::shared_ptr<IUser> UserProfile(const Variant& account, const Variant& user_name) {
  const auto users = Fetch<IUser>(
      account, FetchArgs{.filter = UserNameFilter(CompanyDialect(account)), .bind = UserNameFilterValues(user_name)});
  return FirstOf<IUser>(*users);
}

std::shared_ptr<IUser> UserByKey(const Variant& account, int32_t user_id) {
  return FirstOf<IUser>(*Fetch<IUser>(account, FetchArgs{.id = user_id}));
}

std::optional<int32_t> CallerCompanyKey(const Variant& account, std::string_view caller) {
  const std::shared_ptr<IUser> user = UserProfile(account, caller);
  if (!user) {
    throw Error::Runtime(kObjectIsNothing,
                         "No user is named " + QuoteForMessage(caller) + ", so the caller's company is unknown.");
  }
  return Field<db::IUser::Parent>(*user);
}

bool CompanyHasUserNamed(const Variant& account, std::optional<int32_t> company, std::string_view name) {
  Command command(account);
  command.SetText(Sql("SELECT EXISTS (SELECT 1 FROM IUser WHERE Parent=", kValue,
                      " AND " + UserNameFilter(command.Dialect()) + ");"));
  command.Bind(U::Parent, OrNull(company));
  for (Parameter& value : UserNameFilterValues(name)) command.Append(std::move(value));
  return ToBoolean(command.ExecuteScalar());
}

std::optional<std::string> CompanyUserConfusableWith(const Variant& account, std::optional<int32_t> company,
                                                     std::string_view name) {
  const std::string skeleton = UserNameSkeleton(name);
  Command command(account);
  command.SetText(Sql("SELECT UserName FROM IUser WHERE Parent=", kValue, " AND UserName IS NOT NULL;"));
  command.Bind(U::Parent, OrNull(company));
  const auto users = command.ExecuteQuery();
  for (; !users->AtEOF(); users->MoveNext()) {
    const std::string existing = ToText(users->Field(0));
    if (UserNameSkeleton(existing) == skeleton) return existing;
  }
  return std::nullopt;
}

std::shared_ptr<EntityCollection> LogonUsersOf(const Variant& account, std::optional<int32_t> company) {
  return Fetch<IUser>(account, FetchArgs{.filter = Sql("Parent=", kValue, " AND AllowLogon=1"),
                                         .sort = std::string(U::LastName.name),
                                         .bind = {Param(U::Parent, OrNull(company))}});
}

int32_t AddUser(const Variant& account, std::optional<int32_t> company, std::string_view name,
                std::string_view password, const UserDetails& details) {
  auto row = RowWrite::Of<U>();
  row.Set(U::Parent, OrNull(company))
      .Set(U::UserName, name)
      .Set(U::Password, HashPassword(password))
      .Set(U::MainUser, false);
  SetDetails(row, details).Set(U::UserKey, UserNameKey(name));
  return ToKey(row.Insert(account));
}

void UpdateUser(const Variant& account, int32_t user_id, const UserDetails& details) {
  auto row = RowWrite::Of<U>();
  SetDetails(row, details).Where(U::IUserID, user_id, "UserID");
  row.Update(account);
}

void StorePasswordHash(const Variant& account, int32_t user_id, std::string_view hash) {
  RowWrite::Of<U>().Set(U::Password, hash).Where(U::IUserID, user_id).Update(account);
}

bool PasswordsStillStored(const Variant& account, const std::vector<PasswordMatch>& matches, bool logon_only) {
  Command command(account);
  command.SetText(Sql("SELECT Password FROM IUser WHERE IUserID=", kValue, logon_only ? " AND AllowLogon=1;" : ";"));
  for (const PasswordMatch& match : matches) {
    command.Clear();
    command.Bind(U::IUserID, match.user_id);
    const auto row = command.ExecuteQuery();
    if (row->AtEOF() || row->Field(0).IsNull() || ToText(row->Field(0)) != match.stored) return false;
  }
  return true;
}

std::vector<PasswordMatch> MatchPassword(const Variant& account, std::string_view user_name, std::string_view password,
                                         bool logon_only) {
  Command command(account);
  command.SetText(Sql("SELECT IUserID, Password, UserName FROM IUser WHERE " + UserNameFilter(command.Dialect()) +
                      (logon_only ? " AND AllowLogon=1 ORDER BY IUserID;" : " ORDER BY IUserID;")));
  for (Parameter& value : UserNameFilterValues(user_name)) command.Append(std::move(value));
  const auto candidates = command.ExecuteQuery();
  std::vector<PasswordMatch> matches;
  if (candidates->AtEOF()) {
    SpendPasswordVerification(password);
    return matches;
  }
  for (; !candidates->AtEOF(); candidates->MoveNext()) {
    const Variant& stored = candidates->Field(1);
    if (!PasswordMatches(stored, password)) continue;
    const std::string text = ToText(stored);
    matches.push_back({ToKey(candidates->Field(0)), !IsPasswordHash(text), text, UserNameText(candidates->Field(2))});
  }
  return matches;
}

std::vector<std::string> UsersReportingTo(const Variant& account, int32_t user_id) {
  Command command(account);
  command.SetText(Sql("SELECT IUserID, UserName FROM IUser WHERE ReportsToID=", kValue, " ORDER BY IUserID;"));
  command.Bind(U::ReportsToID, user_id);
  const auto rows = command.ExecuteQuery();
  std::vector<std::string> names;
  for (; !rows->AtEOF(); rows->MoveNext()) {
    // A row written by other means may have no name: it is named by its key.
    names.push_back(rows->Field(1).IsNull() ? "(the user with key " + ToText(rows->Field(0)) + ", who has no name)"
                                            : ToText(rows->Field(1)));
  }
  return names;
}

void DeleteUser(const Variant& account, int32_t user_id) {
  RowWrite::Of<U>().Where(U::IUserID, user_id).Delete(account);
}

}  // namespace ledgerkit::services
