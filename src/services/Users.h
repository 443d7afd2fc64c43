// Services on the users of a company, for the operations of every manager; like the company
// services (services/Company.h) they run inside the caller's active unit of work and never
// open one of their own. Names are matched as user names are (security/UserNames.h): without
// regard to letter case or Unicode form.
//
// Library-internal.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/EntityCollection.h"
#include "ledgerkit/entities/IUser.h"

namespace ledgerkit::services {

// The profile of the user named `user_name`, or nullptr when there is none. Null selects what an
// empty name selects.
std::shared_ptr<IUser> UserProfile(const Variant& account, const Variant& user_name);

// The user whose key is `user_id`, or nullptr when there is none.
std::shared_ptr<IUser> UserByKey(const Variant& account, int32_t user_id);

// The company of the user named `caller`, which owns the users that caller adds and lists:
// nullopt when that user's row names none (data written by other means). Object is nothing (91)
// when no user has that name.
std::optional<int32_t> CallerCompanyKey(const Variant& account, std::string_view caller);

// True when a user of `company` has the matching form of `name`.
bool CompanyHasUserNamed(const Variant& account, std::optional<int32_t> company, std::string_view name);

// The name of a user of `company` that a person would take `name` for (the same confusable
// skeleton, UserNames.h), or nothing.
std::optional<std::string> CompanyUserConfusableWith(const Variant& account, std::optional<int32_t> company,
                                                     std::string_view name);

// The users of `company` allowed to log on, by last name.
std::shared_ptr<EntityCollection> LogonUsersOf(const Variant& account, std::optional<int32_t> company);

// The details of a profile a caller sets, as converted at the door; nullopt stores NULL.
struct UserDetails {
  std::optional<std::string> first_name;
  std::optional<std::string> last_name;
  std::optional<std::string> middle_initial;
  std::optional<bool> admin;
  std::optional<int32_t> reports_to;
  std::optional<std::string> email;
  std::optional<bool> allow_logon;
};

// Adds a user of `company` (not its main user) named `name`, its matching form stored beside
// it and `password` (clear text) stored as a hash; returns its key. Writes the name as given:
// the checks on a new name (UserNames.h, uniqueness) are the caller's.
int32_t AddUser(const Variant& account, std::optional<int32_t> company, std::string_view name,
                std::string_view password, const UserDetails& details);

// Sets the details of user `user_id`; name, password, main user and company stay. An unknown key
// changes nothing.
void UpdateUser(const Variant& account, int32_t user_id, const UserDetails& details);


// A user row whose stored password matched.
struct PasswordMatch {
  int32_t user_id = 0;
  bool stored_in_clear = false;  // imported data: the password is not yet kept as a hash
  std::string stored;            // the Password value as it was read and matched
  std::string user_name;         // the name as the user's row spells it
};

// Checks `password` against every user named `user_name` (only those allowed to log on when
// `logon_only`) and returns those it matches. Costs one password verification per row, and one
// when there is none, so that an unknown name takes as long as a wrong password.
std::vector<PasswordMatch> MatchPassword(const Variant& account, std::string_view user_name, std::string_view password,
                                         bool logon_only);

// True when every matched row still holds the Password value it was matched with (and, when
// `logon_only`, may still log on): a check made in the write unit that follows a verification
// made outside it, costing a read per row and no password verification.
bool PasswordsStillStored(const Variant& account, const std::vector<PasswordMatch>& matches, bool logon_only);

// Stores `hash` (made by HashPassword) as user `user_id`'s password.
void StorePasswordHash(const Variant& account, int32_t user_id, std::string_view hash);

// The names of the users that report to user `user_id`.
std::vector<std::string> UsersReportingTo(const Variant& account, int32_t user_id);

// Removes user `user_id`; an unknown key changes nothing.
void DeleteUser(const Variant& account, int32_t user_id);

}  // namespace ledgerkit::services
